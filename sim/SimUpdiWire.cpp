#include "sim/SimUpdiWire.h"

#include <cstdlib>
#include <sstream>

namespace {

constexpr int64_t kNsPerSecond = 1000000000;
constexpr int64_t kNsPerMs = 1000000;
constexpr int kBitsPerFrame = 12;  // start, 8 data, parity, 2 stop
// A 0x00 byte holds the line low for its start bit, 8 data bits and its
// (even) parity bit.
constexpr int kLowBitsOfZero = 10;
constexpr uint8_t kEchoNoise = 0x01;

bool ParseCount(const std::string& value, uint64_t& count) {
    char* end = nullptr;
    const unsigned long long parsed = std::strtoull(value.c_str(), &end, 0);
    if (value.empty() || *end != '\0' || parsed == 0) {
        return false;
    }
    count = parsed;
    return true;
}

}  // namespace

bool ParseSimUpdiFaults(const std::string& text, SSimUpdiFaults& faults, std::string& error) {
    std::stringstream items(text);
    std::string item;
    while (std::getline(items, item, ',')) {
        const size_t eq = item.find('=');
        const std::string key = item.substr(0, eq);
        const std::string value = eq == std::string::npos ? "" : item.substr(eq + 1);
        bool ok = true;
        if (key == "no-adapter" && eq == std::string::npos) {
            faults.noAdapter = true;
        } else if (key == "no-chip" && eq == std::string::npos) {
            faults.noChip = true;
        } else if (key == "unplug-after") {
            ok = ParseCount(value, faults.unplugAfter);
        } else if (key == "power-off-after") {
            ok = ParseCount(value, faults.powerOffAfter);
        } else if (key == "stop-after") {
            ok = ParseCount(value, faults.stopAfter);
        } else if (key == "wrong-echo-after") {
            ok = ParseCount(value, faults.wrongEchoAfter);
        } else {
            ok = false;
        }
        if (!ok) {
            error = "unknown or bad fault: " + item;
            return false;
        }
    }
    return true;
}

CSimUpdiWire::CSimUpdiWire(CSimUpdiTarget* target, CVirtualCounter& clock, SSimUpdiFaults faults)
    : m_target(target), m_clock(clock), m_faults(faults) {}

int64_t CSimUpdiWire::FrameNs() const {
    return kBitsPerFrame * kNsPerSecond / m_baud;
}

bool CSimUpdiWire::SetBaud(uint32_t baud) {
    if (m_unplugged || baud == 0) {
        return false;
    }
    m_baud = baud;
    return true;
}

bool CSimUpdiWire::Write(const uint8_t* data, size_t n) {
    if (m_unplugged || m_baud == 0) {
        return false;
    }
    for (size_t i = 0; i < n; ++i) {
        ++m_sent;
        if (m_faults.unplugAfter != 0 && m_sent >= m_faults.unplugAfter) {
            m_unplugged = true;
            m_rx.clear();
            return false;
        }
        if (m_faults.powerOffAfter != 0 && m_sent >= m_faults.powerOffAfter) {
            m_powered = false;
        }
        if (m_faults.stopAfter != 0 && m_sent == m_faults.stopAfter && m_stop) {
            m_stop();
        }
        const uint8_t byte = data[i];
        m_clock.Advance(FrameNs());
        m_clock.NoteActivity();
        if (!m_faults.noAdapter) {
            const bool noisy = m_faults.wrongEchoAfter != 0 && m_sent == m_faults.wrongEchoAfter;
            m_rx.push_back(noisy ? static_cast<uint8_t>(byte ^ kEchoNoise) : byte);
        }
        if (m_target == nullptr || !m_chipPresent || m_faults.noChip || m_faults.noAdapter ||
            !m_powered) {
            continue;
        }
        if (byte == 0) {
            // The chip tells a BREAK from a data byte by how long the line stays low.
            m_target->LowLevel(kLowBitsOfZero * kNsPerSecond / m_baud);
        }
        m_answers.clear();
        m_target->Receive(byte, m_baud, m_answers);
        for (uint8_t answer : m_answers) {
            m_clock.Advance(FrameNs());
            m_rx.push_back(answer);
        }
    }
    return true;
}

int CSimUpdiWire::Read(uint8_t* data, size_t n, int timeoutMs) {
    if (m_unplugged) {
        return -1;
    }
    size_t got = 0;
    while (got < n && !m_rx.empty()) {
        data[got++] = m_rx.front();
        m_rx.pop_front();
    }
    if (got < n) {
        m_clock.Advance(static_cast<int64_t>(timeoutMs) * kNsPerMs);
    }
    return static_cast<int>(got);
}
