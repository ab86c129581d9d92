// NVM controller version 3 (AVR EA): a page buffer again, filled by stores to
// the memory's own addresses with no command in CTRLA, then written by a page
// command (flash: FLPW, FLPERW; EEPROM, fuses and lock: EEPW, EEPERW) on
// the page of the last address stored to. The user row is a flash page.
#pragma once

#include "updi/UpdiNvmCommand.h"

class CUpdiNvmV3 : public CUpdiNvmCommand {
public:
    CUpdiNvmV3(CUpdiLink& link, uint32_t nvmBase);

    int Version() const override { return 3; }
    int WritePage(EUpdiMemory memory, uint32_t address, const uint8_t* data, size_t count,
                  bool erased, bool first) override;
    int WriteFuse(uint32_t address, uint8_t value) override;
    int ChipErase() override;
    int EraseEeprom() override;
    bool WholePages(EUpdiMemory memory) const override { return memory == EUpdiMemory::kUserRow; }

private:
    int LoadAndWrite(uint32_t address, const uint8_t* data, size_t count, uint8_t clear,
                     uint8_t command, uint32_t busyUs);
};
