#include <gtest/gtest.h>

#include <algorithm>

#include "OpsTestBench.h"

namespace {

// Lock Bit1 and Lock Bit2 as the chip answers them; FSTRT, a fuse, is not
// touched by a chip erase.
constexpr uint8_t kLockBitsMask = 0xC0;

bool AllErased(const std::vector<uint8_t>& bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0xFF; });
}

// A chip holding both memories and programmed lock bits, and images that
// differ from it, so that what an erase does to each can be told apart.
void Populate(COpsBench& bench) {
    COpsBench::FillRandom(bench.sim.Flash(), 11);
    COpsBench::FillRandom(bench.sim.Eeprom(), 12);
    bench.sim.SetLockBits(0, 1, 0);
    COpsBench::FillRandom(bench.images.m_progImage, 13);
    COpsBench::FillRandom(bench.images.m_dataImage, 14);
}

TEST(EraseOps, AllErasesAnyAnsweringDeviceAndLeavesTheWindowAlone) {
    // An AT90S8515 on the adapter while the AT90S8535 is selected.
    COpsBench bench(kAT90S8515, {}, kAT90S8535);
    Populate(bench);
    const std::vector<uint8_t> prog = bench.images.m_progImage;
    const std::vector<uint8_t> data = bench.images.m_dataImage;

    EXPECT_TRUE(bench.ops.EraseAll());
    EXPECT_EQ(bench.host.pane, "Erasing ...\r\n Erase : Complete\r\n");
    EXPECT_TRUE(AllErased(bench.sim.Flash()));
    EXPECT_TRUE(AllErased(bench.sim.Eeprom()));
    EXPECT_EQ(bench.sim.LockByte() & kLockBitsMask, kLockBitsMask);
    EXPECT_EQ(bench.images.m_progImage, prog);
    EXPECT_EQ(bench.images.m_dataImage, data);
    EXPECT_EQ(bench.host.Count("refreshProg") + bench.host.Count("refreshData"), 0);
    EXPECT_EQ(bench.host.rangeCalls + bench.host.positionCalls, 0);
    EXPECT_EQ(bench.Leaves(), 1);
}

TEST(EraseOps, ProgAndDataCheckTheSignatureFirst) {
    COpsBench bench(kAT90S8515, {}, kAT90S8535);
    Populate(bench);
    const std::vector<uint8_t> flash = bench.sim.Flash();
    EXPECT_FALSE(bench.ops.EraseProg());
    EXPECT_FALSE(bench.ops.EraseData());
    EXPECT_EQ(bench.host.pane,
              "Erasing PROG device ...\r\n Erase : Initialisation Error\r\n"
              "Erasing device Data ...\r\n Erase : Initialisation Error\r\n");
    EXPECT_EQ(bench.sim.Flash(), flash);
    EXPECT_EQ(bench.sim.Counters().chipErases, 0u);
    EXPECT_EQ(bench.Leaves(), 2);
}

TEST(EraseOps, AllWithAFailingEraseReportsIt) {
    COpsBench bench(kAT90S8535, [](SimConfig& c) { c.eraseFails = true; });
    EXPECT_FALSE(bench.ops.EraseAll());
    EXPECT_EQ(bench.host.pane, "Erasing ...\r\n Erase : Error\r\n");
    EXPECT_EQ(bench.Leaves(), 1);
}

