#include "updi/UpdiLink.h"

#include <algorithm>

#include "updi/UpdiProtocol.h"

using namespace UpdiProto;

namespace {

constexpr int kBitsPerFrame = 12;  // start, 8 data, parity, 2 stop
constexpr int kMsPerSecond = 1000;
constexpr int kBreakEchoTimeoutMs = 200;     // 33 ms of low level and the adapter's latency
constexpr uint32_t kSafeStartBaud = 115200;  // followed at the chip's reset clock
constexpr int kByteBits = 8;
constexpr uint8_t kByteMask = 0xFF;

}  // namespace

const char* UpdiResultText(int result) {
    switch (result) {
        case kUpdiOk:
            return "ok";
        case kUpdiNoEcho:
            return "no echo from the adapter (no adapter, or a broken wire)";
        case kUpdiWrongEcho:
            return "the echo differs from what was sent";
        case kUpdiNoAck:
            return "the chip did not acknowledge a store";
        case kUpdiTimeout:
            return "the chip does not answer";
        case kUpdiWireError:
            return "the adapter refused the call";
        case kUpdiLocked:
            return "the chip is locked";
        case kUpdiKeyRefused:
            return "the chip did not take the key";
        case kUpdiNotProgramming:
            return "the chip did not enter NVM programming";
        case kUpdiNvmError:
            return "the NVM controller reported a write error";
        case kUpdiNvmBusy:
            return "the NVM controller stayed busy";
        case kUpdiBadArgument:
            return "bad size or address";
        case kUpdiUnsupported:
            return "NVM controller version not supported";
        case kUpdiEraseFailed:
            return "chip erase failed: the chip is still locked";
        case kUpdiStopped:
            return "stopped";
        case kUpdiUnknownPart:
            return "unknown signature";
    }
    return "unknown result";
}

CUpdiLink::CUpdiLink(IUpdiWire& wire) : m_wire(wire) {}

int CUpdiLink::TimeoutFor(size_t bytes) const {
    const uint32_t baud = m_baud != 0 ? m_baud : kSafeStartBaud;
    return static_cast<int>(bytes * kBitsPerFrame * kMsPerSecond / baud) + 1 + m_answerTimeoutMs;
}

uint8_t CUpdiLink::AddressSizeBits() const {
    return m_addressBytes == 3 ? kAddress24 : kAddress16;
}

void CUpdiLink::QueueAddress(uint32_t address) {
    for (int i = 0; i < m_addressBytes; ++i) {
        Queue(static_cast<uint8_t>((address >> (kByteBits * i)) & kByteMask));
    }
}

void CUpdiLink::QueueKey(uint64_t key) {
    for (int i = 0; i < kKeyBytes; ++i) {
        Queue(static_cast<uint8_t>((key >> (kByteBits * i)) & kByteMask));
    }
}

int CUpdiLink::Receive(uint8_t* data, size_t n) {
    const size_t sent = m_pending.size();
    if (sent > 0 && !m_wire.Write(m_pending.data(), sent)) {
        m_pending.clear();
        return kUpdiWireError;
    }
    m_counters.bytesSent += sent;
    m_echo.resize(sent + n);
    const int got = m_wire.Read(m_echo.data(), sent + n, TimeoutFor(sent + n));
    if (n > 0) {
        ++m_counters.turnarounds;
    }
    if (got < 0) {
        m_pending.clear();
        return kUpdiWireError;
    }
    const size_t count = static_cast<size_t>(got);
    if (count < sent) {
        m_pending.clear();
        return kUpdiNoEcho;
    }
    if (!std::equal(m_pending.begin(), m_pending.end(), m_echo.begin())) {
        m_pending.clear();
        return kUpdiWrongEcho;
    }
    m_pending.clear();
    m_counters.bytesReceived += count - sent;
    if (count < sent + n) {
        return kUpdiTimeout;
    }
    std::copy(m_echo.begin() + static_cast<long>(sent), m_echo.end(), data);
    return kUpdiOk;
}

int CUpdiLink::Flush() {
    if (m_pending.empty()) {
        return kUpdiOk;
    }
    return Receive(nullptr, 0);
}

