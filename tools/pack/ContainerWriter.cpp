#include "ContainerWriter.h"

#include "download/Crc16.h"
#include "download/DownloadContainer.h"

namespace tarvex::pack {
namespace {

constexpr std::size_t kHeaderChecksumAt = 23;
constexpr std::size_t kBodyChecksumAt = 25;
constexpr std::uint16_t kSpoil = 0x5A5A;  // any non-zero value makes a stored checksum wrong

void AppendLe16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFFU));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void AppendLe32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<std::uint8_t>((value >> shift) & 0xFFU));
    }
}

void PutLe16(std::vector<std::uint8_t>& out, std::size_t at, std::uint16_t value) {
    out[at] = static_cast<std::uint8_t>(value & 0xFFU);
    out[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

bool BuildRecipePart(const std::vector<Recipe>& recipes, std::vector<std::uint8_t>& part,
                     std::string& error) {
    if (recipes.size() > 0xFFFF) {
        error = "more than 65535 recipes";
        return false;
    }
    part.clear();
    AppendLe16(part, static_cast<std::uint16_t>(recipes.size()));
    for (const Recipe& recipe : recipes) {
        if (recipe.name.empty() || recipe.name.size() > 0xFF) {
            error = "recipe name \"" + recipe.name + "\" must have 1 to 255 bytes";
            return false;
        }
        part.push_back(static_cast<std::uint8_t>(recipe.name.size()));
        part.insert(part.end(), recipe.name.begin(), recipe.name.end());
    }
    // Each recipe's data offset counts from the start of the Recipe part and has 16 bits; the
    // first one points right behind the table.
    std::uint64_t offset = part.size() + 2 * recipes.size();
    for (const Recipe& recipe : recipes) {
        if (offset > 0xFFFF) {
            error = "recipe \"" + recipe.name + "\" would start at offset " +
                    std::to_string(offset) + " of the Recipe part, beyond the 16-bit offsets";
            return false;
        }
        AppendLe16(part, static_cast<std::uint16_t>(offset));
        offset += recipe.data.size();
    }
    for (const Recipe& recipe : recipes) {
        part.insert(part.end(), recipe.data.begin(), recipe.data.end());
    }
    return true;
}

}  // namespace

bool BuildContainerBytes(const ContainerInput& input, const WriteOptions& options,
                         std::vector<std::uint8_t>& bytes, std::string& error) {
    std::vector<std::uint8_t> recipePart;
    if (!BuildRecipePart(input.recipes, recipePart, error)) {
        return false;
    }
    const std::uint64_t total = kContainerHeaderSize + input.application.size() +
                                input.font.size() + input.bitmap.size() + recipePart.size();
    if (total > 0xFFFFFFFFU) {
        error = "the container would have " + std::to_string(total) +
                " bytes, more than the 32-bit part offsets can address";
        return false;
    }

    // The signature first and only then the room for the rest: GCC 12 at -O2 takes an insert
    // into a freshly reserved, empty vector for an overflow (-Wstringop-overflow).
    bytes.assign(kContainerSignature, kContainerSignature + 6);
    bytes.reserve(static_cast<std::size_t>(total));
    bytes.push_back(input.productCode);
    auto offset = static_cast<std::uint32_t>(kContainerHeaderSize);
    for (const auto* part : {&input.application, &input.font, &input.bitmap}) {
        AppendLe32(bytes, offset);
        offset += static_cast<std::uint32_t>(part->size());
    }
    AppendLe32(bytes, offset);  // the Recipe part runs to the end of the file
    AppendLe16(bytes, 0);       // header checksum, filled in below
    AppendLe16(bytes, 0);       // body checksum, filled in below
    const std::vector<std::uint8_t>* const body[] = {&input.application, &input.font, &input.bitmap,
                                                     &recipePart};
    for (const auto* part : body) {
        bytes.insert(bytes.end(), part->begin(), part->end());
    }

    std::uint16_t headerCrc = CRC16(bytes.data(), kHeaderChecksumAt);
    std::uint16_t bodyCrc =
        CRC16(bytes.data() + kContainerHeaderSize, bytes.size() - kContainerHeaderSize);
    if (options.badHeaderChecksum) {
        headerCrc ^= kSpoil;
    }
    if (options.badBodyChecksum) {
        bodyCrc ^= kSpoil;
    }
    PutLe16(bytes, kHeaderChecksumAt, headerCrc);
    PutLe16(bytes, kBodyChecksumAt, bodyCrc);
    return true;
}

}  // namespace tarvex::pack
