// Ticks, pauses and the wall clock.
//
//   TickCount()         milliseconds from a monotonic clock, as a 32-bit counter that wraps
//   PauseMs(ms)         sleeps at least ms milliseconds
//   PauseMs(ms, idle)   the same, calling idle() about every kIdleSliceMs while it waits
//   CurrentUtcDate()    today's date in UTC
//   CurrentLocalTime()  the hour and minute of the local time of day
#pragma once

#include <cstdint>
#include <functional>

namespace tarvex::platform {

// How often waits call their idle hook, in milliseconds.
inline constexpr std::uint32_t kIdleSliceMs = 25;

using IdleHook = std::function<void()>;

std::uint32_t TickCount();

void PauseMs(std::uint32_t ms);
void PauseMs(std::uint32_t ms, const IdleHook& idle);

struct UtcDate {
    int year = 1970;
    int month = 1;  // 1..12
    int day = 1;    // 1..31
};

struct LocalTimeOfDay {
    int hour = 0;    // 0..23
    int minute = 0;  // 0..59
};

UtcDate CurrentUtcDate();
LocalTimeOfDay CurrentLocalTime();

}  // namespace tarvex::platform
