// The job file: what is written reads back the same, a file that is not a job says which field
// is wrong, and the pinned container is checked against the file on disk.
#include "production/JobFile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "download/Sha256.h"
#include "support/TempDir.h"

namespace tarvex::production {
namespace {

Job SampleJob(const std::string& container) {
    Job job;
    job.name = "line7";
    job.workspace = "/srv/line7";
    job.product = "H1";
    job.bootloader = "BL1.2-1";
    job.firmware = "FW1.5";
    job.usb = true;
    job.container = container;
    job.containerSha256 = std::string(64, 'a');
    job.containerSize = 7794;
    job.slaveId = "3";
    job.baud = "115200";
    job.parity = "None";
    job.dataBits = "8";
    job.stopBits = "1";
    job.echo = "Verify";
    job.rs485 = true;
    job.items = {"application", "recipe"};
    job.ports = {"/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0"};
    job.report = "/srv/line7/panels.jsonl";
    job.retries = 2;
    job.unitIdFrom = "counter:L7-:0001";
    job.allowRepeat = false;
    return job;
}

TEST(JobFile, WhatIsWrittenReadsBackTheSame) {
    const Job job = SampleJob("/srv/line7/project/H1.bin");
    Job read;
    std::string error;
    ASSERT_TRUE(ParseJob(JobToJson(job).dump(2), read, error)) << error;
    EXPECT_EQ(JobToJson(read), JobToJson(job));
    EXPECT_EQ(JobToJson(job).begin().key(), "format");

    // The line part may be left out: the command line names ports and report then.
    nlohmann::ordered_json noLine = JobToJson(job);
    noLine.erase("line");
    ASSERT_TRUE(ParseJob(noLine.dump(), read, error)) << error;
    EXPECT_TRUE(read.ports.empty());
    EXPECT_FALSE(read.report);
    EXPECT_FALSE(read.retries);

    // So may the retries and unit ids (a job of an earlier make), or be null: the command line
    // gives them then.
    nlohmann::ordered_json older = JobToJson(job);
    older["line"].erase("retries");
    older["line"].erase("allow_repeat");
    older["line"]["unit_id_from"] = nullptr;
    ASSERT_TRUE(ParseJob(older.dump(), read, error)) << error;
    EXPECT_FALSE(read.retries);
    EXPECT_FALSE(read.unitIdFrom);
    EXPECT_FALSE(read.allowRepeat);
    EXPECT_EQ(read.report, job.report);
    EXPECT_EQ(ItemsText(read.items), "application,recipe");
    EXPECT_EQ(ItemsText({}), "none");

    // A job made before the two-wire options runs without either.
    nlohmann::ordered_json noTwoWire = JobToJson(job);
    noTwoWire["form"].erase("echo");
    noTwoWire["form"].erase("rs485");
    ASSERT_TRUE(ParseJob(noTwoWire.dump(), read, error)) << error;
    EXPECT_EQ(read.echo, "None");
    EXPECT_FALSE(read.rs485);
}

TEST(JobFile, AFileThatIsNoJobNamesWhatIsWrong) {
    const nlohmann::ordered_json good = JobToJson(SampleJob("/srv/H1.bin"));
    struct Case {
        const char* what;
        std::function<void(nlohmann::ordered_json&)> spoil;
        std::string error;
    };
    const Case cases[] = {
        {"newer format", [](auto& j) { j["format"] = 2; }, "format 2 (this tarvex-cli reads"},
        {"no format", [](auto& j) { j.erase("format"); }, "no \"format\" number"},
        {"unknown field", [](auto& j) { j["retry"] = 3; }, "unknown field \"retry\""},
        {"misspelt form field", [](auto& j) { j["form"]["slaveid"] = "3"; },
         "unknown field \"slaveid\" in \"form\""},
        {"no product", [](auto& j) { j["form"].erase("product"); }, "no \"product\""},
        {"number for text", [](auto& j) { j["form"]["baud"] = 115200; },
         "\"baud\" is not a string"},
        {"bad transfer", [](auto& j) { j["form"]["transfer"] = "radio"; },
         "\"transfer\" is neither"},
        {"unknown item",
         [](auto& j) {
             j["form"]["items"] = {"application", "logo"};
         },
         "unknown item \"logo\""},
        {"unknown echo", [](auto& j) { j["form"]["echo"] = "discard"; }, "\"echo\" is none of"},
        {"rs485 as text", [](auto& j) { j["form"]["rs485"] = "yes"; },
         "\"rs485\" is not true or false"},
        {"short hash", [](auto& j) { j["container"]["sha256"] = "abc"; }, "\"sha256\" is not 64"},
        {"negative size", [](auto& j) { j["container"]["size"] = -1; }, "no \"size\""},
        {"ports not a list", [](auto& j) { j["line"]["ports"] = "/dev/ttyUSB0"; },
         "\"ports\" is not a list"},
        {"empty name", [](auto& j) { j["name"] = ""; }, "\"name\" is empty"},
        {"negative retries", [](auto& j) { j["line"]["retries"] = -1; },
         "\"retries\" is not a number from 0 to 100"},
        {"too many retries", [](auto& j) { j["line"]["retries"] = 101; },
         "\"retries\" is not a number from 0 to 100"},
        {"retries as text", [](auto& j) { j["line"]["retries"] = "2"; }, "\"retries\" is not"},
        {"unknown unit id source", [](auto& j) { j["line"]["unit_id_from"] = "scanner"; },
         "\"unit_id_from\" is neither"},
        {"repeat as text", [](auto& j) { j["line"]["allow_repeat"] = "yes"; },
         "\"allow_repeat\" is not true or false"},
    };
    for (const Case& c : cases) {
        nlohmann::ordered_json spoilt = good;
        c.spoil(spoilt);
        Job job;
        std::string error;
        EXPECT_FALSE(ParseJob(spoilt.dump(), job, error)) << c.what;
        EXPECT_NE(error.find(c.error), std::string::npos) << c.what << ": " << error;
    }
    Job job;
    std::string error;
    EXPECT_FALSE(ParseJob("{\"format\": 1,", job, error));
    EXPECT_EQ(error, "not a JSON object");
}

TEST(JobFile, TheContainerIsCheckedAgainstItsPinnedHashAndSize) {
    test::TempDir dir;
    const std::string container = dir.Write("H1.bin", "QRZBIN the bytes as they were");
    Job job = SampleJob(container);
    job.containerSha256 = *Sha256OfFile(container);
    job.containerSize = 29;
    EXPECT_EQ(ContainerChange(job), "");

    // Written back through a file, the check holds the same.
    std::string error;
    ASSERT_TRUE(WriteJob(dir / "job.json", job, error)) << error;
    Job read;
    ASSERT_TRUE(ReadJob(dir / "job.json", read, error)) << error;
    EXPECT_EQ(ContainerChange(read), "");

    dir.Write("H1.bin", "QRZBIN the bytes as they are!");
    const std::string now = *Sha256OfFile(container);
    const std::string change = ContainerChange(read);
    EXPECT_EQ(change.rfind("the container changed since the job was made: ", 0), 0U) << change;
    EXPECT_NE(change.find(now), std::string::npos) << change;
    EXPECT_NE(change.find(job.containerSha256), std::string::npos) << change;

    dir.Write("H1.bin", "");
    EXPECT_NE(ContainerChange(read).find("(0 bytes)"), std::string::npos);
    EXPECT_FALSE(ReadJob(dir / "missing.json", read, error));
    EXPECT_NE(error.find("missing.json"), std::string::npos);
}

}  // namespace
}  // namespace tarvex::production
