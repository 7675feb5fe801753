#include "support/DownloadFixture.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "support/HandFrames.h"

namespace tarvex::test {

ProductSpec PanelProduct() {
    return {.name = "Panel",
            .productCode = kPanelProductCode,
            .versions = {{.name = "V1.3-7",
                          .firmwareList = "F2.9,F3.1",
                          .formatList = "1,0",
                          .frameSize = kSerialPacketSize,
                          .frameSizeUsb = kUsbPacketSize},
                         {.name = "V2.0-1",
                          .firmwareList = "F2.0",
                          .formatList = "0",
                          .frameSize = kSerialPacketSize,
                          .frameSizeUsb = kUsbPacketSize,
                          .slaveIdSupport = "0"},
                         {.name = "V3.0-1",
                          .firmwareList = "F2.0",
                          .formatList = "0",
                          .frameSize = 0,
                          .frameSizeUsb = 0}}};
}

ProductSpec OtherProduct() {
    return {.name = "Other",
            .productCode = kPanelProductCode + 1,
            .versions = {{.name = "W1-1", .firmwareList = "X1", .formatList = "0"}}};
}

std::optional<WireFrame> ParseWireFrame(const Bytes& bytes) {
    if (bytes.size() < 6) {
        return std::nullopt;
    }
    WireFrame f;
    f.size = bytes.size();
    f.slave = bytes[0];
    f.letter = static_cast<char>(bytes[1]);
    f.parameter = static_cast<std::uint16_t>(bytes[2] | (bytes[3] << 8));
    f.payload.assign(bytes.begin() + 4, bytes.end() - 2);
    f.crcOk = CrcGood(bytes);
    return f;
}

DownloadRig::DownloadRig() {
    ws.AddProduct(PanelProduct());
    ws.AddProduct(OtherProduct());
    WriteDownloadData("USER_HMI");
    panelDir = ws.dir().MakeDir("panel");
}

void DownloadRig::WriteDownloadData(std::string_view hmiType) {
    ws.WriteDownloadData("Panel", ws / "project/", "Line-7", hmiType);
}

void DownloadRig::WriteContainer(const ContainerParts& parts) {
    WriteContainerBytes(BuildContainer(parts));
}

void DownloadRig::WriteContainerBytes(const Bytes& bytes) {
    ws.WriteBytes("project/H1.bin", bytes);
}

PanelSimProcess& DownloadRig::StartPanel(std::vector<std::string> options) {
    options.insert(options.begin(), {"--out", panelDir});
    sim_ = std::make_unique<PanelSimProcess>(options);
    if (sim_->port().empty()) {
        throw std::runtime_error("the simulated panel did not start");
    }
    return *sim_;
}

std::vector<Bytes> DownloadRig::PanelFiles(std::string_view extension) const {
    const std::string suffix = "." + std::string(extension);
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(panelDir)) {
        const std::string name = entry.path().filename().string();
        if (name.size() > suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
            names.push_back(entry.path().string());
        }
    }
    std::sort(names.begin(), names.end());  // the two-digit index leads every name
    std::vector<Bytes> files;
    for (const std::string& path : names) {
        files.push_back(ReadFileBytes(path));
    }
    return files;
}

CTarvexDlg& DownloadFixture::StartForm(std::vector<std::string> ports, std::string_view bootloader,
                                       std::string_view firmware) {
    if (ports.empty()) {
        ports.push_back(rig.PanelPort());
    }
    FormEnvironment env = rig.ws.Environment(std::move(ports));
    if (adjustEnvironment) {
        adjustEnvironment(env);
    }
    form = std::make_unique<CTarvexDlg>(info, ui, std::move(env));
    form->OnInitDialog();
    form->SetFrameObserver([this](bool written, std::span<const std::uint8_t> bytes) {
        line.push_back({written, Bytes(bytes.begin(), bytes.end())});
    });
    EXPECT_TRUE(Select(form->m_cmbProduct, "Panel"));
    EXPECT_TRUE(Select(form->m_cmbBootloaderVersion, bootloader));
    EXPECT_TRUE(Select(form->m_cmbFirmwareVersion, firmware));
    if (form->m_editSlaveID.IsVisible()) {
        EXPECT_TRUE(form->UserSetText(form->m_editSlaveID, "1"));
    }
    EXPECT_TRUE(form->UserSetText(form->m_editPassword, "4321"));
    return *form;
}

void DownloadFixture::Tick(const Ticks& ticks) {
    const auto set = [this](CheckBox& box, bool wanted) {
        if (box.GetCheck() != wanted) {
            EXPECT_TRUE(form->UserClick(box));
        }
    };
    set(form->m_chkApplication, ticks.application);
    set(form->m_chkBitmap, ticks.bitmap);
    set(form->m_chkFont, ticks.font);
    set(form->m_chkRecipe, ticks.recipe);
}

void DownloadFixture::Download() {
    platform::SavedPriority after;
    bool pressed = false;
    std::thread runner([&] {
        priorityBefore = platform::SaveProcessPriority();
        pressed = form->UserClick(form->m_btnDownload);
        after = platform::SaveProcessPriority();
    });
    runner.join();
    EXPECT_TRUE(pressed);
    EXPECT_TRUE(priorityBefore.valid && after.valid);
    EXPECT_EQ(after.policy, priorityBefore.policy) << "scheduling policy not restored";
    EXPECT_EQ(after.rtPriority, priorityBefore.rtPriority) << "real-time priority not restored";
    EXPECT_EQ(after.niceValue, priorityBefore.niceValue) << "nice value not restored";
    // Every exit leaves the form idle.
    EXPECT_FALSE(form->DownloadRunning());
    EXPECT_FALSE(form->m_bPortOpen);
    EXPECT_FALSE(form->SerialPort().IsOpen());
    EXPECT_TRUE(form->m_btnDownload.IsEnabled());
    EXPECT_TRUE(form->m_btnClose.IsEnabled());
}

std::vector<WireFrame> DownloadFixture::Written() const {
    std::vector<WireFrame> frames;
    for (const LineEvent& event : line) {
        if (event.written) {
            if (auto frame = ParseWireFrame(event.bytes)) {
                frames.push_back(std::move(*frame));
            }
        }
    }
    return frames;
}

int DownloadFixture::CountWritten(char letter, std::uint16_t parameter) const {
    const auto frames = Written();
    return static_cast<int>(std::count_if(frames.begin(), frames.end(), [&](const WireFrame& f) {
        return f.letter == letter && f.parameter == parameter;
    }));
}

bool DownloadFixture::Shown(std::string_view text) const {
    const auto texts = ui.Texts();
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

}  // namespace tarvex::test
