// UTF-8 inside the program, UTF-16 at the Windows API; for Win32 code only.
#pragma once

#include <string>
#include <string_view>

namespace tarvex::platform {

// Invalid sequences become U+FFFD in either direction.
std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);

// The text of a Windows error code (GetLastError), without the trailing line break.
std::string SystemErrorText(unsigned long code);

}  // namespace tarvex::platform
