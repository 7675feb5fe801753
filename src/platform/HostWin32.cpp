#include <windows.h>

#include "platform/Host.h"
#include "platform/Utf16Win32.h"

namespace tarvex::platform {

std::string HostName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 256] = {};
    DWORD size = static_cast<DWORD>(sizeof name / sizeof name[0]);
    if (::GetComputerNameExW(ComputerNameDnsHostname, name, &size) == 0) {
        return {};
    }
    return Narrow(std::wstring_view(name, size));
}

std::tm UtcCalendar(std::time_t when) {
    std::tm utc{};
    (void)::gmtime_s(&utc, &when);
    return utc;
}

}  // namespace tarvex::platform
