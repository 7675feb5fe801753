// How close a whole download comes to the time the panel protocol itself needs, and what it
// costs in CPU time.
//
// A download runs through the form (the Download button, as the dialog and tarvex-cli press
// it) against tarvex-panel-sim on a pseudo-terminal paced at 115200 baud, with a short think
// time before every reply. From the frames actually exchanged the time the protocol needs is
// computed the way the simulator paces the line:
//
//   every exchange   max(10 ms, (request bytes + 7 reply bytes) x 10 bits / baud + think time)
//                    -- the tool pauses 10 ms after writing before it reads, and that pause
//                    runs while the request is still on the line;
//   Bitmap and Font  their file-information frame is written once and its reply awaited after
//                    a 1000 ms round: 1000 ms + 10 ms;
//   recipes          100 ms between two recipes.
//
// Targets: wall time at most 1.02 x that protocol time, and the tool's CPU time (user + system)
// below 2 % of the wall time. The benchmark reports; it does not fail when a target is missed.
//
//   download_pacing [--kib N] [--reply-delay-ms N] [--panel-normal-priority]
//
// The simulated panel runs in the real-time class where allowed (--panel-normal-priority: not).
//
// Scenarios: a generated container of about N KiB (application and four recipes; default 224)
// through the form in this process; the sample container with all four items (its Bitmap and
// Font info rounds dominate); and the generated container through `tarvex-cli download` as a
// child process, with its progress lines and trace.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <span>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "download/DownloadContainer.h"
#include "hmi/HmiFrames.h"
#include "ui/TarvexDlg.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace tarvex;

constexpr std::uint32_t kBaud = 115200;
constexpr double kTargetRatio = 1.02;
constexpr double kTargetCpuShare = 0.02;

const std::string kBinaryDir = TARVEX_BINARY_DIR;

// --- Small process and file helpers ------------------------------------------------------------

class TempFolder {
  public:
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "tarvex-bench.XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp: " + std::string(std::strerror(errno)));
        }
        path_ = pattern;
    }
    ~TempFolder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

  private:
    std::string path_;
};

// A child with stdin and stdout from and to /dev/null (or stdout to a file), optionally in the
// real-time class at `fifoPriority` (EPERM when that is not allowed).
int TrySpawn(pid_t& pid, const std::vector<std::string>& args, const std::string& workingDir,
             const std::string& stdoutFile, int fifoPriority) {
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_addopen(&actions, 1, stdoutFile.c_str(),
                                       O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (!workingDir.empty()) {
        ::posix_spawn_file_actions_addchdir_np(&actions, workingDir.c_str());
    }
    std::vector<char*> argv;
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawnattr_t attr;
    ::posix_spawnattr_init(&attr);
    if (fifoPriority > 0) {
        sched_param param{};
        param.sched_priority = fifoPriority;
        ::posix_spawnattr_setschedpolicy(&attr, SCHED_FIFO);
        ::posix_spawnattr_setschedparam(&attr, &param);
        ::posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSCHEDULER);
    }
    const int rc = ::posix_spawn(&pid, args[0].c_str(), &actions, &attr, argv.data(), environ);
    ::posix_spawnattr_destroy(&attr);
    ::posix_spawn_file_actions_destroy(&actions);
    return rc;
}

pid_t Spawn(const std::vector<std::string>& args, const std::string& workingDir = {},
            const std::string& stdoutFile = "/dev/null") {
    pid_t pid = -1;
    if (const int rc = TrySpawn(pid, args, workingDir, stdoutFile, 0); rc != 0) {
        throw std::runtime_error("cannot start " + args[0] + ": " + std::strerror(rc));
    }
    return pid;
}

