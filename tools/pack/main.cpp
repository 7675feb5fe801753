// tarvex-pack: builds a download container from part files and recipe files.
#include <CLI/CLI.hpp>

#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "ContainerWriter.h"
#include "platform/Files.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// A part can be at most as large as the 32-bit offsets reach.
constexpr std::uint64_t kMaxInputSize = 0xFFFFFFFFU;

bool ReadInput(const std::string& what, const std::string& path, std::vector<std::uint8_t>& out) {
    tarvex::platform::FileBytes file = tarvex::platform::ReadWholeFile(path, kMaxInputSize);
    switch (file.error) {
        case tarvex::platform::ReadError::None:
            out = std::move(file.bytes);
            return true;
        case tarvex::platform::ReadError::CannotOpen:
            std::cerr << "tarvex-pack: cannot open " << what << " file '" << path << "'\n";
            return false;
        case tarvex::platform::ReadError::TooLarge:
            std::cerr << "tarvex-pack: " << what << " file '" << path << "' has " << file.fileSize
                      << " bytes, more than a container can hold\n";
            return false;
        case tarvex::platform::ReadError::OutOfMemory:
            std::cerr << "tarvex-pack: " << what << " file '" << path
                      << "' is too large for the memory available\n";
            return false;
        case tarvex::platform::ReadError::ReadFailed:
            break;
    }
    std::cerr << "tarvex-pack: cannot read " << what << " file '" << path << "'\n";
    return false;
}

std::string FileNameOf(const std::string& path) {
    const auto slash = tarvex::platform::LastSeparator(path);
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "Builds a Tarvex download container (\"QRZBIN\" file) from the panel's images and recipe "
        "files, with the header and body checksums and the recipe table filled in.",
        "tarvex-pack"};
    app.set_version_flag("--version", std::string("tarvex-pack ") + TARVEX_VERSION);

    std::string output;
    int productCode = 0;
    std::string application, font, bitmap;
    std::vector<std::string> recipes;
    tarvex::pack::WriteOptions options;
    bool verbose = false;

    app.add_option("-o,--output", output, "Container file to write (replaced if it exists)")
        ->required();
    app.add_option("--product-code", productCode,
                   "Code of the product the container is built for (0 to 255)")
        ->required()
        ->check(CLI::Range(0, 255));
    app.add_option("--application", application, "File holding the Application image");
    app.add_option("--font", font, "File holding the Font image");
    app.add_option("--bitmap", bitmap, "File holding the Bitmap image");
    app.add_option("--recipe", recipes,
                   "Recipe file; may be given several times. The recipe is named after the "
                   "file (for example Alpha.bin) and the recipes keep the order given");
    app.add_flag("--bad-header-crc", options.badHeaderChecksum,
                 "Store a wrong header checksum (for testing the container check)");
    app.add_flag("--bad-body-crc", options.badBodyChecksum,
                 "Store a wrong body checksum (for testing the container check)");
    app.add_flag("-v,--verbose", verbose, "Print the layout of the container written");
    app.footer(
        "A part that is not given is left empty. The recipe table is always written (with a "
        "count of 0 when no recipe is given).\n\n"
        "Exit status: 0 the container was written; 1 an input cannot be read, does not fit the "
        "container format (recipe name over 255 bytes, recipe data beyond the 16-bit recipe "
        "offsets, container over 4 GiB) or the output cannot be written; 2 usage error.");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e);
        return status == 0 ? kExitOk : kExitUsage;
    }

    tarvex::pack::ContainerInput input;
    input.productCode = static_cast<std::uint8_t>(productCode);
    const struct {
        const char* what;
        const std::string& path;
        std::vector<std::uint8_t>& bytes;
    } parts[] = {{"application", application, input.application},
                 {"font", font, input.font},
                 {"bitmap", bitmap, input.bitmap}};
    for (const auto& part : parts) {
        if (!part.path.empty() && !ReadInput(part.what, part.path, part.bytes)) {
            return kExitFailure;
        }
    }
    for (const std::string& path : recipes) {
        tarvex::pack::Recipe recipe;
        recipe.name = FileNameOf(path);
        if (!ReadInput("recipe", path, recipe.data)) {
            return kExitFailure;
        }
        input.recipes.push_back(std::move(recipe));
    }

    std::vector<std::uint8_t> bytes;
    std::string error;
    if (!tarvex::pack::BuildContainerBytes(input, options, bytes, error)) {
        std::cerr << "tarvex-pack: " << error << '\n';
        return kExitFailure;
    }
    const std::string_view content(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (!tarvex::platform::WriteFileAtomically(output, content, 0644)) {
        std::cerr << "tarvex-pack: cannot write '" << output << "'\n";
        return kExitFailure;
    }
    if (verbose) {
        std::cout << output << ": " << bytes.size() << " bytes, product code " << productCode
                  << ", application " << input.application.size() << ", font " << input.font.size()
                  << ", bitmap " << input.bitmap.size() << ", " << input.recipes.size()
                  << " recipe(s)\n";
    }
    return kExitOk;
}
