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
// it. Its owner, group and mode stay as they are. Whole or not at all: the space for the new
// text is taken first, so that a full disk shows before any old byte is overwritten, and a
// write that still fails puts the old text back. Only a crash in the middle can leave a
// damaged file, which is why it is the fallback.
bool RewriteInPlace(const std::string& path, std::string_view content) {
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
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
    std::string old(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t got = 0;
    while (got < old.size()) {
        const ssize_t n =
            ::pread(fd.get(), old.data() + got, old.size() - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        got += static_cast<std::size_t>(n);
    }
    const auto writeAt0 = [&fd](std::string_view text) {
        std::size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = ::pwrite(fd.get(), text.data() + done, text.size() - done,
                                       static_cast<off_t>(done));
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return false;
            }
            done += static_cast<std::size_t>(n);
        }
        return ::ftruncate(fd.get(), static_cast<off_t>(text.size())) == 0;
    };
    if (content.size() > old.size()) {
        const int reserved = ::posix_fallocate(fd.get(), 0, static_cast<off_t>(content.size()));
        if (reserved != 0 && reserved != EOPNOTSUPP && reserved != EINVAL) {
            (void)::ftruncate(fd.get(), st.st_size);
            errno = reserved;
            return false;
        }
    }
    if (!writeAt0(content) || ::fsync(fd.get()) != 0) {
        const int error = errno;
        (void)writeAt0(old);
        errno = error;
        return false;
    }
    return fd.Close();
}

// A temporary file for `name` in dir, created with `perm` (the umask applies) and locked. The
// lock is what the clean-up of leftovers asks for, so it must be there from the start: a
// clean-up that got the file in the moment between its creation and the lock has removed it
// (it unlinks only while it holds the lock), and the file's link count then tells. Such a file,
// or one whose lock another process holds, is given up for a fresh one.
UniqueFd CreateLockedTemporary(const std::filesystem::path& dir, const std::string& name,
                               mode_t perm, std::string& created) {
    static constexpr char kLetters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device seed;
    std::mt19937 random(seed());
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
    for (int attempt = 0; attempt < 64; ++attempt) {
        std::string suffix(6, 'x');
        for (char& c : suffix) {
            c = kLetters[pick(random)];
        }
        const std::string candidate = (dir / ("." + name + "." + suffix)).string();
        UniqueFd fd(
            ::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, perm));
        if (fd.get() < 0) {
            if (errno == EEXIST) {
                continue;
            }
            return fd;
        }
        struct stat st {};
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) == 0 && ::fstat(fd.get(), &st) == 0 &&
            st.st_nlink > 0) {
            created = candidate;
            return fd;
        }
        // Taken by a clean-up: it removes the file (or has), and this name is not used again.
    }
    errno = EEXIST;
    return UniqueFd();
}

}  // namespace

bool ReplaceFileKeepingAccess(const std::string& path, std::string_view content,
                              NewFileAccess newFile) {
    const std::filesystem::path target = FollowLinks(path);
    const std::filesystem::path dir =
        target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    const std::string name = target.filename().string();
    RemoveLeftoverTemporaries(dir, name);

    struct stat old {};
    const bool replacing = ::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode);
    // An existing file's permissions are set on the temporary file once it is ours; until then
    // it is the owner's alone. A new one gets the umask's permissions at its creation.
    const mode_t perm = replacing || newFile == NewFileAccess::OwnerOnly ? 0600 : 0666;
    std::string tmpl;
    UniqueFd fd = CreateLockedTemporary(dir, name, perm, tmpl);
    if (fd.get() < 0) {
        const int error = errno;
        if (replacing) {
            return RewriteInPlace(target.string(), content);
        }
        errno = error;
        return false;
    }
    bool ok = true;
    if (replacing) {
        // The group first: changing it may clear the set-group-ID bit, which the mode then puts
        // back. A writer who is not in the file's group cannot give the new file that group.
        // That is harmless when the mode grants the group nothing: the group then decides
        // nothing, and the file stays as private as it was. When the group may read or write,
        // the new file would open to the writer's group instead and close to the old one; the
        // save fails and the old file stays.
        if (::fchown(fd.get(), static_cast<uid_t>(-1), old.st_gid) != 0 &&
            (old.st_mode & 0070) != 0) {
            ok = false;
        }
        ok = ok && ::fchmod(fd.get(), old.st_mode & 07777) == 0;
    }
    ok = ok && WriteAll(fd.get(), content) && ::fsync(fd.get()) == 0;
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
