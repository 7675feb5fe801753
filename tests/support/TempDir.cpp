#include "support/TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace tarvex::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "tarvex-test-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::string TempDir::operator/(std::string_view relative) const {
    return (fs::path(path_) / fs::path(relative)).string();
}

std::string TempDir::Write(std::string_view relative, std::string_view content) const {
    const fs::path p = fs::path(path_) / fs::path(relative);
    fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + p.string());
    }
    return p.string();
}

std::string TempDir::WriteBytes(std::string_view relative,
                                const std::vector<std::uint8_t>& bytes) const {
    return Write(relative,
                 std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

std::string TempDir::MakeDir(std::string_view relative) const {
    const fs::path p = fs::path(path_) / fs::path(relative);
    fs::create_directories(p);
    return p.string();
}

std::string ReadFileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::uint8_t> ReadFileBytes(const std::string& path) {
    const std::string text = ReadFileText(path);
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

}  // namespace tarvex::test
