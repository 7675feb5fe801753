#include "production/Hints.h"

#include <cstdio>

#include "platform/Files.h"
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

std::string Hex4(std::uint16_t id) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", static_cast<unsigned>(id));
    return text;
}

// Why a port that is there cannot be had now, with the fix where there is one.
std::string UnusableText(const PortInfo& p) {
    if (p.error == SerialError::Busy) {
        return "busy, " + HolderText(p.path, FindPortHolders(p.path));
    }
    if (p.error == SerialError::PermissionDenied) {
        const std::string advice = PermissionAdvice(p.path, ExaminePortAccess(p.path));
        if (!advice.empty()) {
            return advice;
        }
    }
    return std::string(SerialErrorText(p.error));
}

}  // namespace

std::string UsbDescription(const PortInfo& p) {
    if (!p.usbVendorId || !p.usbProductId) {
        return {};
    }
    std::string text = "USB " + Hex4(*p.usbVendorId) + ":" + Hex4(*p.usbProductId);
    for (const std::string* s : {&p.manufacturer, &p.product}) {
        if (!s->empty()) {
            text += " " + Printable(*s);
        }
    }
    if (!p.serialNumber.empty()) {
        text += " (serial " + Printable(p.serialNumber) + ")";
    }
    return text;
}

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

std::string EchoFaultHint(const LineDescription& l) {
    return "tarvex-cli: line fault on " + Printable(l.port) +
           ": the echo of a frame differed from the frame sent. Two senders at once (a "
           "collision) or a wrong termination of the two-wire line; check that no other master "
           "is on the bus and that the line is terminated at both ends only.\n";
}

std::string NetworkOpenHint(const LineDescription& l, SerialError error) {
    return "tarvex-cli: " + Printable(l.port) +
           " could not be reached: " + std::string(SerialErrorText(error)) +
           ". Check the address, that the device server runs and serves that port, and that "
           "no firewall stands between.\n";
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

std::string NoPortChosenText(const std::vector<PortInfo>& ports) {
    // The form's own default (COM1) is no choice: on many PCs it is the console or another
    // device's line.
    std::string text =
        "no port chosen: name it with --port (the settings file dnld.sv saves none yet); nothing "
        "was sent.\n";
    if (ports.empty()) {
        return text +
               "  No serial port is present: plug the adapter in (tarvex-cli ports lists "
               "what the system has).";
    }
    const PortInfo* onlyUsb = nullptr;
    int usbCount = 0;
    text += "  Ports present:";
    for (const PortInfo& p : ports) {
        const std::string usb = UsbDescription(p);
        text += "\n    " + p.path;
        if (!usb.empty()) {
            text += " (" + usb + ")";
            ++usbCount;
            onlyUsb = &p;
        }
        if (!p.opens) {
            text += ": " + UnusableText(p);
        }
    }
    // A single adapter is most likely the one just plugged in, but only the user can say so.
    if (usbCount == 1 && onlyUsb->opens) {
        text += "\n  The only USB serial adapter is " + onlyUsb->path + ": --port " + onlyUsb->path;
    }
    return text;
}

std::string MissingContainerHint(const CTarvexDlg& form) {
    const std::string& path = form.m_strBinFilePath;
    if (platform::FileExists(path)) {
        return {};
    }
    std::string shown = path;
    if (!path.empty() && !platform::IsAbsolutePath(path)) {
        shown = platform::JoinPath(platform::CurrentDirectory(), path) + " (" + path + ")";
    }
    return "tarvex-cli: looked for the container at " + Printable(shown.empty() ? "\"\"" : shown) +
           ": the project folder of DnldData.txt with H1.bin, or the file given with --file\n";
}

}  // namespace tarvex::production
