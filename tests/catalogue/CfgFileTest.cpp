#include "catalogue/CfgFile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/TempDir.h"

namespace tarvex {
namespace {

using Strings = std::vector<std::string>;
using Numbers = std::vector<std::uint32_t>;

// Joins lines with LF, or with CR LF, and a line end after the last one.
std::string Lines(std::initializer_list<std::string_view> lines, std::string_view eol = "\n") {
    std::string out;
    for (auto line : lines) {
        out.append(line);
        out.append(eol);
    }
    return out;
}

class CfgFileTest : public ::testing::Test {
  protected:
    // Writes Pxx/<fileName> and reads it; the records found are returned. A file that exists
    // is always read, whatever its content.
    std::vector<CCFGFileDet> Read(const std::string& content,
                                  const std::string& fileName = "H1.CFG") {
        std::vector<CCFGFileDet> records;
        const CatalogueFileRead read = ReadCfgFile(dir.Write("Pxx/" + fileName, content), records);
        EXPECT_TRUE(read.ok);
        EXPECT_EQ(read.error, "");
        return records;
    }

    // One record with a single section made of `sectionLines`.
    CCFGFileDet ReadOneSection(std::initializer_list<std::string_view> sectionLines) {
        auto records = Read("NOOFVERSIONS:1\n" + Lines(sectionLines) + "[EOF]\n");
        EXPECT_EQ(records.size(), 1U);
        return records.empty() ? CCFGFileDet{} : records.front();
    }

