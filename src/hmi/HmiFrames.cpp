#include "hmi/HmiFrames.h"

#include <algorithm>
#include <limits>

#include "download/Crc16.h"
#include "platform/Text.h"

namespace tarvex::hmi {
namespace {

void PutLe16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFFU));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

template <std::size_t N>
void PutLe16At(std::array<std::uint8_t, N>& out, std::size_t at, std::uint16_t value) {
    out[at] = static_cast<std::uint8_t>(value & 0xFFU);
    out[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

std::vector<std::uint8_t> BuildFrame(std::uint8_t slave, std::uint8_t letter,
                                     std::uint16_t parameter,
                                     std::span<const std::uint8_t> payload) {
    std::vector<std::uint8_t> frame;
    frame.reserve(kFrameOverhead + payload.size());
    frame.push_back(slave);
    frame.push_back(letter);
    PutLe16(frame, parameter);
    frame.insert(frame.end(), payload.begin(), payload.end());
    PutLe16(frame, CRC16(frame));
    return frame;
}

}  // namespace

std::uint8_t ActionCode(std::string_view action) {
    if (action == kActionUpload) {
        return 1;
    }
    if (action == kActionOver) {
        return 2;
    }
    if (action == kActionCancel) {
        return 3;
    }
    return 0;
}

bool HmiTypeKnown(std::string_view hmiType) {
    return hmiType == kHmiTypeUser || hmiType == kHmiTypeInternal;
}

std::uint8_t ItemCode(std::string_view item, std::string_view hmiType) {
    const bool user = hmiType == kHmiTypeUser;
    const bool internal = hmiType == kHmiTypeInternal;
    if (item == kItemBitmap) {
        return user ? 2 : internal ? 5 : 0;
    }
    if (item == kItemFont) {
        return user ? 3 : internal ? 7 : 0;
    }
    if (item == kItemRecipe) {
        return 4;
    }
    return 0;  // the application, and anything unknown
}

std::uint16_t EncodeItemAction(std::string_view item, std::string_view action,
                               std::string_view hmiType) {
    return static_cast<std::uint16_t>(ActionCode(action) * 256U + ItemCode(item, hmiType));
}

std::uint16_t ByteSum16(std::span<const std::uint8_t> bytes) {
    std::uint32_t sum = 0;
    for (std::uint8_t b : bytes) {
        sum += b;
    }
    return static_cast<std::uint16_t>(sum & 0xFFFFU);
}

std::vector<std::uint8_t> BuildCommandFrame(std::uint8_t slave, std::uint16_t itemAction,
                                            std::optional<std::uint8_t> linkByte) {
    if (linkByte) {
        const std::uint8_t payload[1] = {*linkByte};
        return BuildFrame(slave, kCommandLetter, itemAction, payload);
    }
    return BuildFrame(slave, kCommandLetter, itemAction, {});
}

std::vector<std::uint8_t> BuildInfoFrame(std::uint8_t slave, std::uint16_t itemAction,
                                         std::span<const std::uint8_t> payload) {
    return BuildFrame(slave, kFileInfoLetter, itemAction, payload);
}

std::vector<std::uint8_t> BuildDataFrame(std::uint8_t slave, std::uint16_t packetNumber,
                                         std::span<const std::uint8_t> payload) {
    return BuildFrame(slave, kDataLetter, packetNumber, payload);
}

std::array<std::uint8_t, kFileInfoSize> BuildFileInfo(const FileInfoFields& f) {
    std::array<std::uint8_t, kFileInfoSize> block{};
    const std::size_t nameLength = std::min(f.name.size(), kFileInfoNameSize);
    std::copy_n(f.name.begin(), nameLength, block.begin());
    PutLe16At(block, 16, f.productCode);
    PutLe16At(block, 18, f.password);
    PutLe16At(block, 20, f.year);
    block[22] = f.month;
    block[23] = f.day;
    block[24] = f.hour;
    block[25] = f.minute;
    PutLe16At(block, 26, f.packetSize);
    block[28] = static_cast<std::uint8_t>(f.size & 0xFFU);
    block[29] = static_cast<std::uint8_t>((f.size >> 8) & 0xFFU);
    block[30] = static_cast<std::uint8_t>((f.size >> 16) & 0xFFU);
    block[31] = static_cast<std::uint8_t>((f.size >> 24) & 0xFFU);
    PutLe16At(block, 32, f.byteSum);
    block[34] = 0x00;
    block[35] = 0x01;
    block[36] = f.bootloaderNumber;
    block[37] = f.firmwareNumber;
    return block;  // bytes 38..47 stay zero
}

std::string RecipeInfoName(std::string_view recipeName) {
    std::string name(recipeName);
    const auto at = name.find(".bin");
    if (at != std::string::npos) {
        name.erase(at, 4);
    }
    return name;
}

std::uint8_t BootloaderNumber(std::string_view text) {
    const auto dot = text.find('.');
    const std::string_view rest = dot == std::string_view::npos ? text : text.substr(dot + 1);
    const auto dash = rest.find('-');
    if (dash == std::string_view::npos) {
        return 0;
    }
    return static_cast<std::uint8_t>(ParseDecimal(rest.substr(0, dash)) & 0xFF);
}

std::uint8_t FirmwareNumber(std::string_view text) {
    const auto dot = text.find('.');
    const std::string_view rest =
        (dot == std::string_view::npos || dot == 0) ? text : text.substr(dot + 1);
    return static_cast<std::uint8_t>(ParseDecimal(rest) & 0xFF);
}

std::uint32_t PasswordNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') {
        ++i;
    }
    std::uint64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = std::min<std::uint64_t>(value * 10 + static_cast<std::uint64_t>(text[i] - '0'),
                                        std::numeric_limits<std::uint32_t>::max());
    }
    return static_cast<std::uint32_t>(value);
}

ReplyVerdict JudgeReply(std::span<const std::uint8_t> request,
                        std::span<const std::uint8_t> reply) {
    ReplyVerdict verdict;
    if (reply.size() < 5 || request.size() < 4) {
        return verdict;
    }
    verdict.echoMatches = std::equal(reply.begin(), reply.begin() + 4, request.begin());
    verdict.status = reply[4];
    const std::size_t length = reply.size();
    const std::uint16_t crc = CRC16(reply.data(), length - 2);
    verdict.crcMatches = reply[length - 2] == static_cast<std::uint8_t>(crc & 0xFFU) &&
                         reply[length - 1] == static_cast<std::uint8_t>(crc >> 8);
    return verdict;
}

std::optional<std::string_view> TargetCodeMessage(std::uint8_t code) {
    switch (code) {
        case 1:
            return "Received an invalid command!";
        case 2:
            return "Password Verification Failed!";
        case 3:
            return "Product ID Verification Failed!";
        case 4:
            return "File size has exceeded!";
        case 5:
            return "Software version mismatch!";
        case 6:
            return "Hardware version mismatch!";
        case 7:
            return "SD Card not found!";
        case 8:
            return "Could not find Recipe File for Download!";
        default:
            return std::nullopt;
    }
}

std::uint32_t PacketCount(std::uint32_t size, std::uint16_t packetSize) {
    if (packetSize == 0) {
        return 0;
    }
    return size / packetSize + (size % packetSize != 0 ? 1U : 0U);
}

}  // namespace tarvex::hmi
