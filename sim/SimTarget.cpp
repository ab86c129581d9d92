#include "sim/SimTarget.h"

#include <algorithm>

#include "sim/VirtualCounter.h"

namespace {

constexpr int kBitsPerByte = 8;
constexpr int kBytesPerInstruction = 4;
constexpr int kBitsPerInstruction = kBitsPerByte * kBytesPerInstruction;
constexpr int kTopBit = kBitsPerByte - 1;
constexpr int kOpcodeCount = 256;

constexpr int64_t kNsPerUs = 1000;
constexpr int64_t kNsPerSecond = 1000000000;

// Instruction bytes as the target decodes them.
constexpr uint8_t kOpPrefixAc = 0xAC;  // Programming Enable, Chip Erase, lock and fuse writes
constexpr uint8_t kEnableSecond = 0x53;
constexpr uint32_t kEnableInstruction = 0xAC530000;
// Chip Erase "1010 1100 100x xxxx".
constexpr uint8_t kEraseMask = 0xE0;
constexpr uint8_t kEraseSecond = 0x80;
constexpr uint8_t kOpReadProgLow = 0x20;
constexpr uint8_t kOpReadProgHigh = 0x28;
constexpr uint8_t kOpWriteProgLow = 0x40;  // or Load Program Memory Page on paged parts
constexpr uint8_t kOpWriteProgHigh = 0x48;
constexpr uint8_t kOpWritePage = 0x4C;  // Write Program Memory Page
constexpr uint8_t kOpReadData = 0xA0;
constexpr uint8_t kOpWriteData = 0xC0;
constexpr uint8_t kOpReadSignature = 0x30;
// ATmega8 and later parts.
constexpr uint8_t kOpPollReady = 0xF0;            // Poll RDY/BSY
constexpr uint8_t kOpReadCalibration = 0x38;      // Read Calibration Byte
constexpr uint8_t kOpLoadExtendedAddress = 0x4D;  // Load Extended Address byte
// Poll RDY/BSY: bit 0 is 1 while busy; the datasheets leave the other bits
// open ("xxxx xxxo"), and they read 1 here.
constexpr uint8_t kReadyAnswer = 0xFE;
constexpr uint8_t kBusyBit = 0x01;
// Any fixed value will do: nothing in the programmer may depend on it.
constexpr uint8_t kCalibrationByte = 0x9C;
// Flash word addresses above 16 bits need the extended address byte.
constexpr size_t kWordsWithoutExtendedAddress = size_t{1} << 16;
constexpr int kExtendedAddressShift = 16;

constexpr uint8_t kErased = 0xFF;
constexpr int kSignatureBytes = 3;
constexpr uint8_t kNoSignatureByte = 0xFF;

// Lock bits as LockBits() keeps them.
constexpr int kLockBit1 = 0;
constexpr int kLockBit2 = 1;
constexpr uint8_t kLockMode3Mask = 0x03;   // both programmed: lock mode 3
constexpr uint8_t kMemoryLockBits = 0x03;  // Lock Bit1 and Lock Bit2

// The AT90S8535 layout of the lock byte, for parts without a lock read.
constexpr int kClassicLockBit1Shift = 7;
constexpr int kClassicLockBit2Shift = 6;
constexpr uint8_t kClassicLockReadOnes = 0x1E;  // bits 4 to 1; SPIEN (bit 5) reads 0

bool Contains(const std::vector<int>& addresses, int address) {
    return !addresses.empty() &&
           std::find(addresses.begin(), addresses.end(), address) != addresses.end();
}

int Bit(uint8_t value, int bit) {
    return (value >> bit) & 1;
}

uint8_t WithBit(uint8_t value, int bit, int on) {
    const uint8_t mask = static_cast<uint8_t>(1u << bit);
    return static_cast<uint8_t>(on != 0 ? (value | mask) : (value & ~mask));
}

bool Matches(const SimBitWrite& write, uint8_t second) {
    return write.secondMask != 0 && (second & write.secondMask) == write.secondValue;
}

bool Matches(const SimBitRead& read, uint8_t op, uint8_t second) {
    return read.opcode != 0 && op == read.opcode && (second & read.secondMask) == read.secondValue;
}

// Fuse bit `bit` (8 * byte + bit in byte) of these fuse bytes has this value;
// false for no bit or a byte the part does not have.
bool FuseIs(const std::vector<uint8_t>& fuses, int bit, int value) {
    if (bit < 0 || static_cast<size_t>(bit / kBitsPerByte) >= fuses.size()) {
        return false;
    }
    return Bit(fuses[static_cast<size_t>(bit / kBitsPerByte)], bit % kBitsPerByte) == value;
}

}  // namespace

