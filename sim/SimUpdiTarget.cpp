#include "sim/SimUpdiTarget.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

// Instruction opcodes (bits 7:5) and fields
constexpr uint8_t kOpcodeMask = 0xE0;
constexpr uint8_t kOpLds = 0x00;
constexpr uint8_t kOpLd = 0x20;
constexpr uint8_t kOpSts = 0x40;
constexpr uint8_t kOpSt = 0x60;
constexpr uint8_t kOpLdcs = 0x80;
constexpr uint8_t kOpRepeat = 0xA0;
constexpr uint8_t kOpStcs = 0xC0;
constexpr uint8_t kOpKey = 0xE0;
constexpr int kAddrSizeShift = 2;
constexpr uint8_t kTwoBitMask = 0x03;
constexpr uint8_t kCsMask = 0x0F;
constexpr uint8_t kPtrIndirect = 0;
constexpr uint8_t kPtrPostInc = 1;
constexpr uint8_t kPtrRegister = 2;
constexpr uint8_t kKeySibBit = 0x04;
constexpr int kSib8 = 0;
constexpr int kSib16 = 1;
constexpr int kKeyBytes = 8;
constexpr uint8_t kSynch = 0x55;
constexpr uint8_t kAck = 0x40;
constexpr int kByteBits = 8;

// Control/status registers
constexpr uint8_t kStatusA = 0x0;
constexpr uint8_t kStatusB = 0x1;
constexpr uint8_t kCtrlA = 0x2;
constexpr uint8_t kCtrlB = 0x3;
constexpr uint8_t kKeyStatus = 0x7;
constexpr uint8_t kResetReq = 0x8;
constexpr uint8_t kAsiCtrlA = 0x9;
constexpr uint8_t kSysStatus = 0xB;
constexpr uint8_t kUpdiRevision = 0x10;  // STATUSA: UPDI revision 1
constexpr uint8_t kRsd = 0x08;
constexpr uint8_t kUpdiDis = 0x04;
constexpr uint8_t kKeyUrowWrite = 0x20;
constexpr uint8_t kKeyNvmProg = 0x10;
constexpr uint8_t kKeyChipErase = 0x08;
constexpr uint8_t kResetSignature = 0x59;
constexpr uint8_t kSysRstSys = 0x20;
constexpr uint8_t kSysNvmProg = 0x08;
constexpr uint8_t kSysLockStatus = 0x01;
constexpr uint8_t kPesigFrame = 0x02;
constexpr uint8_t kClockMask = 0x03;
constexpr uint8_t kClock16 = 0x01;
constexpr uint8_t kClock8 = 0x02;
constexpr uint8_t kClock4 = 0x03;
constexpr uint32_t kMaxBaud16 = 900000;
constexpr uint32_t kMaxBaud8 = 450000;
constexpr uint32_t kMaxBaud4 = 225000;
// Keys as they arrive, least significant byte first
constexpr uint64_t kChipEraseKey = 0x4E564D4572617365ULL;
constexpr uint64_t kNvmProgKey = 0x4E564D50726F6720ULL;
constexpr uint64_t kUserRowKey = 0x4E564D5573267465ULL;
// A BREAK: 12 bit times low at the learned baud; unsynchronised, 24.6 ms.
constexpr int kBreakBits = 12;
constexpr int64_t kUnsyncedBreakNs = 24600000;
constexpr int64_t kNsPerSecond = 1000000000;
// Bytes more than this part off the learned baud arrive as garbage.
constexpr uint32_t kBaudTolerancePercent = 3;
constexpr uint32_t kPercent = 100;

