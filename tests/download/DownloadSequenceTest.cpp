// The Download button from the form's side: what is refused before the port is opened, how the
// line is set up, which message ends a download, the timing log, and the form afterwards. The
// fixture's Download() checks on every exit that the priority is back and the form is idle.
#include <gtest/gtest.h>
#include <termios.h>

#include <filesystem>
#include <memory>
#include <ostream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "serial/SerialPortPosix.h"
#include "support/DownloadFixture.h"
#include "support/NamedCases.h"
#include "support/PtyPair.h"
#include "ui/StatusText.h"

namespace tarvex::test {
namespace {

using test::PrintTo;

class DownloadSequence : public DownloadFixture {};

constexpr char kNotSuccessful[] = "Download not successful!";
constexpr char kCannotOpen[] =
    "Cannot open Communication Port.Please\nquit the application & re-start your PC.";

// --- Before the line is touched ------------------------------------------------------------------

enum class ContainerKind { Good, Damaged, ForOtherProduct };

struct RefusalCase {
    const char* name;
    const char* hmiType;
    const char* bootloader;
    Ticks ticks;
    ContainerKind container;
    const char* slaveId;
    bool unmatchedVersion;  // the configuration file names the chosen version otherwise
    MessageKind kind;
    const char* text;  // the whole message, or (partial) a part of it
    bool partial;
    DownloadOutcome outcome;
};

using DownloadRefusals = DownloadCases<RefusalCase>;

// The port is listed when the form starts and gone when Download is pressed, so every refusal
// that came after opening it would show the port's error box instead of its own notice.
TEST_P(DownloadRefusals, ComeBeforeThePortIsOpened) {
    const RefusalCase& c = GetParam();
    rig.WriteDownloadData(c.hmiType);
    if (c.unmatchedVersion) {
        ProductSpec product = PanelProduct();
        product.versions.push_back({.name = "V4.0-1", .firmwareList = "F2.0", .formatList = "0"});
        rig.ws.Write("Vxx/Panel.CFG", BootLoaderFileText(product));
        product.versions.back().name = "V4.0-1x";
        rig.ws.Write("Pxx/Panel.CFG", CfgFileText(product));
    }
    ContainerParts parts{.productCode = kPanelProductCode,
                         .application = PatternBytes(40),
                         .font = PatternBytes(40),
                         .bitmap = PatternBytes(40)};
    if (c.container == ContainerKind::ForOtherProduct) {
        parts.productCode = kPanelProductCode + 1;
    }
    Bytes container = BuildContainer(parts);
    if (c.container == ContainerKind::Damaged) {
        SpoilHeaderChecksum(container);  // either checksum alone would let it pass
        SpoilBodyChecksum(container);
    }
    rig.WriteContainerBytes(container);
    // The form lists a port that is gone by the time Download is pressed. It is reached through
    // a link of the test's own, so that a pseudo-terminal of a test running beside this one,
    // which may get the same number, is never opened instead.
    auto pty = std::make_unique<PtyPair>();
    const std::filesystem::path port = rig.ws / "vanishing-port";
    std::filesystem::create_symlink(pty->slavePath(), port);
    StartForm({port.string()}, c.bootloader,
              std::string_view(c.bootloader) == "V1.3-7" ? "F3.1" : "F2.0");
    Tick(c.ticks);
    if (form->m_editSlaveID.IsVisible()) {
        ASSERT_TRUE(form->UserSetText(form->m_editSlaveID, c.slaveId));
    }
    pty.reset();
    std::filesystem::remove(port);
    Download();

    ASSERT_EQ(ui.messages.size(), 1u) << ::testing::PrintToString(Texts());
    const RecordedMessage& m = ui.messages.front();
    EXPECT_EQ(m.kind, c.kind);
    if (c.partial) {
        EXPECT_NE(m.text.find(c.text), std::string::npos) << m.text;
    } else {
        EXPECT_EQ(m.text, c.text);
    }
    EXPECT_EQ(form->LastDownloadOutcome(), c.outcome);
    EXPECT_TRUE(line.empty());
    // The settings are saved only once the checks have passed.
    EXPECT_EQ(std::filesystem::exists(rig.ws / "dnld.sv"), c.outcome != DownloadOutcome::Refused);
}

INSTANTIATE_TEST_SUITE_P(
    Checks, DownloadRefusals,
    ::testing::Values(
        RefusalCase{"SlaveIdOutOfRange", "USER_HMI", "V1.3-7", kApplicationOnly,
                    ContainerKind::Good, "0", false, MessageKind::Notice,
                    "Invalid Slave ID! Valid Range for Slave ID is 1 - 255.", false,
                    DownloadOutcome::Refused},
        RefusalCase{"DamagedContainer", "USER_HMI", "V1.3-7", kApplicationOnly,
                    ContainerKind::Damaged, "1", false, MessageKind::Notice,
                    "Invalid file for download!", false, DownloadOutcome::Refused},
        RefusalCase{"ContainerForAnotherProduct", "USER_HMI", "V1.3-7", kApplicationOnly,
                    ContainerKind::ForOtherProduct, "1", false, MessageKind::Notice,
                    "Invalid file for download, file is compiled for diffrent product and user "
                    "selected different product!",
                    false, DownloadOutcome::Refused},
        RefusalCase{"BitmapForAnUnknownHmiType", "PANEL_HMI", "V1.3-7", kApplicationAndBitmap,
                    ContainerKind::Good, "1", false, MessageKind::Notice, "\"PANEL_HMI\"", true,
                    DownloadOutcome::Refused},
        RefusalCase{"FontForAnUnknownHmiType", "", "V1.3-7", kFontOnly, ContainerKind::Good, "1",
                    false, MessageKind::Notice, "HMI type \"\"", true, DownloadOutcome::Refused},
        RefusalCase{"VersionWithoutSlaveAddress", "USER_HMI", "V2.0-1", kApplicationOnly,
                    ContainerKind::Good, "1", false, MessageKind::Notice, "not supported", true,
                    DownloadOutcome::Refused},
        RefusalCase{"PacketSizeZero", "USER_HMI", "V3.0-1", kApplicationOnly, ContainerKind::Good,
                    "1", false, MessageKind::Notice, "packet size", true, DownloadOutcome::Refused},
        RefusalCase{"NoPacketSizeForTheVersionName", "USER_HMI", "V4.0-1", kApplicationOnly,
                    ContainerKind::Good, "1", true, MessageKind::Notice, "packet size", true,
                    DownloadOutcome::Refused},
        // The application alone goes to any HMI type; here the port is tried and fails.
        RefusalCase{"ApplicationForAnUnknownHmiType", "PANEL_HMI", "V1.3-7", kApplicationOnly,
                    ContainerKind::Good, "1", false, MessageKind::ErrorBox, kCannotOpen, false,
                    DownloadOutcome::PortFailed}),
    CaseName());

TEST_F(DownloadSequence, MissingItemsAreNamedAndNothingIsSent) {
    rig.WriteContainer(
        {.productCode = kPanelProductCode, .application = PatternBytes(40), .recipeTable = false});
    rig.StartPanel();
    StartForm();
    Tick({.application = true, .font = true, .recipe = true});
    Download();

    EXPECT_EQ(Texts(), (std::vector<std::string>{"Font doesnot exist to download!",
                                                 "Recipe doesnot exist to download!"}));
    EXPECT_EQ(form->LastDownloadOutcome(), DownloadOutcome::ItemMissing);
    EXPECT_TRUE(line.empty());
}

// --- The line ------------------------------------------------------------------------------------

struct LineCase {
    const char* baud;
    const char* parity;
    const char* stopBits;
    const char* dataBits;
    speed_t speed;
    bool twoStopBits;
    bool oddParity;
};

void PrintTo(const LineCase& c, std::ostream* os) {
    *os << c.baud << " " << c.parity << " " << c.stopBits << " " << c.dataBits;
}

using DownloadLineSettings = DownloadCases<LineCase>;

// A pseudo-terminal keeps the speed, the stop bits and the parity sense it is given (it forces
// 8 data bits and no parity generation of its own, so those are not seen here).
TEST_P(DownloadLineSettings, ReachThePort) {
    const LineCase& c = GetParam();
    rig.WriteContainer({.productCode = kPanelProductCode, .application = PatternBytes(20)});
    rig.StartPanel();
    StartForm();
    Tick({});
    ASSERT_TRUE(Select(form->m_cmbBaudRate, c.baud));
    ASSERT_TRUE(Select(form->m_cmbParity, c.parity));
    ASSERT_TRUE(Select(form->m_cmbStopBits, c.stopBits));
    ASSERT_TRUE(Select(form->m_cmbDataBits, c.dataBits));
    std::optional<termios> seen;
    ui.onPump = [&] {
        termios t{};
        if (!seen && ::tcgetattr(NativeHandle(form->SerialPort()), &t) == 0) {
            seen = t;
        }
    };
    Download();

    EXPECT_EQ(Texts(), std::vector<std::string>{"Download Complete!"});
    ASSERT_TRUE(seen.has_value());
    EXPECT_EQ(::cfgetospeed(&*seen), c.speed);
    EXPECT_EQ((seen->c_cflag & CSTOPB) != 0, c.twoStopBits);
    EXPECT_EQ((seen->c_cflag & PARODD) != 0, c.oddParity);
}

INSTANTIATE_TEST_SUITE_P(Lists, DownloadLineSettings,
                         ::testing::Values(LineCase{"57600", "Odd", "2", "7", B57600, true, true},
                                           LineCase{"9600", "Even", "1", "8", B9600, false,
                                                    false}));

// With neither mode button checked (a view may show the group so) the mode of the download
// before stays: the opening command keeps the USB link byte.
TEST_F(DownloadSequence, WithNeitherModeCheckedThePreviousModeStays) {
    rig.WriteContainer({.productCode = kPanelProductCode, .application = PatternBytes(20)});
    rig.StartPanel();
    StartForm({}, "V1.3-7", "F2.9");
    Tick({});
    ASSERT_TRUE(form->UserClick(form->m_radUSBDownload));
    Download();
    form->m_radUSBDownload.SetCheck(false);
    ASSERT_FALSE(form->m_radSerialDownload.GetCheck());
    Download();

    EXPECT_EQ(Texts(), (std::vector<std::string>{"Download Complete!", "Download Complete!"}));
    EXPECT_TRUE(form->m_bUSBDownload);
    int openings = 0;
    for (const WireFrame& f : Written()) {
        if (f.letter == 'Q' && f.parameter == 0x0000) {
            ++openings;
            EXPECT_EQ(f.payload, Bytes{1});
        }
    }
    EXPECT_EQ(openings, 2);
    EXPECT_EQ(rig.PanelFiles("bin"), std::vector<Bytes>(2, PatternBytes(20)));
}

// --- How a download ends -------------------------------------------------------------------------

struct CodeCase {
    const char* name;
    const char* reply;  // what the panel does to every opening of the Application
    bool usb;
    std::uint8_t targetCode;
    MessageKind kind;
    const char* caption;
    const char* text;
};

using DownloadPanelCodes = DownloadCases<CodeCase>;

TEST_P(DownloadPanelCodes, GiveTheirMessages) {
    const CodeCase& c = GetParam();
    rig.WriteContainer({.productCode = kPanelProductCode, .application = PatternBytes(20)});
    rig.StartPanel({"--fault", std::string("item=application,phase=open,count=always:") + c.reply});
    StartForm({}, "V1.3-7", "F2.9");
    Tick({});
    if (c.usb) {
        ASSERT_TRUE(form->UserClick(form->m_radUSBDownload));
    }
    // The dialog's status line, as the box comes up: it tells the outcome, not the last step.
    StatusText status({});
    form->SetProgressListener(&status);
    std::vector<std::string> statusAtBox;
    ui.onMessage = [&](const RecordedMessage&) { statusAtBox.push_back(status.Text()); };
    Download();

    EXPECT_EQ(statusAtBox, std::vector<std::string>{c.text});
    EXPECT_EQ(CountWritten('Q', 0x0000), 3);
    EXPECT_EQ(Written().size(), 3u) << "nothing after the refused opening, no Over";
    EXPECT_EQ(form->m_nTargetCode, c.targetCode);
    ASSERT_EQ(ui.messages.size(), 1u) << ::testing::PrintToString(Texts());
    EXPECT_EQ(ui.messages[0].kind, c.kind);
    EXPECT_EQ(ui.messages[0].caption, c.caption);
    EXPECT_EQ(ui.messages[0].text, c.text);
    const bool panelCode = c.targetCode >= 1 && c.targetCode <= 9;
    EXPECT_EQ(form->LastDownloadOutcome(),
              panelCode ? DownloadOutcome::PanelCode : DownloadOutcome::Failed);
    EXPECT_EQ(form->OutcomePanelCode(), panelCode ? c.targetCode : 0);
}

const char kApp[] = "Tarvex";

INSTANTIATE_TEST_SUITE_P(
    Codes, DownloadPanelCodes,
    ::testing::Values(
        CodeCase{"InvalidCommand", "status=1", false, 1, MessageKind::PlainBox, "Error",
                 "Received an invalid command!"},
        CodeCase{"Password", "status=2", false, 2, MessageKind::PlainBox, "Error",
                 "Password Verification Failed!"},
        CodeCase{"ProductId", "status=3", false, 3, MessageKind::PlainBox, "Error",
                 "Product ID Verification Failed!"},
        CodeCase{"FileSize", "status=4", false, 4, MessageKind::PlainBox, "Error",
                 "File size has exceeded!"},
        CodeCase{"Software", "status=5", false, 5, MessageKind::PlainBox, "Error",
                 "Software version mismatch!"},
        CodeCase{"Hardware", "status=6", false, 6, MessageKind::PlainBox, "Error",
                 "Hardware version mismatch!"},
        CodeCase{"SdCard", "status=7", false, 7, MessageKind::PlainBox, "Error",
                 "SD Card not found!"},
        CodeCase{"Recipe", "status=8", false, 8, MessageKind::PlainBox, "Error",
                 "Could not find Recipe File for Download!"},
        CodeCase{"WrongPortSerial", "status=9", false, 9, MessageKind::Notice, kApp,
                 "Invalid comm port selected,please select comm port applicable to serial "
                 "downloading"},
        CodeCase{"WrongPortUsb", "status=9", true, 9, MessageKind::Notice, kApp,
                 "Invalid comm port selected,please select comm port applicable to USB "
                 "downloading"},
        CodeCase{"OtherCode", "status=200", false, 200, MessageKind::PlainBox, "Error",
                 kNotSuccessful},
        // Replies that echo another request record no code at all.
        CodeCase{"NoCode", "bad-echo", false, 255, MessageKind::PlainBox, "Error", kNotSuccessful}),
    CaseName());

// An item that fails does not stop the items after it, and their success does not hide it.
struct FailedItemCase {
    const char* name;
    Ticks ticks;
    const char* fault;
    std::vector<std::string> texts;
    DownloadOutcome outcome;
    std::uint8_t code;
};

using DownloadFailedItem = DownloadCases<FailedItemCase>;

TEST_P(DownloadFailedItem, IsReportedAfterTheLaterItemsRan) {
    const FailedItemCase& c = GetParam();
    rig.WriteContainer({.productCode = kPanelProductCode,
                        .application = PatternBytes(40),
                        .bitmap = PatternBytes(20),
                        .recipes = {{"R1.bin", PatternBytes(20)}, {"R2.bin", PatternBytes(20)}}});
    rig.StartPanel({"--fault", c.fault});
    StartForm();
    Tick(c.ticks);
    Download();

    const std::vector<Bytes> stored = rig.PanelFiles("bin");
    ASSERT_FALSE(stored.empty());
    EXPECT_EQ(stored.back(), PatternBytes(40)) << "the Application still went through";
    EXPECT_EQ(CountWritten('Q', kOverCode), 1);
    EXPECT_EQ(Texts(), c.texts);
    EXPECT_EQ(ui.messages.back().kind, MessageKind::PlainBox);
    EXPECT_EQ(form->LastDownloadOutcome(), c.outcome);
    EXPECT_EQ(form->OutcomePanelCode(), c.code);
    EXPECT_FALSE(std::filesystem::exists(rig.ws / "ReadTimeDiff.csv"));
}

INSTANTIATE_TEST_SUITE_P(
    Items, DownloadFailedItem,
    ::testing::Values(
        // The recipe's code is shown at once, and not again as the download's outcome.
        FailedItemCase{"RecipeWithAPanelCode",
                       kApplicationAndRecipe,
                       "item=recipe,phase=open,count=always:status=8",
                       {"Could not find Recipe File for Download!"},
                       DownloadOutcome::PanelCode,
                       8},
        FailedItemCase{"RecipeWithoutACode",
                       kApplicationAndRecipe,
                       "item=recipe,phase=data,packet=0,count=always:bad-crc",
                       {kNotSuccessful},
                       DownloadOutcome::Failed,
                       0},
        // The panel refuses the bitmap's description while it is awaited in rounds.
        FailedItemCase{"BitmapDescriptionRefused",
                       kApplicationAndBitmap,
                       "item=bitmap,phase=info:status=6",
                       {"Hardware version mismatch!"},
                       DownloadOutcome::PanelCode,
                       6}),
    CaseName());

// --- The progress bar
// -----------------------------------------------------------------------------

// The bar runs once from 0 to its end across every item of the download, never back; each
// recipe's confirmed description takes its step, and the sequence empties the bar at the end.
// Two recipes (2 packets and 1) and the Application (3 packets): 3 + 2 + 3 steps.
TEST_F(DownloadSequence, ProgressBarRunsOnceAcrossTheDownload) {
    rig.WriteContainer({.productCode = kPanelProductCode,
                        .application = PatternBytes(3 * kSerialPacketSize),
                        .recipes = {{"Speed.bin", PatternBytes(kSerialPacketSize + 4, 1)},
                                    {"Mix.bin", PatternBytes(5, 2)}}});
    rig.StartPanel();
    StartForm();
    Tick(kApplicationAndRecipe);
    // (position, upper bound) as each reply is awaited, repeats left out.
    std::vector<std::pair<int, int>> bar;
    ui.onPump = [&] {
        const std::pair<int, int> now{form->m_progress.GetPos(), form->m_progress.Upper()};
        if (bar.empty() || bar.back() != now) {
            bar.push_back(now);
        }
    };
    Download();

    EXPECT_EQ(Texts(), std::vector<std::string>{"Download Complete!"});
    std::vector<std::pair<int, int>> expected;
    for (int pos = 0; pos <= 8; ++pos) {
        expected.emplace_back(pos, 8);
    }
    EXPECT_EQ(bar, expected);
    EXPECT_EQ(form->m_progress.GetPos(), 0);
}

// --- The timing log -----------------------------------------------------------------------------

// With nothing ticked only the closing command goes out, and the download is complete.
TEST_F(DownloadSequence, CompleteDownloadWritesTheTimingLog) {
    rig.WriteContainer({.productCode = kPanelProductCode, .application = PatternBytes(20)});
    rig.StartPanel();
    StartForm();
    Tick({.application = false});
    // A click on Cancel before the download is forgotten when it starts.
    ASSERT_TRUE(form->UserClick(form->m_btnCancel));
    // While the port is open only Cancel acts; the log is written once the notice is closed.
    ui.onPump = [this] {
        EXPECT_TRUE(form->m_bPortOpen);
        EXPECT_FALSE(form->UserClick(form->m_btnDownload));
        EXPECT_FALSE(form->UserClick(form->m_btnClose));
        EXPECT_FALSE(form->IsEnded());
    };
    StatusText status({});
    form->SetProgressListener(&status);
    ui.onMessage = [&](const RecordedMessage&) {
        EXPECT_FALSE(std::filesystem::exists(rig.ws / "ReadTimeDiff.csv"));
        EXPECT_EQ(status.Text(), "Download Complete!") << "the status line while the box is up";
    };
    Download();

    const std::vector<WireFrame> frames = Written();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].letter, 'Q');
    EXPECT_EQ(frames[0].parameter, kOverCode);
    EXPECT_EQ(Texts(), std::vector<std::string>{"Download Complete!"});
    EXPECT_EQ(form->LastDownloadOutcome(), DownloadOutcome::Complete);

