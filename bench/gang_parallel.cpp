// tarvex-cli gang: eight simulated panels at once, against the same eight one after another.
//
//   gang_parallel [--kib N] [--ports N] [--memory-mib M] [--retry-rounds R]
//
// Pacing: N KiB (default 64; an application and four recipes) to each of --ports (default 8)
// simulated panels paced at 115200 baud with 2 ms think time: first every port alone through
// `tarvex-cli download`, then all of them at once through `tarvex-cli gang`. Targets: the gang's
// wall time at most 2 % over the slowest single download; the tool's CPU time (user + system)
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

#include "GangBench.h"

namespace {

using namespace tarvex::bench;

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
            "ratio %.3f (target <= 1.02); CPU %.3f s = %.2f %% of wall per port (target < 1 %%); "
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
