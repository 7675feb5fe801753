#include "app/win32/WideText.h"

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

}  // namespace tarvex::win32
