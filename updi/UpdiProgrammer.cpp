#include "updi/UpdiProgrammer.h"

#include <algorithm>
#include <vector>

#include "updi/UpdiProtocol.h"

using namespace UpdiProto;

namespace {

// SIB layout: family id, a reserved byte, then "P:n" and "D:n"
constexpr size_t kSibFamilyBytes = 7;
constexpr size_t kSibNvmVersionDigit = 10;
constexpr size_t kSibOcdVersionDigit = 13;
constexpr uint8_t kErasedByte = 0xFF;
constexpr size_t kWordBytes = 2;
// A reset and a chip erase take milliseconds; a poll is at least a round trip.
constexpr int kMaxSysStatusPolls = 5000;
// The NVM controller of the parts known before the signature is read.
constexpr uint32_t kDefaultNvmBase = 0x1000;
constexpr uint32_t kSignatureRowAddress = 0x1100;
// EEPROM written a byte at a time goes in runs of this many bytes.
constexpr uint32_t kByteWriteRun = 32;
// The address width of a chip whose controller has no driver here.
constexpr int kResetAddressBytes = 2;

int Digit(const std::string& text, size_t at) {
    if (at >= text.size() || text[at] < '0' || text[at] > '9') {
        return -1;
    }
    return text[at] - '0';
}

}  // namespace

CUpdiProgrammer::CUpdiProgrammer(IUpdiWire& wire) : m_link(wire) {}

int CUpdiProgrammer::Fail(int result, uint32_t offset) {
    if (result != kUpdiOk) {
        m_failAddress = offset;
    }
    return result;
}

int CUpdiProgrammer::ReadSib() {
    uint8_t sib[kSibBytes] = {};
    const int result = m_link.ReadSib(sib, sizeof sib);
    if (result != kUpdiOk) {
        return result;
    }
    m_identity.sib.assign(reinterpret_cast<const char*>(sib), sizeof sib);
    std::string family = m_identity.sib.substr(0, kSibFamilyBytes);
    // The family id is padded with spaces; which side is not promised.
    family.erase(family.find_last_not_of(' ') + 1);
    family.erase(0, std::min(family.find_first_not_of(' '), family.size()));
    m_identity.family = family;
    m_identity.nvmVersion = Digit(m_identity.sib, kSibNvmVersionDigit);
    m_identity.ocdVersion = Digit(m_identity.sib, kSibOcdVersionDigit);
    // The controller's version tells the address width of the memory map:
    // from here every address goes out in as many bytes as it needs, also
    // on a locked chip.
    m_nvm = MakeUpdiNvm(m_identity.nvmVersion, m_link, kDefaultNvmBase);
    m_link.SetAddressBytes(m_nvm ? m_nvm->AddressBytes() : kResetAddressBytes);
    return kUpdiOk;
}

int CUpdiProgrammer::WaitSysStatus(uint8_t mask, uint8_t want) {
    for (int poll = 0; poll < kMaxSysStatusPolls; ++poll) {
        uint8_t status = 0;
        const int result = m_link.Ldcs(kAsiSysStatus, status);
        if (result != kUpdiOk) {
            return result;
        }
        if ((status & kSysStatusRstSys) == 0 && (status & mask) == want) {
            return kUpdiOk;
        }
    }
    return kUpdiTimeout;
}

int CUpdiProgrammer::ResetChip() {
    m_link.Stcs(kAsiResetReq, kResetRequest);
    return m_link.Stcs(kAsiResetReq, kResetRelease);
}

int CUpdiProgrammer::EnterProgramming() {
    m_programming = false;
    m_link.Key(kKeyNvmProg);
    uint8_t keys = 0;
    int result = m_link.Ldcs(kAsiKeyStatus, keys);
    if (result != kUpdiOk) {
        return result;
    }
    if ((keys & kKeyStatusNvmProg) == 0) {
        return kUpdiKeyRefused;
    }
    ResetChip();
    result = WaitSysStatus(kSysStatusNvmProg, kSysStatusNvmProg);
    if (result == kUpdiTimeout) {
        return kUpdiNotProgramming;
    }
    if (result != kUpdiOk) {
        return result;
    }
    m_nvm = MakeUpdiNvm(m_identity.nvmVersion, m_link,
                        m_identity.part != nullptr ? m_identity.part->nvmBase : kDefaultNvmBase);
    if (!m_nvm) {
        return kUpdiUnsupported;
    }
    m_link.SetAddressBytes(m_nvm->AddressBytes());
    // From here stores get no ACK: pages go out in one burst, and the next
    // read of the NVM status tells whether the chip is still there.
    result = m_link.SetResponseSignatures(false);
    if (result != kUpdiOk) {
        return result;
    }
    m_programming = true;
    return ReadSignature();
}

