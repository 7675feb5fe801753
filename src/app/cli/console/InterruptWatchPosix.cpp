// SIGINT and SIGTERM through sigaction.
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <stdexcept>
#include <string>

#include "app/cli/console/InterruptWatch.h"
#include "serial/SerialPortPosix.h"

namespace tarvex::cli {

// Lock-free atomics and sig_atomic_t only, so that the handler may read what the main thread
// writes; the settings are written before the descriptor that makes them valid and only while
// no descriptor is published.
struct InterruptWatch::State {
    volatile std::sig_atomic_t interrupts = 0;
    volatile std::sig_atomic_t signal = 0;
    std::atomic<long long> firstAtNs{0};  // CLOCK_MONOTONIC of the first signal
    std::atomic<int> portFd{-1};
    struct termios portSettings {};
    volatile std::sig_atomic_t haveSettings = 0;
    EmergencyLatency portLatency{};  // what the port's close would put back of its latency
    volatile std::sig_atomic_t haveLatency = 0;
    platform::SavedPriority priority{};
    struct sigaction previousInt {};
    struct sigaction previousTerm {};
    bool installedInt = false;
    bool installedTerm = false;
};

namespace {

static_assert(std::atomic<int>::is_always_lock_free, "the handler reads the descriptor");
static_assert(std::atomic<InterruptWatch::State*>::is_always_lock_free, "and the state");
static_assert(std::atomic<long long>::is_always_lock_free, "and the time of the first signal");

// CLOCK_MONOTONIC in nanoseconds; clock_gettime is async-signal-safe.
long long MonotonicNs() {
    timespec now{};
    (void)::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1'000'000'000LL + now.tv_nsec;
}

// The one piece of process-wide state in the program. A signal handler gets nothing but the
// signal number, so whatever it needs must be reachable from a global; everything else stays
// in the watch, which the download command owns, and this pointer is set only while that watch
// lives.
std::atomic<InterruptWatch::State*> g_watched{nullptr};

extern "C" void OnInterrupt(int signal) {
    InterruptWatch::State* const state = g_watched.load();
    if (state == nullptr) {
        return;
    }
    if (state->interrupts == 0) {
        state->firstAtNs.store(MonotonicNs());
        state->signal = signal;
        state->interrupts = 1;
        return;
    }
    if (MonotonicNs() - state->firstAtNs.load() < InterruptWatch::kSecondSignalGapNs) {
        return;  // the same signal delivered twice, not a person pressing Ctrl-C again
    }
    // The second one: nobody wants to wait for the orderly end. Leave the line and the
    // scheduling as they were found, with async-signal-safe calls only, and go.
    const int fd = state->portFd.load();
    std::atomic_signal_fence(std::memory_order_acquire);
    EmergencyRestoreAndClose(fd,
                             fd >= 0 && state->haveSettings != 0 ? &state->portSettings : nullptr,
                             fd >= 0 && state->haveLatency != 0 ? &state->portLatency : nullptr);
    platform::EmergencyRestorePriority(state->priority);
    static constexpr char kText[] = "tarvex-cli: stopped at once; the panel was not told\n";
    const ssize_t ignored = ::write(STDERR_FILENO, kText, sizeof kText - 1);
    (void)ignored;
    ::_exit(128 + signal);
}

void Install(int signal, struct sigaction& previous, bool& installed) {
    struct sigaction action {};
    action.sa_handler = &OnInterrupt;
    // Restarted calls: the orderly path must not see stray EINTR failures in its output
    // streams; every wait of the transfer is bounded and looks at the flag anyway.
    action.sa_flags = SA_RESTART;
    // One handler at a time: a SIGTERM during the handler of a SIGINT waits for it to end.
    if (::sigemptyset(&action.sa_mask) != 0 || ::sigaddset(&action.sa_mask, SIGINT) != 0 ||
        ::sigaddset(&action.sa_mask, SIGTERM) != 0 ||
        ::sigaction(signal, &action, &previous) != 0) {
        throw std::runtime_error(std::string("cannot watch for signal ") + std::to_string(signal) +
                                 ": " + std::strerror(errno));
    }
    installed = true;
}

void Restore(int signal, const struct sigaction& previous, bool installed) {
    if (installed) {
        // Putting back what was there before cannot fail for a signal that took a handler.
        (void)::sigaction(signal, &previous, nullptr);
    }
}

}  // namespace

InterruptWatch::InterruptWatch(const platform::SavedPriority& priority)
    : state_(std::make_unique<State>()) {
    State& state = *state_;
    state.priority = priority;
    InterruptWatch::State* expected = nullptr;
    if (!g_watched.compare_exchange_strong(expected, &state)) {
        throw std::logic_error("only one interrupt watch at a time");
    }
    try {
        Install(SIGINT, state.previousInt, state.installedInt);
        Install(SIGTERM, state.previousTerm, state.installedTerm);
    } catch (...) {
        Restore(SIGINT, state.previousInt, state.installedInt);
        g_watched.store(nullptr);
        throw;
    }
}

InterruptWatch::~InterruptWatch() {
    Restore(SIGTERM, state_->previousTerm, state_->installedTerm);
    Restore(SIGINT, state_->previousInt, state_->installedInt);
    g_watched.store(nullptr);
}

bool InterruptWatch::Requested() const {
    return state_->interrupts != 0;
}

int InterruptWatch::Signal() const {
    return state_->signal;
}

void InterruptWatch::PublishPort(const CSerialPort* port) {
    const int fd = port != nullptr ? NativeHandle(*port) : -1;
    const struct termios* saved = port != nullptr ? SavedSettings(*port) : nullptr;
    const EmergencyLatency* latency = port != nullptr ? SavedLatency(*port) : nullptr;
    State& state = *state_;
    if (state.portFd.load(std::memory_order_relaxed) == fd) {
        return;  // the settings of an open port do not change while it stays open
    }
    // Withdraw the old descriptor first, so that the handler never pairs one port's descriptor
    // with another's settings.
    state.portFd.store(-1);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    state.haveSettings = 0;
    state.haveLatency = 0;
    if (fd >= 0 && saved != nullptr) {
        state.portSettings = *saved;
        state.haveSettings = 1;
    }
    if (fd >= 0 && latency != nullptr) {
        state.portLatency = *latency;
        state.haveLatency = 1;
    }
    std::atomic_signal_fence(std::memory_order_seq_cst);
    state.portFd.store(fd);
}

void InterruptWatch::CancelOnClose() {}

}  // namespace tarvex::cli
