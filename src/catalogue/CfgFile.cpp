#include "catalogue/CfgFile.h"

#include <optional>
#include <string_view>

#include "platform/Files.h"
#include "platform/Text.h"

namespace tarvex {
namespace {

constexpr std::string_view kTerminator = "[EOF]";
constexpr std::string_view kCountLabel = "NOOFVERSIONS";
constexpr std::string_view kSectionTag = "VERSION#";

// The lines of a text file up to (not including) the first line that is exactly "[EOF]".
std::optional<std::vector<std::string>> ReadContentLines(const std::string& path) {
    auto lines = platform::ReadTextLines(path);
    if (!lines) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < lines->size(); ++i) {
        if ((*lines)[i] == kTerminator) {
            lines->resize(i);
            break;
        }
    }
    return lines;
}

std::uint32_t StoredNumber(std::string_view text) {
    // Stored as unsigned 32-bit: the signed value modulo 2^32, so -1 becomes 0xFFFFFFFF.
    return static_cast<std::uint32_t>(ParseDecimal(text));
}

std::string FileNameOf(std::string_view path) {
    const auto slash = platform::LastSeparator(path);
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

struct SectionLine {
    std::string_view tag;
    std::string_view key;
    std::string_view value;
};

// Label and value at the first ':', then the label's tag and key at its first blank. A label
// without a blank is its own tag and its own key.
SectionLine SplitSectionLine(std::string_view line) {
    const LabelValue lv = SplitLabelValue(line);
    const auto blank = lv.label.find(' ');
    if (blank == std::string_view::npos) {
        return {lv.label, lv.label, lv.value};
    }
    return {lv.label.substr(0, blank), lv.label.substr(blank + 1), lv.value};
}

// The section number k for which `tag` is the expected tag "VERSION#" + k (letters in any case,
// k in decimal without leading zeros), or nothing when no section can match it.
std::optional<std::uint64_t> SectionNumberOf(std::string_view tag) {
    if (tag.size() <= kSectionTag.size() ||
        !EqualsIgnoringCase(tag.substr(0, kSectionTag.size()), kSectionTag)) {
        return std::nullopt;
    }
    const std::string_view digits = tag.substr(kSectionTag.size());
    if (digits.size() > 10 || digits.front() == '0') {
        return std::nullopt;
    }
    std::uint64_t k = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        k = k * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return k;
}

void StoreKey(CCFGFileDet& r, std::string_view key, std::string_view value) {
    const std::string text(value);
    if (key == "VERSIONNAME") {
        r.m_arrVersionName.push_back(text);
    } else if (key == "DWNLDFRAMESIZE") {
        r.m_arrDwnldFrameSize.push_back(StoredNumber(value));
    } else if (key == "DWNLDFRAMESIZEUSB") {
        r.m_arrDwnldFrameSizeUSB.push_back(StoredNumber(value));
    } else if (key == "UPLDFRAMESIZE") {
        r.m_arrUpldFrameSize.push_back(StoredNumber(value));
    } else if (key == "DNLDPSWDSUPPORT") {
        const auto semicolon = value.find(';');
        if (semicolon == std::string_view::npos) {
            r.m_arrDnldPswdSupport.push_back(text);
            r.m_arrDnldPswdSupportExt.emplace_back();
        } else {
            r.m_arrDnldPswdSupport.emplace_back(value.substr(0, semicolon));
            r.m_arrDnldPswdSupportExt.emplace_back(value.substr(semicolon + 1));
        }
    } else if (key == "DNLDCMDSLAVEIDSUPPORT") {
        r.m_arrDnldCmdSlaveIDSupport.push_back(text);
    } else if (key == "DNLDCMDPRODUCTIDSUPPORT") {
        r.m_arrDnldCmdProductIDSupport.push_back(text);
    } else if (key == "UPLOADSUPPORT") {
        r.m_arrUploadSupport.push_back(text);
    } else if (key == "NOOFHEADERBYTES") {
        r.m_arrNoOfHeaderBytes.push_back(StoredNumber(value));
    } else if (key == "DNLDBINCOMMAND") {
        r.m_arrDnldBinCommand.push_back(text);
    } else if (key == "DNLDSRCCOMMAND") {
        r.m_arrDnldSrcCommand.push_back(text);
    } else if (key == "DNLDBINEXTENTION") {
        r.m_arrDnldBinExtention.push_back(text);
    } else if (key == "PRODUCTCODE") {
        r.m_arrProductCode.push_back(StoredNumber(value));
    } else if (key == "BLSUPPORTEDVERSIONS") {
        r.m_arrBLSupportedVersions.push_back(text);
    } else if (key == "BLFORMAT") {
        r.m_arrBLFormat.push_back(text);
    } else if (key == "EEPROMSERNO") {
        r.m_arrEEPROMSerNo.push_back(text);
    }
    // Any other key is accepted and carries nothing.
}

// Reads version sections 1..count starting at lines[i]; leaves i at the first line that no
// section took. A section k takes the run of lines whose tag is "VERSION#k"; a line with another
// tag ends section k and is offered to section k + 1, and so on. Sections that find no line are
// skipped at once instead of being tried one by one, so that a count of two billion costs no
// more than the lines present.
void ReadSections(const std::vector<std::string>& lines, std::size_t& i, std::uint64_t count,
                  CCFGFileDet& record) {
    std::uint64_t k = 1;
    while (k <= count && i < lines.size()) {
        const SectionLine line = SplitSectionLine(lines[i]);
        const std::optional<std::uint64_t> section = SectionNumberOf(line.tag);
        if (!section || *section < k || *section > count) {
            // No section from k on can take this line: the remaining sections are empty.
            return;
        }
        k = *section;  // sections k .. section - 1 find no line and add nothing
        StoreKey(record, line.key, line.value);
        ++i;
    }
}

}  // namespace

CatalogueFileRead ReadCfgFile(const std::string& path, std::vector<CCFGFileDet>& records) {
    const auto lines = ReadContentLines(path);
    if (!lines) {
        return {.ok = false, .error = kCannotOpenConfigFile};
    }
    // The product's name is the file name less its extension ".CFG" (the last four characters).
    const std::string fileName = FileNameOf(path);
    const std::string productName =
        fileName.size() > 4 ? fileName.substr(0, fileName.size() - 4) : std::string();

    // Each count line with a positive value starts a record of its own, read from the sections
    // right behind it; a record whose count never becomes positive is dropped.
    std::optional<CCFGFileDet> record;
    std::size_t i = 0;
    while (i < lines->size()) {
        if (!record) {
            record.emplace();
        }
        record->m_strName = productName;
        const LabelValue lv = SplitLabelValue((*lines)[i]);
        ++i;
        if (lv.label == kCountLabel) {
            record->m_nNoOfVersions = ParseDecimal(lv.value);
        }
        if (record->m_nNoOfVersions > 0) {
            ReadSections(*lines, i, static_cast<std::uint64_t>(record->m_nNoOfVersions), *record);
            records.push_back(std::move(*record));
            record.reset();
        }
    }
    return {};
}

CatalogueFileRead ReadBootLoaderFile(const std::string& path, CBootLoaderDetails& record) {
    // A file that cannot be read leaves a new record empty: its empty name matches no product.
    const auto lines = ReadContentLines(path);
    if (!lines) {
        return {.ok = false, .error = kCannotOpenBootLoaderFile};
    }
    // Only the position of a line counts; its label is not looked at.
    auto valueOf = [&lines](std::size_t index) -> std::string {
        return std::string(SplitLabelValue((*lines)[index]).value);
    };
    if (lines->size() >= 1) {
        record.m_strName = valueOf(0);
    }
    if (lines->size() >= 3) {
        record.m_nNoOfBLVersions =
            static_cast<std::uint16_t>(static_cast<std::uint32_t>(ParseDecimal(valueOf(2))));
    }
    // Version j is the triple of lines 3j + 4 .. 3j + 6 (counted from 1). Only complete triples
    // are taken, so the three lists always have the same length and entry j of each belongs to
    // the same version, also when the file ends early; the count keeps the number as written.
    for (std::size_t j = 0; j < record.m_nNoOfBLVersions; ++j) {
        const std::size_t first = 3 + 3 * j;
        if (first + 3 > lines->size()) {
            break;
        }
        record.m_arrBLVersion.push_back(valueOf(first));
        record.m_arrFirmwareVersions.push_back(valueOf(first + 1));
        record.m_arrFirmwareFormats.push_back(valueOf(first + 2));
    }
    return {};
}

}  // namespace tarvex
