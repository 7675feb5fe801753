// tarvex-cli gang of eight paced simulated panels with and without the dashboard, side by side.
//
//   dashboard_gang [--kib N] [--ports N] [--rounds R] [--clients C]
//
// Each round runs the same gang twice, in turn: once without the dashboard, once with
// --dashboard and C clients (default 5) reading the live stream for the whole run, plus one
// client that asks for the stream and never reads (a stalled browser). N KiB (default 64) to
// each of --ports (default 8) panels paced at 115200 baud with 2 ms think time. Reported: the
// median wall time of each kind, their ratio (target: within 1 %), the frames the readers got,
// and the peak resident memory of each kind (the stalled client must not make it grow: the
// server's queue per client is bounded). The benchmark reports; it does not fail.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "GangBench.h"

namespace {

using namespace tarvex::bench;

// A client of the live stream on 127.0.0.1:port: connects (retrying until the server is up),
// asks for /api/v1/events and, unless stalled, reads until the server closes.
class StreamClient {
  public:
    StreamClient(int port, bool stalled) : stalled_(stalled) {
        thread_ = std::thread([this, port] { Run(port); });
    }
    ~StreamClient() {
        stop_ = true;
        if (fd_ >= 0) {
            ::shutdown(fd_, SHUT_RDWR);
        }
        thread_.join();
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    std::size_t Frames() const { return frames_; }
    std::size_t Bytes() const { return bytes_; }

  private:
    void Run(int port) {
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (!stop_ && Clock::now() < deadline) {
            const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
            if (stalled_) {
                const int small = 4096;
                ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
            }
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(static_cast<std::uint16_t>(port));
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
                fd_ = fd;
                break;
            }
            ::close(fd);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        if (fd_ < 0) {
            return;
        }
        const std::string request = "GET /api/v1/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        (void)::send(fd_, request.data(), request.size(), MSG_NOSIGNAL);
        if (stalled_) {
            return;  // never reads
        }
        char buffer[16384];
        for (;;) {
            const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
            if (got <= 0) {
                break;
            }
            bytes_ += static_cast<std::size_t>(got);
            for (ssize_t i = 0; i + 6 < got; ++i) {
                frames_ += std::memcmp(buffer + i, "event:", 6) == 0 ? 1 : 0;
            }
        }
    }

    bool stalled_;
    std::atomic<bool> stop_{false};
    std::atomic<int> fd_{-1};
    std::atomic<std::size_t> frames_{0};
    std::atomic<std::size_t> bytes_{0};
    std::thread thread_;
};

}  // namespace

int main(int argc, char** argv) {
    std::size_t kib = 64;
    int ports = 8;
    int rounds = 3;
    int clients = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const int value = std::stoi(argv[i + 1]);
        if (option == "--kib") {
            kib = static_cast<std::size_t>(value);
        } else if (option == "--ports") {
            ports = value;
        } else if (option == "--rounds") {
            rounds = value;
        } else if (option == "--clients") {
            clients = value;
        }
    }
    char pattern[] = "/tmp/tarvex-dashboard-bench.XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        return 1;
    }
    const std::string dir = pattern;
    const std::string ws = dir + "/ws";
    fs::copy(kBinaryDir + "/sample-workspace", ws, fs::copy_options::recursive);
    fs::create_directories(dir + "/sysfs");
    const std::size_t recipeBytes = std::min<std::size_t>(12 * 1024, kib * 1024 / 8);
    MakeContainer(ws, "Bench.bin", kib * 1024 - 4 * recipeBytes, recipeBytes);
    const int dashboardPort = 40000 + static_cast<int>(::getpid() % 10000);

    std::vector<double> without, with;
    long rssWithout = 0, rssWith = 0;
    std::size_t frames = 0;
    for (int round = 0; round < rounds; ++round) {
        for (const bool dashboard : {false, true}) {
            Panels panels(dir, ports, true);
            Args args = {kBinaryDir + "/tarvex-cli", "gang"};
            const Args form = Form(dir + "/sysfs", "Bench.bin");
            args.insert(args.end(), form.begin(), form.end());
            for (const std::string& port : panels.Ports()) {
                args.insert(args.end(), {"--port", port});
            }
            if (dashboard) {
                args.insert(args.end(), {"--dashboard", std::to_string(dashboardPort)});
            }
            std::vector<std::unique_ptr<StreamClient>> attached;
            Run run;
            {
                if (dashboard) {
                    // The readers and the stalled one connect while the gang starts.
                    for (int c = 0; c < clients; ++c) {
                        attached.push_back(std::make_unique<StreamClient>(dashboardPort, false));
                    }
                    attached.push_back(std::make_unique<StreamClient>(dashboardPort, true));
                }
                run = RunCli(args, ws);
            }
            if (dashboard) {
                for (int c = 0; c < clients; ++c) {
                    frames += attached[static_cast<std::size_t>(c)]->Frames();
                }
            }
            attached.clear();
            std::printf("round %d %s: wall %.3f s, CPU %.3f s, peak resident %.1f MiB, exit %d\n",
                        round + 1, dashboard ? "with the dashboard" : "without         ", run.wallS,
                        run.cpuS, static_cast<double>(run.maxRssKiB) / 1024.0, run.status);
            if (run.status != 0) {
                std::fputs(ReadText(ws + "/cli.out").substr(0, 3000).c_str(), stdout);
            }
            (dashboard ? with : without).push_back(run.wallS);
            long& rss = dashboard ? rssWith : rssWithout;
            rss = std::max(rss, run.maxRssKiB);
        }
    }
    const double ratio = Median(with) / Median(without);
    std::printf(
        "gang of %d, %zu KiB each at 115200 baud: median wall %.3f s without, %.3f s with the "
        "dashboard and %d clients + 1 stalled: ratio %.4f (target within 1 %%): %s\n",
        ports, kib, Median(without), Median(with), clients, ratio,
        std::abs(ratio - 1) <= 0.01 ? "met" : "MISSED");
    std::printf("the readers got %zu frames in all (%.0f a run)\n", frames,
                static_cast<double>(frames) / rounds);
    std::printf(
        "peak resident memory: %.1f MiB without, %.1f MiB with the dashboard and a stalled "
        "client (the server's queue is at most 256 KiB a client)\n",
        static_cast<double>(rssWithout) / 1024.0, static_cast<double>(rssWith) / 1024.0);
    fs::remove_all(dir);
    return 0;
}
