// tarvex-cli gang: eight simulated panels at once, against the same eight one after another.
//
//   gang_parallel [--kib N] [--ports N] [--memory-mib M] [--retry-rounds R]
//
// Pacing: N KiB (default 64; an application and four recipes) to each of --ports (default 8)
// simulated panels paced at 115200 baud with 2 ms think time: first every port alone through
// `tarvex-cli download`, then all of them at once through `tarvex-cli gang`. Targets: the gang's
// wall time at most 3 % over the slowest single download; the tool's CPU time (user + system)
// under 1 % of the wall time per port.
//
// Memory: a container with an M MiB application (default 64) for a gang of the same ports,
// unpaced, interrupted after the transfers have started (a whole 64 MiB download takes hours
// at one frame per 10 ms exchange; the container is read, checked and handed to every form
// before the first frame). Target: peak resident memory below 2 x the container + 32 MiB.
// Retries: R rounds (default 3) of the same paced gang with --retries 0 and with --retries 2
// and unit ids from a counter, side by side in alternating order, every panel passing. Target:
// the medians differ by no more than the rounds' own spread (the checks cost nothing a
// passing unit can see).
// The benchmark reports; it does not fail when a target is missed.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Args = std::vector<std::string>;

const std::string kBinaryDir = TARVEX_BINARY_DIR;

pid_t Spawn(const Args& args, const std::string& dir, const std::string& out) {
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                       0644);
    ::posix_spawn_file_actions_adddup2(&actions, 1, 2);
    if (!dir.empty()) {
        ::posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    }
    std::vector<char*> argv;
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, args[0].c_str(), &actions, nullptr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        throw std::runtime_error("cannot start " + args[0]);
    }
    return pid;
}

