// CHmiTransfer: sends the ticked items to the panel's loader, item by item.
//
// Each item goes through three phases: an opening command announces it, a file-information
// frame describes it, and data frames carry it in numbered, zero-padded packets. Every frame
// waits for the panel's 7-byte reply and is resent up to its item's attempt limit. After the
// last item a closing command ("Over") ends the download.
//
//   RunHMITransfer()   Bitmap, Font, Recipe (each recipe), Application, then Over; closes the
//                      port; returns 0 (success) or 1 (failure) as the last step reported
//   AwaitReply(...)    pumps the user interface, waits for one reply and judges it
//
// The transfer works on the form's fields through HmiTransferState (the cancel request, the
// panel's last code, the item buffers), reports its steps to an ITransferProgress, and works on
// a snapshot of the form's
// choices taken when the download starts (HmiTransferSettings).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "hmi/HmiFrames.h"
#include "hmi/ItemImage.h"
#include "hmi/TransferProgress.h"
#include "platform/SharedBytes.h"
#include "platform/UserInterface.h"
#include "serial/SerialPort.h"

namespace tarvex {

// What the form had chosen when the download started.
struct HmiTransferSettings {
    std::uint8_t slaveAddress = 1;     // low 8 bits of the slave ID
    bool usbDownload = false;          // the link byte's value when it is sent
    std::uint32_t firmwareFormat = 0;  // format code of the chosen firmware; 1 adds the link byte
    std::uint16_t packetSize = 0;      // image bytes per data frame, never 0 here
    std::uint16_t productCode = 0;
    std::string bootloaderText;
    std::string firmwareText;
    std::string passwordText;
    std::string applicationName;
    std::string hmiType;
    bool sendApplication = false;
    bool sendBitmap = false;
    bool sendFont = false;
    bool sendRecipes = false;
};

// The form's fields that the transfer reads and writes.
struct HmiTransferState {
    bool& cancelRequested;
    std::uint8_t& targetCode;
    std::uint32_t& transferStartTick;
    bool& transferStartTickSet;
    std::int32_t& packetCount;
    bool& portOpen;
    std::string& selectedRecipe;
    SharedBytes& appImage;
    SharedBytes& bitmapImage;
    SharedBytes& fontImage;
    SharedBytes& recipeImage;
    const std::vector<std::string>& recipeNames;
    const std::vector<std::uint32_t>& recipeSizes;
    ITransferProgress& progress;  // told of every step; the form's bar is one listener
};

class CHmiTransfer {
  public:
    // Called with every frame written (written = true) and every reply read.
    using FrameObserver = std::function<void(bool written, std::span<const std::uint8_t> bytes)>;

    CHmiTransfer(CSerialPort& port, IUserInterface& ui, HmiTransferSettings settings,
                 HmiTransferState& state, std::function<void()> restorePriority);

    void SetFrameObserver(FrameObserver observer) { observer_ = std::move(observer); }

    int RunHMITransfer();
    int SendApplication();
    int SendBitmap();
    int SendFont();
    int SendRecipes();
    int SendTransferOver();

    bool AwaitReply(std::string_view item, std::string_view action,
                    std::span<const std::uint8_t> request);
    std::size_t ReplyLength(std::string_view item, std::string_view action) const;
    void ShowTargetCodeMessage();

    // An item ended with result 1 during RunHMITransfer, and the panel's code at that moment.
    bool AnyItemFailed() const { return anyItemFailed_; }
    std::uint8_t FailedItemCode() const { return failedItemCode_; }
    // A frame was let pass without the panel's confirmation because Cancel was pending: an
    // item's last frame whose reply failed.
    bool PassedUnconfirmed() const { return passedUnconfirmed_; }
    // The panel code whose message the transfer has shown already (a recipe's failure), so
    // that the outcome does not show it a second time; 0 when none was shown.
    std::uint8_t ShownCode() const { return shownCode_; }

    // The last frames and block built.
    std::vector<std::uint8_t> m_arrCommandFrame;
    std::vector<std::uint8_t> m_arrInfoFrame;
    std::vector<std::uint8_t> m_arrDataFrame;
    std::array<std::uint8_t, hmi::kFileInfoSize> m_arrFileInfo{};
    std::uint32_t m_nPassword = 0;

  private:
    // How one item differs from the others.
    struct ItemProfile {
        std::string_view item;
        bool clearsCancel;
        bool infoWaitsInRounds;  // Bitmap and Font: written once, then up to ten rounds
        int infoAttempts;        // when resent
        int packetAttempts;
        bool fontCancel;  // Cancel command sent once; opening limit enters the cancel
    };

    enum class Outcome {
        Confirmed,
        CountsAsDone,  // first reply unconfirmed while cancel was requested
        CancelNow,     // run the cancel procedure
        LimitReached,
        WriteFailed,
    };
    struct Exchanged {
        Outcome outcome;
        int attempts;
    };

    // The items RunHMITransfer is about to send, each recipe on its own, in their order.
    std::vector<TransferItem> PlannedItems() const;
    int SendItem(const ItemProfile& profile, SharedBytes& buffer, int recipeIndex);
    int SendItemPhases(const ItemProfile& profile, SharedBytes& buffer, int recipeIndex);
    int DataPhase(const ItemProfile& profile, SharedBytes& buffer);
    Exchanged Exchange(std::string_view item, TransferPhase phase,
                       const std::vector<std::uint8_t>& frame, int limit);
    int LimitReached();
    int CancelProcedure(const ItemProfile& profile, int attempts);
    bool WriteFrame(const std::vector<std::uint8_t>& frame);
    std::optional<std::uint8_t> LinkByte() const;
    void BuildFileInfo(std::string_view item, int recipeIndex, std::span<const std::uint8_t> data);

    CSerialPort& port_;
    IUserInterface& ui_;
    HmiTransferSettings settings_;
    HmiTransferState& state_;
    std::function<void()> restorePriority_;
    FrameObserver observer_;
    bool anyItemFailed_ = false;
    std::uint8_t failedItemCode_ = 255;
    bool passedUnconfirmed_ = false;
    std::uint8_t shownCode_ = 0;
};

}  // namespace tarvex
