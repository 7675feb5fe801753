#include "production/DownloadReport.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <ctime>
#include "download/Sha256.h"
#include "platform/Files.h"
#include "platform/Host.h"
#include "serial/FixtureNames.h"
#include "serial/LowLatency.h"

namespace tarvex::production {
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

std::string IsoTimeUtc(std::chrono::system_clock::time_point when) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch());
    const std::time_t seconds = static_cast<std::time_t>(ms.count() / 1000);
    const std::tm utc = platform::UtcCalendar(seconds);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(ms.count() % 1000));
    return text;
}

bool AppendLine(const std::string& path, const std::string& line, std::string& error) {
    return platform::AppendLineDurably(path, line, error);
}

bool ReportSink::Check(std::string& failure) const {
    // Opened for appending as a record is, so that the same causes fail here: a missing folder,
    // no permission, a directory in the file's place.
    errno = 0;
    std::ofstream file(path_, std::ios::app | std::ios::binary);
    if (!file) {
        const int error = errno;
        failure = "--report: cannot append to " + path_ + ": " +
                  (error != 0 ? std::strerror(error) : "it cannot be opened");
        return false;
    }
    return true;
}

nlohmann::json ReportSink::Record(const ResultEvent& result) {
    const UnitFacts& facts = result.facts;
    const std::optional<PortInfo>& adapter = facts.adapter;
    nlohmann::json r;
    r["schema"] = kReportSchema;
    r["start"] = IsoTimeUtc(facts.started);
    r["end"] = IsoTimeUtc(facts.ended);
    r["host"] = platform::HostName();
    r["port"] = facts.port;
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
    r["product"] = facts.product;
    r["bootloader"] = facts.bootloader;
    r["firmware"] = facts.firmware;
    r["slave_id"] = facts.slaveId;

    // The container: the shared one the form used, whose digest was taken from the bytes that
    // were sent; else the file checked again for the record, size, checksums and digest from
    // one reading.
    const std::string& path = facts.containerPath;
    ContainerReport checked;
    std::string digest;
    if (const auto& shared = facts.sharedContainer; shared && shared->path == path) {
        checked = shared->report;
        digest = shared->sha256;
    } else {
        CDownloadInfo info;
        std::vector<std::string> names;
        std::vector<std::uint32_t> sizes;
        (void)CheckDownloadContainer(path, info, names, sizes, &checked, &digest);
    }
    nlohmann::json container;
    std::error_code ec;
    container["path"] = std::filesystem::absolute(path, ec).string();
    container["size"] = checked.fileSize;
    container["sha256"] = TextOrNull(digest);
    container["header_checksum"] =
        checked.headerRead ? nlohmann::json(Hex16(checked.headerCrcStored)) : nullptr;
    container["body_checksum"] =
        checked.headerRead ? nlohmann::json(Hex16(checked.bodyCrcStored)) : nullptr;
    r["container"] = container;

    nlohmann::json items = nlohmann::json::array();
    for (const RecordItem& item : facts.items) {
        nlohmann::json j;
        j["item"] = item.item;
        j["name"] = TextOrNull(item.name);
        j["bytes"] = item.bytes;
        j["result"] = item.result == 0 ? "done" : item.result == 1 ? "failed" : "not ended";
        items.push_back(std::move(j));
    }
    r["items"] = items;
    r["outcome"] = OutcomeKey(result.outcome);
    r["exit_status"] = result.exitStatus;
    r["panel_code"] = result.panelCode > 0 ? nlohmann::json(result.panelCode) : nullptr;
    r["message"] = result.message;
    r["resends"] = result.resends;
    r["unit_id"] = TextOrNull(result.unit.unitId);
    r["attempt"] = result.unit.attempt;
    r["attempts"] = result.unit.attempts;
    r["job"] = job_ ? nlohmann::json{{"name", job_->name}, {"sha256", job_->sha256}}
                    : nlohmann::json(nullptr);
    r["tool"] = "tarvex-cli";
    r["version"] = TARVEX_VERSION;
    return r;
}

bool ReportSink::Keep(const ResultEvent& result, std::string& failure) {
    const nlohmann::json record = Record(result);
    std::string error;
    if (!AppendLine(path_, record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                    error)) {
        failure = "tarvex-cli: --report: cannot append to " + path_ + ": " + error;
        return false;
    }
    return true;
}

std::optional<PortInfo> DescribeDevice(const ProbeOptions& probe, const std::string& devicePath) {
    // Only the system's list is read: the device is not opened, so a download running on it is
    // not disturbed. The list names ports as a person does (COM3), the download opens the
    // device path (\\.\COM3 on Windows).
    // A fixture's name (usb-serial:SERIAL, location:PATH) is the port the list holds with it.
    const std::string tty = TtyNameOf(devicePath);
    ProbeOptions sysfsOnly = probe;
    sysfsOnly.extraPorts.clear();
    std::vector<PortInfo> ports = ListPorts(sysfsOnly);
    const std::optional<FixtureName> fixture = ParseFixtureName(devicePath);
    const std::string fixturePort = fixture ? PortForFixture(*fixture, ports) : std::string();
    for (PortInfo& info : ports) {
        if (TtyNameOf(info.path) == tty || info.path == devicePath ||
            DevicePathForPortName(info.path) == devicePath ||
            (!fixturePort.empty() && info.path == fixturePort)) {
            return info;
        }
    }
    return std::nullopt;
}

}  // namespace tarvex::production
