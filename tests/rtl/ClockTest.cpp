#include "rtl/Clock.h"
#include "rtl/Pace.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>

namespace {

constexpr uint64_t kEpochDelta = 116'444'736'000'000'000ULL;  // 1601 to 1970 in 100 ns

TEST(ClockTest, AManualClockRulesWhileInstalled) {
    rtl::ManualClock clock(5000, kEpochDelta + 10'000'000ULL * 1'700'000'000);
    {
        rtl::ScopedClock scoped(clock);
        EXPECT_EQ(rtl::GetTickCount(), 5000u);
        EXPECT_EQ(rtl::GetSystemTimeAsFileTime(), kEpochDelta + 10'000'000ULL * 1'700'000'000);
        clock.Advance(250);
        EXPECT_EQ(rtl::GetTickCount(), 5250u);
        EXPECT_EQ(rtl::GetSystemTimeAsFileTime(), kEpochDelta + 10'000'000ULL * 1'700'000'000 + 2'500'000);
    }
    // The real clock is back: its system time is today's, not the manual one.
    uint64_t now = kEpochDelta + uint64_t(std::time(nullptr)) * 10'000'000ULL;
    uint64_t real = rtl::GetSystemTimeAsFileTime();
    EXPECT_LT(real > now ? real - now : now - real, 600ULL * 10'000'000);
}

TEST(ClockTest, TheTickWraps) {
    rtl::ManualClock clock;
    rtl::ScopedClock scoped(clock);
    clock.SetTick(0xFFFFFFF0u);
    uint32_t start = rtl::GetTickCount();
    clock.Advance(0x20);
    EXPECT_EQ(rtl::GetTickCount(), 0x10u);
    EXPECT_EQ(uint32_t(rtl::GetTickCount() - start), 0x20u);  // elapsed time survives the wrap
}

TEST(ClockTest, LocalTimeFollowsTheClock) {
    const time_t seconds = 1'718'000'000;  // mid June 2024
    rtl::ManualClock clock(0, kEpochDelta + uint64_t(seconds) * 10'000'000 + 1'234'567);
    rtl::ScopedClock scoped(clock);
    std::tm tm{};
    localtime_r(&seconds, &tm);
    rtl::LocalTime t = rtl::GetLocalTime();
    EXPECT_EQ(t.year, tm.tm_year + 1900);
    EXPECT_EQ(t.month, tm.tm_mon + 1);
    EXPECT_EQ(t.day, tm.tm_mday);
    EXPECT_EQ(t.hour, tm.tm_hour);
    EXPECT_EQ(t.minute, tm.tm_min);
    EXPECT_EQ(t.second, tm.tm_sec);
    EXPECT_EQ(t.millisecond, 123);
}

}  // namespace

// Six a millisecond: what may go after each step, and when the next may go.
TEST(PaceTest, AtMostOnePeriodsWorthHowEverLongItWaited) {
    using namespace std::chrono;
    const auto t0 = rtl::TPace::Clock::time_point() + hours(1);
    rtl::TPace pace(6, milliseconds(1));
    struct Step {
        microseconds at;
        size_t take, allowanceAfter;
        microseconds next;  // from t0
    };
    const Step steps[] = {
        {microseconds(0), 6, 0, microseconds(167)},  // a full period at once, then one a sixth of a ms
        {microseconds(100), 0, 0, microseconds(167)},
        {microseconds(500), 2, 1, microseconds(500)},  // 500 us earned three
        {microseconds(1000), 4, 0, microseconds(1167)},
        {microseconds(60000), 0, 6, microseconds(59167)},  // a long wait earns one period's worth
    };
    for (const Step& s : steps) {
        const auto now = t0 + s.at;
        pace.Took(s.take, now);
        EXPECT_EQ(pace.Allowance(now), s.allowanceAfter) << s.at.count();
        EXPECT_EQ(round<microseconds>(pace.Next() - t0).count(), s.next.count()) << s.at.count();
    }
}
