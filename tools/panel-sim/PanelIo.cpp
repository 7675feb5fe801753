#include "panel-sim/PanelIo.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <system_error>

#include "panel-sim/SessionReport.h"
#include "platform/Files.h"

namespace tarvex::panelsim {
namespace {

constexpr std::int64_t kNsPerMs = 1'000'000;
constexpr std::int64_t kNsPerSecond = 1'000'000'000;
// Bytes the line holds before the panel stops reading and lets the pty's flow control hold
// the writer back.
constexpr std::size_t kMaxQueuedBytes = 1 << 20;
// How long a reply may wait for room on the line before its bytes count as lost.
constexpr int kWriteRoomWaitMs = 100;
// How long the line stays open at most for the tool to read the last reply before
// --close-after drops it (the tool's own read time-out is longer), how often the panel looks,
// and how long a reply may take to reach the slave side.
constexpr std::int64_t kDrainWaitNs = 2000 * kNsPerMs;
constexpr std::int64_t kDrainPollNs = 2 * kNsPerMs;
constexpr std::int64_t kDrainSettleNs = 100 * kNsPerMs;

[[noreturn]] void ThrowErrno(const std::string& what, int error = errno) {
    throw std::runtime_error(what + ": " + std::system_category().message(error));
}

class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            Reset(std::exchange(other.fd_, -1));
        }
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { Reset(); }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }
    void Reset(int fd = -1) {
        if (fd_ >= 0) {
            // Nothing useful can be done about a failed close of a descriptor we are done with.
            (void)::close(fd_);
        }
        fd_ = fd;
    }

  private:
    int fd_ = -1;
};

std::int64_t NowNs() {
    struct timespec ts {};
    if (::clock_gettime(CLOCK_MONOTONIC, &ts) != 0) {
        ThrowErrno("clock_gettime");
    }
    return static_cast<std::int64_t>(ts.tv_sec) * kNsPerSecond + ts.tv_nsec;
}

struct timespec ToTimespec(std::int64_t ns) {
    struct timespec ts {};
    ts.tv_sec = static_cast<time_t>(ns / kNsPerSecond);
    ts.tv_nsec = static_cast<long>(ns % kNsPerSecond);
    return ts;
}

// Sleeps until the absolute monotonic time, so that a schedule of deadlines never drifts.
void SleepUntil(std::int64_t deadlineNs) {
    const struct timespec ts = ToTimespec(deadlineNs);
    for (;;) {
        const int rc = ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr);
        if (rc == 0) {
            return;
        }
        if (rc != EINTR) {
            ThrowErrno("clock_nanosleep", rc);
        }
    }
}

