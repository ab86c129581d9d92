#include "parts/DeviceTable.h"

#include <algorithm>
#include <cctype>
#include <iterator>

#include "base/NameText.h"
#include "parts/FuseFields.h"
#include "parts/PartIds.h"
#include "parts/UpdiParts.h"
#include "parts/UpdiRows.h"

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
constexpr size_t kMaxNumberDigits = 9;  // keeps every device number inside int

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
    const char* fstrtWrite = kNone;
    EntryRule entry = kEcho;
};

// What a cell being written reads: an EEPROM cell the first, then the
// second data value; a flash cell the program value.
struct BusyValues {
    uint8_t data1;
    uint8_t data2;
    uint8_t prog;
};
constexpr BusyValues kBusy00FF{0x00, 0xFF, 0xFF};
constexpr BusyValues kBusy807F{0x80, 0x7F, 0x7F};
constexpr BusyValues kBusy807FFF{0x80, 0x7F, 0xFF};
constexpr BusyValues kBusyFF{0xFF, 0xFF, 0xFF};
constexpr BusyValues kNoBusy{kNoBusyValue, kNoBusyValue, kNoBusyValue};
constexpr uint8_t kSizeFromFlash = 0;  // second signature byte: the size code

// The parts of the Device menu, which predate fuse bytes and Poll RDY/BSY:
// their lock instructions, FSTRT where they have it, and how they enter
// programming mode.
constexpr uint8_t kNoFuseBytes = 0;
constexpr FuseLayout kNoFuseNames{{nullptr, nullptr, nullptr}};
constexpr bool kNoCalibration = false;
constexpr Family kS8535{kNoFuseBytes,    kNoFuseNames,       kDataPolling, kNoCalibration,
                        kLockWriteByte2, kLockReadHighFstrt, kFstrtWrite};
constexpr Family kS1200{kNoFuseBytes,    kNoFuseNames, kDataPolling, kNoCalibration,
                        kLockWriteByte2, kNone,        kNone,        EntryRule::SingleEnable};
constexpr Family kS8515{kNoFuseBytes,   kNoFuseNames,   kDataPolling,
                        kNoCalibration, kLockWrite8515, kNone};
constexpr Family kS2343{kNoFuseBytes,   kNoFuseNames,    kDataPolling,
                        kNoCalibration, kLockWriteByte2, kLockReadHigh};
constexpr Family kS10{kNoFuseBytes,   kNoFuseNames,    kDataPolling,
                      kNoCalibration, kLockWriteByte2, kNone};
constexpr Family kS4433{kNoFuseBytes,   kNoFuseNames,    kDataPolling,
                        kNoCalibration, kLockWriteByte2, kLockReadLow};
constexpr Family kS161{kNoFuseBytes,   kNoFuseNames,    kDataPolling,
                       kNoCalibration, kLockWriteByte4, kLockReadByte};

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

// The search order of selection and identification: the fifteen parts of
// the Device menu first, in the menu's order. The ATtiny10/11/12 row carries
// 0x159, wider than a byte: the signature check of programming-mode entry,
// which compares the whole value, never accepts it, while identification,
// which compares the low eight bits, can.
//
// Sizes, busy values, write and erase times, page sizes and instruction
// layouts are those of each part's datasheet.
//
// Every row: name, device number (kToday for the parts selected and stored
// by name), signature bytes 1 and 2 (byte 1 kSizeFromFlash where the
// program size gives it), flash and EEPROM bytes, flash page bytes (0:
// written byte by byte), longest flash byte or page write, EEPROM byte
// write, fuse or lock write and chip erase (us: tWD_FLASH, tWD_EEPROM,
// tWD_FUSE, tWD_ERASE of the datasheets; where parts share an entry, the
// longest), what a cell being written reads, family.
#define BRENWICK_PART(name, number, size, part, flash, eeprom, page, flashUs, eepromUs, fuseUs, \
                      eraseUs, busy, family)                                                    \
    {                                                                                           \
        number, part, flash, eeprom, name, busy.data1, busy.data2, busy.prog, page, flashUs,    \
            eepromUs, fuseUs, eraseUs, family.entry, family.lockWrite, family.lockRead,         \
            family.fstrtWrite, size, family.busyFlag, family.fuses, &family.names,              \
            FuseBitNamed(&family.names, "RSTDISBL"), FuseBitNamed(&family.names, "DWEN"),       \
            FuseBitNamed(&family.names, "SPIEN"), LowFuseBitsNamed(&family.names, "CKSEL"),     \
            family.calibration                                                                  \
    }