int CUpdiProgrammer::ReadSignature() {
    const uint32_t row =
        m_identity.part != nullptr ? m_identity.part->signatureAddr : kSignatureRowAddress;
    const int result = m_link.ReadBlock(row, m_identity.signature, sizeof m_identity.signature);
    if (result != kUpdiOk) {
        return result;
    }
    m_identity.signatureRead = true;
    m_identity.part = CUpdiParts::BySignature(m_identity.signature);
    return kUpdiOk;
}

int CUpdiProgrammer::Enter(uint32_t baud) {
    m_programming = false;
    m_flashErased = false;
    m_identity = SUpdiIdentity();
    int result = m_link.Connect(baud);
    if (result == kUpdiOk) {
        result = ReadSib();
    }
    uint8_t status = 0;
    if (result == kUpdiOk) {
        result = m_link.Ldcs(kAsiSysStatus, status);
    }
    if (result != kUpdiOk) {
        return result;
    }
    if ((status & kSysStatusLockStatus) != 0) {
        return kUpdiLocked;
    }
    return EnterProgramming();
}

int CUpdiProgrammer::Leave() {
    int result = kUpdiOk;
    if (m_nvm && m_programming) {
        result = m_nvm->WaitReady();
    }
    m_programming = false;
    ResetChip();
    const int disconnected = m_link.Disconnect();
    return result != kUpdiOk ? result : disconnected;
}

bool CUpdiProgrammer::Region(EUpdiMemory memory, uint32_t& base, uint32_t& size,
                             uint32_t& page) const {
    const SUpdiPart* part = m_identity.part;
    if (part == nullptr) {
        return false;
    }
    switch (memory) {
        case EUpdiMemory::kFlash:
            base = part->flashAddr, size = part->flashBytes, page = part->flashPage;
            return true;
        case EUpdiMemory::kEeprom:
            // No page (0): written a byte at a time, some milliseconds each;
            // runs of a few bytes keep a stop request answered soon.
            base = part->eepromAddr, size = part->eepromBytes,
            page = part->eepromPage != 0 ? part->eepromPage
                                         : std::min(part->eepromBytes, kByteWriteRun);
            return true;
        case EUpdiMemory::kUserRow:
            base = part->userRowAddr, size = part->userRowBytes, page = part->userRowBytes;
            return true;
    }
    return false;
}

int CUpdiProgrammer::ReadAddress(uint32_t address, uint8_t* data, size_t count) {
    for (size_t done = 0; done < count;) {
        if (Stopped()) {
            return kUpdiStopped;
        }
        // Word transfers move twice the bytes for each REPEAT and its turnaround.
        const size_t left = count - done;
        const size_t words = std::min(left / kWordBytes, static_cast<size_t>(kMaxRepeatTransfers));
        const uint32_t at = address + static_cast<uint32_t>(done);
        const size_t chunk = words > 0 ? words * kWordBytes : left;
        const int result = words > 0 ? m_link.ReadWords(at, data + done, words)
                                     : m_link.ReadBlock(at, data + done, chunk);
        if (result != kUpdiOk) {
            m_failAddress = address + static_cast<uint32_t>(done);
            return result;
        }
        done += chunk;
    }
    return kUpdiOk;
}

int CUpdiProgrammer::ReadMemory(EUpdiMemory memory, uint32_t offset, uint8_t* data, size_t count) {
    uint32_t base = 0, size = 0, page = 0;
    if (!Region(memory, base, size, page)) {
        return kUpdiUnknownPart;
    }
    if (offset > size || count > size - offset) {
        return Fail(kUpdiBadArgument, offset);
    }
    if (m_nvm && m_programming) {
        // A page still being written reads as garbage until it is done.
        const int ready = m_nvm->WaitReady();
        if (ready != kUpdiOk) {
            return Fail(ready, offset);
        }
    }
    const int result = ReadAddress(base + offset, data, count);
    if (result != kUpdiOk && result != kUpdiStopped) {
        m_failAddress -= base;
    }
    return result;
}

