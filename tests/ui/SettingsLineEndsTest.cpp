// The settings file in the system's own line ends: written with CR LF on Windows and LF
// elsewhere, and read back whichever of the two a file has, with the file system in between.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Files.h"
#include "support/TempDir.h"
#include "ui/DnldSettings.h"

namespace tarvex::test {
namespace {

SettingsFileValues SampleValues() {
    SettingsFileValues v;
    v.slaveIdText = "7";
    v.comPort = "COM3";
    v.baudRate = "115200";
    v.parity = "Even";
    v.wordLength = "7";
    v.stopBits = "1";
    v.rememberPassword = true;
    v.password = "p:w";
    v.productName = "H1";
    v.bootloaderVersion = "BL1.2-1";
    v.firmwareVersion = "FW1.5";
    v.binFilePath = "project/H1.bin";
    return v;
}

// Every line break of text, each as it was written.
std::vector<std::string> LineBreaks(const std::string& text) {
    std::vector<std::string> breaks;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            breaks.push_back(i > 0 && text[i - 1] == '\r' ? "\r\n" : "\n");
        }
    }
    return breaks;
}

TEST(SettingsLineEnds, WrittenInTheSystemsLineEndsAndReadBackInEither) {
    // Windows writes CR LF, every other system LF.
    EXPECT_EQ(std::string(platform::kLineEnd), platform::kPathSeparator == '\\' ? "\r\n" : "\n");

    const std::string system = FormatSettingsFile(SampleValues());
    EXPECT_EQ(LineBreaks(system), std::vector<std::string>(12, platform::kLineEnd));
    EXPECT_EQ(system.substr(system.size() - 5), "[EOF]");

    TempDir dir;
    for (const char* lineEnd : {"\n", "\r\n"}) {
        const std::string path = dir / "dnld.sv";
        ASSERT_TRUE(platform::ReplaceFileKeepingAccess(
            path, FormatSettingsFile(SampleValues(), lineEnd), platform::NewFileAccess::OwnerOnly));
        EXPECT_EQ(LineBreaks(ReadFileText(path)), std::vector<std::string>(12, lineEnd));
        const auto lines = platform::ReadTextLines(path);
        ASSERT_TRUE(lines.has_value());
        SettingsFields f;
        ApplySettingsLines(*lines, f);
        EXPECT_EQ(f.record.m_nSlaveID, 7);
        EXPECT_EQ(f.record.m_strComPort, "COM3");
        EXPECT_EQ(f.record.m_strStopBits, "1");
        EXPECT_TRUE(f.rememberPassword);
        EXPECT_EQ(f.record.m_strSavedPassword, "p:w");
        EXPECT_EQ(f.bootloaderVersion, "BL1.2-1");
        EXPECT_EQ(f.binFilePath, "project/H1.bin") << "a CR left in the last value";
    }
}

}  // namespace
}  // namespace tarvex::test
