#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "OpsTestBench.h"
#include "sim/SimParts.h"

namespace {

bool AllErased(const std::vector<uint8_t>& bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0xFF; });
}

constexpr std::array<uint8_t, 4> kBusyValues{{0x00, 0xFF, 0x80, 0x7F}};

int RowNamed(const char* name) {
    for (int row = 0; row < kDeviceCount; ++row) {
        if (std::strcmp(g_deviceTable[row].name, name) == 0) {
            return row;
        }
    }
    return -1;
}

// Every real part the simulator knows, each simulated from its own datasheet
// facts: Auto Detect finds it; flash and EEPROM are erased, written,
// verified and read back; Write Lock with no box ticked changes no lock or
// fuse bit; Erase Prog keeps the EEPROM and Erase Data the flash; and the
// program never sends an instruction the part does not have.
// The same over a simulated FT232R cable in bit-bang mode: the same
// results as over the serial port.
class EveryPart : public ::testing::TestWithParam<std::tuple<size_t, bool>> {};

TEST_P(EveryPart, ProgramsByItsOwnDatasheet) {
    {
        const SimPart& part = SimParts()[std::get<0>(GetParam())];
        const bool overCable = std::get<1>(GetParam());
        const int row = RowNamed(part.name);
        ASSERT_GE(row, 0);
        if (row == kATtiny10) {
            return;  // not a part: see the test below
        }
        // The description says what the datasheet says: sizes, pages, and
        // waits no shorter than the part's.
        const DeviceInfo& device = g_deviceTable[row];
        EXPECT_EQ(device.progSize, part.flashBytes);
        EXPECT_EQ(device.dataSize, part.eepromBytes);
        EXPECT_EQ(device.progPageSize, part.flashPageBytes);
        EXPECT_GE(device.progWriteUs, part.flashWriteUs);
        EXPECT_GE(device.dataWriteUs, part.eepromWriteUs);
        EXPECT_GE(device.lockWriteUs, part.lockWriteUs);
        EXPECT_GE(device.chipEraseUs, part.eraseUs);
        COpsBench bench(row, {}, row == 0 ? 1 : 0, overCable);  // another part selected first
        COpsBench::FillRandom(bench.sim.Flash(), 100 + row);
        COpsBench::FillRandom(bench.sim.Eeprom(), 150 + row);
        ASSERT_EQ(bench.adapter.IdentifyDevice(), row);
        bench.adapter.LeaveProgrammingMode();
        bench.images.m_progImage.assign(bench.adapter.m_nProgSize, 0xFF);
        bench.images.m_dataImage.assign(bench.adapter.m_nDataSize, 0xFF);
        COpsBench::FillRandom(bench.images.m_progImage, 200 + row);
        COpsBench::FillRandom(bench.images.m_dataImage, 300 + row);
        // Every value some part reads while busy, at the start of both, where
        // a wrong busy value makes the next write come too early.
        for (std::vector<uint8_t>* image : {&bench.images.m_progImage, &bench.images.m_dataImage}) {
            std::copy(kBusyValues.begin(), kBusyValues.end(), image->begin());
        }
        const std::vector<uint8_t> prog = bench.images.m_progImage;
        const std::vector<uint8_t> data = bench.images.m_dataImage;

        EXPECT_TRUE(bench.ops.EraseAll());
        EXPECT_TRUE(AllErased(bench.sim.Flash()) && AllErased(bench.sim.Eeprom()));
        EXPECT_TRUE(bench.ops.WriteProg());
        EXPECT_TRUE(bench.ops.WriteData());
        EXPECT_TRUE(bench.ops.VerifyProg());
        EXPECT_TRUE(bench.ops.VerifyData());

        const uint8_t lock = bench.sim.LockBits();
        const std::vector<uint8_t> fuses = bench.sim.Fuses();
        bench.host.screenTicks = {};
        EXPECT_TRUE(bench.ops.WriteLock());
        EXPECT_EQ(bench.sim.LockBits(), lock);
        EXPECT_EQ(bench.sim.Fuses(), fuses);

        // Each erase also blanks the image of the memory it erased.
        EXPECT_TRUE(bench.ops.EraseProg());
        EXPECT_TRUE(AllErased(bench.sim.Flash()));
        EXPECT_TRUE(bench.sim.Eeprom() == data);
        bench.images.m_progImage = prog;
        EXPECT_TRUE(bench.ops.WriteProg());
        EXPECT_TRUE(bench.ops.EraseData());
        EXPECT_TRUE(AllErased(bench.sim.Eeprom()));
        EXPECT_TRUE(bench.sim.Flash() == prog);
        bench.images.m_dataImage = data;
        EXPECT_TRUE(bench.ops.WriteData());

        bench.images.m_progImage.assign(prog.size(), 0x00);
        bench.images.m_dataImage.assign(data.size(), 0x00);
        bench.host.screenTicks = {1, 1, 1, 1};
        EXPECT_TRUE(bench.ops.ReadProg());
        EXPECT_TRUE(bench.ops.ReadData());
        EXPECT_TRUE(bench.ops.ReadLock());
        EXPECT_TRUE(bench.images.m_progImage == prog);
        EXPECT_TRUE(bench.images.m_dataImage == data);
        // Nothing is programmed, and no box stays ticked that the chip did
        // not report (Spien only where the part shows it).
        EXPECT_EQ(bench.host.screenTicks.m_bLockBit1, 0);
        EXPECT_EQ(bench.host.screenTicks.m_bLockBit2, 0);
        EXPECT_EQ(bench.host.screenTicks.m_bFstrt, 0);

        EXPECT_EQ(bench.sim.Fuses(), fuses);
        EXPECT_FALSE(bench.sim.CutOff());
        EXPECT_EQ(bench.host.pane.find("Error"), std::string::npos) << bench.host.pane;
        const SimCounters& seen = bench.sim.Counters();
        EXPECT_EQ(seen.protocolErrors, 0u);
        EXPECT_EQ(seen.unknownInstructions, 0u);
        EXPECT_EQ(seen.writesOutsideProgrammingMode, 0u);
        EXPECT_EQ(bench.cable.Counters().setupFaults, 0u) << "MOSI changed as SCK rose";
    }
}

