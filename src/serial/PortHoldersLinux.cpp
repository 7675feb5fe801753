// Held ports on Linux: advisory locks from /proc/locks, holders from /proc/<pid>/fd, both
// found without opening the device, and the rest of what the port list tells without opening
// one. The modem lines through TIOCMBIC.
#include <fcntl.h>
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
#include "serial/SerialInternal.h"
#include "serial/TermiosLinePosix.h"

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

std::vector<std::vector<PortHolder>> FindPortHoldersOfEach(const std::vector<std::string>& paths,
                                                           const std::string& procRoot) {
    std::vector<std::vector<PortHolder>> holders(paths.size());
    // The devices asked about, as the kernel knows them; a path that is no device has no
    // holders and costs no look.
    struct Wanted {
        std::size_t index;
        dev_t rdev;
        bool pseudoTerminal;
        unsigned long long ptyIndex;
    };
    std::vector<Wanted> wanted;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        struct stat device {};
        if (::stat(paths[i].c_str(), &device) != 0 || !S_ISCHR(device.st_mode)) {
            continue;
        }
        const unsigned devMajor = major(device.st_rdev);
        const bool pty = devMajor >= kPtyFirstMajor && devMajor <= kPtyLastMajor;
        wanted.push_back({i, device.st_rdev, pty,
                          pty ? (devMajor - kPtyFirstMajor) * 256ULL + minor(device.st_rdev) : 0});
    }
    if (wanted.empty()) {
        return holders;
    }
    const std::string self = std::to_string(::getpid());

    // One walk over the process table for all of them: it reads a link per open descriptor of
    // every process, which is what costs.
    std::error_code ec;
    for (const auto& process : fs::directory_iterator(procRoot, ec)) {
        const std::string pid = process.path().filename().string();
        unsigned long long pidValue = 0;
        if (!ParseUnsigned(pid, pidValue, 10) || pid == self) {
            continue;
        }
        std::vector<bool> holdsLine(wanted.size(), false);
        std::vector<bool> holdsMaster(wanted.size(), false);
        std::error_code fdEc;
        // Other users' descriptors are not listed to an ordinary user; they are skipped.
        for (const auto& fd : fs::directory_iterator(process.path() / "fd", fdEc)) {
            std::error_code linkEc;
            const std::string link = fs::read_symlink(fd.path(), linkEc).string();
            if (linkEc || link.rfind("/dev/", 0) != 0) {
                continue;
            }
            if (IsMasterLink(link)) {
                unsigned long long index = 0;
                bool indexRead = false;
                for (std::size_t w = 0; w < wanted.size(); ++w) {
                    if (!wanted[w].pseudoTerminal) {
                        continue;
                    }
                    if (!indexRead) {
                        indexRead = true;
                        if (!MasterIndex(
                                (process.path() / "fdinfo" / fd.path().filename()).string(),
                                index)) {
                            break;
                        }
                    }
                    holdsMaster[w] = holdsMaster[w] || index == wanted[w].ptyIndex;
                }
                continue;
            }
            struct stat st {};
            if (::stat(fd.path().c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) {
                continue;
            }
            for (std::size_t w = 0; w < wanted.size(); ++w) {
                holdsLine[w] = holdsLine[w] || st.st_rdev == wanted[w].rdev;
            }
        }
        std::string command;
        for (std::size_t w = 0; w < wanted.size(); ++w) {
            if (!holdsLine[w] || holdsMaster[w]) {
                continue;
            }
            if (command.empty()) {
                command = ReadProcFile((process.path() / "comm").string());
                while (!command.empty() && command.back() == '\n') {
                    command.pop_back();
                }
            }
            holders[wanted[w].index].push_back({static_cast<int>(pidValue), command});
        }
    }
    return holders;
}

std::vector<PortHolder> FindPortHolders(const std::string& devicePath,
                                        const std::string& procRoot) {
    return FindPortHoldersOfEach({devicePath}, procRoot).front();
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

namespace serial_detail {

SerialError PortAvailability(const std::string& path, IModemLines& /*lines*/) {
    // Opening a USB adapter resets it and pulses DTR and RTS, which resets some panels: what
    // can be told of a port without opening it is told that way. A program that holds the port
    // without a lock is found by the download's own open, which is exclusive.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return SerialErrorFromErrno(errno);
    }
    if (!S_ISCHR(st.st_mode)) {
        return SerialError::NotATerminal;
    }
    if (::faccessat(AT_FDCWD, path.c_str(), R_OK | W_OK, AT_EACCESS) != 0) {
        return SerialErrorFromErrno(errno);
    }
    return PortLockedElsewhere(path) ? SerialError::Busy : SerialError::None;
}

}  // namespace serial_detail

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
