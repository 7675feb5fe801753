// A start-up directory for a form, built in a fresh temporary folder: the catalogue folders Pxx
// and Vxx with one configuration and one bootloader-version file per product, the download
// data file "DnldData.txt", the settings file "dnld.sv" and bin files.
//
//   Workspace ws;
//   ws.AddProduct({.name = "HMI-A", .productCode = 7, .versions = {{.name = "BL1", ...}}});
//   ws.WriteDownloadData("HMI-A", ws / "project/");
//   CTarvexDlg form(info, ui, ws.Environment({pty.slavePath()}));
//
// Environment() points the port probe at an empty sysfs, so that only the ports a test names
// appear in the Com Port list, and the timing log into the workspace.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/TempDir.h"
#include "ui/TarvexDlg.h"

namespace tarvex::test {

// One version section of a configuration file and the matching bootloader version.
struct VersionSpec {
    std::string name{};          // VERSIONNAME, and the bootloader version's name
    std::string firmwareList{};  // comma list of firmware versions, as written
    std::string formatList{};    // comma list of firmware format codes, as written
    std::uint32_t frameSize = 128;
    std::uint32_t frameSizeUsb = 512;
    std::uint32_t uploadFrameSize = 64;
    std::string passwordSupport = "1";  // DNLDPSWDSUPPORT
    std::string slaveIdSupport = "1";   // DNLDCMDSLAVEIDSUPPORT
    std::string binExtension = "bin";   // DNLDBINEXTENTION
};

struct ProductSpec {
    std::string name{};
    std::uint32_t productCode = 1;
    std::vector<VersionSpec> versions{};
};

// The text of the product's configuration file (Pxx) and bootloader-version file (Vxx).
std::string CfgFileText(const ProductSpec& product);
std::string BootLoaderFileText(const ProductSpec& product);

// "KEY:value" lines and the terminator, LF line ends.
std::string SettingsFileText(const std::vector<std::pair<std::string, std::string>>& pairs);

// Picks the list's entry that reads `text` as a person would; a test failure when there is none.
bool SelectEntry(CTarvexDlg& form, ComboBox& list, std::string_view text);

class Workspace {
  public:
    Workspace();

    const std::string& path() const { return dir_.path(); }
    std::string operator/(std::string_view relative) const { return dir_ / relative; }
    const TempDir& dir() const { return dir_; }

    // Writes Pxx/<name>.CFG and Vxx/<name>.CFG (either can be left out).
    void AddProduct(const ProductSpec& product, bool withCfgFile = true,
                    bool withBootLoaderFile = true);

    // "DnldData.txt": product, project folder, application name, three unused lines, HMI type.
    void WriteDownloadData(std::string_view product, std::string_view binFileDir,
                           std::string_view applicationName = "App",
                           std::string_view hmiType = "USER_HMI");
    void WriteSettings(const std::vector<std::pair<std::string, std::string>>& pairs);

    std::string Write(std::string_view relative, std::string_view content) const {
        return dir_.Write(relative, content);
    }
    std::string WriteBytes(std::string_view relative,
                           const std::vector<std::uint8_t>& bytes) const {
        return dir_.WriteBytes(relative, bytes);
    }

    FormEnvironment Environment(std::vector<std::string> extraPorts = {}) const;

  private:
    TempDir dir_;
    TempDir sysfs_;
};

}  // namespace tarvex::test