// A UPDI part's row, from its UPDI description: sizes and page from its
// memories, signature bytes 1 and 2, no device number (selected and stored by
// name). Its fuses are reached through the UPDI description, not the three
// ISP fuse bytes, and nothing in it is an ISP instruction.
constexpr DeviceInfo UpdiRow(const SUpdiPart& part) {
    DeviceInfo row{};
    row.number = kNoDeviceNumber;
    row.signature = part.signature[2];
    row.sizeCode = part.signature[1];
    row.progSize = static_cast<int32_t>(part.flashBytes);
    row.dataSize = static_cast<int32_t>(part.eepromBytes);
    row.progPageSize = static_cast<int32_t>(part.flashPage);
    for (int i = 0; i + 1 < kDeviceNameLength && part.name[i] != '\0'; ++i) {
        row.name[i] = part.name[i];
    }
    row.pollData1 = row.pollData2 = row.pollProg = kNoBusyValue;
    row.entry = EntryRule::EchoSync;
    row.lockWrite = row.lockRead = row.fstrtWrite = kNone;
    row.protocol = Protocol::Updi;
    row.updiPart = &part;
    return row;
}

constexpr bool SameName(const char* a, const char* b) {
    for (; *a != '\0' && *a == *b; ++a, ++b) {
    }
    return *a == *b;
}

// The row of the UPDI part with that name; an empty row (no name, no UPDI
// part) for a name of none, which the device table's tests refuse.
constexpr DeviceInfo UpdiRowNamed(const char* name) {
    for (const SUpdiPart& part : updi_rows::kUpdiRows) {
        if (SameName(part.name, name)) {
            return UpdiRow(part);
        }
    }
    return DeviceInfo{};
}

