#include "catalogue/Catalogue.h"

#include "platform/Files.h"

namespace tarvex {

void CurrentVersionTables::CopyFrom(const CCFGFileDet& record) {
    m_arrVersionName = record.m_arrVersionName;
    m_arrDnldPswdSupport = record.m_arrDnldPswdSupport;
    m_arrDnldPswdSupportExt = record.m_arrDnldPswdSupportExt;
    m_arrDnldCmdSlaveIDSupport = record.m_arrDnldCmdSlaveIDSupport;
    m_arrDnldCmdProductIDSupport = record.m_arrDnldCmdProductIDSupport;
    m_arrUploadSupport = record.m_arrUploadSupport;
    m_arrDnldBinCommand = record.m_arrDnldBinCommand;
    m_arrDnldSrcCommand = record.m_arrDnldSrcCommand;
    m_arrNoOfHeaderBytes = record.m_arrNoOfHeaderBytes;
    m_arrDnldBinExtention = record.m_arrDnldBinExtention;
    m_arrProductCode = record.m_arrProductCode;
    m_arrEEPROMSerNo = record.m_arrEEPROMSerNo;
    m_arrDwnldFrameSize = record.m_arrDwnldFrameSize;
    m_arrBLSupportedVersions = record.m_arrBLSupportedVersions;
    m_arrBLFormat = record.m_arrBLFormat;
}

std::vector<std::string> CommaSplit(std::string_view text) {
    // One comma is added so that the last item is closed like the others; the list ends at the
    // first empty item.
    std::vector<std::string> items;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        const std::size_t end = (comma == std::string_view::npos) ? text.size() : comma;
        if (end == start) {
            break;
        }
        items.emplace_back(text.substr(start, end - start));
        if (comma == std::string_view::npos) {
            break;
        }
        start = comma + 1;
    }
    return items;
}

std::string FindCatalogueFolder(const std::string& appDir, std::string_view name) {
    if (auto found = platform::FindFileIgnoringCase(appDir, name)) {
        return *found;
    }
    return platform::JoinPath(appDir, name);
}

ProductScan ScanProductFolder(const std::string& folder) {
    ProductScan scan;
    for (const platform::DirEntry& entry : platform::ListEntriesWithExtension(folder, "cfg")) {
        if (entry.isDirectory) {
            ++scan.directoriesSkipped;
            continue;
        }
        // The listing only returns names that end in ".cfg", so four characters are there.
        scan.products.push_back({entry.name.substr(0, entry.name.size() - 4), entry.name});
    }
    return scan;
}

const CCFGFileDet* FindCfgRecord(const std::vector<CCFGFileDet>& records, std::string_view name) {
    for (const CCFGFileDet& record : records) {
        if (record.m_strName == name) {
            return &record;
        }
    }
    return nullptr;
}

const CBootLoaderDetails* FindBootLoaderRecord(const std::vector<CBootLoaderDetails>& records,
                                               std::string_view name) {
    for (const CBootLoaderDetails& record : records) {
        if (record.m_strName == name) {
            return &record;
        }
    }
    return nullptr;
}

std::optional<std::uint16_t> FindProductCode(const std::vector<CCFGFileDet>& records,
                                             std::string_view name) {
    const CCFGFileDet* record = FindCfgRecord(records, name);
    if (record == nullptr || record->m_arrProductCode.empty()) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(record->m_arrProductCode.front() & 0xFFFFu);
}

std::uint16_t FindFrameSize(const std::vector<CCFGFileDet>& records, std::string_view productName,
                            std::string_view versionName, FrameSizeKind kind) {
    for (const CCFGFileDet& record : records) {
        if (record.m_strName != productName) {
            continue;
        }
        for (std::size_t v = 0; v < record.m_arrVersionName.size(); ++v) {
            if (record.m_arrVersionName[v] != versionName) {
                continue;
            }
            const std::vector<std::uint32_t>& sizes =
                kind == FrameSizeKind::Download      ? record.m_arrDwnldFrameSize
                : kind == FrameSizeKind::DownloadUsb ? record.m_arrDwnldFrameSizeUSB
                                                     : record.m_arrUpldFrameSize;
            // A section without the key leaves its list short: no size for this version.
            return v < sizes.size() ? static_cast<std::uint16_t>(sizes[v] & 0xFFFFu) : 0;
        }
    }
    return 0;
}

std::uint32_t FirmwareFormatAt(const std::vector<std::uint32_t>& codes, int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= codes.size()) {
        return 0;
    }
    return codes[static_cast<std::size_t>(index)];
}

}  // namespace tarvex
