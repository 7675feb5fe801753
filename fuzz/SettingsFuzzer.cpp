// The settings file "dnld.sv" on arbitrary bytes: read as the form reads it (text lines, then the
// key-by-key parse), then written as a save writes it and read back. Whatever a file holds, what
// the form took from it must survive its own save unchanged.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "platform/Files.h"
#include "ui/DnldSettings.h"

namespace {

using namespace tarvex;

SettingsFields ReadBack(fuzz::InputFile& file, std::span<const std::uint8_t> bytes) {
    const std::optional<std::vector<std::string>> lines =
        platform::ReadTextLines(file.Write(bytes));
    fuzz::Require(lines.has_value(), "a written settings file cannot be read");
    SettingsFields fields;
    SetDefaultSettings(fields);
    ApplySettingsLines(*lines, fields);
    return fields;
}

bool SameFields(const SettingsFields& a, const SettingsFields& b) {
    const bool password =
        !a.rememberPassword || a.record.m_strSavedPassword == b.record.m_strSavedPassword;
    return a.record.m_nSlaveID == b.record.m_nSlaveID &&
           a.record.m_strComPort == b.record.m_strComPort &&
           a.record.m_strBaudRate == b.record.m_strBaudRate &&
           a.record.m_strParity == b.record.m_strParity &&
           a.record.m_strWordLength == b.record.m_strWordLength &&
           a.record.m_strStopBits == b.record.m_strStopBits &&
           a.rememberPassword == b.rememberPassword && password && a.productName == b.productName &&
           a.bootloaderVersion == b.bootloaderVersion && a.firmwareVersion == b.firmwareVersion &&
           a.binFilePath == b.binFilePath;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static fuzz::InputFile file("dnld.sv");
    const SettingsFields read = ReadBack(file, std::span(data, size));

    SettingsFileValues values;
    values.slaveIdText = std::to_string(read.record.m_nSlaveID);
    values.comPort = read.record.m_strComPort;
    values.baudRate = read.record.m_strBaudRate;
    values.parity = read.record.m_strParity;
    values.wordLength = read.record.m_strWordLength;
    values.stopBits = read.record.m_strStopBits;
    values.rememberPassword = read.rememberPassword;
    values.password = read.rememberPassword ? read.record.m_strSavedPassword : std::string();
    values.productName = read.productName;
    values.bootloaderVersion = read.bootloaderVersion;
    values.firmwareVersion = read.firmwareVersion;
    values.binFilePath = read.binFilePath;
    const std::string saved = FormatSettingsFile(values);
    const SettingsFields again = ReadBack(
        file, std::span(reinterpret_cast<const std::uint8_t*>(saved.data()), saved.size()));
    fuzz::Require(SameFields(read, again), "a saved settings file reads back differently");
    return 0;
}
