// The NVM controllers of the AVR Dx (version 2) and AVR Ex (version 3), as
// their data sheets' NVMCTRL chapters describe them.
//
// Version 2 (AVR DA/DB/DD): no page buffer. CTRLA holds a command until
// another replaces it; a store to the flash under FLWR writes that byte
// (programming can only clear bits), under FLPER erases the page it falls in
// (the whole user row in the user row); a store to the EEPROM, a fuse or the
// lock under EEERWR erases and writes that byte, under EEWR only writes it.
// CHER and EECHER start when written.
//
// Version 3 (AVR EA): stores with no command in CTRLA fill a page buffer;
// FLPW/FLPERW write it into the flash page (or user row) of the last address
// stored to, EEPW/EEPERW into the EEPROM, fuses or lock. A page erase-write
// takes the whole flash page: bytes not loaded are erased.
//
// Both: a new command other than NOCMD/NOOP while another is selected or the
// NVM is busy is a command collision, after which the controller ignores
// every operation until the error code is cleared. A store with no command
// that applies is ignored and counted, so that tests see a driver that
// forgot one.
#include <algorithm>

#include "sim/SimUpdiTarget.h"

namespace {

constexpr uint32_t kCtrlA = 0x00;
constexpr uint32_t kStatusV2 = 0x02;
constexpr uint32_t kStatusV3 = 0x06;
constexpr uint8_t kFlashBusyV2 = 0x01;
constexpr uint8_t kEepromBusyV2 = 0x02;
constexpr uint8_t kFlashBusyV3 = 0x02;
constexpr uint8_t kEepromBusyV3 = 0x01;
constexpr int kErrorShift = 4;
constexpr uint8_t kErrorMask = 0x70;
constexpr uint8_t kCommandMask = 0x7F;
constexpr int kVersion3 = 3;

// Error codes
constexpr uint8_t kErrNone = 0x0;
constexpr uint8_t kErrInvalidCommand = 0x1;
constexpr uint8_t kErrCollision = 0x3;
constexpr uint8_t kErrWrongSection = 0x4;

// Commands both versions share
constexpr uint8_t kNoCommand = 0x00;
constexpr uint8_t kNoOperation = 0x01;
constexpr uint8_t kFlashPageErase = 0x08;
constexpr uint8_t kChipErase = 0x20;
constexpr uint8_t kEepromErase = 0x30;
// Version 2
constexpr uint8_t kFlashWrite = 0x02;
constexpr uint8_t kEepromWrite = 0x12;
constexpr uint8_t kEepromEraseWrite = 0x13;
// Version 3
constexpr uint8_t kFlashPageWrite = 0x04;
constexpr uint8_t kFlashPageEraseWrite = 0x05;
constexpr uint8_t kFlashBufferClear = 0x0F;
constexpr uint8_t kEepromPageWrite = 0x14;
constexpr uint8_t kEepromPageEraseWrite = 0x15;
constexpr uint8_t kEepromBufferClear = 0x1F;

constexpr uint8_t kErased = 0xFF;

// Busy times, about what the data sheets' NVM characteristics give.
constexpr int64_t kFlashByteNs = 35000;  // a word in about 70 us
constexpr int64_t kPageEraseNs = 10000000;
constexpr int64_t kEepromByteNs = 10000000;
constexpr int64_t kPageWriteNs = 2000000;
constexpr int64_t kEepromPageNs = 4000000;
constexpr int64_t kChipEraseNs = 50000000;

enum ESection { kNoSection = 0, kFlashLike = 1, kEepromLike = 2 };

}  // namespace

int64_t CSimUpdiTarget::After(int64_t busyUntil, int64_t ns) const {
    return std::max(busyUntil, m_clock.Now()) + ns;
}

