#include "app/cli/output/FormState.h"

#include <ostream>
#include <string>
#include <utility>

namespace tarvex::cli {
namespace {

std::string Masked(const EditField& field) {
    const std::string& text = field.GetWindowText();
    return field.HidesCharacters() ? std::string(text.size(), '*') : text;
}

template <typename Kind>
bool Is(const Control& control) {
    return dynamic_cast<const Kind*>(&control) != nullptr;
}

// Looked at in order: a radio button is also a check box.
constexpr std::pair<bool (*)(const Control&), const char*> kKindKeys[] = {
    {Is<ComboBox>, "list"},   {Is<RadioButton>, "radio"},    {Is<CheckBox>, "check"},
    {Is<EditField>, "field"}, {Is<ProgressBar>, "progress"}, {Is<Button>, "button"},
};

const char* KindKey(const Control& control) {
    for (const auto& [is, key] : kKindKeys) {
        if (is(control)) {
            return key;
        }
    }
    return "label";
}

// What the next download would take from the form.
struct KeyFields {
    std::string bootloaderText;
    std::uint16_t packetSize = 0;
    std::optional<std::uint16_t> productCode;
};

KeyFields KeyFieldsOf(const CTarvexDlg& form) {
    KeyFields k;
    k.bootloaderText = form.m_cmbBootloaderVersion.GetWindowText();
    k.packetSize = form.LookupPacketSize(form.m_strDnldProduct, k.bootloaderText);
    k.productCode = form.GetProductCode(form.m_cmbProduct.GetWindowText());
    return k;
}

constexpr std::pair<int, std::string_view> kControlKeys[] = {
    {IDC_CLOSE, "close"},
    {IDC_CANCEL, "cancel"},
    {IDC_FILE_TO_SEND, "file_to_send"},
    {IDC_BROWSE, "browse"},
    {IDC_COM_PORT, "com_port"},
    {IDC_BAUD_RATE, "baud_rate"},
    {IDC_PARITY, "parity"},
    {IDC_PASSWORD, "password"},
    {IDC_DATA_BITS, "data_bits"},
    {IDC_STOP_BITS, "stop_bits"},
    {IDC_DOWNLOAD, "download"},
    {IDC_PROGRESS, "progress"},
    {IDC_REMEMBER_PASSWORD, "remember_password"},
    {IDC_PRODUCT, "product"},
    {IDC_SLAVE_ID, "slave_id"},
    {IDC_BOOTLOADER_VERSION, "bootloader_version"},
    {IDC_SLAVE_ID_LABEL, "slave_id_label"},
    {IDC_BL_VERSION, "bl_version"},
    {IDC_BL_VERSION_LABEL, "bl_version_label"},
    {IDC_FIRMWARE_VERSION, "firmware_version"},
    {IDC_APPLICATION, "application"},
    {IDC_UPLOAD, "upload"},
    {IDC_BITMAP, "bitmap"},
    {IDC_FONT, "font"},
    {IDC_RECIPE, "recipe"},
    {IDC_ALL, "all"},
    {IDC_SELECT_RECIPE_LABEL, "select_recipe_label"},
    {IDC_SELECT_RECIPE, "select_recipe"},
    {IDC_SERIAL_DOWNLOAD, "serial_download"},
    {IDC_USB_DOWNLOAD, "usb_download"},
    {IDC_PRODUCT_LABEL, "product_label"},
    {IDC_BOOTLOADER_LABEL, "bootloader_version_label"},
    {IDC_FIRMWARE_LABEL, "firmware_version_label"},
    {IDC_FILE_TO_SEND_LABEL, "file_to_send_label"},
    {IDC_COM_PORT_LABEL, "com_port_label"},
    {IDC_BAUD_RATE_LABEL, "baud_rate_label"},
    {IDC_PARITY_LABEL, "parity_label"},
    {IDC_DATA_BITS_LABEL, "data_bits_label"},
    {IDC_STOP_BITS_LABEL, "stop_bits_label"},
    {IDC_PASSWORD_LABEL, "password_label"},
    {IDC_ECHO_LABEL, "echo_label"},
    {IDC_ECHO, "echo"},
    {IDC_RS485, "rs485"},
};

}  // namespace

std::string_view ControlKey(int id) {
    for (const auto& [controlId, key] : kControlKeys) {
        if (controlId == id) {
            return key;
        }
    }
    return "unknown";
}

nlohmann::ordered_json FormStateJson(CTarvexDlg& form, const CliUserInterface& ui) {
    nlohmann::ordered_json controls = nlohmann::ordered_json::object();
    form.ForEachControl([&](Control& control) {
        nlohmann::ordered_json c;
        c["id"] = control.Id();
        c["kind"] = KindKey(control);
        c["caption"] = control.Caption();
        c["enabled"] = control.IsEnabled();
        c["visible"] = control.IsVisible();
        if (const auto* list = dynamic_cast<const ComboBox*>(&control)) {
            c["entries"] = list->Entries();
            c["current"] = list->GetCurSel();
            c["text"] = list->GetWindowText();
        } else if (const auto* box = dynamic_cast<const CheckBox*>(&control)) {
            c["checked"] = box->GetCheck();
        } else if (const auto* field = dynamic_cast<const EditField*>(&control)) {
            c["text"] = Masked(*field);
            c["hides_characters"] = field->HidesCharacters();
        } else if (const auto* bar = dynamic_cast<const ProgressBar*>(&control)) {
            c["lower"] = bar->Lower();
            c["upper"] = bar->Upper();
            c["position"] = bar->GetPos();
        }
        controls[std::string(ControlKey(control.Id()))] = std::move(c);
    });

    const KeyFields k = KeyFieldsOf(form);
    nlohmann::ordered_json fields;
    fields["app_dir"] = form.m_strAppDir;
    fields["bin_file_path"] = form.m_strBinFilePath;
    fields["bin_file_dir"] = form.m_strBinFileDir;
    fields["bin_extension"] = form.m_strBinExtension;
    fields["bootloader_index"] = form.m_nBootloaderIndex;
    fields["version_index"] = form.CurrentVersionIndex();
    fields["dnld_product"] = form.m_strDnldProduct;
    fields["application_name"] = form.m_strApplicationName;
    fields["hmi_type"] = form.m_strHMIType;
    fields["selected_recipe"] = form.m_strSelectedRecipe;
    fields["recipe_names"] = form.m_arrRecipeNames;
    fields["firmware_formats"] = form.m_arrFirmwareFormat;
    fields["firmware_format"] = form.CurrentFirmwareFormat();
    fields["packet_size"] =
        k.packetSize != 0 ? nlohmann::ordered_json(k.packetSize) : nlohmann::ordered_json(nullptr);
    fields["product_code"] =
        k.productCode ? nlohmann::ordered_json(*k.productCode) : nlohmann::ordered_json(nullptr);
    fields["usb_download"] = form.m_radUSBDownload.GetCheck();

    nlohmann::ordered_json messages = nlohmann::ordered_json::array();
    for (const ShownMessage& m : ui.Messages()) {
        messages.push_back({{"kind", production::MessageKindKey(m.kind)},
                            {"caption", m.caption},
                            {"text", m.text}});
    }
    return {{"controls", std::move(controls)},
            {"fields", std::move(fields)},
            {"messages", std::move(messages)}};
}

void PrintFormState(std::ostream& out, CTarvexDlg& form) {
    out << "Start-up directory: " << Printable(form.m_strAppDir) << "\n\n";
    form.ForEachControl([&](Control& control) {
        if (dynamic_cast<const Label*>(&control) != nullptr) {
            return;  // their captions name the controls below
        }
        std::string line(ControlKey(control.Id()));
        line.resize(std::max<std::size_t>(line.size() + 1, 20), ' ');
        if (const auto* list = dynamic_cast<const ComboBox*>(&control)) {
            line += list->GetCurSel() >= 0 ? "\"" + Printable(list->GetWindowText()) + "\""
                                           : std::string("(none)");
            line += "   [";
            for (int i = 0; i < list->GetCount(); ++i) {
                line += (i == 0 ? "\"" : ", \"") + Printable(list->GetLBText(i)) + "\"";
            }
            line += "]";
        } else if (const auto* box = dynamic_cast<const CheckBox*>(&control)) {
            line += box->GetCheck() ? "checked" : "unchecked";
        } else if (const auto* field = dynamic_cast<const EditField*>(&control)) {
            line += "\"" + Printable(Masked(*field)) + "\"";
        } else if (const auto* bar = dynamic_cast<const ProgressBar*>(&control)) {
            line += std::to_string(bar->GetPos()) + " of " + std::to_string(bar->Lower()) + ".." +
                    std::to_string(bar->Upper());
        } else {
            line += "button";
        }
        if (!control.IsVisible()) {
            line += "   (hidden)";
        } else if (!control.IsEnabled()) {
            line += "   (disabled)";
        }
        out << line << '\n';
    });

    const KeyFields k = KeyFieldsOf(form);
    out << "\nbin_extension       \"" << Printable(form.m_strBinExtension) << "\"\n"
        << "version_index       " << form.CurrentVersionIndex() << '\n'
        << "packet_size         " << (k.packetSize != 0 ? std::to_string(k.packetSize) : "(none)")
        << '\n'
        << "product_code        " << (k.productCode ? std::to_string(*k.productCode) : "(none)")
        << '\n'
        << "firmware_format     " << form.CurrentFirmwareFormat() << '\n'
        << "dnld_product        \"" << Printable(form.m_strDnldProduct) << "\"\n"
        << "bin_file_dir        \"" << Printable(form.m_strBinFileDir) << "\"\n";
}

}  // namespace tarvex::cli
