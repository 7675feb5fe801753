#include "hmi/HmiFrames.h"

#include <gtest/gtest.h>

#include <vector>

#include "download/Crc16.h"
#include "support/HandFrames.h"

namespace tarvex::hmi {
namespace {

using test::Bytes;
using test::WithCrc;

TEST(HmiItemCodes, FollowTheHmiType) {
    EXPECT_EQ(EncodeItemAction(kItemApplication, kActionDownload, kHmiTypeUser), 0x0000);
    EXPECT_EQ(EncodeItemAction(kItemBitmap, kActionDownload, kHmiTypeUser), 0x0002);
    EXPECT_EQ(EncodeItemAction(kItemFont, kActionDownload, kHmiTypeUser), 0x0003);
    EXPECT_EQ(EncodeItemAction(kItemBitmap, kActionDownload, kHmiTypeInternal), 0x0005);
    EXPECT_EQ(EncodeItemAction(kItemFont, kActionDownload, kHmiTypeInternal), 0x0007);
    EXPECT_EQ(EncodeItemAction(kItemRecipe, kActionDownload, "anything"), 0x0004);
    // Another HMI type leaves bitmaps and fonts on the application's code.
    EXPECT_EQ(ItemCode(kItemBitmap, "PANEL_X"), 0);
    EXPECT_FALSE(HmiTypeKnown("user_hmi"));
    EXPECT_EQ(EncodeItemAction(kItemApplication, kActionOver, kHmiTypeUser), 0x0200);
    EXPECT_EQ(EncodeItemAction(kItemApplication, kActionCancel, kHmiTypeUser), 0x0300);
    EXPECT_EQ(EncodeItemAction("Other.bin", "Unknown", kHmiTypeUser), 0x0000);
}

TEST(HmiFrames, CommandFrameCarriesTheLinkByteOnlyWhenAsked) {
    const Bytes open = BuildCommandFrame(7, 0x0002, std::uint8_t{1});
    EXPECT_EQ(open, WithCrc({7, 0x51, 0x02, 0x00, 0x01}));
    EXPECT_EQ(open.size(), 7U);
    const Bytes over = BuildCommandFrame(7, 0x0200);
    EXPECT_EQ(over, WithCrc({7, 0x51, 0x00, 0x02}));
    EXPECT_EQ(over.size(), 6U);
}

TEST(HmiFrames, DataFrameNumbersPacketsLittleEndianAndEndsWithCrcLowByteFirst) {
    const Bytes payload = {0xAA, 0xBB, 0x00};
    const Bytes frame = BuildDataFrame(1, 0x0102, payload);
    ASSERT_EQ(frame.size(), 9U);
    EXPECT_EQ(frame[0], 1);
    EXPECT_EQ(frame[1], 0x50);
    EXPECT_EQ(frame[2], 0x02);
    EXPECT_EQ(frame[3], 0x01);
    const std::uint16_t crc = CRC16(frame.data(), 7);
    EXPECT_EQ(frame[7], crc & 0xFF);
    EXPECT_EQ(frame[8], crc >> 8);
}

TEST(HmiFrames, InfoFrameWrapsTheBlock) {
    FileInfoFields f;
    f.name = "App";
    const auto block = BuildFileInfo(f);
    const Bytes frame = BuildInfoFrame(3, 0x0004, block);
    ASSERT_EQ(frame.size(), 54U);
    EXPECT_EQ(frame[1], 0x52);
    EXPECT_TRUE(std::equal(block.begin(), block.end(), frame.begin() + 4));
}

TEST(HmiFileInfo, LaysOutEveryField) {
    const FileInfoFields f{.name = "Application",
                           .productCode = 0x1234,
                           .password = 0xBEEF,
                           .year = 2026,
                           .month = 12,
                           .day = 8,
                           .hour = 23,
                           .minute = 59,
                           .packetSize = 256,
                           .size = 0x01020304,
                           .byteSum = 0xCAFE,
                           .bootloaderNumber = 2,
                           .firmwareNumber = 5};
    const auto b = BuildFileInfo(f);
    const Bytes expected = {'A',  'p',  'p',  'l',  'i', 'c', 'a', 't', 'i', 'o',
                            'n',  0,    0,    0,    0,   0,   // name, zero padded
                            0x34, 0x12, 0xEF, 0xBE,           // product code, password
                            0xEA, 0x07, 12,   8,    23,  59,  // 2026-12-08 23:59
                            0x00, 0x01,                       // packet size 256
                            0x04, 0x03, 0x02, 0x01,           // size
                            0xFE, 0xCA,                       // byte sum
                            0x00, 0x01, 2,    5,              // fixed bytes, versions
                            0,    0,    0,    0,    0,   0,   0,   0,   0,   0};  // reserved
    EXPECT_EQ(Bytes(b.begin(), b.end()), expected);
}

TEST(HmiFileInfo, NamesAreCutTo16BytesAndRecipesLoseTheFirstBinOnly) {
    FileInfoFields f;
    f.name = "ABCDEFGHIJKLMNOPQRST";  // 20 characters
    const auto b = BuildFileInfo(f);
    EXPECT_EQ(std::string(b.begin(), b.begin() + 16), "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(b[16], 0);
    EXPECT_EQ(RecipeInfoName("mix.bin.bin"), "mix.bin");
    EXPECT_EQ(RecipeInfoName("a.binary"), "aary");
    EXPECT_EQ(RecipeInfoName("NoExtension"), "NoExtension");
}

TEST(HmiFileInfo, VersionNumbersComeFromTheTexts) {
    EXPECT_EQ(BootloaderNumber("BL1.2-1"), 2);
    EXPECT_EQ(BootloaderNumber("BL1.2"), 0);  // no "-": 0
    EXPECT_EQ(BootloaderNumber("12-3"), 12);  // no ".": the whole text
    EXPECT_EQ(BootloaderNumber("V.300-x"), 300 & 0xFF);
    EXPECT_EQ(FirmwareNumber("FW1.5"), 5);
    EXPECT_EQ(FirmwareNumber(".7"), 0);  // "." first: the whole text, no number
    EXPECT_EQ(FirmwareNumber("15"), 15);
    EXPECT_EQ(FirmwareNumber("FW1.x"), 0);
    EXPECT_EQ(FirmwareNumber("1.2.3"), 2);
}

TEST(HmiFileInfo, PasswordIsReadAsAnUnsignedNumber) {
    EXPECT_EQ(PasswordNumber("  5826"), 5826U);
    EXPECT_EQ(PasswordNumber("12ab"), 12U);
    EXPECT_EQ(PasswordNumber(""), 0U);
    EXPECT_EQ(PasswordNumber("-5"), 0U);
    EXPECT_EQ(PasswordNumber("99999999999999999999"), 0xFFFFFFFFU);
}

TEST(HmiReplies, ConfirmedOnlyWithEchoStatusZeroAndCrc) {
    const Bytes request = BuildCommandFrame(1, 0x0000);
    const Bytes good = WithCrc({1, 0x51, 0x00, 0x00, 0x00});
    EXPECT_TRUE(JudgeReply(request, good).Confirmed());

    const Bytes coded = WithCrc({1, 0x51, 0x00, 0x00, 0x02});
    const ReplyVerdict v = JudgeReply(request, coded);
    EXPECT_TRUE(v.echoMatches);
    EXPECT_EQ(v.status, 2);
    EXPECT_TRUE(v.crcMatches);
    EXPECT_FALSE(v.Confirmed());

    Bytes badCrc = good;
    badCrc[6] ^= 0x01;
    EXPECT_FALSE(JudgeReply(request, badCrc).crcMatches);

    const Bytes badEcho = WithCrc({2, 0x51, 0x00, 0x00, 0x00});
    EXPECT_FALSE(JudgeReply(request, badEcho).echoMatches);

    const Bytes nothing(7, 0);  // no reply at all: the buffer stays zero
    EXPECT_FALSE(JudgeReply(request, nothing).Confirmed());
}

TEST(HmiReplies, TargetCodeTexts) {
    EXPECT_EQ(TargetCodeMessage(2).value(), "Password Verification Failed!");
    EXPECT_EQ(TargetCodeMessage(8).value(), "Could not find Recipe File for Download!");
    EXPECT_FALSE(TargetCodeMessage(0).has_value());
    EXPECT_FALSE(TargetCodeMessage(9).has_value());
    EXPECT_FALSE(TargetCodeMessage(255).has_value());
}

TEST(HmiPackets, CountRoundsUp) {
    EXPECT_EQ(PacketCount(512, 256), 2U);
    EXPECT_EQ(PacketCount(513, 256), 3U);
    EXPECT_EQ(PacketCount(0, 256), 0U);
    EXPECT_EQ(PacketCount(1, 0), 0U);
}

}  // namespace
}  // namespace tarvex::hmi
