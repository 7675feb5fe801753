#include "download/DownloadContainer.h"

#include <algorithm>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "download/Crc16.h"
#include "download/Sha256.h"
#include "platform/Files.h"

namespace tarvex {
namespace {

// Header layout, little-endian fields.
constexpr std::size_t kSignatureSize = 6;
constexpr std::size_t kProductCodeAt = 6;
constexpr std::size_t kPartOffsetsAt = 7;  // S1..S4, four 32-bit offsets
constexpr std::size_t kHeaderCrcAt = 23;
constexpr std::size_t kBodyCrcAt = 25;

// The part offsets are 32-bit, so nothing beyond this size can be addressed.
constexpr std::uint64_t kMaxContainerSize = 0xFFFFFFFFU;

using Bytes = std::span<const std::uint8_t>;

std::uint16_t ReadLe16(Bytes bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

std::uint32_t ReadLe32(Bytes bytes, std::size_t at) {
    return static_cast<std::uint32_t>(bytes[at]) |
           (static_cast<std::uint32_t>(bytes[at + 1]) << 8) |
           (static_cast<std::uint32_t>(bytes[at + 2]) << 16) |
           (static_cast<std::uint32_t>(bytes[at + 3]) << 24);
}

std::string Hex16(std::uint16_t value) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out = "0x";
    for (int shift = 12; shift >= 0; shift -= 4) {
        out.push_back(kDigits[(value >> shift) & 0xFU]);
    }
    return out;
}

// A part as a range of the file: [begin, end) when begin < end, else empty.
struct PartRange {
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
    bool Empty() const { return begin >= end; }
    std::uint64_t Size() const { return Empty() ? 0 : end - begin; }
};

struct RecipeTable {
    ContainerFault fault = ContainerFault::None;
    std::string detail;
    std::uint32_t tableSize = 0;  // T
    std::vector<std::string> names;
    std::vector<std::uint32_t> offsets;
    std::vector<std::uint32_t> sizes;
};

// Reads the recipe table at the start of the Recipe part. Every read is bounded by the part;
// the loops stop at the first byte that is missing, so a count of 65535 in a short part costs
// no more than the part's length.
RecipeTable ReadRecipeTable(Bytes part) {
    RecipeTable table;
    const std::size_t partSize = part.size();
    if (partSize == 0) {
        // A container without a Recipe part carries no recipes; there is no table to read.
        return table;
    }
    auto truncated = [&table, partSize](std::string what) {
        table.fault = ContainerFault::RecipeTableTruncated;
        table.detail =
            what + " runs past the end of the Recipe part (" + std::to_string(partSize) + " bytes)";
        return table;
    };
    if (partSize < 2) {
        return truncated("the recipe count");
    }
    const std::uint16_t count = ReadLe16(part, 0);
    std::size_t at = 2;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (at >= partSize) {
            return truncated("the name length of recipe " + std::to_string(i + 1));
        }
        const std::size_t length = part[at];
        ++at;
        if (length > partSize - at) {
            return truncated("the name of recipe " + std::to_string(i + 1));
        }
        table.names.emplace_back(reinterpret_cast<const char*>(part.data() + at), length);
        at += length;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        if (partSize - at < 2) {
            return truncated("the data offset of recipe " + std::to_string(i + 1));
        }
        table.offsets.push_back(ReadLe16(part, at));
        at += 2;
    }
    table.tableSize = static_cast<std::uint32_t>(at);

    // The panel takes the recipes one after another from the first byte behind the table, using
    // only their sizes. The sizes partition that data only when the first offset is exactly T
    // and the offsets never go back: a first offset inside the table, or a gap after it, would
    // make every recipe be sent shifted against its name, so such a table is refused.
    auto invalid = [&table](std::string what) {
        table.fault = ContainerFault::RecipeOffsetsInvalid;
        table.detail = std::move(what);
        return table;
    };
    if (count > 0 && table.offsets[0] != table.tableSize) {
        return invalid("the first recipe offset is " + std::to_string(table.offsets[0]) +
                       ", the recipe table ends at " + std::to_string(table.tableSize));
    }
    for (std::uint32_t i = 1; i < count; ++i) {
        if (table.offsets[i] < table.offsets[i - 1]) {
            return invalid("the offset of recipe " + std::to_string(i + 1) + " (" +
                           std::to_string(table.offsets[i]) + ") is below that of recipe " +
                           std::to_string(i) + " (" + std::to_string(table.offsets[i - 1]) + ")");
        }
    }
    if (count > 0 && table.offsets[count - 1] > partSize) {
        return invalid("the offset of recipe " + std::to_string(count) + " (" +
                       std::to_string(table.offsets[count - 1]) +
                       ") lies past the end of the Recipe part (" + std::to_string(partSize) +
                       " bytes)");
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint64_t next = (i + 1 < count) ? table.offsets[i + 1] : partSize;
        table.sizes.push_back(static_cast<std::uint32_t>(next - table.offsets[i]));
    }
    return table;
}

}  // namespace

