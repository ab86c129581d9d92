// A performance counter that runs in virtual time: it moves forward only when
// it is read. Waits of the adapter are busy loops on Query(), so every
// protocol wait is honoured in virtual time while costing almost no real time.
#pragma once

#include <cstdint>

#include "base/PerformanceCounter.h"

class CVirtualCounter : public IPerformanceCounter {
public:
    static constexpr int64_t kFrequency = 1000000000;  // nanosecond counts

    // Each Query() advances the time by a step, starting at stepNs. With
    // accelerate, consecutive reads without activity in between grow the step
    // geometrically (by a quarter each time), so a long wait costs tens of
    // reads, not thousands; a wait then overshoots by at most about a quarter
    // of its length. Without it every read advances by exactly stepNs.
    // A step below one nanosecond is taken as one.
    explicit CVirtualCounter(int64_t stepNs = 100, bool accelerate = true);

    // Advances the time by the current step and gives the new time.
    int64_t Query() override;
    int64_t Frequency() override { return kFrequency; }

    // Something happened on the lines: the next reads step small again.
    // Inline: the simulator calls it on every line operation.
    void NoteActivity() { m_step = m_baseStep; }
    // Moves the time forward without a read (for line operations that cost time).
    void Advance(int64_t ns);
    int64_t Now() const { return m_now; }
    uint64_t Reads() const { return m_reads; }
    int64_t Step() const { return m_step; }

private:
    int64_t m_now = 0;
    int64_t m_baseStep;
    int64_t m_step;
    bool m_accelerate;
    uint64_t m_reads = 0;
};
