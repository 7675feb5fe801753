// The download settings file "dnld.sv": the last used slave ID, line settings, password,
// selection and bin file, so that the form comes up the way the user left it.
//
//   CDnldSettings                the settings record the form holds
//   SettingsFields               the record and the five persisted fields kept beside it
//   SetDefaultSettings(f)        the values used when there is no file
//   ApplySettingsLines(lines, f) the lines of a file, applied key by key
//   FormatSettingsFile(values)   the text of a file, as a save writes it
//
// The file is twelve "KEY:value" lines and a terminator "[EOF]", and before the terminator the
// two-wire line's options where they differ from the defaults: "ECHO:Discard" or "ECHO:Verify"
// (the Echo list's text) and "RS-485:Yes". A file without them means no echo and no RS-485
// direction control, so older files load as before and a form with the defaults writes them
// unchanged. Keys are compared exactly,
// values have white space removed at both ends, and a later line of the same key wins. The
// reader takes LF and CR LF line ends; the writer writes the system's own (CR LF on Windows,
// where Notepad and the system's tools expect it, LF elsewhere). The functions here touch no file:
// the form reads and writes the file and moves the values in and out of its controls.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Files.h"

namespace tarvex {

inline constexpr char kSettingsFileName[] = "dnld.sv";

// The version-independent password of panels whose firmware takes no download password of its
// own: the catalogue offers it for such a version, and the file keeps it even without Remember
// Password. No secret.
inline constexpr std::string_view kFixedPassword = "5826";

class CDnldSettings {
  public:
    std::int32_t m_nSlaveID = 1;
    std::string m_strComPort;
    std::string m_strBaudRate;
    std::string m_strParity;
    std::string m_strWordLength;
    std::string m_strStopBits;
    std::string m_strSavedPassword;  // kept in plain text: the panel expects it as typed
};

struct SettingsFields {
    CDnldSettings record;
    bool rememberPassword = false;
    std::string productName;
    std::string bootloaderVersion;
    std::string firmwareVersion;
    std::string binFilePath;
    std::string echo = "None";  // the Echo list's text: None, Discard or Verify
    bool rs485 = false;
};

// Slave ID 1, COM1 at 19200 baud, no parity, 8 data bits, 2 stop bits, no password remembered,
// no product or bootloader version, no echo and no RS-485. The firmware version and bin file
// path keep their values.
void SetDefaultSettings(SettingsFields& fields);

// Applies the lines of a settings file (line ends removed) up to the first line that is
// exactly "[EOF]". The bootloader version is cleared first, so a file without that key leaves
// it empty; every other field keeps its value unless a line sets it.
void ApplySettingsLines(const std::vector<std::string>& lines, SettingsFields& fields);

// What a save writes: the texts as the form shows them.
struct SettingsFileValues {
    std::string slaveIdText;
    std::string comPort;
    std::string baudRate;
    std::string parity;
    std::string wordLength;
    std::string stopBits;
    bool rememberPassword = false;
    std::string password;
    std::string productName;
    std::string bootloaderVersion;
    std::string firmwareVersion;
    std::string binFilePath;
    std::string echo;  // written unless empty or None
    bool rs485 = false;
};

// Whether the file text holds a password that is a secret: one remembered by the user. The
// fixed password is none.
bool HoldsRememberedPassword(const SettingsFileValues& values);

// The file text: the twelve lines in their fixed order, each ended by lineEnd, the two-wire
// options that are not the defaults, then "[EOF]" with no line end after it. The PASSWORD line
// is empty unless rememberPassword is set.
std::string FormatSettingsFile(const SettingsFileValues& values,
                               std::string_view lineEnd = platform::kLineEnd);

}  // namespace tarvex
