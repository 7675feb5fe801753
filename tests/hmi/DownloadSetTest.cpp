// The download data file's lines and the choice of the items a download carries.
#include "hmi/DownloadSet.h"

#include <gtest/gtest.h>

namespace tarvex::test {
namespace {

using hmi::DownloadData;
using hmi::ParseDownloadData;
using Lines = std::vector<std::string>;

TEST(DownloadDataFile, SevenPositionalLinesBeforeTheTerminator) {
    const DownloadData d = ParseDownloadData(
        {"HMI-A", "project/", " App ", "4", "5", "6", "USER_HMI", "[EOF]", "after"});
    EXPECT_EQ(d.Product(), "HMI-A");
    EXPECT_EQ(d.BinFileDir(), "project/");
    EXPECT_EQ(d.ApplicationName(), " App ");  // nothing is trimmed
    EXPECT_EQ(d.HmiType(), "USER_HMI");
}

TEST(DownloadDataFile, ShortFileGivesEmptyTextsForTheRest) {
    const DownloadData d = ParseDownloadData({"HMI-A", "project/", "[eof]", "x", "y", "z", "T"});
    EXPECT_EQ(d.Product(), "HMI-A");
    EXPECT_EQ(d.BinFileDir(), "project/");
    EXPECT_EQ(d.ApplicationName(), "");  // the terminator is no value
    EXPECT_EQ(d.HmiType(), "");

    const DownloadData noTerminator = ParseDownloadData({"P", "dir/"});
    EXPECT_EQ(noTerminator.BinFileDir(), "dir/");
    EXPECT_EQ(noTerminator.HmiType(), "");

    const DownloadData empty = ParseDownloadData({});
    for (const std::string& line : empty.lines) {
        EXPECT_EQ(line, "");
    }
}

TEST(DownloadDataFile, LongFileWithoutTerminatorTakesTheFirstSeven) {
    Lines lines;
    for (int i = 1; i <= 20; ++i) {
        lines.push_back("L" + std::to_string(i));
    }
    const DownloadData d = ParseDownloadData(lines);
    EXPECT_EQ(d.Product(), "L1");
    EXPECT_EQ(d.HmiType(), "L7");
}

TEST(DownloadDataFile, TerminatorNeedsNoFinalLineEnd) {
    const DownloadData d = ParseDownloadData({"P", "d/", "a", "", "", "", "INTERNAL_MMI\r"});
    EXPECT_EQ(d.HmiType(), "INTERNAL_MMI");
    const DownloadData e = ParseDownloadData({"P", "[EOF]\r", "a"});
    EXPECT_EQ(e.BinFileDir(), "");
    EXPECT_EQ(e.ApplicationName(), "");
}

struct Buffers {
    ItemImage app{0xAA}, bitmap{0xBB}, font{0xCC}, recipe{0xDD};
    hmi::ItemBuffers Refs() { return {app, bitmap, font, recipe}; }
};

TEST(DownloadSet, NothingTickedCopiesNothing) {
    CDownloadInfo info;
    info.m_arrApplication = {1};
    Buffers b;
    EXPECT_TRUE(hmi::FillDownloadSet({}, info, b.Refs()).empty());
    EXPECT_EQ(b.app, std::vector<std::uint8_t>{0xAA});
}

TEST(DownloadSet, EveryMissingItemIsNamedInOrderAndThePresentOnesAreCopied) {
    CDownloadInfo info;
    info.m_arrBitmap = {2, 2};
    info.m_arrRecipe = {4};
    Buffers b;
    const auto notices = hmi::FillDownloadSet(
        {.application = true, .bitmap = true, .font = true, .recipe = true}, info, b.Refs());
    EXPECT_EQ(notices, (std::vector<std::string_view>{"Application doesnot exist to download!",
                                                      "Font doesnot exist to download!"}));
    EXPECT_EQ(b.app, std::vector<std::uint8_t>{0xAA});
    EXPECT_EQ(b.bitmap, (std::vector<std::uint8_t>{2, 2}));
    EXPECT_EQ(b.font, std::vector<std::uint8_t>{0xCC});
    EXPECT_EQ(b.recipe, std::vector<std::uint8_t>{4});

    info = {};
    const auto all = hmi::FillDownloadSet({.bitmap = true, .recipe = true}, info, b.Refs());
    EXPECT_EQ(all, (std::vector<std::string_view>{"Bitmap doesnot exist to download!",
                                                  "Recipe doesnot exist to download!"}));
}

}  // namespace
}  // namespace tarvex::test
