// Low latency on Linux: ASYNC_LOW_LATENCY through TIOCGSERIAL/TIOCSSERIAL, and the usb-serial
// port's latency_timer attribute in sysfs.
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <charconv>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "platform/Files.h"
#include "platform/Text.h"
#include "serial/LowLatency.h"

namespace tarvex {
namespace {

namespace fs = std::filesystem;

// A ttyUSB port sits three levels below its USB device (port, interface, device).
constexpr int kMaxWalkUp = 6;

std::optional<int> ParseMs(const std::string& text) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty()) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::optional<bool> SystemLatencyControls::GetLowLatencyFlag(int fd) {
    struct serial_struct flags {};
    if (::ioctl(fd, TIOCGSERIAL, &flags) != 0) {
        return std::nullopt;
    }
    return (flags.flags & ASYNC_LOW_LATENCY) != 0;
}

bool SystemLatencyControls::SetLowLatencyFlag(int fd, bool on) {
    struct serial_struct flags {};
    if (::ioctl(fd, TIOCGSERIAL, &flags) != 0) {
        return false;
    }
    if (on) {
        flags.flags |= ASYNC_LOW_LATENCY;
    } else {
        flags.flags &= ~ASYNC_LOW_LATENCY;
    }
    return ::ioctl(fd, TIOCSSERIAL, &flags) == 0;
}

std::optional<std::string> SystemLatencyControls::ReadAttribute(const std::string& path) {
    const platform::FileBytes file = platform::ReadWholeFile(path, 4096);
    if (file.error != platform::ReadError::None) {
        return std::nullopt;
    }
    return std::string(TrimWhitespace(
        std::string_view(reinterpret_cast<const char*>(file.bytes.data()), file.bytes.size())));
}

bool SystemLatencyControls::WriteAttribute(const std::string& path, const std::string& value) {
    // A sysfs attribute is written in place with one write; it cannot be renamed over.
    std::ofstream out(path, std::ios::out);
    out << value << '\n';
    out.flush();
    return out.good();
}

std::string TtyNameOf(const std::string& devicePath) {
    std::error_code ec;
    const fs::path real = fs::canonical(devicePath, ec);
    return (ec ? fs::path(devicePath) : real).filename().string();
}

UsbLatency FindUsbLatency(const std::string& sysfsRoot, const std::string& ttyName) {
    UsbLatency found;
    if (ttyName.empty() || ttyName == "." || ttyName == "..") {
        return found;
    }
    std::error_code ec;
    const fs::path deviceDir =
        fs::canonical(fs::path(sysfsRoot) / "class" / "tty" / ttyName / "device", ec);
    if (ec) {
        return found;  // no device behind it: a pseudo-terminal, a virtual terminal
    }
    fs::path dir = deviceDir;
    for (int depth = 0; depth < kMaxWalkUp && dir.has_relative_path(); ++depth) {
        if (fs::exists(dir / "idVendor", ec) && fs::exists(dir / "idProduct", ec)) {
            found.usb = true;
            break;
        }
        dir = dir.parent_path();
    }
    if (found.usb && fs::exists(deviceDir / "latency_timer", ec)) {
        found.timerPath = (deviceDir / "latency_timer").string();
    }
    return found;
}

std::optional<int> LatencyTimerMs(const std::string& sysfsRoot, const std::string& devicePath) {
    return TtyLatencyTimerMs(sysfsRoot, TtyNameOf(devicePath));
}

std::optional<int> TtyLatencyTimerMs(const std::string& sysfsRoot, const std::string& ttyName) {
    const UsbLatency device = FindUsbLatency(sysfsRoot, ttyName);
    if (device.timerPath.empty()) {
        return std::nullopt;
    }
    SystemLatencyControls controls;
    const std::optional<std::string> text = controls.ReadAttribute(device.timerPath);
    return text ? ParseMs(*text) : std::nullopt;
}

LatencyRestore RequestLowLatency(int fd, const UsbLatency& device, ILatencyControls& controls) {
    LatencyRestore restore;
    if (!device.usb || fd < 0) {
        return restore;
    }
    if (const std::optional<bool> flag = controls.GetLowLatencyFlag(fd); flag && !*flag) {
        restore.flagWasSet = controls.SetLowLatencyFlag(fd, true);
    }
    if (!device.timerPath.empty()) {
        const std::optional<std::string> was = controls.ReadAttribute(device.timerPath);
        const std::optional<int> wasMs = was ? ParseMs(*was) : std::nullopt;
        if (wasMs && *wasMs > kLowLatencyTimerMs &&
            controls.WriteAttribute(device.timerPath, std::to_string(kLowLatencyTimerMs))) {
            restore.timerPath = device.timerPath;
            restore.timerWas = *was;
        }
    }
    return restore;
}

LatencyRestore RequestSystemLowLatency(int fd, const std::string& devicePath) {
    SystemLatencyControls controls;
    return RequestLowLatency(fd, FindUsbLatency("/sys", TtyNameOf(devicePath)), controls);
}

void RestoreLatency(int fd, const LatencyRestore& restore, ILatencyControls& controls) {
    if (restore.flagWasSet && fd >= 0) {
        (void)controls.SetLowLatencyFlag(fd, false);
    }
    if (!restore.timerPath.empty()) {
        (void)controls.WriteAttribute(restore.timerPath, restore.timerWas);
    }
}

EmergencyLatency PrepareEmergencyLatency(int fd, const LatencyRestore& restore) {
    EmergencyLatency prepared;
    struct serial_struct flags {};
    if (restore.flagWasSet && fd >= 0 && ::ioctl(fd, TIOCGSERIAL, &flags) == 0) {
        prepared.restoreFlags = true;
        prepared.serialFlags = flags.flags & ~ASYNC_LOW_LATENCY;
    }
    const std::string text = restore.timerWas + "\n";
    if (!restore.timerPath.empty() && restore.timerPath.size() < sizeof prepared.timerPath &&
        text.size() <= sizeof prepared.timerText) {
        std::memcpy(prepared.timerPath, restore.timerPath.c_str(), restore.timerPath.size() + 1);
        std::memcpy(prepared.timerText, text.data(), text.size());
        prepared.timerTextLength = static_cast<unsigned>(text.size());
    }
    return prepared;
}

void EmergencyRestoreLatency(int fd, const EmergencyLatency& prepared) {
    // ioctl, open, write and close only: plain system calls, safe inside a signal handler.
    const int savedErrno = errno;
    if (prepared.restoreFlags && fd >= 0) {
        struct serial_struct flags {};
        if (::ioctl(fd, TIOCGSERIAL, &flags) == 0) {
            flags.flags = prepared.serialFlags;
            (void)::ioctl(fd, TIOCSSERIAL, &flags);
        }
    }
    if (prepared.timerPath[0] != '\0' && prepared.timerTextLength > 0) {
        const int timer = ::open(prepared.timerPath, O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOFOLLOW);
        if (timer >= 0) {
            const ssize_t ignored = ::write(timer, prepared.timerText, prepared.timerTextLength);
            (void)ignored;
            (void)::close(timer);
        }
    }
    errno = savedErrno;
}

}  // namespace tarvex
