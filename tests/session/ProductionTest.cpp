// Production runs: recipe errors, serial number layouts, the next-file and
// several workers at once on simulated sockets, some of them faulty.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "parts/DeviceTable.h"
#include "session/ProductionRun.h"
#include "session/Recipe.h"
#include "session/SerialNumber.h"
#include "tests/support/FileText.h"

namespace fs = std::filesystem;

namespace {

constexpr unsigned kByteMask = 0xFF;
constexpr int kRecordBytes = 16;

// One Intel HEX data record and the end record.
std::string HexText(int address, const std::vector<uint8_t>& bytes) {
    std::string text;
    for (size_t at = 0; at < bytes.size(); at += kRecordBytes) {
        const size_t count = std::min(bytes.size() - at, static_cast<size_t>(kRecordBytes));
        const unsigned start = static_cast<unsigned>(address) + static_cast<unsigned>(at);
        unsigned sum = static_cast<unsigned>(count) + (start >> 8) + (start & kByteMask);
        char head[16];
        std::snprintf(head, sizeof head, ":%02X%04X00", static_cast<unsigned>(count), start);
        text += head;
        for (size_t i = 0; i < count; ++i) {
            char byte[4];
            std::snprintf(byte, sizeof byte, "%02X", bytes[at + i]);
            text += byte;
            sum += bytes[at + i];
        }
        char check[8];
        std::snprintf(check, sizeof check, "%02X\n", (0x100 - (sum & kByteMask)) & kByteMask);
        text += check;
    }
    return text + ":00000001FF\n";
}

class ProductionTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "brenwick-production-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
        // 16 program bytes at 0, 4 EEPROM bytes at 0x20.
        WriteText(m_dir / "firmware.hex", HexText(0, std::vector<uint8_t>(16, 0x12)));
        WriteText(m_dir / "data.hex", HexText(0x20, {0xFF, 0x01, 0x02, 0x03}));
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }
    std::string Path(const char* name) const { return (m_dir / name).string(); }
    std::string Write(const std::string& text) {
        WriteText(m_dir / "line.brenwick", text);
        return Path("line.brenwick");
    }

    fs::path m_dir;
};

const char* const kGoodRecipe =
    "[Recipe]\n"
    "part = ATtiny13          ; name\n"
    "flash = firmware.hex\n"
    "eeprom = data.hex\n"
    "fuses = lfuse=6A\n"
    "steps = erase,flash,eeprom,verify,fuses\n"
    "[Serial]\n"
    "memory = eeprom\n"
    "address = 0x10\n"
    "size = 2\n"
    "first = 1000\n"
    "next-file = serial.next\n"
    "[Calibration]\n"
    "store = eeprom:0x0F\n";

struct RecipeErrorCase {
    const char* name;
    const char* from;  // a line of the good recipe, replaced by to ("" appends)
    const char* to;
    const char* message;  // part of the one line
};

const RecipeErrorCase kRecipeErrors[] = {
    {"unknown key", "", "colour = red\n",
     "line.brenwick:15: unknown key \"colour\" in [calibration]"},
    {"unknown section", "", "[Extra]\n", "line.brenwick:15: unknown section [Extra]"},
    {"no assignment", "", "just words\n", "line.brenwick:15: expected key = value"},
    {"key twice", "size = 2\n", "size = 2\nsize = 3\n", "line.brenwick:11: size given twice"},
    {"unknown part", "part = ATtiny13          ; name\n", "part = ATtiny99\n",
     "line.brenwick:2: unknown part \"ATtiny99\""},
    {"bad step", "steps = erase,flash,eeprom,verify,fuses\n", "steps = erase,blink\n",
     "line.brenwick:6: unknown step \"blink\""},
    {"fuse that cuts off", "fuses = lfuse=6A\n", "fuses = hfuse=0xFE\n",
     "line.brenwick:5: these fuses cut the chip off"},
    {"size too large", "size = 2\n", "size = 9\n", "line.brenwick:10: size is 1 to 8 bytes"},
    {"bad format", "size = 2\n", "size = 2\nformat = roman\n", "format is binary, bcd"},
    {"first does not fit", "first = 1000\n", "first = 70000\n",
     "line.brenwick:7: serial number 70000 does not fit 2 bytes"},
    {"outside the memory", "address = 0x10\n", "address = 63\n",
     "line.brenwick:7: the serial number (2 bytes at 63) lies outside the 64 bytes of the EEPROM"},
    {"over the EEPROM file", "address = 0x10\n", "address = 0x1F\n",
     "overlaps the program's own EEPROM byte at address 32"},
    {"over the flash image", "memory = eeprom\naddress = 0x10\n",
     "memory = flash\naddress = 0x0E\n", "overlaps the program's own flash byte at address 14"},
    {"calibration over serial", "store = eeprom:0x0F\n", "store = eeprom:0x11\n",
     "the calibration byte overlaps the serial number"},
    {"fuse byte too large", "fuses = lfuse=6A\n", "fuses = lfuse=0x16A\n",
     "line.brenwick:5: bad fuse \"lfuse=0x16a\""},
    {"flash file missing", "flash = firmware.hex\n", "flash = nothere.hex\n",
     "line.brenwick:3: cannot read"},
};