int WaitFor(pid_t pid, rusage* usage = nullptr) {
    int status = 0;
    rusage ignored{};
    while (::wait4(pid, &status, 0, usage != nullptr ? usage : &ignored) < 0) {
        if (errno != EINTR) {
            throw std::runtime_error("wait4: " + std::string(std::strerror(errno)));
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void Run(const std::vector<std::string>& args) {
    if (const int status = WaitFor(Spawn(args)); status != 0) {
        throw std::runtime_error(args[0] + " ended with exit status " + std::to_string(status));
    }
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

double CpuSeconds(const rusage& u) {
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// How the simulated panel runs. A real panel has a processor of its own; the stand-in shares
// this machine's, and at the normal priority its timing suffers from whatever else runs here
// (its pacing wakes up for every byte). In the real-time class, where allowed, the figures show
// the tool rather than the machine's load.
struct PanelSetup {
    std::uint32_t replyDelayMs = 2;
    bool realTime = true;
};

// The simulated panel, paced; ends by itself after the closing command.
class Panel {
  public:
    Panel(const TempFolder& dir, PanelSetup& setup) {
        const std::string portFile = dir / "port";
        fs::remove(portFile);
        const std::vector<std::string> args = {kBinaryDir + "/tarvex-panel-sim",
                                               "--product-code",
                                               "17",
                                               "--baud",
                                               std::to_string(kBaud),
                                               "--reply-delay-ms",
                                               std::to_string(setup.replyDelayMs),
                                               "--exit-after-over",
                                               "--port-file",
                                               portFile};
        // Below the tool's own real-time priority (the middle of the range).
        constexpr int kPanelPriority = 10;
        int rc = TrySpawn(pid_, args, {}, "/dev/null", setup.realTime ? kPanelPriority : 0);
        if (rc == EPERM && setup.realTime) {
            setup.realTime = false;
            rc = TrySpawn(pid_, args, {}, "/dev/null", 0);
        }
        if (rc != 0) {
            throw std::runtime_error("cannot start the simulated panel: " +
                                     std::string(std::strerror(rc)));
        }
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        while (port_.empty() && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            std::string text = ReadText(portFile);
            if (!text.empty() && text.back() == '\n') {
                port_ = text.substr(0, text.size() - 1);
            }
        }
        if (port_.empty()) {
            throw std::runtime_error("the simulated panel did not start");
        }
    }
    ~Panel() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            WaitFor(pid_);
        }
    }
    Panel(const Panel&) = delete;
    Panel& operator=(const Panel&) = delete;
    const std::string& port() const { return port_; }
    pid_t pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
    std::string port_;
};

// --- The protocol's own time -------------------------------------------------------------------

struct Exchange {
    std::size_t requestBytes = 0;
    std::uint8_t letter = 0;
    std::uint16_t parameter = 0;
    double writtenAt = 0;   // seconds since Download was pressed
    double repliedAt = -1;  // when its reply had been read; -1: none
};

struct ProtocolTime {
    double seconds = 0;
    std::size_t exchanges = 0;
    std::size_t lineBytes = 0;
    int infoRounds = 0;
    int recipePauses = 0;
    // Where the time beyond the protocol went: the tool's own turnaround from a reply read to
    // the next frame written, and how much later than the model the replies were read (line,
    // panel, and the tool's wake-up).
    double turnaroundS = 0;
    double replyLatenessS = 0;
};

ProtocolTime ProtocolTimeOf(const std::vector<Exchange>& written, double replyDelayS) {
    const double byteS = 10.0 / kBaud;
    constexpr double kReplyPauseS = 0.010;
    constexpr double kInfoRoundS = 1.000;
    constexpr double kRecipePauseS = 0.100;
    ProtocolTime t;
    int recipes = 0;
    for (const Exchange& e : written) {
        const std::uint8_t item = e.parameter & 0xFF;
        const std::uint8_t action = e.parameter >> 8;
        const bool bitmapOrFont = item == 2 || item == 3 || item == 5 || item == 7;
        double expected = 0;
        if (e.letter == hmi::kFileInfoLetter && action == 0 && bitmapOrFont) {
            expected = kInfoRoundS + kReplyPauseS;
            ++t.infoRounds;
        } else {
            const double line = static_cast<double>(e.requestBytes + hmi::kReplyLength) * byteS;
            expected = std::max(kReplyPauseS, line + replyDelayS);
        }
        t.seconds += expected;
        if (e.repliedAt >= 0) {
            t.replyLatenessS += e.repliedAt - e.writtenAt - expected;
        }
        if (e.letter == hmi::kCommandLetter && item == 4 && action == 0) {
            ++recipes;
        }
        ++t.exchanges;
        t.lineBytes += e.requestBytes + hmi::kReplyLength;
    }
    t.recipePauses = std::max(0, recipes - 1);
    t.seconds += kRecipePauseS * t.recipePauses;
    for (std::size_t i = 1; i < written.size(); ++i) {
        if (written[i - 1].repliedAt >= 0) {
            t.turnaroundS += written[i].writtenAt - written[i - 1].repliedAt;
        }
    }
    // The pauses between recipes are the protocol's, not the tool's.
    t.turnaroundS -= kRecipePauseS * t.recipePauses;
    return t;
}

Exchange ExchangeOf(std::span<const std::uint8_t> frame, double at) {
    Exchange e;
    e.writtenAt = at;
    e.requestBytes = frame.size();
    if (frame.size() >= 4) {
        e.letter = frame[1];
        e.parameter = static_cast<std::uint16_t>(frame[2] | (frame[3] << 8));
    }
    return e;
}

// The tx lines of a `tarvex-cli download --trace` file.
std::vector<Exchange> ExchangesFromTrace(const std::string& path) {
    std::vector<Exchange> out;
    std::istringstream in(ReadText(path));
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        double ms = 0;
        std::string dir;
        if (!(fields >> ms >> dir)) {
            continue;
        }
        if (dir == "rx" && !out.empty()) {
            out.back().repliedAt = ms / 1000.0;
        }
        if (dir != "tx") {
            continue;
        }
        std::vector<std::uint8_t> bytes;
        for (std::string hex; fields >> hex;) {
            bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex, nullptr, 16)));
        }
        out.push_back(ExchangeOf(bytes, ms / 1000.0));
    }
    return out;
}

