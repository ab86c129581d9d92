// Costs of the adapter itself: what Transfer adds on top of the port calls,
// and how closely WaitMicroseconds keeps to its length on the real counter.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "isp/IspAdapter.h"
#include "sim/SimTarget.h"
#include "sim/VirtualCounter.h"
#include "tests/support/SimForDevice.h"

namespace {

constexpr int kLineOpsPerInstruction = 128;
constexpr int kBenchPort = 2;
constexpr uint32_t kReadSignatureInstruction = 0x30000000;

// A port whose calls cost next to nothing, so the adapter's own share shows.
class CNullPort : public ISerialPort {
public:
    bool Open(const std::string&) override { return true; }
    bool SetupComm(uint32_t, uint32_t) override { return true; }
    bool GetCommState(CommState&) override { return true; }
    bool SetCommState(const CommState&) override { return true; }
    bool SetCommMask(uint32_t) override { return true; }
    bool SetCommTimeouts(const CommTimeouts&) override { return true; }
    bool EscapeCommFunction(EscapeCode) override {
        ++calls;
        return true;
    }
    bool SetCommBreak() override { return true; }
    bool ClearCommBreak() override { return true; }
    bool GetCommModemStatus(uint32_t& status) override {
        ++calls;
        status = (calls & 8) != 0 ? MS_CTS_ON : 0;
        return true;
    }
    void Close() override {}
    uint64_t calls = 0;
};

void BM_TransferNullPort(benchmark::State& state) {
    CNullPort port;
    CVirtualCounter counter;
    CIspAdapter adapter(port, counter);
    adapter.SetPortNames({{kBenchPort, "null"}});
    adapter.SelectPort(kBenchPort);
    for (auto _ : state) {
        benchmark::DoNotOptimize(adapter.Transfer(kReadSignatureInstruction));
    }
    state.counters["ns_per_line_op"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kLineOpsPerInstruction,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_TransferNullPort);

void BM_TransferSimulator(benchmark::State& state) {
    CVirtualCounter counter;
    CSimPort port(SimConfigForDevice(FindDeviceByName("AT90S8535")), counter);
    CIspAdapter adapter(port, counter);
    adapter.SetPortNames({{kBenchPort, "sim"}});
    adapter.SelectPort(kBenchPort);
    adapter.SelectDevice(8535);
    adapter.EnterProgrammingMode(1);
    for (auto _ : state) {
        benchmark::DoNotOptimize(adapter.Transfer(kReadSignatureInstruction));
    }
    state.counters["ns_per_line_op"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kLineOpsPerInstruction,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_TransferSimulator);

// Overshoot of a busy wait on the real counter: median and 99th percentile
// in microseconds over the repetitions of one run.
void BM_WaitMicroseconds(benchmark::State& state) {
    const int micros = static_cast<int>(state.range(0));
    CIspAdapter adapter;
    std::vector<double> overshoot;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        adapter.WaitMicroseconds(micros);
        const auto elapsed =
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                .count();
        overshoot.push_back(elapsed - micros);
    }
    std::sort(overshoot.begin(), overshoot.end());
    constexpr double kMedian = 0.5;
    constexpr double kP99 = 0.99;
    auto at = [&](double q) {
        return overshoot[static_cast<size_t>(q * static_cast<double>(overshoot.size() - 1))];
    };
    state.counters["overshoot_median_us"] = at(kMedian);
    state.counters["overshoot_p99_us"] = at(kP99);
}
BENCHMARK(BM_WaitMicroseconds)->Arg(25)->Arg(500)->Arg(20000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