// The pseudo-terminal. The panel keeps a slave descriptor of its own for its whole life: while
// the tool has the port closed, the master would otherwise read EIO.
class Pty {
  public:
    Pty() {
        master_.Reset(::open("/dev/ptmx", O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
        if (!master_.valid()) {
            ThrowErrno("cannot open /dev/ptmx");
        }
        if (::grantpt(master_.get()) != 0) {
            ThrowErrno("grantpt");
        }
        if (::unlockpt(master_.get()) != 0) {
            ThrowErrno("unlockpt");
        }
        char name[256] = {};
        const int rc = ::ptsname_r(master_.get(), name, sizeof name);
        if (rc != 0) {
            ThrowErrno("ptsname_r", rc);
        }
        slavePath_ = name;
        slave_.Reset(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
        if (!slave_.valid()) {
            ThrowErrno("cannot open " + slavePath_);
        }
        // Raw, so that the line driver neither echoes nor rewrites any byte.
        struct termios tio {};
        if (::tcgetattr(slave_.get(), &tio) != 0) {
            ThrowErrno("tcgetattr " + slavePath_);
        }
        ::cfmakeraw(&tio);
        if (::tcsetattr(slave_.get(), TCSANOW, &tio) != 0) {
            ThrowErrno("tcsetattr " + slavePath_);
        }
    }

    int master() const { return master_.get(); }
    int slave() const { return slave_.get(); }
    bool open() const { return master_.valid(); }
    const std::string& slavePath() const { return slavePath_; }
    void CloseMaster() { master_.Reset(); }

  private:
    Fd master_;
    Fd slave_;
    std::string slavePath_;
};

// SIGINT and SIGTERM, blocked and read from a descriptor so that the main loop's poll sees
// them like any other input.
class SignalWatch {
  public:
    SignalWatch() {
        sigset_t set;
        if (::sigemptyset(&set) != 0 || ::sigaddset(&set, SIGINT) != 0 ||
            ::sigaddset(&set, SIGTERM) != 0) {
            ThrowErrno("sigset");
        }
        if (::sigprocmask(SIG_BLOCK, &set, &saved_) != 0) {
            ThrowErrno("sigprocmask");
        }
        // A shell starts background jobs with SIGINT ignored, and an ignored signal is dropped
        // before it could be read; the panel wants both for its clean stop wherever it runs.
        // Blocked as they are, the default action never runs.
        if (::signal(SIGINT, SIG_DFL) == SIG_ERR || ::signal(SIGTERM, SIG_DFL) == SIG_ERR) {
            const int error = errno;
            (void)::sigprocmask(SIG_SETMASK, &saved_, nullptr);
            ThrowErrno("signal", error);
        }
        fd_.Reset(::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK));
        if (!fd_.valid()) {
            const int error = errno;
            (void)::sigprocmask(SIG_SETMASK, &saved_, nullptr);
            ThrowErrno("signalfd", error);
        }
    }
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;
    ~SignalWatch() {
        fd_.Reset();
        (void)::sigprocmask(SIG_SETMASK, &saved_, nullptr);
    }

    int fd() const { return fd_.get(); }

    // The signal that arrived, or 0.
    int Take() {
        struct signalfd_siginfo info {};
        const ssize_t n = ::read(fd_.get(), &info, sizeof info);
        if (n == static_cast<ssize_t>(sizeof info)) {
            return static_cast<int>(info.ssi_signo);
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            ThrowErrno("read signalfd");
        }
        return 0;
    }

  private:
    Fd fd_;
    sigset_t saved_{};
};

// A symbolic link to the slave, replaced atomically if one is there, removed at the end if it
// still points to this panel's slave.
class LinkGuard {
  public:
    LinkGuard(std::string path, std::string target)
        : path_(std::move(path)), target_(std::move(target)) {
        struct stat st {};
        if (::lstat(path_.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
            throw std::runtime_error("will not replace " + path_ + ": it is not a symbolic link");
        }
        const std::string temp = path_ + ".tmp." + std::to_string(::getpid());
        if (::unlink(temp.c_str()) != 0 && errno != ENOENT) {
            ThrowErrno("cannot remove " + temp);
        }
        if (::symlink(target_.c_str(), temp.c_str()) != 0) {
            ThrowErrno("cannot create link " + temp);
        }
        if (::rename(temp.c_str(), path_.c_str()) != 0) {
            const int error = errno;
            (void)::unlink(temp.c_str());
            ThrowErrno("cannot create link " + path_, error);
        }
    }
    LinkGuard(const LinkGuard&) = delete;
    LinkGuard& operator=(const LinkGuard&) = delete;
    ~LinkGuard() {
        char buffer[4096];
        const ssize_t n = ::readlink(path_.c_str(), buffer, sizeof buffer);
        if (n < 0 || std::string_view(buffer, static_cast<std::size_t>(n)) != target_) {
            return;  // gone or taken over by someone else
        }
        if (::unlink(path_.c_str()) != 0) {
            std::fprintf(stderr, "tarvex-panel-sim: cannot remove link %s\n", path_.c_str());
        }
    }

  private:
    std::string path_;
    std::string target_;
};

class EventLog {
  public:
    EventLog(const std::string& path, std::int64_t startNs) : path_(path), startNs_(startNs) {
        fd_.Reset(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644));
        if (!fd_.valid()) {
            ThrowErrno("cannot open log " + path);
        }
    }

    void Write(nlohmann::json event, std::int64_t atNs) {
        const double ms = static_cast<double>(atNs - startNs_) / static_cast<double>(kNsPerMs);
        event["t_ms"] = std::round(ms * 1000.0) / 1000.0;
        const std::string line =
            event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
        if (!platform::WriteAll(fd_.get(), line)) {
            ThrowErrno("cannot write log " + path_);
        }
    }

  private:
    Fd fd_;
    std::string path_;
    std::int64_t startNs_;
};

class OutputDir {
  public:
    explicit OutputDir(std::string path) : path_(std::move(path)) {
        std::error_code ec;
        std::filesystem::create_directories(path_, ec);
        if (ec || !std::filesystem::is_directory(path_, ec)) {
            throw std::runtime_error("cannot create output folder " + path_ +
                                     (ec ? ": " + ec.message() : std::string()));
        }
    }

    void WriteItem(const ItemRecord& item) const {
        const std::string stem = platform::JoinPath(path_, item.FileStem());
        Write(stem + ".info", item.info.raw.data(), item.info.raw.size());
        Write(stem + ".bin", item.data.data(), item.data.size());
    }

    void WriteReport(const std::string& text) const {
        Write(platform::JoinPath(path_, "session.json"), text.data(), text.size());
    }

  private:
    // Not synced to disk: the files are for whoever watches the run, and syncing would hold up
    // the reply behind every item.
    static void Write(const std::string& path, const void* data, std::size_t size) {
        const std::string_view content(static_cast<const char*>(data), size);
        if (!platform::WriteFileAtomically(path, content, 0644, platform::FileSync::None)) {
            ThrowErrno("cannot write " + path);
        }
    }

    std::string path_;
};

nlohmann::json HexEvent(const char* event, const std::vector<std::uint8_t>& bytes) {
    nlohmann::json j;
    j["event"] = event;
    j["hex"] = HexString(bytes);
    j["length"] = bytes.size();
    return j;
}

class PanelLine {
  public:
    PanelLine(PanelSession& session, const LineOptions& options, Pty& pty, SignalWatch& signals,
              EventLog* log, const OutputDir* out, std::int64_t startNs)
        : session_(session),
          options_(options),
          pty_(pty),
          signals_(signals),
          log_(log),
          out_(out),
          byteNs_(options.baud > 0 ? 10 * kNsPerSecond / options.baud : 0),
          gapNs_(static_cast<std::int64_t>(options.frameGapMs) * kNsPerMs),
          idleNs_(static_cast<std::int64_t>(options.idleExitMs) * kNsPerMs),
          lastFedNs_(startNs),
          lastRxNs_(startNs),
          lastDueNs_(startNs) {}

    int Run() {
        for (;;) {
            const std::int64_t now = NowNs();
            if (!pending_) {
                FeedDueBytes(now);
                if (!ProcessInput(now)) {
                    return 0;
                }
            }
            if (pending_ && now >= pending_->startNs) {
                if (!SendReply()) {
                    return 0;
                }
                continue;
            }
            if (!pending_ && idleNs_ > 0 && now - lastRxNs_ >= idleNs_) {
                Finish("idle", now);
                return 0;
            }
            if (!WaitForInput(now)) {
                return 0;
            }
        }
    }

  private:
    struct QueuedByte {
        std::uint8_t value;
        std::int64_t dueNs;  // when the byte has fully arrived on a line of the set baud rate
    };
    struct PendingReply {
        Reply bytes;
        std::int64_t startNs;
        bool endsSession;
    };

    // Waits in poll for the line, a signal or the next deadline. False: stop.
    bool WaitForInput(std::int64_t now) {
        struct pollfd fds[2] = {};
        fds[0].fd = signals_.fd();
        fds[0].events = POLLIN;
        fds[1].fd = pty_.master();
        fds[1].events = queue_.size() < kMaxQueuedBytes ? POLLIN : 0;
        const std::optional<std::int64_t> deadline = NextDeadline();
        struct timespec timeout {};
        if (deadline) {
            timeout = ToTimespec(std::max<std::int64_t>(0, *deadline - now));
        }
        const int rc = ::ppoll(fds, 2, deadline ? &timeout : nullptr, nullptr);
        if (rc < 0) {
            if (errno == EINTR) {
                return true;
            }
            ThrowErrno("poll");
        }
        if ((fds[0].revents & POLLIN) != 0) {
            if (const int signal = signals_.Take(); signal != 0) {
                nlohmann::json event;
                event["event"] = "signal";
                event["signal"] = signal;
                Log(std::move(event), NowNs());
                Finish("signal", NowNs());
                return false;
            }
        }
        if ((fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            ReadLine(NowNs());
        }
        return true;
    }

    std::optional<std::int64_t> NextDeadline() const {
        std::optional<std::int64_t> deadline;
        const auto consider = [&deadline](std::int64_t at) {
            if (!deadline || at < *deadline) {
                deadline = at;
            }
        };
        if (pending_) {
            consider(pending_->startNs);
        } else {
            if (!queue_.empty()) {
                consider(queue_.front().dueNs);
            } else if (gapNs_ > 0 && session_.HasPartialFrame()) {
                consider(lastFedNs_ + gapNs_);
            }
            if (idleNs_ > 0) {
                consider(lastRxNs_ + idleNs_);
            }
        }
        return deadline;
    }

    void ReadLine(std::int64_t now) {
        std::uint8_t buffer[4096];
        for (;;) {
            const ssize_t n = ::read(pty_.master(), buffer, sizeof buffer);
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                if (errno == EAGAIN) {
                    return;
                }
                ThrowErrno("read from the line");
            }
            if (n == 0) {
                throw std::runtime_error("the line was closed");
            }
            lastRxNs_ = now;
            for (ssize_t i = 0; i < n; ++i) {
                // On a paced line a byte takes its ten bit times after the one before it.
                std::int64_t due = now;
                if (byteNs_ > 0) {
                    due = std::max(now, lastDueNs_) + byteNs_;
                    lastDueNs_ = due;
                }
                queue_.push_back(QueuedByte{buffer[i], due});
            }
            if (queue_.size() >= kMaxQueuedBytes) {
                return;
            }
        }
    }

    void FeedDueBytes(std::int64_t now) {
        std::vector<std::uint8_t> due;
        while (!queue_.empty() && queue_.front().dueNs <= now) {
            due.push_back(queue_.front().value);
            lastFedNs_ = queue_.front().dueNs;
            queue_.pop_front();
        }
        if (!due.empty() && options_.echo) {
            // A two-wire line: the master hears its own bytes as they pass on the wire.
            std::vector<std::uint8_t> echo = due;
            for (std::uint8_t& b : echo) {
                if (options_.corruptEchoByte != 0 && ++echoedBytes_ >= options_.corruptEchoByte) {
                    b ^= 0x10;
                }
            }
            (void)WriteLine(echo.data(), echo.size());
        }
        if (!due.empty()) {
            session_.Receive(due);
        }
    }

    // Handles the frames that are complete; stops at the first one that needs a reply, as the
    // panel answers one request before it looks at the next. False: stop.
    bool ProcessInput(std::int64_t now) {
        while (!pending_) {
            const bool quiet = gapNs_ > 0 && queue_.empty() && session_.HasPartialFrame() &&
                               now - lastFedNs_ >= gapNs_;
            std::optional<Step> step = session_.Next(quiet);
            if (!step) {
                return true;
            }
            if (!HandleStep(*step, now)) {
                return false;
            }
        }
        return true;
    }

    bool HandleStep(const Step& step, std::int64_t now) {
        switch (step.kind) {
            case SplitKind::Frame:
                break;
            case SplitKind::ForeignFrame:
                Log(HexEvent("ignored", step.bytes), now);
                return true;
            case SplitKind::BadCrc:
                Log(HexEvent("bad_crc", step.bytes), now);
                return true;
            case SplitKind::Truncated:
                Log(HexEvent("truncated", step.bytes), now);
                return true;
            case SplitKind::Garbage:
                Log(HexEvent("garbage", step.bytes), now);
                return true;
        }

        nlohmann::json rx;
        rx["dir"] = "rx";
        rx["frame"] = step.frameNumber;
        rx["command"] = std::string(1, LetterName(step.bytes[1]));
        rx["parameter"] = ReadLe16(step.bytes, 2);
        rx["length"] = step.bytes.size();
        rx["hex"] = HexString(step.bytes);
        Log(std::move(rx), now);
        for (const FiredFault& fault : step.faults) {
            nlohmann::json event;
            event["event"] = "fault";
            event["frame"] = step.frameNumber;
            event["rule"] = fault.rule;
            Log(std::move(event), now);
        }

        // The panel keeps what it took in before it acknowledges it.
        SaveOutputs(step.itemsToWrite, step.reportChanged);

        if (step.closeLine) {
            CloseLine("fault", now);
            Finish("closed", now);
            return false;
        }
        if (step.reply) {
            pending_ =
                PendingReply{*step.reply, now + static_cast<std::int64_t>(step.delayMs) * kNsPerMs,
                             step.endsSession};
        } else {
            nlohmann::json event;
            event["event"] = "no_reply";
            event["frame"] = step.frameNumber;
            Log(std::move(event), now);
        }
        return true;
    }

    // Sends the pending reply, byte by byte on a paced line. False: stop.
    bool SendReply() {
        const PendingReply reply = *pending_;
        pending_.reset();
        const std::int64_t start = std::max(reply.startNs, NowNs());
        bool sent = true;
        if (byteNs_ > 0) {
            for (std::size_t i = 0; i < reply.bytes.size() && sent; ++i) {
                SleepUntil(start + static_cast<std::int64_t>(i + 1) * byteNs_);
                sent = WriteLine(&reply.bytes[i], 1);
            }
        } else {
            sent = WriteLine(reply.bytes.data(), reply.bytes.size());
        }
        const std::int64_t now = NowNs();
        nlohmann::json tx;
        tx["dir"] = "tx";
        tx["hex"] = HexString(reply.bytes);
        tx["status"] = reply.bytes[4];
        if (!sent) {
            tx["lost"] = true;  // no room on the line: nobody reads the other end
        }
        Log(std::move(tx), now);
        if (!sent) {
            return true;
        }
        session_.NoteReplySent();
        ++repliesSent_;

        if (options_.closeAfter > 0 && repliesSent_ == options_.closeAfter) {
            WaitUntilRead();
            CloseLine("close-after", NowNs());
            Finish("closed", NowNs());
            return false;
        }
        if (reply.endsSession && options_.exitAfterOver) {
            // The tool still has to read the reply: the master's end would throw it away.
            WaitUntilRead();
            Finish("over", now);
            return false;
        }
        return true;
    }

    // Writes to the master; false when the bytes could not go out because nobody reads them.
    bool WriteLine(const std::uint8_t* data, std::size_t size) {
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = ::write(pty_.master(), data + done, size - done);
            if (n >= 0) {
                done += static_cast<std::size_t>(n);
                continue;
            }
            if (errno == EINTR) {
                continue;
            }
            if (errno != EAGAIN) {
                ThrowErrno("write to the line");
            }
            struct pollfd pfd {
                pty_.master(), POLLOUT, 0
            };
            const int rc = ::poll(&pfd, 1, kWriteRoomWaitMs);
            if (rc < 0 && errno != EINTR) {
                ThrowErrno("poll");
            }
            if (rc == 0) {
                return false;
            }
        }
        return true;
    }

    // Gives the tool a bounded moment to read the last reply: a closed master throws away the
    // bytes still waiting on the slave side. The reply reaches the slave's input a little after
    // the write, and a pty tells nothing when its input is read, so the bytes count as read
    // once they were seen on the panel's own slave descriptor and are gone again, or when they
    // never showed up within the settle time (the tool was quicker), or when the tool already
    // sent its next request.
    void WaitUntilRead() {
        const std::int64_t start = NowNs();
        const std::int64_t settle = start + kDrainSettleNs;
        const std::int64_t deadline = start + kDrainWaitNs;
        bool arrived = false;
        for (;;) {
            int waiting = 0;
            if (::ioctl(pty_.slave(), FIONREAD, &waiting) != 0) {
                ThrowErrno("FIONREAD");
            }
            const std::int64_t now = NowNs();
            if (waiting > 0) {
                arrived = true;
            } else if (arrived || now >= settle) {
                return;
            }
            if (now >= deadline) {
                return;
            }
            struct pollfd fds[2] = {};
            fds[0].fd = pty_.master();
            fds[0].events = POLLIN;
            fds[1].fd = arrived ? -1 : pty_.slave();
            fds[1].events = POLLIN;
            const struct timespec timeout =
                ToTimespec(arrived ? std::min(kDrainPollNs, deadline - now) : settle - now);
            const int rc = ::ppoll(fds, 2, &timeout, nullptr);
            if (rc < 0 && errno != EINTR) {
                ThrowErrno("poll");
            }
            if (rc > 0 && (fds[0].revents & POLLIN) != 0) {
                return;
            }
        }
    }

    void CloseLine(const char* reason, std::int64_t now) {
        nlohmann::json event;
        event["event"] = "close";
        event["reason"] = reason;
        Log(std::move(event), now);
        pty_.CloseMaster();
    }

    void Finish(const char* reason, std::int64_t now) {
        SaveOutputs(session_.Finish(), true);
        nlohmann::json event;
        event["event"] = "exit";
        event["reason"] = reason;
        Log(std::move(event), now);
    }

    void SaveOutputs(const std::vector<std::size_t>& items, bool report) {
        if (out_ == nullptr) {
            return;
        }
        for (const std::size_t index : items) {
            const ItemRecord& item = session_.item(index);
            if (item.described) {
                out_->WriteItem(item);
            }
        }
        if (report || !items.empty()) {
            out_->WriteReport(SessionReportText(session_));
        }
    }

    void Log(nlohmann::json event, std::int64_t atNs) {
        if (log_ != nullptr) {
            log_->Write(std::move(event), atNs);
        }
    }

    PanelSession& session_;
    const LineOptions& options_;
    std::uint64_t echoedBytes_ = 0;
    Pty& pty_;
    SignalWatch& signals_;
    EventLog* log_;
    const OutputDir* out_;
    const std::int64_t byteNs_;
    const std::int64_t gapNs_;
    const std::int64_t idleNs_;

    std::deque<QueuedByte> queue_;
    std::optional<PendingReply> pending_;
    std::int64_t lastFedNs_;  // when the last byte handed to the session arrived
    std::int64_t lastRxNs_;   // when the line last delivered anything
    std::int64_t lastDueNs_;  // paced arrival of the last byte read
    std::uint64_t repliesSent_ = 0;
};

}  // namespace

