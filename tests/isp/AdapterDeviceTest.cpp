// Device selection and identification against the simulated parts.
#include <gtest/gtest.h>

#include <cstring>

#include "isp/InstructionPattern.h"
#include "tests/isp/IspTestBench.h"
#include "tests/support/SimForDevice.h"

namespace {

constexpr uint8_t kOpReadSignature = 0x30;

// A pattern of the description that is not 32 bits long would send a wrong
// instruction to that part.
TEST(DeviceDescription, EveryInstructionPatternHasThirtyTwoBits) {
    for (const DeviceInfo& row : DeviceRows()) {
        for (const char* pattern : {row.lockWrite, row.lockRead, row.fstrtWrite}) {
            EXPECT_TRUE(pattern == nullptr || CInstructionPattern(pattern).IsValid())
                << row.name << ": " << pattern;
        }
    }
}

TEST(AdapterSelectDevice, TakesTheFirstRowWithTheNumber) {
    CVirtualCounter counter;
    CSimPort port(SimConfig(), counter);
    CIspAdapter adapter(port, counter);
    EXPECT_EQ(adapter.SelectDevice(8535), 0);
    EXPECT_EQ(adapter.SelectDevice(10), kRowATtiny10);
    EXPECT_EQ(adapter.m_strName, "ATtiny10/11/12");
    EXPECT_EQ(adapter.m_nDevice, 10);
    EXPECT_EQ(adapter.m_nSignature, 0x159);
    EXPECT_EQ(adapter.m_nProgSize, 1024);
    EXPECT_EQ(adapter.m_nDataSize, 64);
    for (int unknown : {0, 9999, -1}) {
        EXPECT_EQ(adapter.SelectDevice(unknown), kSelectNotFound);
        EXPECT_EQ(adapter.m_strName, "ATtiny10/11/12");
        EXPECT_EQ(adapter.m_nDevice, 10);
    }
    EXPECT_FALSE(port.IsOpen());
}

class AdapterIdentifyTest : public ::testing::TestWithParam<int> {};

TEST_P(AdapterIdentifyTest, IdentifiesTheRealPartAsItsRow) {
    const int row = GetParam();
    AdapterBench b(row);
    // Start from another selection, so every member must really be taken.
    b.adapter.SelectDevice(g_deviceTable[row == 0 ? 1 : 0].number);
    ASSERT_TRUE(b.Open());
    EXPECT_EQ(b.adapter.IdentifyDevice(), row);
    const DeviceInfo& device = g_deviceTable[row];
    EXPECT_EQ(b.adapter.m_strName, device.name);
    EXPECT_EQ(b.adapter.m_nDevice, device.number);
    EXPECT_EQ(b.adapter.m_nSignature, device.signature);
    EXPECT_EQ(b.adapter.m_nProgSize, device.progSize);
    EXPECT_EQ(b.adapter.m_nDataSize, device.dataSize);
    EXPECT_EQ(b.adapter.m_pollData1, device.pollData1);
    EXPECT_EQ(b.adapter.m_pollData2, device.pollData2);
    EXPECT_EQ(b.adapter.m_pollProg, device.pollProg);
    // Left in programming mode with RESET asserted.
    EXPECT_TRUE(b.port.InProgrammingMode());
    EXPECT_EQ(b.port.Counters().programmingEnables, 1u);
    EXPECT_EQ(b.adapter.LeaveProgrammingMode(), kIspOk);
}

INSTANTIATE_TEST_SUITE_P(EveryRow, AdapterIdentifyTest, ::testing::Range(0, kIspDeviceCount));

TEST(AdapterIdentify, OnlyTheLowEightBitsOfTheTinyRowAreCompared) {
    AdapterBench b;
    b.port.Config().signature = {{0x1E, 0x90, 0x59}};
    ASSERT_TRUE(b.Open());
    EXPECT_EQ(b.adapter.IdentifyDevice(), kRowATtiny10);
}

TEST(AdapterIdentify, SizeCodesWithoutASizeMatchNoRowAfterThirtyTwoAttempts) {
    for (uint8_t code : {0x95, 0x96}) {
        SCOPED_TRACE(static_cast<int>(code));
        AdapterBench b(kRowAT90S8515);
        b.port.Config().signature = {{0x1E, code, 0x01}};
        ASSERT_TRUE(b.Open());
        const std::string before = b.adapter.m_strName;
        EXPECT_EQ(b.adapter.IdentifyDevice(), kIdentifyNotFound);
        EXPECT_EQ(b.port.Counters().programmingEnables, 32u);
        EXPECT_EQ(b.Instructions(kOpReadSignature), 3u * 32);
        EXPECT_EQ(b.adapter.m_strName, before);
    }
}

// Forwards to the simulated port and gives the part another signature once
// the first attempt (Programming Enable and three signature reads) is over.
class CSignatureChangingPort : public CForcedStatusPort {
public:
    CSignatureChangingPort(CSimPort& sim, const std::array<uint8_t, 3>& later)
        : CForcedStatusPort(sim), m_sim(sim), m_later(later) {}

