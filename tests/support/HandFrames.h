// Frames and replies of the panel's protocol built by hand, apart from the tool's and the
// simulator's own frame code, so that a test of either does not check that code against itself:
// address, letter, 16-bit parameter and payload, then the CRC-16 of all of them (little-endian).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tarvex::test {

using Bytes = std::vector<std::uint8_t>;

// The bytes with their CRC-16 appended, low byte first.
Bytes WithCrc(Bytes bytes);
// Whether the last two bytes hold the CRC-16 of the ones before them.
bool CrcGood(std::span<const std::uint8_t> frame);

Bytes RequestFrame(std::uint8_t address, std::uint8_t letter, std::uint16_t parameter,
                   const Bytes& payload = {});
// The reply a panel gives to a request: its first four bytes echoed, the status, the CRC.
Bytes ReplyFrame(const Bytes& request, std::uint8_t status);

// The sum of all bytes modulo 65536, as the file-information block carries it.
std::uint16_t Sum16(const Bytes& bytes);

// The fields of a file-information block that tests vary. The block is dated 2024-05-17 13:45
// and names bootloader 3 and firmware 7.
struct HandBlock {
    std::string name = "Panel1";
    std::uint16_t productCode = 0x1234;
    std::uint16_t password = 4321;
    std::uint16_t packetSize = 4;
    std::uint32_t size = 0;
    std::optional<std::uint16_t> byteSum;  // none: the sum of data
    Bytes data;
};

// The block announcing all of `data` in packets of packetSize.
HandBlock BlockFor(const Bytes& data, std::uint16_t packetSize, std::string name = "Panel1");
// The 48 bytes of the block.
Bytes InfoBlock(const HandBlock& b);

}  // namespace tarvex::test
