// Writing and reading single bytes and words, lock bits, and how a write is
// confirmed: polling, the fixed wait for polling values, and the limit of
// polls, which covers the part's longest write.
#include <gtest/gtest.h>

#include "tests/isp/IspTestBench.h"

namespace {

// The AT90S8535 takes up to 20 ms for a byte (datasheet): 40 polls 500 us
// apart; the AT90S8515 up to 9 ms, and no part gets fewer than 20 polls.
constexpr int kPolls8535 = 40;
constexpr int kPolls8515 = 20;
constexpr int kWriteUs8535 = 20000;
constexpr int kWriteUs8515 = 9000;
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

// The ATmega103 writes its flash by 256-byte pages, up to the last one, and
// has 4096 bytes of EEPROM; a byte that does not take its value fails the
// page and names its word.
TEST(AdapterPages, ReachTheWholeMemoryAndNameTheWordThatFailed) {
    AdapterBench mega(kRowATmega103);
    mega.OpenAndEnter(1);
    constexpr int kPage = 256;
    std::vector<uint8_t> page(kPage, 0xFF);
    page[kPage - 2] = 0xA5;
    page[kPage - 1] = 0x5A;
    const int lastPageWord = (131072 - kPage) / 2;
    int failedWord = -1;
    ASSERT_EQ(mega.adapter.WriteProgramPage(page.data(), lastPageWord, failedWord), kIspOk);
    EXPECT_EQ(mega.port.Flash()[131070], 0xA5);
    EXPECT_EQ(mega.port.Flash()[131071], 0x5A);
    EXPECT_EQ(mega.port.Counters().pageWrites, 1u);
    ASSERT_EQ(mega.adapter.WriteDataByte(0x3C, 4095), kIspOk);
    EXPECT_EQ(mega.port.Eeprom()[4095], 0x3C);

    mega.port.Config().stuckProgBytes = {2 * 0x45 + 1};
    page.assign(kPage, 0x11);
    EXPECT_EQ(mega.adapter.WriteProgramPage(page.data(), 0, failedWord), kIspProgWriteError);
    EXPECT_EQ(failedWord, 0x45);
    // A byte by itself is no write at all on this part.
    EXPECT_EQ(mega.adapter.WriteProgramWord(0x1234, 0x200), kIspProgWriteError);
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

TEST_F(AdapterWriteTest, TheLastPollStillCounts) {
    // Busy until just before the last poll the part's longest write allows.
    b.port.Config().writeTimeUs = kPolls8535 * WaitGap(500) - 100;
    EXPECT_EQ(b.adapter.WriteDataByte(kPlainValue, kDataAddress), kIspOk);
    EXPECT_EQ(b.port.Counters().dataReads, static_cast<uint64_t>(kPolls8535));
    b.port.ResetCounters();
    EXPECT_EQ(b.adapter.WriteProgramWord(0x1234, kWord), kIspOk);
    EXPECT_EQ(b.port.Counters().progReads, 2u * kPolls8535);
}

TEST_F(AdapterWriteTest, StuckCellFailsOnceThePartsLongestWriteIsOver) {
    b.port.Config().stuckDataBytes = {kDataAddress};
    EXPECT_EQ(b.adapter.WriteDataByte(kPlainValue, kDataAddress), kIspDataWriteError);
    EXPECT_EQ(b.port.Counters().dataReads, static_cast<uint64_t>(kPolls8535));
    EXPECT_EQ(b.port.Counters().dataWrites, 1u);
}

TEST_F(AdapterWriteTest, FailedLowByteLeavesTheHighByteUnwritten) {
    b.port.Config().stuckProgBytes = {static_cast<int>(kLowByte)};
    EXPECT_EQ(b.adapter.WriteProgramWord(0x1234, kWord), kIspProgWriteError);
    EXPECT_EQ(b.port.Counters().progReads, static_cast<uint64_t>(kPolls8535));
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

// Every set of polling values: a byte equal to one waits the part's longest
// write and is read once; any other byte is polled. Never an instruction
// while busy.
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

    // The first wait between two line calls (instructions follow each
    // other without one).
    int64_t FirstWait() const {
        const std::vector<SimEvent>& trace = b.port.Trace();
        for (size_t i = 1; i < trace.size(); ++i) {
            if (trace[i].timeNs > trace[i - 1].timeNs) {
                return trace[i].timeNs - trace[i - 1].timeNs;
            }
        }
        return -1;
    }

    // The part's longest write: the fixed wait for a polling value.
    int64_t FixedWaitUs() const {
        return GetParam() == kRowAT90S8515 ? kWriteUs8515 : kWriteUs8535;
    }

    static constexpr int64_t kWriteUs = 8000;
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
    EXPECT_EQ(FirstWait(), WaitGap(FixedWaitUs()) * kNsPerUs);
    EXPECT_EQ(b.port.Counters().protocolErrors, 0u);
}

TEST_P(AdapterPollingValueTest, OtherProgramBytesArePolled) {
    const uint8_t value = static_cast<uint8_t>(g_deviceTable[GetParam()].pollProg ^ 0x01);
    Restart();
    EXPECT_EQ(b.adapter.WriteProgramWord(static_cast<uint16_t>(value << 8 | 0xFF), 0), kIspOk);
    EXPECT_EQ(b.port.Flash()[0], value);
    EXPECT_EQ(b.port.Counters().progReads, kPolls + 1);  // + the high byte's check
    EXPECT_EQ(FirstWait(), WaitGap(500) * kNsPerUs);
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
        EXPECT_EQ(FirstWait(), WaitGap(FixedWaitUs()) * kNsPerUs);
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
    EXPECT_EQ(b.port.Counters().progReads, 1u + 1u + kPolls8515);
}

// ---------------------------------------------------------------- lock bits

TEST_F(AdapterWriteTest, LockBitsAreWrittenWithTheirCodesAndReadBack) {
    const int64_t start = b.counter.Now();
    EXPECT_EQ(b.adapter.WriteLockBits(1, 0, 0), kIspOk);
    EXPECT_EQ(b.port.LockByte(), 0x9E);
    // The lock bits and FSTRT, each followed by the part's longest write.
    EXPECT_GE(b.counter.Now() - start, 2 * kWriteUs8535 * kNsPerUs);
    EXPECT_EQ(b.port.Counters().protocolErrors, 0u);

    int lockBit1 = -1, lockBit2 = -1, fstrt = -1, spien = -1;
    EXPECT_EQ(b.adapter.ReadLockBits(lockBit1, lockBit2, fstrt, spien), kIspOk);
    EXPECT_EQ(lockBit1, 1);
    EXPECT_EQ(lockBit2, 0);
    EXPECT_EQ(fstrt, 0);
    EXPECT_EQ(spien, 0);

    // Lock bits never go back to 1 but for a chip erase; FSTRT, a fuse, does.
    EXPECT_EQ(b.adapter.WriteLockBits(0, 1, 1), kIspOk);
    EXPECT_EQ(b.port.LockByte(), 0x1F);
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
    EXPECT_EQ(b.adapter.ChipErase(), kIspLineError);

    // Nor is a line that dies just after the entry synchronised taken for a
    // wrong device.
    AdapterBench dies;
    ASSERT_TRUE(dies.Open());
    ASSERT_EQ(dies.adapter.EnterProgrammingMode(0), kIspOk);
    const SimCounters& seen = dies.port.Counters();
    dies.port.Config().failAfterLineOps = static_cast<int64_t>(2 * seen.lineOps + 1);
    EXPECT_EQ(dies.adapter.EnterProgrammingMode(1), kIspLineError);
    EXPECT_EQ(dies.port.Counters().programmingEnables, 2u);
}

}  // namespace
