// TransferProgressBar: the form's progress bar as a listener of the transfer.
//
// The bar moves as the panel tools have always moved it: a Bitmap or Font item runs over its
// packets plus four steps (one at the start, two for the confirmed opening, one when the erase
// rounds are over), an Application or Recipe item over its packets alone, a recipe's confirmed
// description steps once before its range is set, and a cancelled Application returns the bar
// to 0. Every event is passed on to the front end's own listener, when one is set.
#pragma once

#include "hmi/TransferProgress.h"
#include "ui/Controls.h"

namespace tarvex {

class TransferProgressBar final : public ITransferProgress {
  public:
    explicit TransferProgressBar(ProgressBar& bar) : bar_(bar) {}

    // The front end's listener, or nullptr. Not owned.
    void SetNext(ITransferProgress* next) { next_ = next; }
    ITransferProgress* Next() const { return next_; }

    void OnItemStarted(const TransferItem& item) override;
    void OnPhase(TransferPhase phase) override;
    void OnConfirmed(TransferPhase phase) override;
    void OnDescribeWaitOver() override;
    void OnPacketSent(std::uint32_t packetsDone, std::uint64_t bytesDone) override;
    void OnResend(TransferPhase phase, int attempt) override;
    void OnItemEnded(int result) override;
    void OnCancelled() override;

  private:
    bool BitmapStyle() const {
        return kind_ == TransferItemKind::Bitmap || kind_ == TransferItemKind::Font;
    }

    ProgressBar& bar_;
    ITransferProgress* next_ = nullptr;
    TransferItemKind kind_ = TransferItemKind::Application;
    std::uint32_t packets_ = 0;
};

}  // namespace tarvex
