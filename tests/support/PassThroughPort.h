// A port that forwards every call to another one: test ports derive from it
// and override only the calls they watch or change.
#pragma once

#include <cstdint>
#include <string>

#include "ports/SerialPort.h"

class CPassThroughPort : public ISerialPort {
public:
    explicit CPassThroughPort(ISerialPort& port) : m_port(port) {}

    bool Open(const std::string& name) override { return m_port.Open(name); }
    bool SetupComm(uint32_t in, uint32_t out) override { return m_port.SetupComm(in, out); }
    bool GetCommState(CommState& state) override { return m_port.GetCommState(state); }
    bool SetCommState(const CommState& state) override { return m_port.SetCommState(state); }
    bool SetCommMask(uint32_t mask) override { return m_port.SetCommMask(mask); }
    bool SetCommTimeouts(const CommTimeouts& t) override { return m_port.SetCommTimeouts(t); }
    bool EscapeCommFunction(EscapeCode code) override { return m_port.EscapeCommFunction(code); }
    bool SetCommBreak() override { return m_port.SetCommBreak(); }
    bool ClearCommBreak() override { return m_port.ClearCommBreak(); }
    bool GetCommModemStatus(uint32_t& status) override { return m_port.GetCommModemStatus(status); }
    void Close() override { m_port.Close(); }
    std::string LastError() const override { return m_port.LastError(); }
    IIspLines* FastLines() override { return m_port.FastLines(); }
    PortErrorKind LastErrorKind() const override { return m_port.LastErrorKind(); }

protected:
    ISerialPort& m_port;
};
