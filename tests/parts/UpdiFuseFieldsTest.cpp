// UPDI fuses in words: the values as shipped decode to the datasheets' words,
// every value of the fields that matter most is pinned to its table, settings
// by name give the bytes, unknown names are refused with what is allowed, and
// the cut-off guard speaks only where a fuse can take the UPDI pin away.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "parts/UpdiFuseFields.h"
#include "parts/UpdiParts.h"

namespace {

const SUpdiPart& Part(const char* name) {
    const SUpdiPart* part = CUpdiParts::ByName(name);
    EXPECT_NE(part, nullptr) << name;
    return part != nullptr ? *part : CUpdiParts::At(0);
}

size_t At(const SUpdiPart& part, const char* fuse) {
    for (size_t i = 0; i < part.fuses.count; ++i) {
        if (std::string(part.fuses.fuses[i].name) == fuse) {
            return i;
        }
    }
    ADD_FAILURE() << part.name << " has no " << fuse;
    return 0;
}

UpdiFuseBytes Factory(const SUpdiPart& part) {
    UpdiFuseBytes values;
    EXPECT_TRUE(UpdiFactoryFuses(part, values)) << part.name;
    return values;
}

std::string Words(const std::vector<SUpdiFuseLine>& lines, const char* fuse, const char* name) {
    for (const SUpdiFuseLine& line : lines) {
        if (std::string(line.fuse) == fuse && std::string(line.name) == name) {
            return line.words;
        }
    }
    return std::string("(no ") + fuse + "." + name + ")";
}

// --- The values as shipped, in words: one row a field of every fuse of one
// part of each worded family.
struct FactoryRow {
    const char* part;
    const char* fuse;
    const char* name;
    const char* words;
};

constexpr const char* kOff = "off";
constexpr const char* kBodOff = "disabled";
constexpr const char* k20MHz = "20 MHz (internal oscillator, factory calibrated)";
constexpr const char* kUnlocked = "off: the oscillator's calibration registers can be written";
constexpr const char* kEeErased = "off: a chip erase erases the EEPROM";
constexpr const char* kTinyUpdi = "UPDI: PA0 is the UPDI pin";
constexpr const char* kNoCrc = "no CRC";
constexpr const char* k64Ms = "64 ms";
constexpr const char* kAllBootApp =
    "no application sections: the boot section end is 0, the whole flash is boot section";
constexpr const char* kBoot16K = "0: the whole flash is boot section, 0x0000-0x3FFF (16384 bytes)";
constexpr const char* kTcdLow = "0 (low)";
constexpr const char* kOscHf = "the internal high-frequency oscillator";
constexpr const char* kPf6Gpio = "GPIO: PF6 is a port pin";
constexpr const char* kPf7Updi = "UPDI: PF7 is the UPDI pin";
constexpr const char* kDualSupply = "dual supply: PORTC runs from VDDIO2 (MVIO)";
constexpr const char* kBoot128K =
    "0: the whole flash is boot section, 0x0000-0x1FFFF (131072 bytes)";
constexpr const char* kBoot64K = "0: the whole flash is boot section, 0x0000-0xFFFF (65536 bytes)";

const FactoryRow kFactoryRows[] = {
    // tinyAVR 0-series
    {"ATtiny1604", "wdtcfg", "PERIOD", kOff},
    {"ATtiny1604", "wdtcfg", "WINDOW", kOff},
    {"ATtiny1604", "bodcfg", "SLEEP", kBodOff},
    {"ATtiny1604", "bodcfg", "ACTIVE", kBodOff},
    {"ATtiny1604", "bodcfg", "SAMPFREQ", "1 kHz"},
    {"ATtiny1604", "bodcfg", "LVL", "1.8 V"},
    {"ATtiny1604", "osccfg", "FREQSEL", k20MHz},
    {"ATtiny1604", "osccfg", "OSCLOCK", kUnlocked},
    {"ATtiny1604", "syscfg0", "EESAVE", kEeErased},
    {"ATtiny1604", "syscfg0", "RSTPINCFG", kTinyUpdi},
    {"ATtiny1604", "syscfg0", "CRCSRC", kNoCrc},
    {"ATtiny1604", "syscfg1", "SUT", k64Ms},
    {"ATtiny1604", "append", "append", kAllBootApp},
    {"ATtiny1604", "bootend", "bootend", kBoot16K},
    // tinyAVR 1-series
    {"ATtiny1614", "wdtcfg", "PERIOD", kOff},
    {"ATtiny1614", "wdtcfg", "WINDOW", kOff},
    {"ATtiny1614", "bodcfg", "SLEEP", kBodOff},
    {"ATtiny1614", "bodcfg", "ACTIVE", kBodOff},
    {"ATtiny1614", "bodcfg", "SAMPFREQ", "1 kHz"},
    {"ATtiny1614", "bodcfg", "LVL", "1.8 V"},
    {"ATtiny1614", "osccfg", "FREQSEL", k20MHz},
    {"ATtiny1614", "osccfg", "OSCLOCK", kUnlocked},
    {"ATtiny1614", "tcd0cfg", "CMPA", kTcdLow},
    {"ATtiny1614", "tcd0cfg", "CMPB", kTcdLow},
    {"ATtiny1614", "tcd0cfg", "CMPC", kTcdLow},
    {"ATtiny1614", "tcd0cfg", "CMPD", kTcdLow},
    {"ATtiny1614", "tcd0cfg", "CMPAEN", kOff},
    {"ATtiny1614", "tcd0cfg", "CMPBEN", kOff},
    {"ATtiny1614", "tcd0cfg", "CMPCEN", kOff},
    {"ATtiny1614", "tcd0cfg", "CMPDEN", kOff},
    {"ATtiny1614", "syscfg0", "EESAVE", kEeErased},
    {"ATtiny1614", "syscfg0", "RSTPINCFG", kTinyUpdi},
    {"ATtiny1614", "syscfg0", "CRCSRC", kNoCrc},
    {"ATtiny1614", "syscfg1", "SUT", k64Ms},
    {"ATtiny1614", "append", "append", kAllBootApp},
    {"ATtiny1614", "bootend", "bootend", kBoot16K},
    // tinyAVR 2-series
    {"ATtiny1626", "wdtcfg", "PERIOD", kOff},
    {"ATtiny1626", "wdtcfg", "WINDOW", kOff},
    {"ATtiny1626", "bodcfg", "SLEEP", kBodOff},
    {"ATtiny1626", "bodcfg", "ACTIVE", kBodOff},
    {"ATtiny1626", "bodcfg", "SAMPFREQ", "1 kHz"},
    {"ATtiny1626", "bodcfg", "LVL", "1.8 V"},
    {"ATtiny1626", "osccfg", "FREQSEL", k20MHz},
    {"ATtiny1626", "osccfg", "OSCLOCK", kUnlocked},
    {"ATtiny1626", "syscfg0", "EESAVE", kEeErased},
    {"ATtiny1626", "syscfg0", "RSTPINCFG", kTinyUpdi},
    {"ATtiny1626", "syscfg0", "TOUTDIS", "on: the time-out is disabled"},
    {"ATtiny1626", "syscfg0", "CRCSRC", kNoCrc},
    {"ATtiny1626", "syscfg1", "SUT", k64Ms},
    {"ATtiny1626", "append", "append", kAllBootApp},
    {"ATtiny1626", "bootend", "bootend", kBoot16K},
    // megaAVR 0-series
    {"ATmega4809", "wdtcfg", "PERIOD", kOff},
    {"ATmega4809", "wdtcfg", "WINDOW", kOff},
    {"ATmega4809", "bodcfg", "SLEEP", kBodOff},
    {"ATmega4809", "bodcfg", "ACTIVE", kBodOff},
    {"ATmega4809", "bodcfg", "SAMPFREQ", "1 kHz"},
    {"ATmega4809", "bodcfg", "LVL", "1.8 V"},
    {"ATmega4809", "osccfg", "FREQSEL", k20MHz},
    {"ATmega4809", "osccfg", "OSCLOCK", kUnlocked},
    {"ATmega4809", "syscfg0", "EESAVE", kEeErased},
    {"ATmega4809", "syscfg0", "RSTPINCFG", "GPIO: PF6 is a port pin"},
    {"ATmega4809", "syscfg0", "CRCSRC", kNoCrc},
    {"ATmega4809", "syscfg1", "SUT", k64Ms},
    {"ATmega4809", "append", "append", kAllBootApp},
    {"ATmega4809", "bootend", "bootend",
     "0: the whole flash is boot section, 0x0000-0xBFFF (49152 bytes)"},
    // AVR DA
    {"AVR128DA48", "wdtcfg", "PERIOD", kOff},
    {"AVR128DA48", "wdtcfg", "WINDOW", kOff},
    {"AVR128DA48", "bodcfg", "SLEEP", kBodOff},
    {"AVR128DA48", "bodcfg", "ACTIVE", kBodOff},
    {"AVR128DA48", "bodcfg", "SAMPFREQ", "128 Hz"},
    {"AVR128DA48", "bodcfg", "LVL", "1.9 V"},
    {"AVR128DA48", "osccfg", "CLKSEL", kOscHf},
    {"AVR128DA48", "syscfg0", "EESAVE", kEeErased},
    {"AVR128DA48", "syscfg0", "RSTPINCFG", kPf6Gpio},
    {"AVR128DA48", "syscfg0", "CRCSEL", "CRC16"},
    {"AVR128DA48", "syscfg0", "CRCSRC", kNoCrc},
    {"AVR128DA48", "syscfg1", "SUT", "0 ms"},
    {"AVR128DA48", "codesize", "codesize", kAllBootApp},
    {"AVR128DA48", "bootsize", "bootsize", kBoot128K},
    // AVR DB: MVIO in SYSCFG1.
    {"AVR128DB48", "wdtcfg", "PERIOD", kOff},
    {"AVR128DB48", "wdtcfg", "WINDOW", kOff},
    {"AVR128DB48", "bodcfg", "SLEEP", kBodOff},
    {"AVR128DB48", "bodcfg", "ACTIVE", kBodOff},
    {"AVR128DB48", "bodcfg", "SAMPFREQ", "128 Hz"},
    {"AVR128DB48", "bodcfg", "LVL", "1.9 V"},
    {"AVR128DB48", "osccfg", "CLKSEL", kOscHf},
    {"AVR128DB48", "syscfg0", "EESAVE", kEeErased},
    {"AVR128DB48", "syscfg0", "RSTPINCFG", kPf6Gpio},
    {"AVR128DB48", "syscfg0", "CRCSEL", "CRC16"},
    {"AVR128DB48", "syscfg0", "CRCSRC", kNoCrc},
    {"AVR128DB48", "syscfg1", "SUT", "0 ms"},
    {"AVR128DB48", "syscfg1", "MVSYSCFG", kDualSupply},
    {"AVR128DB48", "codesize", "codesize", kAllBootApp},
    {"AVR128DB48", "bootsize", "bootsize", kBoot128K},
    // AVR DD: the UPDI pin in SYSCFG0.
    {"AVR64DD32", "wdtcfg", "PERIOD", kOff},
    {"AVR64DD32", "wdtcfg", "WINDOW", kOff},
    {"AVR64DD32", "bodcfg", "SLEEP", kBodOff},
    {"AVR64DD32", "bodcfg", "ACTIVE", kBodOff},
    {"AVR64DD32", "bodcfg", "SAMPFREQ", "128 Hz"},
    {"AVR64DD32", "bodcfg", "LVL", "1.9 V"},
    {"AVR64DD32", "osccfg", "CLKSEL", kOscHf},
    {"AVR64DD32", "syscfg0", "EESAVE", kEeErased},
    {"AVR64DD32", "syscfg0", "RSTPINCFG", kPf6Gpio},
    {"AVR64DD32", "syscfg0", "UPDIPINCFG", kPf7Updi},
    {"AVR64DD32", "syscfg0", "CRCSEL", "CRC16"},
    {"AVR64DD32", "syscfg0", "CRCSRC", kNoCrc},
    {"AVR64DD32", "syscfg1", "SUT", "0 ms"},
    {"AVR64DD32", "syscfg1", "MVSYSCFG", kDualSupply},
    {"AVR64DD32", "codesize", "codesize", kAllBootApp},
    {"AVR64DD32", "bootsize", "bootsize", kBoot64K},
    // AVR EA: the oscillator's frequency, no MVIO.
    {"AVR64EA48", "wdtcfg", "PERIOD", kOff},
    {"AVR64EA48", "wdtcfg", "WINDOW", kOff},
    {"AVR64EA48", "bodcfg", "SLEEP", kBodOff},
    {"AVR64EA48", "bodcfg", "ACTIVE", kBodOff},
    {"AVR64EA48", "bodcfg", "SAMPFREQ", "128 Hz"},
    {"AVR64EA48", "bodcfg", "LVL", "1.65 V"},
    {"AVR64EA48", "osccfg", "OSCHFFRQ", "20 MHz (internal oscillator)"},
    {"AVR64EA48", "syscfg0", "EESAVE", kEeErased},
    {"AVR64EA48", "syscfg0", "RSTPINCFG", kPf6Gpio},
    {"AVR64EA48", "syscfg0", "UPDIPINCFG", kPf7Updi},
    {"AVR64EA48", "syscfg0", "CRCSEL", "CRC16"},
    {"AVR64EA48", "syscfg0", "CRCSRC", kNoCrc},
    {"AVR64EA48", "syscfg1", "SUT", k64Ms},
    {"AVR64EA48", "codesize", "codesize", kAllBootApp},
    {"AVR64EA48", "bootsize", "bootsize", kBoot64K},
};

TEST(UpdiFuseFieldsTest, FactoryValuesDecodeToTheDatasheetsWords) {
    for (const FactoryRow& row : kFactoryRows) {
        const SUpdiPart& part = Part(row.part);
        EXPECT_EQ(Words(DecodeUpdiFuses(part, Factory(part)), row.fuse, row.name), row.words)
            << row.part << " " << row.fuse << "." << row.name;
    }
}

// Every line the decode gives for a representative part has a row above, so
// a field added to the tables needs its factory words here too.
TEST(UpdiFuseFieldsTest, FactoryRowsCoverEveryLine) {
    for (const char* name : {"ATtiny1604", "ATtiny1614", "ATtiny1626", "ATmega4809", "AVR128DA48",
                             "AVR128DB48", "AVR64DD32", "AVR64EA48"}) {
        const SUpdiPart& part = Part(name);
        size_t rows = 0;
        for (const FactoryRow& row : kFactoryRows) {
            rows += std::string(row.part) == name ? 1 : 0;
        }
        EXPECT_EQ(DecodeUpdiFuses(part, Factory(part)).size(), rows) << name;
    }
}

// The values as shipped of the fuses file, one part of each family.
struct FactoryBytesRow {
    const char* part;
    std::vector<uint8_t> bytes;  // in the part's layout order
};
const FactoryBytesRow kFactoryBytes[] = {
    {"ATtiny1604", {0x00, 0x00, 0x7E, 0xF6, 0xFF, 0x00, 0x00}},
    {"ATtiny1614", {0x00, 0x00, 0x02, 0x00, 0xC4, 0x07, 0x00, 0x00}},
    {"ATtiny1626", {0x00, 0x00, 0x7E, 0xF6, 0xFF, 0x00, 0x00}},
    {"ATmega4809", {0x00, 0x00, 0x02, 0xC4, 0x07, 0x00, 0x00}},
    {"AVR128DA48", {0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00}},
    {"AVR128DB48", {0x00, 0x00, 0x00, 0xC0, 0x08, 0x00, 0x00}},
    {"AVR64DD32", {0x00, 0x00, 0x00, 0xD0, 0x08, 0x00, 0x00}},
    {"AVR64EA48", {0x00, 0x00, 0x00, 0xD0, 0x07, 0x00, 0x00}},
};

TEST(UpdiFuseFieldsTest, FactoryBytesPerFamily) {
    for (const FactoryBytesRow& row : kFactoryBytes) {
        EXPECT_EQ(Factory(Part(row.part)), row.bytes) << row.part;
    }
}

// Every part is worded, and its values as shipped decode without a value
// the datasheet does not list.
TEST(UpdiFuseFieldsTest, EveryPartIsWorded) {
    for (size_t i = 0; i < CUpdiParts::Count(); ++i) {
        const SUpdiPart& part = CUpdiParts::At(i);
        EXPECT_NE(UpdiFuseWordSetOf(part), nullptr) << part.name;
        const std::vector<SUpdiFuseLine> lines = DecodeUpdiFuses(part, Factory(part));
        EXPECT_FALSE(lines.empty()) << part.name;
        for (const SUpdiFuseLine& line : lines) {
            EXPECT_EQ(line.words.find("does not list"), std::string::npos)
                << part.name << " " << line.name;
        }
    }
}

// A part no word set claims (a signature of none) is refused in words and
// decodes to nothing: the front ends then show and take bytes.
SUpdiPart Unworded() {
    SUpdiPart part = Part("AVR128DB48");
    part.signature[2] = 0xFF;
    return part;
}

// The word set and the part's fuse layout name the same fuses; fields of a
// byte do not overlap; every value fits its field; a field's name is unique in
// its set (so "lvl=" needs no fuse); a signature is in one set only.
TEST(UpdiFuseFieldsTest, WordSetsAgreeWithTheLayouts) {
    for (size_t i = 0; i < CUpdiParts::Count(); ++i) {
        const SUpdiPart& part = CUpdiParts::At(i);
        const SUpdiFuseWordSet* set = UpdiFuseWordSetOf(part);
        if (set == nullptr) {
            continue;
        }
        ASSERT_EQ(set->count, part.fuses.count) << part.name;
        for (size_t f = 0; f < set->count; ++f) {
            EXPECT_EQ(UpdiFuseWordsOf(part, part.fuses.fuses[f].name), &set->fuses[f])
                << part.name << " " << part.fuses.fuses[f].name;
        }
    }
    for (size_t i = 0; i < CUpdiParts::Count(); ++i) {
        const SUpdiFuseWordSet* set = UpdiFuseWordSetOf(CUpdiParts::At(i));
        if (set == nullptr) {
            continue;
        }
        std::vector<std::string> names;
        for (size_t f = 0; f < set->count; ++f) {
            const SUpdiFuseWords& fuse = set->fuses[f];
            EXPECT_EQ(fuse.section != EUpdiFuseSection::kNone, fuse.blockBytes != 0) << fuse.fuse;
            uint8_t used = 0;
            for (size_t k = 0; k < fuse.count; ++k) {
                const SUpdiFuseField& field = fuse.fields[k];
                EXPECT_EQ(used & field.mask, 0) << field.name;
                used = static_cast<uint8_t>(used | field.mask);
                for (const std::string& other : names) {
                    EXPECT_NE(other, field.name) << set->series;
                }
                names.push_back(field.name);
                for (size_t c = 0; c < field.count; ++c) {
                    EXPECT_EQ(ApplyUpdiFuseChoice(0, field, field.choices[c]) & ~field.mask, 0)
                        << field.name << " " << field.choices[c].name;
                    EXPECT_EQ(ApplyUpdiFuseChoice(0xFF, field, field.choices[c]) | field.mask, 0xFF)
                        << field.name;
                }
            }
        }
    }
    // Every signature a set lists is a part's, and that part gets this set:
    // no two sets claim a part.
    for (size_t i = 0; i < CUpdiParts::Count(); ++i) {
        const SUpdiFuseWordSet* set = UpdiFuseWordSetOf(CUpdiParts::At(i));
        for (size_t s = 0; set != nullptr && s < set->signatureCount; ++s) {
            const SUpdiPart* part = CUpdiParts::BySignature(set->signatures[s]);
            ASSERT_NE(part, nullptr) << set->series << " " << s;
            EXPECT_EQ(UpdiFuseWordSetOf(*part), set) << part->name;
        }
    }
}

// --- Every choice of RSTPINCFG, FREQSEL, LVL and SUT, pinned to the
// datasheets' tables: its key, its bits in the byte and its words.
struct ChoiceRow {
    const char* part;
    const char* field;
    const char* key;
    uint8_t bits;
    const char* words;
};

const ChoiceRow kChoiceRows[] = {
    // RSTPINCFG, tinyAVR 0/1: PA0 is the UPDI pin.
    {"ATtiny1614", "RSTPINCFG", "gpio", 0x00, "GPIO: PA0 is a port pin"},
    {"ATtiny1614", "RSTPINCFG", "updi", 0x04, "UPDI: PA0 is the UPDI pin"},
    {"ATtiny1614", "RSTPINCFG", "rst", 0x08, "RESET: PA0 is the RESET pin"},
    {"ATtiny1604", "RSTPINCFG", "gpio", 0x00, "GPIO: PA0 is a port pin"},
    {"ATtiny1604", "RSTPINCFG", "updi", 0x04, "UPDI: PA0 is the UPDI pin"},
    {"ATtiny1604", "RSTPINCFG", "rst", 0x08, "RESET: PA0 is the RESET pin"},
    // tinyAVR 2: a fourth value keeps the UPDI and moves RESET.
    {"ATtiny1626", "RSTPINCFG", "gpio", 0x00, "GPIO: PA0 is a port pin"},
    {"ATtiny1626", "RSTPINCFG", "updi", 0x04, "UPDI: PA0 is the UPDI pin"},
    {"ATtiny1626", "RSTPINCFG", "rst", 0x08, "RESET: PA0 is the RESET pin"},
    {"ATtiny1626", "RSTPINCFG", "pdirst", 0x0C,
     "UPDI on PA0, RESET on the alternative reset pin PB4"},
    // megaAVR 0: one bit, for PF6.
    {"ATmega4809", "RSTPINCFG", "gpio", 0x00, "GPIO: PF6 is a port pin"},
    {"ATmega4809", "RSTPINCFG", "rst", 0x08, "RESET: PF6 is the RESET pin"},
    // FREQSEL
    {"ATtiny1604", "FREQSEL", "16mhz", 0x01, "16 MHz (internal oscillator, factory calibrated)"},
    {"ATtiny1604", "FREQSEL", "20mhz", 0x02, "20 MHz (internal oscillator, factory calibrated)"},
    {"ATtiny1614", "FREQSEL", "16mhz", 0x01, "16 MHz (internal oscillator, factory calibrated)"},
    {"ATtiny1614", "FREQSEL", "20mhz", 0x02, "20 MHz (internal oscillator, factory calibrated)"},
    {"ATtiny1626", "FREQSEL", "16mhz", 0x01, "16 MHz (internal oscillator, factory calibrated)"},
    {"ATtiny1626", "FREQSEL", "20mhz", 0x02, "20 MHz (internal oscillator, factory calibrated)"},
    {"ATmega4809", "FREQSEL", "16mhz", 0x01, "16 MHz (internal oscillator, factory calibrated)"},
    {"ATmega4809", "FREQSEL", "20mhz", 0x02, "20 MHz (internal oscillator, factory calibrated)"},
    // LVL: tinyAVR 0/1 and megaAVR 0 list three levels.
    {"ATtiny1604", "LVL", "bodlevel0", 0x00, "1.8 V"},
    {"ATtiny1604", "LVL", "bodlevel2", 0x40, "2.6 V"},
    {"ATtiny1604", "LVL", "bodlevel7", 0xE0, "4.3 V"},
    {"ATtiny1614", "LVL", "bodlevel0", 0x00, "1.8 V"},
    {"ATtiny1614", "LVL", "bodlevel2", 0x40, "2.6 V"},
    {"ATtiny1614", "LVL", "bodlevel7", 0xE0, "4.3 V"},
    {"ATmega4809", "LVL", "bodlevel0", 0x00, "1.8 V"},
    {"ATmega4809", "LVL", "bodlevel2", 0x40, "2.6 V"},
    {"ATmega4809", "LVL", "bodlevel7", 0xE0, "4.3 V"},
    // LVL: tinyAVR 2 lists all eight.
    {"ATtiny1626", "LVL", "bodlevel0", 0x00, "1.8 V"},
    {"ATtiny1626", "LVL", "bodlevel1", 0x20, "2.15 V"},
    {"ATtiny1626", "LVL", "bodlevel2", 0x40, "2.60 V"},
    {"ATtiny1626", "LVL", "bodlevel3", 0x60, "2.95 V"},
    {"ATtiny1626", "LVL", "bodlevel4", 0x80, "3.30 V"},
    {"ATtiny1626", "LVL", "bodlevel5", 0xA0, "3.70 V"},
    {"ATtiny1626", "LVL", "bodlevel6", 0xC0, "4.00 V"},
    {"ATtiny1626", "LVL", "bodlevel7", 0xE0, "4.30 V"},
    // SUT, the same on every family.
    {"ATtiny1614", "SUT", "0ms", 0x00, "0 ms"},
    {"ATtiny1614", "SUT", "1ms", 0x01, "1 ms"},
    {"ATtiny1614", "SUT", "2ms", 0x02, "2 ms"},
    {"ATtiny1614", "SUT", "4ms", 0x03, "4 ms"},
    {"ATtiny1614", "SUT", "8ms", 0x04, "8 ms"},
    {"ATtiny1614", "SUT", "16ms", 0x05, "16 ms"},
    {"ATtiny1614", "SUT", "32ms", 0x06, "32 ms"},
    {"ATtiny1614", "SUT", "64ms", 0x07, "64 ms"},
    {"ATmega4809", "SUT", "0ms", 0x00, "0 ms"},
    {"ATmega4809", "SUT", "64ms", 0x07, "64 ms"},
    {"ATtiny1626", "SUT", "0ms", 0x00, "0 ms"},
    {"ATtiny1626", "SUT", "64ms", 0x07, "64 ms"},
    // AVR DA/DB: RSTPINCFG two bits for PF6; the UPDI pin is its own.
    {"AVR128DA48", "RSTPINCFG", "gpio", 0x00, "GPIO: PF6 is a port pin"},
    {"AVR128DA48", "RSTPINCFG", "rst", 0x08, "RESET: PF6 is the RESET pin"},
    {"AVR128DB48", "RSTPINCFG", "gpio", 0x00, "GPIO: PF6 is a port pin"},
    {"AVR128DB48", "RSTPINCFG", "rst", 0x08, "RESET: PF6 is the RESET pin"},
    // AVR DD/EA: RSTPINCFG one bit, UPDIPINCFG the next.
    {"AVR64DD32", "RSTPINCFG", "gpio", 0x00, "GPIO: PF6 is a port pin"},
    {"AVR64DD32", "RSTPINCFG", "rst", 0x08, "RESET: PF6 is the RESET pin"},
    {"AVR64DD32", "UPDIPINCFG", "gpio", 0x00, "GPIO: PF7 is a port pin, the UPDI is off"},
    {"AVR64DD32", "UPDIPINCFG", "updi", 0x10, "UPDI: PF7 is the UPDI pin"},
    {"AVR64EA48", "RSTPINCFG", "gpio", 0x00, "GPIO: PF6 is a port pin"},
    {"AVR64EA48", "RSTPINCFG", "rst", 0x08, "RESET: PF6 is the RESET pin"},
    {"AVR64EA48", "UPDIPINCFG", "gpio", 0x00, "GPIO: PF7 is a port pin, the UPDI is off"},
    {"AVR64EA48", "UPDIPINCFG", "updi", 0x10, "UPDI: PF7 is the UPDI pin"},
    // The clock at start-up.
    {"AVR128DA48", "CLKSEL", "oschf", 0x00, "the internal high-frequency oscillator"},
    {"AVR128DA48", "CLKSEL", "osc32k", 0x01, "the internal 32.768 kHz oscillator"},
    {"AVR128DB48", "CLKSEL", "oschf", 0x00, "the internal high-frequency oscillator"},
    {"AVR128DB48", "CLKSEL", "osc32k", 0x01, "the internal 32.768 kHz oscillator"},
    {"AVR64DD32", "CLKSEL", "oschf", 0x00, "the internal high-frequency oscillator"},
    {"AVR64DD32", "CLKSEL", "osc32k", 0x01, "the internal 32.768 kHz oscillator"},
    {"AVR64EA48", "OSCHFFRQ", "20mhz", 0x00, "20 MHz (internal oscillator)"},
    {"AVR64EA48", "OSCHFFRQ", "16mhz", 0x08, "16 MHz (internal oscillator)"},
    // LVL: four levels each.
    {"AVR128DA48", "LVL", "bodlevel0", 0x00, "1.9 V"},
    {"AVR128DA48", "LVL", "bodlevel1", 0x20, "2.45 V"},
    {"AVR128DA48", "LVL", "bodlevel2", 0x40, "2.7 V"},
    {"AVR128DA48", "LVL", "bodlevel3", 0x60, "2.85 V"},
    {"AVR128DB48", "LVL", "bodlevel0", 0x00, "1.9 V"},
    {"AVR128DB48", "LVL", "bodlevel1", 0x20, "2.45 V"},
    {"AVR128DB48", "LVL", "bodlevel2", 0x40, "2.7 V"},
    {"AVR128DB48", "LVL", "bodlevel3", 0x60, "2.85 V"},
    {"AVR64DD32", "LVL", "bodlevel0", 0x00, "1.9 V"},
    {"AVR64DD32", "LVL", "bodlevel1", 0x20, "2.45 V"},
    {"AVR64DD32", "LVL", "bodlevel2", 0x40, "2.7 V"},
    {"AVR64DD32", "LVL", "bodlevel3", 0x60, "2.85 V"},
    {"AVR64EA48", "LVL", "bodlevel0", 0x00, "1.65 V"},
    {"AVR64EA48", "LVL", "bodlevel1", 0x20, "1.9 V"},
    {"AVR64EA48", "LVL", "bodlevel2", 0x40, "2.6 V"},
    {"AVR64EA48", "LVL", "bodlevel3", 0x60, "4.3 V"},
    // MVSYSCFG: DB and DD only.
    {"AVR128DB48", "MVSYSCFG", "dual", 0x08, "dual supply: PORTC runs from VDDIO2 (MVIO)"},
    {"AVR128DB48", "MVSYSCFG", "single", 0x10, "single supply: PORTC runs from VDD"},
    {"AVR64DD32", "MVSYSCFG", "dual", 0x08, "dual supply: PORTC runs from VDDIO2 (MVIO)"},
    {"AVR64DD32", "MVSYSCFG", "single", 0x10, "single supply: PORTC runs from VDD"},
    // CRCSEL
    {"AVR128DA48", "CRCSEL", "crc16", 0x00, "CRC16"},
    {"AVR128DA48", "CRCSEL", "crc32", 0x20, "CRC32"},
    {"AVR64EA48", "CRCSEL", "crc32", 0x20, "CRC32"},
};

const SUpdiFuseField* FieldOf(const SUpdiPart& part, const char* name, const char*& fuse) {
    const SUpdiFuseWordSet* set = UpdiFuseWordSetOf(part);
    for (size_t f = 0; set != nullptr && f < set->count; ++f) {
        for (size_t k = 0; k < set->fuses[f].count; ++k) {
            if (std::string(set->fuses[f].fields[k].name) == name) {
                fuse = set->fuses[f].fuse;
                return &set->fuses[f].fields[k];
            }
        }
    }
    return nullptr;
}

TEST(UpdiFuseFieldsTest, ChoicesPinnedToTheDatasheetTables) {
    for (const ChoiceRow& row : kChoiceRows) {
        const SUpdiPart& part = Part(row.part);
        const char* fuse = nullptr;
        const SUpdiFuseField* field = FieldOf(part, row.field, fuse);
        ASSERT_NE(field, nullptr) << row.part << " " << row.field;
        // The key gives the bits...
        UpdiFuseBytes values(part.fuses.count, 0);
        uint32_t touched = 0;
        std::string error;
        ASSERT_TRUE(ApplyUpdiFuseSettings(part, std::string(row.field) + "=" + row.key, values,
                                          touched, error))
            << error;
        const size_t at = At(part, fuse);
        EXPECT_EQ(values[at], row.bits) << row.part << " " << row.key;
        EXPECT_EQ(touched, 1u << at);
        // ...and the bits the words.
        EXPECT_EQ(Words(DecodeUpdiFuseByte(part, fuse, row.bits), fuse, row.field), row.words)
            << row.part << " " << row.key;
    }
}

// The rows above are every choice the fields list: nothing more, nothing less.
TEST(UpdiFuseFieldsTest, ChoiceRowsAreTheWholeTables) {
    for (const char* name : {"ATtiny1604", "ATtiny1614", "ATtiny1626", "ATmega4809", "AVR128DA48",
                             "AVR128DB48", "AVR64DD32", "AVR64EA48"}) {
        const SUpdiPart& part = Part(name);
        for (const char* fieldName :
             {"RSTPINCFG", "FREQSEL", "LVL", "UPDIPINCFG", "CLKSEL", "OSCHFFRQ", "MVSYSCFG"}) {
            const char* fuse = nullptr;
            const SUpdiFuseField* field = FieldOf(part, fieldName, fuse);
            if (field == nullptr) {
                continue;  // a field of other families
            }
            size_t rows = 0;
            for (const ChoiceRow& row : kChoiceRows) {
                rows += std::string(row.part) == name && std::string(row.field) == fieldName;
            }
            EXPECT_EQ(field->count, rows) << name << " " << fieldName;
        }
    }
    const char* fuse = nullptr;
    EXPECT_EQ(FieldOf(Part("ATtiny1614"), "SUT", fuse)->count, 8u);
}

// --- Settings by name on top of the values as shipped give these bytes.
struct SettingsRow {
    const char* part;
    const char* text;
    std::vector<uint8_t> bytes;  // all fuses, in the part's layout order
    uint32_t touched;            // bit i: fuse i of the layout
};

const SettingsRow kSettingsRows[] = {
    // ATtiny1614: wdtcfg bodcfg osccfg tcd0cfg syscfg0 syscfg1 append bootend
    {"ATtiny1614", "rstpincfg=gpio,eesave=on", {0, 0, 0x02, 0, 0xC1, 0x07, 0, 0}, 1u << 4},
    {"ATtiny1614", "RSTPINCFG=RESET", {0, 0, 0x02, 0, 0xC8, 0x07, 0, 0}, 1u << 4},
    {"ATtiny1614", "freqsel=16mhz", {0, 0, 0x01, 0, 0xC4, 0x07, 0, 0}, 1u << 2},
    {"ATtiny1614", "osclock=on", {0, 0, 0x82, 0, 0xC4, 0x07, 0, 0}, 1u << 2},
    {"ATtiny1614", "sut=0ms", {0, 0, 0x02, 0, 0xC4, 0x00, 0, 0}, 1u << 5},
    {"ATtiny1614",
     "lvl=2.6v,active=enabled,sleep=sampled",
     {0, 0x46, 0x02, 0, 0xC4, 0x07, 0, 0},
     1u << 1},
    {"ATtiny1614",
     "lvl=2.60V,sampfreq=125hz,active=enwake",
     {0, 0x5C, 0x02, 0, 0xC4, 0x07, 0, 0},
     1u << 1},
    {"ATtiny1614", "bodcfg.lvl=bodlevel7", {0, 0xE0, 0x02, 0, 0xC4, 0x07, 0, 0}, 1u << 1},
    {"ATtiny1614", "period=8kclk,window=16clk", {0x2B, 0, 0x02, 0, 0xC4, 0x07, 0, 0}, 1u << 0},
    {"ATtiny1614", "crcsrc=bootapp", {0, 0, 0x02, 0, 0x84, 0x07, 0, 0}, 1u << 4},
    {"ATtiny1614", "cmpa=on,cmpaen=on,cmpden=on", {0, 0, 0x02, 0x91, 0xC4, 0x07, 0, 0}, 1u << 3},
    {"ATtiny1614", "bootend=2,append=16", {0, 0, 0x02, 0, 0xC4, 0x07, 16, 2}, 3u << 6},
    {"ATtiny1614", "bootend=0x40", {0, 0, 0x02, 0, 0xC4, 0x07, 0, 0x40}, 1u << 7},
    {"ATtiny1614", "syscfg0=0xF6", {0, 0, 0x02, 0, 0xF6, 0x07, 0, 0}, 1u << 4},
    {"ATtiny1614", "tcd0cfg=255", {0, 0, 0x02, 0xFF, 0xC4, 0x07, 0, 0}, 1u << 3},
    // ATtiny1626: wdtcfg bodcfg osccfg syscfg0 syscfg1 append bootend
    {"ATtiny1626", "rstpincfg=pdirst,toutdis=off", {0, 0, 0x7E, 0xEE, 0xFF, 0, 0}, 1u << 3},
    {"ATtiny1626", "lvl=bodlevel5", {0, 0xA0, 0x7E, 0xF6, 0xFF, 0, 0}, 1u << 1},
    {"ATtiny1626", "lvl=3.3v", {0, 0x80, 0x7E, 0xF6, 0xFF, 0, 0}, 1u << 1},
    // ATmega4809: RSTPINCFG is bit 3.
    {"ATmega4809", "rstpincfg=rst", {0, 0, 0x02, 0xCC, 0x07, 0, 0}, 1u << 3},
    {"ATmega4809", "eesave=on,sut=8ms", {0, 0, 0x02, 0xC5, 0x04, 0, 0}, 3u << 3},
    {"ATmega4809", "bootend=192", {0, 0, 0x02, 0xC4, 0x07, 0, 192}, 1u << 6},
    // AVR Dx/Ex: wdtcfg bodcfg osccfg syscfg0 syscfg1 codesize bootsize
    {"AVR64DD32", "updipincfg=gpio", {0, 0, 0, 0xC0, 0x08, 0, 0}, 1u << 3},
    {"AVR64DD32", "rstpincfg=reset,eesave=on", {0, 0, 0, 0xD9, 0x08, 0, 0}, 1u << 3},
    {"AVR64DD32", "mvsyscfg=single,sut=64ms", {0, 0, 0, 0xD0, 0x17, 0, 0}, 1u << 4},
    {"AVR64EA48", "updipincfg=gpio,crcsel=crc32", {0, 0, 0, 0xE0, 0x07, 0, 0}, 1u << 3},
    {"AVR64EA48", "oschffrq=16mhz", {0, 0, 0x08, 0xD0, 0x07, 0, 0}, 1u << 2},
    {"AVR128DA48", "rstpincfg=rst,crcsrc=boot", {0, 0, 0, 0x48, 0x00, 0, 0}, 1u << 3},
    {"AVR128DA48", "clksel=osc32k", {0, 0, 0x01, 0xC0, 0x00, 0, 0}, 1u << 2},
    {"AVR128DA48", "clksel=32.768khz", {0, 0, 0x01, 0xC0, 0x00, 0, 0}, 1u << 2},
    {"AVR128DA48",
     "lvl=2.45v,active=enablewait,sampfreq=32hz",
     {0, 0x3C, 0, 0xC0, 0x00, 0, 0},
     1u << 1},
    {"AVR128DB48", "bootsize=2,codesize=64", {0, 0, 0, 0xC0, 0x08, 64, 2}, 3u << 5},
};

TEST(UpdiFuseFieldsTest, SettingsByNameGiveBytes) {
    for (const SettingsRow& row : kSettingsRows) {
        const SUpdiPart& part = Part(row.part);
        UpdiFuseBytes values = Factory(part);
        uint32_t touched = 0;
        std::string error;
        EXPECT_TRUE(ApplyUpdiFuseSettings(part, row.text, values, touched, error))
            << row.text << ": " << error;
        EXPECT_EQ(values, row.bytes) << row.part << " " << row.text;
        EXPECT_EQ(touched, row.touched) << row.part << " " << row.text;
    }
}

// --- Names the part does not have are refused with a line saying what it
// takes; the values stay as they were.
struct RefusedRow {
    const char* part;
    const char* text;
    const char* error;  // what the error says
};

const RefusedRow kRefusedRows[] = {
    {"ATtiny1614", "rstpincfg=foo",
     "bad fuse setting \"rstpincfg=foo\": rstpincfg takes gpio, updi, rst (or reset)"},
    {"ATtiny1614", "rstpincfg=pdirst",
     "bad fuse setting \"rstpincfg=pdirst\": rstpincfg takes gpio, updi, rst (or reset)"},
    {"ATtiny1614", "lvl=3.3v",
     "bad fuse setting \"lvl=3.3v\": lvl takes bodlevel0 (or 1.8v), bodlevel2 (or 2.6v), "
     "bodlevel7 (or 4.3v)"},
    {"ATtiny1614", "freqsel=8mhz", "bad fuse setting \"freqsel=8mhz\": freqsel takes 16mhz, 20mhz"},
    {"ATtiny1614", "sut=3ms",
     "bad fuse setting \"sut=3ms\": sut takes 0ms, 1ms, 2ms, 4ms, 8ms, 16ms, 32ms, 64ms"},
    {"ATtiny1614", "eesave=yes", "bad fuse setting \"eesave=yes\": eesave takes off, on"},
    {"ATmega4809", "rstpincfg=updi",
     "bad fuse setting \"rstpincfg=updi\": rstpincfg takes gpio, rst (or reset)"},
    {"ATtiny1614", "toutdis=on",
     "unknown fuse setting \"toutdis=on\"; the ATtiny1614 takes period=, window=, sleep=, "
     "active=, sampfreq=, lvl=, freqsel=, osclock=, cmpa=, cmpb=, cmpc=, cmpd=, cmpaen=, "
     "cmpben=, cmpcen=, cmpden=, eesave=, rstpincfg=, crcsrc=, sut=, append= (blocks of 256 "
     "bytes), bootend= (blocks of 256 bytes), or a fuse's name with its whole byte "
     "(wdtcfg=0x00)"},
    {"ATtiny1604", "cmpa=on", "unknown fuse setting \"cmpa=on\"; the ATtiny1604 takes"},
    {"ATtiny1604", "tcd0cfg=0", "unknown fuse setting \"tcd0cfg=0\"; the ATtiny1604 takes"},
    {"ATtiny1614", "bootend=65",
     "bad fuse setting \"bootend=65\": 65 blocks of 256 bytes: past the end of the 16384-byte "
     "flash, which holds 64"},
    {"ATtiny1614", "syscfg0=0x100",
     "bad fuse setting \"syscfg0=0x100\": syscfg0 takes its whole byte, 0 to 255 or 0x00 to "
     "0xFF"},
    {"ATtiny1614", "bootend=two", "bad fuse setting \"bootend=two\": bootend takes a number"},
    {"ATtiny1614", "rstpincfg", "bad fuse setting \"rstpincfg\": rstpincfg takes gpio"},
    {"ATtiny1614", "sut=64ms,lvl=9v", "bad fuse setting \"lvl=9v\": lvl takes"},
    {"ATtiny1614", "", "unknown fuse setting \"\"; the ATtiny1614 takes"},
    // AVR DA/DB keep their UPDI pin: no UPDIPINCFG to set.
    {"AVR128DA48", "updipincfg=gpio",
     "unknown fuse setting \"updipincfg=gpio\"; the AVR128DA48 takes period=, window=, sleep=, "
     "active=, sampfreq=, lvl=, clksel=, eesave=, rstpincfg=, crcsel=, crcsrc=, sut=, codesize= "
     "(blocks of 512 bytes), bootsize= (blocks of 512 bytes), or a fuse's name with its whole "
     "byte (wdtcfg=0x00)"},
    {"AVR128DA48", "mvsyscfg=single", "unknown fuse setting \"mvsyscfg=single\""},
    {"AVR64EA48", "clksel=osc32k", "unknown fuse setting \"clksel=osc32k\""},
    {"AVR64DD32", "rstpincfg=updi",
     "bad fuse setting \"rstpincfg=updi\": rstpincfg takes gpio, rst (or reset)"},
    {"AVR64DD32", "updipincfg=rst",
     "bad fuse setting \"updipincfg=rst\": updipincfg takes gpio, updi"},
    {"AVR128DA48", "lvl=1.8v",
     "bad fuse setting \"lvl=1.8v\": lvl takes bodlevel0 (or 1.9v), bodlevel1 (or 2.45v), "
     "bodlevel2 (or 2.7v), bodlevel3 (or 2.85v)"},
    {"AVR64DD32", "bootsize=129",
     "bad fuse setting \"bootsize=129\": 129 blocks of 512 bytes: past the end of the "
     "65536-byte flash, which holds 128"},
    {"AVR64EA48", "sampfreq=1khz",
     "bad fuse setting \"sampfreq=1khz\": sampfreq takes 128hz, 32hz"},
};

TEST(UpdiFuseFieldsTest, APartOfNoWordSetIsRefusedInWords) {
    const SUpdiPart part = Unworded();
    UpdiFuseBytes values(part.fuses.count, 0);
    uint32_t touched = 0;
    std::string error;
    EXPECT_FALSE(ApplyUpdiFuseSettings(part, "eesave=on", values, touched, error));
    EXPECT_EQ(error, "the fuses of the AVR128DB48 are not known in words here; give them as bytes");
    EXPECT_TRUE(DecodeUpdiFuseByte(part, "syscfg0", 0).empty());
    EXPECT_FALSE(UpdiFactoryFuses(part, values));
    EXPECT_EQ(UpdiFuseCutOffReasons(part, values, values), "");
}

TEST(UpdiFuseFieldsTest, UnknownNamesAreRefusedWithWhatIsAllowed) {
    for (const RefusedRow& row : kRefusedRows) {
        const SUpdiPart& part = Part(row.part);
        UpdiFuseBytes values(part.fuses.count, 0x5A);
        const UpdiFuseBytes before = values;
        uint32_t touched = 0xDEAD;
        std::string error;
        EXPECT_FALSE(ApplyUpdiFuseSettings(part, row.text, values, touched, error)) << row.text;
        EXPECT_EQ(error.rfind(row.error, 0), 0u) << row.text << "\n  gave: " << error;
        EXPECT_EQ(values, before) << row.text;
        EXPECT_EQ(touched, 0xDEADu) << row.text;
    }
}

// --- The flash sections from APPEND and BOOTEND, in 256-byte blocks.
struct SectionRow {
    const char* part;
    uint8_t bootend;
    uint8_t append;
    const char* boot;
    const char* app;
};

const SectionRow kSectionRows[] = {
    {"ATtiny1614", 2, 0, "boot section 0x0000-0x01FF (512 bytes), application from 0x0200",
     "application code 0x0200-0x3FFF (15872 bytes), no application data section"},
    {"ATtiny1614", 2, 16, "boot section 0x0000-0x01FF (512 bytes), application from 0x0200",
     "application code 0x0200-0x0FFF (3584 bytes), application data 0x1000-0x3FFF (12288 bytes)"},
    {"ATtiny1614", 4, 2, "boot section 0x0000-0x03FF (1024 bytes), application from 0x0400",
     "no application code section; application data 0x0400-0x3FFF (15360 bytes)"},
    {"ATtiny1614", 4, 64, "boot section 0x0000-0x03FF (1024 bytes), application from 0x0400",
     "application code 0x0400-0x3FFF (15360 bytes), no application data section"},
    {"ATtiny1614", 64, 0, "boot section 0x0000-0x3FFF (16384 bytes): the whole flash",
     "no application sections: the boot section takes the whole flash"},
    {"ATtiny1614", 1, 65, "boot section 0x0000-0x00FF (256 bytes), application from 0x0100",
     "65 blocks of 256 bytes: past the end of the 16384-byte flash, which holds 64"},
    {"ATtiny1614", 200, 0,
     "200 blocks of 256 bytes: past the end of the 16384-byte flash, which holds 64",
     "no application sections: the boot section takes the whole flash"},
    {"ATtiny1614", 0, 16, "0: the whole flash is boot section, 0x0000-0x3FFF (16384 bytes)",
     "no application sections: the boot section end is 0, the whole flash is boot section"},
    {"ATmega4809", 2, 0, "boot section 0x0000-0x01FF (512 bytes), application from 0x0200",
     "application code 0x0200-0xBFFF (48640 bytes), no application data section"},
    {"ATtiny202", 1, 4, "boot section 0x0000-0x00FF (256 bytes), application from 0x0100",
     "application code 0x0100-0x03FF (768 bytes), application data 0x0400-0x07FF (1024 bytes)"},
};

TEST(UpdiFuseFieldsTest, FlashSectionsAsBytesAndAddresses) {
    for (const SectionRow& row : kSectionRows) {
        const SUpdiPart& part = Part(row.part);
        UpdiFuseBytes values = Factory(part);
        values[At(part, "bootend")] = row.bootend;
        values[At(part, "append")] = row.append;
        const std::vector<SUpdiFuseLine> lines = DecodeUpdiFuses(part, values);
        EXPECT_EQ(Words(lines, "bootend", "bootend"), row.boot)
            << row.part << " " << int{row.bootend};
        EXPECT_EQ(Words(lines, "append", "append"), row.app)
            << row.part << " " << int{row.bootend} << "/" << int{row.append};
    }
}

// --- The AVR Dx/Ex sections from CODESIZE and BOOTSIZE, in 512-byte blocks,
// past 64 KB on the 128 KB parts.
const SectionRow kDxSectionRows[] = {
    {"AVR128DA48", 2, 0, "boot section 0x0000-0x03FF (1024 bytes), application from 0x0400",
     "application code 0x0400-0x1FFFF (130048 bytes), no application data section"},
    {"AVR128DB48", 4, 200, "boot section 0x0000-0x07FF (2048 bytes), application from 0x0800",
     "application code 0x0800-0x18FFF (100352 bytes), application data 0x19000-0x1FFFF (28672 "
     "bytes)"},
    {"AVR64DD32", 128, 0, "boot section 0x0000-0xFFFF (65536 bytes): the whole flash",
     "no application sections: the boot section takes the whole flash"},
    {"AVR64EA48", 1, 129, "boot section 0x0000-0x01FF (512 bytes), application from 0x0200",
     "129 blocks of 512 bytes: past the end of the 65536-byte flash, which holds 128"},
    {"AVR16EA28", 0, 4, "0: the whole flash is boot section, 0x0000-0x3FFF (16384 bytes)",
     "no application sections: the boot section end is 0, the whole flash is boot section"},
};

TEST(UpdiFuseFieldsTest, DxExFlashSectionsAsBytesAndAddresses) {
    for (const SectionRow& row : kDxSectionRows) {
        const SUpdiPart& part = Part(row.part);
        UpdiFuseBytes values = Factory(part);
        values[At(part, "bootsize")] = row.bootend;
        values[At(part, "codesize")] = row.append;
        const std::vector<SUpdiFuseLine> lines = DecodeUpdiFuses(part, values);
        EXPECT_EQ(Words(lines, "bootsize", "bootsize"), row.boot)
            << row.part << " " << int{row.bootend};
        EXPECT_EQ(Words(lines, "codesize", "codesize"), row.app)
            << row.part << " " << int{row.bootend} << "/" << int{row.append};
    }
}

TEST(UpdiFuseFieldsTest, OneByteAloneSaysWhatItCan) {
    const SUpdiPart& part = Part("ATtiny1614");
    EXPECT_EQ(Words(DecodeUpdiFuseByte(part, "append", 16), "append", "append"),
              "application code ends before 0x1000, application data from there");
    EXPECT_EQ(Words(DecodeUpdiFuseByte(part, "APPEND", 0), "append", "append"),
              "0: application code up to the end of flash, no application data section");
    EXPECT_EQ(Words(DecodeUpdiFuseByte(part, "bodcfg", 0x03), "bodcfg", "SLEEP"),
              "a value the datasheet does not list (0x3)");
    EXPECT_EQ(Words(DecodeUpdiFuseByte(part, "syscfg0", 0xCC), "syscfg0", "RSTPINCFG"),
              "a value the datasheet does not list (0x3)");
    EXPECT_EQ(Words(DecodeUpdiFuseByte(part, "wdtcfg", 0xB8), "wdtcfg", "PERIOD"),
              "1K cycles (1.0 s)");
    EXPECT_EQ(Words(DecodeUpdiFuseByte(part, "wdtcfg", 0xB8), "wdtcfg", "WINDOW"),
              "8K cycles (8.2 s)");
    EXPECT_TRUE(DecodeUpdiFuseByte(part, "nosuchfuse", 0).empty());
    EXPECT_TRUE(DecodeUpdiFuseByte(Part("ATtiny1604"), "tcd0cfg", 0).empty());
    EXPECT_EQ(
        Words(DecodeUpdiFuseByte(Part("AVR128DB48"), "syscfg0", 0x0C), "syscfg0", "RSTPINCFG"),
        "a value the datasheet does not list (0x3)");
    EXPECT_TRUE(DecodeUpdiFuses(part, UpdiFuseBytes(3, 0)).empty());
    const char* fuse = nullptr;
    EXPECT_EQ(UpdiFuseChoiceKeys(*FieldOf(part, "LVL", fuse)),
              "bodlevel0 (or 1.8v), bodlevel2 (or 2.6v), bodlevel7 (or 4.3v)");
}

// --- The cut-off guard: only where a fuse can take the UPDI pin away, only
// the settings that do, never the clock.
constexpr const char* kCutGpio =
    "RSTPINCFG set to GPIO: the UPDI pin becomes a port pin, and no UPDI adapter reaches the "
    "chip again without a 12 V pulse on it";
constexpr const char* kCutReset =
    "RSTPINCFG set to RST: the UPDI pin becomes the RESET pin, and no UPDI adapter reaches the "
    "chip again without a 12 V pulse on it";

constexpr const char* kCutUpdiPin =
    "UPDIPINCFG set to GPIO: the UPDI pin becomes a port pin, and no UPDI adapter reaches the "
    "chip again without a 12 V pulse on the RESET pin";

struct GuardRow {
    const char* part;
    const char* before;  // settings made on the values as shipped first ("" none)
    const char* text;    // then these
    const char* reasons;
};

const GuardRow kGuardRows[] = {
    // hv_updi 0: the UPDI pin PA0 can be given away.
    {"ATtiny1614", "", "rstpincfg=gpio", kCutGpio},
    {"ATtiny1614", "", "rstpincfg=rst", kCutReset},
    {"ATtiny1614", "", "rstpincfg=updi", ""},
    {"ATtiny1604", "", "rstpincfg=gpio,eesave=on", kCutGpio},
    {"ATtiny202", "", "rstpincfg=reset", kCutReset},
    {"ATtiny1626", "", "rstpincfg=gpio", kCutGpio},
    {"ATtiny1626", "", "rstpincfg=rst", kCutReset},
    {"ATtiny1626", "", "rstpincfg=pdirst", ""},
    {"ATtiny1614", "", "syscfg0=0xCC",
     "RSTPINCFG set to a value the datasheet does not list (0x3): the UPDI pin may stop being "
     "the UPDI pin, and then no UPDI adapter reaches the chip again without a 12 V pulse on it"},
    // The clock and the rest never cut the UPDI off.
    {"ATtiny1614", "", "freqsel=16mhz,osclock=on,sut=0ms", ""},
    {"ATtiny1614", "", "lvl=4.3v,active=enabled,period=8clk,crcsrc=flash,bootend=2", ""},
    // Writing the same port-pin setting again changes nothing.
    {"ATtiny1614", "rstpincfg=gpio", "eesave=on", ""},
    {"ATtiny1614", "rstpincfg=gpio", "rstpincfg=rst", kCutReset},
    // hv_updi 1: the megaAVR 0's UPDI pin is its own; RSTPINCFG is PF6's.
    {"ATmega4809", "", "rstpincfg=gpio", ""},
    {"ATmega4809", "", "rstpincfg=rst", ""},
    {"ATmega4809", "rstpincfg=rst", "rstpincfg=gpio", ""},
    {"ATmega808", "rstpincfg=rst", "rstpincfg=gpio", ""},
    // hv_updi 2: on the AVR DD and EA UPDIPINCFG gives PF7 away, and only a
    // 12 V pulse on RESET brings the UPDI back. RSTPINCFG is PF6's alone:
    // the pulse works whatever it says.
    {"AVR64DD32", "", "updipincfg=gpio", kCutUpdiPin},
    {"AVR64EA48", "", "updipincfg=gpio", kCutUpdiPin},
    {"AVR16DD14", "", "updipincfg=gpio,eesave=on", kCutUpdiPin},
    {"AVR64DD32", "", "syscfg0=0xC0", kCutUpdiPin},
    {"AVR64DD32", "", "rstpincfg=gpio", ""},
    {"AVR64DD32", "", "rstpincfg=rst", ""},
    {"AVR64EA48", "", "rstpincfg=rst,crcsrc=flash", ""},
    {"AVR64DD32", "", "updipincfg=updi", ""},
    {"AVR64DD32", "updipincfg=gpio", "updipincfg=updi", ""},
    {"AVR64DD32", "updipincfg=gpio", "eesave=on", ""},
    {"AVR64DD32", "", "clksel=osc32k,sut=64ms,mvsyscfg=single", ""},
    {"AVR64EA48", "", "oschffrq=16mhz", ""},
    // hv_updi 1: the AVR DA/DB UPDI pin is its own.
    {"AVR128DA48", "", "rstpincfg=rst", ""},
    {"AVR128DB48", "rstpincfg=rst", "rstpincfg=gpio", ""},
    {"AVR128DB48", "", "syscfg0=0x00", ""},
};

UpdiFuseBytes With(const SUpdiPart& part, const UpdiFuseBytes& from, const char* text) {
    UpdiFuseBytes values = from;
    uint32_t touched = 0;
    std::string error;
    if (*text != '\0') {
        EXPECT_TRUE(ApplyUpdiFuseSettings(part, text, values, touched, error)) << error;
    }
    return values;
}

TEST(UpdiFuseFieldsTest, CutOffGuard) {
    for (const GuardRow& row : kGuardRows) {
        const SUpdiPart& part = Part(row.part);
        const UpdiFuseBytes now = With(part, Factory(part), row.before);
        const UpdiFuseBytes next = With(part, now, row.text);
        EXPECT_EQ(UpdiFuseCutOffReasons(part, now, next), row.reasons)
            << row.part << " " << row.before << " -> " << row.text;
    }
}

// The guard follows the part's high-voltage data, not its name: the same
// fuses on a part whose UPDI pin is its own cut nothing off, and where the
// 12 V pulse goes on RESET the reason says so.
TEST(UpdiFuseFieldsTest, CutOffGuardFollowsTheHighVoltageData) {
    SUpdiPart part = Part("ATtiny1614");
    ASSERT_EQ(part.highVoltage, EUpdiHighVoltage::kOnUpdiPin);
    const UpdiFuseBytes now = Factory(part);
    const UpdiFuseBytes next = With(part, now, "rstpincfg=gpio");
    EXPECT_EQ(UpdiFuseCutOffReasons(part, now, next), kCutGpio);

    part.highVoltage = EUpdiHighVoltage::kDedicatedPin;
    EXPECT_EQ(UpdiFuseCutOffReasons(part, now, next), "");

    part.highVoltage = EUpdiHighVoltage::kOnResetPin;
    EXPECT_EQ(UpdiFuseCutOffReasons(part, now, next),
              "RSTPINCFG set to GPIO: the UPDI pin becomes a port pin, and no UPDI adapter "
              "reaches the chip again without a 12 V pulse on the RESET pin");
}

TEST(UpdiFuseFieldsTest, CutOffGuardAndFactoryOnBadInput) {
    const SUpdiPart& part = Part("ATtiny1614");
    const UpdiFuseBytes now = Factory(part);
    EXPECT_EQ(UpdiFuseCutOffReasons(part, now, UpdiFuseBytes(2, 0)), "");
    EXPECT_EQ(UpdiFuseCutOffReasons(part, now, now), "");
}

}  // namespace
