#include "download/DownloadContainer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <numeric>
#include <string>
#include <vector>

#include "download/Crc16.h"
#include "support/ContainerBuilder.h"
#include "support/TempDir.h"

namespace tarvex {
namespace {

using test::ContainerParts;
using test::ContainerRecipe;
using test::PatternBytes;
using Bytes = std::vector<std::uint8_t>;

Bytes Text(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

// The result of one check: the records the check writes into, as the form holds them.
struct Checked {
    bool ok = false;
    CDownloadInfo info;
    std::vector<std::string> names;
    std::vector<std::uint32_t> sizes;
    ContainerReport report;
};

class DownloadContainerTest : public ::testing::Test {
  protected:
    // Runs the check on `bytes` written to a file, starting from the records in `into`.
    Checked Check(const Bytes& bytes, Checked into = {}) {
        const std::string path = dir.WriteBytes("container.bin", bytes);
        into.ok = CheckDownloadContainer(path, into.info, into.names, into.sizes, &into.report);
        return into;
    }

    static ContainerParts FullParts() {
        ContainerParts parts;
        parts.productCode = 0x2A;
        parts.application = PatternBytes(300, 1);
        parts.font = PatternBytes(120, 2);
        parts.bitmap = PatternBytes(77, 3);
        parts.recipes = {{"Alpha.bin", Text("speed=1200;temp=85")}, {"B", PatternBytes(9, 4)}};
        return parts;
    }

    // A previous, valid container whose contents a failed check must leave alone.
    Checked Previous() {
        ContainerParts parts;
        parts.productCode = 7;
        parts.application = Text("previous application");
        parts.font = Text("previous font");
        parts.bitmap = Text("previous bitmap");
        parts.recipes = {{"Old", Text("old recipe")}};
        Checked previous = Check(test::BuildContainer(parts));
        EXPECT_TRUE(previous.ok);
        return previous;
    }

    static void ExpectPartsUnchanged(const Checked& before, const Checked& after) {
        EXPECT_EQ(after.info.m_arrApplication, before.info.m_arrApplication);
        EXPECT_EQ(after.info.m_arrFont, before.info.m_arrFont);
        EXPECT_EQ(after.info.m_arrBitmap, before.info.m_arrBitmap);
        EXPECT_EQ(after.info.m_arrRecipe, before.info.m_arrRecipe);
        EXPECT_EQ(after.names, before.names);
        EXPECT_EQ(after.sizes, before.sizes);
    }

    test::TempDir dir;
};

TEST_F(DownloadContainerTest, SplitsAValidContainerIntoItsParts) {
    const ContainerParts parts = FullParts();
    const Bytes bytes = test::BuildContainer(parts);
    const Checked c = Check(bytes);

    ASSERT_TRUE(c.ok) << c.report.detail;
    EXPECT_EQ(c.info.m_strSignature, "QRZBIN");
    EXPECT_EQ(c.info.m_nProductCode, 0x2A);
    EXPECT_EQ(c.info.m_arrApplication, parts.application);
    EXPECT_EQ(c.info.m_arrFont, parts.font);
    EXPECT_EQ(c.info.m_arrBitmap, parts.bitmap);
    EXPECT_EQ(c.names, (std::vector<std::string>{"Alpha.bin", "B"}));
    EXPECT_EQ(c.sizes, (std::vector<std::uint32_t>{18, 9}));
    Bytes recipeData = parts.recipes[0].data;
    recipeData.insert(recipeData.end(), parts.recipes[1].data.begin(), parts.recipes[1].data.end());
    EXPECT_EQ(c.info.m_arrRecipe, recipeData);

    const ContainerReport& r = c.report;
    EXPECT_EQ(r.fault, ContainerFault::None);
    EXPECT_EQ(r.fileSize, bytes.size());
    EXPECT_TRUE(r.headerCrcMatches());
    EXPECT_TRUE(r.bodyCrcMatches());
    EXPECT_EQ(r.application.offset, 27U);
    EXPECT_EQ(r.application.size, 300U);
    EXPECT_EQ(r.font.offset, 327U);
    EXPECT_EQ(r.bitmap.size, 77U);
    // T = 2 + (1 + 9) + (1 + 1) + 2 * 2
    EXPECT_EQ(r.recipeTableSize, 18U);
    EXPECT_EQ(r.recipe.size, 18U + 27U);
    EXPECT_EQ(r.recipeDataSize, 27U);
    EXPECT_EQ(r.recipeOffsets, (std::vector<std::uint32_t>{18, 36}));
}

TEST_F(DownloadContainerTest, EitherChecksumSuffices) {
    for (const bool spoilHeader : {false, true}) {
        Bytes bytes = test::BuildContainer(FullParts());
        spoilHeader ? test::SpoilHeaderChecksum(bytes) : test::SpoilBodyChecksum(bytes);
        const Checked c = Check(bytes);
        EXPECT_TRUE(c.ok) << "spoiled header: " << spoilHeader;
        EXPECT_EQ(c.report.headerCrcMatches(), !spoilHeader);
        EXPECT_EQ(c.report.bodyCrcMatches(), spoilHeader);
        EXPECT_EQ(c.report.BodyDamaged(), !spoilHeader);
        EXPECT_EQ(c.info.m_arrApplication, FullParts().application);
    }
}

TEST_F(DownloadContainerTest, BothChecksumsWrongIsRefusedAfterSignatureAndCodeAreTaken) {
    const Checked before = Previous();
    Bytes bytes = test::BuildContainer(FullParts());
    test::SpoilHeaderChecksum(bytes);
    test::SpoilBodyChecksum(bytes);
    const Checked c = Check(bytes, before);

    EXPECT_FALSE(c.ok);
    EXPECT_EQ(c.report.fault, ContainerFault::BadChecksums);
    EXPECT_EQ(c.info.m_strSignature, "QRZBIN");
    EXPECT_EQ(c.info.m_nProductCode, 0x2A);
    ExpectPartsUnchanged(before, c);
    // The report still shows what the file holds.
    EXPECT_EQ(c.report.application.size, 300U);
    EXPECT_EQ(c.report.recipeNames, (std::vector<std::string>{"Alpha.bin", "B"}));
}

// A body longer than 65535 bytes is checksummed over its first (length mod 65536) bytes only.
TEST_F(DownloadContainerTest, BodyChecksumCoversOnlyLengthModulo65536) {
    ContainerParts parts = FullParts();
    parts.application = PatternBytes(70000, 9);
    Bytes bytes = test::BuildContainer(parts);
    const std::size_t bodySize = bytes.size() - test::kBodyAt;
    ASSERT_GT(bodySize, 65535U);
    const std::uint16_t truncatedCrc = CRC16(bytes.data() + test::kBodyAt, bodySize % 65536);

    // Stored body checksum over the whole body, as a careful writer would compute it: it does
    // not match, but the right header checksum carries the file.
    std::uint16_t wholeCrc = 0xFFFF;
    for (std::size_t i = test::kBodyAt; i < bytes.size(); ++i) {
        wholeCrc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) {
            wholeCrc = (wholeCrc & 1) ? static_cast<std::uint16_t>((wholeCrc >> 1) ^ 0xA001)
                                      : static_cast<std::uint16_t>(wholeCrc >> 1);
        }
    }
    ASSERT_NE(wholeCrc, truncatedCrc);
    test::SetLe16(bytes, test::kBodyChecksumAt, wholeCrc);
    const Checked whole = Check(bytes);
    EXPECT_TRUE(whole.ok);
    EXPECT_EQ(whole.report.bodyCrcComputed, truncatedCrc);
    EXPECT_EQ(whole.report.bodyCrcWholeComputed, wholeCrc);
    EXPECT_FALSE(whole.report.BodyDamaged()) << "a whole-body checksum is no damage";
    EXPECT_EQ(whole.info.m_arrApplication.size(), 70000U);

    // With a spoiled header, only the checksum over the first (length mod 65536) bytes passes.
    test::SpoilHeaderChecksum(bytes);
    EXPECT_FALSE(Check(bytes).ok);
    test::SetLe16(bytes, test::kBodyChecksumAt, truncatedCrc);
    EXPECT_TRUE(Check(bytes).ok);
    EXPECT_FALSE(Check(bytes).report.BodyDamaged());
}

TEST_F(DownloadContainerTest, PartWhoseStartIsNotBelowItsEndIsEmpty) {
    ContainerParts parts = FullParts();
    parts.application.clear();  // S1 == S2
    const Checked c = Check(test::BuildContainer(parts));
    ASSERT_TRUE(c.ok);
    EXPECT_TRUE(c.info.m_arrApplication.empty());
    EXPECT_EQ(c.info.m_arrFont, parts.font);

    // Offsets that go backwards also give empty parts, not a failure: S2 > S3 empties the Font.
    Bytes bytes = test::BuildContainer(FullParts());
    test::SetLe32(bytes, test::kFontOffsetAt, 400);  // S3 is 447
    test::SetLe32(bytes, test::kBitmapOffsetAt, 300);
    test::RecomputeChecksums(bytes);
    const Checked back = Check(bytes);
    ASSERT_TRUE(back.ok) << back.report.detail;
    EXPECT_TRUE(back.info.m_arrFont.empty());
    EXPECT_EQ(back.info.m_arrApplication.size(), 400U - 27U);
    EXPECT_EQ(back.info.m_arrBitmap.size(), 524U - 300U);  // S4 is 524
}

TEST_F(DownloadContainerTest, EmptyRecipePartCarriesNoRecipes) {
    ContainerParts parts = FullParts();
    parts.recipeTable = false;  // S4 at the end of the file
    const Checked c = Check(test::BuildContainer(parts));
    ASSERT_TRUE(c.ok) << c.report.detail;
    EXPECT_TRUE(c.info.m_arrRecipe.empty());
    EXPECT_TRUE(c.names.empty());
    EXPECT_TRUE(c.sizes.empty());

    // All four offsets past the end: every part empty, still nothing read outside the file.
    Bytes bytes = test::BuildContainer(parts);
    for (std::size_t at : {test::kApplicationOffsetAt, test::kFontOffsetAt, test::kBitmapOffsetAt,
                           test::kRecipeOffsetAt}) {
        test::SetLe32(bytes, at, 0xFFFFFFF0U);
    }
    test::RecomputeChecksums(bytes);
    const Checked far = Check(bytes);
    ASSERT_TRUE(far.ok) << far.report.detail;
    EXPECT_TRUE(far.info.m_arrApplication.empty());
    EXPECT_TRUE(far.info.m_arrBitmap.empty());
}

TEST_F(DownloadContainerTest, NoRecipesLeavesWhatFollowsTheCount) {
    ContainerParts parts = FullParts();
    Bytes recipePart = {0, 0, 0xDE, 0xAD};
    Checked before = Previous();
    const Checked c = Check(test::BuildContainerWithRecipePart(parts, recipePart), before);
    ASSERT_TRUE(c.ok) << c.report.detail;
    EXPECT_TRUE(c.names.empty());
    EXPECT_TRUE(c.sizes.empty());
    EXPECT_EQ(c.info.m_arrRecipe, (Bytes{0xDE, 0xAD}));
    EXPECT_EQ(c.report.recipeTableSize, 2U);
}

TEST_F(DownloadContainerTest, TwoRecipesWithOneAndTwoCharacterNames) {
    // T = 2 + (1 + 1) + (1 + 2) + 2 * 2 = 11; data 4 + 5 bytes.
    const Bytes recipePart = {2, 0, 1, 'X', 2, 'Y', 'Z', 11, 0, 15, 0,  //
                              1, 2, 3, 4,   5, 6,   7,   8,  9};
    ASSERT_EQ(recipePart.size(), 20U);
    const Checked c = Check(test::BuildContainerWithRecipePart(FullParts(), recipePart));
    ASSERT_TRUE(c.ok) << c.report.detail;
    EXPECT_EQ(c.names, (std::vector<std::string>{"X", "YZ"}));
    EXPECT_EQ(c.sizes, (std::vector<std::uint32_t>{4, 5}));
    EXPECT_EQ(c.info.m_arrRecipe, (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9}));
    // The builder writes the same table.
    EXPECT_EQ(test::BuildRecipePart({{"X", {1, 2, 3, 4}}, {"YZ", {5, 6, 7, 8, 9}}}), recipePart);
}

TEST_F(DownloadContainerTest, NamesAreTakenAsRawBytes) {
    ContainerParts parts = FullParts();
    parts.recipes = {{std::string("\xFF\x00\xE9:", 4), Text("x")}, {std::string(255, 'n'), {}}};
    const Checked c = Check(test::BuildContainer(parts));
    ASSERT_TRUE(c.ok) << c.report.detail;
    EXPECT_EQ(c.names[0], std::string("\xFF\x00\xE9:", 4));
    EXPECT_EQ(c.names[1].size(), 255U);
    EXPECT_EQ(c.sizes, (std::vector<std::uint32_t>{1, 0}));
}

// --- Damaged files: refused, with the previous container's parts left as they were ---------

TEST_F(DownloadContainerTest, FileShorterThanTheHeader) {
    const Checked before = Previous();
    const Bytes full = test::BuildContainer(FullParts());

    const Checked cut = Check(Bytes(full.begin(), full.begin() + 26), before);
    EXPECT_FALSE(cut.ok);
    EXPECT_EQ(cut.report.fault, ContainerFault::TooShort);
    EXPECT_FALSE(cut.report.headerRead);
    EXPECT_EQ(cut.info.m_strSignature, "QRZBIN");
    EXPECT_EQ(cut.info.m_nProductCode, 0x2A);
    ExpectPartsUnchanged(before, cut);

    // Six bytes: the signature is there, the product code is not.
    const Checked six = Check(Bytes(full.begin(), full.begin() + 6), before);
    EXPECT_EQ(six.report.fault, ContainerFault::TooShort);
    EXPECT_EQ(six.info.m_strSignature, "QRZBIN");
    EXPECT_EQ(six.info.m_nProductCode, 7);

    // Fewer than six bytes: not even the signature changes.
    const Checked three = Check(Text("QRZ"), before);
    EXPECT_EQ(three.report.fault, ContainerFault::TooShort);
    EXPECT_EQ(three.report.signature, "QRZ");
    EXPECT_EQ(three.info.m_strSignature, "QRZBIN");

    const Checked empty = Check(Bytes{}, before);
    EXPECT_EQ(empty.report.fault, ContainerFault::TooShort);
    ExpectPartsUnchanged(before, empty);
}

TEST_F(DownloadContainerTest, WrongSignatureStopsBeforeTheProductCode) {
    const Checked before = Previous();
    for (const char* signature : {"qrzbin", "QRZBIX", "QRZBI "}) {
        Bytes bytes = test::BuildContainer(FullParts());
        std::copy(signature, signature + 6, bytes.begin());
        test::RecomputeChecksums(bytes);
        const Checked c = Check(bytes, before);
        EXPECT_FALSE(c.ok) << signature;
        EXPECT_EQ(c.report.fault, ContainerFault::BadSignature);
        EXPECT_EQ(c.info.m_strSignature, signature);
        EXPECT_EQ(c.info.m_nProductCode, 7) << "taken only behind a good signature";
        EXPECT_EQ(c.report.productCode, 0x2A) << "the report still shows it";
        ExpectPartsUnchanged(before, c);
    }
}

TEST_F(DownloadContainerTest, PartRunningPastTheEndOfTheFile) {
    const Checked before = Previous();
    Bytes bytes = test::BuildContainer(FullParts());
    const auto size = static_cast<std::uint32_t>(bytes.size());
    // The Bitmap part [S3, S4) ends one byte behind the file.
    test::SetLe32(bytes, test::kRecipeOffsetAt, size + 1);
    test::RecomputeChecksums(bytes);
    const Checked c = Check(bytes, before);
    EXPECT_FALSE(c.ok);
    EXPECT_EQ(c.report.fault, ContainerFault::PartOutOfRange);
    EXPECT_NE(c.report.detail.find("Bitmap"), std::string::npos) << c.report.detail;
    EXPECT_EQ(c.info.m_nProductCode, 0x2A);
    ExpectPartsUnchanged(before, c);

    // Ending exactly at the end of the file is fine: the Recipe part is then empty.
    test::SetLe32(bytes, test::kRecipeOffsetAt, size);
    test::RecomputeChecksums(bytes);
    const Checked exact = Check(bytes);
    ASSERT_TRUE(exact.ok) << exact.report.detail;
    EXPECT_TRUE(exact.names.empty());

    // An Application part that starts inside the file and ends far beyond it.
    Bytes far = test::BuildContainer(FullParts());
    test::SetLe32(far, test::kFontOffsetAt, 0xFFFFFFFFU);
    test::SetLe32(far, test::kBitmapOffsetAt, 0xFFFFFFFFU);
    test::SetLe32(far, test::kRecipeOffsetAt, 0xFFFFFFFFU);
    test::RecomputeChecksums(far);
    const Checked f = Check(far, before);
    EXPECT_EQ(f.report.fault, ContainerFault::PartOutOfRange);
    EXPECT_NE(f.report.detail.find("Application"), std::string::npos) << f.report.detail;
    ExpectPartsUnchanged(before, f);
}

TEST_F(DownloadContainerTest, RecipePartTooShortForItsTable) {
    const Checked before = Previous();
    const std::vector<Bytes> tables = {
        {5},                           // half a count
        {1, 0},                        // count without the name length
        {1, 0, 4, 'a', 'b'},           // name shorter than its length byte
        {2, 0, 1, 'a', 1, 'b', 9, 0},  // only one of two offsets
        {0xFF, 0xFF, 0},               // 65535 recipes announced, one empty name present
    };
    for (const Bytes& table : tables) {
        const Checked c = Check(test::BuildContainerWithRecipePart(FullParts(), table), before);
        EXPECT_FALSE(c.ok);
        EXPECT_EQ(c.report.fault, ContainerFault::RecipeTableTruncated) << c.report.detail;
        EXPECT_FALSE(c.report.recipeTableRead);
        ExpectPartsUnchanged(before, c);
    }
}

TEST_F(DownloadContainerTest, RecipeOffsetsMustPartitionTheData) {
    const Checked before = Previous();
    // Table of two one-letter names: T = 2 + 2 + 2 + 4 = 10, then 6 bytes of data.
    auto table = [](std::uint8_t first, std::uint8_t second) {
        return Bytes{2, 0, 1, 'a', 1, 'b', first, 0, second, 0, 1, 2, 3, 4, 5, 6};
    };
    struct Case {
        const char* what;
        Bytes part;
    };
    const std::vector<Case> bad = {
        {"first offset inside the table", table(9, 12)},
        {"gap behind the table", table(11, 12)},
        {"second offset below the first", table(10, 9)},
        {"second offset past the Recipe part", table(10, 17)},
    };
    for (const Case& c : bad) {
        const Checked r = Check(test::BuildContainerWithRecipePart(FullParts(), c.part), before);
        EXPECT_FALSE(r.ok) << c.what;
        EXPECT_EQ(r.report.fault, ContainerFault::RecipeOffsetsInvalid) << c.what;
        EXPECT_EQ(r.report.recipeNames.size(), 2U) << c.what;
        ExpectPartsUnchanged(before, r);
    }

    // Equal offsets give an empty recipe; an offset at the very end gives an empty last one.
    const Checked equal = Check(test::BuildContainerWithRecipePart(FullParts(), table(10, 10)));
    ASSERT_TRUE(equal.ok) << equal.report.detail;
    EXPECT_EQ(equal.sizes, (std::vector<std::uint32_t>{0, 6}));
    const Checked atEnd = Check(test::BuildContainerWithRecipePart(FullParts(), table(10, 16)));
    ASSERT_TRUE(atEnd.ok) << atEnd.report.detail;
    EXPECT_EQ(atEnd.sizes, (std::vector<std::uint32_t>{6, 0}));
}

TEST_F(DownloadContainerTest, FileThatCannotBeRead) {
    Checked before = Previous();
    CDownloadInfo& info = before.info;
    ContainerReport report;
    EXPECT_FALSE(
        CheckDownloadContainer(dir / "missing.bin", info, before.names, before.sizes, &report));
    EXPECT_EQ(report.fault, ContainerFault::CannotOpen);
    EXPECT_EQ(info.m_nProductCode, 7);

    EXPECT_FALSE(CheckDownloadContainer(dir.MakeDir("folder.bin"), info, before.names, before.sizes,
                                        &report));
    EXPECT_EQ(report.fault, ContainerFault::CannotOpen);
    EXPECT_EQ(info.m_arrApplication, Text("previous application"));
}

TEST_F(DownloadContainerTest, FileBeyondThe32BitOffsetsIsRefusedWithoutReadingIt) {
    const Checked before = Previous();
    const std::string path = dir.WriteBytes("huge.bin", test::BuildContainer(FullParts()));
    std::error_code ec;
    std::filesystem::resize_file(path, 0x100000000ULL, ec);  // sparse: no data is written
    if (ec) {
        GTEST_SKIP() << "cannot make a sparse 4 GiB file here: " << ec.message();
    }
    Checked c = before;
    EXPECT_FALSE(CheckDownloadContainer(path, c.info, c.names, c.sizes, &c.report));
    EXPECT_EQ(c.report.fault, ContainerFault::TooLarge);
    EXPECT_EQ(c.report.fileSize, 0x100000000ULL);
    EXPECT_EQ(c.info.m_strSignature, "QRZBIN");
    EXPECT_EQ(c.info.m_nProductCode, 7);
    ExpectPartsUnchanged(before, c);
}

TEST_F(DownloadContainerTest, WorksWithoutAReport) {
    CDownloadInfo info;
    std::vector<std::string> names;
    std::vector<std::uint32_t> sizes;
    const std::string good = dir.WriteBytes("good.bin", test::BuildContainer(FullParts()));
    EXPECT_TRUE(CheckDownloadContainer(good, info, names, sizes));
    EXPECT_EQ(names.size(), 2U);
    const std::string bad = dir.WriteBytes("bad.bin", Text("QRZBIN"));
    EXPECT_FALSE(CheckDownloadContainer(bad, info, names, sizes));
    EXPECT_EQ(names.size(), 2U);
}

// Every truncation and every single-byte change of the header of a valid container: never a read
// outside the file (the sanitizer build watches), and whatever passes is self-consistent.
TEST_F(DownloadContainerTest, DamagedVariantsStayConsistent) {
    const Bytes full = test::BuildContainer(FullParts());
    std::vector<Bytes> variants;
    for (std::size_t length = 0; length < full.size(); ++length) {
        variants.emplace_back(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(length));
    }
    for (std::size_t at = 6; at < test::kHeaderChecksumAt; ++at) {
        for (std::uint8_t value : {0x00, 0x01, 0x7F, 0xFF}) {
            Bytes v = full;
            v[at] = value;
            test::RecomputeChecksums(v);
            variants.push_back(std::move(v));
        }
    }
    const std::size_t recipeAt = full.size() - 18 - 27;  // start of the Recipe part
    for (std::size_t at = recipeAt; at < recipeAt + 18; ++at) {
        Bytes v = full;
        v[at] ^= 0xFF;
        variants.push_back(std::move(v));
    }
    const Checked before = Previous();
    for (std::size_t i = 0; i < variants.size(); ++i) {
        const Checked c = Check(variants[i], before);
        if (!c.ok) {
            EXPECT_NE(c.report.fault, ContainerFault::None) << "variant " << i;
            ExpectPartsUnchanged(before, c);
            continue;
        }
        EXPECT_EQ(c.names.size(), c.sizes.size()) << "variant " << i;
        const std::uint64_t sum = std::accumulate(c.sizes.begin(), c.sizes.end(), std::uint64_t{0});
        EXPECT_EQ(sum, c.info.m_arrRecipe.size()) << "variant " << i;
        // Parts may overlap when the offsets go back, but none reaches outside the file.
        for (const SharedBytes* part :
             {&c.info.m_arrApplication, &c.info.m_arrFont, &c.info.m_arrBitmap}) {
            EXPECT_LE(part->size(), variants[i].size()) << "variant " << i;
        }
    }
}

}  // namespace
}  // namespace tarvex
