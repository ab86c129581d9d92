#include "parts/FuseFields.h"

#include <cctype>
#include <cstdio>

#include "parts/DeviceTable.h"
#include "parts/FuseBits.h"

// ---------------------------------------------------------------------------
// The tables. Values are the field's bits in place: CKSEL in bits 3..0 and
// SUT1..0 in bits 5..4 of the low fuse byte (bits 3..2 on the ATtiny13,
// whose CKSEL has two bits); a crystal's start-up choice takes CKSEL0 too.
// Start-up words: start-up time from power-down, additional delay from
// reset, and the datasheet's recommended usage.
namespace {

template <size_t N>
constexpr FuseField Field(const char* key, const char* title, int byte, uint8_t mask,
                          const FuseChoice (&choices)[N], int fallback = 0,
                          const char* enabledBy = nullptr) {
    return FuseField{key, title, byte, mask, choices, static_cast<int>(N), fallback, enabledBy};
}

constexpr int kLow = 0;
constexpr int kHigh = 1;
constexpr int kExtended = 2;
constexpr const char* kStartupKey = "startup";
constexpr const char* kStartupTitle = "Start-up time";
constexpr uint8_t kSut = 0x30;                 // SUT1..0
constexpr uint8_t kSutCksel0 = 0x31;           // SUT1..0 with CKSEL0
constexpr uint8_t kCksel = 0x0F;               // CKSEL3..0
constexpr uint8_t kCksel31 = 0x0E;             // CKSEL3..1: a crystal's range
constexpr uint8_t kTiny13Sut = 0x0C;           // SUT1..0 of the ATtiny13
constexpr uint8_t kTiny13Cksel = 0x03;         // CKSEL1..0 of the ATtiny13
constexpr uint8_t kBodlevel3Bits = 0x07;       // BODLEVEL2..0
constexpr uint8_t kTiny13BodlevelBits = 0x06;  // BODLEVEL1..0 of the ATtiny13
constexpr uint8_t kMega8BodlevelBit = 0x80;    // BODLEVEL of the ATmega8
constexpr uint8_t kBootsz = 0x06;              // BOOTSZ1..0
constexpr uint32_t kKHzPerMHz = 1000;

// What the board must carry for the chip to run from the source.
constexpr const char* kNeedsCrystal =
    "A board without a crystal or resonator on XTAL1/XTAL2 then stops answering; it can be "
    "programmed again only with a crystal or an external clock";
constexpr const char* kNeedsClockXtal1 =
    "A board without a clock signal on XTAL1 then stops answering; it can be programmed again "
    "only with an external clock";
constexpr const char* kNeedsClockClki =
    "A board without a clock signal on CLKI then stops answering; it can be programmed again "
    "only with an external clock";
constexpr const char* kNeedsRc =
    "A board without an RC network on XTAL1 then stops answering; it can be programmed again "
    "only with one or with an external clock";

// --- ATmega328P, ATmega2560 (8271H and 2549O "Clock Sources" sections; their
// start-up tables agree word for word).
// "Start-up Times for the Low Power Crystal Oscillator Clock Selection", which
// the full swing crystal oscillator shares.
constexpr FuseChoice kMegaCrystalStartup[] = {
    {0x00, "res258-fast", "258 CK, 14CK + 4.1 ms: ceramic resonator, fast rising power"},
    {0x10, "res258-slow", "258 CK, 14CK + 65 ms: ceramic resonator, slowly rising power"},
    {0x20, "res1k-bod", "1K CK, 14CK: ceramic resonator, BOD enabled"},
    {0x30, "res1k-fast", "1K CK, 14CK + 4.1 ms: ceramic resonator, fast rising power"},
    {0x01, "res1k-slow", "1K CK, 14CK + 65 ms: ceramic resonator, slowly rising power"},
    {0x11, "xtal16k-bod", "16K CK, 14CK: crystal oscillator, BOD enabled"},
    {0x21, "xtal16k-fast", "16K CK, 14CK + 4.1 ms: crystal oscillator, fast rising power"},
    {0x31, "xtal16k-slow", "16K CK, 14CK + 65 ms: crystal oscillator, slowly rising power"},
};
constexpr FuseField kMegaCrystalStartupField =
    Field(kStartupKey, kStartupTitle, kLow, kSutCksel0, kMegaCrystalStartup, 7);
// "Start-up Times for the Low-frequency Crystal Oscillator Clock Selection".
constexpr FuseChoice kMegaLowFreqStartup[] = {
    {0x00, "1k-bod", "1K CK, 14CK: BOD enabled"},
    {0x10, "1k-fast", "1K CK, 14CK + 4.1 ms: fast rising power"},
    {0x20, "1k-slow", "1K CK, 14CK + 65 ms: slowly rising power"},
    {0x01, "32k-bod", "32K CK, 14CK: BOD enabled"},
    {0x11, "32k-fast", "32K CK, 14CK + 4.1 ms: fast rising power"},
    {0x21, "32k-slow", "32K CK, 14CK + 65 ms: slowly rising power"},
};
constexpr FuseField kMegaLowFreqStartupField =
    Field(kStartupKey, kStartupTitle, kLow, kSutCksel0, kMegaLowFreqStartup, 5);
// "Start-up Times of the Internal Calibrated RC Oscillator Clock Selection"
// and "Start-up Times for the External Clock Selection".
constexpr FuseChoice kMegaSixCkStartup[] = {
    {0x00, "bod", "6 CK, 14CK: BOD enabled"},
    {0x10, "fast", "6 CK, 14CK + 4.1 ms: fast rising power"},
    {0x20, "slow", "6 CK, 14CK + 65 ms: slowly rising power"},
};
constexpr FuseField kMegaSixCkStartupField =
    Field(kStartupKey, kStartupTitle, kLow, kSut, kMegaSixCkStartup, 2);
// "Start-up Times for the 128 kHz Internal Oscillator".
constexpr FuseChoice kMega128kStartup[] = {
    {0x00, "bod", "6 CK, 14CK: BOD enabled"},
    {0x10, "fast", "6 CK, 14CK + 4 ms: fast rising power"},
    {0x20, "slow", "6 CK, 14CK + 64 ms: slowly rising power"},
};
constexpr FuseField kMega128kStartupField =
    Field(kStartupKey, kStartupTitle, kLow, kSut, kMega128kStartup, 2);

// "Device Clocking Options Select" and "Low Power Crystal Oscillator
// Operating Modes" (8271H); the full swing oscillator's range is the one of
// "Full Swing Crystal Oscillator Operating Modes".
#define BRENWICK_MEGA_CLOCKS(fullSwing, topRange)                                                   \
    {                                                                                               \
        0x00, "ext",           "external clock on XTAL1", kCksel, &kMegaSixCkStartupField,          \
        0,    kNeedsClockXtal1},                                                                    \
        {0x02,          "rc8m", "internal RC oscillator 8 MHz", kCksel, &kMegaSixCkStartupField,    \
         8 * kKHzPerMHz},                                                                           \
        {0x03, "rc128k", "internal 128 kHz RC oscillator", kCksel, &kMega128kStartupField, 128},    \
        {0x04,                                                                                      \
         "xtal32k",                                                                                 \
         "external low-frequency crystal 32.768 kHz",                                               \
         kCksel31,                                                                                  \
         &kMegaLowFreqStartupField,                                                                 \
         0,                                                                                         \
         kNeedsCrystal},                                                                            \
        {0x06, "xtalfull", fullSwing, kCksel31, &kMegaCrystalStartupField, 0, kNeedsCrystal},       \
        {0x08,                                                                                      \
         "res400k",                                                                                 \
         "external ceramic resonator 0.4 - 0.9 MHz",                                                \
         kCksel31,                                                                                  \
         &kMegaCrystalStartupField,                                                                 \
         0,                                                                                         \
         kNeedsCrystal},                                                                            \
        {0x0A, "xtal900k",   "external crystal 0.9 - 3.0 MHz", kCksel31, &kMegaCrystalStartupField, \
         0,    kNeedsCrystal},                                                                      \
        {0x0C, "xtal3m",     "external crystal 3.0 - 8.0 MHz", kCksel31, &kMegaCrystalStartupField, \
         0,    kNeedsCrystal},                                                                      \
    {                                                                                               \
        0x0E, "xtal8m", topRange, kCksel31, &kMegaCrystalStartupField, 0, kNeedsCrystal             \
    }
constexpr FuseChoice kMega328Clocks[] = {BRENWICK_MEGA_CLOCKS(
    "external full swing crystal 0.4 - 20 MHz", "external crystal 8 MHz and up (8.0 - 16.0 MHz)")};
// ATmega2560 (2549O): the full swing oscillator up to 16 MHz.
constexpr FuseChoice kMega2560Clocks[] = {BRENWICK_MEGA_CLOCKS(
    "external full swing crystal 0.4 - 16 MHz", "external crystal 8 MHz and up (8.0 - 16.0 MHz)")};
#undef BRENWICK_MEGA_CLOCKS

// "BODLEVEL Fuse Coding" (typical levels).
#define BRENWICK_BODLEVEL3(off, v18, v27, v43)                                               \
    {off, "off", "brown-out detection off"}, {v18, "1v8", "1.8 V"}, {v27, "2v7", "2.7 V"}, { \
        v43, "4v3", "4.3 V"                                                                  \
    }
constexpr FuseChoice kBodlevel3[] = {BRENWICK_BODLEVEL3(0x07, 0x06, 0x05, 0x04)};
#undef BRENWICK_BODLEVEL3

// "Boot Size Configuration": the sizes in words; the start address is the
// flash size in words less the size, as the tables list it.
constexpr FuseChoice kBoot256[] = {
    {0x06, "256w", "", 0, nullptr, 0, nullptr, 256},
    {0x04, "512w", "", 0, nullptr, 0, nullptr, 512},
    {0x02, "1024w", "", 0, nullptr, 0, nullptr, 1024},
    {0x00, "2048w", "", 0, nullptr, 0, nullptr, 2048},
};
constexpr FuseChoice kBoot512[] = {
    {0x06, "512w", "", 0, nullptr, 0, nullptr, 512},
    {0x04, "1024w", "", 0, nullptr, 0, nullptr, 1024},
    {0x02, "2048w", "", 0, nullptr, 0, nullptr, 2048},
    {0x00, "4096w", "", 0, nullptr, 0, nullptr, 4096},
};
constexpr FuseChoice kBoot128[] = {
    {0x06, "128w", "", 0, nullptr, 0, nullptr, 128},
    {0x04, "256w", "", 0, nullptr, 0, nullptr, 256},
    {0x02, "512w", "", 0, nullptr, 0, nullptr, 512},
    {0x00, "1024w", "", 0, nullptr, 0, nullptr, 1024},
};

constexpr const char* kClockKey = "clock";
constexpr const char* kClockTitle = "Clock source";
constexpr const char* kBodKey = "bod";
constexpr const char* kBodTitle = "Brown-out level";
constexpr const char* kBodEnabledTitle = "Brown-out detection";
constexpr const char* kBodenBit = "BODEN";
constexpr const char* kBootKey = "boot";
constexpr const char* kBootTitle = "Boot section";
constexpr const char* kCkdiv8 = "CKDIV8";

// ATmega328/328P: ATmega48A/PA/88A/PA/168A/PA/328/P datasheet 8271H, tables
// "Device Clocking Options Select", "Low Power Crystal Oscillator Operating
// Modes", the start-up tables above, "BODLEVEL Fuse Coding" and "Boot Size
// Configuration, ATmega328P".
constexpr FuseField kMega328Clock = Field(kClockKey, kClockTitle, kLow, kCksel, kMega328Clocks);
constexpr FuseField kMega328Bod = Field(kBodKey, kBodTitle, kExtended, kBodlevel3Bits, kBodlevel3);
constexpr FuseField kMega328Boot = Field(kBootKey, kBootTitle, kHigh, kBootsz, kBoot256);
constexpr const FuseField* kMega328Fields[] = {&kMega328Clock, &kMega328Bod, &kMega328Boot};

// ATmega640/1280/1281/2560/2561: datasheet 2549O, tables "Device Clocking
// Options Select", "Low Power Crystal Oscillator Operating Modes", "Full Swing
// Crystal Oscillator operating modes", the start-up tables, "BODLEVEL Fuse
// Coding" and "Boot Size Configuration".
constexpr FuseField kMega2560Clock = Field(kClockKey, kClockTitle, kLow, kCksel, kMega2560Clocks);
constexpr FuseField kMega2560Boot = Field(kBootKey, kBootTitle, kHigh, kBootsz, kBoot512);
constexpr const FuseField* kMega2560Fields[] = {&kMega2560Clock, &kMega328Bod, &kMega2560Boot};

// --- ATtiny25/45/85: datasheet 2586Q, tables "Device Clocking Options Select",
// "Start-up Times for the External Clock Selection", "Start-up Times for the
// PLLCK", "Start-up Times for the Internal Calibrated RC Oscillator Clock"
// and the same "(in ATtiny15 Mode)", "Start-up Times for the 128 kHz
// Internal Oscillator", "Start-up Times for
// the Low Frequency Crystal Oscillator Clock Selection", "Crystal Oscillator
// Operating Modes", "Start-up Times for the Crystal Oscillator Clock
// Selection", "BODLEVEL Fuse Coding".
constexpr FuseChoice kTinySixCkStartup[] = {
    {0x00, "bod", "6 CK, 14CK: BOD enabled"},
    {0x10, "fast", "6 CK, 14CK + 4 ms: fast rising power"},
    {0x20, "slow", "6 CK, 14CK + 64 ms: slowly rising power"},
};
constexpr FuseField kTinySixCkStartupField =
    Field(kStartupKey, kStartupTitle, kLow, kSut, kTinySixCkStartup, 2);
constexpr FuseChoice kTinyPllStartup[] = {
    {0x00, "1k-bod", "14CK + 1K CK + 4 ms: BOD enabled"},
    {0x10, "16k-fast", "14CK + 16K CK + 4 ms: fast rising power"},
    {0x20, "1k-slow", "14CK + 1K CK + 64 ms: slowly rising power"},
    {0x30, "16k-slow", "14CK + 16K CK + 64 ms: slowly rising power"},
};
constexpr FuseField kTinyPllStartupField =
    Field(kStartupKey, kStartupTitle, kLow, kSut, kTinyPllStartup, 3);
constexpr FuseChoice kTinyLowFreqStartup[] = {
    {0x00, "1k-fast", "1K CK, 4 ms: fast rising power or BOD enabled"},
    {0x10, "1k-slow", "1K CK, 64 ms: slowly rising power"},
    {0x20, "32k-slow", "32K CK, 64 ms: stable frequency at start-up"},
};
constexpr FuseField kTinyLowFreqStartupField =
    Field(kStartupKey, kStartupTitle, kLow, kSut, kTinyLowFreqStartup, 2);
constexpr FuseChoice kTinyCrystalStartup[] = {
    {0x00, "res258-fast", "258 CK, 14CK + 4 ms: ceramic resonator, fast rising power"},
    {0x10, "res258-slow", "258 CK, 14CK + 64 ms: ceramic resonator, slowly rising power"},
    {0x20, "res1k-bod", "1K CK, 14CK: ceramic resonator, BOD enabled"},
    {0x30, "res1k-fast", "1K CK, 14CK + 4 ms: ceramic resonator, fast rising power"},
    {0x01, "res1k-slow", "1K CK, 14CK + 64 ms: ceramic resonator, slowly rising power"},
    {0x11, "xtal16k-bod", "16K CK, 14CK: crystal oscillator, BOD enabled"},
    {0x21, "xtal16k-fast", "16K CK, 14CK + 4 ms: crystal oscillator, fast rising power"},
    {0x31, "xtal16k-slow", "16K CK, 14CK + 64 ms: crystal oscillator, slowly rising power"},
};
constexpr FuseField kTinyCrystalStartupField =
    Field(kStartupKey, kStartupTitle, kLow, kSutCksel0, kTinyCrystalStartup, 7);
// "Start-up Times for the Internal Calibrated RC Oscillator Clock (in ATtiny15
// Mode)". Only the codes below are offered or chosen for this mode; any
// other reads as a value not listed, and a new choice of the mode moves the
// bits to the longer of the two.
constexpr FuseChoice kTiny15Startup[] = {
    {0x20, "6ck-4ms", "6 CK, 14CK + 4 ms"},
    {0x30, "1ck", "1 CK, 14CK"},
};
constexpr FuseField kTiny15StartupField =
    Field(kStartupKey, kStartupTitle, kLow, kSut, kTiny15Startup, 0);
constexpr FuseChoice kTinyX5Clocks[] = {
    {0x00, "ext", "external clock on CLKI", kCksel, &kTinySixCkStartupField, 0, kNeedsClockClki},
    {0x01, "pll", "high frequency PLL clock 16 MHz", kCksel, &kTinyPllStartupField,
     16 * kKHzPerMHz},
    {0x02, "rc8m", "internal RC oscillator 8 MHz", kCksel, &kTinySixCkStartupField, 8 * kKHzPerMHz},
    // No frequency is claimed for this mode.
    {0x03, "tiny15", "ATtiny15 compatibility mode (internal oscillator)", kCksel,
     &kTiny15StartupField, 0},
    {0x04, "rc128k", "internal 128 kHz oscillator", kCksel, &kTinySixCkStartupField, 128},
    {0x06, "xtal32k", "external low-frequency crystal 32.768 kHz", kCksel,
     &kTinyLowFreqStartupField, 0, kNeedsCrystal},
    {0x08, "res400k", "external ceramic resonator 0.4 - 0.9 MHz", kCksel31,
     &kTinyCrystalStartupField, 0, kNeedsCrystal},
    {0x0A, "xtal900k", "external crystal 0.9 - 3.0 MHz", kCksel31, &kTinyCrystalStartupField, 0,
     kNeedsCrystal},
    {0x0C, "xtal3m", "external crystal 3.0 - 8.0 MHz", kCksel31, &kTinyCrystalStartupField, 0,
     kNeedsCrystal},
    {0x0E, "xtal8m", "external crystal 8 MHz and up", kCksel31, &kTinyCrystalStartupField, 0,
     kNeedsCrystal},
};
constexpr FuseField kTinyX5Clock = Field(kClockKey, kClockTitle, kLow, kCksel, kTinyX5Clocks);
constexpr FuseField kTinyX5Bod = Field(kBodKey, kBodTitle, kHigh, kBodlevel3Bits, kBodlevel3);
constexpr const FuseField* kTinyX5Fields[] = {&kTinyX5Clock, &kTinyX5Bod};

// --- ATtiny13/13A: datasheet 2535J, tables "Device Clocking Options Select",
// "Start-up Times for the External Clock Selection", "Start-up Times for the
// Internal Calibrated RC Oscillator Clock", "Start-up Times for the 128 kHz
// Internal Oscillator" (the three agree), "BODLEVEL Fuse Coding".
constexpr FuseChoice kTiny13Startup[] = {
    {0x00, "bod", "6 CK, 14CK: BOD enabled"},
    {0x04, "fast", "6 CK, 14CK + 4 ms: fast rising power"},
    {0x08, "slow", "6 CK, 14CK + 64 ms: slowly rising power"},
};
constexpr FuseField kTiny13StartupField =
    Field(kStartupKey, kStartupTitle, kLow, kTiny13Sut, kTiny13Startup, 2);
constexpr FuseChoice kTiny13Clocks[] = {
    {0x00, "ext", "external clock on CLKI", kTiny13Cksel, &kTiny13StartupField, 0, kNeedsClockClki},
    {0x01, "rc4m8", "internal RC oscillator 4.8 MHz", kTiny13Cksel, &kTiny13StartupField, 4800},
    {0x02, "rc9m6", "internal RC oscillator 9.6 MHz", kTiny13Cksel, &kTiny13StartupField, 9600},
    {0x03, "rc128k", "internal 128 kHz oscillator", kTiny13Cksel, &kTiny13StartupField, 128},
};
constexpr FuseChoice kTiny13Bodlevel[] = {
    {0x06, "off", "brown-out detection off"},
    {0x04, "1v8", "1.8 V"},
    {0x02, "2v7", "2.7 V"},
    {0x00, "4v3", "4.3 V"},
};
constexpr FuseField kTiny13Clock = Field(kClockKey, kClockTitle, kLow, kTiny13Cksel, kTiny13Clocks);
constexpr FuseField kTiny13Bod =
    Field(kBodKey, kBodTitle, kHigh, kTiny13BodlevelBits, kTiny13Bodlevel);
constexpr const FuseField* kTiny13Fields[] = {&kTiny13Clock, &kTiny13Bod};

// --- ATmega8/8A: datasheet 2486M, tables "Device Clocking Options Select",
// "Crystal Oscillator Operating Modes", 5 "Start-up Times for the Crystal
// Oscillator Clock Selection", 6 "Start-up Times for the Low-frequency
// Crystal Oscillator Clock Selection", 7 "External RC Oscillator Operating
// Modes", 8 "Start-up Times for the External RC Oscillator Clock Selection",
// "Internal Calibrated RC Oscillator Operating Modes", "Start-up Times for
// the Internal Calibrated RC Oscillator Clock Selection", "Start-up Times for
// the External Clock Selection", the BODLEVEL levels of "Reset
// Characteristics" and "Boot Size Configuration". CKOPT, a fuse of the high
// byte, widens the crystal ranges; the crystal choices say so.
constexpr FuseChoice kMega8CrystalStartup[] = {
    {0x00, "res258-fast", "258 CK, 4.1 ms: ceramic resonator, fast rising power"},
    {0x10, "res258-slow", "258 CK, 65 ms: ceramic resonator, slowly rising power"},
    {0x20, "res1k-bod", "1K CK, no delay: ceramic resonator, BOD enabled"},
    {0x30, "res1k-fast", "1K CK, 4.1 ms: ceramic resonator, fast rising power"},
    {0x01, "res1k-slow", "1K CK, 65 ms: ceramic resonator, slowly rising power"},
    {0x11, "xtal16k-bod", "16K CK, no delay: crystal oscillator, BOD enabled"},
    {0x21, "xtal16k-fast", "16K CK, 4.1 ms: crystal oscillator, fast rising power"},
    {0x31, "xtal16k-slow", "16K CK, 65 ms: crystal oscillator, slowly rising power"},
};
constexpr FuseField kMega8CrystalStartupField =
    Field(kStartupKey, kStartupTitle, kLow, kSutCksel0, kMega8CrystalStartup, 7);
constexpr FuseChoice kMega8LowFreqStartup[] = {
    {0x00, "1k-fast", "1K CK, 4.1 ms: fast rising power or BOD enabled"},
    {0x10, "1k-slow", "1K CK, 65 ms: slowly rising power"},
    {0x20, "32k-slow", "32K CK, 65 ms: stable frequency at start-up"},
};
constexpr FuseField kMega8LowFreqStartupField =
    Field(kStartupKey, kStartupTitle, kLow, kSut, kMega8LowFreqStartup, 2);
constexpr FuseChoice kMega8RcStartup[] = {
    {0x00, "18ck-bod", "18 CK, no delay: BOD enabled"},
    {0x10, "18ck-fast", "18 CK, 4.1 ms: fast rising power"},
    {0x20, "18ck-slow", "18 CK, 65 ms: slowly rising power"},
    {0x30, "6ck-fast", "6 CK, 4.1 ms: fast rising power or BOD enabled"},
};
constexpr FuseField kMega8RcStartupField =
    Field(kStartupKey, kStartupTitle, kLow, kSut, kMega8RcStartup, 2);
constexpr FuseChoice kMega8SixCkStartup[] = {
    {0x00, "bod", "6 CK, no delay: BOD enabled"},
    {0x10, "fast", "6 CK, 4.1 ms: fast rising power"},
    {0x20, "slow", "6 CK, 65 ms: slowly rising power"},
};
constexpr FuseField kMega8SixCkStartupField =
    Field(kStartupKey, kStartupTitle, kLow, kSut, kMega8SixCkStartup, 2);
constexpr FuseChoice kMega8Clocks[] = {
    {0x00, "ext", "external clock on XTAL1", kCksel, &kMega8SixCkStartupField, 0, kNeedsClockXtal1},
    {0x01, "rc1m", "internal RC oscillator 1 MHz", kCksel, &kMega8SixCkStartupField, kKHzPerMHz},
    {0x02, "rc2m", "internal RC oscillator 2 MHz", kCksel, &kMega8SixCkStartupField,
     2 * kKHzPerMHz},
    {0x03, "rc4m", "internal RC oscillator 4 MHz", kCksel, &kMega8SixCkStartupField,
     4 * kKHzPerMHz},
    {0x04, "rc8m", "internal RC oscillator 8 MHz", kCksel, &kMega8SixCkStartupField,
     8 * kKHzPerMHz},
    {0x05, "extrc900k", "external RC oscillator up to 0.9 MHz", kCksel, &kMega8RcStartupField, 0,
     kNeedsRc},
    {0x06, "extrc3m", "external RC oscillator 0.9 - 3.0 MHz", kCksel, &kMega8RcStartupField, 0,
     kNeedsRc},
    {0x07, "extrc8m", "external RC oscillator 3.0 - 8.0 MHz", kCksel, &kMega8RcStartupField, 0,
     kNeedsRc},
    {0x08, "extrc12m", "external RC oscillator 8.0 - 12.0 MHz", kCksel, &kMega8RcStartupField, 0,
     kNeedsRc},
    {0x09, "xtal32k", "external low-frequency crystal 32.768 kHz", kCksel,
     &kMega8LowFreqStartupField, 0, kNeedsCrystal},
    {0x0A, "res400k", "external ceramic resonator 0.4 - 0.9 MHz (CKOPT on: 1 MHz and up)", kCksel31,
     &kMega8CrystalStartupField, 0, kNeedsCrystal},
    {0x0C, "xtal900k", "external crystal 0.9 - 3.0 MHz (CKOPT on: 1 MHz and up)", kCksel31,
     &kMega8CrystalStartupField, 0, kNeedsCrystal},
    {0x0E, "xtal3m", "external crystal 3.0 - 8.0 MHz (CKOPT on: 1 MHz and up)", kCksel31,
     &kMega8CrystalStartupField, 0, kNeedsCrystal},
};
constexpr FuseChoice kMega8Bodlevel[] = {
    {0x80, "2v7", "2.7 V"},
    {0x00, "4v0", "4.0 V"},
};
constexpr FuseField kMega8Clock = Field(kClockKey, kClockTitle, kLow, kCksel, kMega8Clocks);
// BODLEVEL only sets the level; BODEN, a single bit, turns detection on.
constexpr FuseField kMega8Bod =
    Field(kBodKey, kBodEnabledTitle, kLow, kMega8BodlevelBit, kMega8Bodlevel, 0, kBodenBit);
constexpr FuseField kMega8Boot = Field(kBootKey, kBootTitle, kHigh, kBootsz, kBoot128);
constexpr const FuseField* kMega8Fields[] = {&kMega8Clock, &kMega8Bod, &kMega8Boot};

template <size_t N>
constexpr FuseFieldSet Set(const FuseField* const (&fields)[N], const char* divider) {
    return FuseFieldSet{fields, static_cast<int>(N), divider};
}

}  // namespace

