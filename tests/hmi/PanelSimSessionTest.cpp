// The simulated panel's protocol logic, driven byte by byte without a pseudo-terminal: frame
// splitting, the item state machine, the checks of the file-information block and the faults.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "panel-sim/FaultPlan.h"
#include "panel-sim/FrameSplitter.h"
#include "panel-sim/PanelSession.h"
#include "panel-sim/Protocol.h"
#include "panel-sim/SessionReport.h"
#include "support/HandFrames.h"

namespace tarvex::panelsim {
namespace {

using test::BlockFor;
using test::Bytes;
using test::CrcGood;
using test::HandBlock;
using test::InfoBlock;
using test::RequestFrame;

Bytes Download(std::uint8_t itemCode, std::optional<std::uint8_t> link = std::nullopt,
               std::uint8_t address = 1) {
    return RequestFrame(address, kLetterCommand, itemCode, link ? Bytes{*link} : Bytes{});
}
Bytes Over() {
    return RequestFrame(1, kLetterCommand, 0x0200);
}
Bytes Cancel() {
    return RequestFrame(1, kLetterCommand, 0x0300);
}

Bytes Info(std::uint8_t itemCode, const HandBlock& b) {
    return RequestFrame(1, kLetterFileInfo, itemCode, InfoBlock(b));
}

Bytes Data(std::uint16_t number, Bytes payload) {
    return RequestFrame(1, kLetterData, number, payload);
}

// The padded packets of an item, as the tool cuts them.
std::vector<Bytes> Packets(const Bytes& data, std::size_t packetSize) {
    std::vector<Bytes> packets;
    for (std::size_t at = 0; at < data.size(); at += packetSize) {
        Bytes p(data.begin() + static_cast<std::ptrdiff_t>(at),
                data.begin() + static_cast<std::ptrdiff_t>(std::min(at + packetSize, data.size())));
        p.resize(packetSize, 0);
        packets.push_back(p);
    }
    return packets;
}

// Everything the session makes of the bytes.
std::vector<Step> Feed(PanelSession& session, const Bytes& bytes, bool quiet = false) {
    session.Receive(bytes);
    std::vector<Step> steps;
    while (auto step = session.Next(quiet)) {
        steps.push_back(std::move(*step));
    }
    return steps;
}

// Sends one frame and returns the panel's answer to it; fails unless exactly that came back.
Step Exchange(PanelSession& session, const Bytes& frame) {
    auto steps = Feed(session, frame);
    EXPECT_EQ(steps.size(), 1u);
    if (steps.empty()) {
        return Step{};
    }
    EXPECT_EQ(steps[0].kind, SplitKind::Frame);
    EXPECT_EQ(steps[0].bytes, frame);
    return steps[0];
}

std::uint8_t StatusOf(PanelSession& session, const Bytes& frame) {
    const Step step = Exchange(session, frame);
    EXPECT_TRUE(step.reply.has_value());
    return step.reply ? (*step.reply)[4] : 0xFF;
}

Bytes Iota(std::size_t size, std::uint8_t first = 1) {
    Bytes data(size);
    for (std::size_t i = 0; i < size; ++i) {
        data[i] = static_cast<std::uint8_t>(first + i * 7);
    }
    return data;
}

using Statuses = std::vector<std::uint8_t>;

// Opens an item, describes it with `b` and sends the first `packets` of its packets (all unless
// given); returns the status of every reply.
Statuses SendItem(PanelSession& session, std::uint8_t itemCode, const HandBlock& b,
                  std::size_t packets = SIZE_MAX) {
    Statuses statuses{StatusOf(session, Download(itemCode)), StatusOf(session, Info(itemCode, b))};
    const std::vector<Bytes> all = Packets(b.data, b.packetSize);
    for (std::size_t n = 0; n < all.size() && n < packets; ++n) {
        statuses.push_back(StatusOf(session, Data(static_cast<std::uint16_t>(n), all[n])));
    }
    return statuses;
}

// --- Frame splitting --------------------------------------------------------------------------

TEST(PanelSimSplitter, CommandLengthIsDecidedByTheCrc) {
    // Every Download with a link byte that the tool can send must be cut at 7 bytes, for any
    // address: a 6-byte reading of it would answer the wrong frame.
    for (int address = 0; address < 256; ++address) {
        for (std::uint8_t code = 0; code < 8; ++code) {
            for (std::uint8_t link = 0; link < 2; ++link) {
                FrameSplitter splitter(static_cast<std::uint8_t>(address));
                const Bytes frame = Download(code, link, static_cast<std::uint8_t>(address));
                const Bytes over =
                    RequestFrame(static_cast<std::uint8_t>(address), kLetterCommand, 0x200);
                Bytes stream = frame;
                stream.insert(stream.end(), over.begin(), over.end());
                splitter.Append(stream);
                auto first = splitter.Next(false);
                ASSERT_TRUE(first);
                ASSERT_EQ(first->bytes, frame) << "address " << address << " code " << int(code);
                auto second = splitter.Next(false);
                ASSERT_TRUE(second);
                EXPECT_EQ(second->bytes, over);
                EXPECT_FALSE(splitter.Next(false));
            }
        }
    }
}

TEST(PanelSimSplitter, SevenByteCommandWaitsForItsLastByte) {
    FrameSplitter splitter(1);
    const Bytes frame = Download(0, 1);
    for (std::size_t i = 0; i + 1 < frame.size(); ++i) {
        splitter.Append(Bytes{frame[i]});
        EXPECT_FALSE(splitter.Next(false)) << "after byte " << i;
    }
    splitter.Append(Bytes{frame.back()});
    auto result = splitter.Next(false);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->kind, SplitKind::Frame);
    EXPECT_EQ(result->bytes, frame);
}

TEST(PanelSimSplitter, SixBadBytesAreGivenUpOnlyWhenTheLineIsQuiet) {
    FrameSplitter splitter(1);
    Bytes frame = Over();
    frame[5] ^= 0x40;
    splitter.Append(frame);
    EXPECT_FALSE(splitter.Next(false));  // a 7th byte could still make it a frame
    auto result = splitter.Next(true);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->kind, SplitKind::BadCrc);
    while (auto rest = splitter.Next(true)) {
        EXPECT_NE(rest->kind, SplitKind::Frame);
    }
    EXPECT_EQ(splitter.buffered(), 0u);
}

