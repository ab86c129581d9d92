// The simulator's own facts about the AVR parts it stands in for, taken from
// the serial programming sections of the parts' Atmel datasheets and from
// Atmel application note AVR910. They are written down here in numbers
// (opcode bytes, byte indexes, bit numbers, masks, microseconds), apart from
// and unlike the programmer's own description of the parts, so that a wrong
// fact there shows up as a failing test instead of hiding behind the same
// fact here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// No bit: an entry of SimBitWrite::from or SimBitRead::at that is unused.
constexpr int8_t kSimNoBit = -1;

// The most fuse bytes a part has (low, high, extended).
constexpr int kSimMaxFuseBytes = 3;

// What the part puts out on MISO while an instruction is shifted in.
enum class SimEcho {
    EveryByte,   // each byte during the next one, as most parts do in practice
    EnableOnly,  // only Programming Enable's 0x53 during its third byte (all a datasheet promises)
    None,        // not even the 0x53 (AT90S1200)
};

// When a fuse that was written takes effect.
enum class SimFuseEffect {
    LeavingProgramming,  // from the next release of RESET on
    PowerOn,             // from the next power-up only
};

// The clock the board around the chip offers.
enum class SimBoardClock {
    AsShipped,        // whatever the part's factory fuses select
    ExternalClock,    // a clock or crystal on XTAL1, whatever the fuses select
    NoExternalClock,  // nothing on XTAL1: only an internal RC oscillator can run the part
};

// A write instruction "0xAC b2 b3 b4" that sets bits of a lock or fuse byte.
struct SimBitWrite {
    // The instruction is the one with (b2 & secondMask) == secondValue;
    // secondMask 0: the part has no such instruction.
    uint8_t secondMask = 0;
    uint8_t secondValue = 0;
    int dataByte = 0;  // 2 or 4: the instruction byte that carries the bits
    // from[n]: the bit of the data byte that sets bit n of the lock or fuse
    // byte; kSimNoBit: bit n is not written by this instruction.
    std::array<int8_t, 8> from{
        {kSimNoBit, kSimNoBit, kSimNoBit, kSimNoBit, kSimNoBit, kSimNoBit, kSimNoBit, kSimNoBit}};
};

// A read instruction "opcode b2 b3 b4" that answers lock or fuse bits during
// its fourth byte. Bits of the answer that show nothing read 1.
struct SimBitRead {
    uint8_t opcode = 0;  // 0: the part has no such instruction
    // The instruction is the one with (b2 & secondMask) == secondValue;
    // secondMask 0: any second byte (the older parts ignore it).
    uint8_t secondMask = 0;
    uint8_t secondValue = 0;
    // lockAt[n], fuseAt[n]: the answer bit that shows bit n of the lock
    // bits (as CSimPort::LockBits() numbers them) or of the fuse byte the
    // instruction reads.
    std::array<int8_t, 8> lockAt{
        {kSimNoBit, kSimNoBit, kSimNoBit, kSimNoBit, kSimNoBit, kSimNoBit, kSimNoBit, kSimNoBit}};
    std::array<int8_t, 8> fuseAt{
        {kSimNoBit, kSimNoBit, kSimNoBit, kSimNoBit, kSimNoBit, kSimNoBit, kSimNoBit, kSimNoBit}};
};

// How a part decodes lock and fuse instructions and what its fuses do.
//
// Lock bits are kept as one byte: bit 0 Lock Bit1, bit 1 Lock Bit2, bits 2
// to 5 Boot Lock Bit01, 02, 11, 12 where the part has them; 1 = unprogrammed.
// Each fuse byte is kept in the part's own datasheet layout: the layout of
// its Read Fuse (High, Extended) Bits answer, or for parts without one, the
// layout of the fuse bits in its Read Lock and Fuse Bits answer; bits that
// are no fuse read 1. Fuse bytes are numbered 0 (the only or low fuse byte),
// 1 (high), 2 (extended); a fuse bit named below is 8 * byte + bit.
struct SimLockFuseRules {
    SimBitWrite lockWrite;
    SimBitRead lockRead;       // usually 0x58; shows bits of fuse byte 0 too on some parts
    uint8_t lockBitsUsed = 0;  // the lock bits the part has (bit mask as above)

