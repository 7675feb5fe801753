// `gang` and `station` run one form per port on threads of one process. On Windows the
// priority class that a download raises belongs to the whole process, not to the thread that
// raised it, so forms side by side would restore each other's class; and a station watches
// ports the way Linux names them (sysfs, /dev/serial/by-id). Neither command is offered there:
// a Windows line runs one `tarvex-cli download` per port.
#include "app/cli/Commands.h"

namespace tarvex::cli {

void RegisterGangCommand(CLI::App& /*app*/, int& /*exitStatus*/) {}

void RegisterStationCommand(CLI::App& /*app*/, int& /*exitStatus*/) {}

}  // namespace tarvex::cli
