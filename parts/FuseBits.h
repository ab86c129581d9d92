// The names of a part's fuse bits, as its datasheet prints them, and one line
// on what each does. The names are the part's data; the cut-off checks find
// RSTDISBL, DWEN, SPIEN and the CKSEL bits by name, so a part's layout is its
// only record of where they are.
#pragma once

#include <cstdint>
#include <string>

constexpr int kFuseLayoutBytes = 3;  // low, high, extended
constexpr int kBitsPerFuse = 8;
constexpr int8_t kNoFuseBit = -1;

struct FuseFieldSet;  // parts/FuseFields.h

// Per fuse byte (low, high, extended) one string of eight names, bit 7
// first, separated by single spaces; "-" for a bit that is no fuse.
// nullptr for a byte the part does not have.
struct FuseLayout {
    const char* bytes[kFuseLayoutBytes];
    // Bits the part's write instruction wants sent as 1 whatever is asked
    // (bits it does not let serial programming change).
    uint8_t writeOnes[kFuseLayoutBytes] = {};
    // What the settings of several bits mean, in words; nullptr where the
    // datasheet's tables were not at hand (the bits are then only named).
    const FuseFieldSet* fields = nullptr;
};

namespace fuse_detail {

constexpr bool SameToken(const char* token, const char* name) {
    size_t i = 0;
    for (; name[i] != '\0'; ++i) {
        if (token[i] != name[i]) {
            return false;
        }
    }
    return token[i] == ' ' || token[i] == '\0';
}

constexpr bool TokenStartsWith(const char* token, const char* prefix) {
    for (size_t i = 0; prefix[i] != '\0'; ++i) {
        if (token[i] != prefix[i]) {
            return false;
        }
    }
    return true;
}

// Calls found(bit) for each bit of names whose token matches.
template <typename Match, typename Found>
constexpr void ForEachToken(const char* names, Match match, Found found) {
    int bit = kBitsPerFuse - 1;
    const char* token = names;
    for (const char* p = names;; ++p) {
        if (*p == ' ' || *p == '\0') {
            if (bit >= 0 && match(token)) {
                found(bit);
            }
            --bit;
            if (*p == '\0') {
                return;
            }
            token = p + 1;
        }
    }
}

}  // namespace fuse_detail

// 8 * byte + bit of the fuse bit with that name; kNoFuseBit when the layout
// has none (or there is no layout).
constexpr int8_t FuseBitNamed(const FuseLayout* layout, const char* name) {
    int8_t at = kNoFuseBit;
    for (int byte = 0; layout != nullptr && byte < kFuseLayoutBytes; ++byte) {
        if (layout->bytes[byte] == nullptr) {
            continue;
        }
        fuse_detail::ForEachToken(
            layout->bytes[byte],
            [name](const char* token) { return fuse_detail::SameToken(token, name); },
            [&at, byte](int bit) { at = static_cast<int8_t>(kBitsPerFuse * byte + bit); });
    }
    return at;
}

// The bits of the low fuse byte whose names start with prefix ("CKSEL").
constexpr uint8_t LowFuseBitsNamed(const FuseLayout* layout, const char* prefix) {
    uint8_t mask = 0;
    if (layout != nullptr && layout->bytes[0] != nullptr) {
        fuse_detail::ForEachToken(
            layout->bytes[0],
            [prefix](const char* token) { return fuse_detail::TokenStartsWith(token, prefix); },
            [&mask](int bit) { mask = static_cast<uint8_t>(mask | (1u << bit)); });
    }
    return mask;
}

// The bits of fuse byte (0..2) that are no fuse ("-"); 0 when the layout
// names none of the byte's bits.
uint8_t UnusedFuseBits(const FuseLayout* layout, int byte);

// The name of bit (0..7) of fuse byte (0 low, 1 high, 2 extended): its
// datasheet name, "" when the bit is no fuse, or "bit N" when the layout
// names none.
std::string FuseBitName(const FuseLayout* layout, int byte, int bit);
// What a fuse bit does, in one line ("" for a name it does not know); the
// digits that number the bits of one field ("CKSEL3") are not looked at.
const char* FuseBitMeaning(const std::string& name);