    int fuseBytes = 0;  // 0: no fuse access in serial programming mode
    // Per fuse byte: its factory value, and the instructions that write and
    // read it (fuseRead[0] usually 0x50).
    std::array<uint8_t, kSimMaxFuseBytes> fuseDefault{{0xFF, 0xFF, 0xFF}};
    std::array<SimBitWrite, kSimMaxFuseBytes> fuseWrite{};
    std::array<SimBitRead, kSimMaxFuseBytes> fuseRead{};
    // Datasheets: "the Fuse bits are locked if Lock bit1 (LB1) is
    // programmed": fuse writes are then ignored.
    bool lockBit1LocksFuses = false;

    // Fuse bits that matter to the simulator; kSimNoBit: none.
    int8_t spienBit = kSimNoBit;     // unprogrammed: serial programming disabled
    int8_t rstdisblBit = kSimNoBit;  // programmed: RESET is a port pin, no serial programming
    // Programmed while Lock Bit1 and Lock Bit2 are not: debugWIRE takes over
    // the RESET pin, no serial programming.
    int8_t dwenBit = kSimNoBit;
    int8_t rcenBit = kSimNoBit;    // (fuse byte 0) programmed: internal RC oscillator, else XTAL1
    int8_t eesaveBit = kSimNoBit;  // programmed: Chip Erase keeps the EEPROM
    int8_t fstrtBit = kSimNoBit;   // (fuse byte 0) the bit that CSimPort::SetLockBits' fstrt sets
    // The clock source select field: its lowest bit (kSimNoBit: none) and
    // width; bit v of ckselNeedsXtal1 set: CKSEL value v runs the part from
    // something on XTAL1 (an external clock, crystal, resonator or RC
    // network) or is reserved, and such a part does not run on a board
    // without one.
    int8_t ckselBit = kSimNoBit;
    int ckselWidth = 0;
    uint16_t ckselNeedsXtal1 = 0;
    bool internalClockOnly = false;  // always runs from its internal RC oscillator
    SimFuseEffect fuseEffect = SimFuseEffect::LeavingProgramming;
    // Datasheet: "the signature bytes are not readable in lock mode 3"; such a
    // part answers the signature byte's index instead (as the ATtiny22
    // datasheet says it does).
    bool signatureHiddenInLockMode3 = false;
};

// The lock and fuse rules of the classic AT90S4434/8535: lock bits written
// in the second byte of 0xAC 0xF9..0xFF, read with SPIEN and FSTRT in bits
// 7, 6, 5 and 0 of the 0x58 answer, FSTRT written with 0xAC 0xBE/0xBF.
SimLockFuseRules SimClassicRules();

// One part.
struct SimPart {
    const char* name;
    std::array<uint8_t, 3> signature;
    int flashBytes;
    int eepromBytes;
    int flashPageBytes;     // 0: flash written byte by byte
    int64_t flashWriteUs;   // longest write of a flash byte (or page)
    int64_t eepromWriteUs;  // longest write of an EEPROM byte
    int64_t lockWriteUs;    // longest write of lock or fuse bits
    int64_t eraseUs;        // longest chip erase
    uint8_t flashPoll;      // a busy flash cell reads this
    uint8_t eepromPoll1;    // a busy EEPROM cell reads this until it is erased,
    uint8_t eepromPoll2;    // then this
    SimEcho echo;
    bool strayEdgeLosesSync;  // one extra SCK edge and the part is lost until RESET
    SimLockFuseRules rules;
    // The instructions of the ATmega8 and later parts beyond the ones above.
    bool pollReady = false;        // Poll RDY/BSY 0xF0: bit 0 of the answer is 1 while busy
    bool calibrationRead = false;  // Read Calibration Byte 0x38
    // Whether the datasheet promises what a cell being written reads (the
    // polling values above). Where it does not, a read while busy still
    // answers 0xFF but is a protocol error.
    bool busyReadsPromised = true;
};

// The parts, and the one with that name (compared without regard to case);
// nullptr when there is none. Parts that share a signature are one entry
// named after all of them, the first name whole and each further one as
// its variant of the first one's number ("ATtiny13/13A"); such an entry
// answers to each single name too.
const SimPart* SimParts();
size_t SimPartCount();
const SimPart* FindSimPart(const std::string& name);