const DeviceInfo g_deviceTable[] = {
    BRENWICK_PART("AT90S8535", 8535, kSizeFromFlash, 0x03, 8192, 512, 0, 20000, 20000, 20000, 20000,
                  kBusy00FF, kS8535),
    BRENWICK_PART("AT90S4434", 4434, kSizeFromFlash, 0x02, 4096, 256, 0, 20000, 20000, 20000, 20000,
                  kBusy00FF, kS8535),
    BRENWICK_PART("AT90S1200", 1200, kSizeFromFlash, 0x01, 1024, 64, 0, 9000, 9000, 9000, 20000,
                  kBusy00FF, kS1200),
    BRENWICK_PART("AT90S4414", 4414, kSizeFromFlash, 0x01, 4096, 256, 0, 20000, 20000, 20000, 20000,
                  kBusy807F, kS8515),
    BRENWICK_PART("AT90S8515", 8515, kSizeFromFlash, 0x01, 8192, 512, 0, 9000, 9000, 9000, 20000,
                  kBusy807F, kS8515),
    BRENWICK_PART("AT90S2313", 2313, kSizeFromFlash, 0x01, 2048, 128, 0, 9000, 9000, 9000, 20000,
                  kBusy807F, kS8515),
    BRENWICK_PART("AT90S2323", 2323, kSizeFromFlash, 0x02, 2048, 128, 0, 20000, 20000, 20000, 20000,
                  kBusy00FF, kS8535),
    BRENWICK_PART("AT90S2343", 2343, kSizeFromFlash, 0x03, 2048, 128, 0, 20000, 20000, 20000, 18000,
                  kBusy00FF, kS2343),
    // Not one part but three, which the signature check never accepts.
    BRENWICK_PART("ATtiny10/11/12", 10, kSizeFromFlash, 0x159, 1024, 64, 0, 20000, 20000, 20000,
                  20000, kBusyFF, kS10),
    BRENWICK_PART("AT90S4433", 4433, kSizeFromFlash, 0x03, 4096, 256, 0, 20000, 20000, 20000, 20000,
                  kBusy00FF, kS4433),
    BRENWICK_PART("AT90S2333", 2333, kSizeFromFlash, 0x05, 2048, 128, 0, 20000, 20000, 20000, 20000,
                  kBusy00FF, kS4433),
    BRENWICK_PART("ATtiny15", 15, kSizeFromFlash, 0x06, 1024, 64, 0, 4100, 8200, 8200, 8200,
                  kBusyFF, kS4433),
    BRENWICK_PART("ATtiny22", 22, kSizeFromFlash, 0x06, 2048, 128, 0, 20000, 20000, 20000, 20000,
                  kBusy00FF, kS2343),
    BRENWICK_PART("ATmega103", 103, kSizeFromFlash, 0x01, 131072, 4096, 256, 56000, 9000, 9000,
                  112000, kBusy807FFF, kS4433),
    BRENWICK_PART("ATmega161", 161, kSizeFromFlash, 0x01, 16384, 512, 128, 14000, 3400, 3400, 28000,
                  kBusyFF, kS161),

    BRENWICK_PART("ATmega16/16A", kToday, 0x94, 0x03, 16384, 512, 128, 4500, 9000, 4500, 9000,
                  kNoBusy, kMega16),
    BRENWICK_PART("ATmega328P", kToday, 0x95, 0x0F, 32768, 1024, 128, 4500, 3600, 4500, 9000,
                  kNoBusy, kMega328),
    BRENWICK_PART("ATmega644P/644PA", kToday, 0x96, 0x0A, 65536, 2048, 256, 4500, 9000, 4500, 9000,
                  kNoBusy, kMegaJtag),
    BRENWICK_PART("ATmega1284P", kToday, 0x97, 0x05, 131072, 4096, 256, 4500, 3600, 4500, 9000,
                  kNoBusy, kMegaJtag),
    BRENWICK_PART("ATmega2560", kToday, 0x98, 0x01, 262144, 4096, 256, 4500, 9000, 4500, 9000,
                  kNoBusy, kMega2560),
    BRENWICK_PART("ATtiny13/13A", kToday, 0x90, 0x07, 1024, 64, 32, 4500, 4000, 4500, 9000, kNoBusy,
                  kTiny13),
    BRENWICK_PART("ATtiny25", kToday, 0x91, 0x08, 2048, 128, 32, 4500, 4000, 4500, 9000, kNoBusy,
                  kTiny85),
    BRENWICK_PART("ATtiny45", kToday, 0x92, 0x06, 4096, 256, 64, 4500, 4000, 4500, 9000, kNoBusy,
                  kTiny85),
    BRENWICK_PART("ATtiny85", kToday, 0x93, 0x0B, 8192, 512, 64, 4500, 4000, 4500, 9000, kNoBusy,
                  kTiny85),
    BRENWICK_PART("ATtiny24/24A", kToday, 0x91, 0x0B, 2048, 128, 32, 4500, 4000, 4500, 9000,
                  kNoBusy, kTinyX5),
    BRENWICK_PART("ATtiny44/44A", kToday, 0x92, 0x07, 4096, 256, 64, 4500, 4000, 4500, 9000,
                  kNoBusy, kTinyX5),
    BRENWICK_PART("ATtiny84/84A", kToday, 0x93, 0x0C, 8192, 512, 64, 4500, 4000, 4500, 9000,
                  kNoBusy, kTinyX5),
    BRENWICK_PART("ATtiny2313/2313A", kToday, 0x91, 0x0A, 2048, 128, 32, 4500, 4000, 4500, 9000,
                  kNoBusy, kTiny2313),
    BRENWICK_PART("ATtiny4313", kToday, 0x92, 0x0D, 4096, 256, 64, 4500, 4500, 4500, 9000, kNoBusy,
                  kTiny2313),
    BRENWICK_PART("ATmega8/8A", kToday, 0x93, 0x07, 8192, 512, 64, 4500, 9000, 4500, 9000, kNoBusy,
                  kMega8),
    BRENWICK_PART("ATmega32/32A", kToday, 0x95, 0x02, 32768, 1024, 128, 4500, 9000, 4500, 9000,
                  kNoBusy, kMega32),
    BRENWICK_PART("ATmega48/48A", kToday, 0x92, 0x05, 4096, 256, 64, 4500, 3600, 4500, 9000,
                  kNoBusy, kMega48),
    BRENWICK_PART("ATmega48P/48PA", kToday, 0x92, 0x0A, 4096, 256, 64, 4500, 3600, 4500, 10500,
                  kNoBusy, kMega48),
    BRENWICK_PART("ATmega48PB", kToday, 0x92, 0x10, 4096, 256, 64, 4500, 3600, 4500, 10500, kNoBusy,
                  kMega48),
    BRENWICK_PART("ATmega88/88A", kToday, 0x93, 0x0A, 8192, 512, 64, 4500, 3600, 4500, 9000,
                  kNoBusy, kMega88),
    BRENWICK_PART("ATmega88P/88PA", kToday, 0x93, 0x0F, 8192, 512, 64, 4500, 3600, 4500, 10500,
                  kNoBusy, kMega88),
    BRENWICK_PART("ATmega88PB", kToday, 0x93, 0x16, 8192, 512, 64, 4500, 3600, 4500, 10500, kNoBusy,
                  kMega88),
    BRENWICK_PART("ATmega168/168A", kToday, 0x94, 0x06, 16384, 512, 128, 4500, 3600, 4500, 9000,
                  kNoBusy, kMega88),
    BRENWICK_PART("ATmega168P/168PA", kToday, 0x94, 0x0B, 16384, 512, 128, 4500, 3600, 4500, 10500,
                  kNoBusy, kMega88),
    BRENWICK_PART("ATmega168PB", kToday, 0x94, 0x15, 16384, 512, 128, 4500, 3600, 4500, 10500,
                  kNoBusy, kMega88),
    BRENWICK_PART("ATmega328", kToday, 0x95, 0x14, 32768, 1024, 128, 4500, 3600, 4500, 9000,
                  kNoBusy, kMega328),
    BRENWICK_PART("ATmega328PB", kToday, 0x95, 0x16, 32768, 1024, 128, 4500, 3600, 4500, 10500,
                  kNoBusy, kMega328PB),
    BRENWICK_PART("ATmega164A", kToday, 0x94, 0x0F, 16384, 512, 128, 4500, 3600, 4500, 9000,
                  kNoBusy, kMegaJtag),
    BRENWICK_PART("ATmega164P/164PA", kToday, 0x94, 0x0A, 16384, 512, 128, 4500, 9000, 4500, 9000,
                  kNoBusy, kMegaJtag),
    BRENWICK_PART("ATmega324A", kToday, 0x95, 0x15, 32768, 1024, 128, 4500, 3600, 4500, 9000,
                  kNoBusy, kMegaJtag),
    BRENWICK_PART("ATmega324P", kToday, 0x95, 0x08, 32768, 1024, 128, 4500, 9000, 4500, 9000,
                  kNoBusy, kMegaJtag),
    BRENWICK_PART("ATmega324PA", kToday, 0x95, 0x11, 32768, 1024, 128, 4500, 3600, 4500, 9000,
                  kNoBusy, kMegaJtag),
    BRENWICK_PART("ATmega324PB", kToday, 0x95, 0x17, 32768, 1024, 128, 4500, 3600, 4500, 10500,
                  kNoBusy, kMega324PB),
    BRENWICK_PART("ATmega644/644A", kToday, 0x96, 0x09, 65536, 2048, 256, 4500, 9000, 4500, 9000,
                  kNoBusy, kMegaJtag),
    BRENWICK_PART("ATmega1284", kToday, 0x97, 0x06, 131072, 4096, 256, 4500, 3600, 4500, 9000,
                  kNoBusy, kMegaJtag),
    BRENWICK_PART("ATmega640", kToday, 0x96, 0x08, 65536, 4096, 256, 4500, 9000, 4500, 9000,
                  kNoBusy, kMega2560),
    BRENWICK_PART("ATmega1280", kToday, 0x97, 0x03, 131072, 4096, 256, 4500, 9000, 4500, 9000,
                  kNoBusy, kMega2560),
    BRENWICK_PART("ATmega1281", kToday, 0x97, 0x04, 131072, 4096, 256, 4500, 9000, 4500, 9000,
                  kNoBusy, kMega2560),
    BRENWICK_PART("ATmega2561", kToday, 0x98, 0x02, 262144, 4096, 256, 4500, 9000, 4500, 9000,
                  kNoBusy, kMega2560),
    BRENWICK_PART("ATmega64/64A", kToday, 0x96, 0x02, 65536, 2048, 256, 4500, 9000, 4500, 9000,
                  kNoBusy, kMega64),
    BRENWICK_PART("ATmega128/128A", kToday, 0x97, 0x02, 131072, 4096, 256, 5000, 10000, 4500, 10000,
                  kNoBusy, kMega64),
    BRENWICK_PART("AT90CAN32", kToday, 0x95, 0x81, 32768, 1024, 256, 4500, 9000, 4500, 9000,
                  kNoBusy, kCan),
    BRENWICK_PART("AT90CAN64", kToday, 0x96, 0x81, 65536, 2048, 256, 4500, 9000, 4500, 9000,
                  kNoBusy, kCan),
    BRENWICK_PART("AT90CAN128", kToday, 0x97, 0x81, 131072, 4096, 256, 4500, 9000, 4500, 9000,
                  kNoBusy, kCan),
    BRENWICK_PART("ATmega8515", kToday, 0x93, 0x06, 8192, 512, 64, 4500, 9000, 4500, 9000, kNoBusy,
                  kMega8515),
    BRENWICK_PART("ATmega8535", kToday, 0x93, 0x08, 8192, 512, 64, 4500, 9000, 4500, 9000, kNoBusy,
                  kMega8515),
    BRENWICK_PART("ATmega162", kToday, 0x94, 0x04, 16384, 512, 128, 4500, 9000, 4500, 9000, kNoBusy,
                  kMega162),
    BRENWICK_PART("ATmega163", kToday, 0x94, 0x02, 16384, 512, 128, 16000, 4000, 2000, 32000,
                  kNoBusy, kMega163),
    BRENWICK_PART("ATmega169/169P/169PA", kToday, 0x94, 0x05, 16384, 512, 128, 4500, 9000, 4500,
                  9000, kNoBusy, kLcd),
    BRENWICK_PART("ATmega169A", kToday, 0x94, 0x11, 16384, 512, 128, 4500, 9000, 4500, 9000,
                  kNoBusy, kLcd),
    BRENWICK_PART("ATmega329/329A", kToday, 0x95, 0x03, 32768, 1024, 128, 4500, 9000, 4500, 9000,
                  kNoBusy, kLcd),
    BRENWICK_PART("ATmega329P/329PA", kToday, 0x95, 0x0B, 32768, 1024, 128, 4500, 9000, 4500, 9000,
                  kNoBusy, kLcd),
    BRENWICK_PART("ATmega3290/3290A", kToday, 0x95, 0x04, 32768, 1024, 128, 4500, 9000, 4500, 9000,
                  kNoBusy, kLcd),
    BRENWICK_PART("ATmega3290P/3290PA", kToday, 0x95, 0x0C, 32768, 1024, 128, 4500, 9000, 4500,
                  9000, kNoBusy, kLcd),
    BRENWICK_PART("ATmega649/649A", kToday, 0x96, 0x03, 65536, 2048, 256, 4500, 9000, 4500, 9000,
                  kNoBusy, kLcd),
    BRENWICK_PART("ATmega649P", kToday, 0x96, 0x0B, 65536, 2048, 256, 4500, 9000, 4500, 9000,
                  kNoBusy, kLcd),
    BRENWICK_PART("ATmega6490/6490A", kToday, 0x96, 0x04, 65536, 2048, 256, 4500, 9000, 4500, 9000,
                  kNoBusy, kLcd),
    BRENWICK_PART("ATmega6490P", kToday, 0x96, 0x0C, 65536, 2048, 256, 4500, 9000, 4500, 9000,
                  kNoBusy, kLcd),
    BRENWICK_PART("ATmega165/165A", kToday, 0x94, 0x10, 16384, 512, 128, 4500, 3600, 4500, 9000,
                  kNoBusy, kLcd),
    BRENWICK_PART("ATmega165P/165PA", kToday, 0x94, 0x07, 16384, 512, 128, 4500, 3600, 4500, 9000,
                  kNoBusy, kLcd),
    BRENWICK_PART("ATmega325/325A", kToday, 0x95, 0x05, 32768, 1024, 128, 4500, 9000, 4500, 9000,
                  kNoBusy, kLcd2570),
    BRENWICK_PART("ATmega325P/325PA", kToday, 0x95, 0x0D, 32768, 1024, 128, 4500, 9000, 4500, 9000,
                  kNoBusy, kLcd),
    BRENWICK_PART("ATmega3250/3250A", kToday, 0x95, 0x06, 32768, 1024, 128, 4500, 9000, 4500, 9000,
                  kNoBusy, kLcd2570),
    BRENWICK_PART("ATmega3250P/3250PA", kToday, 0x95, 0x0E, 32768, 1024, 128, 4500, 9000, 4500,
                  9000, kNoBusy, kLcd),
    BRENWICK_PART("ATmega645/645A", kToday, 0x96, 0x05, 65536, 2048, 256, 4500, 9000, 4500, 9000,
                  kNoBusy, kLcd2570),
    BRENWICK_PART("ATmega645P", kToday, 0x96, 0x0D, 65536, 2048, 256, 4500, 3600, 4500, 9000,
                  kNoBusy, kLcd),
    BRENWICK_PART("ATmega6450/6450A", kToday, 0x96, 0x06, 65536, 2048, 256, 4500, 9000, 4500, 9000,
                  kNoBusy, kLcd2570),
    BRENWICK_PART("ATmega6450P", kToday, 0x96, 0x0E, 65536, 2048, 256, 4500, 3600, 4500, 9000,
                  kNoBusy, kLcd),
    BRENWICK_PART("ATmega16U4", kToday, 0x94, 0x88, 16384, 512, 128, 4500, 9000, 4500, 9000,
                  kNoBusy, kUsb),
    BRENWICK_PART("ATmega32U4", kToday, 0x95, 0x87, 32768, 1024, 128, 4500, 9000, 4500, 9000,
                  kNoBusy, kUsb),
    BRENWICK_PART("AT90USB646/AT90USB647", kToday, 0x96, 0x82, 65536, 2048, 256, 4500, 9000, 4500,
                  9000, kNoBusy, kUsb),
    BRENWICK_PART("AT90USB1286/AT90USB1287", kToday, 0x97, 0x82, 131072, 4096, 256, 4500, 9000,
                  4500, 9000, kNoBusy, kUsb),
    BRENWICK_PART("ATmega8U2", kToday, 0x93, 0x89, 8192, 512, 64, 4500, 9000, 4500, 9000, kNoBusy,
                  kUsb),
    BRENWICK_PART("ATmega16U2", kToday, 0x94, 0x89, 16384, 512, 128, 4500, 9000, 4500, 9000,
                  kNoBusy, kUsb),
    BRENWICK_PART("ATmega32U2", kToday, 0x95, 0x8A, 32768, 1024, 128, 4500, 9000, 4500, 9000,
                  kNoBusy, kUsb),
    BRENWICK_PART("AT90USB82", kToday, 0x93, 0x82, 8192, 512, 128, 4500, 9000, 4500, 9000, kNoBusy,
                  kUsb),
    BRENWICK_PART("AT90USB162", kToday, 0x94, 0x82, 16384, 512, 128, 4500, 9000, 4500, 9000,
                  kNoBusy, kUsb),
    BRENWICK_PART("ATtiny261/261A", kToday, 0x91, 0x0C, 2048, 128, 32, 4500, 4000, 4500, 9000,
                  kNoBusy, kTinyX5),
    BRENWICK_PART("ATtiny461/461A", kToday, 0x92, 0x08, 4096, 256, 64, 4500, 4000, 4500, 9000,
                  kNoBusy, kTinyX5),
    BRENWICK_PART("ATtiny861/861A", kToday, 0x93, 0x0D, 8192, 512, 64, 4500, 4000, 4500, 9000,
                  kNoBusy, kTinyX5),
    BRENWICK_PART("ATtiny87", kToday, 0x93, 0x87, 8192, 512, 128, 4500, 4000, 4500, 4000, kNoBusy,
                  kTinyX5),
    BRENWICK_PART("ATtiny167", kToday, 0x94, 0x87, 16384, 512, 128, 4500, 4000, 4500, 4000, kNoBusy,
                  kTinyX5),
    BRENWICK_PART("ATtiny48", kToday, 0x92, 0x09, 4096, 64, 64, 4500, 3600, 4500, 15000, kNoBusy,
                  kTinyNew),
    BRENWICK_PART("ATtiny88", kToday, 0x93, 0x11, 8192, 64, 64, 4500, 3600, 4500, 9000, kNoBusy,
                  kTinyNew),
    BRENWICK_PART("ATtiny828/828R", kToday, 0x93, 0x14, 8192, 256, 64, 4500, 3600, 4500, 15000,
                  kNoBusy, kTinyNew),
    BRENWICK_PART("ATtiny441", kToday, 0x92, 0x15, 4096, 256, 16, 4500, 4500, 4500, 4500, kNoBusy,
                  kTinyNew),
    BRENWICK_PART("ATtiny841", kToday, 0x93, 0x15, 8192, 512, 16, 4500, 4500, 4500, 4500, kNoBusy,
                  kTinyNew),
    BRENWICK_PART("ATtiny43U", kToday, 0x92, 0x0C, 4096, 64, 64, 4500, 4000, 4500, 4000, kNoBusy,
                  kTinyNew),
    BRENWICK_PART("ATtiny1634/1634R", kToday, 0x94, 0x12, 16384, 256, 32, 4500, 3600, 4500, 9000,
                  kNoBusy, kTinyNew),
    BRENWICK_PART("ATtiny26", kToday, 0x91, 0x09, 2048, 128, 32, 4500, 9000, 4500, 9000, kNoBusy,
                  kTiny26),
    BRENWICK_PART("ATtiny12", kToday, 0x90, 0x05, 1024, 64, 0, 20000, 20000, 20000, 20000, kNoBusy,
                  kTiny12),
    BRENWICK_PART("AT90PWM2/AT90PWM3", kToday, 0x93, 0x81, 8192, 512, 64, 4500, 4500, 4500, 9000,
                  kNoBusy, kPwm),
    BRENWICK_PART("AT90PWM2B/AT90PWM3B", kToday, 0x93, 0x83, 8192, 512, 64, 4500, 4500, 4500, 9000,
                  kNoBusy, kPwm),
    BRENWICK_PART("AT90PWM216/AT90PWM316", kToday, 0x94, 0x83, 16384, 512, 128, 4500, 4500, 4500,
                  9000, kNoBusy, kPwm216),
    BRENWICK_PART("ATmega32M1", kToday, 0x95, 0x84, 32768, 1024, 128, 4500, 3600, 4500, 10500,
                  kNoBusy, kM1),
    BRENWICK_PART("ATmega64M1", kToday, 0x96, 0x84, 65536, 2048, 256, 4500, 3600, 4500, 10500,
                  kNoBusy, kM1),
    BRENWICK_PART("ATmega128RFA1", kToday, 0xA7, 0x01, 131072, 4096, 256, 50000, 13000, 4500, 55000,
                  kNoBusy, kRf),
    BRENWICK_PART("ATmega256RFR2", kToday, 0xA8, 0x02, 262144, 8192, 256, 4500, 13000, 4500, 18500,
                  kNoBusy, kRf),
    BRENWICK_PART("ATmega128RFR2", kToday, 0xA7, 0x02, 131072, 4096, 256, 50000, 13000, 4500, 55000,
                  kNoBusy, kRf),
    BRENWICK_PART("ATmega64RFR2", kToday, 0xA6, 0x02, 65536, 2048, 256, 50000, 13000, 4500, 55000,
                  kNoBusy, kRf),
    BRENWICK_PART("ATmega2564RFR2", kToday, 0xA8, 0x03, 262144, 8192, 256, 4500, 13000, 4500, 18500,
                  kNoBusy, kRf),
    BRENWICK_PART("ATmega1284RFR2", kToday, 0xA7, 0x03, 131072, 4096, 256, 4500, 13000, 4500, 18500,
                  kNoBusy, kRf),
    BRENWICK_PART("ATmega644RFR2", kToday, 0xA6, 0x03, 65536, 2048, 256, 4500, 13000, 4500, 18500,
                  kNoBusy, kRf),
    // The UPDI parts, in the order of their UPDI description.
    UpdiRowNamed("ATtiny202"),
    UpdiRowNamed("ATtiny204"),
    UpdiRowNamed("ATtiny402"),
    UpdiRowNamed("ATtiny404"),
    UpdiRowNamed("ATtiny406"),
    UpdiRowNamed("ATtiny804"),
    UpdiRowNamed("ATtiny806"),
    UpdiRowNamed("ATtiny807"),
    UpdiRowNamed("ATtiny1604"),
    UpdiRowNamed("ATtiny1606"),
    UpdiRowNamed("ATtiny1607"),
    UpdiRowNamed("ATtiny212"),
    UpdiRowNamed("ATtiny214"),
    UpdiRowNamed("ATtiny412"),
    UpdiRowNamed("ATtiny414"),
    UpdiRowNamed("ATtiny416"),
    UpdiRowNamed("ATtiny417"),
    UpdiRowNamed("ATtiny814"),
    UpdiRowNamed("ATtiny816"),
    UpdiRowNamed("ATtiny817"),
    UpdiRowNamed("ATtiny1614"),
    UpdiRowNamed("ATtiny1616"),
    UpdiRowNamed("ATtiny1617"),
    UpdiRowNamed("ATtiny3216"),
    UpdiRowNamed("ATtiny3217"),
    UpdiRowNamed("ATtiny424"),
    UpdiRowNamed("ATtiny426"),
    UpdiRowNamed("ATtiny427"),
    UpdiRowNamed("ATtiny824"),
    UpdiRowNamed("ATtiny826"),
    UpdiRowNamed("ATtiny827"),
    UpdiRowNamed("ATtiny1624"),
    UpdiRowNamed("ATtiny1626"),
    UpdiRowNamed("ATtiny1627"),
    UpdiRowNamed("ATtiny3224"),
    UpdiRowNamed("ATtiny3226"),
    UpdiRowNamed("ATtiny3227"),
    UpdiRowNamed("ATmega808"),
    UpdiRowNamed("ATmega809"),
    UpdiRowNamed("ATmega1608"),
    UpdiRowNamed("ATmega1609"),
    UpdiRowNamed("ATmega3208"),
    UpdiRowNamed("ATmega3209"),
    UpdiRowNamed("ATmega4808"),
    UpdiRowNamed("ATmega4809"),
    UpdiRowNamed("AVR32DA28"),
    UpdiRowNamed("AVR32DA32"),
    UpdiRowNamed("AVR32DA48"),
    UpdiRowNamed("AVR64DA28"),
    UpdiRowNamed("AVR64DA32"),
    UpdiRowNamed("AVR64DA48"),
    UpdiRowNamed("AVR64DA64"),
    UpdiRowNamed("AVR128DA28"),
    UpdiRowNamed("AVR128DA32"),
    UpdiRowNamed("AVR128DA48"),
    UpdiRowNamed("AVR128DA64"),
    UpdiRowNamed("AVR32DB28"),
    UpdiRowNamed("AVR32DB32"),
    UpdiRowNamed("AVR32DB48"),
    UpdiRowNamed("AVR64DB28"),
    UpdiRowNamed("AVR64DB32"),
    UpdiRowNamed("AVR64DB48"),
    UpdiRowNamed("AVR64DB64"),
    UpdiRowNamed("AVR128DB28"),
    UpdiRowNamed("AVR128DB32"),
    UpdiRowNamed("AVR128DB48"),
    UpdiRowNamed("AVR128DB64"),
    UpdiRowNamed("AVR16DD14"),
    UpdiRowNamed("AVR16DD20"),
    UpdiRowNamed("AVR16DD28"),
    UpdiRowNamed("AVR16DD32"),
    UpdiRowNamed("AVR32DD14"),
    UpdiRowNamed("AVR32DD20"),
    UpdiRowNamed("AVR32DD28"),
    UpdiRowNamed("AVR32DD32"),
    UpdiRowNamed("AVR64DD14"),
    UpdiRowNamed("AVR64DD20"),
    UpdiRowNamed("AVR64DD28"),
    UpdiRowNamed("AVR64DD32"),
    UpdiRowNamed("AVR8EA28"),
    UpdiRowNamed("AVR8EA32"),
    UpdiRowNamed("AVR16EA28"),
    UpdiRowNamed("AVR16EA32"),
    UpdiRowNamed("AVR16EA48"),
    UpdiRowNamed("AVR32EA28"),
    UpdiRowNamed("AVR32EA32"),
    UpdiRowNamed("AVR32EA48"),
    UpdiRowNamed("AVR64EA28"),
    UpdiRowNamed("AVR64EA32"),
    UpdiRowNamed("AVR64EA48"),
#undef BRENWICK_PART
};
static_assert(std::size(updi_rows::kUpdiRows) == 90, "every UPDI part has its row above");

