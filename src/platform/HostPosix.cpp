#include <unistd.h>

#include "platform/Host.h"

namespace tarvex::platform {

std::string HostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) {
        return {};
    }
    return name;
}

std::tm UtcCalendar(std::time_t when) {
    std::tm utc{};
    (void)::gmtime_r(&when, &utc);
    return utc;
}

}  // namespace tarvex::platform
