// What Windows puts between the tool and a COM port: the driver that made it and the USB ids of
// the adapter, a port that another program holds open (Windows lets one program at a time open
// a COM port, and does not tell which), the FTDI driver's latency timer kept in the adapter's
// "Device Parameters" registry key, and the right to raise scheduling priority that a download
// needs for the real-time priority class.
#include <windows.h>
// windows.h first: the SetupAPI headers need its types.
#include <devguid.h>
#include <setupapi.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "app/cli/Doctor.h"
#include "platform/Files.h"
#include "platform/Text.h"
#include "platform/Utf16Win32.h"
#include "serial/PortProbe.h"
#include "serial/SerialPort.h"

namespace tarvex::cli::doctor {
namespace {

// Latency timers above this make every reply of the panel wait in the adapter noticeably.
constexpr int kSlowLatencyMs = 4;

std::string Hex4(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", static_cast<unsigned>(value));
    return text;
}

// The REG_DWORD "LatencyTimer" of the adapter whose "PortName" is the port, read from its
// device key (Enum\...\Device Parameters), where the FTDI driver keeps it.
std::optional<int> RegistryLatencyTimerMs(const std::string& portName) {
    HDEVINFO set = ::SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    std::optional<int> found;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; !found && ::SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        HKEY key = ::SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE) {
            continue;
        }
        wchar_t name[64] = {};
        DWORD bytes = sizeof name - sizeof(wchar_t);
        DWORD type = 0;
        if (::RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(name),
                               &bytes) == ERROR_SUCCESS &&
            type == REG_SZ && EqualsIgnoringCase(platform::Narrow(name), portName)) {
            DWORD value = 0;
            bytes = sizeof value;
            if (::RegQueryValueExW(key, L"LatencyTimer", nullptr, &type,
                                   reinterpret_cast<BYTE*>(&value), &bytes) == ERROR_SUCCESS &&
                type == REG_DWORD) {
                found = static_cast<int>(value);
            }
        }
        ::RegCloseKey(key);
    }
    ::SetupDiDestroyDeviceInfoList(set);
    return found;
}

// Whether this process's token holds the right that the real-time priority class needs.
bool HoldsIncreaseBasePriority() {
    HANDLE token = nullptr;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token) == 0) {
        return false;
    }
    LUID wanted{};
    bool held = false;
    if (::LookupPrivilegeValueW(nullptr, L"SeIncreaseBasePriorityPrivilege", &wanted) != 0) {
        DWORD bytes = 0;
        (void)::GetTokenInformation(token, TokenPrivileges, nullptr, 0, &bytes);
        std::vector<unsigned char> buffer(bytes);
        if (bytes != 0 &&
            ::GetTokenInformation(token, TokenPrivileges, buffer.data(), bytes, &bytes) != 0) {
            const auto* list = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
            for (DWORD i = 0; i < list->PrivilegeCount; ++i) {
                const LUID& luid = list->Privileges[i].Luid;
                held = held || (luid.LowPart == wanted.LowPart && luid.HighPart == wanted.HighPart);
            }
        }
    }
    ::CloseHandle(token);
    return held;
}

class Win32Checks final : public PlatformChecks {
  public:
    explicit Win32Checks(FindingSink& sink) : sink_(sink) {}

    ProbeOptions Probe() const override { return ProbeOptionsFromEnvironment(); }

    std::optional<PortInfo> ExamineUnlisted(const std::string& device) override {
        ProbeOptions probe = Probe();
        probe.extraPorts = {device};
        for (const PortInfo& p : ProbePorts(probe)) {
            if (p.path == device) {
                return p;
            }
        }
        return std::nullopt;
    }

    std::string NoPortText() const override {
        return "no COM port found: is the adapter plugged in and its driver installed? (Device "
               "Manager shows it under Ports (COM & LPT), or with a yellow mark under Other "
               "devices when the driver is missing)";
    }

    void CheckPort(const PortInfo& p) override {
        if (p.opens) {
            sink_.Add("port", p.path, Level::Ok, "present, opens for reading and writing");
        } else if (p.error == SerialError::Busy || p.error == SerialError::PermissionDenied) {
            sink_.Add("port", p.path, Level::Problem,
                      "busy: another program has it open (access denied); Windows lets one "
                      "program at a time open a COM port",
                      "close the program that holds it (a terminal program, the panel maker's "
                      "tool, another tarvex) or choose another port; if none is running, "
                      "unplug the adapter and plug it in again");
        } else {
            sink_.Add("port", p.path, Level::Problem,
                      "does not open: " + std::string(SerialErrorText(p.error)));
        }
        sink_.Add("port", p.path, Level::Ok, Details(p));
        CheckLatency(p);
    }

