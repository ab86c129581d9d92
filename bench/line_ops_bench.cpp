// What the adapter costs a user on a real port: line operations per
// instruction and per byte written, read and verified (counted by the
// simulator), and the time per byte they mean on a 16550 UART at about 2 us
// per line operation and on a USB serial converter at about 1 ms, next to
// the floor the chip's own write time sets. Beside them, what the same
// instructions cost when every bit took four calls (MOSI, SCK up, status,
// SCK down): 128 per instruction.
//
// The port below charges every line call its cost in virtual time, so the
// chip's busy periods overlap the line traffic as they would on hardware.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "isp/IspAdapter.h"
#include "ops/OperationHost.h"
#include "ops/Operations.h"
#include "parts/DeviceTable.h"
#include "sim/SimTarget.h"
#include "sim/VirtualCounter.h"
#include "tests/support/PassThroughPort.h"
#include "tests/support/QuietHost.h"
#include "tests/support/SimForDevice.h"
#include "tests/support/TimedPort.h"

namespace {

constexpr int64_t kUartCallNs = 2000;     // one modem-control call on a 16550
constexpr int64_t kUsbCallNs = 1000000;   // one on a USB serial converter
constexpr double kFourCallsPerBit = 128;  // line operations per instruction, four per bit
constexpr int kBenchPort = 2;
constexpr int kDeviceIndex = 0;  // AT90S8535: 8192 + 512 bytes
constexpr double kNsPerUs = 1000.0;
constexpr double kNsPerSecond = 1e9;
constexpr double kUsPerSecond = 1e6;
const int kATmega103Row = FindDeviceByName("ATmega103");
const int kATmega161Row = FindDeviceByName("ATmega161");
const int kATmega328PRow = FindDeviceByName("ATmega328P");
const int kATmega2560Row = FindDeviceByName("ATmega2560");
constexpr uint32_t kSeed = 8535;

// A simulated part of the table behind the adapter, on a port that charges
// every line call its cost, with random images of the part's sizes.
class CBenchRig {
public:
    CBenchRig(int row, int64_t callNs)
        : sim(SimConfigForDevice(row), counter),
          port(sim, counter, callNs),
          adapter(port, counter),
          ops(adapter, images, host) {
        adapter.SetPortNames({{kBenchPort, "sim"}});
        adapter.SelectPort(kBenchPort);
        adapter.SelectDeviceRow(row);
        std::mt19937 random(kSeed);
        images.m_progImage.resize(adapter.m_nProgSize);
        images.m_dataImage.resize(adapter.m_nDataSize);
        for (auto& b : images.m_progImage) {
            b = static_cast<uint8_t>(random());
        }
        for (auto& b : images.m_dataImage) {
            b = static_cast<uint8_t>(random());
        }
    }

    CVirtualCounter counter;
    CSimPort sim;
    CTimedPort port;
    CIspAdapter adapter;
    CQuietHost host;
    MemoryImages images;
    COperations ops;
};

enum class Kind { WriteProg, ReadProg, VerifyProg, WriteData, ReadData, VerifyData };

void BM_LineOpsPerByte(benchmark::State& state) {
    const auto kind = static_cast<Kind>(state.range(0));
    const int64_t callNs = state.range(1);
    const SimConfig config = SimConfigForDevice(kDeviceIndex);
    double lineOpsPerByte = 0;
    double lineOpsPerInstruction = 0;
    double fourCallLineOpsPerByte = 0;
    double usPerByte = 0;
    for (auto _ : state) {
        CBenchRig rig(kDeviceIndex, callNs);
        CVirtualCounter& counter = rig.counter;
        CSimPort& sim = rig.sim;
        CIspAdapter& adapter = rig.adapter;
        COperations& ops = rig.ops;
        // Reads and verifies run over a written chip; writes over an erased one.
        const bool prog =
            kind == Kind::WriteProg || kind == Kind::ReadProg || kind == Kind::VerifyProg;
        if (kind != Kind::WriteProg && kind != Kind::WriteData) {
            prog ? ops.WriteProg() : ops.WriteData();
        }
        const uint64_t opsBefore = sim.Counters().lineOps;
        const uint64_t instructionsBefore = sim.Counters().instructions;
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
        const auto lineOps = static_cast<double>(sim.Counters().lineOps - opsBefore);
        const auto instructions =
            static_cast<double>(sim.Counters().instructions - instructionsBefore);
        lineOpsPerByte = lineOps / bytes;
        // The instructions are framed by the target; the line operations of
        // entering and leaving (reset pulse, waits) are spread over them.
        lineOpsPerInstruction = instructions > 0 ? lineOps / instructions : 0;
        fourCallLineOpsPerByte = instructions * kFourCallsPerBit / bytes;
        usPerByte = static_cast<double>(counter.Now() - timeBefore) / kNsPerUs / bytes;
    }
    state.counters["line_ops_per_byte"] = lineOpsPerByte;
    state.counters["line_ops_per_instruction"] = lineOpsPerInstruction;
    state.counters["four_call_line_ops_per_byte"] = fourCallLineOpsPerByte;
    state.counters["us_per_byte"] = usPerByte;
    state.counters["chip_write_floor_us"] = static_cast<double>(config.writeTimeUs);
}
BENCHMARK(BM_LineOpsPerByte)
    ->ArgNames({"kind", "call_ns"})
    ->ArgsProduct({{0, 1, 2, 3, 4, 5}, {kUartCallNs, kUsbCallNs}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// Write All then Verify All of a whole paged part with random images on a
// 16550 (virtual time), beside the floor its own writes set: pages times the
// longest page write of its datasheet, and EEPROM bytes times the longest
// byte write.
void BM_WriteVerifyAllPaged(benchmark::State& state) {
    const int row = static_cast<int>(state.range(0));
    const SimConfig config = SimConfigForDevice(row);
    double seconds = 0;
    for (auto _ : state) {
        CBenchRig rig(row, kUartCallNs);
        const int64_t start = rig.counter.Now();
        const bool written = rig.ops.WriteAll();
        const bool verified = rig.ops.VerifyAll();
        if (!written || !verified) {
            state.SkipWithError("Write All or Verify All failed");
            return;
        }
        seconds = static_cast<double>(rig.counter.Now() - start) / kNsPerSecond;
    }
    const double pages = static_cast<double>(config.progSize) / config.progPageSize;
    const int64_t eepromUs =
        config.eepromWriteTimeUs >= 0 ? config.eepromWriteTimeUs : config.writeTimeUs;
    state.counters["virtual_s"] = seconds;
    state.counters["page_floor_s"] = pages * static_cast<double>(config.writeTimeUs) / kUsPerSecond;
    // The EEPROM is written byte by byte, each byte its own write time.
    state.counters["eeprom_floor_s"] =
        static_cast<double>(config.dataSize) * static_cast<double>(eepromUs) / kUsPerSecond;
}
BENCHMARK(BM_WriteVerifyAllPaged)
    ->ArgName("row")
    ->Arg(kATmega103Row)
    ->Arg(kATmega161Row)
    ->Arg(kATmega328PRow)
    ->Arg(kATmega2560Row)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
