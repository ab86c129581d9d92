// The data path the UPDI link needs from an adapter: a UART on one wire.
// Frames are 8 data bits, even parity, two stop bits. The long low level that
// resets the chip's UPDI is sent as a 0x00 byte at a low baud, so any USB
// serial cable and a pseudo-terminal will do: no break condition, no modem
// lines.
#pragma once

#include <cstddef>
#include <cstdint>

class IUpdiWire {
public:
    virtual ~IUpdiWire() = default;
    // Sets the baud; the frame is always 8E2. false when the adapter refuses it.
    virtual bool SetBaud(uint32_t baud) = 0;
    virtual uint32_t Baud() const = 0;
    // Sends n bytes; false when the adapter is gone.
    virtual bool Write(const uint8_t* data, size_t n) = 0;
    // Reads up to n bytes, waiting at most timeoutMs for them all. Gives the
    // count read (fewer than n when the time ran out), or -1 when the adapter
    // is gone.
    virtual int Read(uint8_t* data, size_t n, int timeoutMs) = 0;
    // Drops whatever has arrived and not been read.
    virtual void Discard() = 0;
};
