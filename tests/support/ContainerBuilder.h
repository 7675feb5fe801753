// Builds download container bytes for tests: header, four parts and the recipe table, with both
// checksums right unless a test spoils them afterwards.
//
//   ContainerParts parts;              application, font, bitmap, recipes, product code
//   BuildContainer(parts)              the container bytes, checksums right
//   BuildRecipePart(recipes)           the Recipe part alone: table + data
//   SetLe16 / SetLe32                  patch a field in place (offsets, counts)
//   RecomputeChecksums(bytes)          both checksums right again after patching
//   SpoilHeaderChecksum / SpoilBodyChecksum
//
// Field positions of the header are exported so that tests can patch them by name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tarvex::test {

inline constexpr std::size_t kProductCodeAt = 6;
inline constexpr std::size_t kApplicationOffsetAt = 7;  // S1
inline constexpr std::size_t kFontOffsetAt = 11;        // S2
inline constexpr std::size_t kBitmapOffsetAt = 15;      // S3
inline constexpr std::size_t kRecipeOffsetAt = 19;      // S4
inline constexpr std::size_t kHeaderChecksumAt = 23;
inline constexpr std::size_t kBodyChecksumAt = 25;
inline constexpr std::size_t kBodyAt = 27;

struct ContainerRecipe {
    std::string name;  // up to 255 bytes
    std::vector<std::uint8_t> data;
};

struct ContainerParts {
    std::uint8_t productCode = 0;
    std::vector<std::uint8_t> application{};
    std::vector<std::uint8_t> font{};
    std::vector<std::uint8_t> bitmap{};
    std::vector<ContainerRecipe> recipes{};
    // Without a table the Recipe part is left out entirely (S4 = end of file).
    bool recipeTable = true;
};

// The Recipe part: count, names, offsets (the first one equal to the table size), then the data.
std::vector<std::uint8_t> BuildRecipePart(const std::vector<ContainerRecipe>& recipes);

// Parts in file order Application, Font, Bitmap, Recipe, directly behind the 27-byte header.
std::vector<std::uint8_t> BuildContainer(const ContainerParts& parts);

// A container around a ready-made Recipe part (for tables that BuildRecipePart would not write).
std::vector<std::uint8_t> BuildContainerWithRecipePart(const ContainerParts& parts,
                                                       const std::vector<std::uint8_t>& recipePart);

void SetLe16(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint16_t value);
void SetLe32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value);
std::uint16_t GetLe16(const std::vector<std::uint8_t>& bytes, std::size_t at);

void RecomputeChecksums(std::vector<std::uint8_t>& bytes);
void SpoilHeaderChecksum(std::vector<std::uint8_t>& bytes);
void SpoilBodyChecksum(std::vector<std::uint8_t>& bytes);

// Bytes 0, 1, 2, ... (mod 251), so that a part copied from the wrong place shows.
std::vector<std::uint8_t> PatternBytes(std::size_t count, std::uint8_t seed = 0);

}  // namespace tarvex::test
