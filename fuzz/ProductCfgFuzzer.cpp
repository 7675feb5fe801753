// The product configuration file reader (Pxx/<name>.CFG) on arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "FuzzSupport.h"
#include "catalogue/CfgFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarvex;
    static fuzz::InputFile file("H1.CFG");
    std::vector<CCFGFileDet> records;
    const CatalogueFileRead read = ReadCfgFile(file.Write(std::span(data, size)), records);
    fuzz::Require(read.ok, "a file that exists could not be read");
    for (const CCFGFileDet& record : records) {
        fuzz::Require(record.m_nNoOfVersions > 0, "a record without a positive version count");
        fuzz::Require(record.m_strName == "H1", "the product is not named after its file");
        // Every stored value came from a line of its own.
        fuzz::Require(
            record.m_arrVersionName.size() <= size && record.m_arrProductCode.size() <= size,
            "more values than lines");
        fuzz::Require(record.m_arrDnldPswdSupport.size() == record.m_arrDnldPswdSupportExt.size(),
                      "password support without its extension");
    }
    return 0;
}
