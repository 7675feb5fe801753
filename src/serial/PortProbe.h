// Which serial ports this machine has.
//
//   ProbePorts(options)   every candidate device with what the system knows of it, and whether
//                         it opens now; listed in natural order (ttyS2 before ttyS10)
//   OpenablePorts(...)    the device paths of those that open, for the Com Port list
//
// Candidates on Linux are the tty devices with a driver behind them (a "device" link under
// <sysfs>/class/tty), less legacy 8250 ports that have no UART; on Windows the COM ports the
// system names (PortListWin32.cpp), listed as "COMn". To either come the paths named in
// TARVEX_EXTRA_PORTS (colon separated; empty items and repeats ignored). A candidate without a
// device node is left out. On Linux probing opens nothing (a USB adapter resets at every open);
// on Windows it opens and closes, and nothing is configured.
//
//   PortAvailable(path)   the same judgement for one path, as the probe makes it
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "serial/PortAccess.h"
#include "serial/SerialPort.h"

namespace tarvex {

struct ProbeOptions {
    std::string sysfsRoot = "/sys";
    std::string devRoot = "/dev";
    std::vector<std::string> extraPorts;  // usually from TARVEX_EXTRA_PORTS
    IModemLines* modemLines = nullptr;    // the request that drops DTR and RTS; none: the system's
    // Also look for programs that hold a port without locking it: one walk over the process
    // table per probe, worth it where a person asks why a port is busy (`ports`, `doctor`).
    // Without it such a port is listed as free and the download's exclusive open finds out.
    bool findHolders = false;
};

// ProbeOptions with the extra ports taken from the environment.
ProbeOptions ProbeOptionsFromEnvironment();

struct PortInfo {
    std::string path;                       // device path, as it goes into the Com Port list
    bool opens = false;                     // a download could have it just now
    SerialError error = SerialError::None;  // why it did not open
    std::string driver;                     // kernel driver name, empty when unknown
    std::optional<std::uint16_t> usbVendorId;
    std::optional<std::uint16_t> usbProductId;
    std::string manufacturer;
    std::string product;
    std::string serialNumber;
    // Where the device sits, to name a fixture by (Windows: its location path, for a USB device
    // the socket; see FixtureNames.h); empty when unknown.
    std::string location;
    std::string group;                  // with PermissionDenied: the group that owns the device
    std::optional<int> latencyTimerMs;  // a USB adapter's latency timer (LatencyTimerMs)
    bool fromEnvironment = false;
};

std::vector<PortInfo> ProbePorts(const ProbeOptions& options);
// The candidates with what the system knows of them, without opening any: safe while other
// ports of the machine are in use by this process.
std::vector<PortInfo> ListPorts(const ProbeOptions& options);
std::vector<std::string> OpenablePorts(const ProbeOptions& options);
// None when a download could have the port at `path` now, else why not; told as ProbePorts
// tells it, without the process table.
SerialError PortAvailable(const std::string& path, const ProbeOptions& options);
// Where the probe looks, for a message that found nothing there: the system's part and the
// extra ports.
std::string PortSearchText(const ProbeOptions& options);

// "ttyS2" < "ttyS10": digit runs compare by value.
bool NaturalLess(const std::string& a, const std::string& b);

}  // namespace tarvex
