// The two text files that describe a product, and their readers.
//
//   ReadCfgFile(path, records)       product configuration file (Pxx/<name>.CFG): appends one
//                                    CCFGFileDet per positive NOOFVERSIONS line, in file order
//   ReadBootLoaderFile(path, rec)    bootloader-version file (Vxx/<name>.CFG): fills rec with
//                                    what the file has; a short or missing file leaves the rest
//                                    empty. Only complete triples (version, firmware list, code
//                                    list) are taken, so the three lists keep one length, while
//                                    m_nNoOfBLVersions keeps the count as written
//
// Both take LF and CR LF line ends and stop at the first line that is exactly "[EOF]". Both tell
// in their result whether the file could be read; they show nothing themselves. Odd content is
// never a failure: what cannot be understood is left out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarvex {

// One product configuration file's record; position j of every list belongs to version j + 1.
class CCFGFileDet {
  public:
    std::int32_t m_nNoOfVersions = 0;
    std::vector<std::string> m_arrVersionName;
    std::vector<std::string> m_arrDnldPswdSupport;
    std::vector<std::string> m_arrDnldCmdSlaveIDSupport;
    std::vector<std::string> m_arrDnldCmdProductIDSupport;
    std::vector<std::string> m_arrUploadSupport;
    std::vector<std::string> m_arrDnldPswdSupportExt;
    std::vector<std::string> m_arrDnldBinCommand;
    std::vector<std::string> m_arrDnldSrcCommand;
    std::vector<std::uint32_t> m_arrNoOfHeaderBytes;
    std::vector<std::string> m_arrDnldBinExtention;
    std::vector<std::uint32_t> m_arrProductCode;
    std::string m_strName;
    std::vector<std::string> m_arrEEPROMSerNo;
    std::vector<std::uint32_t> m_arrDwnldFrameSize;
    std::vector<std::uint32_t> m_arrUpldFrameSize;
    std::vector<std::uint32_t> m_arrDwnldFrameSizeUSB;
    std::vector<std::string> m_arrBLSupportedVersions;
    std::vector<std::string> m_arrBLFormat;
};

// One bootloader-version file's record; entry j of the lists belongs to bootloader version j + 1.
class CBootLoaderDetails {
  public:
    std::string m_strName;
    std::uint16_t m_nNoOfBLVersions = 0;
    std::vector<std::string> m_arrBLVersion;
    std::vector<std::string> m_arrFirmwareVersions;  // comma lists, as read
    std::vector<std::string> m_arrFirmwareFormats;   // comma lists, as read
};

// Whether a catalogue file could be read, and if not, what to say about it.
struct CatalogueFileRead {
    bool ok = true;
    std::string error;  // empty when ok

    explicit operator bool() const { return ok; }
};

// The errors. The form shows the first in a plain box, once for each product configuration file
// it cannot read; a bootloader-version file that cannot be read it passes over in silence (the
// product then offers no hardware version).
inline constexpr char kCannotOpenConfigFile[] = "Cannot open config file!";
inline constexpr char kCannotOpenBootLoaderFile[] = "Cannot open bootloader version file!";

// A file that cannot be read adds no record.
[[nodiscard]] CatalogueFileRead ReadCfgFile(const std::string& path,
                                            std::vector<CCFGFileDet>& records);
// A file that cannot be read leaves the record as it was.
CatalogueFileRead ReadBootLoaderFile(const std::string& path, CBootLoaderDetails& record);

}  // namespace tarvex
