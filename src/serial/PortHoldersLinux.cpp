// Held ports on Linux: advisory locks from /proc/locks, holders from /proc/<pid>/fd, both
// found without opening the device. The modem lines through TIOCMBIC.
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string_view>

#include "serial/PortAccess.h"

namespace tarvex {
namespace {

namespace fs = std::filesystem;

// Unix98 pseudo-terminal slaves: majors 136 to 143, index = (major - 136) * 256 + minor.
constexpr unsigned kPtyFirstMajor = 136;
constexpr unsigned kPtyLastMajor = 143;

bool ParseUnsigned(std::string_view text, unsigned long long& out, int base) {
    const char* end = text.data() + text.size();
    const auto r = std::from_chars(text.data(), end, out, base);
    return r.ec == std::errc() && r.ptr == end && !text.empty();
}

// /proc files report a size of 0: read them to their end through a stream instead.
std::string ReadProcFile(const std::string& path) {
    std::string text;
    if (FILE* f = std::fopen(path.c_str(), "re")) {
        char buf[4096];
        std::size_t n = 0;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
            text.append(buf, n);
        }
        std::fclose(f);
    }
    return text;
}

// The tty index of a pseudo-terminal master descriptor, from its fdinfo.
bool MasterIndex(const std::string& fdinfoPath, unsigned long long& index) {
    std::istringstream in(ReadProcFile(fdinfoPath));
    std::string line;
    while (std::getline(in, line)) {
        constexpr std::string_view kKey = "tty-index:";
        if (line.rfind(kKey, 0) == 0) {
            std::string_view value = std::string_view(line).substr(kKey.size());
            while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
                value.remove_prefix(1);
            }
            return ParseUnsigned(value, index, 10);
        }
    }
    return false;
}

bool IsMasterLink(std::string_view link) {
    return link == "/dev/ptmx" || (link.size() >= 5 && link.substr(link.size() - 5) == "/ptmx");
}

}  // namespace

std::vector<PortHolder> FindPortHolders(const std::string& devicePath,
                                        const std::string& procRoot) {
    std::vector<PortHolder> holders;
    struct stat device {};
    if (::stat(devicePath.c_str(), &device) != 0 || !S_ISCHR(device.st_mode)) {
        return holders;
    }
    const unsigned devMajor = major(device.st_rdev);
    const bool pseudoTerminal = devMajor >= kPtyFirstMajor && devMajor <= kPtyLastMajor;
    const unsigned long long ptyIndex =
        pseudoTerminal ? (devMajor - kPtyFirstMajor) * 256ULL + minor(device.st_rdev) : 0;
    const std::string self = std::to_string(::getpid());

    std::error_code ec;
    for (const auto& process : fs::directory_iterator(procRoot, ec)) {
        const std::string pid = process.path().filename().string();
        unsigned long long pidValue = 0;
        if (!ParseUnsigned(pid, pidValue, 10) || pid == self) {
            continue;
        }
        bool holdsLine = false;
        bool holdsMaster = false;
        std::error_code fdEc;
        // Other users' descriptors are not listed to an ordinary user; they are skipped.
        for (const auto& fd : fs::directory_iterator(process.path() / "fd", fdEc)) {
            std::error_code linkEc;
            const std::string link = fs::read_symlink(fd.path(), linkEc).string();
            if (linkEc || link.rfind("/dev/", 0) != 0) {
                continue;
            }
            if (pseudoTerminal && IsMasterLink(link)) {
                unsigned long long index = 0;
                if (MasterIndex((process.path() / "fdinfo" / fd.path().filename()).string(),
                                index) &&
                    index == ptyIndex) {
                    holdsMaster = true;
                }
                continue;
            }
            struct stat st {};
            if (::stat(fd.path().c_str(), &st) == 0 && S_ISCHR(st.st_mode) &&
                st.st_rdev == device.st_rdev) {
                holdsLine = true;
            }
        }
        if (holdsLine && !holdsMaster) {
            std::string command = ReadProcFile((process.path() / "comm").string());
            while (!command.empty() && command.back() == '\n') {
                command.pop_back();
            }
            holders.push_back({static_cast<int>(pidValue), std::move(command)});
        }
    }
    return holders;
}

bool PortLockedElsewhere(const std::string& devicePath, const std::string& procRoot) {
    struct stat device {};
    if (::stat(devicePath.c_str(), &device) != 0) {
        return false;
    }
    // Lines such as "1: FLOCK  ADVISORY  WRITE 1234 00:05:87 0 EOF": the lock's kind, its
    // holder, and the locked inode as MAJOR:MINOR:INODE of its file system (hex, hex,
    // decimal). Lines with "->" are requests waiting for a lock, not locks.
    std::istringstream in(ReadProcFile(procRoot + "/locks"));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string number, kind, mode, access, pid, inode;
        if (!(fields >> number >> kind) || kind == "->") {
            continue;
        }
        if (!(fields >> mode >> access >> pid >> inode)) {
            continue;
        }
        const std::size_t c1 = inode.find(':');
        const std::size_t c2 = inode.find(':', c1 == std::string::npos ? c1 : c1 + 1);
        if (c1 == std::string::npos || c2 == std::string::npos) {
            continue;
        }
        unsigned long long maj = 0, min = 0, ino = 0;
        if (ParseUnsigned(std::string_view(inode).substr(0, c1), maj, 16) &&
            ParseUnsigned(std::string_view(inode).substr(c1 + 1, c2 - c1 - 1), min, 16) &&
            ParseUnsigned(std::string_view(inode).substr(c2 + 1), ino, 10) &&
            maj == major(device.st_dev) && min == minor(device.st_dev) && ino == device.st_ino) {
            return true;
        }
    }
    return false;
}

bool PortHeldElsewhere(const std::string& devicePath, const std::string& procRoot) {
    return PortLockedElsewhere(devicePath, procRoot) ||
           !FindPortHolders(devicePath, procRoot).empty();
}

namespace {

class SystemLines : public IModemLines {
  public:
    bool DropDtrRts(int handle) override {
        int lines = TIOCM_DTR | TIOCM_RTS;
        return ::ioctl(handle, TIOCMBIC, &lines) == 0 || errno == ENOTTY || errno == EINVAL;
    }
};

}  // namespace

IModemLines& SystemModemLines() {
    static SystemLines lines;  // stateless
    return lines;
}

}  // namespace tarvex
