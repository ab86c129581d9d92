#include "sim/SimParts.h"

#include "base/NameText.h"

#include <cctype>
#include <vector>

namespace {

constexpr int8_t N = kSimNoBit;
constexpr std::array<int8_t, 8> kNoBits{{N, N, N, N, N, N, N, N}};

constexpr uint8_t kAtmel = 0x1E;
constexpr uint8_t kOpReadLock = 0x58;
constexpr uint8_t kOpReadFuse = 0x50;

// Lock and fuse bit numbers used below (lock byte as SimLockFuseRules keeps it).
constexpr uint8_t kTwoLockBits = 0x03;  // Lock Bit1, Lock Bit2
constexpr uint8_t kSixLockBits = 0x3F;  // and Boot Lock Bit01, 02, 11, 12

SimBitWrite Write(uint8_t secondMask, uint8_t secondValue, int dataByte,
                  std::array<int8_t, 8> from) {
    SimBitWrite write;
    write.secondMask = secondMask;
    write.secondValue = secondValue;
    write.dataByte = dataByte;
    write.from = from;
    return write;
}

SimBitRead Read(uint8_t opcode, std::array<int8_t, 8> lockAt, std::array<int8_t, 8> fuseAt) {
    SimBitRead read;
    read.opcode = opcode;
    read.lockAt = lockAt;
    read.fuseAt = fuseAt;
    return read;
}

// A read instruction told apart from others of its opcode by its second byte.
SimBitRead Read(uint8_t opcode, uint8_t second, std::array<int8_t, 8> lockAt,
                std::array<int8_t, 8> fuseAt) {
    SimBitRead read = Read(opcode, lockAt, fuseAt);
    read.secondMask = 0xFF;
    read.secondValue = second;
    return read;
}

// Write Lock Bits "1010 1100 1111 1211": Lock Bit1 in bit 1, Lock Bit2 in
// bit 2 of the second byte (AT90S1200, 2323, 2343, 2333, 4433, 4434, 8535,
// ATtiny15, ATtiny22, ATmega103 datasheets).
SimBitWrite LockWriteF9() {
    return Write(0xF9, 0xF9, 2, {{1, 2, N, N, N, N, N, N}});
}

// Lock and fuse rules without any fuse access (AT90S1200, 2313, 4414,
// 8515): lock bits written, never read; signature hidden in lock mode 3.
SimLockFuseRules LockOnly(SimBitWrite lockWrite) {
    SimLockFuseRules rules;
    rules.lockWrite = lockWrite;
    rules.lockBitsUsed = kTwoLockBits;
    rules.signatureHiddenInLockMode3 = true;
    return rules;
}

// AT90S4434/8535 datasheet, Table 43, note 2: the classic rules, and "the
// signature bytes are not readable in lock mode 3".
SimLockFuseRules Rules8535() {
    SimLockFuseRules rules = SimClassicRules();
    rules.signatureHiddenInLockMode3 = true;
    return rules;
}

// AT90S2323 and AT90S2343 datasheet (1004D-09/01), Table 19; ATtiny22
// datasheet, Table 17: as the classic rules, but the 0x58 answer's bit 0
// and the 0xAC 0xBE/0xBF write are RCEN on the 2343 and ATtiny22 (programmed:
// the internal RC oscillator runs the part, "default value is programmed"
// on the ATtiny22), and a change takes effect only at the next power-on
// ("the device must be power cycled").
SimLockFuseRules RulesRcen() {
    SimLockFuseRules rules = Rules8535();
    rules.fuseDefault[0] = 0xDE;  // SPIEN and RCEN programmed
    rules.rcenBit = 0;
    rules.fuseEffect = SimFuseEffect::PowerOn;
    return rules;
}

SimLockFuseRules RulesFstrtPowerOn() {
    SimLockFuseRules rules = Rules8535();
    rules.fuseEffect = SimFuseEffect::PowerOn;
    return rules;
}

// AT90S2333/4433 datasheet (1042G-AVR-09/02), Table 35: Read Lock Bits
// answers "xxxx x21x"; Write Fuse Bits "1010 1100 1017 6543" takes
// BODLEVEL, BODEN and CKSEL2..0 from bits 4..0 of the second byte; Read
// Fuse Bits 0x50 answers "xx87 6543" (SPIEN, BODLEVEL, BODEN, CKSEL2..0).
SimLockFuseRules Rules4433() {
    SimLockFuseRules rules;
    rules.lockWrite = LockWriteF9();
    rules.lockRead = Read(kOpReadLock, {{1, 2, N, N, N, N, N, N}}, kNoBits);
    rules.lockBitsUsed = kTwoLockBits;
    rules.fuseBytes = 1;
    // SPIEN programmed, BODLEVEL and BODEN unprogrammed, CKSEL 010.
    rules.fuseDefault[0] = 0xDA;
    rules.fuseWrite[0] = Write(0xE0, 0xA0, 2, {{0, 1, 2, 3, 4, N, N, N}});
    rules.fuseRead[0] = Read(kOpReadFuse, kNoBits, {{0, 1, 2, 3, 4, 5, N, N}});
    rules.spienBit = 5;
    rules.signatureHiddenInLockMode3 = true;
    return rules;
}

// ATtiny15L datasheet (1187E-AVR-06/02), Table 27 and "Fuse Bits": Write
// Fuse Bits "1010 1100 101x xxxx xxxx xxxx 8765 1143" writes BODLEVEL,
// BODEN, SPIEN, RSTDISBL (bits 7..4) and CKSEL1..0 (bits 1..0) of the fourth
// byte; Read Fuse Bits 0x50 answers "8765 xx43". Defaults: BODLEVEL
// programmed, BODEN unprogrammed, SPIEN programmed, RSTDISBL unprogrammed,
// CKSEL 00. Unprogramming SPIEN or programming RSTDISBL in serial
// programming mode "will disable future in-system downloading attempts";
// "changing the fuses does not have effect while in programming mode". The
// part always runs from its internal RC oscillator (CKSEL only selects the
// reset delay). Chip Erase leaves the fuses alone.
SimLockFuseRules RulesTiny15() {
    SimLockFuseRules rules;
    rules.lockWrite = LockWriteF9();
    rules.lockRead = Read(kOpReadLock, {{1, 2, N, N, N, N, N, N}}, kNoBits);
    rules.lockBitsUsed = kTwoLockBits;
    rules.fuseBytes = 1;
    rules.fuseDefault[0] = 0x5C;
    rules.fuseWrite[0] = Write(0xE0, 0xA0, 4, {{0, 1, N, N, 4, 5, 6, 7}});
    rules.fuseRead[0] = Read(kOpReadFuse, kNoBits, {{0, 1, N, N, 4, 5, 6, 7}});
    rules.spienBit = 5;
    rules.rstdisblBit = 4;
    rules.internalClockOnly = true;
    return rules;
}

// ATmega103(L) datasheet (0945G-09/01), Table 44: lock bits as the classic
// write, read in bits 2/1 of 0x58 ("xxxx x21x"); Write Fuse Bits
// "1010 1100 1011 6143" writes EESAVE (bit 3), SUT1 and SUT0 (bits 1, 0) of
// the second byte; Read Fuse Bits 0x50 answers "xx5x 6143" (SPIEN in bit 5).
// A programmed EESAVE keeps the EEPROM through a chip erase.
SimLockFuseRules RulesMega103() {
    SimLockFuseRules rules;
    rules.lockWrite = LockWriteF9();
    rules.lockRead = Read(kOpReadLock, {{1, 2, N, N, N, N, N, N}}, kNoBits);
    rules.lockBitsUsed = kTwoLockBits;
    rules.fuseBytes = 1;
    rules.fuseDefault[0] = 0xDF;  // SPIEN programmed; EESAVE, SUT1, SUT0 unprogrammed
    rules.fuseWrite[0] = Write(0xF4, 0xB4, 2, {{0, 1, N, 3, N, N, N, N}});
    rules.fuseRead[0] = Read(kOpReadFuse, kNoBits, {{0, 1, N, 3, N, 5, N, N}});
    rules.spienBit = 5;
    rules.eesaveBit = 3;
    return rules;
}

// ATmega161(L) datasheet (1228B-09/01), Table 48: Write Lock Bits
// "1010 1100 111x xxxx xxxx xxxx 1165 4321" takes all six lock bits from the
// fourth byte (bit 0 Lock Bit1 ... bit 5 Boot Lock Bit12), Read Lock Bits
// 0x58 answers "xx65 4321"; Write Fuse Bits "1010 1100 101x xxxx xxxx xxxx
// 1D1B A987" writes BOOTRST (bit 6), BODLEVEL, BODEN, CKSEL2..0 (bits 4..0)
// of the fourth byte; Read Fuse Bits 0x50 answers "xDCB A987" (SPIEN in
// bit 5).
SimLockFuseRules RulesMega161() {
    SimLockFuseRules rules;
    rules.lockWrite = Write(0xE0, 0xE0, 4, {{0, 1, 2, 3, 4, 5, N, N}});
    rules.lockRead = Read(kOpReadLock, {{0, 1, 2, 3, 4, 5, N, N}}, kNoBits);
    rules.lockBitsUsed = kSixLockBits;
    rules.fuseBytes = 1;
    // SPIEN programmed, BOOTRST, BODLEVEL, BODEN unprogrammed, CKSEL 010.
    rules.fuseDefault[0] = 0xDA;
    rules.fuseWrite[0] = Write(0xE0, 0xA0, 4, {{0, 1, 2, 3, 4, N, 6, N}});
    rules.fuseRead[0] = Read(kOpReadFuse, kNoBits, {{0, 1, 2, 3, 4, 5, 6, N}});
    rules.spienBit = 5;
    return rules;
}

// Write Lock Bits "1010 1100 111x x21x" (AT90S2313 datasheet 0839I-AVR-06/02,
// Table 28; AT90S4414/8515 datasheet, Table 33).
SimBitWrite LockWriteE0() {
    return Write(0xE0, 0xE0, 2, {{1, 2, N, N, N, N, N, N}});
}

// ------------------------------------------------- ATmega8 and later parts
//
// Their "Serial Programming Instruction Set" (ATmega8 datasheet 2486AA-AVR-
// 02/2013, Table 98; ATmega328P in 8271H-AVR-08/2014, Table 28-19; ATtiny25/
// 45/85 datasheet 2586Q-AVR-08/2013, Table 20-12, and the others named at
// each part): Write Lock Bits "1010 1100 111x xxxx xxxx xxxx 11ii iiii" takes
// the lock bits from the fourth byte (bit 0 LB1, bit 1 LB2, bits 2-5 BLB01,
// BLB02, BLB11, BLB12), Read Lock Bits 58 00 00 answers them the same way;
// Write Fuse (Low), High and Extended Fuse Bits are AC A0, AC A8, AC A4 with
// the fuse byte in the fourth byte, read back by 50 00, 58 08, 50 08.
// Their "Fuse Bits" sections: "The SPIEN Fuse is not accessible in serial
// programming mode" and "the Fuse bits are locked if Lock bit1 (LB1) is
// programmed". "Latching of Fuses": changes "will have no effect until
// the part leaves Programming mode. This does not apply to the EESAVE Fuse
// which will take effect once it is programmed."

constexpr int kLowFuse = 0;
constexpr int kHighFuse = 1;
constexpr std::array<uint8_t, kSimMaxFuseBytes> kWriteFuseSecond{{0xA0, 0xA8, 0xA4}};
constexpr std::array<uint8_t, kSimMaxFuseBytes> kReadFuseOpcode{{0x50, 0x58, 0x50}};
constexpr std::array<uint8_t, kSimMaxFuseBytes> kReadFuseSecond{{0x00, 0x08, 0x08}};
constexpr uint8_t kOpWriteLockSecond = 0xE0;
constexpr uint8_t kWriteLockMask = 0xE0;  // "111x xxxx"
constexpr uint8_t kAllBits = 0xFF;

constexpr int8_t FuseBit(int fuseByte, int bit) {
    return static_cast<int8_t>(fuseByte * 8 + bit);
}

// Each bit of the mask taken from (or shown at) the same bit.
std::array<int8_t, 8> SameBits(uint8_t mask) {
    std::array<int8_t, 8> bits = kNoBits;
    for (int n = 0; n < 8; ++n) {
        if ((mask >> n) & 1) {
            bits[static_cast<size_t>(n)] = static_cast<int8_t>(n);
        }
    }
    return bits;
}

// writable[i]: the bits of fuse byte i that serial programming can change
// (not SPIEN, not the bits the datasheet marks "-").
SimLockFuseRules PagedRules(uint8_t lockBits, int fuseBytes,
                            std::array<uint8_t, kSimMaxFuseBytes> defaults,
                            std::array<uint8_t, kSimMaxFuseBytes> writable) {
    SimLockFuseRules rules;
    rules.lockWrite = Write(kWriteLockMask, kOpWriteLockSecond, 4, SameBits(lockBits));
    rules.lockRead = Read(kOpReadLock, 0x00, SameBits(lockBits), kNoBits);
    rules.lockBitsUsed = lockBits;
    rules.fuseBytes = fuseBytes;
    rules.fuseDefault = defaults;
    for (size_t i = 0; i < static_cast<size_t>(fuseBytes); ++i) {
        rules.fuseWrite[i] = Write(kAllBits, kWriteFuseSecond[i], 4, SameBits(writable[i]));
        rules.fuseRead[i] =
            Read(kReadFuseOpcode[i], kReadFuseSecond[i], kNoBits, SameBits(kAllBits));
    }
    rules.lockBit1LocksFuses = true;
    return rules;
}

// CKSEL in the lowest bits of the low fuse byte; internal: bit v set for
// each value v that selects an oscillator inside the part.
void ClockSelect(SimLockFuseRules& rules, int width, uint16_t internal) {
    rules.ckselBit = FuseBit(kLowFuse, 0);
    rules.ckselWidth = width;
    const uint32_t values = (1u << (1u << width)) - 1;
    rules.ckselNeedsXtal1 = static_cast<uint16_t>(values & ~static_cast<uint32_t>(internal));
}

// ATmega8(L) datasheet (2486AA), Tables 87, 88; ATmega8A (DS40001974A),
// Tables 29-3, 29-4: high byte RSTDISBL 7, WDTON, SPIEN 5, CKOPT, EESAVE 3,
// BOOTSZ1, BOOTSZ0, BOOTRST, default 0xD9; low byte BODLEVEL, BODEN, SUT1,
// SUT0, CKSEL3..0, default 0xE1 ("internal RC Oscillator @ 1MHz"). ATmega8A
// "Device Clocking Options Select": CKSEL 0000 external clock, 0001-0100
// calibrated internal RC, 0101-1000 external RC, 1001 low-frequency
// crystal, 1010-1111 crystal/resonator. No debugWIRE.
SimLockFuseRules RulesMega8() {
    SimLockFuseRules rules =
        PagedRules(kSixLockBits, 2, {{0xE1, 0xD9, 0xFF}}, {{0xFF, 0xDF, 0x00}});
    rules.spienBit = FuseBit(kHighFuse, 5);
    rules.rstdisblBit = FuseBit(kHighFuse, 7);
    rules.eesaveBit = FuseBit(kHighFuse, 3);
    ClockSelect(rules, 4, 0x001E);
    return rules;
}

// ATmega16(L) datasheet (2466B-09/01 p.255, 2466T-AVR-07/10): high byte
// OCDEN, JTAGEN, SPIEN 5, CKOPT, EESAVE 3, BOOTSZ1, BOOTSZ0, BOOTRST,
// default 0x99; low byte as the ATmega8's, default 0xE1; the ATmega32(L)
// likewise. No RSTDISBL, no debugWIRE (JTAG instead).
SimLockFuseRules RulesMega16() {
    SimLockFuseRules rules =
        PagedRules(kSixLockBits, 2, {{0xE1, 0x99, 0xFF}}, {{0xFF, 0xDF, 0x00}});
    rules.spienBit = FuseBit(kHighFuse, 5);
    rules.eesaveBit = FuseBit(kHighFuse, 3);
    ClockSelect(rules, 4, 0x001E);
    return rules;
}

// ATmega48A/PA/88A/PA/168A/PA/328/P datasheet (8271H), "Fuse Bits": extended
// byte BODLEVEL2..0, default 0xFF; high byte RSTDISBL 7, DWEN 6, SPIEN 5,
// WDTON, EESAVE 3, BOOTSZ1, BOOTSZ0, BOOTRST, default 0xD9; low byte CKDIV8,
// CKOUT, SUT1, SUT0, CKSEL3..0, default 0x62 ("CKSEL = 0010, SUT = 10,
// CKDIV8 = 0"). "Device Clocking Options Select": 1111-1000 low power
// crystal, 0111-0110 full swing crystal, 0101-0100 low frequency crystal,
// 0011 internal 128 kHz, 0010 calibrated internal RC, 0001 reserved, 0000
// external clock.
SimLockFuseRules RulesMega328() {
    SimLockFuseRules rules =
        PagedRules(kSixLockBits, 3, {{0x62, 0xD9, 0xFF}}, {{0xFF, 0xDF, 0x07}});
    rules.spienBit = FuseBit(kHighFuse, 5);
    rules.rstdisblBit = FuseBit(kHighFuse, 7);
    rules.dwenBit = FuseBit(kHighFuse, 6);
    rules.eesaveBit = FuseBit(kHighFuse, 3);
    ClockSelect(rules, 4, 0x000C);
    return rules;
}

// ATmega164A/PA/324A/PA/644A/PA/1284/P datasheet (8272E), Tables 27-4, 27-5,
// and ATmega640/1280/1281/2560/2561 datasheet (2549O), Table 30-3: extended
// byte BODLEVEL2..0 (bits 7..3 unused), default 0xFF; high byte OCDEN,
// JTAGEN, SPIEN 5, WDTON, EESAVE 3, BOOTSZ1, BOOTSZ0, BOOTRST, default 0x99;
// low byte as the ATmega328P's, default 0x62, with the same clock choices.
// No RSTDISBL, no debugWIRE (JTAG instead).
SimLockFuseRules RulesMegaJtag() {
    SimLockFuseRules rules =
        PagedRules(kSixLockBits, 3, {{0x62, 0x99, 0xFF}}, {{0xFF, 0xDF, 0x07}});
    rules.spienBit = FuseBit(kHighFuse, 5);
    rules.eesaveBit = FuseBit(kHighFuse, 3);
    ClockSelect(rules, 4, 0x000C);
    return rules;
}

// ATtiny13 datasheet (2535J-AVR-08/10), Tables 17-3, 17-4; ATtiny13A
// (8126F-AVR-05/12): Lock Bit1 and 2 only; high byte (bits 7..5 unused)
// SELFPRGEN 4, DWEN 3, BODLEVEL1, BODLEVEL0, RSTDISBL 0, default 0xFF; low
// byte SPIEN 7, EESAVE 6, WDTON, CKDIV8, SUT1, SUT0, CKSEL1..0, default 0x6A.
// CKSEL 00 external clock on CLKI, 01 and 10 the calibrated internal
// 4.8/9.6 MHz oscillator, 11 the internal 128 kHz oscillator.
SimLockFuseRules RulesTiny13() {
    SimLockFuseRules rules =
        PagedRules(kTwoLockBits, 2, {{0x6A, 0xFF, 0xFF}}, {{0x7F, 0x1F, 0x00}});
    rules.spienBit = FuseBit(kLowFuse, 7);
    rules.eesaveBit = FuseBit(kLowFuse, 6);
    rules.rstdisblBit = FuseBit(kHighFuse, 0);
    rules.dwenBit = FuseBit(kHighFuse, 3);
    ClockSelect(rules, 2, 0x000E);
    return rules;
}

// ATtiny25/45/85 datasheet (2586Q), Tables 20-3 to 20-5, and ATtiny24/44/84
// datasheet (7701F), Tables 21-3 to 21-5: Lock Bit1 and 2 only; extended
// byte SELFPRGEN 0, default 0xFF; high byte RSTDISBL 7, DWEN 6, SPIEN 5,
// WDTON, EESAVE 3, BODLEVEL2..0, default 0xDF; low byte CKDIV8, CKOUT, SUT1,
// SUT0, CKSEL3..0, default 0x62 ("shipped with CKSEL = 0010, SUT = 10, and
// CKDIV8 programmed").
SimLockFuseRules RulesTinyX5X4(uint16_t internalClocks) {
    SimLockFuseRules rules =
        PagedRules(kTwoLockBits, 3, {{0x62, 0xDF, 0xFF}}, {{0xFF, 0xDF, 0x01}});
    rules.spienBit = FuseBit(kHighFuse, 5);
    rules.rstdisblBit = FuseBit(kHighFuse, 7);
    rules.dwenBit = FuseBit(kHighFuse, 6);
    rules.eesaveBit = FuseBit(kHighFuse, 3);
    ClockSelect(rules, 4, internalClocks);
    return rules;
}

// ATtiny25/45/85 (2586D, 2586N): CKSEL 0000 external clock, 0001 PLL from the
// internal oscillator, 0010 calibrated internal 8 MHz, 0011 ATtiny15
// compatibility (internal), 0100 internal 128 kHz, 0110 low-frequency
// crystal, 1000-1111 crystal/resonator; 0101 and 0111 reserved.
constexpr uint16_t kTinyX5InternalClocks = 0x001E;
// ATtiny24/44/84 (8006K, 7701F, 8183F): 0000 external clock, 0010 internal
// 8 MHz, 0100 internal 128 kHz, 0110 low-frequency crystal, 1000-1111
// crystal/resonator; the rest reserved.
constexpr uint16_t kTinyX4InternalClocks = 0x0014;

// ATtiny2313 datasheet (2543L-AVR-08/10), Tables 66-68, and ATtiny2313A/4313
// (8246B), Tables 20-3 to 20-5: Lock Bit1 and 2 only; extended byte
// SELFPRGEN 0, default 0xFF; high byte DWEN 7, EESAVE 6, SPIEN 5, WDTON,
// BODLEVEL2..0, RSTDISBL 0, default 0xDF; low byte CKDIV8, CKOUT, SUT1, SUT0,
// CKSEL3..0, default 0x64 ("shipped with CKSEL = 0100, SUT = 10, and CKDIV8
// programmed"). Clock (2543F/H, 2543L Table 2): 0000(-0001) external clock,
// 0010(-0011) internal 4 MHz, 0100(-0101) internal 8 MHz, 0110(-0111)
// internal 128 kHz, 1000-1111 crystal/resonator.
SimLockFuseRules RulesTiny2313() {
    SimLockFuseRules rules =
        PagedRules(kTwoLockBits, 3, {{0x64, 0xDF, 0xFF}}, {{0xFF, 0xDF, 0x01}});
    rules.spienBit = FuseBit(kHighFuse, 5);
    rules.rstdisblBit = FuseBit(kHighFuse, 0);
    rules.dwenBit = FuseBit(kHighFuse, 7);
    rules.eesaveBit = FuseBit(kHighFuse, 6);
    ClockSelect(rules, 4, 0x00FC);
    return rules;
}

// The fuse rules below follow the same pattern: lock bits written with
// 0xAC 0xE0 and read with 0x58 0x00 in the fourth byte, fuse bytes with
// 0xAC 0xA0/0xA8/0xA4 and 0x50 0x00/0x58 0x08/0x50 0x08; what differs is the
// layout of the fuse bytes.

// ATmega48/88/168 (2545, 8271H, 42176 "Fuse Bits"): high byte RSTDISBL 7,
// DWEN 6, SPIEN 5, WDTON, EESAVE 3, BODLEVEL2..0, default 0xDF; low byte
// as the ATmega328P's, default 0x62; extended byte SELFPRGEN (ATmega48s,
// two lock bits, default 0xFF) or BOOTSZ1, BOOTSZ0, BOOTRST (the others,
// default 0xF9). Clock: 0010 and 0011 internal, 0001 reserved.
SimLockFuseRules RulesMega48(bool bootSection) {
    SimLockFuseRules rules =
        bootSection ? PagedRules(kSixLockBits, 3, {{0x62, 0xDF, 0xF9}}, {{0xFF, 0xDF, 0x07}})
                    : PagedRules(kTwoLockBits, 3, {{0x62, 0xDF, 0xFF}}, {{0xFF, 0xDF, 0x01}});
    rules.spienBit = FuseBit(kHighFuse, 5);
    rules.rstdisblBit = FuseBit(kHighFuse, 7);
    rules.dwenBit = FuseBit(kHighFuse, 6);
    rules.eesaveBit = FuseBit(kHighFuse, 3);
    ClockSelect(rules, 4, 0x000C);
    return rules;
}

// ATmega328PB (DS40001906C Tables 32-5 to 32-7): as the ATmega328P, with
// CFD in bit 3 of the extended byte, default 0xF7.
SimLockFuseRules RulesMega328PB() {
    SimLockFuseRules rules = RulesMega328();
    rules.fuseDefault[2] = 0xF7;
    rules.fuseWrite[2] = Write(kAllBits, kWriteFuseSecond[2], 4, SameBits(0x0F));
    return rules;
}

// ATmega324PB (its datasheet, 31.2): the JTAG megas' bytes, with CFD in bit
// 3 of the extended byte (taken as the ATmega328PB's default, 0xF7: the
// table contradicts itself).
SimLockFuseRules RulesMega324PB() {
    SimLockFuseRules rules = RulesMegaJtag();
    rules.fuseDefault[2] = 0xF7;
    rules.fuseWrite[2] = Write(kAllBits, kWriteFuseSecond[2], 4, SameBits(0x0F));
    return rules;
}

// ATmega64/64A/128/128A (2490R, 8160C Tables 27-4, 27-5, 2467S Tables 118,
// 119, Table 6): high byte as the ATmega16's, default 0x99; low byte as the
// ATmega8's, default 0xE1 (internal RC at 1 MHz); extended byte M103C 1,
// WDTON 0, only these two written ("xxxx xxii"); default 0xFD taken
// (ATmega103 compatibility as shipped; not seen in a table). CKSEL
// 0001-0100 internal.
SimLockFuseRules RulesMega64() {
    SimLockFuseRules rules =
        PagedRules(kSixLockBits, 3, {{0xE1, 0x99, 0xFD}}, {{0xFF, 0xDF, 0x03}});
    rules.spienBit = FuseBit(kHighFuse, 5);
    rules.eesaveBit = FuseBit(kHighFuse, 3);
    ClockSelect(rules, 4, 0x001E);
    return rules;
}

// ATmega163 (1142, Table 60): low byte BODLEVEL, BODEN, SPIEN 5, (4
// reserved), CKSEL3..0; Write Fuse Bits sends bits 5 and 4 as 1, so SPIEN
// cannot be changed; high byte BOOTSZ1, BOOTSZ0, BOOTRST in bits 2..0.
// Defaults: CKSEL 0010 (internal RC, stated), SPIEN programmed; the rest
// taken as unprogrammed.
SimLockFuseRules RulesMega163() {
    SimLockFuseRules rules =
        PagedRules(kSixLockBits, 2, {{0xD2, 0xFF, 0xFF}}, {{0xCF, 0x07, 0x00}});
    rules.spienBit = FuseBit(kLowFuse, 5);
    return rules;
}

// ATmega325/3250/645/6450 (2570N Table 27-3): extended byte BODLEVEL1 2,
// BODLEVEL0 1, RSTDISBL 0, default 0xFF; high and low bytes as the JTAG
// megas' (8285E Tables 27-4, 27-5). The LCD megas and the A/P/PA parts keep
// the same high and low bytes; their extended byte's table was not at
// hand, so nothing of it is taken to cut the chip off.
SimLockFuseRules RulesLcd(bool rstdisblInExtended) {
    SimLockFuseRules rules = RulesMegaJtag();
    rules.fuseWrite[2] = Write(kAllBits, kWriteFuseSecond[2], 4, SameBits(0x0F));
    if (rstdisblInExtended) {
        rules.rstdisblBit = FuseBit(2, 0);
    }
    ClockSelect(rules, 4, 0x0004);  // 0010: the internal RC oscillator
    return rules;
}

// Parts whose fuse tables were not at hand (AT90CAN, ATmega8515/8535/162,
// the USB parts, ATtiny48/88/828/441/841/43U/1634/26, AT90PWM, ATmega M1
// and RF parts): lock and fuse bytes read and written whole, SPIEN in bit
// 5 of the high byte as on every part of their generation whose table is
// at hand, and the usual factory values. Nothing else is taken to cut the
// chip off.
SimLockFuseRules RulesUnlisted(uint8_t lockBits, int fuseBytes,
                               std::array<uint8_t, kSimMaxFuseBytes> defaults) {
    SimLockFuseRules rules = PagedRules(lockBits, fuseBytes, defaults, {{0xFF, 0xDF, 0xFF}});
    rules.spienBit = FuseBit(kHighFuse, 5);
    return rules;
}
constexpr std::array<uint8_t, kSimMaxFuseBytes> kJtagDefaults{{0x62, 0x99, 0xFF}};
constexpr std::array<uint8_t, kSimMaxFuseBytes> kTinyDefaults{{0x62, 0xDF, 0xFF}};

// ATtiny26 (1477G Table 61): lock bits in bits 1..0 of the fourth byte
// ("1111 11ii", read "xxxx xxoo"), low and high fuse bytes (the high one
// five bits wide); its fuse tables were not at hand, so the bytes are read
// and written whole and taken to cut nothing off.
SimLockFuseRules RulesTiny26() {
    return PagedRules(kTwoLockBits, 2, {{0xE1, 0xF7, 0xFF}}, {{0xFF, 0x1F, 0x00}});
}

// ATtiny12 (1006C Table 25, "Fuse Bits in ATtiny12"): lock bits written in
// the second byte and read in bits 2..1 as on the ATtiny15; Write Fuse Bits
// "1010 1100 101x xxxx xxxx xxxx A987 6543" and Read Fuse Bits 0x50 carry
// BODLEVEL, BODEN, SPIEN 5, RSTDISBL 4, CKSEL3..0; all of them, SPIEN too,
// can be written in serial programming mode. Default taken: SPIEN
// programmed, CKSEL 0010.
SimLockFuseRules RulesTiny12() {
    SimLockFuseRules rules = RulesTiny15();
    rules.fuseDefault[0] = 0xD2;
    rules.fuseWrite[0] = Write(0xE0, 0xA0, 4, SameBits(kAllBits));
    rules.fuseRead[0] = Read(kOpReadFuse, kNoBits, SameBits(kAllBits));
    rules.internalClockOnly = false;
    return rules;
}

// How a part tells that a write is done: by reading the cell being written
// ("Data Polling": it reads 0xFF until then), by Poll RDY/BSY, or both. The
// datasheets without a data polling section only say that "accessing the
// serial programming interface before the Flash write operation completes
// can result in incorrect programming".
enum class Polling { DataPolling, RdyBsy, Both };

// A part of the older instruction set. Times: the longest flash byte (or
// page), EEPROM byte, lock or fuse write and chip erase in microseconds;
// busy: what a cell being written reads (flash; EEPROM first, then second).
SimPart Classic(const char* name, std::array<uint8_t, 3> signature, int flashBytes, int eepromBytes,
                int pageBytes, std::array<int64_t, 4> times, std::array<uint8_t, 3> busy,
                SimEcho echo, bool strayEdgeLosesSync, const SimLockFuseRules& rules) {
    return SimPart{name,     signature, flashBytes, eepromBytes,        pageBytes,
                   times[0], times[1],  times[2],   times[3],           busy[0],
                   busy[1],  busy[2],   echo,       strayEdgeLosesSync, rules};
}

// A part of the newer instruction set. Times: tWD_FLASH (a page), tWD_EEPROM,
// tWD_FUSE (lock and fuse bits too), tWD_ERASE, in microseconds.
SimPart Paged(const char* name, std::array<uint8_t, 3> signature, int flashBytes, int eepromBytes,
              int pageBytes, std::array<int64_t, 4> times, Polling polling,
              const SimLockFuseRules& rules) {
    return SimPart{name,
                   signature,
                   flashBytes,
                   eepromBytes,
                   pageBytes,
                   times[0],
                   times[1],
                   times[2],
                   times[3],
                   0xFF,
                   0xFF,
                   0xFF,
                   SimEcho::EveryByte,
                   false,
                   rules,
                   polling != Polling::DataPolling,
                   true,
                   polling != Polling::RdyBsy};
}

// tWD_FLASH 4.5 ms, tWD_EEPROM 9.0 ms, tWD_FUSE 4.5 ms, tWD_ERASE 9.0 ms.
constexpr std::array<int64_t, 4> kMegaTimes{{4500, 9000, 4500, 9000}};
// tWD_EEPROM 3.6 ms.
constexpr std::array<int64_t, 4> kMega3600Times{{4500, 3600, 4500, 9000}};
// tWD_EEPROM 4.0 ms.
constexpr std::array<int64_t, 4> kTinyTimes{{4500, 4000, 4500, 9000}};

// Each entry: signature; flash and EEPROM bytes; flash page bytes; longest
// flash, EEPROM, lock/fuse write and chip erase in microseconds; polling
// values of flash, then EEPROM (first, second); echo; stray-edge
// sensitivity; lock and fuse rules.
//
// Write times are the datasheets' minimum wait delays (the longest a write
// may take). Where a datasheet gives no separate lock or fuse write time,
// the byte write time stands for it.
const SimPart kParts[] = {
    // AT90S4434/8535 datasheet, Table 43 (serial instruction set), data
    // polling: busy EEPROM reads P1 then P2 (0x00, 0xFF), busy flash 0xFF.
    Classic("AT90S8535", {{kAtmel, 0x93, 0x03}}, 8192, 512, 0, {{20000, 20000, 20000, 20000}},
            {{0xFF, 0x00, 0xFF}}, SimEcho::EveryByte, false, Rules8535()),
    Classic("AT90S4434", {{kAtmel, 0x92, 0x02}}, 4096, 256, 0, {{20000, 20000, 20000, 20000}},
            {{0xFF, 0x00, 0xFF}}, SimEcho::EveryByte, false, Rules8535()),
    // AT90S1200 datasheet (0838H-AVR-03/02), Table 19: no lock read, no fuse
    // access; no 0x53 echo, and "one single edge will cause the target to
    // lose synchronization" (application note AVR910).
    Classic("AT90S1200", {{kAtmel, 0x90, 0x01}}, 1024, 64, 0, {{9000, 9000, 9000, 20000}},
            {{0xFF, 0x00, 0xFF}}, SimEcho::None, true, LockOnly(LockWriteF9())),
    // AT90S4414/8515 datasheet, Table 33: busy flash reads 0x7F.
    Classic("AT90S4414", {{kAtmel, 0x92, 0x01}}, 4096, 256, 0, {{20000, 20000, 20000, 20000}},
            {{0x7F, 0x80, 0x7F}}, SimEcho::EveryByte, false, LockOnly(LockWriteE0())),
    Classic("AT90S8515", {{kAtmel, 0x93, 0x01}}, 8192, 512, 0, {{9000, 9000, 9000, 20000}},
            {{0x7F, 0x80, 0x7F}}, SimEcho::EveryByte, false, LockOnly(LockWriteE0())),
    // AT90S2313 datasheet (0839I-AVR-06/02), Table 28: busy flash reads 0x7F.
    Classic("AT90S2313", {{kAtmel, 0x91, 0x01}}, 2048, 128, 0, {{9000, 9000, 9000, 20000}},
            {{0x7F, 0x80, 0x7F}}, SimEcho::EveryByte, false, LockOnly(LockWriteE0())),
    // AT90S2323/2343 datasheet (1004D-09/01), Table 19.
    Classic("AT90S2323", {{kAtmel, 0x91, 0x02}}, 2048, 128, 0, {{20000, 20000, 20000, 20000}},
            {{0xFF, 0x00, 0xFF}}, SimEcho::EveryByte, false, RulesFstrtPowerOn()),
    Classic("AT90S2343", {{kAtmel, 0x91, 0x03}}, 2048, 128, 0, {{20000, 20000, 20000, 18000}},
            {{0xFF, 0x00, 0xFF}}, SimEcho::EveryByte, false, RulesRcen()),
    // No such part: the table's ATtiny10/11/12 entry, answered as the
    // simulator always did.
    Classic("ATtiny10/11/12", {{kAtmel, 0x90, 0x59}}, 1024, 64, 0, {{4000, 4000, 4000, 10000}},
            {{0xFF, 0xFF, 0xFF}}, SimEcho::EveryByte, false, SimClassicRules()),
    // AT90S2333/4433 datasheet (1042G-AVR-09/02): busy flash reads 0xFF.
    Classic("AT90S4433", {{kAtmel, 0x92, 0x03}}, 4096, 256, 0, {{20000, 20000, 20000, 20000}},
            {{0xFF, 0x00, 0xFF}}, SimEcho::EveryByte, false, Rules4433()),
    Classic("AT90S2333", {{kAtmel, 0x91, 0x05}}, 2048, 128, 0, {{20000, 20000, 20000, 20000}},
            {{0xFF, 0x00, 0xFF}}, SimEcho::EveryByte, false, Rules4433()),
    // ATtiny15L datasheet (1187E-AVR-06/02, 1187H-AVR-09/07): tWD_FLASH
    // 4.1 ms, tWD_EEPROM 8.2 ms, tWD_ERASE 8.2 ms; busy flash and EEPROM
    // read 0xFF.
    Classic("ATtiny15", {{kAtmel, 0x90, 0x06}}, 1024, 64, 0, {{4100, 8200, 8200, 8200}},
            {{0xFF, 0xFF, 0xFF}}, SimEcho::EveryByte, false, RulesTiny15()),
    // ATtiny22/22L datasheet, "Fuse Bits", "Signature Bytes", Table 17: a
    // busy EEPROM cell reads 0x00, then 0xFF.
    Classic("ATtiny22", {{kAtmel, 0x91, 0x06}}, 2048, 128, 0, {{20000, 20000, 20000, 20000}},
            {{0xFF, 0x00, 0xFF}}, SimEcho::EveryByte, false, RulesRcen()),
    // ATmega103(L) datasheet (0945G-09/01), Table 44: flash written in pages
    // of 128 words (Load Program Memory Page word offset in bits 6..0 of the
    // third byte); EEPROM 4 KB.
    Classic("ATmega103", {{kAtmel, 0x97, 0x01}}, 131072, 4096, 256, {{56000, 9000, 9000, 112000}},
            {{0xFF, 0x80, 0x7F}}, SimEcho::EveryByte, false, RulesMega103()),
    // ATmega161(L) datasheet (1228B-09/01), Tables 46, 47, 48: pages of 64
    // words; tWD_FLASH 14 ms, tWD_EEPROM 3.4 ms, tWD_ERASE 28 ms; a busy
    // EEPROM cell reads 0xFF, and so does the flash page being written.
    Classic("ATmega161", {{kAtmel, 0x94, 0x01}}, 16384, 512, 128, {{14000, 3400, 3400, 28000}},
            {{0xFF, 0xFF, 0xFF}}, SimEcho::EveryByte, false, RulesMega161()),
    // ATmega8(L) datasheet (2486AA), Tables 97, 98, "Data Polling Flash/
    // EEPROM" (a busy cell reads 0xFF); the table has no Poll RDY/BSY.
    // ATmega8A (DS40001974A), Table 29-14: the same times. Pages of 32 words.
    Paged("ATmega8/8A", {{kAtmel, 0x93, 0x07}}, 8192, 512, 64, kMegaTimes, Polling::DataPolling,
          RulesMega8()),
    // ATmega16(L) datasheet (2466T), Tables 115, 116 (with Poll RDY/BSY),
    // "Data Polling Flash"; pages of 64 words.
    Paged("ATmega16/16A", {{kAtmel, 0x94, 0x03}}, 16384, 512, 128, kMegaTimes, Polling::Both,
          RulesMega16()),
    // ATmega32(L) (2503Q) Table 115 and ATmega32A (8155I) Tables 29-15,
    // 29-16: no Poll RDY/BSY; pages of 64 words.
    Paged("ATmega32/32A", {{kAtmel, 0x95, 0x02}}, 32768, 1024, 128, kMegaTimes,
          Polling::DataPolling, RulesMega16()),
    // 8271H Tables 28-18, 28-19 (7810C Table 27-16: the same times).
    Paged("ATmega328P", {{kAtmel, 0x95, 0x0F}}, 32768, 1024, 128, kMega3600Times, Polling::RdyBsy,
          RulesMega328()),
    // ATmega164P/324P/644P datasheet (7674F), Tables 25-16, 25-17 (8272E
    // gives tWD_EEPROM 3.6 ms; the longer one is kept).
    Paged("ATmega644P/644PA", {{kAtmel, 0x96, 0x0A}}, 65536, 2048, 256, kMegaTimes, Polling::RdyBsy,
          RulesMegaJtag()),
    // 8272E Tables 27-16, 27-17.
    Paged("ATmega1284P", {{kAtmel, 0x97, 0x05}}, 131072, 4096, 256, kMega3600Times, Polling::RdyBsy,
          RulesMegaJtag()),
    // 2549O Tables 30-6, 30-7 (128-word pages), 30-17 (with Load Extended
    // Address byte).
    Paged("ATmega2560", {{kAtmel, 0x98, 0x01}}, 262144, 4096, 256, kMegaTimes, Polling::RdyBsy,
          RulesMegaJtag()),
    // ATtiny13A (8126F) Tables 17-8, 17-9: tWD_ERASE 9.0 ms; 16-word pages.
    Paged("ATtiny13/13A", {{kAtmel, 0x90, 0x07}}, 1024, 64, 32, kTinyTimes, Polling::RdyBsy,
          RulesTiny13()),
    // 2586Q Tables 20-11, 20-12 (2586D gives tWD_ERASE 4.0 ms; the longer
    // one is kept).
    Paged("ATtiny25", {{kAtmel, 0x91, 0x08}}, 2048, 128, 32, kTinyTimes, Polling::RdyBsy,
          RulesTinyX5X4(kTinyX5InternalClocks)),
    Paged("ATtiny45", {{kAtmel, 0x92, 0x06}}, 4096, 256, 64, kTinyTimes, Polling::RdyBsy,
          RulesTinyX5X4(kTinyX5InternalClocks)),
    Paged("ATtiny85", {{kAtmel, 0x93, 0x0B}}, 8192, 512, 64, kTinyTimes, Polling::RdyBsy,
          RulesTinyX5X4(kTinyX5InternalClocks)),
    // ATtiny24/44/84 (8006K) Tables 19-11, 19-12.
    Paged("ATtiny24/24A", {{kAtmel, 0x91, 0x0B}}, 2048, 128, 32, kTinyTimes, Polling::RdyBsy,
          RulesTinyX5X4(kTinyX4InternalClocks)),
    Paged("ATtiny44/44A", {{kAtmel, 0x92, 0x07}}, 4096, 256, 64, kTinyTimes, Polling::RdyBsy,
          RulesTinyX5X4(kTinyX4InternalClocks)),
    Paged("ATtiny84/84A", {{kAtmel, 0x93, 0x0C}}, 8192, 512, 64, kTinyTimes, Polling::RdyBsy,
          RulesTinyX5X4(kTinyX4InternalClocks)),
    // ATtiny2313 (2543H) Tables 77, 78: tWD_EEPROM and tWD_ERASE 4.0 ms;
    // 16-word pages. The ATtiny2313A shares its signature; its wait delay
    // table (8246B Table 21-9) was not at hand, and its erase is taken as
    // the 9.0 ms of its kin.
    Paged("ATtiny2313/2313A", {{kAtmel, 0x91, 0x0A}}, 2048, 128, 32, {{4500, 4000, 4500, 9000}},
          Polling::RdyBsy, RulesTiny2313()),
    // ATtiny2313A/4313 (8246B) Table 21-8; 32-word pages. Its wait delay
    // table was not at hand: the times are the longest published for it.
    Paged("ATtiny4313", {{kAtmel, 0x92, 0x0D}}, 4096, 256, 64, {{4500, 4500, 4500, 9000}},
          Polling::RdyBsy, RulesTiny2313()),
    // The parts below: signatures, sizes and pages from each datasheet's
    // "Signature Bytes" and "Page Size" tables, times from its "Minimum Wait
    // Delay" table; where a table was not at hand the published list of
    // serially programmable parts stands in, as each comment says.
    // 2545K Tables 26-16, 26-17; 8271H Tables 28-18, 28-19.
    Paged("ATmega48/48A", {{kAtmel, 0x92, 0x05}}, 4096, 256, 64, {{4500, 3600, 4500, 9000}},
          Polling::RdyBsy, RulesMega48(false)),
    // 8161D; DS40002011A Table 32-17 (tWD_ERASE 10.5 ms).
    Paged("ATmega48P/48PA", {{kAtmel, 0x92, 0x0A}}, 4096, 256, 64, {{4500, 3600, 4500, 10500}},
          Polling::RdyBsy, RulesMega48(false)),
    // 42176 Table 1 (signature); times as DS40002011A.
    Paged("ATmega48PB", {{kAtmel, 0x92, 0x10}}, 4096, 256, 64, {{4500, 3600, 4500, 10500}},
          Polling::RdyBsy, RulesMega48(false)),
    // 2545K; 8271H.
    Paged("ATmega88/88A", {{kAtmel, 0x93, 0x0A}}, 8192, 512, 64, {{4500, 3600, 4500, 9000}},
          Polling::RdyBsy, RulesMega48(true)),
    // 8161D; DS40002011A.
    Paged("ATmega88P/88PA", {{kAtmel, 0x93, 0x0F}}, 8192, 512, 64, {{4500, 3600, 4500, 10500}},
          Polling::RdyBsy, RulesMega48(true)),
    // 42176 Table 1; times as DS40002011A.
    Paged("ATmega88PB", {{kAtmel, 0x93, 0x16}}, 8192, 512, 64, {{4500, 3600, 4500, 10500}},
          Polling::RdyBsy, RulesMega48(true)),
    // 2545T Tables 28-9, 28-10; 8271H.
    Paged("ATmega168/168A", {{kAtmel, 0x94, 0x06}}, 16384, 512, 128, {{4500, 3600, 4500, 9000}},
          Polling::RdyBsy, RulesMega48(true)),
    // 8161D; DS40002011A.
    Paged("ATmega168P/168PA", {{kAtmel, 0x94, 0x0B}}, 16384, 512, 128, {{4500, 3600, 4500, 10500}},
          Polling::RdyBsy, RulesMega48(true)),
    // 42176 Table 1; times as DS40002011A.
    Paged("ATmega168PB", {{kAtmel, 0x94, 0x15}}, 16384, 512, 128, {{4500, 3600, 4500, 10500}},
          Polling::RdyBsy, RulesMega48(true)),
    // 8271H, DS40002061A Tables 28-18, 28-19.
    Paged("ATmega328", {{kAtmel, 0x95, 0x14}}, 32768, 1024, 128, {{4500, 3600, 4500, 9000}},
          Polling::RdyBsy, RulesMega328()),
    // DS40001906C Tables 32-9, 32-10.
    Paged("ATmega328PB", {{kAtmel, 0x95, 0x16}}, 32768, 1024, 128, {{4500, 3600, 4500, 10500}},
          Polling::RdyBsy, RulesMega328PB()),
    // 8272E Tables 27-6, 27-7, 27-16.
    Paged("ATmega164A", {{kAtmel, 0x94, 0x0F}}, 16384, 512, 128, {{4500, 3600, 4500, 9000}},
          Polling::RdyBsy, RulesMegaJtag()),
    // 7674F Table 25-16 (tWD_EEPROM 9.0 ms).
    Paged("ATmega164P/164PA", {{kAtmel, 0x94, 0x0A}}, 16384, 512, 128, {{4500, 9000, 4500, 9000}},
          Polling::RdyBsy, RulesMegaJtag()),
    // 8272E.
    Paged("ATmega324A", {{kAtmel, 0x95, 0x15}}, 32768, 1024, 128, {{4500, 3600, 4500, 9000}},
          Polling::RdyBsy, RulesMegaJtag()),
    // 7674F; 8011O Table 24-6.
    Paged("ATmega324P", {{kAtmel, 0x95, 0x08}}, 32768, 1024, 128, {{4500, 9000, 4500, 9000}},
          Polling::RdyBsy, RulesMegaJtag()),
    // 8272E.
    Paged("ATmega324PA", {{kAtmel, 0x95, 0x11}}, 32768, 1024, 128, {{4500, 3600, 4500, 9000}},
          Polling::RdyBsy, RulesMegaJtag()),
    // its datasheet 31.6; migration note 3.2 (erase 10.5 ms).
    Paged("ATmega324PB", {{kAtmel, 0x95, 0x17}}, 32768, 1024, 128, {{4500, 3600, 4500, 10500}},
          Polling::RdyBsy, RulesMega324PB()),
    // 2593O Tables 25-6, 25-16; 8272E.
    Paged("ATmega644/644A", {{kAtmel, 0x96, 0x09}}, 65536, 2048, 256, {{4500, 9000, 4500, 9000}},
          Polling::RdyBsy, RulesMegaJtag()),
    // 8272E.
    Paged("ATmega1284", {{kAtmel, 0x97, 0x06}}, 131072, 4096, 256, {{4500, 3600, 4500, 9000}},
          Polling::RdyBsy, RulesMegaJtag()),
    // 2549O Tables 30-6, 30-7.
    Paged("ATmega640", {{kAtmel, 0x96, 0x08}}, 65536, 4096, 256, {{4500, 9000, 4500, 9000}},
          Polling::RdyBsy, RulesMegaJtag()),
    // 2549O.
    Paged("ATmega1280", {{kAtmel, 0x97, 0x03}}, 131072, 4096, 256, {{4500, 9000, 4500, 9000}},
          Polling::RdyBsy, RulesMegaJtag()),
    // 2549O.
    Paged("ATmega1281", {{kAtmel, 0x97, 0x04}}, 131072, 4096, 256, {{4500, 9000, 4500, 9000}},
          Polling::RdyBsy, RulesMegaJtag()),
    // 2549O (Load Extended Address).
    Paged("ATmega2561", {{kAtmel, 0x98, 0x02}}, 262144, 4096, 256, {{4500, 9000, 4500, 9000}},
          Polling::RdyBsy, RulesMegaJtag()),
    // 2490R Table 128; 8160C Table 27-14.
    Paged("ATmega64/64A", {{kAtmel, 0x96, 0x02}}, 65536, 2048, 256, {{4500, 9000, 4500, 9000}},
          Polling::DataPolling, RulesMega64()),
    // 2467B Table 129; 8151H Table 26-14 (5/10/10 ms).
    Paged("ATmega128/128A", {{kAtmel, 0x97, 0x02}}, 131072, 4096, 256, {{5000, 10000, 4500, 10000}},
          Polling::DataPolling, RulesMega64()),
    // 7679H (128-word pages; times not at hand).
    Paged("AT90CAN32", {{kAtmel, 0x95, 0x81}}, 32768, 1024, 256, {{4500, 9000, 4500, 9000}},
          Polling::DataPolling, RulesUnlisted(kSixLockBits, 3, kJtagDefaults)),
    // 7679H.
    Paged("AT90CAN64", {{kAtmel, 0x96, 0x81}}, 65536, 2048, 256, {{4500, 9000, 4500, 9000}},
          Polling::DataPolling, RulesUnlisted(kSixLockBits, 3, kJtagDefaults)),
    // 7679H.
    Paged("AT90CAN128", {{kAtmel, 0x97, 0x81}}, 131072, 4096, 256, {{4500, 9000, 4500, 9000}},
          Polling::DataPolling, RulesUnlisted(kSixLockBits, 3, kJtagDefaults)),
    // 2512G Tables 89, 90, 93, "Data Polling".
    Paged("ATmega8515", {{kAtmel, 0x93, 0x06}}, 8192, 512, 64, {{4500, 9000, 4500, 9000}},
          Polling::DataPolling, RulesUnlisted(kSixLockBits, 2, {{0xE1, 0xD9, 0xFF}})),
    // 2502 (as the ATmega8515; times not at hand).
    Paged("ATmega8535", {{kAtmel, 0x93, 0x08}}, 8192, 512, 64, {{4500, 9000, 4500, 9000}},
          Polling::DataPolling, RulesUnlisted(kSixLockBits, 2, {{0xE1, 0xD9, 0xFF}})),
    // 2513G Table 111 (times not at hand).
    Paged("ATmega162", {{kAtmel, 0x94, 0x04}}, 16384, 512, 128, {{4500, 9000, 4500, 9000}},
          Polling::RdyBsy, RulesUnlisted(kSixLockBits, 3, kJtagDefaults)),
    // 1142 Tables 59, 60 (2.7 V maximum times).
    Paged("ATmega163", {{kAtmel, 0x94, 0x02}}, 16384, 512, 128, {{16000, 4000, 2000, 32000}},
          Polling::DataPolling, RulesMega163()),
    // 8018A Tables 26-6, 26-14.
    Paged("ATmega169/169P/169PA", {{kAtmel, 0x94, 0x05}}, 16384, 512, 128,
          {{4500, 9000, 4500, 9000}}, Polling::RdyBsy, RulesLcd(false)),
    // 8284D Table 28-6.
    Paged("ATmega169A", {{kAtmel, 0x94, 0x11}}, 16384, 512, 128, {{4500, 9000, 4500, 9000}},
          Polling::RdyBsy, RulesLcd(false)),
    // 2552H; 8284D.
    Paged("ATmega329/329A", {{kAtmel, 0x95, 0x03}}, 32768, 1024, 128, {{4500, 9000, 4500, 9000}},
          Polling::RdyBsy, RulesLcd(false)),
    // 8284D.
    Paged("ATmega329P/329PA", {{kAtmel, 0x95, 0x0B}}, 32768, 1024, 128, {{4500, 9000, 4500, 9000}},
          Polling::RdyBsy, RulesLcd(false)),
    // 2552H; 8284D.
    Paged("ATmega3290/3290A", {{kAtmel, 0x95, 0x04}}, 32768, 1024, 128, {{4500, 9000, 4500, 9000}},
          Polling::RdyBsy, RulesLcd(false)),
    // 8284D.
    Paged("ATmega3290P/3290PA", {{kAtmel, 0x95, 0x0C}}, 32768, 1024, 128,
          {{4500, 9000, 4500, 9000}}, Polling::RdyBsy, RulesLcd(false)),
    // 2552H; 8284D.
    Paged("ATmega649/649A", {{kAtmel, 0x96, 0x03}}, 65536, 2048, 256, {{4500, 9000, 4500, 9000}},
          Polling::RdyBsy, RulesLcd(false)),
    // 8284D.
    Paged("ATmega649P", {{kAtmel, 0x96, 0x0B}}, 65536, 2048, 256, {{4500, 9000, 4500, 9000}},
          Polling::RdyBsy, RulesLcd(false)),
    // 2552H; 8284D.
    Paged("ATmega6490/6490A", {{kAtmel, 0x96, 0x04}}, 65536, 2048, 256, {{4500, 9000, 4500, 9000}},
          Polling::RdyBsy, RulesLcd(false)),
    // 8284D.
    Paged("ATmega6490P", {{kAtmel, 0x96, 0x0C}}, 65536, 2048, 256, {{4500, 9000, 4500, 9000}},
          Polling::RdyBsy, RulesLcd(false)),
    // 8285E Tables 27-6, 27-15.
    Paged("ATmega165/165A", {{kAtmel, 0x94, 0x10}}, 16384, 512, 128, {{4500, 3600, 4500, 9000}},
          Polling::RdyBsy, RulesLcd(false)),
    // 8285E.
    Paged("ATmega165P/165PA", {{kAtmel, 0x94, 0x07}}, 16384, 512, 128, {{4500, 3600, 4500, 9000}},
          Polling::RdyBsy, RulesLcd(false)),
    // 2570N Table 27-14; 8285E.
    Paged("ATmega325/325A", {{kAtmel, 0x95, 0x05}}, 32768, 1024, 128, {{4500, 9000, 4500, 9000}},
          Polling::RdyBsy, RulesLcd(true)),
    // 8023F Table 25-6; 8285E.
    Paged("ATmega325P/325PA", {{kAtmel, 0x95, 0x0D}}, 32768, 1024, 128, {{4500, 9000, 4500, 9000}},
          Polling::RdyBsy, RulesLcd(false)),
    // 2570N; 8285E.
    Paged("ATmega3250/3250A", {{kAtmel, 0x95, 0x06}}, 32768, 1024, 128, {{4500, 9000, 4500, 9000}},
          Polling::RdyBsy, RulesLcd(true)),
    // 8023F; 8285E.
    Paged("ATmega3250P/3250PA", {{kAtmel, 0x95, 0x0E}}, 32768, 1024, 128,
          {{4500, 9000, 4500, 9000}}, Polling::RdyBsy, RulesLcd(false)),
    // 2570N; 8285E.
    Paged("ATmega645/645A", {{kAtmel, 0x96, 0x05}}, 65536, 2048, 256, {{4500, 9000, 4500, 9000}},
          Polling::RdyBsy, RulesLcd(true)),
    // 8285E Table 27-15.
    Paged("ATmega645P", {{kAtmel, 0x96, 0x0D}}, 65536, 2048, 256, {{4500, 3600, 4500, 9000}},
          Polling::RdyBsy, RulesLcd(false)),
    // 2570N; 8285E.
    Paged("ATmega6450/6450A", {{kAtmel, 0x96, 0x06}}, 65536, 2048, 256, {{4500, 9000, 4500, 9000}},
          Polling::RdyBsy, RulesLcd(true)),
    // 8285E.
    Paged("ATmega6450P", {{kAtmel, 0x96, 0x0E}}, 65536, 2048, 256, {{4500, 3600, 4500, 9000}},
          Polling::RdyBsy, RulesLcd(false)),
    // 7766J 28.3; 7766F Table 28-16.
    Paged("ATmega16U4", {{kAtmel, 0x94, 0x88}}, 16384, 512, 128, {{4500, 9000, 4500, 9000}},
          Polling::RdyBsy, RulesUnlisted(kSixLockBits, 3, {{0x5E, 0x99, 0xF3}})),
    // 7766J.
    Paged("ATmega32U4", {{kAtmel, 0x95, 0x87}}, 32768, 1024, 128, {{4500, 9000, 4500, 9000}},
          Polling::RdyBsy, RulesUnlisted(kSixLockBits, 3, {{0x5E, 0x99, 0xF3}})),
    // 7593.
    Paged("AT90USB646/AT90USB647", {{kAtmel, 0x96, 0x82}}, 65536, 2048, 256,
          {{4500, 9000, 4500, 9000}}, Polling::RdyBsy,
          RulesUnlisted(kSixLockBits, 3, {{0x5E, 0x99, 0xF3}})),
    // 7593A Table 29-11.
    Paged("AT90USB1286/AT90USB1287", {{kAtmel, 0x97, 0x82}}, 131072, 4096, 256,
          {{4500, 9000, 4500, 9000}}, Polling::RdyBsy,
          RulesUnlisted(kSixLockBits, 3, {{0x5E, 0x99, 0xF3}})),
    // 7799D Tables 25-6, 25-7 (32-word pages).
    Paged("ATmega8U2", {{kAtmel, 0x93, 0x89}}, 8192, 512, 64, {{4500, 9000, 4500, 9000}},
          Polling::RdyBsy, RulesUnlisted(kSixLockBits, 3, {{0x62, 0xD9, 0xF4}})),
    // 7799D.
    Paged("ATmega16U2", {{kAtmel, 0x94, 0x89}}, 16384, 512, 128, {{4500, 9000, 4500, 9000}},
          Polling::RdyBsy, RulesUnlisted(kSixLockBits, 3, {{0x62, 0xD9, 0xF4}})),
    // 7799D.
    Paged("ATmega32U2", {{kAtmel, 0x95, 0x8A}}, 32768, 1024, 128, {{4500, 9000, 4500, 9000}},
          Polling::RdyBsy, RulesUnlisted(kSixLockBits, 3, {{0x62, 0xD9, 0xF4}})),
    // 7707D Table 25-11.
    Paged("AT90USB82", {{kAtmel, 0x93, 0x82}}, 8192, 512, 128, {{4500, 9000, 4500, 9000}},
          Polling::RdyBsy, RulesUnlisted(kSixLockBits, 3, {{0x62, 0xD9, 0xF4}})),
    // 7707D.
    Paged("AT90USB162", {{kAtmel, 0x94, 0x82}}, 16384, 512, 128, {{4500, 9000, 4500, 9000}},
          Polling::RdyBsy, RulesUnlisted(kSixLockBits, 3, {{0x62, 0xD9, 0xF4}})),
    // 8197C Table 18-10; 2588B Table 22-14.
    Paged("ATtiny261/261A", {{kAtmel, 0x91, 0x0C}}, 2048, 128, 32, {{4500, 4000, 4500, 9000}},
          Polling::RdyBsy, RulesTinyX5X4(kTinyX5InternalClocks)),
    // 8197C.
    Paged("ATtiny461/461A", {{kAtmel, 0x92, 0x08}}, 4096, 256, 64, {{4500, 4000, 4500, 9000}},
          Polling::RdyBsy, RulesTinyX5X4(kTinyX5InternalClocks)),
    // 8197C.
    Paged("ATtiny861/861A", {{kAtmel, 0x93, 0x0D}}, 8192, 512, 64, {{4500, 4000, 4500, 9000}},
          Polling::RdyBsy, RulesTinyX5X4(kTinyX5InternalClocks)),
    // 7728G Tables 21-6, 21-14.
    Paged("ATtiny87", {{kAtmel, 0x93, 0x87}}, 8192, 512, 128, {{4500, 4000, 4500, 4000}},
          Polling::RdyBsy, RulesTinyX5X4(kTinyX5InternalClocks)),
    // 7728G.
    Paged("ATtiny167", {{kAtmel, 0x94, 0x87}}, 16384, 512, 128, {{4500, 4000, 4500, 4000}},
          Polling::RdyBsy, RulesTinyX5X4(kTinyX5InternalClocks)),
    // 8008H (instruction set); sizes and times not at hand.
    Paged("ATtiny48", {{kAtmel, 0x92, 0x09}}, 4096, 64, 64, {{4500, 3600, 4500, 15000}},
          Polling::RdyBsy, RulesUnlisted(kTwoLockBits, 3, kTinyDefaults)),
    // 8008H.
    Paged("ATtiny88", {{kAtmel, 0x93, 0x11}}, 8192, 64, 64, {{4500, 3600, 4500, 9000}},
          Polling::RdyBsy, RulesUnlisted(kTwoLockBits, 3, kTinyDefaults)),
    // its instruction set; times not at hand.
    Paged("ATtiny828/828R", {{kAtmel, 0x93, 0x14}}, 8192, 256, 64, {{4500, 3600, 4500, 15000}},
          Polling::RdyBsy, RulesUnlisted(kTwoLockBits, 3, kTinyDefaults)),
    // sizes from its feature list; times not at hand.
    Paged("ATtiny441", {{kAtmel, 0x92, 0x15}}, 4096, 256, 16, {{4500, 4500, 4500, 4500}},
          Polling::RdyBsy, RulesUnlisted(kTwoLockBits, 3, kTinyDefaults)),
    // as the ATtiny441.
    Paged("ATtiny841", {{kAtmel, 0x93, 0x15}}, 8192, 512, 16, {{4500, 4500, 4500, 4500}},
          Polling::RdyBsy, RulesUnlisted(kTwoLockBits, 3, kTinyDefaults)),
    // 8048B Tables 19-15, 19-16.
    Paged("ATtiny43U", {{kAtmel, 0x92, 0x0C}}, 4096, 64, 64, {{4500, 4000, 4500, 4000}},
          Polling::RdyBsy, RulesUnlisted(kTwoLockBits, 3, kTinyDefaults)),
    // not at hand.
    Paged("ATtiny1634/1634R", {{kAtmel, 0x94, 0x12}}, 16384, 256, 32, {{4500, 3600, 4500, 9000}},
          Polling::RdyBsy, RulesUnlisted(kTwoLockBits, 3, kTinyDefaults)),
    // 1477G Table 61 (no Poll RDY/BSY); times not at hand.
    Paged("ATtiny26", {{kAtmel, 0x91, 0x09}}, 2048, 128, 32, {{4500, 9000, 4500, 9000}},
          Polling::DataPolling, RulesTiny26()),
    // 1006C Table 25, 1006D p.54 (data polling); times not at hand.
    Paged("ATtiny12", {{kAtmel, 0x90, 0x05}}, 1024, 64, 0, {{20000, 20000, 20000, 20000}},
          Polling::DataPolling, RulesTiny12()),
    // 4317J Tables 25-11, 25-16.
    Paged("AT90PWM2/AT90PWM3", {{kAtmel, 0x93, 0x81}}, 8192, 512, 64, {{4500, 4500, 4500, 9000}},
          Polling::RdyBsy, RulesUnlisted(kSixLockBits, 3, {{0x62, 0xDF, 0xF9}})),
    // 4317K.
    Paged("AT90PWM2B/AT90PWM3B", {{kAtmel, 0x93, 0x83}}, 8192, 512, 64, {{4500, 4500, 4500, 9000}},
          Polling::RdyBsy, RulesUnlisted(kSixLockBits, 3, {{0x62, 0xDF, 0xF9}})),
    // 7710H ("Data Polling Flash").
    Paged("AT90PWM216/AT90PWM316", {{kAtmel, 0x94, 0x83}}, 16384, 512, 128,
          {{4500, 4500, 4500, 9000}}, Polling::DataPolling,
          RulesUnlisted(kSixLockBits, 3, {{0x62, 0xDF, 0xF9}})),
    // 8209F Table 28-17.
    Paged("ATmega32M1", {{kAtmel, 0x95, 0x84}}, 32768, 1024, 128, {{4500, 3600, 4500, 10500}},
          Polling::RdyBsy, RulesUnlisted(kSixLockBits, 3, {{0x62, 0xD9, 0xFF}})),
    // 8209F Table 28-17.
    Paged("ATmega64M1", {{kAtmel, 0x96, 0x84}}, 65536, 2048, 256, {{4500, 3600, 4500, 10500}},
          Polling::RdyBsy, RulesUnlisted(kSixLockBits, 3, {{0x62, 0xD9, 0xFF}})),
    // 8266A (instruction set); times not at hand.
    Paged("ATmega128RFA1", {{kAtmel, 0xA7, 0x01}}, 131072, 4096, 256, {{50000, 13000, 4500, 55000}},
          Polling::RdyBsy, RulesUnlisted(kSixLockBits, 3, kJtagDefaults)),
    // 42092 not at hand; times as 42073A.
    Paged("ATmega256RFR2", {{kAtmel, 0xA8, 0x02}}, 262144, 8192, 256, {{4500, 13000, 4500, 18500}},
          Polling::RdyBsy, RulesUnlisted(kSixLockBits, 3, kJtagDefaults)),
    // 42092 not at hand.
    Paged("ATmega128RFR2", {{kAtmel, 0xA7, 0x02}}, 131072, 4096, 256, {{50000, 13000, 4500, 55000}},
          Polling::RdyBsy, RulesUnlisted(kSixLockBits, 3, kJtagDefaults)),
    // 42092 not at hand.
    Paged("ATmega64RFR2", {{kAtmel, 0xA6, 0x02}}, 65536, 2048, 256, {{50000, 13000, 4500, 55000}},
          Polling::RdyBsy, RulesUnlisted(kSixLockBits, 3, kJtagDefaults)),
    // 42073A Table 31-17.
    Paged("ATmega2564RFR2", {{kAtmel, 0xA8, 0x03}}, 262144, 8192, 256, {{4500, 13000, 4500, 18500}},
          Polling::RdyBsy, RulesUnlisted(kSixLockBits, 3, kJtagDefaults)),
    // 42073A Table 31-17.
    Paged("ATmega1284RFR2", {{kAtmel, 0xA7, 0x03}}, 131072, 4096, 256, {{4500, 13000, 4500, 18500}},
          Polling::RdyBsy, RulesUnlisted(kSixLockBits, 3, kJtagDefaults)),
    // 42073A Table 31-17.
    Paged("ATmega644RFR2", {{kAtmel, 0xA6, 0x03}}, 65536, 2048, 256, {{4500, 13000, 4500, 18500}},
          Polling::RdyBsy, RulesUnlisted(kSixLockBits, 3, kJtagDefaults)),
};

}  // namespace

