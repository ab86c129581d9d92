// What the main window costs around the work it hands on:
// - Write All then Verify All of a full random image on the simulated
//   ATmega103 (virtual counter), pressed on the real window offscreen, against
//   the same two operations run through COperations with a host that does
//   nothing; the difference is the window's share (pane, progress bar, views,
//   the pauses that let it repaint, and the routing port of its [Ports]
//   mapping).
// - A 131072-byte image read from and written to an Intel HEX file through
//   the window's ReadProgFile and WriteProgFile, view refresh included.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPushButton>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <ctime>
#include <limits>
#include <memory>
#include <random>

#include "app/CommandIds.h"
#include "app/FileChooser.h"
#include "app/HexTableView.h"
#include "app/ProfileFile.h"
#include "app/ProgrammerDlg.h"
#include "bench/WindowBenchMain.h"
#include "isp/IspAdapter.h"
#include "ops/OperationHost.h"
#include "ops/Operations.h"
#include "parts/DeviceTable.h"
#include "ports/QtSerialPort.h"
#include "ports/RoutingPort.h"
#include "sim/SimPortOptions.h"
#include "sim/SimTarget.h"
#include "sim/VirtualCounter.h"
#include "tests/support/SimForDevice.h"

namespace {

constexpr int kATmega103 = 103;
const int kATmega103Row = FindDeviceByName("ATmega103");
constexpr int kBenchPort = 2;
constexpr uint32_t kImageSeed = 103;
constexpr uint8_t kErased = 0xFF;
constexpr int kByteMax = 0xFF;
constexpr double kPercent = 100.0;
constexpr double kNsPerSecond = 1e9;
constexpr int kShareRounds = 6;

const char* const kVerifyComplete = " Verify : Complete\r\n";
constexpr int kPartsPerAll = 3;

QTemporaryDir* g_config = nullptr;

// Every COM port the window can reach points away from the real serial
// ports; COM2 leads to the simulated ATmega103.
void MapPorts(CProfileFile& profile) {
    profile.WriteString("Ports", "COM1", "/nonexistent/ttyBench0");
    profile.WriteString("Ports", "COM2", "sim:ATmega103");
    profile.WriteString("Ports", "COM3", "/nonexistent/ttyBench2");
    profile.WriteString("Ports", "COM4", "/nonexistent/ttyBench3");
    profile.WriteInt("Com", "Port", kBenchPort);
    profile.WriteInt("Device", "Type", kATmega103);
}

void FillRandom(std::vector<uint8_t>& prog, std::vector<uint8_t>& data) {
    std::mt19937 random(kImageSeed);
    std::uniform_int_distribution<int> byte(0, kByteMax);
    for (uint8_t& b : prog) {
        b = static_cast<uint8_t>(byte(random));
    }
    for (uint8_t& b : data) {
        b = static_cast<uint8_t>(byte(random));
    }
}

void EraseChip(CSimPort& sim) {
    std::fill(sim.Flash().begin(), sim.Flash().end(), kErased);
    std::fill(sim.Eeprom().begin(), sim.Eeprom().end(), kErased);
}

double ThreadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / kNsPerSecond;
}

double RealSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The real window, shown offscreen, on a virtual counter.
class CWindowBench {
public:
    explicit CWindowBench(const char* settingsName)
        : profile(g_config->filePath(QString::fromLatin1(settingsName)).toStdString()) {
        MapPorts(profile);
        dlg = std::make_unique<CProgrammerDlg>(profile, chooser, counter);
        FillRandom(dlg->Session().Images().m_progImage, dlg->Session().Images().m_dataImage);
        dlg->RefreshProgView();
        dlg->RefreshDataView();
        dlg->show();
        QApplication::processEvents();
    }

    CSimPort* Sim() { return dlg->Session().SimPorts().Sim(); }

    // The two buttons pressed in turn; true when all three verifies agreed.
    bool Round() {
        const size_t before = dlg->m_strMessages.size();
        Control(ids::kWriteAll)->click();
        Control(ids::kVerifyAll)->click();
        const std::string added = dlg->m_strMessages.substr(before);
        int complete = 0;
        for (size_t at = added.find(kVerifyComplete); at != std::string::npos;
             at = added.find(kVerifyComplete, at + 1)) {
            ++complete;
        }
        return complete == kPartsPerAll;
    }

    CProfileFile profile;
    CQtFileChooser chooser;
    CVirtualCounter counter;
    std::unique_ptr<CProgrammerDlg> dlg;

private:
    QPushButton* Control(int id) { return dlg->findChild<QPushButton*>(QString::number(id)); }
};

// The operations alone: a host that does nothing, the simulated ATmega103
// straight behind the adapter.
class CNullHost : public IOperationHost {
public:
    void AddMessage(const std::string&) override {}
    void AppendMessage(const std::string& text) override { complete += text == kVerifyComplete; }
    void SetProgressRange(int) override {}
    void SetProgressPos(int) override {}
    LockTicks& Ticks() override { return ticks; }

    LockTicks ticks;
    int complete = 0;
};

// The operations on the simulated ATmega103, straight behind the adapter or,
// as in the window, behind the routing port of the [Ports] mapping.
class CPlainBench {
public:
    explicit CPlainBench(bool routed)
        : direct(SimConfigForDevice(kATmega103Row), counter),
          sims(counter),
          router(unopened, {{kSimPortPrefix, &sims}}),
          adapter(routed ? static_cast<ISerialPort&>(router) : direct, counter) {
        adapter.SetPortNames({{kBenchPort, routed ? "sim:ATmega103" : "sim"}});
        adapter.SelectPort(kBenchPort);
        sim = routed ? sims.Sim() : &direct;
        adapter.SelectDevice(g_deviceTable[kATmega103Row].number);
        images.m_progImage.resize(static_cast<size_t>(adapter.m_nProgSize));
        images.m_dataImage.resize(static_cast<size_t>(adapter.m_nDataSize));
        FillRandom(images.m_progImage, images.m_dataImage);
    }

