// Files on Windows: paths are UTF-8 inside the program and UTF-16 at the API, so that a
// workspace under a folder with any letters in its name works whatever the code page.
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <random>
#include <string>

#include "platform/Files.h"
#include "platform/Text.h"
#include "platform/UniqueHandleWin32.h"
#include "platform/Utf16Win32.h"

namespace tarvex::platform {
namespace {

// Writes all of content to an open file, in pieces of at most 1 GiB.
bool WriteWhole(HANDLE file, std::string_view content) {
    while (!content.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(content.size(), 1u << 30));
        DWORD written = 0;
        if (::WriteFile(file, content.data(), chunk, &written, nullptr) == 0 || written == 0) {
            return false;
        }
        content.remove_prefix(written);
    }
    return true;
}

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

std::string LowerCopy(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return out;
}

// The file's attributes, nothing when it is not there.
bool Attributes(const std::string& path, DWORD& out) {
    const std::wstring wide = Widen(path);
    if (wide.empty()) {
        return false;
    }
    out = ::GetFileAttributesW(wide.c_str());
    return out != INVALID_FILE_ATTRIBUTES;
}

// Every entry of dir, "." and ".." left out.
bool ListFolder(const std::string& dir, std::vector<WIN32_FIND_DATAW>& out) {
    const std::wstring pattern = Widen(JoinPath(dir.empty() ? "." : dir, "*"));
    WIN32_FIND_DATAW data{};
    const HANDLE find = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data,
                                           FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) {
        // An empty folder still has "." and ".."; only a drive root can be truly empty.
        return ::GetLastError() == ERROR_FILE_NOT_FOUND;
    }
    do {
        const std::wstring_view name(data.cFileName);
        if (name != L"." && name != L"..") {
            out.push_back(data);
        }
    } while (::FindNextFileW(find, &data) != 0);
    ::FindClose(find);
    return true;
}

}  // namespace

const char kPathSeparator = '\\';
const char kLineEnd[] = "\r\n";
const char kFormTimingLogPath[] = "Z:\\Current_FE\\TRANSFER\\ReadTimeDiff.csv";

std::size_t LastSeparator(std::string_view path) {
    return path.find_last_of("\\/");
}

bool IsAbsolutePath(std::string_view path) {
    if (!path.empty() && IsSeparator(path.front())) {
        return true;  // \\server\share, or the root of the current drive
    }
    const bool driveLetter =
        path.size() >= 3 && path[1] == ':' &&
        ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
    return driveLetter && IsSeparator(path[2]);
}

std::string CurrentDirectory() {
    const DWORD n = ::GetCurrentDirectoryW(0, nullptr);
    if (n == 0) {
        return ".";
    }
    std::wstring buffer(n, L'\0');
    const DWORD got = ::GetCurrentDirectoryW(n, buffer.data());
    if (got == 0 || got >= n) {
        return ".";
    }
    buffer.resize(got);
    return Narrow(buffer);
}

