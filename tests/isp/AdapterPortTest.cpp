// Construction, opening and closing the port, and the presence test.
#include <gtest/gtest.h>

#include "sim/SimPortOptions.h"
#include "tests/isp/IspTestBench.h"

namespace {

TEST(AdapterConstruction, StartsWithoutPortAndWithDefinedDeviceMembers) {
    CVirtualCounter counter;
    CSimPort port(SimConfig(), counter);
    CIspAdapter adapter(port, counter);
    EXPECT_EQ(adapter.m_hComm, nullptr);
    EXPECT_EQ(adapter.m_nPort, 0);
    EXPECT_EQ(adapter.m_nProgSize, 0);
    EXPECT_EQ(adapter.m_nDataSize, 0);
    EXPECT_TRUE(adapter.m_strName.empty());
    EXPECT_FALSE(port.IsOpen());
}

TEST(AdapterOpenPort, ConfiguresThePortAndLeavesTheLinesIdle) {
    AdapterBench b;
    ASSERT_EQ(b.adapter.OpenPort(kSimPortNumber), kPortOk);
    EXPECT_EQ(b.adapter.m_hComm, &b.port);
    EXPECT_EQ(b.adapter.m_nPort, kSimPortNumber);
    EXPECT_EQ(b.port.OpenedName(), kSimPortName);
    EXPECT_EQ(b.port.InQueue(), 400u);
    EXPECT_EQ(b.port.OutQueue(), 400u);
    const CommState& s = b.port.State();
    EXPECT_EQ(s.BaudRate, 115200u);
    EXPECT_EQ(s.ByteSize, 8);
    EXPECT_EQ(s.Parity, NOPARITY);
    EXPECT_EQ(s.StopBits, ONESTOPBIT);
    EXPECT_TRUE(s.fBinary);
    EXPECT_FALSE(s.fParity || s.fOutxCtsFlow || s.fOutxDsrFlow || s.fDsrSensitivity || s.fOutX ||
                 s.fInX || s.fNull);
    EXPECT_EQ(s.fDtrControl, DTR_CONTROL_DISABLE);
    EXPECT_EQ(s.fRtsControl, RTS_CONTROL_DISABLE);
    EXPECT_EQ(b.port.EventMask(), EV_TXEMPTY | EV_ERR);
    const CommTimeouts& t = b.port.Timeouts();
    EXPECT_EQ(t.ReadIntervalTimeout, MAXDWORD);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 0u);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 2u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 0u);
    EXPECT_FALSE(b.port.Dtr() || b.port.Rts() || b.port.Break());
    EXPECT_EQ(b.port.Counters().lineOps, 0u);  // opening touches no line
}

TEST(AdapterOpenPort, AFailedConfigurationStepGivesZeroAndKeepsThePortOpen) {
    const SimPortCall steps[] = {SimPortCall::SetupComm, SimPortCall::GetCommState,
                                 SimPortCall::SetCommState, SimPortCall::SetCommMask,
                                 SimPortCall::SetCommTimeouts};
    for (SimPortCall step : steps) {
        SCOPED_TRACE(static_cast<int>(step));
        AdapterBench b;
        b.port.Config().failCall = step;
        EXPECT_EQ(b.adapter.OpenPort(kSimPortNumber), kPortFailed);
        EXPECT_EQ(b.adapter.m_hComm, &b.port);
        EXPECT_TRUE(b.port.IsOpen());
        if (step != SimPortCall::SetCommMask && step != SimPortCall::SetCommTimeouts) {
            EXPECT_EQ(b.port.EventMask(), 0u);  // nothing after the failed step
        }
        // The next open closes it first.
        b.port.Config().failCall = SimPortCall::None;
        EXPECT_EQ(b.adapter.OpenPort(kSimPortNumber), kPortOk);
        EXPECT_EQ(b.port.Counters().closes, 1u);
    }
}

TEST(AdapterSelectPort, NumbersOutsideOneToFourChangeNothing) {
    AdapterBench b;
    ASSERT_TRUE(b.Open());
    for (int n : {0, 5, -1}) {
        EXPECT_EQ(b.adapter.SelectPort(n), kPortNumberInvalid);
        EXPECT_EQ(b.adapter.m_nPort, kSimPortNumber);
        EXPECT_EQ(b.adapter.m_hComm, &b.port);
        EXPECT_TRUE(b.port.IsOpen());
    }
    EXPECT_EQ(b.port.Counters().closes, 0u);
    EXPECT_EQ(b.port.Counters().opens, 1u);
}

TEST(AdapterSelectPort, AFailedOpenGivesThreeAndKeepsTheNewNumber) {
    AdapterBench b;
    b.port.Config().openFails = true;
    EXPECT_EQ(b.adapter.SelectPort(3), kPortOpenFailed);
    EXPECT_EQ(b.adapter.m_nPort, 3);
    EXPECT_EQ(b.adapter.m_hComm, nullptr);
    EXPECT_EQ(b.adapter.OpenPort(4), kPortFailed);
    EXPECT_EQ(b.adapter.m_nPort, 4);
    // Every line operation now fails.
    EXPECT_EQ(b.adapter.PulseReset(), kIspLineError);
    EXPECT_EQ(b.adapter.CheckAdapter(), kAdapterNotFound);
    EXPECT_EQ(b.adapter.LeaveProgrammingMode(), kIspLineError);
}

