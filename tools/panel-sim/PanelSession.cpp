#include "panel-sim/PanelSession.h"

#include <algorithm>
#include <cstdio>

#include "download/Crc16.h"

namespace tarvex::panelsim {
namespace {

std::uint16_t ParameterOf(std::span<const std::uint8_t> frame) {
    return ReadLe16(frame, 2);
}

std::span<const std::uint8_t> PayloadOf(std::span<const std::uint8_t> frame) {
    return frame.subspan(kHeaderSize, frame.size() - kHeaderSize - kCrcSize);
}

}  // namespace

std::string ItemRecord::FileStem() const {
    char number[24];
    std::snprintf(number, sizeof number, "%02zu", index);
    return std::string(number) + "-" + Kind() + "-" + SafeFileNamePart(info.NameText());
}

std::optional<std::uint64_t> ResolvePacketNumber(std::uint16_t wire,
                                                 std::optional<std::uint64_t> last,
                                                 std::uint64_t packetCount) {
    constexpr std::uint64_t kWrap = 65536;
    const std::uint64_t expected = last ? *last + 1 : 0;
    const std::uint64_t base = expected - (expected % kWrap) + wire;
    std::optional<std::uint64_t> best;
    std::uint64_t bestDistance = 0;
    const std::uint64_t candidates[] = {base >= kWrap ? base - kWrap : base, base, base + kWrap};
    for (const std::uint64_t candidate : candidates) {
        if (candidate >= packetCount) {
            continue;
        }
        const std::uint64_t distance =
            candidate > expected ? candidate - expected : expected - candidate;
        if (!best || distance < bestDistance) {
            best = candidate;
            bestDistance = distance;
        }
    }
    return best;
}

PanelSession::PanelSession(PanelConfig config, FaultPlan faults)
    : config_(config), faults_(std::move(faults)), splitter_(config.address) {}

std::optional<Step> PanelSession::Next(bool lineQuiet) {
    auto split = splitter_.Next(lineQuiet);
    if (!split) {
        return std::nullopt;
    }
    switch (split->kind) {
        case SplitKind::Frame:
            return HandleFrame(std::move(split->bytes));
        case SplitKind::ForeignFrame:
            ++stats_.ignoredFrames;
            break;
        case SplitKind::BadCrc:
            ++stats_.badCrcFrames;
            break;
        case SplitKind::Truncated:
            ++stats_.truncatedFrames;
            break;
        case SplitKind::Garbage:
            stats_.garbageBytes += split->bytes.size();
            break;
    }
    Step step;
    step.kind = split->kind;
    step.bytes = std::move(split->bytes);
    return step;
}

std::vector<std::size_t> PanelSession::Finish() {
    Step step;
    EndCurrent(step);
    return step.itemsToWrite;
}

ItemRecord* PanelSession::Current() {
    if (items_.empty() || items_.back().ended) {
        return nullptr;
    }
    return &items_.back();
}

FrameFacts PanelSession::FactsOf(std::span<const std::uint8_t> frame, std::uint64_t number) const {
    FrameFacts facts;
    facts.frameNumber = static_cast<std::uint32_t>(number);
    const std::uint16_t parameter = ParameterOf(frame);
    const auto code = static_cast<std::uint8_t>(parameter & 0xFF);
    const bool haveCurrent = !items_.empty() && !items_.back().ended;
    const std::string currentKind = haveCurrent ? items_.back().Kind() : std::string();
    switch (frame[1]) {
        case kLetterCommand:
            facts.kinds.push_back(ItemKindName(code));
            switch (parameter >> 8) {
                case kActionDownload:
                    facts.phase = FaultPhase::Open;
                    break;
                case kActionOver:
                    facts.phase = FaultPhase::Over;
                    break;
                case kActionCancel:
                    facts.phase = FaultPhase::Cancel;
                    break;
                default:
                    break;
            }
            // Over and Cancel name item 0 whatever runs; they also belong to the item they end.
            if (haveCurrent &&
                (facts.phase == FaultPhase::Over || facts.phase == FaultPhase::Cancel)) {
                facts.kinds.push_back(currentKind);
            }
            break;
        case kLetterFileInfo:
            facts.phase = FaultPhase::Info;
            facts.kinds.push_back(ItemKindName(code));
            break;
        case kLetterData:
            facts.phase = FaultPhase::Data;
            facts.packet = parameter;
            if (haveCurrent) {
                facts.kinds.push_back(currentKind);
            }
            break;
        default:
            break;
    }
    return facts;
}

Step PanelSession::HandleFrame(std::vector<std::uint8_t> frame) {
    Step step;
    step.kind = SplitKind::Frame;
    step.frameNumber = ++stats_.framesReceived;
    step.faults = faults_.Fire(FactsOf(frame, step.frameNumber));
    stats_.faultsInjected += step.faults.size();

    bool close = false;
    bool silent = false;
    bool badCrc = false;
    bool badEcho = false;
    std::optional<std::uint8_t> forcedStatus;
    std::uint32_t extraDelay = 0;
    for (const FiredFault& fault : step.faults) {
        switch (fault.effect) {
            case FaultEffect::Close:
                close = true;
                break;
            case FaultEffect::NoReply:
                silent = true;
                break;
            case FaultEffect::BadCrc:
                badCrc = true;
                break;
            case FaultEffect::BadEcho:
                badEcho = true;
                break;
            case FaultEffect::Status:
                forcedStatus = static_cast<std::uint8_t>(fault.value);
                break;
            case FaultEffect::Delay:
                extraDelay += fault.value;
                break;
        }
    }

    if (close) {
        step.closeLine = true;
        step.bytes = std::move(frame);
        return step;
    }

    // A forced status stands for a panel that refused the frame: nothing of it is kept.
    // The other faults hit the reply of a frame that the panel did take in.
    Decision decision;
    if (forcedStatus) {
        decision.status = *forcedStatus;
    } else {
        decision = Process(frame, step);
    }
    step.status = decision.status;
    step.delayMs = config_.replyDelayMs + decision.delayMs + extraDelay;
    if (!silent) {
        Reply reply = BuildReply(frame, decision.status);
        if (badEcho) {
            reply[2] ^= 0x01;
            const std::uint16_t crc = CRC16(reply.data(), 5);
            reply[5] = static_cast<std::uint8_t>(crc & 0xFF);
            reply[6] = static_cast<std::uint8_t>(crc >> 8);
        }
        if (badCrc) {
            reply[5] ^= 0xFF;
            reply[6] ^= 0xFF;
        }
        step.reply = reply;
    }
    step.endsSession = decision.endsSession && step.reply && !badCrc && !badEcho &&
                       decision.status == kStatusAccepted;
    step.bytes = std::move(frame);
    return step;
}

PanelSession::Decision PanelSession::Process(std::span<const std::uint8_t> frame, Step& step) {
    switch (frame[1]) {
        case kLetterCommand:
            return ProcessCommand(frame, step);
        case kLetterFileInfo:
            return ProcessFileInfo(frame, step);
        default:
            return ProcessData(frame, step);
    }
}

void PanelSession::EndCurrent(Step& step) {
    ItemRecord* current = Current();
    if (current == nullptr) {
        return;
    }
    current->ended = true;
    step.reportChanged = true;
    // A complete item's files are already written; an unfinished one is kept as far as it got.
    if (current->described && !current->complete) {
        step.itemsToWrite.push_back(current->index);
    }
}

PanelSession::Decision PanelSession::ProcessCommand(std::span<const std::uint8_t> frame,
                                                    Step& step) {
    const std::uint16_t parameter = ParameterOf(frame);
    const auto action = static_cast<std::uint8_t>(parameter >> 8);
    const auto code = static_cast<std::uint8_t>(parameter & 0xFF);
    const auto payload = PayloadOf(frame);
    std::optional<std::uint8_t> link;
    if (!payload.empty()) {
        link = payload[0];
    }
    // The link byte belongs to Download alone and names USB (1) or serial (0).
    if (link && (action != kActionDownload || *link > 1)) {
        return Decision{kStatusInvalidCommand};
    }

    switch (action) {
        case kActionDownload: {
            const ItemRecord* current = Current();
            // The tool resends a Download whose reply it missed; until the item's block has
            // been answered, the same Download is the same item.
            if (current != nullptr && current->itemCode == code && current->linkByte == link &&
                !current->infoStatus) {
                return Decision{kStatusAccepted};
            }
            EndCurrent(step);
            overSeen_ = false;
            ItemRecord record;
            record.index = items_.size() + 1;
            record.session = sessionNumber_;
            record.itemCode = code;
            record.linkByte = link;
            items_.push_back(std::move(record));
            step.reportChanged = true;
            return Decision{kStatusAccepted};
        }
        case kActionOver: {
            EndCurrent(step);
            if (!overSeen_) {
                overSeen_ = true;
                stats_.overReceived = true;
                ++stats_.sessionsOver;
                ++sessionNumber_;
                step.reportChanged = true;
            }
            Decision decision{kStatusAccepted};
            decision.endsSession = true;
            return decision;
        }
        case kActionCancel: {
            if (ItemRecord* current = Current()) {
                current->cancelled = true;
                EndCurrent(step);
            }
            return Decision{kStatusAccepted};
        }
        default:
            // Upload belongs to the panel's tables, but this panel has nothing to give back.
            return Decision{kStatusInvalidCommand};
    }
}

PanelSession::Decision PanelSession::ProcessFileInfo(std::span<const std::uint8_t> frame,
                                                     Step& step) {
    const FileInfo info = ParseFileInfo(PayloadOf(frame).first<kFileInfoSize>());
    // Data frames that follow are as long as the packet size of the last block sent.
    splitter_.SetPacketSize(info.packetSize);

    ItemRecord* current = Current();
    if (current == nullptr || ParameterOf(frame) != current->itemCode) {
        return Decision{kStatusInvalidCommand};
    }
    std::uint8_t status = kStatusAccepted;
    if (config_.productCode && info.productCode != *config_.productCode) {
        status = kStatusProductIdFailed;
    } else if (config_.password && info.password != *config_.password) {
        status = kStatusPasswordFailed;
    } else if (config_.maxItemSize && info.itemSize > *config_.maxItemSize) {
        status = kStatusSizeExceeded;
    } else if (info.packetSize == 0 && info.itemSize > 0) {
        status = kStatusInvalidCommand;
    }
    current->infoStatus = status;
    step.reportChanged = true;
    if (status != kStatusAccepted) {
        return Decision{status};
    }

    current->info = info;
    current->described = true;
    current->data.clear();
    current->seen.clear();
    current->lastPacket.reset();
    current->packetsReceived = 0;
    current->complete = info.PacketCount() == 0;
    if (current->complete) {
        step.itemsToWrite.push_back(current->index);
    }
    Decision decision{kStatusAccepted};
    if (ItemErasesFlash(current->itemCode)) {
        decision.delayMs = config_.infoDelayMs;
    }
    return decision;
}

PanelSession::Decision PanelSession::ProcessData(std::span<const std::uint8_t> frame, Step& step) {
    ItemRecord* current = Current();
    if (current == nullptr || !current->described) {
        return Decision{kStatusInvalidCommand};
    }
    const FileInfo& info = current->info;
    const auto payload = PayloadOf(frame);
    if (payload.size() != info.packetSize) {
        return Decision{kStatusInvalidCommand};
    }
    const auto number =
        ResolvePacketNumber(ParameterOf(frame), current->lastPacket, info.PacketCount());
    if (!number) {
        return Decision{kStatusInvalidCommand};
    }

    // The last packet is padded; only the item's own bytes are kept. A packet that comes
    // again overwrites its place.
    const std::uint64_t offset = *number * info.packetSize;
    const std::uint64_t end = std::min<std::uint64_t>(offset + info.packetSize, info.itemSize);
    const auto length = static_cast<std::size_t>(end - offset);
    auto& data = current->data;
    bool changed = true;
    if (data.size() >= end) {
        changed =
            !std::equal(payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(length),
                        data.begin() + static_cast<std::ptrdiff_t>(offset));
    } else {
        data.resize(static_cast<std::size_t>(end));
    }
    std::copy(payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(length),
              data.begin() + static_cast<std::ptrdiff_t>(offset));

    if (current->seen.size() <= *number) {
        current->seen.resize(static_cast<std::size_t>(*number + 1), false);
    }
    if (!current->seen[static_cast<std::size_t>(*number)]) {
        current->seen[static_cast<std::size_t>(*number)] = true;
        ++current->packetsReceived;
    }
    current->lastPacket = number;

    if (!current->complete && current->packetsReceived == info.PacketCount()) {
        current->complete = true;
        step.itemsToWrite.push_back(current->index);
        step.reportChanged = true;
    } else if (current->complete && changed) {
        step.itemsToWrite.push_back(current->index);
    }
    return Decision{kStatusAccepted};
}

}  // namespace tarvex::panelsim
