// Serial programming instructions written the way the datasheets print them:
// four bytes of bits, most significant first, for example
//     "1010 1100 1111 1ba1 xxxx xxxx xxxx xxxx"
// Spaces are ignored; '0' and '1' are fixed bits, 'x' a bit the part ignores
// (sent as 0); a letter names a bit that carries a value:
//     a b c d e f   bits 0 to 5 of the lock byte (Lock Bit1, Lock Bit2, then
//                   the boot lock bits BLB01, BLB02, BLB11, BLB12)
//     F             the fuse the panel's third box stands for (FSTRT)
//     S             SPIEN, in a read answer
// The same notation describes where a read instruction's answer carries each
// bit. A pattern that does not have exactly 32 bits is not valid.
#pragma once

#include <cstdint>

// Lock byte bits as the letters a to f name them.
constexpr int kLockByteBits = 6;
constexpr char kLockByteLetter0 = 'a';
constexpr char kFuseLetter = 'F';
constexpr char kSpienLetter = 'S';

class CInstructionPattern {
public:
    explicit CInstructionPattern(const char* pattern);

    bool IsValid() const { return m_bValid; }
    // The instruction with the fixed bits set and every lettered bit 0.
    uint32_t Fixed() const { return m_fixed; }
    // The instruction bits that carry the named letter (0 when none).
    uint32_t Mask(char letter) const;
    // The fixed bits, with each lettered bit set from the given lock byte
    // (bits 0..5 for a..f) and fuse value (F).
    uint32_t Build(uint8_t lockByte, int fuse) const;
    // The bits of an answer: lock byte bits reported (in reported, as a mask),
    // their values in lockByte; likewise the single-bit letters.
    uint8_t LockBitsReported() const;
    uint8_t LockByteOf(uint32_t answer) const;
    // 1 when the letter's bit is set in the answer, 0 when clear; -1 when the
    // pattern has no such letter.
    int BitOf(uint32_t answer, char letter) const;

private:
    static constexpr int kBits = 32;
    bool m_bValid = false;
    uint32_t m_fixed = 0;
    char m_letters[kBits] = {};  // per bit, 31 first; 0 for fixed and ignored bits
};
