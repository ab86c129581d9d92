// What the simulated parts do differently from one another, driven line by
// line: paged flash, lock and fuse layouts, fuses that cut a chip off,
// polling values, and the AT90S1200's silence and fragile framing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/SimTarget.h"
#include "sim/VirtualCounter.h"
#include "tests/sim/SimTestHost.h"

namespace {

using Host = CSimTestHost;

constexpr uint32_t kReadLock = 0x58000000;
constexpr uint32_t kReadFuse = 0x50000000;

class Chip {
public:
    explicit Chip(const std::string& part)
        : port(SimConfigForPart(part), counter), host(port, counter) {
        port.Open("sim");
    }
    // Reset, setup time, one Programming Enable; true when programming mode began.
    bool Enter() {
        host.Enter();
        return port.InProgrammingMode();
    }
    void Settle() { host.WaitUs(port.Config().eraseTimeUs + 1); }
    uint32_t Run(uint32_t instruction) {
        const uint32_t answer = host.Transfer(instruction);
        Settle();
        return answer;
    }

    CVirtualCounter counter;
    CSimPort port;
    Host host;
};

TEST(SimParts, PagedFlashCommitsOnlyOnWriteProgramMemoryPage) {
    struct Case {
        const char* part;
        int pageBytes;
    } cases[] = {{"ATmega103", 256}, {"ATmega161", 128}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.part);
        Chip chip(c.part);
        ASSERT_TRUE(chip.Enter());
        // A byte-mode write only fills the page buffer.
        chip.Run(Host::Instr(0x40, 4, 0x12));
        EXPECT_EQ(chip.port.Flash()[8], 0xFF);
        const int pageWords = c.pageBytes / 2;
        const int word = 5 * pageWords + 3;  // word 3 of page 5
        chip.host.Transfer(Host::Instr(0x40, word, 0x34));
        chip.host.Transfer(Host::Instr(0x48, word, 0x56));
        chip.host.Transfer(Host::Instr(0x4C, 5 * pageWords + pageWords - 1));  // any word of page 5
        EXPECT_EQ(chip.host.Read(Host::Instr(0x20, word)), chip.port.Config().pollProg);
        EXPECT_EQ(chip.port.Counters().protocolErrors, 0u);
        chip.host.WaitUs(chip.port.Config().writeTimeUs);
        EXPECT_EQ(chip.host.Read(Host::Instr(0x20, word)), 0x34);
        EXPECT_EQ(chip.host.Read(Host::Instr(0x28, word)), 0x56);
        // The earlier load went in with this page.
        EXPECT_EQ(chip.port.Flash()[static_cast<size_t>(5 * c.pageBytes + 8)], 0x12);
        EXPECT_EQ(chip.port.Counters().pageWrites, 1u);
        EXPECT_EQ(chip.port.Counters().protocolErrors, 0u);
    }
}

TEST(SimParts, LockBitsAreWrittenAndReadWhereEachDatasheetPutsThem) {
    struct Case {
        const char* part;
        uint32_t write;
        uint8_t lockBits;
        int readAnswer;  // -1: the part has no lock read
    } cases[] = {
        {"AT90S8535", 0xACF90000, 0xFC, 0x1F}, {"AT90S2343", 0xACFB0000, 0xFD, 0x9E},
        {"AT90S4433", 0xACF90000, 0xFC, 0xF9}, {"ATtiny15", 0xACFD0000, 0xFE, 0xFD},
        {"ATmega103", 0xACF90000, 0xFC, 0xF9}, {"ATmega161", 0xACF90000, 0xC0, 0xC0},
        {"ATmega161", 0xACFF00F6, 0xF6, 0xF6}, {"AT90S2313", 0xACE00000, 0xFC, -1},
        {"AT90S1200", 0xACF90000, 0xFC, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.part);
        Chip chip(c.part);
        ASSERT_TRUE(chip.Enter());
        chip.Run(c.write);
        EXPECT_EQ(chip.port.LockBits(), c.lockBits);
        chip.port.ResetCounters();
        const uint8_t answer = chip.host.Read(kReadLock);
        if (c.readAnswer >= 0) {
            EXPECT_EQ(answer, c.readAnswer);
            EXPECT_EQ(chip.port.LockByte(), c.readAnswer);
        } else {
            EXPECT_EQ(chip.port.Counters().unknownInstructions, 1u);
        }
    }
}

