// Helpers shared by the fuzz targets.
//
//   InputFile        one scratch file per fuzzing process, rewritten with each input, for the
//                    readers that take a path (the container check, the catalogue files, the
//                    settings and download data files)
//   Require(ok, why) a property the reader promises; a broken one ends the run as a crash
//   ByteReader       takes an input apart field by field; past its end every field reads as 0
//   AsText(bytes)    the input as text
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarvex::fuzz {

// A file in its own folder under TMPDIR (or /tmp), removed when the process ends normally. The
// name inside the folder is chosen by the target, because some readers take meaning from it
// (a catalogue file's product is its name less ".CFG").
class InputFile {
  public:
    explicit InputFile(std::string_view name);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // Replaces the file's contents with bytes; the path stays the same.
    const std::string& Write(std::span<const std::uint8_t> bytes);
    const std::string& path() const { return path_; }

  private:
    std::string dir_;
    std::string path_;
};

[[noreturn]] inline void Broken(const char* why) {
    std::fprintf(stderr, "fuzz property broken: %s\n", why);
    std::abort();
}

inline void Require(bool ok, const char* why) {
    if (!ok) {
        Broken(why);
    }
}

class ByteReader {
  public:
    ByteReader(const std::uint8_t* data, std::size_t size) : rest_(data, size) {}

    std::uint8_t Byte() {
        if (rest_.empty()) {
            return 0;
        }
        const std::uint8_t b = rest_.front();
        rest_ = rest_.subspan(1);
        return b;
    }
    std::uint16_t Le16() {
        const std::uint8_t low = Byte();
        return static_cast<std::uint16_t>(low | (Byte() << 8));
    }
    std::vector<std::uint8_t> Bytes(std::size_t count) {
        const std::size_t n = count < rest_.size() ? count : rest_.size();
        std::vector<std::uint8_t> out(rest_.begin(),
                                      rest_.begin() + static_cast<std::ptrdiff_t>(n));
        rest_ = rest_.subspan(n);
        return out;
    }
    std::vector<std::uint8_t> Rest() { return Bytes(rest_.size()); }
    bool empty() const { return rest_.empty(); }

  private:
    std::span<const std::uint8_t> rest_;
};

inline std::string_view AsText(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

}  // namespace tarvex::fuzz
