// Ticks, pauses and the clock. Waits here are short and only bounded from below: how much
// longer a pause takes depends on the machine, not on the code.
#include <gtest/gtest.h>
#include <time.h>

#include <chrono>

#include "platform/Time.h"
#include "support/ScopedEnv.h"

namespace tarvex::platform {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

long ElapsedMs(Clock::time_point since) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

TEST(Time, TickCountAdvancesWithPauses) {
    const std::uint32_t t0 = TickCount();
    PauseMs(40);
    const std::uint32_t t1 = TickCount();
    // Unsigned difference: right also across the 32-bit wrap.
    const std::uint32_t diff = t1 - t0;
    EXPECT_GE(diff, 40u);
    EXPECT_LT(diff, 60000u);
}

TEST(Time, PauseWaitsAtLeastItsTime) {
    auto start = Clock::now();
    PauseMs(0);
    PauseMs(60);
    EXPECT_GE(ElapsedMs(start), 60);

    start = Clock::now();
    PauseMs(30, IdleHook{});  // an empty hook is no hook
    EXPECT_GE(ElapsedMs(start), 30);
}

TEST(Time, PauseCallsTheIdleHookInSlices) {
    int calls = 0;
    const auto start = Clock::now();
    PauseMs(130, [&] { ++calls; });
    EXPECT_GE(ElapsedMs(start), 130);
    // 130 ms in slices of 25: six calls when the machine keeps up, fewer when it lags.
    EXPECT_GE(calls, 2);
    EXPECT_LE(calls, 6);
}

TEST(Time, SlowIdleHookDoesNotStretchThePauseByMoreThanOneCall) {
    int calls = 0;
    const auto start = Clock::now();
    PauseMs(100, [&] {
        ++calls;
        PauseMs(40);
    });
    EXPECT_GE(ElapsedMs(start), 100);
    // The deadline is absolute: time spent in the hook counts towards the pause.
    EXPECT_LE(calls, 3);
}

TEST(Time, UtcDateIsTodayInUtc) {
    auto today = [] {
        return std::chrono::year_month_day(
            std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now()));
    };
    const auto before = today();
    const UtcDate d = CurrentUtcDate();
    const auto after = today();
    auto same = [&](const std::chrono::year_month_day& ymd) {
        return d.year == int(ymd.year()) && d.month == int(unsigned(ymd.month())) &&
               d.day == int(unsigned(ymd.day()));
    };
    EXPECT_TRUE(same(before) || same(after)) << d.year << "-" << d.month << "-" << d.day;
}

// Sets TZ for the life of the object. The members go in reverse order: TZ is restored first,
// then read again.
class ScopedTimeZone {
  public:
    explicit ScopedTimeZone(const char* tz) : env_("TZ", tz) { tzset(); }

  private:
    struct ReadAgainAtEnd {
        ~ReadAgainAtEnd() { tzset(); }
    } readAgain_;
    test::ScopedEnv env_;
};

int UtcMinuteOfDay() {
    const auto now = std::chrono::system_clock::now();
    const auto sinceMidnight = now - std::chrono::floor<std::chrono::days>(now);
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::minutes>(sinceMidnight).count());
}

TEST(Time, LocalTimeFollowsTheTimeZone) {
    // POSIX TZ signs are inverted: "XYZ-5:30" is five and a half hours east of UTC.
    const struct {
        const char* tz;
        int offsetMinutes;
    } zones[] = {{"UTC0", 0}, {"XYZ-5:30", 330}, {"ABC+7", -420}};
    for (const auto& zone : zones) {
        SCOPED_TRACE(zone.tz);
        ScopedTimeZone tz(zone.tz);
        const int before = UtcMinuteOfDay();
        const LocalTimeOfDay t = CurrentLocalTime();
        const int after = UtcMinuteOfDay();
        ASSERT_GE(t.hour, 0);
        ASSERT_LT(t.hour, 24);
        ASSERT_GE(t.minute, 0);
        ASSERT_LT(t.minute, 60);
        const int local = t.hour * 60 + t.minute;
        auto expected = [&](int utc) { return ((utc + zone.offsetMinutes) % 1440 + 1440) % 1440; };
        EXPECT_TRUE(local == expected(before) || local == expected(after))
            << t.hour << ":" << t.minute;
    }
}

}  // namespace
}  // namespace tarvex::platform
