// Programming-mode entry: synchronisation, the extra clock pulses, and the
// signature check; chip erase and leaving.
#include <gtest/gtest.h>

#include "tests/isp/IspTestBench.h"

namespace {

constexpr uint8_t kOpReadSignature = 0x30;
constexpr int kAttempts = 32;
constexpr int kBitsPerInstruction = 32;
constexpr int kSignatureReads = 3;

TEST(AdapterTransfer, SendsMostSignificantBitFirstAndAlignsTheAnswer) {
    AdapterBench b;
    b.OpenAndEnter();
    b.port.Flash()[2 * 0x1234 % 8192] = 0x9C;
    // Echo of the previous byte during each byte, data during the fourth.
    EXPECT_EQ(b.adapter.Transfer(0x20123400) & 0x00FFFFFF, 0x0020129Cu);
    EXPECT_EQ(b.adapter.Transfer(0x30000200), 0x00300003u);
    EXPECT_EQ(b.adapter.Transfer(0xAC530000) & 0x00FFFF00, 0x00AC5300u);
}

TEST(AdapterEnter, SynchronisesAnOutOfStepTargetThroughTheExtraPulses) {
    for (int k : {0, 1, 5, 31}) {
        SCOPED_TRACE(k);
        AdapterBench b;
        b.port.Config().outOfStepBits = k;
        ASSERT_TRUE(b.Open());
        EXPECT_EQ(b.adapter.EnterProgrammingMode(1), kIspOk);
        EXPECT_TRUE(b.port.InProgrammingMode());
        // The k-th failed attempt and its pulse bring it into step.
        const int failed = (kBitsPerInstruction - k) % kBitsPerInstruction;
        const uint64_t clocks =
            static_cast<uint64_t>((failed + 1 + kSignatureReads) * kBitsPerInstruction + failed);
        EXPECT_EQ(b.port.Counters().setRts, clocks);
    }
}

TEST(AdapterEnter, ATargetThatNeverAnswersGivesFiveAfterThirtyTwoPulsedAttempts) {
    AdapterBench b(kRowAT90S8535, true);
    b.port.Config().neverSynchronises = true;
    ASSERT_TRUE(b.Open());
    b.port.SetTracing(true);
    EXPECT_EQ(b.adapter.EnterProgrammingMode(1), kIspNoSync);
    const std::vector<SimEvent>& trace = b.port.Trace();
    constexpr size_t kResetOps = 5;
    // 64 SCK edges, 12 MOSI changes (each attempt starts from the 0 the last
    // one left, and AC 53 00 00 begins with a 1) and the 8 status reads of
    // the byte that must carry 0x53.
    constexpr size_t kTransferOps = 64 + 12 + 8;
    ASSERT_EQ(trace.size(), kResetOps + kAttempts * (kTransferOps + 2));
    size_t i = kResetOps;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        SCOPED_TRACE(attempt);
        const int64_t gapBefore = trace[i].timeNs - trace[i - 1].timeNs;
        EXPECT_EQ(gapBefore, (attempt == 0 ? WaitGap(20000) : WaitGap(25)) * kNsPerUs);
        i += kTransferOps;
        ASSERT_EQ(trace[i].kind, SimEvent::SetRts);
        ASSERT_EQ(trace[i + 1].kind, SimEvent::ClrRts);
        EXPECT_EQ(trace[i + 1].timeNs - trace[i].timeNs, WaitGap(25) * kNsPerUs);
        i += 2;
    }
    // The last pulse's low half is waited out too.
    EXPECT_EQ(b.counter.Now() - trace.back().timeNs, WaitGap(25) * kNsPerUs);
    EXPECT_EQ(b.port.Counters().programmingEnables, 0u);
}

TEST(AdapterEnter, StuckMisoNeverSynchronises) {
    for (int level : {0, 1}) {
        AdapterBench b;
        b.port.Config().misoStuck = level;
        ASSERT_TRUE(b.Open());
        EXPECT_EQ(b.adapter.EnterProgrammingMode(1), kIspNoSync) << level;
    }
}

TEST(AdapterEnter, ResetPulseFailureGivesFour) {
    AdapterBench b;
    b.port.Config().noAdapter = true;
    ASSERT_TRUE(b.Open());
    EXPECT_EQ(b.adapter.EnterProgrammingMode(1), kIspLineError);
    EXPECT_EQ(b.port.Counters().instructions, 0u);
    AdapterBench closed;
    EXPECT_EQ(closed.adapter.EnterProgrammingMode(0), kIspLineError);
}

TEST(AdapterEnter, EachSignatureByteFailsWithItsOwnCodeAfterReadingUpToIt) {
    struct Case {
        std::array<uint8_t, 3> signature;
        int result;
        uint64_t reads;
    };
    const Case cases[] = {
        {{{0x1F, 0x93, 0x03}}, kIspVendorError, 1},
        {{{0x1E, 0x92, 0x03}}, kIspSizeCodeError, 2},
        {{{0x1E, 0x93, 0x01}}, kIspPartCodeError, 3},
        {{{0x1E, 0x93, 0x03}}, kIspOk, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.result);
        AdapterBench b(kRowAT90S8535);
        b.port.Config().signature = c.signature;
        ASSERT_TRUE(b.Open());
        EXPECT_EQ(b.adapter.EnterProgrammingMode(1), c.result);
        EXPECT_EQ(b.Instructions(kOpReadSignature), c.reads);
        // Without the check nothing is read.
        b.port.ResetCounters();
        EXPECT_EQ(b.adapter.EnterProgrammingMode(0), kIspOk);
        EXPECT_EQ(b.adapter.EnterProgrammingMode(2), kIspOk);
        EXPECT_EQ(b.Instructions(kOpReadSignature), 0u);
    }
}

