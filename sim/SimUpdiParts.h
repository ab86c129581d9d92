// The simulator's own knowledge of the UPDI chips it simulates (NVM controller
// version 0: tinyAVR 0/1/2, megaAVR 0; version 2: AVR DA, DB, DD; version 3:
// AVR EA), written from their data sheets'
// memory chapters as rules of each series, apart from the program's parts
// table: the simulator is the referee that table is tested against.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct SSimUpdiPart {
    const char* name;
    uint8_t signature[3];
    const char* family;  // the SIB's family id
    uint32_t flashBytes;
    uint32_t flashPage;
    uint32_t flashAddr;
    uint32_t eepromBytes;
    uint32_t eepromPage;
    uint32_t eepromAddr;
    uint32_t userRowBytes;
    uint32_t userRowAddr;
    uint32_t fuseAddr;   // the first fuse
    uint32_t fuseBytes;  // the fuse row, reserved places included
    uint32_t lockAddr;
    uint32_t signatureAddr;
    uint32_t nvmBase;
    int nvmVersion;       // the SIB's "P:n"; decides the NVM controller's registers and commands
    uint32_t lockBytes;   // 1, or the 4-byte key of the AVR Dx/Ex
    uint32_t unlocked;    // the lock value (least significant byte first) that leaves the chip open
    uint16_t fusePlaces;  // bit n: place n of the fuse row holds a fuse; the others are reserved
    uint8_t syscfg0Shipped;
};

size_t SimUpdiPartCount();
const SSimUpdiPart& SimUpdiPartAt(size_t index);
// Case-insensitive; nullptr when unknown.
const SSimUpdiPart* SimUpdiPartNamed(const std::string& name);
// Whether a fuse address holds a fuse on this chip (reserved places do not).
bool SimUpdiFuseExists(const SSimUpdiPart& part, uint32_t address);