SimConfig SimConfigForPart(const std::string& name) {
    SimConfig config;
    const SimPart* part = FindSimPart(name);
    if (part == nullptr) {
        return config;
    }
    config.signature = part->signature;
    config.progSize = part->flashBytes;
    config.dataSize = part->eepromBytes;
    config.progPageSize = part->flashPageBytes;
    config.pollProg = part->flashPoll;
    config.pollData1 = part->eepromPoll1;
    config.pollData2 = part->eepromPoll2;
    config.writeTimeUs = part->flashWriteUs;
    config.eepromWriteTimeUs = part->eepromWriteUs == part->flashWriteUs ? -1 : part->eepromWriteUs;
    config.lockWriteTimeUs = part->lockWriteUs;
    config.eraseTimeUs = part->eraseUs;
    config.echo = part->echo;
    config.strayEdgeLosesSync = part->strayEdgeLosesSync;
    config.rules = part->rules;
    config.pollReady = part->pollReady;
    config.calibrationRead = part->calibrationRead;
    config.busyReadsPromised = part->busyReadsPromised;
    return config;
}

struct CSimPort::Impl {
    enum class Busy { None, Flash, Eeprom, Other };

    Impl(const SimConfig& c, IPerformanceCounter& counter)
        : config(c),
          counter(counter),
          virtualCounter(dynamic_cast<CVirtualCounter*>(&counter)),
          flash(static_cast<size_t>(std::max(c.progSize, 0)), kErased),
          eeprom(static_cast<size_t>(std::max(c.dataSize, 0)), kErased),
          fuses(FactoryFuses(c.rules)),
          effectiveFuses(fuses) {}

    static std::vector<uint8_t> FactoryFuses(const SimLockFuseRules& rules) {
        const int count = std::min(std::max(rules.fuseBytes, 0), kSimMaxFuseBytes);
        return std::vector<uint8_t>(rules.fuseDefault.begin(), rules.fuseDefault.begin() + count);
    }

    SimConfig config;
    IPerformanceCounter& counter;
    CVirtualCounter* virtualCounter;

    // The chip.
    std::vector<uint8_t> flash;
    std::vector<uint8_t> eeprom;
    uint8_t lockBits = 0xFF;
    std::vector<uint8_t> fuses;
    // The fuses as they were when they last took effect (at power-up, or
    // when RESET was released): these decide whether the chip answers.
    std::vector<uint8_t> effectiveFuses;
    std::vector<uint8_t> pageBuffer;
    uint8_t extendedAddress = 0;  // Load Extended Address byte, until RESET

    // The port.
    bool open = false;
    bool dtr = false, rts = false, brk = false;
    std::string lastError;
    std::string openedName;
    CommState state;
    CommTimeouts timeouts;
    uint32_t eventMask = 0, inQueue = 0, outQueue = 0;
    uint64_t lineCallsEver = 0;
    bool lastLineCallFailed = false;
    bool unplugged = false;   // until the port is opened again
    bool poweredOff = false;  // until RESET is next released
    std::function<void()> stopHook;

    // The target's serial interface.
    bool progMode = false;
    bool resetWithSckLow = false;
    bool lost = false;  // out of step for good until RESET is asserted again
    int64_t resetTimeNs = 0;
    int bitPos = 0;  // bits of the current instruction received
    uint8_t shiftIn = 0;
    uint32_t history = 0;  // the last 32 bits received, whatever the framing
    std::array<uint8_t, kBytesPerInstruction> bytes{};
    uint8_t outByte = 0;  // shifted out during the current byte
    bool miso = false;
    uint64_t instructionsEver = 0;

    // A write in progress: busyStart and busySpan are byte addresses of the
    // flash or EEPROM cells being written.
    Busy busy = Busy::None;
    size_t busyStart = 0;
    size_t busySpan = 0;
    int64_t busyUntilNs = 0;
    int busyPolls = 0;

    // A failed chip erase swallows the reset echo of the next RESET
    // assertion (the one of the reset pulse after the erase; the erase's own
    // status reads must not use it up), until RESET is next released after a
    // status read missed it.
    bool echoLossPending = false;
    bool echoLost = false;
    bool echoLostSeen = false;

    SimCounters counters;
    std::array<uint64_t, kOpcodeCount> byOpcode{};
    bool tracing = false;
    std::vector<SimEvent> trace;

    int64_t NowNs() {
        if (virtualCounter != nullptr) {
            return virtualCounter->Now();
        }
        const int64_t count = counter.Query();
        const int64_t frequency = counter.Frequency();
        if (frequency == kNsPerSecond || frequency <= 0) {
            return count;
        }
        return count / frequency * kNsPerSecond + count % frequency * kNsPerSecond / frequency;
    }

