// The target devices the programmer knows: one description per part, read by
// everything else (the Device menu, Auto Detect, the adapter, the
// operations, the command-line tool). Adding a part is adding one entry.
#pragma once

#include <cstdint>
#include <string>

#include "parts/FuseBits.h"

constexpr int kDeviceNameLength = 40;

// How a part enters programming mode.
enum class EntryRule {
    // Programming Enable until the part echoes 0x53 during the third byte,
    // with an extra SCK pulse after every attempt that failed.
    EchoSync,
    // One Programming Enable after the reset and no SCK pulse: the part gives
    // no echo and a stray SCK edge loses its synchronisation for good. The
    // signature confirms the entry instead.
    SingleEnable,
};

// How the chip is reached: the serial programming instructions on RESET,
// SCK, MOSI and MISO, or the one-wire UPDI.
enum class Protocol : uint8_t { Isp, Updi };

struct SUpdiPart;

struct DeviceInfo {
    int32_t number;     // device number: the selection key, stored in the settings
    int32_t signature;  // third signature byte (index 2) the device answers
    int32_t progSize;   // program memory size in bytes
    int32_t dataSize;   // data memory (EEPROM) size in bytes
    char name[kDeviceNameLength];
    uint8_t pollData1;  // a busy EEPROM cell reads this, then pollData2: a data
    uint8_t pollData2;  // byte equal to either is confirmed by a full wait
    uint8_t pollProg;   // a busy flash cell reads this; likewise for program bytes

    // 0: flash is written byte by byte; otherwise the page size in bytes
    // (Load Program Memory Page fills a buffer, Write Program Memory Page
    // commits it).
    int32_t progPageSize;
    // Longest write of a flash byte (or page), an EEPROM byte, a lock or
    // fuse byte, and of a chip erase, in microseconds.
    int32_t progWriteUs;
    int32_t dataWriteUs;
    int32_t lockWriteUs;
    int32_t chipEraseUs;
    EntryRule entry;
    // Instruction patterns (isp/InstructionPattern.h reads them); nullptr when the
    // part has no such instruction in serial programming mode.
    const char* lockWrite;   // writes the lock byte's bits a.. (1 = leave unprogrammed)
    const char* lockRead;    // answers lock bits, and SPIEN or FSTRT where it does
    const char* fstrtWrite;  // writes the FSTRT fuse; nullptr: the box stands for nothing

    // The parts of today, which the first fifteen rows predate.
    // Second signature byte; 0: the one the program size gives (size codes).
    uint8_t sizeCode = 0;
    // The part answers Poll RDY/BSY: a write is over when it says so.
    bool busyFlag = false;
    // The fuse bytes the part lets serial programming read and write.
    uint8_t fuseBytes = 0;
    // Their bits' names; nullptr: the bits are shown by number.
    const FuseLayout* fuseNames = nullptr;
    // Fuse bits that can take the chip out of reach of this adapter, as
    // 8 * byte + bit (byte 0 low, 1 high, 2 extended); -1: the part has none.
    // Rows take them from fuseNames.
    int8_t rstdisblBit = -1;  // programmed: RESET becomes a port pin
    int8_t dwenBit = -1;      // programmed: RESET carries debugWIRE
    int8_t spienBit = -1;     // unprogrammed: serial programming is off
    uint8_t ckselMask = 0;    // the clock source bits in the low fuse
    // Read Calibration Byte (0x38) gives the internal oscillator's
    // calibration value.
    bool calibration = false;
    // The protocol that reaches the part; a UPDI row also points at the
    // part's UPDI description (memory map, NVM controller), nullptr else.
    Protocol protocol = Protocol::Isp;
    const SUpdiPart* updiPart = nullptr;
};

// Fuse bytes (DeviceInfo::fuseBytes).
constexpr uint8_t kLowFuse = 0x01;
constexpr uint8_t kHighFuse = 0x02;
constexpr uint8_t kExtendedFuse = 0x04;
constexpr int kFuseByteCount = 3;

// Each fuse byte of the parts of today, in the order low, high, extended:
// its short name (what the tool and files call it), the window's title,
// its bit in DeviceInfo::fuseBytes, and the instructions that read it (the
// value answered in byte 4) and write it (the value sent in byte 4).
struct FuseByteInfo {
    const char* name;
    const char* title;
    uint8_t mask;
    uint32_t readInstruction;
    uint32_t writeInstruction;
};
extern const FuseByteInfo g_fuseBytes[kFuseByteCount];
// The index of the fuse byte with that short name, in any case; -1 when none.
int FindFuseByte(const std::string& name);

// The rows that have no device number (the parts of today, selected and
// stored by name) carry this one.
constexpr int32_t kNoDeviceNumber = 0;

// The ISP parts first, then one row for every UPDI part (built from its UPDI
// description at compile time, so the table is ready before any code runs).
extern const DeviceInfo g_deviceTable[];
extern const int kDeviceCount;     // the rows of g_deviceTable, UPDI rows included
extern const int kIspDeviceCount;  // the first rows: the parts reached through ISP
// Every row in table order: for (const DeviceInfo& row : DeviceRows()).
struct DeviceRowRange {
    const DeviceInfo* begin() const { return g_deviceTable; }
    const DeviceInfo* end() const { return g_deviceTable + kDeviceCount; }
};
inline DeviceRowRange DeviceRows() {
    return {};
}

// The row with that device number; nullptr when there is none.
const DeviceInfo* FindDeviceByNumber(int32_t number);
// The index of the row with that name, or one of the names it is made of
// ("ATtiny13A" finds "ATtiny13/13A"), without regard to case; -1 when none.
int FindDeviceByName(const std::string& name);
// The row a user's text names: a device number (all digits, as the settings
// store the parts of the Device menu), a name as FindDeviceByName takes
// it, or a toolchain id (parts/PartIds.h: "m328p"; a UPDI part's "t1614";
// any case); -1 when none. Every front end, the recipe and the settings go
// through this one.
int FindDevice(const std::string& text);

// First signature byte of every Atmel part.
constexpr uint8_t kAtmelVendorCode = 0x1E;

// Size code (second signature byte) of a program memory size in bytes; 0 when
// that size has none.
uint8_t SizeCodeForProgSize(int32_t progSize);
// Program memory size of a size code; 0 when the code has no size.
int32_t ProgSizeForSizeCode(uint8_t code);