int CUpdiLink::ReceiveAck() {
    uint8_t answer = 0;
    const int result = Receive(&answer, 1);
    if (result != kUpdiOk) {
        return result;
    }
    return answer == kAck ? kUpdiOk : kUpdiNoAck;
}

int CUpdiLink::SendBreak() {
    m_pointerKnown = false;
    const int flushed = Flush();
    m_pending.clear();
    m_wire.Discard();
    const uint32_t baud = m_baud;
    if (!m_wire.SetBaud(kBreakBaud)) {
        return kUpdiWireError;
    }
    const uint8_t low = 0x00;
    ++m_counters.breaks;
    if (!m_wire.Write(&low, 1)) {
        return kUpdiWireError;
    }
    uint8_t echo = 0;
    const int got = m_wire.Read(&echo, 1, kBreakEchoTimeoutMs);
    if (baud != 0 && !m_wire.SetBaud(baud)) {
        return kUpdiWireError;
    }
    m_wire.Discard();
    if (got < 0) {
        return kUpdiWireError;
    }
    if (got == 0) {
        return kUpdiNoEcho;
    }
    // The BREAK itself resets the chip's side; an error of what went before
    // does not count against it, but a wire that echoes nothing does.
    (void)flushed;
    return echo == low ? kUpdiOk : kUpdiWrongEcho;
}

int CUpdiLink::SendDoubleBreak() {
    const int first = SendBreak();
    if (first != kUpdiOk) {
        return first;
    }
    return SendBreak();
}

int CUpdiLink::WriteCtrlA() {
    return Stcs(kCtrlA, static_cast<uint8_t>(kGuardTime2Cycles | (m_rsd ? kCtrlARsd : 0)));
}

int CUpdiLink::Connect(uint32_t baud) {
    if (baud == 0 || baud > kMaxBaudAt16MHz) {
        return kUpdiBadArgument;
    }
    const uint32_t start = std::min(baud, kSafeStartBaud);
    m_baud = start;
    if (!m_wire.SetBaud(start)) {
        return kUpdiWireError;
    }
    m_rsd = false;
    int result = SendDoubleBreak();
    if (result != kUpdiOk) {
        return result;
    }
    result = Stcs(kCtrlB, kCtrlBCcDetDis);
    if (result == kUpdiOk) {
        result = WriteCtrlA();
    }
    uint8_t status = 0;
    if (result == kUpdiOk) {
        result = Ldcs(kStatusA, status);
    }
    if (result != kUpdiOk || baud == start) {
        return result;
    }
    const uint8_t clock = baud > kMaxBaudAt8MHz ? kUpdiClock16MHz : kUpdiClock8MHz;
    result = Stcs(kAsiCtrlA, clock);
    if (result == kUpdiOk) {
        result = Flush();
    }
    if (result != kUpdiOk) {
        return result;
    }
    m_baud = baud;
    if (!m_wire.SetBaud(baud)) {
        return kUpdiWireError;
    }
    return Ldcs(kStatusA, status);
}

int CUpdiLink::Disconnect() {
    const int result = Stcs(kCtrlB, static_cast<uint8_t>(kCtrlBCcDetDis | kCtrlBUpdiDis));
    const int flushed = Flush();
    m_rsd = false;
    return result != kUpdiOk ? result : flushed;
}

int CUpdiLink::Ldcs(uint8_t reg, uint8_t& value) {
    Queue(kSynch);
    Queue(static_cast<uint8_t>(kLdcs | (reg & kCsAddressMask)));
    return Receive(&value, 1);
}

int CUpdiLink::Stcs(uint8_t reg, uint8_t value) {
    Queue(kSynch);
    Queue(static_cast<uint8_t>(kStcs | (reg & kCsAddressMask)));
    Queue(value);
    return kUpdiOk;
}

int CUpdiLink::Lds8(uint32_t address, uint8_t& value) {
    Queue(kSynch);
    Queue(static_cast<uint8_t>(kLds | AddressSizeBits() | kData8));
    QueueAddress(address);
    return Receive(&value, 1);
}

