// A form started headless in a workspace built for the test, with a small catalogue:
//
//   Alpha (code 7)  V1.0-A  firmware F1.0, F1.1   codes 1, 0    slave ID "1", password "1", bin
//                   V2.0-B  firmware F2.0..F2.2   codes 1, 1    slave ID "0", password "0", abc
//   beta  (code 9)  B1      firmware G1           code 3        slave ID "2", password "2", bbin
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/RecordingUi.h"
#include "support/Workspace.h"
#include "ui/TarvexDlg.h"

namespace tarvex::test {

inline ProductSpec AlphaProduct() {
    return {.name = "Alpha",
            .productCode = 7,
            .versions = {{.name = "V1.0-A",
                          .firmwareList = "F1.0,F1.1,",
                          .formatList = "1,0",
                          .frameSize = 128,
                          .frameSizeUsb = 512},
                         {.name = "V2.0-B",
                          .firmwareList = "F2.0,F2.1,F2.2",
                          .formatList = "1,1",
                          .frameSize = 256,
                          .frameSizeUsb = 1024,
                          .passwordSupport = "0",
                          .slaveIdSupport = "0",
                          .binExtension = "abc"}}};
}

inline ProductSpec BetaProduct() {
    return {.name = "beta",
            .productCode = 9,
            .versions = {{.name = "B1",
                          .firmwareList = "G1",
                          .formatList = "3",
                          .passwordSupport = "2",
                          .slaveIdSupport = "2",
                          .binExtension = "bbin"}}};
}

class FormTest : public ::testing::Test {
  protected:
    void AddStandardCatalogue() {
        ws.AddProduct(AlphaProduct());
        ws.AddProduct(BetaProduct());
    }

    // Builds the form and runs its start-up, as the dialog does when its window exists.
    CTarvexDlg& Start(std::vector<std::string> ports = {}) {
        form = std::make_unique<CTarvexDlg>(info, ui, ws.Environment(std::move(ports)));
        form->OnInitDialog();
        return *form;
    }

    bool Select(ComboBox& list, std::string_view text) { return SelectEntry(*form, list, text); }

    // Product, bootloader version and firmware version chosen as a person would.
    void Choose(std::string_view product, std::string_view bootloader,
                std::string_view firmware = {}) {
        ASSERT_TRUE(Select(form->m_cmbProduct, product));
        ASSERT_TRUE(Select(form->m_cmbBootloaderVersion, bootloader));
        if (!firmware.empty()) {
            ASSERT_TRUE(Select(form->m_cmbFirmwareVersion, firmware));
        }
    }

    Workspace ws;
    RecordingUi ui;
    CDownloadInfo info;
    std::unique_ptr<CTarvexDlg> form;
};

}  // namespace tarvex::test
