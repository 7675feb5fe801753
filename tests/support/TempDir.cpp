#include "support/TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace tarvex::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
    // A fresh name that nobody else holds: create_directory fails on an existing folder.
    std::random_device seed;
    std::mt19937_64 random(seed());
    const fs::path base = fs::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate = base / ("tarvex-test-" + std::to_string(random() % 1000000000u));
        std::error_code ec;
        if (fs::create_directory(candidate, ec) && !ec) {
            fs::permissions(candidate, fs::perms::owner_all, fs::perm_options::replace, ec);
            path_ = candidate.string();
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
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
