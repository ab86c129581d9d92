// The simulated adapter and target on their own, driven line by line.
#include <gtest/gtest.h>

#include "parts/DeviceTable.h"
#include "sim/SimTarget.h"
#include "sim/VirtualCounter.h"
#include "tests/sim/SimTestHost.h"
#include "tests/support/SimForDevice.h"

namespace {

constexpr uint8_t kReadLow = 0x20;
constexpr uint8_t kReadHigh = 0x28;
constexpr uint8_t kWriteLow = 0x40;
constexpr uint8_t kWriteHigh = 0x48;
constexpr uint8_t kReadEeprom = 0xA0;
constexpr uint8_t kWriteEeprom = 0xC0;
constexpr uint8_t kReadLock = 0x58;
constexpr uint8_t kReadSignature = 0x30;
constexpr uint32_t kLockBothProgrammed = 0xACF90000;
constexpr uint32_t kLockBothUnprogrammed = 0xACFF0000;
constexpr uint32_t kFstrtProgram = 0xACBE0000;
constexpr uint32_t kFstrtKeep = 0xACBF0000;

constexpr int kAT90S8535 = 0;
const int kATtiny10 = FindDeviceByName("ATtiny10/11/12");

class SimTargetTest : public ::testing::Test {
protected:
    explicit SimTargetTest(SimConfig config = SimConfigForDevice(kAT90S8535))
        : port(config, counter), host(port, counter) {}

    void OpenAndEnter() {
        ASSERT_TRUE(port.Open("sim"));
        ASSERT_TRUE(host.Enter());
        ASSERT_TRUE(port.InProgrammingMode());
    }
    // Waits out any write in progress.
    void Settle() { host.WaitUs(port.Config().eraseTimeUs + 1); }

