// The item transfers as the panel sees them: a real form presses Download, the frames go over a
// pseudo-terminal to the simulated panel (or to a panel the test plays itself), and the test
// looks at what the panel stored, at every frame written and at the form afterwards.
#include <gtest/gtest.h>
#include <termios.h>

#include <atomic>
#include <chrono>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "platform/Time.h"
#include "support/DownloadFixture.h"
#include "support/HandFrames.h"
#include "support/NamedCases.h"
#include "support/PtyPair.h"

namespace tarvex::test {
namespace {

using test::PrintTo;

using namespace std::chrono_literals;

class HmiTransfer : public DownloadFixture {};

// One item as the panel must receive it.
struct SentItem {
    std::uint16_t code;
    std::string blockName;
    Bytes data;
};

// Checks one file-information block against the item; the clock fields only for plausibility.
void ExpectBlock(const Bytes& block, const SentItem& item, std::uint16_t packetSize,
                 const platform::UtcDate& dayBefore, const platform::UtcDate& dayAfter) {
    ASSERT_EQ(block.size(), 48u);
    Bytes name(block.begin(), block.begin() + 16);
    Bytes expectedName(item.blockName.begin(), item.blockName.end());
    expectedName.resize(16, 0);
    EXPECT_EQ(name, expectedName) << item.blockName;
    EXPECT_EQ(GetLe16(block, 16), kPanelProductCode);
    EXPECT_EQ(GetLe16(block, 18), 4321);
    const auto sameDay = [&](const platform::UtcDate& d) {
        return GetLe16(block, 20) == d.year && block[22] == d.month && block[23] == d.day;
    };
    EXPECT_TRUE(sameDay(dayBefore) || sameDay(dayAfter));
    EXPECT_LT(block[24], 24);
    EXPECT_LT(block[25], 60);
    EXPECT_EQ(GetLe16(block, 26), packetSize);
    EXPECT_EQ(GetLe16(block, 28) | (GetLe16(block, 30) << 16), item.data.size());
    EXPECT_EQ(GetLe16(block, 32), Sum16(item.data));
    EXPECT_EQ(block[34], 0x00);
    EXPECT_EQ(block[35], 0x01);
    EXPECT_EQ(block[36], 3);  // "V1.3-7"
    EXPECT_EQ(block[37], 9);  // "F2.9"
    EXPECT_EQ(Bytes(block.begin() + 38, block.end()), Bytes(10, 0));
}

// Everything at once, as a production line loads a panel: all four items with several recipes
// over the USB link, with an internal HMI's item codes and a slave address other than 1.
TEST_F(HmiTransfer, AllItemsArriveByteForByteInNumberedPaddedPackets) {
    constexpr std::uint16_t S = kUsbPacketSize;
    rig.WriteDownloadData("INTERNAL_MMI");
    const ContainerParts parts{.productCode = kPanelProductCode,
                               .application = PatternBytes(3 * S + 5, 1),
                               .font = PatternBytes(2 * S + 1, 2),
                               .bitmap = PatternBytes(2 * S, 3),
                               .recipes = {{"Speed.bin", PatternBytes(S + 8, 4)},
                                           {"Empty.bin", {}},
                                           {"Mix.bin.bin", PatternBytes(7, 5)}}};
    rig.WriteContainer(parts);
    rig.StartPanel({"--slave-id", "17"});
    StartForm({}, "V1.3-7", "F2.9");
    ASSERT_TRUE(form->UserSetText(form->m_editSlaveID, "17"));
    ASSERT_TRUE(form->UserClick(form->m_radUSBDownload));
    Tick({.application = true, .bitmap = true, .font = true, .recipe = true});

    // The progress bar as each reply is awaited: (position, upper bound).
    std::vector<std::pair<int, int>> bar;
    ui.onPump = [&] { bar.emplace_back(form->m_progress.GetPos(), form->m_progress.Upper()); };
    const platform::UtcDate dayBefore = platform::CurrentUtcDate();
    Download();
    const platform::UtcDate dayAfter = platform::CurrentUtcDate();

    EXPECT_EQ(Texts(), std::vector<std::string>{"Download Complete!"});
    EXPECT_EQ(form->LastDownloadOutcome(), DownloadOutcome::Complete);

    // Bitmap, Font, the recipes in table order, the Application.
    const std::vector<SentItem> items = {
        {5, "Line-7", parts.bitmap},           {7, "Line-7", parts.font},
        {4, "Speed", parts.recipes[0].data},   {4, "Empty", {}},
        {4, "Mix.bin", parts.recipes[2].data}, {0, "Line-7", parts.application}};
    const std::vector<Bytes> stored = rig.PanelFiles("bin");
    ASSERT_EQ(stored.size(), items.size());
    for (std::size_t k = 0; k < items.size(); ++k) {
        EXPECT_EQ(stored[k], items[k].data) << "item " << k;
    }

    const std::vector<WireFrame> frames = Written();
    std::size_t at = 0;
    const auto next = [&]() -> const WireFrame* {
        EXPECT_LT(at, frames.size()) << "frames end early";
        return at < frames.size() ? &frames[at++] : nullptr;
    };
    for (const WireFrame& f : frames) {
        EXPECT_EQ(f.slave, 17);
        EXPECT_TRUE(f.crcOk);
    }
    for (const SentItem& item : items) {
        SCOPED_TRACE(item.blockName);
        const WireFrame* open = next();
        ASSERT_NE(open, nullptr);
        EXPECT_EQ(open->letter, 'Q');
        EXPECT_EQ(open->parameter, item.code);
        EXPECT_EQ(open->payload, Bytes{1}) << "link byte: USB";
        const WireFrame* described = next();
        ASSERT_NE(described, nullptr);
        EXPECT_EQ(described->letter, 'R');
        EXPECT_EQ(described->parameter, item.code);
        ExpectBlock(described->payload, item, S, dayBefore, dayAfter);
        for (std::size_t number = 0; number * S < item.data.size(); ++number) {
            const WireFrame* packet = next();
            ASSERT_NE(packet, nullptr);
            EXPECT_EQ(packet->letter, 'P');
            EXPECT_EQ(packet->parameter, number);
            Bytes expected(item.data.begin() + static_cast<std::ptrdiff_t>(number * S),
                           item.data.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(
                                                   (number + 1) * S, item.data.size())));
            expected.resize(S, 0);
            EXPECT_EQ(packet->payload, expected);
        }
    }
    const WireFrame* over = next();
    ASSERT_NE(over, nullptr);
    EXPECT_EQ(over->letter, 'Q');
    EXPECT_EQ(over->parameter, kOverCode);
    EXPECT_EQ(over->size, 6u) << "Over carries no link byte";
    EXPECT_EQ(at, frames.size()) << "frames after Over";