const FuseFieldSet g_mega328FuseFields = Set(kMega328Fields, kCkdiv8);
const FuseFieldSet g_mega2560FuseFields = Set(kMega2560Fields, kCkdiv8);
const FuseFieldSet g_tinyX5FuseFields = Set(kTinyX5Fields, kCkdiv8);
const FuseFieldSet g_tiny13FuseFields = Set(kTiny13Fields, kCkdiv8);
const FuseFieldSet g_mega8FuseFields = Set(kMega8Fields, nullptr);

// ---------------------------------------------------------------------------
// Decoding, choosing and wording.
namespace {

constexpr int kBitsInByte = 8;
constexpr uint32_t kClockDivision = 8;
constexpr size_t kWordsLength = 96;
constexpr char kListSeparator = ',';
// A field whose enable bit is unprogrammed acts not at all: its value is
// named only as the one it would have.
constexpr const char* kEnabledPrefix = "on, level ";
constexpr const char* kDisabledPrefix = "off (level ";
constexpr const char* kDisabledSuffix = " when enabled)";

uint8_t ChoiceMask(const FuseField& field, const FuseChoice& choice) {
    return choice.mask != 0 ? choice.mask : field.mask;
}

const FuseChoice* Decode(const FuseField& field, const FuseByteValues& fuses) {
    const uint8_t byte = fuses[static_cast<size_t>(field.byte)];
    for (int i = 0; i < field.count; ++i) {
        const FuseChoice& choice = field.choices[i];
        if ((byte & ChoiceMask(field, choice)) == choice.value) {
            return &choice;
        }
    }
    return nullptr;
}

// The bit with that name, as 8 * byte + bit; kNoFuseBit when none.
int BitNamed(const DeviceInfo& device, const char* name) {
    return name != nullptr ? FuseBitNamed(device.fuseNames, name) : kNoFuseBit;
}

bool Programmed(const FuseByteValues& fuses, int bit) {
    return bit >= 0 &&
           ((fuses[static_cast<size_t>(bit / kBitsInByte)] >> (bit % kBitsInByte)) & 1) == 0;
}

std::string Frequency(uint32_t kHz) {
    char text[kWordsLength];
    if (kHz >= kKHzPerMHz) {
        std::snprintf(text, sizeof text, "%g MHz", static_cast<double>(kHz) / kKHzPerMHz);
    } else {
        std::snprintf(text, sizeof text, "%g kHz", static_cast<double>(kHz));
    }
    return text;
}

std::string UnlistedWords(const FuseField& field, const FuseByteValues& fuses) {
    char text[kWordsLength];
    std::snprintf(text, sizeof text, "a value the datasheet does not list (bits 0x%02X)",
                  fuses[static_cast<size_t>(field.byte)] & field.mask);
    return text;
}

std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

bool IsClock(const FuseField& field) {
    return std::string(field.key) == kClockKey;
}

}  // namespace

