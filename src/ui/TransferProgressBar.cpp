#include "ui/TransferProgressBar.h"

namespace tarvex {

void TransferProgressBar::OnItemStarted(const TransferItem& item) {
    kind_ = item.kind;
    packets_ = item.packets;
    if (BitmapStyle()) {
        bar_.SetRange(0, static_cast<int>(packets_) + 4);
        bar_.SetStep(1);
        bar_.SetPos(0);
        bar_.StepIt();
    }
    if (next_) {
        next_->OnItemStarted(item);
    }
}

void TransferProgressBar::OnPhase(TransferPhase phase) {
    if (phase == TransferPhase::Data && !BitmapStyle()) {
        bar_.SetRange(0, static_cast<int>(packets_));
        bar_.SetStep(1);
        bar_.SetPos(0);
    }
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

}  // namespace tarvex
