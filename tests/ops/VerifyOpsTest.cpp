#include <gtest/gtest.h>

#include "OpsTestBench.h"

namespace {

// A chip whose memories equal the images.
void MakeEqual(COpsBench& bench) {
    COpsBench::FillRandom(bench.images.m_progImage, 9);
    COpsBench::FillRandom(bench.images.m_dataImage, 10);
    bench.sim.Flash() = bench.images.m_progImage;
    bench.sim.Eeprom() = bench.images.m_dataImage;
}

TEST(VerifyOps, HighByteDifferenceReportsTheWordsEvenAddress) {
    COpsBench bench(kAT90S8535);
    MakeEqual(bench);
    bench.sim.Flash()[0x401] ^= 0x01;  // high byte of word 0x0200
    bench.host.screenTicks = {1, 0, 1, 1};
    const std::vector<uint8_t> image = bench.images.m_progImage;

    EXPECT_FALSE(bench.ops.VerifyProg());
    EXPECT_EQ(bench.host.pane, "Verifing PROG device ...\r\n Verify : Error at address 0400.\r\n");
    EXPECT_EQ(bench.host.progressPos, 0x400);
    // Nothing but the pane and the bar changes.
    EXPECT_EQ(bench.images.m_progImage, image);
    EXPECT_FALSE(bench.host.progLoaded);
    EXPECT_EQ(bench.host.Count("refreshProg"), 0);
    EXPECT_EQ(bench.host.screenTicks.m_bLockBit1, 1);
    EXPECT_EQ(bench.Leaves(), 1);
}

TEST(VerifyOps, DataDifferenceAndLowByteDifference) {
    COpsBench bench(kAT90S8535);
    MakeEqual(bench);
    bench.sim.Eeprom()[0x1FF] ^= 0x80;
    bench.sim.Flash()[0x1FFE] ^= 0x40;  // low byte of the last word
    EXPECT_FALSE(bench.ops.VerifyData());
    EXPECT_FALSE(bench.ops.VerifyProg());
    EXPECT_EQ(bench.host.pane,
              "Verifing device DATA ...\r\n Verify : Error at address 01ff.\r\n"
              "Verifing PROG device ...\r\n Verify : Error at address 1ffe.\r\n");
}

TEST(VerifyOps, AllOnAnEqualChip) {
    COpsBench bench(kAT90S8535);
    MakeEqual(bench);
    bench.sim.SetLockBits(1, 0, 0);
    bench.host.screenTicks = {0, 1, 1, 0};  // Spien differs and takes no part
    EXPECT_TRUE(bench.ops.VerifyAll());
    EXPECT_EQ(bench.host.pane,
              "Verifing PROG device ...\r\n Verify : Complete\r\n"
              "Verifing device DATA ...\r\n Verify : Complete\r\n"
              "Verifing device LockBit ...\r\n Verify : Complete\r\n");
    EXPECT_EQ(bench.host.progressPos, 511);
    EXPECT_EQ(bench.Leaves(), 3);
}

TEST(VerifyOps, LockComparesTicksWithTheInvertedBits) {
    const LockTicks differing[] = {{1, 0, 0, 1}, {0, 1, 0, 1}, {0, 0, 1, 1}};
    for (const LockTicks& ticks : differing) {
        COpsBench bench(kAT90S8535);  // fresh chip: nothing programmed
        bench.host.screenTicks = ticks;
        EXPECT_FALSE(bench.ops.VerifyLock());
        EXPECT_EQ(bench.host.pane, "Verifing device LockBit ...\r\n Verify : LockBit Error.\r\n");
        EXPECT_EQ(bench.Leaves(), 1);
    }
}

TEST(VerifyOps, AllWithNoAdapter) {
    COpsBench bench(kAT90S8535, [](SimConfig& c) { c.noAdapter = true; });
    EXPECT_FALSE(bench.ops.VerifyAll());
    EXPECT_EQ(bench.host.pane,
              "Verifing PROG device ...\r\n Verify : Initialisation Error\r\n"
              "Verifing device DATA ...\r\n Verify : Initialisation Error\r\n"
              "Verifing device LockBit ...\r\n Read : Initialisation Error\r\n");
    EXPECT_EQ(bench.Leaves(), 3);
}

TEST(VerifyOps, AfterEraseAllTheFirstWordNotErasedInTheImage) {
    COpsBench bench(kAT90S8535);
    MakeEqual(bench);
    std::vector<uint8_t>& image = bench.images.m_progImage;
    std::fill(image.begin(), image.begin() + 7, 0xFF);
    image[7] = 0x12;  // word 3 has a byte to program
    EXPECT_TRUE(bench.ops.EraseAll());
    EXPECT_FALSE(bench.ops.VerifyProg());
    EXPECT_EQ(PaneLines(bench.host.pane).back(), " Verify : Error at address 0006.\r\n");
}

}  // namespace