// The fuse bytes read as the chip has them, and no fuse bit the chip knows
// to cut it off from this adapter is written without consent: RSTDISBL or
// DWEN programmed, SPIEN unprogrammed.
TEST_P(EveryPart, FusesReadAndNoCutOffWithoutConsent) {
    const SimPart& part = SimParts()[std::get<0>(GetParam())];
    const int row = RowNamed(part.name);
    ASSERT_GE(row, 0);
    const DeviceInfo& device = g_deviceTable[row];
    if (device.number != kNoDeviceNumber) {
        return;  // the older parts' fuses are the lock panel's
    }
    COpsBench bench(row, {}, -1, std::get<1>(GetParam()));
    EXPECT_EQ(__builtin_popcount(device.fuseBytes), part.rules.fuseBytes);
    std::array<uint8_t, kFuseByteCount> fuses{};
    uint8_t present = 0;
    int calibration = -1;
    ASSERT_TRUE(bench.ops.ReadFuses(fuses, present, calibration));
    std::vector<uint8_t> chip = bench.sim.Fuses();
    for (int i = 0; i < part.rules.fuseBytes; ++i) {
        EXPECT_EQ(fuses[static_cast<size_t>(i)], chip[static_cast<size_t>(i)]) << i;
    }
    EXPECT_EQ(calibration >= 0, part.calibrationRead);

    const struct {
        int8_t bit;
        int dangerous;  // the value that cuts the chip off
    } cutOffs[] = {{part.rules.rstdisblBit, 0}, {part.rules.dwenBit, 0}, {part.rules.spienBit, 1}};
    for (const auto& c : cutOffs) {
        if (c.bit < 0) {
            continue;
        }
        SCOPED_TRACE(c.bit);
        std::array<uint8_t, kFuseByteCount> next = fuses;
        uint8_t& byte = next[static_cast<size_t>(c.bit / 8)];
        const uint8_t mask = static_cast<uint8_t>(1u << (c.bit % 8));
        byte = static_cast<uint8_t>(c.dangerous != 0 ? byte | mask : byte & ~mask);
        if (next == fuses) {
            continue;  // already so
        }
        const uint8_t which = static_cast<uint8_t>(1u << (c.bit / 8));
        EXPECT_FALSE(bench.ops.WriteFuses(next, which, false));
        EXPECT_EQ(bench.sim.Fuses(), chip);
        EXPECT_NE(bench.host.pane.find(" Write Fuses : Refused, nothing written: "),
                  std::string::npos);
    }
    // A byte whose bits the description cannot name may hold any of them:
    // every change to it asks first, and is made once the user agrees.
    for (int i = 0; i < kFuseByteCount; ++i) {
        const bool named = device.fuseNames != nullptr && device.fuseNames->bytes[i] != nullptr;
        const uint8_t which = static_cast<uint8_t>(1u << i);
        if (named || (device.fuseBytes & which) == 0) {
            continue;
        }
        SCOPED_TRACE(i);
        std::array<uint8_t, kFuseByteCount> next = fuses;
        next[static_cast<size_t>(i)] ^= 0x08;  // no part's cut-off bit
        EXPECT_FALSE(bench.ops.WriteFuses(next, which, false));
        EXPECT_EQ(bench.sim.Fuses(), chip);
        EXPECT_TRUE(bench.ops.WriteFuses(next, which, true)) << bench.host.pane;
        EXPECT_EQ(bench.sim.Fuses()[static_cast<size_t>(i)], next[static_cast<size_t>(i)]);
        chip = bench.sim.Fuses();
        fuses = next;
    }
    EXPECT_FALSE(bench.sim.CutOff());
}

