// The programmer against the simulated chips: enter, identify, erase, write
// and read back every memory, fuses, lock and the recovery of a locked chip,
// for a chip of each series.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "UpdiSimBench.h"

namespace {

constexpr uint32_t kBaud = 115200;
constexpr int kByteBits = 8;
// A lock value that locks: the one-byte RWLOCK of version 0, the RWLOCK key
// of the AVR Dx/Ex (any key but NOLOCK locks those).
constexpr uint8_t kLockedByte = 0x3A;
constexpr uint32_t kLockedKey = 0xA33A3AA3;
// Version 2 writes a chip-erased flash as one stream.
constexpr int kWordWriteVersion = 2;
constexpr uint64_t kWordWriteTurnarounds = 2;
constexpr uint64_t kWordWriteOverheadPerPage = 16;

std::vector<uint8_t> LockValue(const SSimUpdiPart& part, uint32_t value) {
    std::vector<uint8_t> bytes(part.lockBytes);
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>(value >> (kByteBits * i));
    }
    return bytes;
}

std::vector<uint8_t> RandomBytes(size_t n, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(n);
    for (uint8_t& b : bytes) {
        b = static_cast<uint8_t>(random());
    }
    return bytes;
}

class UpdiProgrammerTest : public ::testing::TestWithParam<const char*> {
protected:
    UpdiProgrammerTest() : bench(GetParam()) {}
    CUpdiProgrammer& programmer() { return bench.programmer; }
    SUpdiSimBench bench;
};

}  // namespace

TEST_P(UpdiProgrammerTest, EntersAndIdentifies) {
    ASSERT_EQ(programmer().Enter(kBaud), kUpdiOk);
    const SUpdiIdentity& id = programmer().Identity();
    EXPECT_EQ(id.family, bench.part->family);
    EXPECT_EQ(id.nvmVersion, bench.part->nvmVersion);
    EXPECT_EQ(programmer().Link().AddressBytes(), bench.part->nvmVersion == 0 ? 2 : 3);
    ASSERT_NE(id.part, nullptr);
    EXPECT_STREQ(id.part->name, GetParam());
    EXPECT_TRUE(bench.target->Programming());
    EXPECT_EQ(programmer().Leave(), kUpdiOk);
    EXPECT_FALSE(bench.target->Programming());
    EXPECT_FALSE(bench.target->Enabled());
}

TEST_P(UpdiProgrammerTest, WritesAndReadsBackEveryMemory) {
    ASSERT_EQ(programmer().Enter(kBaud), kUpdiOk);
    ASSERT_EQ(programmer().ChipErase(), kUpdiOk);
    const SSimUpdiPart& part = *bench.part;

    // Flash: the whole chip, the last page short; then read back in one go.
    const size_t flashBytes = part.flashBytes - part.flashPage / 2;
    const std::vector<uint8_t> image = RandomBytes(flashBytes, part.flashBytes);
    CUpdiLink& link = programmer().Link();
    link.ResetCounters();
    ASSERT_EQ(programmer().WriteMemory(EUpdiMemory::kFlash, 0, image.data(), image.size()),
              kUpdiOk);
    const uint64_t pages = part.flashBytes / part.flashPage;
    EXPECT_LE(link.Counters().turnarounds, 3 * pages);
    if (part.nvmVersion == kWordWriteVersion) {
        // One write-enable, then the words stream with no answer awaited:
        // a poll at the end, and a few bytes of instructions a REPEAT.
        EXPECT_LE(link.Counters().turnarounds, kWordWriteTurnarounds);
        EXPECT_LE(link.Counters().bytesSent, part.flashBytes + kWordWriteOverheadPerPage * pages);
    }
    for (size_t i = 0; i < image.size(); ++i) {
        ASSERT_EQ(bench.target->Flash()[i], image[i]) << i;
    }
    EXPECT_EQ(bench.target->Flash().back(), 0xFF);
    std::vector<uint8_t> back(image.size());
    link.ResetCounters();
    ASSERT_EQ(programmer().ReadMemory(EUpdiMemory::kFlash, 0, back.data(), back.size()), kUpdiOk);
    EXPECT_EQ(back, image);
    EXPECT_LE(link.Counters().turnarounds, 1 + (back.size() + 255) / 256);

    // EEPROM and user row: any range, neighbours kept.
    struct SCase {
        EUpdiMemory memory;
        std::vector<uint8_t>& cells;
    } cases[] = {{EUpdiMemory::kEeprom, bench.target->Eeprom()},
                 {EUpdiMemory::kUserRow, bench.target->UserRow()}};
    for (const SCase& c : cases) {
        const std::vector<uint8_t> data = RandomBytes(c.cells.size() - 3, 7);
        ASSERT_EQ(programmer().WriteMemory(c.memory, 1, data.data(), data.size()), kUpdiOk);
        EXPECT_EQ(c.cells[0], 0xFF);
        EXPECT_EQ(std::vector<uint8_t>(c.cells.begin() + 1, c.cells.end() - 2), data);
        std::vector<uint8_t> read(data.size());
        ASSERT_EQ(programmer().ReadMemory(c.memory, 1, read.data(), read.size()), kUpdiOk);
        EXPECT_EQ(read, data);
    }
    ASSERT_EQ(programmer().EraseEeprom(), kUpdiOk);
    EXPECT_EQ(bench.target->Eeprom()[1], 0xFF);

    // Every fuse of the part's layout takes a value and reads it back.
    const SUpdiPart* described = programmer().Part();
    for (size_t f = 0; f < described->fuses.count; ++f) {
        const uint8_t value = static_cast<uint8_t>(0x11 * (f + 1));
        ASSERT_EQ(programmer().WriteFuse(f, value), kUpdiOk) << described->fuses.fuses[f].name;
        uint8_t read = 0;
        ASSERT_EQ(programmer().ReadFuse(f, read), kUpdiOk);
        EXPECT_EQ(read, value);
    }
    EXPECT_EQ(programmer().Leave(), kUpdiOk);
}

