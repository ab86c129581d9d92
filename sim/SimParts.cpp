#include "sim/SimParts.h"

#include <cctype>

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
    rules.fuseDefault = 0xDE;  // SPIEN and RCEN programmed
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
    rules.fuseDefault = 0xDA;
    rules.fuseWrite = Write(0xE0, 0xA0, 2, {{0, 1, 2, 3, 4, N, N, N}});
    rules.fuseRead = Read(kOpReadFuse, kNoBits, {{0, 1, 2, 3, 4, 5, N, N}});
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
    rules.fuseDefault = 0x5C;
    rules.fuseWrite = Write(0xE0, 0xA0, 4, {{0, 1, N, N, 4, 5, 6, 7}});
    rules.fuseRead = Read(kOpReadFuse, kNoBits, {{0, 1, N, N, 4, 5, 6, 7}});
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
    rules.fuseDefault = 0xDF;  // SPIEN programmed; EESAVE, SUT1, SUT0 unprogrammed
    rules.fuseWrite = Write(0xF4, 0xB4, 2, {{0, 1, N, 3, N, N, N, N}});
    rules.fuseRead = Read(kOpReadFuse, kNoBits, {{0, 1, N, 3, N, 5, N, N}});
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
    rules.fuseDefault = 0xDA;
    rules.fuseWrite = Write(0xE0, 0xA0, 4, {{0, 1, 2, 3, 4, N, 6, N}});
    rules.fuseRead = Read(kOpReadFuse, kNoBits, {{0, 1, 2, 3, 4, 5, 6, N}});
    rules.spienBit = 5;
    return rules;
}

