// The subcommands of tarvex-cli. Each file registers one subcommand on the application; its
// callback stores the process exit status in `exitStatus`.
//
// Exit status common to all commands: 0 success, 2 usage error (bad option or value); each
// command documents its others in its --help text. The statuses and their meanings are the
// table in production/ExitStatus.h; the names below are its numbers, for the commands.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

#include "production/ExitStatus.h"

namespace tarvex::cli {

inline constexpr int kExitOk = production::Code(production::ExitStatus::Ok);
inline constexpr int kExitFailure = production::Code(production::ExitStatus::Failure);
inline constexpr int kExitUsage = production::Code(production::ExitStatus::Usage);
inline constexpr int kExitRefused = production::Code(production::ExitStatus::Refused);
inline constexpr int kExitPortFailed = production::Code(production::ExitStatus::PortFailed);
inline constexpr int kExitItemMissing = production::Code(production::ExitStatus::ItemMissing);
inline constexpr int kExitCancelled = production::Code(production::ExitStatus::Cancelled);

// The exit-status table for a --help text: "Exit status:", then one line per status,
// "  3      meaning".
std::string ExitStatusHelp();
// The same as the rows of a Markdown table, "| 3 | meaning |": what `tarvex-cli
// --exit-statuses` prints for the manual page.
std::string ExitStatusMarkdown();

// Thrown by a command for a usage error found after parsing (a value that matches nothing).
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

void RegisterInspectCommand(CLI::App& app, int& exitStatus);
void RegisterPortsCommand(CLI::App& app, int& exitStatus);
void RegisterFormCommand(CLI::App& app, int& exitStatus);
void RegisterDownloadCommand(CLI::App& app, int& exitStatus);
void RegisterDoctorCommand(CLI::App& app, int& exitStatus);
void RegisterGangCommand(CLI::App& app, int& exitStatus);
void RegisterStationCommand(CLI::App& app, int& exitStatus);
void RegisterJobCommand(CLI::App& app, int& exitStatus);

}  // namespace tarvex::cli
