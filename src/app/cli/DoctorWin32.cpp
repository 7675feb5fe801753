// `doctor` examines what a Linux machine puts between the tool and a port (device permissions,
// ModemManager, brltty, the holders found in /proc). Windows has none of these; there the
// command is not offered, and `tarvex-cli ports` tells which COM ports may be opened.
#include "app/cli/Commands.h"

namespace tarvex::cli {

void RegisterDoctorCommand(CLI::App& /*app*/, int& /*exitStatus*/) {}

}  // namespace tarvex::cli
