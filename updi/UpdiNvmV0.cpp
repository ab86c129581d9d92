#include "updi/UpdiNvmV0.h"

#include "updi/UpdiLink.h"
#include "updi/UpdiResult.h"

namespace {

// NVMCTRL registers (offsets from its base)
constexpr uint32_t kCtrlA = 0x00;
constexpr uint32_t kStatus = 0x02;
constexpr uint32_t kData = 0x06;
constexpr uint32_t kAddr = 0x08;

// CTRLA commands
constexpr uint8_t kCmdPageBufferClear = 0x04;
constexpr uint8_t kCmdWritePage = 0x01;
constexpr uint8_t kCmdEraseWritePage = 0x03;
constexpr uint8_t kCmdChipErase = 0x05;
constexpr uint8_t kCmdEepromErase = 0x06;
constexpr uint8_t kCmdWriteFuse = 0x07;

// STATUS
constexpr uint8_t kStatusFlashBusy = 0x01;
constexpr uint8_t kStatusEepromBusy = 0x02;
constexpr uint8_t kStatusWriteError = 0x04;

// Page programming times (the data sheets' NVM characteristics): the wire
// is kept busy this long after a page command, so one status read finds it done.
constexpr uint32_t kPageWriteUs = 2000;
constexpr uint32_t kPageEraseWriteUs = 4000;

// A chip erase of the largest part takes tens of milliseconds; each poll is
// at least one round trip, so a count of polls bounds the wait in any time
// base. The count allows seconds at 900 kbaud.
constexpr int kMaxPolls = 20000;

}  // namespace

int CUpdiNvmV0::Command(uint8_t command) {
    return m_link.Sts8(m_base + kCtrlA, command);
}

int CUpdiNvmV0::WaitReady() {
    for (int poll = 0; poll < kMaxPolls; ++poll) {
        uint8_t status = 0;
        const int result = m_link.Lds8(m_base + kStatus, status);
        if (result != kUpdiOk) {
            return result;
        }
        if ((status & (kStatusFlashBusy | kStatusEepromBusy)) == 0) {
            return (status & kStatusWriteError) != 0 ? kUpdiNvmError : kUpdiOk;
        }
    }
    return kUpdiNvmBusy;
}

int CUpdiNvmV0::WritePage(EUpdiMemory memory, uint32_t address, const uint8_t* data, size_t count,
                          bool erased, bool first) {
    // Flash, EEPROM and the user row all go through the page buffer and a
    // command on ADDR, which follows the buffer's loads. The buffer is filled
    // with the controller idle; every command leaves it cleared.
    int result = WaitReady();
    if (result == kUpdiOk && first) {
        result = Command(kCmdPageBufferClear);
    }
    if (result == kUpdiOk) {
        result = m_link.WriteBlock(address, data, count);
    }
    const bool writeOnly = erased && memory == EUpdiMemory::kFlash;
    if (result == kUpdiOk) {
        result = Command(writeOnly ? kCmdWritePage : kCmdEraseWritePage);
    }
    if (result == kUpdiOk) {
        result = m_link.Idle(writeOnly ? kPageWriteUs : kPageEraseWriteUs);
    }
    return result;
}

int CUpdiNvmV0::WriteFuse(uint32_t address, uint8_t value) {
    int result = WaitReady();
    if (result == kUpdiOk) {
        result = m_link.Sts16(m_base + kAddr, static_cast<uint16_t>(address));
    }
    if (result == kUpdiOk) {
        result = m_link.Sts8(m_base + kData, value);
    }
    if (result == kUpdiOk) {
        result = Command(kCmdWriteFuse);
    }
    return result == kUpdiOk ? WaitReady() : result;
}

int CUpdiNvmV0::ChipErase() {
    int result = WaitReady();
    if (result == kUpdiOk) {
        result = Command(kCmdChipErase);
    }
    return result == kUpdiOk ? WaitReady() : result;
}

int CUpdiNvmV0::EraseEeprom() {
    int result = WaitReady();
    if (result == kUpdiOk) {
        result = Command(kCmdEepromErase);
    }
    return result == kUpdiOk ? WaitReady() : result;
}
