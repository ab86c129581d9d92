// The simulator's own knowledge of the UPDI chips it simulates (NVM controller
// version 0: tinyAVR 0/1/2, megaAVR 0), written from their data sheets'
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
    bool hasTcd0Fuse;  // only chips with timer D have FUSE.TCD0CFG
};

size_t SimUpdiPartCount();
const SSimUpdiPart& SimUpdiPartAt(size_t index);
// Case-insensitive; nullptr when unknown.
const SSimUpdiPart* SimUpdiPartNamed(const std::string& name);
// Whether a fuse address holds a fuse on this chip (reserved places do not).
bool SimUpdiFuseExists(const SSimUpdiPart& part, uint32_t address);
