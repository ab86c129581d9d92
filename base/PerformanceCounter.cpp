#include "base/PerformanceCounter.h"

#include <chrono>

int64_t CSteadyCounter::Query() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int64_t CSteadyCounter::Frequency() {
    constexpr int64_t kNanosecondsPerSecond = 1000000000;
    return kNanosecondsPerSecond;
}