// NVMCTRL v0
constexpr uint32_t kNvmCtrlA = 0x0;
constexpr uint32_t kNvmStatus = 0x2;
constexpr uint32_t kNvmDataLo = 0x6;
constexpr uint32_t kNvmDataHi = 0x7;
constexpr uint32_t kNvmAddrLo = 0x8;
constexpr uint32_t kNvmAddrHi = 0x9;
constexpr uint32_t kNvmRegisters = 0x10;
constexpr uint8_t kCmdMask = 0x07;
constexpr uint8_t kCmdWritePage = 1;
constexpr uint8_t kCmdErasePage = 2;
constexpr uint8_t kCmdEraseWritePage = 3;
constexpr uint8_t kCmdPageBufferClear = 4;
constexpr uint8_t kCmdChipErase = 5;
constexpr uint8_t kCmdEepromErase = 6;
constexpr uint8_t kCmdWriteFuse = 7;
constexpr uint8_t kFlashBusy = 0x01;
constexpr uint8_t kEepromBusy = 0x02;
constexpr uint8_t kWriteError = 0x04;
constexpr uint8_t kErased = 0xFF;
// A locked chip still answers reads of its memories, with bytes that are not
// their contents; the simulated chip answers this one.
constexpr uint8_t kLockedReadByte = 0x00;
constexpr uint32_t kSyscfg0 = 5;
constexpr uint8_t kEesave = 0x01;
// Busy times, about what the data sheets' NVM characteristics give.
constexpr int64_t kFlashPageNs = 2000000;  // erase or write
constexpr int64_t kEepromPageNs = 4000000;
constexpr int64_t kChipEraseNs = 10000000;
constexpr int64_t kFuseNs = 4000000;

enum ESection { kNone = 0, kFlash = 1, kEeprom = 2, kUserRow = 3 };

}  // namespace

CSimUpdiTarget::CSimUpdiTarget(const SSimUpdiPart& part, CVirtualCounter& clock)
    : m_part(part),
      m_clock(clock),
      m_flash(part.flashBytes, kErased),
      m_eeprom(part.eepromBytes, kErased),
      m_userRow(part.userRowBytes, kErased),
      m_fuses(part.fuseBytes, 0),
      m_lock(part.lockBytes),
      m_buffer(part.flashPage, kErased),
      m_loaded(part.flashPage, false),
      m_asiCtrlA(kClock4) {
    m_fuses[kSyscfg0] = part.syscfg0Shipped;
    for (uint32_t i = 0; i < part.lockBytes; ++i) {
        m_lock[i] = static_cast<uint8_t>(part.unlocked >> (kByteBits * i));
    }
}

uint32_t CSimUpdiTarget::LockValue() const {
    uint32_t value = 0;
    for (size_t i = 0; i < m_lock.size(); ++i) {
        value |= static_cast<uint32_t>(m_lock[i]) << (kByteBits * i);
    }
    return value;
}

void CSimUpdiTarget::Erase(bool chip) {
    std::fill(m_flash.begin(), m_flash.end(), kErased);
    if ((m_fuses[kSyscfg0] & kEesave) == 0) {
        std::fill(m_eeprom.begin(), m_eeprom.end(), kErased);
    }
    if (chip) {
        for (uint32_t i = 0; i < m_part.lockBytes; ++i) {
            m_lock[i] = static_cast<uint8_t>(m_part.unlocked >> (kByteBits * i));
        }
    }
}

uint32_t CSimUpdiTarget::MaxBaud() const {
    switch (m_asiCtrlA & kClockMask) {
        case kClock16:
            return kMaxBaud16;
        case kClock8:
            return kMaxBaud8;
        default:
            return kMaxBaud4;
    }
}

void CSimUpdiTarget::Reset() {
    m_locked = LockValue() != m_part.unlocked;
    m_command = 0;
    m_loads.clear();
}

void CSimUpdiTarget::LowLevel(int64_t lowNs) {
    const int64_t needed =
        m_learnedBaud != 0 ? kBreakBits * kNsPerSecond / m_learnedBaud : kUnsyncedBreakNs;
    if (lowNs < std::min(needed, kUnsyncedBreakNs)) {
        return;
    }
    // A BREAK (or the enable pulse) resets the UPDI's instruction state.
    m_enabled = true;
    m_state = EState::kIdle;
    m_repeat = m_repeatNext = 0;
    m_learnedBaud = 0;
}

void CSimUpdiTarget::Ack(std::vector<uint8_t>& answers) const {
    if ((m_ctrlA & kRsd) == 0) {
        answers.push_back(kAck);
    }
}

