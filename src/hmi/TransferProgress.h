// ITransferProgress: what a running transfer tells whoever shows its progress.
//
// The transfer knows nothing of progress bars, terminals or JSON. It reports what happens on
// the line, and each front end listens: the form's progress bar (TransferProgressBar), the
// command line's bar, the JSON progress lines and the gang's per-port lines.
//
//   OnTransferStarted  the items (each recipe on its own) the transfer is about to send
//   OnItemStarted      an item (or one recipe) is about to be announced
//   OnPhase            the item enters a phase: opening, describing, waiting for the panel to
//                      erase, data, cancelling; or the closing command is about to go out
//   OnConfirmed        the opening command or the file description was confirmed
//   OnDescribeWaitOver the panel's erase rounds of a Bitmap or Font are over
//   OnPacketSent       a data packet was confirmed (or let pass while Cancel is pending)
//   OnResend           a frame is written again because its reply failed
//   OnItemEnded        the item's result: 0 done, 1 failed or cancelled
//   OnCancelled        the cancel procedure has finished for the item
//   OnOutcome          the download's outcome, as the form is about to tell it in a message
//                      box (the box then waits for the user)
//
// Every callback has an empty default, so a listener overrides only what it shows. Callbacks
// run on the transfer's thread, between exchanges; they must return quickly.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace tarvex {

enum class TransferPhase {
    Opening,     // the command that announces the item
    Describing,  // the file-information frame
    Erasing,     // Bitmap and Font: the panel erases before it answers the description
    Data,        // numbered packets
    Cancelling,  // the Cancel command
    Closing,     // the closing command ("Over") after the last item
};

enum class TransferItemKind { Application, Bitmap, Font, Recipe };

// The item's name as the form's check boxes show it: "Application", "Bitmap", "Font", "Recipe".
std::string_view TransferItemLabel(TransferItemKind kind);

struct TransferItem {
    TransferItemKind kind = TransferItemKind::Application;
    std::string_view name;  // the recipe's name for a recipe, else empty
    int recipeIndex = -1;   // position in the container's recipe table, -1 for other items
    std::uint64_t bytes = 0;
    std::uint32_t packets = 0;
    std::uint32_t packetSize = 0;
};

class ITransferProgress {
  public:
    virtual ~ITransferProgress() = default;

    virtual void OnTransferStarted(const std::vector<TransferItem>& /*items*/) {}
    virtual void OnItemStarted(const TransferItem& /*item*/) {}
    virtual void OnPhase(TransferPhase /*phase*/) {}
    virtual void OnConfirmed(TransferPhase /*phase*/) {}
    virtual void OnDescribeWaitOver() {}
    // `packetsDone` counts the packets of this item so far; `bytesDone` the image bytes they
    // carried (padding not counted).
    virtual void OnPacketSent(std::uint32_t /*packetsDone*/, std::uint64_t /*bytesDone*/) {}
    virtual void OnResend(TransferPhase /*phase*/, int /*attempt*/) {}
    virtual void OnItemEnded(int /*result*/) {}
    virtual void OnCancelled() {}
    virtual void OnOutcome(std::string_view /*text*/) {}
};

}  // namespace tarvex
