// tarvex-cli inspect FILE [--json]: runs the container check on FILE and shows what it found.
#include <cstdio>
#include <iomanip>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "app/cli/Commands.h"
#include "app/cli/console/CliUserInterface.h"
#include "download/DownloadContainer.h"

namespace tarvex::cli {
namespace {

// A container the form accepts on its header checksum alone, with a damaged body.
constexpr int kExitDamagedBody = 3;
constexpr char kDamagedBodyText[] = "accepted on the header checksum only: the body is damaged";

struct InspectOptions {
    std::string path;
    bool json = false;
};

// Short machine-readable name of a fault, for scripts that read the JSON.
const char* FaultKey(ContainerFault fault) {
    switch (fault) {
        case ContainerFault::None:
            return "none";
        case ContainerFault::CannotOpen:
            return "cannot_open";
        case ContainerFault::TooLarge:
            return "too_large";
        case ContainerFault::TooShort:
            return "too_short";
        case ContainerFault::BadSignature:
            return "bad_signature";
        case ContainerFault::BadChecksums:
            return "bad_checksums";
        case ContainerFault::PartOutOfRange:
            return "part_out_of_range";
        case ContainerFault::RecipeTableTruncated:
            return "recipe_table_truncated";
        case ContainerFault::RecipeOffsetsInvalid:
            return "recipe_offsets_invalid";
        case ContainerFault::OutOfMemory:
            return "out_of_memory";
    }
    return "unknown";
}

std::string Hex16(std::uint16_t value) {
    char buf[7];
    std::snprintf(buf, sizeof buf, "0x%04X", value);
    return buf;
}

bool RecipePartRead(const ContainerReport& r) {
    return r.recipeTableRead || !r.recipeNames.empty() || r.recipeTableSize != 0;
}

nlohmann::json ToJson(const ContainerReport& r, bool valid) {
    nlohmann::json j;
    j["valid"] = valid;
    j["file_size"] = r.fileSize;
    if (!valid) {
        j["fault"] = FaultKey(r.fault);
        j["error"] = r.detail.empty() ? std::string(ContainerFaultText(r.fault))
                                      : std::string(ContainerFaultText(r.fault)) + ": " + r.detail;
    }
    j["signature"] = r.signature;
    if (r.productCode >= 0) {
        j["product_code"] = r.productCode;
    }
    if (!r.headerRead) {
        return j;
    }
    j["header_crc_stored"] = r.headerCrcStored;
    j["header_crc_computed"] = r.headerCrcComputed;
    j["header_crc_matches"] = r.headerCrcMatches();
    j["body_crc_stored"] = r.bodyCrcStored;
    j["body_crc_computed"] = r.bodyCrcComputed;
    j["body_crc_matches"] = r.bodyCrcMatches();
    j["body_crc_whole_computed"] = r.bodyCrcWholeComputed;
    j["body_ok"] = r.bodyOk();
    j["offsets"] = {{"application", r.application.offset},
                    {"font", r.font.offset},
                    {"bitmap", r.bitmap.offset},
                    {"recipe", r.recipe.offset}};
    nlohmann::json parts = {
        {"application", r.application.size}, {"font", r.font.size}, {"bitmap", r.bitmap.size}};
    if (r.recipeTableRead) {
        parts["recipe"] = r.recipeDataSize;
        j["recipe_table_size"] = r.recipeTableSize;
    }
    j["recipe_part_size"] = r.recipe.size;
    j["parts"] = std::move(parts);
    if (RecipePartRead(r)) {
        nlohmann::json recipes = nlohmann::json::array();
        for (std::size_t i = 0; i < r.recipeNames.size(); ++i) {
            nlohmann::json entry = {{"name", r.recipeNames[i]}};
            if (i < r.recipeOffsets.size()) {
                entry["offset"] = r.recipeOffsets[i];
            }
            if (i < r.recipeSizes.size()) {
                entry["size"] = r.recipeSizes[i];
            }
            recipes.push_back(std::move(entry));
        }
        j["recipes"] = std::move(recipes);
    }
    return j;
}

void PrintText(std::ostream& out, const std::string& path, const ContainerReport& r, bool valid) {
    auto matches = [](bool m) { return m ? "matches" : "DIFFERS"; };
    out << "File:            " << path << " (" << r.fileSize << " bytes)\n";
    if (valid && r.BodyDamaged()) {
        out << "Result:          " << kDamagedBodyText << '\n';
    } else if (valid) {
        out << "Result:          valid container\n";
    } else {
        out << "Result:          INVALID: " << ContainerFaultText(r.fault);
        if (!r.detail.empty()) {
            out << " (" << r.detail << ")";
        }
        out << '\n';
    }
    if (r.fault == ContainerFault::CannotOpen || r.fault == ContainerFault::TooLarge ||
        r.fault == ContainerFault::OutOfMemory) {
        return;
    }
    out << "Signature:       \"" << Printable(r.signature, true) << "\"\n";
    if (r.productCode >= 0) {
        out << "Product code:    " << r.productCode << '\n';
    }
    if (!r.headerRead) {
        return;
    }
    out << "Header checksum: stored " << Hex16(r.headerCrcStored) << ", computed "
        << Hex16(r.headerCrcComputed) << " (" << matches(r.headerCrcMatches()) << ")\n";
    out << "Body checksum:   stored " << Hex16(r.bodyCrcStored) << ", computed "
        << Hex16(r.bodyCrcComputed) << " (" << matches(r.bodyCrcMatches()) << ")";
    if (r.bodyCrcWholeComputed != r.bodyCrcComputed) {
        out << ", over the whole body " << Hex16(r.bodyCrcWholeComputed) << " ("
            << matches(r.bodyCrcStored == r.bodyCrcWholeComputed) << ")";
    }
    out << '\n';
    out << "Parts:           offset       size\n";
    const struct {
        const char* name;
        const ContainerPart& part;
    } rows[] = {{"Application", r.application},
                {"Font", r.font},
                {"Bitmap", r.bitmap},
                {"Recipe", r.recipe}};
    for (const auto& row : rows) {
        out << "  " << std::left << std::setw(15) << row.name << std::right << std::setw(10)
            << row.part.offset << ' ' << std::setw(10) << row.part.size << '\n';
    }
    if (!RecipePartRead(r)) {
        return;
    }
    if (r.recipeTableRead) {
        out << "Recipe table:    " << r.recipeTableSize << " bytes, recipe data "
            << r.recipeDataSize << " bytes\n";
    }
    out << "Recipes:         " << r.recipeNames.size() << '\n';
    for (std::size_t i = 0; i < r.recipeNames.size(); ++i) {
        out << "  " << std::setw(3) << i + 1 << "  " << std::left << std::setw(24)
            << Printable(r.recipeNames[i], true) << std::right;
        if (i < r.recipeOffsets.size()) {
            out << " offset " << std::setw(6) << r.recipeOffsets[i];
        }
        if (i < r.recipeSizes.size()) {
            out << "  size " << std::setw(6) << r.recipeSizes[i];
        }
        out << '\n';
    }
}

}  // namespace

void RegisterInspectCommand(CLI::App& app, int& exitStatus) {
    auto options = std::make_shared<InspectOptions>();
    auto* cmd = app.add_subcommand("inspect", "Check a download container and show its contents");
    cmd->add_option("FILE", options->path, "Download container to check")->required();
    cmd->add_flag("--json", options->json,
                  "Print one JSON object (valid, signature, product_code, header_crc_stored, "
                  "header_crc_computed, body_crc_stored, body_crc_computed, "
                  "body_crc_whole_computed, body_ok, parts, recipes; fault and error for an "
                  "invalid file) instead of text");
    cmd->footer(
        "Runs the same container check as a download: signature \"QRZBIN\", header or body "
        "checksum, part bounds and recipe table. For a file that fails, everything that could "
        "be read is still shown, with the check that failed.\n\n"
        "A body checksum matches when it covers the body's length modulo 65536 or the whole "
        "body (writers of large containers use either).\n\n"
        "Exit status: 0 the file is a valid container; 1 it is not (or cannot be read); 2 usage "
        "error; 3 it is accepted on the header checksum only: the body is damaged (a download "
        "asks first).");
    cmd->callback([options, &exitStatus] {
        CDownloadInfo info;
        std::vector<std::string> names;
        std::vector<std::uint32_t> sizes;
        ContainerReport report;
        const bool valid = CheckDownloadContainer(options->path, info, names, sizes, &report);
        if (options->json) {
            // Recipe names are raw bytes; invalid UTF-8 is replaced rather than thrown on.
            std::cout << ToJson(report, valid)
                             .dump(2, ' ', false, nlohmann::json::error_handler_t::replace)
                      << '\n';
        } else {
            PrintText(std::cout, options->path, report, valid);
        }
        std::cout.flush();
        exitStatus = !valid ? kExitFailure : report.BodyDamaged() ? kExitDamagedBody : kExitOk;
    });
}

}  // namespace tarvex::cli
