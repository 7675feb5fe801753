// TransferProgressBar: the form's progress bar as a listener of the transfer.
//
// The bar runs once across the whole download, from 0 when the transfer starts to its end when
// the last item is through, so that it never jumps back while the panel is loaded. Each item
// has its stretch of the bar and moves through it as the panel tools have always moved the
// bar for one item: a Bitmap or Font item over its packets plus four steps (one at the start,
// two for the confirmed opening, one when the erase rounds are over), an Application over its
// packets, a recipe over its packets plus one step for its confirmed description. An item
// starts at its own stretch even when the one before it ended early; a cancelled Application
// returns the bar to 0. Every event is passed on to the front end's own listener, when one is
// set.
#pragma once

#include <cstddef>
#include <vector>

#include "hmi/TransferProgress.h"
#include "ui/Controls.h"

namespace tarvex {

class TransferProgressBar final : public ITransferProgress {
  public:
    explicit TransferProgressBar(ProgressBar& bar) : bar_(bar) {}

    // The front end's listener, or nullptr. Not owned.
    void SetNext(ITransferProgress* next) { next_ = next; }
    ITransferProgress* Next() const { return next_; }

    // The steps an item takes on the bar.
    static int ItemSteps(const TransferItem& item);

    void OnTransferStarted(const std::vector<TransferItem>& items) override;
    void OnItemStarted(const TransferItem& item) override;
    void OnPhase(TransferPhase phase) override;
    void OnConfirmed(TransferPhase phase) override;
    void OnDescribeWaitOver() override;
    void OnPacketSent(std::uint32_t packetsDone, std::uint64_t bytesDone) override;
    void OnResend(TransferPhase phase, int attempt) override;
    void OnItemEnded(int result) override;
    void OnCancelled() override;
    void OnOutcome(std::string_view text) override;

  private:
    bool BitmapStyle() const {
        return kind_ == TransferItemKind::Bitmap || kind_ == TransferItemKind::Font;
    }

    ProgressBar& bar_;
    ITransferProgress* next_ = nullptr;
    TransferItemKind kind_ = TransferItemKind::Application;
    std::vector<int> starts_;  // where each planned item's stretch begins
    std::size_t nextItem_ = 0;
};

}  // namespace tarvex
