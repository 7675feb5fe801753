// What the gang benchmarks share: spawning tarvex-cli and the simulated panels, waiting for
// them with their resource usage, random containers, and one run of the command line.
//
//   Spawn(args, dir, out)    starts a program with standard input from /dev/null and both
//                            outputs into `out`
//   WaitFor(pid, usage)      its exit status and resource usage
//   Panels                   simulated panels on pseudo-terminals, one per port, with the
//                            simulator options given (an echoing two-wire line, say)
//   Form(sysfs, container)   the form options every run gives
//   RunCli(args, ws, ...)    one tarvex-cli run: wall and CPU time, peak memory, exit status
//   Median(values)           the middle of a few runs' figures
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
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

namespace tarvex::bench {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Args = std::vector<std::string>;

inline const std::string kBinaryDir = TARVEX_BINARY_DIR;

inline pid_t Spawn(const Args& args, const std::string& dir, const std::string& out) {
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

inline int WaitFor(pid_t pid, rusage* usage) {
    int status = 0;
    while (::wait4(pid, &status, 0, usage) < 0) {
        if (errno != EINTR) {
            throw std::runtime_error("wait4");
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

inline double CpuSeconds(const rusage& u) {
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

inline std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void WriteRandom(const std::string& path, std::size_t size, std::mt19937& random) {
    std::vector<char> bytes(size);
    for (char& b : bytes) {
        b = static_cast<char>(random() & 0xFF);
    }
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<long>(bytes.size()));
}

// A container project/NAME in the workspace: an application of appBytes and four recipes of
// recipeBytes each.
inline void MakeContainer(const std::string& ws, const std::string& name, std::size_t appBytes,
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
    Panels(const std::string& dir, int count, bool paced, const Args& extra = {}) {
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
            args.insert(args.end(), extra.begin(), extra.end());
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

inline Args Form(const std::string& sysfs, const std::string& container) {
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

inline Run RunCli(const Args& args, const std::string& ws, double interruptAfterS = 0) {
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

inline double Median(std::vector<double> v) {
    if (v.empty()) {
        return 0;
    }
    std::sort(v.begin(), v.end());
    return v.size() % 2 == 1 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}
}  // namespace tarvex::bench
