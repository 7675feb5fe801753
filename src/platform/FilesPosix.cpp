#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <new>
#include <random>

#include "platform/Files.h"
#include "platform/Text.h"
#include "platform/UniqueFdPosix.h"

namespace tarvex::platform {
namespace {

std::string LowerCopy(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return out;
}

}  // namespace

const char kPathSeparator = '/';
const char kLineEnd[] = "\n";
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

bool AppendLineDurably(const std::string& path, std::string_view line, std::string& error) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    if (!fd) {
        error = std::strerror(errno);
        return false;
    }
    // One write() of the whole line: with O_APPEND the kernel places it at the end as one piece,
    // whatever other processes append meanwhile (regular files take the whole block at once).
    std::string whole(line);
    whole += '\n';
    const ssize_t written = ::write(fd.get(), whole.data(), whole.size());
    bool ok = written == static_cast<ssize_t>(whole.size());
    if (!ok) {
        error = written < 0 ? std::strerror(errno) : "the line was written only in part";
    } else if (::fsync(fd.get()) != 0) {
        error = std::strerror(errno);
        ok = false;
    }
    if (!fd.Close() && ok) {
        error = std::strerror(errno);
        ok = false;
    }
    return ok;
}

bool ChangeCurrentDirectory(const std::string& path, std::string& why) {
    if (::chdir(path.c_str()) != 0) {
        why = std::strerror(errno);
        return false;
    }
    return true;
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

FileBytes ReadWholeFile(const std::string& path, std::uint64_t maxBytes) {
    FileBytes result;
    // O_NONBLOCK: a FIFO (or a device) put where a file is expected would otherwise block the
    // open until a writer comes. Only regular files are read; for them the flag changes nothing.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) {
        result.error = ReadError::CannotOpen;
        return result;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        result.error = ReadError::ReadFailed;
        return result;
    }
    if (!S_ISREG(st.st_mode)) {
        // A folder, a FIFO, a socket or a device (/dev/zero would never end): not a file.
        result.error = ReadError::CannotOpen;
        return result;
    }
    result.fileSize = static_cast<std::uint64_t>(st.st_size);
    if (result.fileSize > maxBytes) {
        result.error = ReadError::TooLarge;
        return result;
    }
    try {
        result.bytes.reserve(static_cast<std::size_t>(result.fileSize));
    } catch (const std::bad_alloc&) {
        result.error = ReadError::OutOfMemory;
        return result;
    }
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
        try {
            result.bytes.insert(result.bytes.end(), chunk, chunk + n);
        } catch (const std::bad_alloc&) {  // the file grew beyond what was reserved
            result.error = ReadError::OutOfMemory;
            result.bytes = {};
            return result;
        }
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
    UniqueFd fd(::mkostemp(tmpl.data(), O_CLOEXEC));
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
    if (!fd.Close() && ok) {
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

namespace {

// The file a path names once every symbolic link on its last component is followed; the path
// itself when it is no link. A link to a link is followed up to the system's limit; a dangling
// link gives the path it points to, which the write then creates.
std::filesystem::path FollowLinks(const std::filesystem::path& path) {
    std::filesystem::path current = path;
    for (int depth = 0; depth < 40; ++depth) {
        std::error_code ec;
        if (!std::filesystem::is_symlink(std::filesystem::symlink_status(current, ec))) {
            return current;
        }
        const std::filesystem::path target = std::filesystem::read_symlink(current, ec);
        if (ec) {
            return current;
        }
        current = target.is_absolute() ? target : current.parent_path() / target;
    }
    return current;
}

bool IsTemporaryNameOf(std::string_view entry, std::string_view prefix) {
    if (entry.size() != prefix.size() + 6 || entry.substr(0, prefix.size()) != prefix) {
        return false;
    }
    return std::all_of(
        entry.begin() + static_cast<std::ptrdiff_t>(prefix.size()), entry.end(), [](char c) {
            return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        });
}

// Removes ".<name>.XXXXXX" files in dir that no process is writing: a writer holds a lock on
// its temporary file until it has renamed it, so a file whose lock can be had was left behind.
void RemoveLeftoverTemporaries(const std::filesystem::path& dir, const std::string& name) {
    const std::string prefix = "." + name + ".";
    std::error_code ec;
    std::filesystem::directory_iterator it(dir, ec);
    if (ec) {
        return;
    }
    for (const auto& entry : it) {
        const std::string entryName = entry.path().filename().string();
        if (!IsTemporaryNameOf(entryName, prefix)) {
            continue;
        }
        UniqueFd fd(::open(entry.path().c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
        struct stat st {};
        if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
            st.st_uid != ::geteuid()) {
            continue;
        }
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) {
            (void)::unlink(entry.path().c_str());
        }
    }
}

// Rewrites an existing regular file in place: the fallback when no file can be created beside
// it. Not atomic: a crash in the middle leaves a damaged file, which is why it is the fallback.
bool RewriteInPlace(const std::string& path, std::string_view content, mode_t mode) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (fd.get() < 0) {
        return false;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        errno = EINVAL;
        return false;
    }
    if ((st.st_mode & 07777) != mode && ::fchmod(fd.get(), mode) != 0) {
        return false;  // it would stay readable by others: better not write the content
    }
    bool ok =
        ::ftruncate(fd.get(), 0) == 0 && WriteAll(fd.get(), content) && ::fsync(fd.get()) == 0;
    int error = errno;
    if (!fd.Close() && ok) {
        ok = false;
        error = errno;
    }
    errno = error;
    return ok;
}

}  // namespace

bool WritePrivateFile(const std::string& path, std::string_view content) {
    constexpr mode_t kPrivate = 0600;
    const std::filesystem::path target = FollowLinks(path);
    const std::filesystem::path dir =
        target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    const std::string name = target.filename().string();
    RemoveLeftoverTemporaries(dir, name);

    std::string tmpl = (dir / ("." + name + ".XXXXXX")).string();
    UniqueFd fd(::mkostemp(tmpl.data(), O_CLOEXEC));
    if (fd.get() < 0) {
        const int error = errno;
        struct stat st {};
        if (::lstat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            return RewriteInPlace(target.string(), content, kPrivate);
        }
        errno = error;
        return false;
    }
    // Held until the rename: another writer's clean-up must not take this file away meanwhile.
    (void)::flock(fd.get(), LOCK_EX | LOCK_NB);
    bool ok =
        ::fchmod(fd.get(), kPrivate) == 0 && WriteAll(fd.get(), content) && ::fsync(fd.get()) == 0;
    int error = errno;
    if (ok && ::rename(tmpl.c_str(), target.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(tmpl.c_str());
    }
    fd.reset();
    errno = error;
    return ok;
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
