// The high-resolution counter all protocol timing rests on.
#pragma once

#include <cstdint>

class IPerformanceCounter {
public:
    virtual ~IPerformanceCounter() = default;
    virtual int64_t Query() = 0;      // current count
    virtual int64_t Frequency() = 0;  // counts per second
};

// The real counter: std::chrono::steady_clock, nanosecond counts.
class CSteadyCounter : public IPerformanceCounter {
public:
    int64_t Query() override;
    int64_t Frequency() override;
};
