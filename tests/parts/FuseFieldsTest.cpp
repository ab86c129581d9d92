// Fuse settings in words: known bytes decode to the datasheets' words, and
// settings chosen by name give the bytes the datasheets' tables say.
#include <gtest/gtest.h>

#include <vector>

#include "parts/DeviceTable.h"
#include "parts/FuseFields.h"

namespace {

const DeviceInfo& Part(const char* name) {
    return g_deviceTable[FindDeviceByName(name)];
}

std::string Words(const DeviceInfo& device, const FuseByteValues& fuses, const char* key) {
    for (const FuseSetting& setting : DecodeFuseFields(device, fuses)) {
        if (std::string(setting.key) == key) {
            return setting.words;
        }
    }
    return "(no " + std::string(key) + ")";
}

struct DecodeRow {
    const char* part;
    FuseByteValues fuses;
    const char* clock;
    const char* startup;
    const char* bod;
    const char* boot;  // nullptr: the part has no boot section
};

// The factory values of each part first, then values boards use.
const DecodeRow kDecodeRows[] = {
    {"ATmega328P",
     {0x62, 0xD9, 0xFF},
     "internal RC oscillator 8 MHz, divided by 8: 1 MHz",
     "6 CK, 14CK + 65 ms: slowly rising power",
     "brown-out detection off",
     "2048 words, from word 0x3800"},
    {"ATtiny85",
     {0x62, 0xDF, 0xFF},
     "internal RC oscillator 8 MHz, divided by 8: 1 MHz",
     "6 CK, 14CK + 64 ms: slowly rising power",
     "brown-out detection off",
     nullptr},
    {"ATmega2560",
     {0x62, 0x99, 0xFF},
     "internal RC oscillator 8 MHz, divided by 8: 1 MHz",
     "6 CK, 14CK + 65 ms: slowly rising power",
     "brown-out detection off",
     "4096 words, from word 0x1F000"},
    // BODEN unprogrammed: BODLEVEL names only the level it would take.
    {"ATmega8",
     {0xE1, 0xD9, 0xFF},
     "internal RC oscillator 1 MHz",
     "6 CK, 65 ms: slowly rising power",
     "off (level 2.7 V when enabled)",
     "1024 words, from word 0x0C00"},
    {"ATtiny13",
     {0x6A, 0xFF, 0xFF},
     "internal RC oscillator 9.6 MHz, divided by 8: 1.2 MHz",
     "6 CK, 14CK + 64 ms: slowly rising power",
     "brown-out detection off",
     nullptr},
    // A 16 MHz board with a boot loader.
    {"ATmega328P",
     {0xFF, 0xDE, 0xFD},
     "external crystal 8 MHz and up (8.0 - 16.0 MHz)",
     "16K CK, 14CK + 65 ms: crystal oscillator, slowly rising power",
     "2.7 V",
     "256 words, from word 0x3F00"},
    {"ATmega2560",
     {0xFF, 0xD8, 0xFD},
     "external crystal 8 MHz and up (8.0 - 16.0 MHz)",
     "16K CK, 14CK + 65 ms: crystal oscillator, slowly rising power",
     "2.7 V",
     "4096 words, from word 0x1F000"},
    {"ATmega8",
     {0xDF, 0xCA, 0xFF},
     "external crystal 3.0 - 8.0 MHz (CKOPT on: 1 MHz and up)",
     "16K CK, no delay: crystal oscillator, BOD enabled",
     "off (level 2.7 V when enabled)",
     "512 words, from word 0x0E00"},
    {"ATmega8",
     {0x1F, 0xCA, 0xFF},
     "external crystal 3.0 - 8.0 MHz (CKOPT on: 1 MHz and up)",
     "16K CK, no delay: crystal oscillator, BOD enabled",
     "on, level 4.0 V",
     "512 words, from word 0x0E00"},
    // The ATtiny15 compatibility mode has a start-up table of its own.
    {"ATtiny85",
     {0x63, 0xDF, 0xFF},
     "ATtiny15 compatibility mode (internal oscillator), divided by 8",
     "6 CK, 14CK + 4 ms",
     "brown-out detection off",
     nullptr},
    {"ATtiny85",
     {0xF3, 0xDF, 0xFF},
     "ATtiny15 compatibility mode (internal oscillator)",
     "1 CK, 14CK",
     "brown-out detection off",
     nullptr},
    {"ATtiny85",
     {0xD3, 0xDF, 0xFF},
     "ATtiny15 compatibility mode (internal oscillator)",
     "a value the datasheet does not list (bits 0x10)",
     "brown-out detection off",
     nullptr},
    {"ATtiny85",
     {0xF1, 0xD5, 0xFF},
     "high frequency PLL clock 16 MHz",
     "14CK + 16K CK + 64 ms: slowly rising power",
     "2.7 V",
     nullptr},
    {"ATtiny13",
     {0x7B, 0xF9, 0xFF},
     "internal 128 kHz oscillator",
     "6 CK, 14CK + 64 ms: slowly rising power",
     "4.3 V",
     nullptr},
    {"ATtiny13",
     {0x68, 0xFB, 0xFF},
     "external clock on CLKI, divided by 8",
     "6 CK, 14CK + 64 ms: slowly rising power",
     "2.7 V",
     nullptr},
    // Values the tables reserve are said to be so.
    {"ATmega328P",
     {0x61, 0xD9, 0xF8},
     "a value the datasheet does not list (bits 0x01)",
     "set by the clock source",
     "a value the datasheet does not list (bits 0x00)",
     "2048 words, from word 0x3800"},
    {"ATmega328P",
     {0x72, 0xD9, 0xFF},
     "internal RC oscillator 8 MHz, divided by 8: 1 MHz",
     "a value the datasheet does not list (bits 0x30)",
     "brown-out detection off",
     "2048 words, from word 0x3800"},
};

TEST(FuseFieldsTest, BytesDecodeToTheDatasheetsWords) {
    for (const DecodeRow& row : kDecodeRows) {
        SCOPED_TRACE(row.part);
        const DeviceInfo& device = Part(row.part);
        EXPECT_EQ(Words(device, row.fuses, "clock"), row.clock);
        EXPECT_EQ(Words(device, row.fuses, "startup"), row.startup);
        EXPECT_EQ(Words(device, row.fuses, "bod"), row.bod);
        EXPECT_EQ(Words(device, row.fuses, "boot"), row.boot != nullptr ? row.boot : "(no boot)");
    }
    // A part whose tables were not at hand shows its bits only.
    EXPECT_TRUE(DecodeFuseFields(Part("ATmega164A"), {0x62, 0x99, 0xFF}).empty());
}

// Each clock code of each family against the words of its datasheet's
// "Device Clocking Options Select" table (and the crystal, RC and internal
// oscillator mode tables below it), written out here so that two rows of the
// description swapped with each other fail: choosing and reading back would
// still agree. The low fuse is base | code, the divider off.
struct ClockRow {
    const char* part;
    uint8_t base;
    std::vector<const char*> words;  // by CKSEL code, from 0
};

constexpr const char* kMegaCrystal[] = {
    "external low-frequency crystal 32.768 kHz", "external ceramic resonator 0.4 - 0.9 MHz",
    "external crystal 0.9 - 3.0 MHz", "external crystal 3.0 - 8.0 MHz",
    "external crystal 8 MHz and up (8.0 - 16.0 MHz)"};

std::vector<const char*> MegaClocks(const char* fullSwing) {
    return {"external clock on XTAL1",
            "a value the datasheet does not list (bits 0x01)",
            "internal RC oscillator 8 MHz",
            "internal 128 kHz RC oscillator",
            kMegaCrystal[0],
            kMegaCrystal[0],
            fullSwing,
            fullSwing,
            kMegaCrystal[1],
            kMegaCrystal[1],
            kMegaCrystal[2],
            kMegaCrystal[2],
            kMegaCrystal[3],
            kMegaCrystal[3],
            kMegaCrystal[4],
            kMegaCrystal[4]};
}

TEST(FuseFieldsTest, EveryClockCodeReadsAsItsDatasheetRow) {
    const char* const tinyReserved5 = "a value the datasheet does not list (bits 0x05)";
    const char* const tinyReserved7 = "a value the datasheet does not list (bits 0x07)";
    const char* const mega8Crystal[] = {
        "external ceramic resonator 0.4 - 0.9 MHz (CKOPT on: 1 MHz and up)",
        "external crystal 0.9 - 3.0 MHz (CKOPT on: 1 MHz and up)",
        "external crystal 3.0 - 8.0 MHz (CKOPT on: 1 MHz and up)"};
    const ClockRow rows[] = {
        {"ATmega328P", 0xE0, MegaClocks("external full swing crystal 0.4 - 20 MHz")},
        {"ATmega2560", 0xE0, MegaClocks("external full swing crystal 0.4 - 16 MHz")},
        {"ATtiny85",
         0xE0,
         {"external clock on CLKI", "high frequency PLL clock 16 MHz",
          "internal RC oscillator 8 MHz", "ATtiny15 compatibility mode (internal oscillator)",
          "internal 128 kHz oscillator", tinyReserved5, "external low-frequency crystal 32.768 kHz",
          tinyReserved7, "external ceramic resonator 0.4 - 0.9 MHz",
          "external ceramic resonator 0.4 - 0.9 MHz", "external crystal 0.9 - 3.0 MHz",
          "external crystal 0.9 - 3.0 MHz", "external crystal 3.0 - 8.0 MHz",
          "external crystal 3.0 - 8.0 MHz", "external crystal 8 MHz and up",
          "external crystal 8 MHz and up"}},
        {"ATtiny13",
         0x78,
         {"external clock on CLKI", "internal RC oscillator 4.8 MHz",
          "internal RC oscillator 9.6 MHz", "internal 128 kHz oscillator"}},
        {"ATmega8",
         0xE0,
         {"external clock on XTAL1", "internal RC oscillator 1 MHz", "internal RC oscillator 2 MHz",
          "internal RC oscillator 4 MHz", "internal RC oscillator 8 MHz",
          "external RC oscillator up to 0.9 MHz", "external RC oscillator 0.9 - 3.0 MHz",
          "external RC oscillator 3.0 - 8.0 MHz", "external RC oscillator 8.0 - 12.0 MHz",
          "external low-frequency crystal 32.768 kHz", mega8Crystal[0], mega8Crystal[0],
          mega8Crystal[1], mega8Crystal[1], mega8Crystal[2], mega8Crystal[2]}},
    };
    for (const ClockRow& row : rows) {
        for (size_t code = 0; code < row.words.size(); ++code) {
            const FuseByteValues fuses{static_cast<uint8_t>(row.base | code), 0xDF, 0xFF};
            SCOPED_TRACE(std::string(row.part) + " low fuse " + std::to_string(fuses[0]));
            EXPECT_EQ(Words(Part(row.part), fuses, "clock"), row.words[code]);
        }
    }
}

struct EncodeRow {
    const char* part;
    FuseByteValues from;
    const char* settings;
    FuseByteValues to;
    uint8_t touched;
};

const EncodeRow kEncodeRows[] = {
    {"ATmega328P",
     {0x62, 0xD9, 0xFF},
     "clock=xtal8m,startup=xtal16k-slow,ckdiv8=off",
     {0xFF, 0xD9, 0xFF},
     kLowFuse},
    // The start-up time is given before the clock source it belongs to.
    {"ATmega328P",
     {0x62, 0xD9, 0xFF},
     "startup=res258-fast,CLOCK=xtal3m",
     {0x4C, 0xD9, 0xFF},
     kLowFuse},
    {"ATmega328P",
     {0x62, 0xD9, 0xFF},
     "bod=2v7,boot=256w,bootrst=on",
     {0x62, 0xDE, 0xFD},
     kHighFuse | kExtendedFuse},
    {"ATmega2560",
     {0x62, 0x99, 0xFF},
     "boot=512w,clock=ext",
     {0x60, 0x9F, 0xFF},
     kLowFuse | kHighFuse},
    {"ATtiny85", {0x62, 0xDF, 0xFF}, "clock=pll", {0x61, 0xDF, 0xFF}, kLowFuse},
    // From the PLL's SUT 11, which the RC table reserves, to its longest
    // start-up.
    {"ATtiny85", {0xF1, 0xDF, 0xFF}, "clock=rc8m", {0xE2, 0xDF, 0xFF}, kLowFuse},
    {"ATtiny85", {0x62, 0xDF, 0xFF}, "bod=4v3,eesave=on", {0x62, 0xD4, 0xFF}, kHighFuse},
    // SUT 01 is not listed for the ATtiny15 mode: its longest listed
    // start-up is taken instead of keeping the bits.
    {"ATtiny85", {0xD2, 0xDF, 0xFF}, "clock=tiny15", {0xE3, 0xDF, 0xFF}, kLowFuse},
    {"ATtiny85", {0xD2, 0xDF, 0xFF}, "clock=tiny15,startup=1ck", {0xF3, 0xDF, 0xFF}, kLowFuse},
    {"ATtiny13",
     {0x6A, 0xFF, 0xFF},
     "clock=rc4m8,ckdiv8=off,bod=2v7",
     {0x79, 0xFB, 0xFF},
     kLowFuse | kHighFuse},
    {"ATmega8", {0xE1, 0xD9, 0xFF}, "clock=rc8m,bod=4v0,boden=on", {0x24, 0xD9, 0xFF}, kLowFuse},
    {"ATmega8",
     {0xE1, 0xD9, 0xFF},
     "clock=extrc12m,startup=6ck-fast,ckopt=on",
     {0xF8, 0xC9, 0xFF},
     kLowFuse | kHighFuse},
};

TEST(FuseFieldsTest, SettingsByNameGiveTheBytes) {
    for (const EncodeRow& row : kEncodeRows) {
        SCOPED_TRACE(std::string(row.part) + " " + row.settings);
        FuseByteValues fuses = row.from;
        uint8_t touched = 0;
        std::string error;
        ASSERT_TRUE(ApplyFuseSettings(Part(row.part), row.settings, fuses, touched, error))
            << error;
        EXPECT_EQ(fuses, row.to);
        EXPECT_EQ(touched, row.touched);
    }
}

TEST(FuseFieldsTest, NamesAPartDoesNotHaveAreRefusedSayingWhatItTakes) {
    const struct {
        const char* part;
        const char* settings;
        const char* says;
    } rows[] = {
        {"ATmega328P", "clock=rc9m6", "clock takes ext, rc8m, rc128k,"},
        {"ATmega328P", "clock=rc8m,startup=xtal16k-slow", "startup takes bod, fast, slow"},
        {"ATmega328P", "clock=rc8m,bogus=on", "this device takes clock=, bod=, boot=, startup="},
        {"ATmega328P", "rstdisbl=maybe", "with on (programmed) or off"},
        {"ATmega328P", "cksel0=on", "bad fuse setting \"cksel0=on\""},
        {"ATtiny85", "boot=256w", "bad fuse setting \"boot=256w\""},
        {"ATtiny85", "clock=tiny15,startup=slow", "startup takes 6ck-4ms, 1ck"},
        {"ATmega164A", "clock=rc8m", "bad fuse setting"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.settings);
        FuseByteValues fuses{0x62, 0xD9, 0xFF};
        uint8_t touched = 0;
        std::string error;
        EXPECT_FALSE(ApplyFuseSettings(Part(row.part), row.settings, fuses, touched, error));
        EXPECT_NE(error.find(row.says), std::string::npos) << error;
        EXPECT_EQ(fuses, (FuseByteValues{0x62, 0xD9, 0xFF}));
    }
}

// Every value each table lists can be chosen, by name or from the list, and
// reads back as itself without disturbing the bits of any other field.
TEST(FuseFieldsTest, EveryListedValueCanBeChosenAndReadsBack) {
    const struct {
        const char* part;
        FuseByteValues factory;
    } parts[] = {{"ATmega328P", {0x62, 0xD9, 0xFF}},
                 {"ATtiny85", {0x62, 0xDF, 0xFF}},
                 {"ATmega2560", {0x62, 0x99, 0xFF}},
                 {"ATmega8", {0xE1, 0xD9, 0xFF}},
                 {"ATtiny13", {0x6A, 0xFF, 0xFF}}};
    for (const auto& part : parts) {
        const DeviceInfo& device = Part(part.part);
        const std::vector<FuseSetting> before = DecodeFuseFields(device, part.factory);
        ASSERT_FALSE(before.empty()) << part.part;
        for (const FuseSetting& setting : before) {
            for (int c = 0; setting.field != nullptr && c < setting.field->count; ++c) {
                const FuseChoice& choice = setting.field->choices[c];
                SCOPED_TRACE(std::string(part.part) + " " + setting.key + "=" + choice.key);
                FuseByteValues fuses = part.factory;
                uint8_t touched = 0;
                std::string error;
                ASSERT_TRUE(ApplyFuseSettings(device, std::string(setting.key) + "=" + choice.key,
                                              fuses, touched, error))
                    << error;
                const std::vector<FuseSetting> after = DecodeFuseFields(device, fuses);
                for (size_t i = 0; i < after.size(); ++i) {
                    if (std::string(after[i].key) == setting.key) {
                        EXPECT_EQ(after[i].choice, &choice);
                    } else if (std::string(after[i].key) != "startup") {
                        EXPECT_EQ(after[i].choice, before[i].choice);
                    } else if (after[i].field != nullptr) {
                        EXPECT_NE(after[i].choice, nullptr);  // a start-up the table lists
                    }
                }
            }
        }
    }
}

TEST(FuseFieldsTest, CutOffReasonNamesTheClockSourceAndWhatTheBoardNeeds) {
    std::string reason;
    ASSERT_TRUE(FuseClockCutOffReason(Part("ATmega328P"), {0xFF, 0xD9, 0xFF}, reason));
    EXPECT_EQ(reason,
              "Clock source: external crystal 8 MHz and up (8.0 - 16.0 MHz). A board without a "
              "crystal or resonator on XTAL1/XTAL2 then stops answering; it can be programmed "
              "again only with a crystal or an external clock");
    ASSERT_TRUE(FuseClockCutOffReason(Part("ATtiny13"), {0x68, 0xFF, 0xFF}, reason));
    EXPECT_NE(reason.find("external clock on CLKI, divided by 8. A board without a clock signal "
                          "on CLKI"),
              std::string::npos);
    ASSERT_TRUE(FuseClockCutOffReason(Part("ATtiny85"), {0x64, 0xDF, 0xFF}, reason));
    EXPECT_NE(reason.find("internal 128 kHz oscillator, divided by 8: 16 kHz. Serial"),
              std::string::npos);
    EXPECT_FALSE(FuseClockCutOffReason(Part("ATmega164A"), {0xFF, 0x99, 0xFF}, reason));
}

}  // namespace