    // One bar for the whole download: the Bitmap and the Font count their packets and four
    // more, each recipe its packets and its description, the Application its packets. The
    // Bitmap's first step is taken before the opening; the bar is full when the closing command
    // waits for its reply, and never goes back on the way.
    constexpr int kSteps = (2 + 4) + (3 + 4) + (2 + 1) + (0 + 1) + (1 + 1) + 4;
    ASSERT_FALSE(bar.empty());
    EXPECT_EQ(bar.front(), std::make_pair(1, kSteps));
    EXPECT_EQ(bar.back(), std::make_pair(kSteps, kSteps));
    for (std::size_t k = 1; k < bar.size(); ++k) {
        EXPECT_GE(bar[k].first, bar[k - 1].first) << "the bar went back at pump " << k;
        EXPECT_EQ(bar[k].second, kSteps);
    }

    // The timing log counts the bitmap's packets.
    const std::string log = ReadFileText(rig.ws / "ReadTimeDiff.csv");
    EXPECT_NE(log.find("\r\nNo of Packets,2\r\n\r\n[EOF]"), std::string::npos) << log;
    EXPECT_EQ(form->m_progress.GetPos(), 0);
}

// Each phase gives up after its own number of attempts; the rest of the item is not sent, and
// no closing command follows a failed last item.
struct LimitCase {
    const char* name;
    Ticks ticks;
    std::string fault;
    char letter;
    std::uint16_t parameter;
    int attempts;
    int framesInAll;
    std::uint8_t targetCode;
    const char* message;
};

using HmiTransferLimits = DownloadCases<LimitCase>;

TEST_P(HmiTransferLimits, StopAfterTheirAttempts) {
    const LimitCase& c = GetParam();
    rig.WriteContainer({.productCode = kPanelProductCode,
                        .application = PatternBytes(40),
                        .font = PatternBytes(40),
                        .bitmap = PatternBytes(40),
                        .recipes = {{"R1.bin", PatternBytes(40)}}});
    rig.StartPanel({"--fault", c.fault});
    StartForm();
    Tick(c.ticks);
    Download();

    EXPECT_EQ(CountWritten(c.letter, c.parameter), c.attempts);
    EXPECT_EQ(static_cast<int>(Written().size()), c.framesInAll);
    EXPECT_EQ(form->m_nTargetCode, c.targetCode);
    EXPECT_EQ(Texts(), std::vector<std::string>{c.message});
    EXPECT_EQ(CountWritten('Q', kOverCode), c.parameter == kOverCode ? c.attempts : 0);
}

constexpr char kPassword[] = "Password Verification Failed!";
constexpr char kNotSuccessful[] = "Download not successful!";
constexpr char kComplete[] = "Download Complete!";

INSTANTIATE_TEST_SUITE_P(
    Phases, HmiTransferLimits,
    ::testing::Values(
        LimitCase{"ApplicationOpening", kApplicationOnly,
                  "item=application,phase=open,count=always:status=2", 'Q', 0x0000, 3, 3, 2,
                  kPassword},
        LimitCase{"ApplicationInfo", kApplicationOnly,
                  "item=application,phase=info,count=always:bad-crc", 'R', 0x0000, 4, 5, 255,
                  kNotSuccessful},
        LimitCase{"ApplicationPacket", kApplicationOnly,
                  "item=application,phase=data,packet=1,count=always:bad-crc", 'P', 1, 3, 6, 255,
                  kNotSuccessful},
        LimitCase{"RecipeInfo", kRecipeOnly, "item=recipe,phase=info,count=always:bad-crc", 'R',
                  0x0004, 3, 4, 255, kNotSuccessful},
        LimitCase{"RecipePacket", kRecipeOnly,
                  "item=recipe,phase=data,packet=1,count=always:bad-crc", 'P', 1, 4, 7, 255,
                  kNotSuccessful},
        LimitCase{"BitmapPacket", kBitmapOnly,
                  "item=bitmap,phase=data,packet=1,count=always:bad-crc", 'P', 1, 4, 7, 255,
                  kNotSuccessful},
        // The Font's opening limit ends in the cancel procedure, which sends Cancel once.
        LimitCase{"FontOpening", kFontOnly, "item=font,phase=open,count=always:status=6", 'Q',
                  0x0003, 3, 4, 6, "Hardware version mismatch!"},
        LimitCase{"Over", kApplicationOnly, "item=application,phase=over,count=always:bad-crc", 'Q',
                  kOverCode, 3, 8, 255, kNotSuccessful}),
    CaseName());

// Presses Cancel the n-th time the transfer pumps the user interface (once per reply awaited).
void CancelAtPump(RecordingUi& ui, CTarvexDlg& form, int n) {
    ui.onPump = [&ui, &form, n] {
        if (ui.pumpCount == n) {
            EXPECT_TRUE(form.UserClick(form.m_btnCancel));
        }
    };
}

TEST_F(HmiTransfer, CancelDuringTheApplicationDataSendsCancelAndEndsTheItem) {
    rig.WriteContainer({.productCode = kPanelProductCode, .application = PatternBytes(80)});
    rig.StartPanel();
    StartForm({}, "V1.3-7", "F2.9");  // format 1: the opening carries the link byte
    Tick({});
    // Pumps: opening 1, file information 2, packet 0 is 3, packet 1 is 4.
    CancelAtPump(ui, *form, 4);
    // When the outcome is shown, the cancel procedure has already put the priority back and
    // emptied the progress bar; the sequence's own clean-up comes after the message.
    ui.onMessage = [this](const RecordedMessage&) {
        const platform::SavedPriority now = platform::SaveProcessPriority();
        EXPECT_EQ(now.policy, priorityBefore.policy);
        EXPECT_EQ(now.niceValue, priorityBefore.niceValue);
        EXPECT_EQ(form->m_progress.GetPos(), 0);
    };
    Download();

    const std::vector<WireFrame> frames = Written();
    ASSERT_GE(frames.size(), 6u);
    EXPECT_EQ(frames[0].payload, Bytes{0}) << "link byte: serial";
    // Packet 1 was confirmed before the request was seen; packet 2 goes out, then Cancel.
    EXPECT_EQ(frames[4].letter, 'P');
    EXPECT_EQ(frames[4].parameter, 2);
    for (std::size_t i = 5; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].letter, 'Q');
        EXPECT_EQ(frames[i].parameter, kCancelCode);
        EXPECT_EQ(frames[i].size, 6u) << "Cancel carries no link byte";
    }
    EXPECT_EQ(CountWritten('Q', kOverCode), 0);
    EXPECT_FALSE(Shown("Download Complete!"));
    EXPECT_EQ(form->LastDownloadOutcome(), DownloadOutcome::Cancelled);

    // The next press starts afresh and sends the whole item.
    ui.onPump = nullptr;
    ui.onMessage = nullptr;
    ui.Clear();
    Download();
    EXPECT_EQ(Texts(), std::vector<std::string>{"Download Complete!"});
    EXPECT_EQ(form->LastDownloadOutcome(), DownloadOutcome::Complete);
    EXPECT_EQ(rig.PanelFiles("bin").back(), PatternBytes(80));
}

