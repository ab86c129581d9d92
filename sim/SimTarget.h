// A simulated passive ISP adapter with an AVR target behind it, seen through
// the serial port interface. Wiring: break set = RESET asserted, RTS = SCK,
// DTR = MOSI, CTS = MISO, RI on while the break is set, DSR follows RTS.
//
// The target samples MOSI on each rising SCK edge and puts out its next MISO
// bit on the falling edge, so the host, reading CTS just after raising SCK,
// sees during clock k the bit put out after clock k-1. Instructions are framed
// by the target's own bit counter, which restarts whenever RESET is asserted.
// In programming mode the target echoes each byte during the next one (or,
// as SimConfig::echo says, only Programming Enable's 0x53, or nothing); read
// instructions, and Poll RDY/BSY on the ATmega8 and later parts, put their
// data out during the fourth byte. A part with more than 128 KB of flash
// takes the word address bits above 16 from Load Extended Address byte,
// kept until RESET is next asserted. Outside programming mode MISO stays
// low, except that a correctly framed Programming Enable that comes at least
// resetSetupUs after RESET was asserted with SCK low puts 0x53 out during
// its third byte and starts programming mode; a target out of step comes
// into step only through extra clock pulses. Releasing RESET ends
// programming mode. Once enabled, the echo makes any Programming Enable read
// back 0x53, and a complete Programming Enable seen out of step brings the
// target back into step, so that an extra clock pulse between attempts does
// no lasting harm - except on a part that loses its step for good
// (SimConfig::strayEdgeLosesSync): it then answers nothing until RESET is
// next asserted.
//
// What the part is (sizes, times, polling values, how it decodes lock and
// fuse instructions, what its fuses do) comes from the simulator's own parts
// table (sim/SimParts.h) through SimConfigForPart.
//
// State file (SaveState/LoadState), plain text, one item per line:
//
//     brenwick-sim-state 2
//     flash <size in bytes>
//     <hex digits, two per byte, at most 32 bytes per line> ...
//     eeprom <size in bytes>
//     <hex digits> ...
//     lock <two hex digits: the lock bits as LockBits() gives them>
//     fuses <two hex digits for each fuse byte, separated by spaces>
//     end
//
// "fuses" stands alone for a part without fuse access. Version 1 files are
// read too; they have, instead of the lock and fuses lines,
//
//     lock <Lock Bit1> <Lock Bit2> <FSTRT>      (each 0 = programmed or 1)
//
// Lines starting with '#' and a trailing carriage return are ignored. The
// sizes must be those of the simulated chip, and the data lines must hold
// exactly that many bytes. A loaded state is a chip found as it powers up:
// fuses that cut it off are in effect at once.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/PerformanceCounter.h"
#include "ports/SerialPort.h"
#include "sim/SimParts.h"

class CVirtualCounter;

// A configuration call of the port that can be made to fail.
enum class SimPortCall {
    None,
    SetupComm,
    GetCommState,
    SetCommState,
    SetCommMask,
    SetCommTimeouts
};

// What the simulated target is and which faults it shows. The defaults are
// an AT90S8535-like part with short write times.
struct SimConfig {
    // Signature bytes answered by Read Signature Byte 0, 1, 2.
    std::array<uint8_t, 3> signature{{0x1E, 0x93, 0x03}};
    int progSize = 8192;   // bytes
    int dataSize = 512;    // bytes
    int progPageSize = 0;  // bytes; 0: flash written byte by byte
    // Polling values read while a write is busy.
    uint8_t pollProg = 0xFF;
    uint8_t pollData1 = 0x00;
    uint8_t pollData2 = 0xFF;

    int64_t writeTimeUs = 4000;      // a flash byte, or a flash page
    int64_t eepromWriteTimeUs = -1;  // an EEPROM byte; -1: writeTimeUs
    int64_t lockWriteTimeUs = 4000;  // lock or fuse bits
    int64_t eraseTimeUs = 10000;     // chip erase
    int64_t resetSetupUs = 20000;    // RESET asserted this long before Programming Enable

    SimEcho echo = SimEcho::EveryByte;
    bool strayEdgeLosesSync = false;
    SimLockFuseRules rules = SimClassicRules();
    SimBoardClock boardClock = SimBoardClock::AsShipped;
    // The ATmega8 and later parts' instructions (see SimPart): Poll RDY/BSY,
    // Read Calibration Byte, and whether a read of a cell being written is
    // promised its polling value or is a protocol error answered 0xFF. Load
    // Extended Address byte comes with more than 128 KB of flash.
    bool pollReady = false;
    bool calibrationRead = false;
    bool busyReadsPromised = true;

