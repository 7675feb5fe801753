// What is known of a port before it is opened, and the modem-line request a probe makes.
//
// Opening a serial device makes its driver raise DTR and RTS; when another program holds the
// port, the lines stay up until that program closes it, and an RS-485 converter that switches
// direction on RTS then drives the bus against the panel's replies. So a held port is left
// closed, and a free one that was opened gets its lines dropped at once.
//
//   PortLockedElsewhere(path)   an advisory lock is held on the device (by another instance)
//   FindPortHolders(path)       the other processes that have the device open, as far as this
//                               process may see them (all of them for root)
//   PortHeldElsewhere(path)     either of the two
//   IModemLines                 the modem-line request, replaceable so that tests can watch it
//                               on pseudo-terminals, which have no lines
#pragma once

#include <string>
#include <vector>

namespace tarvex {

struct PortHolder {
    int pid = 0;
    std::string command;  // the program's name, as the system shows it
};

// A process that holds the master side of a pseudo-terminal plays the device (the simulated
// panel), and is no holder of its line. This process is never listed.
std::vector<PortHolder> FindPortHolders(const std::string& devicePath,
                                        const std::string& procRoot = "/proc");

bool PortLockedElsewhere(const std::string& devicePath, const std::string& procRoot = "/proc");

bool PortHeldElsewhere(const std::string& devicePath, const std::string& procRoot = "/proc");

class IModemLines {
  public:
    virtual ~IModemLines() = default;
    // Drops DTR and RTS on an open device (its native handle). True when done, or when the
    // device has no modem lines (a pseudo-terminal, some USB adapters).
    virtual bool DropDtrRts(int handle) = 0;
};

// The system's own request; it keeps no state.
IModemLines& SystemModemLines();

}  // namespace tarvex
