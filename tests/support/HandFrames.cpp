#include "support/HandFrames.h"

#include <utility>

#include "download/Crc16.h"
#include "support/ContainerBuilder.h"

namespace tarvex::test {

Bytes WithCrc(Bytes bytes) {
    const std::uint16_t crc = CRC16(bytes);
    bytes.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(crc >> 8));
    return bytes;
}

bool CrcGood(std::span<const std::uint8_t> frame) {
    if (frame.size() < 2) {
        return false;
    }
    const std::uint16_t crc = CRC16(frame.first(frame.size() - 2));
    return frame[frame.size() - 2] == (crc & 0xFF) && frame[frame.size() - 1] == (crc >> 8);
}

Bytes RequestFrame(std::uint8_t address, std::uint8_t letter, std::uint16_t parameter,
                   const Bytes& payload) {
    Bytes frame{address, letter, static_cast<std::uint8_t>(parameter & 0xFF),
                static_cast<std::uint8_t>(parameter >> 8)};
    frame.insert(frame.end(), payload.begin(), payload.end());
    return WithCrc(std::move(frame));
}

Bytes ReplyFrame(const Bytes& request, std::uint8_t status) {
    Bytes reply(request.begin(), request.begin() + 4);
    reply.push_back(status);
    return WithCrc(std::move(reply));
}

HandBlock BlockFor(const Bytes& data, std::uint16_t packetSize, std::string name) {
    HandBlock b;
    b.name = std::move(name);
    b.data = data;
    b.size = static_cast<std::uint32_t>(data.size());
    b.packetSize = packetSize;
    return b;
}

std::uint16_t Sum16(const Bytes& bytes) {
    std::uint32_t sum = 0;
    for (const std::uint8_t b : bytes) {
        sum += b;
    }
    return static_cast<std::uint16_t>(sum);
}

Bytes InfoBlock(const HandBlock& b) {
    Bytes block(48, 0);
    for (std::size_t i = 0; i < b.name.size() && i < 16; ++i) {
        block[i] = static_cast<std::uint8_t>(b.name[i]);
    }
    SetLe16(block, 16, b.productCode);
    SetLe16(block, 18, b.password);
    SetLe16(block, 20, 2024);
    block[22] = 5;
    block[23] = 17;
    block[24] = 13;
    block[25] = 45;
    SetLe16(block, 26, b.packetSize);
    SetLe32(block, 28, b.size);
    SetLe16(block, 32, b.byteSum ? *b.byteSum : Sum16(b.data));
    block[35] = 1;
    block[36] = 3;
    block[37] = 7;
    return block;
}

}  // namespace tarvex::test