    void CheckSystem(bool /*portsPresent*/) override {
        if (HoldsIncreaseBasePriority()) {
            sink_.Add("system", "priority", Level::Ok,
                      "the right to raise scheduling priority is held: a download runs in the "
                      "real-time priority class");
        } else {
            sink_.Add("system", "priority", Level::Warning,
                      "no right to raise scheduling priority (SeIncreaseBasePriorityPrivilege): "
                      "a download runs in the high priority class, where other busy programs "
                      "can still delay the panel's replies",
                      "start the console or the dialog with Run as administrator, or grant the "
                      "user \"Increase scheduling priority\" (secpol.msc, Local Policies, User "
                      "Rights Assignment)");
        }
    }

  private:
    static std::string Details(const PortInfo& p) {
        std::string text = "driver " + (p.driver.empty() ? std::string("unknown") : p.driver);
        if (p.usbVendorId && p.usbProductId) {
            text += ", USB " + Hex4(*p.usbVendorId) + ":" + Hex4(*p.usbProductId);
        } else {
            text += ", not a USB adapter";
        }
        std::string names = p.manufacturer;
        if (!p.product.empty()) {
            names += (names.empty() ? "" : " ") + p.product;
        }
        if (!p.serialNumber.empty()) {
            names += (names.empty() ? "" : ", ") + std::string("serial number ") + p.serialNumber;
        }
        return names.empty() ? text : text + " (" + names + ")";
    }

    void CheckLatency(const PortInfo& p) {
        const std::optional<int> ms =
            p.latencyTimerMs ? p.latencyTimerMs : RegistryLatencyTimerMs(p.path);
        if (!ms) {
            return;
        }
        if (*ms > kSlowLatencyMs) {
            sink_.Add("port", p.path, Level::Warning,
                      "the adapter's latency timer is " + std::to_string(*ms) +
                          " ms: every reply of the panel waits that long in the adapter",
                      "set it to 1 ms: Device Manager, Ports (COM & LPT), " + p.path +
                          ", Properties, Port Settings, Advanced, Latency Timer (msec) 1; then "
                          "plug the adapter in again");
        } else {
            sink_.Add("port", p.path, Level::Ok, "latency timer " + std::to_string(*ms) + " ms");
        }
    }

    FindingSink& sink_;
};

}  // namespace

std::unique_ptr<PlatformChecks> MakePlatformChecks(const Options& /*options*/, FindingSink& sink,
                                                   const std::string& /*appDir*/) {
    return std::make_unique<Win32Checks>(sink);
}

void AddPlatformOptions(CLI::App& /*command*/, Options& /*options*/) {}

std::string PlatformHelpText() {
    return "Looks at every COM port (present, opens or is held by another program, its driver "
           "and USB ids, the FTDI latency timer in the registry), at the right to raise "
           "scheduling priority, and at the workspace in the current directory (DnldData.txt, "
           "every catalogue file in Pxx and Vxx, dnld.sv and the container it names).";
}

std::string ReadFailure(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesW(platform::Widen(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                   ? std::string("No such file or directory")
                   : platform::SystemErrorText(error);
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return "it is a folder";
    }
    HANDLE file = ::CreateFileW(platform::Widen(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return platform::SystemErrorText(::GetLastError());
    }
    ::CloseHandle(file);
    return "a read failed";
}

bool PathExists(const std::string& path) {
    return ::GetFileAttributesW(platform::Widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsAbsolutePath(const std::string& path) {
    const bool drive = path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
    return drive || (!path.empty() && (path.front() == '\\' || path.front() == '/'));
}

std::optional<std::string> FolderUnreadable(const std::string& path) {
    WIN32_FIND_DATAW entry{};
    HANDLE find = ::FindFirstFileW(platform::Widen(platform::JoinPath(path, "*")).c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                   ? std::string("No such file or directory")
                   : platform::SystemErrorText(error);
    }
    ::FindClose(find);
    return std::nullopt;
}

}  // namespace tarvex::cli::doctor
