#include "panel-sim/SessionReport.h"

#include <cstdio>

namespace tarvex::panelsim {
namespace {

std::string Latin1ToUtf8(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            out.push_back(c);
        } else {
            out.push_back(static_cast<char>(0xC0 | (b >> 6)));
            out.push_back(static_cast<char>(0x80 | (b & 0x3F)));
        }
    }
    return out;
}

std::string DateText(const FileInfo& info) {
    char text[48];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u", static_cast<unsigned>(info.year),
                  static_cast<unsigned>(info.month), static_cast<unsigned>(info.day),
                  static_cast<unsigned>(info.hour), static_cast<unsigned>(info.minute));
    return text;
}

}  // namespace

nlohmann::json ItemReport(const ItemRecord& item) {
    nlohmann::json j;
    j["index"] = item.index;
    j["session"] = item.session;
    j["kind"] = item.Kind();
    j["item_code"] = item.itemCode;
    j["link_byte"] = item.linkByte ? nlohmann::json(*item.linkByte) : nlohmann::json(nullptr);
    j["described"] = item.described;
    j["info_status"] = item.infoStatus ? nlohmann::json(*item.infoStatus) : nlohmann::json(nullptr);
    const FileInfo& info = item.info;
    j["name"] = Latin1ToUtf8(info.NameText());
    j["files"] = item.described ? nlohmann::json(item.FileStem()) : nlohmann::json(nullptr);
    j["size"] = info.itemSize;
    j["packet_size"] = info.packetSize;
    j["packets_expected"] = info.PacketCount();
    j["packets_received"] = item.packetsReceived;
    j["bytes_received"] = item.data.size();
    j["byte_sum"] = info.byteSum;
    j["byte_sum_received"] = item.ReceivedByteSum();
    j["byte_sum_ok"] = item.ByteSumOk();
    j["product_code"] = info.productCode;
    j["password"] = info.password;
    j["date"] = DateText(info);
    j["bootloader_number"] = info.bootloaderNumber;
    j["firmware_number"] = info.firmwareNumber;
    j["complete"] = item.complete;
    j["cancelled"] = item.cancelled;
    return j;
}

nlohmann::json SessionReport(const PanelSession& session) {
    nlohmann::json j;
    nlohmann::json items = nlohmann::json::array();
    for (const ItemRecord& item : session.items()) {
        items.push_back(ItemReport(item));
    }
    const SessionStats& stats = session.stats();
    j["items"] = std::move(items);
    j["frames_received"] = stats.framesReceived;
    j["replies_sent"] = stats.repliesSent;
    j["over_received"] = stats.overReceived;
    j["sessions_over"] = stats.sessionsOver;
    j["bad_crc_frames"] = stats.badCrcFrames;
    j["truncated_frames"] = stats.truncatedFrames;
    j["ignored_frames"] = stats.ignoredFrames;
    j["garbage_bytes"] = stats.garbageBytes;
    j["faults_injected"] = stats.faultsInjected;
    return j;
}

std::string SessionReportText(const PanelSession& session) {
    return SessionReport(session).dump(2) + "\n";
}

}  // namespace tarvex::panelsim