    // No bitmap was sent by this form: the time runs from the start of this transfer.
    const std::string log = ReadFileText(rig.ws / "ReadTimeDiff.csv");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(
        log, m, std::regex("Total Download Time,(-?[0-9]+)\r\nNo of Packets,0\r\n\r\n\\[EOF\\]")))
        << log;
    const long elapsed = std::stol(m[1]);
    EXPECT_GE(elapsed, 0);
    EXPECT_LT(elapsed, 60000);
}

TEST_F(DownloadSequence, TimingLogInAMissingFolderIsSkippedSilently) {
    const std::string path = rig.ws / "no-such-folder/ReadTimeDiff.csv";
    adjustEnvironment = [&](FormEnvironment& env) { env.timingLogPath = path; };
    rig.WriteContainer({.productCode = kPanelProductCode, .application = PatternBytes(20)});
    rig.StartPanel();
    StartForm();
    Tick({});
    Download();

    EXPECT_EQ(Texts(), std::vector<std::string>{"Download Complete!"});
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(path).parent_path()));
}

// The settings file cannot be written (a folder stands in its place), so the form's settings
// record keeps the slave ID of the start; the frames still go to the ID typed in the form.
TEST_F(DownloadSequence, TheTypedSlaveIdIsAddressedWhenTheSaveFails) {
    rig.ws.dir().MakeDir("dnld.sv");
    rig.WriteContainer({.productCode = kPanelProductCode, .application = PatternBytes(20)});
    rig.StartPanel({"--slave-id", "7"});
    StartForm();
    ASSERT_TRUE(form->UserSetText(form->m_editSlaveID, "7"));
    Tick(kApplicationOnly);
    Download();

    EXPECT_EQ(Texts(), (std::vector<std::string>{"Error in creating download data file!",
                                                 "Download Complete!"}));
    const std::vector<WireFrame> frames = Written();
    ASSERT_FALSE(frames.empty());
    for (const WireFrame& frame : frames) {
        EXPECT_EQ(frame.slave, 7);
    }
}

