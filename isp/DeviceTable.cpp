#include "isp/DeviceTable.h"

#include <algorithm>
#include <cctype>

#include "isp/FuseFields.h"

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
constexpr bool kCalibration = true;   // Read Calibration Byte 0x38

// What a family of parts of today shares: the fuse bytes serial
// programming reaches and their bits' names (fuse tables of the datasheets;
// nullptr where the datasheet's table was not at hand, and the bits are
// shown by number), whether Poll RDY/BSY tells when a write is over (else a
// cell being written reads 0xFF), whether the calibration byte can be read,
// and the lock instructions.
struct Family {
    uint8_t fuses;
    FuseLayout names;
    bool busyFlag;
    bool calibration = kCalibration;
    const char* lockWrite = kLockWriteByte4;
    const char* lockRead = kLockReadByte;
};

// The low fuse byte of most parts since the ATmega48: clock division and
// output, start-up time, clock source.
constexpr const char* kLowCkdiv8 = "CKDIV8 CKOUT SUT1 SUT0 CKSEL3 CKSEL2 CKSEL1 CKSEL0";
// The low fuse byte of the ATmega8 generation.
constexpr const char* kLowBoden = "BODLEVEL BODEN SUT1 SUT0 CKSEL3 CKSEL2 CKSEL1 CKSEL0";
// The high fuse byte of the JTAG megas, which have neither RSTDISBL nor
// debugWIRE.
constexpr const char* kHighJtag = "OCDEN JTAGEN SPIEN WDTON EESAVE BOOTSZ1 BOOTSZ0 BOOTRST";
constexpr const char* kHighTiny = "RSTDISBL DWEN SPIEN WDTON EESAVE BODLEVEL2 BODLEVEL1 BODLEVEL0";
constexpr const char* kExtBodlevel = "- - - - - BODLEVEL2 BODLEVEL1 BODLEVEL0";
constexpr const char* kExtSelfprgen = "- - - - - - - SELFPRGEN";
constexpr const char* kExtCfd = "- - - - CFD BODLEVEL2 BODLEVEL1 BODLEVEL0";
constexpr const char* kExtHwbe = "- - - - HWBE BODLEVEL2 BODLEVEL1 BODLEVEL0";
constexpr const char* kUnnamed = nullptr;

// ATmega8/8A (2486AA Tables 87, 88).
constexpr Family kMega8{
    kTwoFuses,
    {{kLowBoden, "RSTDISBL WDTON SPIEN CKOPT EESAVE BOOTSZ1 BOOTSZ0 BOOTRST", nullptr},
     {},
     &g_mega8FuseFields},
    kDataPolling};
// ATmega16/16A (2466T), ATmega32/32A (2503Q, 8155I).
constexpr Family kMega16{
    kTwoFuses,
    {{kLowBoden, "OCDEN JTAGEN SPIEN CKOPT EESAVE BOOTSZ1 BOOTSZ0 BOOTRST", nullptr}},
    kPollReady};
constexpr Family kMega32{kMega16.fuses, kMega16.names, kDataPolling};
// ATmega48/88/168 and their A, P, PA and PB kin (2545, 8271H, 42176
// "Fuse Bits"): the ATmega48s keep SELFPRGEN in the extended byte, the
// others the boot section.
constexpr Family kMega48{kThreeFuses, {{kLowCkdiv8, kHighTiny, kExtSelfprgen}}, kPollReady};
constexpr Family kMega88{
    kThreeFuses, {{kLowCkdiv8, kHighTiny, "- - - - - BOOTSZ1 BOOTSZ0 BOOTRST"}}, kPollReady};
// ATmega328/328P (8271H "Fuse Bits"); the 328PB adds clock failure
// detection (DS40001906C Tables 32-5 to 32-7).
constexpr const char* kHigh328 = "RSTDISBL DWEN SPIEN WDTON EESAVE BOOTSZ1 BOOTSZ0 BOOTRST";
constexpr Family kMega328{
    kThreeFuses, {{kLowCkdiv8, kHigh328, kExtBodlevel}, {}, &g_mega328FuseFields}, kPollReady};
