#include "ui/DnldSettings.h"

#include "platform/Text.h"

namespace tarvex {
namespace {

constexpr std::string_view kTerminator = "[EOF]";

// A CR left at the very end of a file whose last line has no LF still belongs to the line end.
std::string_view WithoutLineEnd(std::string_view line) {
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    return line;
}

}  // namespace

void SetDefaultSettings(SettingsFields& fields) {
    fields.record.m_nSlaveID = 1;
    fields.record.m_strComPort = "COM1";
    fields.record.m_strBaudRate = "19200";
    fields.record.m_strParity = "None";
    fields.record.m_strWordLength = "8";
    fields.record.m_strStopBits = "2";
    fields.rememberPassword = false;
    fields.record.m_strSavedPassword.clear();
    fields.bootloaderVersion.clear();
    fields.productName.clear();
    fields.echo = "None";
    fields.rs485 = false;
}

void ApplySettingsLines(const std::vector<std::string>& lines, SettingsFields& fields) {
    fields.bootloaderVersion.clear();
    CDnldSettings& record = fields.record;
    for (const std::string& raw : lines) {
        const std::string_view line = WithoutLineEnd(raw);
        if (line == kTerminator) {
            break;
        }
        const auto colon = line.find(':');
        if (colon == std::string_view::npos) {
            continue;
        }
        const std::string_view key = line.substr(0, colon);
        const std::string value(TrimWhitespace(line.substr(colon + 1)));
        if (key == "SLAVE ID") {
            record.m_nSlaveID = ParseDecimal(value);
        } else if (key == "COM PORT") {
            record.m_strComPort = value;
        } else if (key == "BAUD RATE") {
            record.m_strBaudRate = value;
        } else if (key == "PARITY") {
            record.m_strParity = value;
        } else if (key == "WORD LENGTH") {
            record.m_strWordLength = value;
        } else if (key == "STOP BITS") {
            record.m_strStopBits = value;
        } else if (key == "REMEMBER PASSWORD") {
            if (EqualsIgnoringCase(value, "No")) {
                fields.rememberPassword = false;
            } else if (EqualsIgnoringCase(value, "Yes")) {
                fields.rememberPassword = true;
            }
        } else if (key == "PASSWORD") {
            record.m_strSavedPassword = value;
        } else if (key == "BOOTLOADER VERSION") {
            fields.bootloaderVersion = value;
        } else if (key == "PRODUCT NAME") {
            fields.productName = value;
        } else if (key == "BIN FILE PATH") {
            fields.binFilePath = value;
        } else if (key == "FIRMWARE VERSION") {
            fields.firmwareVersion = value;
        } else if (key == "ECHO") {
            fields.echo = value;
        } else if (key == "RS-485") {
            if (EqualsIgnoringCase(value, "No")) {
                fields.rs485 = false;
            } else if (EqualsIgnoringCase(value, "Yes")) {
                fields.rs485 = true;
            }
        }
    }
}

bool HoldsRememberedPassword(const SettingsFileValues& values) {
    return values.rememberPassword && !values.password.empty() && values.password != kFixedPassword;
}

std::string FormatSettingsFile(const SettingsFileValues& values, std::string_view lineEnd) {
    const std::string end(lineEnd);
    std::string text;
    text += "SLAVE ID:" + values.slaveIdText + end;
    text += "COM PORT:" + values.comPort + end;
    text += "BAUD RATE:" + values.baudRate + end;
    text += "PARITY:" + values.parity + end;
    text += "WORD LENGTH:" + values.wordLength + end;
    text += "STOP BITS:" + values.stopBits + end;
    text += std::string("REMEMBER PASSWORD:") + (values.rememberPassword ? "Yes" : "No") + end;
    // Without Remember Password the password stays off the disk; the key stays for readers that
    // expect it. The fixed password is kept all the same: a version that takes no password of
    // its own gets the field filled from it at the next start, and would otherwise lose it.
    const bool keep = values.rememberPassword || values.password == kFixedPassword;
    text += "PASSWORD:" + (keep ? values.password : std::string()) + end;
    text += "PRODUCT NAME:" + values.productName + end;
    text += "BOOTLOADER VERSION:" + values.bootloaderVersion + end;
    text += "FIRMWARE VERSION:" + values.firmwareVersion + end;
    text += "BIN FILE PATH:" + values.binFilePath + end;
    if (!values.echo.empty() && !EqualsIgnoringCase(values.echo, "None")) {
        text += "ECHO:" + values.echo + end;
    }
    if (values.rs485) {
        text += "RS-485:Yes" + end;
    }
    text += std::string(kTerminator);
    return text;
}

}  // namespace tarvex