    // Every line call passes here first: false when it must fail.
    bool BeginLineCall(SimEvent::Kind kind) {
        ++lineCallsEver;
        // A call that fails still happened at this moment: without noting
        // it, the waits between calls on a dead port would let the virtual
        // time run away geometrically (and overflow).
        if (virtualCounter != nullptr) {
            virtualCounter->NoteActivity();
            if (config.lineCallNs > 0) {
                virtualCounter->Advance(config.lineCallNs);
            }
        }
        if (Reached(config.unplugAfterLineOps) && open) {
            Unplug();
        }
        if (Reached(config.powerOffAfterLineOps)) {
            PowerOff();
        }
        if (Reached(config.stopAfterLineOps) && stopHook) {
            stopHook();
        }
        // A negative failAfterLineOps turns into a count never reached.
        const bool pulled = lineCallsEver >= static_cast<uint64_t>(config.failAfterLineOps);
        lastLineCallFailed = !open | config.lineOpsFail | pulled | unplugged;
        if (lastLineCallFailed) {
            ++counters.failedLineOps;
            return false;
        }
        ++counters.lineOps;
        if (tracing) {
            trace.push_back(SimEvent{kind, NowNs()});
        }
        return true;
    }

    // Whether this line call is the one a fault given by its count starts at.
    bool Reached(int64_t count) const {
        return count >= 0 && lineCallsEver == static_cast<uint64_t>(count);
    }

    // A pulled cable takes every line with it: the target sees RESET released.
    void Unplug() {
        unplugged = true;
        if (brk) {
            brk = false;
            ReleaseReset();
        }
        dtr = rts = false;
    }

    void PowerOff() {
        poweredOff = true;
        PowerCycle();
    }

    bool ConfigCall(SimPortCall call) {
        if (!open) {
            lastError = "port not open";
            return false;
        }
        if (config.failCall == call) {
            lastError = "simulated configuration failure";
            return false;
        }
        return true;
    }

    // ------------------------------------------------------------ fuses

    const SimLockFuseRules& Rules() const { return config.rules; }

    // The clock source the CKSEL field of these fuses selects runs from
    // something on XTAL1.
    bool NeedsXtal1(const std::vector<uint8_t>& fuseBytes) const {
        const SimLockFuseRules& r = Rules();
        const size_t byte = static_cast<size_t>(r.ckselBit / kBitsPerByte);
        if (r.ckselBit < 0 || byte >= fuseBytes.size()) {
            return false;
        }
        const int value =
            (fuseBytes[byte] >> (r.ckselBit % kBitsPerByte)) & ((1 << r.ckselWidth) - 1);
        return ((r.ckselNeedsXtal1 >> value) & 1) != 0;
    }

    bool BoardHasExternalClock() const {
        switch (config.boardClock) {
            case SimBoardClock::ExternalClock:
                return true;
            case SimBoardClock::NoExternalClock:
                return false;
            case SimBoardClock::AsShipped:
                break;
        }
        // The board offers what the factory fuses select.
        const SimLockFuseRules& r = Rules();
        if (r.rcenBit >= 0) {
            return Bit(r.fuseDefault[0], r.rcenBit) != 0;
        }
        if (r.ckselBit >= 0) {
            return NeedsXtal1(FactoryFuses(r));
        }
        return true;
    }

    bool ClockRuns(const std::vector<uint8_t>& fuseBytes) const {
        const SimLockFuseRules& r = Rules();
        if (r.internalClockOnly || FuseIs(fuseBytes, r.rcenBit, 0)) {
            return true;  // the internal RC oscillator runs it
        }
        if (r.ckselBit >= 0 && !NeedsXtal1(fuseBytes)) {
            return true;
        }
        return BoardHasExternalClock();
    }

    // Whether the chip, with these fuses, can be reached by serial programming.
    bool CutsOff(const std::vector<uint8_t>& fuseBytes) const {
        const SimLockFuseRules& r = Rules();
        const bool debugWire =
            FuseIs(fuseBytes, r.dwenBit, 0) && (lockBits & kMemoryLockBits) == kMemoryLockBits;
        return !ClockRuns(fuseBytes) || FuseIs(fuseBytes, r.spienBit, 1) ||
               FuseIs(fuseBytes, r.rstdisblBit, 0) || debugWire;
    }

    bool CutOffNow() const { return CutsOff(effectiveFuses); }

    void FusesTakeEffect() { effectiveFuses = fuses; }

    // ------------------------------------------------------------ lines

    bool TargetConnected() const { return !config.noAdapter && !config.noTarget && !poweredOff; }
    bool TargetListening() const { return brk && TargetConnected() && !lost && !CutOffNow(); }

    bool Cts() const {
        if (!TargetConnected()) {
            return false;
        }
        if (config.misoStuck >= 0) {
            return config.misoStuck != 0;
        }
        if (config.misoStuckAfterInstructions >= 0 &&
            instructionsEver >= static_cast<uint64_t>(config.misoStuckAfterInstructions)) {
            return false;
        }
        return brk && miso && !lost && !CutOffNow();
    }

    void NoteResetWhileBusy() {
        if (busy != Busy::None && IsBusy(NowNs())) {
            ++counters.resetsWhileBusy;
        }
    }

    void AssertReset() {
        NoteResetWhileBusy();
        const int frame = config.outOfStepBits % kBitsPerInstruction;
        bitPos = frame < 0 ? frame + kBitsPerInstruction : frame;
        shiftIn = 0;
        history = 0;
        outByte = 0;
        miso = false;
        progMode = false;
        lost = false;
        pageBuffer.clear();
        extendedAddress = 0;
        resetWithSckLow = !rts;
        resetTimeNs = NowNs();
        if (echoLossPending) {
            echoLost = true;
            echoLossPending = false;
        }
    }