// Cancel pressed when nothing is left to cancel: after the last packet the closing command is
// written once, and its one reply, read with the usual time-out, decides. A confirmed end is a
// complete download; any other reply is not, and neither is a last packet let pass unconfirmed.
// A panel that refuses the end with a code of its own has that code and its message reported.
struct LateCancelCase {
    const char* name;
    Ticks ticks;
    const char* fault;
    int pump;
    bool complete;
    int targetCode;  // the code the download ends with; -1: not judged here
    const char* message;
};

using HmiTransferLateCancel = DownloadCases<LateCancelCase>;

TEST_P(HmiTransferLateCancel, IsCompleteOnlyWhenThePanelConfirmedEverything) {
    const LateCancelCase& c = GetParam();
    rig.WriteContainer({.productCode = kPanelProductCode,
                        .application = PatternBytes(40),
                        .bitmap = PatternBytes(40)});
    rig.StartPanel(*c.fault ? std::vector<std::string>{"--fault", c.fault}
                            : std::vector<std::string>{});
    StartForm();
    Tick(c.ticks);
    CancelAtPump(ui, *form, c.pump);
    Download();

    EXPECT_EQ(CountWritten('Q', kCancelCode), 0);
    EXPECT_EQ(CountWritten('Q', kOverCode), 1);
    ASSERT_FALSE(line.empty());
    EXPECT_FALSE(line.back().written) << "the closing command's reply was not read";
    EXPECT_EQ(Texts(), std::vector<std::string>{c.message});
    EXPECT_EQ(form->LastDownloadOutcome(),
              c.complete ? DownloadOutcome::Complete : DownloadOutcome::Cancelled);
    if (c.targetCode >= 0) {
        EXPECT_EQ(form->m_nTargetCode, c.targetCode) << "the panel's answer to the closing command";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Clicks, HmiTransferLateCancel,
    ::testing::Values(
        // Pumps: opening, file information, packets 0, 1, 2, then Over.
        LateCancelCase{"AtTheLastPacket", kApplicationOnly, "", 5, true, 0, kComplete},
        LateCancelCase{"AtTheLastPacketEndRefused", kApplicationOnly,
                       "item=application,phase=over:status=2", 5, false, 2, kPassword},
        LateCancelCase{"AtTheLastPacketEndDamaged", kApplicationOnly,
                       "item=application,phase=over:bad-crc", 5, false, 255, kNotSuccessful},
        LateCancelCase{"AtTheClosingCommand", kApplicationOnly, "", 6, true, 0, kComplete},
        // The Bitmap's last packet is let pass unconfirmed; the Application clears the request.
        LateCancelCase{"AtAnUnconfirmedLastBitmapPacket", kApplicationAndBitmap,
                       "item=bitmap,phase=data,packet=2:bad-crc", 5, false, -1, kNotSuccessful}),
    CaseName());

TEST_F(HmiTransfer, CancelDuringTheBitmapLetsTheOtherItemsRun) {
    const ContainerParts parts{.productCode = kPanelProductCode,
                               .application = PatternBytes(40, 1),
                               .font = PatternBytes(20, 2),
                               .bitmap = PatternBytes(64, 3),
                               .recipes = {{"R1.bin", PatternBytes(20, 4)}}};
    rig.WriteContainer(parts);
    rig.StartPanel();
    StartForm();
    Tick({.application = true, .bitmap = true, .font = true, .recipe = true});
    CancelAtPump(ui, *form, 3);  // the Bitmap's opening, file information, packet 0
    Download();

    const std::vector<WireFrame> frames = Written();
    const auto cancel = std::find_if(frames.begin(), frames.end(), [](const WireFrame& f) {
        return f.letter == 'Q' && f.parameter == kCancelCode;
    });
    ASSERT_NE(cancel, frames.end());
    ASSERT_NE(cancel, frames.begin());
    EXPECT_EQ((cancel - 1)->letter, 'P');
    EXPECT_EQ((cancel - 1)->parameter, 1) << "Cancel follows the packet written after the click";
    // Font, Recipe and Application each clear the request and go through; Over closes.
    EXPECT_EQ(rig.PanelFiles("bin"),
              (std::vector<Bytes>{Bytes(parts.bitmap.begin(), parts.bitmap.begin() + 32),
                                  parts.font, parts.recipes[0].data, parts.application}));
    EXPECT_EQ(frames.back().parameter, kOverCode);
    EXPECT_FALSE(Shown("Download Complete!"));
    EXPECT_EQ(Texts().back(), kNotSuccessful);
    EXPECT_EQ(form->LastDownloadOutcome(), DownloadOutcome::Cancelled);
}

// The line goes away in the middle of the Application: the transfer ends at once, and the form
// is idle again with the port closed.
using HmiTransferLineLost = DownloadCases<std::vector<std::string>>;

TEST_P(HmiTransferLineLost, EndsTheDownloadWithoutHanging) {
    rig.WriteContainer({.productCode = kPanelProductCode, .application = PatternBytes(80)});
    rig.StartPanel(GetParam());
    StartForm();
    Tick({});
    Download();

    EXPECT_EQ(Texts(), std::vector<std::string>{kNotSuccessful});
    EXPECT_EQ(form->LastDownloadOutcome(), DownloadOutcome::Failed);
    EXPECT_EQ(CountWritten('P', 4), 0);
}

INSTANTIATE_TEST_SUITE_P(Closes, HmiTransferLineLost,
                         ::testing::Values(std::vector<std::string>{"--close-after", "3"},
                                           std::vector<std::string>{
                                               "--fault",
                                               "item=application,phase=data,packet=1:close"}));

// The line goes away while the panel erases for a Bitmap, when no frame goes out for seconds:
// the transfer ends within a round of that wait, not after all of its rounds.
TEST_F(HmiTransfer, LineLostDuringTheEraseEndsWithinARound) {
    rig.WriteContainer({.productCode = kPanelProductCode,
                        .application = PatternBytes(40),
                        .bitmap = PatternBytes(40)});
    rig.StartPanel({"--fault", "item=bitmap,phase=info:close"});
    StartForm();
    Tick({.application = true, .bitmap = true});
    const auto start = std::chrono::steady_clock::now();
    Download();

    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s) << "ten rounds take ten seconds";
    EXPECT_EQ(Texts(), std::vector<std::string>{kNotSuccessful});
    EXPECT_EQ(form->LastDownloadOutcome(), DownloadOutcome::Failed);
    EXPECT_EQ(CountWritten('P', 0), 0) << "no packet after the line went away";
}

