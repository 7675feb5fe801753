#include "app/cli/commands/PlatformHelp.h"

namespace tarvex::cli {

void AddPortProbeOption(CLI::App& cmd, std::optional<std::string>& sysfsRoot) {
    cmd.add_option("--sysfs-root", sysfsRoot,
                   "Where the port probe looks for serial devices (default /sys)")
        ->group("Port probing");
}

void AddPortsRootOptions(CLI::App& cmd, std::string& sysfsRoot, std::string& devRoot) {
    // For tests and odd systems: where sysfs and the device nodes are.
    cmd.add_option("--sysfs-root", sysfsRoot, "Root of sysfs (default /sys)");
    cmd.add_option("--dev-root", devRoot, "Folder of the device nodes (default /dev)");
}

std::string PortsSourceHelpText() {
    return "Lists the serial ports the system knows (the tty devices that have a serial driver "
           "behind them), plus the paths named in the environment variable TARVEX_EXTRA_PORTS "
           "(colon separated). No port is opened (a USB adapter resets at every open): a port "
           "that another program locks, or holds open as far as its open descriptors can be "
           "seen, is busy; a port this user may read and write is free.";
}

std::string InterruptHelpText() {
    return "Ctrl-C or SIGTERM presses Cancel (the panel is told); a second one at least a "
           "second later stops at once, putting the port back as it was found (exit status "
           "128 + the signal: 130 for Ctrl-C, 143 for SIGTERM).";
}

std::string ProgressJsonHelpText() {
    return "auto (a bar on a terminal, plain lines otherwise), bar, lines, none, or json (JSON "
           "Lines on standard output, see docs/progress-json.md)";
}

std::string FixturePortHelpText() {
    return "a /dev/serial/by-id name stays only for an adapter with a USB serial number, else "
           "name the USB socket with /dev/serial/by-path: see tarvex-cli ports";
}

std::optional<std::string> ExitMeaningHelp(const production::ExitStatusRow& row) {
    return std::string(row.meaning);
}

}  // namespace tarvex::cli
