#include <gtest/gtest.h>

#include "OpsTestBench.h"

namespace {

const COpsBench::ConfigChange kNoAdapter = [](SimConfig& c) { c.noAdapter = true; };

TEST(ReadOps, ProgReplacesTheImageThenSetsTheFlagAndRefreshes) {
    COpsBench bench(kAT90S8535);
    std::vector<uint8_t>& flash = bench.sim.Flash();
    COpsBench::FillRandom(flash, 3);
    flash[0] = 0x0C;  // low byte of word 0
    flash[1] = 0x94;  // its high byte

    EXPECT_TRUE(bench.ops.ReadProg());
    EXPECT_EQ(bench.images.m_progImage, flash);
    EXPECT_EQ(bench.images.m_progImage[0], 0x0C);
    EXPECT_EQ(bench.images.m_progImage[1], 0x94);
    EXPECT_EQ(bench.host.pane, "Reading PROG device ...\r\n Reading : Complete\r\n");
    EXPECT_TRUE(bench.host.progLoaded);
    EXPECT_FALSE(bench.host.dataLoaded);
    const std::vector<std::string> tail = {"append: Reading : Complete\r\n", "progLoaded",
                                           "refreshProg"};
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), bench.host.events.end() - 3));
    EXPECT_EQ(bench.host.progressMax, 8192);
    EXPECT_EQ(bench.host.progressPos, 8190);
    EXPECT_EQ(bench.Leaves(), 1);
}

TEST(ReadOps, DataReplacesTheImage) {
    COpsBench bench(kAT90S2313);
    COpsBench::FillRandom(bench.sim.Eeprom(), 4);
    bench.images.m_dataImage.assign(7, 0x11);  // even a mis-sized image is replaced

    EXPECT_TRUE(bench.ops.ReadData());
    EXPECT_EQ(bench.images.m_dataImage, bench.sim.Eeprom());
    EXPECT_EQ(bench.host.pane, "Reading DATA device ...\r\n Reading : Complete\r\n");
    EXPECT_TRUE(bench.host.dataLoaded);
    EXPECT_EQ(bench.host.Count("refreshData"), 1);
    EXPECT_EQ(bench.host.progressPos, 127);
    EXPECT_EQ(bench.Leaves(), 1);
}

TEST(ReadOps, FailedEntryLeavesImagesViewsAndFlagsAsTheyWere) {
    COpsBench bench(kAT90S8535, kNoAdapter);
    COpsBench::FillRandom(bench.images.m_progImage, 5);
    COpsBench::FillRandom(bench.images.m_dataImage, 6);
    const std::vector<uint8_t> prog = bench.images.m_progImage;
    const std::vector<uint8_t> data = bench.images.m_dataImage;

    EXPECT_FALSE(bench.ops.ReadProg());
    EXPECT_FALSE(bench.ops.ReadData());
    EXPECT_EQ(bench.host.pane,
              "Reading PROG device ...\r\n Read : Initialisation Error\r\n"
              "Reading DATA device ...\r\n Read : Initialisation Error\r\n");
    EXPECT_EQ(bench.images.m_progImage, prog);
    EXPECT_EQ(bench.images.m_dataImage, data);
    EXPECT_FALSE(bench.host.progLoaded);
    EXPECT_FALSE(bench.host.dataLoaded);
    EXPECT_EQ(bench.host.Count("refreshProg") + bench.host.Count("refreshData"), 0);
    EXPECT_EQ(bench.host.rangeCalls, 0);
    EXPECT_EQ(bench.Leaves(), 2);
}

TEST(ReadOps, LockOnAFreshChipTicksOnlySpien) {
    COpsBench bench(kAT90S8535);
    bench.host.screenTicks = {1, 1, 1, 0};
    EXPECT_TRUE(bench.ops.ReadLock());
    EXPECT_EQ(bench.host.pane, "Reading device LockBit ...\r\n Read LockBit Complete\r\n");
    // The append's show on screen put the values read into the boxes.
    EXPECT_EQ(bench.host.screenTicks.m_bLockBit1, 0);
    EXPECT_EQ(bench.host.screenTicks.m_bLockBit2, 0);
    EXPECT_EQ(bench.host.screenTicks.m_bFstrt, 0);
    EXPECT_EQ(bench.host.screenTicks.m_bSpien, 1);
    EXPECT_EQ(bench.host.positionCalls, 0);
    EXPECT_EQ(bench.Leaves(), 1);
}

TEST(ReadOps, LockTicksTheProgrammedBits) {
    COpsBench bench(kAT90S8535);
    bench.sim.SetLockBits(0, 1, 0);
    EXPECT_TRUE(bench.ops.ReadLock());
    EXPECT_EQ(bench.host.screenTicks.m_bLockBit1, 1);
    EXPECT_EQ(bench.host.screenTicks.m_bLockBit2, 0);
    EXPECT_EQ(bench.host.screenTicks.m_bFstrt, 1);
    EXPECT_EQ(bench.host.screenTicks.m_bSpien, 1);
}

TEST(ReadOps, AllWithNoAdapterKeepsTheBoxes) {
    COpsBench bench(kAT90S8535, kNoAdapter);
    bench.host.screenTicks = {1, 0, 1, 0};
    EXPECT_FALSE(bench.ops.ReadAll());
    EXPECT_EQ(bench.host.pane,
              "Reading PROG device ...\r\n Read : Initialisation Error\r\n"
              "Reading DATA device ...\r\n Read : Initialisation Error\r\n"
              "Reading device LockBit ...\r\n Read : Initialisation Error\r\n");
    EXPECT_EQ(bench.host.screenTicks.m_bLockBit1, 1);
    EXPECT_EQ(bench.host.screenTicks.m_bLockBit2, 0);
    EXPECT_EQ(bench.host.screenTicks.m_bFstrt, 1);
    EXPECT_EQ(bench.host.screenTicks.m_bSpien, 0);
    EXPECT_EQ(bench.Leaves(), 3);
}

TEST(ReadOps, AllSetsBothFlags) {
    COpsBench bench(kAT90S8535);
    COpsBench::FillRandom(bench.sim.Flash(), 7);
    COpsBench::FillRandom(bench.sim.Eeprom(), 8);
    EXPECT_TRUE(bench.ops.ReadAll());
    EXPECT_EQ(bench.host.pane,
              "Reading PROG device ...\r\n Reading : Complete\r\n"
              "Reading DATA device ...\r\n Reading : Complete\r\n"
              "Reading device LockBit ...\r\n Read LockBit Complete\r\n");
    EXPECT_EQ(bench.images.m_progImage, bench.sim.Flash());
    EXPECT_EQ(bench.images.m_dataImage, bench.sim.Eeprom());
    EXPECT_TRUE(bench.host.progLoaded);
    EXPECT_TRUE(bench.host.dataLoaded);
    EXPECT_EQ(bench.Leaves(), 3);
}

}  // namespace
