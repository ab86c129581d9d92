// brenwick-cli run as a process against simulated ports: what it prints,
// where, and with which exit status.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "image/IntelHex.h"

#include "tests/support/FileText.h"

namespace fs = std::filesystem;

namespace {

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

class CliProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "brenwick-cli-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }

    // Runs the tool in the test's folder. With stderrTerminal its standard
    // error is a pseudo terminal, as in an interactive shell; then
    // signalOnProgress, when not 0, is sent to the tool once it has drawn
    // its first progress line: an operation is under way.
    Result Run(const std::vector<std::string>& args, bool stderrTerminal = false,
               int signalOnProgress = 0) {
        Result result;
        const fs::path outPath = m_dir / ".stdout";
        const fs::path errPath = m_dir / ".stderr";
        int master = -1;
        std::string slaveName;
        if (stderrTerminal) {
            master = ::posix_openpt(O_RDWR | O_NOCTTY);
            EXPECT_GE(master, 0);
            EXPECT_EQ(::grantpt(master), 0);
            EXPECT_EQ(::unlockpt(master), 0);
            slaveName = ::ptsname(master);
        }
        std::vector<std::string> argv = {BRENWICK_CLI_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        const pid_t pid = ::fork();
        if (pid == 0) {
            std::vector<char*> cargs;
            for (std::string& a : argv) {
                cargs.push_back(a.data());
            }
            cargs.push_back(nullptr);
            if (::chdir(m_dir.c_str()) != 0) {
                ::_exit(127);
            }
            const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int err = stderrTerminal
                                ? ::open(slaveName.c_str(), O_RDWR | O_NOCTTY)
                                : ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int in = ::open("/dev/null", O_RDONLY);
            if (out < 0 || err < 0 || in < 0) {
                ::_exit(127);
            }
            ::dup2(in, STDIN_FILENO);
            ::dup2(out, STDOUT_FILENO);
            ::dup2(err, STDERR_FILENO);
            ::execv(cargs[0], cargs.data());
            ::_exit(127);
        }
        if (stderrTerminal) {
            // Read until the child's end of the terminal is closed.
            char buffer[4096];
            for (;;) {
                const ssize_t got = ::read(master, buffer, sizeof buffer);
                if (got > 0) {
                    result.err.append(buffer, static_cast<size_t>(got));
                    if (signalOnProgress != 0 && result.err.find('%') != std::string::npos) {
                        ::kill(pid, signalOnProgress);
                        signalOnProgress = 0;
                    }
                } else if (got < 0 && errno == EINTR) {
                    continue;
                } else {
                    break;
                }
            }
            ::close(master);
        }
        int wstatus = 0;
        ::waitpid(pid, &wstatus, 0);
        result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
        result.out = ReadText(outPath);
        if (!stderrTerminal) {
            result.err = ReadText(errPath);
        }
        return result;
    }

    fs::path Path(const std::string& name) const { return m_dir / name; }

    fs::path m_dir;
};

// Lines as they must appear, each ended by "\n".
std::string Lines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\n";
    }
    return text;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::vector<uint8_t> RandomImage(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> image(size);
    for (uint8_t& b : image) {
        b = static_cast<uint8_t>(random());
    }
    return image;
}

constexpr const char* kProgram = ":0400000001020304f2\r\n:00000001ff\r\n";

TEST_F(CliProcessTest, HelpDescribesEveryActionAndFault) {
    const Result r = Run({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.err.empty()) << r.err;
    for (const char* word :
         {"--port",      "--device",     "--quiet",       "erase-prog",  "erase-data", "write-prog",
          "write-data",  "verify-prog",  "verify-data",   "read-prog",   "read-data",  "write-lock",
          "verify-lock", "read-lock",    "detect",        "check",       "state=",     "no-adapter",
          "no-target",   "stuck-flash=", "stuck-eeprom=", "erase-fails", "Exit status"}) {
        EXPECT_TRUE(Contains(r.out, word)) << word;
    }
}

TEST_F(CliProcessTest, UsageErrorsGiveStatusTwoAndAMessage) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {}, {"flash"}, {"--port", "COM7", "erase"}, {"write-lock", "lb9"}, {"--device"}}) {
        const Result r = Run(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(r.out.empty()) << r.out;
        EXPECT_TRUE(Contains(r.err, "brenwick-cli: ")) << r.err;
        EXPECT_TRUE(Contains(r.err, "--help")) << r.err;
    }
}