// A panel played by the test on the master side of a pty: every request is answered by the
// script, which may also put extra bytes on the line.
class ScriptedPanel {
  public:
    using Script = std::function<Bytes(const WireFrame&)>;

    ScriptedPanel(PtyPair& pty, std::uint16_t packetSize, Script script)
        : pty_(pty),
          packetSize_(packetSize),
          script_(std::move(script)),
          thread_([this] { Run(); }) {}
    ~ScriptedPanel() {
        stop_ = true;
        thread_.join();
    }

  private:
    void Run() {
        while (!stop_) {
            Bytes frame = pty_.Read(4, 50ms);
            if (frame.empty()) {
                continue;
            }
            Bytes rest = pty_.Read(4 - frame.size(), 500ms);
            frame.insert(frame.end(), rest.begin(), rest.end());
            if (frame.size() < 4) {
                continue;
            }
            // Command frames here carry no link byte.
            const std::size_t size = frame[1] == 'R' ? 54 : frame[1] == 'P' ? 6 + packetSize_ : 6;
            rest = pty_.Read(size - 4, 500ms);
            frame.insert(frame.end(), rest.begin(), rest.end());
            if (auto parsed = ParseWireFrame(frame)) {
                pty_.Write(script_(*parsed));
            }
        }
    }

    PtyPair& pty_;
    std::uint16_t packetSize_;
    Script script_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

Bytes Head(const WireFrame& f) {
    return {f.slave, static_cast<std::uint8_t>(f.letter),
            static_cast<std::uint8_t>(f.parameter & 0xFF),
            static_cast<std::uint8_t>(f.parameter >> 8)};
}

// A reply that is already waiting when the next request goes out belongs to no request: here
// the panel puts an "accepted" answer to the file information on the line before the block was
// even sent, and then refuses the real block.
TEST_F(HmiTransfer, BytesWaitingBeforeARequestAreNotItsAnswer) {
    rig.WriteContainer({.productCode = kPanelProductCode, .application = PatternBytes(40)});
    PtyPair pty;
    ScriptedPanel panel(pty, kSerialPacketSize, [](const WireFrame& f) {
        if (f.letter == 'Q' && f.parameter == 0x0000) {
            Bytes out = ReplyFrame(Head(f), 0);
            const Bytes early = ReplyFrame({f.slave, 'R', 0x00, 0x00}, 0);
            out.insert(out.end(), early.begin(), early.end());
            return out;
        }
        return ReplyFrame(Head(f), f.letter == 'R' ? 2 : 0);
    });
    StartForm({pty.slavePath()});
    Tick({});
    Download();

    EXPECT_EQ(CountWritten('R', 0x0000), 4);
    EXPECT_EQ(CountWritten('P', 0), 0);
    EXPECT_EQ(form->m_nTargetCode, 2);
    EXPECT_EQ(Texts(), std::vector<std::string>{kPassword});
}

}  // namespace
}  // namespace tarvex::test
