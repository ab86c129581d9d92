#include "parts/UpdiFuseFields.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <iterator>

// ---------------------------------------------------------------------------
// The tables, one family's FUSE chapter each. Values are the datasheet
// tables' values, counted from the field's lowest bit, so that they read as
// the tables do; masks place the fields in their byte. Bits outside every
// field are reserved and are kept as they stand when a field is set.
namespace {

template <size_t N>
constexpr SUpdiFuseField Field(const char* name, const char* title, uint8_t mask,
                               const SUpdiFuseChoice (&choices)[N]) {
    return SUpdiFuseField{name, title, mask, choices, N};
}

template <size_t N>
constexpr SUpdiFuseWords Fuse(const char* fuse, const char* title,
                              const SUpdiFuseField (&fields)[N]) {
    return SUpdiFuseWords{fuse, title, fields, N};
}

constexpr SUpdiFuseWords Section(const char* fuse, const char* title, EUpdiFuseSection section,
                                 uint32_t blockBytes) {
    return SUpdiFuseWords{fuse, title, nullptr, 0, section, blockBytes};
}

// What RSTPINCFG makes of the UPDI pin (PA0 on every tinyAVR).
constexpr const char* kBecomesPortPin = "a port pin";
constexpr const char* kBecomesResetPin = "the RESET pin";

// The flash sections of the tinyAVR and megaAVR 0-series count 256-byte
// blocks.
constexpr uint32_t kTinyMegaSectionBlock = 256;

// --- WDTCFG: "Watchdog Configuration"; PERIOD and WINDOW share the WDT's
// table of time-outs, in cycles of its 1 kHz clock.
constexpr SUpdiFuseChoice kWdtTimes[] = {
    {0x0, "OFF", "off"},
    {0x1, "8CLK", "8 cycles (8 ms)"},
    {0x2, "16CLK", "16 cycles (16 ms)"},
    {0x3, "32CLK", "32 cycles (32 ms)"},
    {0x4, "64CLK", "64 cycles (64 ms)"},
    {0x5, "128CLK", "128 cycles (0.128 s)"},
    {0x6, "256CLK", "256 cycles (0.256 s)"},
    {0x7, "512CLK", "512 cycles (0.512 s)"},
    {0x8, "1KCLK", "1K cycles (1.0 s)"},
    {0x9, "2KCLK", "2K cycles (2.0 s)"},
    {0xA, "4KCLK", "4K cycles (4.1 s)"},
    {0xB, "8KCLK", "8K cycles (8.2 s)"},
};
constexpr SUpdiFuseField kWdtFields[] = {
    Field("PERIOD", "Watchdog time-out period", 0x0F, kWdtTimes),
    Field("WINDOW", "Watchdog window (closed period)", 0xF0, kWdtTimes),
};

// --- BODCFG: "BOD Configuration".
constexpr SUpdiFuseChoice kBodSleep[] = {
    {0x0, "DIS", "disabled"},
    {0x1, "ENABLED", "enabled"},
    {0x2, "SAMPLED", "sampled"},
};
constexpr SUpdiFuseChoice kBodActive[] = {
    {0x0, "DIS", "disabled"},
    {0x1, "ENABLED", "enabled"},
    {0x2, "SAMPLED", "sampled"},
    {0x3, "ENWAKE", "enabled, with wake-up halted until the BOD is ready"},
};
constexpr SUpdiFuseChoice kBodSampleFrequency[] = {
    {0x0, "1KHZ", "1 kHz"},
    {0x1, "125HZ", "125 Hz"},
};
// tinyAVR 0/1 and megaAVR 0: three levels are listed, the others reserved.
constexpr SUpdiFuseChoice kBodLevels3[] = {
    {0x0, "BODLEVEL0", "1.8 V", "1.8v"},
    {0x2, "BODLEVEL2", "2.6 V", "2.6v"},
    {0x7, "BODLEVEL7", "4.3 V", "4.3v"},
};
// tinyAVR 2: all eight levels are listed.
constexpr SUpdiFuseChoice kBodLevels8[] = {
    {0x0, "BODLEVEL0", "1.8 V", "1.8v"},  {0x1, "BODLEVEL1", "2.15 V", "2.15v"},
    {0x2, "BODLEVEL2", "2.60 V", "2.6v"}, {0x3, "BODLEVEL3", "2.95 V", "2.95v"},
    {0x4, "BODLEVEL4", "3.30 V", "3.3v"}, {0x5, "BODLEVEL5", "3.70 V", "3.7v"},
    {0x6, "BODLEVEL6", "4.00 V", "4.0v"}, {0x7, "BODLEVEL7", "4.30 V", "4.3v"},
};
constexpr const char* kBodSleepTitle = "BOD in sleep";
constexpr const char* kBodActiveTitle = "BOD in active and idle";
constexpr const char* kBodSampleTitle = "BOD sample frequency";
constexpr const char* kBodLevelTitle = "BOD level";
constexpr SUpdiFuseField kBodFields3[] = {
    Field("SLEEP", kBodSleepTitle, 0x03, kBodSleep),
    Field("ACTIVE", kBodActiveTitle, 0x0C, kBodActive),
    Field("SAMPFREQ", kBodSampleTitle, 0x10, kBodSampleFrequency),
    Field("LVL", kBodLevelTitle, 0xE0, kBodLevels3),
};
constexpr SUpdiFuseField kBodFields8[] = {
    Field("SLEEP", kBodSleepTitle, 0x03, kBodSleep),
    Field("ACTIVE", kBodActiveTitle, 0x0C, kBodActive),
    Field("SAMPFREQ", kBodSampleTitle, 0x10, kBodSampleFrequency),
    Field("LVL", kBodLevelTitle, 0xE0, kBodLevels8),
};

// --- OSCCFG: "Oscillator Configuration".
constexpr SUpdiFuseChoice kFrequencies[] = {
    {0x1, "16MHZ", "16 MHz (internal oscillator, factory calibrated)"},
    {0x2, "20MHZ", "20 MHz (internal oscillator, factory calibrated)"},
};
constexpr SUpdiFuseChoice kOscLock[] = {
    {0x0, "OFF", "off: the oscillator's calibration registers can be written"},
    {0x1, "ON", "on: the oscillator's calibration registers are locked"},
};
constexpr SUpdiFuseField kOscFields[] = {
    Field("FREQSEL", "Main oscillator frequency", 0x03, kFrequencies),
    Field("OSCLOCK", "Oscillator calibration lock", 0x80, kOscLock),
};

// --- TCD0CFG: "TCD0 Configuration" (tinyAVR 1 only): what timer D's
// outputs do after reset and on a fault.
constexpr SUpdiFuseChoice kTcdLevel[] = {
    {0x0, "OFF", "0 (low)"},
    {0x1, "ON", "1 (high)"},
};
constexpr SUpdiFuseChoice kTcdEnable[] = {
    {0x0, "OFF", "off"},
    {0x1, "ON", "on: the pin is driven by timer D"},
};
constexpr SUpdiFuseField kTcdFields[] = {
    Field("CMPA", "Compare A default output value", 0x01, kTcdLevel),
    Field("CMPB", "Compare B default output value", 0x02, kTcdLevel),
    Field("CMPC", "Compare C default output value", 0x04, kTcdLevel),
    Field("CMPD", "Compare D default output value", 0x08, kTcdLevel),
    Field("CMPAEN", "Compare A output enable", 0x10, kTcdEnable),
    Field("CMPBEN", "Compare B output enable", 0x20, kTcdEnable),
    Field("CMPCEN", "Compare C output enable", 0x40, kTcdEnable),
    Field("CMPDEN", "Compare D output enable", 0x80, kTcdEnable),
};

// --- SYSCFG0: "System Configuration 0".
constexpr SUpdiFuseChoice kEeSave[] = {
    {0x0, "OFF", "off: a chip erase erases the EEPROM"},
    {0x1, "ON", "on: the EEPROM is kept through a chip erase"},
};
constexpr SUpdiFuseChoice kCrcSources[] = {
    {0x0, "FLASH", "CRC of the whole flash (boot, application code and data) at start-up"},
    {0x1, "BOOT", "CRC of the boot section at start-up"},
    {0x2, "BOOTAPP", "CRC of the boot and application code sections at start-up"},
    {0x3, "NOCRC", "no CRC"},
};
// tinyAVR 0/1: the UPDI pin PA0 is the UPDI, a port pin or RESET.
constexpr SUpdiFuseChoice kTinyResetPin[] = {
    {0x0, "GPIO", "GPIO: PA0 is a port pin", nullptr, kBecomesPortPin},
    {0x1, "UPDI", "UPDI: PA0 is the UPDI pin"},
    {0x2, "RST", "RESET: PA0 is the RESET pin", "reset", kBecomesResetPin},
};
// tinyAVR 2: as tinyAVR 0/1, and the UPDI on PA0 with RESET on PB4.
constexpr SUpdiFuseChoice kTiny2ResetPin[] = {
    {0x0, "GPIO", "GPIO: PA0 is a port pin", nullptr, kBecomesPortPin},
    {0x1, "UPDI", "UPDI: PA0 is the UPDI pin"},
    {0x2, "RST", "RESET: PA0 is the RESET pin", "reset", kBecomesResetPin},
    {0x3, "PDIRST", "UPDI on PA0, RESET on the alternative reset pin PB4"},
};
// megaAVR 0: the UPDI pin is its own; RSTPINCFG only decides PF6.
constexpr SUpdiFuseChoice kMegaResetPin[] = {
    {0x0, "GPIO", "GPIO: PF6 is a port pin"},
    {0x1, "RST", "RESET: PF6 is the RESET pin", "reset"},
};
constexpr SUpdiFuseChoice kTimeOutDisable[] = {
    {0x0, "OFF", "off: the time-out is enabled"},
    {0x1, "ON", "on: the time-out is disabled"},
};
constexpr const char* kEeSaveTitle = "EEPROM kept through chip erase";
constexpr const char* kResetPinTitle = "Reset pin configuration";
constexpr const char* kCrcTitle = "CRC at start-up";
constexpr SUpdiFuseField kTinySys0Fields[] = {
    Field("EESAVE", kEeSaveTitle, 0x01, kEeSave),
    Field("RSTPINCFG", kResetPinTitle, 0x0C, kTinyResetPin),
    Field("CRCSRC", kCrcTitle, 0xC0, kCrcSources),
};
constexpr SUpdiFuseField kTiny2Sys0Fields[] = {
    Field("EESAVE", kEeSaveTitle, 0x01, kEeSave),
    Field("RSTPINCFG", kResetPinTitle, 0x0C, kTiny2ResetPin),
    Field("TOUTDIS", "Time-out disable", 0x10, kTimeOutDisable),
    Field("CRCSRC", kCrcTitle, 0xC0, kCrcSources),
};
constexpr SUpdiFuseField kMegaSys0Fields[] = {
    Field("EESAVE", kEeSaveTitle, 0x01, kEeSave),
    Field("RSTPINCFG", kResetPinTitle, 0x08, kMegaResetPin),
    Field("CRCSRC", kCrcTitle, 0xC0, kCrcSources),
};

// --- SYSCFG1: "System Configuration 1".
constexpr SUpdiFuseChoice kStartupTimes[] = {
    {0x0, "0MS", "0 ms"}, {0x1, "1MS", "1 ms"},   {0x2, "2MS", "2 ms"},   {0x3, "4MS", "4 ms"},
    {0x4, "8MS", "8 ms"}, {0x5, "16MS", "16 ms"}, {0x6, "32MS", "32 ms"}, {0x7, "64MS", "64 ms"},
};
constexpr SUpdiFuseField kSys1Fields[] = {
    Field("SUT", "Start-up time", 0x07, kStartupTimes),
};

// ---------------------------------------------------------------------------
// AVR DA, DB, DD and EA: one fuse row at 0x1050 for all four (WDTCFG, BODCFG,
// OSCCFG, SYSCFG0, SYSCFG1, CODESIZE, BOOTSIZE), the fields differing.

// The flash sections count 512-byte blocks.
constexpr uint32_t kDxExSectionBlock = 512;

// --- WDTCFG: the same periods, timed on a 1.024 kHz clock.
constexpr SUpdiFuseChoice kDxWdtTimes[] = {
    {0x0, "OFF", "off"},
    {0x1, "8CLK", "8 cycles (8 ms)"},
    {0x2, "16CLK", "16 cycles (16 ms)"},
    {0x3, "32CLK", "32 cycles (32 ms)"},
    {0x4, "64CLK", "64 cycles (64 ms)"},
    {0x5, "128CLK", "128 cycles (0.128 s)"},
    {0x6, "256CLK", "256 cycles (0.256 s)"},
    {0x7, "512CLK", "512 cycles (0.512 s)"},
    {0x8, "1KCLK", "1K cycles (1.0 s)"},
    {0x9, "2KCLK", "2K cycles (2.0 s)"},
    {0xA, "4KCLK", "4K cycles (4.0 s)"},
    {0xB, "8KCLK", "8K cycles (8.0 s)"},
};
constexpr SUpdiFuseField kDxWdtFields[] = {
    Field("PERIOD", "Watchdog time-out period", 0x0F, kDxWdtTimes),
    Field("WINDOW", "Watchdog window (closed period)", 0xF0, kDxWdtTimes),
};

// --- BODCFG: the Dx/Ex names for the modes, 128 Hz or 32 Hz sampling.
constexpr SUpdiFuseChoice kDxBodSleep[] = {
    {0x0, "DISABLE", "disabled"},
    {0x1, "ENABLE", "enabled, continuous"},
    {0x2, "SAMPLE", "enabled, sampled"},
};
constexpr SUpdiFuseChoice kDxBodActive[] = {
    {0x0, "DISABLE", "disabled"},
    {0x1, "ENABLE", "enabled, continuous"},
    {0x2, "SAMPLE", "enabled, sampled"},
    {0x3, "ENABLEWAIT", "enabled, continuous, with wake-up halted until the BOD runs"},
};
constexpr SUpdiFuseChoice kDxBodSampleFrequency[] = {
    {0x0, "128HZ", "128 Hz"},
    {0x1, "32HZ", "32 Hz"},
};
// AVR DA, DB, DD: four levels, the others reserved.
constexpr SUpdiFuseChoice kDxBodLevels[] = {
    {0x0, "BODLEVEL0", "1.9 V", "1.9v"},
    {0x1, "BODLEVEL1", "2.45 V", "2.45v"},
    {0x2, "BODLEVEL2", "2.7 V", "2.7v"},
    {0x3, "BODLEVEL3", "2.85 V", "2.85v"},
};
// AVR EA: four levels over its wider supply range.
constexpr SUpdiFuseChoice kEaBodLevels[] = {
    {0x0, "BODLEVEL0", "1.65 V", "1.65v"},
    {0x1, "BODLEVEL1", "1.9 V", "1.9v"},
    {0x2, "BODLEVEL2", "2.6 V", "2.6v"},
    {0x3, "BODLEVEL3", "4.3 V", "4.3v"},
};
constexpr SUpdiFuseField kDxBodFields[] = {
    Field("SLEEP", kBodSleepTitle, 0x03, kDxBodSleep),
    Field("ACTIVE", kBodActiveTitle, 0x0C, kDxBodActive),
    Field("SAMPFREQ", kBodSampleTitle, 0x10, kDxBodSampleFrequency),
    Field("LVL", kBodLevelTitle, 0xE0, kDxBodLevels),
};
constexpr SUpdiFuseField kEaBodFields[] = {
    Field("SLEEP", kBodSleepTitle, 0x03, kDxBodSleep),
    Field("ACTIVE", kBodActiveTitle, 0x0C, kDxBodActive),
    Field("SAMPFREQ", kBodSampleTitle, 0x10, kDxBodSampleFrequency),
    Field("LVL", kBodLevelTitle, 0xE0, kEaBodLevels),
};

// --- OSCCFG: the clock the chip starts on.
constexpr SUpdiFuseChoice kDxClockSelect[] = {
    {0x0, "OSCHF", "the internal high-frequency oscillator", "internal"},
    {0x1, "OSC32K", "the internal 32.768 kHz oscillator", "32.768khz"},
};
constexpr SUpdiFuseField kDxOscFields[] = {
    Field("CLKSEL", "Clock at start-up", 0x07, kDxClockSelect),
};
// AVR EA: the high-frequency oscillator's frequency instead.
constexpr SUpdiFuseChoice kEaFrequencies[] = {
    {0x0, "20MHZ", "20 MHz (internal oscillator)"},
    {0x1, "16MHZ", "16 MHz (internal oscillator)"},
};
constexpr SUpdiFuseField kEaOscFields[] = {
    Field("OSCHFFRQ", "Internal oscillator frequency", 0x08, kEaFrequencies),
};

// --- SYSCFG0
constexpr SUpdiFuseChoice kCrcSelect[] = {
    {0x0, "CRC16", "CRC16"},
    {0x1, "CRC32", "CRC32"},
};
constexpr const char* kCrcSelectTitle = "CRC kind";
// AVR DA/DB: PF6 is RESET or a port pin; the UPDI pin is its own.
constexpr SUpdiFuseChoice kDxResetPin[] = {
    {0x0, "GPIO", "GPIO: PF6 is a port pin"},
    {0x2, "RST", "RESET: PF6 is the RESET pin", "reset"},
};
// AVR DD/EA: RSTPINCFG one bit; the UPDI pin can be given away too.
constexpr SUpdiFuseChoice kDdResetPin[] = {
    {0x0, "GPIO", "GPIO: PF6 is a port pin"},
    {0x1, "RST", "RESET: PF6 is the RESET pin", "reset"},
};
constexpr SUpdiFuseChoice kUpdiPin[] = {
    {0x0, "GPIO", "GPIO: PF7 is a port pin, the UPDI is off", nullptr, kBecomesPortPin},
    {0x1, "UPDI", "UPDI: PF7 is the UPDI pin"},
};
constexpr SUpdiFuseField kDxSys0Fields[] = {
    Field("EESAVE", kEeSaveTitle, 0x01, kEeSave),
    Field("RSTPINCFG", kResetPinTitle, 0x0C, kDxResetPin),
    Field("CRCSEL", kCrcSelectTitle, 0x20, kCrcSelect),
    Field("CRCSRC", kCrcTitle, 0xC0, kCrcSources),
};
constexpr SUpdiFuseField kDdSys0Fields[] = {
    Field("EESAVE", kEeSaveTitle, 0x01, kEeSave),
    Field("RSTPINCFG", kResetPinTitle, 0x08, kDdResetPin),
    Field("UPDIPINCFG", "UPDI pin configuration", 0x10, kUpdiPin),
    Field("CRCSEL", kCrcSelectTitle, 0x20, kCrcSelect),
    Field("CRCSRC", kCrcTitle, 0xC0, kCrcSources),
};

// --- SYSCFG1: the start-up time; on the parts with MVIO (DB, DD) also
// how PORTC is supplied.
constexpr SUpdiFuseChoice kMvioSupply[] = {
    {0x1, "DUAL", "dual supply: PORTC runs from VDDIO2 (MVIO)"},
    {0x2, "SINGLE", "single supply: PORTC runs from VDD"},
};
constexpr SUpdiFuseField kMvioSys1Fields[] = {
    Field("SUT", "Start-up time", 0x07, kStartupTimes),
    Field("MVSYSCFG", "MVIO supply", 0x18, kMvioSupply),
};

// --- The fuse bytes of each family, in the order of their offsets.
constexpr const char* kWdtTitle = "Watchdog configuration";
constexpr const char* kBodTitle = "BOD configuration";
constexpr const char* kOscTitle = "Oscillator configuration";
constexpr const char* kSys0Title = "System configuration 0";
constexpr const char* kSys1Title = "System configuration 1";
constexpr const char* kAppEndTitle = "Application code section end";
constexpr const char* kBootEndTitle = "Boot section end";

constexpr SUpdiFuseWords kTiny0Fuses[] = {
    Fuse("wdtcfg", kWdtTitle, kWdtFields),
    Fuse("bodcfg", kBodTitle, kBodFields3),
    Fuse("osccfg", kOscTitle, kOscFields),
    Fuse("syscfg0", kSys0Title, kTinySys0Fields),
    Fuse("syscfg1", kSys1Title, kSys1Fields),
    Section("append", kAppEndTitle, EUpdiFuseSection::kAppEnd, kTinyMegaSectionBlock),
    Section("bootend", kBootEndTitle, EUpdiFuseSection::kBootEnd, kTinyMegaSectionBlock),
};
constexpr SUpdiFuseWords kTiny1Fuses[] = {
    Fuse("wdtcfg", kWdtTitle, kWdtFields),
    Fuse("bodcfg", kBodTitle, kBodFields3),
    Fuse("osccfg", kOscTitle, kOscFields),
    Fuse("tcd0cfg", "Timer/counter D configuration", kTcdFields),
    Fuse("syscfg0", kSys0Title, kTinySys0Fields),
    Fuse("syscfg1", kSys1Title, kSys1Fields),
    Section("append", kAppEndTitle, EUpdiFuseSection::kAppEnd, kTinyMegaSectionBlock),
    Section("bootend", kBootEndTitle, EUpdiFuseSection::kBootEnd, kTinyMegaSectionBlock),
};
constexpr SUpdiFuseWords kTiny2Fuses[] = {
    Fuse("wdtcfg", kWdtTitle, kWdtFields),
    Fuse("bodcfg", kBodTitle, kBodFields8),
    Fuse("osccfg", kOscTitle, kOscFields),
    Fuse("syscfg0", kSys0Title, kTiny2Sys0Fields),
    Fuse("syscfg1", kSys1Title, kSys1Fields),
    Section("append", kAppEndTitle, EUpdiFuseSection::kAppEnd, kTinyMegaSectionBlock),
    Section("bootend", kBootEndTitle, EUpdiFuseSection::kBootEnd, kTinyMegaSectionBlock),
};
constexpr SUpdiFuseWords kMega0Fuses[] = {
    Fuse("wdtcfg", kWdtTitle, kWdtFields),
    Fuse("bodcfg", kBodTitle, kBodFields3),
    Fuse("osccfg", kOscTitle, kOscFields),
    Fuse("syscfg0", kSys0Title, kMegaSys0Fields),
    Fuse("syscfg1", kSys1Title, kSys1Fields),
    Section("append", kAppEndTitle, EUpdiFuseSection::kAppEnd, kTinyMegaSectionBlock),
    Section("bootend", kBootEndTitle, EUpdiFuseSection::kBootEnd, kTinyMegaSectionBlock),
};

constexpr const char* kCodeSizeTitle = "Application code section size";
constexpr const char* kBootSizeTitle = "Boot section size";
constexpr SUpdiFuseWords kDaFuses[] = {
    Fuse("wdtcfg", kWdtTitle, kDxWdtFields),
    Fuse("bodcfg", kBodTitle, kDxBodFields),
    Fuse("osccfg", kOscTitle, kDxOscFields),
    Fuse("syscfg0", kSys0Title, kDxSys0Fields),
    Fuse("syscfg1", kSys1Title, kSys1Fields),
    Section("codesize", kCodeSizeTitle, EUpdiFuseSection::kAppEnd, kDxExSectionBlock),
    Section("bootsize", kBootSizeTitle, EUpdiFuseSection::kBootEnd, kDxExSectionBlock),
};
constexpr SUpdiFuseWords kDbFuses[] = {
    Fuse("wdtcfg", kWdtTitle, kDxWdtFields),
    Fuse("bodcfg", kBodTitle, kDxBodFields),
    Fuse("osccfg", kOscTitle, kDxOscFields),
    Fuse("syscfg0", kSys0Title, kDxSys0Fields),
    Fuse("syscfg1", kSys1Title, kMvioSys1Fields),
    Section("codesize", kCodeSizeTitle, EUpdiFuseSection::kAppEnd, kDxExSectionBlock),
    Section("bootsize", kBootSizeTitle, EUpdiFuseSection::kBootEnd, kDxExSectionBlock),
};
constexpr SUpdiFuseWords kDdFuses[] = {
    Fuse("wdtcfg", kWdtTitle, kDxWdtFields),
    Fuse("bodcfg", kBodTitle, kDxBodFields),
    Fuse("osccfg", kOscTitle, kDxOscFields),
    Fuse("syscfg0", kSys0Title, kDdSys0Fields),
    Fuse("syscfg1", kSys1Title, kMvioSys1Fields),
    Section("codesize", kCodeSizeTitle, EUpdiFuseSection::kAppEnd, kDxExSectionBlock),
    Section("bootsize", kBootSizeTitle, EUpdiFuseSection::kBootEnd, kDxExSectionBlock),
};
constexpr SUpdiFuseWords kEaFuses[] = {
    Fuse("wdtcfg", kWdtTitle, kDxWdtFields),
    Fuse("bodcfg", kBodTitle, kEaBodFields),
    Fuse("osccfg", kOscTitle, kEaOscFields),
    Fuse("syscfg0", kSys0Title, kDdSys0Fields),
    Fuse("syscfg1", kSys1Title, kSys1Fields),
    Section("codesize", kCodeSizeTitle, EUpdiFuseSection::kAppEnd, kDxExSectionBlock),
    Section("bootsize", kBootSizeTitle, EUpdiFuseSection::kBootEnd, kDxExSectionBlock),
};
// The values as shipped, fuse by fuse as above. They differ between the
// families only in reserved bits (the tinyAVR 0 and 2 parts are described
// with theirs set); the fields read the same: watchdog and BOD off, 20 MHz,
// RSTPINCFG UPDI (megaAVR 0: PF6 a port pin), no CRC, 64 ms start-up, the
// whole flash one boot section.
constexpr uint8_t kTiny0Factory[] = {0x00, 0x00, 0x7E, 0xF6, 0xFF, 0x00, 0x00};
constexpr uint8_t kTiny1Factory[] = {0x00, 0x00, 0x02, 0x00, 0xC4, 0x07, 0x00, 0x00};
constexpr uint8_t kTiny2Factory[] = {0x00, 0x00, 0x7E, 0xF6, 0xFF, 0x00, 0x00};
constexpr uint8_t kMega0Factory[] = {0x00, 0x00, 0x02, 0xC4, 0x07, 0x00, 0x00};
// AVR DA/DB/DD/EA: watchdog and BOD off, the internal oscillator (EA: at
// 20 MHz), no CRC, the whole flash one boot section; PF6 a port pin; on
// the DD and EA PF7 the UPDI pin; start-up 0 ms (EA: 64 ms); MVIO dual
// supply on the DB and DD.
constexpr uint8_t kDaFactory[] = {0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00};
constexpr uint8_t kDbFactory[] = {0x00, 0x00, 0x00, 0xC0, 0x08, 0x00, 0x00};
constexpr uint8_t kDdFactory[] = {0x00, 0x00, 0x00, 0xD0, 0x08, 0x00, 0x00};
constexpr uint8_t kEaFactory[] = {0x00, 0x00, 0x00, 0xD0, 0x07, 0x00, 0x00};
static_assert(std::size(kDaFactory) == std::size(kDaFuses));
static_assert(std::size(kDbFactory) == std::size(kDbFuses));
static_assert(std::size(kDdFactory) == std::size(kDdFuses));
static_assert(std::size(kEaFactory) == std::size(kEaFuses));
static_assert(std::size(kTiny0Factory) == std::size(kTiny0Fuses));
static_assert(std::size(kTiny1Factory) == std::size(kTiny1Fuses));
static_assert(std::size(kTiny2Factory) == std::size(kTiny2Fuses));
static_assert(std::size(kMega0Factory) == std::size(kMega0Fuses));

// The device IDs of each family's parts (SIGROW.DEVICEID0..2).
constexpr uint8_t kTiny0Signatures[][3] = {
    {0x1E, 0x91, 0x23}, {0x1E, 0x91, 0x22}, {0x1E, 0x92, 0x27}, {0x1E, 0x92, 0x26},
    {0x1E, 0x92, 0x25}, {0x1E, 0x93, 0x25}, {0x1E, 0x93, 0x24}, {0x1E, 0x93, 0x23},
    {0x1E, 0x94, 0x25}, {0x1E, 0x94, 0x24}, {0x1E, 0x94, 0x23},
};
constexpr uint8_t kTiny1Signatures[][3] = {
    {0x1E, 0x91, 0x21}, {0x1E, 0x91, 0x20}, {0x1E, 0x92, 0x23}, {0x1E, 0x92, 0x22},
    {0x1E, 0x92, 0x21}, {0x1E, 0x92, 0x20}, {0x1E, 0x93, 0x22}, {0x1E, 0x93, 0x21},
    {0x1E, 0x93, 0x20}, {0x1E, 0x94, 0x22}, {0x1E, 0x94, 0x21}, {0x1E, 0x94, 0x20},
    {0x1E, 0x95, 0x21}, {0x1E, 0x95, 0x22},
};
constexpr uint8_t kTiny2Signatures[][3] = {
    {0x1E, 0x92, 0x2C}, {0x1E, 0x92, 0x2B}, {0x1E, 0x92, 0x2A}, {0x1E, 0x93, 0x29},
    {0x1E, 0x93, 0x28}, {0x1E, 0x93, 0x27}, {0x1E, 0x94, 0x2A}, {0x1E, 0x94, 0x29},
    {0x1E, 0x94, 0x28}, {0x1E, 0x95, 0x28}, {0x1E, 0x95, 0x27}, {0x1E, 0x95, 0x26},
};
constexpr uint8_t kMega0Signatures[][3] = {
    {0x1E, 0x93, 0x26}, {0x1E, 0x93, 0x2A}, {0x1E, 0x94, 0x27}, {0x1E, 0x94, 0x26},
    {0x1E, 0x95, 0x30}, {0x1E, 0x95, 0x31}, {0x1E, 0x96, 0x50}, {0x1E, 0x96, 0x51},
};

constexpr uint8_t kDaSignatures[][3] = {
    {0x1E, 0x95, 0x34}, {0x1E, 0x95, 0x33}, {0x1E, 0x95, 0x32}, {0x1E, 0x96, 0x15},
    {0x1E, 0x96, 0x14}, {0x1E, 0x96, 0x13}, {0x1E, 0x96, 0x12}, {0x1E, 0x97, 0x0A},
    {0x1E, 0x97, 0x09}, {0x1E, 0x97, 0x08}, {0x1E, 0x97, 0x07},
};
constexpr uint8_t kDbSignatures[][3] = {
    {0x1E, 0x95, 0x37}, {0x1E, 0x95, 0x36}, {0x1E, 0x95, 0x35}, {0x1E, 0x96, 0x19},
    {0x1E, 0x96, 0x18}, {0x1E, 0x96, 0x17}, {0x1E, 0x96, 0x16}, {0x1E, 0x97, 0x0E},
    {0x1E, 0x97, 0x0D}, {0x1E, 0x97, 0x0C}, {0x1E, 0x97, 0x0B},
};
constexpr uint8_t kDdSignatures[][3] = {
    {0x1E, 0x94, 0x34}, {0x1E, 0x94, 0x33}, {0x1E, 0x94, 0x32}, {0x1E, 0x94, 0x31},
    {0x1E, 0x95, 0x3B}, {0x1E, 0x95, 0x3A}, {0x1E, 0x95, 0x39}, {0x1E, 0x95, 0x38},
    {0x1E, 0x96, 0x1D}, {0x1E, 0x96, 0x1C}, {0x1E, 0x96, 0x1B}, {0x1E, 0x96, 0x1A},
};
constexpr uint8_t kEaSignatures[][3] = {
    {0x1E, 0x93, 0x2C}, {0x1E, 0x93, 0x2B}, {0x1E, 0x94, 0x37}, {0x1E, 0x94, 0x36},
    {0x1E, 0x94, 0x35}, {0x1E, 0x95, 0x3E}, {0x1E, 0x95, 0x3D}, {0x1E, 0x95, 0x3C},
    {0x1E, 0x96, 0x20}, {0x1E, 0x96, 0x1F}, {0x1E, 0x96, 0x1E},
};
template <size_t S, size_t N>
constexpr SUpdiFuseWordSet Set(const char* series, const uint8_t (&signatures)[S][3],
                               const SUpdiFuseWords (&fuses)[N], const uint8_t (&factory)[N]) {
    return SUpdiFuseWordSet{series, signatures, S, fuses, factory, N};
}

const SUpdiFuseWordSet kWordSets[] = {
    Set("tinyAVR 0-series", kTiny0Signatures, kTiny0Fuses, kTiny0Factory),
    Set("tinyAVR 1-series", kTiny1Signatures, kTiny1Fuses, kTiny1Factory),
    Set("tinyAVR 2-series", kTiny2Signatures, kTiny2Fuses, kTiny2Factory),
    Set("megaAVR 0-series", kMega0Signatures, kMega0Fuses, kMega0Factory),
    Set("AVR DA", kDaSignatures, kDaFuses, kDaFactory),
    Set("AVR DB", kDbSignatures, kDbFuses, kDbFactory),
    Set("AVR DD", kDdSignatures, kDdFuses, kDdFactory),
    Set("AVR EA", kEaSignatures, kEaFuses, kEaFactory),
};

}  // namespace