TEST_F(CliProcessTest, SessionWritesVerifiesAndReadsBackThroughAStateFile) {
    WriteText(Path("a.hex"), kProgram);
    const std::string port = "--port=sim:AT90S8535,state=chip.txt";
    Result r = Run({port, "erase", "write-prog", "a.hex", "verify-prog", "a.hex"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out,
              Lines({"Select device : AT90S8535", "Erasing ...", " Erase : Complete",
                     "File a.hex Opened", "Writing PROG to device ...", " Writing : Complete",
                     "File a.hex Opened", "Verifing PROG device ...", " Verify : Complete"}));
    EXPECT_TRUE(r.err.empty()) << "no progress line when standard error is no terminal";

    // A second run finds the chip as the first left it.
    r = Run({port, "verify-prog", "a.hex", "read-prog", "back.hex"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out,
              Lines({"Select device : AT90S8535", "File a.hex Opened", "Verifing PROG device ...",
                     " Verify : Complete", "Reading PROG device ...", " Reading : Complete",
                     "Save Prog File back.hex"}));
    std::vector<uint8_t> back;
    ASSERT_EQ(ReadHexImage(ReadText(Path("back.hex")), HexReadMode::Program, 8192, back),
              HexReadStatus::Ok);
    std::vector<uint8_t> expected(8192, 0xFF);
    expected[0] = 1, expected[1] = 2, expected[2] = 3, expected[3] = 4;
    EXPECT_EQ(back, expected);

    // A fresh chip does not hold the program.
    r = Run({"--port=sim:AT90S8535", "verify-prog", "a.hex"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.out, " Verify : Error at address 0000.\n")) << r.out;
}

TEST_F(CliProcessTest, DataMemoryAndWordLines) {
    WriteText(Path("d.hex"), ":02007e00aabb1b\n");
    WriteText(Path("w.hex"), "000001:940c\n");
    const std::string port = "--port=sim:AT90S2313";
    const Result r = Run({port, "--device", "2313", "write-data", "d.hex", "verify-data", "d.hex",
                          "write-prog", "w.hex", "read-data", "d2.hex", "read-prog", "p2.hex"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(Contains(r.out, "Writing Data to device ...\n Writing Data: Complete\n")) << r.out;
    EXPECT_TRUE(Contains(r.out, "Verifing device DATA ...\n Verify : Complete\n")) << r.out;
    EXPECT_TRUE(Contains(r.out, "Save Data File d2.hex\n")) << r.out;
    std::vector<uint8_t> data, prog;
    ASSERT_EQ(ReadHexImage(ReadText(Path("d2.hex")), HexReadMode::Data, 128, data),
              HexReadStatus::Ok);
    EXPECT_EQ(data[0x7E], 0xAA);
    EXPECT_EQ(data[0x7F], 0xBB);
    ASSERT_EQ(ReadHexImage(ReadText(Path("p2.hex")), HexReadMode::Program, 2048, prog),
              HexReadStatus::Ok);
    EXPECT_EQ(prog[2], 0x0C);
    EXPECT_EQ(prog[3], 0x94);
}

TEST_F(CliProcessTest, DataFileRunningPastTheMemoryIsAnAddressError) {
    // The third byte lies past the 128 bytes of the AT90S2313.
    WriteText(Path("d.hex"), ":03007e00aabbccfa\n");
    const Result r =
        Run({"--port=sim:AT90S2313", "--device=AT90S2313", "erase", "write-data", "d.hex"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, Lines({"Select device : AT90S2313", "File d.hex Opened",
                            " File Data Address Error."}));
}

TEST_F(CliProcessTest, LockBitsWrittenReadAndVerified) {
    const std::string port = "--port=sim:AT90S8535,state=chip.txt";
    Result r = Run({port, "--device", "8535", "write-lock", "lb2,fstrt", "read-lock", "verify-lock",
                    "fstrt,lb2"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, Lines({"Select device : AT90S8535", "Writing device LockBit ...",
                            " Write LockBit Complete", "Reading device LockBit ...",
                            " Read LockBit Complete", "Lock bits : lb2,fstrt",
                            "Verifing device LockBit ...", " Verify : Complete"}));
    // The state file keeps them for the next run.
    r = Run({port, "--device", "8535", "verify-lock", "none"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.out, " Verify : LockBit Error.\n")) << r.out;
    // A chip erase clears the lock bits; FSTRT is a fuse and stays.
    r = Run({port, "--device", "8535", "erase", "read-lock"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(Contains(r.out, "Lock bits : fstrt\n")) << r.out;
    // A part that cannot report them says so, and no bits are printed.
    r = Run({"--port=sim:AT90S1200", "--device=1200", "read-lock"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, Lines({"Select device : AT90S1200", "Reading device LockBit ...",
                            " Read LockBit : This device cannot report its lock bits."}));
    // A part of today's fuses, in the form the bytes are written in.
    r = Run({"--port=sim:ATmega328P", "--device=atmega328p", "read-fuses"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(
        r.out,
        Lines({" Read Fuses Complete", "Fuses : lfuse=0x62,hfuse=0xD9,efuse=0xFF", "lfuse = 0x62",
               "  CKDIV8     0 programmed     Clock divided by 8 at start"})))
        << r.out;
    EXPECT_TRUE(Contains(
        r.out, Lines({"efuse = 0xFF", "  BODLEVEL2  1 unprogrammed   Brown-out detection level"})))
        << r.out;
    EXPECT_TRUE(Contains(r.out, "\nCalibration : 0x9C\n")) << r.out;
    // Bits the program cannot name are shown by number.
    r = Run({"--port=sim:ATtiny1634", "--device=attiny1634", "read-fuses"});
    EXPECT_TRUE(Contains(r.out, Lines({"hfuse = 0xDF", "  bit 7      1 unprogrammed"}))) << r.out;
}

// Fuses are written only as asked, read back, and never into a setting that
// cuts the chip off unless the user says so; then the chip really is lost.
TEST_F(CliProcessTest, FusesWrittenVerifiedAndGuarded) {
    const std::string port = "--port=sim:ATtiny85,state=chip.txt";
    Result r = Run({port, "--device=attiny85", "write-fuses", "lfuse=0xE2", "verify-fuses",
                    "lfuse=0xe2,hfuse=0xdf", "read-fuses"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(Contains(r.out, "Fuses : lfuse=0xE2,hfuse=0xDF,efuse=0xFF\n")) << r.out;
    for (const char* cutOff :
         {"hfuse=0x5F", "hfuse=0x9F", "lfuse=0xE0"}) {  // RSTDISBL, DWEN, CKSEL
        r = Run({port, "--device=attiny85", "write-fuses", cutOff});
        EXPECT_EQ(r.status, 1) << cutOff;
        EXPECT_TRUE(Contains(r.out, " Write Fuses : Refused, nothing written: ")) << r.out;
    }
    r = Run({port, "--device=attiny85", "verify-fuses", "lfuse=0xE2,hfuse=0xDF"});
    EXPECT_EQ(r.status, 0) << r.out;
    // Bits that are no fuse are written unprogrammed and not compared.
    r = Run({port, "--device=attiny85", "write-fuses", "efuse=0x00", "verify-fuses", "efuse=0x00",
             "read-fuses"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(Contains(r.out, "Fuses : lfuse=0xE2,hfuse=0xDF,efuse=0xFE\n")) << r.out;
    r = Run({port, "--device=attiny85", "--allow-cutoff", "write-fuses", "hfuse=0x5F"});
    EXPECT_EQ(r.status, 0) << r.out;
    r = Run({port, "--device=attiny85", "read-fuses"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.out, " Read : Initialisation Error\n")) << r.out;
}

// Settings by name are made on top of the chip's own values and read back in
// words; a clock source that needs a crystal is refused in words, and a name
// the part does not have is an error that writes nothing.
TEST_F(CliProcessTest, FuseSettingsByNameWrittenAndReadInWords) {
    const std::string port = "--port=sim:ATmega328P,state=chip.txt";
    Result r = Run({port, "--device=atmega328p", "write-fuses", "clock=rc8m,ckdiv8=off,bod=2v7",
                    "read-fuses"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(Contains(r.out, "Fuses : lfuse=0xE2,hfuse=0xD9,efuse=0xFD\n")) << r.out;
    EXPECT_TRUE(Contains(
        r.out, Lines({"Clock source : internal RC oscillator 8 MHz",
                      "Start-up time : 6 CK, 14CK + 65 ms: slowly rising power",
                      "Brown-out level : 2.7 V", "Boot section : 2048 words, from word 0x3800"})))
        << r.out;
    r = Run({port, "--device=atmega328p", "write-fuses", "hfuse=0xDE,clock=xtal8m"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.out,
                         "Refused, nothing written: Clock source: external crystal 8 MHz "
                         "and up (8.0 - 16.0 MHz). A board without a crystal"))
        << r.out;
    r = Run({port, "--device=atmega328p", "write-fuses", "clock=pll"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "bad fuse setting \"clock=pll\": clock takes ext, rc8m")) << r.err;
    r = Run({port, "--device=atmega328p", "verify-fuses", "lfuse=0xE2,hfuse=0xD9,efuse=0xFD"});
    EXPECT_EQ(r.status, 0) << r.out;
    // verify-fuses compares bytes only.
    r = Run({port, "--device=atmega328p", "verify-fuses", "clock=rc8m"});
    EXPECT_EQ(r.status, 2);
}

TEST_F(CliProcessTest, DetectAndAutoDeviceIdentifyTheChip) {
    Result r = Run({"--port=sim:AT90S2313", "--device", "auto", "detect"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, Lines({"Auto Select device : ", " Select device : AT90S2313",
                            "Auto Select device : ", " Select device : AT90S2313"}));
    // The device found is the one the next actions use.
    WriteText(Path("d.hex"), ":01007f00116f\n");
    r = Run({"--port=sim:AT90S2313", "detect", "write-data", "d.hex"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(Contains(r.out, " Select device : AT90S2313\n")) << r.out;

    r = Run({"--port=sim:AT90S2313,no-adapter", "--device", "auto", "erase"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, Lines({"Auto Select device : ", " Device Error "}));
}

TEST_F(CliProcessTest, CheckTellsWhetherTheAdapterIsThere) {
    Result r = Run({"--port=sim:AT90S8535", "check"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, Lines({"Select device : AT90S8535", "Prog. Key ready"}));
    r = Run({"--port=sim:AT90S8535,no-adapter", "check", "erase"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, Lines({"Select device : AT90S8535", "Not found"}));
}

TEST_F(CliProcessTest, EveryFaultShowsAsTheWindowWouldReportIt) {
    WriteText(Path("a.hex"), kProgram);
    WriteText(Path("d.hex"), ":08000000112233445566778894\n");
    const struct {
        std::string fault;
        std::vector<std::string> actions;
        std::string line;
    } cases[] = {
        {"no-adapter", {"erase"}, " Erase : Initialisation Error\n"},
        {"no-target", {"write-prog", "a.hex"}, " Write : Initialisation Error\n"},
        {"stuck-flash=0x2", {"write-prog", "a.hex"}, " Write : Error at address 0002.\n"},
        {"stuck-eeprom=5", {"write-data", "d.hex"}, " Write Data : Error at address 0005.\n"},
        {"erase-fails", {"erase"}, " Erase : Error\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"--port=sim:AT90S8535," + c.fault};
        args.insert(args.end(), c.actions.begin(), c.actions.end());
        const Result r = Run(args);
        EXPECT_EQ(r.status, 1) << c.fault;
        EXPECT_TRUE(Contains(r.out, c.line)) << c.fault << ":\n" << r.out;
    }
}

TEST_F(CliProcessTest, FirstFailureEndsTheRun) {
    WriteText(Path("a.hex"), kProgram);
    const Result r =
        Run({"--port=sim:AT90S8535,stuck-flash=0", "write-prog", "a.hex", "read-lock", "check"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.out, " Write : Error at address 0000.\n")) << r.out;
    EXPECT_FALSE(Contains(r.out, "LockBit")) << r.out;
    EXPECT_FALSE(Contains(r.out, "Prog. Key")) << r.out;
}

TEST_F(CliProcessTest, BadOrMissingFileStopsBeforeTheDeviceIsTouched) {
    // Put a program on the chip, then try to erase and write a bad file.
    WriteText(Path("a.hex"), kProgram);
    const std::string port = "--port=sim:AT90S8535,state=chip.txt";
    ASSERT_EQ(Run({port, "write-prog", "a.hex"}).status, 0);
    const std::string chip = ReadText(Path("chip.txt"));

    WriteText(Path("bad.hex"), ":0400000001020304f3\n");
    Result r = Run({port, "erase", "write-prog", "bad.hex"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out,
              Lines({"Select device : AT90S8535", "File bad.hex Opened", " File Checksum Error."}));
    EXPECT_EQ(ReadText(Path("chip.txt")), chip) << "the chip was changed";

    r = Run({port, "erase", "verify-prog", "missing.hex"});
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(Contains(r.out, "Erasing")) << r.out;
    EXPECT_TRUE(Contains(r.err, "missing.hex")) << r.err;
    EXPECT_TRUE(Contains(r.err, "No such file")) << r.err;

    r = Run({port, "write-prog", "."});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "cannot read .")) << r.err;
    EXPECT_EQ(ReadText(Path("chip.txt")), chip);
}

TEST_F(CliProcessTest, FileReadFromTheDeviceEarlierInTheRunIsReadAtItsTurn) {
    const Result r = Run({"--port=sim:AT90S1200", "--device=1200", "read-prog", "now.hex",
                          "verify-prog", "now.hex"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(Contains(r.out, "Save Prog File now.hex\nFile now.hex Opened\n")) << r.out;
}

TEST_F(CliProcessTest, SaveThatFailsIsReportedAndKeepsNothingHalfWritten) {
    WriteText(Path("plain"), "x");
    const Result r = Run({"--port=sim:AT90S8535", "read-data", "plain/out.hex", "check"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.out, "Save Data File plain/out.hex\n File Save Error.\n")) << r.out;
    EXPECT_FALSE(Contains(r.out, "Prog. Key")) << r.out;
    EXPECT_TRUE(Contains(r.err, "cannot write plain/out.hex")) << r.err;
    EXPECT_EQ(ReadText(Path("plain")), "x");
}

TEST_F(CliProcessTest, PortThatCannotBeOpenedGivesTheReason) {
    Result r = Run({"--port", (m_dir / "no-such-tty").string(), "erase"});
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(Contains(r.out, "Erasing")) << r.out;
    EXPECT_TRUE(Contains(r.err, "cannot open port")) << r.err;
    EXPECT_TRUE(Contains(r.err, "no-such-tty")) << r.err;

    // A state file that is not one is left alone, not overwritten.
    WriteText(Path("broken.txt"), "not a state file\n");
    r = Run({"--port=sim:AT90S8535,state=broken.txt", "erase"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "cannot open port")) << r.err;
    EXPECT_EQ(ReadText(Path("broken.txt")), "not a state file\n");
}

TEST_F(CliProcessTest, ProgressOnATerminalOnlyAndNotWhenQuiet) {
    WriteText(Path("a.hex"), kProgram);
    Result r = Run({"--port=sim:AT90S1200", "--device=1200", "write-prog", "a.hex"}, true);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(Contains(r.err, "%")) << r.err;
    EXPECT_TRUE(Contains(r.err, "bytes/s")) << r.err;
    EXPECT_TRUE(Contains(r.out, " Writing : Complete\n")) << "messages stay on standard output";

    r = Run({"--quiet", "--port=sim:AT90S1200", "--device=1200", "write-prog", "a.hex"}, true);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.err.empty()) << r.err;
}

TEST_F(CliProcessTest, LargestDeviceRoundTripsAboveSixtyFourKilobytes) {
    const std::vector<uint8_t> image = RandomImage(131072, 103);
    WriteText(Path("big.hex"), FormatHexImage(image));
    const Result r = Run({"--port=sim:ATmega103", "--device=ATmega103", "write-prog", "big.hex",
                          "read-prog", "back.hex"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(ReadText(Path("back.hex")), FormatHexImage(image));
}

TEST_F(CliProcessTest, ExampleFirmwareSessionWithoutHardware) {
    const std::string example = std::string(BRENWICK_EXAMPLES_DIR) + "/blink.hex";
    const Result r = Run({"--port", "sim:AT90S8535", "erase", "write-prog", example, "verify-prog",
                          example, "read-prog", "copy.hex"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    std::vector<uint8_t> original, copy;
    ASSERT_EQ(ReadHexImage(ReadText(example), HexReadMode::Program, 8192, original),
              HexReadStatus::Ok);
    ASSERT_EQ(ReadHexImage(ReadText(Path("copy.hex")), HexReadMode::Program, 8192, copy),
              HexReadStatus::Ok);
    EXPECT_EQ(copy, original);
    EXPECT_EQ(original[0], 0x01);
    EXPECT_EQ(original[1], 0xE0) << "ldi r16, 1 at word 0";
}

// Ctrl-C, a kill and a closed terminal during a long run: the action under
// way stops at its next word and says where, the actions after it are not
// run, the exit status is the shell's for the signal, and the chip, saved as
// it stands, takes the next erase, write and verify.
TEST_F(CliProcessTest, InterruptStopsTheActionAndSaysWhere) {
    const std::vector<uint8_t> image = RandomImage(131072, 104);
    WriteText(Path("big.hex"), FormatHexImage(image));
    const std::string port = "--port=sim:ATmega103,state=chip.txt";
    const struct {
        int signal;
        int status;
    } signals[] = {{SIGINT, 130}, {SIGTERM, 143}, {SIGHUP, 129}};
    for (const auto& s : signals) {
        SCOPED_TRACE(s.signal);
        Result r = Run({port, "--device=ATmega103", "write-prog", "big.hex", "verify-prog",
                        "big.hex", "read-prog", "back.hex", "verify-prog", "big.hex"},
                       true, s.signal);
        EXPECT_EQ(r.status, s.status) << r.out << r.err;
        size_t stopped = 0;
        for (size_t at = r.out.find(" : Stopped at address "); at != std::string::npos;
             at = r.out.find(" : Stopped at address ", at + 1)) {
            ++stopped;
        }
        EXPECT_EQ(stopped, 1u) << r.out;
        EXPECT_TRUE(Contains(r.err, "not run")) << r.err;
        const size_t stop = r.out.find(" : Stopped");
        EXPECT_TRUE(stop == std::string::npos ||
                    r.out.find("device ...", stop) == std::string::npos)
            << "an action after the stop began: " << r.out;
        ASSERT_TRUE(fs::exists(Path("chip.txt"))) << "the chip is not saved as it stands";
    }

    const Result r = Run(
        {port, "--device=ATmega103", "erase", "write-prog", "big.hex", "verify-prog", "big.hex"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
}

// A simulated stop, a pulled cable and a target without power, as the tool
// reports them: the stop as a Ctrl-C, the others as failures naming what
// happened.
TEST_F(CliProcessTest, FaultsOnTheWayAreReportedAsWhatTheyAre) {
    WriteText(Path("a.hex"), kProgram);
    Result r = Run({"--port=sim:AT90S8535,stop-after=3000", "write-prog", "a.hex", "read-lock"});
    EXPECT_EQ(r.status, 130) << r.out << r.err;
    EXPECT_TRUE(Contains(r.out, " Write : Stopped at address ")) << r.out;

    r = Run({"--port=sim:AT90S8535,unplug-after=3000", "write-prog", "a.hex", "read-lock"});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_TRUE(Contains(r.out,
                         " Write : Port sim:AT90S8535,unplug-after=3000 stopped answering"
                         " at address "))
        << r.out;
    EXPECT_FALSE(Contains(r.out, "Initialisation Error")) << r.out;

    r = Run({"--port=sim:AT90S8535,power-off-after=3000", "write-prog", "a.hex"});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_TRUE(Contains(r.out, " Write : Error at address ")) << r.out;
}

}  // namespace