TEST_F(ProductionTest, EachRecipeErrorIsOneClearLineAndNothingIsWritten) {
    for (const RecipeErrorCase& c : kRecipeErrors) {
        std::string text = kGoodRecipe;
        if (*c.from == '\0') {
            text += c.to;
        } else {
            const size_t at = text.find(c.from);
            ASSERT_NE(at, std::string::npos) << c.name;
            text.replace(at, std::string(c.from).size(), c.to);
        }
        Recipe recipe;
        std::string error;
        const std::string path = Write(text);
        bool ok = LoadRecipe(path, recipe, error);
        if (ok) {
            ProductionOptions options;
            CProductionRun run(recipe, options, nullptr, nullptr);
            ok = run.Prepare(error);
        }
        EXPECT_FALSE(ok) << c.name;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.name << ": " << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << c.name;
        EXPECT_FALSE(fs::exists(Path("serial.next"))) << c.name;
        EXPECT_FALSE(fs::exists(Path("line.log.csv"))) << c.name;
    }
}

struct SerialCase {
    uint64_t value;
    const char* format;
    int size;
    bool big;
    int width;
    std::vector<uint8_t> bytes;  // empty: does not fit
};

const SerialCase kSerialCases[] = {
    {0x12345678, "binary", 4, false, 0, {0x78, 0x56, 0x34, 0x12}},
    {0x12345678, "binary", 4, true, 0, {0x12, 0x34, 0x56, 0x78}},
    {255, "binary", 1, false, 0, {0xFF}},
    {256, "binary", 1, false, 0, {}},
    {UINT64_MAX, "binary", 8, true, 0, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
    {1234, "bcd", 2, true, 0, {0x12, 0x34}},
    {1234, "bcd", 3, false, 0, {0x34, 0x12, 0x00}},
    {10000, "bcd", 2, true, 0, {}},
    {42, "ascii-dec", 4, false, 0, {'0', '0', '4', '2'}},
    {42, "ascii-dec", 4, true, 6, {'0', '0', '0', '0', '4', '2'}},
    {10000, "ascii-dec", 4, false, 0, {}},
    {0xBEEF, "ascii-hex", 2, false, 4, {'B', 'E', 'E', 'F'}},
    {0x10000, "ascii-hex", 2, false, 4, {}},
};

TEST(SerialNumberTest, FormatsAndSizes) {
    for (const SerialCase& c : kSerialCases) {
        SerialFormat format;
        ASSERT_TRUE(ParseSerialEncoding(c.format, format.encoding)) << c.format;
        format.size = c.size;
        format.bigEndian = c.big;
        format.width = c.width;
        std::vector<uint8_t> bytes;
        const bool fits = EncodeSerial(c.value, format, bytes);
        EXPECT_EQ(fits, !c.bytes.empty()) << c.value << " " << c.format;
        if (fits) {
            EXPECT_EQ(bytes, c.bytes) << c.value << " " << c.format;
        }
    }
}

TEST_F(ProductionTest, NextFileIsReservedAheadAndLockedAgainstASecondRun) {
    CSerialCounter first;
    std::string error;
    ASSERT_TRUE(first.Open(Path("serial.next"), 500, 3, error)) << error;
    uint64_t value = 0;
    ASSERT_TRUE(first.Reserve(value, error));
    EXPECT_EQ(value, 500U);
    // On disk before the number was handed out: the one after it.
    EXPECT_EQ(ReadText(m_dir / "serial.next"), "503\n");
    CSerialCounter second;
    EXPECT_FALSE(second.Open(Path("serial.next"), 500, 3, error));
    EXPECT_NE(error.find("in use by another run"), std::string::npos) << error;
    first.Close();
    ASSERT_TRUE(second.Open(Path("serial.next"), 500, 3, error)) << error;
    ASSERT_TRUE(second.Reserve(value, error));
    EXPECT_EQ(value, 503U);
}

// The log's lines split into fields, quoted fields as CSV has them.
std::vector<std::vector<std::string>> LogRows(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<std::string> fields(1);
        bool quoted = false;
        for (size_t i = 0; i < line.size(); ++i) {
            const char c = line[i];
            if (c == '"' && quoted && i + 1 < line.size() && line[i + 1] == '"') {
                fields.back() += '"';
                ++i;
            } else if (c == '"') {
                quoted = !quoted;
            } else if (c == ',' && !quoted) {
                fields.emplace_back();
            } else {
                fields.back() += c;
            }
        }
        rows.push_back(fields);
    }
    return rows;
}

