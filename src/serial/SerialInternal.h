// Helpers shared by the port class, the lines and the port probe on every platform; not part of
// the serial interface. Each platform's files (TermiosLinePosix.cpp, PortAccessLinux.cpp,
// PortListLinux.cpp; CommLineWin32.cpp, PortAccessWin32.cpp, PortListWin32.cpp) provide the
// system's own; SerialPort.cpp the rest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "serial/PortAccess.h"
#include "serial/PortProbe.h"
#include "serial/SerialPort.h"

namespace tarvex::serial_detail {

// None when the port could be had just now, else why not. On Linux nothing is opened: the
// device node, this process's access to it and the advisory locks tell. Where only an open
// can tell (Windows), the port is opened exclusively and released at once, and its DTR and RTS
// are dropped before (through `lines` where the platform's handle fits it), nothing else.
SerialError PortAvailability(const std::string& path, IModemLines& lines);

// The serial devices the system knows of (not yet tried), with what it knows of each. The roots
// serve the Linux listing (sysfs and the device folder); other systems ignore them.
std::vector<PortInfo> ListSystemPorts(const std::string& sysfsRoot, const std::string& devRoot);

// Where ListSystemPorts looks, in words: "the tty devices with a serial driver in ...".
std::string SystemPortSource(const std::string& sysfsRoot);

// The name of the group that owns path, empty when unknown or when the system has no such rule.
std::string OwningGroup(const std::string& path);

// A total time-out of multiplier x count + constant in milliseconds; none when both are 0.
// Capped at the 32-bit range the values come in.
std::optional<std::uint32_t> TotalTimeoutMs(std::uint32_t multiplier, std::uint32_t constant,
                                            std::size_t count);

// Windows' special read time-out: an interval of MAXDWORD with both total terms 0 returns at
// once with whatever is queued.
inline constexpr std::uint32_t kReturnImmediately = 0xFFFFFFFFu;

}  // namespace tarvex::serial_detail