    bool GetCommModemStatus(uint32_t& status) override {
        const bool ok = CForcedStatusPort::GetCommModemStatus(status);
        constexpr uint64_t kFirstAttempt = 4;
        if (!m_changed && m_sim.Counters().instructions >= kFirstAttempt) {
            m_sim.Config().signature = m_later;
            m_changed = true;
        }
        return ok;
    }

private:
    CSimPort& m_sim;
    std::array<uint8_t, 3> m_later;
    bool m_changed = false;
};

TEST(AdapterIdentify, SizeFoundIsKeptFromOneAttemptToTheNext) {
    CVirtualCounter counter;
    SimConfig config = SimConfigForDevice(kRowAT90S8515);
    config.signature = {{0x1E, 0x93, 0x77}};  // 8 KB, unknown part: no row
    CSimPort sim(config, counter);
    // Then a size code without a size, and the AT90S8515's part code.
    CSignatureChangingPort port(sim, {{0x1E, 0x95, 0x01}});
    CIspAdapter adapter(port, counter);
    adapter.SetPortNames({{kSimPortNumber, kSimPortName}});
    ASSERT_EQ(adapter.SelectPort(kSimPortNumber), kPortOk);
    EXPECT_EQ(adapter.IdentifyDevice(), kRowAT90S8515);
    EXPECT_EQ(sim.Counters().programmingEnables, 2u);
}

TEST(AdapterIdentify, ForeignVendorStopsAtTheFirstSynchronisedAttempt) {
    AdapterBench b;
    b.port.Config().signature = {{0x1F, 0x93, 0x01}};
    ASSERT_TRUE(b.Open());
    EXPECT_EQ(b.adapter.IdentifyDevice(), kIdentifyVendorError);
    EXPECT_EQ(b.Instructions(kOpReadSignature), 1u);
    EXPECT_EQ(b.port.Counters().programmingEnables, 1u);
}

TEST(AdapterIdentify, OutOfStepTargetIsIdentifiedAfterThePulses) {
    AdapterBench b(kRowATmega103);
    b.adapter.SelectDevice(8535);
    b.port.Config().outOfStepBits = 7;
    ASSERT_TRUE(b.Open());
    EXPECT_EQ(b.adapter.IdentifyDevice(), kRowATmega103);
}

TEST(AdapterIdentify, NoResetEchoGivesMinusFourBeforeAnyInstruction) {
    AdapterBench b;
    b.port.Config().noAdapter = true;
    ASSERT_TRUE(b.Open());
    EXPECT_EQ(b.adapter.IdentifyDevice(), kIdentifyResetError);
    EXPECT_EQ(b.port.Counters().instructions, 0u);
    EXPECT_EQ(b.port.Counters().setRts, 0u);
    AdapterBench closed;
    EXPECT_EQ(closed.adapter.IdentifyDevice(), kIdentifyResetError);
}

TEST(AdapterIdentify, SilentTargetGivesMinusOne) {
    AdapterBench b;
    b.port.Config().noTarget = true;
    ASSERT_TRUE(b.Open());
    EXPECT_EQ(b.adapter.IdentifyDevice(), kIdentifyNotFound);
}

}  // namespace
