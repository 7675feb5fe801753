// The subcommands of tarvex-cli. Each file registers one subcommand on the application; its
// callback stores the process exit status in `exitStatus`.
//
// Exit status common to all commands: 0 success, 2 usage error (bad option or value); each
// command documents its others in its --help text.
#pragma once

#include <CLI/CLI.hpp>

namespace tarvex::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

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

}  // namespace tarvex::cli
