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
constexpr uint8_t kLocked = 0x3A;
constexpr uint8_t kUnlocked = 0xC5;

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
    EXPECT_EQ(id.nvmVersion, 0);
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
    ASSERT_EQ(programmer().Enter(kBaud), kUpdiOk);
    const std::vector<uint8_t> page = RandomBytes(bench.part->flashPage, 3);
    ASSERT_EQ(programmer().WriteMemory(EUpdiMemory::kFlash, 0, page.data(), page.size()), kUpdiOk);
    ASSERT_EQ(programmer().WriteLock(kLocked), kUpdiOk);
    ASSERT_EQ(programmer().Leave(), kUpdiOk);

    EXPECT_EQ(programmer().Enter(kBaud), kUpdiLocked);
    EXPECT_TRUE(bench.target->Locked());
    // The SIB still answers, and so do reads of memory, but not with its
    // contents: only the lock status tells a locked chip.
    EXPECT_EQ(programmer().Identity().family, bench.part->family);
    std::vector<uint8_t> seen(page.size());
    ASSERT_EQ(programmer().Link().ReadBlock(bench.part->flashAddr, seen.data(), seen.size()),
              kUpdiOk);
    EXPECT_NE(seen, page);
    EXPECT_EQ(bench.target->Flash()[0], page[0]) << "a read must not change a locked chip";

    ASSERT_EQ(programmer().ChipErase(), kUpdiOk);
    EXPECT_FALSE(bench.target->Locked());
    EXPECT_EQ(bench.target->LockByte(), kUnlocked);
    EXPECT_EQ(bench.target->Flash()[0], 0xFF);
    ASSERT_NE(programmer().Part(), nullptr);
    uint8_t lock = 0;
    ASSERT_EQ(programmer().ReadLock(lock), kUpdiOk);
    EXPECT_EQ(lock, kUnlocked);
}

INSTANTIATE_TEST_SUITE_P(Chips, UpdiProgrammerTest,
                         ::testing::Values("ATtiny202", "ATtiny1614", "ATtiny1627", "ATmega4809",
                                           "ATmega1609"));
