#include "updi/UpdiAdapter.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int kWordBytes = 2;
constexpr int kBitsPerByte = 8;
constexpr unsigned kByteMask = 0xFF;
constexpr uint8_t kErasedByte = 0xFF;
// Bytes asked for in one read: the operations read this far ahead, and the
// programmer moves them in bursts of REPEATed word reads.
constexpr int kReadBurstBytes = 1024;
constexpr int kSignatureBytes = 3;
constexpr int kIdentifyNotFound = -1;
// Lock byte bit 0 is Lock Bit1, the only bit reported.
constexpr uint8_t kLockBit1 = 0x01;
constexpr int kUnprogrammed = 1;
constexpr int kProgrammed = 0;

// The operations' outcome of a programmer result.
int ProgrammerResult(int updi) {
    return updi == kUpdiStopped ? kProgrammerStopped : updi;
}

}  // namespace

CUpdiAdapter::CUpdiAdapter(IUpdiWire& wire, uint32_t baud) : m_programmer(wire), m_baud(baud) {}

CUpdiAdapter::~CUpdiAdapter() {
    LeaveProgrammingMode();
}

int CUpdiAdapter::Note(int result) {
    if (result == kUpdiWireError) {
        m_wireGone = true;
    }
    return ProgrammerResult(result);
}

const SUpdiPart* CUpdiAdapter::ChipPart() const {
    return m_programmer.Part();
}

bool CUpdiAdapter::AdapterAnswers() {
    const int result = m_programmer.Link().SendBreak();
    m_wireGone = result == kUpdiWireError;
    return result == kUpdiOk;
}

int CUpdiAdapter::EnterProgrammingMode(int checkSignature) {
    m_dataStart = -1;
    m_locked = false;
    const int entered = m_programmer.Enter(m_baud);
    m_entryResult = entered;
    m_wireGone = entered == kUpdiWireError;
    m_connected = entered == kUpdiOk || entered == kUpdiLocked;
    if (entered == kUpdiLocked) {
        // Only a chip erase reaches a locked chip: an entry without the
        // signature check is for one.
        m_locked = true;
        return checkSignature != 0 ? kProgrammerLocked : kProgrammerOk;
    }
    if (entered != kUpdiOk) {
        return Note(entered);
    }
    if (checkSignature != 0) {
        const SUpdiIdentity& chip = m_programmer.Identity();
        const SUpdiPart* want = m_device != nullptr ? m_device->updiPart : nullptr;
        if (want == nullptr || !chip.signatureRead ||
            std::memcmp(chip.signature, want->signature, kSignatureBytes) != 0) {
            return kUpdiUnknownPart;
        }
    }
    return kProgrammerOk;
}

std::string CUpdiAdapter::EntryTrouble() const {
    // Only what points at the wire or the chip is worth a line: the echo
    // tells a missing adapter or a broken wire from a chip that is silent.
    switch (m_entryResult) {
        case kUpdiNoEcho:
        case kUpdiWrongEcho:
        case kUpdiTimeout:
            return std::string("UPDI: ") + UpdiResultText(m_entryResult);
        default:
            return std::string();
    }
}

int CUpdiAdapter::LeaveProgrammingMode() {
    const int flushed = FlushData();
    if (!m_connected) {
        return flushed;
    }
    m_connected = false;
    const int left = Note(m_programmer.Leave());
    return flushed != kProgrammerOk ? flushed : left;
}

int CUpdiAdapter::IdentifyDevice() {
    const int entered = EnterProgrammingMode(0);
    if (entered != kProgrammerOk) {
        return entered;
    }
    const SUpdiPart* part = ChipPart();
    if (m_locked || part == nullptr) {
        return kIdentifyNotFound;
    }
    for (int index = 0; index < kDeviceCount; ++index) {
        if (g_deviceTable[index].updiPart == part) {
            m_device = &g_deviceTable[index];
            return index;
        }
    }
    return kIdentifyNotFound;
}

int CUpdiAdapter::ProgSize() const {
    return m_device != nullptr ? m_device->progSize : 0;
}

int CUpdiAdapter::DataSize() const {
    return m_device != nullptr ? m_device->dataSize : 0;
}

int CUpdiAdapter::ProgPageSize() const {
    return m_device != nullptr ? m_device->progPageSize : 0;
}

int CUpdiAdapter::BatchLength() const {
    return kReadBurstBytes;
}

