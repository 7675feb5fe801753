#include "support/ContainerBuilder.h"

#include <stdexcept>

#include "download/Crc16.h"

namespace tarvex::test {

std::vector<std::uint8_t> BuildRecipePart(const std::vector<ContainerRecipe>& recipes) {
    if (recipes.size() > 0xFFFF) {
        throw std::invalid_argument("too many recipes");
    }
    std::vector<std::uint8_t> part(2);
    SetLe16(part, 0, static_cast<std::uint16_t>(recipes.size()));
    for (const auto& recipe : recipes) {
        if (recipe.name.size() > 0xFF) {
            throw std::invalid_argument("recipe name longer than 255 bytes");
        }
        part.push_back(static_cast<std::uint8_t>(recipe.name.size()));
        part.insert(part.end(), recipe.name.begin(), recipe.name.end());
    }
    std::size_t offset = part.size() + 2 * recipes.size();
    for (const auto& recipe : recipes) {
        if (offset > 0xFFFF) {
            throw std::invalid_argument("recipe offset beyond 16 bits");
        }
        part.resize(part.size() + 2);
        SetLe16(part, part.size() - 2, static_cast<std::uint16_t>(offset));
        offset += recipe.data.size();
    }
    for (const auto& recipe : recipes) {
        part.insert(part.end(), recipe.data.begin(), recipe.data.end());
    }
    return part;
}

std::vector<std::uint8_t> BuildContainerWithRecipePart(
    const ContainerParts& parts, const std::vector<std::uint8_t>& recipePart) {
    std::vector<std::uint8_t> bytes = {'Q', 'R', 'Z', 'B', 'I', 'N', parts.productCode};
    bytes.resize(kBodyAt);
    std::uint32_t offset = kBodyAt;
    SetLe32(bytes, kApplicationOffsetAt, offset);
    offset += static_cast<std::uint32_t>(parts.application.size());
    SetLe32(bytes, kFontOffsetAt, offset);
    offset += static_cast<std::uint32_t>(parts.font.size());
    SetLe32(bytes, kBitmapOffsetAt, offset);
    offset += static_cast<std::uint32_t>(parts.bitmap.size());
    SetLe32(bytes, kRecipeOffsetAt, offset);
    for (const auto* part : {&parts.application, &parts.font, &parts.bitmap, &recipePart}) {
        bytes.insert(bytes.end(), part->begin(), part->end());
    }
    RecomputeChecksums(bytes);
    return bytes;
}

std::vector<std::uint8_t> BuildContainer(const ContainerParts& parts) {
    return BuildContainerWithRecipePart(
        parts, parts.recipeTable ? BuildRecipePart(parts.recipes) : std::vector<std::uint8_t>{});
}

void SetLe16(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint16_t value) {
    bytes.at(at) = static_cast<std::uint8_t>(value & 0xFF);
    bytes.at(at + 1) = static_cast<std::uint8_t>(value >> 8);
}

void SetLe32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        bytes.at(at + i) = static_cast<std::uint8_t>((value >> (8 * i)) & 0xFF);
    }
}

std::uint16_t GetLe16(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes.at(at) | (bytes.at(at + 1) << 8));
}

void RecomputeChecksums(std::vector<std::uint8_t>& bytes) {
    if (bytes.size() < kBodyAt) {
        throw std::invalid_argument("shorter than a container header");
    }
    SetLe16(bytes, kHeaderChecksumAt, CRC16(bytes.data(), kHeaderChecksumAt));
    SetLe16(bytes, kBodyChecksumAt, CRC16(bytes.data() + kBodyAt, bytes.size() - kBodyAt));
}

void SpoilHeaderChecksum(std::vector<std::uint8_t>& bytes) {
    SetLe16(bytes, kHeaderChecksumAt, GetLe16(bytes, kHeaderChecksumAt) ^ 0x5A5A);
}

void SpoilBodyChecksum(std::vector<std::uint8_t>& bytes) {
    SetLe16(bytes, kBodyChecksumAt, GetLe16(bytes, kBodyChecksumAt) ^ 0x5A5A);
}

std::vector<std::uint8_t> PatternBytes(std::size_t count, std::uint8_t seed) {
    std::vector<std::uint8_t> out(count);
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = static_cast<std::uint8_t>((i + seed) % 251);
    }
    return out;
}

}  // namespace tarvex::test
