// Windows gives an adapter without a serial number a COM number per USB socket, so the COM
// name already stays with the fixture.
#include "app/cli/commands/PortNames.h"

namespace tarvex::cli {

std::string UnstableNameWarning(const PortInfo&, const std::string&) {
    return {};
}

}  // namespace tarvex::cli