constexpr Family kMega328PB{kThreeFuses, {{kLowCkdiv8, kHigh328, kExtCfd}}, kPollReady};
// ATmega164A/PA/324A/PA/644A/PA/1284/P (8272E Tables 27-4, 27-5),
// ATmega640/1280/1281/2560/2561 (2549O Table 30-3, with their clock,
// brown-out and boot tables); the 324PB with clock failure detection (its
// datasheet, 31.2).
constexpr Family kMegaJtag{kThreeFuses, {{kLowCkdiv8, kHighJtag, kExtBodlevel}}, kPollReady};
constexpr Family kMega2560{
    kThreeFuses, {{kLowCkdiv8, kHighJtag, kExtBodlevel}, {}, &g_mega2560FuseFields}, kPollReady};
constexpr Family kMega324PB{kThreeFuses, {{kLowCkdiv8, kHighJtag, kExtCfd}}, kPollReady};
// ATmega64/64A/128/128A (2490R, 8160C Tables 27-4, 27-5, 2467S Tables 118,
// 119): no Poll RDY/BSY; a cell being written reads 0xFF.
constexpr Family kMega64{kThreeFuses,
                         {{kLowBoden, "OCDEN JTAGEN SPIEN CKOPT EESAVE BOOTSZ1 BOOTSZ0 BOOTRST",
                           "- - - - - - M103C WDTON"}},
                         kDataPolling};
// AT90CAN32/64/128 (7679H): data polling, as its programming algorithm
// describes it.
constexpr Family kCan{kThreeFuses, {{kUnnamed, kUnnamed, kUnnamed}}, kDataPolling};
// ATmega8515 (2512G Table 93, "Data Polling") and ATmega8535.
constexpr Family kMega8515{kTwoFuses, {{kUnnamed, kUnnamed, nullptr}}, kDataPolling};
// ATmega162 (2513G Table 111).
constexpr Family kMega162{kThreeFuses, {{kUnnamed, kUnnamed, kUnnamed}}, kPollReady};
// ATmega163 (1142, Table 60): SPIEN in the low byte, whose bits 5 and 4,
// like bits 7 to 3 of the high byte, are sent as 1 when written; no Poll
// RDY/BSY.
constexpr Family kMega163{kTwoFuses,
                          {{"BODLEVEL BODEN SPIEN - CKSEL3 CKSEL2 CKSEL1 CKSEL0",
                            "- - - - - BOOTSZ1 BOOTSZ0 BOOTRST", nullptr},
                           {0x30, 0xF8, 0x00}},
                          kDataPolling};
// The LCD megas and their kin (8284, 8285E Tables 27-4, 27-5); the
// ATmega325/3250/645/6450 keep RSTDISBL in the extended byte (2570N Table
// 27-3), which is not at hand for the others.
constexpr Family kLcd{kThreeFuses, {{kLowCkdiv8, kHighJtag, kUnnamed}}, kPollReady};
constexpr Family kLcd2570{
    kThreeFuses, {{kLowCkdiv8, kHighJtag, "- - - - - BODLEVEL1 BODLEVEL0 RSTDISBL"}}, kPollReady};
// USB parts (7766, 7593A, 7799D, 7707D Table "Extended Fuse Byte").
constexpr Family kUsb{kThreeFuses, {{kUnnamed, kUnnamed, kExtHwbe}}, kPollReady};
// ATtiny13/13A (2535J, 8126F Tables 17-3, 17-4).
constexpr Family kTiny13{kTwoFuses,
                         {{"SPIEN EESAVE WDTON CKDIV8 SUT1 SUT0 CKSEL1 CKSEL0",
                           "- - - SELFPRGEN DWEN BODLEVEL1 BODLEVEL0 RSTDISBL", nullptr},
                          {},
                          &g_tiny13FuseFields},
                         kPollReady};
// ATtiny25/45/85 (2586Q Tables 20-3 to 20-5), ATtiny24/44/84(A) (7701F,
// 8183F), ATtiny261/461/861(A) (8197C), ATtiny87/167 (7728G Tables 21-3 to
// 21-5).
constexpr Family kTinyX5{kThreeFuses, {{kLowCkdiv8, kHighTiny, kExtSelfprgen}}, kPollReady};
// The ATtiny25/45/85 with their clock, start-up and brown-out tables.
constexpr Family kTiny85{
    kThreeFuses, {{kLowCkdiv8, kHighTiny, kExtSelfprgen}, {}, &g_tinyX5FuseFields}, kPollReady};
