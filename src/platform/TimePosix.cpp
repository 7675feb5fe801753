#include <time.h>

#include <cerrno>

#include "platform/Time.h"

namespace tarvex::platform {
namespace {

constexpr long kNanosPerMilli = 1000000L;
constexpr long kNanosPerSecond = 1000000000L;

timespec MonotonicNow() {
    timespec ts{};
    // CLOCK_MONOTONIC cannot fail on a system that runs this program at all; should it ever,
    // a zero time keeps the arithmetic defined and makes pauses return at once.
    if (::clock_gettime(CLOCK_MONOTONIC, &ts) != 0) {
        ts = timespec{};
    }
    return ts;
}

timespec AddMs(timespec t, std::uint64_t ms) {
    t.tv_sec += static_cast<time_t>(ms / 1000);
    t.tv_nsec += static_cast<long>(ms % 1000) * kNanosPerMilli;
    if (t.tv_nsec >= kNanosPerSecond) {
        t.tv_nsec -= kNanosPerSecond;
        ++t.tv_sec;
    }
    return t;
}

bool Before(const timespec& a, const timespec& b) {
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

// Sleeps until the absolute monotonic time `deadline`. An absolute deadline keeps the total
// exact when a signal interrupts the sleep: the sleep simply resumes towards the same point.
void SleepUntil(const timespec& deadline) {
    for (;;) {
        const int rc = ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr);
        if (rc == 0) {
            return;
        }
        if (rc != EINTR) {
            // Only EINVAL is possible here (a malformed deadline); nothing to wait for then.
            return;
        }
    }
}

}  // namespace

std::uint32_t TickCount() {
    const timespec now = MonotonicNow();
    const std::uint64_t ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                             static_cast<std::uint64_t>(now.tv_nsec / kNanosPerMilli);
    // The counter wraps like the 32-bit tick count the transfer timing was written for;
    // differences of two readings stay right across the wrap.
    return static_cast<std::uint32_t>(ms);
}

void PauseMs(std::uint32_t ms) {
    if (ms == 0) {
        return;
    }
    SleepUntil(AddMs(MonotonicNow(), ms));
}

void PauseMs(std::uint32_t ms, const IdleHook& idle) {
    if (!idle) {
        PauseMs(ms);
        return;
    }
    const timespec deadline = AddMs(MonotonicNow(), ms);
    timespec now = MonotonicNow();
    while (Before(now, deadline)) {
        timespec slice = AddMs(now, kIdleSliceMs);
        if (Before(deadline, slice)) {
            slice = deadline;
        }
        SleepUntil(slice);
        idle();
        now = MonotonicNow();
    }
}

UtcDate CurrentUtcDate() {
    UtcDate out;
    const time_t now = ::time(nullptr);
    tm parts{};
    if (now == static_cast<time_t>(-1) || ::gmtime_r(&now, &parts) == nullptr) {
        return out;
    }
    out.year = parts.tm_year + 1900;
    out.month = parts.tm_mon + 1;
    out.day = parts.tm_mday;
    return out;
}

LocalTimeOfDay CurrentLocalTime() {
    LocalTimeOfDay out;
    const time_t now = ::time(nullptr);
    tm parts{};
    if (now == static_cast<time_t>(-1) || ::localtime_r(&now, &parts) == nullptr) {
        return out;
    }
    out.hour = parts.tm_hour;
    out.minute = parts.tm_min;
    return out;
}

}  // namespace tarvex::platform
