// Port access on Linux: the device node's owner, group and mode against this process's
// credentials, the holders of a device from /proc/<pid>/fd, and the services that claim USB
// serial adapters.
#include "serial/PortAccess.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/Files.h"
#include "platform/Text.h"
#include "serial/SerialInternal.h"

namespace tarvex {
namespace {

namespace fs = std::filesystem;

std::string UserName(uid_t uid) {
    std::vector<char> buf(16384);
    passwd pw{};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &pw, buf.data(), buf.size(), &found) == 0 && found != nullptr) {
        return found->pw_name;
    }
    return std::to_string(uid);
}

// The group's name and whether the database lists `user` as a member.
std::string GroupName(gid_t gid, const std::string& user, bool& listsUser) {
    listsUser = false;
    std::vector<char> buf(65536);
    group gr{};
    group* found = nullptr;
    if (::getgrgid_r(gid, &gr, buf.data(), buf.size(), &found) != 0 || found == nullptr) {
        return std::to_string(gid);
    }
    for (char** member = found->gr_mem; member != nullptr && *member != nullptr; ++member) {
        listsUser = listsUser || user == *member;
    }
    return found->gr_name;
}

bool ProcessHasGroup(gid_t gid) {
    if (::getegid() == gid) {
        return true;
    }
    const int count = ::getgroups(0, nullptr);
    if (count <= 0) {
        return false;
    }
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    const int got = ::getgroups(count, groups.data());
    return got > 0 && std::find(groups.begin(), groups.begin() + got, gid) != groups.begin() + got;
}

std::optional<gid_t> GroupId(const char* name) {
    std::vector<char> buf(65536);
    group gr{};
    group* found = nullptr;
    if (::getgrnam_r(name, &gr, buf.data(), buf.size(), &found) == 0 && found != nullptr) {
        return found->gr_gid;
    }
    return std::nullopt;
}

std::string ReadSmallFile(const std::string& path) {
    const platform::FileBytes file = platform::ReadWholeFile(path, 64 * 1024);
    if (file.error != platform::ReadError::None) {
        return {};
    }
    return std::string(reinterpret_cast<const char*>(file.bytes.data()), file.bytes.size());
}

bool AllDigits(const std::string& s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string OctalMode(unsigned mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", mode & 07777U);
    return text;
}

}  // namespace

PortAccess ExaminePortAccess(const std::string& path) {
    PortAccess a;
    a.user = UserName(::geteuid());
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return a;
    }
    a.exists = true;
    a.mode = st.st_mode & 07777U;
    a.owner = UserName(st.st_uid);
    a.group = GroupName(st.st_gid, a.user, a.listedInGroup);
    a.groupMayReadWrite = (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    a.inGroup = ProcessHasGroup(st.st_gid);
    {
        // The user's primary group counts as membership too.
        std::vector<char> buf(16384);
        passwd pw{};
        passwd* found = nullptr;
        if (::getpwuid_r(::geteuid(), &pw, buf.data(), buf.size(), &found) == 0 &&
            found != nullptr && found->pw_gid == st.st_gid) {
            a.listedInGroup = true;
        }
    }
    a.readWrite = ::faccessat(AT_FDCWD, path.c_str(), R_OK | W_OK, AT_EACCESS) == 0;
    if (a.readWrite) {
        return a;
    }

    const bool rootGroup = st.st_gid == 0;
    if (rootGroup || !a.groupMayReadWrite) {
        // Never "join root": give the device to the serial group, then join that.
        const std::optional<gid_t> serial = GroupId(kSerialGroup);
        std::string command =
            "sudo chgrp " + std::string(kSerialGroup) + " " + path + " && sudo chmod g+rw " + path;
        if (!rootGroup) {
            command = "sudo chmod g+rw " + path;
        }
        const bool inSerial = serial && ProcessHasGroup(*serial);
        if (rootGroup && !inSerial) {
            command += " && sudo usermod -aG " + std::string(kSerialGroup) + " " + a.user;
            a.needsNewLogin = true;
        } else if (!rootGroup && !a.inGroup) {
            command += " && sudo usermod -aG " + a.group + " " + a.user;
            a.needsNewLogin = true;
        }
        a.fixCommand = command;
    } else if (!a.inGroup && a.listedInGroup) {
        a.fixCommand = "newgrp " + a.group;  // or a new login
        a.needsNewLogin = true;
    } else if (!a.inGroup) {
        a.fixCommand = "sudo usermod -aG " + a.group + " " + a.user;
        a.needsNewLogin = true;
    }
    return a;
}

