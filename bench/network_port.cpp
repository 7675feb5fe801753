// A download through a device server against the same download on the local line.
//
// The sample container's application and recipes go to the simulated panel, paced at 115200
// baud with 2 ms think time, through `tarvex-cli download`: once on the panel's pseudo-terminal,
// and once through Debian's ser2net in RFC 2217 mode on loopback, whose serial side is the
// panel's pseudo-terminal. The two alternate for R rounds (default 5), each with a fresh panel
// and server. Target: the network's median wall time within 5 % of the local line's. The
// per-exchange figure says where a difference comes from (a delay per frame, or the connect
// and the option's negotiation once). The benchmark reports; it does not fail when a target
// is missed.
//
//   network_port [--rounds R] [--kib N] [--ser2net-chardelay]
//
// --kib N: a generated container of about N KiB (application and four recipes) instead of the
// sample, for a longer run. ser2net runs with the README's configuration, which turns its
// chardelay off; --ser2net-chardelay leaves it on, as ser2net has it by default (it then waits
// at least 1 ms after the last byte of every reply before sending it on: about 3 ms an
// exchange here with 256-byte packets of random data).
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "GangBench.h"

namespace {

using namespace tarvex::bench;

constexpr double kTargetRatio = 1.05;
const char* const kSer2net = "/usr/sbin/ser2net";

int FreePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        throw std::runtime_error("no free loopback port");
    }
    ::close(s);
    return ntohs(a.sin_port);
}

// Seen in the kernel's table, not by connecting: ser2net would open the device for a
// connection.
bool Listening(int port) {
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line);
    char wanted[16];
    std::snprintf(wanted, sizeof wanted, ":%04X", static_cast<unsigned>(port));
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        if (state == "0A" && local.size() > 5 && local.compare(local.size() - 5, 5, wanted) == 0) {
            return true;
        }
    }
    return false;
}

// ser2net in the foreground, one RFC 2217 accepter on loopback for the device; its
// configuration as the README gives it.
class Ser2net {
  public:
    Ser2net(const std::string& dir, const std::string& device, bool chardelay) : port_(FreePort()) {
        const std::string config = dir + "/ser2net.yaml";
        std::ofstream out(config);
        out << "connection: &bench\n"
            << "  accepter: telnet(rfc2217),tcp,127.0.0.1," << port_ << "\n"
            << "  connector: serialdev," << device << ",115200n81,local\n";
        if (!chardelay) {
            out << "  options:\n"
                << "    chardelay: false\n";
        }
        out.close();
        pid_ = Spawn({kSer2net, "-n", "-d", "-c", config}, {}, dir + "/ser2net.log");
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (!Listening(port_)) {
            if (Clock::now() > deadline) {
                throw std::runtime_error("ser2net did not start: see " + dir + "/ser2net.log");
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ~Ser2net() {
        ::kill(pid_, SIGTERM);
        rusage ignored{};
        WaitFor(pid_, &ignored);
    }
    Ser2net(const Ser2net&) = delete;
    Ser2net& operator=(const Ser2net&) = delete;
    std::string Port() const { return "rfc2217://127.0.0.1:" + std::to_string(port_); }

  private:
    int port_;
    pid_t pid_ = -1;
};

// Frames written, from a --trace file.
int Exchanges(const std::string& trace) {
    std::istringstream in(ReadText(trace));
    int n = 0;
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string ms, dir;
        n += fields >> ms >> dir && dir == "tx" ? 1 : 0;
    }
    return n;
}

struct Figures {
    std::vector<double> wallS;
    std::vector<double> cpuS;
    int exchanges = 0;
    int failures = 0;
};

void RunOnce(const std::string& dir, const std::string& ws, const std::string& container,
             bool network, bool chardelay, Figures& f) {
    Panels panel(dir, 1, true);
    std::optional<Ser2net> server;
    std::string port = panel.Ports()[0];
    if (network) {
        server.emplace(dir, port, chardelay);
        port = server->Port();
    }
    const std::string trace = dir + (network ? "/trace-network.txt" : "/trace-local.txt");
    Args args = {kBinaryDir + "/tarvex-cli", "download", "--port", port, "--trace", trace};
    const Args form = Form(dir + "/sysfs", container);
    args.insert(args.end(), form.begin(), form.end());
    const Run run = RunCli(args, ws);
    if (run.status != 0) {
        ++f.failures;
        std::printf("  %s: exit status %d\n%s", network ? "network" : "local", run.status,
                    ReadText(ws + "/cli.out").substr(0, 2000).c_str());
        return;
    }
    f.wallS.push_back(run.wallS);
    f.cpuS.push_back(run.cpuS);
    f.exchanges = Exchanges(trace);
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 5;
    std::size_t kib = 0;
    bool chardelay = false;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--rounds" && i + 1 < argc) {
            rounds = std::max(1, std::stoi(argv[++i]));
        } else if (option == "--kib" && i + 1 < argc) {
            kib = std::max<std::size_t>(16, std::stoul(argv[++i]));
        } else if (option == "--ser2net-chardelay") {
            chardelay = true;
        } else {
            std::fprintf(stderr,
                         "usage: network_port [--rounds R] [--kib N] [--ser2net-chardelay]\n");
            return 2;
        }
    }
    if (::access(kSer2net, X_OK) != 0) {
        std::fprintf(stderr, "network_port: %s is not installed\n", kSer2net);
        return 1;
    }
    ::setenv("TARVEX_PASSWORD", "4321", 0);
    char pattern[] = "/tmp/tarvex-network-bench.XXXXXX";
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
            "%s (application and recipes) at 115200 baud, %d rounds, local and network "
            "alternating; ser2net's chardelay %s\n",
            container.c_str(), rounds, chardelay ? "on (its default)" : "off");
        Figures local;
        Figures network;
        for (int round = 0; round < rounds; ++round) {
            // Which goes first alternates too, so that neither always meets a warmer cache.
            const bool networkFirst = round % 2 == 1;
            RunOnce(dir, ws, container, networkFirst, chardelay, networkFirst ? network : local);
            RunOnce(dir, ws, container, !networkFirst, chardelay, networkFirst ? local : network);
            std::printf("  round %d: local %.3f s, network %.3f s\n", round + 1,
                        local.wallS.empty() ? 0.0 : local.wallS.back(),
                        network.wallS.empty() ? 0.0 : network.wallS.back());
        }
        const double l = Median(local.wallS);
        const double n = Median(network.wallS);
        const double ratio = l > 0 ? n / l : 0;
        const int exchanges = std::max(1, local.exchanges);
        std::printf("local pseudo-terminal     median %.3f s, CPU %.3f s, %d exchanges\n", l,
                    Median(local.cpuS), local.exchanges);
        std::printf("ser2net RFC 2217 loopback median %.3f s, CPU %.3f s, %d exchanges\n", n,
                    Median(network.cpuS), network.exchanges);
        std::printf("difference %+.3f s = %+.3f ms an exchange\n", n - l,
                    (n - l) * 1000 / exchanges);
        std::printf("ratio %.4f   target <= %.2f: %s%s\n", ratio, kTargetRatio,
                    ratio > 0 && ratio <= kTargetRatio ? "met" : "NOT met",
                    local.failures + network.failures > 0 ? " (some runs failed)" : "");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "network_port: %s\n", e.what());
        fs::remove_all(dir);
        return 1;
    }
    fs::remove_all(dir);
    return 0;
}
