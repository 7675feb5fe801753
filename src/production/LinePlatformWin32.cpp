// Windows: the priority class a download raises belongs to the whole process, not to the
// thread that raised it, so forms side by side would restore each other's class; and a COM
// port's coming and going is not watched yet. A Windows line runs one `tarvex-cli download`
// per port.
#include "production/LinePlatform.h"

namespace tarvex::production {

std::string LineUnsupported() {
    return "not supported on this platform yet";
}

bool PortPresent(const std::string& /*port*/) {
    return false;
}

}  // namespace tarvex::production