// --- The workspace -----------------------------------------------------------------------------

void WriteRandom(const std::string& path, std::size_t size, std::mt19937& random) {
    std::vector<char> bytes(size);
    for (char& b : bytes) {
        b = static_cast<char>(random() & 0xFF);
    }
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<long>(bytes.size()));
}

// The sample workspace with a generated container project/Bench.bin: an application and four
// recipes, together about `kib` KiB (the recipes must stay within their 16-bit offsets).
void MakeWorkspace(const TempFolder& dir, std::size_t kib) {
    fs::copy(kBinaryDir + "/sample-workspace", dir / "ws", fs::copy_options::recursive);
    fs::create_directories(dir / "parts");
    std::mt19937 random(17);
    const std::size_t recipeBytes = std::min<std::size_t>(12 * 1024, kib * 1024 / 8);
    const std::size_t appBytes = kib * 1024 - 4 * recipeBytes;
    WriteRandom(dir / "parts/app.bin", appBytes, random);
    std::vector<std::string> pack = {kBinaryDir + "/tarvex-pack",
                                     "-o",
                                     dir / "ws/project/Bench.bin",
                                     "--product-code",
                                     "17",
                                     "--application",
                                     dir / "parts/app.bin"};
    for (const char* name : {"R1.bin", "R2.bin", "R3.bin", "R4.bin"}) {
        WriteRandom(dir / ("parts/" + std::string(name)), recipeBytes, random);
        pack.push_back("--recipe");
        pack.push_back(dir / ("parts/" + std::string(name)));
    }
    Run(pack);
    fs::create_directories(dir / "sysfs");
}

// --- One download through the form, in this process --------------------------------------------

class BenchUi : public IUserInterface {
  public:
    void ShowMessage(MessageKind, std::string_view caption, std::string_view text) override {
        messages.push_back(std::string(caption) + ": " + std::string(text));
    }
    std::optional<std::string> AskOpenFile(std::string_view, std::string_view) override {
        return answer;
    }
    void PumpEvents() override {}

    std::vector<std::string> messages;
    std::optional<std::string> answer;
};

struct Measured {
    double wallS = 0;
    double cpuS = 0;
    ProtocolTime protocol;
    bool complete = false;
    std::string note;
};

