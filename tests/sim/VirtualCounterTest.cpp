#include <gtest/gtest.h>

#include "sim/VirtualCounter.h"

namespace {

TEST(VirtualCounter, WithoutAccelerationEveryReadAdvancesByTheStep) {
    CVirtualCounter counter(1000, false);
    EXPECT_EQ(counter.Now(), 0);
    EXPECT_EQ(counter.Query(), 1000);
    EXPECT_EQ(counter.Query(), 2000);
    EXPECT_EQ(counter.Now(), 2000);  // looking does not move the time
    EXPECT_EQ(counter.Reads(), 2u);
    counter.Advance(500);
    EXPECT_EQ(counter.Query(), 3500);
    EXPECT_EQ(counter.Frequency(), CVirtualCounter::kFrequency);
}

TEST(VirtualCounter, StepGrowsByAQuarterUntilActivity) {
    CVirtualCounter counter(100, true);
    EXPECT_EQ(counter.Query(), 100);
    EXPECT_EQ(counter.Query(), 225);
    EXPECT_EQ(counter.Query(), 381);  // 156 = 125 + 31
    counter.NoteActivity();
    EXPECT_EQ(counter.Query(), 481);
}

TEST(VirtualCounter, LongWaitCostsFewReadsAndOvershootsByAtMostAQuarter) {
    CVirtualCounter counter;
    constexpr int64_t kWaitNs = 20000000;  // 20 ms
    int64_t now = 0;
    while ((now = counter.Query()) < kWaitNs) {
    }
    EXPECT_LT(counter.Reads(), 100u);
    EXPECT_LE(now - kWaitNs, kWaitNs / 4);
}

TEST(VirtualCounter, TinyStepsStillGrowAndZeroStepIsTakenAsOne) {
    CVirtualCounter tiny(1, true);
    tiny.Query();
    tiny.Query();
    EXPECT_EQ(tiny.Now(), 3);
    CVirtualCounter zero(0, false);
    EXPECT_EQ(zero.Query(), 1);
}

}  // namespace
