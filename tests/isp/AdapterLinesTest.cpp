// Line operations and waits, in order and in exact virtual time.
#include <gtest/gtest.h>

#include "tests/isp/IspTestBench.h"

namespace {

class AdapterLinesTest : public ::testing::Test {
protected:
    AdapterLinesTest() : b(kRowAT90S8535, true) {}

    void StartTrace() {
        b.port.ClearTrace();
        b.port.SetTracing(true);
        start = b.counter.Now();
    }

    AdapterBench b;
    int64_t start = 0;
};

TEST_F(AdapterLinesTest, WaitReadsTheCounterUntilTheTimeIsReached) {
    const uint64_t before = b.counter.Reads();
    b.adapter.WaitMicroseconds(0);
    EXPECT_EQ(b.counter.Reads() - before, 2u);  // the start and one more
    const int64_t t0 = b.counter.Now();
    b.adapter.WaitMicroseconds(25);
    EXPECT_EQ(b.counter.Now() - t0, WaitGap(25) * kNsPerUs);
    const int64_t t1 = b.counter.Now();
    b.adapter.WaitMicroseconds(20000);
    EXPECT_EQ(b.counter.Now() - t1, WaitGap(20000) * kNsPerUs);
}

TEST_F(AdapterLinesTest, TransferIsThirtyTwoClocksOfMosiSckUpStatusSckDown) {
    ASSERT_TRUE(b.Open());
    StartTrace();
    const uint32_t instruction = 0xA5C3F00F;
    b.adapter.Transfer(instruction);
    std::vector<TraceStep> expected;
    for (int bit = 31; bit >= 0; --bit) {
        const bool one = ((instruction >> bit) & 1u) != 0;
        expected.push_back({one ? SimEvent::SetDtr : SimEvent::ClrDtr, 0});
        expected.push_back({SimEvent::SetRts, 0});
        expected.push_back({SimEvent::Status, 0});
        expected.push_back({SimEvent::ClrRts, 0});
    }
    ExpectTrace(b.port.Trace(), start, expected);
    EXPECT_FALSE(b.port.Rts());
    EXPECT_TRUE(b.port.Dtr());  // MOSI keeps the last bit
}

TEST_F(AdapterLinesTest, ResetPulseAssertsReleasesAssertsThenReadsTheEcho) {
    ASSERT_TRUE(b.Open());
    b.port.EscapeCommFunction(SETRTS);
    StartTrace();
    EXPECT_EQ(b.adapter.PulseReset(), kIspOk);
    ExpectTrace(b.port.Trace(), start,
                {{SimEvent::ClrRts, 0},
                 {SimEvent::SetBreak, 0},
                 {SimEvent::ClearBreak, WaitGap(2000)},
                 {SimEvent::SetBreak, WaitGap(2000)},
                 {SimEvent::Status, WaitGap(2000)}});
    EXPECT_TRUE(b.port.Break());
    EXPECT_FALSE(b.port.Rts());
}

TEST_F(AdapterLinesTest, ResetPulseWithoutEchoGivesNineAndKeepsResetAsserted) {
    b.port.Config().noAdapter = true;
    ASSERT_TRUE(b.Open());
    EXPECT_EQ(b.adapter.PulseReset(), kIspNoResetEcho);
    EXPECT_TRUE(b.port.Break());
    EXPECT_FALSE(b.port.Rts());
}

TEST_F(AdapterLinesTest, ResetPulseGivesFourWhenAnyOfItsLineOperationsFails) {
    // The pulse has five line operations; fail from each in turn.
    for (int failing = 1; failing <= 5; ++failing) {
        SCOPED_TRACE(failing);
        AdapterBench fresh;
        ASSERT_TRUE(fresh.Open());
        fresh.port.Config().failAfterLineOps = failing;
        EXPECT_EQ(fresh.adapter.PulseReset(), kIspLineError);
        EXPECT_EQ(fresh.port.Counters().lineOps, static_cast<uint64_t>(failing - 1));
    }
    AdapterBench closed;
    EXPECT_EQ(closed.adapter.PulseReset(), kIspLineError);
}

TEST_F(AdapterLinesTest, LeaveWaitsAroundLoweringSckAndReleasingReset) {
    ASSERT_TRUE(b.Open());
    ASSERT_EQ(b.adapter.EnterProgrammingMode(1), kIspOk);
    StartTrace();
    EXPECT_EQ(b.adapter.LeaveProgrammingMode(), kIspOk);
    ExpectTrace(b.port.Trace(), start,
                {{SimEvent::ClrRts, WaitGap(1000)},
                 {SimEvent::SetBreak, 0},
                 {SimEvent::ClearBreak, WaitGap(1000)}});
    EXPECT_EQ(b.counter.Now() - b.port.Trace().back().timeNs, WaitGap(1000) * kNsPerUs);
    EXPECT_FALSE(b.port.Break());
    EXPECT_FALSE(b.port.Rts());
    EXPECT_FALSE(b.port.InProgrammingMode());
}

TEST_F(AdapterLinesTest, LeaveGivesFourWhenALineFails) {
    for (int failing = 1; failing <= 3; ++failing) {
        SCOPED_TRACE(failing);
        AdapterBench fresh;
        ASSERT_TRUE(fresh.Open());
        fresh.port.Config().failAfterLineOps = failing;
        EXPECT_EQ(fresh.adapter.LeaveProgrammingMode(), kIspLineError);
    }
}

TEST_F(AdapterLinesTest, EnterWaitsTheSetupTimeAfterTheResetPulse) {
    ASSERT_TRUE(b.Open());
    StartTrace();
    ASSERT_EQ(b.adapter.EnterProgrammingMode(0), kIspOk);
    const std::vector<SimEvent>& trace = b.port.Trace();
    ASSERT_EQ(trace.size(), 5u + 128u);  // the reset pulse, one Programming Enable
    EXPECT_EQ(trace[4].kind, SimEvent::Status);
    EXPECT_EQ(trace[5].kind, SimEvent::SetDtr);
    EXPECT_EQ(trace[5].timeNs - trace[4].timeNs, WaitGap(20000) * kNsPerUs);
}

}  // namespace
