#include "updi/UpdiNvmV2.h"

#include <algorithm>

#include "updi/UpdiLink.h"
#include "updi/UpdiProtocol.h"
#include "updi/UpdiResult.h"

namespace {

// NVMCTRL registers (offsets from its base) and STATUS bits
constexpr uint32_t kStatus = 0x02;
constexpr uint8_t kStatusFlashBusy = 0x01;
constexpr uint8_t kStatusEepromBusy = 0x02;
constexpr uint8_t kStatusErrorMask = 0x70;

// CTRLA commands
constexpr uint8_t kCmdFlashWrite = 0x02;        // FLWR
constexpr uint8_t kCmdFlashPageErase = 0x08;    // FLPER
constexpr uint8_t kCmdEepromEraseWrite = 0x13;  // EEERWR
constexpr uint8_t kCmdChipErase = 0x20;         // CHER
constexpr uint8_t kCmdEepromErase = 0x30;       // EECHER

// The store that starts a page erase: its value does not matter.
constexpr uint8_t kEraseTrigger = 0xFF;
constexpr size_t kWordBytes = 2;

// The busy times of the data sheets' NVM characteristics, kept on the wire
// with harmless stores so that the one status read after them finds the
// controller done.
constexpr uint32_t kPageEraseUs = 10000;
constexpr uint32_t kEepromByteUs = 11000;

}  // namespace

CUpdiNvmV2::CUpdiNvmV2(CUpdiLink& link, uint32_t nvmBase)
    : CUpdiNvmCommand(
          link, nvmBase,
          SUpdiNvmStatusBits{kStatus, static_cast<uint8_t>(kStatusFlashBusy | kStatusEepromBusy),
                             kStatusErrorMask}) {}

int CUpdiNvmV2::ErasePage(uint32_t address) {
    int result = Select(kCmdFlashPageErase);
    if (result == kUpdiOk) {
        result = m_link.Sts8(address, kEraseTrigger);
    }
    if (result == kUpdiOk) {
        result = m_link.Idle(kPageEraseUs);
    }
    return result;
}

int CUpdiNvmV2::WriteWords(uint32_t address, const uint8_t* data, size_t count) {
    // One write-enable, then the words stream: a REPEAT of word stores, as
    // many as one REPEAT counts, with no answer awaited.
    int result = Select(kCmdFlashWrite);
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
    return result;
}

int CUpdiNvmV2::WriteBytes(uint32_t address, const uint8_t* data, size_t count) {
    // Each store is an erase and write of its own byte; the next must wait.
    int result = Select(kCmdEepromEraseWrite);
    for (size_t i = 0; i < count && result == kUpdiOk; ++i) {
        result = m_link.Sts8(address + static_cast<uint32_t>(i), data[i]);
        if (result == kUpdiOk) {
            result = m_link.Idle(kEepromByteUs);
        }
        if (result == kUpdiOk) {
            result = WaitReady();
        }
    }
    return result;
}

int CUpdiNvmV2::WritePage(EUpdiMemory memory, uint32_t address, const uint8_t* data, size_t count,
                          bool erased, bool first) {
    (void)first;  // no page buffer to hold leftovers
    switch (memory) {
        case EUpdiMemory::kFlash: {
            int result = erased ? kUpdiOk : ErasePage(address);
            return result == kUpdiOk ? WriteWords(address, data, count) : result;
        }
        case EUpdiMemory::kUserRow: {
            // The erase takes the whole row: the caller gives all of it.
            int result = ErasePage(address);
            return result == kUpdiOk ? WriteWords(address, data, count) : result;
        }
        case EUpdiMemory::kEeprom:
            return WriteBytes(address, data, count);
    }
    return kUpdiBadArgument;
}

int CUpdiNvmV2::WriteFuse(uint32_t address, uint8_t value) {
    // Fuses and lock bytes are written as EEPROM bytes are.
    return WriteBytes(address, &value, 1);
}

int CUpdiNvmV2::ChipErase() {
    int result = Issue(kCmdChipErase);
    return result == kUpdiOk ? WaitReady() : result;
}

int CUpdiNvmV2::EraseEeprom() {
    int result = Issue(kCmdEepromErase);
    return result == kUpdiOk ? WaitReady() : result;
}
