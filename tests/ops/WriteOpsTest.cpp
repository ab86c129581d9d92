#include <gtest/gtest.h>

#include "OpsTestBench.h"

namespace {

const COpsBench::ConfigChange kNoAdapter = [](SimConfig& c) { c.noAdapter = true; };

constexpr uint8_t kLockBit1Bit = 0x80;
constexpr uint8_t kLockBit2Bit = 0x40;
constexpr uint8_t kFstrtBit = 0x01;

TEST(WriteOps, NoAdapterReportsTheEntryAndLeavesTheBarAlone) {
    COpsBench bench(kAT90S8535, kNoAdapter);
    EXPECT_FALSE(bench.ops.WriteProg());
    EXPECT_EQ(bench.host.pane, "Writing PROG to device ...\r\n Write : Initialisation Error\r\n");
    // The heading is posted without scrolling, the last line appended.
    const std::vector<std::string> expected = {"take", "add:Writing PROG to device ...\r\n", "show",
                                               "append: Write : Initialisation Error\r\n"};
    EXPECT_EQ(bench.host.events, expected);
    EXPECT_EQ(bench.host.rangeCalls, 0);
    EXPECT_EQ(bench.host.positionCalls, 0);
    EXPECT_EQ(bench.Leaves(), 1);
}

TEST(WriteOps, AllWithNoAdapterRunsEachPartWithItsOwnLine) {
    COpsBench bench(kAT90S8535, kNoAdapter);
    EXPECT_FALSE(bench.ops.WriteAll());
    EXPECT_EQ(bench.host.pane,
              "Writing PROG to device ...\r\n Write : Initialisation Error\r\n"
              "Writing Data to device ...\r\n Write Data: Initialisation Error\r\n"
              "Writing device LockBit ...\r\n Write : Initialisation Error\r\n");
    EXPECT_EQ(bench.Leaves(), 3);
}

TEST(WriteOps, ProgWritesEveryWordAndEndsOnTheLastWordAddress) {
    COpsBench bench(kAT90S8535);
    COpsBench::FillRandom(bench.images.m_progImage, 1);
    const std::vector<uint8_t> image = bench.images.m_progImage;

    EXPECT_TRUE(bench.ops.WriteProg());
    EXPECT_EQ(bench.host.pane, "Writing PROG to device ...\r\n Writing : Complete\r\n");
    EXPECT_EQ(bench.sim.Flash(), image);
    EXPECT_EQ(bench.host.progressMax, 8192);
    EXPECT_EQ(bench.host.progressPos, 8190);
    EXPECT_EQ(bench.host.positionCalls, 1 + 4096);
    EXPECT_EQ(bench.host.yields, 4096);
    EXPECT_EQ(bench.Leaves(), 1);
    // A write changes nothing in the window but the pane and the bar.
    EXPECT_EQ(bench.images.m_progImage, image);
    EXPECT_FALSE(bench.host.progLoaded);
    EXPECT_EQ(bench.host.Count("refreshProg"), 0);
    EXPECT_EQ(bench.sim.Counters().protocolErrors, 0u);
}

TEST(WriteOps, ProgFailureAtWordFiveStopsThere) {
    // The high byte of word 5 never takes a write.
    COpsBench bench(kAT90S8535, [](SimConfig& c) { c.stuckProgBytes = {11}; });
    std::vector<uint8_t>& image = bench.images.m_progImage;
    for (int i = 0; i < 16; ++i) {
        image[i] = static_cast<uint8_t>(0x10 + i);
    }

    EXPECT_FALSE(bench.ops.WriteProg());
    EXPECT_EQ(bench.host.pane, "Writing PROG to device ...\r\n Write : Error at address 000a.\r\n");
    EXPECT_EQ(bench.host.progressPos, 10);
    EXPECT_EQ(bench.Leaves(), 1);
    const std::vector<uint8_t>& flash = bench.sim.Flash();
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + 11, flash.begin()));
    EXPECT_EQ(flash[12], 0xFF);  // nothing after the failing word
}

