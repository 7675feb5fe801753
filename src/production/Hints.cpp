#include "production/Hints.h"

#include "platform/Text.h"
#include "serial/PortAccess.h"

namespace tarvex::production {
namespace {

std::string LineSettingsText(const LineDescription& l) {
    if (l.usb) {
        return "USB Download (the virtual COM port ignores the line settings)";
    }
    std::string text = l.baud + " baud, parity " + l.parity + ", " + l.dataBits + " data bits";
    if (l.dataBits != "8") {
        text += " (the download always uses 8)";
    }
    text += ", " + l.stopBits + " stop bit" + (l.stopBits == "1" ? "" : "s");
    return text;
}

std::string SlaveText(const LineDescription& l) {
    return l.slaveId.empty() ? std::string("no slave ID") : "slave ID " + l.slaveId;
}

}  // namespace

LineDescription DescribeLine(const CTarvexDlg& form) {
    LineDescription l;
    l.port = form.m_cmbComPort.GetWindowText();
    l.baud = form.m_cmbBaudRate.GetWindowText();
    l.parity = form.m_cmbParity.GetWindowText();
    l.dataBits = form.m_cmbDataBits.GetWindowText();
    l.stopBits = form.m_cmbStopBits.GetWindowText();
    if (form.m_editSlaveID.IsVisible()) {
        l.slaveId = form.m_editSlaveID.GetWindowText();
    }
    l.usb = form.m_radUSBDownload.GetCheck();
    l.product = form.m_cmbProduct.GetWindowText();
    l.bootloader = form.m_cmbBootloaderVersion.GetWindowText();
    l.firmware = form.m_cmbFirmwareVersion.GetWindowText();
    // The transfer's order.
    const std::pair<const CheckBox*, const char*> boxes[] = {
        {&form.m_chkBitmap, "bitmap"},
        {&form.m_chkFont, "font"},
        {&form.m_chkRecipe, "recipe"},
        {&form.m_chkApplication, "application"}};
    for (const auto& [box, name] : boxes) {
        if (box->GetCheck()) {
            l.items += (l.items.empty() ? "" : ", ") + std::string(name);
        }
    }
    if (l.items.empty()) {
        l.items = "none";
    }
    return l;
}

std::string AboutToSendText(const LineDescription& l) {
    return "Sending " + l.items + " of " + Printable(l.product) + " (" + Printable(l.bootloader) +
           ", " + Printable(l.firmware) + ") to " + Printable(l.port) + ": " + LineSettingsText(l) +
           ", " + SlaveText(l);
}

std::string NoReplyHint(const LineDescription& l) {
    return "tarvex-cli: the panel never replied. Tried " + Printable(l.port) + " at " +
           LineSettingsText(l) + ", " + SlaveText(l) +
           ".\n"
           "  Check: the cable (and that it goes to this port); the baud rate, parity and slave "
           "ID against the panel's own settings; that the panel is in its loader (download "
           "mode).\n";
}

std::string LineLostHint(const LineDescription& l) {
    return "tarvex-cli: the line was lost: " + Printable(l.port) +
           " went away during the download (USB adapter unplugged or reset, cable pulled). Plug "
           "it in again, check that it has the same name (tarvex-cli ports), and retry.\n";
}

std::string MissingSavedPortText(const std::string& saved, const std::vector<PortInfo>& ports) {
    const std::string device = DevicePathForPortName(saved);
    std::string text = "tarvex-cli: the saved port " + Printable(saved);
    if (device != saved) {
        text += " (" + device + ")";
    }
    const PortInfo* found = nullptr;
    for (const PortInfo& p : ports) {
        if (p.path == device || EqualsIgnoringCase(p.path, saved)) {
            found = &p;
        }
    }
    if (found != nullptr && !found->opens) {
        text += " is present but cannot be used now: ";
        text += found->error == SerialError::Busy
                    ? "busy, " + HolderText(found->path, FindPortHolders(found->path))
                : found->error == SerialError::PermissionDenied
                    ? PermissionAdvice(found->path, ExaminePortAccess(found->path))
                    : std::string(SerialErrorText(found->error));
    } else {
        text += " is not present";
    }
    text += "; the download was not started (name the port with --port).\n";
    std::string usable;
    std::string unusable;
    for (const PortInfo& p : ports) {
        if (p.opens) {
            usable += (usable.empty() ? "" : ", ") + p.path;
        } else if (&p != found) {
            unusable += (unusable.empty() ? "" : ", ") + p.path + " (" +
                        std::string(SerialErrorText(p.error)) + ")";
        }
    }
    text += "  Ports present: " + (usable.empty() ? std::string("none that can be used") : usable);
    if (!unusable.empty()) {
        text += "; not usable: " + unusable;
    }
    text += ".\n";
    return text;
}

}  // namespace tarvex::production