void CSimUpdiTarget::Receive(uint8_t byte, uint32_t baud, std::vector<uint8_t>& answers) {
    if (!m_enabled || m_state == EState::kError) {
        return;
    }
    if (baud > MaxBaud()) {
        m_state = EState::kError;  // too fast for the UPDI clock: framing errors
        m_statusB = kPesigFrame;
        return;
    }
    if (m_state == EState::kIdle) {
        if (byte == kSynch) {
            m_learnedBaud = baud;
            m_state = EState::kOpcode;
        }
        return;
    }
    const uint32_t off = baud > m_learnedBaud ? baud - m_learnedBaud : m_learnedBaud - baud;
    if (off * kPercent > m_learnedBaud * kBaudTolerancePercent) {
        m_state = EState::kError;
        m_statusB = kPesigFrame;
        return;
    }
    switch (m_state) {
        case EState::kOpcode:
            Opcode(byte, answers);
            return;
        case EState::kAddress:
            m_operand |= static_cast<uint32_t>(byte) << (kByteBits * m_operandBytes++);
            if (--m_need == 0) {
                AfterAddress(answers);
            }
            return;
        case EState::kData:
            StoreData(byte, answers);
            return;
        case EState::kCsData:
            WriteCs(m_opcode & kCsMask, byte);
            m_state = EState::kIdle;
            return;
        case EState::kKey:
            m_keyBytes.push_back(byte);
            if (static_cast<int>(m_keyBytes.size()) == kKeyBytes) {
                TakeKey();
                m_state = EState::kIdle;
            }
            return;
        case EState::kRepeatCount:
            m_repeatNext = byte;
            m_state = EState::kIdle;
            return;
        default:
            return;
    }
}

void CSimUpdiTarget::Opcode(uint8_t opcode, std::vector<uint8_t>& answers) {
    m_opcode = opcode;
    m_repeat = m_repeatNext;
    m_repeatNext = 0;
    m_state = EState::kIdle;
    const uint8_t field = (opcode >> kAddrSizeShift) & kTwoBitMask;
    const uint8_t size = opcode & kTwoBitMask;
    switch (opcode & kOpcodeMask) {
        case kOpLds:
        case kOpSts:
            if (field > 2 || size > 1) {
                return;
            }
            m_dataSize = size + 1;
            m_need = field + 1;
            m_operand = 0;
            m_operandBytes = 0;
            m_state = EState::kAddress;
            return;
        case kOpLd: {
            m_dataSize = size + 1;
            for (int transfer = 0; transfer <= m_repeat; ++transfer) {
                if (field == kPtrRegister) {
                    for (int i = 0; i < m_dataSize; ++i) {
                        answers.push_back(static_cast<uint8_t>(m_pointer >> (kByteBits * i)));
                    }
                    continue;
                }
                for (int i = 0; i < m_dataSize; ++i) {
                    answers.push_back(ReadOpen(m_pointer + static_cast<uint32_t>(i)));
                }
                if (field == kPtrPostInc) {
                    m_pointer += static_cast<uint32_t>(m_dataSize);
                }
            }
            m_repeat = 0;
            return;
        }
        case kOpSt:
            if (field == kPtrRegister) {
                m_need = size + 1;
                m_operand = 0;
                m_operandBytes = 0;
                m_state = EState::kAddress;
                return;
            }
            m_dataSize = size + 1;
            m_need = m_dataSize;
            m_operand = 0;
            m_operandBytes = 0;
            m_state = EState::kData;
            return;
        case kOpLdcs:
            answers.push_back(ReadCs(opcode & kCsMask));
            return;
        case kOpRepeat:
            if (size == 0) {
                m_state = EState::kRepeatCount;
            }
            return;
        case kOpStcs:
            m_state = EState::kCsData;
            return;
        case kOpKey:
            if ((opcode & kKeySibBit) != 0) {
                if (size != kSib8 && size != kSib16) {
                    return;  // no other SIB size exists
                }
                char sib[17] = {};
                std::snprintf(sib, sizeof sib, "%-7s P:%dD:1-3", m_part.family, m_part.nvmVersion);
                const int bytes = size == kSib16 ? 16 : 8;
                answers.insert(answers.end(), sib, sib + bytes);
                return;
            }
            if (size == 0) {
                m_keyBytes.clear();
                m_state = EState::kKey;
            }
            return;
        default:
            return;
    }
}

