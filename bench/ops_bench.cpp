// What the operation frame costs on top of the adapter: Write All then
// Verify All of a full random image on the simulated ATmega103 (virtual
// counter), once through the operations with a host that does nothing, once
// as a plain loop of the same adapter calls. The difference is the share
// spent outside the adapter (frame, progress, host calls).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <limits>
#include <random>
#include <vector>

#include "isp/IspAdapter.h"
#include "ops/OperationHost.h"
#include "ops/Operations.h"
#include "parts/DeviceTable.h"
#include "sim/SimTarget.h"
#include "sim/VirtualCounter.h"
#include "tests/support/SimForDevice.h"

namespace {

const int kATmega103Row = FindDeviceByName("ATmega103");
constexpr int kBenchPort = 2;
constexpr uint32_t kImageSeed = 103;
constexpr uint8_t kErased = 0xFF;
constexpr int kCheckSignature = 1;
constexpr int kBitsPerByte = 8;
constexpr unsigned kByteMask = 0xFF;
constexpr int kUnprogrammed = 1;
constexpr double kPercent = 100.0;
constexpr double kNsPerSecond = 1e9;

// The window's side reduced to counting its calls.
class CNullHost : public IOperationHost {
public:
    void TakeFromScreen() override { ++calls; }
    void ShowOnScreen() override { ++calls; }
    void AddMessage(const std::string&) override { ++calls; }
    void AppendMessage(const std::string&) override { ++calls; }
    void ScrollToEnd() override { ++calls; }
    void SetProgressRange(int) override { ++calls; }
    void SetProgressPos(int) override { ++calls; }
    LockTicks& Ticks() override { return ticks; }
    void ImageChanged(bool, bool) override { ++calls; }
    void Yield() override { ++calls; }

    LockTicks ticks;
    uint64_t calls = 0;
};

// The simulated ATmega103 behind the adapter, with full random images.
class CBenchTarget {
public:
    CBenchTarget() : sim(SimConfigForDevice(kATmega103Row), counter), adapter(sim, counter) {
        adapter.SetPortNames({{kBenchPort, "sim"}});
        adapter.SelectPort(kBenchPort);
        adapter.SelectDevice(g_deviceTable[kATmega103Row].number);
        std::mt19937 random(kImageSeed);
        std::uniform_int_distribution<int> byte(0, kByteMask);
        images.m_progImage.resize(adapter.m_nProgSize);
        images.m_dataImage.resize(adapter.m_nDataSize);
        for (uint8_t& b : images.m_progImage) {
            b = static_cast<uint8_t>(byte(random));
        }
        for (uint8_t& b : images.m_dataImage) {
            b = static_cast<uint8_t>(byte(random));
        }
    }

    // Flash cells only lose bits: every round starts from an erased chip.
    void Erase() {
        std::fill(sim.Flash().begin(), sim.Flash().end(), kErased);
        std::fill(sim.Eeprom().begin(), sim.Eeprom().end(), kErased);
    }

