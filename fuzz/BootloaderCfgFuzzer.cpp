// The bootloader-version file reader (Vxx/<name>.CFG) on arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <span>

#include "FuzzSupport.h"
#include "catalogue/CfgFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarvex;
    static fuzz::InputFile file("H1.CFG");
    CBootLoaderDetails record;
    ReadBootLoaderFile(file.Write(std::span(data, size)), record);
    const std::size_t versions = record.m_arrBLVersion.size();
    fuzz::Require(record.m_arrFirmwareVersions.size() == versions &&
                      record.m_arrFirmwareFormats.size() == versions,
                  "the three lists differ in length");
    fuzz::Require(versions <= record.m_nNoOfBLVersions, "more versions than the count");
    return 0;
}
