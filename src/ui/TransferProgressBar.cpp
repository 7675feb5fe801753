#include "ui/TransferProgressBar.h"

namespace tarvex {

int TransferProgressBar::ItemSteps(const TransferItem& item) {
    const int packets = static_cast<int>(item.packets);
    switch (item.kind) {
        case TransferItemKind::Bitmap:
        case TransferItemKind::Font:
            return packets + 4;
        case TransferItemKind::Recipe:
            return packets + 1;
        case TransferItemKind::Application:
            break;
    }
    return packets;
}

void TransferProgressBar::OnTransferStarted(const std::vector<TransferItem>& items) {
    starts_.clear();
    int total = 0;
    for (const TransferItem& item : items) {
        starts_.push_back(total);
        total += ItemSteps(item);
    }
    nextItem_ = 0;
    bar_.SetRange(0, total);
    bar_.SetStep(1);
    bar_.SetPos(0);
    if (next_) {
        next_->OnTransferStarted(items);
    }
}

void TransferProgressBar::OnItemStarted(const TransferItem& item) {
    kind_ = item.kind;
    if (nextItem_ < starts_.size()) {
        bar_.SetPos(starts_[nextItem_++]);
    } else {
        // An item nobody announced: the bar runs over it alone.
        bar_.SetRange(0, ItemSteps(item));
        bar_.SetStep(1);
        bar_.SetPos(0);
    }
    if (BitmapStyle()) {
        bar_.StepIt();
    }
    if (next_) {
        next_->OnItemStarted(item);
    }
}

void TransferProgressBar::OnPhase(TransferPhase phase) {
    if (next_) {
        next_->OnPhase(phase);
    }
}

void TransferProgressBar::OnConfirmed(TransferPhase phase) {
    if (phase == TransferPhase::Opening && BitmapStyle()) {
        bar_.StepIt();
        bar_.StepIt();
    } else if (phase == TransferPhase::Describing && kind_ == TransferItemKind::Recipe) {
        bar_.StepIt();
    }
    if (next_) {
        next_->OnConfirmed(phase);
    }
}

void TransferProgressBar::OnDescribeWaitOver() {
    bar_.StepIt();
    if (next_) {
        next_->OnDescribeWaitOver();
    }
}

void TransferProgressBar::OnPacketSent(std::uint32_t packetsDone, std::uint64_t bytesDone) {
    bar_.StepIt();
    if (next_) {
        next_->OnPacketSent(packetsDone, bytesDone);
    }
}

void TransferProgressBar::OnResend(TransferPhase phase, int attempt) {
    if (next_) {
        next_->OnResend(phase, attempt);
    }
}

void TransferProgressBar::OnItemEnded(int result) {
    if (next_) {
        next_->OnItemEnded(result);
    }
}

void TransferProgressBar::OnCancelled() {
    if (kind_ == TransferItemKind::Application) {
        bar_.SetPos(0);
    }
    if (next_) {
        next_->OnCancelled();
    }
}

void TransferProgressBar::OnOutcome(std::string_view text) {
    if (next_) {
        next_->OnOutcome(text);
    }
}

}  // namespace tarvex