TEST(AdapterEnter, SizeCodeComesFromTheWholeKilobytesOfTheProgramSize) {
    AdapterBench b(kRowAT90S8535);
    ASSERT_TRUE(b.Open());
    b.adapter.m_nProgSize = 8192 + 1000;  // still 8 KB
    EXPECT_EQ(b.adapter.EnterProgrammingMode(1), kIspOk);
    b.adapter.m_nProgSize = 3072;  // no size code for 3 KB
    b.port.ResetCounters();
    EXPECT_EQ(b.adapter.EnterProgrammingMode(1), kIspSizeCodeError);
    EXPECT_EQ(b.Instructions(kOpReadSignature), 2u);
}

TEST(AdapterEnter, TinyRowFailsTheCheckEveryTimeButEntersWithoutIt) {
    AdapterBench b(kRowATtiny10);
    ASSERT_TRUE(b.Open());
    EXPECT_EQ(b.adapter.m_nSignature, 0x159);
    EXPECT_EQ(b.adapter.EnterProgrammingMode(1), kIspPartCodeError);
    EXPECT_EQ(b.adapter.EnterProgrammingMode(1), kIspPartCodeError);
    EXPECT_EQ(b.adapter.EnterProgrammingMode(0), kIspOk);
    EXPECT_TRUE(b.port.InProgrammingMode());
}

// ---------------------------------------------------------------- erase

TEST(AdapterChipErase, ErasesAndEndsProgrammingModeWithResetAsserted) {
    AdapterBench b(kRowAT90S8535, true);
    b.port.Flash()[100] = 0x00;
    b.port.Eeprom()[7] = 0x00;
    b.port.SetLockBits(0, 0, 0);
    b.OpenAndEnter(0);
    b.port.SetTracing(true);
    const int64_t start = b.counter.Now();
    EXPECT_EQ(b.adapter.ChipErase(), kIspOk);
    EXPECT_EQ(b.port.Flash()[100], 0xFF);
    EXPECT_EQ(b.port.Eeprom()[7], 0xFF);
    // The lock bits are erased; FSTRT is a fuse, which a chip erase keeps.
    EXPECT_EQ(b.port.LockByte(), 0xDE);
    EXPECT_EQ(b.port.Counters().protocolErrors, 0u);
    // Chip Erase (64 SCK edges, 8 MOSI changes, no answer read), the
    // AT90S8535's 20 ms, then the reset pulse.
    const std::vector<SimEvent>& trace = b.port.Trace();
    constexpr size_t kEraseOps = 64 + 8;
    ASSERT_EQ(trace.size(), kEraseOps + 5u);
    EXPECT_EQ(trace[kEraseOps - 1].timeNs, start);
    EXPECT_EQ(trace[kEraseOps].kind, SimEvent::ClrRts);
    EXPECT_EQ(trace[kEraseOps].timeNs - trace[kEraseOps - 1].timeNs, WaitGap(20000) * kNsPerUs);
    EXPECT_TRUE(b.port.Break());
    EXPECT_FALSE(b.port.InProgrammingMode());

    // Nothing is written until a new Programming Enable.
    EXPECT_NE(b.adapter.WriteDataByte(0x12, 0), kIspOk);
    EXPECT_EQ(b.port.Eeprom()[0], 0xFF);
    EXPECT_EQ(b.port.Counters().writesOutsideProgrammingMode, 1u);
    EXPECT_EQ(b.adapter.EnterProgrammingMode(1), kIspOk);
    EXPECT_EQ(b.adapter.WriteDataByte(0x12, 0), kIspOk);
}

TEST(AdapterChipErase, AFailedEraseGivesSixAndTheNextEntryWorks) {
    AdapterBench b;
    b.port.Config().eraseFails = true;
    b.port.Flash()[0] = 0x00;
    b.OpenAndEnter(0);
    EXPECT_EQ(b.adapter.ChipErase(), kIspEraseResetError);
    EXPECT_EQ(b.port.Flash()[0], 0x00);
    EXPECT_EQ(b.adapter.LeaveProgrammingMode(), kIspOk);
    EXPECT_EQ(b.adapter.EnterProgrammingMode(1), kIspOk);
}

}  // namespace

namespace {

// The datasheets promise only the echo of Programming Enable's 0x53: a part
// that echoes nothing else is read all the same, while one that showed the
// echo on entering must keep giving it.
TEST(AdapterEcho, IsRequiredOnlyOfAPartThatShowedIt) {
    for (SimEcho echo : {SimEcho::EveryByte, SimEcho::EnableOnly}) {
        AdapterBench b;
        b.port.Config().echo = echo;
        b.port.Flash()[0] = 0x5A;
        b.OpenAndEnter(1);
        uint8_t value = 0;
        EXPECT_EQ(b.adapter.ReadProgramByte(value, 0, 0), kIspOk);
        EXPECT_EQ(value, 0x5A);
        b.port.Config().misoStuck = 0;
        const int silent = b.adapter.ReadProgramByte(value, 0, 0);
        EXPECT_EQ(silent, echo == SimEcho::EveryByte ? kIspNoEcho : kIspOk);
    }
}

}  // namespace
