// Text at the Win32 API: the form keeps UTF-8, the wide-character API takes UTF-16.
//
//   Widen(utf8)          UTF-16 for the API; ill-formed bytes show as U+FFFD
//   Narrow(utf16)        UTF-8 for the form
//   WinFileFilter(f)     "BIN Files (*.bin)|*.bin||" as GetOpenFileNameW takes it: the parts
//                        separated and ended by NUL characters, the list ended by two
#pragma once

#include <string>
#include <string_view>

namespace tarvex::win32 {

std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);
std::wstring WinFileFilter(std::string_view filter);

}  // namespace tarvex::win32