    CVirtualCounter counter;
    CSimPort sim;
    CIspAdapter adapter;
    MemoryImages images;
};

bool OpsRound(COperations& ops) {
    const bool written = ops.WriteAll();
    const bool verified = ops.VerifyAll();
    return written && verified;
}

// The same adapter calls as Write All then Verify All, with nothing around
// them: no host, no progress, no messages.
bool DirectRound(CIspAdapter& a, const MemoryImages& images) {
    bool ok = true;
    const std::vector<uint8_t>& prog = images.m_progImage;
    const std::vector<uint8_t>& data = images.m_dataImage;

    ok &= a.EnterProgrammingMode(kCheckSignature) == kIspOk;
    // The ATmega103 takes its flash by pages.
    const int page = a.ProgPageSize();
    for (int i = 0; i < a.m_nProgSize && ok; i += page) {
        int failedWord = 0;
        ok &= a.WriteProgramPage(&prog[i], i / 2, failedWord) == kIspOk;
    }
    a.LeaveProgrammingMode();
    ok &= a.EnterProgrammingMode(kCheckSignature) == kIspOk;
    for (int i = 0; i < a.m_nDataSize && ok; ++i) {
        ok &= a.WriteDataByte(data[i], i) == kIspOk;
    }
    a.LeaveProgrammingMode();
    ok &= a.EnterProgrammingMode(kCheckSignature) == kIspOk;
    ok &= a.WriteLockBits(kUnprogrammed, kUnprogrammed, kUnprogrammed) == kIspOk;
    a.LeaveProgrammingMode();

    ok &= a.EnterProgrammingMode(kCheckSignature) == kIspOk;
    for (int i = 0; i < a.m_nProgSize && ok; i += 2) {
        uint16_t word = 0;
        ok &= a.ReadProgramWord(word, i / 2) == kIspOk;
        ok &= (word & kByteMask) == prog[i] && (word >> kBitsPerByte) == prog[i + 1];
    }
    a.LeaveProgrammingMode();
    ok &= a.EnterProgrammingMode(kCheckSignature) == kIspOk;
    for (int i = 0; i < a.m_nDataSize && ok; ++i) {
        uint8_t value = 0;
        ok &= a.ReadDataByte(value, i) == kIspOk && value == data[i];
    }
    a.LeaveProgrammingMode();
    ok &= a.EnterProgrammingMode(kCheckSignature) == kIspOk;
    int lockBit1 = 0, lockBit2 = 0, fstrt = 0, spien = 0;
    ok &= a.ReadLockBits(lockBit1, lockBit2, fstrt, spien) == kIspOk;
    a.LeaveProgrammingMode();
    return ok;
}

void BM_WriteVerifyAllThroughOperations(benchmark::State& state) {
    CBenchTarget target;
    CNullHost host;
    COperations ops(target.adapter, target.images, host);
    for (auto _ : state) {
        state.PauseTiming();
        target.Erase();
        host.calls = 0;
        state.ResumeTiming();
        if (!OpsRound(ops)) {
            state.SkipWithError("the operations failed");
            break;
        }
    }
    state.counters["host_calls"] = static_cast<double>(host.calls);
}

void BM_WriteVerifyAllDirect(benchmark::State& state) {
    CBenchTarget target;
    for (auto _ : state) {
        state.PauseTiming();
        target.Erase();
        state.ResumeTiming();
        if (!DirectRound(target.adapter, target.images)) {
            state.SkipWithError("the adapter calls failed");
            break;
        }
    }
}

// The host calls of one round on their own, made through the interface as
// the operations make them: the part of the frame that the window's side
// costs when it does nothing.
void BM_HostCallsOfOneRound(benchmark::State& state) {
    CBenchTarget target;
    CNullHost counting;
    COperations ops(target.adapter, target.images, counting);
    target.Erase();
    OpsRound(ops);
    const uint64_t calls = counting.calls;

    CNullHost host;
    IOperationHost* through = &host;
    benchmark::DoNotOptimize(through);
    for (auto _ : state) {
        // Most calls are the progress position and the yield of a step.
        for (uint64_t i = 0; i < calls; i += 2) {
            through->SetProgressPos(static_cast<int>(i));
            through->Yield();
        }
        benchmark::ClobberMemory();
    }
    state.counters["host_calls"] = static_cast<double>(calls);
}

// CPU time of this thread: what the other processes of a shared machine
// take while a round runs does not count.
double ThreadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / kNsPerSecond;
}

// Both in each iteration, one after the other, so that the load of a shared
// machine falls on both alike; reports the frame's share of the operation in
// thread CPU time, from the totals and from the fastest round of each.
void BM_FrameShare(benchmark::State& state) {
    CBenchTarget target;
    CNullHost host;
    COperations ops(target.adapter, target.images, host);
    double opsTotal = 0, directTotal = 0;
    double opsFastest = std::numeric_limits<double>::max();
    double directFastest = std::numeric_limits<double>::max();
    for (auto _ : state) {
        target.Erase();
        const double start = ThreadSeconds();
        const bool opsOk = OpsRound(ops);
        const double opsSeconds = ThreadSeconds() - start;
        target.Erase();
        const double directStart = ThreadSeconds();
        const bool directOk = DirectRound(target.adapter, target.images);
        const double directSeconds = ThreadSeconds() - directStart;
        if (!opsOk || !directOk) {
            state.SkipWithError("a round failed");
            break;
        }
        opsTotal += opsSeconds;
        directTotal += directSeconds;
        opsFastest = std::min(opsFastest, opsSeconds);
        directFastest = std::min(directFastest, directSeconds);
    }
    auto share = [](double ops, double direct) {
        return ops > 0 ? (ops - direct) / ops * kPercent : 0;
    };
    state.counters["ops_s"] = benchmark::Counter(opsTotal, benchmark::Counter::kAvgIterations);
    state.counters["direct_s"] =
        benchmark::Counter(directTotal, benchmark::Counter::kAvgIterations);
    state.counters["frame_pct"] = share(opsTotal, directTotal);
    state.counters["frame_pct_fastest"] = share(opsFastest, directFastest);
}

}  // namespace

BENCHMARK(BM_WriteVerifyAllThroughOperations)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);
BENCHMARK(BM_WriteVerifyAllDirect)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_HostCallsOfOneRound)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FrameShare)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

BENCHMARK_MAIN();
