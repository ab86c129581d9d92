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
        if (chip.port.Config().rules.fuseRead[0].opcode != 0) {
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
        chip.port.SetFuses({chip.port.Config().rules.fuseDefault[0]});  // a high-voltage programmer
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

// ------------------------------------------- ATmega8 and later parts

constexpr uint32_t kPollReady = 0xF0000000;

uint32_t WriteFuse(int fuseByte, uint8_t value) {
    const uint32_t second[] = {0xA0, 0xA8, 0xA4};
    return 0xAC000000u | second[fuseByte] << 16 | value;
}

uint32_t ReadFuse(int fuseByte) {
    const uint32_t instruction[] = {0x50000000, 0x58080000, 0x50080000};
    return instruction[fuseByte];
}

TEST(SimPagedParts, SingleNamesOfACombinedEntryFindIt) {
    ASSERT_NE(FindSimPart("ATtiny13/13A"), nullptr);
    EXPECT_EQ(FindSimPart("attiny13a"), FindSimPart("ATtiny13/13A"));
    EXPECT_EQ(FindSimPart("ATtiny13"), FindSimPart("ATtiny13/13A"));
    EXPECT_EQ(FindSimPart("ATMEGA8A"), FindSimPart("ATmega8/8A"));
    EXPECT_EQ(FindSimPart("ATmega644PA"), FindSimPart("ATmega644P/644PA"));
    EXPECT_EQ(FindSimPart("at90pwm3"), FindSimPart("AT90PWM2/AT90PWM3"));
    // The stand-in is no combined entry: its last name is a part of its own.
    EXPECT_NE(FindSimPart("ATtiny12"), FindSimPart("ATtiny10/11/12"));
}

// The page goes to the flash only on 4C, ANDed into it; meanwhile Poll
// RDY/BSY says busy where the part has it, the page reads 0xFF, and a read
// is a fault where the datasheet promises nothing about it.
TEST(SimPagedParts, PageWriteIsBusyForItsTimeAndOnlyClearsBits) {
    const char* parts[] = {"ATmega8/8A", "ATmega16/16A", "ATmega328P", "ATmega1284P",
                           "ATtiny13A",  "ATtiny85",     "ATtiny2313"};
    for (const char* name : parts) {
        SCOPED_TRACE(name);
        Chip chip(name);
        const SimConfig& config = chip.port.Config();
        const int pageWords = config.progPageSize / 2;
        const int word = 3 * pageWords + 1;
        chip.port.Flash()[static_cast<size_t>(2 * word)] = 0xF0;
        ASSERT_TRUE(chip.Enter());
        chip.host.Transfer(Host::Instr(0x40, word, 0x3C));
        chip.host.Transfer(Host::Instr(0x48, word, 0x42));
        chip.host.Transfer(Host::Instr(0x4C, 3 * pageWords + pageWords - 1));
        if (config.pollReady) {
            EXPECT_EQ(chip.host.Read(kPollReady) & 1, 1);
        }
        EXPECT_EQ(chip.host.Read(Host::Instr(0x20, word)), 0xFF);
        EXPECT_EQ(chip.port.Counters().protocolErrors, config.busyReadsPromised ? 0u : 1u);
        chip.host.WaitUs(config.writeTimeUs);
        if (config.pollReady) {
            EXPECT_EQ(chip.host.Read(kPollReady) & 1, 0);
        }
        EXPECT_EQ(chip.host.Read(Host::Instr(0x20, word)), 0x30);
        EXPECT_EQ(chip.host.Read(Host::Instr(0x28, word)), 0x42);
        chip.Run(Host::Instr(0x4C, 3 * pageWords));  // the buffer is blank again
        EXPECT_EQ(chip.host.Read(Host::Instr(0x28, word)), 0x42);
        EXPECT_EQ(chip.port.Counters().unknownInstructions, 0u);
    }
}

// Word addresses above 16 bits come from Load Extended Address byte, kept
// until RESET.
TEST(SimPagedParts, ExtendedAddressReachesTheLastPageOfTheMega2560) {
    Chip chip("ATmega2560");
    ASSERT_TRUE(chip.Enter());
    const int lastPage = 0xFF80;  // word address of the last page, bits 15..0
    chip.Run(0x4D000100);
    chip.host.Transfer(Host::Instr(0x40, lastPage + 0x7F, 0x5A));
    chip.Run(Host::Instr(0x4C, lastPage));
    EXPECT_EQ(chip.port.Flash()[0x3FFFE], 0x5A);
    EXPECT_EQ(chip.port.Flash()[0x1FFFE], 0xFF);
    EXPECT_EQ(chip.host.Read(Host::Instr(0x20, lastPage + 0x7F)), 0x5A);
    ASSERT_TRUE(chip.Enter());
    EXPECT_EQ(chip.host.Read(Host::Instr(0x20, lastPage + 0x7F)), 0xFF);
    EXPECT_EQ(chip.port.Counters().protocolErrors, 0u);
}

// SPIEN and the bits a datasheet marks unused keep their value; a part
// without an extended fuse byte has no instruction for it.
TEST(SimPagedParts, EachFuseByteIsWrittenAndReadByItsOwnInstruction) {
    struct Case {
        const char* part;
        int fuseByte;
        uint8_t write;
        int read;  // -1: no such instruction
    } cases[] = {
        {"ATmega328P", 0, 0xE2, 0xE2}, {"ATmega328P", 1, 0xF1, 0xD1}, {"ATmega328P", 2, 0x05, 0xFD},
        {"ATmega8/8A", 0, 0x24, 0x24}, {"ATmega8/8A", 1, 0xC9, 0xC9}, {"ATmega8/8A", 2, 0x00, -1},
        {"ATtiny13A", 0, 0xFA, 0x7A},  {"ATtiny13A", 1, 0x1D, 0xFD},  {"ATtiny85", 2, 0x00, 0xFE},
        {"ATmega2560", 1, 0xFF, 0xDF}, {"ATtiny2313", 1, 0x9F, 0x9F},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.part + std::string(" fuse byte ") + std::to_string(c.fuseByte));
        Chip chip(c.part);
        ASSERT_TRUE(chip.Enter());
        chip.Run(WriteFuse(c.fuseByte, c.write));
        if (c.read < 0) {
            chip.host.Read(ReadFuse(c.fuseByte));
            EXPECT_EQ(chip.port.Counters().unknownInstructions, 2u);
            continue;
        }
        EXPECT_EQ(chip.host.Read(ReadFuse(c.fuseByte)), c.read);
        EXPECT_EQ(chip.port.Fuses().at(static_cast<size_t>(c.fuseByte)), c.read);
        EXPECT_EQ(chip.port.Counters().fuseWrites, 1u);
        EXPECT_EQ(chip.port.Counters().protocolErrors, 0u);
    }
}

