// The built tool programming UPDI parts on simulated UPDI adapters: by its
// own actions and by the toolchain's -c serialupdi line, with the chip kept
// between runs in a state file.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "image/IntelHex.h"
#include "tests/support/FileText.h"

namespace fs = std::filesystem;

namespace {

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
    bool Has(const std::string& text) const { return out.find(text) != std::string::npos; }
};

constexpr int kFailed = 1;             // an operation failed
constexpr int kBadUsage = 2;           // the command line was refused
constexpr size_t kFlashBytes = 16384;  // ATtiny1614
constexpr size_t kEepromBytes = 256;
const char* const kChip = "sim:ATtiny1614,state=chip.state";

class UpdiProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "brenwick-updi-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
        m_flash = Random(kFlashBytes, 3);
        m_eeprom = Random(kEepromBytes, 4);
        WriteText(m_dir / "main.hex", FormatHexImage(m_flash));
        WriteText(m_dir / "data.hex", FormatHexImage(m_eeprom));
        WriteText(m_dir / "row.txt", "0x12,0x34,0x56\n");
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }

    static std::vector<uint8_t> Random(size_t size, unsigned seed) {
        std::mt19937 random(seed);
        std::vector<uint8_t> bytes(size);
        for (uint8_t& b : bytes) {
            b = static_cast<uint8_t>(random());
        }
        return bytes;
    }

    ToolRun Tool(const std::string& args) {
        const std::string command = "cd '" + m_dir.string() + "' && '" BRENWICK_CLI_PATH "' " +
                                    args + " >.out 2>.err </dev/null";
        const int raw = std::system(command.c_str());
        ToolRun run;
        run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        run.out = ReadText(m_dir / ".out");
        run.err = ReadText(m_dir / ".err");
        return run;
    }

    fs::path m_dir;
    std::vector<uint8_t> m_flash;
    std::vector<uint8_t> m_eeprom;
};

TEST_F(UpdiProcessTest, WritesAndVerifiesByItsOwnActions) {
    const ToolRun run =
        Tool("--port sim:ATtiny1614 --device ATtiny1614 write-prog main.hex verify-prog main.hex");
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_TRUE(run.Has(" Writing : Complete")) << run.out;
    EXPECT_TRUE(run.Has(" Verify : Complete")) << run.out;
}

// The toolchain's line writes flash and EEPROM; a later run reads them back
// as written; a lock makes the next read say so, and -e opens the chip.
TEST_F(UpdiProcessTest, SerialUpdiLineWritesLocksAndErases) {
    ToolRun run = Tool(std::string("-c serialupdi -P ") + kChip +
                       " -p t1614 -U flash:w:main.hex:i -U eeprom:w:data.hex:i");
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    // Each page is read back as it is written: the chip is read once.
    EXPECT_FALSE(run.Has("Verifing")) << run.out;
    EXPECT_TRUE(run.Has(" Verify : every byte written was read back")) << run.out;
    run =
        Tool(std::string("--port ") + kChip + " --device t1614 read-prog back.hex read-data e.hex");
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(ReadText(m_dir / "back.hex"), FormatHexImage(m_flash));
    EXPECT_EQ(ReadText(m_dir / "e.hex"), FormatHexImage(m_eeprom));

    run = Tool(std::string("-c serialupdi -P ") + kChip + " -p t1614 -U lock:w:0x00:m");
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_TRUE(run.Has(" Verify : Complete")) << run.out;
    run = Tool(std::string("-c serialupdi -P ") + kChip + " -p t1614 -U flash:r:locked.hex:i");
    EXPECT_EQ(run.status, kFailed);
    EXPECT_TRUE(
        run.Has(" Read : The chip is locked: Erase All unlocks it and erases flash and EEPROM.\n"))
        << run.out;
    EXPECT_FALSE(fs::exists(m_dir / "locked.hex"));

    run = Tool(std::string("-c serialupdi -P ") + kChip + " -b 230400 -p t1614 -e " +
               "-U flash:w:main.hex:i");
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    run = Tool(std::string("--port ") + kChip + " --device t1614 read-data e.hex");
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(ReadText(m_dir / "e.hex"), FormatHexImage(std::vector<uint8_t>(kEepromBytes, 0xFF)));
}

struct FuseWords {
    const char* chip;
    const char* factory;  // the factory values, written first by name
    std::vector<const char*> lines;
};

class UpdiFuseWords : public UpdiProcessTest, public ::testing::WithParamInterface<FuseWords> {};

