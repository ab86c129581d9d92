// An FTDI USB serial cable (FT232R, FT231X) in synchronous bit-bang mode:
// the host writes pin states, the chip puts one out per tick of its
// baud-rate clock and gives back, for each byte written, the pins as they
// were just before that byte went out. One Exchange is one USB round trip.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The cables the program drives this way: FTDI's vendor id and the FT232R
// and FT231X product ids.
constexpr uint16_t kFtdiVendor = 0x0403;
constexpr uint16_t kFt232rProduct = 0x6001;
constexpr uint16_t kFt231xProduct = 0x6015;

// The most bytes one exchange may carry: the chip puts a byte out only
// while it has room for its sample, so a write beyond its transmit (128)
// and receive (256) buffers would stall before its samples are read.
constexpr size_t kFtdiMaxExchange = 384;

struct FtdiCable {
    std::string serial;       // the USB serial number
    std::string description;  // the product string
};

class IFtdiDevice {
public:
    virtual ~IFtdiDevice() = default;
    // Opens the cable with that serial number (empty: the only cable) in
    // synchronous bit-bang mode, outputMask the pins driven, pinClockHz the
    // rate at which pin states go out. false with LastError() when not.
    virtual bool Open(const std::string& serial, uint8_t outputMask, int pinClockHz) = 0;
    // Changes the pin clock of the open cable.
    virtual bool SetPinClock(int pinClockHz) = 0;
    // Puts out count (at most kFtdiMaxExchange) pin states and gives the
    // sample taken before each; false when the cable did not answer.
    virtual bool Exchange(const uint8_t* out, uint8_t* samples, size_t count) = 0;
    // Leaves bit-bang mode and lets the cable be a serial port again.
    virtual void Close() = 0;
    virtual std::string LastError() const = 0;
};
