// tarvex-pack and tarvex-cli inspect, run as the user runs them.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "download/DownloadContainer.h"
#include "support/ContainerBuilder.h"
#include "support/JsonOutput.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

namespace tarvex {
namespace {

using test::ProgramResult;
using test::ProjectBinary;
using test::RunProgram;
using Bytes = std::vector<std::uint8_t>;

class PackAndInspectTest : public ::testing::Test {
  protected:
    ProgramResult Pack(std::vector<std::string> args) {
        return RunProgram(ProjectBinary("tarvex-pack"), args);
    }
    ProgramResult Inspect(std::vector<std::string> args) {
        args.insert(args.begin(), "inspect");
        return RunProgram(ProjectBinary("tarvex-cli"), args);
    }
    // Runs inspect --json and parses its output, which must be exactly one JSON object.
    nlohmann::json InspectJson(const std::string& path, int expectedStatus) {
        const nlohmann::json j = test::JsonOutput(Inspect({path, "--json"}), expectedStatus);
        EXPECT_TRUE(j.is_object());
        return j;
    }

    // Part files with the contents of `parts`; returns the pack arguments naming them.
    std::vector<std::string> WriteSources(const test::ContainerParts& parts) {
        std::vector<std::string> args = {"--product-code", std::to_string(parts.productCode)};
        if (!parts.application.empty()) {
            args.insert(args.end(),
                        {"--application", dir.WriteBytes("src/app.img", parts.application)});
        }
        if (!parts.font.empty()) {
            args.insert(args.end(), {"--font", dir.WriteBytes("src/font.img", parts.font)});
        }
        if (!parts.bitmap.empty()) {
            args.insert(args.end(), {"--bitmap", dir.WriteBytes("src/bitmap.img", parts.bitmap)});
        }
        for (const auto& recipe : parts.recipes) {
            args.insert(args.end(),
                        {"--recipe", dir.WriteBytes("src/" + recipe.name, recipe.data)});
        }
        return args;
    }

    static test::ContainerParts SampleParts() {
        test::ContainerParts parts;
        parts.productCode = 17;
        parts.application = test::PatternBytes(1500, 1);
        parts.font = test::PatternBytes(640, 2);
        parts.bitmap = test::PatternBytes(333, 3);
        parts.recipes = {{"Alpha.bin", test::PatternBytes(40, 4)},
                         {"Beta.bin", test::PatternBytes(25, 5)}};
        return parts;
    }

    std::string PackSample(std::vector<std::string> extra = {}) {
        std::vector<std::string> args = WriteSources(SampleParts());
        const std::string out = dir / "H1.bin";
        args.insert(args.end(), {"-o", out});
        args.insert(args.end(), extra.begin(), extra.end());
        const ProgramResult r = Pack(args);
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_TRUE(r.err.empty()) << r.err;
        return out;
    }

