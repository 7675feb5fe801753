// What reading back a two-wire line's echo costs a download.
//
// The sample container's application and recipes go through `tarvex-cli download` to the
// simulated panel, paced at 115200 baud with 2 ms think time: once with no echo, and once to
// the echoing panel (tarvex-panel-sim --echo) with --echo discard. The two alternate for R
// rounds (default 5), each with a fresh panel. The echo's own wire time is allowed for: on a
// two-wire line, as in the simulator, each byte comes back while it is sent, so the echo ends
// with the frame and takes no line time of its own; what the echo costs beyond that is the
// tool's. Target: the echo's median wall time within 3 % of the no-echo median plus that
// allowance. The benchmark reports; it does not fail when a target is missed.
//
//   echo_discard [--rounds R] [--kib N]
//
// --kib N: a generated container of about N KiB (application and four recipes) instead of the
// sample, for a longer run.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "GangBench.h"

namespace {

using namespace tarvex::bench;

constexpr double kTargetRatio = 1.03;
constexpr double kBaud = 115200;

// The bytes of the frames written, from a --trace file: what comes back as the echo.
std::size_t FrameBytes(const std::string& trace, int& frames) {
    std::istringstream in(ReadText(trace));
    std::size_t bytes = 0;
    frames = 0;
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string ms, dir;
        if (!(fields >> ms >> dir) || dir != "tx") {
            continue;
        }
        ++frames;
        for (std::string hex; fields >> hex;) {
            ++bytes;
        }
    }
    return bytes;
}

struct Figures {
    std::vector<double> wallS;
    std::vector<double> cpuS;
    std::size_t frameBytes = 0;
    int frames = 0;
    int failures = 0;
};

void RunOnce(const std::string& dir, const std::string& ws, const std::string& container, bool echo,
             Figures& f) {
    Panels panel(dir, 1, true, echo ? Args{"--echo"} : Args{});
    const std::string trace = dir + (echo ? "/trace-echo.txt" : "/trace-plain.txt");
    Args args = {kBinaryDir + "/tarvex-cli", "download", "--port", panel.Ports()[0], "--echo",
                 echo ? "discard" : "none",  "--trace",  trace};
    const Args form = Form(dir + "/sysfs", container);
    args.insert(args.end(), form.begin(), form.end());
    const Run run = RunCli(args, ws);
    if (run.status != 0) {
        ++f.failures;
        std::printf("  %s: exit status %d\n%s", echo ? "echo" : "no echo", run.status,
                    ReadText(ws + "/cli.out").substr(0, 2000).c_str());
        return;
    }
    f.wallS.push_back(run.wallS);
    f.cpuS.push_back(run.cpuS);
    f.frameBytes = FrameBytes(trace, f.frames);
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 5;
    std::size_t kib = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--rounds" && i + 1 < argc) {
            rounds = std::max(1, std::stoi(argv[++i]));
        } else if (option == "--kib" && i + 1 < argc) {
            kib = std::max<std::size_t>(16, std::stoul(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: echo_discard [--rounds R] [--kib N]\n");
            return 2;
        }
    }
    ::setenv("TARVEX_PASSWORD", "4321", 0);
    char pattern[] = "/tmp/tarvex-echo-bench.XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        return 1;
    }
    const std::string dir = pattern;
    const std::string ws = dir + "/ws";
    try {
        fs::copy(kBinaryDir + "/sample-workspace", ws, fs::copy_options::recursive);
        fs::create_directories(dir + "/sysfs");
        std::string container = "H1.bin";
        if (kib > 0) {
            const std::size_t recipeBytes = std::min<std::size_t>(12 * 1024, kib * 1024 / 8);
            MakeContainer(ws, "Bench.bin", kib * 1024 - 4 * recipeBytes, recipeBytes);
            container = "Bench.bin";
        }
        std::printf(
            "%s (application and recipes) at 115200 baud, %d rounds, no echo and "
            "--echo discard alternating\n",
            container.c_str(), rounds);
        Figures plain;
        Figures echo;
        for (int round = 0; round < rounds; ++round) {
            const bool echoFirst = round % 2 == 1;
            RunOnce(dir, ws, container, echoFirst, echoFirst ? echo : plain);
            RunOnce(dir, ws, container, !echoFirst, echoFirst ? plain : echo);
            std::printf("  round %d: no echo %.3f s, echo discarded %.3f s\n", round + 1,
                        plain.wallS.empty() ? 0.0 : plain.wallS.back(),
                        echo.wallS.empty() ? 0.0 : echo.wallS.back());
        }
        const double p = Median(plain.wallS);
        const double e = Median(echo.wallS);
        const double echoLineS = static_cast<double>(echo.frameBytes) * 10 / kBaud;
        // Heard while sent: none of the echo's line time comes after the frame's own.
        const double allowanceS = 0;
        const double ratio = p > 0 ? e / (p + allowanceS) : 0;
        std::printf("no echo        median %.3f s, CPU %.3f s, %d frames\n", p, Median(plain.cpuS),
                    plain.frames);
        std::printf("echo discarded median %.3f s, CPU %.3f s, %d frames\n", e, Median(echo.cpuS),
                    echo.frames);
        std::printf(
            "echo: %zu bytes = %.3f s of line time, heard while the frames are sent: "
            "allowance %.3f s\n",
            echo.frameBytes, echoLineS, allowanceS);
        std::printf("difference %+.3f s = %+.3f ms a frame\n", e - p,
                    (e - p) * 1000 / std::max(1, echo.frames));
        std::printf("ratio %.4f   target <= %.2f: %s%s\n", ratio, kTargetRatio,
                    ratio > 0 && ratio <= kTargetRatio ? "met" : "NOT met",
                    plain.failures + echo.failures > 0 ? " (some runs failed)" : "");
    } catch (const std::exception& ex) {
        std::fprintf(stderr, "echo_discard: %s\n", ex.what());
        fs::remove_all(dir);
        return 1;
    }
    fs::remove_all(dir);
    return 0;
}