uint8_t* CSimUpdiTarget::Cell(uint32_t address, int& section) {
    const SSimUpdiPart& p = m_part;
    section = kFlashLike;
    if (address >= p.flashAddr && address < p.flashAddr + p.flashBytes) {
        return &m_flash[address - p.flashAddr];
    }
    if (address >= p.userRowAddr && address < p.userRowAddr + p.userRowBytes) {
        return &m_userRow[address - p.userRowAddr];
    }
    section = kEepromLike;
    if (address >= p.eepromAddr && address < p.eepromAddr + p.eepromBytes) {
        return &m_eeprom[address - p.eepromAddr];
    }
    if (SimUpdiFuseExists(p, address)) {
        return &m_fuses[address - p.fuseAddr];
    }
    if (address >= p.lockAddr && address < p.lockAddr + p.lockBytes) {
        return &m_lock[address - p.lockAddr];
    }
    section = kNoSection;
    return nullptr;
}

uint8_t CSimUpdiTarget::ReadNvmDx(uint32_t offset) const {
    const bool v3 = m_part.nvmVersion == kVersion3;
    if (offset == kCtrlA) {
        return m_command;
    }
    if (offset == (v3 ? kStatusV3 : kStatusV2)) {
        uint8_t status = static_cast<uint8_t>(m_nvmError << kErrorShift);
        if (FlashBusy()) {
            status |= v3 ? kFlashBusyV3 : kFlashBusyV2;
        }
        if (EepromBusy()) {
            status |= v3 ? kEepromBusyV3 : kEepromBusyV2;
        }
        return status;
    }
    return 0;
}

void CSimUpdiTarget::WriteNvmDx(uint32_t offset, uint8_t value) {
    const bool v3 = m_part.nvmVersion == kVersion3;
    if (offset == (v3 ? kStatusV3 : kStatusV2)) {
        m_nvmError = static_cast<uint8_t>((value & kErrorMask) >> kErrorShift);
        return;
    }
    if (offset == kCtrlA && m_nvmProg) {
        CommandDx(value & kCommandMask);
    }
}

void CSimUpdiTarget::CommandDx(uint8_t command) {
    const bool idle = command == kNoCommand || command == kNoOperation;
    const bool selected = m_command != kNoCommand && m_command != kNoOperation;
    if (idle) {
        m_command = command;
        return;
    }
    if (m_nvmError == kErrCollision) {
        return;  // ignored until the error is cleared
    }
    if (selected || FlashBusy() || EepromBusy()) {
        m_nvmError = kErrCollision;
        return;
    }
    m_command = command;
    m_nvmError = kErrNone;
    const int64_t now = m_clock.Now();
    switch (command) {
        case kChipErase:
            Erase(false);
            m_flashBusyUntil = m_eepromBusyUntil = now + kChipEraseNs;
            return;
        case kEepromErase:
            std::fill(m_eeprom.begin(), m_eeprom.end(), kErased);
            m_eepromBusyUntil = now + kEepromPageNs;
            return;
        default:
            break;
    }
    if (m_part.nvmVersion == kVersion3) {
        PageCommandEx(command);
        return;
    }
    const bool known = command == kFlashWrite || command == kFlashPageErase ||
                       command == kEepromWrite || command == kEepromEraseWrite;
    if (!known) {
        m_nvmError = kErrInvalidCommand;
    }
}

