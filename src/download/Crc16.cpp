#include "download/Crc16.h"

#include <array>

namespace tarvex {
namespace {

// Table form of the right-shifting loop with polynomial 0xA001: entry b is the register after
// the eight shift steps that follow XORing b into a zero register.
constexpr std::array<std::uint16_t, 256> MakeTable() {
    std::array<std::uint16_t, 256> table{};
    for (unsigned b = 0; b < 256; ++b) {
        auto reg = static_cast<std::uint16_t>(b);
        for (int bit = 0; bit < 8; ++bit) {
            reg = (reg & 1U) ? static_cast<std::uint16_t>((reg >> 1) ^ 0xA001U)
                             : static_cast<std::uint16_t>(reg >> 1);
        }
        table[b] = reg;
    }
    return table;
}

constexpr auto kTable = MakeTable();

std::uint16_t Update(std::uint16_t reg, const std::uint8_t* data, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        reg = static_cast<std::uint16_t>((reg >> 8) ^ kTable[(reg ^ data[i]) & 0xFFU]);
    }
    return reg;
}

}  // namespace

std::uint16_t CRC16(const std::uint8_t* data, std::size_t length) {
    // The count is an unsigned 16-bit value: only length mod 65536 bytes are covered.
    return Update(0xFFFF, data, length & 0xFFFFU);
}

std::uint16_t CRC16Whole(std::span<const std::uint8_t> bytes) {
    return Update(0xFFFF, bytes.data(), bytes.size());
}

}  // namespace tarvex
