// Writing and reading single bytes and words, lock bits, and how a write is
// confirmed: polling, the fixed wait for polling values, and the limit of
// twenty polls.
#include <gtest/gtest.h>

#include "tests/isp/IspTestBench.h"

namespace {

constexpr int kMaxPolls = 20;
constexpr int kWord = 0x0155;
constexpr size_t kLowByte = 2 * kWord;
constexpr size_t kHighByte = 2 * kWord + 1;
constexpr int kDataAddress = 0x0123;
// A value none of the table's polling values equals.
constexpr uint8_t kPlainValue = 0x5A;

// Exact time: every poll is 501 us after the previous one.
class AdapterWriteTest : public ::testing::Test {
protected:
    explicit AdapterWriteTest(int row = kRowAT90S8535) : b(row, true) { b.OpenAndEnter(0); }
    AdapterBench b;
};

TEST_F(AdapterWriteTest, ProgramWordPutsBits15To8AtTheEvenByte) {
    ASSERT_EQ(b.adapter.WriteProgramWord(0x1234, kWord), kIspOk);
    EXPECT_EQ(b.port.Flash()[kLowByte], 0x12);
    EXPECT_EQ(b.port.Flash()[kHighByte], 0x34);
    uint16_t word = 0;
    EXPECT_EQ(b.adapter.ReadProgramWord(word, kWord), kIspOk);
    EXPECT_EQ(word, 0x3412);  // read back the other way round
    uint8_t value = 0;
    EXPECT_EQ(b.adapter.ReadProgramByte(value, 1, kWord), kIspOk);
    EXPECT_EQ(value, 0x34);
    EXPECT_EQ(b.port.Counters().protocolErrors, 0u);
}

TEST_F(AdapterWriteTest, HighWordAddressesReachTheWholeMemory) {
    AdapterBench mega(kRowATmega103);
    mega.OpenAndEnter(1);
    const int lastWord = 131072 / 2 - 1;
    ASSERT_EQ(mega.adapter.WriteProgramWord(0xA55A, lastWord), kIspOk);
    EXPECT_EQ(mega.port.Flash()[131070], 0xA5);
    EXPECT_EQ(mega.port.Flash()[131071], 0x5A);
    ASSERT_EQ(mega.adapter.WriteDataByte(0x3C, 2047), kIspOk);
    EXPECT_EQ(mega.port.Eeprom()[2047], 0x3C);
}

TEST_F(AdapterWriteTest, ErasedValueOverErasedMemoryCostsOneReadAndNoWrite) {
    EXPECT_EQ(b.adapter.WriteProgramWord(0xFFFF, kWord), kIspOk);
    EXPECT_EQ(b.port.Counters().progReads, 2u);
    EXPECT_EQ(b.port.Counters().progWrites, 0u);
    EXPECT_EQ(b.adapter.WriteDataByte(0xFF, kDataAddress), kIspOk);
    EXPECT_EQ(b.port.Counters().dataReads, 1u);
    EXPECT_EQ(b.port.Counters().dataWrites, 0u);
    // Only the 0xFF byte is skipped; the other one is written.
    b.port.ResetCounters();
    EXPECT_EQ(b.adapter.WriteProgramWord(0xFF00, kWord), kIspOk);
    EXPECT_EQ(b.port.Counters().progWrites, 1u);
    EXPECT_EQ(b.port.Flash()[kHighByte], 0x00);
}

TEST_F(AdapterWriteTest, PlainValueIsPolledUntilItReadsBack) {
    const int64_t writeUs = b.port.Config().writeTimeUs;
    ASSERT_EQ(b.adapter.WriteDataByte(kPlainValue, kDataAddress), kIspOk);
    // Polls at 501 us steps until the write time is over, then no more.
    const uint64_t expectedPolls = static_cast<uint64_t>(writeUs / WaitGap(500) + 1);
    EXPECT_EQ(b.port.Counters().dataReads, expectedPolls);
    EXPECT_EQ(b.port.Counters().protocolErrors, 0u);
}

TEST_F(AdapterWriteTest, TheTwentiethPollStillCounts) {
    // Busy until just before the twentieth poll.
    b.port.Config().writeTimeUs = kMaxPolls * WaitGap(500) - 100;
    EXPECT_EQ(b.adapter.WriteDataByte(kPlainValue, kDataAddress), kIspOk);
    EXPECT_EQ(b.port.Counters().dataReads, static_cast<uint64_t>(kMaxPolls));
    b.port.ResetCounters();
    EXPECT_EQ(b.adapter.WriteProgramWord(0x1234, kWord), kIspOk);
    EXPECT_EQ(b.port.Counters().progReads, 2u * kMaxPolls);
}

TEST_F(AdapterWriteTest, StuckCellFailsAfterExactlyTwentyPolls) {
    b.port.Config().stuckDataBytes = {kDataAddress};
    EXPECT_EQ(b.adapter.WriteDataByte(kPlainValue, kDataAddress), kIspDataWriteError);
    EXPECT_EQ(b.port.Counters().dataReads, static_cast<uint64_t>(kMaxPolls));
    EXPECT_EQ(b.port.Counters().dataWrites, 1u);
}

TEST_F(AdapterWriteTest, FailedLowByteLeavesTheHighByteUnwritten) {
    b.port.Config().stuckProgBytes = {static_cast<int>(kLowByte)};
    EXPECT_EQ(b.adapter.WriteProgramWord(0x1234, kWord), kIspProgWriteError);
    EXPECT_EQ(b.port.Counters().progReads, static_cast<uint64_t>(kMaxPolls));
    EXPECT_EQ(b.port.Counters().progWrites, 1u);
    EXPECT_EQ(b.port.Flash()[kHighByte], 0xFF);
    // A stuck high byte fails the word after the low byte was written.
    b.port.Config().stuckProgBytes = {static_cast<int>(kHighByte)};
    EXPECT_EQ(b.adapter.WriteProgramWord(0x1234, kWord), kIspProgWriteError);
    EXPECT_EQ(b.port.Flash()[kLowByte], 0x12);
}

TEST_F(AdapterWriteTest, LockedChipRefusesWritesAndTheWriteFails) {
    ASSERT_EQ(b.adapter.WriteLockBits(0, 1, 1), kIspOk);
    EXPECT_EQ(b.adapter.WriteDataByte(kPlainValue, 0), kIspDataWriteError);
    EXPECT_EQ(b.port.Counters().writesWhileLocked, 1u);
}

// Every polling value of the table: a byte equal to it waits 9000 us and is
// read once; any other byte is polled. Never an instruction while busy.
class AdapterPollingValueTest : public ::testing::TestWithParam<int> {
protected:
    AdapterPollingValueTest() : b(GetParam(), true) {
        b.OpenAndEnter(0);
        // Long enough that a read before the fixed wait is over would find
        // the part busy.
        b.port.Config().writeTimeUs = kWriteUs;
        b.port.SetTracing(true);
    }