// ---------------------------------------------------------------------------
// Decoding, choosing and wording.
namespace {

constexpr size_t kWordsLength = 160;
constexpr char kListSeparator = ',';
constexpr char kFuseSeparator = '.';
constexpr int kBitsInByte = 8;
constexpr unsigned long kByteMax = 0xFF;
constexpr uint32_t kMaxFuses = 32;  // bits of the touched mask
constexpr char kHexPrefix[] = "0x";
constexpr size_t kHexPrefixLength = sizeof kHexPrefix - 1;

std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

int LowestBit(uint8_t mask) {
    int bit = 0;
    while (bit < kBitsInByte && ((mask >> bit) & 1) == 0) {
        ++bit;
    }
    return bit;
}

uint8_t FieldValue(uint8_t byte, const SUpdiFuseField& field) {
    return static_cast<uint8_t>((byte & field.mask) >> LowestBit(field.mask));
}

const SUpdiFuseChoice* Decode(const SUpdiFuseField& field, uint8_t byte) {
    const uint8_t value = FieldValue(byte, field);
    for (size_t i = 0; i < field.count; ++i) {
        if (field.choices[i].value == value) {
            return &field.choices[i];
        }
    }
    return nullptr;
}

std::string Unlisted(const SUpdiFuseField& field, uint8_t byte) {
    char text[kWordsLength];
    std::snprintf(text, sizeof text, "a value the datasheet does not list (0x%X)",
                  static_cast<unsigned>(FieldValue(byte, field)));
    return text;
}

// A quantity such as "2.6v" or "64ms": its number and its unit; false for a
// plain word.
bool Quantity(const std::string& text, double& number, std::string& unit) {
    const char* start = text.c_str();
    char* end = nullptr;
    number = std::strtod(start, &end);
    if (end == start) {
        return false;
    }
    unit = Lower(end);
    return true;
}

bool ChoiceNamed(const SUpdiFuseChoice& choice, const std::string& key) {
    if (key == Lower(choice.name)) {
        return true;
    }
    if (choice.alias == nullptr) {
        return false;
    }
    double wanted = 0;
    double have = 0;
    std::string wantedUnit;
    std::string haveUnit;
    if (Quantity(key, wanted, wantedUnit) && Quantity(choice.alias, have, haveUnit)) {
        return wanted == have && wantedUnit == haveUnit;
    }
    return key == Lower(choice.alias);
}

// A byte given as a number: decimal, or hexadecimal after 0x.
bool Number(const std::string& text, unsigned long& value) {
    const bool hex = text.compare(0, kHexPrefixLength, kHexPrefix) == 0;
    const std::string digits = hex ? text.substr(kHexPrefixLength) : text;
    if (digits.empty()) {
        return false;
    }
    for (char c : digits) {
        if (hex ? !std::isxdigit(static_cast<unsigned char>(c))
                : !std::isdigit(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    constexpr int kHex = 16;
    constexpr int kDecimal = 10;
    value = std::strtoul(digits.c_str(), nullptr, hex ? kHex : kDecimal);
    return true;
}

// Where the part's layout keeps the fuse of that name; count when it has none.
size_t LayoutIndex(const SUpdiPart& part, const char* fuse) {
    for (size_t i = 0; i < part.fuses.count; ++i) {
        if (Lower(part.fuses.fuses[i].name) == Lower(fuse)) {
            return i;
        }
    }
    return part.fuses.count;
}

std::string Range(uint32_t first, uint32_t end) {
    char text[kWordsLength];
    std::snprintf(text, sizeof text, "0x%04X-0x%04X (%u bytes)", static_cast<unsigned>(first),
                  static_cast<unsigned>(end - 1), static_cast<unsigned>(end - first));
    return text;
}

std::string Address(uint32_t address) {
    char text[kWordsLength];
    std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(address));
    return text;
}

std::string PastFlash(const SUpdiPart& part, uint8_t blocks, uint32_t blockBytes) {
    char text[kWordsLength];
    std::snprintf(text, sizeof text,
                  "%u blocks of %u bytes: past the end of the %u-byte flash, which holds %u",
                  static_cast<unsigned>(blocks), static_cast<unsigned>(blockBytes),
                  static_cast<unsigned>(part.flashBytes),
                  static_cast<unsigned>(part.flashBytes / blockBytes));
    return text;
}

// The boot section's end in words: the whole flash at 0.
std::string BootEndWords(const SUpdiPart& part, uint8_t blocks, uint32_t blockBytes) {
    const uint32_t end = blocks * blockBytes;
    if (blocks == 0) {
        return "0: the whole flash is boot section, " + Range(0, part.flashBytes);
    }
    if (end > part.flashBytes) {
        return PastFlash(part, blocks, blockBytes);
    }
    if (end == part.flashBytes) {
        return "boot section " + Range(0, end) + ": the whole flash";
    }
    return "boot section " + Range(0, end) + ", application from " + Address(end);
}

// The application code section's end as the byte alone tells it.
std::string AppEndWords(const SUpdiPart& part, uint8_t blocks, uint32_t blockBytes) {
    const uint32_t end = blocks * blockBytes;
    if (blocks == 0) {
        return "0: application code up to the end of flash, no application data section";
    }
    if (end > part.flashBytes) {
        return PastFlash(part, blocks, blockBytes);
    }
    return "application code ends before " + Address(end) + ", application data from there";
}

// The application sections in words, from both section fuses.
std::string AppSectionsWords(const SUpdiPart& part, uint8_t bootBlocks, uint8_t appBlocks,
                             uint32_t blockBytes) {
    const uint32_t bootEnd = bootBlocks * blockBytes;
    const uint32_t appEnd = appBlocks * blockBytes;
    if (bootBlocks == 0) {
        return "no application sections: the boot section end is 0, the whole flash is boot "
               "section";
    }
    if (bootEnd >= part.flashBytes) {
        return "no application sections: the boot section takes the whole flash";
    }
    if (appEnd > part.flashBytes) {
        return PastFlash(part, appBlocks, blockBytes);
    }
    if (appBlocks == 0 || appEnd == part.flashBytes) {
        return "application code " + Range(bootEnd, part.flashBytes) +
               ", no application data section";
    }
    if (appBlocks <= bootBlocks) {
        return "no application code section; application data " + Range(bootEnd, part.flashBytes);
    }
    return "application code " + Range(bootEnd, appEnd) + ", application data " +
           Range(appEnd, part.flashBytes);
}

std::string SectionWords(const SUpdiPart& part, const SUpdiFuseWords& fuse, uint8_t value) {
    return fuse.section == EUpdiFuseSection::kBootEnd ? BootEndWords(part, value, fuse.blockBytes)
                                                      : AppEndWords(part, value, fuse.blockBytes);
}

// The names the tool takes for the part, for an error.
std::string SettingNames(const SUpdiFuseWordSet& set) {
    std::string names;
    for (size_t f = 0; f < set.count; ++f) {
        const SUpdiFuseWords& fuse = set.fuses[f];
        for (size_t i = 0; i < fuse.count; ++i) {
            names += Lower(fuse.fields[i].name) + "=, ";
        }
        if (fuse.section != EUpdiFuseSection::kNone) {
            char text[kWordsLength];
            std::snprintf(text, sizeof text, "%s= (blocks of %u bytes), ", fuse.fuse,
                          static_cast<unsigned>(fuse.blockBytes));
            names += text;
        }
    }
    return names + "or a fuse's name with its whole byte (" + set.fuses[0].fuse + "=0x00)";
}

// The field a setting names: "lvl" or "bodcfg.lvl"; nullptr when none.
const SUpdiFuseField* FieldNamed(const SUpdiFuseWordSet& set, const std::string& name,
                                 const SUpdiFuseWords*& in) {
    const size_t dot = name.find(kFuseSeparator);
    const std::string fuseName = dot == std::string::npos ? "" : name.substr(0, dot);
    const std::string fieldName = dot == std::string::npos ? name : name.substr(dot + 1);
    for (size_t f = 0; f < set.count; ++f) {
        const SUpdiFuseWords& fuse = set.fuses[f];
        if (!fuseName.empty() && fuseName != fuse.fuse) {
            continue;
        }
        for (size_t i = 0; i < fuse.count; ++i) {
            if (fieldName == Lower(fuse.fields[i].name)) {
                in = &fuse;
                return &fuse.fields[i];
            }
        }
    }
    return nullptr;
}

// A field one of whose values takes the UPDI pin away.
bool DecidesUpdiPin(const SUpdiFuseField& field) {
    for (size_t i = 0; i < field.count; ++i) {
        if (field.choices[i].updiPinBecomes != nullptr) {
            return true;
        }
    }
    return false;
}

// The reason a field's new value cuts the UPDI off; empty when it does not.
// A value the datasheet does not list may take the pin away too.
std::string CutOffLine(const SUpdiFuseField& field, uint8_t next, const char* pulseOn) {
    const SUpdiFuseChoice* choice = Decode(field, next);
    const std::string noAdapter =
        "no UPDI adapter reaches the chip again without a 12 V pulse " + std::string(pulseOn);
    if (choice == nullptr) {
        return std::string(field.name) + " set to " + Unlisted(field, next) +
               ": the UPDI pin may stop being the UPDI pin, and then " + noAdapter;
    }
    if (choice->updiPinBecomes == nullptr) {
        return std::string();
    }
    return std::string(field.name) + " set to " + choice->name + ": the UPDI pin becomes " +
           choice->updiPinBecomes + ", and " + noAdapter;
}

const SUpdiFuseWords* FuseNamed(const SUpdiFuseWordSet& set, const std::string& name) {
    for (size_t f = 0; f < set.count; ++f) {
        if (name == Lower(set.fuses[f].fuse)) {
            return &set.fuses[f];
        }
    }
    return nullptr;
}

}  // namespace

const SUpdiFuseWordSet* UpdiFuseWordSetOf(const SUpdiPart& part) {
    for (const SUpdiFuseWordSet& set : kWordSets) {
        for (size_t i = 0; i < set.signatureCount; ++i) {
            const uint8_t* id = set.signatures[i];
            if (id[0] == part.signature[0] && id[1] == part.signature[1] &&
                id[2] == part.signature[2]) {
                return &set;
            }
        }
    }
    return nullptr;
}

const SUpdiFuseWords* UpdiFuseWordsOf(const SUpdiPart& part, const std::string& fuse) {
    const SUpdiFuseWordSet* set = UpdiFuseWordSetOf(part);
    if (set == nullptr || LayoutIndex(part, fuse.c_str()) == part.fuses.count) {
        return nullptr;
    }
    return FuseNamed(*set, Lower(fuse));
}

std::vector<SUpdiFuseLine> DecodeUpdiFuseByte(const SUpdiPart& part, const std::string& fuse,
                                              uint8_t value) {
    std::vector<SUpdiFuseLine> lines;
    const SUpdiFuseWords* words = UpdiFuseWordsOf(part, fuse);
    if (words == nullptr) {
        return lines;
    }
    if (words->section != EUpdiFuseSection::kNone) {
        lines.push_back({words->fuse, words->fuse, words->title, nullptr, nullptr,
                         SectionWords(part, *words, value)});
        return lines;
    }
    for (size_t i = 0; i < words->count; ++i) {
        const SUpdiFuseField& field = words->fields[i];
        const SUpdiFuseChoice* choice = Decode(field, value);
        lines.push_back({words->fuse, field.name, field.title, &field, choice,
                         choice != nullptr ? std::string(choice->words) : Unlisted(field, value)});
    }
    return lines;
}

std::vector<SUpdiFuseLine> DecodeUpdiFuses(const SUpdiPart& part, const UpdiFuseBytes& values) {
    std::vector<SUpdiFuseLine> lines;
    const SUpdiFuseWordSet* set = UpdiFuseWordSetOf(part);
    if (set == nullptr || values.size() != part.fuses.count) {
        return lines;
    }
    // The section fuses are read together: the application sections start
    // where the boot section ends.
    uint8_t bootBlocks = 0;
    for (size_t f = 0; f < set->count; ++f) {
        const size_t at = LayoutIndex(part, set->fuses[f].fuse);
        if (set->fuses[f].section == EUpdiFuseSection::kBootEnd && at < values.size()) {
            bootBlocks = values[at];
        }
    }
    for (size_t f = 0; f < set->count; ++f) {
        const SUpdiFuseWords& fuse = set->fuses[f];
        const size_t at = LayoutIndex(part, fuse.fuse);
        if (at == part.fuses.count) {
            continue;
        }
        std::vector<SUpdiFuseLine> own = DecodeUpdiFuseByte(part, fuse.fuse, values[at]);
        if (fuse.section == EUpdiFuseSection::kAppEnd && !own.empty()) {
            own.front().words = AppSectionsWords(part, bootBlocks, values[at], fuse.blockBytes);
        }
        lines.insert(lines.end(), own.begin(), own.end());
    }
    return lines;
}

std::string UpdiFuseChoiceKeys(const SUpdiFuseField& field) {
    std::string keys;
    for (size_t i = 0; i < field.count; ++i) {
        const SUpdiFuseChoice& choice = field.choices[i];
        keys += (keys.empty() ? "" : ", ") + Lower(choice.name);
        if (choice.alias != nullptr) {
            keys += std::string(" (or ") + choice.alias + ")";
        }
    }
    return keys;
}

uint8_t ApplyUpdiFuseChoice(uint8_t value, const SUpdiFuseField& field,
                            const SUpdiFuseChoice& choice) {
    const uint8_t bits = static_cast<uint8_t>((choice.value << LowestBit(field.mask)) & field.mask);
    return static_cast<uint8_t>((value & ~field.mask) | bits);
}

bool ApplyUpdiFuseSettings(const SUpdiPart& part, const std::string& text, UpdiFuseBytes& values,
                           uint32_t& touched, std::string& error) {
    const SUpdiFuseWordSet* set = UpdiFuseWordSetOf(part);
    if (set == nullptr) {
        error = std::string("the fuses of the ") + part.name +
                " are not known in words here; give them as bytes";
        return false;
    }
    if (values.size() != part.fuses.count || part.fuses.count > kMaxFuses) {
        error = std::string("the ") + part.name + "'s fuse values are incomplete";
        return false;
    }
    UpdiFuseBytes next = values;
    uint32_t reached = 0;
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

        const SUpdiFuseWords* in = nullptr;
        const SUpdiFuseField* field = FieldNamed(*set, name, in);
        if (field != nullptr) {
            const SUpdiFuseChoice* chosen = nullptr;
            for (size_t i = 0; i < field->count && chosen == nullptr; ++i) {
                chosen = ChoiceNamed(field->choices[i], value) ? &field->choices[i] : nullptr;
            }
            if (chosen == nullptr) {
                error = "bad fuse setting \"" + item + "\": " + Lower(field->name) + " takes " +
                        UpdiFuseChoiceKeys(*field);
                return false;
            }
            const size_t at = LayoutIndex(part, in->fuse);
            next[at] = ApplyUpdiFuseChoice(next[at], *field, *chosen);
            reached |= 1u << at;
            continue;
        }
        const SUpdiFuseWords* fuse = FuseNamed(*set, name);
        unsigned long number = 0;
        const bool isNumber = Number(value, number) && number <= kByteMax;
        if (fuse != nullptr && isNumber) {
            const uint32_t blocks = fuse->blockBytes != 0 ? part.flashBytes / fuse->blockBytes : 0;
            if (fuse->section != EUpdiFuseSection::kNone && number > blocks) {
                error = "bad fuse setting \"" + item +
                        "\": " + PastFlash(part, static_cast<uint8_t>(number), fuse->blockBytes);
                return false;
            }
            const size_t at = LayoutIndex(part, fuse->fuse);
            next[at] = static_cast<uint8_t>(number);
            reached |= 1u << at;
            continue;
        }
        if (fuse != nullptr) {
            error = "bad fuse setting \"" + item + "\": " + fuse->fuse +
                    (fuse->section != EUpdiFuseSection::kNone
                         ? " takes a number of blocks"
                         : " takes its whole byte, 0 to 255 or 0x00 to 0xFF");
            return false;
        }
        error = "unknown fuse setting \"" + item + "\"; the " + part.name + " takes " +
                SettingNames(*set);
        return false;
    }
    values = next;
    touched = reached;
    return true;
}

bool UpdiFactoryFuses(const SUpdiPart& part, UpdiFuseBytes& values) {
    const SUpdiFuseWordSet* set = UpdiFuseWordSetOf(part);
    if (set == nullptr) {
        return false;
    }
    UpdiFuseBytes factory(part.fuses.count, 0);
    for (size_t f = 0; f < set->count; ++f) {
        const size_t at = LayoutIndex(part, set->fuses[f].fuse);
        if (at < factory.size()) {
            factory[at] = set->factory[f];
        }
    }
    values = factory;
    return true;
}

std::string UpdiFuseCutOffReasons(const SUpdiPart& part, const UpdiFuseBytes& now,
                                  const UpdiFuseBytes& next) {
    std::string reasons;
    const SUpdiFuseWordSet* set = UpdiFuseWordSetOf(part);
    if (set == nullptr || part.highVoltage == EUpdiHighVoltage::kDedicatedPin ||
        now.size() != part.fuses.count || next.size() != part.fuses.count) {
        return reasons;
    }
    // Where the 12 V pulse that brings the UPDI back goes.
    const char* pulseOn =
        part.highVoltage == EUpdiHighVoltage::kOnUpdiPin ? "on it" : "on the RESET pin";
    for (size_t f = 0; f < set->count; ++f) {
        const SUpdiFuseWords& fuse = set->fuses[f];
        const size_t at = LayoutIndex(part, fuse.fuse);
        for (size_t i = 0; at < next.size() && i < fuse.count; ++i) {
            const SUpdiFuseField& field = fuse.fields[i];
            if (!DecidesUpdiPin(field) ||
                FieldValue(now[at], field) == FieldValue(next[at], field)) {
                continue;
            }
            const std::string line = CutOffLine(field, next[at], pulseOn);
            if (!line.empty()) {
                reasons += (reasons.empty() ? "" : "\n") + line;
            }
        }
    }
    return reasons;
}