TEST(AdapterSelectPort, ReopeningTheSamePortObjectClosesItFirst) {
    AdapterBench b;
    b.adapter.SetPortNames({{1, "first"}, {3, "third"}});
    ASSERT_EQ(b.adapter.SelectPort(1), kPortOk);
    ASSERT_EQ(b.adapter.PulseReset(), kIspOk);
    ASSERT_EQ(b.adapter.SelectPort(3), kPortOk);
    EXPECT_EQ(b.port.OpenedName(), "third");
    EXPECT_EQ(b.port.Counters().closes, 1u);
    EXPECT_EQ(b.port.Counters().closedWithBreak, 0u);
    EXPECT_EQ(b.adapter.m_nPort, 3);
}

TEST(AdapterSelectPort, OpeningAnotherPortReleasesResetOnTheOldOneBeforeClosingIt) {
    CVirtualCounter counter;
    CSimPort unusedReal(SimConfig(), counter);
    CSimPortKind sims(counter);
    CRoutingPort router(unusedReal, {{kSimPortPrefix, &sims}});
    CIspAdapter adapter(router, counter);
    adapter.SetPortNames({{1, "sim:AT90S8535"}, {2, "sim:AT90S2313"}});
    ASSERT_EQ(adapter.SelectPort(1), kPortOk);
    CSimPort* first = sims.Sim();
    ASSERT_EQ(adapter.PulseReset(), kIspOk);
    ASSERT_TRUE(first->Break());

    ASSERT_EQ(adapter.SelectPort(2), kPortOk);
    CSimPort* second = sims.Sim();
    ASSERT_NE(first, second);
    EXPECT_FALSE(first->IsOpen());
    EXPECT_EQ(first->Counters().closedWithBreak, 0u);
    EXPECT_EQ(first->Counters().clearBreak, 2u);  // the reset pulse's, and the release
    EXPECT_TRUE(second->IsOpen());
    EXPECT_FALSE(unusedReal.IsOpen());
}

TEST(AdapterDestruction, ReleasesResetAndClosesThePort) {
    CVirtualCounter counter;
    CSimPort port(SimConfig(), counter);
    {
        CIspAdapter adapter(port, counter);
        adapter.SetPortNames({{kSimPortNumber, kSimPortName}});
        ASSERT_EQ(adapter.SelectPort(kSimPortNumber), kPortOk);
        ASSERT_EQ(adapter.PulseReset(), kIspOk);
    }
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.Counters().closes, 1u);
    EXPECT_EQ(port.Counters().closedWithBreak, 0u);
}

// ---------------------------------------------------------------- presence

TEST(AdapterCheck, FindsTheAdapterAndLeavesTheLinesIdle) {
    AdapterBench b(kRowAT90S8535, true);
    ASSERT_TRUE(b.Open());
    ASSERT_EQ(b.adapter.PulseReset(), kIspOk);
    b.port.SetTracing(true);
    const int64_t start = b.counter.Now();
    EXPECT_EQ(b.adapter.CheckAdapter(), kAdapterPresent);
    ExpectTrace(b.port.Trace(), start,
                {{SimEvent::ClearBreak, WaitGap(1000)},
                 {SimEvent::ClrRts, WaitGap(1000)},
                 {SimEvent::Status, WaitGap(500)},
                 {SimEvent::SetRts, 0},
                 {SimEvent::Status, WaitGap(500)},
                 {SimEvent::ClrRts, 0}});
    EXPECT_FALSE(b.port.Break());
    EXPECT_FALSE(b.port.Rts());
}

TEST(AdapterCheck, MissingOrWrongDsrLoopMeansNoAdapter) {
    {
        AdapterBench b;
        b.port.Config().noAdapter = true;
        ASSERT_TRUE(b.Open());
        EXPECT_EQ(b.adapter.CheckAdapter(), kAdapterNotFound);
        EXPECT_TRUE(b.port.Rts());  // the failure after raising RTS leaves it on
    }
    {
        // DSR on while RTS is off.
        CVirtualCounter counter;
        CSimPort sim(SimConfig(), counter);
        CForcedStatusPort port(sim);
        port.forceOn = MS_DSR_ON;
        CIspAdapter adapter(port, counter);
        adapter.SetPortNames({{kSimPortNumber, kSimPortName}});
        ASSERT_EQ(adapter.SelectPort(kSimPortNumber), kPortOk);
        EXPECT_EQ(adapter.CheckAdapter(), kAdapterNotFound);
        EXPECT_EQ(sim.Counters().setRts, 0u);  // stopped before raising RTS
    }
    {
        // The target itself does not matter.
        AdapterBench b;
        b.port.Config().noTarget = true;
        ASSERT_TRUE(b.Open());
        EXPECT_EQ(b.adapter.CheckAdapter(), kAdapterPresent);
    }
    {
        AdapterBench b;
        ASSERT_TRUE(b.Open());
        b.port.Config().lineOpsFail = true;
        EXPECT_EQ(b.adapter.CheckAdapter(), kAdapterNotFound);
    }
}

}  // namespace