int RunPanel(PanelSession& session, const LineOptions& options) {
    const std::int64_t startNs = NowNs();
    SignalWatch signals;
    Pty pty;

    std::optional<OutputDir> out;
    if (!options.outDir.empty()) {
        out.emplace(options.outDir);
        out->WriteReport(SessionReportText(session));
    }
    std::optional<EventLog> log;
    if (!options.logFile.empty()) {
        log.emplace(options.logFile, startNs);
    }
    std::optional<LinkGuard> link;
    if (!options.linkPath.empty()) {
        link.emplace(options.linkPath, pty.slavePath());
    }

    // Scripts wait for the port file or for the first line of standard output; both name the
    // slave only once the line is ready, the file first so that it is there when the line is.
    if (!options.portFile.empty() &&
        !platform::WriteFileAtomically(options.portFile, pty.slavePath() + "\n", 0644)) {
        throw std::runtime_error("cannot write port file " + options.portFile);
    }
    if (std::printf("port: %s\n", pty.slavePath().c_str()) < 0 || std::fflush(stdout) != 0) {
        std::fprintf(stderr, "tarvex-panel-sim: cannot write the port line to standard output\n");
    }
    if (log) {
        nlohmann::json event;
        event["event"] = "start";
        event["port"] = pty.slavePath();
        event["address"] = session.config().address;
        event["baud"] = options.baud;
        log->Write(std::move(event), NowNs());
    }

    PanelLine line(session, options, pty, signals, log ? &*log : nullptr, out ? &*out : nullptr,
                   startNs);
    return line.Run();
}

}  // namespace tarvex::panelsim