TEST(WriteOps, DataEndsAtTheLastAddressOfTheRange) {
    COpsBench bench(kAT90S8535);
    COpsBench::FillRandom(bench.images.m_dataImage, 2);

    EXPECT_TRUE(bench.ops.WriteData());
    EXPECT_EQ(bench.host.pane, "Writing Data to device ...\r\n Writing Data: Complete\r\n");
    EXPECT_EQ(bench.sim.Eeprom(), bench.images.m_dataImage);
    EXPECT_EQ(bench.host.progressMax, 512);
    EXPECT_EQ(bench.host.progressPos, 511);
    EXPECT_EQ(bench.Leaves(), 1);
}

TEST(WriteOps, DataFailureNamesItsByteAddress) {
    COpsBench bench(kAT90S8535, [](SimConfig& c) { c.stuckDataBytes = {300}; });
    bench.images.m_dataImage[300] = 0x12;
    EXPECT_FALSE(bench.ops.WriteData());
    EXPECT_EQ(bench.host.pane,
              "Writing Data to device ...\r\n Write Data : Error at address 012c.\r\n");
    EXPECT_EQ(bench.host.progressPos, 300);
    EXPECT_EQ(bench.Leaves(), 1);
}

TEST(WriteOps, ProgAddressesAboveSixteenBitsOnTheLargestDevice) {
    COpsBench bench(kATmega103, [](SimConfig& c) { c.stuckProgBytes = {0x12344}; });
    bench.images.m_progImage[0x12344] = 0x00;
    EXPECT_FALSE(bench.ops.WriteProg());
    EXPECT_EQ(bench.host.pane,
              "Writing PROG to device ...\r\n Write : Error at address 12344.\r\n");
    // The ATmega103 is written by 256-byte pages: the bar stands at the
    // failing page, the line names the failing word.
    EXPECT_EQ(bench.host.progressMax, 131072);
    EXPECT_EQ(bench.host.progressPos, 0x12300);
}

TEST(WriteOps, ProgCoversAllWordsOfTheLargestDevice) {
    COpsBench bench(kATmega103);
    std::vector<uint8_t>& image = bench.images.m_progImage;
    image[0x1FFFE] = 0x12;
    image[0x1FFFF] = 0x34;
    image[0x10000] = 0x56;
    EXPECT_TRUE(bench.ops.WriteProg());
    EXPECT_EQ(bench.host.pane, "Writing PROG to device ...\r\n Writing : Complete\r\n");
    EXPECT_EQ(bench.host.progressPos, 131072 - 256);  // the last page
    EXPECT_TRUE(bench.sim.Flash() == image);
}

struct TickCase {
    LockTicks ticks;
    uint8_t lockByte;  // as the chip then reads it (SPIEN always programmed)
};

TEST(WriteOps, LockTurnsTicksIntoProgrammedBits) {
    const uint8_t fresh = kLockBit1Bit | kLockBit2Bit | kFstrtBit;
    const TickCase cases[] = {
        {{1, 0, 0, 0}, kLockBit2Bit | kFstrtBit},
        {{0, 1, 0, 1}, kLockBit1Bit | kFstrtBit},
        {{0, 0, 1, 0}, kLockBit1Bit | kLockBit2Bit},
        {{1, 1, 1, 1}, 0},
        {{0, 0, 0, 1}, fresh},
    };
    for (const TickCase& c : cases) {
        COpsBench bench(kAT90S8535);
        // The boxes as the user just set them count, not older values.
        bench.host.ticks = {1 - c.ticks.m_bLockBit1, 1 - c.ticks.m_bLockBit2, 1 - c.ticks.m_bFstrt,
                            0};
        bench.host.screenTicks = c.ticks;
        EXPECT_TRUE(bench.ops.WriteLock());
        EXPECT_EQ(bench.host.pane, "Writing device LockBit ...\r\n Write LockBit Complete\r\n");
        EXPECT_EQ(bench.sim.LockByte() & fresh, c.lockByte)
            << c.ticks.m_bLockBit1 << c.ticks.m_bLockBit2 << c.ticks.m_bFstrt;
        EXPECT_EQ(bench.host.positionCalls, 0);
        EXPECT_EQ(bench.Leaves(), 1);
    }
}