    void ReleaseReset() {
        NoteResetWhileBusy();
        if (poweredOff) {
            poweredOff = false;  // the power is back: the chip starts afresh
            PowerCycle();
        }
        progMode = false;
        miso = false;
        if (Rules().fuseEffect == SimFuseEffect::LeavingProgramming) {
            FusesTakeEffect();
        }
        if (echoLostSeen) {
            echoLost = false;
            echoLostSeen = false;
        }
    }

    void PowerCycle() {
        progMode = false;
        miso = false;
        lost = false;
        pageBuffer.clear();
        extendedAddress = 0;
        busy = Busy::None;
        FusesTakeEffect();
    }

    void SckRise() {
        if (!TargetListening()) {
            return;
        }
        const uint32_t bit = dtr ? 1 : 0;
        shiftIn = static_cast<uint8_t>((shiftIn << 1) | bit);
        history = (history << 1) | bit;
        ++bitPos;
        if (bitPos % kBitsPerByte == 0) {
            ByteReceived(bitPos / kBitsPerByte, shiftIn);
        }
        if (bitPos != 0 && history == kEnableInstruction) {
            EnableOutOfStep();
        }
    }

    // A whole Programming Enable seen out of the target's own framing (after
    // a stray clock pulse). An enabled target takes it as the end of an
    // instruction: the partial instruction is dropped and the next bit starts
    // a new one. Only a complete AC 53 00 00 does this, which no other
    // instruction sequence of the programmer contains at any bit position. A
    // part that cannot get back into step is lost instead.
    void EnableOutOfStep() {
        if (config.strayEdgeLosesSync) {
            lost = true;
            progMode = false;
            miso = false;
            ++counters.syncLosses;
            return;
        }
        if (!progMode) {
            return;
        }
        bitPos = 0;
        // The echo of the last byte.
        outByte = config.echo == SimEcho::EveryByte ? static_cast<uint8_t>(history) : 0;
        ++counters.programmingEnables;
        ++counters.reframes;
    }

    void SckFall() {
        if (!TargetListening()) {
            return;
        }
        miso = ((outByte >> (kTopBit - bitPos % kBitsPerByte)) & 1) != 0;
    }