    // Faults.
    bool noAdapter = false;                    // no RI echo, no DSR loop, MISO floating low
    bool noTarget = false;                     // adapter present, nothing answers on MISO
    int misoStuck = -1;                        // -1 none, 0 stuck low, 1 stuck high
    bool openFails = false;                    // the port cannot be opened
    SimPortCall failCall = SimPortCall::None;  // this configuration call fails
    bool lineOpsFail = false;                  // every line operation fails (port open)
    // From the N-th line call on (counted from 1 over the port object's whole
    // life, across reopening), every line call fails, as when a USB adapter
    // is pulled. -1: never.
    int64_t failAfterLineOps = -1;
    int64_t misoStuckAfterInstructions = -1;  // after N instructions MISO stays low
    // At the N-th line call (counted as failAfterLineOps) the cable is pulled:
    // every line drops (RESET released) and every line call fails until the
    // port is opened again, as a USB adapter plugged back in. -1: never.
    int64_t unplugAfterLineOps = -1;
    // At the N-th line call the target loses its power: MISO stays low, no
    // echo, programming mode and the page buffer are lost. The power comes
    // back at the next release of RESET. -1: never.
    int64_t powerOffAfterLineOps = -1;
    // At the N-th line call the port asks for the running operation to stop,
    // through the hook set by SetStopHook, as a user pressing Stop. -1: never.
    int64_t stopAfterLineOps = -1;
    bool neverSynchronises = false;
    int outOfStepBits = 0;            // target framing offset after each RESET assertion
    std::vector<int> stuckProgBytes;  // byte addresses that never take a write
    std::vector<int> stuckDataBytes;
    bool eraseFails = false;  // Chip Erase erases nothing and the next reset echo is lost
    // Virtual time every line call takes (a UART's register access); 0: none.
    int64_t lineCallNs = 0;
};

// SimConfig of the part with that name in the simulator's own parts table
// (sim/SimParts.h), compared without regard to case. An unknown name gives
// the default SimConfig.
SimConfig SimConfigForPart(const std::string& name);

// What the simulator saw.
struct SimCounters {
    uint64_t lineOps = 0;  // every EscapeCommFunction, break and status call that succeeded
    uint64_t setDtr = 0, clrDtr = 0, setRts = 0, clrRts = 0;
    uint64_t setBreak = 0, clearBreak = 0, statusReads = 0;
    uint64_t failedLineOps = 0;  // line calls refused (port closed or a line fault)
    uint64_t instructions = 0;   // complete 32-bit instructions framed by the target
    std::map<uint8_t, uint64_t> instructionsByOpcode;  // first byte -> count
    uint64_t programmingEnables = 0;                   // accepted Programming Enable
    uint64_t reframes = 0;  // enabled target brought back into step by a Programming Enable
    // progWrites: flash byte writes, and on paged parts loads of the page
    // buffer; pageWrites: Write Program Memory Page.
    uint64_t progWrites = 0, pageWrites = 0, dataWrites = 0, chipErases = 0;
    uint64_t lockWrites = 0, fuseWrites = 0;
    uint64_t progReads = 0, dataReads = 0;      // read instructions in programming mode
    uint64_t writesOutsideProgrammingMode = 0;  // write/erase instructions ignored
    uint64_t writesWhileLocked = 0;             // flash/EEPROM writes ignored under Lock Bit1
    uint64_t protocolErrors = 0;                // instruction while busy (polling reads excepted)
    uint64_t unknownInstructions = 0;           // in programming mode, no such instruction
    uint64_t resetsWhileBusy = 0;  // RESET asserted or released while a write was in progress
    uint64_t syncLosses = 0;       // stray SCK edge on a part that cannot get back into step
    uint64_t opens = 0, closes = 0;
    uint64_t closedWithBreak = 0;  // Close() while RESET was asserted
};

// One line operation as the simulator saw it, for trace tests.
struct SimEvent {
    enum Kind { SetDtr, ClrDtr, SetRts, ClrRts, SetBreak, ClearBreak, Status } kind;
    int64_t timeNs;
};

