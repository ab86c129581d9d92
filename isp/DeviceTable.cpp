#include "isp/DeviceTable.h"

#include <algorithm>
#include <cctype>

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

// The parts of today: lock byte written with AC E0 00 (byte 4) and read with
// 58 00 00, pages loaded with 40/48 and written with 4C, writes followed
// through Poll RDY/BSY where the part has it (serial programming instruction
// sets of their datasheets); a busy cell is not read on those, and reads
// 0xFF on the others.
constexpr uint8_t kNoBusyValue = 0xFF;
constexpr uint8_t kTwoFuses = kLowFuse | kHighFuse;
constexpr uint8_t kThreeFuses = kLowFuse | kHighFuse | kExtendedFuse;
constexpr int32_t kToday = kNoDeviceNumber;
constexpr bool kPollReady = true;     // Poll RDY/BSY tells when a write is over
constexpr bool kDataPolling = false;  // a cell being written reads 0xFF

// The fuse bits that take a part of today out of reach of this adapter
// (fuse tables of their datasheets): RSTDISBL, DWEN, SPIEN as 8 * byte + bit,
// and the CKSEL bits of the low fuse.
struct FuseGuard {
    int8_t rstdisbl, dwen, spien;
    uint8_t cksel;
};
constexpr int8_t kHigh7 = 15, kHigh6 = 14, kHigh5 = 13, kHigh3 = 11, kHigh0 = 8, kLow7 = 7;
constexpr int8_t kNoBit = -1;
constexpr uint8_t kCksel4 = 0x0F, kCksel2 = 0x03;
// JTAG megas have neither RSTDISBL nor debugWIRE.
constexpr FuseGuard kJtagGuard{kNoBit, kNoBit, kHigh5, kCksel4};
constexpr FuseGuard kMega8Guard{kHigh7, kNoBit, kHigh5, kCksel4};
constexpr FuseGuard kMegaDwGuard{kHigh7, kHigh6, kHigh5, kCksel4};
constexpr FuseGuard kTinyGuard{kHigh7, kHigh6, kHigh5, kCksel4};
constexpr FuseGuard kTiny13Guard{kHigh0, kHigh3, kLow7, kCksel2};
constexpr FuseGuard kTiny2313Guard{kHigh0, kHigh7, kHigh5, kCksel4};

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

