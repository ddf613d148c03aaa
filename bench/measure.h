#pragma once
// Timing for the benchmarks: the median of five runs, in milliseconds.
#include <algorithm>
#include <chrono>

namespace tarvex::bench {

using Clock = std::chrono::steady_clock;

inline double ms(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double, std::milli>(b - a).count();
}

// prepare runs before each run, untimed.
template <class F, class P = void (*)()> double median5(F&& f, P&& prepare = [] {})
{
    double t[5];
    for (double& x : t) {
        prepare();
        auto a = Clock::now();
        f();
        x = ms(a, Clock::now());
    }
    std::sort(t, t + 5);
    return t[2];
}

} // namespace tarvex::bench
