// A fresh directory under the system's temporary folder, removed with everything in it when the
// object goes away. Write helpers create parent folders as needed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarvex::test {

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(std::string_view relative) const;

    // Writes a file below the directory (parents created) and returns its full path.
    std::string Write(std::string_view relative, std::string_view content) const;
    std::string WriteBytes(std::string_view relative, const std::vector<std::uint8_t>& bytes) const;
    std::string MakeDir(std::string_view relative) const;

  private:
    std::string path_;
};

std::string ReadFileText(const std::string& path);
std::vector<std::uint8_t> ReadFileBytes(const std::string& path);

}  // namespace tarvex::test