TEST(PanelSimSplitter, DataFramesAreAsLongAsTheLastPacketSize) {
    FrameSplitter splitter(1);
    splitter.SetPacketSize(3);
    const Bytes small = Data(0, {1, 2, 3});
    splitter.Append(small);
    auto result = splitter.Next(false);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->bytes, small);

    splitter.SetPacketSize(8);
    const Bytes big = Data(1, Iota(8));
    splitter.Append(Bytes(big.begin(), big.end() - 1));
    EXPECT_FALSE(splitter.Next(false));
    splitter.Append(Bytes{big.back()});
    result = splitter.Next(false);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->bytes, big);
}

TEST(PanelSimSplitter, StalledStartIsDroppedWhenTheLineGoesQuiet) {
    // A stray "address, R" waits for 54 bytes and holds up the real frame behind it.
    FrameSplitter splitter(1);
    Bytes stream{0x01, kLetterFileInfo};
    const Bytes frame = Over();
    stream.insert(stream.end(), frame.begin(), frame.end());
    splitter.Append(stream);
    EXPECT_FALSE(splitter.Next(false));
    auto result = splitter.Next(true);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->kind, SplitKind::Truncated);
    result = splitter.Next(true);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->kind, SplitKind::Garbage);
    result = splitter.Next(true);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->kind, SplitKind::Frame);
    EXPECT_EQ(result->bytes, frame);
}

// --- Garbage, other addresses, bad checksums --------------------------------------------------

TEST(PanelSimSession, ResynchronisesBehindNoiseAndBadFrames) {
    PanelSession session(PanelConfig{});
    Bytes broken = Download(0);
    broken[2] ^= 0x01;  // damaged on the line: the CRC no longer checks
    Bytes stream{0x00, 0xFF, 0x13, 0x37};
    stream.insert(stream.end(), broken.begin(), broken.end());
    const Bytes good = Download(4);
    stream.insert(stream.end(), good.begin(), good.end());

    const auto steps = Feed(session, stream);
    std::vector<Step> frames;
    for (const Step& s : steps) {
        EXPECT_FALSE(s.reply.has_value() && s.kind != SplitKind::Frame);
        if (s.kind == SplitKind::Frame) {
            frames.push_back(s);
        }
    }
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].bytes, good);
    ASSERT_TRUE(frames[0].reply);
    EXPECT_EQ((*frames[0].reply)[4], kStatusAccepted);
    EXPECT_GE(session.stats().badCrcFrames, 1u);
    EXPECT_GE(session.stats().garbageBytes, 4u);
    EXPECT_EQ(session.stats().framesReceived, 1u);
    ASSERT_EQ(session.items().size(), 1u);
    EXPECT_EQ(session.items()[0].itemCode, 4);
}

