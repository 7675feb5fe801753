// File helpers: whole-file reads, text lines, safe rewrites, case-insensitive look-ups.
//
//   CurrentDirectory()                 the process's current directory
//   JoinPath(dir, name)                dir and name with one separator between them
//   FileExists(path)                   a regular file (or a link to one) is there
//   ReadWholeFile(path, maxBytes)      every byte, or an error; never reads more than maxBytes
//   ReadTextLines(path)                lines split at LF, a CR before the LF dropped
//   WriteFileAtomically(path, ...)     new file beside the old one, then renamed into place
//   ReplaceFileKeepingAccess(...)      the same for a file that several accounts may share
//                                      (its mode and group kept), with the fallbacks a
//                                      settings file needs
//   FindFileIgnoringCase(dir, name)    the entry of dir whose name equals name in any case
//   ListEntriesWithExtension(dir, ext) entries whose extension equals ext in any case
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvex::platform {

// The folder separator this system writes ('/'; on Windows '\\', which also takes '/').
extern const char kPathSeparator;

// The line end of text files that people open in this system's editors ("\n"; on Windows
// "\r\n", which Notepad and the system's tools expect). ReadTextLines takes either.
extern const char kLineEnd[];

// The position of the last folder separator in path (on Windows either kind), npos for none.
std::size_t LastSeparator(std::string_view path);

// Where the download form keeps its timing log: /Current_FE/TRANSFER/ReadTimeDiff.csv, on
// Windows Z:\\Current_FE\\TRANSFER\\ReadTimeDiff.csv.
extern const char kFormTimingLogPath[];

// Whether path starts from a root rather than the current directory ("/x"; on Windows "C:\\x",
// "\\\\server\\share" and "\\x").
bool IsAbsolutePath(std::string_view path);

std::string CurrentDirectory();
// Writes all of content to an open descriptor of the C runtime (0, 1 and 2 are standard input,
// output and error everywhere), continuing partial and interrupted writes. False on an error.
bool WriteAll(int fd, std::string_view content);

// Appends line and a line end to the file at path (created when missing) as one piece, even
// while other processes append to the same file, and returns once it is on the disk. False with
// the system's reason in `error`.
bool AppendLineDurably(const std::string& path, std::string_view line, std::string& error);

// Makes `path` the process's current directory; false with the system's reason in `why`.
bool ChangeCurrentDirectory(const std::string& path, std::string& why);
std::string JoinPath(std::string_view dir, std::string_view name);
bool FileExists(const std::string& path);

// CannotOpen also for anything that is not a regular file (a folder, a FIFO, a device);
// OutOfMemory when the file does not fit into the memory available.
enum class ReadError { None, CannotOpen, TooLarge, ReadFailed, OutOfMemory };

struct FileBytes {
    ReadError error = ReadError::None;
    std::vector<std::uint8_t> bytes;
    std::uint64_t fileSize = 0;  // the size found, also when it was too large to read
};

// Reads the whole file unless it is larger than maxBytes (then only its size is reported).
FileBytes ReadWholeFile(const std::string& path, std::uint64_t maxBytes);

// All lines of a text file; a CR right before an LF is dropped; a last line without LF counts.
// Nothing when the file cannot be opened or read.
std::optional<std::vector<std::string>> ReadTextLines(const std::string& path);

// Whether WriteFileAtomically waits until the new file is on the disk before it renames it.
// Without it a crash may leave an empty file behind, but the call does not wait for the disk.
enum class FileSync { ToDisk, None };

// Writes content to a temporary file in the same folder, flushes it and renames it over path,
// so that readers see either the old or the new file, never a half-written one. mode is used
// for a newly created file where the system has permission bits. Returns false (and leaves the
// old file) on any failure; on POSIX errno then tells why.
bool WriteFileAtomically(const std::string& path, std::string_view content, unsigned mode = 0600,
                         FileSync sync = FileSync::ToDisk);

// Who may read a file that ReplaceFileKeepingAccess creates (an existing file keeps its own).
enum class NewFileAccess {
    Usual,      // what the process's umask gives (0666 & ~umask)
    OwnerOnly,  // 0600: the file holds a secret, such as a remembered password
};

// Writes a file that may be shared by several accounts (a service team's folder), such as the
// settings file. An existing file is replaced whole and keeps its permission bits and its
// group, also when the writer is not its owner but may write its folder (the new file then
// belongs to the writer). A new file gets `newFile`'s permissions. A symbolic link is followed:
// the file it points to is written and the link stays. Temporary files that earlier writes of
// the same file left behind (a kill between creating and renaming one) are removed first; a
// temporary file is locked from its creation to its rename, so that one being written by
// another process right now is left alone. When no new file can be created beside the old one
// (a folder the user may not write) but the old file itself is writable, it is rewritten in
// place. Returns false on any failure, the old file then as it was; errno then tells why.
bool ReplaceFileKeepingAccess(const std::string& path, std::string_view content,
                              NewFileAccess newFile);

// The entry of dir whose name equals name without regard to ASCII letter case; an exact match
// wins over other spellings. Returns the full path.
std::optional<std::string> FindFileIgnoringCase(const std::string& dir, std::string_view name);

struct DirEntry {
    std::string name;
    bool isDirectory = false;
    bool isRegularFile = false;  // a regular file, or a link to one
};

// Entries of dir whose name ends in "." + extension, compared without regard to ASCII case
// ("*.cfg" matches a.CFG and b.cfg). "." and ".." are never returned. Sorted by name with
// letter case ignored, so that the order does not depend on the file system. `opened` (when
// given) tells whether the folder could be read at all, as against being read and empty.
std::vector<DirEntry> ListEntriesWithExtension(const std::string& dir, std::string_view extension,
                                               bool* opened = nullptr);

}  // namespace tarvex::platform
