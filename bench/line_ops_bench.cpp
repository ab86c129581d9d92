// What the adapter costs a user on a real port: line operations per
// instruction and per byte written, read and verified (counted by the
// simulator), and the time per byte they mean on a 16550 UART at about 2 us
// per line operation, next to the floor the chip's own write time sets.
//
// The port below charges every line call 2 us of virtual time, so the
// chip's busy periods overlap the line traffic as they would on hardware.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "isp/DeviceTable.h"
#include "isp/IspAdapter.h"
#include "ops/OperationHost.h"
#include "ops/Operations.h"
#include "sim/SimTarget.h"
#include "sim/VirtualCounter.h"

namespace {

constexpr int64_t kLineOpCostNs = 2000;  // one modem-control call on a 16550
constexpr int kBenchPort = 2;
constexpr int kDeviceIndex = 0;  // AT90S8535: 8192 + 512 bytes
constexpr double kNsPerUs = 1000.0;
constexpr uint32_t kSeed = 8535;

// The simulated port, with the time a real UART takes per line call.
class CTimedPort : public ISerialPort {
public:
    CTimedPort(CSimPort& port, CVirtualCounter& counter) : m_port(port), m_counter(counter) {}
    bool Open(const std::string& name) override { return m_port.Open(name); }
    bool SetupComm(uint32_t in, uint32_t out) override { return m_port.SetupComm(in, out); }
    bool GetCommState(CommState& s) override { return m_port.GetCommState(s); }
    bool SetCommState(const CommState& s) override { return m_port.SetCommState(s); }
    bool SetCommMask(uint32_t m) override { return m_port.SetCommMask(m); }
    bool SetCommTimeouts(const CommTimeouts& t) override { return m_port.SetCommTimeouts(t); }
    bool EscapeCommFunction(EscapeCode c) override {
        m_counter.Advance(kLineOpCostNs);
        return m_port.EscapeCommFunction(c);
    }
    bool SetCommBreak() override {
        m_counter.Advance(kLineOpCostNs);
        return m_port.SetCommBreak();
    }
    bool ClearCommBreak() override {
        m_counter.Advance(kLineOpCostNs);
        return m_port.ClearCommBreak();
    }
    bool GetCommModemStatus(uint32_t& s) override {
        m_counter.Advance(kLineOpCostNs);
        return m_port.GetCommModemStatus(s);
    }
    void Close() override { m_port.Close(); }

private:
    CSimPort& m_port;
    CVirtualCounter& m_counter;
};

class CQuietHost : public IOperationHost {
public:
    void TakeFromScreen() override {}
    void ShowOnScreen() override {}
    void AddMessage(const std::string&) override {}
    void AppendMessage(const std::string&) override {}
    void ScrollToEnd() override {}
    void SetProgressRange(int) override {}
    void SetProgressPos(int) override {}
    LockTicks& Ticks() override { return m_ticks; }
    void SetProgLoaded() override {}
    void SetDataLoaded() override {}
    void RefreshProgView() override {}
    void RefreshDataView() override {}
    void Yield() override {}

private:
    LockTicks m_ticks;
};

enum class Kind { WriteProg, ReadProg, VerifyProg, WriteData, ReadData, VerifyData };

void BM_LineOpsPerByte(benchmark::State& state) {
    const auto kind = static_cast<Kind>(state.range(0));
    const SimConfig config = SimConfigForDevice(kDeviceIndex);
    double lineOpsPerByte = 0;
    double usPerByte = 0;
    for (auto _ : state) {
        CVirtualCounter counter;
        CSimPort sim(config, counter);
        CTimedPort port(sim, counter);
        CIspAdapter adapter(port, counter);
        CQuietHost host;
        COperations ops(adapter, host);
        adapter.SetPortNames({{kBenchPort, "sim"}});
        adapter.SelectPort(kBenchPort);
        adapter.SelectDevice(g_deviceTable[kDeviceIndex].number);
        std::mt19937 random(kSeed);
        adapter.m_progImage.resize(adapter.m_nProgSize);
        adapter.m_dataImage.resize(adapter.m_nDataSize);
        for (auto& b : adapter.m_progImage) {
            b = static_cast<uint8_t>(random());
        }
        for (auto& b : adapter.m_dataImage) {
            b = static_cast<uint8_t>(random());
        }
        // Reads and verifies run over a written chip; writes over an erased one.
        const bool prog =
            kind == Kind::WriteProg || kind == Kind::ReadProg || kind == Kind::VerifyProg;
        if (kind != Kind::WriteProg && kind != Kind::WriteData) {
            prog ? ops.WriteProg() : ops.WriteData();
        }
        const uint64_t opsBefore = sim.Counters().lineOps;
        const int64_t timeBefore = counter.Now();
        bool ok = false;
        switch (kind) {
            case Kind::WriteProg:
                ok = ops.WriteProg();
                break;
            case Kind::ReadProg:
                ok = ops.ReadProg();
                break;
            case Kind::VerifyProg:
                ok = ops.VerifyProg();
                break;
            case Kind::WriteData:
                ok = ops.WriteData();
                break;
            case Kind::ReadData:
                ok = ops.ReadData();
                break;
            case Kind::VerifyData:
                ok = ops.VerifyData();
                break;
        }
        if (!ok) {
            state.SkipWithError("operation failed");
            return;
        }
        const double bytes = prog ? adapter.m_nProgSize : adapter.m_nDataSize;
        lineOpsPerByte = static_cast<double>(sim.Counters().lineOps - opsBefore) / bytes;
        usPerByte = static_cast<double>(counter.Now() - timeBefore) / kNsPerUs / bytes;
    }
    state.counters["line_ops_per_byte"] = lineOpsPerByte;
    state.counters["us_per_byte_at_2us"] = usPerByte;
    state.counters["chip_write_floor_us"] = static_cast<double>(config.writeTimeUs);
}
BENCHMARK(BM_LineOpsPerByte)
    ->ArgName("kind")
    ->DenseRange(0, 5)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
