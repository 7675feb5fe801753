// The settings file "dnld.sv": its reader and writer, and the form's save and load.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "FormFixture.h"
#include "platform/Files.h"
#include "support/PtyPair.h"
#include "ui/DnldSettings.h"

namespace tarvex::test {
namespace {

using Lines = std::vector<std::string>;

// Slave ID, port, baud rate, parity, word length and stop bits, as text.
Lines LineSettings(const SettingsFields& f) {
    return {std::to_string(f.record.m_nSlaveID),
            f.record.m_strComPort,
            f.record.m_strBaudRate,
            f.record.m_strParity,
            f.record.m_strWordLength,
            f.record.m_strStopBits};
}

// --- Reader ------------------------------------------------------------------------------------

TEST(SettingsReader, TakesEveryKeyAndTrimsValues) {
    SettingsFields f;
    ApplySettingsLines(
        {"SLAVE ID:17", "COM PORT: /dev/ttyUSB0 ", "BAUD RATE:9600", "PARITY:Odd", "WORD LENGTH:7",
         "STOP BITS:1", "REMEMBER PASSWORD:Yes", "PASSWORD:\t p:w d \t", "PRODUCT NAME:Alpha",
         "BOOTLOADER VERSION:V1", "FIRMWARE VERSION:F1", "BIN FILE PATH:/a/b.bin", "[EOF]"},
        f);
    EXPECT_EQ(LineSettings(f), (Lines{"17", "/dev/ttyUSB0", "9600", "Odd", "7", "1"}));
    EXPECT_TRUE(f.rememberPassword);
    EXPECT_EQ(f.record.m_strSavedPassword, "p:w d");
    EXPECT_EQ(f.productName, "Alpha");
    EXPECT_EQ(f.bootloaderVersion, "V1");
    EXPECT_EQ(f.firmwareVersion, "F1");
    EXPECT_EQ(f.binFilePath, "/a/b.bin");
}

TEST(SettingsReader, SlaveIdTakesTheLeadingNumber) {
    const std::pair<const char*, int> cases[] = {{"12ab", 12}, {"", 0}, {"  -3x", -3}, {"x1", 0}};
    for (const auto& [value, expected] : cases) {
        SettingsFields f;
        ApplySettingsLines({std::string("SLAVE ID:") + value}, f);
        EXPECT_EQ(f.record.m_nSlaveID, expected) << value;
    }
}

TEST(SettingsReader, RememberPasswordIgnoresCaseAndOtherValues) {
    SettingsFields f;
    ApplySettingsLines({"REMEMBER PASSWORD:yes"}, f);
    EXPECT_TRUE(f.rememberPassword);
    ApplySettingsLines({"REMEMBER PASSWORD:maybe"}, f);
    EXPECT_TRUE(f.rememberPassword);
    ApplySettingsLines({"REMEMBER PASSWORD: NO "}, f);
    EXPECT_FALSE(f.rememberPassword);
    ApplySettingsLines({"REMEMBER PASSWORD:1"}, f);
    EXPECT_FALSE(f.rememberPassword);
}

TEST(SettingsReader, DamagedLinesAreSkippedAndTheLastValueWins) {
    SettingsFields f;
    f.firmwareVersion = "kept";
    f.bootloaderVersion = "cleared";
    ApplySettingsLines(
        {"garbage without colon", "COM PORT:first", "com port:lower-case key",
         " COM PORT:blank before key", "COM PORT :blank after key", "UNKNOWN:x", "COM PORT:second"},
        f);
    EXPECT_EQ(f.record.m_strComPort, "second");
    EXPECT_EQ(f.firmwareVersion, "kept");
    // A file without the key leaves no bootloader version.
    EXPECT_EQ(f.bootloaderVersion, "");
}

TEST(SettingsReader, StopsAtTheTerminatorOnly) {
    SettingsFields f;
    ApplySettingsLines({"PARITY:Even", "[EOF] ", "PARITY:Odd", "[EOF]", "PARITY:Mark"}, f);
    EXPECT_EQ(f.record.m_strParity, "Odd");
    SettingsFields g;
    ApplySettingsLines({"PARITY:Even", "[eof]", "PARITY:Space"}, g);
    EXPECT_EQ(g.record.m_strParity, "Space");
}

TEST(SettingsReader, DefaultsLeaveFirmwareAndBinPath) {
    SettingsFields f;
    f.firmwareVersion = "F";
    f.binFilePath = "/x.bin";
    f.productName = "P";
    f.rememberPassword = true;
    SetDefaultSettings(f);
    EXPECT_EQ(LineSettings(f), (Lines{"1", "COM1", "19200", "None", "8", "2"}));
    EXPECT_FALSE(f.rememberPassword);
    EXPECT_EQ(f.productName, "");
    EXPECT_EQ(f.firmwareVersion, "F");
    EXPECT_EQ(f.binFilePath, "/x.bin");
}

TEST(SettingsWriter, WritesTheTwelveKeysInOrderAndNoLineEndAfterTheTerminator) {
    SettingsFileValues v;
    v.slaveIdText = "1";
    v.comPort = "COM1";
    v.baudRate = "19200";
    v.parity = "None";
    v.wordLength = "8";
    v.stopBits = "2";
    v.productName = "Select Product";
    v.password = "secret";  // not remembered: not written
    EXPECT_EQ(FormatSettingsFile(v),
              "SLAVE ID:1\nCOM PORT:COM1\nBAUD RATE:19200\nPARITY:None\nWORD LENGTH:8\n"
              "STOP BITS:2\nREMEMBER PASSWORD:No\nPASSWORD:\nPRODUCT NAME:Select Product\n"
              "BOOTLOADER VERSION:\nFIRMWARE VERSION:\nBIN FILE PATH:\n[EOF]");
    v.rememberPassword = true;
    EXPECT_NE(FormatSettingsFile(v).find("\nREMEMBER PASSWORD:Yes\nPASSWORD:secret\n"),
              std::string::npos);
}

// Runs `check` in a child process as another account: user `uid`, primary group `gid`,
// supplementary groups `groups`. Needs root. True when the check held.
bool AsAccount(uid_t uid, gid_t gid, const std::vector<gid_t>& groups,
               const std::function<bool()>& check) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        const bool ok = ::setgroups(groups.size(), groups.data()) == 0 && ::setgid(gid) == 0 &&
                        ::setuid(uid) == 0 && check();
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

// The two-wire options: read when present, absent meaning the defaults, and written only when
// they are not the defaults, so that an older file is written back as it was.
TEST(SettingsTwoWire, ReadWhenPresentAndWrittenOnlyWhenNotTheDefaults) {
    struct Read {
        Lines lines;
        std::string echo;
        bool rs485;
    };
    const Read reads[] = {
        {{"COM PORT:COM2"}, "None", false},
        {{"ECHO: Discard ", "RS-485:Yes"}, "Discard", true},
        {{"ECHO:Verify", "RS-485:yes", "RS-485:maybe"}, "Verify", true},
        {{"RS-485:Yes", "RS-485: NO"}, "None", false},
        {{"ECHO:Verify", "[EOF]", "ECHO:Discard", "RS-485:Yes"}, "Verify", false},
    };
    for (const Read& r : reads) {
        SCOPED_TRACE(r.lines.front());
        SettingsFields f;
        ApplySettingsLines(r.lines, f);
        EXPECT_EQ(f.echo, r.echo);
        EXPECT_EQ(f.rs485, r.rs485);
    }
    SettingsFields defaults;
    defaults.echo = "Verify";
    defaults.rs485 = true;
    SetDefaultSettings(defaults);
    EXPECT_EQ(defaults.echo, "None");
    EXPECT_FALSE(defaults.rs485);

    struct Written {
        std::string echo;
        bool rs485;
        std::string tail;
    };
    const Written writes[] = {
        {"", false, "BIN FILE PATH:\n[EOF]"},
        {"None", false, "BIN FILE PATH:\n[EOF]"},
        {"Discard", false, "BIN FILE PATH:\nECHO:Discard\n[EOF]"},
        {"None", true, "BIN FILE PATH:\nRS-485:Yes\n[EOF]"},
        {"Verify", true, "BIN FILE PATH:\nECHO:Verify\nRS-485:Yes\n[EOF]"},
    };
    for (const Written& w : writes) {
        SCOPED_TRACE(w.echo + (w.rs485 ? " rs485" : ""));
        SettingsFileValues v;
        v.echo = w.echo;
        v.rs485 = w.rs485;
        const std::string text = FormatSettingsFile(v);
        ASSERT_GE(text.size(), w.tail.size());
        EXPECT_EQ(text.substr(text.size() - w.tail.size()), w.tail);
        // And read back as written.
        Lines lines;
        std::size_t start = 0;
        for (std::size_t end; (end = text.find('\n', start)) != std::string::npos;
             start = end + 1) {
            lines.push_back(text.substr(start, end - start));
        }
        SettingsFields f;
        ApplySettingsLines(lines, f);
        EXPECT_EQ(f.echo, w.echo.empty() ? "None" : w.echo);
        EXPECT_EQ(f.rs485, w.rs485);
    }
}

// Runs `check` as a user without privileges: in a child process that gives up root (as the
// user and group "nobody"), or right here when the tests do not run as root. True when the
// check held.
bool AsUnprivilegedUser(const std::function<bool()>& check) {
    if (::geteuid() != 0) {
        return check();
    }
    return AsAccount(65534, 65534, {}, check);
}

// --- The form's save and load --------------------------------------------------------------

class SettingsFile : public FormTest {
  protected:
    void SetUp() override {
        AddStandardCatalogue();
        ws.WriteDownloadData("Alpha", ws / "project/");
    }
    std::string SettingsPath() const { return ws / "dnld.sv"; }
};

TEST_F(SettingsFile, SaveAndLoadGiveTheSameForm) {
    PtyPair first;
    PtyPair second;
    CTarvexDlg& f = Start({first.slavePath(), second.slavePath()});
    Choose("Alpha", "V1.0-A", "F1.1");
    ASSERT_TRUE(Select(f.m_cmbComPort, second.slavePath()));
    ASSERT_TRUE(Select(f.m_cmbBaudRate, "57600"));
    ASSERT_TRUE(Select(f.m_cmbParity, "Mark"));
    ASSERT_TRUE(Select(f.m_cmbDataBits, "7"));
    ASSERT_TRUE(Select(f.m_cmbStopBits, "1"));
    ASSERT_TRUE(f.UserSetText(f.m_editSlaveID, "042"));
    ASSERT_TRUE(f.UserSetText(f.m_editPassword, "a:b:c"));
    ASSERT_TRUE(f.UserClick(f.m_chkRememberPassword));
    ASSERT_TRUE(f.UserSetText(f.m_editFileToSend, "/typed/path.bin"));
    f.m_strBootloaderVersion = f.m_cmbBootloaderVersion.GetWindowText();  // as a download does
    f.SaveSettings(SettingsPath());

    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(ReadFileText(SettingsPath()),
              "SLAVE ID:042\nCOM PORT:" + second.slavePath() +
                  "\nBAUD RATE:57600\nPARITY:Mark\nWORD LENGTH:7\nSTOP BITS:1\n"
                  "REMEMBER PASSWORD:Yes\nPASSWORD:a:b:c\nPRODUCT NAME:Alpha\n"
                  "BOOTLOADER VERSION:V1.0-A\nFIRMWARE VERSION:F1.1\n"
                  "BIN FILE PATH:/typed/path.bin\n[EOF]");
    struct stat st {};
    ASSERT_EQ(::stat(SettingsPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(f.m_settings.m_nSlaveID, 42);
    EXPECT_EQ(f.m_settings.m_strSavedPassword, "a:b:c");
    EXPECT_EQ(f.m_strBinFilePath, "/typed/path.bin");
    // The firmware text goes to the file only.
    EXPECT_EQ(f.m_strFirmwareVersion, "");

    ui.Clear();
    CTarvexDlg& g = Start({first.slavePath(), second.slavePath()});
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(g.m_cmbProduct.GetWindowText(), "Alpha");
    EXPECT_EQ(g.m_cmbBootloaderVersion.GetWindowText(), "V1.0-A");
    EXPECT_EQ(g.m_cmbFirmwareVersion.GetWindowText(), "F1.1");
    EXPECT_EQ(LineControls(g), (Lines{"42", second.slavePath(), "57600", "Mark", "7", "1"}));
    EXPECT_EQ(g.m_editPassword.GetWindowText(), "a:b:c");
    EXPECT_TRUE(g.m_chkRememberPassword.GetCheck());
    // The saved path is read but the field shows the project's container.
    EXPECT_EQ(g.m_strBinFilePath, ws / "project/H1.bin");
    EXPECT_EQ(g.m_editFileToSend.GetWindowText(), ws / "project/H1.bin");
}

// The Echo list and the RS-485 box come back after a restart; a file without them, or with an
// echo mode the list does not hold, starts with None and the box clear.
TEST_F(SettingsFile, EchoAndRs485OutliveARestart) {
    PtyPair port;
    CTarvexDlg& f = Start({port.slavePath()});
    EXPECT_EQ(f.m_cmbEcho.GetWindowText(), "None");
    EXPECT_FALSE(f.m_chkRs485.GetCheck());
    ASSERT_TRUE(Select(f.m_cmbEcho, "Verify"));
    ASSERT_TRUE(f.UserClick(f.m_chkRs485));
    f.SaveSettings(SettingsPath());
    EXPECT_NE(ReadFileText(SettingsPath()).find("\nECHO:Verify\nRS-485:Yes\n[EOF]"),
              std::string::npos);

    CTarvexDlg& g = Start({port.slavePath()});
    EXPECT_EQ(g.m_cmbEcho.GetWindowText(), "Verify");
    EXPECT_TRUE(g.m_chkRs485.GetCheck());

    for (const char* file : {"COM PORT:COM1\n[EOF]", "ECHO:Sometimes\nRS-485:perhaps\n[EOF]"}) {
        SCOPED_TRACE(file);
        ws.Write("dnld.sv", file);
        CTarvexDlg& h = Start({port.slavePath()});
        EXPECT_EQ(h.m_cmbEcho.GetWindowText(), "None");
        EXPECT_FALSE(h.m_chkRs485.GetCheck());
    }
}

// The fixed password of a version that takes none is no secret: a save with Remember Password
// off keeps it, so that the version still has it after a restart. Any other password stays off
// the disk.
TEST_F(SettingsFile, FixedPasswordOutlivesARestartWithoutRememberPassword) {
    ws.WriteSettings({{"REMEMBER PASSWORD", "No"}, {"PASSWORD", "5826"}});
    for (int start = 0; start < 2; ++start) {
        SCOPED_TRACE(start == 0 ? "first start" : "after the restart");
        CTarvexDlg& f = Start();
        Choose("Alpha", "V2.0-B");
        ASSERT_EQ(f.m_editPassword.GetWindowText(), "5826");
        ASSERT_FALSE(f.m_chkRememberPassword.GetCheck());
        f.SaveSettings(SettingsPath());
        EXPECT_NE(ReadFileText(SettingsPath()).find("\nPASSWORD:5826\n"), std::string::npos);
    }

    CTarvexDlg& f = Start();
    Choose("Alpha", "V1.0-A");
    ASSERT_TRUE(f.UserSetText(f.m_editPassword, "4711"));
    f.SaveSettings(SettingsPath());
    EXPECT_NE(ReadFileText(SettingsPath()).find("\nPASSWORD:\n"), std::string::npos);
}

TEST_F(SettingsFile, CrLfFileWithoutTerminatorIsReadToItsEnd) {
    ws.Write("dnld.sv",
             "SLAVE ID:9\r\nBAUD RATE:4800\r\nREMEMBER PASSWORD:yes\r\nPASSWORD:pw\r\n"
             "PRODUCT NAME:beta\r\nBOOTLOADER VERSION:B1\r\nFIRMWARE VERSION:G1");
    CTarvexDlg& f = Start();
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(f.m_editSlaveID.GetWindowText(), "9");
    EXPECT_EQ(f.m_cmbBaudRate.GetWindowText(), "4800");
    EXPECT_EQ(f.m_editPassword.GetWindowText(), "pw");
    EXPECT_EQ(f.m_cmbProduct.GetWindowText(), "beta");
    EXPECT_EQ(f.m_cmbBootloaderVersion.GetWindowText(), "B1");
    EXPECT_EQ(f.m_cmbFirmwareVersion.GetWindowText(), "G1");
}

TEST_F(SettingsFile, LinesAfterTheTerminatorAreIgnored) {
    ws.Write("dnld.sv", "BAUD RATE:4800\n[EOF]\nBAUD RATE:9600\n");
    CTarvexDlg& f = Start();
    EXPECT_EQ(f.m_cmbBaudRate.GetWindowText(), "4800");
}

TEST_F(SettingsFile, FailedSaveKeepsTheOldFileAndTheForm) {
    CTarvexDlg& f = Start();
    ASSERT_TRUE(f.UserSetText(f.m_editSlaveID, "77"));
    f.SaveSettings(ws / "no-such-folder/dnld.sv");
    EXPECT_EQ(ui.Texts(), Lines{"Error in creating download data file!"});
    EXPECT_EQ(ui.messages[0].kind, MessageKind::Notice);
    EXPECT_EQ(f.m_settings.m_nSlaveID, 1);
}

// A folder the user may not write, holding a settings file the user may write: the file is
// rewritten in place. When the file is not writable either, the save fails and says so.
TEST_F(SettingsFile, UnwritableFolderRewritesTheFileInPlace) {
    ws.Write("locked/dnld.sv", "SLAVE ID:5\n[EOF]");
    ws.Write("locked/other.sv", "SLAVE ID:6\n[EOF]");
    const std::string writable = ws / "locked/dnld.sv";
    const std::string readOnly = ws / "locked/other.sv";
    ASSERT_EQ(::chmod(ws.path().c_str(), 0755), 0);
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(writable.c_str(), 65534, 65534), 0);
        ASSERT_EQ(::chmod(readOnly.c_str(), 0644), 0);
        ASSERT_EQ(::chmod((ws / "locked").c_str(), 0755), 0);
    } else {
        ASSERT_EQ(::chmod(readOnly.c_str(), 0400), 0);
        ASSERT_EQ(::chmod((ws / "locked").c_str(), 0500), 0);
    }
    ASSERT_EQ(::chmod(writable.c_str(), 0644), 0);
    CTarvexDlg& f = Start();
    ASSERT_TRUE(f.UserSetText(f.m_editSlaveID, "77"));
    ui.Clear();
    const bool rewritten = AsUnprivilegedUser([&] {
        f.SaveSettings(writable);
        return ui.messages.empty();
    });
    const bool refused = AsUnprivilegedUser([&] {
        f.SaveSettings(readOnly);
        return ui.Texts() == Lines{"Error in creating download data file!"};
    });
    ASSERT_EQ(::chmod((ws / "locked").c_str(), 0700), 0);
    EXPECT_TRUE(rewritten);
    EXPECT_TRUE(refused);
    EXPECT_EQ(ReadFileText(writable).substr(0, 12), "SLAVE ID:77\n");
    struct stat st {};
    ASSERT_EQ(::stat(writable.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);  // rewritten, not recreated: its mode stays
    EXPECT_EQ(ReadFileText(readOnly), "SLAVE ID:6\n[EOF]");
    for (const auto& entry : std::filesystem::directory_iterator(ws / "locked")) {
        EXPECT_EQ(entry.path().filename().string().find(".dnld.sv"), std::string::npos);
    }
}

TEST_F(SettingsFile, FailedReplaceLeavesNoTemporaryFileBehind) {
    // A folder where the file should be: the new text cannot be renamed into place.
    ws.dir().MakeDir("dnld.sv/inside");
    CTarvexDlg& f = Start();
    ui.Clear();
    f.SaveSettings(SettingsPath());
    EXPECT_EQ(ui.Texts(), Lines{"Error in creating download data file!"});
    for (const auto& entry : std::filesystem::directory_iterator(ws.path())) {
        EXPECT_EQ(entry.path().filename().string().find(".dnld.sv"), std::string::npos)
            << entry.path();
    }
}

// A replaced file keeps its mode, whatever the save writes into it; a symbolic link stays and
// the file it points to is written, keeping its mode too.
TEST_F(SettingsFile, SaveKeepsTheModeOfAnExistingFileAndFollowsALink) {
    ws.Write("dnld.sv", "SLAVE ID:5\n[EOF]");
    ASSERT_EQ(::chmod(SettingsPath().c_str(), 0640), 0);
    CTarvexDlg& f = Start();
    ASSERT_TRUE(f.UserSetText(f.m_editPassword, "4711"));
    ASSERT_TRUE(f.UserClick(f.m_chkRememberPassword));
    f.SaveSettings(SettingsPath());
    struct stat st {};
    ASSERT_EQ(::stat(SettingsPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_NE(ReadFileText(SettingsPath()).find("SLAVE ID:5\n"), std::string::npos);

    const std::string target = ws.Write("shared/settings.txt", "SLAVE ID:8\n[EOF]");
    ASSERT_EQ(::chmod(target.c_str(), 0664), 0);
    std::filesystem::remove(SettingsPath());
    std::filesystem::create_symlink("shared/settings.txt", SettingsPath());
    ASSERT_TRUE(f.UserSetText(f.m_editSlaveID, "9"));
    f.SaveSettings(SettingsPath());
    EXPECT_TRUE(std::filesystem::is_symlink(SettingsPath()));
    EXPECT_EQ(ReadFileText(target).substr(0, 11), "SLAVE ID:9\n");
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0664u);
    EXPECT_TRUE(ui.messages.empty());
}

// A new file is for its owner's eyes only when it holds a remembered password; otherwise it
// gets the mode the umask gives, as any file the user creates.
TEST_F(SettingsFile, NewFileIsPrivateOnlyWithARememberedPassword) {
    struct Case {
        const char* name;
        bool remember;
        const char* password;
        mode_t expected;
    };
    const Case cases[] = {
        {"remembered password", true, "4711", 0600},
        {"password not remembered", false, "4711", 0644},
        {"nothing to remember", true, "", 0644},
        {"the fixed password, no secret", true, "5826", 0644},
    };
    const mode_t umaskWas = ::umask(022);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(SettingsPath());
        CTarvexDlg& f = Start();
        ASSERT_TRUE(f.UserSetText(f.m_editPassword, c.password));
        if (f.m_chkRememberPassword.GetCheck() != c.remember) {
            ASSERT_TRUE(f.UserClick(f.m_chkRememberPassword));
        }
        f.SaveSettings(SettingsPath());
        struct stat st {};
        ASSERT_EQ(::stat(SettingsPath().c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, c.expected);
    }
    ::umask(umaskWas);
}

// A service team's folder: the folder and dnld.sv belong to the team's group, which may read
// and write both. A member who does not own the file saves: the rename works, and mode and
// group survive, so that the next member still reads the settings. A writer outside the group
// cannot give the new file that group: where the group's bits matter the save fails and the old
// file stays; where they do not, the save goes on. Accounts are made by a forked child giving
// up root, so this runs as root only (as in CI); without root no second account exists.
TEST_F(SettingsFile, SharedFolderKeepsModeAndGroupWhenAnotherMemberSaves) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to act as several accounts";
    }
    constexpr gid_t kTeam = 4242;
    constexpr uid_t kOwner = 4301;
    constexpr uid_t kMember = 4302;
    constexpr uid_t kOutsider = 4303;
    constexpr gid_t kOwnGroup = 4399;  // every account's primary group, not the team
    struct Case {
        const char* name;
        uid_t writer;
        mode_t mode;
        bool saved;
        gid_t groupAfter;
    };
    const Case cases[] = {
        {"a member", kMember, 0660, true, kTeam},
        {"a member, set-group-ID file", kMember, 02660, true, kTeam},
        {"an outsider where the group may read", kOutsider, 0664, false, kTeam},
        {"an outsider where the group may not", kOutsider, 0606, true, kOwnGroup},
    };
    ASSERT_EQ(::chmod(ws.path().c_str(), 0755), 0);
    const std::string folder = ws.dir().MakeDir("team");
    ASSERT_EQ(::chown(folder.c_str(), kOwner, kTeam), 0);
    ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);
    const std::string path = folder + "/dnld.sv";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ws.Write("team/dnld.sv", "SLAVE ID:5\n[EOF]");
        ASSERT_EQ(::chown(path.c_str(), kOwner, kTeam), 0);
        ASSERT_EQ(::chmod(path.c_str(), c.mode), 0);
        CTarvexDlg& f = Start();
        ASSERT_TRUE(f.UserSetText(f.m_editSlaveID, "77"));
        ui.Clear();
        const std::vector<gid_t> groups =
            c.writer == kMember ? std::vector<gid_t>{kTeam} : std::vector<gid_t>{};
        EXPECT_TRUE(AsAccount(c.writer, kOwnGroup, groups, [&] {
            f.SaveSettings(path);
            return ui.messages.empty() == c.saved;
        }));
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, c.mode);
        EXPECT_EQ(st.st_gid, c.groupAfter);
        EXPECT_EQ(st.st_uid, c.saved ? c.writer : kOwner);
        EXPECT_EQ(ReadFileText(path).substr(0, 12), c.saved ? "SLAVE ID:77\n" : "SLAVE ID:5\n[");
        if (c.groupAfter == kTeam) {
            // The next member of the team, not the writer, reads what was saved.
            EXPECT_TRUE(AsAccount(kOwner + 10, kOwnGroup, {kTeam},
                                  [&] { return platform::ReadTextLines(path).has_value(); }));
        }
    }
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        EXPECT_EQ(entry.path().filename().string(), "dnld.sv") << "temporary file left";
    }
}

