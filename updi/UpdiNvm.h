// The NVM controller as seen through UPDI, once the chip is in NVM
// programming. One implementation per controller version (the SIB's "P:n");
// MakeUpdiNvm picks it. Version 0: tinyAVR 0/1/2 and megaAVR 0, 16-bit
// addresses. Version 2: AVR DA, DB, DD (flash written word by word after a
// write-enable command). Version 3: AVR EA (a page buffer again). Versions 2
// and 3 map the flash at 0x800000 and need 24-bit addresses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

class CUpdiLink;

enum class EUpdiMemory : uint8_t {
    kFlash,
    kEeprom,
    kUserRow,
};

class IUpdiNvm {
public:
    virtual ~IUpdiNvm() = default;
    virtual int Version() const = 0;
    // The UPDI address bytes the controller's memory map needs (2 or 3).
    virtual int AddressBytes() const = 0;
    // Starts an erase-and-write of one page (or, for EEPROM and the user row,
    // of the bytes given). It completes while the program sends the next one:
    // WaitReady() tells how it went.
    // erased: the flash page is known erased (after a chip erase): it is only
    // written, which takes half the time. first: the first page of a run,
    // when the page buffer may hold leftovers.
    virtual int WritePage(EUpdiMemory memory, uint32_t address, const uint8_t* data, size_t count,
                          bool erased, bool first) = 0;
    // Waits until the controller is idle; kUpdiNvmError when the last
    // operation failed.
    virtual int WaitReady() = 0;
    // Fuses, and the lock bytes, one byte at a time.
    virtual int WriteFuse(uint32_t address, uint8_t value) = 0;
    // Whether the controller erases a whole page of this memory before it
    // writes: then WritePage must be given the whole page, and the bytes the
    // caller keeps are read and written back.
    virtual bool WholePages(EUpdiMemory memory) const {
        (void)memory;
        return false;
    }
    // The controller's own erase commands (the chip unlocked).
    virtual int ChipErase() = 0;
    virtual int EraseEeprom() = 0;
};

// nullptr for a version without a driver.
std::unique_ptr<IUpdiNvm> MakeUpdiNvm(int version, CUpdiLink& link, uint32_t nvmBase);
