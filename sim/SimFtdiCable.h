// A simulated FT232R cable in synchronous bit-bang mode with the adapter
// and a simulated chip behind it. Each byte written is put on the pins at
// the pin clock, after the sample of the pins as they were just before it
// is taken (one byte behind); an exchange of more than the chip's buffers
// hold stalls and fails; each exchange costs a USB round trip. Time passes
// on the virtual counter when the chip runs on one. MOSI must settle in a
// state before the one raising SCK: a change together with the rise is
// counted and reaches the chip too late.
#pragma once

#include <cstdint>
#include <string>

#include "base/PerformanceCounter.h"
#include "ports/FtdiDevice.h"
#include "sim/SimTarget.h"
#include "sim/VirtualCounter.h"

// A USB round trip of a full-speed device: a frame.
constexpr int64_t kUsbRoundTripNs = 1000000;

struct SimFtdiCounters {
    uint64_t exchanges = 0;    // USB round trips
    uint64_t samples = 0;      // pin states put out
    uint64_t stalls = 0;       // exchanges larger than the buffers
    uint64_t setupFaults = 0;  // MOSI changed in the very state that raised SCK
};

class CSimFtdiCable : public IFtdiDevice {
public:
    // target: the adapter and chip on the cable's pins; ttl: a cable without
    // RS-232 transceiver. unplugAfter: exchanges after which the cable is
    // gone (0: never). counter: the time base; time advances only on a
    // virtual one.
    CSimFtdiCable(CSimPort& target, IPerformanceCounter& counter, bool ttl, uint64_t unplugAfter);

    bool Open(const std::string& serial, uint8_t outputMask, int pinClockHz) override;
    bool SetPinClock(int pinClockHz) override;
    bool Exchange(const uint8_t* out, uint8_t* samples, size_t count) override;
    void Close() override;
    std::string LastError() const override { return m_error; }

    const SimFtdiCounters& Counters() const { return m_counters; }
    void ResetCounters() { m_counters = SimFtdiCounters(); }
    int PinClockHz() const { return m_pinClockHz; }
    // The slowest pin clock the cable was ever set to (0: never set).
    int SlowestPinClockHz() const { return m_slowestPinClockHz; }
    // Plugs the cable in again after it was pulled.
    void PlugIn() { m_unplugAfter = 0; }

private:
    uint8_t Sample();
    void Put(uint8_t pins);
    bool LineSet(uint8_t pins, uint8_t pin) const;
    void Advance(int64_t ns);

    CSimPort& m_target;
    CVirtualCounter* m_virtual;  // nullptr: time passes on its own
    bool m_ttl;
    uint64_t m_unplugAfter;
    bool m_open = false;
    uint8_t m_outputMask = 0;
    uint8_t m_pins = 0xFF;
    int m_pinClockHz = 0;
    int m_slowestPinClockHz = 0;
    SimFtdiCounters m_counters;
    std::string m_error;
};