void CSimUpdiTarget::StoreDx(uint32_t address, uint8_t value) {
    if (!m_nvmProg) {
        return;
    }
    int section = kNoSection;
    uint8_t* cell = Cell(address, section);
    if (cell == nullptr) {
        return;  // SRAM and peripherals are not simulated
    }
    if (m_part.nvmVersion == kVersion3) {
        if (m_command == kNoCommand || m_command == kNoOperation) {
            m_loads[address] = value;
            m_nvmAddr = address;
        } else {
            ++m_ignoredStores;
        }
        return;
    }
    if (m_nvmError == kErrCollision) {
        ++m_ignoredStores;
        return;
    }
    const SSimUpdiPart& p = m_part;
    if (section == kFlashLike && m_command == kFlashWrite) {
        *cell &= value;
        m_flashBusyUntil = After(m_flashBusyUntil, kFlashByteNs);
    } else if (section == kFlashLike && m_command == kFlashPageErase) {
        if (address >= p.userRowAddr && address < p.userRowAddr + p.userRowBytes) {
            std::fill(m_userRow.begin(), m_userRow.end(), kErased);
        } else {
            const uint32_t start = (address - p.flashAddr) / p.flashPage * p.flashPage;
            std::fill_n(m_flash.begin() + start, p.flashPage, kErased);
        }
        m_flashBusyUntil = After(m_flashBusyUntil, kPageEraseNs);
        ++m_pageWrites;
    } else if (section == kEepromLike &&
               (m_command == kEepromEraseWrite || m_command == kEepromWrite)) {
        *cell = m_command == kEepromEraseWrite ? value : static_cast<uint8_t>(*cell & value);
        m_eepromBusyUntil = After(m_eepromBusyUntil, kEepromByteNs);
    } else {
        ++m_ignoredStores;
        m_nvmError = kErrWrongSection;
    }
}

void CSimUpdiTarget::PageCommandEx(uint8_t command) {
    const SSimUpdiPart& p = m_part;
    const int64_t now = m_clock.Now();
    switch (command) {
        case kFlashBufferClear:
        case kEepromBufferClear:
            m_loads.clear();
            return;
        case kFlashPageWrite:
        case kFlashPageEraseWrite:
        case kEepromPageWrite:
        case kEepromPageEraseWrite:
            break;
        default:
            m_nvmError = kErrInvalidCommand;
            return;
    }
    const bool flashCommand = command == kFlashPageWrite || command == kFlashPageEraseWrite;
    const bool erase = command == kFlashPageEraseWrite || command == kEepromPageEraseWrite;
    int section = kNoSection;
    if (Cell(m_nvmAddr, section) == nullptr || (section == kFlashLike) != flashCommand) {
        m_nvmError = kErrWrongSection;
        m_loads.clear();
        return;
    }
    // The page the last store fell in; loads outside it are the driver's error.
    uint32_t pageStart = 0;
    uint32_t pageBytes = 1;
    if (section == kFlashLike && m_nvmAddr >= p.flashAddr &&
        m_nvmAddr < p.flashAddr + p.flashBytes) {
        pageStart = p.flashAddr + (m_nvmAddr - p.flashAddr) / p.flashPage * p.flashPage;
        pageBytes = p.flashPage;
    } else if (section == kFlashLike) {
        pageStart = p.userRowAddr;
        pageBytes = p.userRowBytes;
    } else if (m_nvmAddr >= p.eepromAddr && m_nvmAddr < p.eepromAddr + p.eepromBytes) {
        pageStart = p.eepromAddr + (m_nvmAddr - p.eepromAddr) / p.eepromPage * p.eepromPage;
        pageBytes = p.eepromPage;
    } else {
        pageStart = m_nvmAddr;  // a fuse or lock byte: each its own
    }
    for (const auto& load : m_loads) {
        if (load.first < pageStart || load.first >= pageStart + pageBytes) {
            m_nvmError = kErrWrongSection;
            m_loads.clear();
            return;
        }
    }
    if (section == kFlashLike) {
        for (uint32_t a = pageStart; a < pageStart + pageBytes; ++a) {
            int unused = kNoSection;
            uint8_t& cell = *Cell(a, unused);
            const auto load = m_loads.find(a);
            const uint8_t data = load != m_loads.end() ? load->second : kErased;
            cell = static_cast<uint8_t>((erase ? kErased : cell) & data);
        }
        m_flashBusyUntil = now + (erase ? 2 : 1) * kPageWriteNs;
    } else {
        // EEPROM, fuses and lock take only the bytes loaded.
        for (const auto& load : m_loads) {
            int unused = kNoSection;
            uint8_t& cell = *Cell(load.first, unused);
            cell = static_cast<uint8_t>((erase ? kErased : cell) & load.second);
        }
        m_eepromBusyUntil = now + kEepromPageNs;
    }
    ++m_pageWrites;
    m_loads.clear();
}
