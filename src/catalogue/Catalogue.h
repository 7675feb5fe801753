// The product catalogue: which products exist, and what a chosen product and version mean.
//
//   CurrentVersionTables          the lists of one product record copied when a version is chosen
//   CommaSplit(text)              items of a comma list up to the first empty one
//   FindCatalogueFolder(dir, n)   dir/n, or the entry of dir spelt n in another letter case
//   ScanProductFolder(dir)        products of a Pxx folder: every "*.cfg" file, sorted by name
//   FindCfgRecord(recs, name)     the first configuration record of a product, by its name
//   FindBootLoaderRecord(...)     the same for the bootloader-version records
//   FindProductCode(recs, name)   the product code of a product (first version, low 16 bits)
//   FindFrameSize(recs, ...)      a version's packet size, found by product and version name
//   FirmwareFormatAt(codes, i)    the format code at a Firmware Version position, 0 past the end
//
// Records are found by name rather than by position, so that a product whose configuration
// file yields no record (or two) does not move the other products onto the wrong record.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/CfgFile.h"

namespace tarvex {

inline constexpr char kProductFolder[] = "Pxx";
inline constexpr char kBootLoaderFolder[] = "Vxx";
inline constexpr char kCatalogueFileSuffix[] = ".CFG";

inline constexpr char kProductPlaceholder[] = "Select Product";
inline constexpr char kBootloaderPlaceholder[] = "Select Hardware Version";
inline constexpr char kFirmwarePlaceholder[] = "Select Firmware Version";

// Format code of the firmware placeholder entry: it lets the USB Download choice through.
inline constexpr std::uint32_t kPlaceholderFirmwareFormat = 255;

// Copies of a product record's per-version lists; position v belongs to version index v. The
// USB and upload frame sizes are not kept here: they are looked up in the records by name.
struct CurrentVersionTables {
    std::vector<std::string> m_arrVersionName;
    std::vector<std::string> m_arrDnldPswdSupport;
    std::vector<std::string> m_arrDnldPswdSupportExt;
    std::vector<std::string> m_arrDnldCmdSlaveIDSupport;
    std::vector<std::string> m_arrDnldCmdProductIDSupport;
    std::vector<std::string> m_arrUploadSupport;
    std::vector<std::string> m_arrDnldBinCommand;
    std::vector<std::string> m_arrDnldSrcCommand;
    std::vector<std::uint32_t> m_arrNoOfHeaderBytes;
    std::vector<std::string> m_arrDnldBinExtention;
    std::vector<std::uint32_t> m_arrProductCode;
    std::vector<std::string> m_arrEEPROMSerNo;
    std::vector<std::uint32_t> m_arrDwnldFrameSize;
    std::vector<std::string> m_arrBLSupportedVersions;
    std::vector<std::string> m_arrBLFormat;

    void CopyFrom(const CCFGFileDet& record);
};

// Items of a comma list: "a,b," gives a and b; "a,,b" gives a; ",a" and "" give nothing.
// Blanks belong to the items.
std::vector<std::string> CommaSplit(std::string_view text);

// appDir/name when it exists, else the entry of appDir whose name equals `name` in any letter
// case, else appDir/name (which then lists as empty).
std::string FindCatalogueFolder(const std::string& appDir, std::string_view name);

struct ScannedProduct {
    std::string name;      // the file name less its last four characters
    std::string fileName;  // as found in the folder, extension in whatever case
};

struct ProductScan {
    std::vector<ScannedProduct> products;
    int directoriesSkipped = 0;  // entries named like a configuration file that are folders
};

// Every entry of `folder` whose name ends in ".cfg" in any letter case, in ascending order of
// name with letter case ignored. Folders are counted and left out; a missing folder gives
// nothing.
ProductScan ScanProductFolder(const std::string& folder);

const CCFGFileDet* FindCfgRecord(const std::vector<CCFGFileDet>& records, std::string_view name);
const CBootLoaderDetails* FindBootLoaderRecord(const std::vector<CBootLoaderDetails>& records,
                                               std::string_view name);

// First entry of PRODUCTCODE of the first record named `name` (exact), low 16 bits; nothing
// when no record carries the name or the record has no product code.
std::optional<std::uint16_t> FindProductCode(const std::vector<CCFGFileDet>& records,
                                             std::string_view name);

enum class FrameSizeKind { Download, DownloadUsb, Upload };

// The first record named `productName` that has a version named `versionName` (both exact);
// at that version's first position, the frame size of the kind asked for, low 16 bits. 0 when
// nothing matches or the record's list is too short.
std::uint16_t FindFrameSize(const std::vector<CCFGFileDet>& records, std::string_view productName,
                            std::string_view versionName, FrameSizeKind kind);

// codes[index], or 0 when index lies outside the list (no firmware version, or one that the
// bootloader-version file gave no code for).
std::uint32_t FirmwareFormatAt(const std::vector<std::uint32_t>& codes, int index);

}  // namespace tarvex
