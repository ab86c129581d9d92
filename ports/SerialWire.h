// The UPDI data path over a real serial port: a USB serial cable whose TX and
// RX are joined through a resistor to the chip's UPDI pin. Stands in here
// until the serial implementation arrives: every open fails with its reason.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "ports/SerialPort.h"
#include "updi/UpdiWire.h"

class CSerialWire : public IUpdiWire {
public:
    // false with the reason in error when the port cannot be opened.
    bool Open(const std::string& path, std::string& error);
    void Close();
    // Why the last open or call failed.
    PortErrorKind LastErrorKind() const { return m_lastError; }

    bool SetBaud(uint32_t baud) override;
    uint32_t Baud() const override { return m_baud; }
    bool Write(const uint8_t* data, size_t n) override;
    int Read(uint8_t* data, size_t n, int timeoutMs) override;
    void Discard() override {}

private:
    uint32_t m_baud = 0;
    PortErrorKind m_lastError = PortErrorKind::None;
};