    test::TempDir dir;
};

std::string TwoVersions(std::string_view eol = "\n") {
    return Lines(
        {
            "Configuration of the H1 panel",
            "Written by the panel configuration tool",
            "Do not edit by hand",
            "NOOFVERSIONS:2",
            "VERSION#1 VERSIONNAME:BL1.2-1",
            "VERSION#1 DWNLDFRAMESIZE:256",
            "VERSION#1 DWNLDFRAMESIZEUSB:512",
            "VERSION#1 UPLDFRAMESIZE:128",
            "VERSION#1 DNLDPSWDSUPPORT:1;PW4",
            "VERSION#1 DNLDCMDSLAVEIDSUPPORT:1",
            "VERSION#1 DNLDCMDPRODUCTIDSUPPORT:1",
            "VERSION#1 UPLOADSUPPORT:0",
            "VERSION#1 NOOFHEADERBYTES:27",
            "VERSION#1 DNLDBINCOMMAND:Q",
            "VERSION#1 DNLDSRCCOMMAND:R",
            "VERSION#1 DNLDBINEXTENTION:bin",
            "VERSION#1 PRODUCTCODE:17",
            "VERSION#1 BLSUPPORTEDVERSIONS:BL1.2-1,BL1.3-2",
            "VERSION#1 BLFORMAT:1,1",
            "VERSION#1 EEPROMSERNO:0",
            "VERSION#2 VERSIONNAME:BL1.3-2",
            "VERSION#2 DWNLDFRAMESIZE:512",
            "VERSION#2 DWNLDFRAMESIZEUSB:1024",
            "VERSION#2 UPLDFRAMESIZE:256",
            "VERSION#2 DNLDPSWDSUPPORT:0",
            "VERSION#2 DNLDCMDSLAVEIDSUPPORT:0",
            "VERSION#2 DNLDCMDPRODUCTIDSUPPORT:0",
            "VERSION#2 UPLOADSUPPORT:1",
            "VERSION#2 NOOFHEADERBYTES:32",
            "VERSION#2 DNLDBINCOMMAND:QX",
            "VERSION#2 DNLDSRCCOMMAND:RX",
            "VERSION#2 DNLDBINEXTENTION:hbn",
            "VERSION#2 PRODUCTCODE:18",
            "VERSION#2 BLSUPPORTEDVERSIONS:BL1.3-2",
            "VERSION#2 BLFORMAT:0",
            "VERSION#2 EEPROMSERNO:1",
            "[EOF]",
        },
        eol);
}
const std::string kTwoVersions = TwoVersions();

void ExpectTwoVersions(const CCFGFileDet& r) {
    EXPECT_EQ(r.m_strName, "H1");
    EXPECT_EQ(r.m_nNoOfVersions, 2);
    EXPECT_EQ(r.m_arrVersionName, (Strings{"BL1.2-1", "BL1.3-2"}));
    EXPECT_EQ(r.m_arrDwnldFrameSize, (Numbers{256, 512}));
    EXPECT_EQ(r.m_arrDwnldFrameSizeUSB, (Numbers{512, 1024}));
    EXPECT_EQ(r.m_arrUpldFrameSize, (Numbers{128, 256}));
    EXPECT_EQ(r.m_arrDnldPswdSupport, (Strings{"1", "0"}));
    EXPECT_EQ(r.m_arrDnldPswdSupportExt, (Strings{"PW4", ""}));
    EXPECT_EQ(r.m_arrDnldCmdSlaveIDSupport, (Strings{"1", "0"}));
    EXPECT_EQ(r.m_arrDnldCmdProductIDSupport, (Strings{"1", "0"}));
    EXPECT_EQ(r.m_arrUploadSupport, (Strings{"0", "1"}));
    EXPECT_EQ(r.m_arrNoOfHeaderBytes, (Numbers{27, 32}));
    EXPECT_EQ(r.m_arrDnldBinCommand, (Strings{"Q", "QX"}));
    EXPECT_EQ(r.m_arrDnldSrcCommand, (Strings{"R", "RX"}));
    EXPECT_EQ(r.m_arrDnldBinExtention, (Strings{"bin", "hbn"}));
    EXPECT_EQ(r.m_arrProductCode, (Numbers{17, 18}));
    EXPECT_EQ(r.m_arrBLSupportedVersions, (Strings{"BL1.2-1,BL1.3-2", "BL1.3-2"}));
    EXPECT_EQ(r.m_arrBLFormat, (Strings{"1,1", "0"}));
    EXPECT_EQ(r.m_arrEEPROMSerNo, (Strings{"0", "1"}));
}

TEST_F(CfgFileTest, PreambleThenTwoCompleteSections) {
    const auto records = Read(kTwoVersions);
    ASSERT_EQ(records.size(), 1U);
    ExpectTwoVersions(records[0]);
}

TEST_F(CfgFileTest, CarriageReturnLineEndsReadTheSame) {
    const auto records = Read(TwoVersions("\r\n"));
    ASSERT_EQ(records.size(), 1U);
    ExpectTwoVersions(records[0]);
}

TEST_F(CfgFileTest, NameIsTheFileNameLessItsLastFourCharacters) {
    EXPECT_EQ(Read(kTwoVersions, "b.cfg").at(0).m_strName, "b");
    EXPECT_EQ(Read(kTwoVersions, "Panel 7 inch.CFG").at(0).m_strName, "Panel 7 inch");
    EXPECT_EQ(Read(kTwoVersions, "x.y.CFG").at(0).m_strName, "x.y");
    EXPECT_EQ(Read(kTwoVersions, "abc").at(0).m_strName, "");
}

TEST_F(CfgFileTest, TagIgnoresCaseButKeyDoesNot) {
    const CCFGFileDet r = ReadOneSection({
        "version#1 VERSIONNAME:BL1",
        "Version#1 versionname:lost",
        "VERSION#1  DWNLDFRAMESIZE:99",  // two blanks: the key is " DWNLDFRAMESIZE"
        "VERSION#1 DWNLDFRAMESIZE :98",  // blank after the key belongs to it
        "VERSION#1 UNKNOWNKEY:1",
        "VERSION#1 DWNLDFRAMESIZE:256",
    });
    EXPECT_EQ(r.m_arrVersionName, (Strings{"BL1"}));
    EXPECT_EQ(r.m_arrDwnldFrameSize, (Numbers{256}));
}

TEST_F(CfgFileTest, ValuesKeepEverythingAfterTheFirstColon) {
    const CCFGFileDet r = ReadOneSection({
        "VERSION#1 VERSIONNAME:BL:1.2: x",
        "VERSION#1 DNLDBINEXTENTION: bin\t",
        "VERSION#1 DNLDPSWDSUPPORT:1;a;b",
        "VERSION#1 DNLDPSWDSUPPORT:0",
        "VERSION#1 DNLDPSWDSUPPORT:;",
        "VERSION#1 EEPROMSERNO:",
    });
    EXPECT_EQ(r.m_arrVersionName, (Strings{"BL:1.2: x"}));
    EXPECT_EQ(r.m_arrDnldBinExtention, (Strings{" bin\t"}));
    EXPECT_EQ(r.m_arrDnldPswdSupport, (Strings{"1", "0", ""}));
    EXPECT_EQ(r.m_arrDnldPswdSupportExt, (Strings{"a;b", "", ""}));
    EXPECT_EQ(r.m_arrEEPROMSerNo, (Strings{""}));
}

TEST_F(CfgFileTest, NumbersAreReadLikeTheOverviewSays) {
    const CCFGFileDet r = ReadOneSection({
        "VERSION#1 DWNLDFRAMESIZE: 128abc",
        "VERSION#1 DWNLDFRAMESIZE:abc",
        "VERSION#1 DWNLDFRAMESIZE:-1",
        "VERSION#1 DWNLDFRAMESIZE:+65535",
        "VERSION#1 DWNLDFRAMESIZE:-2147483648",
        "VERSION#1 PRODUCTCODE:\t 300 ",
    });
    EXPECT_EQ(r.m_arrDwnldFrameSize, (Numbers{128, 0, 0xFFFFFFFFU, 65535, 0x80000000U}));
    EXPECT_EQ(r.m_arrProductCode, (Numbers{300}));
}

TEST_F(CfgFileTest, MissingSectionShiftsTheLaterOnes) {
    const auto records = Read(Lines({
        "NOOFVERSIONS:3",
        "VERSION#1 VERSIONNAME:A",
        "VERSION#1 PRODUCTCODE:1",
        "VERSION#3 VERSIONNAME:C",
        "VERSION#3 PRODUCTCODE:3",
        "VERSION#3 PRODUCTCODE:33",  // doubled: one more entry
        "[EOF]",
    }));
    ASSERT_EQ(records.size(), 1U);
    EXPECT_EQ(records[0].m_nNoOfVersions, 3);
    EXPECT_EQ(records[0].m_arrVersionName, (Strings{"A", "C"}));
    EXPECT_EQ(records[0].m_arrProductCode, (Numbers{1, 3, 33}));
}

TEST_F(CfgFileTest, SectionsMustComeInOrder) {
    // Once section 2 has begun, a line of section 1 matches no later section: it ends the
    // sections and the main scan passes over it.
    const auto records = Read(Lines({
        "NOOFVERSIONS:2",
        "VERSION#2 VERSIONNAME:second",
        "VERSION#1 VERSIONNAME:first",
        "VERSION#2 PRODUCTCODE:5",
        "VERSION#3 VERSIONNAME:beyond the count",
        "VERSION#01 VERSIONNAME:leading zero",
    }));
    ASSERT_EQ(records.size(), 1U);
    EXPECT_EQ(records[0].m_arrVersionName, (Strings{"second"}));
    EXPECT_TRUE(records[0].m_arrProductCode.empty());
}

TEST_F(CfgFileTest, CountLinesStartRecords) {
    // A count of 0 makes no record; a later positive count does.
    auto records = Read(Lines({"NOOFVERSIONS:0", "VERSION#1 VERSIONNAME:ignored", "NOOFVERSIONS:1",
                               "VERSION#1 VERSIONNAME:A", "[EOF]"}));
    ASSERT_EQ(records.size(), 1U);
    EXPECT_EQ(records[0].m_arrVersionName, (Strings{"A"}));

    // Two positive counts make two records of the same product.
    records = Read(Lines({"NOOFVERSIONS:1", "VERSION#1 VERSIONNAME:A", "free text",
                          "NOOFVERSIONS:2", "VERSION#1 VERSIONNAME:B", "VERSION#2 VERSIONNAME:C"}));
    ASSERT_EQ(records.size(), 2U);
    EXPECT_EQ(records[0].m_strName, "H1");
    EXPECT_EQ(records[1].m_strName, "H1");
    EXPECT_EQ(records[0].m_arrVersionName, (Strings{"A"}));
    EXPECT_EQ(records[1].m_arrVersionName, (Strings{"B", "C"}));
    EXPECT_EQ(records[1].m_nNoOfVersions, 2);

    // The label must be exactly NOOFVERSIONS; a negative count or none at all makes nothing.
    EXPECT_TRUE(Read(Lines({"NoOfVersions:1", "VERSION#1 VERSIONNAME:A"})).empty());
    EXPECT_TRUE(Read(Lines({"NOOFVERSIONS :1", "VERSION#1 VERSIONNAME:A"})).empty());
    EXPECT_TRUE(Read(Lines({"NOOFVERSIONS:-1", "VERSION#1 VERSIONNAME:A"})).empty());
    EXPECT_TRUE(Read("").empty());
}

TEST_F(CfgFileTest, PositiveCountAsLastLineMakesAnEmptyRecord) {
    const auto records = Read("NOOFVERSIONS:2");
    ASSERT_EQ(records.size(), 1U);
    EXPECT_EQ(records[0].m_nNoOfVersions, 2);
    EXPECT_TRUE(records[0].m_arrVersionName.empty());
}

TEST_F(CfgFileTest, OnlyAnExactTerminatorEndsTheFile) {
    const auto records = Read(Lines({
        "NOOFVERSIONS:1",
        "VERSION#1 VERSIONNAME:A",
        "[EOF] ",
        "VERSION#1 PRODUCTCODE:1",  // not in section 1 any more: "[EOF] " ended it
        "NOOFVERSIONS:1",
        "VERSION#1 PRODUCTCODE:2",
        "[eof]",
        "NOOFVERSIONS:1",
        "VERSION#1 PRODUCTCODE:3",
        "[EOF]",
        "NOOFVERSIONS:1",
        "VERSION#1 PRODUCTCODE:4",
    }));
    ASSERT_EQ(records.size(), 3U);
    EXPECT_TRUE(records[0].m_arrProductCode.empty());
    EXPECT_EQ(records[1].m_arrProductCode, (Numbers{2}));
    EXPECT_EQ(records[2].m_arrProductCode, (Numbers{3}));
}

TEST_F(CfgFileTest, LastLineOfTheFileIsStillRead) {
    // No terminator, no final line end: the section's only line is the file's last.
    const auto records = Read("NOOFVERSIONS:1\nVERSION#1 VERSIONNAME:last");
    ASSERT_EQ(records.size(), 1U);
    EXPECT_EQ(records[0].m_arrVersionName, (Strings{"last"}));
}

TEST_F(CfgFileTest, HugeCountCostsOnlyTheLinesPresent) {
    const auto records = Read(Lines({"NOOFVERSIONS:2147483647", "VERSION#1 VERSIONNAME:A",
                                     "VERSION#2147483647 VERSIONNAME:Z", "NOOFVERSIONS:99999999999",
                                     "VERSION#7 VERSIONNAME:B", "[EOF]"}));
    ASSERT_EQ(records.size(), 2U);
    EXPECT_EQ(records[0].m_nNoOfVersions, 2147483647);
    EXPECT_EQ(records[0].m_arrVersionName, (Strings{"A", "Z"}));
    EXPECT_EQ(records[1].m_nNoOfVersions, 2147483647);  // saturated
    EXPECT_EQ(records[1].m_arrVersionName, (Strings{"B"}));
}

TEST_F(CfgFileTest, FileThatCannotBeReadSaysSoAndAddsNothing) {
    // Missing, or a folder under the name: neither can be opened.
    for (const std::string& path : {dir / "Pxx/NONE.CFG", dir.MakeDir("Pxx/DIR.CFG")}) {
        std::vector<CCFGFileDet> records(1);
        records[0].m_strName = "earlier";
        const CatalogueFileRead read = ReadCfgFile(path, records);
        EXPECT_FALSE(read) << path;
        EXPECT_EQ(read.error, "Cannot open config file!") << path;
        ASSERT_EQ(records.size(), 1U) << path;
        EXPECT_EQ(records[0].m_strName, "earlier");
    }
}

TEST_F(CfgFileTest, RecordsAreAppendedBehindEarlierOnes) {
    std::vector<CCFGFileDet> records;
    ASSERT_TRUE(
        ReadCfgFile(dir.Write("Pxx/A.CFG", "NOOFVERSIONS:1\nVERSION#1 PRODUCTCODE:1\n"), records));
    ASSERT_TRUE(
        ReadCfgFile(dir.Write("Pxx/B.CFG", "NOOFVERSIONS:1\nVERSION#1 PRODUCTCODE:2\n"), records));
    ASSERT_EQ(records.size(), 2U);
    EXPECT_EQ(records[0].m_strName, "A");
    EXPECT_EQ(records[1].m_strName, "B");
}

// --- Bootloader-version file ------------------------------------------------------------------

class BootLoaderFileTest : public ::testing::Test {
  protected:
    CBootLoaderDetails Read(const std::string& content) {
        CBootLoaderDetails record;
        EXPECT_TRUE(ReadBootLoaderFile(dir.Write("Vxx/H1.CFG", content), record));
        return record;
    }
    test::TempDir dir;
};

TEST_F(BootLoaderFileTest, TwoVersionsInNineLines) {
    const auto r =
        Read(Lines({"PRODUCTNAME:H1", "FILEVERSION:3", "NOOFBLVERSIONS:2", "BLVERSION1:BL1.2-1",
                    "FIRMWARE1:FW1.5,FW1.6,", "FORMAT1:1,0,", "BLVERSION2:BL1.3-2",
                    "FIRMWARE2:FW2.0", "FORMAT2:1", "[EOF]", "BLVERSION3:never read"},
                   "\r\n"));
    EXPECT_EQ(r.m_strName, "H1");
    EXPECT_EQ(r.m_nNoOfBLVersions, 2);
    EXPECT_EQ(r.m_arrBLVersion, (Strings{"BL1.2-1", "BL1.3-2"}));
    EXPECT_EQ(r.m_arrFirmwareVersions, (Strings{"FW1.5,FW1.6,", "FW2.0"}));
    EXPECT_EQ(r.m_arrFirmwareFormats, (Strings{"1,0,", "1"}));
}

TEST_F(BootLoaderFileTest, OnlyThePositionOfALineCounts) {
    // Labels are not looked at; a line without ':' gives its whole text, blanks included.
    const auto r = Read(
        Lines({"H1 panel", "anything:x", "count: 1 version", "BL:1.0-1", " FW1.0, FW1.1", "2,2"}));
    EXPECT_EQ(r.m_strName, "H1 panel");
    EXPECT_EQ(r.m_nNoOfBLVersions, 1);
    EXPECT_EQ(r.m_arrBLVersion, (Strings{"1.0-1"}));
    EXPECT_EQ(r.m_arrFirmwareVersions, (Strings{" FW1.0, FW1.1"}));
    EXPECT_EQ(r.m_arrFirmwareFormats, (Strings{"2,2"}));
}

TEST_F(BootLoaderFileTest, CountKeepsItsLow16Bits) {
    EXPECT_EQ(Read(Lines({"N:H1", "V:1", "M:70000"})).m_nNoOfBLVersions, 70000 - 65536);
    EXPECT_EQ(Read(Lines({"N:H1", "V:1", "M:-1"})).m_nNoOfBLVersions, 65535);
    EXPECT_EQ(Read(Lines({"N:H1", "V:1", "M:none"})).m_nNoOfBLVersions, 0);
}

TEST_F(BootLoaderFileTest, ShortFileGivesTheCompleteVersionsOnly) {
    // Count 2, but the second version lacks its code list: it is left out, and so the three
    // lists stay parallel.
    auto r = Read(Lines({"N:H1", "V:1", "M:2", "B:BL1", "F:FW1", "C:1", "B:BL2", "F:FW2"}));
    EXPECT_EQ(r.m_nNoOfBLVersions, 2);
    EXPECT_EQ(r.m_arrBLVersion, (Strings{"BL1"}));
    EXPECT_EQ(r.m_arrFirmwareVersions, (Strings{"FW1"}));
    EXPECT_EQ(r.m_arrFirmwareFormats, (Strings{"1"}));

    // The terminator cuts the file like its end does.
    r = Read(
        Lines({"N:H1", "V:1", "M:3", "B:BL1", "F:FW1", "C:1", "[EOF]", "B:BL2", "F:FW2", "C:0"}));
    EXPECT_EQ(r.m_arrBLVersion, (Strings{"BL1"}));

    // A count of 65535 with one version present.
    r = Read(Lines({"N:H1", "V:1", "M:65535", "B:BL1", "F:FW1", "C:1"}));
    EXPECT_EQ(r.m_nNoOfBLVersions, 65535);
    EXPECT_EQ(r.m_arrBLVersion.size(), 1U);

    r = Read(Lines({"N:H1", "V:1"}));
    EXPECT_EQ(r.m_strName, "H1");
    EXPECT_EQ(r.m_nNoOfBLVersions, 0);
    EXPECT_TRUE(r.m_arrBLVersion.empty());

    r = Read("");
    EXPECT_EQ(r.m_strName, "");
    EXPECT_TRUE(r.m_arrBLVersion.empty());
}

TEST_F(BootLoaderFileTest, MissingFileLeavesTheRecordEmptyAndSaysSo) {
    CBootLoaderDetails record;
    const CatalogueFileRead read = ReadBootLoaderFile(dir / "Vxx/NONE.CFG", record);
    EXPECT_FALSE(read);
    EXPECT_EQ(read.error, "Cannot open bootloader version file!");
    EXPECT_EQ(record.m_strName, "");
    EXPECT_EQ(record.m_nNoOfBLVersions, 0);
    EXPECT_TRUE(record.m_arrBLVersion.empty());
    EXPECT_TRUE(record.m_arrFirmwareVersions.empty());
    EXPECT_TRUE(record.m_arrFirmwareFormats.empty());
}

}  // namespace
}  // namespace tarvex
