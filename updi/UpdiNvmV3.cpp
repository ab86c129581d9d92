#include "updi/UpdiNvmV3.h"

#include <algorithm>

#include "updi/UpdiLink.h"
#include "updi/UpdiProtocol.h"
#include "updi/UpdiResult.h"

namespace {

// NVMCTRL STATUS: at its own offset, the busy bits in the other order than
// on version 2.
constexpr uint32_t kStatus = 0x06;
constexpr uint8_t kStatusEepromBusy = 0x01;
constexpr uint8_t kStatusFlashBusy = 0x02;
constexpr uint8_t kStatusErrorMask = 0x70;

// CTRLA commands
constexpr uint8_t kCmdNone = 0x00;                  // NOCMD
constexpr uint8_t kCmdFlashPageWrite = 0x04;        // FLPW
constexpr uint8_t kCmdFlashPageEraseWrite = 0x05;   // FLPERW
constexpr uint8_t kCmdFlashBufferClear = 0x0F;      // FLPBCLR
constexpr uint8_t kCmdEepromPageEraseWrite = 0x15;  // EEPERW
constexpr uint8_t kCmdEepromBufferClear = 0x1F;     // EEPBCLR
constexpr uint8_t kCmdChipErase = 0x20;             // CHER
constexpr uint8_t kCmdEepromErase = 0x30;           // EECHER

constexpr size_t kWordBytes = 2;

// Busy times after a page command (the data sheet's NVM characteristics):
// the wire is kept busy this long so that one status read finds it done.
constexpr uint32_t kFlashPageWriteUs = 2000;
constexpr uint32_t kFlashPageEraseWriteUs = 4000;
constexpr uint32_t kEepromPageUs = 4000;

}  // namespace

CUpdiNvmV3::CUpdiNvmV3(CUpdiLink& link, uint32_t nvmBase)
    : CUpdiNvmCommand(
          link, nvmBase,
          SUpdiNvmStatusBits{kStatus, static_cast<uint8_t>(kStatusFlashBusy | kStatusEepromBusy),
                             kStatusErrorMask}) {}

int CUpdiNvmV3::LoadAndWrite(uint32_t address, const uint8_t* data, size_t count, uint8_t clear,
                             uint8_t command, uint32_t busyUs) {
    // The buffer is filled with no command selected and the controller idle.
    int result = Select(kCmdNone);
    if (result == kUpdiOk && clear != kCmdNone) {
        result = Issue(clear);
        if (result == kUpdiOk) {
            result = Select(kCmdNone);
        }
    }
    size_t done = 0;
    while (result == kUpdiOk && count - done >= kWordBytes) {
        const size_t words = std::min((count - done) / kWordBytes,
                                      static_cast<size_t>(UpdiProto::kMaxRepeatTransfers));
        result = m_link.WriteWords(address + static_cast<uint32_t>(done), data + done, words);
        done += words * kWordBytes;
    }
    if (result == kUpdiOk && done < count) {
        result = m_link.WriteBlock(address + static_cast<uint32_t>(done), data + done, 1);
    }
    if (result == kUpdiOk) {
        result = Issue(command);
    }
    if (result == kUpdiOk) {
        result = m_link.Idle(busyUs);
    }
    return result;
}

int CUpdiNvmV3::WritePage(EUpdiMemory memory, uint32_t address, const uint8_t* data, size_t count,
                          bool erased, bool first) {
    switch (memory) {
        case EUpdiMemory::kFlash:
            return LoadAndWrite(address, data, count, first ? kCmdFlashBufferClear : kCmdNone,
                                erased ? kCmdFlashPageWrite : kCmdFlashPageEraseWrite,
                                erased ? kFlashPageWriteUs : kFlashPageEraseWriteUs);
        case EUpdiMemory::kUserRow:
            return LoadAndWrite(address, data, count, kCmdFlashBufferClear, kCmdFlashPageEraseWrite,
                                kFlashPageEraseWriteUs);
        case EUpdiMemory::kEeprom:
            return LoadAndWrite(address, data, count, first ? kCmdEepromBufferClear : kCmdNone,
                                kCmdEepromPageEraseWrite, kEepromPageUs);
    }
    return kUpdiBadArgument;
}

int CUpdiNvmV3::WriteFuse(uint32_t address, uint8_t value) {
    // Fuses and lock bytes go through the EEPROM's page buffer.
    const int result = LoadAndWrite(address, &value, 1, kCmdEepromBufferClear,
                                    kCmdEepromPageEraseWrite, kEepromPageUs);
    return result == kUpdiOk ? WaitReady() : result;
}

int CUpdiNvmV3::ChipErase() {
    int result = Issue(kCmdChipErase);
    return result == kUpdiOk ? WaitReady() : result;
}

int CUpdiNvmV3::EraseEeprom() {
    int result = Issue(kCmdEepromErase);
    return result == kUpdiOk ? WaitReady() : result;
}
