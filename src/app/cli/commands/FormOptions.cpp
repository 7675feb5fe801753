#include "app/cli/commands/FormOptions.h"

#include "serial/NetworkLine.h"

#include <array>

#include "app/cli/Commands.h"
#include "app/cli/commands/Doctor.h"
#include "app/cli/commands/PlatformHelp.h"
#include "catalogue/Catalogue.h"
#include "platform/Files.h"
#include "platform/Text.h"
#include "serial/PortAccess.h"
#include "serial/PortProbe.h"
#include "serial/SerialPort.h"

namespace tarvex::cli {
namespace {

// What the form offers in a list; for an empty one, where the form looked for entries.
std::string EntryList(const CTarvexDlg& form, const ComboBox& list) {
    if (list.GetCount() > 0) {
        std::string out = "the list holds ";
        for (int i = 0; i < list.GetCount(); ++i) {
            out += (i == 0 ? "\"" : ", \"") + list.GetLBText(i) + "\"";
        }
        return out;
    }
    if (&list == &form.m_cmbComPort) {
        return "no serial port is present (looked for " + PortSearchText(form.Environment().probe) +
               ")";
    }
    if (&list == &form.m_cmbBootloaderVersion) {
        if (form.m_cmbProduct.GetCurSel() <= 0) {
            return "the bootloader versions are those of the chosen product, and no product is "
                   "chosen (--product)";
        }
        return "no bootloader version of " + form.m_cmbProduct.GetWindowText() + " in " +
               FindCatalogueFolder(form.m_strAppDir, kBootLoaderFolder);
    }
    return "the list is empty";
}
// Why a control did not take a person's action.
std::string Unusable(const CTarvexDlg& form, const Control& control, std::string_view name) {
    if (!control.IsVisible()) {
        return std::string(name) + " is hidden: the chosen version does not use it";
    }
    if (form.m_radUSBDownload.GetCheck()) {
        return std::string(name) + " is disabled while USB Download is chosen";
    }
    return std::string(name) + " is disabled";
}

void Choose(CTarvexDlg& form, ComboBox& list, const std::string& value, std::string_view option,
            std::string_view noun, std::string_view listName) {
    // Whole text, letter case ignored; the placeholder at entry 0 is looked at last.
    const int index = list.FindStringExact(value);
    if (index < 0) {
        throw UsageError(std::string(option) + ": no " + std::string(noun) + " \"" + value +
                         "\"; " + EntryList(form, list));
    }
    if (!form.UserSelect(list, index)) {
        throw UsageError(std::string(option) + ": " + Unusable(form, list, listName));
    }
}

void Type(CTarvexDlg& form, EditField& field, const std::string& value, std::string_view option,
          std::string_view what) {
    // The settings file keeps one value per line.
    if (value.find_first_of("\r\n") != std::string::npos) {
        throw UsageError(std::string(option) + ": a line break cannot be stored");
    }
    if (!form.UserSetText(field, value)) {
        throw UsageError(std::string(option) + ": " + Unusable(form, field, what));
    }
}

void Click(CTarvexDlg& form, Control& control, std::string_view option, std::string_view what) {
    if (!form.UserClick(control)) {
        throw UsageError(std::string(option) + ": " + Unusable(form, control, what));
    }
}

void ChoosePort(CTarvexDlg& form, const std::string& name, const FormOptions& options) {
    ComboBox& list = form.m_cmbComPort;
    const std::string why_list = EntryList(form, list);
    SerialError error = SerialError::None;
    int index = PortEntry(form, name, error);
    if (index < 0) {
        const std::string device = DevicePathForPortName(name);
        const std::string shown = device == name ? device : name + " (" + device + ")";
        const std::string why = "--port: " + shown + " does not open (" +
                                std::string(SerialErrorText(error)) + ")" +
                                PortErrorFix(device, error) + "; " + why_list;
        if (!options.onUnopenablePort) {
            throw UsageError(why);
        }
        options.onUnopenablePort(why);
        index = list.AddString(ListedPortName(name));
    }
    if (!form.UserSelect(list, index)) {
        throw UsageError("--port: " + Unusable(form, list, "the Com Port list"));
    }
}

void ChooseItems(CTarvexDlg& form, const std::string& text) {
    constexpr std::array<std::string_view, 4> kNames = {"application", "bitmap", "font", "recipe"};
    std::array<bool, 4> wanted{};
    bool all = false;
    bool none = false;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        const std::string_view item = TrimWhitespace(std::string_view(text).substr(
            start, comma == std::string::npos ? std::string::npos : comma - start));
        bool known = false;
        for (std::size_t i = 0; i < kNames.size(); ++i) {
            if (EqualsIgnoringCase(item, kNames[i])) {
                wanted[i] = known = true;
            }
        }
        if (EqualsIgnoringCase(item, "all")) {
            all = known = true;
        } else if (EqualsIgnoringCase(item, "none")) {
            none = known = true;
        }
        if (!known) {
            throw UsageError("--items: unknown item \"" + std::string(item) +
                             "\"; use application, bitmap, font, recipe, all or none");
        }
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    if (none && (all || wanted != std::array<bool, 4>{})) {
        throw UsageError("--items: none cannot be combined with other items");
    }
    if (all) {
        wanted.fill(true);
    }

    // All first: it sets or clears the four boxes at once; then each box as wanted.
    if (form.m_chkAll.GetCheck() != all) {
        Click(form, form.m_chkAll, "--items", "the All box");
    }
    CheckBox* const boxes[] = {&form.m_chkApplication, &form.m_chkBitmap, &form.m_chkFont,
                               &form.m_chkRecipe};
    for (std::size_t i = 0; i < kNames.size(); ++i) {
        if (boxes[i]->GetCheck() != wanted[i]) {
            Click(form, *boxes[i], "--items", boxes[i]->Caption());
        }
    }
}

}  // namespace

int PortEntry(CTarvexDlg& form, const std::string& name, SerialError& error) {
    ComboBox& list = form.m_cmbComPort;
    error = SerialError::None;
    for (int i = 0; i < list.GetCount(); ++i) {
        if (EqualsIgnoringCase(list.GetLBText(i), name)) {
            return i;
        }
    }
    // A network port is taken as named; it is reached when the download opens it, within its
    // connect deadline, and not before: a device server may serve one connection at a time.
    if (IsNetworkPortName(name)) {
        if (!ParseNetworkPortName(name)) {
            error = SerialError::BadName;
            return -1;
        }
        return list.AddString(name);
    }
    const std::string device = DevicePathForPortName(name);
    for (int i = 0; i < list.GetCount(); ++i) {
        if (list.GetLBText(i) == device) {
            return i;
        }
    }
    // A device the probe did not list (a udev link, a node without a sysfs entry) is taken
    // when a download could have it, found out as the probe finds it out: the download's open
    // is to be the only one. A name that is no local path is left to the port to open.
    if (doctor::PathExists(device)) {
        error = PortAvailable(device, form.Environment().probe);
        return error == SerialError::None ? list.AddString(device) : -1;
    }
    CSerialPort probe(form.UI());
    if (!probe.Open(name)) {
        error = probe.LastError();
        return -1;
    }
    probe.Close();
    return list.AddString(ListedPortName(name));
}

std::string PortErrorFix(const std::string& device, SerialError error) {
    if (error != SerialError::PermissionDenied) {
        return {};
    }
    const std::string advice = PermissionAdvice(device, ExaminePortAccess(device));
    return advice.empty() ? std::string() : ": " + advice;
}

void AddFormOptions(CLI::App& cmd, FormOptions& o) {
    const char* group = "Form";
    cmd.add_option("--product", o.product, "Choose the product (Select Product list)")
        ->group(group);
    cmd.add_option("--bootloader", o.bootloader,
                   "Choose the bootloader (hardware) version of the product")
        ->group(group);
    cmd.add_option("--firmware", o.firmware, "Choose the firmware version")->group(group);
    auto* usb = cmd.add_flag("--usb", o.usb, "Download through the virtual COM port of a USB link")
                    ->group(group);
    auto* serial =
        cmd.add_flag("--serial", o.serial, "Download through a serial port (the default)")
            ->group(group);
    usb->excludes(serial);
    cmd.add_option("--file", o.file, "The download container to send, as chosen with Browse")
        ->group(group);
    cmd.add_option("--slave-id", o.slaveId, "Slave ID of the panel, 1 to 255")->group(group);
    cmd.add_option("--password", o.password, "Download password of the panel")->group(group);
    cmd.add_option("--port", o.port,
                   "Serial port: an entry of the Com Port list, a device path, or COMn")
        ->group(group);
    cmd.add_option("--baud", o.baud, "Baud rate: 2400 ... 115200")->group(group);
    cmd.add_option("--parity", o.parity, "Parity: None, Even, Odd, Mark or Space")->group(group);
    cmd.add_option("--data-bits", o.dataBits, "Data bits: 7 or 8")->group(group);
    cmd.add_option("--stop-bits", o.stopBits, "Stop bits: 1 or 2")->group(group);
    cmd.add_option("--items", o.items,
                   "Images to send, comma separated: application, bitmap, font, recipe, all, "
                   "none (default: as the form starts)")
        ->group(group);
    cmd.add_option("--echo", o.echo,
                   "Two-wire RS-485 echo of each frame: none (default), discard, or verify "
                   "(a differing echo is a line fault)")
        ->check(CLI::IsMember({"none", "discard", "verify"}))
        ->group(group);
    cmd.add_flag("--rs485,!--no-rs485", o.rs485,
                 "Two-wire RS-485: the driver raises RTS while it sends (a port whose driver has "
                 "no RS-485 mode does not open)")
        ->group(group);
    AddPortProbeOption(cmd, o.sysfsRoot);
}

FormEnvironment FormEnvironmentFor(const FormOptions& options) {
    FormEnvironment env;  // the current directory, the extra ports of the environment
    if (options.sysfsRoot) {
        env.probe.sysfsRoot = *options.sysfsRoot;
    }
    return env;
}

FormOptionsResult ApplyFormOptions(CTarvexDlg& form, CliUserInterface& ui, const FormOptions& o) {
    return ApplyFormOptions(
        form, [&ui](std::string path) { ui.SetOpenFileAnswer(std::move(path)); }, o);
}

FormOptionsResult ApplyFormOptions(CTarvexDlg& form, const OpenFileAnswer& answerOpenFile,
                                   const FormOptions& o) {
    if (o.product) {
        Choose(form, form.m_cmbProduct, *o.product, "--product", "product", "the product list");
    }
    if (o.bootloader) {
        Choose(form, form.m_cmbBootloaderVersion, *o.bootloader, "--bootloader",
               "bootloader version", "the Bootloader Version list");
    }
    if (o.firmware) {
        Choose(form, form.m_cmbFirmwareVersion, *o.firmware, "--firmware", "firmware version",
               "the Firmware Version list");
    }

    bool refused = false;
    if (o.usb) {
        Click(form, form.m_radUSBDownload, "--usb", "USB Download");
        // The form has told why and gone back to Serial Download.
        refused = !form.m_radUSBDownload.GetCheck();
    } else if (o.serial) {
        Click(form, form.m_radSerialDownload, "--serial", "Serial Download");
    }

    if (o.file) {
        // The open-file dialog gives a full path of an existing file.
        std::string path = *o.file;
        if (!platform::IsAbsolutePath(path)) {
            path = platform::JoinPath(platform::CurrentDirectory(), path);
        }
        if (!platform::FileExists(path)) {
            throw UsageError("--file: no such file: " + path);
        }
        answerOpenFile(path);
        Click(form, form.m_btnBrowse, "--file", "Browse");
    }
    if (o.slaveId) {
        Type(form, form.m_editSlaveID, *o.slaveId, "--slave-id", "the Slave ID field");
    }
    if (o.password) {
        Type(form, form.m_editPassword, *o.password, "--password", "the Password field");
    } else if (o.storedPassword && form.m_editPassword.IsVisible() &&
               form.m_editPassword.IsEnabled()) {
        Type(form, form.m_editPassword, *o.storedPassword, "--password-file", "the Password field");
    }
    if (o.port) {
        ChoosePort(form, *o.port, o);
    }
    if (o.baud) {
        Choose(form, form.m_cmbBaudRate, *o.baud, "--baud", "baud rate", "the Baud Rate list");
    }
    if (o.parity) {
        Choose(form, form.m_cmbParity, *o.parity, "--parity", "parity", "the Parity list");
    }
    if (o.dataBits) {
        Choose(form, form.m_cmbDataBits, *o.dataBits, "--data-bits", "data bits",
               "the Data bits list");
    }
    if (o.stopBits) {
        Choose(form, form.m_cmbStopBits, *o.stopBits, "--stop-bits", "stop bits",
               "the Stop Bits list");
    }
    if (o.items) {
        ChooseItems(form, *o.items);
    }
    if (o.echo) {
        Choose(form, form.m_cmbEcho, *o.echo, "--echo", "echo mode", "the Echo list");
    }
    if (o.rs485 && *o.rs485) {
        // Refused here rather than at the download: a device server owns its line's direction.
        if (const std::string port = form.m_cmbComPort.GetWindowText(); IsNetworkPortName(port)) {
            throw UsageError("--rs485: " + port +
                             " is a network port; RS-485 direction control is set on the device "
                             "server's own serial port, not from here");
        }
    }
    if (o.rs485 && form.m_chkRs485.GetCheck() != *o.rs485) {
        Click(form, form.m_chkRs485, *o.rs485 ? "--rs485" : "--no-rs485", "the RS-485 box");
    }
    return refused ? FormOptionsResult::Refused : FormOptionsResult::Applied;
}

}  // namespace tarvex::cli
