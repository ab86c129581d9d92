// A port that charges every line call the time it takes on real hardware,
// in virtual time: about 2 us on a 16550 UART, about 1 ms (a USB round
// trip) on a USB serial converter.
#pragma once

#include <cstdint>

#include "sim/VirtualCounter.h"
#include "tests/support/PassThroughPort.h"

class CTimedPort : public CPassThroughPort {
public:
    CTimedPort(ISerialPort& port, CVirtualCounter& counter, int64_t costNs)
        : CPassThroughPort(port), m_counter(counter), m_costNs(costNs) {}
    bool EscapeCommFunction(EscapeCode c) override {
        m_counter.Advance(m_costNs);
        return m_port.EscapeCommFunction(c);
    }
    bool SetCommBreak() override {
        m_counter.Advance(m_costNs);
        return m_port.SetCommBreak();
    }
    bool ClearCommBreak() override {
        m_counter.Advance(m_costNs);
        return m_port.ClearCommBreak();
    }
    bool GetCommModemStatus(uint32_t& s) override {
        m_counter.Advance(m_costNs);
        return m_port.GetCommModemStatus(s);
    }

private:
    CVirtualCounter& m_counter;
    int64_t m_costNs;
};