void CSimUpdiTarget::AfterAddress(std::vector<uint8_t>& answers) {
    m_state = EState::kIdle;
    switch (m_opcode & kOpcodeMask) {
        case kOpLds:
            for (int i = 0; i < m_dataSize; ++i) {
                answers.push_back(ReadOpen(m_operand + static_cast<uint32_t>(i)));
            }
            return;
        case kOpSts:
            if (!BusOpen()) {
                return;
            }
            Ack(answers);
            m_direct = m_operand;  // where the data goes; the pointer stays
            m_need = m_dataSize;
            m_operandBytes = 0;
            m_repeat = 0;
            m_state = EState::kData;
            return;
        case kOpSt:
            m_pointer = m_operand;
            Ack(answers);
            return;
        default:
            return;
    }
}

void CSimUpdiTarget::StoreData(uint8_t byte, std::vector<uint8_t>& answers) {
    const bool direct = (m_opcode & kOpcodeMask) == kOpSts;
    const uint8_t mode = (m_opcode >> kAddrSizeShift) & kTwoBitMask;
    const uint32_t at = (direct ? m_direct : m_pointer) + static_cast<uint32_t>(m_operandBytes++);
    if (BusOpen()) {
        WriteBus(at, byte);
    }
    if (--m_need > 0) {
        return;
    }
    if (BusOpen()) {
        Ack(answers);
    }
    if (direct) {
        m_state = EState::kIdle;
        return;
    }
    if (mode == kPtrPostInc) {
        m_pointer += static_cast<uint32_t>(m_dataSize);
    }
    m_operandBytes = 0;
    if (m_repeat > 0) {
        --m_repeat;
        m_need = m_dataSize;
        return;
    }
    m_state = EState::kIdle;
    (void)kPtrIndirect;
}

uint8_t CSimUpdiTarget::ReadCs(uint8_t reg) const {
    switch (reg) {
        case kStatusA:
            return kUpdiRevision;
        case kStatusB:
            return m_statusB;
        case kCtrlA:
            return m_ctrlA;
        case kCtrlB:
            return m_ctrlB;
        case kKeyStatus:
            return m_keyStatus;
        case kResetReq:
            return m_resetHeld ? kResetSignature : 0;
        case kAsiCtrlA:
            return m_asiCtrlA;
        case kSysStatus: {
            uint8_t status = 0;
            if (m_resetHeld || m_clock.Now() < m_resetUntil) {
                status |= kSysRstSys;
            }
            if (m_nvmProg) {
                status |= kSysNvmProg;
            }
            if (m_locked) {
                status |= kSysLockStatus;
            }
            return status;
        }
        default:
            return 0;
    }
}

void CSimUpdiTarget::WriteCs(uint8_t reg, uint8_t value) {
    switch (reg) {
        case kCtrlA:
            m_ctrlA = value;
            return;
        case kCtrlB:
            m_ctrlB = value;
            if ((value & kUpdiDis) != 0) {
                m_enabled = false;
                m_keyStatus = 0;
                m_nvmProg = false;
                m_ctrlA = m_ctrlB = 0;
                m_asiCtrlA = kClock4;
            }
            return;
        case kKeyStatus:
            if ((value & kKeyUrowWrite) != 0) {
                m_keyStatus &= static_cast<uint8_t>(~kKeyUrowWrite);
            }
            return;
        case kResetReq:
            if (value == kResetSignature) {
                m_resetHeld = true;
                m_nvmProg = false;
            } else if (m_resetHeld) {
                ReleaseReset();
            }
            return;
        case kAsiCtrlA:
            m_asiCtrlA = value & kClockMask;
            return;
        default:
            return;
    }
}

void CSimUpdiTarget::TakeKey() {
    uint64_t key = 0;
    for (int i = 0; i < kKeyBytes; ++i) {
        key |= static_cast<uint64_t>(m_keyBytes[static_cast<size_t>(i)]) << (kByteBits * i);
    }
    if (key == kChipEraseKey) {
        m_keyStatus |= kKeyChipErase;
    } else if (key == kNvmProgKey) {
        m_keyStatus |= kKeyNvmProg;
    } else if (key == kUserRowKey) {
        m_keyStatus |= kKeyUrowWrite;
    }
}

