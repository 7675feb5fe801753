// CTarvexDlg: the product catalogue on the form: the three selection lists and what a choice
// in them changes.
#include "catalogue/Catalogue.h"
#include "platform/Files.h"
#include "platform/Text.h"
#include "ui/TarvexDlg.h"

namespace tarvex {
namespace {

template <typename T>
const T* EntryAt(const std::vector<T>& list, int index) {
    return (index >= 0 && static_cast<std::size_t>(index) < list.size())
               ? &list[static_cast<std::size_t>(index)]
               : nullptr;
}

}  // namespace

std::string CTarvexDlg::CatalogueFile(const std::string& folder, const std::string& product) const {
    // The two files of a product are named after it with ".CFG"; on a file system that tells
    // letter case apart they may be spelt otherwise.
    const std::string name = product + kCatalogueFileSuffix;
    if (auto found = platform::FindFileIgnoringCase(folder, name)) {
        return *found;
    }
    return platform::JoinPath(folder, name);
}

void CTarvexDlg::ScanCatalogue() {
    m_arrProducts.clear();
    m_arrProductFiles.clear();
    const ProductScan scan = ScanProductFolder(FindCatalogueFolder(m_strAppDir, kProductFolder));
    for (int i = 0; i < scan.directoriesSkipped; ++i) {
        PlainBox(m_ui, "dir found");
    }
    for (const ScannedProduct& product : scan.products) {
        m_arrProducts.push_back(product.name);
        m_arrProductFiles.push_back(product.fileName);
    }

    // One record per product, in product order.
    m_arrBootLoaderDetails.clear();
    const std::string folder = FindCatalogueFolder(m_strAppDir, kBootLoaderFolder);
    for (const std::string& name : m_arrProducts) {
        CBootLoaderDetails record;
        // A missing file gives an empty record, which no product name matches.
        ReadBootLoaderFile(CatalogueFile(folder, name), record);
        m_arrBootLoaderDetails.push_back(std::move(record));
    }
}

void CTarvexDlg::FillCatalogueLists() {
    m_arrCfgFileDet.clear();
    const std::string folder = FindCatalogueFolder(m_strAppDir, kProductFolder);
    for (std::size_t i = 0; i < m_arrProducts.size(); ++i) {
        // The file the scan found, so that two spellings of one name cannot be mixed up.
        const std::string& fileName =
            i < m_arrProductFiles.size() ? m_arrProductFiles[i] : m_arrProducts[i];
        if (const CatalogueFileRead read =
                ReadCfgFile(platform::JoinPath(folder, fileName), m_arrCfgFileDet);
            !read) {
            PlainBox(m_ui, read.error);
        }
    }

    m_cmbProduct.ResetContent();
    m_cmbProduct.AddString(kProductPlaceholder);
    if (!m_arrProducts.empty()) {
        for (const std::string& name : m_arrProducts) {
            m_cmbProduct.AddString(name);
        }
        const int found = m_cmbProduct.FindStringExact(m_strProductName);
        if (found >= 0) {
            m_cmbProduct.SetCurSel(found);
            OnSelchangeProduct();
        } else {
            m_cmbProduct.SetCurSel(0);
        }
    }

    const int bootloader = m_cmbBootloaderVersion.FindStringExact(m_strBootloaderVersion);
    if (bootloader >= 0) {
        m_cmbBootloaderVersion.SetCurSel(bootloader);
        OnSelchangeBootloaderVersion();
    } else {
        m_cmbBootloaderVersion.SetCurSel(0);
        m_cmbFirmwareVersion.ResetContent();
        m_cmbFirmwareVersion.AddString(kFirmwarePlaceholder);
    }

    const int firmware = m_cmbFirmwareVersion.FindStringExact(m_strFirmwareVersion);
    m_cmbFirmwareVersion.SetCurSel(firmware >= 0 ? firmware : 0);
}

void CTarvexDlg::OnSelchangeProduct() {
    m_strDnldProduct = m_cmbProduct.GetWindowText();
    // Without a record for the product (the placeholder, say) both lists keep their entries.
    if (const CBootLoaderDetails* record =
            FindBootLoaderRecord(m_arrBootLoaderDetails, m_strDnldProduct)) {
        m_cmbBootloaderVersion.ResetContent();
        m_cmbBootloaderVersion.AddString(kBootloaderPlaceholder);
        m_cmbFirmwareVersion.ResetContent();
        m_cmbFirmwareVersion.AddString(kFirmwarePlaceholder);
        for (const std::string& version : record->m_arrBLVersion) {
            m_cmbBootloaderVersion.AddString(version);
        }
    }
    m_cmbBootloaderVersion.SetCurSel(0);
    m_cmbFirmwareVersion.SetCurSel(0);
}

void CTarvexDlg::OnSelchangeBootloaderVersion() {
    SetTransferMode(/*usb=*/false);
    OnSerialDownload();

    const std::string bootloaderText = m_cmbBootloaderVersion.GetWindowText();
    std::string firmwareList;
    std::string codeList;
    if (const CBootLoaderDetails* record =
            FindBootLoaderRecord(m_arrBootLoaderDetails, m_strDnldProduct)) {
        for (std::size_t j = 0; j < record->m_arrBLVersion.size(); ++j) {
            if (record->m_arrBLVersion[j] == bootloaderText) {
                if (j < record->m_arrFirmwareVersions.size()) {
                    firmwareList = record->m_arrFirmwareVersions[j];
                }
                if (j < record->m_arrFirmwareFormats.size()) {
                    codeList = record->m_arrFirmwareFormats[j];
                }
                break;
            }
        }
    }

    m_cmbFirmwareVersion.ResetContent();
    m_cmbFirmwareVersion.AddString(kFirmwarePlaceholder);
    for (std::string& firmware : CommaSplit(firmwareList)) {
        m_cmbFirmwareVersion.AddString(std::move(firmware));
    }
    ApplyProductVersion(m_cmbBootloaderVersion.GetCurSel() - 1, m_cmbProduct.GetCurSel() - 1);
    m_cmbFirmwareVersion.SetCurSel(0);

    m_arrFirmwareFormat.assign(1, kPlaceholderFirmwareFormat);
    for (const std::string& code : CommaSplit(codeList)) {
        // Codes are kept as unsigned 32-bit values: -1 becomes the largest one.
        m_arrFirmwareFormat.push_back(static_cast<std::uint32_t>(ParseDecimal(code)));
    }
}

void CTarvexDlg::ApplyProductVersion(int versionIndex, int productIndex) {
    if (versionIndex < 0 || productIndex < 0 ||
        static_cast<std::size_t>(productIndex) >= m_arrProducts.size()) {
        return;
    }
    // The record is found by the product's name: a product whose configuration file gave no
    // record must not take the next product's record.
    const CCFGFileDet* record =
        FindCfgRecord(m_arrCfgFileDet, m_arrProducts[static_cast<std::size_t>(productIndex)]);
    if (record == nullptr ||
        static_cast<std::size_t>(versionIndex) >= record->m_arrVersionName.size()) {
        return;
    }
    m_curCfg.CopyFrom(*record);

    if (const std::string* slaveId = EntryAt(record->m_arrDnldCmdSlaveIDSupport, versionIndex)) {
        if (*slaveId == "0") {
            m_editSlaveID.ShowWindow(false);
            m_lblSlaveID.ShowWindow(false);
        } else if (*slaveId == "1") {
            m_editSlaveID.ShowWindow(true);
            m_lblSlaveID.ShowWindow(true);
        }
    }

    if (const std::string* password = EntryAt(record->m_arrDnldPswdSupport, versionIndex)) {
        if (*password == "0") {
            // Such a version expects the fixed password; any other saved one is not offered.
            if (m_settings.m_strSavedPassword != kFixedPassword) {
                m_editPassword.SetWindowText("");
                m_chkRememberPassword.SetCheck(false);
            } else {
                m_editPassword.SetWindowText(m_settings.m_strSavedPassword);
            }
        } else if (*password == "1") {
            m_editPassword.ShowWindow(true);
            m_chkRememberPassword.ShowWindow(true);
        }
    }

    const std::string* extension = EntryAt(record->m_arrDnldBinExtention, versionIndex);
    m_strBinExtension = extension != nullptr ? *extension : std::string();
}

std::optional<std::uint16_t> CTarvexDlg::GetProductCode(std::string_view productName) const {
    return FindProductCode(m_arrCfgFileDet, productName);
}

std::uint16_t CTarvexDlg::LookupPacketSize(std::string_view productName,
                                           std::string_view bootloaderText) const {
    return FindFrameSize(
        m_arrCfgFileDet, productName, bootloaderText,
        m_radSerialDownload.GetCheck() ? FrameSizeKind::Download : FrameSizeKind::DownloadUsb);
}

std::uint16_t CTarvexDlg::LookupUploadFrameSize(std::string_view productName,
                                                std::string_view bootloaderText) const {
    return FindFrameSize(m_arrCfgFileDet, productName, bootloaderText, FrameSizeKind::Upload);
}

std::uint32_t CTarvexDlg::CurrentFirmwareFormat() const {
    return FirmwareFormatAt(m_arrFirmwareFormat, m_cmbFirmwareVersion.GetCurSel());
}

}  // namespace tarvex
