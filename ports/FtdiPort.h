// The adapter on an FTDI cable in synchronous bit-bang mode. The cable's
// UART pins carry the adapter's lines exactly as on a serial port (RESET on
// TXD, SCK on RTS, MOSI on DTR, MISO on CTS, the RTS-DSR loop and the RESET
// echo on RI), but whole instructions, a page of them at once, go down in
// a few USB round trips instead of one round trip per line change.
//
// Port names: "ftdi:" (the only cable), "ftdi:<serial>", with options after
// commas: "ttl" for a cable without RS-232 transceiver (pin level = line
// level), "clock=<Hz>" for the pin clock (SCK runs at half of it).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ports/FtdiDevice.h"
#include "ports/IspLines.h"
#include "ports/SerialPort.h"

constexpr const char* kFtdiPortPrefix = "ftdi:";
// About 100 kHz suits an RS-232 transceiver's slew rate and a chip on its
// factory 1 MHz clock (SCK 50 kHz, well under a quarter of it).
constexpr int kDefaultPinClockHz = 100000;
constexpr int kMinPinClockHz = 1000;
constexpr int kMaxPinClockHz = 1000000;

struct FtdiPortOptions {
    std::string serial;  // empty: the only cable
    bool ttl = false;    // no transceiver: a line that is set is the pin driven high
    int pinClockHz = kDefaultPinClockHz;
};

// Parses a port name ("ftdi:A9XYZ,ttl,clock=200000"); false with the reason.
bool ParseFtdiPortName(const std::string& name, FtdiPortOptions& options, std::string& error);
// Parses the options after a name's first item (shared with the simulated
// cable's names): "ttl" and "clock=<Hz>"; false when item is neither.
bool ParseFtdiOption(const std::string& item, FtdiPortOptions& options, std::string& error,
                     bool& known);

class CFtdiPort : public ISerialPort, public IIspLines {
public:
    // device must outlive the port.
    CFtdiPort(IFtdiDevice& device, const FtdiPortOptions& options);

    // ISerialPort: the name was parsed when the port was made; the serial
    // settings mean nothing in bit-bang mode and are taken as they are.
    bool Open(const std::string& deviceName) override;
    bool SetupComm(uint32_t, uint32_t) override { return m_open; }
    bool GetCommState(CommState&) override { return m_open; }
    bool SetCommState(const CommState&) override { return m_open; }
    bool SetCommMask(uint32_t) override { return m_open; }
    bool SetCommTimeouts(const CommTimeouts&) override { return m_open; }
    // Single line changes and status reads: one round trip each.
    bool EscapeCommFunction(EscapeCode code) override;
    bool SetCommBreak() override;
    bool ClearCommBreak() override;
    bool GetCommModemStatus(uint32_t& status) override;
    void Close() override;
    std::string LastError() const override { return m_device.LastError(); }
    IIspLines* FastLines() override { return this; }

    // IIspLines: two pin states per bit (MOSI with SCK low, then SCK high),
    // MISO taken from the sample after the high one, in pieces that fit the
    // chip's buffers.
    bool Shift(const uint32_t* instructions, const uint32_t* answerBits, uint32_t* answers,
               size_t count) override;
    size_t BatchLength() const override;
    bool SlowDown() override;
    void RestoreSpeed() override;

    int PinClockHz() const { return m_pinClockHz; }

private:
    uint8_t Pins(bool reset, bool sck, bool mosi) const;
    bool PinSet(uint8_t sample, uint8_t pin) const;
    // Puts out the present line levels once; the sample tells the inputs.
    bool Update(uint8_t* sample = nullptr);
    bool Exchange(const std::vector<uint8_t>& out, std::vector<uint8_t>& samples);

    IFtdiDevice& m_device;
    FtdiPortOptions m_options;
    int m_pinClockHz;
    bool m_open = false;
    bool m_reset = false;  // the break: RESET asserted
    bool m_sck = false;
    bool m_mosi = false;
};