const FuseFieldSet* FuseFieldsOf(const DeviceInfo& device) {
    return device.fuseNames != nullptr ? device.fuseNames->fields : nullptr;
}

std::string FuseChoiceWords(const DeviceInfo& device, const FuseByteValues& fuses,
                            const FuseField& field, const FuseChoice& choice) {
    std::string words = choice.words;
    if (choice.bootWords != 0) {
        const uint32_t flashWords = static_cast<uint32_t>(device.progSize) / 2;
        char text[kWordsLength];
        std::snprintf(text, sizeof text, "%u words, from word 0x%04X",
                      static_cast<unsigned>(choice.bootWords),
                      static_cast<unsigned>(flashWords - choice.bootWords));
        words = text;
    }
    const int enable = BitNamed(device, field.enabledBy);
    if (enable != kNoFuseBit) {
        words = Programmed(fuses, enable) ? kEnabledPrefix + words
                                          : kDisabledPrefix + words + kDisabledSuffix;
    }
    const FuseFieldSet* set = FuseFieldsOf(device);
    if (set != nullptr && IsClock(field) && Programmed(fuses, BitNamed(device, set->divider))) {
        words += ", divided by 8";
        if (choice.kHz != 0) {
            words += ": " + Frequency(choice.kHz / kClockDivision);
        }
    }
    return words;
}

