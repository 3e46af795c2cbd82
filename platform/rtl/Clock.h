// Time sources of both deliverables: the millisecond tick, the 100 ns system time, the local
// calendar time and Sleep. Readings go through one replaceable clock so that tests can jump time
// and wrap the tick; Sleep always really sleeps.
#pragma once
#include <atomic>
#include <cstdint>

namespace rtl {

class Clock {
public:
    virtual ~Clock() = default;
    virtual uint32_t TickCount() = 0;   // milliseconds, wraps at 2^32
    virtual uint64_t SystemTime() = 0;  // 100 ns units since 1601-01-01 UTC
};

// The clock in force (the real one unless a test installed another). nullptr restores the real one.
void SetClock(Clock* clock);

uint32_t GetTickCount();
uint64_t GetSystemTimeAsFileTime();
void Sleep(uint32_t ms);

struct LocalTime {
    int year, month, day;                          // month 1..12, day 1..31
    int hour, minute, second, millisecond;
};
// The clock's system time as local calendar time.
LocalTime GetLocalTime();

// A clock that moves only when told; safe to read from any thread.
class ManualClock : public Clock {
public:
    explicit ManualClock(uint32_t tick = 1000, uint64_t systemTime = 133'000'000'000'000'000ULL)
        : tick_(tick), time_(systemTime) {}
    uint32_t TickCount() override { return tick_.load(); }
    uint64_t SystemTime() override { return time_.load(); }
    // Moves both readings forward by ms milliseconds (the tick wraps).
    void Advance(uint32_t ms) {
        tick_.fetch_add(ms);
        time_.fetch_add(uint64_t(ms) * 10000u);
    }
    void SetTick(uint32_t tick) { tick_.store(tick); }
    void SetSystemTime(uint64_t t) { time_.store(t); }

private:
    std::atomic<uint32_t> tick_;
    std::atomic<uint64_t> time_;
};

// Installs a clock for the lifetime of the guard (tests).
class ScopedClock {
public:
    explicit ScopedClock(Clock& c) { SetClock(&c); }
    ~ScopedClock() { SetClock(nullptr); }
    ScopedClock(const ScopedClock&) = delete;
    ScopedClock& operator=(const ScopedClock&) = delete;
};

}  // namespace rtl