// A line break in the file name would write lines of its own into the settings file: the name
// is refused, from Browse and from the field, before anything is saved.
TEST_F(DownloadSequence, FileNameWithALineBreakIsRefusedBeforeAnythingIsSaved) {
    const std::string name = rig.ws / "project/H1.bin\nPASSWORD:1\n[EOF]";
    rig.WriteContainer({.productCode = kPanelProductCode, .application = PatternBytes(20)});
    rig.StartPanel();
    StartForm();
    const std::string shown = form->m_editFileToSend.GetWindowText();
    ui.fileAnswers.push_back(name);
    ASSERT_TRUE(form->UserClick(form->m_btnBrowse));
    EXPECT_EQ(form->m_editFileToSend.GetWindowText(), shown);
    ASSERT_TRUE(form->UserSetText(form->m_editFileToSend, name));
    Download();

    EXPECT_EQ(Texts(), (std::vector<std::string>{kLineBreakInFileName, kLineBreakInFileName}));
    EXPECT_EQ(form->LastDownloadOutcome(), DownloadOutcome::Refused);
    EXPECT_FALSE(std::filesystem::exists(rig.ws / "dnld.sv"));
    EXPECT_TRUE(line.empty());
}

// A container accepted on its header checksum whose body checksum matches under neither rule:
// the user is asked, No being the default; No refuses before anything is saved or sent.
TEST_F(DownloadSequence, DamagedBodyIsDownloadedOnlyWhenTheUserSaysSo) {
    Bytes bytes =
        BuildContainer({.productCode = kPanelProductCode, .application = PatternBytes(20)});
    SpoilBodyChecksum(bytes);
    rig.WriteContainerBytes(bytes);
    rig.StartPanel();
    StartForm();
    Tick(kApplicationOnly);
    Download();
    const std::string question = std::string("Tarvex: ") + kDamagedBodyQuestion + " (default No)";
    EXPECT_EQ(ui.questions, std::vector<std::string>{question});
    EXPECT_EQ(kDamagedBodyQuestion,
              std::string("The contents of this file do not match its checksum: the images in it "
                          "may be damaged. Download anyway?"));
    EXPECT_TRUE(Texts().empty());
    EXPECT_EQ(form->LastDownloadOutcome(), DownloadOutcome::Refused);
    EXPECT_FALSE(std::filesystem::exists(rig.ws / "dnld.sv"));
    EXPECT_TRUE(line.empty());

    ui.yesNoAnswers.push_back(true);
    Download();
    EXPECT_EQ(ui.questions.size(), 2u);
    EXPECT_EQ(Texts(), std::vector<std::string>{"Download Complete!"});
    EXPECT_EQ(rig.PanelFiles("bin").back(), PatternBytes(20));
}