void Choose(CTarvexDlg& form, ComboBox& list, const std::string& text) {
    const int index = list.FindStringExact(text);
    if (index < 0 || !form.UserSelect(list, index)) {
        throw std::runtime_error("the form does not offer \"" + text + "\"");
    }
}

void Tick(CTarvexDlg& form, CheckBox& box, bool wanted) {
    if (box.GetCheck() != wanted) {
        form.UserClick(box);
    }
}

Measured DownloadInProcess(const TempFolder& dir, const std::string& container, bool allItems,
                           PanelSetup& setup) {
    Panel panel(dir, setup);
    const std::uint32_t replyDelayMs = setup.replyDelayMs;
    const fs::path previousDir = fs::current_path();
    fs::current_path(dir / "ws");  // the project folder of DnldData.txt is relative

    BenchUi ui;
    CDownloadInfo info;
    FormEnvironment env;
    env.probe.sysfsRoot = dir / "sysfs";
    env.probe.extraPorts = {panel.port()};
    env.timingLogPath = dir / "timing.csv";
    Measured m;
    {
        CTarvexDlg form(info, ui, env);
        form.OnInitDialog();
        Choose(form, form.m_cmbProduct, "H1");
        Choose(form, form.m_cmbBootloaderVersion, "BL1.2-1");
        Choose(form, form.m_cmbFirmwareVersion, "FW1.5");
        Choose(form, form.m_cmbComPort, panel.port());
        Choose(form, form.m_cmbBaudRate, std::to_string(kBaud));
        ui.answer = dir / ("ws/project/" + container);
        form.UserClick(form.m_btnBrowse);
        Tick(form, form.m_chkAll, allItems);
        Tick(form, form.m_chkApplication, true);
        Tick(form, form.m_chkRecipe, true);
        Tick(form, form.m_chkBitmap, allItems);
        Tick(form, form.m_chkFont, allItems);

        std::vector<Exchange> written;
        written.reserve(4096);
        Clock::time_point start{};
        form.SetFrameObserver([&](bool isWrite, std::span<const std::uint8_t> bytes) {
            const double at = std::chrono::duration<double>(Clock::now() - start).count();
            if (isWrite) {
                written.push_back(ExchangeOf(bytes, at));
            } else if (!written.empty()) {
                written.back().repliedAt = at;
            }
        });

        rusage before{};
        rusage after{};
        ::getrusage(RUSAGE_SELF, &before);
        start = Clock::now();
        form.UserClick(form.m_btnDownload);
        const Clock::time_point end = Clock::now();
        ::getrusage(RUSAGE_SELF, &after);

        m.wallS = std::chrono::duration<double>(end - start).count();
        m.cpuS = CpuSeconds(after) - CpuSeconds(before);
        m.protocol = ProtocolTimeOf(written, replyDelayMs / 1000.0);
        m.complete = form.LastDownloadOutcome() == DownloadOutcome::Complete;
        m.note = ui.messages.empty() ? "" : ui.messages.back();
    }
    fs::current_path(previousDir);
    return m;
}

// --- The same through tarvex-cli
// ------------------------------------------------------------------

Measured DownloadThroughCli(const TempFolder& dir, const std::string& container,
                            PanelSetup& setup) {
    Panel panel(dir, setup);
    const std::uint32_t replyDelayMs = setup.replyDelayMs;
    const std::string trace = dir / "trace.txt";
    const Clock::time_point start = Clock::now();
    const pid_t cli = Spawn({kBinaryDir + "/tarvex-cli",
                             "download",
                             "--sysfs-root",
                             dir / "sysfs",
                             "--product",
                             "H1",
                             "--bootloader",
                             "BL1.2-1",
                             "--firmware",
                             "FW1.5",
                             "--password",
                             "1234",
                             "--port",
                             panel.port(),
                             "--baud",
                             std::to_string(kBaud),
                             "--file",
                             "project/" + container,
                             "--items",
                             "application,recipe",
                             "--progress",
                             "lines",
                             "--trace",
                             trace},
                            dir / "ws", dir / "progress.txt");
    rusage usage{};
    const int status = WaitFor(cli, &usage);
    const Clock::time_point end = Clock::now();
    Measured m;
    m.wallS = std::chrono::duration<double>(end - start).count();
    m.cpuS = CpuSeconds(usage);
    m.protocol = ProtocolTimeOf(ExchangesFromTrace(trace), replyDelayMs / 1000.0);
    m.complete = status == 0;
    m.note = "exit status " + std::to_string(status);
    return m;
}