    // The fuse byte a fuse read instruction reads; -1: none.
    int FuseReadIndex(uint8_t op, uint8_t second) const {
        for (size_t i = 0; i < fuses.size(); ++i) {
            if (Matches(Rules().fuseRead[i], op, second)) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }

    // Whether the instruction begun (its first two bytes known) reads.
    bool IsRead() const {
        const uint8_t op = bytes[0];
        const uint8_t second = bytes[1];
        return op == kOpReadProgLow || op == kOpReadProgHigh || op == kOpReadData ||
               op == kOpReadSignature || (config.pollReady && op == kOpPollReady) ||
               (config.calibrationRead && op == kOpReadCalibration) ||
               Matches(Rules().lockRead, op, second) || FuseReadIndex(op, second) >= 0;
    }

    // index: 1 to 4, the byte of the instruction just completed.
    void ByteReceived(int index, uint8_t value) {
        bytes[static_cast<size_t>(index - 1)] = value;
        uint8_t out = progMode && config.echo == SimEcho::EveryByte ? value : 0;
        if (index == 2 && bytes[0] == kOpPrefixAc && value == kEnableSecond) {
            if (AcceptEnable() && config.echo != SimEcho::None) {
                out = kEnableSecond;
            }
        } else if (index == 3 && progMode && IsRead()) {
            out = ReadAnswer(out);
        } else if (index == kBytesPerInstruction) {
            InstructionReceived();
            bitPos = 0;
        }
        outByte = out;
    }

    bool AcceptEnable() {
        if (config.neverSynchronises || !resetWithSckLow) {
            return false;
        }
        if (NowNs() - resetTimeNs < config.resetSetupUs * kNsPerUs) {
            return false;
        }
        progMode = true;
        ++counters.programmingEnables;
        return true;
    }

    bool IsBusy(int64_t now) {
        if (busy != Busy::None && now >= busyUntilNs) {
            busy = Busy::None;
        }
        return busy != Busy::None;
    }

    void StartBusy(Busy kind, size_t start, size_t span, int64_t us) {
        busy = kind;
        busyStart = start;
        busySpan = span;
        busyUntilNs = NowNs() + us * kNsPerUs;
        busyPolls = 0;
    }

    size_t WordAddress() const { return static_cast<size_t>(bytes[1]) << kBitsPerByte | bytes[2]; }

    bool HasExtendedAddress() const { return flash.size() / 2 > kWordsWithoutExtendedAddress; }

    size_t ProgAddress() const {
        const size_t high = (bytes[0] == kOpReadProgHigh || bytes[0] == kOpWriteProgHigh) ? 1 : 0;
        const size_t word =
            static_cast<size_t>(extendedAddress) << kExtendedAddressShift | WordAddress();
        return (word * 2 + high) % flash.size();
    }

    size_t DataAddress() const { return WordAddress() % eeprom.size(); }

    size_t PageBytes() const {
        const int bytesInPage = config.progPageSize;
        return bytesInPage > 0 && !flash.empty() ? static_cast<size_t>(bytesInPage) : 0;
    }

    int64_t EepromWriteUs() const {
        return config.eepromWriteTimeUs >= 0 ? config.eepromWriteTimeUs : config.writeTimeUs;
    }

    // The answer of a lock or fuse read instruction; fuseByte: the fuse byte
    // its fuseAt shows.
    uint8_t ReadBits(const SimBitRead& read, size_t fuseByte = 0) const {
        uint8_t answer = 0xFF;
        for (int n = 0; n < kBitsPerByte; ++n) {
            const int lockAt = read.lockAt[static_cast<size_t>(n)];
            if (lockAt >= 0) {
                answer = WithBit(answer, lockAt, Bit(lockBits, n));
            }
            const int fuseAt = read.fuseAt[static_cast<size_t>(n)];
            if (fuseAt >= 0 && fuseByte < fuses.size()) {
                answer = WithBit(answer, fuseAt, Bit(fuses[fuseByte], n));
            }
        }
        return answer;
    }

    uint8_t LockByte() const {
        if (Rules().lockRead.opcode != 0) {
            return ReadBits(Rules().lockRead);
        }
        return static_cast<uint8_t>(Bit(lockBits, kLockBit1) << kClassicLockBit1Shift |
                                    Bit(lockBits, kLockBit2) << kClassicLockBit2Shift |
                                    kClassicLockReadOnes | 1);
    }

    // The byte put out during the fourth byte of a read; echo: what the
    // shift register would hold if the read were ignored.
    uint8_t ReadAnswer(uint8_t echo) {
        const uint8_t op = bytes[0];
        const bool flashRead = op == kOpReadProgLow || op == kOpReadProgHigh;
        if (flashRead) {
            ++counters.progReads;
        } else if (op == kOpReadData) {
            ++counters.dataReads;
        }
        const bool busyNow = busy != Busy::None && IsBusy(NowNs());
        if (op == kOpPollReady) {
            return busyNow ? (kReadyAnswer | kBusyBit) : kReadyAnswer;
        }
        if (busyNow) {
            const bool busyFlash = flashRead && busy == Busy::Flash && !flash.empty() &&
                                   ProgAddress() - busyStart < busySpan;
            const bool busyEeprom = op == kOpReadData && busy == Busy::Eeprom && !eeprom.empty() &&
                                    DataAddress() == busyStart;
            if (config.busyReadsPromised && busyFlash) {
                return config.pollProg;
            }
            if (config.busyReadsPromised && busyEeprom) {
                return busyPolls++ == 0 ? config.pollData1 : config.pollData2;
            }
            ++counters.protocolErrors;
            // A cell being written reads 0xFF on the parts that promise
            // nothing about it too.
            return busyFlash || busyEeprom ? kErased : echo;
        }
        if (flashRead) {
            return flash.empty() ? kErased : flash[ProgAddress()];
        }
        if (op == kOpReadData) {
            return eeprom.empty() ? kErased : eeprom[DataAddress()];
        }
        if (op == kOpReadSignature) {
            const uint8_t index = bytes[2];
            if (Rules().signatureHiddenInLockMode3 && (lockBits & kLockMode3Mask) == 0) {
                return index;
            }
            return index < kSignatureBytes ? config.signature[index] : kNoSignatureByte;
        }
        if (op == kOpReadCalibration && config.calibrationRead) {
            return kCalibrationByte;
        }
        if (Matches(Rules().lockRead, op, bytes[1])) {
            return ReadBits(Rules().lockRead);
        }
        const int fuseByte = FuseReadIndex(op, bytes[1]);
        if (fuseByte < 0) {
            return echo;
        }
        return ReadBits(Rules().fuseRead[static_cast<size_t>(fuseByte)],
                        static_cast<size_t>(fuseByte));
    }

    // The fuse byte a fuse write instruction with this second byte writes;
    // -1: none.
    int FuseWriteIndex(uint8_t second) const {
        for (size_t i = 0; i < fuses.size(); ++i) {
            if (Matches(Rules().fuseWrite[i], second)) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }

    enum class Kind {
        Read,
        Enable,
        ProgWrite,
        PageLoad,
        PageWrite,
        ExtendedAddress,
        DataWrite,
        Erase,
        LockWrite,
        FuseWrite,
        Unknown
    };

    Kind Classify() const {
        const uint8_t op = bytes[0];
        if (IsRead()) {
            return Kind::Read;
        }
        if (op == kOpWriteProgLow || op == kOpWriteProgHigh) {
            return PageBytes() > 0 ? Kind::PageLoad : Kind::ProgWrite;
        }
        if (op == kOpWritePage && PageBytes() > 0) {
            return Kind::PageWrite;
        }
        if (op == kOpLoadExtendedAddress && HasExtendedAddress()) {
            return Kind::ExtendedAddress;
        }
        if (op == kOpWriteData) {
            return Kind::DataWrite;
        }
        if (op == kOpPrefixAc) {
            const uint8_t second = bytes[1];
            if (second == kEnableSecond) {
                return Kind::Enable;
            }
            if ((second & kEraseMask) == kEraseSecond) {
                return Kind::Erase;
            }
            if (Matches(Rules().lockWrite, second)) {
                return Kind::LockWrite;
            }
            if (FuseWriteIndex(second) >= 0) {
                return Kind::FuseWrite;
            }
        }
        return Kind::Unknown;
    }

    void InstructionReceived() {
        ++instructionsEver;
        ++counters.instructions;
        ++byOpcode[bytes[0]];
        const Kind kind = Classify();
        if (kind == Kind::Read || kind == Kind::Enable) {
            return;  // took effect at an earlier byte, or ignored
        }
        if (!progMode) {
            if (kind != Kind::Unknown) {
                ++counters.writesOutsideProgrammingMode;
            }
            return;
        }
        if (kind == Kind::Unknown) {
            ++counters.unknownInstructions;
            return;
        }
        if (busy != Busy::None && IsBusy(NowNs())) {
            ++counters.protocolErrors;
            return;
        }
        Execute(kind);
    }

    // The bits a lock or fuse write instruction carries: bit n of the result
    // is the written value of bit n of the lock or fuse byte; bits it does
    // not carry are 1, and written in `carried`.
    uint8_t WrittenBits(const SimBitWrite& write, uint8_t& carried) const {
        const size_t index = static_cast<size_t>(write.dataByte - 1) % bytes.size();
        const uint8_t data = bytes[index];
        uint8_t value = 0xFF;
        carried = 0;
        for (int n = 0; n < kBitsPerByte; ++n) {
            const int from = write.from[static_cast<size_t>(n)];
            if (from >= 0) {
                value = WithBit(value, n, Bit(data, from));
                carried = WithBit(carried, n, 1);
            }
        }
        return value;
    }

    bool Locked() {
        if (Bit(lockBits, kLockBit1) == 0) {
            ++counters.writesWhileLocked;
            return true;
        }
        return false;
    }

    void Execute(Kind kind) {
        const uint8_t data = bytes[3];
        switch (kind) {
            case Kind::ProgWrite: {
                ++counters.progWrites;
                if (flash.empty() || Locked()) {
                    return;
                }
                const size_t address = ProgAddress();
                if (!Contains(config.stuckProgBytes, static_cast<int>(address))) {
                    flash[address] &= data;  // flash cells can only lose bits
                }
                StartBusy(Busy::Flash, address, 1, config.writeTimeUs);
                return;
            }
            case Kind::PageLoad: {
                // Fills the page buffer at the word offset within the page;
                // nothing reaches the flash before Write Program Memory Page.
                ++counters.progWrites;
                const size_t page = PageBytes();
                pageBuffer.resize(page, kErased);
                pageBuffer[ProgAddress() % page] = data;
                return;
            }
            case Kind::PageWrite: {
                ++counters.pageWrites;
                if (Locked()) {
                    return;
                }
                const size_t page = PageBytes();
                const size_t start = ProgAddress() / page * page;
                pageBuffer.resize(page, kErased);
                for (size_t i = 0; i < page; ++i) {
                    if (!Contains(config.stuckProgBytes, static_cast<int>(start + i))) {
                        flash[start + i] &= pageBuffer[i];
                    }
                }
                std::fill(pageBuffer.begin(), pageBuffer.end(), kErased);
                StartBusy(Busy::Flash, start, page, config.writeTimeUs);
                return;
            }
            case Kind::ExtendedAddress:
                extendedAddress = bytes[2];
                return;
            case Kind::DataWrite: {
                ++counters.dataWrites;
                if (eeprom.empty() || Locked()) {
                    return;
                }
                const size_t address = DataAddress();
                if (!Contains(config.stuckDataBytes, static_cast<int>(address))) {
                    eeprom[address] = data;  // erased automatically before the write
                }
                StartBusy(Busy::Eeprom, address, 1, EepromWriteUs());
                return;
            }
            case Kind::Erase:
                ++counters.chipErases;
                if (config.eraseFails) {
                    echoLossPending = true;
                } else {
                    std::fill(flash.begin(), flash.end(), kErased);
                    // EESAVE acts as soon as it is programmed, not when the
                    // other fuses take effect (ATmega328P datasheet,
                    // "Latching of Fuses").
                    if (!FuseIs(fuses, Rules().eesaveBit, 0)) {
                        std::fill(eeprom.begin(), eeprom.end(), kErased);
                    }
                    lockBits = 0xFF;  // the fuses stay as they are
                }
                StartBusy(Busy::Other, 0, 0, config.eraseTimeUs);
                return;
            case Kind::LockWrite: {
                ++counters.lockWrites;
                uint8_t carried = 0;
                // Lock bits only go from unprogrammed to programmed.
                lockBits &= WrittenBits(Rules().lockWrite, carried);
                StartBusy(Busy::Other, 0, 0, config.lockWriteTimeUs);
                return;
            }
            case Kind::FuseWrite: {
                ++counters.fuseWrites;
                if (Rules().lockBit1LocksFuses && Locked()) {
                    return;
                }
                const size_t index = static_cast<size_t>(FuseWriteIndex(bytes[1]));
                uint8_t carried = 0;
                const uint8_t written = WrittenBits(Rules().fuseWrite[index], carried);
                fuses[index] =
                    static_cast<uint8_t>((fuses[index] & ~carried) | (written & carried));
                StartBusy(Busy::Other, 0, 0, config.lockWriteTimeUs);
                return;
            }
            default:
                return;
        }
    }
};

CSimPort::CSimPort(const SimConfig& config, IPerformanceCounter& counter)
    : m_impl(std::make_shared<Impl>(config, counter)) {}

bool CSimPort::Open(const std::string& deviceName) {
    Impl& s = *m_impl;
    if (s.open) {
        s.lastError = "port " + deviceName + " is already open";
        return false;
    }
    if (s.config.openFails) {
        s.lastError = "cannot open " + deviceName + " (simulated failure)";
        return false;
    }
    s.open = true;
    s.unplugged = false;  // plugged back in
    s.lastLineCallFailed = false;
    s.dtr = s.rts = s.brk = false;
    s.openedName = deviceName;
    s.state = CommState();
    s.timeouts = CommTimeouts();
    s.eventMask = s.inQueue = s.outQueue = 0;
    s.lastError.clear();
    ++s.counters.opens;
    return true;
}

bool CSimPort::SetupComm(uint32_t inQueue, uint32_t outQueue) {
    Impl& s = *m_impl;
    if (!s.ConfigCall(SimPortCall::SetupComm)) {
        return false;
    }
    s.inQueue = inQueue;
    s.outQueue = outQueue;
    return true;
}

bool CSimPort::GetCommState(CommState& state) {
    Impl& s = *m_impl;
    if (!s.ConfigCall(SimPortCall::GetCommState)) {
        return false;
    }
    state = s.state;
    return true;
}

bool CSimPort::SetCommState(const CommState& state) {
    Impl& s = *m_impl;
    if (!s.ConfigCall(SimPortCall::SetCommState)) {
        return false;
    }
    s.state = state;
    return true;
}

bool CSimPort::SetCommMask(uint32_t mask) {
    Impl& s = *m_impl;
    if (!s.ConfigCall(SimPortCall::SetCommMask)) {
        return false;
    }
    s.eventMask = mask;
    return true;
}

bool CSimPort::SetCommTimeouts(const CommTimeouts& timeouts) {
    Impl& s = *m_impl;
    if (!s.ConfigCall(SimPortCall::SetCommTimeouts)) {
        return false;
    }
    s.timeouts = timeouts;
    return true;
}

bool CSimPort::EscapeCommFunction(EscapeCode code) {
    Impl& s = *m_impl;
    switch (code) {
        case SETDTR:
            if (!s.BeginLineCall(SimEvent::SetDtr)) {
                return false;
            }
            ++s.counters.setDtr;
            s.dtr = true;
            return true;
        case CLRDTR:
            if (!s.BeginLineCall(SimEvent::ClrDtr)) {
                return false;
            }
            ++s.counters.clrDtr;
            s.dtr = false;
            return true;
        case SETRTS:
            if (!s.BeginLineCall(SimEvent::SetRts)) {
                return false;
            }
            ++s.counters.setRts;
            if (!s.rts) {
                s.rts = true;
                s.SckRise();
            }
            return true;
        case CLRRTS:
            if (!s.BeginLineCall(SimEvent::ClrRts)) {
                return false;
            }
            ++s.counters.clrRts;
            if (s.rts) {
                s.rts = false;
                s.SckFall();
            }
            return true;
    }
    return false;
}

bool CSimPort::SetCommBreak() {
    Impl& s = *m_impl;
    if (!s.BeginLineCall(SimEvent::SetBreak)) {
        return false;
    }
    ++s.counters.setBreak;
    if (!s.brk) {
        s.brk = true;
        s.AssertReset();
    }
    return true;
}

bool CSimPort::ClearCommBreak() {
    Impl& s = *m_impl;
    if (!s.BeginLineCall(SimEvent::ClearBreak)) {
        return false;
    }
    ++s.counters.clearBreak;
    if (s.brk) {
        s.brk = false;
        s.ReleaseReset();
    }
    return true;
}

bool CSimPort::GetCommModemStatus(uint32_t& status) {
    Impl& s = *m_impl;
    if (!s.BeginLineCall(SimEvent::Status)) {
        return false;
    }
    ++s.counters.statusReads;
    uint32_t lines = 0;
    if (s.Cts()) {
        lines |= MS_CTS_ON;
    }
    if (!s.config.noAdapter) {
        if (s.rts) {
            lines |= MS_DSR_ON;
        }
        if (s.brk) {
            if (s.echoLost) {
                s.echoLostSeen = true;
            } else {
                lines |= MS_RING_ON;
            }
        }
    }
    status = lines;
    return true;
}

void CSimPort::Close() {
    Impl& s = *m_impl;
    if (!s.open) {
        return;
    }
    if (s.brk) {
        ++s.counters.closedWithBreak;
        s.brk = false;
        s.ReleaseReset();
    }
    s.dtr = s.rts = false;
    s.open = false;
    ++s.counters.closes;
}

std::string CSimPort::LastError() const {
    return m_impl->lastError;
}

PortErrorKind CSimPort::LastErrorKind() const {
    return m_impl->lastLineCallFailed ? PortErrorKind::NotAnswering : PortErrorKind::None;
}

void CSimPort::SetStopHook(std::function<void()> hook) {
    m_impl->stopHook = std::move(hook);
}

bool CSimPort::PoweredOff() const {
    return m_impl->poweredOff;
}

std::vector<uint8_t>& CSimPort::Flash() {
    return m_impl->flash;
}

std::vector<uint8_t>& CSimPort::Eeprom() {
    return m_impl->eeprom;
}

const std::vector<uint8_t>& CSimPort::Flash() const {
    return m_impl->flash;
}

const std::vector<uint8_t>& CSimPort::Eeprom() const {
    return m_impl->eeprom;
}

uint8_t CSimPort::LockByte() const {
    return m_impl->LockByte();
}

void CSimPort::SetLockBits(int lockBit1, int lockBit2, int fstrt) {
    Impl& s = *m_impl;
    s.lockBits = WithBit(s.lockBits, kLockBit1, lockBit1 != 0 ? 1 : 0);
    s.lockBits = WithBit(s.lockBits, kLockBit2, lockBit2 != 0 ? 1 : 0);
    const int place = s.Rules().fstrtBit;
    if (place >= 0 && !s.fuses.empty()) {
        s.fuses[0] = WithBit(s.fuses[0], place, fstrt != 0 ? 1 : 0);
    }
}

uint8_t CSimPort::LockBits() const {
    return m_impl->lockBits;
}

void CSimPort::SetLockBitsByte(uint8_t bits) {
    m_impl->lockBits = static_cast<uint8_t>(bits | ~m_impl->Rules().lockBitsUsed);
}

std::vector<uint8_t> CSimPort::Fuses() const {
    return m_impl->fuses;
}

void CSimPort::SetFuses(const std::vector<uint8_t>& fuses) {
    Impl& s = *m_impl;
    for (size_t i = 0; i < s.fuses.size() && i < fuses.size(); ++i) {
        s.fuses[i] = fuses[i];
    }
    s.FusesTakeEffect();
}

bool CSimPort::CutOff() const {
    return m_impl->CutsOff(m_impl->fuses);
}

void CSimPort::PowerCycle() {
    m_impl->PowerCycle();
}

bool CSimPort::InProgrammingMode() const {
    return m_impl->progMode;
}

bool CSimPort::IsOpen() const {
    return m_impl->open;
}

bool CSimPort::Dtr() const {
    return m_impl->dtr;
}

bool CSimPort::Rts() const {
    return m_impl->rts;
}

bool CSimPort::Break() const {
    return m_impl->brk;
}

const std::string& CSimPort::OpenedName() const {
    return m_impl->openedName;
}

const CommState& CSimPort::State() const {
    return m_impl->state;
}

const CommTimeouts& CSimPort::Timeouts() const {
    return m_impl->timeouts;
}

uint32_t CSimPort::EventMask() const {
    return m_impl->eventMask;
}

uint32_t CSimPort::InQueue() const {
    return m_impl->inQueue;
}

uint32_t CSimPort::OutQueue() const {
    return m_impl->outQueue;
}

SimConfig& CSimPort::Config() {
    return m_impl->config;
}

const SimCounters& CSimPort::Counters() const {
    // Per-opcode counts live in an array on the hot path; the map is built
    // when someone looks.
    Impl& s = *m_impl;
    s.counters.instructionsByOpcode.clear();
    for (int op = 0; op < kOpcodeCount; ++op) {
        if (s.byOpcode[static_cast<size_t>(op)] != 0) {
            s.counters.instructionsByOpcode[static_cast<uint8_t>(op)] =
                s.byOpcode[static_cast<size_t>(op)];
        }
    }
    return s.counters;
}

void CSimPort::ResetCounters() {
    m_impl->counters = SimCounters();
    m_impl->byOpcode.fill(0);
}

void CSimPort::SetTracing(bool on) {
    m_impl->tracing = on;
}

const std::vector<SimEvent>& CSimPort::Trace() const {
    return m_impl->trace;
}

void CSimPort::ClearTrace() {
    m_impl->trace.clear();
}
