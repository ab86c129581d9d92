// A simulated UPDI chip: the UPDI instruction decoder, its control/status
// registers and keys, lock, reset, and the NVM controller of the chip's
// version (0: page buffer and a command on ADDR; 2: write-enable commands and
// word writes, SimUpdiTargetDx.cpp; 3: page buffer with its own command set,
// same file) with busy times in virtual time. It sees the
// wire as bytes (or a long low level) at a baud; CSimUpdiWire delivers them.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "sim/SimUpdiParts.h"
#include "sim/VirtualCounter.h"

class CSimUpdiTarget {
public:
    CSimUpdiTarget(const SSimUpdiPart& part, CVirtualCounter& clock);

    // A byte as the chip sampled it at the wire's baud; the chip's answers,
    // if any, are appended to answers.
    void Receive(uint8_t byte, uint32_t baud, std::vector<uint8_t>& answers);
    // The line held low for lowNs: a BREAK when long enough.
    void LowLevel(int64_t lowNs);

    // The highest baud the UPDI follows at its present clock.
    uint32_t MaxBaud() const;

    // Memories, for tests to set up and check.
    std::vector<uint8_t>& Flash() { return m_flash; }
    std::vector<uint8_t>& Eeprom() { return m_eeprom; }
    std::vector<uint8_t>& UserRow() { return m_userRow; }
    std::vector<uint8_t>& Fuses() { return m_fuses; }
    // The lock: one byte on version 0, the 4-byte key on the AVR Dx/Ex.
    std::vector<uint8_t>& Lock() { return m_lock; }
    uint8_t& LockByte() { return m_lock[0]; }
    // Locked as of the last reset.
    bool Locked() const { return m_locked; }
    bool Programming() const { return m_nvmProg; }
    bool Enabled() const { return m_enabled; }
    const SSimUpdiPart& Part() const { return m_part; }
    // Applies the lock byte as a reset does.
    void Reset();

    // Counters for tests.
    int PageWrites() const { return m_pageWrites; }
    // Version 2/3: the NVM controller's error code as it stands, and how many
    // stores to the NVM it ignored (no command for them, or a collision).
    uint8_t NvmError() const { return m_nvmError; }
    int IgnoredStores() const { return m_ignoredStores; }

private:
    enum class EState : uint8_t {
        kIdle,  // waiting for SYNCH
        kOpcode,
        kAddress,  // LDS/STS address, ST pointer
        kData,     // STS/ST data
        kCsData,   // STCS value
        kKey,
        kRepeatCount,
        kError,  // after a bad frame: nothing until a BREAK
    };

    void Opcode(uint8_t opcode, std::vector<uint8_t>& answers);
    void AfterAddress(std::vector<uint8_t>& answers);
    void StoreData(uint8_t byte, std::vector<uint8_t>& answers);
    void Ack(std::vector<uint8_t>& answers) const;

    uint8_t ReadCs(uint8_t reg) const;
    void WriteCs(uint8_t reg, uint8_t value);
    void TakeKey();

    bool BusOpen() const { return !m_locked && !m_resetHeld; }
    uint8_t ReadBus(uint32_t address);
    // A read over UPDI: the memory, or nothing of it while the chip is locked.
    uint8_t ReadOpen(uint32_t address);
    void WriteBus(uint32_t address, uint8_t value);
    void NvmCommand(uint8_t command);
    bool Busy() const { return m_clock.Now() < m_busyUntil; }
    void ReleaseReset();
    void Erase(bool chip);
    uint32_t LockValue() const;

    // Versions 2 and 3 (SimUpdiTargetDx.cpp)
    uint8_t ReadNvmDx(uint32_t offset) const;
    void WriteNvmDx(uint32_t offset, uint8_t value);
    void CommandDx(uint8_t command);
    void StoreDx(uint32_t address, uint8_t value);
    void PageCommandEx(uint8_t command);
    // The NVM cell at a UPDI address, or nullptr; section tells flash-like
    // (flash, user row) from EEPROM-like (EEPROM, fuses, lock) memory.
    uint8_t* Cell(uint32_t address, int& section);
    bool FlashBusy() const { return m_clock.Now() < m_flashBusyUntil; }
    bool EepromBusy() const { return m_clock.Now() < m_eepromBusyUntil; }
    // The end of a new operation of ns after the one under way: the chip
    // holds a store to a busy section until the section is free.
    int64_t After(int64_t busyUntil, int64_t ns) const;

    const SSimUpdiPart& m_part;
    CVirtualCounter& m_clock;
    std::vector<uint8_t> m_flash, m_eeprom, m_userRow, m_fuses;
    std::vector<uint8_t> m_lock;
    // The page buffer and which of its bytes were loaded since it was cleared.
    std::vector<uint8_t> m_buffer;
    std::vector<bool> m_loaded;
    uint32_t m_nvmAddr = 0;
    uint16_t m_nvmData = 0;
    uint8_t m_nvmStatus = 0;
    int64_t m_busyUntil = 0;
    int m_pageWrites = 0;

    // UPDI
    bool m_enabled = false;
    EState m_state = EState::kIdle;
    uint32_t m_learnedBaud = 0;
    uint8_t m_opcode = 0;
    int m_need = 0;  // operand bytes still to come
    uint32_t m_operand = 0;
    int m_operandBytes = 0;
    uint32_t m_pointer = 0;
    uint32_t m_direct = 0;  // the address of an STS
    int m_repeat = 0;       // transfers left of a repeated instruction, beyond the first
    int m_repeatNext = 0;   // set by REPEAT for the next instruction
    int m_dataSize = 1;
    std::vector<uint8_t> m_keyBytes;
    uint8_t m_ctrlA = 0;
    uint8_t m_ctrlB = 0;
    uint8_t m_asiCtrlA;
    uint8_t m_keyStatus = 0;
    uint8_t m_statusB = 0;
    bool m_resetHeld = false;
    bool m_nvmProg = false;
    bool m_locked = false;
    int64_t m_resetUntil = 0;  // a chip erase at reset keeps the system in reset
    int m_bufferSection = 0;   // which memory the page buffer holds; 0: none
    bool m_bufferMixed = false;
    uint8_t m_busyBits = 0;

    // Versions 2 and 3
    uint8_t m_command = 0;  // CTRLA
    uint8_t m_nvmError = 0;
    int m_ignoredStores = 0;
    int64_t m_flashBusyUntil = 0;
    int64_t m_eepromBusyUntil = 0;
    std::map<uint32_t, uint8_t> m_loads;  // version 3's page buffer, by address
};