int CUpdiAdapter::ReadProgramWords(uint16_t* words, int* statuses, int wordAddress, int count) {
    const int flushed = FlushData();
    std::vector<uint8_t> bytes(static_cast<size_t>(count) * kWordBytes);
    const int result =
        flushed != kProgrammerOk
            ? flushed
            : Note(m_programmer.ReadMemory(EUpdiMemory::kFlash,
                                           static_cast<uint32_t>(wordAddress) * kWordBytes,
                                           bytes.data(), bytes.size()));
    for (int i = 0; i < count; ++i) {
        const size_t at = static_cast<size_t>(i) * kWordBytes;
        words[i] = static_cast<uint16_t>(bytes[at] | (bytes[at + 1] << kBitsPerByte));
        statuses[i] = result;
    }
    return result;
}

int CUpdiAdapter::ReadProgramWord(uint16_t& word, int wordAddress) {
    int status = kProgrammerOk;
    return ReadProgramWords(&word, &status, wordAddress, 1);
}

int CUpdiAdapter::WriteStoppable(EUpdiMemory memory, uint32_t offset, const uint8_t* data,
                                 size_t count) {
    m_programmer.SetStopCheck(m_stop);
    const int result = m_programmer.WriteMemory(memory, offset, data, count);
    m_programmer.SetStopCheck(nullptr);
    return Note(result);
}

int CUpdiAdapter::Confirm(EUpdiMemory memory, uint32_t offset, const uint8_t* data, size_t count,
                          uint32_t& failedAt) {
    std::vector<uint8_t> back(count);
    const int read = m_programmer.ReadMemory(memory, offset, back.data(), count);
    if (read != kUpdiOk) {
        failedAt = m_programmer.FailAddress();
        return Note(read);
    }
    const auto differs = std::mismatch(back.begin(), back.end(), data);
    if (differs.first != back.end()) {
        failedAt = offset + static_cast<uint32_t>(differs.first - back.begin());
        return kUpdiNvmError;  // the memory does not hold what was written
    }
    return kProgrammerOk;
}

int CUpdiAdapter::WriteProgramPage(const uint8_t* pageBytes, int pageWordAddress, int& failedWord) {
    const int flushed = FlushData();
    if (flushed != kProgrammerOk) {
        failedWord = pageWordAddress;
        return flushed;
    }
    const uint32_t offset = static_cast<uint32_t>(pageWordAddress) * kWordBytes;
    const size_t page = static_cast<size_t>(ProgPageSize());
    int result = WriteStoppable(EUpdiMemory::kFlash, offset, pageBytes, page);
    uint32_t failedAt = offset;
    if (result == kProgrammerOk) {
        result = Confirm(EUpdiMemory::kFlash, offset, pageBytes, page, failedAt);
    } else if (result != kProgrammerStopped) {
        failedAt = std::max(offset, m_programmer.FailAddress());
    }
    if (result != kProgrammerOk) {
        failedWord = static_cast<int>(failedAt / kWordBytes);
    }
    return result;
}

int CUpdiAdapter::WriteProgramWord(uint16_t word, int wordAddress) {
    // Flash is written by pages: the word's page as it is, with the word in it.
    const int page = ProgPageSize();
    if (page <= 0) {
        return kProgrammerNotSupported;
    }
    const int pageStart = wordAddress * kWordBytes / page * page;
    std::vector<uint8_t> bytes(static_cast<size_t>(page));
    std::vector<uint16_t> words(bytes.size() / kWordBytes);
    std::vector<int> statuses(words.size());
    const int read = ReadProgramWords(words.data(), statuses.data(), pageStart / kWordBytes,
                                      static_cast<int>(words.size()));
    if (read != kProgrammerOk) {
        return read;
    }
    for (size_t i = 0; i < words.size(); ++i) {
        bytes[kWordBytes * i] = static_cast<uint8_t>(words[i] & kByteMask);
        bytes[kWordBytes * i + 1] = static_cast<uint8_t>(words[i] >> kBitsPerByte);
    }
    // A written word carries the low byte in bits 15..8.
    const size_t at = static_cast<size_t>(wordAddress * kWordBytes - pageStart);
    bytes[at] = static_cast<uint8_t>(word >> kBitsPerByte);
    bytes[at + 1] = static_cast<uint8_t>(word & kByteMask);
    int failedWord = 0;
    return WriteProgramPage(bytes.data(), pageStart / kWordBytes, failedWord);
}