TEST(PanelSimSession, FramesForAnotherAddressAreIgnored) {
    PanelConfig config;
    config.address = 5;
    PanelSession session(config);
    auto steps = Feed(session, Download(0, std::nullopt, 1));
    ASSERT_EQ(steps.size(), 1u);
    EXPECT_EQ(steps[0].kind, SplitKind::ForeignFrame);
    EXPECT_FALSE(steps[0].reply);
    EXPECT_EQ(session.stats().ignoredFrames, 1u);
    EXPECT_TRUE(session.items().empty());

    const Step answered = Exchange(session, Download(0, std::nullopt, 5));
    ASSERT_TRUE(answered.reply);
    EXPECT_EQ((*answered.reply)[0], 5);
    EXPECT_EQ(session.stats().framesReceived, 1u);
}

// --- One item from end to end -----------------------------------------------------------------

TEST(PanelSimSession, ItemIsReceivedWithPaddingCutAndSumChecked) {
    PanelSession session(PanelConfig{});
    const Bytes data = Iota(2 * 4 + 1);  // two full packets and one byte
    Step open = Exchange(session, Download(0, 1));
    ASSERT_TRUE(open.reply);
    EXPECT_EQ(*open.reply, BuildReply(Download(0, 1), 0));
    EXPECT_TRUE(CrcGood(*open.reply));

    const HandBlock b = BlockFor(data, 4);
    const Step info = Exchange(session, Info(0, b));
    ASSERT_TRUE(info.reply);
    EXPECT_EQ((*info.reply)[1], kLetterFileInfo);
    EXPECT_EQ((*info.reply)[4], kStatusAccepted);

    const auto packets = Packets(data, 4);
    ASSERT_EQ(packets.size(), 3u);
    for (std::uint16_t i = 0; i < 3; ++i) {
        const Step step = Exchange(session, Data(i, packets[i]));
        ASSERT_TRUE(step.reply);
        EXPECT_EQ((*step.reply)[2], i);
        EXPECT_EQ((*step.reply)[4], kStatusAccepted);
        EXPECT_EQ(step.itemsToWrite.empty(), i < 2) << "files are written when the item is whole";
    }

    const ItemRecord& item = session.item(1);
    EXPECT_EQ(item.Kind(), "application");
    EXPECT_EQ(item.linkByte, std::optional<std::uint8_t>(1));
    EXPECT_TRUE(item.complete);
    EXPECT_EQ(item.data, data);  // the zero padding of the last packet is not kept
    EXPECT_EQ(item.packetsReceived, 3u);
    EXPECT_TRUE(item.ByteSumOk());
    EXPECT_EQ(item.info.NameText(), "Panel1");
    EXPECT_EQ(item.info.bootloaderNumber, 3);
    EXPECT_EQ(item.info.firmwareNumber, 7);
    EXPECT_EQ(item.FileStem(), "01-application-Panel1");

    const Step over = Exchange(session, Over());
    EXPECT_TRUE(over.endsSession);
    EXPECT_TRUE(session.stats().overReceived);
}

TEST(PanelSimSession, ResentPacketOverwritesInsteadOfAppending) {
    PanelSession session(PanelConfig{});
    const Bytes data = Iota(8);
    ASSERT_EQ(SendItem(session, 4, BlockFor(data, 4), 0), (Statuses{0, 0}));
    ASSERT_EQ(StatusOf(session, Data(0, {9, 9, 9, 9})), 0);
    ASSERT_EQ(StatusOf(session, Data(0, {data[0], data[1], data[2], data[3]})), 0);
    EXPECT_EQ(session.item(1).packetsReceived, 1u);
    EXPECT_FALSE(session.item(1).complete);

    ASSERT_EQ(StatusOf(session, Data(1, {data[4], data[5], data[6], data[7]})), 0);
    EXPECT_TRUE(session.item(1).complete);
    // The tool resends the last packet when its reply was lost: same bytes, nothing to rewrite.
    const Step again = Exchange(session, Data(1, {data[4], data[5], data[6], data[7]}));
    EXPECT_EQ((*again.reply)[4], kStatusAccepted);
    EXPECT_TRUE(again.itemsToWrite.empty());
    EXPECT_EQ(session.item(1).data, data);
    EXPECT_EQ(session.item(1).packetsReceived, 2u);
    EXPECT_TRUE(session.item(1).ByteSumOk());
}