double PerExchangeMs(double seconds, std::size_t exchanges) {
    return exchanges > 0 ? seconds * 1000.0 / static_cast<double>(exchanges) : 0.0;
}

bool Report(const char* title, const Measured& m) {
    const double ratio = m.protocol.seconds > 0 ? m.wallS / m.protocol.seconds : 0;
    const double share = m.wallS > 0 ? m.cpuS / m.wallS : 0;
    const bool ratioMet = ratio <= kTargetRatio;
    const bool cpuMet = share < kTargetCpuShare;
    std::printf("%s\n", title);
    std::printf("  outcome        %s%s%s\n", m.complete ? "complete" : "NOT complete",
                m.note.empty() ? "" : " -- ", m.note.c_str());
    std::printf("  exchanges      %zu (%zu bytes on the line, %d info rounds, %d recipe pauses)\n",
                m.protocol.exchanges, m.protocol.lineBytes, m.protocol.infoRounds,
                m.protocol.recipePauses);
    std::printf("  wall time      %9.3f s\n", m.wallS);
    std::printf("  protocol time  %9.3f s\n", m.protocol.seconds);
    std::printf(
        "  beyond it      %9.3f s: replies read later than the model %.3f s (%.3f ms "
        "each), the tool's turnaround %.3f s (%.3f ms each), start and end %.3f s\n",
        m.wallS - m.protocol.seconds, m.protocol.replyLatenessS,
        PerExchangeMs(m.protocol.replyLatenessS, m.protocol.exchanges), m.protocol.turnaroundS,
        PerExchangeMs(m.protocol.turnaroundS, m.protocol.exchanges),
        m.wallS - m.protocol.seconds - m.protocol.replyLatenessS - m.protocol.turnaroundS);
    std::printf("  ratio          %9.4f   target <= %.2f: %s\n", ratio, kTargetRatio,
                ratioMet ? "met" : "NOT met");
    std::printf("  CPU time       %9.3f s = %.2f %% of wall   target < %.0f %%: %s\n\n", m.cpuS,
                share * 100, kTargetCpuShare * 100, cpuMet ? "met" : "NOT met");
    return ratioMet && cpuMet;
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t kib = 224;
    PanelSetup setup;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--kib" && i + 1 < argc) {
            kib = std::max<std::size_t>(16, std::stoul(argv[++i]));
        } else if (option == "--reply-delay-ms" && i + 1 < argc) {
            setup.replyDelayMs = static_cast<std::uint32_t>(std::stoul(argv[++i]));
        } else if (option == "--panel-normal-priority") {
            setup.realTime = false;
        } else {
            std::fprintf(stderr,
                         "usage: download_pacing [--kib N] [--reply-delay-ms N] "
                         "[--panel-normal-priority]\n");
            return 2;
        }
    }
    try {
        TempFolder dir;
        MakeWorkspace(dir, kib);
        std::printf("Download pacing at %u baud, %u ms panel think time\n\n", kBaud,
                    setup.replyDelayMs);
        char title[128];
        std::snprintf(title, sizeof title,
                      "Generated container, %zu KiB (application + 4 recipes), through the form",
                      kib);
        Report(title, DownloadInProcess(dir, "Bench.bin", false, setup));
        Report("Sample container H1.bin, all items (Bitmap and Font info rounds), through the form",
               DownloadInProcess(dir, "H1.bin", true, setup));
        Report("Generated container through tarvex-cli download (progress lines, trace)",
               DownloadThroughCli(dir, "Bench.bin", setup));
        std::printf("The simulated panel ran %s.\n",
                    setup.realTime ? "in the real-time class" : "at the normal priority");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "download_pacing: %s\n", e.what());
        return 1;
    }
    return 0;
}