    void Restart() {
        b.port.ResetCounters();
        b.port.ClearTrace();
    }

    // Virtual time between the end of the n-th instruction and the next one.
    int64_t GapAfterInstruction(size_t n) const {
        const std::vector<SimEvent>& trace = b.port.Trace();
        const size_t last = (n + 1) * kOpsPerInstruction - 1;
        return trace.size() > last + 1 ? trace[last + 1].timeNs - trace[last].timeNs : -1;
    }

    static constexpr int64_t kWriteUs = 8000;
    static constexpr size_t kOpsPerInstruction = 128;
    static constexpr uint64_t kPolls = kWriteUs / WaitGap(500) + 1;
    AdapterBench b;
};

TEST_P(AdapterPollingValueTest, ProgramByteEqualToThePollingValueIsReadOnceAfterTheFixedWait) {
    const uint8_t poll = g_deviceTable[GetParam()].pollProg;
    // Make the byte really need writing. 0xFF over 0x00 cannot read back
    // (flash only clears bits), but it still takes the fixed wait.
    b.port.Flash()[0] = poll == 0xFF ? 0x00 : 0xFF;
    Restart();
    const int result = b.adapter.WriteProgramWord(static_cast<uint16_t>(poll << 8 | 0xFF), 0);
    EXPECT_EQ(result, poll == 0xFF ? kIspProgWriteError : kIspOk);
    // 0xFF: the check read, then one read; else one read, then the high byte's check.
    EXPECT_EQ(b.port.Counters().progReads, 2u);
    const size_t writeInstruction = poll == 0xFF ? 1 : 0;
    EXPECT_EQ(GapAfterInstruction(writeInstruction), WaitGap(9000) * kNsPerUs);
    EXPECT_EQ(b.port.Counters().protocolErrors, 0u);
}

TEST_P(AdapterPollingValueTest, OtherProgramBytesArePolled) {
    const uint8_t value = static_cast<uint8_t>(g_deviceTable[GetParam()].pollProg ^ 0x01);
    Restart();
    EXPECT_EQ(b.adapter.WriteProgramWord(static_cast<uint16_t>(value << 8 | 0xFF), 0), kIspOk);
    EXPECT_EQ(b.port.Flash()[0], value);
    EXPECT_EQ(b.port.Counters().progReads, kPolls + 1);  // + the high byte's check
    EXPECT_EQ(GapAfterInstruction(0), WaitGap(500) * kNsPerUs);
    EXPECT_EQ(b.port.Counters().protocolErrors, 0u);
}

TEST_P(AdapterPollingValueTest, DataBytesEqualToEitherPollingValueAreReadOnceAfterTheFixedWait) {
    const DeviceInfo& device = g_deviceTable[GetParam()];
    int address = 0;
    for (uint8_t value : {device.pollData1, device.pollData2}) {
        SCOPED_TRACE(static_cast<int>(value));
        b.port.Eeprom()[address] = value == 0xFF ? 0x00 : 0xFF;
        Restart();
        EXPECT_EQ(b.adapter.WriteDataByte(value, address), kIspOk);
        EXPECT_EQ(b.port.Eeprom()[address], value);
        const size_t checkReads = value == 0xFF ? 1 : 0;
        EXPECT_EQ(b.port.Counters().dataReads, checkReads + 1);
        EXPECT_EQ(GapAfterInstruction(checkReads), WaitGap(9000) * kNsPerUs);
        EXPECT_EQ(b.port.Counters().protocolErrors, 0u);
        ++address;
    }
    Restart();
    EXPECT_EQ(b.adapter.WriteDataByte(kPlainValue, address), kIspOk);
    EXPECT_EQ(b.port.Counters().dataReads, kPolls);
    EXPECT_EQ(b.port.Counters().protocolErrors, 0u);
}

// One row for each set of polling values in the table.
INSTANTIATE_TEST_SUITE_P(EveryPollingValue, AdapterPollingValueTest,
                         ::testing::Values(kRowAT90S8535, kRowAT90S8515, kRowATtiny10));

TEST(AdapterPollProg7F, ErasedValueOverAProgrammedCellIsPolledNotWaited) {
    AdapterBench b(kRowAT90S8515, true);
    b.OpenAndEnter(1);
    b.port.Flash()[1] = 0x00;
    EXPECT_EQ(b.adapter.WriteProgramWord(0xFFFF, 0), kIspProgWriteError);
    // The low byte is skipped; the high byte is written and polled 20 times.
    EXPECT_EQ(b.port.Counters().progReads, 1u + 1u + kMaxPolls);
}

// ---------------------------------------------------------------- lock bits

TEST_F(AdapterWriteTest, LockBitsAreWrittenWithTheirCodesAndReadBack) {
    b.port.SetTracing(true);
    const int64_t start = b.counter.Now();
    EXPECT_EQ(b.adapter.WriteLockBits(1, 0, 0), kIspOk);
    EXPECT_EQ(b.port.LockByte(), 0x9E);
    const std::vector<SimEvent>& trace = b.port.Trace();
    ASSERT_EQ(trace.size(), 256u);
    EXPECT_EQ(trace[127].timeNs, start);
    EXPECT_EQ(trace[128].timeNs - trace[127].timeNs, WaitGap(9000) * kNsPerUs);
    EXPECT_EQ(b.counter.Now() - trace[255].timeNs, WaitGap(9000) * kNsPerUs);
    EXPECT_EQ(b.port.Counters().protocolErrors, 0u);

    int lockBit1 = -1, lockBit2 = -1, fstrt = -1, spien = -1;
    EXPECT_EQ(b.adapter.ReadLockBits(lockBit1, lockBit2, fstrt, spien), kIspOk);
    EXPECT_EQ(lockBit1, 1);
    EXPECT_EQ(lockBit2, 0);
    EXPECT_EQ(fstrt, 0);
    EXPECT_EQ(spien, 0);

    EXPECT_EQ(b.adapter.WriteLockBits(0, 1, 1), kIspOk);
    EXPECT_EQ(b.port.LockByte(), 0x1E);  // nothing goes back to 1
}

TEST(AdapterLockBits, WritingGivesZeroEvenWithoutATarget) {
    AdapterBench b;
    b.port.Config().noTarget = true;
    ASSERT_TRUE(b.Open());
    b.adapter.EnterProgrammingMode(1);
    EXPECT_EQ(b.adapter.WriteLockBits(0, 0, 0), kIspOk);
}

TEST(AdapterReads, StuckMisoIsNeverTakenForMemory) {
    for (int level : {0, 1}) {
        SCOPED_TRACE(level);
        AdapterBench b;
        b.OpenAndEnter(1);
        b.port.Config().misoStuck = level;
        const uint8_t expected = level != 0 ? 0xFF : 0x00;
        EXPECT_EQ(b.adapter.Transfer(0x30000000), level != 0 ? 0xFFFFFFFFu : 0u);
        uint8_t value = 0x5A;
        // The answer is what the line shows, but without the echo it is no read.
        EXPECT_EQ(b.adapter.ReadDataByte(value, 0), kIspNoEcho);
        EXPECT_EQ(value, expected);
        EXPECT_EQ(b.adapter.ReadSignatureByte(value, 0), kIspNoEcho);
        // 0xFF read from a dead line does not pass for erased memory.
        EXPECT_EQ(b.adapter.WriteDataByte(0xFF, 0), kIspDataWriteError);
        EXPECT_EQ(b.port.Counters().dataWrites, 1u);
    }
}

TEST(AdapterReads, APortThatStoppedWorkingGivesFour) {
    AdapterBench b;
    b.OpenAndEnter(1);
    b.port.Config().lineOpsFail = true;
    uint8_t value = 0;
    EXPECT_EQ(b.adapter.ReadDataByte(value, 0), kIspLineError);
    uint16_t word = 0;
    EXPECT_EQ(b.adapter.ReadProgramWord(word, 0), kIspLineError);
    int lockBit1 = 0, lockBit2 = 0, fstrt = 0, spien = 0;
    EXPECT_EQ(b.adapter.ReadLockBits(lockBit1, lockBit2, fstrt, spien), kIspLineError);
    EXPECT_EQ(b.adapter.WriteLockBits(1, 1, 1), kIspLineError);
}

}  // namespace
