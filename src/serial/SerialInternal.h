// Helpers shared by the port class and the port probe; not part of the serial interface.
#pragma once

#include <termios.h>

#include <string>
#include <vector>

#include "serial/PortProbe.h"
#include "serial/SerialPort.h"

namespace tarvex::serial_detail {

// A device opened for this program alone.
struct ExclusiveDevice {
    int fd = -1;
    SerialError error = SerialError::None;  // why it did not open
    bool exclusiveSet = false;              // TIOCEXCL was set by us and must be cleared
    struct termios settings {};             // the settings found at open
};

// Opens path read-write, non-blocking, close-on-exec and without becoming its controlling
// terminal, takes the advisory lock and sets the kernel's exclusive mode. Nothing else about
// the device changes.
ExclusiveDevice OpenExclusive(const std::string& path);

// Undoes OpenExclusive: exclusive mode, lock, descriptor.
void ReleaseExclusive(int fd, bool exclusiveSet);

// True for the slave side of a pseudo-terminal, which has no line of its own.
bool IsPseudoTerminal(int fd);

// The device's running counts of line errors; false when the driver keeps none (a
// pseudo-terminal, some USB adapters).
bool ReadLineErrorCounts(int fd, LineErrorCounts& out);

// The serial devices the system knows of (not yet tried), with what it knows of each.
std::vector<PortInfo> ListSystemPorts(const std::string& sysfsRoot, const std::string& devRoot);

// The name of the group that owns path, empty when unknown.
std::string OwningGroup(const std::string& path);

}  // namespace tarvex::serial_detail
