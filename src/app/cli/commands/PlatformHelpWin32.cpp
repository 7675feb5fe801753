#include "app/cli/commands/PlatformHelp.h"

namespace tarvex::cli {

void AddPortProbeOption(CLI::App& /*cmd*/, std::optional<std::string>& /*sysfsRoot*/) {}

void AddPortsRootOptions(CLI::App& /*cmd*/, std::string& /*sysfsRoot*/, std::string& /*devRoot*/) {}

std::string PortsSourceHelpText() {
    return "Lists the COM ports Windows knows, plus the names given in the environment variable "
           "TARVEX_EXTRA_PORTS (colon separated). A port another program holds is busy and is "
           "not opened; every other port is opened, its DTR and RTS dropped, and closed again "
           "to see whether it can be had now; nothing else is configured.";
}

std::string InterruptHelpText() {
    return "Ctrl-C or Ctrl-Break presses Cancel (the panel is told); a second one at least a "
           "second later, or closing the console window, stops at once, putting the port back "
           "as it was found (exit status 130).";
}

std::string LineInterruptHelpText() {
    return "Ctrl-C, Ctrl-Break or closing the console window cancels every port (each panel is "
           "told)";
}

std::string StationWatchHelpText() {
    return "wait until the COM port is there (its name comes when the panel's USB adapter is "
           "plugged in; every 100 ms; a port named usb-serial:SERIAL or location:PATH is the "
           "COM port present with that USB serial number or at that location, whatever its "
           "number), download, report PASS or FAIL, wait until the COM port is gone, and repeat";
}

std::string ProgressJsonHelpText() {
    return "auto (a bar on a console, plain lines otherwise), bar, lines, none, or json (JSON "
           "Lines on standard output: one object per event: start, item, progress, message, "
           "result)";
}

// Windows has no SIGTERM: Ctrl-Break and closing the console take its place, and 143 never
// comes.
std::string FixturePortHelpText() {
    return "a COM name stays with the adapter, or with its USB socket for an adapter without "
           "a USB serial number; where every panel brings its own USB port, name the fixture's "
           "socket with location:PATH, the location tarvex-cli ports gives";
}

std::optional<std::string> ExitMeaningHelp(const production::ExitStatusRow& row) {
    switch (row.status) {
        case production::ExitStatus::Cancelled:
            return "cancelled by the user (Ctrl-C, Ctrl-Break)";
        case production::ExitStatus::SecondInterrupt:
            return "a second Ctrl-C or Ctrl-Break, or closing the console window, stopped the "
                   "program at once; the panel was not told";
        case production::ExitStatus::SecondTerminate:
            return std::nullopt;
        default:
            return std::string(row.meaning);
    }
}

}  // namespace tarvex::cli
