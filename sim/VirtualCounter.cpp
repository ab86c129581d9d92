#include "sim/VirtualCounter.h"

namespace {

constexpr int64_t kMinimumStepNs = 1;
// The step grows by step / kGrowthDivisor per read: a quarter.
constexpr int64_t kGrowthDivisor = 4;

}  // namespace

CVirtualCounter::CVirtualCounter(int64_t stepNs, bool accelerate)
    : m_baseStep(stepNs < kMinimumStepNs ? kMinimumStepNs : stepNs),
      m_step(m_baseStep),
      m_accelerate(accelerate) {}

int64_t CVirtualCounter::Query() {
    ++m_reads;
    m_now += m_step;
    if (m_accelerate) {
        // Small steps would never grow by integer quarters; grow by at least one.
        const int64_t growth = m_step / kGrowthDivisor;
        m_step += growth > 0 ? growth : kMinimumStepNs;
    }
    return m_now;
}

void CVirtualCounter::Advance(int64_t ns) {
    if (ns > 0) {
        m_now += ns;
    }
}
