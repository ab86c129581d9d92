// The adapter on a USB serial cable: the modem-line way (one call per line
// change, about 2 us each on a 16550 and about 1 ms through a USB serial
// converter) beside the FT232R's synchronous bit-bang mode at a 100 kHz and
// a 500 kHz pin clock with 1 ms per USB round trip. For an ATmega328P and
// an ATmega2560 with random images: Write Prog (a verified write: every
// page is read back), and Write Prog followed by Verify Prog. All times are
// virtual: the simulated chip's own write times overlap the traffic as they
// would on hardware.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>

#include "isp/IspAdapter.h"
#include "ops/Operations.h"
#include "parts/DeviceTable.h"
#include "ports/FtdiPort.h"
#include "sim/SimFtdiCable.h"
#include "sim/SimTarget.h"
#include "sim/VirtualCounter.h"
#include "tests/support/QuietHost.h"
#include "tests/support/SimForDevice.h"
#include "tests/support/TimedPort.h"

namespace {

enum class Way { Uart, UsbModemLines, Cable100k, Cable500k };
constexpr int64_t kUartCallNs = 2000;
constexpr int64_t kUsbCallNs = 1000000;
constexpr int kPinClockSlowHz = 100000;
constexpr int kPinClockFastHz = 500000;
constexpr int kBenchPort = 2;
constexpr uint32_t kSeed = 328;
constexpr double kNsPerSecond = 1e9;
const int kATmega328PRow = FindDeviceByName("ATmega328P");
const int kATmega2560Row = FindDeviceByName("ATmega2560");

class CCableRig {
public:
    CCableRig(int row, Way way)
        : sim(SimConfigForDevice(row), counter),
          cable(sim, counter, false, 0),
          ftdi(cable, Options(way)),
          timed(sim, counter, way == Way::Uart ? kUartCallNs : kUsbCallNs),
          adapter(IsCable(way) ? static_cast<ISerialPort&>(ftdi) : timed, counter),
          ops(adapter, images, host) {
        adapter.SetPortNames({{kBenchPort, "sim"}});
        adapter.SelectPort(kBenchPort);
        adapter.SelectDeviceRow(row);
        std::mt19937 random(kSeed);
        images.m_progImage.resize(static_cast<size_t>(adapter.m_nProgSize));
        for (auto& b : images.m_progImage) {
            b = static_cast<uint8_t>(random());
        }
    }

    static bool IsCable(Way way) { return way == Way::Cable100k || way == Way::Cable500k; }
    static FtdiPortOptions Options(Way way) {
        FtdiPortOptions options;
        options.pinClockHz = way == Way::Cable500k ? kPinClockFastHz : kPinClockSlowHz;
        return options;
    }

    CVirtualCounter counter;
    CSimPort sim;
    CSimFtdiCable cable;
    CFtdiPort ftdi;
    CTimedPort timed;
    CIspAdapter adapter;
    CQuietHost host;
    MemoryImages images;
    COperations ops;
};

void BM_UsbCable(benchmark::State& state) {
    const int row = static_cast<int>(state.range(0));
    const auto way = static_cast<Way>(state.range(1));
    const bool verifyToo = state.range(2) != 0;
    double seconds = 0;
    double instructions = 0;
    double samples = 0;
    double roundTrips = 0;
    double lineCalls = 0;
    for (auto _ : state) {
        CCableRig rig(row, way);
        rig.sim.ResetCounters();
        rig.cable.ResetCounters();
        const int64_t start = rig.counter.Now();
        const bool ok = rig.ops.WriteProg() && (!verifyToo || rig.ops.VerifyProg());
        if (!ok) {
            state.SkipWithError("the write or the verify failed");
            return;
        }
        seconds = static_cast<double>(rig.counter.Now() - start) / kNsPerSecond;
        instructions = static_cast<double>(rig.sim.Counters().instructions);
        samples = static_cast<double>(rig.cable.Counters().samples);
        roundTrips = static_cast<double>(rig.cable.Counters().exchanges);
        lineCalls = static_cast<double>(rig.sim.Counters().lineOps);
    }
    state.counters["virtual_s"] = seconds;
    state.counters["instructions"] = instructions;
    if (CCableRig::IsCable(way)) {
        state.counters["samples_per_instruction"] = samples / instructions;
        state.counters["round_trips"] = roundTrips;
        state.counters["instructions_per_round_trip"] = instructions / roundTrips;
    } else {
        state.counters["line_calls_per_instruction"] = lineCalls / instructions;
    }
}
// way: 0 16550 (2 us a call), 1 modem lines through USB (1 ms a call),
// 2 bit-bang at 100 kHz, 3 at 500 kHz; verify: 0 Write Prog, 1 then Verify Prog.
BENCHMARK(BM_UsbCable)
    ->ArgNames({"row", "way", "verify"})
    ->ArgsProduct({{kATmega328PRow, kATmega2560Row}, {0, 1, 2, 3}, {0, 1}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
