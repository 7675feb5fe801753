// Text at the Win32 API: the form keeps UTF-8, the wide-character API takes UTF-16.
//
//   Widen(utf8), Narrow(utf16)   the platform layer's conversions (ill-formed input: U+FFFD)
//   WinFileFilter(f)             "BIN Files (*.bin)|*.bin||" as GetOpenFileNameW takes it: the
//                                parts separated and ended by NUL characters, the list ended by
//                                two
//   EnvironmentValue(name)       an environment variable's value; empty when unset
#pragma once

#include <string>
#include <string_view>

#include "platform/Utf16Win32.h"

namespace tarvex::win32 {

using platform::Narrow;
using platform::Widen;

std::wstring WinFileFilter(std::string_view filter);
std::wstring EnvironmentValue(const wchar_t* name);

}  // namespace tarvex::win32
