// The panel loader's frames and replies, as pure functions.
//
// Request frame: slave address, command letter, 16-bit parameter, payload, CRC-16 (all
// little-endian):
//   'Q' command frame     parameter = item-and-action code; payload none or one link byte
//   'R' file information  parameter = item-and-action code; payload the 48-byte block
//   'P' data frame        parameter = packet number from 0; payload exactly one packet
// Reply: the request's first four bytes echoed, a status byte (0 accepted, else the panel's
// code), CRC-16 of the five bytes before.
//
//   EncodeItemAction(item, action, hmiType)   action code × 256 + item code
//   Build*Frame(...)                          a whole request frame, CRC included
//   BuildFileInfo(fields)                     the 48-byte file-information block
//   JudgeReply(request, reply)                echo, status and CRC of one reply
//   TargetCodeMessage(code)                   the text of a panel's result code 1..8
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarvex::hmi {

inline constexpr std::uint8_t kCommandLetter = 0x51;   // 'Q'
inline constexpr std::uint8_t kFileInfoLetter = 0x52;  // 'R'
inline constexpr std::uint8_t kDataLetter = 0x50;      // 'P'

inline constexpr std::size_t kFrameOverhead = 6;  // address, letter, parameter, CRC
inline constexpr std::size_t kReplyLength = 7;
inline constexpr std::size_t kFileInfoSize = 48;
inline constexpr std::size_t kFileInfoNameSize = 16;

// Item identifiers, as the transfer names its items.
inline constexpr std::string_view kItemApplication = "H1.bin";
inline constexpr std::string_view kItemBitmap = "BMP.bin";
inline constexpr std::string_view kItemFont = "Font.bin";
inline constexpr std::string_view kItemRecipe = "Recipe.bin";

// Actions.
inline constexpr std::string_view kActionDownload = "Download";
inline constexpr std::string_view kActionUpload = "Upload";
inline constexpr std::string_view kActionOver = "Over";
inline constexpr std::string_view kActionCancel = "Cancel";

// HMI types of the download data file that give bitmaps and fonts their own item codes.
inline constexpr std::string_view kHmiTypeUser = "USER_HMI";
inline constexpr std::string_view kHmiTypeInternal = "INTERNAL_MMI";

// Download 0, Upload 1, Over 2, Cancel 3; any other text 0.
std::uint8_t ActionCode(std::string_view action);

// Application 0; Bitmap 2 (USER_HMI) or 5 (INTERNAL_MMI); Font 3 or 7; Recipe 4. Bitmap and
// Font under another HMI type, and unknown identifiers, give 0.
std::uint8_t ItemCode(std::string_view item, std::string_view hmiType);

// True when the HMI type gives bitmaps and fonts codes of their own.
bool HmiTypeKnown(std::string_view hmiType);

std::uint16_t EncodeItemAction(std::string_view item, std::string_view action,
                               std::string_view hmiType);

// Sum of all bytes modulo 65536.
std::uint16_t ByteSum16(std::span<const std::uint8_t> bytes);

std::vector<std::uint8_t> BuildCommandFrame(std::uint8_t slave, std::uint16_t itemAction,
                                            std::optional<std::uint8_t> linkByte = std::nullopt);
std::vector<std::uint8_t> BuildInfoFrame(std::uint8_t slave, std::uint16_t itemAction,
                                         std::span<const std::uint8_t> payload);
std::vector<std::uint8_t> BuildDataFrame(std::uint8_t slave, std::uint16_t packetNumber,
                                         std::span<const std::uint8_t> payload);

struct FileInfoFields {
    std::string name;  // cut to 16 bytes, zero padded
    std::uint16_t productCode = 0;
    std::uint16_t password = 0;
    std::uint16_t year = 0;
    std::uint8_t month = 0;
    std::uint8_t day = 0;
    std::uint8_t hour = 0;
    std::uint8_t minute = 0;
    std::uint16_t packetSize = 0;
    std::uint32_t size = 0;
    std::uint16_t byteSum = 0;
    std::uint8_t bootloaderNumber = 0;
    std::uint8_t firmwareNumber = 0;
};

std::array<std::uint8_t, kFileInfoSize> BuildFileInfo(const FileInfoFields& fields);

// A recipe's name as the block carries it: the first ".bin" removed.
std::string RecipeInfoName(std::string_view recipeName);

// The number after the first "." of a bootloader version text, cut before its first "-";
// 0 when the text has no "-". Low 8 bits.
std::uint8_t BootloaderNumber(std::string_view bootloaderText);

// The number after the first "." of a firmware version text (the whole text when there is no
// "." or it comes first). Low 8 bits.
std::uint8_t FirmwareNumber(std::string_view firmwareText);

// The Password field as an unsigned number: leading blanks skipped, the decimal digits up to
// the first other character; 0 when there are none; the largest 32-bit value when too long.
std::uint32_t PasswordNumber(std::string_view passwordText);

struct ReplyVerdict {
    bool echoMatches = false;  // reply bytes 0..3 equal the request's
    std::uint8_t status = 0;   // reply byte 4
    bool crcMatches = false;   // CRC of bytes 0..L-3 in bytes L-2 (low) and L-1 (high)
    bool Confirmed() const { return echoMatches && status == 0 && crcMatches; }
};

// Judges a reply buffer of L bytes (bytes that did not arrive are 0) against its request.
ReplyVerdict JudgeReply(std::span<const std::uint8_t> request, std::span<const std::uint8_t> reply);

// "Received an invalid command!" ... "Could not find Recipe File for Download!" for 1..8;
// nothing for any other code.
std::optional<std::string_view> TargetCodeMessage(std::uint8_t code);

// Packets for an item of `size` bytes in packets of `packetSize` (> 0) bytes.
std::uint32_t PacketCount(std::uint32_t size, std::uint16_t packetSize);

}  // namespace tarvex::hmi
