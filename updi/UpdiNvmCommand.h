// What the version 2 and 3 NVM controllers share: one command register
// (CTRLA) that holds a command until another replaces it, a change of command
// only by way of NOCMD, and a status register with busy bits and an error
// code. The drivers of both derive from it.
#pragma once

#include <cstdint>

#include "updi/UpdiNvm.h"

struct SUpdiNvmStatusBits {
    uint32_t statusOffset;  // STATUS from the controller's base
    uint8_t busyMask;       // FBUSY | EEBUSY
    uint8_t errorMask;      // ERROR[2:0]
};

class CUpdiNvmCommand : public IUpdiNvm {
public:
    int AddressBytes() const override { return 3; }
    int WaitReady() override;

protected:
    CUpdiNvmCommand(CUpdiLink& link, uint32_t nvmBase, SUpdiNvmStatusBits bits)
        : m_link(link), m_base(nvmBase), m_bits(bits) {}

    // Leaves command in CTRLA, going by NOCMD when another one is there and
    // waiting for the controller first: a change while it is busy is a
    // command collision, and the controller then ignores what follows.
    int Select(uint8_t command);
    // Writes command even when CTRLA holds it already: the commands that
    // start when written (chip erase, EEPROM erase, page writes from a buffer).
    int Issue(uint8_t command);

    CUpdiLink& m_link;
    uint32_t m_base;

private:
    int WriteCommand(uint8_t command);

    SUpdiNvmStatusBits m_bits;
    bool m_commandKnown = false;  // unknown until the driver writes CTRLA
    uint8_t m_command = 0;
};
