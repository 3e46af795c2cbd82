#include "rtl/Clock.h"

#include <chrono>
#include <ctime>
#include <thread>

namespace rtl {
namespace {

// 100 ns units between 1601-01-01 and 1970-01-01.
constexpr uint64_t kEpochDelta = 116'444'736'000'000'000ULL;

class RealClock : public Clock {
public:
    uint32_t TickCount() override {
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now().time_since_epoch());
        return static_cast<uint32_t>(ms.count());
    }
    uint64_t SystemTime() override {
        auto units = std::chrono::duration_cast<std::chrono::duration<int64_t, std::ratio<1, 10'000'000>>>(
            std::chrono::system_clock::now().time_since_epoch());
        return kEpochDelta + static_cast<uint64_t>(units.count());
    }
};

RealClock realClock;
std::atomic<Clock*> current{&realClock};

}  // namespace

void SetClock(Clock* clock) { current.store(clock ? clock : &realClock); }

uint32_t GetTickCount() { return current.load()->TickCount(); }

uint64_t GetSystemTimeAsFileTime() { return current.load()->SystemTime(); }

void Sleep(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

LocalTime GetLocalTime() {
    uint64_t t = GetSystemTimeAsFileTime();
    uint64_t sinceEpoch = t >= kEpochDelta ? t - kEpochDelta : 0;
    time_t seconds = static_cast<time_t>(sinceEpoch / 10'000'000);
    std::tm tm{};
    localtime_r(&seconds, &tm);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
            static_cast<int>(sinceEpoch / 10'000 % 1000)};
}

}  // namespace rtl