    test::TempDir dir;
};

TEST_F(PackAndInspectTest, PackWritesTheSameBytesAsTheReferenceBuilder) {
    const std::string path = PackSample();
    EXPECT_EQ(test::ReadFileBytes(path), test::BuildContainer(SampleParts()));

    // No parts at all: header plus an empty recipe table.
    const ProgramResult r = Pack({"-o", dir / "empty.bin", "--product-code", "0"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    test::ContainerParts none;
    EXPECT_EQ(test::ReadFileBytes(dir / "empty.bin"), test::BuildContainer(none));
}

TEST_F(PackAndInspectTest, InspectShowsAValidContainer) {
    const std::string path = PackSample();
    const nlohmann::json j = InspectJson(path, 0);
    EXPECT_EQ(j.at("valid"), true);
    EXPECT_EQ(j.at("signature"), "QRZBIN");
    EXPECT_EQ(j.at("product_code"), 17);
    EXPECT_EQ(j.at("header_crc_stored"), j.at("header_crc_computed"));
    EXPECT_EQ(j.at("body_crc_stored"), j.at("body_crc_computed"));
    const auto& parts = j.at("parts");
    EXPECT_EQ(parts.at("application"), 1500);
    EXPECT_EQ(parts.at("font"), 640);
    EXPECT_EQ(parts.at("bitmap"), 333);
    EXPECT_EQ(parts.at("recipe"), 65);
    ASSERT_EQ(j.at("recipes").size(), 2U);
    EXPECT_EQ(j.at("recipes")[0].at("name"), "Alpha.bin");
    EXPECT_EQ(j.at("recipes")[0].at("size"), 40);
    EXPECT_EQ(j.at("recipes")[1].at("name"), "Beta.bin");
    EXPECT_EQ(j.at("recipes")[1].at("size"), 25);
    EXPECT_FALSE(j.contains("error"));

    const ProgramResult text = Inspect({path});
    EXPECT_EQ(text.exitStatus, 0);
    EXPECT_NE(text.out.find("valid container"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("Alpha.bin"), std::string::npos) << text.out;
}

TEST_F(PackAndInspectTest, SpoiledChecksums) {
    // One spoiled checksum is still a valid container; a spoiled body checksum means a damaged
    // body, with a status of its own.
    const std::string oneBad = PackSample({"--bad-body-crc"});
    nlohmann::json j = InspectJson(oneBad, 3);
    EXPECT_EQ(j.at("valid"), true);
    EXPECT_EQ(j.at("body_ok"), false);
    EXPECT_EQ(j.at("body_crc_matches"), false);
    EXPECT_EQ(j.at("header_crc_matches"), true);
    ProgramResult text = Inspect({oneBad});
    EXPECT_EQ(text.exitStatus, 3);
    EXPECT_NE(
        text.out.find("Result:          accepted on the header checksum only: the body is damaged"),
        std::string::npos)
        << text.out;

    const std::string headerBad = PackSample({"--bad-header-crc"});
    j = InspectJson(headerBad, 0);
    EXPECT_EQ(j.at("valid"), true);
    EXPECT_EQ(j.at("body_ok"), true);

    const std::string bothBad = PackSample({"--bad-header-crc", "--bad-body-crc"});
    j = InspectJson(bothBad, 1);
    EXPECT_EQ(j.at("valid"), false);
    EXPECT_EQ(j.at("fault"), "bad_checksums");
    EXPECT_NE(j.at("header_crc_stored"), j.at("header_crc_computed"));
    EXPECT_NE(j.at("body_crc_stored"), j.at("body_crc_computed"));
    // What could be read is still there.
    EXPECT_EQ(j.at("product_code"), 17);
    EXPECT_EQ(j.at("parts").at("application"), 1500);

    text = Inspect({bothBad});
    EXPECT_EQ(text.exitStatus, 1);
    EXPECT_NE(text.out.find("neither the header checksum nor the body checksum matches"),
              std::string::npos)
        << text.out;
}

TEST_F(PackAndInspectTest, TruncatedContainerNamesTheFailingCheck) {
    Bytes bytes = test::ReadFileBytes(PackSample());
    bytes.resize(1000);  // inside the Application part
    const std::string cut = dir.WriteBytes("cut.bin", bytes);
    nlohmann::json j = InspectJson(cut, 1);
    EXPECT_EQ(j.at("valid"), false);
    EXPECT_EQ(j.at("fault"), "part_out_of_range");
    EXPECT_NE(j.at("error").get<std::string>().find("Application"), std::string::npos);
    EXPECT_EQ(j.at("offsets").at("font"), 27 + 1500);

    bytes.resize(20);  // inside the header
    const std::string stub = dir.WriteBytes("stub.bin", bytes);
    j = InspectJson(stub, 1);
    EXPECT_EQ(j.at("fault"), "too_short");
    EXPECT_EQ(j.at("signature"), "QRZBIN");
    EXPECT_FALSE(j.contains("parts"));
    const ProgramResult text = Inspect({stub});
    EXPECT_EQ(text.exitStatus, 1);
    EXPECT_NE(text.out.find("shorter than the 27-byte header"), std::string::npos) << text.out;
}

TEST_F(PackAndInspectTest, BinaryNamesAndSignaturesDoNotBreakTheOutput) {
    test::ContainerParts parts = SampleParts();
    parts.recipes = {{std::string("R\xFF\x01.bin"), {1, 2, 3}}};
    const std::vector<std::string> args = WriteSources(parts);
    std::vector<std::string> all = args;
    all.insert(all.end(), {"-o", dir / "odd.bin"});
    ASSERT_EQ(Pack(all).exitStatus, 0);
    nlohmann::json j = InspectJson(dir / "odd.bin", 0);
    ASSERT_EQ(j.at("recipes").size(), 1U);
    EXPECT_EQ(j.at("recipes")[0].at("size"), 3);
    const ProgramResult text = Inspect({dir / "odd.bin"});
    EXPECT_NE(text.out.find("R\\xFF\\x01.bin"), std::string::npos) << text.out;

    Bytes bytes = test::ReadFileBytes(dir / "odd.bin");
    bytes[0] = 0xC3;  // a lone UTF-8 lead byte in the signature
    const std::string bad = dir.WriteBytes("badsig.bin", bytes);
    j = InspectJson(bad, 1);
    EXPECT_EQ(j.at("fault"), "bad_signature");
}

TEST_F(PackAndInspectTest, InspectUsageAndUnreadableFiles) {
    ProgramResult r = Inspect({});
    EXPECT_EQ(r.exitStatus, 2);
    r = Inspect({"a.bin", "--no-such-option"});
    EXPECT_EQ(r.exitStatus, 2);
    r = Inspect({"--help"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_NE(r.out.find("Exit status"), std::string::npos) << r.out;

    nlohmann::json j = InspectJson(dir / "missing.bin", 1);
    EXPECT_EQ(j.at("fault"), "cannot_open");
    EXPECT_EQ(j.at("valid"), false);

    // Not files at all: refused before anything is read, and without blocking.
    const std::string fifo = dir / "fifo.bin";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {fifo, std::string("/dev/zero"), dir.path()}) {
        SCOPED_TRACE(path);
        r = RunProgram(ProjectBinary("tarvex-cli"), {"inspect", path, "--json"});
        EXPECT_FALSE(r.timedOut);
        j = test::JsonOutput(r, 1);
        EXPECT_EQ(j.at("fault"), "cannot_open");
        EXPECT_EQ(j.at("file_size"), 0);
    }
}

TEST_F(PackAndInspectTest, PackRefusesBadInput) {
    ProgramResult r = Pack({"-o", dir / "x.bin", "--product-code", "256"});
    EXPECT_EQ(r.exitStatus, 2) << r.err;
    r = Pack({"--product-code", "1"});
    EXPECT_EQ(r.exitStatus, 2) << r.err;
    r = Pack({"--help"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_NE(r.out.find("Exit status"), std::string::npos);

    r = Pack({"-o", dir / "x.bin", "--product-code", "1", "--font", dir / "none.img"});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.err.find("none.img"), std::string::npos) << r.err;
    EXPECT_TRUE(test::ReadFileBytes(dir / "x.bin").empty()) << "nothing written";

    // The second recipe would start beyond the 16-bit recipe offsets.
    const std::string big = dir.WriteBytes("Big.bin", Bytes(70000, 0xAB));
    const std::string small = dir.WriteBytes("Small.bin", Bytes(3, 1));
    r = Pack({"-o", dir / "x.bin", "--product-code", "1", "--recipe", big, "--recipe", small});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.err.find("Small.bin"), std::string::npos) << r.err;

    // A large last recipe is fine: its size comes from the end of the file.
    r = Pack({"-o", dir / "x.bin", "--product-code", "1", "--recipe", small, "--recipe", big});
    EXPECT_EQ(r.exitStatus, 0) << r.err;

    r = Pack({"-o", dir / "no/such/dir/x.bin", "--product-code", "1"});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.err.find("cannot write"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace tarvex
