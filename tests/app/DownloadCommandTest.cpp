// tarvex-cli download, run as a production line runs it: in a copy of the sample workspace,
// against the simulated panel, judged by its exit status, its messages and what the panel got.
#include <fcntl.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "download/Crc16.h"
#include "download/DownloadContainer.h"
#include "serial/SerialPort.h"
#include "support/ContainerBuilder.h"
#include "support/PanelSimProcess.h"
#include "support/PtyPair.h"
#include "support/RecordingUi.h"
#include "support/RunProgram.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace tarvex::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Strings = std::vector<std::string>;
using Bytes = std::vector<std::uint8_t>;

const Strings kH1 = {"--product", "H1", "--bootloader", "BL1.2-1", "--firmware", "FW1.5"};

// tarvex-cli started without waiting for it, for the tests that interrupt it; what it prints
// goes to a file.
class RunningCli {
  public:
    RunningCli(const std::string& dir, const Strings& args) : outPath_(dir + "/cli.out") {
        SpawnActions actions;
        actions.OpenForWriting(1, outPath_);
        actions.Dup(1, 2);
        actions.ChangeDirectory(dir);
        pid_ = Spawn(ProjectBinary("tarvex-cli"), args, actions);
    }
    ~RunningCli() {
        if (!status_) {
            ::kill(pid_, SIGKILL);
            int status = 0;
            ::waitpid(pid_, &status, 0);
        }
    }

    void Signal(int signal) const { ::kill(pid_, signal); }

    // The exit status (128 + n for a signal n) once it has ended within the time-out.
    std::optional<int> WaitExit(std::chrono::milliseconds timeout) {
        if (!status_) {
            status_ = ExitStatusWithin(pid_, timeout);
        }
        return status_;
    }

    std::string Output() const { return ReadFileText(outPath_); }

  private:
    std::string outPath_;
    pid_t pid_ = -1;
    std::optional<int> status_;
};

// Waits until the file holds `text`; bounded.
bool WaitForText(const std::string& path, const std::string& text,
                 std::chrono::milliseconds timeout = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (fs::exists(path) && ReadFileText(path).find(text) != std::string::npos) {
            return true;
        }
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

class DownloadCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::copy(std::string(TARVEX_BINARY_DIR) + "/sample-workspace", ws.path(),
                 fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    }

    Strings Args(const Strings& args) const {
        Strings all{"download", "--sysfs-root", sysfs.path(), "--progress", "lines"};
        all.insert(all.end(), args.begin(), args.end());
        return all;
    }
    ProgramResult Download(const Strings& args) {
        return RunProgram(ProjectBinary("tarvex-cli"), Args(args), 20s, ws.path());
    }
    static Strings With(Strings args, const Strings& more) {
        args.insert(args.end(), more.begin(), more.end());
        return args;
    }
    static nlohmann::json Session(const std::string& outDir) {
        return nlohmann::json::parse(ReadFileText(outDir + "/session.json"));
    }
    // The application sent to the panel at `port`, with a trace to follow it by.
    RunningCli StartApplicationDownload(const std::string& port) const {
        return RunningCli(
            ws.path(),
            Args(With(kH1, {"--port", port, "--items", "application", "--trace", "trace.txt"})));
    }

    TempDir ws;
    // The timing log would otherwise go to its fixed path.
    ScopedEnv timingLog{"TARVEX_TIMING_LOG", (ws / "timing.csv").c_str()};
    ScopedEnv noExtraPorts{"TARVEX_EXTRA_PORTS", nullptr};
    // H1's first version takes a download password; the simulated panel accepts any.
    ScopedEnv password{"TARVEX_PASSWORD", "1234"};
    TempDir sysfs;
    TempDir panelOut;
};

// The line settings of the tty as another program finds them.
termios LineSettingsOf(const std::string& path) {
    termios t{};
    const test::UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
    EXPECT_GE(fd.get(), 0) << path;
    EXPECT_EQ(::tcgetattr(fd.get(), &t), 0);
    return t;
}

