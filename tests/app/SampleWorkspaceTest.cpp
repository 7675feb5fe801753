// The sample workspace built into the build tree: its catalogue, data file and containers must
// fit together, since the end-to-end tests and the manual walk-through start from it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "catalogue/CfgFile.h"
#include "download/DownloadContainer.h"
#include "platform/Files.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

namespace tarvex {
namespace {

namespace fs = std::filesystem;

const std::string kWorkspace = std::string(TARVEX_BINARY_DIR) + "/sample-workspace";

struct Product {
    CCFGFileDet cfg;
    CBootLoaderDetails bootloader;
};

Product ReadProduct(const std::string& name) {
    std::vector<CCFGFileDet> records;
    EXPECT_TRUE(ReadCfgFile(kWorkspace + "/Pxx/" + name + ".CFG", records)) << name;
    EXPECT_EQ(records.size(), 1U) << name;
    Product p;
    if (!records.empty()) {
        p.cfg = records.front();
    }
    EXPECT_TRUE(ReadBootLoaderFile(kWorkspace + "/Vxx/" + name + ".CFG", p.bootloader)) << name;
    return p;
}

// Splits a comma list the way the catalogue does: items up to the first empty one.
std::vector<std::string> CommaItems(std::string text) {
    std::vector<std::string> items;
    text += ',';
    std::size_t comma;
    while ((comma = text.find(',')) != std::string::npos && comma > 0) {
        items.push_back(text.substr(0, comma));
        text.erase(0, comma + 1);
    }
    return items;
}

TEST(SampleWorkspace, CatalogueIsConsistent) {
    const auto entries = platform::ListEntriesWithExtension(kWorkspace + "/Pxx", "cfg");
    ASSERT_GE(entries.size(), 2U);
    std::set<std::uint32_t> codes;
    bool formatZero = false, formatOne = false, twoVersions = false;
    for (const auto& entry : entries) {
        const std::string name = entry.name.substr(0, entry.name.size() - 4);
        SCOPED_TRACE(name);
        const Product p = ReadProduct(name);
        const CCFGFileDet& c = p.cfg;
        const CBootLoaderDetails& b = p.bootloader;
        EXPECT_EQ(c.m_strName, name);
        EXPECT_EQ(b.m_strName, name);
        ASSERT_EQ(b.m_arrBLVersion.size(), b.m_nNoOfBLVersions);
        ASSERT_EQ(c.m_nNoOfVersions, b.m_nNoOfBLVersions);
        twoVersions = twoVersions || b.m_nNoOfBLVersions >= 2;
        // Every key once per section, and version k named like bootloader version k.
        const std::size_t n = b.m_arrBLVersion.size();
        EXPECT_EQ(c.m_arrVersionName, b.m_arrBLVersion);
        for (std::size_t size : {c.m_arrDwnldFrameSize.size(), c.m_arrDwnldFrameSizeUSB.size(),
                                 c.m_arrUpldFrameSize.size(), c.m_arrDnldPswdSupport.size(),
                                 c.m_arrDnldCmdSlaveIDSupport.size(),
                                 c.m_arrDnldCmdProductIDSupport.size(), c.m_arrUploadSupport.size(),
                                 c.m_arrNoOfHeaderBytes.size(), c.m_arrDnldBinCommand.size(),
                                 c.m_arrDnldSrcCommand.size(), c.m_arrDnldBinExtention.size(),
                                 c.m_arrProductCode.size(), c.m_arrBLSupportedVersions.size(),
                                 c.m_arrBLFormat.size(), c.m_arrEEPROMSerNo.size()}) {
            EXPECT_EQ(size, n);
        }
        for (std::size_t v = 0; v < n; ++v) {
            EXPECT_GE(c.m_arrDwnldFrameSize[v], 1U);
            EXPECT_LE(c.m_arrDwnldFrameSize[v], 65535U);
            EXPECT_GE(c.m_arrDwnldFrameSizeUSB[v], 1U);
            EXPECT_LE(c.m_arrDwnldFrameSizeUSB[v], 65535U);
            EXPECT_EQ(c.m_arrDnldCmdSlaveIDSupport[v], "1");
            EXPECT_EQ(c.m_arrDnldBinExtention[v], "bin");
            EXPECT_LE(c.m_arrProductCode[v], 255U);
            const auto firmware = CommaItems(b.m_arrFirmwareVersions[v]);
            const auto formats = CommaItems(b.m_arrFirmwareFormats[v]);
            EXPECT_FALSE(firmware.empty());
            EXPECT_EQ(firmware.size(), formats.size());
            for (const auto& f : formats) {
                formatZero = formatZero || f == "0";
                formatOne = formatOne || f == "1";
            }
        }
        ASSERT_FALSE(c.m_arrProductCode.empty());
        EXPECT_TRUE(codes.insert(c.m_arrProductCode[0]).second) << "product codes are distinct";
    }
    EXPECT_TRUE(twoVersions);
    EXPECT_TRUE(formatZero);
    EXPECT_TRUE(formatOne);
}

TEST(SampleWorkspace, DataFileNamesAProductAndTheProjectFolder) {
    const auto lines = platform::ReadTextLines(kWorkspace + "/DnldData.txt");
    ASSERT_TRUE(lines.has_value());
    ASSERT_EQ(lines->size(), 8U);
    EXPECT_TRUE(platform::FileExists(kWorkspace + "/Pxx/" + (*lines)[0] + ".CFG"));
    EXPECT_EQ((*lines)[1].back(), '/');
    EXPECT_TRUE(fs::is_directory(kWorkspace + "/" + (*lines)[1]));
    EXPECT_EQ((*lines)[6], "USER_HMI");
    EXPECT_EQ((*lines)[7], "[EOF]");
}

TEST(SampleWorkspace, ContainersMatchTheirProducts) {
    const std::string project = kWorkspace + "/project/";
    CDownloadInfo info;
    std::vector<std::string> names;
    std::vector<std::uint32_t> sizes;
    ContainerReport report;
    ASSERT_TRUE(CheckDownloadContainer(project + "H1.bin", info, names, sizes, &report))
        << ContainerFaultText(report.fault) << " " << report.detail;
    EXPECT_EQ(static_cast<std::uint32_t>(info.m_nProductCode),
              ReadProduct("H1").cfg.m_arrProductCode.at(0));
    EXPECT_FALSE(info.m_arrApplication.empty());
    EXPECT_FALSE(info.m_arrFont.empty());
    EXPECT_EQ(info.m_arrBitmap, test::ReadFileBytes(project + "BMP/BMP.bin"));

    // The recipes are the files of project/Recipe, by name and size.
    std::vector<std::string> files;
    for (const auto& e : fs::directory_iterator(project + "Recipe")) {
        files.push_back(e.path().filename().string());
    }
    std::sort(files.begin(), files.end());
    ASSERT_GE(files.size(), 2U);
    EXPECT_EQ(names, files);
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(sizes.at(i), test::ReadFileBytes(project + "Recipe/" + names[i]).size());
    }

    ASSERT_TRUE(CheckDownloadContainer(project + "K3.bin", info, names, sizes, &report));
    EXPECT_EQ(static_cast<std::uint32_t>(info.m_nProductCode),
              ReadProduct("K3").cfg.m_arrProductCode.at(0));
    EXPECT_TRUE(names.empty());
}

TEST(SampleWorkspace, InspectResolvesPathsFromTheCurrentDirectory) {
    const auto r =
        test::RunProgram(test::ProjectBinary("tarvex-cli"), {"inspect", "project/H1.bin"},
                         std::chrono::seconds(10), kWorkspace);
    EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Alpha.bin"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace tarvex