TEST(PanelSimSession, ByteSumMismatchIsRecordedNotRefused) {
    PanelSession session(PanelConfig{});
    const Bytes data = Iota(6);
    HandBlock b = BlockFor(data, 4);
    b.byteSum = static_cast<std::uint16_t>(ByteSum16(data) + 1);
    ASSERT_EQ(SendItem(session, 0, b), (Statuses{0, 0, kStatusAccepted, kStatusAccepted}));
    EXPECT_TRUE(session.item(1).complete);
    EXPECT_EQ(session.item(1).ReceivedByteSum(), ByteSum16(data));
    EXPECT_FALSE(session.item(1).ByteSumOk());
    EXPECT_EQ(SessionReport(session)["items"][0]["byte_sum_ok"], false);
}

TEST(PanelSimSession, EmptyItemIsCompleteWithItsDescription) {
    PanelSession session(PanelConfig{});
    ASSERT_EQ(StatusOf(session, Download(3)), 0);
    const Step info = Exchange(session, Info(3, BlockFor({}, 64)));
    EXPECT_EQ((*info.reply)[4], kStatusAccepted);
    EXPECT_EQ(info.itemsToWrite, std::vector<std::size_t>{1});
    EXPECT_TRUE(session.item(1).complete);
    EXPECT_EQ(StatusOf(session, Data(0, Bytes(64, 0))), kStatusInvalidCommand);
}

TEST(PanelSimSession, PacketBeyondTheItemIsRefused) {
    PanelSession session(PanelConfig{});
    ASSERT_EQ(SendItem(session, 0, BlockFor(Iota(8), 4), 0), (Statuses{0, 0}));
    EXPECT_EQ(StatusOf(session, Data(2, Bytes(4, 1))), kStatusInvalidCommand);
    EXPECT_EQ(session.item(1).packetsReceived, 0u);
}

// --- Checks of the file-information block -----------------------------------------------------

TEST(PanelSimSession, BlockIsCheckedAgainstThePanel) {
    PanelConfig config;
    config.productCode = 0x1234;
    config.password = 4321;
    config.maxItemSize = 100;
    PanelSession session(config);
    ASSERT_EQ(StatusOf(session, Download(0)), 0);

    HandBlock b = BlockFor(Iota(10), 4);
    b.productCode = 0x1235;
    b.password = 1;  // product is looked at first
    EXPECT_EQ(StatusOf(session, Info(0, b)), kStatusProductIdFailed);
    b.productCode = 0x1234;
    EXPECT_EQ(StatusOf(session, Info(0, b)), kStatusPasswordFailed);
    b.password = 4321;
    b.size = 101;
    EXPECT_EQ(StatusOf(session, Info(0, b)), kStatusSizeExceeded);
    EXPECT_FALSE(session.item(1).described);
    EXPECT_EQ(session.item(1).infoStatus, std::optional<std::uint8_t>(kStatusSizeExceeded));
    b.size = 100;
    EXPECT_EQ(StatusOf(session, Info(0, b)), kStatusAccepted);
    EXPECT_TRUE(session.item(1).described);
}

TEST(PanelSimSession, PanelWithoutSettingsAcceptsAnyBlock) {
    PanelSession session(PanelConfig{});
    HandBlock b = BlockFor(Iota(10), 4);
    b.productCode = 0xFFFF;
    b.password = 0xBEEF;
    b.size = 0xFFFFFFFF;  // nothing is reserved for the announced size
    ASSERT_EQ(StatusOf(session, Download(0)), 0);
    EXPECT_EQ(StatusOf(session, Info(0, b)), kStatusAccepted);
    EXPECT_TRUE(session.item(1).data.empty());
}