TEST_F(DownloadCommand, CompleteDownloadReachesThePanelIntact) {
    PanelSimProcess sim({"--product-code", "17", "--out", panelOut.path(), "--exit-after-over"});
    ASSERT_FALSE(sim.port().empty());
    const ProgramResult r = Download(
        With(kH1, {"--port", sim.port(), "--items", "application,recipe", "--trace", "trace.txt"}));
    ASSERT_EQ(r.exitStatus, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "Tarvex: Download Complete!\n");
    EXPECT_NE(r.out.find("Sent 100%"), std::string::npos) << r.out;
    EXPECT_EQ(sim.WaitExit(2s), 0);

    // What the panel stored is what the container holds, recipe by recipe.
    CDownloadInfo info;
    std::vector<std::string> names;
    std::vector<std::uint32_t> sizes;
    ASSERT_TRUE(CheckDownloadContainer(ws / "project/H1.bin", info, names, sizes));
    ASSERT_EQ(sizes.size(), 2U);
    const Bytes alpha(info.m_arrRecipe.begin(), info.m_arrRecipe.begin() + sizes[0]);
    const Bytes beta(info.m_arrRecipe.begin() + sizes[0],
                     info.m_arrRecipe.begin() + sizes[0] + sizes[1]);
    EXPECT_EQ(ReadFileBytes(panelOut / "01-recipe-Alpha.bin"), alpha);
    EXPECT_EQ(ReadFileBytes(panelOut / "02-recipe-Beta.bin"), beta);
    EXPECT_EQ(ReadFileBytes(panelOut / "03-application-H1.bin"), info.m_arrApplication);
    const nlohmann::json session = Session(panelOut.path());
    EXPECT_TRUE(session["over_received"].get<bool>());

    // The trace holds one tx line per frame the panel got and one rx line per reply.
    const std::string trace = ReadFileText(ws / "trace.txt");
    std::size_t tx = 0;
    std::size_t rx = 0;
    for (std::size_t at = 0; (at = trace.find('\n', at)) != std::string::npos; ++at) {
        const std::string line = trace.substr(at + 1, trace.find('\n', at + 1) - at - 1);
        tx += line.find(" tx 01 ") != std::string::npos ? 1 : 0;
        rx += line.find(" rx 01 ") != std::string::npos ? 1 : 0;
    }
    EXPECT_EQ(tx, session["frames_received"].get<std::size_t>());
    EXPECT_EQ(rx, session["replies_sent"].get<std::size_t>());
    // Opening command of the first recipe, with the serial link byte of format code 1.
    EXPECT_NE(trace.find(" tx 01 51 04 00 00 "), std::string::npos) << trace.substr(0, 400);
}

