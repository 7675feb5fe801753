// Why a serial port cannot be had, and what fixes it: the analysis behind `tarvex-cli ports`,
// `tarvex-cli doctor` and the dialog's status line.
//
//   ExaminePortAccess(path)        owner, group and mode of the device node, whether this user
//                                  may read and write it, whether the user is in its group (in
//                                  this login, or only in the group database), and the command
//                                  that fixes a refusal
//   FindPortHolders(path)          the processes that have the device open (from the process
//                                  table); those of other users may stay hidden
//   FindPortHoldersOfEach(paths)   the same for several devices, in one walk
//   PortLockedElsewhere(path)      an advisory lock is held on the device (another instance)
//   PortHeldElsewhere(path)        either of the two: such a port is left closed
//   IModemLines                    the modem-line request a probe makes, replaceable so that
//                                  tests can watch it on pseudo-terminals, which have no lines
//   PermissionAdvice(access)       one line: who owns the device and the exact fix
//   ExamineLineServices(...)       what else on the system gets between the tool and a USB
//                                  adapter: ModemManager (and whether it is told to leave the
//                                  device alone), brltty, the adapter's latency timer
//
// Opening a serial device makes its driver raise DTR and RTS, and a USB adapter resets on
// every open. So the port list is made without opening any port; a download opens its port
// once, exclusively, and only then asks who else has it, so that nobody can take the port in
// between. A program that holds the port and set the kernel's exclusive mode refuses the open
// before the lines move; one that neither locks nor excludes shares the line's state, and the
// download leaves again at once.
//
// A group change takes effect only in a new login; the advice says so. Joining the group
// "root" is never advised: a device left to root is given to "dialout" instead.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tarvex {

// The group that serial devices are given to on Debian and most distributions.
inline constexpr char kSerialGroup[] = "dialout";

struct PortHolder {
    int pid = 0;
    std::string command;  // the process's name, empty when unknown
};

struct PortAccess {
    bool exists = false;
    bool readWrite = false;  // this process may open it for reading and writing
    std::string owner;       // user name (or number) of the device node
    std::string group;       // group name (or number)
    unsigned mode = 0;       // permission bits, e.g. 0660
    bool groupMayReadWrite = false;
    bool inGroup = false;        // this process has the device's group
    bool listedInGroup = false;  // the group database lists the user, maybe since this login
    std::string user;            // this process's user name
    std::string fixCommand;      // empty when nothing is to be fixed, or nothing can be said
    bool needsNewLogin = false;  // the fix is a group membership: it takes a new login
};

PortAccess ExaminePortAccess(const std::string& path);

// "permission denied: /dev/ttyUSB0 is root:dialout 0660 and alice is not in dialout; fix: ..."
// An empty text when the port may be read and written.
std::string PermissionAdvice(const std::string& path, const PortAccess& access);

// Processes (other than this one) that hold the device open; procRoot is normally "/proc". A
// process that holds the master side of a pseudo-terminal plays the device (the simulated
// panel), and is no holder of its line.
std::vector<PortHolder> FindPortHolders(const std::string& path,
                                        const std::string& procRoot = "/proc");
// The same for several devices in one walk over the process table, in the order of `paths`.
std::vector<std::vector<PortHolder>> FindPortHoldersOfEach(const std::vector<std::string>& paths,
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
// "held by minicom (pid 4711)", or a generic text when the holder is hidden.
std::string HolderText(const std::string& path, const std::vector<PortHolder>& holders);

struct LineServicesOptions {
    std::string sysfsRoot = "/sys";
    std::string procRoot = "/proc";
    std::string udevDataRoot = "/run/udev/data";
    // Where the package's rule that keeps ModemManager away may be installed.
    std::vector<std::string> ruleFiles = {"/etc/udev/rules.d/60-tarvex.rules",
                                          "/usr/lib/udev/rules.d/60-tarvex.rules",
                                          "/lib/udev/rules.d/60-tarvex.rules"};
    std::vector<std::string> brlttyPaths = {"/usr/bin/brltty", "/bin/brltty", "/usr/sbin/brltty",
                                            "/sbin/brltty"};
};

struct LineServices {
    bool modemManagerRunning = false;
    // The device's udev record carries ID_MM_DEVICE_IGNORE=1; nothing when there is no record.
    std::optional<bool> modemManagerIgnores;
    bool ruleInstalled = false;  // the package's udev rule is present
    bool brlttyInstalled = false;
    std::optional<int> latencyTimerMs;  // a USB adapter's latency timer, when it has one
    std::string latencyTimerPath;       // the sysfs attribute that sets it
};

// `path` is the device node, `ttyName` its name under <sysfs>/class/tty (e.g. "ttyUSB0").
LineServices ExamineLineServices(const std::string& path, const std::string& ttyName,
                                 const LineServicesOptions& options);

}  // namespace tarvex