int CUpdiLink::Lds16(uint32_t address, uint16_t& value) {
    Queue(kSynch);
    Queue(static_cast<uint8_t>(kLds | AddressSizeBits() | kData16));
    QueueAddress(address);
    uint8_t bytes[2] = {};
    const int result = Receive(bytes, sizeof bytes);
    value = static_cast<uint16_t>(bytes[0] | (bytes[1] << kByteBits));
    return result;
}

int CUpdiLink::Sts8(uint32_t address, uint8_t value) {
    Queue(kSynch);
    Queue(static_cast<uint8_t>(kSts | AddressSizeBits() | kData8));
    QueueAddress(address);
    if (!m_rsd) {
        const int result = ReceiveAck();
        if (result != kUpdiOk) {
            return result;
        }
    }
    Queue(value);
    return m_rsd ? kUpdiOk : ReceiveAck();
}

int CUpdiLink::Sts16(uint32_t address, uint16_t value) {
    Queue(kSynch);
    Queue(static_cast<uint8_t>(kSts | AddressSizeBits() | kData16));
    QueueAddress(address);
    if (!m_rsd) {
        const int result = ReceiveAck();
        if (result != kUpdiOk) {
            return result;
        }
    }
    Queue(static_cast<uint8_t>(value & kByteMask));
    Queue(static_cast<uint8_t>(value >> kByteBits));
    return m_rsd ? kUpdiOk : ReceiveAck();
}

int CUpdiLink::SetPointer(uint32_t address) {
    m_pointerKnown = true;
    m_pointer = address;
    Queue(kSynch);
    Queue(static_cast<uint8_t>(kSt | kPtrRegister | (m_addressBytes == 3 ? kData24 : kData16)));
    QueueAddress(address);
    return m_rsd ? kUpdiOk : ReceiveAck();
}

int CUpdiLink::Repeat(size_t count) {
    if (count < 1 || count > kMaxRepeatTransfers) {
        return kUpdiBadArgument;
    }
    Queue(kSynch);
    Queue(static_cast<uint8_t>(kRepeat | kData8));
    Queue(static_cast<uint8_t>(count - 1));
    return kUpdiOk;
}

int CUpdiLink::Ld(EUpdiPointer mode, uint8_t* data, size_t count) {
    if (count < 1 || count > kMaxRepeatTransfers) {
        return kUpdiBadArgument;
    }
    Queue(kSynch);
    Queue(static_cast<uint8_t>(kLd | (mode == EUpdiPointer::kPostInc ? kPtrPostInc : kPtrIndirect) |
                               kData8));
    if (mode == EUpdiPointer::kPostInc) {
        m_pointer += static_cast<uint32_t>(count);
    }
    const int result = Receive(data, count);
    m_pointerKnown = m_pointerKnown && result == kUpdiOk;
    return result;
}

int CUpdiLink::St(EUpdiPointer mode, const uint8_t* data, size_t count) {
    if (count < 1 || count > kMaxRepeatTransfers) {
        return kUpdiBadArgument;
    }
    Queue(kSynch);
    Queue(static_cast<uint8_t>(kSt | (mode == EUpdiPointer::kPostInc ? kPtrPostInc : kPtrIndirect) |
                               kData8));
    if (mode == EUpdiPointer::kPostInc) {
        m_pointer += static_cast<uint32_t>(count);
    }
    for (size_t i = 0; i < count; ++i) {
        Queue(data[i]);
        if (!m_rsd) {
            const int result = ReceiveAck();
            if (result != kUpdiOk) {
                return result;
            }
        }
    }
    return kUpdiOk;
}

int CUpdiLink::ReadBlock(uint32_t address, uint8_t* data, size_t count) {
    // The pointer left after the last block often is where this one starts.
    int result = m_pointerKnown && m_pointer == address ? kUpdiOk : SetPointer(address);
    if (result == kUpdiOk && count > 1) {
        result = Repeat(count);
    }
    return result == kUpdiOk ? Ld(EUpdiPointer::kPostInc, data, count) : result;
}