TEST(PanelSimSession, RequestsOutOfPlaceAreInvalid) {
    PanelSession session(PanelConfig{});
    const HandBlock b = BlockFor(Iota(8), 4);
    EXPECT_EQ(StatusOf(session, Info(0, b)), kStatusInvalidCommand);                // no item
    EXPECT_EQ(StatusOf(session, Data(0, Bytes(4, 0))), kStatusInvalidCommand);      // no item
    EXPECT_EQ(StatusOf(session, RequestFrame(1, kLetterCommand, 0x0100)), 1);       // upload
    EXPECT_EQ(StatusOf(session, RequestFrame(1, kLetterCommand, 0x0700)), 1);       // no action 7
    EXPECT_EQ(StatusOf(session, RequestFrame(1, kLetterCommand, 0x0200, {1})), 1);  // Over + link
    EXPECT_EQ(StatusOf(session, Download(0, 2)), kStatusInvalidCommand);            // no link 2
    EXPECT_TRUE(session.items().empty());

    ASSERT_EQ(StatusOf(session, Download(2)), 0);
    EXPECT_EQ(StatusOf(session, Data(0, Bytes(4, 0))), kStatusInvalidCommand);  // not described
    EXPECT_EQ(StatusOf(session, Info(3, b)), kStatusInvalidCommand);  // describes another item
    EXPECT_EQ(StatusOf(session, Info(2, b)), kStatusAccepted);
}

// --- Resends, cancel, over --------------------------------------------------------------------

TEST(PanelSimSession, ResentDownloadIsTheSameItemButTheNextRecipeIsNew) {
    PanelSession session(PanelConfig{});
    ASSERT_EQ(StatusOf(session, Download(4)), 0);
    SendItem(session, 4, BlockFor({}, 8));  // its reply was lost, so the tool opens the item again
    ASSERT_EQ(session.items().size(), 1u);
    EXPECT_TRUE(session.item(1).complete);
    SendItem(session, 4, BlockFor(Iota(3), 8));  // the next recipe has the same item code
    ASSERT_EQ(session.items().size(), 2u);
    EXPECT_TRUE(session.item(1).ended);
    EXPECT_TRUE(session.item(2).complete);
    EXPECT_EQ(session.item(2).data, Iota(3));
    // A Download with another link byte is another item too.
    ASSERT_EQ(StatusOf(session, Download(0, 0)), 0);
    ASSERT_EQ(StatusOf(session, Download(0, 1)), 0);
    EXPECT_EQ(session.items().size(), 4u);
}

TEST(PanelSimSession, CancelAbandonsTheItemInProgress) {
    PanelSession session(PanelConfig{});
    const Bytes data = Iota(12);
    ASSERT_EQ(SendItem(session, 0, BlockFor(data, 4), 1), (Statuses{0, 0, 0}));

    const Step cancel = Exchange(session, Cancel());
    EXPECT_EQ((*cancel.reply)[4], kStatusAccepted);
    EXPECT_EQ(cancel.itemsToWrite, std::vector<std::size_t>{1});
    const ItemRecord& item = session.item(1);
    EXPECT_TRUE(item.cancelled);
    EXPECT_FALSE(item.complete);
    EXPECT_EQ(item.data, Bytes(data.begin(), data.begin() + 4));
    EXPECT_EQ(StatusOf(session, Data(1, Packets(data, 4)[1])), kStatusInvalidCommand);

    // Cancel again (a lost reply) changes nothing; nor does a Cancel with nothing open.
    EXPECT_EQ(StatusOf(session, Cancel()), kStatusAccepted);
    EXPECT_EQ(session.items().size(), 1u);
    EXPECT_FALSE(session.stats().overReceived);
}

TEST(PanelSimSession, OverEndsTheSessionAndDownloadStartsTheNext) {
    PanelSession session(PanelConfig{});
    const Bytes data = Iota(8);
    ASSERT_EQ(SendItem(session, 2, BlockFor(data, 4), 1), (Statuses{0, 0, 0}));
    const Step over = Exchange(session, Over());
    EXPECT_TRUE(over.endsSession);
    EXPECT_EQ(over.itemsToWrite, std::vector<std::size_t>{1});  // kept as far as it got
    EXPECT_FALSE(session.item(1).complete);
    EXPECT_FALSE(session.item(1).cancelled);
    EXPECT_TRUE(Exchange(session, Over()).endsSession);  // resent: still one session
    EXPECT_EQ(session.stats().sessionsOver, 1u);

    SendItem(session, 0, BlockFor(data, 4));
    ASSERT_EQ(session.items().size(), 2u);
    EXPECT_EQ(session.item(1).session, 1u);
    EXPECT_EQ(session.item(2).session, 2u);
    Exchange(session, Over());
    EXPECT_EQ(session.stats().sessionsOver, 2u);
}

