// A production run killed mid-chip (SIGKILL, as a crash or a pulled plug
// would end it) and started again: no serial number is given twice, and
// every line of the log is whole.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/FileText.h"

namespace fs = std::filesystem;

namespace {

constexpr int kLogFields = 10;
constexpr int kSerialField = 4;
constexpr auto kPollPause = std::chrono::milliseconds(5);
constexpr int kPollLimit = 12000;  // a minute

const char* const kRecipe =
    "[Recipe]\n"
    "part = m328p\n"
    "flash = firmware.hex\n"
    "steps = erase,flash,eeprom,verify\n"
    "[Serial]\n"
    "memory = eeprom\n"
    "address = 0\n"
    "size = 4\n"
    "format = bcd\n"
    "endian = big\n"
    "first = 5000\n"
    "next-file = serial.next\n";

pid_t Start(const fs::path& dir, const std::vector<std::string>& args) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::chdir(dir.c_str()) != 0) {
            ::_exit(127);
        }
        const std::string out = (dir / ".stdout").string();
        if (::freopen(out.c_str(), "a", stdout) == nullptr) {
            ::_exit(127);
        }
        std::vector<char*> argv;
        std::string tool = BRENWICK_CLI_PATH;
        argv.push_back(tool.data());
        std::vector<std::string> copies = args;
        for (std::string& arg : copies) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        ::execv(tool.c_str(), argv.data());
        ::_exit(127);
    }
    return pid;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

TEST(ProductionProcessTest, KilledMidChipAndRestartedNeverGivesANumberTwice) {
    std::string pattern = (fs::temp_directory_path() / "brenwick-kill-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const fs::path dir = pattern;
    WriteText(dir / "line.brenwick", kRecipe);
    WriteText(dir / "firmware.hex", ":0400000001020304F2\n:00000001FF\n");
    const std::vector<std::string> args = {
        "--recipe", "line.brenwick", "--auto", "--port", "sim:ATmega328P,chips=100", "--count"};

    std::vector<std::string> first = args;
    first.push_back("100");
    const pid_t pid = Start(dir, first);
    ASSERT_GT(pid, 0);
    // Killed once two chips are logged: the third is under way.
    int polls = 0;
    while (Lines(ReadText(dir / "line.log.csv")).size() < 3 && polls++ < kPollLimit) {
        std::this_thread::sleep_for(kPollPause);
    }
    ASSERT_EQ(::kill(pid, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the run ended before it was killed";

    std::vector<std::string> again = args;
    again.push_back("3");
    const pid_t second = Start(dir, again);
    ASSERT_EQ(::waitpid(second, &status, 0), second);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << ReadText(dir / ".stdout");

    const std::vector<std::string> log = Lines(ReadText(dir / "line.log.csv"));
    ASSERT_GE(log.size(), 1U + 2U + 3U);
    EXPECT_EQ(log[0].rfind("time,port,part", 0), 0U);
    std::set<uint64_t> serials;
    for (size_t i = 1; i < log.size(); ++i) {
        EXPECT_NE(log[i].rfind("time,", 0), 0U) << "a second header";
        std::vector<std::string> fields;
        std::istringstream cells(log[i]);
        std::string field;
        while (std::getline(cells, field, ',')) {
            fields.push_back(field);
        }
        // The port name is quoted: it holds a comma.
        ASSERT_GE(fields.size(), static_cast<size_t>(kLogFields)) << log[i];
        const std::string serial = fields[kSerialField + 1];
        if (serial.empty()) {
            continue;  // a line ended by the kill (none expected: each is one write)
        }
        EXPECT_TRUE(serials.insert(std::stoull(serial)).second) << "given twice: " << serial;
    }
    EXPECT_GE(serials.size(), 5U);
    const uint64_t next = std::stoull(ReadText(dir / "serial.next"));
    EXPECT_GT(next, *serials.rbegin());
    std::error_code ec;
    fs::remove_all(dir, ec);
}

TEST(ProductionProcessTest, CtrlCStopsEverySocketCleanly) {
    std::string pattern = (fs::temp_directory_path() / "brenwick-stop-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const fs::path dir = pattern;
    WriteText(dir / "line.brenwick", kRecipe);
    WriteText(dir / "firmware.hex", ":0400000001020304F2\n:00000001FF\n");
    const pid_t pid =
        Start(dir, {"--recipe", "line.brenwick", "--auto", "--port", "sim:ATmega328P,chips=100",
                    "--port", "sim:ATmega328P,chips=100,erase-fails"});
    ASSERT_GT(pid, 0);
    int polls = 0;
    while (Lines(ReadText(dir / "line.log.csv")).size() < 3 && polls++ < kPollLimit) {
        std::this_thread::sleep_for(kPollPause);
    }
    ASSERT_EQ(::kill(pid, SIGINT), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 128 + SIGINT);
    const std::string out = ReadText(dir / ".stdout");
    EXPECT_NE(out.find("Total: "), std::string::npos) << out;
    // Every socket's line in the summary, the faulty one with its failures.
    EXPECT_NE(out.find("sim:ATmega328P,chips=100: "), std::string::npos) << out;
    EXPECT_NE(out.find("erase-fails: 0 passed"), std::string::npos) << out;
    std::error_code ec;
    fs::remove_all(dir, ec);
}

}  // namespace
