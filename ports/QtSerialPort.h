// The real serial port: opened, configured and closed through QSerialPort
// (portable, exclusive, with the usual lock file); the line operations go
// straight to the port's native handle, one system call each.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <QSerialPort>

#include "ports/SerialPort.h"

// Why Qt could not open a serial device, in the kinds the messages tell
// apart (in use, missing, forbidden); the modem-line port and the UPDI wire
// both ask it.
PortErrorKind QtOpenFailureKind(const std::string& deviceName, QSerialPort::SerialPortError error);

class QSerialPort;

// The system calls behind the line operations, on the port's native handle.
// Each gives 0 on success and the system's error number on failure. The
// port uses the system's own unless it is given others, so that tests can
// see which call each line operation makes without an adapter attached.
class ISerialLineCalls {
public:
    virtual ~ISerialLineCalls() = default;
#ifdef _WIN32
    virtual int EscapeCommFunction(HANDLE handle, DWORD code) = 0;
    virtual int SetCommBreak(HANDLE handle) = 0;
    virtual int ClearCommBreak(HANDLE handle) = 0;
    virtual int GetCommModemStatus(HANDLE handle, DWORD& status) = 0;
#else
    // ioctl(fd, request, bits); bits is null for a request without argument.
    virtual int Ioctl(int fd, unsigned long request, int* bits) = 0;
#endif
};

// A serial device of this machine: its path and what the system says it is.
struct SerialDeviceInfo {
    std::string path;
    std::string description;
};
std::vector<SerialDeviceInfo> ListSerialDevices();

class CQtSerialPort : public ISerialPort {
public:
    // calls: null for the system's own; otherwise it must outlive the port.
    explicit CQtSerialPort(ISerialLineCalls* calls = nullptr);
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
    PortErrorKind LastErrorKind() const override { return m_lastKind; }

private:
    // true when a line call gave no error; otherwise keeps the system's
    // reason for LastError().
    bool Succeeded(int error);

    ISerialLineCalls& m_calls;
    std::unique_ptr<QSerialPort> m_port;
    std::string m_lastError;
    PortErrorKind m_lastKind = PortErrorKind::None;
};
