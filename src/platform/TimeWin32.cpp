// Ticks, pauses and the wall clock on Windows. Pauses are measured on the performance counter,
// so that a Sleep that wakes a little early (the scheduler's granularity) is made good.
#include <windows.h>

#include <algorithm>

#include "platform/Time.h"

namespace tarvex::platform {
namespace {

// Milliseconds on the performance counter, as a 64-bit value that never wraps.
std::uint64_t PreciseMs() {
    static const LONGLONG frequency = [] {
        LARGE_INTEGER f{};
        ::QueryPerformanceFrequency(&f);  // never fails since Windows XP
        return f.QuadPart > 0 ? f.QuadPart : 1;
    }();
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    return static_cast<std::uint64_t>(now.QuadPart / frequency * 1000 +
                                      now.QuadPart % frequency * 1000 / frequency);
}

void SleepUntil(std::uint64_t deadline) {
    for (std::uint64_t now = PreciseMs(); now < deadline; now = PreciseMs()) {
        ::Sleep(static_cast<DWORD>(deadline - now));
    }
}

}  // namespace

std::uint32_t TickCount() {
    // The 32-bit tick count the transfer timing was written for; it wraps after 49.7 days and
    // differences of two readings stay right across the wrap.
    return static_cast<std::uint32_t>(::GetTickCount());
}

void PauseMs(std::uint32_t ms) {
    if (ms == 0) {
        return;
    }
    SleepUntil(PreciseMs() + ms);
}

void PauseMs(std::uint32_t ms, const IdleHook& idle) {
    if (!idle) {
        PauseMs(ms);
        return;
    }
    const std::uint64_t deadline = PreciseMs() + ms;
    for (std::uint64_t now = PreciseMs(); now < deadline; now = PreciseMs()) {
        SleepUntil(std::min<std::uint64_t>(now + kIdleSliceMs, deadline));
        idle();
    }
}

UtcDate CurrentUtcDate() {
    SYSTEMTIME t{};
    ::GetSystemTime(&t);
    return UtcDate{t.wYear, t.wMonth, t.wDay};
}

LocalTimeOfDay CurrentLocalTime() {
    SYSTEMTIME t{};
    ::GetLocalTime(&t);
    return LocalTimeOfDay{t.wHour, t.wMinute};
}

}  // namespace tarvex::platform