TEST_P(UpdiProgrammerTest, ReadsOfAnyLengthAndStartMatchTheChip) {
    ASSERT_EQ(programmer().Enter(kBaud), kUpdiOk);
    const std::vector<uint8_t> image = RandomBytes(bench.part->flashBytes, 5);
    bench.target->Flash() = image;
    // Word transfers cover all but an odd last byte; a block ends on either.
    const struct {
        uint32_t offset;
        size_t count;
    } kReads[] = {{0, 1}, {0, 2}, {1, 3}, {7, 511}, {0, 512}, {3, 513}, {64, 1025}};
    for (const auto& read : kReads) {
        SCOPED_TRACE(read.count);
        std::vector<uint8_t> back(read.count);
        ASSERT_EQ(
            programmer().ReadMemory(EUpdiMemory::kFlash, read.offset, back.data(), back.size()),
            kUpdiOk);
        EXPECT_TRUE(std::equal(back.begin(), back.end(), image.begin() + read.offset));
    }
}

TEST_P(UpdiProgrammerTest, LockedChipIsRecoveredByChipErase) {
    const SSimUpdiPart& part = *bench.part;
    ASSERT_EQ(programmer().Enter(kBaud), kUpdiOk);
    const std::vector<uint8_t> page = RandomBytes(part.flashPage, 3);
    ASSERT_EQ(programmer().WriteMemory(EUpdiMemory::kFlash, 0, page.data(), page.size()), kUpdiOk);
    const std::vector<uint8_t> locked =
        LockValue(part, part.lockBytes == 1 ? kLockedByte : kLockedKey);
    ASSERT_EQ(programmer().WriteLockBytes(locked.data(), locked.size()), kUpdiOk);
    ASSERT_EQ(programmer().Leave(), kUpdiOk);
    EXPECT_EQ(bench.target->Lock(), locked);

    EXPECT_EQ(programmer().Enter(kBaud), kUpdiLocked);
    EXPECT_TRUE(bench.target->Locked());
    // The SIB still answers, and so do reads of memory, but not with its
    // contents: only the lock status tells a locked chip.
    EXPECT_EQ(programmer().Identity().family, part.family);
    // The link speaks the chip's address width from the SIB on, locked or not.
    EXPECT_EQ(programmer().Link().AddressBytes(), part.nvmVersion == 0 ? 2 : 3);
    constexpr size_t kOneBlock = 256;
    std::vector<uint8_t> seen(std::min(page.size(), kOneBlock));
    ASSERT_EQ(programmer().Link().ReadBlock(part.flashAddr, seen.data(), seen.size()), kUpdiOk);
    EXPECT_FALSE(std::equal(seen.begin(), seen.end(), page.begin()));
    EXPECT_EQ(bench.target->Flash()[0], page[0]) << "a read must not change a locked chip";

    ASSERT_EQ(programmer().ChipErase(), kUpdiOk);
    EXPECT_FALSE(bench.target->Locked());
    const std::vector<uint8_t> unlocked = LockValue(part, part.unlocked);
    EXPECT_EQ(bench.target->Lock(), unlocked);
    EXPECT_EQ(bench.target->Flash()[0], 0xFF);
    ASSERT_NE(programmer().Part(), nullptr);
    std::vector<uint8_t> lock(part.lockBytes);
    ASSERT_EQ(programmer().ReadLockBytes(lock.data(), lock.size()), kUpdiOk);
    EXPECT_EQ(lock, unlocked);
    // The one-byte calls serve only a one-byte lock.
    uint8_t one = 0;
    EXPECT_EQ(programmer().ReadLock(one), part.lockBytes == 1 ? kUpdiOk : kUpdiBadArgument);
}

