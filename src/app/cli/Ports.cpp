#include "app/cli/Commands.h"

namespace tarvex::cli {

void RegisterPortsCommand(CLI::App& app, int& exitStatus) {
    auto* cmd = app.add_subcommand("ports", "List the serial ports of this machine");
    cmd->callback([&exitStatus] { exitStatus = kExitFailure; });
}

}  // namespace tarvex::cli