int CUpdiLink::LdPostInc(uint8_t dataSize, uint8_t* data, size_t transfers) {
    const size_t bytesPerTransfer = dataSize == kData16 ? 2 : 1;
    Queue(kSynch);
    Queue(static_cast<uint8_t>(kLd | kPtrPostInc | dataSize));
    m_pointer += static_cast<uint32_t>(transfers * bytesPerTransfer);
    const int result = Receive(data, transfers * bytesPerTransfer);
    m_pointerKnown = m_pointerKnown && result == kUpdiOk;
    return result;
}

int CUpdiLink::ReadWords(uint32_t address, uint8_t* data, size_t words) {
    if (words < 1 || words > kMaxRepeatTransfers) {
        return kUpdiBadArgument;
    }
    int result = m_pointerKnown && m_pointer == address ? kUpdiOk : SetPointer(address);
    if (result == kUpdiOk && words > 1) {
        result = Repeat(words);
    }
    return result == kUpdiOk ? LdPostInc(kData16, data, words) : result;
}

int CUpdiLink::StPostInc(uint8_t dataSize, const uint8_t* data, size_t transfers) {
    const size_t bytesPerTransfer = dataSize == kData16 ? 2 : 1;
    Queue(kSynch);
    Queue(static_cast<uint8_t>(kSt | kPtrPostInc | dataSize));
    m_pointer += static_cast<uint32_t>(transfers * bytesPerTransfer);
    for (size_t i = 0; i < transfers; ++i) {
        for (size_t b = 0; b < bytesPerTransfer; ++b) {
            Queue(data[i * bytesPerTransfer + b]);
        }
        if (!m_rsd) {
            const int result = ReceiveAck();
            if (result != kUpdiOk) {
                m_pointerKnown = false;
                return result;
            }
        }
    }
    return kUpdiOk;
}

int CUpdiLink::WriteWords(uint32_t address, const uint8_t* data, size_t words) {
    if (words < 1 || words > kMaxRepeatTransfers) {
        return kUpdiBadArgument;
    }
    int result = m_pointerKnown && m_pointer == address ? kUpdiOk : SetPointer(address);
    if (result == kUpdiOk && words > 1) {
        result = Repeat(words);
    }
    return result == kUpdiOk ? StPostInc(kData16, data, words) : result;
}

int CUpdiLink::WriteBlock(uint32_t address, const uint8_t* data, size_t count) {
    int result = m_pointerKnown && m_pointer == address ? kUpdiOk : SetPointer(address);
    if (result == kUpdiOk && count > 1) {
        result = Repeat(count);
    }
    return result == kUpdiOk ? St(EUpdiPointer::kPostInc, data, count) : result;
}

int CUpdiLink::Idle(uint32_t us) {
    constexpr uint64_t kUsPerSecond = 1000000;
    constexpr uint64_t kStoreBytes = 3;  // SYNCH, STCS, value
    const uint64_t bits = static_cast<uint64_t>(us) * m_baud / kUsPerSecond;
    const uint64_t stores =
        (bits + kBitsPerFrame * kStoreBytes - 1) / (kBitsPerFrame * kStoreBytes);
    for (uint64_t i = 0; i < stores; ++i) {
        WriteCtrlA();
    }
    return kUpdiOk;
}

int CUpdiLink::Key(uint64_t key) {
    Queue(kSynch);
    Queue(static_cast<uint8_t>(kKey | kKeySize64));
    QueueKey(key);
    return kUpdiOk;
}

int CUpdiLink::ReadSib(uint8_t* data, size_t size) {
    if (size != static_cast<size_t>(kSibShortBytes) && size != static_cast<size_t>(kSibBytes)) {
        return kUpdiBadArgument;
    }
    Queue(kSynch);
    Queue(static_cast<uint8_t>(kKey | kKeySib | (size == kSibBytes ? kKeySize128 : kKeySize64)));
    return Receive(data, size);
}

int CUpdiLink::SetResponseSignatures(bool on) {
    m_rsd = !on;
    return WriteCtrlA();
}
