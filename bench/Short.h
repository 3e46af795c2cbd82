// BENCH_SHORT=1 (make bench in CI): every program runs for seconds, not minutes.
#pragma once
#include <cstdlib>

namespace benchshort {

inline bool Short() {
    const char* s = std::getenv("BENCH_SHORT");
    return s && *s && *s != '0';
}

// The length of a run: the argument when given, else the short or the full default.
inline int Seconds(int argc, char** argv, int full, int brief) {
    if (argc > 1) return std::atoi(argv[1]);
    return Short() ? brief : full;
}

}  // namespace benchshort