bool WriteAll(int fd, std::string_view content) {
    while (!content.empty()) {
        const unsigned chunk =
            static_cast<unsigned>(std::min<std::size_t>(content.size(), 1U << 30));
        const int n = ::_write(fd, content.data(), chunk);
        if (n <= 0) {
            return false;
        }
        content.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool AppendLineDurably(const std::string& path, std::string_view line, std::string& error) {
    // FILE_APPEND_DATA alone: every write goes to the end of the file as one piece, whatever
    // other processes append meanwhile.
    UniqueHandle file(::CreateFileW(Widen(path).c_str(), FILE_APPEND_DATA,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        error = "Windows error " + std::to_string(::GetLastError());
        return false;
    }
    std::string whole(line);
    whole += "\r\n";
    DWORD written = 0;
    bool ok = ::WriteFile(file.get(), whole.data(), static_cast<DWORD>(whole.size()), &written,
                          nullptr) != 0 &&
              written == whole.size() && ::FlushFileBuffers(file.get()) != 0;
    if (!ok) {
        error = "Windows error " + std::to_string(::GetLastError());
    }
    return file.Close() && ok;
}

bool ChangeCurrentDirectory(const std::string& path, std::string& why) {
    if (::SetCurrentDirectoryW(Widen(path).c_str()) == 0) {
        const DWORD error = ::GetLastError();
        why = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                  ? "No such file or directory"
              : error == ERROR_ACCESS_DENIED ? "Permission denied"
                                             : "Windows error " + std::to_string(error);
        return false;
    }
    return true;
}

bool FileExists(const std::string& path) {
    DWORD attributes = 0;
    return Attributes(path, attributes) && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

FileBytes ReadWholeFile(const std::string& path, std::uint64_t maxBytes) {
    FileBytes result;
    const std::wstring wide = Widen(path);
    UniqueHandle file(wide.empty() ? INVALID_HANDLE_VALUE
                                   : ::CreateFileW(wide.c_str(), GENERIC_READ,
                                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        result.error = ReadError::CannotOpen;
        return result;
    }
    LARGE_INTEGER size{};
    if (::GetFileSizeEx(file.get(), &size) == 0 || size.QuadPart < 0) {
        result.error = ReadError::ReadFailed;
        return result;
    }
    result.fileSize = static_cast<std::uint64_t>(size.QuadPart);
    if (result.fileSize > maxBytes) {
        result.error = ReadError::TooLarge;
        return result;
    }
    result.bytes.reserve(static_cast<std::size_t>(result.fileSize));
    std::uint8_t chunk[65536];
    for (;;) {
        DWORD n = 0;
        if (::ReadFile(file.get(), chunk, sizeof chunk, &n, nullptr) == 0) {
            result.error = ReadError::ReadFailed;
            result.bytes.clear();
            return result;
        }
        if (n == 0) {
            break;
        }
        if (result.bytes.size() + n > maxBytes) {
            result.error = ReadError::TooLarge;  // the file grew while it was read
            result.bytes.clear();
            return result;
        }
        result.bytes.insert(result.bytes.end(), chunk, chunk + n);
    }
    result.fileSize = result.bytes.size();
    return result;
}

namespace {

enum class Replaced { Yes, NoTemporary, Failed };

// The new file beside the old one, moved over it in one step. NoTemporary: no file could be
// created beside it (the old one is untouched); Failed: any later step failed (the temporary
// file is gone again, the old one untouched).
Replaced ReplaceBeside(const std::string& path, std::string_view content, FileSync sync) {
    // The new file goes beside the old one, so that the rename stays on one volume.
    const std::size_t separator = LastSeparator(path);
    const std::string dir =
        separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
    const std::string name = separator == std::string::npos ? path : path.substr(separator + 1);
    const std::wstring target = Widen(path);
    if (target.empty()) {
        return Replaced::Failed;
    }
    std::random_device seed;
    std::mt19937 random(seed());
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::wstring temp =
            Widen(dir + "." + name + "." + std::to_string(random() % 1000000u) + ".tmp");
        UniqueHandle file(::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.valid()) {
            if (::GetLastError() == ERROR_FILE_EXISTS) {
                continue;
            }
            return Replaced::NoTemporary;
        }
        bool ok = WriteWhole(file.get(), content);
        if (ok && sync == FileSync::ToDisk) {
            ok = ::FlushFileBuffers(file.get()) != 0;
        }
        ok = file.Close() && ok;
        // Replaces the old file in one step; WRITE_THROUGH returns only once the rename is on
        // the disk.
        if (ok && ::MoveFileExW(temp.c_str(), target.c_str(),
                                MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0) {
            return Replaced::Yes;
        }
        const DWORD error = ::GetLastError();
        ::DeleteFileW(temp.c_str());
        ::SetLastError(error);
        return Replaced::Failed;
    }
    return Replaced::NoTemporary;
}

// Rewrites an existing file in place, whole or not at all: the fallback when no file can be
// created beside it (a folder the user may not write). Nobody else may have it open meanwhile.
// The space for the new text is taken first, so that a full disk shows before any old byte is
// overwritten, and a write that still fails puts the old text back; only a crash in the middle
// can leave a damaged file, which is why it is the fallback.
bool RewriteInPlace(const std::string& path, std::string_view content) {
    UniqueHandle file(::CreateFileW(Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        return false;
    }
    LARGE_INTEGER size{};
    if (::GetFileSizeEx(file.get(), &size) == 0 || size.QuadPart < 0 ||
        static_cast<std::uint64_t>(size.QuadPart) > (1u << 30)) {
        return false;
    }
    std::string old(static_cast<std::size_t>(size.QuadPart), '\0');
    std::size_t got = 0;
    while (got < old.size()) {
        DWORD n = 0;
        if (::ReadFile(file.get(), old.data() + got, static_cast<DWORD>(old.size() - got), &n,
                       nullptr) == 0 ||
            n == 0) {
            return false;
        }
        got += n;
    }
    const auto endAt = [&file](std::size_t length) {
        LARGE_INTEGER at{};
        at.QuadPart = static_cast<LONGLONG>(length);
        return ::SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN) != 0 &&
               ::SetEndOfFile(file.get()) != 0;
    };
    const auto writeWhole = [&](std::string_view text) {
        const LARGE_INTEGER start{};
        return ::SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN) != 0 &&
               WriteWhole(file.get(), text) && endAt(text.size());
    };
    if (content.size() > old.size() && !endAt(content.size())) {
        const DWORD error = ::GetLastError();
        (void)endAt(old.size());
        ::SetLastError(error);
        return false;
    }
    if (!writeWhole(content) || ::FlushFileBuffers(file.get()) == 0) {
        const DWORD error = ::GetLastError();
        (void)writeWhole(old);
        ::SetLastError(error);
        return false;
    }
    return file.Close();
}

}  // namespace

bool WriteFileAtomically(const std::string& path, std::string_view content, unsigned /*mode*/,
                         FileSync sync) {
    return ReplaceBeside(path, content, sync) == Replaced::Yes;
}

bool ReplaceFileKeepingAccess(const std::string& path, std::string_view content,
                              NewFileAccess /*newFile*/) {
    // Who may read a file is the folder's access list on Windows; there are no mode bits to
    // set. The replacement goes beside it and is moved over it in one step.
    switch (ReplaceBeside(path, content, FileSync::ToDisk)) {
        case Replaced::Yes:
            return true;
        case Replaced::Failed:
            // The move was refused (another program has the file open, it is read-only):
            // writing into it now would not be whole either. The old file stays.
            return false;
        case Replaced::NoTemporary:
            break;
    }
    const DWORD error = ::GetLastError();
    DWORD attributes = 0;
    if (!Attributes(path, attributes) || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        ::SetLastError(error);
        return false;
    }
    return RewriteInPlace(path, content);
}

std::optional<std::string> FindFileIgnoringCase(const std::string& dir, std::string_view name) {
    // The folder is listed rather than the name opened: Windows would open any spelling and
    // give back the one asked for, and a folder may hold several spellings where it lives on a
    // case-sensitive file system (a network share, Wine's view of a Linux disk).
    std::vector<WIN32_FIND_DATAW> entries;
    if (!ListFolder(dir, entries)) {
        return std::nullopt;
    }
    std::vector<std::string> matches;
    for (const WIN32_FIND_DATAW& entry : entries) {
        std::string entryName = Narrow(entry.cFileName);
        if (entryName == name) {
            return JoinPath(dir, entryName);
        }
        if (EqualsIgnoringCase(entryName, name)) {
            matches.push_back(std::move(entryName));
        }
    }
    if (matches.empty()) {
        return std::nullopt;
    }
    // Several spellings: the first in byte order, so that the choice is repeatable.
    std::sort(matches.begin(), matches.end());
    return JoinPath(dir, matches.front());
}

std::vector<DirEntry> ListEntriesWithExtension(const std::string& dir, std::string_view extension,
                                               bool* opened) {
    std::vector<DirEntry> out;
    std::vector<WIN32_FIND_DATAW> entries;
    const bool ok = ListFolder(dir, entries);
    if (opened != nullptr) {
        *opened = ok;
    }
    const std::string suffix = "." + LowerCopy(extension);
    for (const WIN32_FIND_DATAW& entry : entries) {
        const std::string name = Narrow(entry.cFileName);
        if (name.size() < suffix.size() ||
            LowerCopy(std::string_view(name).substr(name.size() - suffix.size())) != suffix) {
            continue;
        }
        const bool isDir = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        bool isReg = !isDir;
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            // A link: what it leads to decides, as it does on POSIX.
            isReg = FileExists(JoinPath(dir, name));
        }
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
