// What a listening socket needs before it binds, the one part that differs between the
// platforms: on POSIX a restarted dashboard may take its port back while old connections
// linger; on Windows no other program may bind the same port beside it.
#pragma once

#include <cstdint>

namespace tarvex::dashboard {

// `handle` is the socket's native handle; false when the option could not be set.
bool PrepareListenSocket(std::uintptr_t handle);

}  // namespace tarvex::dashboard
