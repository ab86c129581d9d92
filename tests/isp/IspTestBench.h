// The adapter against the simulated adapter and target on the virtual
// counter. Port 2 is mapped to a name the simulated port accepts; nothing
// here ever opens a real serial device.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "isp/DeviceTable.h"
#include "isp/IspAdapter.h"
#include "sim/SimTarget.h"
#include "sim/VirtualCounter.h"
#include "tests/support/SimForDevice.h"

constexpr int kSimPortNumber = 2;
constexpr const char* kSimPortName = "sim:test";

// Device rows used by name.
constexpr int kRowAT90S8535 = 0;
constexpr int kRowAT90S8515 = 4;
constexpr int kRowATtiny10 = 8;
constexpr int kRowATmega103 = 13;

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
class CForcedStatusPort : public ISerialPort {
public:
    explicit CForcedStatusPort(ISerialPort& port) : m_port(port) {}

    uint32_t forceOn = 0;
    uint32_t forceOff = 0;

    bool Open(const std::string& name) override { return m_port.Open(name); }
    bool SetupComm(uint32_t in, uint32_t out) override { return m_port.SetupComm(in, out); }
    bool GetCommState(CommState& state) override { return m_port.GetCommState(state); }
    bool SetCommState(const CommState& state) override { return m_port.SetCommState(state); }
    bool SetCommMask(uint32_t mask) override { return m_port.SetCommMask(mask); }
    bool SetCommTimeouts(const CommTimeouts& t) override { return m_port.SetCommTimeouts(t); }
    bool EscapeCommFunction(EscapeCode code) override { return m_port.EscapeCommFunction(code); }
    bool SetCommBreak() override { return m_port.SetCommBreak(); }
    bool ClearCommBreak() override { return m_port.ClearCommBreak(); }
    bool GetCommModemStatus(uint32_t& status) override {
        if (!m_port.GetCommModemStatus(status)) {
            return false;
        }
        status = (status | forceOn) & ~forceOff;
        return true;
    }
    void Close() override { m_port.Close(); }

private:
    ISerialPort& m_port;
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
