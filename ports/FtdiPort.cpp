#include "ports/FtdiPort.h"

#include <algorithm>
#include <cctype>

#include "base/NameText.h"

namespace {

// The cable's UART pins in bit-bang mode (D0 to D7).
constexpr uint8_t kPinTxd = 0x01;  // RESET: the break
constexpr uint8_t kPinRts = 0x04;  // SCK
constexpr uint8_t kPinCts = 0x08;  // MISO
constexpr uint8_t kPinDtr = 0x10;  // MOSI
constexpr uint8_t kPinDsr = 0x20;  // the RTS loop
constexpr uint8_t kPinRi = 0x80;   // the RESET echo
constexpr uint8_t kOutputPins = kPinTxd | kPinRts | kPinDtr;

constexpr int kInstructionBits = 32;
constexpr size_t kStatesPerBit = 2;  // MOSI with SCK low, then SCK high
// Instructions a batch is worth: a page of a large part goes down in one.
constexpr size_t kFtdiBatchLength = 512;
// Each step down divides the pin clock by this much.
constexpr int kSlowDownFactor = 4;
constexpr const char* kTtlOption = "ttl";
constexpr const char* kClockOption = "clock=";
constexpr size_t kMaxClockDigits = 7;
constexpr int kDecimalBase = 10;
constexpr char kSeparator = ',';

}  // namespace

bool ParseFtdiOption(const std::string& item, FtdiPortOptions& options, std::string& error,
                     bool& known) {
    known = true;
    if (EqualNoCase(item, kTtlOption)) {
        options.ttl = true;
        return true;
    }
    const std::string clock = kClockOption;
    if (!StartsWithNoCase(item, clock)) {
        known = false;
        return false;
    }
    const std::string digits = item.substr(clock.size());
    int hz = 0;
    const bool number = !digits.empty() && digits.size() <= kMaxClockDigits &&
                        std::all_of(digits.begin(), digits.end(), [](char c) {
                            return std::isdigit(static_cast<unsigned char>(c)) != 0;
                        });
    for (char c : number ? digits : std::string()) {
        hz = hz * kDecimalBase + (c - '0');
    }
    if (!number || hz < kMinPinClockHz || hz > kMaxPinClockHz) {
        error = "pin clock \"" + digits + "\" is not a number of Hz from " +
                std::to_string(kMinPinClockHz) + " to " + std::to_string(kMaxPinClockHz);
        return false;
    }
    options.pinClockHz = hz;
    return true;
}