    CVirtualCounter counter;
    CSimPort port;
    CSimTestHost host;
};

// ---------------------------------------------------------------- framing

TEST_F(SimTargetTest, EnableEchoesItsSecondByteDuringTheThird) {
    ASSERT_TRUE(port.Open("sim"));
    host.AssertReset();
    host.WaitUs(CSimTestHost::kResetSetupUs);
    const uint32_t answer = host.Transfer(CSimTestHost::kProgrammingEnable);
    // Not yet enabled during bytes 1 and 2: nothing comes back there.
    EXPECT_EQ(answer, 0x00005300u);
    EXPECT_TRUE(port.InProgrammingMode());
    EXPECT_EQ(port.Counters().programmingEnables, 1u);
    // Enabled: each byte is echoed during the next.
    EXPECT_EQ(host.Transfer(CSimTestHost::kProgrammingEnable), 0x00AC5300u);
}

TEST_F(SimTargetTest, ReadAnswersInTheFourthByteAfterEchoingTheFirstTwo) {
    OpenAndEnter();
    port.Flash()[2 * 0x0123 + 1] = 0x5A;
    EXPECT_EQ(host.Transfer(CSimTestHost::Instr(kReadHigh, 0x0123)), 0x0028015Au);
    EXPECT_EQ(host.Transfer(CSimTestHost::Instr(kReadSignature, 1)), 0x00300093u);
    EXPECT_EQ(host.Read(CSimTestHost::Instr(kReadSignature, 0)), 0x1E);
    EXPECT_EQ(host.Read(CSimTestHost::Instr(kReadSignature, 2)), 0x03);
}

TEST_F(SimTargetTest, EnableTooSoonAfterResetOrWithSckHighIsNotAccepted) {
    ASSERT_TRUE(port.Open("sim"));
    host.AssertReset();
    host.WaitUs(CSimTestHost::kResetSetupUs / 2);
    EXPECT_EQ(host.Transfer(CSimTestHost::kProgrammingEnable), 0u);
    EXPECT_FALSE(port.InProgrammingMode());

    // RESET asserted while SCK is high: never, however long the wait.
    port.ClearCommBreak();
    port.EscapeCommFunction(SETRTS);
    port.SetCommBreak();
    port.EscapeCommFunction(CLRRTS);
    host.WaitUs(2 * CSimTestHost::kResetSetupUs);
    EXPECT_EQ(host.Transfer(CSimTestHost::kProgrammingEnable), 0u);
    EXPECT_EQ(port.Counters().programmingEnables, 0u);
}

TEST_F(SimTargetTest, OutOfStepTargetSynchronisesOnlyThroughExtraClockPulses) {
    for (int k : {1, 5, 31}) {
        SCOPED_TRACE(k);
        port.Config().outOfStepBits = k;
        ASSERT_TRUE(port.IsOpen() || port.Open("sim"));
        host.AssertReset();
        host.WaitUs(CSimTestHost::kResetSetupUs);
        int attempt = 0;
        for (; attempt < 32; ++attempt) {
            const uint32_t answer = host.Transfer(CSimTestHost::kProgrammingEnable);
            if (CSimTestHost::Echo(answer) == CSimTestHost::kEnableEcho) {
                break;
            }
            // A target not yet enabled puts nothing out at all.
            EXPECT_EQ(answer, 0u);
            host.SckPulse();
        }
        // 33 clocks per failed attempt move the framing by one bit.
        EXPECT_EQ(attempt, 32 - k);
        EXPECT_TRUE(port.InProgrammingMode());
    }
}

TEST_F(SimTargetTest, NoExtraPulseMeansAnOutOfStepTargetNeverSynchronises) {
    port.Config().outOfStepBits = 5;
    ASSERT_TRUE(port.Open("sim"));
    host.AssertReset();
    host.WaitUs(CSimTestHost::kResetSetupUs);
    for (int attempt = 0; attempt < 64; ++attempt) {
        EXPECT_NE(CSimTestHost::Echo(host.Transfer(CSimTestHost::kProgrammingEnable)),
                  CSimTestHost::kEnableEcho);
    }
    EXPECT_FALSE(port.InProgrammingMode());
}

TEST_F(SimTargetTest, EnabledTargetEchoesWhateverItsFramingAndReframesOnAnEnable) {
    OpenAndEnter();
    host.SckPulse();  // one bit out of step from here on
    // The echo still shows 0x53, but a read is misframed.
    EXPECT_NE(host.Read(CSimTestHost::Instr(kReadSignature, 0)), 0x1E);
    EXPECT_EQ(port.Counters().reframes, 0u);
    EXPECT_EQ(CSimTestHost::Echo(host.Transfer(CSimTestHost::kProgrammingEnable)),
              CSimTestHost::kEnableEcho);
    EXPECT_EQ(port.Counters().reframes, 1u);
    EXPECT_EQ(host.Read(CSimTestHost::Instr(kReadSignature, 0)), 0x1E);
    // Data that merely contains the enable bytes does not reframe.
    host.Transfer(CSimTestHost::Instr(kWriteEeprom, 0x00AC, 0x53));
    Settle();
    host.Transfer(CSimTestHost::Instr(kReadSignature, 0));
    EXPECT_EQ(port.Eeprom()[0xAC], 0x53);
    EXPECT_EQ(port.Counters().reframes, 1u);
}

// ---------------------------------------------------------------- memory

TEST_F(SimTargetTest, FlashWritesOnlyClearBitsAndEepromIsErasedFirst) {
    OpenAndEnter();
    host.Transfer(CSimTestHost::Instr(kWriteLow, 7, 0xF0));
    Settle();
    host.Transfer(CSimTestHost::Instr(kWriteLow, 7, 0x3C));
    Settle();
    EXPECT_EQ(port.Flash()[14], 0x30);
    EXPECT_EQ(host.Read(CSimTestHost::Instr(kReadLow, 7)), 0x30);
    EXPECT_EQ(port.Flash()[15], 0xFF);  // the high byte of the word is untouched

    host.Transfer(CSimTestHost::Instr(kWriteEeprom, 9, 0x0F));
    Settle();
    host.Transfer(CSimTestHost::Instr(kWriteEeprom, 9, 0xF0));
    Settle();
    EXPECT_EQ(port.Eeprom()[9], 0xF0);
    EXPECT_EQ(host.Read(CSimTestHost::Instr(kReadEeprom, 9)), 0xF0);
    EXPECT_EQ(port.Counters().progWrites, 2u);
    EXPECT_EQ(port.Counters().dataWrites, 2u);
}

TEST_F(SimTargetTest, BusyFlashReadsThePollingValueUntilTheWriteTimeIsOver) {
    OpenAndEnter();
    port.Config().pollProg = 0x7F;
    host.Transfer(CSimTestHost::Instr(kWriteHigh, 0x10, 0x12));
    EXPECT_EQ(host.Read(CSimTestHost::Instr(kReadHigh, 0x10)), 0x7F);
    host.WaitUs(port.Config().writeTimeUs / 2);
    EXPECT_EQ(host.Read(CSimTestHost::Instr(kReadHigh, 0x10)), 0x7F);
    host.WaitUs(port.Config().writeTimeUs / 2);
    EXPECT_EQ(host.Read(CSimTestHost::Instr(kReadHigh, 0x10)), 0x12);
    EXPECT_EQ(port.Counters().protocolErrors, 0u);
}

TEST_F(SimTargetTest, BusyEepromReadsFirstThenSecondPollingValue) {
    OpenAndEnter();
    port.Config().pollData1 = 0x80;
    port.Config().pollData2 = 0x7F;
    host.Transfer(CSimTestHost::Instr(kWriteEeprom, 0x1FF, 0x42));
    EXPECT_EQ(host.Read(CSimTestHost::Instr(kReadEeprom, 0x1FF)), 0x80);
    EXPECT_EQ(host.Read(CSimTestHost::Instr(kReadEeprom, 0x1FF)), 0x7F);
    EXPECT_EQ(host.Read(CSimTestHost::Instr(kReadEeprom, 0x1FF)), 0x7F);
    host.WaitUs(port.Config().writeTimeUs);
    EXPECT_EQ(host.Read(CSimTestHost::Instr(kReadEeprom, 0x1FF)), 0x42);
    EXPECT_EQ(port.Counters().protocolErrors, 0u);
}

TEST_F(SimTargetTest, AnythingButPollingTheBusyCellIsAProtocolErrorAndIgnored) {
    OpenAndEnter();
    host.Transfer(CSimTestHost::Instr(kWriteLow, 3, 0x11));
    host.Read(CSimTestHost::Instr(kReadHigh, 3));            // other byte of the word
    host.Read(CSimTestHost::Instr(kReadEeprom, 3));          // other memory
    host.Transfer(CSimTestHost::Instr(kWriteLow, 4, 0x22));  // another write
    host.Transfer(CSimTestHost::kChipErase);                 // an erase
    EXPECT_EQ(port.Counters().protocolErrors, 4u);
    Settle();
    EXPECT_EQ(port.Flash()[6], 0x11);
    EXPECT_EQ(port.Flash()[8], 0xFF);  // the write while busy was dropped
    EXPECT_EQ(port.Counters().chipErases, 0u);
}

TEST_F(SimTargetTest, AddressesWrapToTheMemorySize) {
    OpenAndEnter();
    const int words = static_cast<int>(port.Flash().size() / 2);
    host.Transfer(CSimTestHost::Instr(kWriteLow, words + 1, 0x00));
    Settle();
    EXPECT_EQ(port.Flash()[2], 0x00);
}

// ---------------------------------------------------------------- reset

TEST_F(SimTargetTest, ResetPulseEndsProgrammingModeUntilTheNextEnable) {
    OpenAndEnter();
    host.Transfer(CSimTestHost::kChipErase);
    host.WaitUs(port.Config().eraseTimeUs);
    // The reset pulse that follows a chip erase.
    port.ClearCommBreak();
    EXPECT_FALSE(port.InProgrammingMode());
    port.SetCommBreak();
    host.WaitUs(CSimTestHost::kResetSetupUs);

    host.Transfer(CSimTestHost::Instr(kWriteLow, 0, 0x00));
    host.Transfer(CSimTestHost::Instr(kWriteEeprom, 0, 0x00));
    EXPECT_EQ(host.Transfer(CSimTestHost::Instr(kReadSignature, 0)), 0u);
    EXPECT_EQ(port.Counters().writesOutsideProgrammingMode, 2u);
    EXPECT_EQ(port.Flash()[0], 0xFF);
    EXPECT_EQ(port.Eeprom()[0], 0xFF);

    EXPECT_EQ(CSimTestHost::Echo(host.Transfer(CSimTestHost::kProgrammingEnable)),
              CSimTestHost::kEnableEcho);
    host.Transfer(CSimTestHost::Instr(kWriteLow, 0, 0x00));
    Settle();
    EXPECT_EQ(port.Flash()[0], 0x00);
}

// ---------------------------------------------------------------- lock bits

TEST_F(SimTargetTest, LockBitsGoOnlyOneWayFstrtBothAndChipEraseKeepsTheFuse) {
    OpenAndEnter();
    EXPECT_EQ(port.LockByte(), 0xDF);  // all unprogrammed, SPIEN reads 0
    EXPECT_EQ(host.Read(0x58000000), 0xDF);

    host.Transfer(0xACFB0000);  // Lock Bit1 stays 1, Lock Bit2 programmed
    host.WaitUs(port.Config().lockWriteTimeUs);
    host.Transfer(kFstrtProgram);
    host.WaitUs(port.Config().lockWriteTimeUs);
    EXPECT_EQ(host.Read(CSimTestHost::Instr(kReadLock, 0)), 0x9E);

    host.Transfer(kLockBothUnprogrammed);  // cannot unprogram a lock bit
    host.WaitUs(port.Config().lockWriteTimeUs);
    EXPECT_EQ(port.LockByte(), 0x9E);
    host.Transfer(kFstrtKeep);  // AT90S8535 datasheet: F = 1 unprograms FSTRT
    host.WaitUs(port.Config().lockWriteTimeUs);
    EXPECT_EQ(port.LockByte(), 0x9F);
    host.Transfer(kFstrtProgram);
    host.WaitUs(port.Config().lockWriteTimeUs);
    EXPECT_EQ(port.Counters().lockWrites, 2u);
    EXPECT_EQ(port.Counters().fuseWrites, 3u);

    host.Transfer(CSimTestHost::kChipErase);
    Settle();
    EXPECT_EQ(port.LockByte(), 0xDE);  // lock bits erased, FSTRT kept
}

TEST_F(SimTargetTest, LockBit1ProgrammedBlocksMemoryWrites) {
    OpenAndEnter();
    host.Transfer(kLockBothProgrammed);
    host.WaitUs(port.Config().lockWriteTimeUs);
    EXPECT_EQ(port.LockByte(), 0x1F);
    host.Transfer(CSimTestHost::Instr(kWriteLow, 0, 0x00));
    host.Transfer(CSimTestHost::Instr(kWriteEeprom, 0, 0x00));
    EXPECT_EQ(port.Flash()[0], 0xFF);
    EXPECT_EQ(port.Eeprom()[0], 0xFF);
    EXPECT_EQ(port.Counters().writesWhileLocked, 2u);
    host.Transfer(kLockBothUnprogrammed);  // no way back but a chip erase
    host.WaitUs(port.Config().lockWriteTimeUs);
    EXPECT_EQ(port.LockByte(), 0x1F);
}

// ---------------------------------------------------------------- faults

TEST_F(SimTargetTest, StatusLinesFollowTheWiring) {
    ASSERT_TRUE(port.Open("sim"));
    uint32_t status = 0;
    ASSERT_TRUE(port.GetCommModemStatus(status));
    EXPECT_EQ(status, 0u);
    port.EscapeCommFunction(SETRTS);
    port.SetCommBreak();
    port.GetCommModemStatus(status);
    EXPECT_EQ(status, MS_DSR_ON | MS_RING_ON);

    port.Config().noAdapter = true;
    port.GetCommModemStatus(status);
    EXPECT_EQ(status, 0u);

    port.Config().noAdapter = false;
    port.Config().misoStuck = 1;
    port.GetCommModemStatus(status);
    EXPECT_EQ(status, MS_CTS_ON | MS_DSR_ON | MS_RING_ON);
}

TEST_F(SimTargetTest, TargetlessOrSilentTargetsNeverSynchronise) {
    ASSERT_TRUE(port.Open("sim"));
    port.Config().noTarget = true;
    EXPECT_FALSE(host.Enter());
    port.Config().noTarget = false;
    port.Config().neverSynchronises = true;
    EXPECT_FALSE(host.Enter());
    port.Config().neverSynchronises = false;
    port.Config().misoStuck = 0;
    EXPECT_FALSE(host.Enter());
    port.Config().misoStuck = 1;
    EXPECT_EQ(host.Transfer(CSimTestHost::Instr(kReadLow, 0)), 0xFFFFFFFFu);
}

TEST_F(SimTargetTest, MisoGoesLowAfterTheConfiguredNumberOfInstructions) {
    OpenAndEnter();
    port.Config().misoStuckAfterInstructions = 2;
    EXPECT_EQ(host.Read(CSimTestHost::Instr(kReadSignature, 0)), 0x1E);
    EXPECT_EQ(host.Transfer(CSimTestHost::Instr(kReadSignature, 0)), 0u);
}

TEST_F(SimTargetTest, StuckCellsKeepTheirValueButStillBusyThePart) {
    port.Config().stuckProgBytes = {5};
    port.Config().stuckDataBytes = {6};
    OpenAndEnter();
    host.Transfer(CSimTestHost::Instr(kWriteHigh, 2, 0x00));
    EXPECT_EQ(host.Read(CSimTestHost::Instr(kReadHigh, 2)), port.Config().pollProg);
    Settle();
    EXPECT_EQ(host.Read(CSimTestHost::Instr(kReadHigh, 2)), 0xFF);
    host.Transfer(CSimTestHost::Instr(kWriteEeprom, 6, 0x00));
    Settle();
    EXPECT_EQ(port.Eeprom()[6], 0xFF);
    host.Transfer(CSimTestHost::Instr(kWriteLow, 2, 0x00));  // the neighbour takes it
    Settle();
    EXPECT_EQ(port.Flash()[4], 0x00);
}

TEST_F(SimTargetTest, FailedEraseErasesNothingAndLosesOneResetEchoOnly) {
    port.Config().eraseFails = true;
    OpenAndEnter();
    port.Flash()[0] = 0x12;
    host.Transfer(CSimTestHost::kChipErase);
    Settle();
    EXPECT_EQ(port.Flash()[0], 0x12);

    uint32_t status = 0;
    port.ClearCommBreak();
    port.SetCommBreak();
    port.GetCommModemStatus(status);
    EXPECT_EQ(status & MS_RING_ON, 0u);
    port.GetCommModemStatus(status);
    EXPECT_EQ(status & MS_RING_ON, 0u);  // lost until RESET is released
    port.ClearCommBreak();
    port.SetCommBreak();
    port.GetCommModemStatus(status);
    EXPECT_NE(status & MS_RING_ON, 0u);
    host.WaitUs(CSimTestHost::kResetSetupUs);
    EXPECT_EQ(CSimTestHost::Echo(host.Transfer(CSimTestHost::kProgrammingEnable)),
              CSimTestHost::kEnableEcho);
}

// ---------------------------------------------------------------- the port

TEST_F(SimTargetTest, LineCallsFailOnAClosedPortAndUnderLineFaults) {
    uint32_t status = 0;
    EXPECT_FALSE(port.EscapeCommFunction(SETDTR));
    EXPECT_FALSE(port.SetCommBreak());
    EXPECT_FALSE(port.GetCommModemStatus(status));
    EXPECT_FALSE(port.SetupComm(400, 400));
    ASSERT_TRUE(port.Open("sim"));
    port.Config().lineOpsFail = true;
    EXPECT_FALSE(port.ClearCommBreak());
    EXPECT_FALSE(port.Break());
    EXPECT_EQ(port.Counters().failedLineOps, 4u);
    EXPECT_EQ(port.Counters().lineOps, 0u);
}

TEST_F(SimTargetTest, LinesFailFromTheNthCallOnAcrossReopening) {
    port.Config().failAfterLineOps = 4;
    ASSERT_TRUE(port.Open("a"));
    EXPECT_TRUE(port.EscapeCommFunction(SETDTR));
    EXPECT_TRUE(port.EscapeCommFunction(SETRTS));
    port.Close();
    ASSERT_TRUE(port.Open("a"));
    EXPECT_TRUE(port.EscapeCommFunction(CLRDTR));
    EXPECT_FALSE(port.EscapeCommFunction(CLRRTS));
    EXPECT_FALSE(port.SetCommBreak());
}

TEST_F(SimTargetTest, OpenIsExclusiveAndCanBeMadeToFail) {
    ASSERT_TRUE(port.Open("first"));
    EXPECT_FALSE(port.Open("second"));
    EXPECT_FALSE(port.LastError().empty());
    EXPECT_EQ(port.OpenedName(), "first");
    port.Close();
    port.Config().openFails = true;
    EXPECT_FALSE(port.Open("third"));
    EXPECT_FALSE(port.IsOpen());
}

TEST_F(SimTargetTest, EachConfigurationCallCanBeMadeToFail) {
    ASSERT_TRUE(port.Open("sim"));
    CommState state;
    CommTimeouts timeouts;
    auto all = [&] {
        return std::vector<bool>{port.SetupComm(1, 2), port.GetCommState(state),
                                 port.SetCommState(state), port.SetCommMask(3),
                                 port.SetCommTimeouts(timeouts)};
    };
    EXPECT_EQ(all(), std::vector<bool>(5, true));
    port.Config().failCall = SimPortCall::SetCommMask;
    EXPECT_EQ(all(), (std::vector<bool>{true, true, true, false, true}));
    port.Config().failCall = SimPortCall::SetupComm;
    EXPECT_EQ(all(), (std::vector<bool>{false, true, true, true, true}));
}

TEST_F(SimTargetTest, ClosingReleasesTheLinesAndCountsAHeldReset) {
    OpenAndEnter();
    port.EscapeCommFunction(SETDTR);
    port.Close();
    EXPECT_FALSE(port.Break());
    EXPECT_FALSE(port.Dtr());
    EXPECT_FALSE(port.InProgrammingMode());
    EXPECT_EQ(port.Counters().closedWithBreak, 1u);
    // Memory survives reopening.
    port.Flash()[1] = 0x01;
    ASSERT_TRUE(port.Open("sim"));
    EXPECT_EQ(port.Flash()[1], 0x01);
    EXPECT_FALSE(port.Break());
}

TEST_F(SimTargetTest, CountsLineOperationsAndInstructionsByKind) {
    OpenAndEnter();
    port.ResetCounters();
    host.Transfer(CSimTestHost::Instr(kReadSignature, 0));
    host.Transfer(CSimTestHost::Instr(kReadSignature, 1));
    host.Transfer(CSimTestHost::Instr(kReadEeprom, 1));
    const SimCounters& c = port.Counters();
    EXPECT_EQ(c.lineOps, 3u * 128);
    EXPECT_EQ(c.setRts, 96u);
    EXPECT_EQ(c.clrRts, 96u);
    EXPECT_EQ(c.statusReads, 96u);
    EXPECT_EQ(c.setDtr + c.clrDtr, 96u);
    EXPECT_EQ(c.instructions, 3u);
    EXPECT_EQ(c.instructionsByOpcode.at(kReadSignature), 2u);
    EXPECT_EQ(c.instructionsByOpcode.at(kReadEeprom), 1u);
    EXPECT_EQ(c.dataReads, 1u);
}

// ---------------------------------------------------------------- devices

// The programmer's table and the simulator's datasheet facts are kept apart;
// where they overlap they must agree.
TEST(SimConfigForDevice, TakesOnlyTheNameFromTheProgrammersTable) {
    EXPECT_EQ(SimConfigForDevice(kATtiny10).signature,
              (std::array<uint8_t, 3>{{0x1E, 0x90, 0x59}}));
    for (int i = 0; i < kIspDeviceCount; ++i) {
        SCOPED_TRACE(g_deviceTable[i].name);
        const SimConfig config = SimConfigForDevice(i);
        EXPECT_EQ(config.signature, SimConfigForPart(g_deviceTable[i].name).signature);
        EXPECT_EQ(config.signature[2], g_deviceTable[i].signature & 0xFF);
        EXPECT_EQ(config.progSize, g_deviceTable[i].progSize);
        EXPECT_EQ(config.dataSize, g_deviceTable[i].dataSize);
    }
    EXPECT_EQ(SimConfigForDevice(kDeviceCount).progSize, SimConfig().progSize);
    EXPECT_EQ(SimConfigForPart("atmega161").progPageSize, 128);
    EXPECT_EQ(SimConfigForPart("AT90S9999").progSize, SimConfig().progSize);
}

}  // namespace
