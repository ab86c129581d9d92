// NVM controller version 2 (AVR DA, DB, DD): no page buffer. A write-enable
// command in CTRLA makes every store to the flash a word write (FLWR) and
// every store to the EEPROM, fuses or lock a byte erase-and-write (EEERWR);
// a page erase is its own command (FLPER), started by a store into the page.
// The user row is erased whole and written like the flash.
#pragma once

#include "updi/UpdiNvmCommand.h"

class CUpdiNvmV2 : public CUpdiNvmCommand {
public:
    CUpdiNvmV2(CUpdiLink& link, uint32_t nvmBase);

    int Version() const override { return 2; }
    int WritePage(EUpdiMemory memory, uint32_t address, const uint8_t* data, size_t count,
                  bool erased, bool first) override;
    int WriteFuse(uint32_t address, uint8_t value) override;
    int ChipErase() override;
    int EraseEeprom() override;
    bool WholePages(EUpdiMemory memory) const override { return memory == EUpdiMemory::kUserRow; }

private:
    int ErasePage(uint32_t address);
    int WriteWords(uint32_t address, const uint8_t* data, size_t count);
    int WriteBytes(uint32_t address, const uint8_t* data, size_t count);
};
