// Writes download containers: the "QRZBIN" header with both checksums, the parts Application,
// Font, Bitmap and Recipe in file order, and the recipe table in front of the recipes' data.
//
//   ContainerInput input;          product code, the three images, the recipes
//   BuildContainerBytes(input, options, bytes)   the whole file, or an error text
//
// The body checksum is computed the way the panel's loader checks it: over the body's length
// taken modulo 65536 (see download/Crc16.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarvex::pack {

struct Recipe {
    std::string name;  // 1 to 255 bytes, stored without terminator
    std::vector<std::uint8_t> data;
};

struct ContainerInput {
    std::uint8_t productCode = 0;
    std::vector<std::uint8_t> application;
    std::vector<std::uint8_t> font;
    std::vector<std::uint8_t> bitmap;
    std::vector<Recipe> recipes;  // the table is always written, with a count of 0 if need be
};

struct WriteOptions {
    bool badHeaderChecksum = false;  // store a header checksum that does not match
    bool badBodyChecksum = false;    // store a body checksum that does not match
};

// Fills `bytes` with the container, or returns false with the reason in `error` (a recipe
// name that does not fit its length byte, recipe data beyond the 16-bit recipe offsets, a file
// beyond the 32-bit part offsets).
bool BuildContainerBytes(const ContainerInput& input, const WriteOptions& options,
                         std::vector<std::uint8_t>& bytes, std::string& error);

}  // namespace tarvex::pack
