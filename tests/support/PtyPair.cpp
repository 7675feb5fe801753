#include "support/PtyPair.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace tarvex::test {

PtyPair::PtyPair(bool keepSlaveOpen) {
    int master = -1;
    int slave = -1;
    char name[256] = {};
    struct termios raw {};
    ::cfmakeraw(&raw);
    if (::openpty(&master, &slave, name, &raw, nullptr) != 0) {
        throw std::runtime_error("openpty failed");
    }
    master_.reset(master);
    slave_.reset(slave);
    slavePath_ = name;
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    if (!keepSlaveOpen) {
        slave_.reset();
    }
}

void PtyPair::Write(const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_.get(), bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw std::runtime_error("write to pty master failed");
        }
        done += static_cast<std::size_t>(n);
    }
}

std::vector<std::uint8_t> PtyPair::Read(std::size_t count, std::chrono::milliseconds timeout) {
    return ReadFor(master_.get(), count, timeout);
}

std::vector<std::uint8_t> ReadFor(int fd, std::size_t count, std::chrono::milliseconds timeout,
                                  bool* ended) {
    std::vector<std::uint8_t> out;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (out.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            break;
        }
        struct pollfd pfd {
            fd, POLLIN, 0
        };
        const int r = ::poll(&pfd, 1, static_cast<int>(left.count()));
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r <= 0) {
            break;
        }
        std::uint8_t buf[4096];
        const std::size_t want = std::min(sizeof buf, count - out.size());
        const ssize_t n = ::read(fd, buf, want);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (ended != nullptr) {
                *ended = true;
            }
            break;
        }
        out.insert(out.end(), buf, buf + n);
    }
    return out;
}

}  // namespace tarvex::test