// ATtiny2313 (2543L Tables 66-68), ATtiny2313A/4313 (8246B Tables 20-3
// to 20-5).
constexpr Family kTiny2313{
    kThreeFuses,
    {{kLowCkdiv8, "DWEN EESAVE SPIEN WDTON BODLEVEL2 BODLEVEL1 BODLEVEL0 RSTDISBL", kExtSelfprgen}},
    kPollReady};
// ATtiny48/88, 828, 441/841, 43U, 1634.
constexpr Family kTinyNew{kThreeFuses, {{kUnnamed, kUnnamed, kUnnamed}}, kPollReady};
// ATtiny26 (1477G Table 61): lock bits in bits 1 and 0 of the fourth byte,
// no Poll RDY/BSY in its instruction set.
constexpr Family kTiny26{kTwoFuses,
                         {{kUnnamed, kUnnamed, nullptr}},
                         kDataPolling,
                         kCalibration,
                         "1010 1100 111x xxxx xxxx xxxx 1111 11ba",
                         "0101 1000 0000 0000 xxxx xxxx xxxx xxba"};
// ATtiny12 (1006C Table 25): flash written byte by byte, lock bits as the
// older parts write and read them, one fuse byte, SPIEN writable; a cell
// being written reads 0xFF.
constexpr Family kTiny12{
    kLowFuse,
    {{"BODLEVEL BODEN SPIEN RSTDISBL CKSEL3 CKSEL2 CKSEL1 CKSEL0", nullptr, nullptr}},
    kDataPolling,
    kCalibration,
    kLockWriteByte2,
    kLockReadLow};
// AT90PWM2/3/2B/3B (4317J Table 25-4), AT90PWM216/316 (7710H, data
// polling).
constexpr const char* kExtPwm = "PSC2RB PSC1RB PSC0RB PSCRV - BOOTSZ1 BOOTSZ0 BOOTRST";
constexpr Family kPwm{kThreeFuses, {{kUnnamed, kUnnamed, kExtPwm}}, kPollReady};
constexpr Family kPwm216{kThreeFuses, {{kUnnamed, kUnnamed, kExtPwm}}, kDataPolling};
// ATmega32M1/64M1 (8209F), ATmega128RFA1 and the RFR2 parts (8266, 42073A).
constexpr Family kM1{kThreeFuses, {{kUnnamed, kUnnamed, kUnnamed}}, kPollReady};
constexpr Family kRf{kThreeFuses, {{kUnnamed, kUnnamed, kUnnamed}}, kPollReady};

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