void CSimUpdiTarget::ReleaseReset() {
    m_resetHeld = false;
    if ((m_keyStatus & kKeyChipErase) != 0) {
        Erase(true);
        m_keyStatus &= static_cast<uint8_t>(~kKeyChipErase);
        m_resetUntil = m_clock.Now() + kChipEraseNs;
    }
    Reset();
    m_nvmProg = (m_keyStatus & kKeyNvmProg) != 0 && !m_locked;
}

uint8_t CSimUpdiTarget::ReadOpen(uint32_t address) {
    return BusOpen() ? ReadBus(address) : kLockedReadByte;
}

uint8_t CSimUpdiTarget::ReadBus(uint32_t address) {
    const SSimUpdiPart& p = m_part;
    if (p.nvmVersion != 0 && address >= p.nvmBase && address < p.nvmBase + kNvmRegisters) {
        return ReadNvmDx(address - p.nvmBase);
    }
    if (address >= p.nvmBase && address < p.nvmBase + kNvmRegisters) {
        switch (address - p.nvmBase) {
            case kNvmStatus:
                return static_cast<uint8_t>((Busy() ? m_busyBits : 0) | m_nvmStatus);
            case kNvmDataLo:
                return static_cast<uint8_t>(m_nvmData);
            case kNvmDataHi:
                return static_cast<uint8_t>(m_nvmData >> kByteBits);
            case kNvmAddrLo:
                return static_cast<uint8_t>(m_nvmAddr);
            case kNvmAddrHi:
                return static_cast<uint8_t>(m_nvmAddr >> kByteBits);
            default:
                return 0;
        }
    }
    if (address >= p.signatureAddr && address < p.signatureAddr + 3) {
        return p.signature[address - p.signatureAddr];
    }
    if (address >= p.lockAddr && address < p.lockAddr + p.lockBytes) {
        return m_lock[address - p.lockAddr];
    }
    if (address >= p.fuseAddr && address < p.fuseAddr + p.fuseBytes) {
        return m_fuses[address - p.fuseAddr];
    }
    if (address >= p.userRowAddr && address < p.userRowAddr + p.userRowBytes) {
        return m_userRow[address - p.userRowAddr];
    }
    if (address >= p.eepromAddr && address < p.eepromAddr + p.eepromBytes) {
        return m_eeprom[address - p.eepromAddr];
    }
    if (address >= p.flashAddr && address < p.flashAddr + p.flashBytes) {
        return m_flash[address - p.flashAddr];
    }
    return 0;
}

void CSimUpdiTarget::WriteBus(uint32_t address, uint8_t value) {
    const SSimUpdiPart& p = m_part;
    if (p.nvmVersion != 0) {
        if (address >= p.nvmBase && address < p.nvmBase + kNvmRegisters) {
            WriteNvmDx(address - p.nvmBase, value);
        } else {
            StoreDx(address, value);
        }
        return;
    }
    if (address >= p.nvmBase && address < p.nvmBase + kNvmRegisters) {
        switch (address - p.nvmBase) {
            case kNvmCtrlA:
                if (m_nvmProg) {
                    NvmCommand(value & kCmdMask);
                }
                return;
            case kNvmDataLo:
                m_nvmData = static_cast<uint16_t>((m_nvmData & 0xFF00) | value);
                return;
            case kNvmDataHi:
                m_nvmData = static_cast<uint16_t>((m_nvmData & 0x00FF) | (value << kByteBits));
                return;
            case kNvmAddrLo:
                m_nvmAddr = (m_nvmAddr & 0xFF00) | value;
                return;
            case kNvmAddrHi:
                m_nvmAddr = (m_nvmAddr & 0x00FF) | (static_cast<uint32_t>(value) << kByteBits);
                return;
            default:
                return;
        }
    }
    int section = kNone;
    uint32_t page = 0, base = 0;
    if (address >= p.flashAddr && address < p.flashAddr + p.flashBytes) {
        section = kFlash, page = p.flashPage, base = p.flashAddr;
    } else if (address >= p.eepromAddr && address < p.eepromAddr + p.eepromBytes) {
        section = kEeprom, page = p.eepromPage, base = p.eepromAddr;
    } else if (address >= p.userRowAddr && address < p.userRowAddr + p.userRowBytes) {
        section = kUserRow, page = p.userRowBytes, base = p.userRowAddr;
    }
    if (section == kNone || !m_nvmProg) {
        return;  // SRAM and peripherals are not simulated; NVM needs programming mode
    }
    if (m_bufferSection != kNone && m_bufferSection != section) {
        m_bufferMixed = true;
    }
    m_bufferSection = section;
    const uint32_t offset = (address - base) % page;
    m_buffer[offset] = value;
    m_loaded[offset] = true;
    m_nvmAddr = address;
}

