#include "sim/SimFtdiCable.h"

namespace {

// The adapter's lines on the cable's pins (D0 to D7).
constexpr uint8_t kPinTxd = 0x01;
constexpr uint8_t kPinRts = 0x04;
constexpr uint8_t kPinCts = 0x08;
constexpr uint8_t kPinDtr = 0x10;
constexpr uint8_t kPinDsr = 0x20;
constexpr uint8_t kPinRi = 0x80;
constexpr int64_t kNsPerSecond = 1000000000;

}  // namespace

CSimFtdiCable::CSimFtdiCable(CSimPort& target, IPerformanceCounter& counter, bool ttl,
                             uint64_t unplugAfter)
    : m_target(target),
      m_virtual(dynamic_cast<CVirtualCounter*>(&counter)),
      m_ttl(ttl),
      m_unplugAfter(unplugAfter) {}

bool CSimFtdiCable::Open(const std::string&, uint8_t outputMask, int pinClockHz) {
    if (m_unplugAfter != 0 && m_counters.exchanges >= m_unplugAfter) {
        m_error = "no FT232R or FT231X cable could be opened";
        return false;
    }
    if (!m_target.Open("ftdi")) {
        m_error = m_target.LastError();
        return false;
    }
    m_open = true;
    m_outputMask = outputMask;
    m_pinClockHz = pinClockHz;
    // Bit-bang mode starts with every output high: through the transceiver
    // every line clear.
    m_pins = 0xFF;
    Put(m_pins);
    return true;
}

bool CSimFtdiCable::SetPinClock(int pinClockHz) {
    m_pinClockHz = pinClockHz;
    if (m_slowestPinClockHz == 0 || pinClockHz < m_slowestPinClockHz) {
        m_slowestPinClockHz = pinClockHz;
    }
    return m_open;
}

bool CSimFtdiCable::LineSet(uint8_t pins, uint8_t pin) const {
    const bool high = (pins & pin) != 0;
    return m_ttl ? high : !high;
}

void CSimFtdiCable::Advance(int64_t ns) {
    if (m_virtual != nullptr) {
        m_virtual->Advance(ns);
    }
}

uint8_t CSimFtdiCable::Sample() {
    uint32_t status = 0;
    m_target.GetCommModemStatus(status);
    // Inputs as the cable's pins show them; outputs read back as driven.
    auto pin = [this](bool set, uint8_t bit) -> uint8_t { return set != !m_ttl ? bit : 0; };
    uint8_t inputs = static_cast<uint8_t>(pin((status & MS_CTS_ON) != 0, kPinCts) |
                                          pin((status & MS_DSR_ON) != 0, kPinDsr) |
                                          pin((status & MS_RING_ON) != 0, kPinRi));
    return static_cast<uint8_t>((m_pins & m_outputMask) | (inputs & ~m_outputMask));
}

void CSimFtdiCable::Put(uint8_t pins) {
    // The adapter sees the pins as lines; RESET first, then MOSI, then SCK.
    // All pins of a byte change at once, so MOSI changing in the state that
    // raises SCK has no setup time: the chip may well sample the old level.
    // That is counted, and the chip is given the old level.
    const uint8_t changed = static_cast<uint8_t>((pins ^ m_pins) | (m_open ? 0 : 0xFF));
    const bool sckRises = m_open && (changed & kPinRts) != 0 && LineSet(pins, kPinRts);
    const bool noSetup = sckRises && (changed & kPinDtr) != 0;
    m_pins = pins;
    if ((changed & kPinTxd) != 0) {
        LineSet(pins, kPinTxd) ? m_target.SetCommBreak() : m_target.ClearCommBreak();
    }
    if (noSetup) {
        ++m_counters.setupFaults;
        m_target.EscapeCommFunction(SETRTS);
    }
    if ((changed & kPinDtr) != 0) {
        m_target.EscapeCommFunction(LineSet(pins, kPinDtr) ? SETDTR : CLRDTR);
    }
    if ((changed & kPinRts) != 0 && !noSetup) {
        m_target.EscapeCommFunction(LineSet(pins, kPinRts) ? SETRTS : CLRRTS);
    }
}

bool CSimFtdiCable::Exchange(const uint8_t* out, uint8_t* samples, size_t count) {
    if (!m_open || (m_unplugAfter != 0 && m_counters.exchanges >= m_unplugAfter)) {
        m_error = "the cable stopped answering";
        return false;
    }
    ++m_counters.exchanges;
    Advance(kUsbRoundTripNs);
    if (count > kFtdiMaxExchange) {
        ++m_counters.stalls;  // the chip waits for reads that never come
        m_error = "the cable stopped answering";
        return false;
    }
    const int64_t tickNs = m_pinClockHz > 0 ? kNsPerSecond / m_pinClockHz : 0;
    for (size_t i = 0; i < count; ++i) {
        samples[i] = Sample();
        Put(static_cast<uint8_t>((out[i] & m_outputMask) | (m_pins & ~m_outputMask)));
        Advance(tickNs);
    }
    m_counters.samples += count;
    return true;
}

void CSimFtdiCable::Close() {
    if (m_open) {
        m_target.Close();
    }
    m_open = false;
}
