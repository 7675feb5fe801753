#include "app/cli/Commands.h"

namespace tarvex::cli {

void RegisterInspectCommand(CLI::App& app, int& exitStatus) {
    auto* cmd = app.add_subcommand("inspect", "Check a download container and show its contents");
    cmd->callback([&exitStatus] { exitStatus = kExitFailure; });
}

}  // namespace tarvex::cli
