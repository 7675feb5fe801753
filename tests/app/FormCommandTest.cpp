// tarvex-cli form, run as a user runs it: in a workspace folder, with its options.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "support/FormCatalogue.h"
#include "support/JsonOutput.h"
#include "support/PtyPair.h"
#include "support/RunProgram.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"
#include "support/Workspace.h"

namespace tarvex::test {
namespace {

using Strings = std::vector<std::string>;

class FormCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        AddStandardCatalogue(ws);
        ws.WriteDownloadData("Alpha", "project/");
        ws.Write("project/app.bin", "x");
    }

    // Runs the command in the workspace, with only the listed ports known to the probe.
    ProgramResult Form(Strings args, const Strings& ports = {}) {
        std::string extra;
        for (const std::string& p : ports) {
            extra += (extra.empty() ? "" : ":") + p;
        }
        const ScopedEnv env("TARVEX_EXTRA_PORTS", extra.c_str());
        args.insert(args.begin(), {"form", "--sysfs-root", sysfs.path()});
        return RunProgram(ProjectBinary("tarvex-cli"), args, std::chrono::seconds(20), ws.path());
    }

    nlohmann::json FormJson(Strings args, const Strings& ports = {}, int expectedExit = 0) {
        args.push_back("--json");
        return JsonOutput(Form(std::move(args), ports), expectedExit);
    }

    static std::string Text(const nlohmann::json& j, const char* control) {
        return j["controls"][control]["text"].get<std::string>();
    }
    static bool Checked(const nlohmann::json& j, const char* control) {
        return j["controls"][control]["checked"].get<bool>();
    }

    Workspace ws;
    TempDir sysfs;
};

TEST_F(FormCommand, StartsTheFormInTheCurrentDirectory) {
    PtyPair pty;
    ws.WriteSettings({{"PRODUCT NAME", "Alpha"},
                      {"BOOTLOADER VERSION", "V1.0-A"},
                      {"FIRMWARE VERSION", "F1.0"},
                      {"COM PORT", pty.slavePath()},
                      {"REMEMBER PASSWORD", "Yes"},
                      {"PASSWORD", "abcd"}});
    const std::string settingsBefore = ReadFileText(ws / "dnld.sv");
    const nlohmann::json j = FormJson({}, {pty.slavePath()});

    EXPECT_EQ(j["fields"]["app_dir"], ws.path() + "/");
    EXPECT_EQ(j["controls"]["product"]["entries"], (Strings{"Select Product", "Alpha", "beta"}));
    EXPECT_EQ(Text(j, "product"), "Alpha");
    EXPECT_EQ(Text(j, "bootloader_version"), "V1.0-A");
    EXPECT_EQ(Text(j, "firmware_version"), "F1.0");
    EXPECT_EQ(j["controls"]["com_port"]["entries"], Strings{pty.slavePath()});
    EXPECT_EQ(Text(j, "com_port"), pty.slavePath());
    EXPECT_EQ(Text(j, "password"), "****");  // never the password itself
    EXPECT_EQ(Text(j, "file_to_send"), "project/H1.bin");
    EXPECT_TRUE(Checked(j, "serial_download"));
    EXPECT_FALSE(j["controls"]["upload"]["visible"].get<bool>());
    EXPECT_EQ(j["fields"]["bin_extension"], "bin");
    EXPECT_EQ(j["fields"]["packet_size"], 128);
    EXPECT_EQ(j["fields"]["product_code"], 7);
    EXPECT_EQ(j["fields"]["firmware_formats"], (std::vector<int>{255, 1, 0}));
    EXPECT_TRUE(j["messages"].empty());
    // Looking is all it does: nothing is written.
    EXPECT_EQ(ReadFileText(ws / "dnld.sv"), settingsBefore);
}

