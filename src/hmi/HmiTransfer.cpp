#include "hmi/HmiTransfer.h"

#include <algorithm>
#include <exception>

#include "platform/Time.h"

namespace tarvex {

using hmi::kActionCancel;
using hmi::kActionDownload;
using hmi::kActionOver;
using hmi::kItemApplication;
using hmi::kItemBitmap;
using hmi::kItemFont;
using hmi::kItemRecipe;

namespace {

// Attempts and pauses of the loader protocol.
constexpr int kOpeningAttempts = 3;
constexpr int kOverAttempts = 3;
constexpr int kInfoRounds = 10;
constexpr std::uint32_t kInfoRoundPauseMs = 1000;
constexpr std::uint32_t kReplyPauseMs = 10;
constexpr std::uint32_t kRecipePauseMs = 100;
constexpr int kCancelCounterLimit = 3;

}  // namespace

std::string_view TransferItemLabel(TransferItemKind kind) {
    switch (kind) {
        case TransferItemKind::Bitmap:
            return "Bitmap";
        case TransferItemKind::Font:
            return "Font";
        case TransferItemKind::Recipe:
            return "Recipe";
        case TransferItemKind::Application:
            break;
    }
    return "Application";
}

CHmiTransfer::CHmiTransfer(CSerialPort& port, IUserInterface& ui, HmiTransferSettings settings,
                           HmiTransferState& state, std::function<void()> restorePriority)
    : port_(port),
      ui_(ui),
      settings_(std::move(settings)),
      state_(state),
      restorePriority_(std::move(restorePriority)) {}

int CHmiTransfer::RunHMITransfer() {
    int result = 65535;
    anyItemFailed_ = false;
    failedItemCode_ = 255;
    passedUnconfirmed_ = false;
    shownCode_ = 0;
    // An item that fails does not stop the items after it; remember it for the outcome.
    const auto note = [this](int itemResult) {
        if (itemResult == 1 && !anyItemFailed_) {
            anyItemFailed_ = true;
            failedItemCode_ = state_.targetCode;
        }
        return itemResult;
    };
    state_.progress.OnTransferStarted(PlannedItems());
    if (settings_.sendBitmap) {
        result = note(SendBitmap());
    }
    if (settings_.sendFont) {
        result = note(SendFont());
    }
    if (settings_.sendRecipes) {
        result = note(SendRecipes());
        if (result == 1 && state_.targetCode != 255) {
            // The application item that follows may overwrite the code: tell it now.
            ShowTargetCodeMessage();
        }
    }
    if (settings_.sendApplication) {
        result = note(SendApplication());
    }
    if (result != 1) {
        result = SendTransferOver();
    }
    if (state_.portOpen) {
        port_.Close();
        state_.portOpen = false;
    }
    return result;
}

std::vector<TransferItem> CHmiTransfer::PlannedItems() const {
    std::vector<TransferItem> items;
    const auto add = [&](TransferItemKind kind, std::size_t bytes, int recipeIndex) {
        TransferItem item;
        item.kind = kind;
        if (recipeIndex >= 0 && static_cast<std::size_t>(recipeIndex) < state_.recipeNames.size()) {
            item.name = state_.recipeNames[static_cast<std::size_t>(recipeIndex)];
        }
        item.recipeIndex = recipeIndex;
        item.bytes = bytes;
        item.packets = hmi::PacketCount(static_cast<std::uint32_t>(bytes), settings_.packetSize);
        item.packetSize = settings_.packetSize;
        items.push_back(item);
    };
    if (settings_.sendBitmap) {
        add(TransferItemKind::Bitmap, state_.bitmapImage.size(), -1);
    }
    if (settings_.sendFont) {
        add(TransferItemKind::Font, state_.fontImage.size(), -1);
    }
    if (settings_.sendRecipes) {
        // As SendRecipes cuts them: each recipe's size, as far as the recipe bytes reach.
        const std::size_t all = state_.recipeImage.size();
        std::size_t taken = 0;
        for (std::size_t k = 0; k < state_.recipeSizes.size(); ++k) {
            const std::size_t size =
                std::min<std::size_t>(state_.recipeSizes[k], all - std::min(taken, all));
            taken += size;
            add(TransferItemKind::Recipe, size, static_cast<int>(k));
        }
    }
    if (settings_.sendApplication) {
        add(TransferItemKind::Application, state_.appImage.size(), -1);
    }
    return items;
}

int CHmiTransfer::SendApplication() {
    static constexpr ItemProfile kProfile{kItemApplication, true, false, 4, 3, false};
    return SendItem(kProfile, state_.appImage, -1);
}

int CHmiTransfer::SendBitmap() {
    static constexpr ItemProfile kProfile{kItemBitmap, false, true, 0, 4, false};
    return SendItem(kProfile, state_.bitmapImage, -1);
}

int CHmiTransfer::SendFont() {
    static constexpr ItemProfile kProfile{kItemFont, true, true, 0, 4, true};
    return SendItem(kProfile, state_.fontImage, -1);
}

int CHmiTransfer::SendRecipes() {
    static constexpr ItemProfile kProfile{kItemRecipe, false, false, 3, 4, false};
    state_.cancelRequested = false;
    const SharedBytes all = state_.recipeImage;
    state_.selectedRecipe = "All";
    std::size_t taken = 0;
    for (std::size_t k = 0; k < state_.recipeSizes.size(); ++k) {
        if (k != 0) {
            platform::PauseMs(kRecipePauseMs, [this] { ui_.Idle(); });
        }
        const std::size_t size =
            std::min<std::size_t>(state_.recipeSizes[k], all.size() - std::min(taken, all.size()));
        state_.recipeImage = all.Sub(taken, size);
        taken += size;
        if (SendItem(kProfile, state_.recipeImage, static_cast<int>(k)) == 1) {
            return 1;
        }
        if (state_.cancelRequested) {
            return CancelProcedure(kProfile, 0);
        }
    }
    return 0;
}

int CHmiTransfer::SendItem(const ItemProfile& profile, SharedBytes& buffer, int recipeIndex) {
    const int result = SendItemPhases(profile, buffer, recipeIndex);
    state_.progress.OnItemEnded(result);
    return result;
}

int CHmiTransfer::SendItemPhases(const ItemProfile& profile, SharedBytes& buffer, int recipeIndex) {
    if (profile.clearsCancel) {
        state_.cancelRequested = false;
    }
    ITransferProgress& progress = state_.progress;
    const std::uint32_t packets =
        hmi::PacketCount(static_cast<std::uint32_t>(buffer.size()), settings_.packetSize);
    TransferItem announced;
    announced.kind = profile.item == kItemBitmap   ? TransferItemKind::Bitmap
                     : profile.item == kItemFont   ? TransferItemKind::Font
                     : profile.item == kItemRecipe ? TransferItemKind::Recipe
                                                   : TransferItemKind::Application;
    if (recipeIndex >= 0 && static_cast<std::size_t>(recipeIndex) < state_.recipeNames.size()) {
        announced.name = state_.recipeNames[static_cast<std::size_t>(recipeIndex)];
    }
    announced.recipeIndex = recipeIndex;
    announced.bytes = buffer.size();
    announced.packets = packets;
    announced.packetSize = settings_.packetSize;
    if (profile.item == kItemBitmap) {
        state_.transferStartTick = platform::TickCount();
        state_.transferStartTickSet = true;
    }
    progress.OnItemStarted(announced);

    // Opening: announce the item.
    const std::uint16_t openCode =
        hmi::EncodeItemAction(profile.item, kActionDownload, settings_.hmiType);
    m_arrCommandFrame = hmi::BuildCommandFrame(settings_.slaveAddress, openCode, LinkByte());
    progress.OnPhase(TransferPhase::Opening);
    const Exchanged opened =
        Exchange(profile.item, TransferPhase::Opening, m_arrCommandFrame, kOpeningAttempts);
    switch (opened.outcome) {
        case Outcome::Confirmed:
            progress.OnConfirmed(TransferPhase::Opening);
            break;
        case Outcome::CountsAsDone:
            break;
        case Outcome::CancelNow:
            return CancelProcedure(profile, opened.attempts);
        case Outcome::LimitReached:
            if (profile.fontCancel) {
                LimitReached();
                return CancelProcedure(profile, opened.attempts);
            }
            return LimitReached();
        case Outcome::WriteFailed:
            return 1;
    }

    // File information: describe the item.
    BuildFileInfo(profile.item, recipeIndex, buffer);
    m_arrInfoFrame = hmi::BuildInfoFrame(settings_.slaveAddress, openCode, m_arrFileInfo);
    progress.OnPhase(TransferPhase::Describing);
    if (profile.infoWaitsInRounds) {
        // The panel may take seconds (erasing its flash) before it answers; the frame is not
        // resent, the reply is awaited once a second.
        if (!WriteFrame(m_arrInfoFrame)) {
            return 1;
        }
        progress.OnPhase(TransferPhase::Erasing);
        for (int round = 1; round <= kInfoRounds; ++round) {
            platform::PauseMs(kInfoRoundPauseMs, [this] { ui_.Idle(); });
            if (state_.cancelRequested) {
                return CancelProcedure(profile, round);
            }
            if (AwaitReply(profile.item, kActionDownload, m_arrInfoFrame)) {
                break;
            }
            if (state_.targetCode >= 2 && state_.targetCode <= 254) {
                return 1;
            }
            // No frame goes out during the rounds, so no failed write would end them: a line
            // that went away (an adapter pulled) would otherwise be waited on for seconds.
            if (port_.LastError() == SerialError::Disconnected) {
                return 1;
            }
        }
        progress.OnDescribeWaitOver();
        if (profile.item == kItemBitmap) {
            state_.packetCount = static_cast<std::int32_t>(packets);
        }
    } else {
        const Exchanged described =
            Exchange(profile.item, TransferPhase::Describing, m_arrInfoFrame, profile.infoAttempts);
        switch (described.outcome) {
            case Outcome::Confirmed:
                progress.OnConfirmed(TransferPhase::Describing);
                break;
            case Outcome::CountsAsDone:
                break;
            case Outcome::CancelNow:
                return CancelProcedure(profile, described.attempts);
            case Outcome::LimitReached:
                return LimitReached();
            case Outcome::WriteFailed:
                return 1;
        }
    }

    progress.OnPhase(TransferPhase::Data);
    return DataPhase(profile, buffer);
}

int CHmiTransfer::DataPhase(const ItemProfile& profile, SharedBytes& buffer) {
    const std::size_t packetSize = settings_.packetSize;
    if (packetSize == 0) {
        return 1;  // refused before the transfer; never sends a frame it cannot number
    }
    // The buffer is consumed from the front; the bytes sent leave it when the phase ends,
    // whichever way it ends.
    std::size_t sent = 0;
    struct Consume {
        SharedBytes& buffer;
        std::size_t& sent;
        ~Consume() { buffer = buffer.Sub(sent); }
    } consume{buffer, sent};

    std::vector<std::uint8_t> packet(packetSize);
    for (std::uint32_t number = 0; sent < buffer.size(); ++number) {
        const std::size_t take = std::min(packetSize, buffer.size() - sent);
        std::copy_n(buffer.data() + sent, take, packet.begin());
        std::fill(packet.begin() + static_cast<std::ptrdiff_t>(take), packet.end(), 0);
        sent += take;
        m_arrDataFrame = hmi::BuildDataFrame(settings_.slaveAddress,
                                             static_cast<std::uint16_t>(number & 0xFFFFU), packet);
        const Exchanged exchanged =
            Exchange(profile.item, TransferPhase::Data, m_arrDataFrame, profile.packetAttempts);
        switch (exchanged.outcome) {
            case Outcome::Confirmed:
            case Outcome::CountsAsDone:
                state_.progress.OnPacketSent(number + 1, sent);
                break;
            case Outcome::CancelNow:
                return CancelProcedure(profile, exchanged.attempts);
            case Outcome::LimitReached:
                return LimitReached();
            case Outcome::WriteFailed:
                return 1;
        }
    }
    return 0;
}

CHmiTransfer::Exchanged CHmiTransfer::Exchange(std::string_view item, TransferPhase phase,
                                               const std::vector<std::uint8_t>& frame, int limit) {
    for (int attempt = 1; attempt <= limit; ++attempt) {
        if (attempt > 1) {
            state_.progress.OnResend(phase, attempt);
        }
        if (!WriteFrame(frame)) {
            return {Outcome::WriteFailed, attempt};
        }
        if (state_.cancelRequested) {
            return {Outcome::CancelNow, attempt};
        }
        if (AwaitReply(item, kActionDownload, frame)) {
            return {Outcome::Confirmed, attempt};
        }
        if (state_.cancelRequested) {
            // A first reply that fails while Cancel is pending lets the item write its next
            // frame; the cancel procedure follows that write. A resent frame cancels at once.
            if (attempt == 1) {
                passedUnconfirmed_ = true;
                return {Outcome::CountsAsDone, attempt};
            }
            return {Outcome::CancelNow, attempt};
        }
    }
    return {Outcome::LimitReached, limit};
}

int CHmiTransfer::LimitReached() {
    state_.cancelRequested = true;
    if (state_.targetCode == 0) {
        state_.targetCode = 255;
    }
    return 1;
}

int CHmiTransfer::CancelProcedure(const ItemProfile& profile, int attempts) {
    state_.progress.OnPhase(TransferPhase::Cancelling);
    if (state_.portOpen) {
        // The Cancel command always carries the application's item code.
        m_arrCommandFrame = hmi::BuildCommandFrame(
            settings_.slaveAddress,
            hmi::EncodeItemAction(kItemApplication, kActionCancel, settings_.hmiType));
        if (profile.fontCancel) {
            if (!WriteFrame(m_arrCommandFrame)) {
                return 1;
            }
            AwaitReply(profile.item, kActionCancel, m_arrCommandFrame);
        } else {
            int counter = attempts;
            for (;;) {
                ++counter;
                if (!WriteFrame(m_arrCommandFrame)) {
                    return 1;
                }
                if (AwaitReply(profile.item, kActionCancel, m_arrCommandFrame)) {
                    break;
                }
                ++counter;
                if (counter > kCancelCounterLimit) {
                    if (state_.targetCode == 0) {
                        state_.targetCode = 255;
                    }
                    return 1;
                }
                if (!state_.cancelRequested) {
                    break;
                }
            }
        }
    }
    if (restorePriority_) {
        restorePriority_();
    }
    state_.progress.OnCancelled();
    return 1;
}

int CHmiTransfer::SendTransferOver() {
    m_arrCommandFrame = hmi::BuildCommandFrame(
        settings_.slaveAddress,
        hmi::EncodeItemAction(kItemApplication, kActionOver, settings_.hmiType));
    state_.progress.OnPhase(TransferPhase::Closing);
    for (int attempt = 1; attempt <= kOverAttempts; ++attempt) {
        if (attempt > 1) {
            state_.progress.OnResend(TransferPhase::Closing, attempt);
        }
        if (!WriteFrame(m_arrCommandFrame)) {
            return 1;
        }
        // With Cancel pending the command is not resent, but its one reply is still read: every
        // item was confirmed, and a panel that confirms the end has the whole download.
        const bool cancelPending = state_.cancelRequested;
        if (cancelPending) {
            state_.targetCode = 0;  // what the reply says, and nothing left from before
        }
        if (AwaitReply(kItemApplication, kActionOver, m_arrCommandFrame)) {
            return 0;
        }
        if (cancelPending || state_.cancelRequested) {
            // Cancelled with the end unconfirmed: not successful. A code the panel answered
            // with is its reason and is reported; without one the end counts as unconfirmed.
            if (state_.targetCode == 0) {
                state_.targetCode = 255;
            }
            return 1;
        }
    }
    return LimitReached();
}

bool CHmiTransfer::AwaitReply(std::string_view item, std::string_view action,
                              std::span<const std::uint8_t> request) {
    try {
        const std::size_t length = ReplyLength(item, action);
        // Here the Cancel button gets its chance to raise the request.
        ui_.PumpEvents();
        std::vector<std::uint8_t> reply(length, 0);
        platform::PauseMs(kReplyPauseMs, [this] { ui_.Idle(); });
        std::size_t received = 0;
        // A read error (the line gone) leaves the buffer as it is: the reply counts as missing.
        port_.ReadBlock(reply.data(), reply.size(), received);
        if (observer_ && received > 0) {
            observer_(false, std::span<const std::uint8_t>(reply.data(), received));
        }
        const hmi::ReplyVerdict verdict = hmi::JudgeReply(request, reply);
        if (!verdict.echoMatches) {
            return false;
        }
        if (action != kActionCancel) {
            state_.targetCode = verdict.status;
        }
        return verdict.status == 0 && verdict.crcMatches;
    } catch (const std::exception&) {
        Notice(ui_, "Error in reading from target!");
        return false;
    }
}

std::size_t CHmiTransfer::ReplyLength(std::string_view, std::string_view) const {
    return hmi::kReplyLength;
}

void CHmiTransfer::ShowTargetCodeMessage() {
    if (const auto text = hmi::TargetCodeMessage(state_.targetCode)) {
        PlainBox(ui_, *text);
        shownCode_ = state_.targetCode;
    }
}

bool CHmiTransfer::WriteFrame(const std::vector<std::uint8_t>& frame) {
    // Bytes waiting on the line now belong to no request: a late reply to an earlier frame
    // must not be taken for the answer to this one.
    port_.DiscardInput();
    if (observer_) {
        observer_(true, frame);
    }
    std::size_t written = 0;
    return port_.WriteBlock(frame.data(), frame.size(), &written) && written == frame.size();
}

std::optional<std::uint8_t> CHmiTransfer::LinkByte() const {
    if (settings_.firmwareFormat != 1) {
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(settings_.usbDownload ? 1 : 0);
}

void CHmiTransfer::BuildFileInfo(std::string_view item, int recipeIndex,
                                 std::span<const std::uint8_t> data) {
    m_nPassword = hmi::PasswordNumber(settings_.passwordText);
    const platform::UtcDate date = platform::CurrentUtcDate();
    const platform::LocalTimeOfDay time = platform::CurrentLocalTime();
    hmi::FileInfoFields f;
    if (item == kItemRecipe) {
        const auto index = static_cast<std::size_t>(recipeIndex);
        f.name = index < state_.recipeNames.size() ? hmi::RecipeInfoName(state_.recipeNames[index])
                                                   : std::string();
    } else {
        f.name = settings_.applicationName;
    }
    f.productCode = settings_.productCode;
    f.password = static_cast<std::uint16_t>(m_nPassword & 0xFFFFU);
    f.year = static_cast<std::uint16_t>(date.year);
    f.month = static_cast<std::uint8_t>(date.month);
    f.day = static_cast<std::uint8_t>(date.day);
    f.hour = static_cast<std::uint8_t>(time.hour);
    f.minute = static_cast<std::uint8_t>(time.minute);
    f.packetSize = settings_.packetSize;
    f.size = static_cast<std::uint32_t>(data.size());
    f.byteSum = hmi::ByteSum16(data);
    f.bootloaderNumber = hmi::BootloaderNumber(settings_.bootloaderText);
    f.firmwareNumber = hmi::FirmwareNumber(settings_.firmwareText);
    m_arrFileInfo = hmi::BuildFileInfo(f);
}

}  // namespace tarvex
