#include "panel-sim/Protocol.h"

#include "download/Crc16.h"

namespace tarvex::panelsim {

bool IsRequestLetter(std::uint8_t letter) {
    return letter == kLetterCommand || letter == kLetterFileInfo || letter == kLetterData;
}

char LetterName(std::uint8_t letter) {
    return IsRequestLetter(letter) ? static_cast<char>(letter) : '?';
}

std::string ItemKindName(std::uint8_t itemCode) {
    switch (itemCode) {
        case 0:
            return "application";
        case 2:
        case 5:
            return "bitmap";
        case 3:
        case 7:
            return "font";
        case 4:
            return "recipe";
        default:
            return "item" + std::to_string(itemCode);
    }
}

bool ItemErasesFlash(std::uint8_t itemCode) {
    return itemCode == 2 || itemCode == 5 || itemCode == 3 || itemCode == 7;
}

std::uint16_t ReadLe16(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

std::uint32_t ReadLe32(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return static_cast<std::uint32_t>(bytes[offset]) |
           (static_cast<std::uint32_t>(bytes[offset + 1]) << 8) |
           (static_cast<std::uint32_t>(bytes[offset + 2]) << 16) |
           (static_cast<std::uint32_t>(bytes[offset + 3]) << 24);
}

bool FrameCrcMatches(std::span<const std::uint8_t> frame) {
    if (frame.size() < kCrcSize) {
        return false;
    }
    const std::size_t body = frame.size() - kCrcSize;
    const std::uint16_t crc = CRC16(frame.data(), body);
    return frame[body] == (crc & 0xFF) && frame[body + 1] == (crc >> 8);
}

Reply BuildReply(std::span<const std::uint8_t> request, std::uint8_t status) {
    Reply reply{};
    for (std::size_t i = 0; i < kHeaderSize && i < request.size(); ++i) {
        reply[i] = request[i];
    }
    reply[4] = status;
    const std::uint16_t crc = CRC16(reply.data(), 5);
    reply[5] = static_cast<std::uint8_t>(crc & 0xFF);
    reply[6] = static_cast<std::uint8_t>(crc >> 8);
    return reply;
}

std::uint16_t ByteSum16(std::span<const std::uint8_t> bytes) {
    std::uint32_t sum = 0;
    for (const std::uint8_t b : bytes) {
        sum += b;
    }
    return static_cast<std::uint16_t>(sum & 0xFFFF);
}

std::string FileInfo::NameText() const {
    std::size_t length = name.size();
    while (length > 0 && name[length - 1] == 0) {
        --length;
    }
    return std::string(reinterpret_cast<const char*>(name.data()), length);
}

std::uint64_t FileInfo::PacketCount() const {
    if (itemSize == 0 || packetSize == 0) {
        return 0;
    }
    return (static_cast<std::uint64_t>(itemSize) + packetSize - 1) / packetSize;
}

FileInfo ParseFileInfo(std::span<const std::uint8_t, kFileInfoSize> block) {
    FileInfo info;
    std::copy(block.begin(), block.end(), info.raw.begin());
    std::copy(block.begin(), block.begin() + kNameSize, info.name.begin());
    info.productCode = ReadLe16(block, 16);
    info.password = ReadLe16(block, 18);
    info.year = ReadLe16(block, 20);
    info.month = block[22];
    info.day = block[23];
    info.hour = block[24];
    info.minute = block[25];
    info.packetSize = ReadLe16(block, 26);
    info.itemSize = ReadLe32(block, 28);
    info.byteSum = ReadLe16(block, 32);
    info.bootloaderNumber = block[36];
    info.firmwareNumber = block[37];
    return info;
}

std::string SafeFileNamePart(std::string_view name) {
    if (name.empty()) {
        return "unnamed";
    }
    std::string out;
    out.reserve(name.size());
    for (const char c : name) {
        const bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                          (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
        out.push_back(keep ? c : '_');
    }
    return out;
}

std::string HexString(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const std::uint8_t b : bytes) {
        out.push_back(kDigits[b >> 4]);
        out.push_back(kDigits[b & 0x0F]);
    }
    return out;
}

}  // namespace tarvex::panelsim
