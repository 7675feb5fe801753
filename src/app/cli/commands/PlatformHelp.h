// The parts of the commands' help that differ by platform: each system's own signals, options
// and files, so that --help offers nothing this build cannot do or does not ship.
//
//   AddPortProbeOption(cmd, root)   --sysfs-root where the probe reads sysfs (Linux); none
//                                   on Windows, whose probe asks the system
//   AddPortsRootOptions(...)        ports: --sysfs-root and --dev-root (Linux)
//   PortsSourceHelpText()           ports: where the list comes from
//   InterruptHelpText()             what Ctrl-C (and SIGTERM, or Ctrl-Break) does to a download
//   ProgressJsonHelpText()          --progress, with where its JSON Lines are described
//   FixturePortHelpText()           which port names stay with a fixture
//   ExitMeaningHelp(row)            an exit status's meaning as this system's --help gives it,
//                                   or nothing for a status this system never returns
#pragma once

#include <CLI/CLI.hpp>
#include <optional>
#include <string>

#include "production/ExitStatus.h"

namespace tarvex::cli {

void AddPortProbeOption(CLI::App& cmd, std::optional<std::string>& sysfsRoot);
void AddPortsRootOptions(CLI::App& cmd, std::string& sysfsRoot, std::string& devRoot);
std::string PortsSourceHelpText();
std::string InterruptHelpText();
std::string ProgressJsonHelpText();
std::string FixturePortHelpText();
std::optional<std::string> ExitMeaningHelp(const production::ExitStatusRow& row);

}  // namespace tarvex::cli
