#include "production/UnitEvents.h"

#include <filesystem>

namespace tarvex::production {

void UnitEvents::Start(const CTarvexDlg& form, UnitTag unit) {
    start_ = std::chrono::steady_clock::now();
    unit_ = std::move(unit);
    planned_ = 0;
    plannedAsked_ = false;
    items_.clear();
    itemPackets_ = 0;
    doneBefore_ = 0;
    itemDone_ = 0;
    resends_ = 0;
    // The absolute path, as the record has it: a reader of the stream knows no working folder.
    const std::string container = form.m_editFileToSend.GetWindowText();
    std::error_code ec;
    std::string absolute = std::filesystem::absolute(container, ec).string();
    stream_.Emit(StartEvent{port_, Now(), form.m_cmbProduct.GetWindowText(),
                            form.m_cmbBootloaderVersion.GetWindowText(),
                            form.m_cmbFirmwareVersion.GetWindowText(),
                            ec || container.empty() ? container : std::move(absolute), unit_});
}

void UnitEvents::Message(MessageKind kind, std::string_view caption, std::string_view text) {
    stream_.Emit(MessageEvent{port_, Now(), kind, std::string(caption), std::string(text)});
}

void UnitEvents::Note(std::string text) {
    stream_.Emit(MessageEvent{port_, Now(), std::nullopt, {}, std::move(text)});
}

void UnitEvents::State(std::string state) {
    stream_.Emit(PortStateEvent{port_, Now(), std::move(state)});
}

void UnitEvents::Appeared() {
    stream_.Emit(PortAppearedEvent{port_, Now()});
}

void UnitEvents::Left() {
    stream_.Emit(PortLeftEvent{port_, Now()});
}

double UnitEvents::Seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void UnitEvents::OnItemStarted(const TransferItem& item) {
    if (!plannedAsked_) {
        plannedAsked_ = true;
        planned_ = planner_ ? planner_() : 0;
    }
    doneBefore_ += itemDone_;
    itemDone_ = 0;
    itemPackets_ = item.packets;
    itemStart_ = std::chrono::steady_clock::now();
    items_.push_back(
        {std::string(TransferItemLabel(item.kind)), std::string(item.name), item.bytes, -1});
    stream_.Emit(
        ItemEvent{port_, Now(), items_.back().item, items_.back().name, item.bytes, item.packets});
}

void UnitEvents::OnPacketSent(std::uint32_t packetsDone, std::uint64_t bytesDone) {
    itemDone_ = bytesDone;
    const auto now = std::chrono::steady_clock::now();
    const double itemSeconds = std::chrono::duration<double>(now - itemStart_).count();
    const double unitSeconds = std::chrono::duration<double>(now - start_).count();
    ProgressEvent event;
    event.port = port_;
    event.time = Now();
    if (!items_.empty()) {
        event.item = items_.back().item;
        event.name = items_.back().name;
        event.bytesTotal = items_.back().bytes;
    }
    event.packetsDone = packetsDone;
    event.packets = itemPackets_;
    event.bytesDone = bytesDone;
    event.rate = itemSeconds > 0 ? static_cast<double>(bytesDone) / itemSeconds : 0.0;
    event.unitBytesDone = BytesDone();
    event.unitBytesPlanned = planned_;
    event.unitRate = unitSeconds > 0 ? static_cast<double>(BytesDone()) / unitSeconds : 0.0;
    stream_.Emit(event);
}

void UnitEvents::OnResend(TransferPhase, int) {
    ++resends_;
}

void UnitEvents::OnItemEnded(int result) {
    if (!items_.empty()) {
        items_.back().result = result;
    }
}

}  // namespace tarvex::production