// --- An exception out of the download ------------------------------------------------------------

struct ThrowCase {
    const char* name;
    Ticks ticks;
    const char* slaveId;
    int atPump;             // throws from this event pump of the download (0: none)
    const char* atMessage;  // throws from the box with this text (nullptr: none)
    bool portOpen;          // the port is open when the throw comes
};

using DownloadExceptions = DownloadCases<ThrowCase>;

// Whatever a front end's message box or event pump throws leaves the form as every other exit
// does: the port closed and free for anyone, the priority as before the press, Download and
// Close enabled. The form is not stuck: the next press downloads.
TEST_P(DownloadExceptions, LeaveTheFormIdle) {
    const ThrowCase& c = GetParam();
    rig.WriteContainer(
        {.productCode = kPanelProductCode, .application = PatternBytes(80), .recipeTable = false});
    rig.StartPanel();
    StartForm();
    Tick(c.ticks);
    ASSERT_TRUE(form->UserSetText(form->m_editSlaveID, c.slaveId));

    // Not a std::exception: the transfer turns those into "Error in reading from target!" when
    // they come while a reply is awaited, and goes on.
    struct Thrown {};
    bool portOpenAtThrow = false;
    const auto throwNow = [&] {
        portOpenAtThrow = form->SerialPort().IsOpen();
        throw Thrown();
    };
    const int pumpsBefore = ui.pumpCount;
    ui.onPump = [&] {
        if (ui.pumpCount - pumpsBefore == c.atPump) {
            throwNow();
        }
    };
    ui.onMessage = [&](const RecordedMessage& m) {
        if (c.atMessage != nullptr && m.text == c.atMessage) {
            throwNow();
        }
    };
    platform::SavedPriority before;
    platform::SavedPriority after;
    bool caught = false;
    std::thread runner([&] {
        before = platform::SaveProcessPriority();
        try {
            form->UserClick(form->m_btnDownload);
        } catch (const Thrown&) {
            caught = true;
        }
        after = platform::SaveProcessPriority();
    });
    runner.join();

    ASSERT_TRUE(caught);
    EXPECT_EQ(portOpenAtThrow, c.portOpen);
    EXPECT_EQ(after.policy, before.policy) << "scheduling policy not restored";
    EXPECT_EQ(after.rtPriority, before.rtPriority) << "real-time priority not restored";
    EXPECT_EQ(after.niceValue, before.niceValue) << "nice value not restored";
    EXPECT_FALSE(form->DownloadRunning());
    EXPECT_FALSE(form->m_bPortOpen);
    EXPECT_FALSE(form->SerialPort().IsOpen());
    EXPECT_TRUE(form->m_btnDownload.IsEnabled());
    EXPECT_TRUE(form->m_btnClose.IsEnabled());
    EXPECT_EQ(form->m_progress.GetPos(), 0);
    EXPECT_EQ(form->LastDownloadOutcome(), DownloadOutcome::Failed);
    // Neither lock nor exclusive mode is left on the device.
    RecordingUi otherUi;
    CSerialPort other(otherUi);
    EXPECT_TRUE(other.Open(rig.PanelPort()));
    other.Close();

    ui.onPump = {};
    ui.onMessage = {};
    ui.Clear();
    ASSERT_TRUE(form->UserSetText(form->m_editSlaveID, "1"));
    Tick(kApplicationOnly);
    Download();
    EXPECT_EQ(Texts(), std::vector<std::string>{"Download Complete!"});
    EXPECT_EQ(rig.PanelFiles("bin").back(), PatternBytes(80));
}

INSTANTIATE_TEST_SUITE_P(
    Hooks, DownloadExceptions,
    ::testing::Values(
        // Pumps: opening 1, file information 2, packet 0 is 3.
        ThrowCase{"FromThePumpDuringTheData", kApplicationOnly, "1", 3, nullptr, true},
        // The transfer has closed the port by then.
        ThrowCase{"FromTheLastMessage", kApplicationOnly, "1", 0, "Download Complete!", false},
        ThrowCase{"FromAMissingItemsNotice", kApplicationAndRecipe, "1", 0,
                  "Recipe doesnot exist to download!", true},
        ThrowCase{"FromARefusalBeforeThePort", kApplicationOnly, "0", 0,
                  "Invalid Slave ID! Valid Range for Slave ID is 1 - 255.", false}),
    CaseName());

}  // namespace
}  // namespace tarvex::test
