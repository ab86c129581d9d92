// The UPDI wire protocol: instruction opcodes, control/status registers and
// keys, as the tinyAVR 0/1/2, megaAVR 0 and AVR Dx/Ex chips define them.
#pragma once

#include <cstdint>

namespace UpdiProto {

// Characters
constexpr uint8_t kSynch = 0x55;  // starts every instruction; the chip learns the baud from it
constexpr uint8_t kAck = 0x40;    // the chip's answer to each store, unless CTRLA.RSD is set

// Instruction opcodes (bits 7:5)
constexpr uint8_t kLds = 0x00;
constexpr uint8_t kLd = 0x20;
constexpr uint8_t kSts = 0x40;
constexpr uint8_t kSt = 0x60;
constexpr uint8_t kLdcs = 0x80;
constexpr uint8_t kRepeat = 0xA0;
constexpr uint8_t kStcs = 0xC0;
constexpr uint8_t kKey = 0xE0;

// LDS/STS address size (bits 3:2)
constexpr uint8_t kAddress16 = 0x04;
constexpr uint8_t kAddress24 = 0x08;
// LD/ST pointer access (bits 3:2)
constexpr uint8_t kPtrIndirect = 0x00;  // *(ptr)
constexpr uint8_t kPtrPostInc = 0x04;   // *(ptr++)
constexpr uint8_t kPtrRegister = 0x08;  // the pointer itself
// Data size (bits 1:0)
constexpr uint8_t kData8 = 0x00;
constexpr uint8_t kData16 = 0x01;
constexpr uint8_t kData24 = 0x02;  // only for the pointer register
// LDCS/STCS register address (bits 3:0)
constexpr uint8_t kCsAddressMask = 0x0F;
// KEY: bit 2 asks for the System Information Block instead of taking a key
constexpr uint8_t kKeySib = 0x04;
constexpr uint8_t kKeySize64 = 0x00;   // a 64-bit key, or an 8-byte SIB
constexpr uint8_t kKeySize128 = 0x01;  // a 16-byte SIB
constexpr int kSibShortBytes = 8;      // the family id alone
constexpr int kSibBytes = 16;          // family, NVM, OCD versions and more
constexpr int kKeyBytes = 8;

// REPEAT counts up to 255 repeats: 256 transfers
constexpr int kMaxRepeatTransfers = 256;

// Control/status registers
constexpr uint8_t kStatusA = 0x00;
constexpr uint8_t kStatusB = 0x01;
constexpr uint8_t kCtrlA = 0x02;
constexpr uint8_t kCtrlB = 0x03;
constexpr uint8_t kAsiKeyStatus = 0x07;
constexpr uint8_t kAsiResetReq = 0x08;
constexpr uint8_t kAsiCtrlA = 0x09;
constexpr uint8_t kAsiSysCtrlA = 0x0A;
constexpr uint8_t kAsiSysStatus = 0x0B;

// STATUSA
constexpr uint8_t kStatusAUpdiRevShift = 4;
// STATUSB: the error signature of the last failure
constexpr uint8_t kStatusBPesigMask = 0x07;
// CTRLA
constexpr uint8_t kCtrlAIbdly = 0x80;  // inter-byte delay
constexpr uint8_t kCtrlAPard = 0x20;   // parity disable
constexpr uint8_t kCtrlADtd = 0x10;    // disable time-out detection
constexpr uint8_t kCtrlARsd = 0x08;    // response signature disable: no ACK after stores
constexpr uint8_t kCtrlAGtvalMask = 0x07;
constexpr uint8_t kGuardTime2Cycles = 0x06;  // the shortest the chip's side may use
// CTRLB
constexpr uint8_t kCtrlBNackDis = 0x10;
constexpr uint8_t kCtrlBCcDetDis = 0x08;  // no collision detection: the echo is ours
constexpr uint8_t kCtrlBUpdiDis = 0x04;
// ASI_KEY_STATUS
constexpr uint8_t kKeyStatusUrowWrite = 0x20;
constexpr uint8_t kKeyStatusNvmProg = 0x10;
constexpr uint8_t kKeyStatusChipErase = 0x08;
// ASI_RESET_REQ
constexpr uint8_t kResetRequest = 0x59;  // holds the chip in reset
constexpr uint8_t kResetRelease = 0x00;
// ASI_CTRLA: the UPDI clock
constexpr uint8_t kUpdiClock16MHz = 0x01;
constexpr uint8_t kUpdiClock8MHz = 0x02;
constexpr uint8_t kUpdiClock4MHz = 0x03;  // after reset
// ASI_SYS_CTRLA
constexpr uint8_t kSysCtrlAUrowWriteFinal = 0x02;
constexpr uint8_t kSysCtrlAClkReq = 0x01;
// ASI_SYS_STATUS
constexpr uint8_t kSysStatusRstSys = 0x20;
constexpr uint8_t kSysStatusInSleep = 0x10;
constexpr uint8_t kSysStatusNvmProg = 0x08;
constexpr uint8_t kSysStatusUrowProg = 0x04;
constexpr uint8_t kSysStatusLockStatus = 0x01;

// Keys, sent least significant byte first: ASCII "NVMErase", "NVMProg ", "NVMUs&te".
constexpr uint64_t kKeyChipErase = 0x4E564D4572617365ULL;
constexpr uint64_t kKeyNvmProg = 0x4E564D50726F6720ULL;
constexpr uint64_t kKeyUserRowWrite = 0x4E564D5573267465ULL;

// The highest baud the chip's UPDI follows at its clock after reset (4 MHz),
// and at the faster clocks ASI_CTRLA selects.
constexpr uint32_t kMaxBaudAt4MHz = 225000;
constexpr uint32_t kMaxBaudAt8MHz = 450000;
constexpr uint32_t kMaxBaudAt16MHz = 900000;

// The long low level: a 0x00 byte at this baud is 10 bits low, 33 ms, longer
// than the 24.6 ms BREAK the chip recognises at its slowest setting.
constexpr uint32_t kBreakBaud = 300;

}  // namespace UpdiProto
