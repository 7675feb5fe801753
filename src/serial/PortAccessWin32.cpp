// Port access on Windows: a COM port has no owner, group or mode to advise on, and the
// process that holds one is not named by the system; a busy port is only known as busy.
#include "serial/PortAccess.h"

#include "serial/SerialInternal.h"

namespace tarvex {

PortAccess ExaminePortAccess(const std::string& /*path*/) {
    PortAccess access;
    access.exists = true;
    access.readWrite = true;
    return access;
}

std::string PermissionAdvice(const std::string& /*path*/, const PortAccess& /*access*/) {
    return {};
}

std::vector<PortHolder> FindPortHolders(const std::string& /*path*/,
                                        const std::string& /*procRoot*/) {
    return {};
}

std::string HolderText(const std::string& /*path*/, const std::vector<PortHolder>& /*holders*/) {
    return "held by another program";
}

std::vector<std::vector<PortHolder>> FindPortHoldersOfEach(const std::vector<std::string>& paths,
                                                           const std::string& /*procRoot*/) {
    return std::vector<std::vector<PortHolder>>(paths.size());
}

bool PortLockedElsewhere(const std::string& /*devicePath*/, const std::string& /*procRoot*/) {
    return false;  // a COM port opened without sharing is refused to everyone else anyway
}

bool PortHeldElsewhere(const std::string& /*devicePath*/, const std::string& /*procRoot*/) {
    return false;
}

namespace serial_detail {

std::string OwningGroup(const std::string& /*path*/) {
    return {};  // COM ports are not given to groups on Windows
}

}  // namespace serial_detail

namespace {

// The probe drops the lines through the port's own handle (EscapeCommFunction).
class NoModemLines : public IModemLines {
  public:
    bool DropDtrRts(int /*handle*/) override { return true; }
};

}  // namespace

IModemLines& SystemModemLines() {
    static NoModemLines lines;  // stateless
    return lines;
}

LineServices ExamineLineServices(const std::string& /*path*/, const std::string& /*ttyName*/,
                                 const LineServicesOptions& /*options*/) {
    return {};
}

}  // namespace tarvex
