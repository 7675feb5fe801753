#include "support/LinePeerPosix.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

#include "support/LinePeer.h"
#include "support/PtyPair.h"

namespace tarvex::test {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPollMs = 20;

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Takes `count` bytes from fd at a slow pace and returns the longest wait (ms, at most 65535)
// in which none were there: a writer that stops in the middle of a block shows as a long one.
long WatchArrivals(int fd, std::size_t count) {
    long longest = 0;
    const auto giveUp = Clock::now() + std::chrono::seconds(20);
    Clock::time_point ready = Clock::now();  // since when the peer could take more
    while (count > 0 && Clock::now() < giveUp) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, kPollMs) < 0 && errno != EINTR) {
            break;
        }
        std::uint8_t buf[1024];
        const ssize_t n = ::read(fd, buf, std::min(sizeof buf, count));
        if (n <= 0) {
            continue;
        }
        const auto waited =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - ready).count();
        longest = std::max<long>(longest, static_cast<long>(waited));
        count -= static_cast<std::size_t>(n);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        ready = Clock::now();
    }
    return std::min(longest, 65535L);
}

std::size_t SizeAt(const std::vector<std::uint8_t>& in, std::size_t at) {
    return static_cast<std::size_t>(in[at]) << 8 | in[at + 1];
}

// Acts on the first whole command in `in` and removes it. False when `in` holds no whole
// command yet. Sets `vanish` for the command that ends the peer.
bool Serve(int fd, std::vector<std::uint8_t>& in, bool& vanish) {
    if (in.empty()) {
        return false;
    }
    std::size_t used = 0;
    switch (in[0]) {
        case line_peer::kEcho: {
            if (in.size() < 3 || in.size() < 3 + SizeAt(in, 1)) {
                return false;
            }
            const std::size_t size = SizeAt(in, 1);
            (void)WriteAll(fd, in.data() + 3, size);
            used = 3 + size;
            break;
        }
        case line_peer::kPieces: {
            if (in.size() < 6 || in.size() < 6 + SizeAt(in, 1)) {
                return false;
            }
            const std::size_t size = SizeAt(in, 1);
            const std::size_t pieces = in[3] == 0 ? 1 : in[3];
            const auto gap = std::chrono::milliseconds(SizeAt(in, 4));
            const std::size_t each = (size + pieces - 1) / pieces;
            for (std::size_t at = 0; at < size; at += each) {
                if (at > 0) {
                    std::this_thread::sleep_for(gap);
                }
                (void)WriteAll(fd, in.data() + 6 + at, std::min(each, size - at));
            }
            used = 6 + size;
            break;
        }
        case line_peer::kFlood: {
            if (in.size() < 3) {
                return false;
            }
            const std::vector<std::uint8_t> filler(SizeAt(in, 1), line_peer::kFiller);
            (void)WriteAll(fd, filler.data(), filler.size());
            used = 3;
            break;
        }
        case line_peer::kWatch: {
            if (in.size() < 3) {
                return false;
            }
            const std::size_t size = SizeAt(in, 1) * 1024;
            used = 3 + std::min(size, in.size() - 3);
            const long longest = WatchArrivals(fd, size - (used - 3));
            const std::uint8_t reply[2] = {static_cast<std::uint8_t>(longest >> 8),
                                           static_cast<std::uint8_t>(longest & 0xFF)};
            (void)WriteAll(fd, reply, sizeof reply);
            break;
        }
        case line_peer::kVanish:
            vanish = true;
            used = 1;
            break;
        default:
            used = 1;  // not a command: dropped
            break;
    }
    in.erase(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(used));
    return true;
}

// A pseudo-terminal played by a thread of this process until the peer is destroyed or told to
// vanish.
class PtyLinePeer final : public LinePeer {
  public:
    PtyLinePeer() : name_(pty_.slavePath()) {
        thread_ = std::thread([this] {
            if (ServeLinePeer(pty_.master(), stop_) == PeerEnd::Vanish) {
                pty_.CloseSlave();
                pty_.CloseMaster();
            }
        });
    }
    ~PtyLinePeer() override {
        stop_ = true;
        thread_.join();
    }
    PtyLinePeer(const PtyLinePeer&) = delete;
    PtyLinePeer& operator=(const PtyLinePeer&) = delete;

    const std::string& PortName() const override { return name_; }

  private:
    PtyPair pty_;
    const std::string name_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace

PeerEnd ServeLinePeer(int fd, const std::atomic<bool>& stop, long idleExitMs) {
    std::vector<std::uint8_t> in;
    Clock::time_point lastActivity = Clock::now();
    while (!stop) {
        if (idleExitMs > 0 && Clock::now() - lastActivity > std::chrono::milliseconds(idleExitMs)) {
            return PeerEnd::Idle;
        }
        pollfd pfd{fd, POLLIN, 0};
        const int r = ::poll(&pfd, 1, kPollMs);
        if (r <= 0) {
            continue;
        }
        std::uint8_t buf[4096];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) {
            // EIO while no one holds the other side: wait for the next opener.
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
            continue;
        }
        lastActivity = Clock::now();
        in.insert(in.end(), buf, buf + n);
        bool vanish = false;
        while (!vanish && Serve(fd, in, vanish)) {
        }
        if (vanish) {
            return PeerEnd::Vanish;
        }
    }
    return PeerEnd::Stopped;
}

std::unique_ptr<LinePeer> StartLinePeer(std::string& /*whyNot*/) {
    return std::make_unique<PtyLinePeer>();
}

}  // namespace tarvex::test