// Temporary files of earlier saves that were cut short are removed; one that another save is
// writing right now (it holds its lock) and other names are left alone.
TEST_F(SettingsFile, SaveRemovesTheTemporaryFilesOfEarlierSaves) {
    const std::string left1 = ws.Write(".dnld.sv.a1B2c3", "PASSWORD:one");
    const std::string left2 = ws.Write(".dnld.sv.ZZZZZZ", "PASSWORD:two");
    const std::string busy = ws.Write(".dnld.sv.busy01", "PASSWORD:three");
    const std::string other = ws.Write(".dnld.sv.bak", "kept");
    const std::string longer = ws.Write(".dnld.sv.a1B2c3d", "kept");
    const int held = ::open(busy.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    CTarvexDlg& f = Start();
    f.SaveSettings(SettingsPath());
    ::close(held);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_FALSE(std::filesystem::exists(left1));
    EXPECT_FALSE(std::filesystem::exists(left2));
    EXPECT_TRUE(std::filesystem::exists(busy));
    EXPECT_TRUE(std::filesystem::exists(other));
    EXPECT_TRUE(std::filesystem::exists(longer));
    EXPECT_TRUE(std::filesystem::exists(SettingsPath()));
}

TEST_F(SettingsFile, UnreadableFileKeepsTheValuesAndSaysSo) {
    ws.Write("dnld.sv", "SLAVE ID:5\n[EOF]");
    ASSERT_EQ(::chmod(SettingsPath().c_str(), 0), 0);
    if (::access(SettingsPath().c_str(), R_OK) == 0) {
        GTEST_SKIP() << "running with privileges that read any file";
    }
    CTarvexDlg& f = Start();
    EXPECT_EQ(ui.Texts(), Lines{"Error in reading deafult download settings!"});
    EXPECT_EQ(f.m_settings.m_nSlaveID, 1);
    EXPECT_EQ(f.m_settings.m_strComPort, "");
}

}  // namespace
}  // namespace tarvex::test