#define BRENWICK_TODAY(name, size, part, flash, eeprom, page, flashUs, eepromUs, fuseUs, eraseUs, \
                       family)                                                                    \
    {                                                                                             \
        kToday, part, flash, eeprom, name, kNoBusyValue, kNoBusyValue, kNoBusyValue, page,        \
            flashUs, eepromUs, fuseUs, eraseUs, kEcho, family.lockWrite, family.lockRead, kNone,  \
            size, family.busyFlag, family.fuses, &family.names,                                   \
            FuseBitNamed(&family.names, "RSTDISBL"), FuseBitNamed(&family.names, "DWEN"),         \
            FuseBitNamed(&family.names, "SPIEN"), LowFuseBitsNamed(&family.names, "CKSEL"),       \
            family.calibration                                                                    \
    }
    // name, signature bytes 1 and 2, flash and EEPROM bytes, flash page bytes
    // (0: written byte by byte), longest page write, EEPROM byte write, fuse
    // or lock write and chip erase (us: tWD_FLASH, tWD_EEPROM, tWD_FUSE,
    // tWD_ERASE of the datasheets; where parts share an entry, the longest),
    // family.
    BRENWICK_TODAY("ATmega16/16A", 0x94, 0x03, 16384, 512, 128, 4500, 9000, 4500, 9000, kMega16),
    BRENWICK_TODAY("ATmega328P", 0x95, 0x0F, 32768, 1024, 128, 4500, 3600, 4500, 9000, kMega328),
    BRENWICK_TODAY("ATmega644P/644PA", 0x96, 0x0A, 65536, 2048, 256, 4500, 9000, 4500, 9000,
                   kMegaJtag),
    BRENWICK_TODAY("ATmega1284P", 0x97, 0x05, 131072, 4096, 256, 4500, 3600, 4500, 9000, kMegaJtag),
    BRENWICK_TODAY("ATmega2560", 0x98, 0x01, 262144, 4096, 256, 4500, 9000, 4500, 9000, kMega2560),
    BRENWICK_TODAY("ATtiny13/13A", 0x90, 0x07, 1024, 64, 32, 4500, 4000, 4500, 9000, kTiny13),
    BRENWICK_TODAY("ATtiny25", 0x91, 0x08, 2048, 128, 32, 4500, 4000, 4500, 9000, kTiny85),
    BRENWICK_TODAY("ATtiny45", 0x92, 0x06, 4096, 256, 64, 4500, 4000, 4500, 9000, kTiny85),
    BRENWICK_TODAY("ATtiny85", 0x93, 0x0B, 8192, 512, 64, 4500, 4000, 4500, 9000, kTiny85),
    BRENWICK_TODAY("ATtiny24/24A", 0x91, 0x0B, 2048, 128, 32, 4500, 4000, 4500, 9000, kTinyX5),
    BRENWICK_TODAY("ATtiny44/44A", 0x92, 0x07, 4096, 256, 64, 4500, 4000, 4500, 9000, kTinyX5),
    BRENWICK_TODAY("ATtiny84/84A", 0x93, 0x0C, 8192, 512, 64, 4500, 4000, 4500, 9000, kTinyX5),
    BRENWICK_TODAY("ATtiny2313/2313A", 0x91, 0x0A, 2048, 128, 32, 4500, 4000, 4500, 9000,
                   kTiny2313),
    BRENWICK_TODAY("ATtiny4313", 0x92, 0x0D, 4096, 256, 64, 4500, 4500, 4500, 9000, kTiny2313),
    BRENWICK_TODAY("ATmega8/8A", 0x93, 0x07, 8192, 512, 64, 4500, 9000, 4500, 9000, kMega8),
    BRENWICK_TODAY("ATmega32/32A", 0x95, 0x02, 32768, 1024, 128, 4500, 9000, 4500, 9000, kMega32),
    BRENWICK_TODAY("ATmega48/48A", 0x92, 0x05, 4096, 256, 64, 4500, 3600, 4500, 9000, kMega48),
    BRENWICK_TODAY("ATmega48P/48PA", 0x92, 0x0A, 4096, 256, 64, 4500, 3600, 4500, 10500, kMega48),
    BRENWICK_TODAY("ATmega48PB", 0x92, 0x10, 4096, 256, 64, 4500, 3600, 4500, 10500, kMega48),
    BRENWICK_TODAY("ATmega88/88A", 0x93, 0x0A, 8192, 512, 64, 4500, 3600, 4500, 9000, kMega88),
    BRENWICK_TODAY("ATmega88P/88PA", 0x93, 0x0F, 8192, 512, 64, 4500, 3600, 4500, 10500, kMega88),
    BRENWICK_TODAY("ATmega88PB", 0x93, 0x16, 8192, 512, 64, 4500, 3600, 4500, 10500, kMega88),
    BRENWICK_TODAY("ATmega168/168A", 0x94, 0x06, 16384, 512, 128, 4500, 3600, 4500, 9000, kMega88),
    BRENWICK_TODAY("ATmega168P/168PA", 0x94, 0x0B, 16384, 512, 128, 4500, 3600, 4500, 10500,
                   kMega88),
    BRENWICK_TODAY("ATmega168PB", 0x94, 0x15, 16384, 512, 128, 4500, 3600, 4500, 10500, kMega88),
    BRENWICK_TODAY("ATmega328", 0x95, 0x14, 32768, 1024, 128, 4500, 3600, 4500, 9000, kMega328),
    BRENWICK_TODAY("ATmega328PB", 0x95, 0x16, 32768, 1024, 128, 4500, 3600, 4500, 10500,
                   kMega328PB),
    BRENWICK_TODAY("ATmega164A", 0x94, 0x0F, 16384, 512, 128, 4500, 3600, 4500, 9000, kMegaJtag),
    BRENWICK_TODAY("ATmega164P/164PA", 0x94, 0x0A, 16384, 512, 128, 4500, 9000, 4500, 9000,
                   kMegaJtag),
    BRENWICK_TODAY("ATmega324A", 0x95, 0x15, 32768, 1024, 128, 4500, 3600, 4500, 9000, kMegaJtag),
    BRENWICK_TODAY("ATmega324P", 0x95, 0x08, 32768, 1024, 128, 4500, 9000, 4500, 9000, kMegaJtag),
    BRENWICK_TODAY("ATmega324PA", 0x95, 0x11, 32768, 1024, 128, 4500, 3600, 4500, 9000, kMegaJtag),
    BRENWICK_TODAY("ATmega324PB", 0x95, 0x17, 32768, 1024, 128, 4500, 3600, 4500, 10500,
                   kMega324PB),
    BRENWICK_TODAY("ATmega644/644A", 0x96, 0x09, 65536, 2048, 256, 4500, 9000, 4500, 9000,
                   kMegaJtag),
    BRENWICK_TODAY("ATmega1284", 0x97, 0x06, 131072, 4096, 256, 4500, 3600, 4500, 9000, kMegaJtag),
    BRENWICK_TODAY("ATmega640", 0x96, 0x08, 65536, 4096, 256, 4500, 9000, 4500, 9000, kMega2560),
    BRENWICK_TODAY("ATmega1280", 0x97, 0x03, 131072, 4096, 256, 4500, 9000, 4500, 9000, kMega2560),
    BRENWICK_TODAY("ATmega1281", 0x97, 0x04, 131072, 4096, 256, 4500, 9000, 4500, 9000, kMega2560),
    BRENWICK_TODAY("ATmega2561", 0x98, 0x02, 262144, 4096, 256, 4500, 9000, 4500, 9000, kMega2560),
    BRENWICK_TODAY("ATmega64/64A", 0x96, 0x02, 65536, 2048, 256, 4500, 9000, 4500, 9000, kMega64),
    BRENWICK_TODAY("ATmega128/128A", 0x97, 0x02, 131072, 4096, 256, 5000, 10000, 4500, 10000,
                   kMega64),
    BRENWICK_TODAY("AT90CAN32", 0x95, 0x81, 32768, 1024, 256, 4500, 9000, 4500, 9000, kCan),
    BRENWICK_TODAY("AT90CAN64", 0x96, 0x81, 65536, 2048, 256, 4500, 9000, 4500, 9000, kCan),
    BRENWICK_TODAY("AT90CAN128", 0x97, 0x81, 131072, 4096, 256, 4500, 9000, 4500, 9000, kCan),
    BRENWICK_TODAY("ATmega8515", 0x93, 0x06, 8192, 512, 64, 4500, 9000, 4500, 9000, kMega8515),
    BRENWICK_TODAY("ATmega8535", 0x93, 0x08, 8192, 512, 64, 4500, 9000, 4500, 9000, kMega8515),
    BRENWICK_TODAY("ATmega162", 0x94, 0x04, 16384, 512, 128, 4500, 9000, 4500, 9000, kMega162),
    BRENWICK_TODAY("ATmega163", 0x94, 0x02, 16384, 512, 128, 16000, 4000, 2000, 32000, kMega163),
    BRENWICK_TODAY("ATmega169/169P/169PA", 0x94, 0x05, 16384, 512, 128, 4500, 9000, 4500, 9000,
                   kLcd),
    BRENWICK_TODAY("ATmega169A", 0x94, 0x11, 16384, 512, 128, 4500, 9000, 4500, 9000, kLcd),
    BRENWICK_TODAY("ATmega329/329A", 0x95, 0x03, 32768, 1024, 128, 4500, 9000, 4500, 9000, kLcd),
    BRENWICK_TODAY("ATmega329P/329PA", 0x95, 0x0B, 32768, 1024, 128, 4500, 9000, 4500, 9000, kLcd),
    BRENWICK_TODAY("ATmega3290/3290A", 0x95, 0x04, 32768, 1024, 128, 4500, 9000, 4500, 9000, kLcd),
    BRENWICK_TODAY("ATmega3290P/3290PA", 0x95, 0x0C, 32768, 1024, 128, 4500, 9000, 4500, 9000,
                   kLcd),
    BRENWICK_TODAY("ATmega649/649A", 0x96, 0x03, 65536, 2048, 256, 4500, 9000, 4500, 9000, kLcd),
    BRENWICK_TODAY("ATmega649P", 0x96, 0x0B, 65536, 2048, 256, 4500, 9000, 4500, 9000, kLcd),
    BRENWICK_TODAY("ATmega6490/6490A", 0x96, 0x04, 65536, 2048, 256, 4500, 9000, 4500, 9000, kLcd),
    BRENWICK_TODAY("ATmega6490P", 0x96, 0x0C, 65536, 2048, 256, 4500, 9000, 4500, 9000, kLcd),
    BRENWICK_TODAY("ATmega165/165A", 0x94, 0x10, 16384, 512, 128, 4500, 3600, 4500, 9000, kLcd),
    BRENWICK_TODAY("ATmega165P/165PA", 0x94, 0x07, 16384, 512, 128, 4500, 3600, 4500, 9000, kLcd),
    BRENWICK_TODAY("ATmega325/325A", 0x95, 0x05, 32768, 1024, 128, 4500, 9000, 4500, 9000,
                   kLcd2570),
    BRENWICK_TODAY("ATmega325P/325PA", 0x95, 0x0D, 32768, 1024, 128, 4500, 9000, 4500, 9000, kLcd),
    BRENWICK_TODAY("ATmega3250/3250A", 0x95, 0x06, 32768, 1024, 128, 4500, 9000, 4500, 9000,
                   kLcd2570),
    BRENWICK_TODAY("ATmega3250P/3250PA", 0x95, 0x0E, 32768, 1024, 128, 4500, 9000, 4500, 9000,
                   kLcd),
    BRENWICK_TODAY("ATmega645/645A", 0x96, 0x05, 65536, 2048, 256, 4500, 9000, 4500, 9000,
                   kLcd2570),
    BRENWICK_TODAY("ATmega645P", 0x96, 0x0D, 65536, 2048, 256, 4500, 3600, 4500, 9000, kLcd),
    BRENWICK_TODAY("ATmega6450/6450A", 0x96, 0x06, 65536, 2048, 256, 4500, 9000, 4500, 9000,
                   kLcd2570),
    BRENWICK_TODAY("ATmega6450P", 0x96, 0x0E, 65536, 2048, 256, 4500, 3600, 4500, 9000, kLcd),
    BRENWICK_TODAY("ATmega16U4", 0x94, 0x88, 16384, 512, 128, 4500, 9000, 4500, 9000, kUsb),
    BRENWICK_TODAY("ATmega32U4", 0x95, 0x87, 32768, 1024, 128, 4500, 9000, 4500, 9000, kUsb),
    BRENWICK_TODAY("AT90USB646/AT90USB647", 0x96, 0x82, 65536, 2048, 256, 4500, 9000, 4500, 9000,
                   kUsb),
    BRENWICK_TODAY("AT90USB1286/AT90USB1287", 0x97, 0x82, 131072, 4096, 256, 4500, 9000, 4500, 9000,
                   kUsb),
    BRENWICK_TODAY("ATmega8U2", 0x93, 0x89, 8192, 512, 64, 4500, 9000, 4500, 9000, kUsb),
    BRENWICK_TODAY("ATmega16U2", 0x94, 0x89, 16384, 512, 128, 4500, 9000, 4500, 9000, kUsb),
    BRENWICK_TODAY("ATmega32U2", 0x95, 0x8A, 32768, 1024, 128, 4500, 9000, 4500, 9000, kUsb),
    BRENWICK_TODAY("AT90USB82", 0x93, 0x82, 8192, 512, 128, 4500, 9000, 4500, 9000, kUsb),
    BRENWICK_TODAY("AT90USB162", 0x94, 0x82, 16384, 512, 128, 4500, 9000, 4500, 9000, kUsb),
    BRENWICK_TODAY("ATtiny261/261A", 0x91, 0x0C, 2048, 128, 32, 4500, 4000, 4500, 9000, kTinyX5),
    BRENWICK_TODAY("ATtiny461/461A", 0x92, 0x08, 4096, 256, 64, 4500, 4000, 4500, 9000, kTinyX5),
    BRENWICK_TODAY("ATtiny861/861A", 0x93, 0x0D, 8192, 512, 64, 4500, 4000, 4500, 9000, kTinyX5),
    BRENWICK_TODAY("ATtiny87", 0x93, 0x87, 8192, 512, 128, 4500, 4000, 4500, 4000, kTinyX5),
    BRENWICK_TODAY("ATtiny167", 0x94, 0x87, 16384, 512, 128, 4500, 4000, 4500, 4000, kTinyX5),
    BRENWICK_TODAY("ATtiny48", 0x92, 0x09, 4096, 64, 64, 4500, 3600, 4500, 15000, kTinyNew),
    BRENWICK_TODAY("ATtiny88", 0x93, 0x11, 8192, 64, 64, 4500, 3600, 4500, 9000, kTinyNew),
    BRENWICK_TODAY("ATtiny828/828R", 0x93, 0x14, 8192, 256, 64, 4500, 3600, 4500, 15000, kTinyNew),
    BRENWICK_TODAY("ATtiny441", 0x92, 0x15, 4096, 256, 16, 4500, 4500, 4500, 4500, kTinyNew),
    BRENWICK_TODAY("ATtiny841", 0x93, 0x15, 8192, 512, 16, 4500, 4500, 4500, 4500, kTinyNew),
    BRENWICK_TODAY("ATtiny43U", 0x92, 0x0C, 4096, 64, 64, 4500, 4000, 4500, 4000, kTinyNew),
    BRENWICK_TODAY("ATtiny1634/1634R", 0x94, 0x12, 16384, 256, 32, 4500, 3600, 4500, 9000,
                   kTinyNew),
    BRENWICK_TODAY("ATtiny26", 0x91, 0x09, 2048, 128, 32, 4500, 9000, 4500, 9000, kTiny26),
    BRENWICK_TODAY("ATtiny12", 0x90, 0x05, 1024, 64, 0, 20000, 20000, 20000, 20000, kTiny12),
    BRENWICK_TODAY("AT90PWM2/AT90PWM3", 0x93, 0x81, 8192, 512, 64, 4500, 4500, 4500, 9000, kPwm),
    BRENWICK_TODAY("AT90PWM2B/AT90PWM3B", 0x93, 0x83, 8192, 512, 64, 4500, 4500, 4500, 9000, kPwm),
    BRENWICK_TODAY("AT90PWM216/AT90PWM316", 0x94, 0x83, 16384, 512, 128, 4500, 4500, 4500, 9000,
                   kPwm216),
    BRENWICK_TODAY("ATmega32M1", 0x95, 0x84, 32768, 1024, 128, 4500, 3600, 4500, 10500, kM1),
    BRENWICK_TODAY("ATmega64M1", 0x96, 0x84, 65536, 2048, 256, 4500, 3600, 4500, 10500, kM1),
    BRENWICK_TODAY("ATmega128RFA1", 0xA7, 0x01, 131072, 4096, 256, 50000, 13000, 4500, 55000, kRf),
    BRENWICK_TODAY("ATmega256RFR2", 0xA8, 0x02, 262144, 8192, 256, 4500, 13000, 4500, 18500, kRf),
    BRENWICK_TODAY("ATmega128RFR2", 0xA7, 0x02, 131072, 4096, 256, 50000, 13000, 4500, 55000, kRf),
    BRENWICK_TODAY("ATmega64RFR2", 0xA6, 0x02, 65536, 2048, 256, 50000, 13000, 4500, 55000, kRf),
    BRENWICK_TODAY("ATmega2564RFR2", 0xA8, 0x03, 262144, 8192, 256, 4500, 13000, 4500, 18500, kRf),
    BRENWICK_TODAY("ATmega1284RFR2", 0xA7, 0x03, 131072, 4096, 256, 4500, 13000, 4500, 18500, kRf),
    BRENWICK_TODAY("ATmega644RFR2", 0xA6, 0x03, 65536, 2048, 256, 4500, 13000, 4500, 18500, kRf),
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
    // A part's own entry comes before one that only names it as a variant
    // ("ATtiny12" is a part of its own, and the last of "ATtiny10/11/12").
    for (int index = 0; index < kDeviceCount; ++index) {
        const std::string rowName = g_deviceTable[index].name;
        if (EqualNoCase(rowName, name) || EqualNoCase(rowName.substr(0, rowName.find('/')), name)) {
            return index;
        }
    }
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