int CUpdiProgrammer::WriteMemory(EUpdiMemory memory, uint32_t offset, const uint8_t* data,
                                 size_t count) {
    uint32_t base = 0, size = 0, page = 0;
    if (!Region(memory, base, size, page)) {
        return kUpdiUnknownPart;
    }
    if (!m_programming || !m_nvm) {
        return kUpdiNotProgramming;
    }
    const bool wholePages = memory == EUpdiMemory::kFlash;
    if (offset > size || count > size - offset || page == 0 || (wholePages && offset % page != 0)) {
        return Fail(kUpdiBadArgument, offset);
    }
    std::vector<uint8_t> buffer;
    uint32_t pending = offset;  // the page whose outcome the next wait reports
    for (size_t done = 0; done < count;) {
        if (Stopped()) {
            m_nvm->WaitReady();
            return Fail(kUpdiStopped, offset + static_cast<uint32_t>(done));
        }
        const uint32_t at = offset + static_cast<uint32_t>(done);
        const size_t room = page - at % page;
        size_t chunk = std::min(count - done, room);
        const uint8_t* bytes = data + done;
        uint32_t from = at;
        size_t length = wholePages ? page : chunk;
        if (wholePages && chunk < page) {
            buffer.assign(page, kErasedByte);
            std::copy(bytes, bytes + chunk, buffer.begin());
            bytes = buffer.data();
        } else if (m_nvm->WholePages(memory) && chunk < page) {
            // The controller erases the whole page: what the caller keeps
            // is read first and written back with the new bytes.
            from = at - at % page;
            buffer.resize(page);
            int read = m_nvm->WaitReady();
            if (read == kUpdiOk) {
                read = ReadAddress(base + from, buffer.data(), page);
            }
            if (read != kUpdiOk) {
                return Fail(read, at);
            }
            std::copy(bytes, bytes + chunk, buffer.begin() + (at - from));
            bytes = buffer.data();
            length = page;
        }
        const int result =
            m_nvm->WritePage(memory, base + from, bytes, length, m_flashErased, done == 0);
        if (result != kUpdiOk) {
            // Bytes go out with the next read: the wait before this page
            // carries the one before it, the first page not known written.
            return Fail(result, pending);
        }
        pending = at;
        done += chunk;
    }
    return Fail(m_nvm->WaitReady(), pending);
}

int CUpdiProgrammer::WriteFuse(size_t index, uint8_t value) {
    const SUpdiPart* part = m_identity.part;
    if (part == nullptr) {
        return kUpdiUnknownPart;
    }
    if (!m_programming || !m_nvm) {
        return kUpdiNotProgramming;
    }
    if (index >= part->fuses.count) {
        return kUpdiBadArgument;
    }
    const uint32_t address = part->fuses.fuses[index].address;
    return Fail(m_nvm->WriteFuse(address, value), address);
}

int CUpdiProgrammer::ReadFuse(size_t index, uint8_t& value) {
    const SUpdiPart* part = m_identity.part;
    if (part == nullptr) {
        return kUpdiUnknownPart;
    }
    if (index >= part->fuses.count) {
        return kUpdiBadArgument;
    }
    return ReadAddress(part->fuses.fuses[index].address, &value, 1);
}

int CUpdiProgrammer::ReadLock(uint8_t& value) {
    const SUpdiPart* part = m_identity.part;
    if (part == nullptr) {
        return kUpdiUnknownPart;
    }
    if (part->lockBytes != 1) {
        return kUpdiBadArgument;
    }
    return ReadAddress(part->lockAddr, &value, 1);
}

int CUpdiProgrammer::WriteLock(uint8_t value) {
    const SUpdiPart* part = m_identity.part;
    if (part == nullptr) {
        return kUpdiUnknownPart;
    }
    if (part->lockBytes != 1) {
        return kUpdiBadArgument;
    }
    return WriteLockBytes(&value, 1);
}

int CUpdiProgrammer::ReadLockBytes(uint8_t* data, size_t count) {
    const SUpdiPart* part = m_identity.part;
    if (part == nullptr) {
        return kUpdiUnknownPart;
    }
    if (count != part->lockBytes) {
        return kUpdiBadArgument;
    }
    return ReadAddress(part->lockAddr, data, count);
}

int CUpdiProgrammer::WriteLockBytes(const uint8_t* data, size_t count) {
    const SUpdiPart* part = m_identity.part;
    if (part == nullptr) {
        return kUpdiUnknownPart;
    }
    if (count != part->lockBytes) {
        return kUpdiBadArgument;
    }
    if (!m_programming || !m_nvm) {
        return kUpdiNotProgramming;
    }
    // The lock lives beside the fuses and is written as they are, a byte at
    // a time: one byte on version 0, a four-byte key on versions 2 and 3.
    for (size_t i = 0; i < count; ++i) {
        const uint32_t address = part->lockAddr + static_cast<uint32_t>(i);
        const int result = m_nvm->WriteFuse(address, data[i]);
        if (result != kUpdiOk) {
            return Fail(result, address);
        }
    }
    return kUpdiOk;
}

int CUpdiProgrammer::ChipErase() {
    m_programming = false;
    m_link.Key(kKeyChipErase);
    uint8_t keys = 0;
    int result = m_link.Ldcs(kAsiKeyStatus, keys);
    if (result != kUpdiOk) {
        return result;
    }
    if ((keys & kKeyStatusChipErase) == 0) {
        return kUpdiKeyRefused;
    }
    ResetChip();
    result = WaitSysStatus(kSysStatusLockStatus, 0);
    if (result == kUpdiTimeout) {
        return kUpdiEraseFailed;
    }
    if (result != kUpdiOk) {
        return result;
    }
    result = EnterProgramming();
    m_flashErased = result == kUpdiOk;
    return result;
}

int CUpdiProgrammer::EraseEeprom() {
    if (!m_programming || !m_nvm) {
        return kUpdiNotProgramming;
    }
    return m_nvm->EraseEeprom();
}
