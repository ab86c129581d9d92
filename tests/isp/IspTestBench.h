// The adapter against the simulated adapter and target on the virtual
// counter. Port 2 is mapped to a name the simulated port accepts; nothing
// here ever opens a real serial device.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "isp/IspAdapter.h"
#include "parts/DeviceTable.h"
#include "sim/SimTarget.h"
#include "sim/VirtualCounter.h"
#include "tests/support/PassThroughPort.h"
#include "tests/support/SimForDevice.h"

constexpr int kSimPortNumber = 2;
constexpr const char* kSimPortName = "sim:test";

// Device rows used by name.
const int kRowAT90S8535 = FindDeviceByName("AT90S8535");
const int kRowAT90S8515 = FindDeviceByName("AT90S8515");
const int kRowATtiny10 = FindDeviceByName("ATtiny10/11/12");
const int kRowATmega103 = FindDeviceByName("ATmega103");

// Exact virtual time for trace tests: every counter read is one microsecond,
// so a wait of t microseconds costs t + 1 reads (the start and t more).
constexpr int64_t kExactStepNs = 1000;
constexpr int64_t kNsPerUs = 1000;

class AdapterBench {
public:
    explicit AdapterBench(int row = kRowAT90S8535, bool exactTime = false)
        : counter(exactTime ? kExactStepNs : 100, !exactTime),
          port(SimConfigForDevice(row), counter),
          adapter(port, counter) {
        adapter.SetPortNames({{kSimPortNumber, kSimPortName}});
        adapter.SelectDeviceRow(row);
    }

    bool Open() { return adapter.SelectPort(kSimPortNumber) == kPortOk; }

    // Opened and in programming mode, counters cleared.
    void OpenAndEnter(int checkSignature = 1) {
        ASSERT_TRUE(Open());
        ASSERT_EQ(adapter.EnterProgrammingMode(checkSignature), kIspOk);
        port.ResetCounters();
    }

    uint64_t Instructions(uint8_t opcode) const {
        const auto& byOp = port.Counters().instructionsByOpcode;
        auto it = byOp.find(opcode);
        return it == byOp.end() ? 0 : it->second;
    }

    CVirtualCounter counter;
    CSimPort port;
    CIspAdapter adapter;
};

// Forwards to another port and forces modem status bits on or off.
class CForcedStatusPort : public CPassThroughPort {
public:
    explicit CForcedStatusPort(ISerialPort& port) : CPassThroughPort(port) {}

    uint32_t forceOn = 0;
    uint32_t forceOff = 0;

    bool GetCommModemStatus(uint32_t& status) override {
        if (!m_port.GetCommModemStatus(status)) {
            return false;
        }
        status = (status | forceOn) & ~forceOff;
        return true;
    }
};

// Expected line operation and the virtual time since the one before it.
struct TraceStep {
    SimEvent::Kind kind;
    int64_t gapUs;
};

// Compares a trace with the expected steps; the first gap is measured from
// startNs.
inline void ExpectTrace(const std::vector<SimEvent>& trace, int64_t startNs,
                        const std::vector<TraceStep>& expected) {
    ASSERT_EQ(trace.size(), expected.size());
    int64_t previous = startNs;
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("line operation " + std::to_string(i));
        EXPECT_EQ(trace[i].kind, expected[i].kind);
        EXPECT_EQ(trace[i].timeNs - previous, expected[i].gapUs * kNsPerUs);
        previous = trace[i].timeNs;
    }
}

// A wait of t microseconds as it shows in exact virtual time.
constexpr int64_t WaitGap(int64_t us) {
    return us + 1;
}