// Fuses act from the next release of RESET: RSTDISBL, DWEN (while no lock
// bit is programmed) and a clock source the board lacks cut the chip off.
TEST(SimPagedParts, CutOffFusesSilenceTheChipFromTheNextReset) {
    struct Case {
        const char* part;
        uint32_t write;
        SimBoardClock board;
        bool cutOff;
    } cases[] = {
        {"ATtiny85", WriteFuse(1, 0x5F), SimBoardClock::AsShipped, true},    // RSTDISBL
        {"ATtiny85", WriteFuse(1, 0x9F), SimBoardClock::AsShipped, true},    // DWEN
        {"ATmega328P", WriteFuse(0, 0x60), SimBoardClock::AsShipped, true},  // external clock
        {"ATmega328P", WriteFuse(0, 0xFF), SimBoardClock::AsShipped, true},  // crystal
        {"ATmega328P", WriteFuse(0, 0x60), SimBoardClock::ExternalClock, false},
        {"ATmega328P", WriteFuse(0, 0x63), SimBoardClock::AsShipped, false},  // 128 kHz RC
        {"ATtiny13A", WriteFuse(0, 0x68), SimBoardClock::AsShipped, true},    // CLKI
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.part + std::string(" ") + std::to_string(c.write));
        Chip chip(c.part);
        chip.port.Config().boardClock = c.board;
        ASSERT_TRUE(chip.Enter());
        chip.Run(c.write);
        EXPECT_EQ(chip.host.Read(Host::Instr(0x30, 0)), 0x1E);  // not yet
        EXPECT_EQ(chip.Enter(), !c.cutOff);
        EXPECT_EQ(chip.port.CutOff(), c.cutOff);
    }
    // debugWIRE stays off while a lock bit is programmed.
    Chip locked("ATtiny85");
    ASSERT_TRUE(locked.Enter());
    locked.Run(WriteFuse(1, 0x9F));
    locked.Run(0xACE000FE);
    EXPECT_TRUE(locked.Enter());
}

TEST(SimPagedParts, ChipEraseKeepsTheEepromWhenEesaveIsProgrammed) {
    struct Case {
        const char* part;
        uint32_t eesaveOn;
    } cases[] = {{"ATmega328P", WriteFuse(1, 0xD1)},
                 {"ATtiny13A", WriteFuse(0, 0x2A)},
                 {"ATtiny2313", WriteFuse(1, 0x9F)},
                 {"ATmega16/16A", WriteFuse(1, 0x91)}};
    for (const Case& c : cases) {
        for (bool eesave : {false, true}) {
            SCOPED_TRACE(c.part + std::string(eesave ? " EESAVE" : ""));
            Chip chip(c.part);
            ASSERT_TRUE(chip.Enter());
            chip.Run(Host::Instr(0xC0, 5, 0x17));
            chip.Run(Host::Instr(0x40, 0, 0x00));
            chip.Run(Host::Instr(0x4C, 0));
            if (eesave) {
                chip.Run(c.eesaveOn);  // acts at once, unlike the other fuses
            }
            chip.Run(0xACE000FC);
            const std::vector<uint8_t> fuses = chip.port.Fuses();
            chip.Run(Host::kChipErase);
            EXPECT_EQ(chip.port.Eeprom()[5], eesave ? 0x17 : 0xFF);
            EXPECT_EQ(chip.port.Flash()[0], 0xFF);
            EXPECT_EQ(chip.port.LockBits(), 0xFF);
            EXPECT_EQ(chip.port.Fuses(), fuses);
            EXPECT_EQ(chip.port.Counters().protocolErrors, 0u);
        }
    }
}

}  // namespace
