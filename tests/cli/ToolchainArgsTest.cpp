// The toolchain's -p/-P/-c/-e/-U/-V command line: what each line becomes in
// the tool's own actions, which lines are refused, and the whole run of a
// Makefile's upload line against a simulated chip.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/CliOptions.h"
#include "cli/CliRunner.h"
#include "cli/ToolchainArgs.h"
#include "parts/DeviceTable.h"

namespace {

const char* KindName(CliActionKind kind) {
    switch (kind) {
        case CliActionKind::Erase:
            return "erase";
        case CliActionKind::WriteProg:
            return "write-prog";
        case CliActionKind::WriteData:
            return "write-data";
        case CliActionKind::VerifyProg:
            return "verify-prog";
        case CliActionKind::VerifyData:
            return "verify-data";
        case CliActionKind::ReadProg:
            return "read-prog";
        case CliActionKind::ReadData:
            return "read-data";
        case CliActionKind::WriteLock:
            return "write-lock";
        case CliActionKind::VerifyLock:
            return "verify-lock";
        case CliActionKind::ReadFuses:
            return "read-fuses";
        case CliActionKind::WriteFuses:
            return "write-fuses";
        case CliActionKind::VerifyFuses:
            return "verify-fuses";
        case CliActionKind::Detect:
            return "detect";
        default:
            return "other";
    }
}

const char* ChoiceName(FormatChoice choice) {
    switch (choice) {
        case FormatChoice::ByName:
            return "name";
        case FormatChoice::ByContent:
            return "auto";
        case FormatChoice::IntelHex:
            return "hex";
        case FormatChoice::Binary:
            return "bin";
        case FormatChoice::Elf:
            return "elf";
    }
    return "?";
}

// One action as "kind file/format" or "kind values".
std::string Describe(const CliAction& a) {
    std::string text = KindName(a.kind);
    if (!a.file.empty()) {
        text += " " + a.file + "/" +
                (a.valueFormat != 0 ? std::string(1, a.valueFormat) : ChoiceName(a.format));
    } else if (a.kind == CliActionKind::WriteFuses || a.kind == CliActionKind::VerifyFuses) {
        text += " " + FormatFuseSet(a.fuses, a.fuseMask);
    } else if (a.kind == CliActionKind::WriteLock || a.kind == CliActionKind::VerifyLock) {
        text += " " + FormatLockSet(a.ticks);
    }
    if (a.verifyAfter) {
        text += " +verify";
    }
    return text;
}

struct Line {
    std::vector<std::string> args;
    int status;            // kCliExitOk: parsed; kCliExitUsage: refused
    std::string expected;  // the actions, or part of the reason
};

TEST(ToolchainArgs, CommandLinesAndTheirActions) {
    const Line lines[] = {
        {{"-p", "m328p", "-U", "flash:w:main.elf:e", "-U", "lfuse:w:0xE2:m"},
         kCliExitOk,
         "write-prog main.elf/elf +verify; write-fuses lfuse=0xE2; verify-fuses lfuse=0xE2"},
        {{"-pM328P", "-Uflash:w:main.hex:i", "-V"}, kCliExitOk, "write-prog main.hex/hex"},
        {{"-U", "eeprom:w:main.eep", "-e", "-p", "t85"},
         kCliExitOk,
         "erase; write-data main.eep/auto +verify"},
        // An explicit verify stays a pass of its own, beside a write.
        {{"-p", "m328p", "-U", "flash:w:a.hex:i", "-U", "flash:v:a.hex:i"},
         kCliExitOk,
         "write-prog a.hex/hex +verify; verify-prog a.hex/hex"},
        {{"-p", "8515", "-U", "flash:r:out.bin:r", "-U", "eeprom:r:-:i", "-U", "flash:v:x.hex"},
         kCliExitOk,
         "read-prog out.bin/bin; read-data -/hex; verify-prog x.hex/auto"},
        {{"-p", "m328p", "-U", "flash:r:out.hex"}, kCliExitOk, "read-prog out.hex/name"},
        {{"-p", "m328p", "-U", "hfuse:w:fuses.txt:h", "-U", "efuse:v:main.elf:e"},
         kCliExitOk,
         "write-fuses fuses.txt/h; verify-fuses fuses.txt/h; verify-fuses main.elf/e"},
        {{"-p", "m328p", "-U", "lfuse:r:-:h", "-U", "calibration:r:cal.txt:d", "-U",
          "signature:r:-:b"},
         kCliExitOk,
         "read-fuses -/h; read-fuses cal.txt/d; detect -/b"},
        {{"-p", "m328p", "-U", "lock:w:0xFC:m"},
         kCliExitOk,
         "write-lock lb1,lb2; verify-lock lb1,lb2"},
        {{"-p", "m328p", "-U", "lock:v:0xFE:m"}, kCliExitOk, "verify-lock lb1"},
        {{"-p", "m328p", "-U", "lfuse:w:226"},
         kCliExitOk,
         "write-fuses lfuse=0xE2; verify-fuses lfuse=0xE2"},
        // -V drops only the verify after a write, never a verify asked for.
        {{"-p", "m328p", "-U", "lfuse:v:0xE2:m", "-V"}, kCliExitOk, "verify-fuses lfuse=0xE2"},
        {{"-p", "m328p", "-V", "-U", "lock:v:0xFE:m"}, kCliExitOk, "verify-lock lb1"},
        {{"-p", "m328p", "-U", "flash:v:x.hex", "-V"}, kCliExitOk, "verify-prog x.hex/auto"},
        {{"-p", "m328p", "-U", "hfuse:w:0xD9:m", "-V"}, kCliExitOk, "write-fuses hfuse=0xD9"},
        {{"-p", "m328p", "-U", "lock:w:0xFC:m", "-V"}, kCliExitOk, "write-lock lb1,lb2"},
        {{"-p", "m328p", "-c", "PONYSER", "-P", "sim:ATmega328P"}, kCliExitOk, "detect"},
        {{"-p", "m328p", "-c", "siprog", "-e"}, kCliExitOk, "erase"},
        // Refused, with status 2 and a reason.
        {{"-U", "flash:w:main.hex"}, kCliExitUsage, "-p <part> is needed"},
        {{"-p", "m999", "-U", "flash:w:a.hex"}, kCliExitUsage, "unknown part"},
        {{"-p", "lgt8f328p"}, kCliExitUsage, "does not take this adapter's serial programming"},
        {{"-p", "m328p", "-c", "dasa"}, kCliExitUsage, "not this adapter"},
        {{"-p", "m328p", "-c", "stk500v1"}, kCliExitUsage, "not this adapter"},
        {{"-p", "m328p", "-F"}, kCliExitUsage, "unknown or unsupported option \"-F\""},
        {{"-p", "m328p", "-B", "10"}, kCliExitUsage, "unknown or unsupported option"},
        {{"-p", "m328p", "stray"}, kCliExitUsage, "unexpected \"stray\""},
        {{"-p", "m328p", "-p", "t85"}, kCliExitUsage, "more than once"},
        {{"-p", "m328p", "-U"}, kCliExitUsage, "-U needs a value"},
        {{"-p", "m328p", "-U", "flash:x:a.hex"}, kCliExitUsage, "unknown operation"},
        {{"-p", "m328p", "-U", "flsh:w:a.hex"}, kCliExitUsage, "unknown memory"},
        {{"-p", "m328p", "-U", "flash:w:a.hex:q"}, kCliExitUsage, "unknown format"},
        {{"-p", "m328p", "-U", "flash"}, kCliExitUsage, "use -U <memory>:<op>"},
        {{"-p", "m328p", "-U", "flash:w:"}, kCliExitUsage, "use -U <memory>:<op>"},
        {{"-p", "m328p", "-U", "flash:w:0x12:m"}, kCliExitUsage, "does not fit"},
        {{"-p", "m328p", "-U", "flash:r:a.elf:e"}, kCliExitUsage, "only read"},
        {{"-p", "m328p", "-U", "flash:w:-"}, kCliExitUsage, "standard input"},
        {{"-p", "m328p", "-U", "lfuse:w:0x1E2:m"}, kCliExitUsage, "no byte value"},
        {{"-p", "m328p", "-U", "lfuse:r:-:e"}, kCliExitUsage, "does not fit"},
        {{"-p", "m328p", "-U", "lock:w:0xEF:m"}, kCliExitUsage, "boot lock bits"},
        {{"-p", "m328p", "-U", "lock:r:-:h"}, kCliExitUsage, "read-lock"},
        {{"-p", "m328p", "-U", "signature:w:0x1E:m"}, kCliExitUsage, "can only be read"},
        {{"-p", "m328p", "-P", "com9"}, kCliExitUsage, "COM1 to COM4"},
    };
    for (const Line& line : lines) {
        std::string joined;
        for (const std::string& a : line.args) {
            joined += a + " ";
        }
        SCOPED_TRACE(joined);
        ASSERT_TRUE(IsToolchainCommandLine(line.args));
        CliOptions options;
        std::string error;
        const bool parsed = ParseCliArguments(line.args, options, error);
        ASSERT_EQ(parsed, line.status == kCliExitOk) << error;
        if (!parsed) {
            EXPECT_NE(error.find(line.expected), std::string::npos) << error;
            continue;
        }
        std::string actions;
        for (const CliAction& a : options.actions) {
            actions += (actions.empty() ? "" : "; ") + Describe(a);
        }
        EXPECT_EQ(actions, line.expected);
    }
}

TEST(ToolchainArgs, PartIdsAndPort) {
    CliOptions o;
    std::string error;
    ASSERT_TRUE(ParseCliArguments({"-P", "sim:ATtiny85", "-p", "T85"}, o, error)) << error;
    EXPECT_TRUE(IsSimulatedPortName(o.portText));
    ASSERT_GE(o.deviceRow, 0);
    EXPECT_STREQ(g_deviceTable[o.deviceRow].name, "ATtiny85");
    // An id that stands for one of the names of a shared row finds that row.
    ASSERT_TRUE(ParseCliArguments({"-p", "t13a"}, o, error)) << error;
    EXPECT_STREQ(g_deviceTable[o.deviceRow].name, "ATtiny13/13A");
    // The long command line takes the ids as well; its own words stay its own.
    ASSERT_TRUE(ParseCliArguments({"--device", "m328p", "check"}, o, error)) << error;
    EXPECT_STREQ(g_deviceTable[o.deviceRow].name, "ATmega328P");
    EXPECT_FALSE(IsToolchainCommandLine({"--port", "sim:ATtiny85", "-h"}));
    EXPECT_FALSE(IsToolchainCommandLine({"--", "-p"}));
    // Every id listed names a row of the table.
    const std::string list = PartIdListText();
    EXPECT_NE(list.find("m328p      ATmega328P\n"), std::string::npos);
    EXPECT_EQ(list.find("lgt8f"), std::string::npos);
}

TEST(ToolchainArgs, ValueFiles) {
    const struct {
        std::string file;
        char format;
        std::vector<uint8_t> values;  // empty: refused
    } cases[] = {
        {"0xE2\n", 'h', {0xE2}},
        {"0xe2,0xd9 0b11111101\r\n", 'a', {0xE2, 0xD9, 0xFD}},
        {"226", 'd', {0xE2}},
        {"\xE2\xD9", 'r', {0xE2, 0xD9}},
        {":01000000E21D\r\n", 'i', {0xE2}},
        {"", 'h', {}},
        {"0xE2 zz", 'h', {}},
        {"256", 'd', {}},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> values = {7};
        std::string error;
        const bool read = ReadValueFile(c.file, c.format, values, error);
        EXPECT_EQ(read, !c.values.empty()) << c.file << ": " << error;
        if (read) {
            values.resize(c.values.size());
            EXPECT_EQ(values, c.values) << c.file;
        } else {
            EXPECT_EQ(values, std::vector<uint8_t>{7}) << c.file;
        }
    }
    EXPECT_EQ(FormatValueFile({0xE2, 0x05}, 'h'), "0xe2,0x05\n");
    EXPECT_EQ(FormatValueFile({0xE2}, 'd'), "226\n");
    EXPECT_EQ(FormatValueFile({0xE2}, 'b'), "0b11100010\n");
    EXPECT_EQ(FormatValueFile({0xE2}, 'r'), "\xE2");
}

}  // namespace
