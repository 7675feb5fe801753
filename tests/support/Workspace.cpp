#include "support/Workspace.h"

#include <gtest/gtest.h>

namespace tarvex::test {

std::string CfgFileText(const ProductSpec& product) {
    std::string text = "PRODUCT:" + product.name +
                       "\nNOOFVERSIONS:" + std::to_string(product.versions.size()) + "\n";
    for (std::size_t i = 0; i < product.versions.size(); ++i) {
        const VersionSpec& v = product.versions[i];
        const std::string tag = "VERSION#" + std::to_string(i + 1) + " ";
        const auto line = [&](std::string_view key, const std::string& value) {
            text += tag;
            text += key;
            text += ":" + value + "\n";
        };
        line("VERSIONNAME", v.name);
        line("DWNLDFRAMESIZE", std::to_string(v.frameSize));
        line("DWNLDFRAMESIZEUSB", std::to_string(v.frameSizeUsb));
        line("UPLDFRAMESIZE", std::to_string(v.uploadFrameSize));
        line("DNLDPSWDSUPPORT", v.passwordSupport);
        line("DNLDCMDSLAVEIDSUPPORT", v.slaveIdSupport);
        line("DNLDCMDPRODUCTIDSUPPORT", "1");
        line("UPLOADSUPPORT", "0");
        line("NOOFHEADERBYTES", "27");
        line("DNLDBINCOMMAND", "D");
        line("DNLDSRCCOMMAND", "S");
        line("DNLDBINEXTENTION", v.binExtension);
        line("PRODUCTCODE", std::to_string(product.productCode));
        line("BLSUPPORTEDVERSIONS", v.name);
        line("BLFORMAT", "1");
        line("EEPROMSERNO", "0");
    }
    return text + "[EOF]\n";
}

std::string BootLoaderFileText(const ProductSpec& product) {
    std::string text = "PRODUCT NAME:" + product.name +
                       "\nID:1\nNO OF VERSIONS:" + std::to_string(product.versions.size()) + "\n";
    for (const VersionSpec& v : product.versions) {
        text += "BL VERSION:" + v.name + "\n";
        text += "FIRMWARE VERSIONS:" + v.firmwareList + "\n";
        text += "FIRMWARE FORMATS:" + v.formatList + "\n";
    }
    return text + "[EOF]\n";
}

std::string SettingsFileText(const std::vector<std::pair<std::string, std::string>>& pairs) {
    std::string text;
    for (const auto& [key, value] : pairs) {
        text += key + ":" + value + "\n";
    }
    return text + "[EOF]";
}

Workspace::Workspace() = default;

void Workspace::AddProduct(const ProductSpec& product, bool withCfgFile, bool withBootLoaderFile) {
    if (withCfgFile) {
        dir_.Write("Pxx/" + product.name + ".CFG", CfgFileText(product));
    } else {
        dir_.MakeDir("Pxx");
    }
    if (withBootLoaderFile) {
        dir_.Write("Vxx/" + product.name + ".CFG", BootLoaderFileText(product));
    } else {
        dir_.MakeDir("Vxx");
    }
}

void Workspace::WriteDownloadData(std::string_view product, std::string_view binFileDir,
                                  std::string_view applicationName, std::string_view hmiType) {
    std::string text;
    for (std::string_view line : {product, binFileDir, applicationName, std::string_view("x"),
                                  std::string_view("y"), std::string_view("z"), hmiType}) {
        text.append(line);
        text += "\n";
    }
    dir_.Write("DnldData.txt", text + "[EOF]\n");
}

void Workspace::WriteSettings(const std::vector<std::pair<std::string, std::string>>& pairs) {
    dir_.Write("dnld.sv", SettingsFileText(pairs));
}

FormEnvironment Workspace::Environment(std::vector<std::string> extraPorts) const {
    FormEnvironment env;
    env.appDir = dir_.path();
    env.probe.sysfsRoot = sysfs_.path();
    env.probe.devRoot = sysfs_.path();
    env.probe.extraPorts = std::move(extraPorts);
    env.timingLogPath = dir_ / "ReadTimeDiff.csv";
    return env;
}

bool SelectEntry(CTarvexDlg& form, ComboBox& list, std::string_view text) {
    for (int i = 0; i < list.GetCount(); ++i) {
        if (list.GetLBText(i) == text) {
            return form.UserSelect(list, i);
        }
    }
    ADD_FAILURE() << "no entry " << text;
    return false;
}

}  // namespace tarvex::test