TEST(PanelSimSession, FinishKeepsTheUnfinishedItem) {
    PanelSession session(PanelConfig{});
    ASSERT_EQ(SendItem(session, 0, BlockFor(Iota(8), 4), 0), (Statuses{0, 0}));
    EXPECT_EQ(session.Finish(), std::vector<std::size_t>{1});
    EXPECT_TRUE(session.item(1).ended);
    EXPECT_TRUE(session.Finish().empty());
}

TEST(PanelSimSession, DelaysForThinkingAndFlashErase) {
    PanelConfig config;
    config.replyDelayMs = 5;
    config.infoDelayMs = 300;
    PanelSession session(config);
    const HandBlock b = BlockFor(Iota(4), 4);
    EXPECT_EQ(Exchange(session, Download(5)).delayMs, 5u);
    EXPECT_EQ(Exchange(session, Info(5, b)).delayMs, 305u);  // bitmap
    SendItem(session, 7, BlockFor({}, 4));
    EXPECT_EQ(Exchange(session, Download(4)).delayMs, 5u);
    EXPECT_EQ(Exchange(session, Info(4, b)).delayMs, 5u);  // recipes need no erase
}

TEST(PanelSimSession, PacketNumbersWrapPast65535) {
    EXPECT_EQ(ResolvePacketNumber(0, std::nullopt, 3), std::optional<std::uint64_t>(0));
    EXPECT_EQ(ResolvePacketNumber(1, std::uint64_t{1}, 3), std::optional<std::uint64_t>(1));
    EXPECT_EQ(ResolvePacketNumber(3, std::uint64_t{1}, 3), std::nullopt);
    EXPECT_EQ(ResolvePacketNumber(0, std::uint64_t{65535}, 70000),
              std::optional<std::uint64_t>(65536));
    EXPECT_EQ(ResolvePacketNumber(65535, std::uint64_t{65536}, 70000),
              std::optional<std::uint64_t>(65535));
    EXPECT_EQ(ResolvePacketNumber(0, std::uint64_t{65536}, 70000),
              std::optional<std::uint64_t>(65536));

    // A whole item of more than 65536 packets of one byte.
    PanelSession session(PanelConfig{});
    const Bytes data = Iota(65536 + 3);
    ASSERT_EQ(SendItem(session, 0, BlockFor(data, 1), 0), (Statuses{0, 0}));
    Bytes stream;
    for (std::size_t i = 0; i < data.size(); ++i) {
        const Bytes frame = Data(static_cast<std::uint16_t>(i), {data[i]});
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    const auto steps = Feed(session, stream);
    ASSERT_EQ(steps.size(), data.size());
    EXPECT_TRUE(session.item(1).complete);
    EXPECT_EQ(session.item(1).data, data);
}

// --- Faults -----------------------------------------------------------------------------------

FaultPlan Plan(std::initializer_list<const char*> specs) {
    std::vector<FaultRule> rules;
    for (const char* spec : specs) {
        std::string error;
        auto rule = ParseFaultRule(spec, error);
        EXPECT_TRUE(rule) << spec << ": " << error;
        if (rule) {
            rules.push_back(*rule);
        }
    }
    return FaultPlan(std::move(rules));
}

TEST(PanelSimFaults, SpecsAreParsedStrictly) {
    const char* good[] = {"frame=1:no-reply", "item=any,phase=over:bad-crc",
                          "item=recipe,phase=data,packet=0,count=3:status=8",
                          "item=font,phase=info,count=always:delay=1500",
                          "phase=cancel,item=bitmap:close"};
    for (const char* spec : good) {
        std::string error;
        EXPECT_TRUE(ParseFaultRule(spec, error)) << spec << ": " << error;
    }
    const char* bad[] = {"no-reply",
                         "frame=0:no-reply",
                         "frame=2,count=3:no-reply",
                         "item=application:no-reply",
                         "item=image,phase=open:no-reply",
                         "item=any,phase=start:no-reply",
                         "item=any,phase=open,packet=1:no-reply",
                         "item=any,phase=data,count=0:no-reply",
                         "item=any,phase=data:status=256",
                         "item=any,phase=data:status=",
                         "item=any,phase=data:delay=-1",
                         "item=any,phase=data:explode",
                         "frame=x:close"};
    for (const char* spec : bad) {
        std::string error;
        EXPECT_FALSE(ParseFaultRule(spec, error)) << spec;
        EXPECT_FALSE(error.empty()) << spec;
    }
}

TEST(PanelSimFaults, FrameNumberCountsEveryRequest) {
    PanelSession session(PanelConfig{}, Plan({"frame=3:no-reply"}));
    const Bytes data = Iota(8);
    EXPECT_TRUE(Exchange(session, Download(0)).reply);
    EXPECT_TRUE(Exchange(session, Info(0, BlockFor(data, 4))).reply);
    const Step third = Exchange(session, Data(0, Packets(data, 4)[0]));
    EXPECT_FALSE(third.reply);
    ASSERT_EQ(third.faults.size(), 1u);
    EXPECT_EQ(third.faults[0].rule, "frame=3:no-reply");
    // The panel took the packet in; only its reply was lost, and the resend is harmless.
    EXPECT_EQ(session.item(1).packetsReceived, 1u);
    EXPECT_TRUE(Exchange(session, Data(0, Packets(data, 4)[0])).reply);
    EXPECT_EQ(session.item(1).packetsReceived, 1u);
    EXPECT_EQ(session.stats().faultsInjected, 1u);
}

TEST(PanelSimFaults, ForcedStatusRefusesTheFrameAsOftenAsCounted) {
    PanelSession session(PanelConfig{}, Plan({"item=application,phase=open,count=2:status=2"}));
    EXPECT_EQ(StatusOf(session, Download(2)), 0);  // a bitmap is not concerned
    EXPECT_EQ(StatusOf(session, Download(0)), kStatusPasswordFailed);
    EXPECT_EQ(StatusOf(session, Download(0)), kStatusPasswordFailed);
    EXPECT_EQ(session.items().size(), 1u);  // the refused opening left no item
    EXPECT_EQ(StatusOf(session, Download(0)), kStatusAccepted);
    EXPECT_EQ(session.items().size(), 2u);
}

TEST(PanelSimFaults, AlwaysFiresOnEveryMatch) {
    PanelSession session(PanelConfig{}, Plan({"item=any,phase=over,count=always:status=5"}));
    for (int i = 0; i < 4; ++i) {
        const Step step = Exchange(session, Over());
        EXPECT_EQ((*step.reply)[4], 5);
        EXPECT_FALSE(step.endsSession);
    }
    EXPECT_FALSE(session.stats().overReceived);
}

TEST(PanelSimFaults, PacketRuleHitsOnlyThatPacketOfThatItem) {
    PanelSession session(PanelConfig{}, Plan({"item=bitmap,phase=data,packet=1:bad-crc",
                                              "item=font,phase=data,packet=0:bad-echo"}));
    const Bytes data = Iota(8);
    const Bytes frame1 = Data(1, Packets(data, 4)[1]);
    SendItem(session, 0, BlockFor(data, 4));  // the application's packet 1 is untouched
    ASSERT_EQ(SendItem(session, 2, BlockFor(data, 4), 1), (Statuses{0, 0, 0}));
    const Step hit = Exchange(session, frame1);
    ASSERT_TRUE(hit.reply);
    EXPECT_FALSE(CrcGood(*hit.reply));
    EXPECT_TRUE(std::equal(frame1.begin(), frame1.begin() + 4, hit.reply->begin()));
    EXPECT_TRUE(session.item(2).complete);                   // taken in all the same
    EXPECT_TRUE(CrcGood(*Exchange(session, frame1).reply));  // count used up

    ASSERT_EQ(SendItem(session, 3, BlockFor(data, 4), 0), (Statuses{0, 0}));
    const Bytes font0 = Data(0, Packets(data, 4)[0]);
    const Step echo = Exchange(session, font0);
    ASSERT_TRUE(echo.reply);
    EXPECT_TRUE(CrcGood(*echo.reply));
    EXPECT_FALSE(std::equal(font0.begin(), font0.begin() + 4, echo.reply->begin()));
}

TEST(PanelSimFaults, CancelPhaseBelongsToTheItemItEnds) {
    PanelSession session(PanelConfig{}, Plan({"item=recipe,phase=cancel:delay=40"}));
    EXPECT_EQ(Exchange(session, Cancel()).delayMs, 0u);  // nothing running
    ASSERT_EQ(StatusOf(session, Download(4)), 0);
    const Step step = Exchange(session, Cancel());
    EXPECT_EQ(step.delayMs, 40u);
    EXPECT_TRUE(session.item(1).cancelled);
}

TEST(PanelSimFaults, CloseDropsTheLineWithoutAnswer) {
    PanelSession session(PanelConfig{}, Plan({"item=any,phase=info:close"}));
    ASSERT_EQ(StatusOf(session, Download(0)), 0);
    const Step step = Exchange(session, Info(0, BlockFor(Iota(4), 4)));
    EXPECT_TRUE(step.closeLine);
    EXPECT_FALSE(step.reply);
    EXPECT_FALSE(session.item(1).described);
}

TEST(PanelSimFaults, DamagedOverReplyDoesNotEndTheRun) {
    PanelSession session(PanelConfig{}, Plan({"item=any,phase=over:bad-crc"}));
    const Step damaged = Exchange(session, Over());
    EXPECT_FALSE(damaged.endsSession);  // the tool will send Over again
    EXPECT_TRUE(Exchange(session, Over()).endsSession);
}

// --- Report -----------------------------------------------------------------------------------

TEST(PanelSimReport, SessionJsonDescribesItemsAndCounters) {
    PanelSession session(PanelConfig{});
    const Bytes data = Iota(5);
    ASSERT_EQ(StatusOf(session, Download(0, 0)), 0);
    HandBlock b = BlockFor(data, 4);
    b.name = "A/b\xE9";
    ASSERT_EQ(StatusOf(session, Info(0, b)), 0);
    for (std::uint16_t i = 0; i < 2; ++i) {
        ASSERT_EQ(StatusOf(session, Data(i, Packets(data, 4)[i])), 0);
    }
    SendItem(session, 5, BlockFor({}, 4));
    Feed(session, {0x77}, true);
    Exchange(session, Over());
    session.NoteReplySent();

    const nlohmann::json report = SessionReport(session);
    ASSERT_EQ(report["items"].size(), 2u);
    const auto& app = report["items"][0];
    EXPECT_EQ(app["index"], 1);
    EXPECT_EQ(app["kind"], "application");
    EXPECT_EQ(app["item_code"], 0);
    EXPECT_EQ(app["name"], "A/b\xC3\xA9");  // Latin-1 shown as UTF-8
    EXPECT_EQ(app["files"], "01-application-A_b_");
    EXPECT_EQ(app["size"], 5);
    EXPECT_EQ(app["packet_size"], 4);
    EXPECT_EQ(app["packets_received"], 2);
    EXPECT_EQ(app["byte_sum"], ByteSum16(data));
    EXPECT_EQ(app["byte_sum_ok"], true);
    EXPECT_EQ(app["product_code"], 0x1234);
    EXPECT_EQ(app["password"], 4321);
    EXPECT_EQ(app["bootloader_number"], 3);
    EXPECT_EQ(app["firmware_number"], 7);
    EXPECT_EQ(app["link_byte"], 0);
    EXPECT_EQ(app["complete"], true);
    EXPECT_EQ(app["cancelled"], false);
    const auto& bitmap = report["items"][1];
    EXPECT_EQ(bitmap["kind"], "bitmap");
    EXPECT_EQ(bitmap["item_code"], 5);
    EXPECT_TRUE(bitmap["link_byte"].is_null());
    EXPECT_EQ(report["frames_received"], 7);
    EXPECT_EQ(report["replies_sent"], 1);
    EXPECT_EQ(report["over_received"], true);
    EXPECT_EQ(report["bad_crc_frames"], 0);
    EXPECT_EQ(report["ignored_frames"], 0);
    EXPECT_EQ(report["garbage_bytes"], 1);
    EXPECT_EQ(nlohmann::json::parse(SessionReportText(session)), report);
}

TEST(PanelSimReport, FileNamesAreSafe) {
    EXPECT_EQ(SafeFileNamePart("Recipe_1.v2-a"), "Recipe_1.v2-a");
    EXPECT_EQ(SafeFileNamePart("../etc/passwd"), ".._etc_passwd");
    EXPECT_EQ(SafeFileNamePart(std::string("a\0b c", 5)), "a_b_c");
    EXPECT_EQ(SafeFileNamePart(""), "unnamed");
    EXPECT_EQ(ItemKindName(7), "font");
    EXPECT_EQ(ItemKindName(1), "item1");
}

}  // namespace
}  // namespace tarvex::panelsim
