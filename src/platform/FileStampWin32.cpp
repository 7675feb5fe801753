#include <windows.h>

#include "platform/FileStamp.h"
#include "platform/UniqueHandleWin32.h"
#include "platform/Utf16Win32.h"

namespace tarvex::platform {

std::optional<FileStamp> StampOf(const std::string& path) {
    // Opened for no access at all: enough to ask for the file's identity, and never refused by
    // another program's sharing mode.
    const UniqueHandle file(::CreateFileW(
        Widen(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file) {
        return std::nullopt;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileInformationByHandle(file.get(), &info) == 0) {
        return std::nullopt;
    }
    FileStamp stamp;
    stamp.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    // FILETIME counts 100 ns steps; only changes are compared, so its epoch does not matter.
    const std::uint64_t written =
        (static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
        info.ftLastWriteTime.dwLowDateTime;
    stamp.modifiedNs = static_cast<std::int64_t>(written * 100);
    stamp.device = info.dwVolumeSerialNumber;
    stamp.inode = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return stamp;
}

}  // namespace tarvex::platform