TEST(EraseOps, ProgKeepsDataAndLockBitsOnTheChip) {
    COpsBench bench(kAT90S8535);
    Populate(bench);
    const std::vector<uint8_t> eeprom = bench.sim.Eeprom();
    const uint8_t lock = bench.sim.LockByte();
    const std::vector<uint8_t> dataImage = bench.images.m_dataImage;

    EXPECT_TRUE(bench.ops.EraseProg());
    EXPECT_EQ(bench.host.pane, "Erasing PROG device ...\r\n Erase : Complete\r\n");
    EXPECT_TRUE(AllErased(bench.sim.Flash()));
    EXPECT_EQ(bench.sim.Eeprom(), eeprom);
    EXPECT_EQ(bench.sim.LockByte(), lock);
    EXPECT_EQ(bench.sim.Counters().writesOutsideProgrammingMode, 0u);
    EXPECT_EQ(bench.sim.Counters().writesWhileLocked, 0u);
    // The erased memory's image is blanked and shown; the kept one is not
    // touched (the kept copy is separate from it).
    EXPECT_TRUE(AllErased(bench.images.m_progImage));
    EXPECT_EQ(bench.images.m_progImage.size(), 8192u);
    EXPECT_EQ(bench.host.Count("refreshProg"), 1);
    EXPECT_EQ(bench.images.m_dataImage, dataImage);
    EXPECT_EQ(bench.host.Count("refreshData"), 0);
    // The bar runs twice over the kept memory.
    EXPECT_EQ(bench.host.rangesSet, std::vector<int>{512});
    EXPECT_EQ(bench.host.positionCalls, 1 + 2 * 512);
    EXPECT_EQ(bench.host.progressPos, 511);
    EXPECT_EQ(bench.Leaves(), 1);
}

TEST(EraseOps, DataKeepsProgAndLockBitsOnTheChip) {
    COpsBench bench(kAT90S2323);
    Populate(bench);
    std::fill(bench.sim.Flash().begin(), bench.sim.Flash().begin() + 64, 0xFF);
    const std::vector<uint8_t> flash = bench.sim.Flash();
    const uint8_t lock = bench.sim.LockByte();
    const std::vector<uint8_t> progImage = bench.images.m_progImage;

    EXPECT_TRUE(bench.ops.EraseData());
    EXPECT_EQ(bench.host.pane, "Erasing device Data ...\r\n Erase : Complete\r\n");
    EXPECT_EQ(bench.sim.Flash(), flash);
    EXPECT_TRUE(AllErased(bench.sim.Eeprom()));
    EXPECT_EQ(bench.sim.LockByte(), lock);
    EXPECT_EQ(bench.sim.Counters().writesOutsideProgrammingMode, 0u);
    EXPECT_TRUE(AllErased(bench.images.m_dataImage));
    EXPECT_EQ(bench.host.Count("refreshData"), 1);
    EXPECT_EQ(bench.images.m_progImage, progImage);
    // Every word goes back, erased ones included, before the lock bits.
    EXPECT_EQ(bench.host.positionCalls, 1 + 2 * 1024);
    EXPECT_EQ(bench.host.progressPos, 2046);
    EXPECT_EQ(bench.Leaves(), 1);

    // A part that cannot report its lock bits keeps its memory, but gets no
    // lock bits written back: none were read.
    COpsBench blind(kAT90S2313);
    Populate(blind);
    const std::vector<uint8_t> kept = blind.sim.Flash();
    EXPECT_TRUE(blind.ops.EraseData());
    EXPECT_EQ(blind.sim.Flash(), kept);
    EXPECT_EQ(blind.sim.LockBits() & 0x03, 0x03);
    EXPECT_EQ(blind.sim.Counters().lockWrites, 0u);
}

// Lock mode 3 hides the memory from every read; on a part whose signature
// still answers, the erase is refused before anything is lost.
TEST(EraseOps, ALockedDeviceIsNotErasedForAMemoryItCannotKeep) {
    COpsBench bench(kATmega161);
    COpsBench::FillRandom(bench.sim.Flash(), 21);
    bench.sim.SetLockBitsByte(0xFC);  // Lock Bit1 and Lock Bit2 programmed
    const std::vector<uint8_t> flash = bench.sim.Flash();
    EXPECT_FALSE(bench.ops.EraseData());
    EXPECT_EQ(bench.host.pane,
              "Erasing device Data ...\r\n"
              " Erase : The device is locked; its memory cannot be read to be kept.\r\n");
    EXPECT_TRUE(bench.sim.Flash() == flash);
    EXPECT_EQ(bench.sim.Counters().chipErases, 0u);
    EXPECT_EQ(bench.Leaves(), 1);
}