int CUpdiAdapter::ReadDataBytes(uint8_t* values, int* statuses, int address, int count) {
    const int flushed = FlushData();
    const int result =
        flushed != kProgrammerOk
            ? flushed
            : Note(m_programmer.ReadMemory(EUpdiMemory::kEeprom, static_cast<uint32_t>(address),
                                           values, static_cast<size_t>(count)));
    std::fill(statuses, statuses + count, result);
    return result;
}

int CUpdiAdapter::ReadDataByte(uint8_t& value, int address) {
    int status = kProgrammerOk;
    return ReadDataBytes(&value, &status, address, 1);
}

int CUpdiAdapter::WriteDataByte(uint8_t value, int address) {
    const SUpdiPart* part = ChipPart();
    const int page =
        part != nullptr && part->eepromPage > 0 ? static_cast<int>(part->eepromPage) : 1;
    const bool follows = m_dataStart >= 0 &&
                         address == m_dataStart + static_cast<int>(m_dataPage.size()) &&
                         address / page == m_dataStart / page;
    if (!follows) {
        const int flushed = FlushData();
        if (flushed != kProgrammerOk) {
            return flushed;
        }
        m_dataStart = address;
    }
    m_dataPage.push_back(value);
    const bool pageEnds = (address + 1) % page == 0 || address + 1 >= DataSize();
    return pageEnds ? FlushData() : kProgrammerOk;
}

int CUpdiAdapter::FlushData() {
    if (m_dataStart < 0) {
        return kProgrammerOk;
    }
    const uint32_t start = static_cast<uint32_t>(m_dataStart);
    std::vector<uint8_t> bytes;
    bytes.swap(m_dataPage);
    m_dataStart = -1;
    int result = WriteStoppable(EUpdiMemory::kEeprom, start, bytes.data(), bytes.size());
    uint32_t failedAt = start;
    if (result == kProgrammerOk) {
        result = Confirm(EUpdiMemory::kEeprom, start, bytes.data(), bytes.size(), failedAt);
    }
    return result;
}

bool CUpdiAdapter::LockIsOpen(const uint8_t* value, size_t width) {
    if (width == 1) {
        return value[0] == kUpdiLockOpen;
    }
    uint32_t key = 0;
    for (size_t i = width; i-- > 0;) {
        key = key << kBitsPerByte | value[i];
    }
    return key == kUpdiWideLockOpen;
}

int CUpdiAdapter::ReadLockByte(uint8_t& lockByte, uint8_t& reported) {
    const int flushed = FlushData();
    if (flushed != kProgrammerOk) {
        return flushed;
    }
    const SUpdiPart* part = ChipPart();
    const size_t width = part != nullptr ? part->lockBytes : 1;
    uint8_t value[kUpdiMaxLockBytes] = {};
    if (width == 0 || width > kUpdiMaxLockBytes) {
        return kProgrammerNotSupported;
    }
    const int result = Note(m_programmer.ReadLockBytes(value, width));
    if (result != kProgrammerOk) {
        return result;
    }
    // Lock Bit1 unprogrammed (1) only for the open value; the other bits
    // stand for nothing and read 1.
    lockByte = static_cast<uint8_t>(LockIsOpen(value, width) ? kByteMask : kByteMask & ~kLockBit1);
    reported = kLockBit1;
    return kProgrammerOk;
}

int CUpdiAdapter::ReadLockBits(int& lockBit1, int& lockBit2, int& fstrt, int& spien) {
    uint8_t lockByte = 0;
    uint8_t reported = 0;
    const int result = ReadLockByte(lockByte, reported);
    if (result != kProgrammerOk) {
        return result;
    }
    lockBit1 = (lockByte & kLockBit1) != 0 ? kUnprogrammed : kProgrammed;
    lockBit2 = fstrt = spien = kUnprogrammed;
    return kProgrammerOk;
}

int CUpdiAdapter::WriteLockByte(uint8_t lockByte) {
    const int flushed = FlushData();
    if (flushed != kProgrammerOk) {
        return flushed;
    }
    // Only a chip erase opens a locked chip: an unprogrammed Lock Bit1 writes
    // nothing.
    if ((lockByte & kLockBit1) != 0) {
        return kProgrammerOk;
    }
    const SUpdiPart* part = ChipPart();
    const size_t width = part != nullptr ? part->lockBytes : 1;
    if (width == 0 || width > kUpdiMaxLockBytes) {
        return kProgrammerNotSupported;
    }
    const uint8_t closed[kUpdiMaxLockBytes] = {kUpdiLockClosed, kUpdiLockClosed, kUpdiLockClosed,
                                               kUpdiLockClosed};
    return Note(m_programmer.WriteLockBytes(closed, width));
}