// Pages written over old contents without a chip erase between: the driver
// must erase each page itself (version 0 and 3: erase-and-write commands;
// version 2: a page erase before the word writes), and rewrite EEPROM bytes
// that hold other values.
TEST_P(UpdiProgrammerTest, RewritesWithoutChipEraseReplaceTheOldContents) {
    const SSimUpdiPart& part = *bench.part;
    ASSERT_EQ(programmer().Enter(kBaud), kUpdiOk);
    const size_t flashBytes = 2 * part.flashPage;
    for (unsigned seed : {11u, 12u}) {
        const std::vector<uint8_t> image = RandomBytes(flashBytes, seed);
        ASSERT_EQ(programmer().WriteMemory(EUpdiMemory::kFlash, part.flashPage, image.data(),
                                           image.size()),
                  kUpdiOk);
        EXPECT_TRUE(
            std::equal(image.begin(), image.end(), bench.target->Flash().begin() + part.flashPage))
            << "seed " << seed;
        const std::vector<uint8_t> bytes = RandomBytes(part.eepromBytes / 4, seed);
        ASSERT_EQ(programmer().WriteMemory(EUpdiMemory::kEeprom, 3, bytes.data(), bytes.size()),
                  kUpdiOk);
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), bench.target->Eeprom().begin() + 3));
    }
    EXPECT_EQ(bench.target->Flash()[0], 0xFF) << "the page before was touched";
    EXPECT_EQ(bench.target->IgnoredStores(), 0);
    EXPECT_EQ(bench.target->NvmError(), 0);
}

// A part of the user row written: the bytes around it stay, also where the
// controller can only erase the row whole.
TEST_P(UpdiProgrammerTest, UserRowBytesAroundAWriteAreKept) {
    std::vector<uint8_t>& row = bench.target->UserRow();
    const std::vector<uint8_t> before = RandomBytes(row.size(), 21);
    row = before;
    ASSERT_EQ(programmer().Enter(kBaud), kUpdiOk);
    const std::vector<uint8_t> data = {0x12, 0x34, 0x56};
    const size_t at = row.size() / 2;
    ASSERT_EQ(programmer().WriteMemory(EUpdiMemory::kUserRow, static_cast<uint32_t>(at),
                                       data.data(), data.size()),
              kUpdiOk);
    std::vector<uint8_t> want = before;
    std::copy(data.begin(), data.end(), want.begin() + static_cast<long>(at));
    EXPECT_EQ(row, want);
}

// A chip erase keeps the EEPROM when EESAVE says so.
TEST_P(UpdiProgrammerTest, ChipEraseKeepsTheEepromWithEesave) {
    ASSERT_EQ(programmer().Enter(kBaud), kUpdiOk);
    const SUpdiPart* described = programmer().Part();
    ASSERT_NE(described, nullptr);
    const SUpdiFuse* syscfg0 = CUpdiParts::FuseByName(*described, "syscfg0");
    ASSERT_NE(syscfg0, nullptr);
    size_t index = 0;
    while (&described->fuses.fuses[index] != syscfg0) {
        ++index;
    }
    uint8_t value = 0;
    ASSERT_EQ(programmer().ReadFuse(index, value), kUpdiOk);
    EXPECT_EQ(value, bench.part->syscfg0Shipped);
    constexpr uint8_t kEesave = 0x01;
    ASSERT_EQ(programmer().WriteFuse(index, static_cast<uint8_t>(value | kEesave)), kUpdiOk);
    const std::vector<uint8_t> bytes = RandomBytes(8, 5);
    ASSERT_EQ(programmer().WriteMemory(EUpdiMemory::kEeprom, 0, bytes.data(), bytes.size()),
              kUpdiOk);
    ASSERT_EQ(programmer().ChipErase(), kUpdiOk);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), bench.target->Eeprom().begin()));
    ASSERT_EQ(programmer().WriteFuse(index, value), kUpdiOk);
    ASSERT_EQ(programmer().ChipErase(), kUpdiOk);
    EXPECT_EQ(bench.target->Eeprom()[0], 0xFF);
}