// The sanitizer build runs every part's table only in part: each n-th row,
// which still meets every kind of memory layout the normal build runs in full.
#ifndef BRENWICK_PART_STRIDE
#define BRENWICK_PART_STRIDE 1
#endif
constexpr size_t kPartStride = BRENWICK_PART_STRIDE;

INSTANTIATE_TEST_SUITE_P(
    OfTheSimulator, EveryPart,
    ::testing::Combine(::testing::Range<size_t>(0, SimPartCount(), kPartStride), ::testing::Bool()),
    [](const ::testing::TestParamInfo<std::tuple<size_t, bool>>& info) {
        std::string name = SimParts()[std::get<0>(info.param)].name;
        std::replace(name.begin(), name.end(), '/', '_');
        return name + (std::get<1>(info.param) ? "_OverCable" : "");
    });

// That row's signature value is wider than a byte: no device ever passes its
// check, so only the erase reaches the chip.
TEST(EndToEnd, TheCombinedTinyRowOnlyErases) {
    COpsBench bench(kATtiny10);
    bench.host.screenTicks = {0, 1, 0, 0};
    EXPECT_TRUE(bench.ops.EraseAll());
    const std::vector<uint8_t> prog = bench.images.m_progImage;
    EXPECT_FALSE(bench.ops.WriteAll());
    EXPECT_FALSE(bench.ops.VerifyAll());
    EXPECT_FALSE(bench.ops.ReadAll());
    EXPECT_EQ(bench.host.pane,
              "Erasing ...\r\n Erase : Complete\r\n"
              "Writing PROG to device ...\r\n Write : Initialisation Error\r\n"
              "Writing Data to device ...\r\n Write Data: Initialisation Error\r\n"
              "Writing device LockBit ...\r\n Write : Initialisation Error\r\n"
              "Verifing PROG device ...\r\n Verify : Initialisation Error\r\n"
              "Verifing device DATA ...\r\n Verify : Initialisation Error\r\n"
              "Verifing device LockBit ...\r\n Read : Initialisation Error\r\n"
              "Reading PROG device ...\r\n Read : Initialisation Error\r\n"
              "Reading DATA device ...\r\n Read : Initialisation Error\r\n"
              "Reading device LockBit ...\r\n Read : Initialisation Error\r\n");
    EXPECT_EQ(bench.images.m_progImage, prog);
    EXPECT_EQ(bench.Leaves(), 10);
}

}  // namespace
