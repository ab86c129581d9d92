#include "isp/DeviceTable.h"

namespace {

// Instruction patterns, as the parts' datasheets print them (serial
// programming instruction sets).
// Lock bits in byte 2 ("1111 1211"): AT90S1200/2323/2343/2333/4433/4434/8535,
// ATtiny15/22 and ATmega103.
constexpr const char* kLockWriteByte2 = "1010 1100 1111 1ba1 xxxx xxxx xxxx xxxx";
// The same bits, printed "111x x21x": AT90S2313/4414/8515.
constexpr const char* kLockWrite8515 = "1010 1100 111x xbax xxxx xxxx xxxx xxxx";
// Lock byte in byte 4 ("11ii iiii"): ATmega161.
constexpr const char* kLockWriteByte4 = "1010 1100 111x xxxx xxxx xxxx 11fe dcba";
// Lock bits 7/6 with SPIEN in bit 5 and FSTRT in bit 0: AT90S2323/4434/8535.
constexpr const char* kLockReadHighFstrt = "0101 1000 xxxx xxxx xxxx xxxx abSx xxxF";
// Lock bits 7/6 with SPIEN in bit 5; bit 0 is RCEN, which no box stands
// for: AT90S2343, ATtiny22.
constexpr const char* kLockReadHigh = "0101 1000 xxxx xxxx xxxx xxxx abSx xxxx";
// Lock bits 2/1: AT90S2333/4433, ATtiny15, ATmega103.
constexpr const char* kLockReadLow = "0101 1000 xxxx xxxx xxxx xxxx xxxx xbax";
// The whole lock byte: ATmega161.
constexpr const char* kLockReadByte = "0101 1000 0000 0000 xxxx xxxx xxfe dcba";
// FSTRT in bit 0 of byte 2 ("1011 111F"): AT90S2323/4434/8535.
constexpr const char* kFstrtWrite = "1010 1100 1011 111F xxxx xxxx xxxx xxxx";
constexpr const char* kNone = nullptr;

constexpr EntryRule kEcho = EntryRule::EchoSync;

}  // namespace

// The search order of selection and identification. The ATtiny10/11/12 row
// carries 0x159, wider than a byte: the signature check of programming-mode
// entry, which compares the whole value, never accepts it, while
// identification, which compares the low eight bits, can.
//
// Sizes, busy values, write and erase times, page sizes and instruction
// layouts are those of each part's datasheet.
const DeviceInfo g_deviceTable[kDeviceCount] = {
    // number, signature, flash, EEPROM, name, busy EEPROM 1/2, busy flash,
    // page, flash/EEPROM/lock write and chip erase us, entry,
    // lock write, lock read, FSTRT write
    {8535, 0x03, 8192, 512, "AT90S8535", 0x00, 0xFF, 0xFF, 0, 20000, 20000, 20000, 20000, kEcho,
     kLockWriteByte2, kLockReadHighFstrt, kFstrtWrite},
    {4434, 0x02, 4096, 256, "AT90S4434", 0x00, 0xFF, 0xFF, 0, 20000, 20000, 20000, 20000, kEcho,
     kLockWriteByte2, kLockReadHighFstrt, kFstrtWrite},
    {1200, 0x01, 1024, 64, "AT90S1200", 0x00, 0xFF, 0xFF, 0, 9000, 9000, 9000, 20000,
     EntryRule::SingleEnable, kLockWriteByte2, kNone, kNone},
    {4414, 0x01, 4096, 256, "AT90S4414", 0x80, 0x7F, 0x7F, 0, 20000, 20000, 20000, 20000, kEcho,
     kLockWrite8515, kNone, kNone},
    {8515, 0x01, 8192, 512, "AT90S8515", 0x80, 0x7F, 0x7F, 0, 9000, 9000, 9000, 20000, kEcho,
     kLockWrite8515, kNone, kNone},
    {2313, 0x01, 2048, 128, "AT90S2313", 0x80, 0x7F, 0x7F, 0, 9000, 9000, 9000, 20000, kEcho,
     kLockWrite8515, kNone, kNone},
    {2323, 0x02, 2048, 128, "AT90S2323", 0x00, 0xFF, 0xFF, 0, 20000, 20000, 20000, 20000, kEcho,
     kLockWriteByte2, kLockReadHighFstrt, kFstrtWrite},
    {2343, 0x03, 2048, 128, "AT90S2343", 0x00, 0xFF, 0xFF, 0, 20000, 20000, 20000, 18000, kEcho,
     kLockWriteByte2, kLockReadHigh, kNone},
    // Not one part but three, which the signature check never accepts.
    {10, 0x159, 1024, 64, "ATtiny10/11/12", 0xFF, 0xFF, 0xFF, 0, 20000, 20000, 20000, 20000, kEcho,
     kLockWriteByte2, kNone, kNone},
    {4433, 0x03, 4096, 256, "AT90S4433", 0x00, 0xFF, 0xFF, 0, 20000, 20000, 20000, 20000, kEcho,
     kLockWriteByte2, kLockReadLow, kNone},
    {2333, 0x05, 2048, 128, "AT90S2333", 0x00, 0xFF, 0xFF, 0, 20000, 20000, 20000, 20000, kEcho,
     kLockWriteByte2, kLockReadLow, kNone},
    {15, 0x06, 1024, 64, "ATtiny15", 0xFF, 0xFF, 0xFF, 0, 4100, 8200, 8200, 8200, kEcho,
     kLockWriteByte2, kLockReadLow, kNone},
    {22, 0x06, 2048, 128, "ATtiny22", 0x00, 0xFF, 0xFF, 0, 20000, 20000, 20000, 20000, kEcho,
     kLockWriteByte2, kLockReadHigh, kNone},
    {103, 0x01, 131072, 4096, "ATmega103", 0x80, 0x7F, 0xFF, 256, 56000, 9000, 9000, 112000, kEcho,
     kLockWriteByte2, kLockReadLow, kNone},
    {161, 0x01, 16384, 512, "ATmega161", 0xFF, 0xFF, 0xFF, 128, 14000, 3400, 3400, 28000, kEcho,
     kLockWriteByte4, kLockReadByte, kNone},
};

const DeviceInfo* FindDeviceByNumber(int32_t number) {
    for (const DeviceInfo& row : g_deviceTable) {
        if (row.number == number) {
            return &row;
        }
    }
    return nullptr;
}

namespace {

struct SizeCode {
    int32_t progSize;
    uint8_t code;
};

// Second signature byte: the program memory size. 0x95 and 0x96 have none.
constexpr SizeCode kSizeCodes[] = {
    {1024, 0x90}, {2048, 0x91}, {4096, 0x92}, {8192, 0x93}, {16384, 0x94}, {131072, 0x97},
};

}  // namespace

uint8_t SizeCodeForProgSize(int32_t progSize) {
    for (const SizeCode& s : kSizeCodes) {
        if (s.progSize == progSize) {
            return s.code;
        }
    }
    return 0;
}

int32_t ProgSizeForSizeCode(uint8_t code) {
    for (const SizeCode& s : kSizeCodes) {
        if (s.code == code) {
            return s.progSize;
        }
    }
    return 0;
}
