// A minimal host that drives the simulated port line by line, independent of
// the adapter, so the simulator's own behaviour can be checked.
#pragma once

#include <cstdint>

#include "sim/SimTarget.h"
#include "sim/VirtualCounter.h"

class CSimTestHost {
public:
    static constexpr int64_t kResetSetupUs = 20000;
    static constexpr int kInstructionBits = 32;

    CSimTestHost(CSimPort& port, CVirtualCounter& counter) : m_port(port), m_counter(counter) {}

    void WaitUs(int64_t us) {
        const int64_t end = m_counter.Now() + us * 1000;
        while (m_counter.Query() < end) {
        }
    }

    // MSB first: MOSI, SCK up, read MISO, SCK down.
    uint32_t Transfer(uint32_t instruction) {
        uint32_t answer = 0;
        for (int bit = kInstructionBits - 1; bit >= 0; --bit) {
            m_port.EscapeCommFunction(((instruction >> bit) & 1u) != 0 ? SETDTR : CLRDTR);
            m_port.EscapeCommFunction(SETRTS);
            uint32_t status = 0;
            m_port.GetCommModemStatus(status);
            m_port.EscapeCommFunction(CLRRTS);
            answer = (answer << 1) | ((status & MS_CTS_ON) != 0 ? 1u : 0u);
        }
        return answer;
    }

    void SckPulse() {
        m_port.EscapeCommFunction(SETRTS);
        m_port.EscapeCommFunction(CLRRTS);
    }

    // RESET asserted afresh with SCK low.
    void AssertReset() {
        m_port.EscapeCommFunction(CLRRTS);
        m_port.ClearCommBreak();
        m_port.SetCommBreak();
    }

    static uint8_t Echo(uint32_t answer) { return static_cast<uint8_t>(answer >> 8); }

    // Reset, the setup time, one Programming Enable: true when 0x53 came back.
    bool Enter() {
        AssertReset();
        WaitUs(kResetSetupUs);
        return Echo(Transfer(kProgrammingEnable)) == kEnableEcho;
    }

    uint8_t Read(uint32_t instruction) { return static_cast<uint8_t>(Transfer(instruction)); }

    static constexpr uint32_t kProgrammingEnable = 0xAC530000;
    static constexpr uint8_t kEnableEcho = 0x53;
    static constexpr uint32_t kChipErase = 0xAC800000;

    static uint32_t Instr(uint8_t op, int address, uint8_t data = 0) {
        return static_cast<uint32_t>(op) << 24 | (static_cast<uint32_t>(address) & 0xFFFF) << 8 |
               data;
    }

private:
    CSimPort& m_port;
    CVirtualCounter& m_counter;
};
