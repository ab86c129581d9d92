// A chip on the UPDI wire at the level of its memories: enter and leave NVM
// programming, identify, read, write pages, fuses and the lock, erase. Every
// call gives an EUpdiResult; a failed read or write leaves the offset it
// failed at in FailAddress().
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "parts/UpdiParts.h"
#include "updi/UpdiLink.h"
#include "updi/UpdiNvm.h"

struct SUpdiIdentity {
    std::string sib;     // the System Information Block as text
    std::string family;  // "tinyAVR", "megaAVR", "AVR"...
    int nvmVersion = -1;
    int ocdVersion = -1;
    uint8_t signature[3] = {};
    bool signatureRead = false;       // false while the chip is locked
    const SUpdiPart* part = nullptr;  // nullptr: a signature of no known part
};

class CUpdiProgrammer {
public:
    explicit CUpdiProgrammer(IUpdiWire& wire);

    // Connects at baud, reads the SIB, and puts the chip into NVM programming.
    // kUpdiLocked for a locked chip: the link stays up so that ChipErase()
    // can open it.
    int Enter(uint32_t baud);
    // Lets the chip run and turns its UPDI off.
    int Leave();
    bool Programming() const { return m_programming; }

    const SUpdiIdentity& Identity() const { return m_identity; }
    const SUpdiPart* Part() const { return m_identity.part; }

    // Memory offsets count from the start of that memory.
    int ReadMemory(EUpdiMemory memory, uint32_t offset, uint8_t* data, size_t count);
    // Any UPDI address (signature row, fuses, SRAM...).
    int ReadAddress(uint32_t address, uint8_t* data, size_t count);
    // Whole pages from a page boundary; a short last flash page is filled
    // with 0xFF. EEPROM and the user row take any range.
    int WriteMemory(EUpdiMemory memory, uint32_t offset, const uint8_t* data, size_t count);
    // index: the fuse's position in the part's fuse layout.
    int WriteFuse(size_t index, uint8_t value);
    int ReadFuse(size_t index, uint8_t& value);
    // The one-byte lock of version 0 (kUpdiBadArgument on a part whose lock
    // is wider).
    int ReadLock(uint8_t& value);
    // The lock takes effect at the next reset (Leave, or Enter again).
    int WriteLock(uint8_t value);
    // The lock of any part, as many bytes as its description gives
    // (SUpdiPart::lockBytes: 1, or the 4-byte key of the AVR Dx/Ex), least
    // significant first.
    int ReadLockBytes(uint8_t* data, size_t count);
    int WriteLockBytes(const uint8_t* data, size_t count);
    // With the chip-erase key: works on a locked chip, and ends in NVM
    // programming.
    int ChipErase();
    int EraseEeprom();

    // After ChipErase() the flash is known erased, and pages are only written
    // (half the time) until Enter() or SetFlashErased(false): a page written
    // twice meanwhile would hold both contents ANDed.
    void SetFlashErased(bool erased) { m_flashErased = erased; }

    uint32_t FailAddress() const { return m_failAddress; }
    // Asked between pages; true stops the operation with kUpdiStopped.
    void SetStopCheck(std::function<bool()> stop) { m_stop = std::move(stop); }

    CUpdiLink& Link() { return m_link; }

private:
    int ReadSib();
    int ResetChip();
    int EnterProgramming();
    int ReadSignature();
    int WaitSysStatus(uint8_t mask, uint8_t want);
    bool Stopped() const { return m_stop && m_stop(); }
    int Fail(int result, uint32_t offset);
    bool Region(EUpdiMemory memory, uint32_t& base, uint32_t& size, uint32_t& page) const;

    CUpdiLink m_link;
    std::unique_ptr<IUpdiNvm> m_nvm;
    SUpdiIdentity m_identity;
    bool m_programming = false;
    bool m_flashErased = false;
    uint32_t m_failAddress = 0;
    std::function<bool()> m_stop;
};
