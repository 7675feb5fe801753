// The catalogue helpers: comma lists, the product folder scan, and looking records up by name.
#include "catalogue/Catalogue.h"

#include <gtest/gtest.h>

#include "support/TempDir.h"

namespace tarvex::test {
namespace {

using Items = std::vector<std::string>;

TEST(CommaSplit, EndsAtTheFirstEmptyItem) {
    EXPECT_EQ(CommaSplit("F1,F2,"), (Items{"F1", "F2"}));
    EXPECT_EQ(CommaSplit("F1,F2"), (Items{"F1", "F2"}));
    EXPECT_EQ(CommaSplit("F1,,F2"), Items{"F1"});
    EXPECT_EQ(CommaSplit(",F1"), Items{});
    EXPECT_EQ(CommaSplit(""), Items{});
    EXPECT_EQ(CommaSplit(","), Items{});
    EXPECT_EQ(CommaSplit(" a , b "), (Items{" a ", " b "}));
    EXPECT_EQ(CommaSplit("only"), Items{"only"});
}

TEST(ProductScan, TakesCfgInAnyCaseSortedWithoutRegardToCase) {
    TempDir dir;
    dir.Write("Pxx/B.cfg", "");
    dir.Write("Pxx/a.CFG", "");
    dir.Write("Pxx/c.Cfg", "");
    dir.Write("Pxx/readme.txt", "");
    dir.Write("Pxx/cfg", "");
    dir.MakeDir("Pxx/sub.cfg");
    dir.MakeDir("Pxx/other.CFG");
    const ProductScan scan = ScanProductFolder(dir / "Pxx");
    ASSERT_EQ(scan.products.size(), 3u);
    EXPECT_EQ(scan.products[0].name, "a");
    EXPECT_EQ(scan.products[0].fileName, "a.CFG");
    EXPECT_EQ(scan.products[1].name, "B");
    EXPECT_EQ(scan.products[2].name, "c");
    EXPECT_EQ(scan.directoriesSkipped, 2);

    const ProductScan none = ScanProductFolder(dir / "missing");
    EXPECT_TRUE(none.products.empty());
    EXPECT_EQ(none.directoriesSkipped, 0);
}

TEST(CatalogueFolder, PrefersTheExactNameAndFallsBackToAnyCase) {
    TempDir dir;
    dir.MakeDir("pxx");
    EXPECT_EQ(FindCatalogueFolder(dir.path(), "Pxx"), dir / "pxx");
    dir.MakeDir("Pxx");
    EXPECT_EQ(FindCatalogueFolder(dir.path(), "Pxx"), dir / "Pxx");
    EXPECT_EQ(FindCatalogueFolder(dir.path(), "Vxx"), dir / "Vxx");
}

CCFGFileDet Record(std::string name, Items versions, std::vector<std::uint32_t> sizes,
                   std::vector<std::uint32_t> codes = {}) {
    CCFGFileDet r;
    r.m_strName = std::move(name);
    r.m_nNoOfVersions = static_cast<std::int32_t>(versions.size());
    r.m_arrVersionName = std::move(versions);
    r.m_arrDwnldFrameSize = sizes;
    for (std::uint32_t s : sizes) {
        r.m_arrDwnldFrameSizeUSB.push_back(s * 2);
        r.m_arrUpldFrameSize.push_back(s / 2);
    }
    r.m_arrProductCode = std::move(codes);
    return r;
}

TEST(RecordLookup, FrameSizeComesFromTheFirstRecordWithProductAndVersion) {
    const std::vector<CCFGFileDet> records = {
        Record("P", {"V1"}, {100}),
        Record("Q", {"V2"}, {300}),
        // A second record of P (a second count line in its file) that has V2.
        Record("P", {"V1", "V2"}, {111, 222}),
    };
    EXPECT_EQ(FindFrameSize(records, "P", "V1", FrameSizeKind::Download), 100);
    EXPECT_EQ(FindFrameSize(records, "P", "V2", FrameSizeKind::Download), 222);
    EXPECT_EQ(FindFrameSize(records, "P", "V2", FrameSizeKind::DownloadUsb), 444);
    EXPECT_EQ(FindFrameSize(records, "P", "V2", FrameSizeKind::Upload), 111);
    EXPECT_EQ(FindFrameSize(records, "p", "V1", FrameSizeKind::Download), 0);
    EXPECT_EQ(FindFrameSize(records, "P", "v1", FrameSizeKind::Download), 0);
    EXPECT_EQ(FindFrameSize(records, "P", "V3", FrameSizeKind::Download), 0);
}

TEST(RecordLookup, FrameSizeTakesLow16BitsAndAShortListGivesNone) {
    CCFGFileDet r = Record("P", {"V1", "V2"}, {0x10080});
    const std::vector<CCFGFileDet> records = {r};
    EXPECT_EQ(FindFrameSize(records, "P", "V1", FrameSizeKind::Download), 0x80);
    EXPECT_EQ(FindFrameSize(records, "P", "V2", FrameSizeKind::Download), 0);
}

TEST(RecordLookup, ProductCodeIsTheFirstSectionsLow16Bits) {
    const std::vector<CCFGFileDet> records = {
        Record("Empty", {"V"}, {1}),
        Record("P", {"V1", "V2"}, {1, 1}, {0x12345, 9}),
        Record("P", {"V1"}, {1}, {77}),
    };
    EXPECT_EQ(FindProductCode(records, "P"), 0x2345);
    EXPECT_EQ(FindProductCode(records, "Empty"), std::nullopt);
    EXPECT_EQ(FindProductCode(records, "Other"), std::nullopt);
    EXPECT_EQ(FindCfgRecord(records, "P"), &records[1]);
    EXPECT_EQ(FindCfgRecord(records, "p"), nullptr);
}

TEST(RecordLookup, BootLoaderRecordIsFoundByExactName) {
    std::vector<CBootLoaderDetails> records(3);
    records[0].m_strName = "";
    records[1].m_strName = "Alpha";
    records[2].m_strName = "Alpha";
    EXPECT_EQ(FindBootLoaderRecord(records, "Alpha"), &records[1]);
    EXPECT_EQ(FindBootLoaderRecord(records, "ALPHA"), nullptr);
}

TEST(FirmwareFormat, PositionsOutsideTheListGiveZero) {
    const std::vector<std::uint32_t> codes = {255, 1, 0xFFFFFFFFu};
    EXPECT_EQ(FirmwareFormatAt(codes, 0), 255u);
    EXPECT_EQ(FirmwareFormatAt(codes, 2), 0xFFFFFFFFu);
    EXPECT_EQ(FirmwareFormatAt(codes, 3), 0u);
    EXPECT_EQ(FirmwareFormatAt(codes, -1), 0u);
    EXPECT_EQ(FirmwareFormatAt({}, 0), 0u);
}

TEST(VersionTables, CopyTakesEveryListOfTheRecord) {
    CCFGFileDet r = Record("P", {"V1"}, {128}, {5});
    r.m_arrDnldPswdSupport = {"1"};
    r.m_arrDnldPswdSupportExt = {"x;y"};
    r.m_arrDnldCmdSlaveIDSupport = {"0"};
    r.m_arrDnldCmdProductIDSupport = {"1"};
    r.m_arrUploadSupport = {"0"};
    r.m_arrDnldBinCommand = {"B"};
    r.m_arrDnldSrcCommand = {"S"};
    r.m_arrNoOfHeaderBytes = {27};
    r.m_arrDnldBinExtention = {"bin"};
    r.m_arrEEPROMSerNo = {"E"};
    r.m_arrBLSupportedVersions = {"1,2"};
    r.m_arrBLFormat = {"F"};
    CurrentVersionTables t;
    t.m_arrVersionName = {"old", "older"};
    t.CopyFrom(r);
    EXPECT_EQ(t.m_arrVersionName, Items{"V1"});
    EXPECT_EQ(t.m_arrDnldPswdSupport, Items{"1"});
    EXPECT_EQ(t.m_arrDnldPswdSupportExt, Items{"x;y"});
    EXPECT_EQ(t.m_arrDnldCmdSlaveIDSupport, Items{"0"});
    EXPECT_EQ(t.m_arrDnldCmdProductIDSupport, Items{"1"});
    EXPECT_EQ(t.m_arrUploadSupport, Items{"0"});
    EXPECT_EQ(t.m_arrDnldBinCommand, Items{"B"});
    EXPECT_EQ(t.m_arrDnldSrcCommand, Items{"S"});
    EXPECT_EQ(t.m_arrNoOfHeaderBytes, std::vector<std::uint32_t>{27});
    EXPECT_EQ(t.m_arrDnldBinExtention, Items{"bin"});
    EXPECT_EQ(t.m_arrProductCode, std::vector<std::uint32_t>{5});
    EXPECT_EQ(t.m_arrEEPROMSerNo, Items{"E"});
    EXPECT_EQ(t.m_arrDwnldFrameSize, std::vector<std::uint32_t>{128});
    EXPECT_EQ(t.m_arrBLSupportedVersions, Items{"1,2"});
    EXPECT_EQ(t.m_arrBLFormat, Items{"F"});
}

}  // namespace
}  // namespace tarvex::test
