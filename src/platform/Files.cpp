// The file helpers that are the same on every platform; the rest is in FilesPosix.cpp and
// FilesWin32.cpp.
#include "platform/Files.h"

namespace tarvex::platform {

std::string JoinPath(std::string_view dir, std::string_view name) {
    std::string out(dir);
    if (!out.empty() && LastSeparator(out) != out.size() - 1) {
        out.push_back(kPathSeparator);
    }
    out.append(name);
    return out;
}

std::optional<std::vector<std::string>> ReadTextLines(const std::string& path) {
    const FileBytes file = ReadWholeFile(path, std::uint64_t{64} * 1024 * 1024);
    if (file.error != ReadError::None) {
        return std::nullopt;
    }
    std::vector<std::string> lines;
    std::size_t start = 0;
    const auto* data = reinterpret_cast<const char*>(file.bytes.data());
    const std::size_t size = file.bytes.size();
    while (start < size) {
        std::size_t end = start;
        while (end < size && data[end] != '\n') {
            ++end;
        }
        std::size_t lineEnd = end;
        if (end < size && lineEnd > start && data[lineEnd - 1] == '\r') {
            --lineEnd;
        }
        lines.emplace_back(data + start, lineEnd - start);
        start = end + 1;
    }
    return lines;
}

}  // namespace tarvex::platform
