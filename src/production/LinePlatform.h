// What a production line needs of the platform.
//
//   LineUnsupported()      why this platform cannot run forms side by side in one process
//                          yet; empty where it can (on Linux each port's thread raises and
//                          restores its own priority)
//   PortPresent(port)      the port's device is there now (a station waits for it to appear
//                          and to go away)
//   DeviceKey(port)        the same text for every name of one device (a by-id link and its
//                          node; COM3 and \\.\COM3), found without opening it; empty when the
//                          device is not there
//
// LinePlatformLinux.cpp and LinePlatformWin32.cpp are the two implementations.
#pragma once

#include <string>

namespace tarvex::production {

std::string LineUnsupported();
bool PortPresent(const std::string& port);
std::string DeviceKey(const std::string& port);

}  // namespace tarvex::production
