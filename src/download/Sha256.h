// SHA-256 (FIPS 180-4), for the download record: which container went into a panel.
//
//   Sha256 h; h.Update(bytes); ... h.HexDigest()   incremental
//   Sha256OfFile(path)                              the file read in pieces; nothing when it
//                                                   cannot be read
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace tarvex {

class Sha256 {
  public:
    Sha256();
    void Update(std::span<const std::uint8_t> bytes);
    std::array<std::uint8_t, 32> Digest();  // ends the hash; call once
    std::string HexDigest();                // lower-case hex of Digest()

  private:
    void Block(const std::uint8_t* block);

    std::array<std::uint32_t, 8> state_;
    std::array<std::uint8_t, 64> buffer_{};
    std::size_t buffered_ = 0;
    std::uint64_t length_ = 0;  // bytes hashed so far
};

std::optional<std::string> Sha256OfFile(const std::string& path);

}  // namespace tarvex
