// A simulated USB serial adapter with a UPDI chip on its one wire. Each byte
// sent comes back as the adapter's echo, then whatever the chip answers;
// bytes and waits cost virtual time at the baud (12 bits a frame). A 0x00
// byte sent at a low baud is the long low level that resets the chip's UPDI.
//
// Faults (counts are bytes the program has sent, from 1, breaks included):
//   no-adapter         nothing comes back, not even the echo
//   no-chip            the echo alone: nobody answers
//   unplug-after=N     from the N-th byte on the adapter is gone: calls fail
//   power-off-after=N  from the N-th byte on the chip has no power: echo only
//   stop-after=N       at the N-th byte the stop hook runs, as if the user
//                      asked for a stop
//   wrong-echo-after=N the N-th byte's echo comes back changed (a noisy wire)
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/SimUpdiTarget.h"
#include "sim/VirtualCounter.h"
#include "updi/UpdiWire.h"

struct SSimUpdiFaults {
    bool noAdapter = false;
    bool noChip = false;
    uint64_t unplugAfter = 0;  // 0: never
    uint64_t powerOffAfter = 0;
    uint64_t stopAfter = 0;
    uint64_t wrongEchoAfter = 0;
};

// "no-adapter,power-off-after=300": false with a message for an unknown fault.
bool ParseSimUpdiFaults(const std::string& text, SSimUpdiFaults& faults, std::string& error);

class CSimUpdiWire : public IUpdiWire {
public:
    // target may be nullptr: an adapter with no chip on the wire.
    CSimUpdiWire(CSimUpdiTarget* target, CVirtualCounter& clock,
                 SSimUpdiFaults faults = SSimUpdiFaults());

    bool SetBaud(uint32_t baud) override;
    uint32_t Baud() const override { return m_baud; }
    bool Write(const uint8_t* data, size_t n) override;
    int Read(uint8_t* data, size_t n, int timeoutMs) override;
    void Discard() override { m_rx.clear(); }

    void SetStopHook(std::function<void()> hook) { m_stop = std::move(hook); }
    uint64_t BytesSent() const { return m_sent; }
    // A production socket: without a chip in it only the adapter's echo
    // comes back.
    void SetChipPresent(bool present) { m_chipPresent = present; }
    bool Unplugged() const { return m_unplugged; }

private:
    int64_t FrameNs() const;

    CSimUpdiTarget* m_target;
    CVirtualCounter& m_clock;
    SSimUpdiFaults m_faults;
    uint32_t m_baud = 0;
    std::deque<uint8_t> m_rx;
    std::vector<uint8_t> m_answers;
    uint64_t m_sent = 0;
    bool m_unplugged = false;
    bool m_powered = true;
    bool m_chipPresent = true;
    std::function<void()> m_stop;
};
