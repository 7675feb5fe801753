// Case-insensitive look-ups in real folders: the catalogue and settings files come from
// Windows, where FOO.CFG and foo.cfg are the same file.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "support/TempDir.h"

namespace tarvex::platform {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

std::vector<std::string> Names(const std::vector<DirEntry>& entries) {
    std::vector<std::string> out;
    for (const auto& e : entries) {
        out.push_back(e.name);
    }
    return out;
}

TEST(FindFileIgnoringCase, FindsAnySpellingAndPrefersTheExactOne) {
    TempDir dir;
    dir.Write("DnldData.txt", "x");
    EXPECT_EQ(FindFileIgnoringCase(dir.path(), "dnlddata.TXT"), dir / "DnldData.txt");
    EXPECT_EQ(FindFileIgnoringCase(dir.path(), "DnldData.txt"), dir / "DnldData.txt");

    dir.Write("DNLDDATA.TXT", "y");
    EXPECT_EQ(FindFileIgnoringCase(dir.path(), "DnldData.txt"), dir / "DnldData.txt");
    EXPECT_EQ(FindFileIgnoringCase(dir.path(), "DNLDDATA.TXT"), dir / "DNLDDATA.TXT");
    // Neither spelling exact: the same one every time (byte order, upper case first).
    EXPECT_EQ(FindFileIgnoringCase(dir.path(), "dnlddata.txt"), dir / "DNLDDATA.TXT");
}

TEST(FindFileIgnoringCase, FindsFoldersAndReportsWhatIsMissing) {
    TempDir dir;
    dir.MakeDir("P01");
    EXPECT_EQ(FindFileIgnoringCase(dir.path(), "p01"), dir / "P01");
    EXPECT_EQ(FindFileIgnoringCase(dir.path(), "p02"), std::nullopt);
    EXPECT_EQ(FindFileIgnoringCase(dir / "nowhere", "p01"), std::nullopt);
    // Only whole names match, not prefixes.
    EXPECT_EQ(FindFileIgnoringCase(dir.path(), "p0"), std::nullopt);
}

TEST(ListEntriesWithExtension, ExtensionComparedWithoutCaseAndSortedWithoutCase) {
    TempDir dir;
    dir.Write("b.cfg", "");
    dir.Write("a.CFG", "");
    dir.Write("C.Cfg", "");
    dir.Write("d.cfgx", "");
    dir.Write("e.txt", "");
    dir.Write("cfg", "");
    dir.Write("f.cfg.bak", "");
    dir.MakeDir("Sub.CFG");
    fs::create_symlink(dir / "b.cfg", dir / "link.cfg");

    bool opened = false;
    const std::vector<DirEntry> entries = ListEntriesWithExtension(dir.path(), "Cfg", &opened);
    EXPECT_TRUE(opened);
    ASSERT_EQ(Names(entries),
              (std::vector<std::string>{"a.CFG", "b.cfg", "C.Cfg", "link.cfg", "Sub.CFG"}));
    for (const auto& e : entries) {
        SCOPED_TRACE(e.name);
        EXPECT_EQ(e.isDirectory, e.name == "Sub.CFG");
        EXPECT_EQ(e.isRegularFile, e.name != "Sub.CFG");  // the link leads to a file
    }
}

TEST(ListEntriesWithExtension, MissingFolderIsToldApartFromAnEmptyOne) {
    TempDir dir;
    bool opened = true;
    EXPECT_TRUE(ListEntriesWithExtension(dir / "missing", "cfg", &opened).empty());
    EXPECT_FALSE(opened);
    dir.MakeDir("empty");
    EXPECT_TRUE(ListEntriesWithExtension(dir / "empty", "cfg", &opened).empty());
    EXPECT_TRUE(opened);
    EXPECT_TRUE(ListEntriesWithExtension(dir / "missing", "cfg").empty());
}

}  // namespace
}  // namespace tarvex::platform