const char* ContainerFaultText(ContainerFault fault) {
    switch (fault) {
        case ContainerFault::None:
            return "valid";
        case ContainerFault::CannotOpen:
            return "the file cannot be opened or read";
        case ContainerFault::TooLarge:
            return "the file is larger than the 32-bit part offsets can address";
        case ContainerFault::TooShort:
            return "the file is shorter than the 27-byte header";
        case ContainerFault::BadSignature:
            return "the signature is not \"QRZBIN\"";
        case ContainerFault::BadChecksums:
            return "neither the header checksum nor the body checksum matches";
        case ContainerFault::PartOutOfRange:
            return "a part runs past the end of the file";
        case ContainerFault::RecipeTableTruncated:
            return "the Recipe part is too short for its recipe table";
        case ContainerFault::RecipeOffsetsInvalid:
            return "the recipe offsets are out of order or do not fit the Recipe part";
        case ContainerFault::OutOfMemory:
            return "the file is too large for the memory available";
    }
    return "unknown fault";
}

namespace {

bool CheckContainer(const std::string& path, CDownloadInfo& info,
                    std::vector<std::string>& recipeNames, std::vector<std::uint32_t>& recipeSizes,
                    ContainerReport& rep, std::string* sha256) {
    auto fail = [&rep](ContainerFault fault, std::string detail) {
        rep.fault = fault;
        rep.detail = std::move(detail);
        return false;
    };

    platform::FileBytes file = platform::ReadWholeFile(path, kMaxContainerSize);
    rep.fileSize = file.fileSize;
    switch (file.error) {
        case platform::ReadError::None:
            break;
        case platform::ReadError::TooLarge:
            return fail(ContainerFault::TooLarge,
                        "the file has " + std::to_string(file.fileSize) + " bytes");
        case platform::ReadError::OutOfMemory:
            return fail(ContainerFault::OutOfMemory,
                        "the file has " + std::to_string(file.fileSize) + " bytes");
        case platform::ReadError::CannotOpen:
        case platform::ReadError::ReadFailed:
            return fail(ContainerFault::CannotOpen, path);
    }
    // The one copy of the file: the parts become views into it.
    const SharedBytes whole(std::move(file.bytes));
    const Bytes bytes = whole.span();
    if (sha256 != nullptr) {
        // From the very bytes the parts are cut from: the file may be replaced a moment later.
        Sha256 hash;
        hash.Update(bytes);
        *sha256 = hash.HexDigest();
    }
    const std::size_t size = bytes.size();

    // First gather everything the bytes allow, for the report; the verdict follows below in the
    // order in which the panel's loader judges a container.
    rep.signature.assign(reinterpret_cast<const char*>(bytes.data()),
                         std::min(size, kSignatureSize));
    if (size > kProductCodeAt) {
        rep.productCode = bytes[kProductCodeAt];
    }
    PartRange parts[4];
    bool partsInRange = false;
    std::string partDetail;
    RecipeTable table;
    if (size >= kContainerHeaderSize) {
        rep.headerRead = true;
        std::uint32_t offsets[4];
        for (std::size_t i = 0; i < 4; ++i) {
            offsets[i] = ReadLe32(bytes, kPartOffsetsAt + 4 * i);
        }
        rep.headerCrcStored = ReadLe16(bytes, kHeaderCrcAt);
        rep.bodyCrcStored = ReadLe16(bytes, kBodyCrcAt);
        rep.headerCrcComputed = CRC16(bytes.first(kHeaderCrcAt));
        // CRC16 takes the body's length modulo 65536, as the tools that write containers do.
        rep.bodyCrcComputed = CRC16(bytes.subspan(kContainerHeaderSize));
        // Writers of large containers checksum the whole body; for a body below 64 KiB the
        // two rules agree.
        rep.bodyCrcWholeComputed = size - kContainerHeaderSize > 0xFFFFU
                                       ? CRC16Whole(bytes.subspan(kContainerHeaderSize))
                                       : rep.bodyCrcComputed;

        // File order: Application [S1, S2), Font [S2, S3), Bitmap [S3, S4), Recipe [S4, end).
        static constexpr const char* kPartNames[4] = {"Application", "Font", "Bitmap", "Recipe"};
        ContainerPart* reported[4] = {&rep.application, &rep.font, &rep.bitmap, &rep.recipe};
        partsInRange = true;
        for (std::size_t i = 0; i < 4; ++i) {
            parts[i].begin = offsets[i];
            parts[i].end = (i + 1 < 4) ? offsets[i + 1] : size;
            reported[i]->offset = offsets[i];
            reported[i]->size = static_cast<std::uint32_t>(parts[i].Size());
            if (partsInRange && !parts[i].Empty() && parts[i].end > size) {
                partsInRange = false;
                partDetail = std::string(kPartNames[i]) + " part [" +
                             std::to_string(parts[i].begin) + ", " + std::to_string(parts[i].end) +
                             ") runs past the end of the file (" + std::to_string(size) + " bytes)";
            }
        }
        if (partsInRange) {
            const PartRange& recipe = parts[3];
            table = ReadRecipeTable(
                bytes.subspan(recipe.begin < size ? recipe.begin : size, recipe.Size()));
            rep.recipeTableRead = table.fault == ContainerFault::None;
            rep.recipeTableSize = table.tableSize;
            rep.recipeNames = table.names;
            rep.recipeOffsets = table.offsets;
            rep.recipeSizes = table.sizes;
            if (rep.recipeTableRead) {
                rep.recipeDataSize = static_cast<std::uint32_t>(recipe.Size() - table.tableSize);
            }
        }
    }

    // The verdict. Signature and product code go into `info` as soon as they are read, also for
    // a file that fails later; nothing else of `info` changes before every check has passed.
    if (size < kSignatureSize) {
        return fail(ContainerFault::TooShort, "the file has " + std::to_string(size) + " bytes");
    }
    info.m_strSignature = rep.signature;
    if (rep.signature != std::string_view(kContainerSignature)) {
        return fail(ContainerFault::BadSignature, "");
    }
    if (size <= kProductCodeAt) {
        return fail(ContainerFault::TooShort, "the file has " + std::to_string(size) + " bytes");
    }
    info.m_nProductCode = rep.productCode;
    if (!rep.headerRead) {
        return fail(ContainerFault::TooShort, "the file has " + std::to_string(size) + " bytes");
    }
    // Either checksum suffices: the panel's tools have written containers whose body checksum
    // does not cover the whole body, and those must still load.
    if (!rep.headerCrcMatches() && !rep.bodyCrcMatches()) {
        return fail(ContainerFault::BadChecksums,
                    "header checksum stored " + Hex16(rep.headerCrcStored) + ", computed " +
                        Hex16(rep.headerCrcComputed) + "; body checksum stored " +
                        Hex16(rep.bodyCrcStored) + ", computed " + Hex16(rep.bodyCrcComputed));
    }
    if (!partsInRange) {
        return fail(ContainerFault::PartOutOfRange, partDetail);
    }
    if (table.fault != ContainerFault::None) {
        return fail(table.fault, table.detail);
    }

    auto part = [&whole](const PartRange& range, std::uint64_t skip = 0) {
        if (range.Empty() || skip >= range.Size()) {
            return SharedBytes{};
        }
        return whole.Sub(static_cast<std::size_t>(range.begin + skip),
                         static_cast<std::size_t>(range.Size() - skip));
    };
    info.m_arrApplication = part(parts[0]);
    info.m_arrFont = part(parts[1]);
    info.m_arrBitmap = part(parts[2]);
    info.m_arrRecipe = part(parts[3], table.tableSize);
    recipeNames = std::move(table.names);
    recipeSizes = std::move(table.sizes);
    return true;
}

}  // namespace

bool CheckDownloadContainer(const std::string& path, CDownloadInfo& info,
                            std::vector<std::string>& recipeNames,
                            std::vector<std::uint32_t>& recipeSizes, ContainerReport* report,
                            std::string* sha256) {
    ContainerReport local;
    ContainerReport& rep = report != nullptr ? *report : local;
    rep = ContainerReport{};
    try {
        return CheckContainer(path, info, recipeNames, recipeSizes, rep, sha256);
    } catch (const std::bad_alloc&) {
        // The file is held once, but even that may not fit: a limit on the process's memory,
        // or a file near 4 GiB. What was read is gone again; the previous container stays.
        const std::uint64_t fileSize = rep.fileSize;
        rep = ContainerReport{};
        rep.fileSize = fileSize;
        rep.fault = ContainerFault::OutOfMemory;
        if (fileSize != 0) {
            rep.detail = "the file has " + std::to_string(fileSize) + " bytes";
        }
        return false;
    }
}

}  // namespace tarvex