// -C DIR (also --workspace after the command, and TARVEX_WORKSPACE) works in the workspace from
// anywhere: the form reads its files there, the relative paths in them and in the options resolve
// there, and nothing is written where the program was started.
TEST_F(DownloadCommand, WorkspaceOptionWorksFromAnotherFolder) {
    TempDir elsewhere;
    const std::string cli = ProjectBinary("tarvex-cli");
    PanelSimProcess sim({"--product-code", "17", "--out", panelOut.path(), "--exit-after-over"});
    Strings args = {"-C", ws.path()};
    args = With(args, Args(With(kH1, {"--port", sim.port(), "--items", "application,bitmap",
                                      "--trace", "trace.txt"})));
    const std::string settingsBefore = ReadFileText(ws / "dnld.sv");
    const ProgramResult r = RunProgram(cli, args, 20s, elsewhere.path());
    ASSERT_EQ(r.exitStatus, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "Tarvex: Download Complete!\n");
    // The bitmap comes from the project folder that DnldData.txt names relative to the workspace.
    EXPECT_EQ(ReadFileBytes(panelOut / "01-bitmap-H1.bin"),
              ReadFileBytes(ws / "project/BMP/BMP.bin"));
    EXPECT_TRUE(fs::exists(panelOut / "02-application-H1.bin"));
    EXPECT_TRUE(fs::exists(ws / "trace.txt"));
    EXPECT_NE(ReadFileText(ws / "dnld.sv"), settingsBefore);  // the download saved the form
    EXPECT_TRUE(fs::is_empty(elsewhere.path()));

    struct Case {
        const char* name;
        Strings args;
        const char* env;
    };
    const Case cases[] = {
        {"--workspace after the command", {"form", "--json", "--workspace", ws.path()}, nullptr},
        {"TARVEX_WORKSPACE", {"form", "--json"}, ws.path().c_str()},
        {"-C before TARVEX_WORKSPACE", {"-C", ws.path(), "form", "--json"}, "/no-such-folder"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ScopedEnv env("TARVEX_WORKSPACE", c.env);
        const nlohmann::json j =
            nlohmann::json::parse(RunProgram(cli, c.args, 20s, elsewhere.path()).out);
        EXPECT_EQ(j["fields"]["app_dir"], ws.path() + "/");
        EXPECT_TRUE(j["controls"]["bitmap"]["checked"].get<bool>());
    }
    const ProgramResult missing =
        RunProgram(cli, {"-C", elsewhere / "no-such-folder", "form"}, 20s, elsewhere.path());
    EXPECT_EQ(missing.exitStatus, 2);
    EXPECT_NE(missing.err.find("cannot work in " + (elsewhere / "no-such-folder")),
              std::string::npos)
        << missing.err;
}

TEST_F(DownloadCommand, PanelCodeBecomesTheExitStatus) {
    PanelSimProcess sim({"--product-code", "17", "--password", "4321"});
    const ProgramResult r =
        Download(With(kH1, {"--port", sim.port(), "--items", "application", "--password", "1111"}));
    EXPECT_EQ(r.exitStatus, 12) << r.err;
    EXPECT_NE(r.err.find("Error: Password Verification Failed!\n"), std::string::npos) << r.err;
}

TEST_F(DownloadCommand, RefusalsBeforeTheLineHaveStatusesOfTheirOwn) {
    PtyPair idle;  // opens, but nobody answers on it
    {
        SCOPED_TRACE("a product the form does not offer");
        const ProgramResult r = Download({"--product", "H9", "--port", idle.slavePath()});
        EXPECT_EQ(r.exitStatus, 2);
        EXPECT_NE(r.err.find("\"Select Product\", \"H1\", \"K3\""), std::string::npos) << r.err;
    }
    {
        SCOPED_TRACE("USB Download for a firmware version of format code 0");
        const ProgramResult r =
            Download({"--product", "H1", "--bootloader", "BL1.2-1", "--firmware", "FW1.6", "--usb",
                      "--port", idle.slavePath()});
        EXPECT_EQ(r.exitStatus, 3) << r.err;
    }
    {
        SCOPED_TRACE("a container built for another product");
        const ProgramResult r = Download({"--product", "K3", "--bootloader", "BL2.0-3",
                                          "--firmware", "FW3.1", "--port", idle.slavePath()});
        EXPECT_EQ(r.exitStatus, 3) << r.err;
        EXPECT_NE(r.err.find("diffrent product"), std::string::npos) << r.err;
    }
    {
        SCOPED_TRACE("a port that does not open");
        const ProgramResult r =
            Download(With(kH1, {"--port", ws / "no-such-port", "--items", "application"}));
        EXPECT_EQ(r.exitStatus, 4) << r.err;
        EXPECT_NE(r.err.find("does not open (not found)"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("Error: Cannot open Communication Port."), std::string::npos);
    }
    {
        SCOPED_TRACE("a ticked item the container lacks");
        ContainerParts parts;
        parts.productCode = 17;
        parts.application = PatternBytes(300);
        parts.recipeTable = false;
        ws.WriteBytes("project/NoRecipes.bin", BuildContainer(parts));
        const ProgramResult r = Download(With(kH1, {"--port", idle.slavePath(), "--file",
                                                    "project/NoRecipes.bin", "--items", "recipe"}));
        EXPECT_EQ(r.exitStatus, 5) << r.err;
    }
}

// A container accepted on its header checksum whose body matches its checksum under neither
// rule: the question is answered No unless --allow-damaged-body says Yes.
TEST_F(DownloadCommand, DamagedBodyIsRefusedUnlessAllowed) {
    ContainerParts parts;
    parts.productCode = 17;
    parts.application = PatternBytes(300);
    Bytes bytes = BuildContainer(parts);
    SpoilBodyChecksum(bytes);
    ws.WriteBytes("project/Damaged.bin", bytes);
    PanelSimProcess sim({"--product-code", "17", "--out", panelOut.path()});
    const Strings args = With(
        kH1, {"--port", sim.port(), "--file", "project/Damaged.bin", "--items", "application"});
    const std::string question =
        "Tarvex: The contents of this file do not match its checksum: the images in it may be "
        "damaged. Download anyway? ";

    ProgramResult r = Download(args);
    EXPECT_EQ(r.exitStatus, 3) << r.err;
    EXPECT_EQ(r.err, question + "No (give --allow-damaged-body for Yes)\n");
    for (const auto& entry : fs::directory_iterator(panelOut.path())) {
        EXPECT_NE(entry.path().extension(), ".bin") << "the panel got " << entry.path();
    }

    r = Download(With(args, {"--allow-damaged-body"}));
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.err, question + "Yes (--allow-damaged-body given)\nTarvex: Download Complete!\n");
}

// A FIFO where a file is expected would block a plain open until a writer came: each is
// refused at once with the message its reader has for a file it cannot read.
TEST_F(DownloadCommand, FifosWhereFilesBelongAreRefusedWithoutBlocking) {
    PtyPair idle;
    const struct {
        const char* file;
        const char* message;
    } cases[] = {
        {"DnldData.txt", "Tarvex: Download Data File not found!\n"},
        {"Pxx/H1.CFG", "Error: Cannot open config file!\n"},
        {"project/H1.bin", "Tarvex: Bin file does not exist!\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string path = ws / c.file;
        const std::string saved = path + ".saved";
        fs::rename(path, saved);
        ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
        const ProgramResult r =
            RunProgram(ProjectBinary("tarvex-cli"), Args(With(kH1, {"--port", idle.slavePath()})),
                       10s, ws.path());
        EXPECT_FALSE(r.timedOut) << "blocked on the FIFO";
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        fs::remove(path);
        fs::rename(saved, path);
    }
}

// A container is held in memory once, its parts and items being views into it; one that does
// not fit into the memory the process may use is refused with a message, never a crash.
TEST_F(DownloadCommand, ContainerLargerThanTheMemoryAvailableIsRefused) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer needs more address space than the limit leaves";
#endif
    constexpr std::uint64_t kMiB = 1024 * 1024;
    // A valid header (its checksum right) in front of a body of zeros, all of it Application.
    const auto write = [this](const std::string& name, std::uint64_t size) {
        ContainerParts parts;
        parts.productCode = 17;
        parts.recipeTable = false;
        Bytes header = BuildContainer(parts);
        header.resize(27);
        for (int i = 0; i < 3; ++i) {
            SetLe32(header, 11 + 4 * i, static_cast<std::uint32_t>(size));
        }
        SetLe16(header, 23, CRC16(header.data(), 23));
        const std::string path = ws.WriteBytes(name, header);
        fs::resize_file(path, size);
        return path;
    };
    write("project/Fits.bin", 128 * kMiB);
    write("project/Huge.bin", 512 * kMiB);
    // About 8 MiB for the program itself: room for one copy of 128 MiB, not for two.
    const auto limited = [this](const Strings& args) {
        const std::string command =
            "ulimit -v " + std::to_string(196 * 1024) + " && exec \"$0\" \"$@\"";
        Strings all{"-c", command, ProjectBinary("tarvex-cli")};
        all.insert(all.end(), args.begin(), args.end());
        return RunProgram("/bin/sh", all, 60s, ws.path());
    };

    ProgramResult r = limited({"inspect", "project/Fits.bin"});
    EXPECT_EQ(r.exitStatus, 3) << r.out << r.err;  // valid; the zeros miss the body checksum
    r = limited({"inspect", "project/Huge.bin"});
    EXPECT_EQ(r.exitStatus, 1) << r.err;
    EXPECT_NE(r.out.find("the file is too large for the memory available"), std::string::npos)
        << r.out;

    PtyPair idle;
    r = limited(Args(With(kH1, {"--port", idle.slavePath(), "--file", "project/Huge.bin"})));
    EXPECT_EQ(r.exitStatus, 3) << r.err;
    EXPECT_EQ(r.err,
              "Tarvex: Invalid file for download!\nThe file is too large for the memory "
              "available.\n");
}

TEST_F(DownloadCommand, InterruptCancelsOnTheLine) {
    // A slow panel, so that the transfer is surely in its data phase when the signal comes.
    PanelSimProcess sim(
        {"--product-code", "17", "--out", panelOut.path(), "--reply-delay-ms", "60"});
    RunningCli cli = StartApplicationDownload(sim.port());
    ASSERT_TRUE(WaitForText(ws / "trace.txt", " tx 01 50 01 00 ")) << cli.Output();
    cli.Signal(SIGINT);
    const std::optional<int> status = cli.WaitExit(5s);
    ASSERT_TRUE(status.has_value()) << "still running after the interrupt";
    EXPECT_EQ(*status, 6) << "a cancel by the user; the orderly path ends the program";
    EXPECT_NE(cli.Output().find("tarvex-cli: interrupted"), std::string::npos) << cli.Output();

    // The panel got the Cancel command (item 0, action 3) and dropped the application.
    EXPECT_NE(ReadFileText(ws / "trace.txt").find(" tx 01 51 00 03 "), std::string::npos);
    ASSERT_TRUE(WaitForText(panelOut / "session.json", "\"cancelled\": true", 2s));
    const nlohmann::json item = Session(panelOut.path())["items"].at(0);
    EXPECT_EQ(item["kind"], "application");
    EXPECT_TRUE(item["cancelled"].get<bool>());
    EXPECT_FALSE(item["complete"].get<bool>());
}

TEST_F(DownloadCommand, SecondInterruptEndsAtOnceAndPutsThePortBack) {
    // The panel takes its time over the Cancel command, so the second signal finds the tool
    // waiting on the line with the port open.
    PanelSimProcess sim({"--product-code", "17", "--reply-delay-ms", "40", "--fault",
                         "item=any,phase=cancel,count=always:delay=5000"});
    const termios before = LineSettingsOf(sim.port());
    RunningCli cli = StartApplicationDownload(sim.port());
    ASSERT_TRUE(WaitForText(ws / "trace.txt", " tx 01 50 00 00 ")) << cli.Output();
    cli.Signal(SIGINT);
    ASSERT_TRUE(WaitForText(ws / "trace.txt", " tx 01 51 00 03 ")) << cli.Output();
    // A second signal counts only a second or more after the first.
    std::this_thread::sleep_for(1100ms);
    cli.Signal(SIGINT);
    const std::optional<int> status = cli.WaitExit(1500ms);
    ASSERT_TRUE(status.has_value()) << "the second interrupt did not end the program";
    EXPECT_EQ(*status, 130) << cli.Output();

    // The line is as it was found, and nobody holds it: another program may open it at once.
    const termios after = LineSettingsOf(sim.port());
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    RecordingUi ui;
    CSerialPort port(ui);
    EXPECT_TRUE(port.Open(sim.port())) << SerialErrorText(port.LastError());
}

// Every open of the port resets a USB adapter and pulses DTR and RTS; some panels reset on that
// pulse. A download opens its port once, whether the port is in the Com Port list (through the
// environment) or named by a link the list does not show, and whatever the form looked at
// before. inotify sees every open of the device node, also one given up at once; it merges an
// event with an equal one just before it, so the closes are watched too and keep the opens
// apart.
TEST_F(DownloadCommand, OpensThePortOnce) {
    struct Case {
        const char* name;
        bool listed;
    };
    for (const Case& c : {Case{"by a link", false}, Case{"listed", true}}) {
        SCOPED_TRACE(c.name);
        PanelSimProcess sim({"--product-code", "17", "--exit-after-over"});
        ASSERT_FALSE(sim.port().empty());
        const std::string link = ws / "panel-link";
        fs::remove(link);
        fs::create_symlink(sim.port(), link);
        ScopedEnv extra("TARVEX_EXTRA_PORTS", c.listed ? sim.port().c_str() : nullptr);
        const UniqueFd watch(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
        ASSERT_GE(::inotify_add_watch(watch.get(), sim.port().c_str(), IN_OPEN | IN_CLOSE), 0);

        const ProgramResult r =
            Download(With(kH1, {"--port", c.listed ? sim.port() : link, "--items", "application"}));
        ASSERT_EQ(r.exitStatus, 0) << r.out << r.err;
        int opens = 0;
        alignas(inotify_event) char buf[4096];
        for (ssize_t n = 0; (n = ::read(watch.get(), buf, sizeof buf)) > 0;) {
            for (char* p = buf; p < buf + n;
                 p += sizeof(inotify_event) + reinterpret_cast<inotify_event*>(p)->len) {
                // The node goes when the simulator ends (IN_IGNORED): only opens count.
                opens += (reinterpret_cast<inotify_event*>(p)->mask & IN_OPEN) != 0 ? 1 : 0;
            }
        }
        EXPECT_EQ(opens, 1);
    }
}

}  // namespace
}  // namespace tarvex::test