// Where the FSTRT place holds another fuse (RCEN on the AT90S2343, the clock
// and brown-out fuses of the AT90S4433, RSTDISBL among the ATtiny15's) or
// nothing, a ticked FSTRT is refused and no lock or fuse bit is written.
TEST(WriteOps, LockRefusesFstrtOnPartsWithoutIt) {
    for (int row : {kAT90S2343, kAT90S4433, kATtiny15, kAT90S8515, kATmega161}) {
        SCOPED_TRACE(g_deviceTable[row].name);
        COpsBench bench(row);
        const uint8_t lock = bench.sim.LockBits();
        const std::vector<uint8_t> fuses = bench.sim.Fuses();
        bench.host.screenTicks = {1, 0, 1, 0};
        EXPECT_FALSE(bench.ops.WriteLock());
        EXPECT_EQ(bench.host.pane,
                  "Writing device LockBit ...\r\n"
                  " Write LockBit : This device has no FSTRT fuse.\r\n");
        EXPECT_EQ(bench.sim.LockBits(), lock);
        EXPECT_EQ(bench.sim.Fuses(), fuses);
        EXPECT_EQ(bench.sim.Counters().lockWrites, 0u);
    }
}

TEST(WriteOps, AllGoesOnAfterAFailingPart) {
    COpsBench bench(kAT90S8535, [](SimConfig& c) { c.stuckProgBytes = {0}; });
    bench.images.m_progImage[0] = 0x00;
    bench.images.m_dataImage[0] = 0x5A;
    bench.host.screenTicks.m_bFstrt = 1;

    EXPECT_FALSE(bench.ops.WriteAll());
    EXPECT_EQ(bench.host.pane,
              "Writing PROG to device ...\r\n Write : Error at address 0000.\r\n"
              "Writing Data to device ...\r\n Writing Data: Complete\r\n"
              "Writing device LockBit ...\r\n Write LockBit Complete\r\n");
    EXPECT_EQ(bench.sim.Eeprom()[0], 0x5A);
    EXPECT_EQ(bench.sim.LockByte() & kFstrtBit, 0);
    EXPECT_EQ(bench.Leaves(), 3);
}

}  // namespace

// The guard asks before any clock move, a single CKSEL bit too (the 8 MHz RC
// oscillator to the 128 kHz one), and not for bits that leave the clock
// source alone or lie in a byte not written.
TEST(WriteOps, CutOffGuardAsksForEveryClockMove) {
    const struct {
        const char* part;
        uint8_t nowLow;
        uint8_t nextLow;
        uint8_t which;
        const char* says;  // "": no question
    } cases[] = {
        {"ATmega328P", 0x62, 0x63, kLowFuse, "Clock source: internal 128 kHz RC oscillator"},
        {"ATtiny13", 0x6A, 0x6B, kLowFuse, "Clock source: internal 128 kHz oscillator"},
        {"ATtiny85", 0x62, 0x63, kLowFuse, "Clock source: ATtiny15 compatibility mode"},
        {"ATmega8", 0xE1, 0xE3, kLowFuse, "Clock source: internal RC oscillator 4 MHz"},
        {"ATmega328P", 0x62, 0xE2, kLowFuse, ""},   // CKDIV8 only
        {"ATmega328P", 0x62, 0x63, kHighFuse, ""},  // the low byte is not written
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.part) + " " + std::to_string(c.nextLow));
        const DeviceInfo& device = g_deviceTable[FindDeviceByName(c.part)];
        const std::string reasons =
            FuseCutOffReasons(device, {c.nowLow, 0xDF, 0xFF}, {c.nextLow, 0xDF, 0xFF}, c.which);
        EXPECT_EQ(reasons.empty(), *c.says == '\0') << reasons;
        EXPECT_NE(reasons.find(c.says), std::string::npos) << reasons;
    }
}