int WaitFor(pid_t pid, rusage* usage) {
    int status = 0;
    while (::wait4(pid, &status, 0, usage) < 0) {
        if (errno != EINTR) {
            throw std::runtime_error("wait4");
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

double CpuSeconds(const rusage& u) {
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteRandom(const std::string& path, std::size_t size, std::mt19937& random) {
    std::vector<char> bytes(size);
    for (char& b : bytes) {
        b = static_cast<char>(random() & 0xFF);
    }
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<long>(bytes.size()));
}

// A container project/NAME in the workspace: an application of appBytes and four recipes of
// recipeBytes each.
void MakeContainer(const std::string& ws, const std::string& name, std::size_t appBytes,
                   std::size_t recipeBytes) {
    std::mt19937 random(17);
    const std::string parts = ws + "/parts-" + name;
    fs::create_directories(parts);
    WriteRandom(parts + "/app.bin", appBytes, random);
    Args pack = {kBinaryDir + "/tarvex-pack",
                 "-o",
                 ws + "/project/" + name,
                 "--product-code",
                 "17",
                 "--application",
                 parts + "/app.bin"};
    for (const char* r : {"R1.bin", "R2.bin", "R3.bin", "R4.bin"}) {
        WriteRandom(parts + "/" + r, recipeBytes, random);
        pack.insert(pack.end(), {"--recipe", parts + "/" + r});
    }
    rusage ignored{};
    if (WaitFor(Spawn(pack, {}, "/dev/null"), &ignored) != 0) {
        throw std::runtime_error("tarvex-pack failed");
    }
    fs::remove_all(parts);
}

class Panels {
  public:
    Panels(const std::string& dir, int count, bool paced) {
        for (int i = 0; i < count; ++i) {
            const std::string portFile = dir + "/port" + std::to_string(i);
            fs::remove(portFile);
            Args args = {kBinaryDir + "/tarvex-panel-sim",
                         "--product-code",
                         "17",
                         "--port-file",
                         portFile,
                         "--exit-after-over"};
            if (paced) {
                args.insert(args.end(), {"--baud", "115200", "--reply-delay-ms", "2"});
            }
            pids_.push_back(Spawn(args, {}, "/dev/null"));
            const auto deadline = Clock::now() + std::chrono::seconds(5);
            std::string text;
            while ((text.empty() || text.back() != '\n') && Clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                text = ReadText(portFile);
            }
            ports_.push_back(text.substr(0, text.size() - 1));
        }
    }
    ~Panels() {
        for (const pid_t pid : pids_) {
            ::kill(pid, SIGTERM);
            rusage ignored{};
            WaitFor(pid, &ignored);
        }
    }
    const std::vector<std::string>& Ports() const { return ports_; }

  private:
    std::vector<pid_t> pids_;
    std::vector<std::string> ports_;
};

Args Form(const std::string& sysfs, const std::string& container) {
    return {"--sysfs-root", sysfs,
            "--product",    "H1",
            "--bootloader", "BL1.2-1",
            "--firmware",   "FW1.5",
            "--baud",       "115200",
            "--file",       "project/" + container,
            "--items",      "application,recipe",
            "--progress",   "none"};
}

struct Run {
    double wallS = 0;
    double cpuS = 0;
    long maxRssKiB = 0;
    int status = -1;
};

Run RunCli(const Args& args, const std::string& ws, double interruptAfterS = 0) {
    const Clock::time_point start = Clock::now();
    const pid_t pid = Spawn(args, ws, ws + "/cli.out");
    if (interruptAfterS > 0) {
        std::this_thread::sleep_for(std::chrono::duration<double>(interruptAfterS));
        ::kill(pid, SIGINT);
    }
    rusage usage{};
    Run run;
    run.status = WaitFor(pid, &usage);
    run.wallS = std::chrono::duration<double>(Clock::now() - start).count();
    run.cpuS = CpuSeconds(usage);
    run.maxRssKiB = usage.ru_maxrss;
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t kib = 64;
    int ports = 8;
    std::size_t memoryMib = 64;
    int retryRounds = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const auto value = static_cast<std::size_t>(std::stoul(argv[i + 1]));
        if (option == "--kib") {
            kib = value;
        } else if (option == "--ports") {
            ports = static_cast<int>(value);
        } else if (option == "--memory-mib") {
            memoryMib = value;
        } else if (option == "--retry-rounds") {
            retryRounds = static_cast<int>(value);
        }
    }
    // The simulated panels take any password; the forms must not stop to ask for one.
    ::setenv("TARVEX_PASSWORD", "4321", 0);
    char pattern[] = "/tmp/tarvex-gang-bench.XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        return 1;
    }
    const std::string dir = pattern;
    const std::string ws = dir + "/ws";
    fs::copy(kBinaryDir + "/sample-workspace", ws, fs::copy_options::recursive);
    fs::create_directories(dir + "/sysfs");
    const std::size_t recipeBytes = std::min<std::size_t>(12 * 1024, kib * 1024 / 8);
    MakeContainer(ws, "Bench.bin", kib * 1024 - 4 * recipeBytes, recipeBytes);

    // --- Pacing: each alone, then all at once.
    double slowest = 0;
    for (int i = 0; i < ports; ++i) {
        Panels panel(dir, 1, true);
        Args args = {kBinaryDir + "/tarvex-cli", "download", "--port", panel.Ports()[0]};
        const Args form = Form(dir + "/sysfs", "Bench.bin");
        args.insert(args.end(), form.begin(), form.end());
        const Run single = RunCli(args, ws);
        std::printf("single %d: %.3f s, CPU %.3f s, exit status %d\n", i + 1, single.wallS,
                    single.cpuS, single.status);
        slowest = std::max(slowest, single.wallS);
    }
    {
        Panels panels(dir, ports, true);
        Args args = {kBinaryDir + "/tarvex-cli", "gang"};
        const Args form = Form(dir + "/sysfs", "Bench.bin");
        args.insert(args.end(), form.begin(), form.end());
        for (const std::string& port : panels.Ports()) {
            args.insert(args.end(), {"--port", port});
        }
        const Run gang = RunCli(args, ws);
        const double share = gang.cpuS / gang.wallS / ports;
        std::printf(
            "gang of %d, %zu KiB each at 115200 baud: wall %.3f s, slowest single %.3f s, "
            "ratio %.3f (target <= 1.03); CPU %.3f s = %.2f %% of wall per port (target < 1 %%); "
            "exit status %d\n",
            ports, kib, gang.wallS, slowest, gang.wallS / slowest, gang.cpuS, 100 * share,
            gang.status);
    }

    // --- Retries and unit ids on passing units: with and without, alternating.
    if (retryRounds > 0) {
        std::vector<double> plain, checked;
        for (int round = 0; round < 2 * retryRounds; ++round) {
            const bool withRetries = (round % 2 == 1) == (round / 2 % 2 == 0);
            Panels panels(dir, ports, true);
            Args args = {kBinaryDir + "/tarvex-cli", "gang"};
            const Args form = Form(dir + "/sysfs", "Bench.bin");
            args.insert(args.end(), form.begin(), form.end());
            for (const std::string& port : panels.Ports()) {
                args.insert(args.end(), {"--port", port});
            }
            if (withRetries) {
                args.insert(args.end(), {"--retries", "2", "--unit-id-from", "counter:B-:1",
                                         "--report", dir + "/retry-report.jsonl"});
            } else {
                args.insert(args.end(), {"--report", dir + "/plain-report.jsonl"});
            }
            const Run gang = RunCli(args, ws);
            (withRetries ? checked : plain).push_back(gang.wallS);
            std::printf("gang of %d, %s: wall %.3f s, exit status %d\n", ports,
                        withRetries ? "--retries 2 and unit ids" : "no retries, no ids", gang.wallS,
                        gang.status);
        }
        const auto median = [](std::vector<double> v) {
            std::sort(v.begin(), v.end());
            return v.size() % 2 == 1 ? v[v.size() / 2]
                                     : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
        };
        const auto spread = [](const std::vector<double>& v) {
            const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
            return *hi - *lo;
        };
        const double difference = median(checked) - median(plain);
        const double noise = std::max(spread(checked), spread(plain));
        std::printf(
            "retries and unit ids on passing units: median %.3f s against %.3f s, difference "
            "%+.3f s, spread of the rounds %.3f s: %s\n",
            median(checked), median(plain), difference, noise,
            std::abs(difference) <= noise ? "within noise" : "MEASURABLE");
    }

    // --- Memory: the container held once for every port.
    MakeContainer(ws, "Big.bin", memoryMib * 1024 * 1024, 1024);
    {
        Panels panels(dir, ports, false);
        Args args = {kBinaryDir + "/tarvex-cli", "gang"};
        const Args form = Form(dir + "/sysfs", "Big.bin");
        args.insert(args.end(), form.begin(), form.end());
        for (const std::string& port : panels.Ports()) {
            args.insert(args.end(), {"--port", port});
        }
        const Run gang = RunCli(args, ws, 8.0);
        const double containerMib =
            static_cast<double>(fs::file_size(ws + "/project/Big.bin")) / (1024.0 * 1024.0);
        const double peakMib = static_cast<double>(gang.maxRssKiB) / 1024.0;
        std::printf(
            "gang of %d on a %.1f MiB container: peak resident %.1f MiB, limit %.1f MiB "
            "(2 x container + 32 MiB): %s; exit status %d after the interrupt\n",
            ports, containerMib, peakMib, 2 * containerMib + 32,
            peakMib < 2 * containerMib + 32 ? "met" : "MISSED", gang.status);
        std::fputs(ReadText(ws + "/cli.out").substr(0, 2000).c_str(), stdout);
    }
    fs::remove_all(dir);
    return 0;
}
