// The state file of a simulated chip: round trip, and refusal of anything
// malformed without touching the chip.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "sim/SimTarget.h"
#include "sim/VirtualCounter.h"
#include "tests/sim/SimTestHost.h"
#include "tests/support/SimForDevice.h"

namespace {

constexpr int kAT90S1200 = 2;  // 1024 bytes flash, 64 bytes EEPROM

std::string TempPath(const std::string& name) {
    return ::testing::TempDir() + "brenwick-simstate-" + name;
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string HexLines(size_t count, const std::string& byte) {
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        text += byte;
        if ((i + 1) % 32 == 0 || i + 1 == count) {
            text += '\n';
        }
    }
    return text;
}

// A valid state for the AT90S1200, with pieces that tests replace.
std::string StateText(const std::string& flashSize = "1024", const std::string& flash = "",
                      const std::string& lock = "lock 1 0 1", const std::string& tail = "") {
    return "brenwick-sim-state 1\nflash " + flashSize + "\n" +
           (flash.empty() ? HexLines(1024, "a5") : flash) + "eeprom 64\n" + HexLines(64, "3c") +
           lock + "\nend\n" + tail;
}

class SimStateTest : public ::testing::Test {
protected:
    SimStateTest() : port(SimConfigForDevice(kAT90S1200), counter) {}

    CVirtualCounter counter;
    CSimPort port;
};

TEST_F(SimStateTest, SavedStateLoadsBackIntoAnotherChip) {
    for (size_t i = 0; i < port.Flash().size(); ++i) {
        port.Flash()[i] = static_cast<uint8_t>(i * 7);
    }
    port.Eeprom()[63] = 0x00;
    port.SetLockBits(0, 1, 0);
    const std::string path = TempPath("roundtrip");
    std::string error;
    ASSERT_TRUE(port.SaveState(path, error)) << error;
    EXPECT_FALSE(std::ifstream(path + ".tmp").good());

    CSimPort other(SimConfigForDevice(kAT90S1200), counter);
    ASSERT_TRUE(other.LoadState(path, error)) << error;
    EXPECT_EQ(other.Flash(), port.Flash());
    EXPECT_EQ(other.Eeprom(), port.Eeprom());
    EXPECT_EQ(other.LockByte(), port.LockByte());
    std::remove(path.c_str());
}

TEST_F(SimStateTest, CommentsBlankLinesAndCarriageReturnsAreAccepted) {
    std::string text = "# saved by hand\r\n" + StateText();
    text.insert(text.find("eeprom"), "\n# data memory\n");
    const std::string path = TempPath("comments");
    WriteFile(path, text);
    std::string error;
    ASSERT_TRUE(port.LoadState(path, error)) << error;
    EXPECT_EQ(port.Flash()[1023], 0xA5);
    EXPECT_EQ(port.Eeprom()[0], 0x3C);
    EXPECT_EQ(port.LockByte(), 0x9F);  // Lock Bit2 programmed
    std::remove(path.c_str());
}

TEST_F(SimStateTest, MalformedFilesAreRejectedAndChangeNothing) {
    std::string shortFlash = HexLines(1024, "a5");
    shortFlash.erase(shortFlash.size() - 3, 2);  // one byte missing
    std::string badDigit = HexLines(1024, "a5");
    badDigit[10] = 'g';
    std::string oddLine = HexLines(1024, "a5");
    oddLine.insert(0, "a");
    const std::string longLine = std::string(66, 'a') + "\n" + HexLines(991, "a5");
    const std::string cases[] = {
        "",
        "brenwick-sim-state 2\n",
        StateText("512"),             // another chip's size
        StateText("1024x"),           // not a number
        StateText("99999999999999"),  // absurd number
        StateText("1024", shortFlash),
        StateText("1024", badDigit),
        StateText("1024", oddLine),
        StateText("1024", longLine),
        StateText("1024", HexLines(1025, "a5")),  // one byte too many
        StateText("1024", "", "lock 1 1"),
        StateText("1024", "", "lock 1 1 2"),
        StateText("1024", "", "lock 1 1 1 1"),
        StateText("1024", "", "lock 1 1 1", "flash 1\n"),  // text after the end
        std::string("brenwick-sim-state 1\nflash 1024\n\0\0", 34),
    };
    const std::string path = TempPath("bad");
    port.Flash()[0] = 0x11;
    for (const std::string& text : cases) {
        SCOPED_TRACE(text.substr(0, 60));
        WriteFile(path, text);
        std::string error;
        EXPECT_FALSE(port.LoadState(path, error));
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(port.Flash()[0], 0x11);
        EXPECT_EQ(port.Flash()[1], 0xFF);
        EXPECT_EQ(port.Eeprom()[0], 0xFF);
        EXPECT_EQ(port.LockByte(), 0xDF);
    }
    std::remove(path.c_str());
    std::string error;
    EXPECT_FALSE(port.LoadState(TempPath("does-not-exist"), error));
}

TEST_F(SimStateTest, SaveIntoAMissingFolderFailsAndLeavesNothing) {
    std::string error;
    EXPECT_FALSE(port.SaveState(TempPath("no-such-folder/state"), error));
    EXPECT_FALSE(error.empty());
}

TEST_F(SimStateTest, FileFormatIsTheDocumentedText) {
    const std::string path = TempPath("format");
    port.SetLockBits(1, 1, 0);  // the AT90S1200 has no FSTRT
    std::string error;
    ASSERT_TRUE(port.SaveState(path, error)) << error;
    EXPECT_EQ(ReadFile(path), "brenwick-sim-state 2\nflash 1024\n" + HexLines(1024, "ff") +
                                  "eeprom 64\n" + HexLines(64, "ff") + "lock ff\nfuses\nend\n");
    std::remove(path.c_str());
}

TEST(SimStateVersion2, KeepsLockAndFuseBytesAndACutOffChipLoadsCutOff) {
    CVirtualCounter counter;
    CSimPort chip(SimConfigForPart("ATtiny15"), counter);
    chip.SetLockBitsByte(0xFE);
    chip.SetFuses({0x4C});  // RSTDISBL programmed
    const std::string path = TempPath("v2");
    std::string error;
    ASSERT_TRUE(chip.SaveState(path, error)) << error;
    const std::string text = ReadFile(path);
    EXPECT_NE(text.find("\nlock fe\nfuses 4c\nend\n"), std::string::npos);

    CSimPort other(SimConfigForPart("ATtiny15"), counter);
    ASSERT_TRUE(other.LoadState(path, error)) << error;
    EXPECT_EQ(other.LockBits(), 0xFE);
    EXPECT_EQ(other.Fuses(), std::vector<uint8_t>{0x4C});
    CSimTestHost host(other, counter);
    ASSERT_TRUE(other.Open("sim"));
    EXPECT_FALSE(host.Enter());

    const std::string tail = "\nlock fe\nfuses 4c\nend\n";
    for (const char* bad : {"\nlock f\nfuses 4c\nend\n", "\nlock fe\nfuses\nend\n",
                            "\nlock fe\nfuses 4c 4c\nend\n", "\nlock fe\nfuses 4g\nend\n"}) {
        std::string broken = text;
        broken.replace(broken.find(tail), tail.size(), std::string(bad));
        WriteFile(path, broken);
        EXPECT_FALSE(other.LoadState(path, error)) << bad;
    }
    std::remove(path.c_str());
}

}  // namespace
