// The Win32 platform layer as Windows (or Wine) runs it: wide paths, the atomic replace, the
// priority class, COM port names and, when TARVEX_TEST_COM names a port that a simulated panel
// serves, the exclusive open of a real COM port.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/Files.h"
#include "platform/ProcessPriority.h"
#include "platform/Text.h"
#include "platform/Time.h"
#include "platform/UniqueHandleWin32.h"
#include "platform/Utf16Win32.h"
#include "serial/PortProbe.h"
#include "serial/SerialPort.h"
#include "support/RecordingUi.h"
#include "support/TempDir.h"

namespace tarvex::platform {
namespace {

using test::TempDir;

TEST(PathsWin32, SeparatorsAndRoots) {
    EXPECT_EQ(kPathSeparator, '\\');
    EXPECT_EQ(LastSeparator("C:\\a/b\\c.bin"), 6u);
    EXPECT_EQ(LastSeparator("C:\\a\\bc/d.bin"), 7u);
    EXPECT_EQ(LastSeparator("c.bin"), std::string::npos);
    EXPECT_EQ(JoinPath("C:\\ws", "dnld.sv"), "C:\\ws\\dnld.sv");
    EXPECT_EQ(JoinPath("C:/ws/", "dnld.sv"), "C:/ws/dnld.sv");
    for (const char* absolute : {"C:\\x", "c:/x", "\\\\server\\share\\x", "\\x"}) {
        EXPECT_TRUE(IsAbsolutePath(absolute)) << absolute;
    }
    for (const char* relative : {"x", "C:x", "project\\H1.bin", ""}) {
        EXPECT_FALSE(IsAbsolutePath(relative)) << relative;
    }
}

// A workspace under a folder whose name is not ASCII: every call goes through UTF-16.
TEST(FilesWin32, WorkspaceUnderNonAsciiFolder) {
    TempDir dir;
    const std::string folder = JoinPath(dir.path(),
                                        "Pr\xC3\xBC"
                                        "fstand-\xCE\xA9");
    ASSERT_TRUE(::CreateDirectoryW(Widen(folder).c_str(), nullptr));
    const std::string settings = JoinPath(folder, "dnld.sv");

    ASSERT_TRUE(WriteFileAtomically(settings, "COM PORT:COM3\r\n"));
    EXPECT_TRUE(FileExists(settings));
    ASSERT_TRUE(WriteFileAtomically(settings, "COM PORT:COM4\r\nBAUD RATE:115200"));
    const auto lines = ReadTextLines(settings);
    ASSERT_TRUE(lines.has_value());
    EXPECT_EQ(*lines, (std::vector<std::string>{"COM PORT:COM4", "BAUD RATE:115200"}));

    EXPECT_EQ(FindFileIgnoringCase(folder, "DNLD.SV"), settings);
    const auto entries = ListEntriesWithExtension(folder, "SV");
    ASSERT_EQ(entries.size(), 1u);  // no temporary file left behind
    EXPECT_EQ(entries[0].name, "dnld.sv");
    EXPECT_TRUE(entries[0].isRegularFile);

    // A target that cannot be replaced (a folder) fails and leaves nothing behind.
    const std::string blocked = JoinPath(folder, "blocked.sv");
    ASSERT_TRUE(::CreateDirectoryW(Widen(blocked).c_str(), nullptr));
    EXPECT_FALSE(WriteFileAtomically(blocked, "x"));
    EXPECT_EQ(ListEntriesWithExtension(folder, "tmp").size(), 0u);

    const FileBytes bytes = ReadWholeFile(settings, 10);
    EXPECT_EQ(bytes.error, ReadError::TooLarge);
    EXPECT_EQ(ReadWholeFile(JoinPath(folder, "none"), 10).error, ReadError::CannotOpen);
}

// The settings file is replaced whole or not at all. Another program holding it open (here
// without sharing its deletion, as editors and virus scanners do) makes the move over it fail;
// writing into the file instead would let that program read half a file, so the save fails
// and the old file stays as it was, with no temporary file left beside it.
TEST(FilesWin32, SettingsFileHeldOpenElsewhereIsNotRewrittenInPlace) {
    TempDir dir;
    const std::string settings = JoinPath(dir.path(), "dnld.sv");
    const std::string old = "SLAVE ID:5\r\nCOM PORT:COM3\r\nBAUD RATE:115200\r\n[EOF]";
    ASSERT_TRUE(WriteFileAtomically(settings, old));
    {
        UniqueHandle holder(::CreateFileW(Widen(settings).c_str(), FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(holder.valid());
        EXPECT_FALSE(
            ReplaceFileKeepingAccess(settings, "SLAVE ID:6\r\n[EOF]", NewFileAccess::Usual));
        EXPECT_EQ(test::ReadFileText(settings), old);
    }
    EXPECT_EQ(ListEntriesWithExtension(dir.path(), "tmp").size(), 0u);
    // Once nobody holds it, the same save replaces it.
    EXPECT_TRUE(ReplaceFileKeepingAccess(settings, "SLAVE ID:6\r\n[EOF]", NewFileAccess::Usual));
    EXPECT_EQ(test::ReadFileText(settings), "SLAVE ID:6\r\n[EOF]");
}

TEST(ProcessPriorityWin32, RaiseTellsTheClassAndRestoreBringsItBack) {
    const SavedPriority saved = SaveProcessPriority();
    ASSERT_TRUE(saved.valid);
    const RaisedPriority raised = RaiseProcessPriority();
    const DWORD now = ::GetPriorityClass(::GetCurrentProcess());
    switch (raised) {
        case RaisedPriority::RealTime:
            EXPECT_EQ(now, static_cast<DWORD>(REALTIME_PRIORITY_CLASS));
            break;
        case RaisedPriority::High:
            EXPECT_EQ(now, static_cast<DWORD>(HIGH_PRIORITY_CLASS));
            break;
        default:
            ADD_FAILURE() << "no class granted";
    }
    RestoreProcessPriority(saved);
    EXPECT_EQ(::GetPriorityClass(::GetCurrentProcess()), static_cast<DWORD>(saved.policy));
}

TEST(TimeWin32, PausesLastAtLeastTheirTimeAndCallTheHook) {
    const auto start = std::chrono::steady_clock::now();
    const std::uint32_t ticks = TickCount();
    int calls = 0;
    PauseMs(120, [&calls] { ++calls; });
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(120));
    EXPECT_GE(calls, 3);
    EXPECT_GE(TickCount() - ticks, 100u);  // GetTickCount moves in steps of up to 16 ms
}

}  // namespace
}  // namespace tarvex::platform

namespace tarvex {
namespace {

TEST(SerialPortWin32, ComNamesOpenThroughTheDevicePrefix) {
    EXPECT_EQ(DevicePathForPortName("COM3"), "\\\\.\\COM3");
    EXPECT_EQ(DevicePathForPortName("com12"), "\\\\.\\COM12");
    EXPECT_EQ(DevicePathForPortName("COM0"), "COM0");
    EXPECT_EQ(DevicePathForPortName("\\\\.\\COM7"), "\\\\.\\COM7");
}

TEST(SerialPortWin32, MissingPortIsNotFound) {
    test::RecordingUi ui;
    CSerialPort port(ui);
    EXPECT_FALSE(port.Open("COM250"));
    EXPECT_EQ(port.LastError(), SerialError::NotFound);
    EXPECT_FALSE(port.IsOpen());
    port.Close();
    port.Close();
}

// Needs a port served by a simulated panel: scripts/test-windows maps one and names it here.
TEST(SerialPortWin32, PortIsHeldExclusivelyAndRestoredAtClose) {
    const char* name = std::getenv("TARVEX_TEST_COM");
    if (name == nullptr || *name == '\0') {
        GTEST_SKIP() << "TARVEX_TEST_COM names no port";
    }
    test::RecordingUi ui;
    CSerialPort port(ui);
    ASSERT_TRUE(port.Open(name)) << SerialErrorText(port.LastError());
    CSerialPort second(ui);
    EXPECT_FALSE(second.Open(name));
    EXPECT_EQ(second.LastError(), SerialError::Busy);

    const std::vector<PortInfo> ports = ProbePorts(ProbeOptions{});
    const auto listed = std::find_if(ports.begin(), ports.end(), [&](const PortInfo& p) {
        return EqualsIgnoringCase(p.path, name);
    });
    ASSERT_NE(listed, ports.end()) << "the held port is listed";
    EXPECT_FALSE(listed->opens);
    EXPECT_EQ(listed->error, SerialError::Busy);

    ASSERT_TRUE(port.ConfigureLine(115200, 8, 0, 0, 2)) << SerialErrorText(port.LastError());
    ASSERT_TRUE(port.SetTimeouts(0, 0, 200, 0, 0));
    // Nothing is sent, so the read ends at its total time-out with nothing, running the hook.
    int idleCalls = 0;
    port.SetIdleHook([&idleCalls] { ++idleCalls; });
    std::uint8_t reply[4];
    std::size_t got = 99;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(port.ReadBlock(reply, sizeof reply, got));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(got, 0u);
    EXPECT_GE(took, std::chrono::milliseconds(195));
    EXPECT_GE(idleCalls, 4);
    port.Close();
    port.Close();
    ASSERT_TRUE(second.Open(name));
}

}  // namespace
}  // namespace tarvex
