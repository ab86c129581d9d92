#include "sim/SimTarget.h"

#include <algorithm>
#include <cstring>

#include "isp/DeviceTable.h"
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
constexpr uint8_t kEraseSecond = 0x80;
constexpr uint32_t kEnableInstruction = 0xAC530000;
constexpr uint8_t kLockWriteBase = 0xF9;  // second byte with both lock bit values 0
constexpr uint8_t kLockWriteBit1 = 0x02;
constexpr uint8_t kLockWriteBit2 = 0x04;
constexpr uint8_t kLockWriteValueBits = kLockWriteBit1 | kLockWriteBit2;
constexpr uint8_t kFstrtProgram = 0xBE;
constexpr uint8_t kFstrtKeep = 0xBF;
constexpr uint8_t kOpReadProgLow = 0x20;
constexpr uint8_t kOpReadProgHigh = 0x28;
constexpr uint8_t kOpWriteProgLow = 0x40;
constexpr uint8_t kOpWriteProgHigh = 0x48;
constexpr uint8_t kOpReadData = 0xA0;
constexpr uint8_t kOpWriteData = 0xC0;
constexpr uint8_t kOpReadLock = 0x58;
constexpr uint8_t kOpReadSignature = 0x30;

constexpr uint8_t kErased = 0xFF;
constexpr int kSignatureBytes = 3;
constexpr uint8_t kNoSignatureByte = 0xFF;

// Read Lock and Fuse Bits: bit positions and the bits that always read 1.
constexpr int kLockBit1Shift = 7;
constexpr int kLockBit2Shift = 6;
constexpr int kFstrtShift = 0;
constexpr uint8_t kLockReadOnes = 0x1E;  // bits 4 to 1; SPIEN (bit 5) reads 0

constexpr uint8_t kAtmel = 0x1E;

struct RealPart {
    const char* name;
    uint8_t sizeCode;
    uint8_t partCode;
};

// Signature bytes 1 and 2 of the real parts behind the table rows (byte 0 is
// Atmel's 0x1E for all). Kept apart from the device table so that tests
// against the simulator catch a wrong table row.
constexpr RealPart kRealParts[] = {
    {"AT90S8535", 0x93, 0x03}, {"AT90S4434", 0x92, 0x02}, {"AT90S1200", 0x90, 0x01},
    {"AT90S4414", 0x92, 0x01}, {"AT90S8515", 0x93, 0x01}, {"AT90S2313", 0x91, 0x01},
    {"AT90S2323", 0x91, 0x02}, {"AT90S2343", 0x91, 0x03}, {"ATtiny10/11/12", 0x90, 0x59},
    {"AT90S4433", 0x92, 0x03}, {"AT90S2333", 0x91, 0x05}, {"ATtiny15", 0x90, 0x06},
    {"ATtiny22", 0x91, 0x06},  {"ATmega103", 0x97, 0x01}, {"ATmega161", 0x94, 0x01},
};

bool IsReadOpcode(uint8_t op) {
    return op == kOpReadProgLow || op == kOpReadProgHigh || op == kOpReadData ||
           op == kOpReadLock || op == kOpReadSignature;
}

bool Contains(const std::vector<int>& addresses, int address) {
    return !addresses.empty() &&
           std::find(addresses.begin(), addresses.end(), address) != addresses.end();
}

}  // namespace

SimConfig SimConfigForDevice(int deviceIndex) {
    SimConfig config;
    if (deviceIndex < 0 || deviceIndex >= kDeviceCount) {
        return config;
    }
    const DeviceInfo& row = g_deviceTable[deviceIndex];
    config.progSize = row.progSize;
    config.dataSize = row.dataSize;
    config.pollProg = row.pollProg;
    config.pollData1 = row.pollData1;
    config.pollData2 = row.pollData2;
    for (const RealPart& part : kRealParts) {
        if (std::strcmp(part.name, row.name) == 0) {
            config.signature = {{kAtmel, part.sizeCode, part.partCode}};
        }
    }
    return config;
}

struct CSimPort::Impl {
    enum class Busy { None, Flash, Eeprom, Other };

    Impl(const SimConfig& c, IPerformanceCounter& counter)
        : config(c),
          counter(counter),
          virtualCounter(dynamic_cast<CVirtualCounter*>(&counter)),
          flash(static_cast<size_t>(std::max(c.progSize, 0)), kErased),
          eeprom(static_cast<size_t>(std::max(c.dataSize, 0)), kErased) {}

    SimConfig config;
    IPerformanceCounter& counter;
    CVirtualCounter* virtualCounter;