TEST(EraseOps, FailingChipEraseStillRestoresAndEndsOnItsError) {
    COpsBench bench(kAT90S8535, [](SimConfig& c) { c.eraseFails = true; });
    Populate(bench);
    const std::vector<uint8_t> eeprom = bench.sim.Eeprom();
    const uint8_t lock = bench.sim.LockByte();
    const std::vector<uint8_t> progImage = bench.images.m_progImage;

    EXPECT_FALSE(bench.ops.EraseProg());
    EXPECT_EQ(bench.host.pane, "Erasing PROG device ...\r\n Erase : Error\r\n");
    // Posted, not appended; the pane is only scrolled at the end.
    EXPECT_EQ(bench.host.Count("add: Erase : Error\r\n"), 1);
    EXPECT_EQ(bench.host.events.back(), "scroll");
    EXPECT_EQ(bench.images.m_progImage, progImage);
    EXPECT_EQ(bench.host.Count("refreshProg"), 0);
    EXPECT_EQ(bench.sim.Eeprom(), eeprom);
    EXPECT_EQ(bench.sim.LockByte(), lock);
    EXPECT_EQ(bench.host.positionCalls, 1 + 2 * 512);
    EXPECT_EQ(bench.Leaves(), 1);
}

TEST(EraseOps, FailingRestoreStopsBeforeTheLockBits) {
    // The kept data byte 5 does not take its write back.
    COpsBench bench(kAT90S8535, [](SimConfig& c) { c.stuckDataBytes = {5}; });
    Populate(bench);
    bench.sim.Eeprom()[5] = 0x42;
    EXPECT_FALSE(bench.ops.EraseProg());
    EXPECT_EQ(bench.host.pane,
              "Erasing PROG device ...\r\n Erase Prog : ReWrite Data Error at address 0005.\r\n");
    EXPECT_EQ(bench.sim.LockByte() & kLockBitsMask, kLockBitsMask);  // as the erase left them
    EXPECT_EQ(bench.host.progressPos, 5);
    EXPECT_EQ(bench.Leaves(), 1);

    COpsBench data(kAT90S8535, [](SimConfig& c) { c.stuckProgBytes = {0x21}; });
    Populate(data);
    data.sim.Flash()[0x21] = 0x00;
    EXPECT_FALSE(data.ops.EraseData());
    EXPECT_EQ(data.host.pane,
              "Erasing device Data ...\r\n Erase : ReWrite Error at address 0020.\r\n");
    EXPECT_EQ(data.Leaves(), 1);
}

TEST(EraseOps, TargetLostAfterTheEraseReportsTheRestoreAtItsStart) {
    // The target stops answering Programming Enable while the memory is
    // saved: the erase still happens, the new synchronisation fails.
    for (const bool keepData : {true, false}) {
        COpsBench bench(kAT90S2313);
        Populate(bench);
        bench.host.onYield = [&] { bench.sim.Config().neverSynchronises = true; };
        EXPECT_FALSE(keepData ? bench.ops.EraseProg() : bench.ops.EraseData());
        EXPECT_EQ(PaneLines(bench.host.pane).back(),
                  keepData ? " Erase Prog : ReWrite Data Error at address 0000.\r\n"
                           : " Erase : ReWrite Error at address 0000.\r\n");
        EXPECT_EQ(PaneLines(bench.host.pane).size(), 2u);
        // The line owns up to the loss: the kept memory is erased on the chip.
        EXPECT_EQ(bench.sim.Counters().chipErases, 1u);
        EXPECT_TRUE(AllErased(keepData ? bench.sim.Eeprom() : bench.sim.Flash()));
        EXPECT_EQ(bench.Leaves(), 1);
    }
}

TEST(EraseOps, NoAdapter) {
    COpsBench bench(kAT90S8535, [](SimConfig& c) { c.noAdapter = true; });
    EXPECT_FALSE(bench.ops.EraseAll());
    EXPECT_FALSE(bench.ops.EraseProg());
    EXPECT_FALSE(bench.ops.EraseData());
    EXPECT_EQ(bench.host.pane,
              "Erasing ...\r\n Erase : Initialisation Error\r\n"
              "Erasing PROG device ...\r\n Erase : Initialisation Error\r\n"
              "Erasing device Data ...\r\n Erase : Initialisation Error\r\n");
    EXPECT_EQ(bench.host.rangeCalls, 0);
    EXPECT_EQ(bench.Leaves(), 3);
}

}  // namespace
