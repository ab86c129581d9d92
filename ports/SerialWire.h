// The UPDI wire over a serial port's data path: TX and RX joined through a
// resistor or diode on the chip's UPDI pin, so every byte sent comes back as
// its own echo. Frames are 8E2 at the baud asked for; the modem lines and the
// break condition are never used, which keeps any USB serial cable (and a
// pseudo-terminal) good enough.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "ports/SerialPort.h"
#include "updi/UpdiWire.h"

class QSerialPort;

class CSerialWire : public IUpdiWire {
public:
    CSerialWire();
    ~CSerialWire() override;
    CSerialWire(const CSerialWire&) = delete;
    CSerialWire& operator=(const CSerialWire&) = delete;

    // Opens the device exclusively and sets the frame (8E2, no flow control)
    // at the baud last set (115200 until then). false with the system's
    // reason in error; LastErrorKind() tells which kind it was.
    bool Open(const std::string& path, std::string& error);
    void Close();
    bool IsOpen() const { return m_port != nullptr; }
    // The kind of the last failed open, or NotAnswering once a transfer found
    // the device gone.
    PortErrorKind LastErrorKind() const { return m_lastKind; }

    bool SetBaud(uint32_t baud) override;
    uint32_t Baud() const override { return m_baud; }
    bool Write(const uint8_t* data, size_t n) override;
    int Read(uint8_t* data, size_t n, int timeoutMs) override;
    void Discard() override;

private:
    bool ApplyFrame();
    // Marks the device gone and gives the wire's failure results.
    bool Gone();

    std::unique_ptr<QSerialPort> m_port;
    uint32_t m_baud;
    PortErrorKind m_lastKind = PortErrorKind::None;
};