TEST_F(ProductionTest, FourWorkersWithFaultsGiveEveryNumberOnce) {
    Recipe recipe;
    std::string error;
    ASSERT_TRUE(LoadRecipe(Write(kGoodRecipe), recipe, error)) << error;
    ProductionOptions options;
    options.automatic = true;
    options.count = 9;
    options.ports = {"sim:ATtiny13,chips=3", "sim:ATtiny13,chips=3,stuck-flash=0x4",
                     "sim:ATtiny13,chips=3", "sim:ATtiny25,chips=2"};
    std::vector<std::string> reported;
    CProductionRun run(recipe, options, nullptr,
                       [&reported](const std::string& line) { reported.push_back(line); });
    ASSERT_TRUE(run.Prepare(error)) << error;
    const ProductionSummary summary = run.Run();
    EXPECT_EQ(summary.passed, 6);
    EXPECT_EQ(summary.failed, 3);
    EXPECT_EQ(summary.stations[1].failed, 3);
    // The wrong part is refused each time it comes, as long as the run lasts.
    EXPECT_GE(summary.stations[3].refused, 1);
    EXPECT_GT(summary.chipsPerMinute, 0);

    const auto rows = LogRows(ReadText(m_dir / "line.log.csv"));
    ASSERT_EQ(rows.size(), 1U + 9U + static_cast<size_t>(summary.stations[3].refused));
    EXPECT_EQ(rows[0][0], "time");
    std::set<std::string> serials;
    for (size_t i = 1; i < rows.size(); ++i) {
        ASSERT_EQ(rows[i].size(), 10U) << i;
        const std::string& result = rows[i][8];
        if (result == "refused") {
            EXPECT_EQ(rows[i][4], "");  // a refused chip gets no number
            EXPECT_NE(rows[i][9].find("is not the ATtiny13/13A's"), std::string::npos);
            continue;
        }
        EXPECT_TRUE(serials.insert(rows[i][4]).second) << "number used twice: " << rows[i][4];
        EXPECT_FALSE(rows[i][5].empty());  // the calibration byte read
        if (result == "fail") {
            EXPECT_NE(rows[i][1].find("stuck-flash"), std::string::npos);
            EXPECT_NE(rows[i][9].find("Error at address 0004"), std::string::npos) << rows[i][9];
        }
    }
    EXPECT_EQ(serials.size(), 9U);
    EXPECT_EQ(*serials.begin(), "1000");
    EXPECT_EQ(ReadText(m_dir / "serial.next"), "1009\n");
}