const int kDeviceCount = static_cast<int>(sizeof(g_deviceTable) / sizeof(g_deviceTable[0]));
const int kIspDeviceCount = kDeviceCount - static_cast<int>(std::size(updi_rows::kUpdiRows));

const DeviceInfo* FindDeviceByNumber(int32_t number) {
    if (number == kNoDeviceNumber) {
        return nullptr;
    }
    for (const DeviceInfo& row : DeviceRows()) {
        if (row.number == number) {
            return &row;
        }
    }
    return nullptr;
}

int FindDeviceByName(const std::string& name) {
    return FindPartEntry(
        kDeviceCount, [](int i) { return std::string(g_deviceTable[i].name); }, name);
}

int FindDevice(const std::string& text) {
    const bool digits = !text.empty() && text.size() <= kMaxNumberDigits &&
                        std::all_of(text.begin(), text.end(), [](char c) {
                            return std::isdigit(static_cast<unsigned char>(c)) != 0;
                        });
    if (digits) {
        const DeviceInfo* row = FindDeviceByNumber(std::stoi(text));
        if (row != nullptr) {
            return static_cast<int>(row - g_deviceTable);
        }
    } else {
        const int named = FindDeviceByName(text);
        if (named >= 0) {
            return named;
        }
    }
    // A toolchain id: a UPDI part's ("t1614") as its description gives it,
    // or an ISP part's ("m328p", "2313").
    if (const SUpdiPart* updi = CUpdiParts::ById(text)) {
        return FindDeviceByName(updi->name);
    }
    const PartId* id = FindPartId(text);
    return id != nullptr ? FindDeviceByName(id->name) : -1;
}

// Read Fuse Bits, Read Fuse High Bits, Read Extended Fuse Bits and the
// matching writes, as every part of today's instruction set prints them.
const FuseByteInfo g_fuseBytes[kFuseByteCount] = {
    {"lfuse", "Low fuse (lfuse)", kLowFuse, 0x50000000, 0xACA00000},
    {"hfuse", "High fuse (hfuse)", kHighFuse, 0x58080000, 0xACA80000},
    {"efuse", "Extended fuse (efuse)", kExtendedFuse, 0x50080000, 0xACA40000},
};

int FindFuseByte(const std::string& name) {
    for (int i = 0; i < kFuseByteCount; ++i) {
        if (EqualNoCase(name, g_fuseBytes[i].name)) {
            return i;
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
