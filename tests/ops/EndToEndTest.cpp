#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "OpsTestBench.h"

namespace {

// Every device of the table through the whole round: erase, write all from
// random images, verify all, read all back into cleared images.
TEST(EndToEnd, EveryDeviceRoundTripsItsImages) {
    for (int row = 0; row < kDeviceCount; ++row) {
        SCOPED_TRACE(g_deviceTable[row].name);
        COpsBench bench(row);
        COpsBench::FillRandom(bench.sim.Flash(), 100 + row);
        COpsBench::FillRandom(bench.adapter.m_progImage, 200 + row);
        COpsBench::FillRandom(bench.adapter.m_dataImage, 300 + row);
        const std::vector<uint8_t> prog = bench.adapter.m_progImage;
        const std::vector<uint8_t> data = bench.adapter.m_dataImage;
        bench.host.screenTicks = {0, 1, 1, 0};

        const bool erased = bench.ops.EraseAll();
        EXPECT_TRUE(erased);
        EXPECT_TRUE(std::all_of(bench.sim.Flash().begin(), bench.sim.Flash().end(),
                                [](uint8_t b) { return b == 0xFF; }));

        if (row == kATtiny10) {
            // That row's signature value is wider than a byte: no device
            // ever passes its check, so only the erase reaches the chip.
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
            EXPECT_EQ(bench.adapter.m_progImage, prog);
            EXPECT_EQ(bench.Leaves(), 10);
            continue;
        }

        EXPECT_TRUE(bench.ops.WriteAll());
        EXPECT_TRUE(bench.ops.VerifyAll());
        bench.adapter.m_progImage.assign(prog.size(), 0xFF);
        bench.adapter.m_dataImage.assign(data.size(), 0xFF);
        bench.host.screenTicks = {};
        EXPECT_TRUE(bench.ops.ReadAll());
        EXPECT_EQ(bench.adapter.m_progImage, prog);
        EXPECT_EQ(bench.adapter.m_dataImage, data);
        EXPECT_EQ(bench.host.screenTicks.m_bLockBit1, 0);
        EXPECT_EQ(bench.host.screenTicks.m_bLockBit2, 1);
        EXPECT_EQ(bench.host.screenTicks.m_bFstrt, 1);
        EXPECT_EQ(bench.host.screenTicks.m_bSpien, 1);

        const std::string pane = bench.host.pane;
        EXPECT_EQ(pane.find("Error"), std::string::npos) << pane;
        EXPECT_EQ(bench.sim.Counters().protocolErrors, 0u);
        EXPECT_EQ(bench.sim.Counters().writesOutsideProgrammingMode, 0u);
        EXPECT_EQ(bench.Leaves(), 10);
    }
}

}  // namespace
