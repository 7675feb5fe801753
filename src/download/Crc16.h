// CRC-16/MODBUS, the one checksum of the download container and of every frame on the line.
//
//   CRC16(data, length)  checksum of the first (length mod 65536) bytes; 0xFFFF for none
//   CRC16Whole(bytes)    checksum of all the bytes
//
// The length is taken modulo 65536 on purpose: the panel's tools compute a container body's
// checksum that way, so a body of 65536 + n bytes is checksummed over its first n bytes only.
// Wherever a checksum is stored or sent, its low byte comes first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tarvex {

std::uint16_t CRC16(const std::uint8_t* data, std::size_t length);

inline std::uint16_t CRC16(std::span<const std::uint8_t> bytes) {
    return CRC16(bytes.data(), bytes.size());
}

// The same checksum over every byte, whatever the length: what writers of large containers
// store as the body checksum.
std::uint16_t CRC16Whole(std::span<const std::uint8_t> bytes);

}  // namespace tarvex