TEST(SimParts, FuseWritesFollowEachPartsLayoutAndSomeCutTheChipOff) {
    struct Case {
        const char* part;
        uint32_t write;
        std::vector<uint8_t> fuses;
        bool cutOff;
    } cases[] = {
        {"AT90S2333", 0xACBE0000, {0xDE}, false},  // CKSEL 110, BODEN, BODLEVEL off
        {"AT90S4433", 0xACBF0000, {0xDF}, false}, {"AT90S2323", 0xACBE0000, {0xDE}, false},
        {"AT90S2343", 0xACBF0000, {0xDF}, true},  // RCEN off, no clock on XTAL1
        {"ATtiny22", 0xACBF0000, {0xDF}, true},   {"ATtiny15", 0xACBE0000, {0x0C}, true},
        {"ATtiny15", 0xACA000FF, {0xFF}, true},  // SPIEN unprogrammed
        {"ATtiny15", 0xACA000DF, {0xDF}, false},  {"ATmega103", 0xACBE0000, {0xDE}, false},
        {"ATmega161", 0xACBE0000, {0x80}, false}, {"AT90S8515", 0xACBE0000, {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.part + std::string(" ") + std::to_string(c.write));
        Chip chip(c.part);
        ASSERT_TRUE(chip.Enter());
        chip.Run(c.write);
        EXPECT_EQ(chip.port.Fuses(), c.fuses);
        EXPECT_EQ(chip.port.CutOff(), c.cutOff);
        if (chip.port.Config().rules.fuseRead.opcode != 0) {
            EXPECT_EQ(chip.host.Read(kReadFuse), c.fuses.at(0));
        }
        EXPECT_EQ(chip.port.Counters().fuseWrites, c.fuses.empty() ? 0u : 1u);
    }
    // A clock on XTAL1 keeps an AT90S2343 without RCEN running.
    Chip clocked("AT90S2343");
    clocked.port.Config().boardClock = SimBoardClock::ExternalClock;
    ASSERT_TRUE(clocked.Enter());
    clocked.Run(0xACBF0000);
    EXPECT_FALSE(clocked.port.CutOff());
}

// The ATtiny15's fuses act from the next release of RESET, the AT90S2343's
// from the next power-up; from then on the chip never answers.
TEST(SimParts, CutOffChipStopsAnsweringOnceTheFusesTakeEffect) {
    struct Case {
        const char* part;
        uint32_t write;
        bool powerCycleNeeded;
    } cases[] = {{"ATtiny15", 0xACBE0000, false}, {"AT90S2343", 0xACBF0000, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.part);
        Chip chip(c.part);
        ASSERT_TRUE(chip.Enter());
        chip.Run(c.write);
        EXPECT_EQ(chip.host.Read(Host::Instr(0x30, 0)), 0x1E);  // not yet
        EXPECT_EQ(chip.Enter(), c.powerCycleNeeded);
        chip.port.PowerCycle();
        for (int attempt = 0; attempt < 3; ++attempt) {
            EXPECT_EQ(chip.host.Transfer(Host::kProgrammingEnable), 0u);
            chip.host.SckPulse();
        }
        EXPECT_FALSE(chip.Enter());
        chip.port.SetFuses({chip.port.Config().rules.fuseDefault});  // a high-voltage programmer
        EXPECT_TRUE(chip.Enter());
    }
}

TEST(SimParts, BusyEepromCellReadsEachPartsPollingValues) {
    struct Case {
        const char* part;
        uint8_t first, second;
    } cases[] = {{"ATtiny22", 0x00, 0xFF},
                 {"ATmega103", 0x80, 0x7F},
                 {"ATmega161", 0xFF, 0xFF},
                 {"AT90S8515", 0x80, 0x7F}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.part);
        Chip chip(c.part);
        ASSERT_TRUE(chip.Enter());
        chip.host.Transfer(Host::Instr(0xC0, 100, 0x42));
        EXPECT_EQ(chip.host.Read(Host::Instr(0xA0, 100)), c.first);
        EXPECT_EQ(chip.host.Read(Host::Instr(0xA0, 100)), c.second);
        chip.Settle();
        EXPECT_EQ(chip.host.Read(Host::Instr(0xA0, 100)), 0x42);
    }
}