void CSimUpdiTarget::NvmCommand(uint8_t command) {
    if (command == 0) {
        return;
    }
    if (Busy()) {
        m_nvmStatus = kWriteError;  // a command while the last one runs
        return;
    }
    m_nvmStatus = 0;
    const SSimUpdiPart& p = m_part;
    const int64_t now = m_clock.Now();
    auto clearBuffer = [this] {
        std::fill(m_buffer.begin(), m_buffer.end(), kErased);
        std::fill(m_loaded.begin(), m_loaded.end(), false);
        m_bufferSection = kNone;
        m_bufferMixed = false;
    };
    switch (command) {
        case kCmdWritePage:
        case kCmdErasePage:
        case kCmdEraseWritePage: {
            const uint32_t a = m_nvmAddr;
            const bool erase = command != kCmdWritePage;
            const bool write = command != kCmdErasePage;
            if (m_bufferMixed) {
                m_nvmStatus = kWriteError;
            } else if (a >= p.flashAddr && a < p.flashAddr + p.flashBytes) {
                const uint32_t start = (a - p.flashAddr) / p.flashPage * p.flashPage;
                for (uint32_t i = 0; i < p.flashPage; ++i) {
                    uint8_t& cell = m_flash[start + i];
                    cell = static_cast<uint8_t>((erase ? kErased : cell) &
                                                (write ? m_buffer[i] : kErased));
                }
                m_busyBits = kFlashBusy;
                m_busyUntil = now + (erase && write ? 2 : 1) * kFlashPageNs;
                ++m_pageWrites;
            } else {
                std::vector<uint8_t>* memory = nullptr;
                uint32_t start = 0, page = 0;
                if (a >= p.eepromAddr && a < p.eepromAddr + p.eepromBytes) {
                    memory = &m_eeprom;
                    page = p.eepromPage;
                    start = (a - p.eepromAddr) / page * page;
                } else if (a >= p.userRowAddr && a < p.userRowAddr + p.userRowBytes) {
                    memory = &m_userRow;
                    page = p.userRowBytes;
                }
                if (memory == nullptr) {
                    m_nvmStatus = kWriteError;
                    break;
                }
                // EEPROM and the user row take only the bytes loaded.
                for (uint32_t i = 0; i < page; ++i) {
                    if (m_loaded[i]) {
                        uint8_t& cell = (*memory)[start + i];
                        cell = static_cast<uint8_t>((erase ? kErased : cell) &
                                                    (write ? m_buffer[i] : kErased));
                    }
                }
                m_busyBits = kEepromBusy;
                m_busyUntil = now + kEepromPageNs;
                ++m_pageWrites;
            }
            break;
        }
        case kCmdPageBufferClear:
            break;
        case kCmdChipErase:
            Erase(false);
            m_busyBits = kFlashBusy | kEepromBusy;
            m_busyUntil = now + kChipEraseNs;
            break;
        case kCmdEepromErase:
            std::fill(m_eeprom.begin(), m_eeprom.end(), kErased);
            m_busyBits = kEepromBusy;
            m_busyUntil = now + kEepromPageNs;
            break;
        case kCmdWriteFuse:
            if (m_nvmAddr == p.lockAddr) {
                m_lock[0] = static_cast<uint8_t>(m_nvmData);
            } else if (SimUpdiFuseExists(p, m_nvmAddr)) {
                m_fuses[m_nvmAddr - p.fuseAddr] = static_cast<uint8_t>(m_nvmData);
            } else {
                m_nvmStatus = kWriteError;
                break;
            }
            m_busyBits = kEepromBusy;
            m_busyUntil = now + kFuseNs;
            break;
        default:
            break;
    }
    // Every command leaves the page buffer cleared, whatever it did.
    clearBuffer();
}
