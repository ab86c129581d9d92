// NVM controller version 0 (tinyAVR 0/1/2, megaAVR 0): a page buffer filled
// through the memory's mapped address, then a command in CTRLA.
#pragma once

#include "updi/UpdiNvm.h"

class CUpdiNvmV0 : public IUpdiNvm {
public:
    CUpdiNvmV0(CUpdiLink& link, uint32_t nvmBase) : m_link(link), m_base(nvmBase) {}

    int Version() const override { return 0; }
    int AddressBytes() const override { return 2; }
    int WritePage(EUpdiMemory memory, uint32_t address, const uint8_t* data, size_t count,
                  bool erased, bool first) override;
    int WaitReady() override;
    int WriteFuse(uint32_t address, uint8_t value) override;
    int ChipErase() override;
    int EraseEeprom() override;

private:
    int Command(uint8_t command);

    CUpdiLink& m_link;
    uint32_t m_base;
};
