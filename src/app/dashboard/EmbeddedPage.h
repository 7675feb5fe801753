// The page's files, built into the binary from src/app/dashboard/page at build time (see
// cmake/EmbedFiles.cmake), so that the dashboard needs nothing beside the executable and
// nothing from the network.
#pragma once

#include <cstddef>
#include <string_view>

namespace tarvex::dashboard {

struct EmbeddedFile {
    const char* name;  // "index.html"
    const unsigned char* data;
    std::size_t size;
};

// Null for a name that is not one of the page's files.
const EmbeddedFile* FindPageFile(std::string_view name);

}  // namespace tarvex::dashboard
