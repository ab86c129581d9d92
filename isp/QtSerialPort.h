// The real serial port: opened, configured and closed through QSerialPort
// (portable, exclusive, with the usual lock file); the line operations go
// straight to the port's native handle, one system call each.
#pragma once

#include <memory>
#include <string>

#include "isp/SerialPort.h"

class QSerialPort;

class CQtSerialPort : public ISerialPort {
public:
    CQtSerialPort();
    ~CQtSerialPort() override;

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
    void Close() override;
    std::string LastError() const override;

private:
    std::unique_ptr<QSerialPort> m_port;
    std::string m_lastError;
};
