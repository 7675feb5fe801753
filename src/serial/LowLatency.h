// Low latency on USB serial adapters.
//
// Many USB serial adapters hold received bytes for up to 16 ms before passing them on (the
// FTDI chips' latency timer, the kernel's tty buffering). The panel protocol waits for one
// short reply per frame, so that delay can cost more than the data itself. When the port is a
// USB serial device, opening it asks the driver for low latency and puts back what was there
// when it closes:
//
//   - the driver's low-latency flag (ASYNC_LOW_LATENCY through TIOCGSERIAL/TIOCSSERIAL on
//     Linux), when the driver takes it;
//   - the adapter's latency timer (the "latency_timer" attribute of the usb-serial port in
//     sysfs), set to 1 ms where it is writable.
//
// A pseudo-terminal or a UART has neither, and nothing is done there. Every failure is silent:
// low latency is an improvement, never a condition for the download.
//
// The device access goes through ILatencyControls, so that tests decide with a fake sysfs and a
// recorded ioctl instead of a real adapter.
#pragma once

#include <optional>
#include <string>

namespace tarvex {

inline constexpr int kLowLatencyTimerMs = 1;

// How the driver is asked; the system's implementation uses ioctl and sysfs files.
class ILatencyControls {
  public:
    virtual ~ILatencyControls() = default;
    // The driver's low-latency flag; nothing when the driver keeps no serial flags.
    virtual std::optional<bool> GetLowLatencyFlag(int fd) = 0;
    virtual bool SetLowLatencyFlag(int fd, bool on) = 0;
    // A sysfs attribute's text (trimmed); nothing when it cannot be read.
    virtual std::optional<std::string> ReadAttribute(const std::string& path) = 0;
    virtual bool WriteAttribute(const std::string& path, const std::string& value) = 0;
};

// The system's own controls (no state; a fresh one per use is fine).
class SystemLatencyControls final : public ILatencyControls {
  public:
    std::optional<bool> GetLowLatencyFlag(int fd) override;
    bool SetLowLatencyFlag(int fd, bool on) override;
    std::optional<std::string> ReadAttribute(const std::string& path) override;
    bool WriteAttribute(const std::string& path, const std::string& value) override;
};

// What the system knows of a tty's latency.
struct UsbLatency {
    bool usb = false;       // the tty belongs to a USB device
    std::string timerPath;  // its adapter's latency_timer attribute; empty when it has none
};

// The tty name of a device path, links followed: /dev/serial/by-id/usb-X -> "ttyUSB0".
std::string TtyNameOf(const std::string& devicePath);
// Looks the tty up under <sysfsRoot>/class/tty.
UsbLatency FindUsbLatency(const std::string& sysfsRoot, const std::string& ttyName);
// The adapter's latency timer in milliseconds; nothing for a device without one. For `ports`
// and `doctor`.
std::optional<int> LatencyTimerMs(const std::string& sysfsRoot, const std::string& devicePath);
// The same for a tty name as listed under <sysfsRoot>/class/tty.
std::optional<int> TtyLatencyTimerMs(const std::string& sysfsRoot, const std::string& ttyName);

// What RequestLowLatency changed, so that RestoreLatency puts exactly that back.
struct LatencyRestore {
    bool flagWasSet = false;  // we set the low-latency flag; clear it again
    std::string timerPath;    // we changed this timer ...
    std::string timerWas;     // ... from this value
    bool Empty() const { return !flagWasSet && timerPath.empty(); }
};

// What RestoreLatency puts back, in the form a signal handler can use: fixed buffers, no
// allocation, so that the emergency exit of a second Ctrl-C writes it with open, write, ioctl
// and close alone. Made once at open (PrepareEmergencyLatency), when nothing is urgent.
struct EmergencyLatency {
    bool restoreFlags = false;  // write serialFlags back through the driver
    int serialFlags = 0;        // the driver's serial flags as found, low latency as it was
    char timerPath[256] = {};   // empty: no timer to put back (or a path too long to keep)
    char timerText[32] = {};    // the timer's old value and a line end
    unsigned timerTextLength = 0;
};

// Asks for low latency on an open descriptor of a USB serial device; changes nothing on any
// other device, and leaves alone what is already as wanted.
LatencyRestore RequestLowLatency(int fd, const UsbLatency& device, ILatencyControls& controls);
// RequestLowLatency for an open device path with the system's own controls and device tree:
// what a port does at open.
LatencyRestore RequestSystemLowLatency(int fd, const std::string& devicePath);
// Puts back what RequestLowLatency changed. Call before the descriptor is closed.
void RestoreLatency(int fd, const LatencyRestore& restore, ILatencyControls& controls);

// The emergency form of `restore` for the open descriptor fd (the driver's flags are read now).
EmergencyLatency PrepareEmergencyLatency(int fd, const LatencyRestore& restore);
// Puts back what `prepared` holds: async-signal-safe, errno kept. Call before fd is closed.
void EmergencyRestoreLatency(int fd, const EmergencyLatency& prepared);

}  // namespace tarvex
