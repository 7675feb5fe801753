// The container check on arbitrary bytes. Each input is checked as it stands and once more with
// its header checksum made right, so that the fuzzer reaches the part and recipe-table checks
// behind the checksum gate without having to forge a CRC.
#include <cstddef>
#include <cstdint>
#include <numeric>
#include <span>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "download/Crc16.h"
#include "download/DownloadContainer.h"

namespace {

using namespace tarvex;

constexpr std::size_t kHeaderCrcAt = 23;

void CheckOnce(std::span<const std::uint8_t> bytes) {
    static fuzz::InputFile file("container.bin");
    const std::string& path = file.Write(bytes);

    // What an earlier container left in the form's records; a refused file must not touch it.
    CDownloadInfo info;
    info.m_arrApplication = {1};
    info.m_arrBitmap = {2};
    info.m_arrFont = {3};
    info.m_arrRecipe = {4};
    std::vector<std::string> names{"earlier"};
    std::vector<std::uint32_t> sizes{1};
    ContainerReport report;

    const bool ok = CheckDownloadContainer(path, info, names, sizes, &report);
    fuzz::Require(ok == (report.fault == ContainerFault::None), "verdict and report disagree");
    fuzz::Require(report.fileSize == bytes.size(), "file size reported wrong");
    if (!ok) {
        fuzz::Require(info.m_arrApplication.size() == 1 && info.m_arrBitmap.size() == 1 &&
                          info.m_arrFont.size() == 1 && info.m_arrRecipe.size() == 1 &&
                          names.size() == 1 && sizes.size() == 1,
                      "a refused container changed the parts");
        return;
    }
    fuzz::Require(names.size() == sizes.size(), "one size per recipe name");
    const std::uint64_t recipeBytes = std::accumulate(sizes.begin(), sizes.end(), std::uint64_t{0});
    // The recipes partition the data behind the table; without recipes whatever follows the
    // count stays as it is.
    fuzz::Require(sizes.empty() || recipeBytes == info.m_arrRecipe.size(),
                  "recipe sizes do not cover the data");
    // Each part is a run of the file's bytes (runs may overlap when the offsets go back).
    for (const auto* part :
         {&info.m_arrApplication, &info.m_arrBitmap, &info.m_arrFont, &info.m_arrRecipe}) {
        fuzz::Require(part->size() <= bytes.size(), "a part larger than the file");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    CheckOnce(bytes);
    if (size >= kContainerHeaderSize) {
        std::vector<std::uint8_t> patched(bytes.begin(), bytes.end());
        const std::uint16_t crc = CRC16(patched.data(), kHeaderCrcAt);
        patched[kHeaderCrcAt] = static_cast<std::uint8_t>(crc & 0xFFU);
        patched[kHeaderCrcAt + 1] = static_cast<std::uint8_t>(crc >> 8);
        CheckOnce(patched);
    }
    return 0;
}
