#include "sim/SimUpdiParts.h"

#include <cctype>
#include <iterator>
#include <vector>

namespace {

enum class ESeries { kTiny0, kTiny1, kTiny2, kMega0, kAvrDa, kAvrDb, kAvrDd, kAvrEa };

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
    // AVR DA (DS40002183 and its smaller siblings, SIGROW device ID table)
    {"AVR32DA28", ESeries::kAvrDa, 32, {0x1E, 0x95, 0x34}},
    {"AVR64DA48", ESeries::kAvrDa, 64, {0x1E, 0x96, 0x13}},
    {"AVR128DA48", ESeries::kAvrDa, 128, {0x1E, 0x97, 0x08}},
    // AVR DB (DS40002247)
    {"AVR128DB48", ESeries::kAvrDb, 128, {0x1E, 0x97, 0x0C}},
    // AVR DD (DS40002315)
    {"AVR64DD32", ESeries::kAvrDd, 64, {0x1E, 0x96, 0x1A}},
    // AVR EA (DS40002425 and the AVR16EA data sheet)
    {"AVR16EA28", ESeries::kAvrEa, 16, {0x1E, 0x94, 0x37}},
    {"AVR64EA48", ESeries::kAvrEa, 64, {0x1E, 0x96, 0x1E}},
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
// Fuse places 0..8 of version 0: 3 and 9 reserved everywhere, 4 (TCD0CFG)
// only with timer D.
constexpr uint16_t kTiny1FusePlaces = 0x01F7;
constexpr uint16_t kTiny02MegaFusePlaces = 0x01E7;
constexpr uint8_t kSyscfg0ShippedV0 = 0xC4;
constexpr uint32_t kNoLockV0 = 0xC5;

// The AVR Dx/Ex memory map (each data sheet's "Memory Map" figure and the
// NVMCTRL, FUSE and LOCK chapters): NVMCTRL at 0x1000, the 4-byte lock key at
// 0x1040, the fuse row at 0x1050 (WDTCFG, BODCFG, OSCCFG, two reserved,
// SYSCFG0, SYSCFG1, CODESIZE, BOOTSIZE), the user row at 0x1080, the
// signature row at 0x1100, EEPROM at 0x1400 and the flash at 0x800000 of the
// UPDI address space.
constexpr uint32_t kDxLock = 0x1040;
constexpr uint32_t kDxLockBytes = 4;
constexpr uint32_t kDxNoLock = 0x5CC5C55C;  // LOCK.KEY NOLOCK; any other key locks
constexpr uint32_t kDxFuseRow = 0x1050;
constexpr uint32_t kDxFuseRowBytes = 16;
constexpr uint16_t kDxFusePlaces = 0x01E7;
constexpr uint32_t kDxUserRow = 0x1080;
constexpr uint32_t kDxFlash = 0x800000;
// SYSCFG0 as shipped: no CRC, PF6 a port pin; on the DD and EA also PF7 the
// UPDI pin (UPDIPINCFG set).
constexpr uint8_t kSyscfg0ShippedDaDb = 0xC0;
constexpr uint8_t kSyscfg0ShippedDdEa = 0xD0;
constexpr int kNvmVersionDx = 2;
constexpr int kNvmVersionEx = 3;
// AVR DA/DB/DD: 512-byte flash pages, 32-byte user row, EEPROM without
// pages (byte erase and write); 512 bytes of it, 256 on the DD.
constexpr uint32_t kDxFlashPage = 512;
constexpr uint32_t kDxUserRowBytes = 32;
constexpr uint32_t kDxEeprom = 512;
constexpr uint32_t kDdEeprom = 256;
constexpr uint32_t kNoPages = 0;
// AVR EA: 64-byte flash pages up to 32 KB, 128 bytes on the 64 KB parts;
// 512 bytes of EEPROM in 8-byte pages; a 64-byte user row.
constexpr uint32_t kEaLargeFlashKb = 64;
constexpr uint32_t kEaSmallFlashPage = 64;
constexpr uint32_t kEaLargeFlashPage = 128;
constexpr uint32_t kEaEeprom = 512;
constexpr uint32_t kEaEepromPage = 8;
constexpr uint32_t kEaUserRowBytes = 64;

SSimUpdiPart DescribeDxEx(const SChip& chip) {
    SSimUpdiPart part{};
    part.name = chip.name;
    for (int i = 0; i < 3; ++i) {
        part.signature[i] = chip.signature[i];
    }
    part.family = "AVR";
    part.flashBytes = chip.flashKb * kBytesPerKb;
    part.flashAddr = kDxFlash;
    part.eepromAddr = kEeprom;
    part.userRowAddr = kDxUserRow;
    part.fuseAddr = kDxFuseRow;
    part.fuseBytes = kDxFuseRowBytes;
    part.fusePlaces = kDxFusePlaces;
    part.lockAddr = kDxLock;
    part.lockBytes = kDxLockBytes;
    part.unlocked = kDxNoLock;
    part.signatureAddr = kSignatureRow;
    part.nvmBase = kNvmBase;
    const bool updiPinFuse = chip.series == ESeries::kAvrDd || chip.series == ESeries::kAvrEa;
    part.syscfg0Shipped = updiPinFuse ? kSyscfg0ShippedDdEa : kSyscfg0ShippedDaDb;
    if (chip.series == ESeries::kAvrEa) {
        part.nvmVersion = kNvmVersionEx;
        part.flashPage = chip.flashKb >= kEaLargeFlashKb ? kEaLargeFlashPage : kEaSmallFlashPage;
        part.eepromBytes = kEaEeprom;
        part.eepromPage = kEaEepromPage;
        part.userRowBytes = kEaUserRowBytes;
    } else {
        part.nvmVersion = kNvmVersionDx;
        part.flashPage = kDxFlashPage;
        part.eepromBytes = chip.series == ESeries::kAvrDd ? kDdEeprom : kDxEeprom;
        part.eepromPage = kNoPages;
        part.userRowBytes = kDxUserRowBytes;
    }
    return part;
}

SSimUpdiPart Describe(const SChip& chip) {
    if (chip.series >= ESeries::kAvrDa) {
        return DescribeDxEx(chip);
    }
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
    part.nvmVersion = 0;
    part.lockBytes = 1;
    part.unlocked = kNoLockV0;
    part.fusePlaces = chip.series == ESeries::kTiny1 ? kTiny1FusePlaces : kTiny02MegaFusePlaces;
    part.syscfg0Shipped = kSyscfg0ShippedV0;
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
    return ((part.fusePlaces >> (address - part.fuseAddr)) & 1u) != 0;
}