namespace serial_detail {

std::string OwningGroup(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return {};
    }
    bool listsUser = false;
    return GroupName(st.st_gid, std::string(), listsUser);
}

}  // namespace serial_detail

std::string PermissionAdvice(const std::string& path, const PortAccess& a) {
    if (!a.exists || a.readWrite) {
        return {};
    }
    std::string text = "permission denied (" + a.owner + ":" + a.group + " " + OctalMode(a.mode);
    if (a.group == "root" || a.group == "0") {
        text += "; the device is left to root";
    } else if (!a.groupMayReadWrite) {
        text += "; its group may not read and write it";
    } else if (!a.inGroup && a.listedInGroup) {
        text += "; " + a.user + " was added to " + a.group + " after this login began";
    } else if (!a.inGroup) {
        text += "; " + a.user + " is not in " + a.group;
    }
    text += ")";
    if (a.fixCommand.empty()) {
        text += ": ask the administrator for read and write access to " + path;
        return text;
    }
    text += ": " + a.fixCommand;
    if (a.needsNewLogin) {
        text += a.fixCommand.rfind("newgrp", 0) == 0
                    ? " in the shell that runs the tool, or log out and in again"
                    : ", then log out and in again (a group change needs a new login)";
    }
    if (a.group == "root" || a.group == "0") {
        text += "; the package's udev rule gives such devices to " + std::string(kSerialGroup) +
                " for good";
    }
    return text;
}

std::string HolderText(const std::string& path, const std::vector<PortHolder>& holders) {
    if (holders.empty()) {
        return "held by another program (not visible to this user; sudo fuser -v " + path +
               " names it)";
    }
    std::string text = "held by ";
    for (std::size_t i = 0; i < holders.size(); ++i) {
        text += i == 0 ? "" : ", ";
        text += (holders[i].command.empty() ? std::string("a process") : holders[i].command) +
                " (pid " + std::to_string(holders[i].pid) + ")";
    }
    return text;
}

LineServices ExamineLineServices(const std::string& path, const std::string& ttyName,
                                 const LineServicesOptions& options) {
    LineServices s;
    std::error_code ec;
    for (fs::directory_iterator it(options.procRoot, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string pid = it->path().filename().string();
        if (AllDigits(pid) &&
            TrimWhitespace(ReadSmallFile((it->path() / "comm").string())) == "ModemManager") {
            s.modemManagerRunning = true;
            break;
        }
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode)) {
        const std::string record = options.udevDataRoot + "/c" + std::to_string(major(st.st_rdev)) +
                                   ":" + std::to_string(minor(st.st_rdev));
        if (platform::FileExists(record)) {
            const std::string text = ReadSmallFile(record);
            s.modemManagerIgnores = text.find("E:ID_MM_DEVICE_IGNORE=1") != std::string::npos;
        }
    }
    s.ruleInstalled = std::any_of(options.ruleFiles.begin(), options.ruleFiles.end(),
                                  [](const std::string& f) { return platform::FileExists(f); });
    s.brlttyInstalled =
        std::any_of(options.brlttyPaths.begin(), options.brlttyPaths.end(),
                    [](const std::string& f) { return ::access(f.c_str(), X_OK) == 0; });
    if (!ttyName.empty()) {
        const std::string attribute =
            options.sysfsRoot + "/class/tty/" + ttyName + "/device/latency_timer";
        const std::string value(TrimWhitespace(ReadSmallFile(attribute)));
        if (AllDigits(value) && value.size() < 6) {
            s.latencyTimerMs = std::atoi(value.c_str());
            s.latencyTimerPath = attribute;
        }
    }
    return s;
}

}  // namespace tarvex
