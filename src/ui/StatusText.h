// The texts of a dialog's status line, under the progress bar, without a toolkit: what the
// transfer is doing (the item being sent and how far it has got, the panel's erase pause, a
// cancel), the download's outcome while its message box is up, and after a probe of the ports,
// which ports are present but not usable and why, so that a port never drops out of the Com Port
// list without a word, and whether the saved port is missing.
//
// StatusText listens to the transfer's progress sink and hands every new text to the view's
// show function (a QLabel, a static control).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "hmi/TransferProgress.h"
#include "serial/PortProbe.h"

namespace tarvex {

// The line after a probe: the saved port when it is not the one the list shows (missing, or
// present but not usable, and what the list shows instead, or that a port must be chosen),
// then every port that is present but cannot be used, with the reason and the fix. With no
// saved port and nothing chosen it asks for a choice. Empty when there is nothing to say.
std::string PortStatusText(const std::vector<PortInfo>& ports, const std::string& savedPort,
                           const std::string& chosenPort);

class StatusText final : public ITransferProgress {
  public:
    using ShowFunction = std::function<void(const std::string& text)>;
    explicit StatusText(ShowFunction show) : show_(std::move(show)) {}

    // After the Com Port list was filled: probes again for the reasons.
    void ShowPorts(const ProbeOptions& probe, const std::string& savedPort,
                   const std::string& chosenPort);
    const std::string& Text() const { return text_; }

    void OnItemStarted(const TransferItem& item) override;
    void OnPhase(TransferPhase phase) override;
    void OnPacketSent(std::uint32_t packetsDone, std::uint64_t bytesDone) override;
    void OnResend(TransferPhase phase, int attempt) override;
    void OnItemEnded(int result) override;
    void OnOutcome(std::string_view text) override;

  private:
    void Show(std::string text);

    ShowFunction show_;
    std::string text_;
    std::string item_;
    std::uint32_t packets_ = 0;
    int lastPercent_ = -1;
};

}  // namespace tarvex