class CSimPort : public ISerialPort {
public:
    // counter: the time base of the target (shared with the adapter). When it
    // is a CVirtualCounter, every line operation notes activity on it and the
    // target reads its Now() without advancing it.
    CSimPort(const SimConfig& config, IPerformanceCounter& counter);

    // ISerialPort. Open() accepts any name unless the configuration says it
    // fails; it fails too while the port is already open (exclusive).
    bool Open(const std::string& deviceName) override;
    bool SetupComm(uint32_t inQueue, uint32_t outQueue) override;
    bool GetCommState(CommState& state) override;
    bool SetCommState(const CommState& state) override;
    bool SetCommMask(uint32_t mask) override;
    bool SetCommTimeouts(const CommTimeouts& timeouts) override;
    bool EscapeCommFunction(EscapeCode code) override;
    bool SetCommBreak() override;
    bool ClearCommBreak() override;
    bool GetCommModemStatus(uint32_t& status) override;
    // Closing drops every line, releasing RESET.
    void Close() override;
    std::string LastError() const override;
    // NotAnswering while the last line call failed.
    PortErrorKind LastErrorKind() const override;
    // Called at the line call SimConfig::stopAfterLineOps names.
    void SetStopHook(std::function<void()> hook);
    // Whether the target has lost its power (SimConfig::powerOffAfterLineOps).
    bool PoweredOff() const;

    // State of the simulated chip.
    std::vector<uint8_t>& Flash();
    std::vector<uint8_t>& Eeprom();
    const std::vector<uint8_t>& Flash() const;
    const std::vector<uint8_t>& Eeprom() const;
    // The lock byte as this part's Read Lock (and Fuse) Bits answers it (on
    // the AT90S8535: bit 7 Lock Bit1, bit 6 Lock Bit2, bit 5 SPIEN, bit 0
    // FSTRT; 1 = unprogrammed). A part without that instruction gives the
    // AT90S8535 layout.
    uint8_t LockByte() const;
    // Sets Lock Bit1, Lock Bit2 and the fuse bit at the FSTRT (or RCEN)
    // place where the part has one.
    void SetLockBits(int lockBit1, int lockBit2, int fstrt);
    // The lock bits: bit 0 Lock Bit1, bit 1 Lock Bit2, bits 2 to 5 Boot Lock
    // Bit01, 02, 11, 12 where the part has them; 1 = unprogrammed, and bits
    // the part does not have read 1.
    uint8_t LockBits() const;
    void SetLockBitsByte(uint8_t bits);
    // The fuse bytes in the part's own datasheet layout (see
    // SimLockFuseRules); empty for a part without fuse access in serial
    // programming mode. Setting them is finding the chip so at power-up: a
    // cut-off takes effect at once. Extra bytes are ignored.
    std::vector<uint8_t> Fuses() const;
    void SetFuses(const std::vector<uint8_t>& fuses);
    // True when the fuses, as they stand, leave the chip unreachable by
    // serial programming (SPIEN unprogrammed, RSTDISBL programmed, or a
    // clock source the board does not have). The chip stops answering when
    // the change takes effect: at the next release of RESET, or on parts
    // whose datasheet says so, at the next power-up.
    bool CutOff() const;
    // Power off and on: programming mode ends, the page buffer is lost and
    // the fuses take effect.
    void PowerCycle();
    bool InProgrammingMode() const;
    bool IsOpen() const;
    bool Dtr() const;
    bool Rts() const;
    bool Break() const;

    // What the port was last opened and configured with.
    const std::string& OpenedName() const;
    const CommState& State() const;
    const CommTimeouts& Timeouts() const;
    uint32_t EventMask() const;
    uint32_t InQueue() const;
    uint32_t OutQueue() const;

    SimConfig& Config();
    const SimCounters& Counters() const;
    void ResetCounters();
    // Recording of line operations with their times (off by default).
    void SetTracing(bool on);
    const std::vector<SimEvent>& Trace() const;
    void ClearTrace();

    // Saves or loads flash, EEPROM, lock and fuse bits (the state file of sim:
    // ports, format above). Load gives false when the file cannot be read or
    // is malformed, and then changes nothing; error says why.
    bool SaveState(const std::string& path, std::string& error) const;
    bool LoadState(const std::string& path, std::string& error);

private:
    struct Impl;
    std::shared_ptr<Impl> m_impl;
};
