#include "sim/SimUpdiParts.h"

#include <cctype>
#include <iterator>
#include <vector>

namespace {

enum class ESeries { kTiny0, kTiny1, kTiny2, kMega0 };

struct SChip {
    const char* name;
    ESeries series;
    uint32_t flashKb;
    uint8_t signature[3];
};

// Device ids from each data sheet's signature row (SIGROW) table.
constexpr SChip kChips[] = {
    {"ATtiny202", ESeries::kTiny0, 2, {0x1E, 0x91, 0x23}},
    {"ATtiny204", ESeries::kTiny0, 2, {0x1E, 0x91, 0x22}},
    {"ATtiny402", ESeries::kTiny0, 4, {0x1E, 0x92, 0x27}},
    {"ATtiny404", ESeries::kTiny0, 4, {0x1E, 0x92, 0x26}},
    {"ATtiny406", ESeries::kTiny0, 4, {0x1E, 0x92, 0x25}},
    {"ATtiny804", ESeries::kTiny0, 8, {0x1E, 0x93, 0x25}},
    {"ATtiny806", ESeries::kTiny0, 8, {0x1E, 0x93, 0x24}},
    {"ATtiny807", ESeries::kTiny0, 8, {0x1E, 0x93, 0x23}},
    {"ATtiny1604", ESeries::kTiny0, 16, {0x1E, 0x94, 0x25}},
    {"ATtiny1606", ESeries::kTiny0, 16, {0x1E, 0x94, 0x24}},
    {"ATtiny1607", ESeries::kTiny0, 16, {0x1E, 0x94, 0x23}},
    {"ATtiny212", ESeries::kTiny1, 2, {0x1E, 0x91, 0x21}},
    {"ATtiny214", ESeries::kTiny1, 2, {0x1E, 0x91, 0x20}},
    {"ATtiny412", ESeries::kTiny1, 4, {0x1E, 0x92, 0x23}},
    {"ATtiny414", ESeries::kTiny1, 4, {0x1E, 0x92, 0x22}},
    {"ATtiny416", ESeries::kTiny1, 4, {0x1E, 0x92, 0x21}},
    {"ATtiny417", ESeries::kTiny1, 4, {0x1E, 0x92, 0x20}},
    {"ATtiny814", ESeries::kTiny1, 8, {0x1E, 0x93, 0x22}},
    {"ATtiny816", ESeries::kTiny1, 8, {0x1E, 0x93, 0x21}},
    {"ATtiny817", ESeries::kTiny1, 8, {0x1E, 0x93, 0x20}},
    {"ATtiny1614", ESeries::kTiny1, 16, {0x1E, 0x94, 0x22}},
    {"ATtiny1616", ESeries::kTiny1, 16, {0x1E, 0x94, 0x21}},
    {"ATtiny1617", ESeries::kTiny1, 16, {0x1E, 0x94, 0x20}},
    {"ATtiny3216", ESeries::kTiny1, 32, {0x1E, 0x95, 0x21}},
    {"ATtiny3217", ESeries::kTiny1, 32, {0x1E, 0x95, 0x22}},
    {"ATtiny424", ESeries::kTiny2, 4, {0x1E, 0x92, 0x2C}},
    {"ATtiny426", ESeries::kTiny2, 4, {0x1E, 0x92, 0x2B}},
    {"ATtiny427", ESeries::kTiny2, 4, {0x1E, 0x92, 0x2A}},
    {"ATtiny824", ESeries::kTiny2, 8, {0x1E, 0x93, 0x29}},
    {"ATtiny826", ESeries::kTiny2, 8, {0x1E, 0x93, 0x28}},
    {"ATtiny827", ESeries::kTiny2, 8, {0x1E, 0x93, 0x27}},
    {"ATtiny1624", ESeries::kTiny2, 16, {0x1E, 0x94, 0x2A}},
    {"ATtiny1626", ESeries::kTiny2, 16, {0x1E, 0x94, 0x29}},
    {"ATtiny1627", ESeries::kTiny2, 16, {0x1E, 0x94, 0x28}},
    {"ATtiny3224", ESeries::kTiny2, 32, {0x1E, 0x95, 0x28}},
    {"ATtiny3226", ESeries::kTiny2, 32, {0x1E, 0x95, 0x27}},
    {"ATtiny3227", ESeries::kTiny2, 32, {0x1E, 0x95, 0x26}},
    {"ATmega808", ESeries::kMega0, 8, {0x1E, 0x93, 0x26}},
    {"ATmega809", ESeries::kMega0, 8, {0x1E, 0x93, 0x2A}},
    {"ATmega1608", ESeries::kMega0, 16, {0x1E, 0x94, 0x27}},
    {"ATmega1609", ESeries::kMega0, 16, {0x1E, 0x94, 0x26}},
    {"ATmega3208", ESeries::kMega0, 32, {0x1E, 0x95, 0x30}},
    {"ATmega3209", ESeries::kMega0, 32, {0x1E, 0x95, 0x31}},
    {"ATmega4808", ESeries::kMega0, 48, {0x1E, 0x96, 0x50}},
    {"ATmega4809", ESeries::kMega0, 48, {0x1E, 0x96, 0x51}},
};

// The data space every version-0 chip shares.
constexpr uint32_t kNvmBase = 0x1000;
constexpr uint32_t kSignatureRow = 0x1100;
constexpr uint32_t kFuseRow = 0x1280;
constexpr uint32_t kFuseRowBytes = 10;
constexpr uint32_t kLockByte = 0x128A;
constexpr uint32_t kUserRow = 0x1300;
constexpr uint32_t kEeprom = 0x1400;
constexpr uint32_t kTinyFlash = 0x8000;
constexpr uint32_t kMegaFlash = 0x4000;
constexpr uint32_t kBytesPerKb = 1024;
// Chips of 32 KB and more have the larger pages.
constexpr uint32_t kLargeFlashKb = 32;
constexpr uint32_t kSmallFlashPage = 64;
constexpr uint32_t kLargeFlashPage = 128;
constexpr uint32_t kSmallEepromPage = 32;
constexpr uint32_t kLargeEepromPage = 64;
// tinyAVR EEPROM by flash size: 2 KB chips 64 B, 4 and 8 KB 128 B, larger 256 B.
constexpr uint32_t kTinyEepromAt2Kb = 64;
constexpr uint32_t kTinyEepromTo8Kb = 128;
constexpr uint32_t kFullEeprom = 256;
constexpr uint32_t kSmallestFlashKb = 2;
constexpr uint32_t kMidFlashKb = 8;
// tinyAVR 2-series user row: 32 B at every size.
constexpr uint32_t kTiny2UserRow = 32;
// Fuse places: 3 reserved everywhere, 4 (TCD0CFG) only with timer D.
constexpr uint32_t kReservedFuse = 3;
constexpr uint32_t kTcd0Fuse = 4;

SSimUpdiPart Describe(const SChip& chip) {
    const bool mega = chip.series == ESeries::kMega0;
    const bool large = chip.flashKb >= kLargeFlashKb;
    SSimUpdiPart part{};
    part.name = chip.name;
    for (int i = 0; i < 3; ++i) {
        part.signature[i] = chip.signature[i];
    }
    part.family = mega ? "megaAVR" : "tinyAVR";
    part.flashBytes = chip.flashKb * kBytesPerKb;
    part.flashPage = large ? kLargeFlashPage : kSmallFlashPage;
    part.flashAddr = mega ? kMegaFlash : kTinyFlash;
    if (mega || chip.flashKb > kMidFlashKb) {
        part.eepromBytes = kFullEeprom;
    } else {
        part.eepromBytes = chip.flashKb == kSmallestFlashKb ? kTinyEepromAt2Kb : kTinyEepromTo8Kb;
    }
    part.eepromPage = large ? kLargeEepromPage : kSmallEepromPage;
    part.eepromAddr = kEeprom;
    // The user row is one EEPROM page, except on tinyAVR 2.
    part.userRowBytes = chip.series == ESeries::kTiny2 ? kTiny2UserRow : part.eepromPage;
    part.userRowAddr = kUserRow;
    part.fuseAddr = kFuseRow;
    part.fuseBytes = kFuseRowBytes;
    part.lockAddr = kLockByte;
    part.signatureAddr = kSignatureRow;
    part.nvmBase = kNvmBase;
    part.hasTcd0Fuse = chip.series == ESeries::kTiny1;
    return part;
}

const std::vector<SSimUpdiPart>& Parts() {
    static const std::vector<SSimUpdiPart> parts = [] {
        std::vector<SSimUpdiPart> all;
        for (const SChip& chip : kChips) {
            all.push_back(Describe(chip));
        }
        return all;
    }();
    return parts;
}

}  // namespace

size_t SimUpdiPartCount() {
    return Parts().size();
}

const SSimUpdiPart& SimUpdiPartAt(size_t index) {
    return Parts()[index];
}

const SSimUpdiPart* SimUpdiPartNamed(const std::string& name) {
    for (const SSimUpdiPart& part : Parts()) {
        const std::string partName = part.name;
        if (partName.size() != name.size()) {
            continue;
        }
        bool same = true;
        for (size_t i = 0; i < name.size() && same; ++i) {
            same = std::tolower(static_cast<unsigned char>(name[i])) ==
                   std::tolower(static_cast<unsigned char>(partName[i]));
        }
        if (same) {
            return &part;
        }
    }
    return nullptr;
}

bool SimUpdiFuseExists(const SSimUpdiPart& part, uint32_t address) {
    if (address < part.fuseAddr || address >= part.fuseAddr + part.fuseBytes) {
        return false;
    }
    const uint32_t place = address - part.fuseAddr;
    if (place == kReservedFuse || (place == kTcd0Fuse && !part.hasTcd0Fuse)) {
        return false;
    }
    // Places 0..8 hold fuses; 9 is reserved too.
    return place <= kFuseRowBytes - 2;
}
