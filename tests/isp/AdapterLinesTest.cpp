// Line operations and waits, in order and in exact virtual time.
#include <gtest/gtest.h>

#include "ports/FtdiPort.h"
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

// Each bit: MOSI only when its level changes (and once at first, when the
// level is not known), SCK up, the status only for an answer bit that is
// wanted, read while SCK is high, then SCK down.
TEST_F(AdapterLinesTest, TransferChangesMosiOnlyWhenNeededAndReadsOnlyWantedBits) {
    ASSERT_TRUE(b.Open());
    StartTrace();
    const uint32_t instruction = 0xA5C3F00F;
    const uint32_t wanted = 0x00FF00FF;
    b.adapter.Transfer(instruction, wanted);
    b.adapter.Transfer(instruction, wanted);
    std::vector<TraceStep> expected;
    int mosi = -1;
    for (int round = 0; round < 2; ++round) {
        for (int bit = 31; bit >= 0; --bit) {
            const int level = static_cast<int>((instruction >> bit) & 1u);
            if (level != mosi) {
                expected.push_back({level != 0 ? SimEvent::SetDtr : SimEvent::ClrDtr, 0});
                mosi = level;
            }
            expected.push_back({SimEvent::SetRts, 0});
            if (((wanted >> bit) & 1u) != 0) {
                expected.push_back({SimEvent::Status, 0});
            }
            expected.push_back({SimEvent::ClrRts, 0});
        }
    }
    ExpectTrace(b.port.Trace(), start, expected);
    // 0xA5C3F00F has 10 level changes; MOSI is set once more at the start,
    // and the second round starts on the level the first one left.
    EXPECT_EQ(b.port.Trace().size(), 2u * (64 + 16) + 1 + 2 * 10);
    EXPECT_FALSE(b.port.Rts());
    EXPECT_TRUE(b.port.Dtr());  // MOSI keeps the last bit

    // The one-argument form reads every bit; after a reset pulse MOSI is set
    // again whatever level it had.
    b.adapter.PulseReset();
    StartTrace();
    b.adapter.Transfer(0xFFFFFFFF);
    EXPECT_EQ(b.port.Trace().size(), 1u + 32 * 3);
    EXPECT_EQ(b.port.Trace()[0].kind, SimEvent::SetDtr);
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
    // The reset pulse, then one Programming Enable: 64 SCK edges, 12 MOSI
    // calls (AC 53 00 00 has 11 level changes, and the level is not known
    // after the reset) and the 8 status reads of the third byte, which
    // carries the 0x53.
    ASSERT_EQ(trace.size(), 5u + 64u + 12u + 8u);
    EXPECT_EQ(trace[4].kind, SimEvent::Status);
    EXPECT_EQ(trace[5].kind, SimEvent::SetDtr);
    EXPECT_EQ(trace[5].timeNs - trace[4].timeNs, WaitGap(20000) * kNsPerUs);
}

}  // namespace

namespace {

// A cable whose chip (TTL levels, no transceiver) takes MOSI at each rise of
// SCK and drives MISO with that bit only while SCK stays high; while SCK is
// low MISO shows the opposite. Each sample is taken before the byte's state
// goes out, as the FT232R does.
class CEchoWhileHighCable : public IFtdiDevice {
public:
    static constexpr uint8_t kSck = 0x04;
    static constexpr uint8_t kMiso = 0x08;
    static constexpr uint8_t kMosi = 0x10;
    int setupFaults = 0;  // MOSI changed in the state that raised SCK

    bool Open(const std::string&, uint8_t, int) override { return true; }
    bool SetPinClock(int) override { return true; }
    bool Exchange(const uint8_t* out, uint8_t* samples, size_t count) override {
        for (size_t i = 0; i < count; ++i) {
            const bool high = (m_pins & kSck) != 0;
            samples[i] = static_cast<uint8_t>(m_pins | (high == m_bit ? kMiso : 0));
            if (!high && (out[i] & kSck) != 0) {
                setupFaults += ((out[i] ^ m_pins) & kMosi) != 0 ? 1 : 0;
                m_bit = (out[i] & kMosi) != 0;
            }
            m_pins = static_cast<uint8_t>(out[i] & ~kMiso);
        }
        return true;
    }
    void Close() override {}
    std::string LastError() const override { return {}; }

private:
    uint8_t m_pins = 0;
    bool m_bit = false;
};

}  // namespace

// Over the cable MOSI settles a state before SCK rises, and MISO is read from
// the sample taken while SCK is high: the answer is the chip's echo.
TEST(FtdiShift, MosiSettlesBeforeSckRisesAndMisoIsReadWhileSckIsHigh) {
    CEchoWhileHighCable cable;
    FtdiPortOptions options;
    options.ttl = true;
    CFtdiPort port(cable, options);
    ASSERT_TRUE(port.Open(""));
    const uint32_t instructions[] = {0xAC530000, 0x30000100, 0x5A5AA5A5, 0xFFFFFFFF, 0x00000001};
    const uint32_t all[] = {~0u, ~0u, ~0u, ~0u, ~0u};
    uint32_t answers[5] = {};
    ASSERT_TRUE(port.Shift(instructions, all, answers, 5));
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(answers[i], instructions[i]) << i;
    }
    EXPECT_EQ(cable.setupFaults, 0);
}