    // The chip.
    std::vector<uint8_t> flash;
    std::vector<uint8_t> eeprom;
    int lockBit1 = 1, lockBit2 = 1, fstrt = 1;

    // The port.
    bool open = false;
    bool dtr = false, rts = false, brk = false;
    std::string lastError;
    std::string openedName;
    CommState state;
    CommTimeouts timeouts;
    uint32_t eventMask = 0, inQueue = 0, outQueue = 0;
    uint64_t lineCallsEver = 0;

    // The target's serial interface.
    bool progMode = false;
    bool resetWithSckLow = false;
    int64_t resetTimeNs = 0;
    int bitPos = 0;  // bits of the current instruction received
    uint8_t shiftIn = 0;
    uint32_t history = 0;  // the last 32 bits received, whatever the framing
    std::array<uint8_t, kBytesPerInstruction> bytes{};
    uint8_t outByte = 0;  // shifted out during the current byte
    bool miso = false;
    bool answeredAtThirdByte = false;
    uint64_t instructionsEver = 0;

    // A write in progress.
    Busy busy = Busy::None;
    size_t busyAddress = 0;
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
        }
        // A negative failAfterLineOps turns into a count never reached.
        const bool pulled = lineCallsEver >= static_cast<uint64_t>(config.failAfterLineOps);
        if (!open | config.lineOpsFail | pulled) {
            ++counters.failedLineOps;
            return false;
        }
        ++counters.lineOps;
        if (tracing) {
            trace.push_back(SimEvent{kind, NowNs()});
        }
        return true;
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

    bool TargetConnected() const { return !config.noAdapter && !config.noTarget; }
    bool TargetListening() const { return brk && TargetConnected(); }

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
        return brk && miso;
    }

    void AssertReset() {
        const int frame = config.outOfStepBits % kBitsPerInstruction;
        bitPos = frame < 0 ? frame + kBitsPerInstruction : frame;
        shiftIn = 0;
        history = 0;
        outByte = 0;
        miso = false;
        progMode = false;
        answeredAtThirdByte = false;
        resetWithSckLow = !rts;
        resetTimeNs = NowNs();
        if (echoLossPending) {
            echoLost = true;
            echoLossPending = false;
        }
    }

    void ReleaseReset() {
        progMode = false;
        miso = false;
        if (echoLostSeen) {
            echoLost = false;
            echoLostSeen = false;
        }
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
        if (progMode && bitPos != 0 && history == kEnableInstruction) {
            Reframe();
        }
    }

    // An enabled target that sees a whole Programming Enable out of its own
    // framing (after a stray clock pulse) takes it as the end of an
    // instruction: the partial instruction is dropped and the next bit starts
    // a new one. Only a complete AC 53 00 00 does this, which no other
    // instruction sequence of the programmer contains at any bit position.
    void Reframe() {
        bitPos = 0;
        outByte = static_cast<uint8_t>(history);  // the echo of the last byte
        answeredAtThirdByte = false;
        ++counters.programmingEnables;
        ++counters.reframes;
    }

    void SckFall() {
        if (!TargetListening()) {
            return;
        }
        miso = ((outByte >> (kTopBit - bitPos % kBitsPerByte)) & 1) != 0;
    }

    // index: 1 to 4, the byte of the instruction just completed.
    void ByteReceived(int index, uint8_t value) {
        bytes[static_cast<size_t>(index - 1)] = value;
        // In programming mode each byte is echoed during the next one.
        uint8_t out = progMode ? value : 0;
        if (index == 2 && bytes[0] == kOpPrefixAc && value == kEnableSecond) {
            if (AcceptEnable()) {
                out = kEnableSecond;
            }
        } else if (index == 3 && progMode && IsReadOpcode(bytes[0])) {
            out = ReadAnswer(value);
            answeredAtThirdByte = true;
        } else if (index == kBytesPerInstruction) {
            InstructionReceived();
            bitPos = 0;
            answeredAtThirdByte = false;
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

    void StartBusy(Busy kind, size_t address, int64_t us) {
        busy = kind;
        busyAddress = address;
        busyUntilNs = NowNs() + us * kNsPerUs;
        busyPolls = 0;
    }

    size_t ProgAddress() const {
        const size_t word = static_cast<size_t>(bytes[1]) << kBitsPerByte | bytes[2];
        const size_t high = (bytes[0] == kOpReadProgHigh || bytes[0] == kOpWriteProgHigh) ? 1 : 0;
        return (word * 2 + high) % flash.size();
    }

    size_t DataAddress() const {
        const size_t address = static_cast<size_t>(bytes[1]) << kBitsPerByte | bytes[2];
        return address % eeprom.size();
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
        if (busy != Busy::None && IsBusy(NowNs())) {
            if (flashRead && busy == Busy::Flash && !flash.empty() &&
                ProgAddress() == busyAddress) {
                return config.pollProg;
            }
            if (op == kOpReadData && busy == Busy::Eeprom && !eeprom.empty() &&
                DataAddress() == busyAddress) {
                return busyPolls++ == 0 ? config.pollData1 : config.pollData2;
            }
            ++counters.protocolErrors;
            return echo;
        }
        switch (op) {
            case kOpReadProgLow:
            case kOpReadProgHigh:
                return flash.empty() ? kErased : flash[ProgAddress()];
            case kOpReadData:
                return eeprom.empty() ? kErased : eeprom[DataAddress()];
            case kOpReadLock:
                return LockByte();
            default: {
                const uint8_t index = bytes[2];
                return index < kSignatureBytes ? config.signature[index] : kNoSignatureByte;
            }
        }
    }

    uint8_t LockByte() const {
        return static_cast<uint8_t>(lockBit1 << kLockBit1Shift | lockBit2 << kLockBit2Shift |
                                    kLockReadOnes | fstrt << kFstrtShift);
    }

    enum class Kind { Read, Enable, ProgWrite, DataWrite, Erase, LockWrite, FstrtWrite, Unknown };

    Kind Classify() const {
        const uint8_t op = bytes[0];
        if (IsReadOpcode(op)) {
            return Kind::Read;
        }
        if (op == kOpWriteProgLow || op == kOpWriteProgHigh) {
            return Kind::ProgWrite;
        }
        if (op == kOpWriteData) {
            return Kind::DataWrite;
        }
        if (op == kOpPrefixAc) {
            const uint8_t second = bytes[1];
            if (second == kEnableSecond) {
                return Kind::Enable;
            }
            if (second == kEraseSecond) {
                return Kind::Erase;
            }
            if ((second & ~kLockWriteValueBits) == kLockWriteBase) {
                return Kind::LockWrite;
            }
            if (second == kFstrtProgram || second == kFstrtKeep) {
                return Kind::FstrtWrite;
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

    void Execute(Kind kind) {
        const uint8_t data = bytes[3];
        switch (kind) {
            case Kind::ProgWrite: {
                ++counters.progWrites;
                if (flash.empty()) {
                    return;
                }
                if (lockBit1 == 0) {
                    ++counters.writesWhileLocked;
                    return;
                }
                const size_t address = ProgAddress();
                if (!Contains(config.stuckProgBytes, static_cast<int>(address))) {
                    flash[address] &= data;  // flash cells can only lose bits
                }
                StartBusy(Busy::Flash, address, config.writeTimeUs);
                return;
            }
            case Kind::DataWrite: {
                ++counters.dataWrites;
                if (eeprom.empty()) {
                    return;
                }
                if (lockBit1 == 0) {
                    ++counters.writesWhileLocked;
                    return;
                }
                const size_t address = DataAddress();
                if (!Contains(config.stuckDataBytes, static_cast<int>(address))) {
                    eeprom[address] = data;  // erased automatically before the write
                }
                StartBusy(Busy::Eeprom, address, config.writeTimeUs);
                return;
            }
            case Kind::Erase:
                ++counters.chipErases;
                if (config.eraseFails) {
                    echoLossPending = true;
                } else {
                    std::fill(flash.begin(), flash.end(), kErased);
                    std::fill(eeprom.begin(), eeprom.end(), kErased);
                    lockBit1 = lockBit2 = fstrt = 1;
                }
                StartBusy(Busy::Other, 0, config.eraseTimeUs);
                return;
            case Kind::LockWrite: {
                ++counters.lockWrites;
                const uint8_t second = bytes[1];
                // Lock bits only go from unprogrammed to programmed.
                lockBit1 &= (second & kLockWriteBit1) != 0 ? 1 : 0;
                lockBit2 &= (second & kLockWriteBit2) != 0 ? 1 : 0;
                StartBusy(Busy::Other, 0, config.lockWriteTimeUs);
                return;
            }
            case Kind::FstrtWrite:
                ++counters.lockWrites;
                fstrt &= bytes[1] == kFstrtKeep ? 1 : 0;
                StartBusy(Busy::Other, 0, config.lockWriteTimeUs);
                return;
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
    m_impl->lockBit1 = lockBit1 != 0 ? 1 : 0;
    m_impl->lockBit2 = lockBit2 != 0 ? 1 : 0;
    m_impl->fstrt = fstrt != 0 ? 1 : 0;
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
