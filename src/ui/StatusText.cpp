#include "ui/StatusText.h"

#include "platform/Text.h"
#include "serial/PortAccess.h"

namespace tarvex {
namespace {

std::string Reason(const PortInfo& port) {
    switch (port.error) {
        case SerialError::PermissionDenied: {
            const std::string advice = PermissionAdvice(port.path, ExaminePortAccess(port.path));
            return advice.empty() ? std::string("permission denied") : advice;
        }
        case SerialError::Busy:
            return "busy, " + HolderText(port.path, FindPortHolders(port.path));
        default:
            return std::string(SerialErrorText(port.error));
    }
}

}  // namespace

std::string PortStatusText(const std::vector<PortInfo>& ports, const std::string& savedPort,
                           const std::string& chosenPort) {
    std::string text;
    bool anyUsable = false;
    for (const PortInfo& p : ports) {
        anyUsable = anyUsable || p.opens;
    }
    const std::string choose =
        anyUsable ? "; choose a port from the list." : "; no port can be used.";
    const std::string device = DevicePathForPortName(savedPort);
    const bool savedShown =
        !chosenPort.empty() && (EqualsIgnoringCase(chosenPort, savedPort) || chosenPort == device);
    if (!savedPort.empty() && !savedShown) {
        bool present = false;
        for (const PortInfo& p : ports) {
            present = present || p.path == device || EqualsIgnoringCase(p.path, savedPort);
        }
        text = "The saved port " + savedPort + (present ? " cannot be used now" : " is missing");
        text += chosenPort.empty() ? choose : "; the list shows " + chosenPort + " instead.";
    } else if (savedPort.empty() && chosenPort.empty() && anyUsable) {
        text = "No port is saved" + choose;
    }
    for (const PortInfo& p : ports) {
        if (!p.opens) {
            text += (text.empty() ? "" : "\n") + p.path + " is not usable: " + Reason(p);
        }
    }
    return text;
}

void StatusText::ShowPorts(const ProbeOptions& probe, const std::string& savedPort,
                           const std::string& chosenPort) {
    Show(PortStatusText(ProbePorts(probe), savedPort, chosenPort));
}

void StatusText::Show(std::string text) {
    if (text == text_) {
        return;
    }
    text_ = std::move(text);
    if (show_) {
        show_(text_);
    }
}

void StatusText::OnItemStarted(const TransferItem& item) {
    item_ = std::string(TransferItemLabel(item.kind));
    if (!item.name.empty()) {
        item_ += " \"" + std::string(item.name) + "\"";
    }
    packets_ = item.packets;
    lastPercent_ = -1;
    Show("Sending " + item_);
}

void StatusText::OnPhase(TransferPhase phase) {
    switch (phase) {
        case TransferPhase::Erasing:
            Show("Sending " + item_ + ": the panel is erasing its memory");
            break;
        case TransferPhase::Cancelling:
            Show("Cancelling " + item_ + ": the panel is told");
            break;
        case TransferPhase::Closing:
            Show("Ending the download");
            break;
        default:
            break;
    }
}

void StatusText::OnPacketSent(std::uint32_t packetsDone, std::uint64_t /*bytesDone*/) {
    const int percent =
        packets_ == 0 ? 100 : static_cast<int>(std::uint64_t{packetsDone} * 100 / packets_);
    if (percent == lastPercent_) {
        return;  // a repaint per percent is enough
    }
    lastPercent_ = percent;
    Show("Sending " + item_ + ": packet " + std::to_string(packetsDone) + " of " +
         std::to_string(packets_) + " (" + std::to_string(percent) + " %)");
}

void StatusText::OnResend(TransferPhase /*phase*/, int attempt) {
    Show("Sending " + item_ + ": no valid reply, attempt " + std::to_string(attempt));
}

void StatusText::OnItemEnded(int result) {
    Show(item_ + (result == 0 ? " sent" : " not sent"));
}

void StatusText::OnOutcome(std::string_view text) {
    // The line under the bar says what the box says, and keeps saying it once the box is gone.
    Show(std::string(text));
}

}  // namespace tarvex
