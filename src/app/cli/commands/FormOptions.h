// The form's choices as command-line options, applied the way a person fills the form.
//
//   AddFormOptions(cmd, options)        --product, --bootloader, --firmware, --usb/--serial,
//                                       --file, --slave-id, --password, --port, --baud, --parity,
//                                       --data-bits, --stop-bits, --items, --echo,
//                                       --rs485 and --sysfs-root
//   FormEnvironmentFor(options)         where the form starts: the current directory
//   ApplyFormOptions(form, ui, options) the options, in the order of the form, each through the
//                                       form's user-action entry points so that the same
//                                       handlers run as for a click in the dialog
//
// A value the form does not offer (a product that is not in the list, a port that does not
// open) is a usage error that names what the form does offer. A choice the form refuses after
// taking it (USB Download for a firmware version without it: the form shows its notice and goes
// back to Serial Download) is reported as FormOptionsResult::Refused; commands exit with
// kExitRefused then.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <optional>
#include <string>

#include "app/cli/Commands.h"
#include "app/cli/console/CliUserInterface.h"
#include "ui/TarvexDlg.h"

namespace tarvex::cli {

struct FormOptions {
    std::optional<std::string> product;
    std::optional<std::string> bootloader;
    std::optional<std::string> firmware;
    bool usb = false;
    bool serial = false;
    std::optional<std::string> file;
    std::optional<std::string> slaveId;
    std::optional<std::string> password;
    // A password from --password-file or TARVEX_PASSWORD: typed into the Password field only
    // where the chosen version shows it, and never over --password.
    std::optional<std::string> storedPassword;
    std::optional<std::string> port;
    std::optional<std::string> baud;
    std::optional<std::string> parity;
    std::optional<std::string> dataBits;
    std::optional<std::string> stopBits;
    std::optional<std::string> items;  // application, bitmap, font, recipe, all, none
    std::optional<std::string> sysfsRoot;
    // Two-wire RS-485: what to do with the echo of each frame (none, discard, verify).
    std::optional<std::string> echo;
    // Two-wire RS-485: the driver switches the line's direction with RTS (--rs485), or not
    // (--no-rs485); neither leaves the box as the settings file had it.
    std::optional<bool> rs485;
    // A --port that does not open now is a usage error, unless this is set: then it is told
    // why and the port is chosen all the same, so that the download itself reports it.
    std::function<void(const std::string& why)> onUnopenablePort;
};

void AddFormOptions(CLI::App& cmd, FormOptions& options);

// The current directory as start-up directory; the port probe of the environment, with the
// sysfs root of the options.
FormEnvironment FormEnvironmentFor(const FormOptions& options);

// The Com Port entry that stands for `name`: its own (any letter case), the device a COMn name
// stands for, or a new entry when the device opens now although the probe did not list it.
// -1 when it does not open; `error` says why.
int PortEntry(CTarvexDlg& form, const std::string& name, SerialError& error);
// After the system's own text for a port that did not open: ": " and the fix, when the fix is
// the user's to make (a group to join); empty otherwise.
std::string PortErrorFix(const std::string& device, SerialError error);

enum class FormOptionsResult { Applied, Refused };

// Throws UsageError for a value the form does not offer or a control that cannot be used.
// `answerOpenFile` names the file the form's open-file dialog is to give (--file).
using OpenFileAnswer = std::function<void(std::string path)>;
FormOptionsResult ApplyFormOptions(CTarvexDlg& form, const OpenFileAnswer& answerOpenFile,
                                   const FormOptions& options);
FormOptionsResult ApplyFormOptions(CTarvexDlg& form, CliUserInterface& ui,
                                   const FormOptions& options);

}  // namespace tarvex::cli