// read-fuses prints every fuse by name with its byte, then its settings in
// words under it.
TEST_P(UpdiFuseWords, ReadFusesSaysEveryFuseInWords) {
    const FuseWords& w = GetParam();
    const ToolRun run = Tool(std::string("--port sim:") + w.chip + " --device " + w.chip +
                             " write-fuses " + w.factory + " read-fuses");
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    size_t from = run.out.find("Fuses : ");
    ASSERT_NE(from, std::string::npos) << run.out;
    for (const char* line : w.lines) {
        // In this order, each a line of its own.
        const size_t at = run.out.find(std::string(line) + "\n", from);
        EXPECT_NE(at, std::string::npos) << line << "\n" << run.out;
        from = at == std::string::npos ? from : at;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, UpdiFuseWords,
    ::testing::Values(
        FuseWords{"ATtiny1614",
                  "osccfg=0x02,syscfg0=0xC4,syscfg1=0x07",
                  {"Fuses : wdtcfg=0x00,bodcfg=0x00,osccfg=0x02,tcd0cfg=0x00,syscfg0=0xC4,"
                   "syscfg1=0x07,append=0x00,bootend=0x00",
                   "wdtcfg = 0x00", "  Watchdog time-out period : off", "osccfg = 0x02",
                   "  Main oscillator frequency : 20 MHz (internal oscillator, factory "
                   "calibrated)",
                   "tcd0cfg = 0x00", "syscfg0 = 0xC4",
                   "  Reset pin configuration : UPDI: PA0 is the UPDI pin", "syscfg1 = 0x07",
                   "  Start-up time : 64 ms", "bootend = 0x00"}},
        FuseWords{"ATmega4809",
                  "osccfg=0x02,syscfg0=0xC4,syscfg1=0x07",
                  {"Fuses : wdtcfg=0x00,bodcfg=0x00,osccfg=0x02,syscfg0=0xC4,syscfg1=0x07,"
                   "append=0x00,bootend=0x00",
                   "bodcfg = 0x00", "  BOD level : 1.8 V", "osccfg = 0x02",
                   "  Main oscillator frequency : 20 MHz (internal oscillator, factory "
                   "calibrated)",
                   "syscfg0 = 0xC4", "  Reset pin configuration : GPIO: PF6 is a port pin"}},
        FuseWords{"AVR64DD32",
                  "syscfg0=0xD0,syscfg1=0x08",
                  {"Fuses : wdtcfg=0x00,bodcfg=0x00,osccfg=0x00,syscfg0=0xD0,syscfg1=0x08,"
                   "codesize=0x00,bootsize=0x00",
                   "osccfg = 0x00", "  Clock at start-up : the internal high-frequency oscillator",
                   "syscfg0 = 0xD0", "  UPDI pin configuration : UPDI: PF7 is the UPDI pin",
                   "bootsize = 0x00"}}));

struct FuseRun {
    const char* chip;
    const char* first;  // arguments of the first run
    int status;
    const char* said;    // in the first run's lines
    const char* second;  // arguments of the run that reads back
    const char* back;    // what it prints
};

class UpdiFuseRuns : public UpdiProcessTest, public ::testing::WithParamInterface<FuseRun> {};

// Fuses and the user row by the tool's own actions and by the toolchain's
// -U, on one chip kept between the runs; the guard on the UPDI pin.
TEST_P(UpdiFuseRuns, WritesAndReadsBack) {
    const FuseRun& r = GetParam();
    const std::string port = std::string("sim:") + r.chip + ",state=chip.state";
    const std::string toolchain = std::string("-c serialupdi -P ") + port + " -p " + r.chip + " ";
    const std::string own = std::string("--port ") + port + " --device " + r.chip + " ";
    const auto line = [&](const char* args) {
        return std::string(args).find("-U ") != std::string::npos ? toolchain + args : own + args;
    };
    ToolRun run = Tool(line(r.first));
    EXPECT_EQ(run.status, r.status) << run.out << run.err;
    EXPECT_TRUE(run.Has(r.said)) << run.out << run.err;
    run = Tool(line(r.second));
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_TRUE(run.Has(r.back)) << run.out << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    Table, UpdiFuseRuns,
    ::testing::Values(
        FuseRun{"ATtiny1614", "-U fuse5:w:0xC5:m", 0, " Verify : Complete", "-U syscfg0:r:-:h",
                "0xc5\n"},
        FuseRun{"ATmega4809", "-U fuse5:w:0xC4:m", 0, " Verify : Complete", "-U fuse5:r:-:h",
                "0xc4\n"},
        FuseRun{"AVR64DD32", "-U bodcfg:w:0x10:m", 0, " Write Fuses Complete", "-U fuse1:r:-:d",
                "16\n"},
        FuseRun{"ATtiny1614", "write-fuses eesave=on", 0, " Write Fuses Complete",
                "verify-fuses syscfg0=0xC5", " Verify : Complete"},
        FuseRun{"ATtiny1614", "write-fuses rstpincfg=gpio", kFailed,
                " Write Fuses : Refused, nothing written: RSTPINCFG set to GPIO: the UPDI pin "
                "becomes a port pin",
                "read-fuses", "  Reset pin configuration : UPDI: PA0 is the UPDI pin"},
        FuseRun{"ATtiny1614", "--allow-cutoff write-fuses rstpincfg=gpio", 0,
                " Write Fuses Complete", "read-fuses",
                "  Reset pin configuration : GPIO: PA0 is a port pin"},
        FuseRun{"ATtiny1614", "-U fuse5:w:0xC0:m", kFailed, "Refused, nothing written",
                "-U fuse5:r:-:h", "0xc4\n"},
        FuseRun{"ATtiny1614", "--allow-cutoff -U fuse5:w:0xC0:m", 0, " Verify : Complete",
                "-U fuse5:r:-:h", "0xc0\n"},
        FuseRun{"AVR64DD32", "write-fuses updipincfg=gpio", kFailed,
                "Refused, nothing written: UPDIPINCFG set to GPIO", "verify-fuses updipincfg=updi",
                " Verify : Complete"},
        FuseRun{"AVR64DD32", "write-fuses updipincfg=gpio --allow-cutoff", 0,
                " Write Fuses Complete", "verify-fuses updipincfg=gpio", " Verify : Complete"},
        FuseRun{"ATmega4809", "write-fuses rstpincfg=rst", 0, " Write Fuses Complete",
                "write-fuses rstpincfg=gpio", " Write Fuses Complete"},
        FuseRun{"ATtiny1614", "-U userrow:w:row.txt:h", 0, " Write User Row Complete",
                "-U userrow:r:-:h", "0x12,0x34,0x56,0xff"},
        FuseRun{"AVR64DD32", "-U userrow:w:0xA5:m", 0, " Verify : Complete", "-U userrow:v:0xA5:m",
                " Verify : Complete"},
        FuseRun{"ATmega4809", "-U userrow:w:row.txt:h", 0, " Verify : Complete",
                "-U userrow:v:row.txt:h", " Verify : Complete"}));

struct Refusal {
    const char* args;
    int status;
    const char* said;  // in the standard output (lines) or error (usage)
};

class UpdiRefusals : public UpdiProcessTest, public ::testing::WithParamInterface<Refusal> {};

// What cannot be done is said in one line, and nothing is done.
TEST_P(UpdiRefusals, SaysWhy) {
    const Refusal& r = GetParam();
    const ToolRun run = Tool(r.args);
    EXPECT_EQ(run.status, r.status) << run.out << run.err;
    EXPECT_NE((run.out + run.err).find(r.said), std::string::npos) << run.out << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    Table, UpdiRefusals,
    ::testing::Values(
        Refusal{"-P sim:ATmega328P -p m328p -U userrow:r:-:h", kBadUsage,
                "userrow is a memory of UPDI parts, not of the ATmega328P"},
        Refusal{"-c serialupdi -P sim:ATtiny1614 -p t1614 -U lfuse:r:f.txt:h", kBadUsage,
                "the ATtiny1614 has no fuse lfuse; its fuses: fuse0 (wdtcfg)"},
        Refusal{"-c serialupdi -P sim:ATtiny1614 -p t1614 -U fuse3:w:0x00:m", kBadUsage,
                "no fuse fuse3; its fuses: fuse0 (wdtcfg), fuse1 (bodcfg), fuse2 (osccfg), "
                "fuse4 (tcd0cfg)"},
        Refusal{"-c serialupdi -P sim:ATtiny1614 -p t1614 -U nvm:r:-:h", kBadUsage,
                "of the ATtiny1614: userrow and its fuses fuse0 (wdtcfg)"},
        Refusal{"-c serialupdi -P sim:ATtiny1614 -p t1614 -U userrow:w:main.elf:e", kBadUsage,
                "the user row is m, h, d, b, r, i or a"},
        Refusal{"--port sim:ATtiny1614 --device t1614 write-fuses lfuse=0xE2", kFailed,
                "lfuse, hfuse and efuse are fuse bytes of the parts of today"},
        Refusal{"--port sim:ATtiny1614 --device t1614 write-fuses rstpincfg=none", kFailed,
                "bad fuse setting \"rstpincfg=none\": rstpincfg takes"},
        Refusal{"--port sim:ATtiny1614 --device t1614 write-fuses fuse3=0x00", kFailed,
                "the ATtiny1614 has no fuse fuse3"},
        Refusal{"--port sim:ATmega328P --device m328p verify-fuses syscfg0=0xC4", kBadUsage,
                "bad fuse \"syscfg0=0xc4\""},
        Refusal{"-c serialupdi -p t1614 -U flash:w:main.hex:i", kBadUsage,
                "-c serialupdi needs -P"},
        Refusal{"-P sim:ATtiny1614 -b 9600 -p t1614 -U flash:w:main.hex:i", kBadUsage,
                "goes with -c serialupdi"},
        Refusal{"-c serialupdi -P sim:ATmega328P -p t1614 -U flash:w:main.hex:i", kFailed,
                " ATtiny1614 is programmed through UPDI: choose a port with ,updi"},
        Refusal{"-P sim:ATtiny1614 -p m328p -U flash:w:main.hex:i", kFailed,
                " ATmega328P is programmed through ISP: choose a port without ,updi"}));

}  // namespace
