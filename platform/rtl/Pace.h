// A rate set by the clock: at most PerPeriod items in any one period, handed on as soon as the rate
// allows. A burst after a quiet time is bounded too: waiting earns at most one period's worth.
#pragma once
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace rtl {

class TPace {
public:
    using Clock = std::chrono::steady_clock;

    TPace(size_t perPeriod, Clock::duration period)
        : perPeriod_(perPeriod), each_(period / int64_t(perPeriod)), full_(Clock::time_point::min()) {}

    // How many items may go now.
    size_t Allowance(Clock::time_point now) const {
        if (full_ <= now) return perPeriod_;
        const auto owed = size_t((full_ - now + each_ - Clock::duration(1)) / each_);
        return owed >= perPeriod_ ? 0 : perPeriod_ - owed;
    }
    // When the next item may go (now or earlier while the allowance is not 0).
    Clock::time_point Next() const {
        return full_ == Clock::time_point::min() ? full_ : full_ - each_ * int64_t(perPeriod_ - 1);
    }
    void Took(size_t count, Clock::time_point now) { full_ = std::max(full_, now) + each_ * int64_t(count); }

private:
    size_t perPeriod_;
    Clock::duration each_;
    Clock::time_point full_;  // when the whole period's allowance is back
};

}  // namespace rtl