    bool Round() {
        host.complete = 0;
        COperations ops(adapter, images, host);
        ops.WriteAll();
        ops.VerifyAll();
        return host.complete == kPartsPerAll;
    }

    CVirtualCounter counter;
    CSimPort direct;
    CQtSerialPort unopened;  // the router's real side, never used here
    CSimPortKind sims;
    CRoutingPort router;
    CIspAdapter adapter;
    MemoryImages images;
    CSimPort* sim = nullptr;
    CNullHost host;
};

void BM_WriteVerifyAllThroughWindow(benchmark::State& state) {
    CWindowBench bench("window.INI");
    for (auto _ : state) {
        state.PauseTiming();
        EraseChip(*bench.Sim());
        state.ResumeTiming();
        if (!bench.Round()) {
            state.SkipWithError("the window's round failed");
            break;
        }
    }
}

void BM_WriteVerifyAllThroughOperations(benchmark::State& state) {
    CPlainBench bench(state.range(0) != 0);
    for (auto _ : state) {
        state.PauseTiming();
        EraseChip(*bench.sim);
        state.ResumeTiming();
        if (!bench.Round()) {
            state.SkipWithError("the operations' round failed");
            break;
        }
    }
}

struct Timing {
    double sum = 0;
    double fastest = std::numeric_limits<double>::max();
    void Add(double s) {
        sum += s;
        fastest = std::min(fastest, s);
    }
};

// Erases the chip, runs one round and adds its real and thread CPU time.
template <typename Bench>
bool TimedRound(Bench& bench, CSimPort& sim, Timing& real, Timing& cpu) {
    EraseChip(sim);
    const double realStart = RealSeconds();
    const double cpuStart = ThreadSeconds();
    const bool ok = bench.Round();
    real.Add(RealSeconds() - realStart);
    cpu.Add(ThreadSeconds() - cpuStart);
    return ok;
}

// The three in each iteration, one after the other, so that the load of a
// shared machine falls on all alike. The window's added share is taken
// against the operations straight on the simulator (all it adds) and
// against the operations behind the same routing port (its widgets alone),
// in real time and in this thread's CPU time, from the totals and from the
// fastest rounds.
void BM_WindowShare(benchmark::State& state) {
    CWindowBench window("share.INI");
    CPlainBench routed(true);
    CPlainBench direct(false);
    Timing windowReal, routedReal, directReal, windowCpu, routedCpu, directCpu;
    for (auto _ : state) {
        const bool ok = TimedRound(window, *window.Sim(), windowReal, windowCpu) &&
                        TimedRound(routed, *routed.sim, routedReal, routedCpu) &&
                        TimedRound(direct, *direct.sim, directReal, directCpu);
        if (!ok) {
            state.SkipWithError("a round failed");
            break;
        }
    }
    auto share = [](double window, double plain) {
        return window > 0 ? (window - plain) / window * kPercent : 0;
    };
    auto average = [](double sum) {
        return benchmark::Counter(sum, benchmark::Counter::kAvgIterations);
    };
    state.counters["window_s"] = average(windowReal.sum);
    state.counters["ops_routed_s"] = average(routedReal.sum);
    state.counters["ops_direct_s"] = average(directReal.sum);
    state.counters["added_pct_real"] = share(windowReal.sum, directReal.sum);
    state.counters["added_pct_cpu_fastest"] = share(windowCpu.fastest, directCpu.fastest);
    state.counters["widgets_pct_real"] = share(windowReal.sum, routedReal.sum);
    state.counters["widgets_pct_cpu_fastest"] = share(windowCpu.fastest, routedCpu.fastest);
}

// The window with the ATmega103 selected, a random program image and a file
// name in a temporary folder.
class CFileBench {
public:
    CFileBench() : window("files.INI") {
        window.dlg->m_strProgFile = folder.filePath(QStringLiteral("image.hex")).toStdString();
        window.dlg->WriteProgFile();
    }
    CWindowBench window;
    QTemporaryDir folder;
};

void BM_ReadProgFile131072(benchmark::State& state) {
    CFileBench bench;
    CProgrammerDlg& dlg = *bench.window.dlg;
    const bool repaint = state.range(0) != 0;
    for (auto _ : state) {
        dlg.ReadProgFile();
        if (repaint) {
            dlg.ProgView()->viewport()->repaint();
        }
    }
    if (dlg.m_bProgLoaded != 1 || dlg.Session().Images().m_progImage.size() != 131072) {
        state.SkipWithError("the file did not read back");
    }
}

void BM_WriteProgFile131072(benchmark::State& state) {
    CFileBench bench;
    CProgrammerDlg& dlg = *bench.window.dlg;
    for (auto _ : state) {
        dlg.WriteProgFile();
    }
    if (dlg.m_strMessages.find(" File Save Error.") != std::string::npos) {
        state.SkipWithError("the file could not be written");
    }
}

}  // namespace

BENCHMARK(BM_WriteVerifyAllThroughWindow)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(kShareRounds);
// Argument 1: behind the routing port, as in the window.
BENCHMARK(BM_WriteVerifyAllThroughOperations)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(kShareRounds);
BENCHMARK(BM_WindowShare)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(kShareRounds);
// Argument 1: the program view repainted after each read.
BENCHMARK(BM_ReadProgFile131072)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WriteProgFile131072)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char* argv[]) {
    return RunWindowBenchmarks(argc, argv, g_config);
}