std::vector<FuseSetting> DecodeFuseFields(const DeviceInfo& device, const FuseByteValues& fuses) {
    std::vector<FuseSetting> settings;
    const FuseFieldSet* set = FuseFieldsOf(device);
    for (int i = 0; set != nullptr && i < set->count; ++i) {
        const FuseField& field = *set->fields[i];
        const FuseChoice* choice = Decode(field, fuses);
        settings.push_back({field.key, field.title, &field, choice,
                            choice != nullptr ? FuseChoiceWords(device, fuses, field, *choice)
                                              : UnlistedWords(field, fuses)});
        bool opens = false;
        for (int c = 0; c < field.count; ++c) {
            opens = opens || field.choices[c].startup != nullptr;
        }
        if (!opens) {
            continue;
        }
        const FuseField* startup = choice != nullptr ? choice->startup : nullptr;
        const FuseChoice* time = startup != nullptr ? Decode(*startup, fuses) : nullptr;
        settings.push_back({kStartupKey, kStartupTitle, startup, time,
                            time != nullptr      ? std::string(time->words)
                            : startup != nullptr ? UnlistedWords(*startup, fuses)
                                                 : std::string("set by the clock source")});
    }
    return settings;
}

void ApplyFuseChoice(FuseByteValues& fuses, const FuseField& field, const FuseChoice& choice) {
    uint8_t& byte = fuses[static_cast<size_t>(field.byte)];
    byte = static_cast<uint8_t>((byte & ~ChoiceMask(field, choice)) | choice.value);
    if (choice.startup != nullptr && Decode(*choice.startup, fuses) == nullptr) {
        const FuseField& startup = *choice.startup;
        const FuseChoice& fallback = startup.choices[startup.fallback];
        uint8_t& at = fuses[static_cast<size_t>(startup.byte)];
        at = static_cast<uint8_t>((at & ~startup.mask) | fallback.value);
    }
}