SimLockFuseRules SimClassicRules() {
    SimLockFuseRules rules;
    rules.lockWrite = LockWriteF9();
    // AT90S4434/8535 datasheet, Table 43: Read Lock and Fuse Bits answers
    // "12Sx xxxF": Lock Bit1, Lock Bit2, SPIEN, FSTRT.
    rules.lockRead = Read(kOpReadLock, {{7, 6, N, N, N, N, N, N}}, {{0, N, N, N, N, 5, N, N}});
    rules.lockBitsUsed = kTwoLockBits;
    rules.fuseBytes = 1;
    rules.fuseDefault[0] = 0xDF;  // SPIEN programmed, FSTRT unprogrammed
    // Write FSTRT Fuse "1010 1100 1011 111F".
    rules.fuseWrite[0] = Write(0xFE, 0xBE, 2, {{0, N, N, N, N, N, N, N}});
    rules.spienBit = 5;
    rules.fstrtBit = 0;
    return rules;
}

const SimPart* SimParts() {
    return kParts;
}

size_t SimPartCount() {
    return sizeof(kParts) / sizeof(kParts[0]);
}

const SimPart* FindSimPart(const std::string& name) {
    const int index = FindPartEntry(
        static_cast<int>(SimPartCount()), [](int i) { return std::string(kParts[i].name); }, name);
    return index >= 0 ? &kParts[index] : nullptr;
}