int CUpdiAdapter::WriteLockBits(int lockBit1, int /*lockBit2*/, int /*fstrt*/) {
    return WriteLockByte(lockBit1 == kProgrammed ? static_cast<uint8_t>(kByteMask & ~kLockBit1)
                                                 : static_cast<uint8_t>(kByteMask));
}

int CUpdiAdapter::ReadFuseByte(uint8_t /*fuse*/, uint8_t& /*value*/) {
    return kProgrammerNotSupported;
}

int CUpdiAdapter::WriteFuseByte(uint8_t /*fuse*/, uint8_t /*value*/) {
    return kProgrammerNotSupported;
}

const SUpdiPart* CUpdiAdapter::SelectedPart() const {
    return m_device != nullptr ? m_device->updiPart : nullptr;
}

int CUpdiAdapter::ReadFuseAt(size_t index, uint8_t& value) {
    const int flushed = FlushData();
    if (flushed != kProgrammerOk) {
        return flushed;
    }
    const SUpdiPart* part = SelectedPart();
    if (part == nullptr || index >= part->fuses.count) {
        return kProgrammerNotSupported;
    }
    return Note(m_programmer.ReadFuse(index, value));
}

int CUpdiAdapter::WriteFuseAt(size_t index, uint8_t value) {
    const int flushed = FlushData();
    if (flushed != kProgrammerOk) {
        return flushed;
    }
    const SUpdiPart* part = SelectedPart();
    if (part == nullptr || index >= part->fuses.count) {
        return kProgrammerNotSupported;
    }
    return Note(m_programmer.WriteFuse(index, value));
}

int CUpdiAdapter::ReadUserRow(uint8_t* data, size_t offset, size_t count) {
    const int flushed = FlushData();
    if (flushed != kProgrammerOk) {
        return flushed;
    }
    const SUpdiPart* part = SelectedPart();
    if (part == nullptr || part->userRowBytes == 0 || offset + count > part->userRowBytes) {
        return kProgrammerNotSupported;
    }
    return Note(
        m_programmer.ReadMemory(EUpdiMemory::kUserRow, static_cast<uint32_t>(offset), data, count));
}

int CUpdiAdapter::WriteUserRow(const uint8_t* data, size_t offset, size_t count) {
    const int flushed = FlushData();
    if (flushed != kProgrammerOk) {
        return flushed;
    }
    const SUpdiPart* part = SelectedPart();
    if (part == nullptr || part->userRowBytes == 0 || offset + count > part->userRowBytes) {
        return kProgrammerNotSupported;
    }
    return Note(m_programmer.WriteMemory(EUpdiMemory::kUserRow, static_cast<uint32_t>(offset), data,
                                         count));
}

int CUpdiAdapter::ReadSignatureByte(uint8_t& value, int index) {
    const SUpdiPart* part = ChipPart();
    if (index < 0 || index >= kSignatureBytes || part == nullptr || m_locked) {
        return kUpdiUnknownPart;
    }
    // Read afresh: a chip that went silent must not answer from memory.
    return Note(
        m_programmer.ReadAddress(part->signatureAddr + static_cast<uint32_t>(index), &value, 1));
}

int CUpdiAdapter::ReadCalibrationByte(uint8_t& /*value*/) {
    return kProgrammerNotSupported;
}

int CUpdiAdapter::ChipErase() {
    m_dataStart = -1;
    m_dataPage.clear();
    const int result = Note(m_programmer.ChipErase());
    if (result == kProgrammerOk) {
        m_locked = false;
    }
    return result;
}

int CUpdiAdapter::EraseProgram() {
    // The controller has no erase of the whole flash alone: every page is
    // erased and written with the erased value.
    const int flushed = FlushData();
    if (flushed != kProgrammerOk) {
        return flushed;
    }
    const std::vector<uint8_t> erased(static_cast<size_t>(ProgSize()), kErasedByte);
    return WriteStoppable(EUpdiMemory::kFlash, 0, erased.data(), erased.size());
}

int CUpdiAdapter::EraseData() {
    m_dataStart = -1;
    m_dataPage.clear();
    return Note(m_programmer.EraseEeprom());
}
