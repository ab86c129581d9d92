#include "isp/InstructionPattern.h"

namespace {

constexpr int kTopBit = 31;

int LockBitOfLetter(char letter) {
    const int bit = letter - kLockByteLetter0;
    return bit >= 0 && bit < kLockByteBits ? bit : -1;
}

}  // namespace

CInstructionPattern::CInstructionPattern(const char* pattern) {
    int bit = kTopBit;
    for (const char* p = pattern; p != nullptr && *p != '\0'; ++p) {
        const char c = *p;
        if (c == ' ') {
            continue;
        }
        if (bit < 0) {
            return;  // more than 32 bits
        }
        if (c == '1') {
            m_fixed |= 1u << bit;
        } else if (c != '0' && c != 'x') {
            m_letters[kTopBit - bit] = c;
        }
        --bit;
    }
    m_bValid = bit == -1;
}

uint32_t CInstructionPattern::Mask(char letter) const {
    uint32_t mask = 0;
    for (int i = 0; i < kBits; ++i) {
        if (m_letters[i] == letter) {
            mask |= 1u << (kTopBit - i);
        }
    }
    return mask;
}

uint32_t CInstructionPattern::Build(uint8_t lockByte, int fuse) const {
    uint32_t instruction = m_fixed;
    for (int i = 0; i < kBits; ++i) {
        const char letter = m_letters[i];
        const int lockBit = LockBitOfLetter(letter);
        const bool set =
            lockBit >= 0 ? ((lockByte >> lockBit) & 1) != 0 : letter == kFuseLetter && fuse != 0;
        if (set) {
            instruction |= 1u << (kTopBit - i);
        }
    }
    return instruction;
}

uint8_t CInstructionPattern::LockBitsReported() const {
    uint8_t reported = 0;
    for (int bit = 0; bit < kLockByteBits; ++bit) {
        if (Mask(static_cast<char>(kLockByteLetter0 + bit)) != 0) {
            reported = static_cast<uint8_t>(reported | 1u << bit);
        }
    }
    return reported;
}

uint8_t CInstructionPattern::LockByteOf(uint32_t answer) const {
    uint8_t lockByte = 0;
    for (int bit = 0; bit < kLockByteBits; ++bit) {
        if ((answer & Mask(static_cast<char>(kLockByteLetter0 + bit))) != 0) {
            lockByte = static_cast<uint8_t>(lockByte | 1u << bit);
        }
    }
    return lockByte;
}

int CInstructionPattern::BitOf(uint32_t answer, char letter) const {
    const uint32_t mask = Mask(letter);
    if (mask == 0) {
        return -1;
    }
    return (answer & mask) != 0 ? 1 : 0;
}
