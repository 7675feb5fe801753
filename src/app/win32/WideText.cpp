#include "app/win32/WideText.h"

#include "app/win32/Win32Api.h"

namespace tarvex::win32 {

std::wstring WinFileFilter(std::string_view filter) {
    std::wstring wide = Widen(filter);
    // "Description|pattern|...||": every bar ends a part. A filter not ended by a bar still
    // gets its ending NUL; the caller's buffer adds the final one through c_str().
    while (!wide.empty() && wide.back() == L'|') {
        wide.pop_back();
    }
    for (wchar_t& c : wide) {
        if (c == L'|') {
            c = L'\0';
        }
    }
    wide.push_back(L'\0');
    return wide;
}

std::wstring EnvironmentValue(const wchar_t* name) {
    const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0) {
        return {};
    }
    std::wstring value(size, L'\0');
    const DWORD length = GetEnvironmentVariableW(name, value.data(), size);
    value.resize(length < size ? length : 0);
    return value;
}

}  // namespace tarvex::win32