TEST_F(FormCommand, OptionsAreAppliedAsAPersonFillsTheForm) {
    PtyPair listed;
    PtyPair unlisted;
    const nlohmann::json j =
        FormJson({"--product", "alpha", "--bootloader", "v1.0-a", "--firmware", "F1.0", "--usb",
                  "--file", "project/app.bin", "--slave-id", "9", "--password", "pw", "--port",
                  unlisted.slavePath(), "--items", "Font,recipe"},
                 {listed.slavePath()});
    EXPECT_EQ(Text(j, "product"), "Alpha");
    EXPECT_EQ(Text(j, "bootloader_version"), "V1.0-A");
    EXPECT_TRUE(Checked(j, "usb_download"));
    EXPECT_FALSE(j["controls"]["baud_rate"]["enabled"].get<bool>());
    EXPECT_EQ(j["fields"]["packet_size"], 512);  // the USB size
    EXPECT_EQ(Text(j, "file_to_send"), ws / "project/app.bin");
    EXPECT_EQ(j["fields"]["bin_file_dir"], ws / "project/");
    EXPECT_EQ(Text(j, "slave_id"), "9");
    EXPECT_EQ(Text(j, "password"), "**");
    // A device that opens is taken though the probe did not list it.
    EXPECT_EQ(j["controls"]["com_port"]["entries"],
              (Strings{listed.slavePath(), unlisted.slavePath()}));
    EXPECT_EQ(Text(j, "com_port"), unlisted.slavePath());
    EXPECT_FALSE(Checked(j, "application"));
    EXPECT_FALSE(Checked(j, "bitmap"));
    EXPECT_TRUE(Checked(j, "font"));
    EXPECT_TRUE(Checked(j, "recipe"));
    EXPECT_FALSE(Checked(j, "all"));
    EXPECT_TRUE(j["messages"].empty());

    const nlohmann::json all = FormJson({"--items", "all"});
    for (const char* box : {"application", "bitmap", "font", "recipe", "all"}) {
        EXPECT_TRUE(Checked(all, box)) << box;
    }
    const nlohmann::json none = FormJson({"--items", "none"});
    for (const char* box : {"application", "bitmap", "font", "recipe", "all"}) {
        EXPECT_FALSE(Checked(none, box)) << box;
    }
}

TEST_F(FormCommand, RefusedUsbIsReportedWithItsOwnStatus) {
    const ProgramResult r =
        Form({"--product", "Alpha", "--bootloader", "V1.0-A", "--firmware", "F1.1", "--usb"});
    EXPECT_EQ(r.exitStatus, 3);
    EXPECT_EQ(r.err, "Tarvex: USB downloading is not supported in selected firmware version!\n");
    EXPECT_NE(r.out.find("serial_download     checked"), std::string::npos) << r.out;

    const nlohmann::json j = FormJson(
        {"--product", "Alpha", "--bootloader", "V1.0-A", "--firmware", "F1.1", "--usb"}, {}, 3);
    EXPECT_TRUE(Checked(j, "serial_download"));
    EXPECT_FALSE(Checked(j, "usb_download"));
    EXPECT_TRUE(j["controls"]["baud_rate"]["enabled"].get<bool>());
    ASSERT_EQ(j["messages"].size(), 1u);
    EXPECT_EQ(j["messages"][0]["kind"], "notice");
    EXPECT_EQ(j["messages"][0]["caption"], "Tarvex");
}

TEST_F(FormCommand, ValuesTheFormDoesNotOfferAreUsageErrors) {
    struct Case {
        Strings args;
        std::string expected;  // part of the message on standard error
    };
    const Case cases[] = {
        {{"--product", "Gamma"}, "\"Select Product\", \"Alpha\", \"beta\""},
        {{"--product", "Alpha", "--bootloader", "V9"}, "no bootloader version \"V9\""},
        {{"--baud", "300"}, "no baud rate \"300\""},
        {{"--product", "Alpha", "--bootloader", "V1.0-A", "--firmware", "F1.0", "--usb", "--baud",
          "9600"},
         "the Baud Rate list is disabled while USB Download is chosen"},
        {{"--product", "Alpha", "--bootloader", "V2.0-B", "--slave-id", "3"},
         "the Slave ID field is hidden"},
        {{"--items", "application,fonts"}, "unknown item \"fonts\""},
        {{"--items", "none,font"}, "none cannot be combined"},
        {{"--port", "/dev/tarvex-no-such-port"}, "--port: /dev/tarvex-no-such-port does not open"},
        {{"--file", "project/missing.bin"}, "--file: no such file"},
        {{"--password", "a\nb"}, "a line break cannot be stored"},
        {{"--usb", "--serial"}, "excludes"},
    };
    for (const Case& c : cases) {
        const ProgramResult r = Form(c.args);
        EXPECT_EQ(r.exitStatus, 2) << c.expected << "\n" << r.err;
        EXPECT_NE(r.err.find(c.expected), std::string::npos) << r.err;
    }
}

TEST_F(FormCommand, MessagesOfTheStartUpGoToStandardError) {
    TempDir empty;
    const ProgramResult r =
        RunProgram(ProjectBinary("tarvex-cli"), {"form", "--sysfs-root", sysfs.path()},
                   std::chrono::seconds(20), empty.path());
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.err, "Tarvex: Download Data File not found!\n");
    EXPECT_NE(r.out.find("product             (none)   [\"Select Product\"]"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Start-up directory: " + empty.path() + "/"), std::string::npos);
}

}  // namespace
}  // namespace tarvex::test