INSTANTIATE_TEST_SUITE_P(Chips, UpdiProgrammerTest,
                         ::testing::Values("ATtiny202", "ATtiny1614", "ATtiny1627", "ATmega4809",
                                           "ATmega1609", "AVR32DA28", "AVR128DA48", "AVR128DB48",
                                           "AVR64DD32", "AVR16EA28", "AVR64EA48"));

// --- Versions 2 and 3: an error the controller holds (here a command
// collision another tool left) is reported once, then cleared, so that the
// next write goes through; the simulated chip ignores every NVM operation
// while the collision stands, as the real one does.
class UpdiNvmErrorTest : public UpdiProgrammerTest {};

TEST_P(UpdiNvmErrorTest, AnErrorLeftInTheControllerIsReportedOnceAndCleared) {
    constexpr uint32_t kCtrlA = 0x00;
    constexpr uint8_t kFirstCommand = 0x02;   // FLWR on version 2, reserved on 3
    constexpr uint8_t kSecondCommand = 0x13;  // without NOCMD between: a collision
    constexpr uint8_t kFuseValue = 0x55;
    ASSERT_EQ(programmer().Enter(kBaud), kUpdiOk);
    CUpdiLink& link = programmer().Link();
    ASSERT_EQ(link.Sts8(bench.part->nvmBase + kCtrlA, kFirstCommand), kUpdiOk);
    ASSERT_EQ(link.Sts8(bench.part->nvmBase + kCtrlA, kSecondCommand), kUpdiOk);
    EXPECT_EQ(programmer().WriteFuse(0, kFuseValue), kUpdiNvmError);
    EXPECT_EQ(bench.target->Fuses()[0], 0x00);
    EXPECT_EQ(programmer().WriteFuse(0, kFuseValue), kUpdiOk);
    EXPECT_EQ(bench.target->Fuses()[0], kFuseValue);
    EXPECT_EQ(bench.target->NvmError(), 0);
}

INSTANTIATE_TEST_SUITE_P(DxEx, UpdiNvmErrorTest,
                         ::testing::Values("AVR128DA48", "AVR64DD32", "AVR64EA48"));

// --- A stop asked for during a long EEPROM write ends it between runs: on
// version 2 each byte takes milliseconds, so the run is short.
struct SStopRow {
    const char* part;
    int checksBeforeStop;
    uint32_t failAt;  // the first byte not written
};

class UpdiStopTest : public ::testing::TestWithParam<SStopRow> {};

TEST_P(UpdiStopTest, AStopEndsAnEepromWriteBetweenRuns) {
    SUpdiSimBench bench(GetParam().part);
    CUpdiProgrammer& programmer = bench.programmer;
    ASSERT_EQ(programmer.Enter(kBaud), kUpdiOk);
    int checks = 0;
    programmer.SetStopCheck([&checks] { return ++checks > GetParam().checksBeforeStop; });
    const std::vector<uint8_t> bytes = RandomBytes(bench.part->eepromBytes, 9);
    EXPECT_EQ(programmer.WriteMemory(EUpdiMemory::kEeprom, 0, bytes.data(), bytes.size()),
              kUpdiStopped);
    EXPECT_EQ(programmer.FailAddress(), GetParam().failAt);
    const std::vector<uint8_t>& cells = bench.target->Eeprom();
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + GetParam().failAt, cells.begin()));
    EXPECT_EQ(cells[GetParam().failAt], 0xFF);
}

INSTANTIATE_TEST_SUITE_P(Runs, UpdiStopTest,
                         ::testing::Values(SStopRow{"AVR128DA48", 2, 64},
                                           SStopRow{"AVR64DD32", 1, 32},
                                           SStopRow{"AVR64EA48", 3, 24},
                                           SStopRow{"ATtiny1614", 1, 32}));
