// The panel loader's wire format as the panel sees it: the request frames that arrive from the
// tool, the 7-byte replies that go back, item codes, and the 48-byte file-information block.
//
//   request: address, letter (Q/R/P), parameter (u16 LE), payload, CRC-16 (low byte first)
//   reply:   the request's first four bytes, a status byte, CRC-16 of those five bytes
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tarvex::panelsim {

inline constexpr std::uint8_t kLetterCommand = 0x51;   // 'Q'
inline constexpr std::uint8_t kLetterFileInfo = 0x52;  // 'R'
inline constexpr std::uint8_t kLetterData = 0x50;      // 'P'

inline constexpr std::size_t kHeaderSize = 4;  // address, letter, parameter
inline constexpr std::size_t kCrcSize = 2;
inline constexpr std::size_t kCommandFrameSize = kHeaderSize + kCrcSize;  // 7 with a link byte
inline constexpr std::size_t kFileInfoSize = 48;
inline constexpr std::size_t kFileInfoFrameSize = kHeaderSize + kFileInfoSize + kCrcSize;
inline constexpr std::size_t kReplySize = 7;
inline constexpr std::size_t kNameSize = 16;

// Actions of a command frame, in the parameter's high byte.
inline constexpr std::uint8_t kActionDownload = 0;
inline constexpr std::uint8_t kActionUpload = 1;
inline constexpr std::uint8_t kActionOver = 2;
inline constexpr std::uint8_t kActionCancel = 3;

// Status byte of a reply: 0 accepted, anything else is the panel's result code.
inline constexpr std::uint8_t kStatusAccepted = 0;
inline constexpr std::uint8_t kStatusInvalidCommand = 1;
inline constexpr std::uint8_t kStatusPasswordFailed = 2;
inline constexpr std::uint8_t kStatusProductIdFailed = 3;
inline constexpr std::uint8_t kStatusSizeExceeded = 4;

bool IsRequestLetter(std::uint8_t letter);
char LetterName(std::uint8_t letter);  // 'Q', 'R', 'P' or '?'

// "application", "bitmap", "font", "recipe" or "item<code>".
std::string ItemKindName(std::uint8_t itemCode);
// Bitmap and font items make the panel erase flash before it answers their file information.
bool ItemErasesFlash(std::uint8_t itemCode);

std::uint16_t ReadLe16(std::span<const std::uint8_t> bytes, std::size_t offset);
std::uint32_t ReadLe32(std::span<const std::uint8_t> bytes, std::size_t offset);

// True when the last two bytes of frame are the CRC-16 of the bytes before, low byte first.
bool FrameCrcMatches(std::span<const std::uint8_t> frame);

using Reply = std::array<std::uint8_t, kReplySize>;

// The reply to request (at least kHeaderSize bytes) with the given status.
Reply BuildReply(std::span<const std::uint8_t> request, std::uint8_t status);

// Sum of all bytes modulo 65536, the check the file-information block carries.
std::uint16_t ByteSum16(std::span<const std::uint8_t> bytes);

struct FileInfo {
    std::array<std::uint8_t, kFileInfoSize> raw{};
    std::array<std::uint8_t, kNameSize> name{};
    std::uint16_t productCode = 0;
    std::uint16_t password = 0;
    std::uint16_t year = 0;
    std::uint8_t month = 0;
    std::uint8_t day = 0;
    std::uint8_t hour = 0;
    std::uint8_t minute = 0;
    std::uint16_t packetSize = 0;
    std::uint32_t itemSize = 0;
    std::uint16_t byteSum = 0;
    std::uint8_t bootloaderNumber = 0;
    std::uint8_t firmwareNumber = 0;

    // The name field without its trailing zero bytes.
    std::string NameText() const;
    // Packets the item takes: size / packet size, rounded up; 0 for an empty item.
    std::uint64_t PacketCount() const;
};

FileInfo ParseFileInfo(std::span<const std::uint8_t, kFileInfoSize> block);

// A name made safe to use inside a file name: letters, digits, '.', '_' and '-' are kept,
// every other byte becomes '_'; an empty name becomes "unnamed".
std::string SafeFileNamePart(std::string_view name);

// Hexadecimal digits of the bytes, two per byte, no separators.
std::string HexString(std::span<const std::uint8_t> bytes);

}  // namespace tarvex::panelsim
