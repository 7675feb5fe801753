// File helpers that take a POSIX descriptor; for POSIX code only.
#pragma once

#include <string_view>

namespace tarvex::platform {

// Writes all of content to an open descriptor, continuing partial and interrupted writes.
// False on an error (errno tells why).
bool WriteAll(int fd, std::string_view content);

}  // namespace tarvex::platform
