// A Makefile's upload line run by the built tool against a simulated chip,
// with ELF files from tests/support/AvrElfFixture.h.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/AvrElfFixture.h"

#include "tests/support/FileText.h"

namespace fs = std::filesystem;

namespace {

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
    bool Has(const std::string& text) const { return out.find(text) != std::string::npos; }
};

class ToolchainProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "brenwick-tc-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
        WriteText(m_dir / "main.elf", BuildAvrElf(AtmegaFixtureSections()));
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }

    // The tool in the test's folder; arguments are plain words of the test.
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
};

TEST_F(ToolchainProcessTest, MakefileLineWritesTheElfAndTheFuse) {
    const ToolRun run = Tool(
        "-P sim:ATmega328P,state=chip.txt -p m328p -U flash:w:main.elf:e -U lfuse:w:0xE2:m "
        "-U lfuse:r:-:h");
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_TRUE(run.Has(" ELF sections : .text .data\n")) << run.out;
    // The write reads every page back: that is the verify, not a second pass.
    EXPECT_TRUE(run.Has(" Verify : every byte written was read back\n")) << run.out;
    EXPECT_FALSE(run.Has("Verifing PROG device ...")) << run.out;
    EXPECT_TRUE(run.Has("\n0xe2\n")) << run.out;

    // Read back from the same chip into a raw binary image.
    const ToolRun back = Tool("-P sim:ATmega328P,state=chip.txt -p m328p -U flash:r:back.bin:r");
    ASSERT_EQ(back.status, 0) << back.out << back.err;
    const std::string image = ReadText(m_dir / "back.bin");
    ASSERT_EQ(image.size(), 32768U);
    EXPECT_EQ(image.substr(0, 9), std::string("\x0C\x94\x34\x00\xFF\xCF\x07\x08\xFF", 9));
    EXPECT_EQ(image.find_first_not_of('\xFF', 8), std::string::npos);

    // The binary image verifies; the ELF's EEPROM is written and verified.
    const ToolRun verify = Tool(
        "-P sim:ATmega328P,state=chip.txt -p m328p -U flash:v:back.bin:r -U eeprom:w:main.elf");
    EXPECT_EQ(verify.status, 0) << verify.out << verify.err;
    EXPECT_TRUE(verify.Has(" ELF sections : .eeprom\n")) << verify.out;

    // A value file that an earlier -U of the run writes is read when its
    // turn comes, not before the run.
    const ToolRun again = Tool(
        "-P sim:ATmega328P -p m328p -U hfuse:r:high.txt:h -U hfuse:w:high.txt:h -U lfuse:v:98");
    EXPECT_EQ(again.status, 0) << again.out << again.err;
    EXPECT_EQ(ReadText(m_dir / "high.txt"), "0xd9\n");
}

TEST_F(ToolchainProcessTest, FailuresEndTheRun) {
    // Built for another chip: nothing is written.
    ToolRun run = Tool("-P sim:ATmega168 -p m168 -U flash:w:main.elf:e");
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.Has("not for the ATmega168/168A")) << run.out;
    EXPECT_FALSE(run.Has("Writing")) << run.out;

    // The first failing -U ends the run: a verify that differs stops the
    // EEPROM write after it.
    WriteText(m_dir / "other.bin", std::string("\x01\x02", 2));
    run = Tool("-P sim:ATmega328P -p m328p -U flash:v:other.bin:r -U eeprom:w:main.elf:e");
    EXPECT_EQ(run.status, 1);
    EXPECT_FALSE(run.Has("Writing Data")) << run.out;

    // A byte that does not take the write fails the write itself, with no
    // verify pass needed to find it.
    run = Tool("-P sim:ATmega328P,stuck-flash=2 -p m328p -U flash:w:main.elf:e");
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.Has("Writing")) << run.out;
    EXPECT_FALSE(run.Has("read back")) << run.out;
    EXPECT_FALSE(run.Has("Verifing")) << run.out;

    // A programmer of another wiring is refused before anything runs.
    run = Tool("-P sim:ATmega328P -p m328p -c dasa -U flash:w:main.elf");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("not this adapter"), std::string::npos) << run.err;
}

TEST_F(ToolchainProcessTest, ElfFusesKeepTheCutOffGuard) {
    // RSTDISBL (bit 7 of the high fuse) programmed.
    auto sections = AtmegaFixtureSections();
    sections[3].bytes = {0xE2, 0x59, 0xFD};
    WriteText(m_dir / "cutoff.elf", BuildAvrElf(sections));
    ToolRun run = Tool("-P sim:ATmega328P -p m328p -U hfuse:w:cutoff.elf:e");
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.Has("RSTDISBL")) << run.out;
    run = Tool("--port sim:ATmega328P --device atmega328p write-fuses cutoff.elf");
    EXPECT_EQ(run.status, 1);
    // Allowed, it is written (and the chip is out of reach from then on).
    run = Tool("--port sim:ATmega328P --device atmega328p --allow-cutoff write-fuses cutoff.elf");
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    run = Tool(
        "--port sim:ATmega328P --device atmega328p write-fuses main.elf verify-fuses main.elf "
        "write-lock main.elf verify-lock main.elf");
    EXPECT_EQ(run.status, 0) << run.out << run.err;

    // A lock section with boot lock bits programmed is not half written.
    sections = AtmegaFixtureSections();
    sections[4].bytes = {0xEC};
    WriteText(m_dir / "bootlock.elf", BuildAvrElf(sections));
    run = Tool("-P sim:ATmega328P -p m328p -U lock:w:bootlock.elf:e");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("boot lock bits"), std::string::npos) << run.err;
    EXPECT_FALSE(run.Has("Writing device LockBit")) << run.out;
}

}  // namespace
