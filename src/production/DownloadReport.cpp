#include "app/cli/DownloadReport.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "app/cli/JsonProgress.h"
#include "download/Sha256.h"
#include "platform/Files.h"
#include "platform/Host.h"
#include "serial/LowLatency.h"

namespace tarvex::cli {
namespace {

std::string Hex16(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", value);
    return text;
}

nlohmann::json TextOrNull(const std::string& text) {
    return text.empty() ? nlohmann::json(nullptr) : nlohmann::json(text);
}

}  // namespace

void ReportCollector::OnItemStarted(const TransferItem& item) {
    items_.push_back(
        {std::string(TransferItemLabel(item.kind)), std::string(item.name), item.bytes, -1});
}

void ReportCollector::OnResend(TransferPhase, int) {
    ++resends_;
}

void ReportCollector::OnItemEnded(int result) {
    if (!items_.empty()) {
        items_.back().result = result;
    }
}

bool AppendLine(const std::string& path, const std::string& line, std::string& error) {
    return platform::AppendLineDurably(path, line, error);
}

std::string ReportWriter::Digest(const CTarvexDlg& form, const std::string& path) {
    const std::shared_ptr<const SharedContainer> shared = form.UsedSharedContainer();
    if (!shared) {
        return Sha256OfFile(path).value_or("");
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    std::erase_if(digests_, [](const auto& entry) { return entry.first.expired(); });
    for (const auto& [container, digest] : digests_) {
        if (!container.owner_before(shared) && !shared.owner_before(container)) {
            return digest;
        }
    }
    std::string digest = Sha256OfFile(path).value_or("");
    digests_.emplace_back(shared, digest);
    return digest;
}

nlohmann::json ReportWriter::Record(const CTarvexDlg& form, const ReportCollector& collected,
                                    const DownloadEnd& end,
                                    const std::optional<PortInfo>& adapter) {
    nlohmann::json r;
    r["start"] = IsoTimeUtc(end.started);
    r["end"] = IsoTimeUtc(end.ended);
    r["host"] = platform::HostName();
    r["port"] = end.port;
    nlohmann::json usb = nullptr;
    if (adapter && adapter->usbVendorId && adapter->usbProductId) {
        char ids[8];
        usb = nlohmann::json::object();
        std::snprintf(ids, sizeof ids, "%04x", *adapter->usbVendorId);
        usb["vendor_id"] = ids;
        std::snprintf(ids, sizeof ids, "%04x", *adapter->usbProductId);
        usb["product_id"] = ids;
        usb["serial_number"] = TextOrNull(adapter->serialNumber);
        usb["manufacturer"] = TextOrNull(adapter->manufacturer);
        usb["product"] = TextOrNull(adapter->product);
    }
    r["adapter"] = usb;
    r["product"] = form.m_cmbProduct.GetWindowText();
    r["bootloader"] = form.m_cmbBootloaderVersion.GetWindowText();
    r["firmware"] = form.m_cmbFirmwareVersion.GetWindowText();
    r["slave_id"] = form.m_settings.m_nSlaveID;

    // The container: the shared one the form used, else the file checked again for the record.
    const std::string path = form.m_editFileToSend.GetWindowText();
    ContainerReport checked;
    if (const auto shared = form.UsedSharedContainer(); shared && shared->path == path) {
        checked = shared->report;
    } else {
        CDownloadInfo info;
        std::vector<std::string> names;
        std::vector<std::uint32_t> sizes;
        (void)CheckDownloadContainer(path, info, names, sizes, &checked);
    }
    nlohmann::json container;
    std::error_code ec;
    container["path"] = std::filesystem::absolute(path, ec).string();
    container["size"] = checked.fileSize;
    container["sha256"] = TextOrNull(Digest(form, path));
    container["header_checksum"] =
        checked.headerRead ? nlohmann::json(Hex16(checked.headerCrcStored)) : nullptr;
    container["body_checksum"] =
        checked.headerRead ? nlohmann::json(Hex16(checked.bodyCrcStored)) : nullptr;
    r["container"] = container;

    nlohmann::json items = nlohmann::json::array();
    for (const ReportCollector::Item& item : collected.Items()) {
        nlohmann::json j;
        j["item"] = item.item;
        j["name"] = TextOrNull(item.name);
        j["bytes"] = item.bytes;
        j["result"] = item.result == 0 ? "done" : item.result == 1 ? "failed" : "not ended";
        items.push_back(std::move(j));
    }
    r["items"] = items;
    r["outcome"] = OutcomeKey(end.outcome);
    r["exit_status"] = end.exitStatus;
    r["panel_code"] = end.panelCode > 0 ? nlohmann::json(end.panelCode) : nullptr;
    r["message"] = end.message;
    r["resends"] = collected.Resends();
    r["tool"] = "tarvex-cli";
    r["version"] = TARVEX_VERSION;
    return r;
}

bool ReportWriter::Append(const CTarvexDlg& form, const ReportCollector& collected,
                          const DownloadEnd& end, const std::optional<PortInfo>& adapter,
                          std::string& error) {
    const nlohmann::json record = Record(form, collected, end, adapter);
    return AppendLine(path_, record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                      error);
}

std::optional<PortInfo> DescribeDevice(const ProbeOptions& probe, const std::string& devicePath) {
    // Only sysfs is read: the device is not opened, so a download running on it is not
    // disturbed.
    const std::string tty = TtyNameOf(devicePath);
    ProbeOptions sysfsOnly = probe;
    sysfsOnly.extraPorts.clear();
    for (PortInfo& info : ListPorts(sysfsOnly)) {
        if (TtyNameOf(info.path) == tty || info.path == devicePath) {
            return info;
        }
    }
    return std::nullopt;
}

}  // namespace tarvex::cli
