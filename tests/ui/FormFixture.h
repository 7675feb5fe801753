// A form started headless in a workspace built for the test, with the small catalogue of
// support/FormCatalogue.h.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/FormCatalogue.h"
#include "support/RecordingUi.h"
#include "support/Workspace.h"
#include "ui/TarvexDlg.h"

namespace tarvex::test {

class FormTest : public ::testing::Test {
  protected:
    void AddStandardCatalogue() { test::AddStandardCatalogue(ws); }

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

    // What the slave ID field and the port and line lists show, in the settings file's order.
    static std::vector<std::string> LineControls(const CTarvexDlg& f) {
        return {f.m_editSlaveID.GetWindowText(), f.m_cmbComPort.GetWindowText(),
                f.m_cmbBaudRate.GetWindowText(), f.m_cmbParity.GetWindowText(),
                f.m_cmbDataBits.GetWindowText(), f.m_cmbStopBits.GetWindowText()};
    }

    Workspace ws;
    RecordingUi ui;
    CDownloadInfo info;
    std::unique_ptr<CTarvexDlg> form;
};

}  // namespace tarvex::test
