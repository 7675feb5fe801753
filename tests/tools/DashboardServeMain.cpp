// tarvex-dashboard-serve: the dashboard's server with a line of made-up ports behind it, for
// trying the page by hand without panels. Each port loads one unit through the same events a
// download sends (start, items, progress, result) on a thread of its own; the last port fails
// with a panel code.
//
//   tarvex-dashboard-serve --port N [--ports COUNT] [--seconds S] [--linger S]
//
// Prints "dashboard at URL" once it serves, "done" when every port has its result, and ends
// after the linger.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/dashboard/DashboardServer.h"
#include "production/DashboardFeed.h"
#include "production/LineEvents.h"

namespace {

using namespace tarvex;
using namespace std::chrono_literals;

production::WallTime Now() {
    return std::chrono::system_clock::now();
}

void LoadOne(const production::EventStream& stream, const std::string& port, bool fails,
             std::chrono::milliseconds length) {
    constexpr std::uint64_t kBytes = 64 * 1024;
    constexpr int kSteps = 40;
    const auto start = std::chrono::steady_clock::now();
    stream.Emit(production::StartEvent{port, Now(), "H1", "BL1.2-1", "FW1.5", "H1.bin", {}});
    stream.Emit(production::ItemEvent{port, Now(), "Application", "", kBytes, kSteps});
    const int steps = fails ? kSteps / 3 : kSteps;
    for (int i = 1; i <= steps; ++i) {
        std::this_thread::sleep_for(length / kSteps);
        const std::uint64_t done = kBytes * static_cast<std::uint64_t>(i) / kSteps;
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        stream.Emit(production::ProgressEvent{port, Now(), "Application", "",
                                              static_cast<std::uint32_t>(i), kSteps, done, kBytes,
                                              done / seconds, done, kBytes, done / seconds});
    }
    production::ResultEvent result;
    result.port = port;
    result.time = Now();
    result.outcome = fails ? DownloadOutcome::PanelCode : DownloadOutcome::Complete;
    result.exitStatus = fails ? 12 : 0;
    result.panelCode = fails ? 2 : 0;
    result.message = fails ? "Error: Password Verification Failed!" : "Tarvex: Download Complete!";
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    stream.Emit(result);
}

}  // namespace

int main(int argc, char** argv) {
    int port = -1;
    int count = 4;
    double seconds = 2;
    double linger = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const char* value = argv[i + 1];
        if (name == "--port") {
            port = std::atoi(value);
        } else if (name == "--ports") {
            count = std::atoi(value);
        } else if (name == "--seconds") {
            seconds = std::atof(value);
        } else if (name == "--linger") {
            linger = std::atof(value);
        }
    }
    if (port < 0 || port > 65535 || count < 1 || count > 64) {
        std::fprintf(stderr,
                     "usage: tarvex-dashboard-serve --port N [--ports COUNT] [--seconds S] "
                     "[--linger S]\n");
        return 2;
    }
    std::vector<std::string> ports;
    for (int i = 1; i <= count; ++i) {
        ports.push_back("COM" + std::to_string(i + 2));
    }
    production::DashboardModel model(ports);
    model.Header().command = "gang";
    production::DashboardFeed feed(model);
    production::EventStream stream;
    stream.Add(&feed);
    dashboard::DashboardSettings settings;
    settings.port = static_cast<std::uint16_t>(port);
    dashboard::DashboardServer server(feed, settings);
    if (std::string why; !server.Start(why)) {
        std::fprintf(stderr, "tarvex-dashboard-serve: %s\n", why.c_str());
        return 1;
    }
    std::printf("dashboard at %s\n", server.Url().c_str());
    std::fflush(stdout);

    const auto length = std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        threads.emplace_back([&, i] {
            LoadOne(stream, ports[i], i + 1 == ports.size() && ports.size() > 1, length);
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    std::printf("done\n");
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<long long>(linger * 1000)));
    return 0;
}
