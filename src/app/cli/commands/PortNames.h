// Which name of a port stays the same for a fixture.
//
//   UnstableNameWarning(port, devRoot)   empty for a port whose usual name is stable; for a USB
//                                        adapter without a serial number (many CH340 and PL2303
//                                        adapters), why its by-id name is not, and the name of
//                                        the USB socket to use instead
//
// PortNamesLinux.cpp and PortNamesWin32.cpp are the two implementations: on Windows a COM
// number already follows the socket for such an adapter.
#pragma once

#include <string>

#include "serial/PortProbe.h"

namespace tarvex::cli {

std::string UnstableNameWarning(const PortInfo& port, const std::string& devRoot);

}  // namespace tarvex::cli
