#include "download/Crc16.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string_view>
#include <vector>

namespace tarvex {
namespace {

// The bitwise loop as the panel's loader computes it, to compare the table form against.
std::uint16_t BitwiseCrc(const std::uint8_t* data, std::uint16_t count) {
    std::uint16_t reg = 0xFFFF;
    for (std::uint16_t i = 0; i < count; ++i) {
        reg ^= data[i];
        for (int b = 0; b < 8; ++b) {
            reg = (reg & 1) ? static_cast<std::uint16_t>((reg >> 1) ^ 0xA001)
                            : static_cast<std::uint16_t>(reg >> 1);
        }
    }
    return reg;
}

TEST(Crc16, ReproducesTheModbusCheckValue) {
    constexpr std::string_view digits = "123456789";
    EXPECT_EQ(CRC16(reinterpret_cast<const std::uint8_t*>(digits.data()), digits.size()), 0x4B37);
}

TEST(Crc16, EmptyBlockGivesInitialValueWithoutTouchingData) {
    EXPECT_EQ(CRC16(nullptr, 0), 0xFFFF);
}

TEST(Crc16, LengthIsTakenModulo65536) {
    std::vector<std::uint8_t> block(65537);
    for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<std::uint8_t>(i * 7 + 3);
    }
    EXPECT_EQ(CRC16(block.data(), 65536), 0xFFFF);
    EXPECT_EQ(CRC16(block.data(), 65537), CRC16(block.data(), 1));
    // 65536 + n covers the first n bytes only.
    EXPECT_EQ(CRC16(block), CRC16(block.data(), 1));
}

TEST(Crc16, TableFormMatchesTheBitwiseLoop) {
    std::vector<std::uint8_t> block(4096);
    std::uint32_t x = 12345;
    for (auto& b : block) {
        x = x * 1103515245 + 12345;
        b = static_cast<std::uint8_t>(x >> 16);
    }
    for (std::uint16_t len : {1, 2, 7, 48, 54, 262, 4096}) {
        EXPECT_EQ(CRC16(block.data(), len), BitwiseCrc(block.data(), len)) << "length " << len;
    }
}

}  // namespace
}  // namespace tarvex
