// FileStamp: what tells that a file changed (its size, modification time and identity), so that
// something read from it once can be read again when, and only when, the file was replaced.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tarvex::platform {

struct FileStamp {
    std::uint64_t size = 0;
    std::int64_t modifiedNs = 0;  // modification time, nanoseconds since the epoch
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

// Nothing when the file cannot be looked at.
std::optional<FileStamp> StampOf(const std::string& path);

}  // namespace tarvex::platform