bool ParseFtdiPortName(const std::string& name, FtdiPortOptions& options, std::string& error) {
    const std::string prefix = kFtdiPortPrefix;
    if (!StartsWithNoCase(name, prefix)) {
        error = "\"" + name + "\" is no ftdi: port name";
        return false;
    }
    FtdiPortOptions parsed;
    bool serialGiven = false;
    size_t start = prefix.size();
    for (;;) {
        const size_t comma = name.find(kSeparator, start);
        const std::string item = name.substr(start, comma - start);
        bool known = false;
        if (!item.empty() && !ParseFtdiOption(item, parsed, error, known)) {
            if (known) {
                return false;
            }
            if (serialGiven) {
                error = "\"" + item + "\" in \"" + name +
                        "\" is neither ttl nor clock=<Hz>, and the serial number is given";
                return false;
            }
            parsed.serial = item;
            serialGiven = true;
        }
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    options = parsed;
    return true;
}

CFtdiPort::CFtdiPort(IFtdiDevice& device, const FtdiPortOptions& options)
    : m_device(device), m_options(options), m_pinClockHz(options.pinClockHz) {}

bool CFtdiPort::Open(const std::string&) {
    m_pinClockHz = m_options.pinClockHz;
    m_open = m_device.Open(m_options.serial, kOutputPins, m_pinClockHz);
    m_reset = false;
    m_sck = false;
    m_mosi = false;
    return m_open && Update();
}

void CFtdiPort::Close() {
    if (m_open) {
        m_device.Close();
    }
    m_open = false;
}

uint8_t CFtdiPort::Pins(bool reset, bool sck, bool mosi) const {
    // Through an RS-232 transceiver a line that is set is the pin driven low.
    const bool invert = !m_options.ttl;
    uint8_t pins = 0;
    pins |= (reset != invert) ? kPinTxd : 0;
    pins |= (sck != invert) ? kPinRts : 0;
    pins |= (mosi != invert) ? kPinDtr : 0;
    return pins;
}

bool CFtdiPort::PinSet(uint8_t sample, uint8_t pin) const {
    const bool high = (sample & pin) != 0;
    return m_options.ttl ? high : !high;
}

bool CFtdiPort::Exchange(const std::vector<uint8_t>& out, std::vector<uint8_t>& samples) {
    samples.assign(out.size(), 0);
    for (size_t at = 0; at < out.size(); at += kFtdiMaxExchange) {
        const size_t count = std::min(kFtdiMaxExchange, out.size() - at);
        if (!m_open || !m_device.Exchange(out.data() + at, samples.data() + at, count)) {
            return false;
        }
    }
    return true;
}

bool CFtdiPort::Update(uint8_t* sample) {
    // The byte's own sample is taken before it goes out; one more byte with
    // the same levels samples the inputs as they answer the new levels.
    const uint8_t pins = Pins(m_reset, m_sck, m_mosi);
    std::vector<uint8_t> samples;
    const bool ok = Exchange({pins, pins}, samples);
    if (sample != nullptr) {
        *sample = samples.back();
    }
    return ok;
}

bool CFtdiPort::EscapeCommFunction(EscapeCode code) {
    switch (code) {
        case SETRTS:
        case CLRRTS:
            m_sck = code == SETRTS;
            break;
        case SETDTR:
        case CLRDTR:
            m_mosi = code == SETDTR;
            break;
        default:
            return false;
    }
    return Update();
}

bool CFtdiPort::SetCommBreak() {
    m_reset = true;
    return Update();
}

bool CFtdiPort::ClearCommBreak() {
    m_reset = false;
    return Update();
}

bool CFtdiPort::GetCommModemStatus(uint32_t& status) {
    uint8_t sample = 0;
    if (!Update(&sample)) {
        return false;
    }
    status = (PinSet(sample, kPinCts) ? MS_CTS_ON : 0) | (PinSet(sample, kPinDsr) ? MS_DSR_ON : 0) |
             (PinSet(sample, kPinRi) ? MS_RING_ON : 0);
    return true;
}

bool CFtdiPort::Shift(const uint32_t* instructions, const uint32_t*, uint32_t* answers,
                      size_t count) {
    // Every answer bit comes with the samples at no extra cost, so all are
    // taken. The sample of the byte after a bit's SCK-high state holds MISO
    // as the target drove it while SCK was high; one trailing state with SCK
    // low gives the last bit its sample.
    std::vector<uint8_t> out;
    out.reserve(count * kInstructionBits * kStatesPerBit + 1);
    for (size_t i = 0; i < count; ++i) {
        for (int bit = kInstructionBits - 1; bit >= 0; --bit) {
            m_mosi = ((instructions[i] >> bit) & 1u) != 0;
            out.push_back(Pins(m_reset, false, m_mosi));
            out.push_back(Pins(m_reset, true, m_mosi));
        }
    }
    m_sck = false;
    out.push_back(Pins(m_reset, false, m_mosi));
    std::vector<uint8_t> samples;
    const bool ok = Exchange(out, samples);
    for (size_t i = 0; i < count; ++i) {
        uint32_t answer = 0;
        for (int k = 0; k < kInstructionBits; ++k) {
            const size_t high = (i * kInstructionBits + static_cast<size_t>(k)) * kStatesPerBit + 1;
            answer = (answer << 1) | (PinSet(samples[high + 1], kPinCts) ? 1u : 0u);
        }
        answers[i] = ok ? answer : 0;
    }
    return ok;
}

size_t CFtdiPort::BatchLength() const {
    return kFtdiBatchLength;
}

void CFtdiPort::RestoreSpeed() {
    if (m_open && m_pinClockHz != m_options.pinClockHz &&
        m_device.SetPinClock(m_options.pinClockHz)) {
        m_pinClockHz = m_options.pinClockHz;
    }
}

bool CFtdiPort::SlowDown() {
    const int slower = m_pinClockHz / kSlowDownFactor;
    if (!m_open || slower < kMinPinClockHz || !m_device.SetPinClock(slower)) {
        return false;
    }
    m_pinClockHz = slower;
    return true;
}