// part = takes what the window's chooser and the tool's -p take: a name, a
// device number or a toolchain id, in any case.
TEST_F(ProductionTest, PartIsANameANumberOrAnId) {
    const struct {
        const char* part;
        const char* row;  // nullptr: refused
    } cases[] = {
        {"ATtiny13", "ATtiny13/13A"},
        {"t13a", "ATtiny13/13A"},
        {"M328P", "ATmega328P"},
        {"2313", "AT90S2313"},
        {"t1614", "ATtiny1614"},
        {"attiny1614", "ATtiny1614"},
        {"m999", nullptr},
        {"lgt8f328p", nullptr},
    };
    for (const auto& c : cases) {
        Recipe recipe;
        std::string error;
        const bool ok = ParseRecipe(std::string("[Recipe]\npart = ") + c.part + "\nsteps = erase\n",
                                    Path("line.brenwick"), recipe, error);
        ASSERT_EQ(ok, c.row != nullptr) << c.part << ": " << error;
        if (ok) {
            EXPECT_STREQ(g_deviceTable[recipe.deviceRow].name, c.row) << c.part;
        } else {
            EXPECT_NE(error.find("unknown part"), std::string::npos) << c.part << ": " << error;
        }
    }
}

const char* const kUpdiRecipe =
    "[Recipe]\n"
    "part = t1614\n"
    "flash = firmware.hex\n"
    "eeprom = data.hex\n"
    "steps = erase,flash,eeprom,verify\n"
    "[Serial]\n"
    "memory = eeprom\n"
    "address = 0x10\n"
    "size = 2\n"
    "first = 1000\n"
    "next-file = serial.next\n";

// What a UPDI part cannot give is refused with the recipe, before any chip.
TEST_F(ProductionTest, UpdiRecipeAsksOnlyForWhatThePartGives) {
    const RecipeErrorCase cases[] = {
        {"calibration byte", "", "[Calibration]\nstore = eeprom:0x0F\n",
         "line.brenwick:13: ATtiny1614 gives no calibration byte"},
        {"ISP fuse byte", "steps = erase,flash,eeprom,verify\n",
         "fuses = lfuse=0xE2\nsteps = erase,flash,eeprom,verify,fuses\n",
         "line.brenwick:5: ATtiny1614 has no lfuse"},
    };
    for (const RecipeErrorCase& c : cases) {
        std::string text = kUpdiRecipe;
        if (*c.from == '\0') {
            text += c.to;
        } else {
            text.replace(text.find(c.from), std::string(c.from).size(), c.to);
        }
        Recipe recipe;
        std::string error;
        EXPECT_FALSE(ParseRecipe(text, Path("line.brenwick"), recipe, error)) << c.name;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.name << ": " << error;
    }
}

// A UPDI part goes through the UPDI adapter the port leads to: each chip of
// the simulated socket gets its number, written and verified; a port that
// leads to the ISP adapter is refused before it is asked for a chip.
TEST_F(ProductionTest, UpdiRecipeRunsOnSimulatedUpdiSockets) {
    Recipe recipe;
    std::string error;
    ASSERT_TRUE(ParseRecipe(kUpdiRecipe, Path("line.brenwick"), recipe, error)) << error;
    ProductionOptions options;
    options.automatic = true;
    options.count = 3;
    options.ports = {"sim:ATtiny1614,chips=3", "sim:ATtiny13,chips=1"};
    CProductionRun run(recipe, options, nullptr, nullptr);
    ASSERT_TRUE(run.Prepare(error)) << error;
    const ProductionSummary summary = run.Run();
    EXPECT_EQ(summary.passed, 3);
    EXPECT_EQ(summary.failed, 0);
    EXPECT_EQ(summary.stations[0].passed, 3);
    // The socket's time includes the UPDI adapter's own: seconds a chip at
    // the adapter's baud, not nothing.
    EXPECT_GT(summary.chipsPerMinute, 1.0);
    EXPECT_LT(summary.chipsPerMinute, 1000.0);
    EXPECT_NE(summary.stations[1].error.find("is programmed through UPDI"), std::string::npos)
        << summary.stations[1].error;
    const auto rows = LogRows(ReadText(m_dir / "line.log.csv"));
    ASSERT_EQ(rows.size(), 4U);
    for (size_t i = 1; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i][8], "pass") << rows[i][9];
        EXPECT_EQ(rows[i][4], std::to_string(999 + i));
        EXPECT_EQ(rows[i][3], "1E 94 22");
    }
    EXPECT_EQ(ReadText(m_dir / "serial.next"), "1003\n");
}

}  // namespace
