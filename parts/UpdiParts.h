// The program's description of every part it programs through UPDI: one row a
// part, as data. Nothing outside this file branches on a part's name; the NVM
// controller version, the fuse layout and the memory map tell everything apart.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The lock byte of an open chip (LOCKBIT.LB = NOLOCK) on the NVM controller
// version 0 parts; any other value locks the chip at its next reset.
constexpr uint8_t kUpdiLockOpen = 0xC5;
// The lock of an open chip on the parts with a 4-byte lock key (AVR Dx/Ex:
// LOCK.KEY = NOLOCK), least significant byte first on the wire.
constexpr uint32_t kUpdiWideLockOpen = 0x5CC5C55C;
constexpr size_t kUpdiMaxLockBytes = 4;

enum class EUpdiFamily : uint8_t {
    kTinyAvr,  // tinyAVR 0-, 1- and 2-series
    kMegaAvr,  // megaAVR 0-series
    kAvrDa,
    kAvrDb,
    kAvrDd,
    kAvrEa,
};

// One fuse byte: its name and its address in the UPDI (data) address space.
struct SUpdiFuse {
    const char* name;
    uint32_t address;
};

// A fuse layout shared by the parts of a family.
struct SUpdiFuseLayout {
    const SUpdiFuse* fuses;
    size_t count;
};

// How UPDI is brought back when a fuse has taken the pin away.
enum class EUpdiHighVoltage : uint8_t {
    kOnUpdiPin = 0,     // the UPDI pin can become GPIO/RESET; 12 V on that pin brings UPDI back
    kDedicatedPin = 1,  // a dedicated UPDI pin: no fuse takes it away
    kOnResetPin = 2,    // UPDI shared with GPIO; the 12 V pulse goes on the RESET pin
};

struct SUpdiPart {
    const char* name;  // "ATtiny1614"
    const char* id;    // short id given on command lines: "t1614"
    EUpdiFamily family;
    uint8_t signature[3];
    uint8_t nvmVersion;  // the NVM controller version the SIB reports ("P:0", "P:2", "P:3")
    uint32_t flashBytes;
    uint32_t flashPage;
    uint32_t flashAddr;  // where the flash is mapped in the UPDI address space
    uint32_t eepromBytes;
    uint32_t eepromPage;  // 0: written a byte at a time, no page buffer
    uint32_t eepromAddr;
    uint32_t userRowBytes;
    uint32_t userRowAddr;
    uint32_t lockAddr;
    uint32_t lockBytes;
    uint32_t signatureAddr;
    uint32_t nvmBase;  // address of the NVM controller's registers
    EUpdiHighVoltage highVoltage;
    SUpdiFuseLayout fuses;
};

class CUpdiParts {
public:
    static size_t Count();
    static const SUpdiPart& At(size_t index);
    // Case-insensitive; nullptr when unknown.
    static const SUpdiPart* ByName(const std::string& name);
    static const SUpdiPart* ById(const std::string& id);
    static const SUpdiPart* BySignature(const uint8_t signature[3]);
    // The fuse of that name ("bodcfg", case-insensitive) or nullptr.
    static const SUpdiFuse* FuseByName(const SUpdiPart& part, const std::string& name);
    // "tinyAVR", "megaAVR", "AVR DA"...: as the part reports itself in the SIB.
    static const char* FamilyName(EUpdiFamily family);
};
