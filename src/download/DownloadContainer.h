// The download container: a "QRZBIN" bin file holding the panel's application, font, bitmap
// and recipe images behind a 27-byte header with two CRC-16 checksums.
//
//   CheckDownloadContainer(path, info, names, sizes, report)
//       reads the file, judges signature and checksums, checks that every part and the recipe
//       table lie inside the file, and only then replaces the parts in `info` and the recipe
//       lists. On failure only the signature and product code of `info` may have changed.
//       `report` (optional) receives everything that could be read, for inspection;
//       `sha256` (optional) the SHA-256 of the bytes read, whatever the verdict.
//
// A file is accepted when either checksum matches. One accepted on its header checksum whose
// stored body checksum matches the body under neither rule (`ContainerReport::BodyDamaged`) is
// valid as far as the check goes; the form asks before it downloads such a file.
//
// Damaged files are refused rather than clamped: a file shorter than the header, a part that
// runs past the end of the file, a Recipe part too short for its table, and recipe offsets that
// do not start right behind the table, go back, or lie past the Recipe part. A part whose start
// is not below its end is empty; an empty Recipe part carries no recipes and no table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/SharedBytes.h"

namespace tarvex {

inline constexpr std::size_t kContainerHeaderSize = 27;
inline constexpr char kContainerSignature[] = "QRZBIN";

// The contents of the last container that passed the check. The parts are views into the one
// copy of the file held in memory.
class CDownloadInfo {
  public:
    std::string m_strSignature;
    std::int32_t m_nProductCode = 65535;
    SharedBytes m_arrApplication;
    SharedBytes m_arrBitmap;
    SharedBytes m_arrFont;
    SharedBytes m_arrRecipe;  // the recipes' data, without the recipe table
};

enum class ContainerFault {
    None,
    CannotOpen,
    TooLarge,  // larger than the 32-bit offsets can address
    TooShort,  // shorter than the header
    BadSignature,
    BadChecksums,    // neither checksum matches
    PartOutOfRange,  // a part runs past the end of the file
    RecipeTableTruncated,
    RecipeOffsetsInvalid,  // out of order, inside the table, or past the part
    OutOfMemory,           // the file does not fit into the memory available
};

const char* ContainerFaultText(ContainerFault fault);

struct ContainerPart {
    std::uint32_t offset = 0;  // start as stored in the header
    std::uint32_t size = 0;    // 0 when its start is not below its end
};

struct ContainerReport {
    ContainerFault fault = ContainerFault::None;
    std::string detail;  // what exactly failed, with the numbers involved; empty when valid
    std::uint64_t fileSize = 0;
    bool headerRead = false;  // the 27 header bytes were there
    std::string signature;
    int productCode = -1;
    std::uint16_t headerCrcStored = 0, headerCrcComputed = 0;
    std::uint16_t bodyCrcStored = 0, bodyCrcComputed = 0;
    std::uint16_t bodyCrcWholeComputed = 0;           // over the whole body, whatever its length
    ContainerPart application, font, bitmap, recipe;  // recipe: the whole Recipe part
    bool recipeTableRead = false;
    std::uint32_t recipeTableSize = 0;         // T
    std::uint32_t recipeDataSize = 0;          // the Recipe part less its table
    std::vector<std::string> recipeNames;      // as far as the table could be read
    std::vector<std::uint32_t> recipeOffsets;  // as far as the table could be read
    std::vector<std::uint32_t> recipeSizes;    // only when the offsets are valid

    bool headerCrcMatches() const { return headerCrcStored == headerCrcComputed; }
    bool bodyCrcMatches() const { return bodyCrcStored == bodyCrcComputed; }
    // The stored body checksum matches the body under either rule its writers use: the length
    // modulo 65536, or the whole body. A container accepted on its header checksum alone while
    // this is false has a damaged body.
    bool bodyOk() const { return bodyCrcMatches() || bodyCrcStored == bodyCrcWholeComputed; }
    bool BodyDamaged() const { return headerRead && !bodyOk(); }
};

bool CheckDownloadContainer(const std::string& path, CDownloadInfo& info,
                            std::vector<std::string>& recipeNames,
                            std::vector<std::uint32_t>& recipeSizes,
                            ContainerReport* report = nullptr, std::string* sha256 = nullptr);

}  // namespace tarvex