#define BRENWICK_TODAY(name, size, part, flash, eeprom, page, flashUs, eepromUs, eraseUs, fuses, \
                       guard, busyFlag)                                                          \
    {                                                                                            \
        kToday, part, flash, eeprom, name, kNoBusyValue, kNoBusyValue, kNoBusyValue, page,       \
            flashUs, eepromUs, flashUs, eraseUs, kEcho, kLockWriteByte4, kLockReadByte, kNone,   \
            size, busyFlag, fuses, guard.rstdisbl, guard.dwen, guard.spien, guard.cksel          \
    }
    // name, signature bytes 1 and 2, flash and EEPROM bytes, page bytes,
    // longest page write, EEPROM byte write and chip erase (us), fuse bytes,
    // the fuse bits that cut the chip off.
    BRENWICK_TODAY("ATmega16/16A", 0x94, 0x03, 16384, 512, 128, 4500, 9000, 9000, kTwoFuses,
                   kJtagGuard, kPollReady),
    BRENWICK_TODAY("ATmega328P", 0x95, 0x0F, 32768, 1024, 128, 4500, 3600, 9000, kThreeFuses,
                   kMegaDwGuard, kPollReady),
    BRENWICK_TODAY("ATmega644P", 0x96, 0x0A, 65536, 2048, 256, 4500, 9000, 9000, kThreeFuses,
                   kJtagGuard, kPollReady),
    BRENWICK_TODAY("ATmega1284P", 0x97, 0x05, 131072, 4096, 256, 4500, 3600, 9000, kThreeFuses,
                   kJtagGuard, kPollReady),
    BRENWICK_TODAY("ATmega2560", 0x98, 0x01, 262144, 4096, 256, 4500, 9000, 9000, kThreeFuses,
                   kJtagGuard, kPollReady),
    BRENWICK_TODAY("ATtiny13/13A", 0x90, 0x07, 1024, 64, 32, 4500, 4000, 9000, kTwoFuses,
                   kTiny13Guard, kPollReady),
    BRENWICK_TODAY("ATtiny25", 0x91, 0x08, 2048, 128, 32, 4500, 4000, 9000, kThreeFuses, kTinyGuard,
                   kPollReady),
    BRENWICK_TODAY("ATtiny45", 0x92, 0x06, 4096, 256, 64, 4500, 4000, 9000, kThreeFuses, kTinyGuard,
                   kPollReady),
    BRENWICK_TODAY("ATtiny85", 0x93, 0x0B, 8192, 512, 64, 4500, 4000, 9000, kThreeFuses, kTinyGuard,
                   kPollReady),
    BRENWICK_TODAY("ATtiny24", 0x91, 0x0B, 2048, 128, 32, 4500, 4000, 9000, kThreeFuses, kTinyGuard,
                   kPollReady),
    BRENWICK_TODAY("ATtiny44", 0x92, 0x07, 4096, 256, 64, 4500, 4000, 9000, kThreeFuses, kTinyGuard,
                   kPollReady),
    BRENWICK_TODAY("ATtiny84", 0x93, 0x0C, 8192, 512, 64, 4500, 4000, 9000, kThreeFuses, kTinyGuard,
                   kPollReady),
    BRENWICK_TODAY("ATtiny2313", 0x91, 0x0A, 2048, 128, 32, 4500, 4000, 4000, kThreeFuses,
                   kTiny2313Guard, kPollReady),
    BRENWICK_TODAY("ATtiny4313", 0x92, 0x0D, 4096, 256, 64, 4500, 4500, 9000, kThreeFuses,
                   kTiny2313Guard, kPollReady),
    // Without Poll RDY/BSY: a cell being written reads 0xFF ("Data Polling").
    BRENWICK_TODAY("ATmega8/8A", 0x93, 0x07, 8192, 512, 64, 4500, 9000, 9000, kTwoFuses,
                   kMega8Guard, kDataPolling),
    BRENWICK_TODAY("ATmega32/32A", 0x95, 0x02, 32768, 1024, 128, 4500, 9000, 9000, kTwoFuses,
                   kJtagGuard, kDataPolling),
#undef BRENWICK_TODAY
};

const DeviceInfo* FindDeviceByNumber(int32_t number) {
    if (number == kNoDeviceNumber) {
        return nullptr;
    }
    for (const DeviceInfo& row : g_deviceTable) {
        if (row.number == number) {
            return &row;
        }
    }
    return nullptr;
}

namespace {

bool EqualNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

// A name after a slash stands for the first name with its end replaced:
// "ATtiny13/13A" for ATtiny13A ("13" becomes "13A"), "ATtiny10/11/12" for
// ATtiny11 and ATtiny12 (as many characters as the name has).
std::string Variant(const std::string& first, const std::string& tail) {
    for (size_t k = std::min(first.size(), tail.size()); k > 0; --k) {
        if (first.compare(first.size() - k, k, tail, 0, k) == 0) {
            return first.substr(0, first.size() - k) + tail;
        }
    }
    return tail.size() <= first.size() ? first.substr(0, first.size() - tail.size()) + tail : tail;
}

bool NamesPart(const std::string& rowName, const std::string& name) {
    if (EqualNoCase(rowName, name)) {
        return true;
    }
    const size_t slash = rowName.find('/');
    if (slash == std::string::npos) {
        return false;
    }
    const std::string first = rowName.substr(0, slash);
    if (EqualNoCase(first, name)) {
        return true;
    }
    for (size_t start = slash + 1; start <= rowName.size();) {
        const size_t next = rowName.find('/', start);
        if (EqualNoCase(Variant(first, rowName.substr(start, next - start)), name)) {
            return true;
        }
        if (next == std::string::npos) {
            break;
        }
        start = next + 1;
    }
    return false;
}

}  // namespace

int FindDeviceByName(const std::string& name) {
    for (int index = 0; index < kDeviceCount; ++index) {
        if (NamesPart(g_deviceTable[index].name, name)) {
            return index;
        }
    }
    return -1;
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