// Write Lock Bits "1010 1100 111x x21x" (AT90S2313 datasheet 0839I-AVR-06/02,
// Table 28; AT90S4414/8515 datasheet, Table 33).
SimBitWrite LockWriteE0() {
    return Write(0xE0, 0xE0, 2, {{1, 2, N, N, N, N, N, N}});
}

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
    {"AT90S8535",
     {{kAtmel, 0x93, 0x03}},
     8192,
     512,
     0,
     20000,
     20000,
     20000,
     20000,
     0xFF,
     0x00,
     0xFF,
     SimEcho::EveryByte,
     false,
     Rules8535()},
    {"AT90S4434",
     {{kAtmel, 0x92, 0x02}},
     4096,
     256,
     0,
     20000,
     20000,
     20000,
     20000,
     0xFF,
     0x00,
     0xFF,
     SimEcho::EveryByte,
     false,
     Rules8535()},
    // AT90S1200 datasheet (0838H-AVR-03/02), Table 19: no lock read, no fuse
    // access; no 0x53 echo, and "one single edge will cause the target to
    // lose synchronization" (application note AVR910).
    {"AT90S1200",
     {{kAtmel, 0x90, 0x01}},
     1024,
     64,
     0,
     9000,
     9000,
     9000,
     20000,
     0xFF,
     0x00,
     0xFF,
     SimEcho::None,
     true,
     LockOnly(LockWriteF9())},
    // AT90S4414/8515 datasheet, Table 33: busy flash reads 0x7F.
    {"AT90S4414",
     {{kAtmel, 0x92, 0x01}},
     4096,
     256,
     0,
     20000,
     20000,
     20000,
     20000,
     0x7F,
     0x80,
     0x7F,
     SimEcho::EveryByte,
     false,
     LockOnly(LockWriteE0())},
    {"AT90S8515",
     {{kAtmel, 0x93, 0x01}},
     8192,
     512,
     0,
     9000,
     9000,
     9000,
     20000,
     0x7F,
     0x80,
     0x7F,
     SimEcho::EveryByte,
     false,
     LockOnly(LockWriteE0())},
    // AT90S2313 datasheet (0839I-AVR-06/02), Table 28: busy flash reads 0x7F.
    {"AT90S2313",
     {{kAtmel, 0x91, 0x01}},
     2048,
     128,
     0,
     9000,
     9000,
     9000,
     20000,
     0x7F,
     0x80,
     0x7F,
     SimEcho::EveryByte,
     false,
     LockOnly(LockWriteE0())},
    // AT90S2323/2343 datasheet (1004D-09/01), Table 19.
    {"AT90S2323",
     {{kAtmel, 0x91, 0x02}},
     2048,
     128,
     0,
     20000,
     20000,
     20000,
     20000,
     0xFF,
     0x00,
     0xFF,
     SimEcho::EveryByte,
     false,
     RulesFstrtPowerOn()},
    {"AT90S2343",
     {{kAtmel, 0x91, 0x03}},
     2048,
     128,
     0,
     20000,
     20000,
     20000,
     18000,
     0xFF,
     0x00,
     0xFF,
     SimEcho::EveryByte,
     false,
     RulesRcen()},
    // No such part: the table's ATtiny10/11/12 entry, answered as the
    // simulator always did.
    {"ATtiny10/11/12",
     {{kAtmel, 0x90, 0x59}},
     1024,
     64,
     0,
     4000,
     4000,
     4000,
     10000,
     0xFF,
     0xFF,
     0xFF,
     SimEcho::EveryByte,
     false,
     SimClassicRules()},
    // AT90S2333/4433 datasheet (1042G-AVR-09/02): busy flash reads 0xFF.
    {"AT90S4433",
     {{kAtmel, 0x92, 0x03}},
     4096,
     256,
     0,
     20000,
     20000,
     20000,
     20000,
     0xFF,
     0x00,
     0xFF,
     SimEcho::EveryByte,
     false,
     Rules4433()},
    {"AT90S2333",
     {{kAtmel, 0x91, 0x05}},
     2048,
     128,
     0,
     20000,
     20000,
     20000,
     20000,
     0xFF,
     0x00,
     0xFF,
     SimEcho::EveryByte,
     false,
     Rules4433()},
    // ATtiny15L datasheet (1187E-AVR-06/02, 1187H-AVR-09/07): tWD_FLASH
    // 4.1 ms, tWD_EEPROM 8.2 ms, tWD_ERASE 8.2 ms; busy flash and EEPROM
    // read 0xFF.
    {"ATtiny15",
     {{kAtmel, 0x90, 0x06}},
     1024,
     64,
     0,
     4100,
     8200,
     8200,
     8200,
     0xFF,
     0xFF,
     0xFF,
     SimEcho::EveryByte,
     false,
     RulesTiny15()},
    // ATtiny22/22L datasheet, "Fuse Bits", "Signature Bytes", Table 17: a
    // busy EEPROM cell reads 0x00, then 0xFF.
    {"ATtiny22",
     {{kAtmel, 0x91, 0x06}},
     2048,
     128,
     0,
     20000,
     20000,
     20000,
     20000,
     0xFF,
     0x00,
     0xFF,
     SimEcho::EveryByte,
     false,
     RulesRcen()},
    // ATmega103(L) datasheet (0945G-09/01), Table 44: flash written in pages
    // of 128 words (Load Program Memory Page word offset in bits 6..0 of the
    // third byte); EEPROM 4 KB.
    {"ATmega103",
     {{kAtmel, 0x97, 0x01}},
     131072,
     4096,
     256,
     56000,
     9000,
     9000,
     112000,
     0xFF,
     0x80,
     0x7F,
     SimEcho::EveryByte,
     false,
     RulesMega103()},
    // ATmega161(L) datasheet (1228B-09/01), Tables 46, 47, 48: pages of 64
    // words; tWD_FLASH 14 ms, tWD_EEPROM 3.4 ms, tWD_ERASE 28 ms; a busy
    // EEPROM cell reads 0xFF, and so does the flash page being written.
    {"ATmega161",
     {{kAtmel, 0x94, 0x01}},
     16384,
     512,
     128,
     14000,
     3400,
     3400,
     28000,
     0xFF,
     0xFF,
     0xFF,
     SimEcho::EveryByte,
     false,
     RulesMega161()},
};

bool EqualNoCase(const std::string& a, const char* b) {
    size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return i == a.size() && b[i] == '\0';
}

}  // namespace

SimLockFuseRules SimClassicRules() {
    SimLockFuseRules rules;
    rules.lockWrite = LockWriteF9();
    // AT90S4434/8535 datasheet, Table 43: Read Lock and Fuse Bits answers
    // "12Sx xxxF": Lock Bit1, Lock Bit2, SPIEN, FSTRT.
    rules.lockRead = Read(kOpReadLock, {{7, 6, N, N, N, N, N, N}}, {{0, N, N, N, N, 5, N, N}});
    rules.lockBitsUsed = kTwoLockBits;
    rules.fuseBytes = 1;
    rules.fuseDefault = 0xDF;  // SPIEN programmed, FSTRT unprogrammed
    // Write FSTRT Fuse "1010 1100 1011 111F".
    rules.fuseWrite = Write(0xFE, 0xBE, 2, {{0, N, N, N, N, N, N, N}});
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
    for (const SimPart& part : kParts) {
        if (EqualNoCase(name, part.name)) {
            return &part;
        }
    }
    return nullptr;
}
