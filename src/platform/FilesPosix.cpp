#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>

#include "platform/Files.h"
#include "platform/FilesPosix.h"
#include "platform/Text.h"

namespace tarvex::platform {
namespace {

// Closes a descriptor when it goes out of scope.
class FdGuard {
  public:
    explicit FdGuard(int fd) : fd_(fd) {}
    FdGuard(const FdGuard&) = delete;
    FdGuard& operator=(const FdGuard&) = delete;
    ~FdGuard() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

  private:
    int fd_;
};

std::string LowerCopy(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return out;
}

}  // namespace

const char kPathSeparator = '/';
// Drive Z: of the form's fixed log path is the file-system root, as Wine maps it.
const char kFormTimingLogPath[] = "/Current_FE/TRANSFER/ReadTimeDiff.csv";

std::size_t LastSeparator(std::string_view path) {
    return path.rfind('/');
}

bool IsAbsolutePath(std::string_view path) {
    return !path.empty() && path.front() == '/';
}

bool WriteAll(int fd, std::string_view content) {
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string CurrentDirectory() {
    std::error_code ec;
    auto path = std::filesystem::current_path(ec);
    return ec ? std::string(".") : path.string();
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

FileBytes ReadWholeFile(const std::string& path, std::uint64_t maxBytes) {
    FileBytes result;
    FdGuard fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        result.error = ReadError::CannotOpen;
        return result;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        result.error = ReadError::ReadFailed;
        return result;
    }
    if (S_ISDIR(st.st_mode)) {
        result.error = ReadError::CannotOpen;
        return result;
    }
    result.fileSize = static_cast<std::uint64_t>(st.st_size);
    if (result.fileSize > maxBytes) {
        result.error = ReadError::TooLarge;
        return result;
    }
    result.bytes.reserve(static_cast<std::size_t>(result.fileSize));
    std::uint8_t chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            result.error = ReadError::ReadFailed;
            result.bytes.clear();
            return result;
        }
        if (n == 0) {
            break;
        }
        if (result.bytes.size() + static_cast<std::size_t>(n) > maxBytes) {
            // The file grew while it was read.
            result.error = ReadError::TooLarge;
            result.bytes.clear();
            return result;
        }
        result.bytes.insert(result.bytes.end(), chunk, chunk + n);
    }
    result.fileSize = result.bytes.size();
    return result;
}

bool WriteFileAtomically(const std::string& path, std::string_view content, unsigned mode,
                         FileSync sync) {
    const std::filesystem::path target(path);
    const std::filesystem::path dir =
        target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    std::string tmpl = (dir / ("." + target.filename().string() + ".XXXXXX")).string();
    FdGuard fd(::mkostemp(tmpl.data(), O_CLOEXEC));
    if (fd.get() < 0) {
        return false;
    }
    // Keep the permissions of an existing file; a new one gets `mode`.
    struct stat st {};
    const mode_t wanted =
        (::stat(path.c_str(), &st) == 0) ? (st.st_mode & 07777) : static_cast<mode_t>(mode);
    bool ok = ::fchmod(fd.get(), wanted) == 0 && WriteAll(fd.get(), content) &&
              (sync == FileSync::None || ::fsync(fd.get()) == 0);
    int error = errno;
    if (::close(fd.release()) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok) {
        if (::rename(tmpl.c_str(), path.c_str()) == 0) {
            return true;
        }
        error = errno;
    }
    ::unlink(tmpl.c_str());
    errno = error;
    return false;
}

std::optional<std::string> FindFileIgnoringCase(const std::string& dir, std::string_view name) {
    const std::string exact = JoinPath(dir, name);
    struct stat st {};
    if (::stat(exact.c_str(), &st) == 0) {
        return exact;
    }
    std::error_code ec;
    std::filesystem::directory_iterator it(dir, ec);
    if (ec) {
        return std::nullopt;
    }
    std::vector<std::string> matches;
    for (const auto& entry : it) {
        const std::string entryName = entry.path().filename().string();
        if (EqualsIgnoringCase(entryName, name)) {
            matches.push_back(entryName);
        }
    }
    if (matches.empty()) {
        return std::nullopt;
    }
    // Several spellings: take the first in byte order so that the choice is repeatable.
    std::sort(matches.begin(), matches.end());
    return JoinPath(dir, matches.front());
}

std::vector<DirEntry> ListEntriesWithExtension(const std::string& dir, std::string_view extension,
                                               bool* opened) {
    std::vector<DirEntry> out;
    std::error_code ec;
    std::filesystem::directory_iterator it(dir, ec);
    if (opened != nullptr) {
        *opened = !ec;
    }
    if (ec) {
        return out;
    }
    const std::string suffix = "." + LowerCopy(extension);
    for (const auto& entry : it) {
        const std::string name = entry.path().filename().string();
        if (name == "." || name == ".." || name.size() < suffix.size()) {
            continue;
        }
        if (LowerCopy(std::string_view(name).substr(name.size() - suffix.size())) != suffix) {
            continue;
        }
        std::error_code typeEc;
        const bool isDir = entry.is_directory(typeEc);
        std::error_code regEc;
        const bool isReg = entry.is_regular_file(regEc);
        out.push_back({name, isDir, isReg});
    }
    std::sort(out.begin(), out.end(), [](const DirEntry& a, const DirEntry& b) {
        const std::string la = LowerCopy(a.name);
        const std::string lb = LowerCopy(b.name);
        return la != lb ? la < lb : a.name < b.name;
    });
    return out;
}

}  // namespace tarvex::platform
