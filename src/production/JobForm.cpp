#include "production/JobForm.h"

#include <algorithm>
#include <array>

#include "platform/Files.h"

namespace tarvex::production {
namespace {

std::string Usable(const Control& control, std::string text) {
    return control.IsVisible() && control.IsEnabled() ? text : std::string();
}

bool Choose(CTarvexDlg& form, ComboBox& list, const std::string& value, const char* what,
            std::string& why) {
    if (value.empty()) {
        return true;
    }
    const int index = list.FindStringExact(value);
    if (index < 0 || !form.UserSelect(list, index)) {
        why = std::string("the form offers no ") + what + " \"" + value + "\"";
        return false;
    }
    return true;
}

bool Type(CTarvexDlg& form, EditField& field, const std::string& value, const char* what,
          std::string& why) {
    if (value.empty() || field.GetWindowText() == value) {
        return true;
    }
    if (!form.UserSetText(field, value)) {
        why = std::string("the form does not take the ") + what + " \"" + value + "\"";
        return false;
    }
    return true;
}

bool Tick(CTarvexDlg& form, CheckBox& box, bool wanted, std::string& why) {
    if (box.GetCheck() == wanted) {
        return true;
    }
    if (!form.UserClick(box)) {
        why = "the form does not let " + box.Caption() + " be " + (wanted ? "ticked" : "cleared");
        return false;
    }
    return true;
}

struct ItemBox {
    const char* name;
    CheckBox CTarvexDlg::*box;
};
constexpr std::array<ItemBox, 4> kItemBoxes = {{{"application", &CTarvexDlg::m_chkApplication},
                                                {"bitmap", &CTarvexDlg::m_chkBitmap},
                                                {"font", &CTarvexDlg::m_chkFont},
                                                {"recipe", &CTarvexDlg::m_chkRecipe}}};

}  // namespace

void JobFromForm(const CTarvexDlg& form, Job& job) {
    job.product = Usable(form.m_cmbProduct, form.m_cmbProduct.GetWindowText());
    job.bootloader =
        Usable(form.m_cmbBootloaderVersion, form.m_cmbBootloaderVersion.GetWindowText());
    job.firmware = Usable(form.m_cmbFirmwareVersion, form.m_cmbFirmwareVersion.GetWindowText());
    job.usb = form.m_radUSBDownload.GetCheck();
    std::string file = form.m_editFileToSend.GetWindowText();
    if (!file.empty() && !platform::IsAbsolutePath(file)) {
        file = platform::JoinPath(platform::CurrentDirectory(), file);
    }
    job.container = file;
    job.slaveId = Usable(form.m_editSlaveID, form.m_editSlaveID.GetWindowText());
    job.baud = Usable(form.m_cmbBaudRate, form.m_cmbBaudRate.GetWindowText());
    job.parity = Usable(form.m_cmbParity, form.m_cmbParity.GetWindowText());
    job.dataBits = Usable(form.m_cmbDataBits, form.m_cmbDataBits.GetWindowText());
    job.stopBits = Usable(form.m_cmbStopBits, form.m_cmbStopBits.GetWindowText());
    job.echo = form.m_cmbEcho.GetWindowText();
    job.rs485 = form.m_chkRs485.GetCheck();
    job.items.clear();
    for (const ItemBox& item : kItemBoxes) {
        if ((form.*item.box).GetCheck()) {
            job.items.emplace_back(item.name);
        }
    }
}

bool ApplyJob(CTarvexDlg& form, const Job& job, std::string& why) {
    if (!Choose(form, form.m_cmbProduct, job.product, "product", why) ||
        !Choose(form, form.m_cmbBootloaderVersion, job.bootloader, "bootloader version", why) ||
        !Choose(form, form.m_cmbFirmwareVersion, job.firmware, "firmware version", why)) {
        return false;
    }
    RadioButton& transfer = job.usb ? form.m_radUSBDownload : form.m_radSerialDownload;
    if (!transfer.GetCheck() && (!form.UserClick(transfer) || !transfer.GetCheck())) {
        why = "the form refused " + transfer.Caption();
        return false;
    }
    if (!job.container.empty()) {
        if (!form.m_btnBrowse.IsEnabled() || !form.m_btnBrowse.IsVisible()) {
            why = "the form does not let a file be chosen";
            return false;
        }
        form.ApplyBrowseResult(job.container);
    }
    if (!Type(form, form.m_editSlaveID, job.slaveId, "slave ID", why) ||
        !Choose(form, form.m_cmbBaudRate, job.baud, "baud rate", why) ||
        !Choose(form, form.m_cmbParity, job.parity, "parity", why) ||
        !Choose(form, form.m_cmbDataBits, job.dataBits, "data bits", why) ||
        !Choose(form, form.m_cmbStopBits, job.stopBits, "stop bits", why) ||
        !Choose(form, form.m_cmbEcho, job.echo, "echo mode", why) ||
        !Tick(form, form.m_chkRs485, job.rs485, why)) {
        return false;
    }
    // All sets or clears the four at once; then each box as the job has it.
    const bool all = job.items.size() == kItemBoxes.size();
    if (!Tick(form, form.m_chkAll, all, why)) {
        return false;
    }
    for (const ItemBox& item : kItemBoxes) {
        const bool wanted =
            std::find(job.items.begin(), job.items.end(), item.name) != job.items.end();
        if (!Tick(form, form.*item.box, wanted, why)) {
            return false;
        }
    }
    return true;
}

void LockJobControls(CTarvexDlg& form) {
    Control* const pinned[] = {&form.m_cmbProduct,
                               &form.m_cmbBootloaderVersion,
                               &form.m_cmbFirmwareVersion,
                               &form.m_radSerialDownload,
                               &form.m_radUSBDownload,
                               &form.m_editFileToSend,
                               &form.m_btnBrowse,
                               &form.m_editSlaveID,
                               &form.m_cmbBaudRate,
                               &form.m_cmbParity,
                               &form.m_cmbDataBits,
                               &form.m_cmbStopBits,
                               &form.m_cmbEcho,
                               &form.m_chkRs485,
                               &form.m_chkApplication,
                               &form.m_chkBitmap,
                               &form.m_chkFont,
                               &form.m_chkRecipe,
                               &form.m_chkAll,
                               &form.m_chkUpload,
                               &form.m_cmbSelectRecipe};
    for (Control* control : pinned) {
        control->EnableWindow(false);
    }
}

std::string OpenJobReadOnly(CTarvexDlg& form, const Job& job) {
    std::string problem;
    if (std::string why; !ApplyJob(form, job, why)) {
        problem = "The job \"" + job.name + "\" cannot be shown as it is: " + why;
    } else {
        problem = ContainerChange(job);
    }
    LockJobControls(form);
    if (!problem.empty()) {
        // What the form shows is not what the job runs: no download from it.
        form.m_btnDownload.EnableWindow(false);
    }
    return problem;
}

}  // namespace tarvex::production