std::vector<int> FuseSingleBits(const DeviceInfo& device) {
    std::vector<int> bits;
    const FuseFieldSet* set = FuseFieldsOf(device);
    for (int byte = 0; byte < kFuseFieldBytes; ++byte) {
        if (device.fuseNames == nullptr || device.fuseNames->bytes[byte] == nullptr) {
            continue;
        }
        uint8_t inFields = 0;
        for (int i = 0; set != nullptr && i < set->count; ++i) {
            const FuseField& field = *set->fields[i];
            if (field.byte == byte) {
                inFields = static_cast<uint8_t>(inFields | field.mask);
            }
            for (int c = 0; c < field.count; ++c) {
                const FuseField* startup = field.choices[c].startup;
                if (startup != nullptr && startup->byte == byte) {
                    inFields = static_cast<uint8_t>(inFields | startup->mask);
                }
            }
        }
        for (int bit = kBitsInByte - 1; bit >= 0; --bit) {
            if (((inFields >> bit) & 1) == 0 && !FuseBitName(device.fuseNames, byte, bit).empty()) {
                bits.push_back(kBitsInByte * byte + bit);
            }
        }
    }
    return bits;
}

bool ApplyFuseSettings(const DeviceInfo& device, const std::string& text, FuseByteValues& fuses,
                       uint8_t& touched, std::string& error) {
    constexpr uint8_t kByteBits[kFuseFieldBytes] = {kLowFuse, kHighFuse, kExtendedFuse};
    FuseByteValues next = fuses;
    uint8_t reached = 0;
    std::string startupKey;  // made after the clock source, whose table it names
    bool startupGiven = false;
    size_t start = 0;
    for (bool last = false; !last;) {
        const size_t comma = text.find(kListSeparator, start);
        last = comma == std::string::npos;
        const std::string item =
            Lower(text.substr(start, last ? std::string::npos : comma - start));
        start = comma + 1;
        const size_t equals = item.find('=');
        const std::string name = item.substr(0, equals);
        const std::string value = equals == std::string::npos ? "" : item.substr(equals + 1);
        if (name == kStartupKey) {
            startupKey = value;
            startupGiven = true;
            continue;
        }
        const FuseFieldSet* set = FuseFieldsOf(device);
        const FuseField* field = nullptr;
        for (int i = 0; set != nullptr && i < set->count; ++i) {
            field = name == set->fields[i]->key ? set->fields[i] : field;
        }
        if (field != nullptr) {
            const FuseChoice* chosen = nullptr;
            std::string keys;
            for (int c = 0; c < field->count; ++c) {
                chosen = value == field->choices[c].key ? &field->choices[c] : chosen;
                keys += std::string(keys.empty() ? "" : ", ") + field->choices[c].key;
            }
            if (chosen == nullptr) {
                error = "bad fuse setting \"" + item + "\": " + name + " takes " + keys;
                return false;
            }
            ApplyFuseChoice(next, *field, *chosen);
            reached = static_cast<uint8_t>(reached | kByteBits[field->byte]);
            continue;
        }
        int bit = kNoFuseBit;
        for (int single : FuseSingleBits(device)) {
            const std::string bitName =
                FuseBitName(device.fuseNames, single / kBitsInByte, single % kBitsInByte);
            bit = Lower(bitName) == name ? single : bit;
        }
        if (bit == kNoFuseBit || (value != "on" && value != "off")) {
            std::string names;
            for (int i = 0; set != nullptr && i < set->count; ++i) {
                names += std::string(set->fields[i]->key) + "=, ";
            }
            error = "bad fuse setting \"" + item + "\"; this device takes " + names +
                    (set != nullptr ? "startup=, " : "") +
                    "or a fuse bit's name with on (programmed) or off";
            return false;
        }
        const size_t byte = static_cast<size_t>(bit / kBitsInByte);
        const uint8_t mask = static_cast<uint8_t>(1u << (bit % kBitsInByte));
        next[byte] = static_cast<uint8_t>(value == "on" ? next[byte] & ~mask : next[byte] | mask);
        reached = static_cast<uint8_t>(reached | kByteBits[byte]);
    }
    if (startupGiven) {
        const std::vector<FuseSetting> settings = DecodeFuseFields(device, next);
        const FuseField* startup = nullptr;
        for (const FuseSetting& setting : settings) {
            startup = setting.key == kStartupKey ? setting.field : startup;
        }
        const FuseChoice* chosen = nullptr;
        std::string keys;
        for (int c = 0; startup != nullptr && c < startup->count; ++c) {
            chosen = startupKey == startup->choices[c].key ? &startup->choices[c] : chosen;
            keys += std::string(keys.empty() ? "" : ", ") + startup->choices[c].key;
        }
        if (chosen == nullptr) {
            error = "bad fuse setting \"startup=" + startupKey + "\": " +
                    (startup != nullptr ? "with this clock source, startup takes " + keys
                                        : std::string("the clock source has no start-up table"));
            return false;
        }
        ApplyFuseChoice(next, *startup, *chosen);
        reached = static_cast<uint8_t>(reached | kByteBits[startup->byte]);
    }
    fuses = next;
    touched = reached;
    return true;
}

bool FuseClockCutOffReason(const DeviceInfo& device, const FuseByteValues& next,
                           std::string& reason) {
    const FuseFieldSet* set = FuseFieldsOf(device);
    if (set == nullptr || set->count == 0 || !IsClock(*set->fields[0])) {
        return false;
    }
    const FuseField& clock = *set->fields[0];
    const FuseChoice* choice = Decode(clock, next);
    if (choice == nullptr) {
        reason = "Clock source: " + UnlistedWords(clock, next) + ", on which the chip may not run";
    } else if (choice->needs != nullptr) {
        reason =
            "Clock source: " + FuseChoiceWords(device, next, clock, *choice) + ". " + choice->needs;
    } else {
        // The chip keeps its own oscillator; serial programming must then be
        // slower than a quarter of its clock.
        reason = "Clock source: " + FuseChoiceWords(device, next, clock, *choice) +
                 ". Serial programming then has to run slower than a quarter of that clock";
    }
    return true;
}
