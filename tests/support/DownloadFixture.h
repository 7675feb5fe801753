// Downloads from a real form to the simulated panel over a pseudo-terminal.
//
//   DownloadRig       a workspace with the download catalogue, DnldData.txt and a container at
//                     project/H1.bin; starts tarvex-panel-sim with its output in panel/
//   DownloadFixture   a gtest fixture around a rig and a headless form: StartForm() runs the
//                     start-up and makes the usual choices as a person would, Download() presses
//                     the button and checks that the scheduling priority is back as it was;
//                     every frame written and every reply read is kept in `line`
//
// The catalogue ("Panel", product code 42):
//   V1.3-7   firmware F2.9 (format 1), F3.1 (format 0)   packets 16 bytes serial, 32 USB
//   V2.0-1   firmware F2.0 (0)                           no slave ID (DNLDCMDSLAVEIDSUPPORT 0)
//   V3.0-1   firmware F2.0 (0)                           packet size 0
// and "Other" (product code 43), version W1-1.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ProcessPriority.h"
#include "support/ContainerBuilder.h"
#include "support/PanelSimProcess.h"
#include "support/RecordingUi.h"
#include "support/Workspace.h"
#include "ui/TarvexDlg.h"

namespace tarvex::test {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint8_t kPanelProductCode = 42;
inline constexpr std::uint16_t kSerialPacketSize = 16;
inline constexpr std::uint16_t kUsbPacketSize = 32;

ProductSpec PanelProduct();
ProductSpec OtherProduct();

// A request frame as it went over the line.
struct WireFrame {
    std::uint8_t slave = 0;
    char letter = 0;  // 'Q', 'R' or 'P'
    std::uint16_t parameter = 0;
    Bytes payload;
    bool crcOk = false;
    std::size_t size = 0;
};

// Splits a request frame into its fields; nothing for fewer than six bytes.
std::optional<WireFrame> ParseWireFrame(const Bytes& bytes);

// Item-and-action codes of the frames a download writes.
inline constexpr std::uint16_t kOverCode = 0x0200;
inline constexpr std::uint16_t kCancelCode = 0x0300;

class DownloadRig {
  public:
    DownloadRig();

    // Rewrites DnldData.txt: product Panel, application Line-7, the given HMI type.
    void WriteDownloadData(std::string_view hmiType);

    // Writes the container to project/H1.bin.
    void WriteContainer(const ContainerParts& parts);
    void WriteContainerBytes(const Bytes& bytes);

    // Starts the simulated panel; its stored items go to panel/.
    PanelSimProcess& StartPanel(std::vector<std::string> options = {});
    const std::string& PanelPort() const { return sim_->port(); }

    // The files the panel stored with the extension ("bin": data, "info": the block), in order
    // of arrival; an item refused before its description has none.
    std::vector<Bytes> PanelFiles(std::string_view extension) const;

    Workspace ws;
    std::string panelDir;

  private:
    std::unique_ptr<PanelSimProcess> sim_;
};

// What the transfer ticks; Application alone unless a test says otherwise.
struct Ticks {
    bool application = true;
    bool bitmap = false;
    bool font = false;
    bool recipe = false;
};

// The choices the tables of cases use.
inline constexpr Ticks kApplicationOnly{};
inline constexpr Ticks kApplicationAndBitmap{.application = true, .bitmap = true};
inline constexpr Ticks kApplicationAndRecipe{.application = true, .recipe = true};
inline constexpr Ticks kBitmapOnly{.application = false, .bitmap = true};
inline constexpr Ticks kFontOnly{.application = false, .font = true};
inline constexpr Ticks kRecipeOnly{.application = false, .recipe = true};

class DownloadFixture : public ::testing::Test {
  protected:
    // Starts the form with these ports listed (default: the panel's), chooses Panel, the version
    // and the firmware, and fills in slave ID and password.
    CTarvexDlg& StartForm(std::vector<std::string> ports = {},
                          std::string_view bootloader = "V1.3-7",
                          std::string_view firmware = "F3.1");
    bool Select(ComboBox& list, std::string_view text) { return SelectEntry(*form, list, text); }
    void Tick(const Ticks& ticks);

    // Presses Download on a thread of its own (a raised priority stays there) and checks that
    // the thread's scheduling policy, real-time priority and nice value are back as before.
    void Download();

    // Frames the tool wrote, parsed, in order; replies are left out.
    std::vector<WireFrame> Written() const;
    int CountWritten(char letter, std::uint16_t parameter) const;
    std::vector<std::string> Texts() const { return ui.Texts(); }
    bool Shown(std::string_view text) const;

    // Runs on the form's environment before the form is built (e.g. another timing log path).
    std::function<void(FormEnvironment&)> adjustEnvironment;

    DownloadRig rig;
    RecordingUi ui;
    CDownloadInfo info;
    std::unique_ptr<CTarvexDlg> form;

    struct LineEvent {
        bool written;
        Bytes bytes;
    };
    std::vector<LineEvent> line;
    platform::SavedPriority priorityBefore;
};

// A download test run once for every case of a table.
template <typename Case>
class DownloadCases : public DownloadFixture, public ::testing::WithParamInterface<Case> {};

}  // namespace tarvex::test
