// Ticks, pauses and the wall clock on Windows. Pauses are measured on the performance counter,
// so that a Sleep that wakes a little early (the scheduler's granularity) is made good.
#include <windows.h>

#include <algorithm>

#include "platform/Time.h"

namespace tarvex::platform {
namespace {

LONGLONG Frequency() {
    static const LONGLONG frequency = [] {
        LARGE_INTEGER f{};
        ::QueryPerformanceFrequency(&f);  // never fails since Windows XP
        return f.QuadPart > 0 ? f.QuadPart : 1;
    }();
    return frequency;
}

LONGLONG Now() {
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    return now.QuadPart;
}

// The counter value `ms` milliseconds after `from`, rounded up.
LONGLONG After(LONGLONG from, std::uint64_t ms) {
    const LONGLONG f = Frequency();
    return from + static_cast<LONGLONG>(ms) / 1000 * f +
           (static_cast<LONGLONG>(ms % 1000) * f + 999) / 1000;
}

// Sleeps until the counter reaches `deadline`; Sleep is given whole milliseconds rounded up.
void SleepUntil(LONGLONG deadline) {
    const LONGLONG f = Frequency();
    for (LONGLONG now = Now(); now < deadline; now = Now()) {
        const LONGLONG ms = ((deadline - now) * 1000 + f - 1) / f;
        ::Sleep(static_cast<DWORD>(std::min<LONGLONG>(ms, 0x7FFFFFFF)));
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
    SleepUntil(After(Now(), ms));
}

void PauseMs(std::uint32_t ms, const IdleHook& idle) {
    if (!idle) {
        PauseMs(ms);
        return;
    }
    const LONGLONG deadline = After(Now(), ms);
    for (LONGLONG now = Now(); now < deadline; now = Now()) {
        SleepUntil(std::min(After(now, kIdleSliceMs), deadline));
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