TEST(SimParts, ChipEraseKeepsTheFusesAndOnTheMega103WithEesaveTheEeprom) {
    for (bool eesave : {false, true}) {
        Chip chip("ATmega103");
        ASSERT_TRUE(chip.Enter());
        chip.Run(eesave ? 0xACB60000 : 0xACBE0000);
        chip.Run(Host::Instr(0xC0, 7, 0x00));
        chip.Run(0xACF90000);
        const std::vector<uint8_t> fuses = chip.port.Fuses();
        chip.Run(Host::kChipErase);
        EXPECT_EQ(chip.port.Fuses(), fuses);
        EXPECT_EQ(chip.port.LockBits(), 0xFF);
        EXPECT_EQ(chip.port.Eeprom()[7], eesave ? 0x00 : 0xFF);
    }
}

TEST(SimParts, SignatureIsHiddenInLockMode3) {
    Chip chip("ATtiny22");
    ASSERT_TRUE(chip.Enter());
    chip.Run(0xACF90000);
    EXPECT_EQ(chip.host.Read(Host::Instr(0x30, 0, 0)), 0x00);
    EXPECT_EQ(chip.host.Read(Host::Instr(0x30, 1)), 0x01);
    EXPECT_EQ(chip.host.Read(Host::Instr(0x30, 2)), 0x02);
}

TEST(SimParts, EchoModes) {
    Chip silent("AT90S1200");
    ASSERT_TRUE(silent.Enter());
    EXPECT_EQ(silent.host.Transfer(Host::kProgrammingEnable), 0u);  // no 0x53, ever
    EXPECT_EQ(silent.host.Transfer(Host::Instr(0x30, 1)), 0x90u);

    Chip quiet("AT90S8535");
    quiet.port.Config().echo = SimEcho::EnableOnly;
    ASSERT_TRUE(quiet.Enter());
    EXPECT_EQ(quiet.host.Transfer(Host::kProgrammingEnable), 0x5300u);
    EXPECT_EQ(quiet.host.Transfer(Host::Instr(0x30, 2)), 0x03u);
}

TEST(SimParts, At90s1200LosesItsStepForGoodOnOneStrayEdge) {
    Chip chip("AT90S1200");
    ASSERT_TRUE(chip.Enter());
    chip.host.SckPulse();
    for (int attempt = 0; attempt < 32; ++attempt) {  // the echo loop of other parts
        chip.host.Transfer(Host::kProgrammingEnable);
        chip.host.SckPulse();
    }
    EXPECT_EQ(chip.port.Counters().syncLosses, 1u);
    EXPECT_FALSE(chip.port.InProgrammingMode());
    chip.host.Transfer(Host::Instr(0xC0, 0, 0x00));
    EXPECT_EQ(chip.host.Transfer(Host::Instr(0x30, 0)), 0u);
    EXPECT_EQ(chip.port.Eeprom()[0], 0xFF);
    EXPECT_TRUE(chip.Enter());  // a new RESET brings it back
    EXPECT_EQ(chip.host.Read(Host::Instr(0x30, 0)), 0x1E);
}

}  // namespace
