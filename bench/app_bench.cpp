// The window's speed goals: from process start to the window shown (a fresh
// process each time, the settings mapping COM2 to a simulated adapter), and
// rebuilding the program view from its image for the 16384-byte and the
// 131072-byte devices, alone and with the repaint that follows it.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <chrono>
#include <memory>

#include "app/CommandIds.h"
#include "app/FileChooser.h"
#include "app/HexTableView.h"
#include "app/ProfileFile.h"
#include "app/ProgrammerApp.h"
#include "app/ProgrammerDlg.h"
#include "bench/WindowBenchMain.h"
#include "isp/IspAdapter.h"

namespace {

constexpr int kATmega161 = 161;  // 16384 bytes of program memory
constexpr int kATmega103 = 103;  // 131072 bytes
constexpr int kProbeTimeoutMs = 30000;
constexpr double kNsPerSecond = 1e9;

// Every COM port the window can reach points away from the real serial ports.
void MapPorts(CProfileFile& profile) {
    profile.WriteString("Ports", "COM1", "/nonexistent/ttyBench0");
    profile.WriteString("Ports", "COM2", "sim:AT90S8535");
    profile.WriteString("Ports", "COM3", "/nonexistent/ttyBench2");
    profile.WriteString("Ports", "COM4", "/nonexistent/ttyBench3");
}

QTemporaryDir* g_config = nullptr;

void BM_StartToWindowShown(benchmark::State& state) {
    QTemporaryDir config;
    CProfileFile profile(config.filePath(QStringLiteral("app_startup_probe.INI")).toStdString());
    MapPorts(profile);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    for (auto _ : state) {
        QProcess probe;
        probe.setProcessEnvironment(env);
        const auto started = std::chrono::steady_clock::now().time_since_epoch();
        probe.start(QStringLiteral(BRENWICK_STARTUP_PROBE), {});
        if (!probe.waitForFinished(kProbeTimeoutMs) || probe.exitCode() != 0) {
            state.SkipWithError("the probe did not show the window");
            return;
        }
        const long long shownNs = probe.readAllStandardOutput().trimmed().toLongLong();
        const long long startedNs =
            std::chrono::duration_cast<std::chrono::nanoseconds>(started).count();
        state.SetIterationTime(static_cast<double>(shownNs - startedNs) / kNsPerSecond);
    }
}
BENCHMARK(BM_StartToWindowShown)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

std::unique_ptr<CProgrammerDlg> Window(int device, CProfileFile& profile, IFileChooser& chooser) {
    auto dlg = std::make_unique<CProgrammerDlg>(profile, chooser);
    dlg->SetDevice(device);
    dlg->show();
    QApplication::processEvents();
    return dlg;
}

void RefreshProgView(benchmark::State& state, bool repaint) {
    CProfileFile profile(g_config->filePath(QStringLiteral("bench.INI")).toStdString());
    MapPorts(profile);
    CQtFileChooser chooser;
    auto dlg = Window(static_cast<int>(state.range(0)), profile, chooser);
    for (auto _ : state) {
        dlg->RefreshProgView();
        if (repaint) {
            dlg->ProgView()->viewport()->repaint();
        }
    }
    state.counters["bytes"] = static_cast<double>(dlg->Session().Adapter().m_nProgSize);
}

void BM_RefreshProgView(benchmark::State& state) {
    RefreshProgView(state, false);
}
void BM_RefreshProgViewAndRepaint(benchmark::State& state) {
    RefreshProgView(state, true);
}
BENCHMARK(BM_RefreshProgView)->Arg(kATmega161)->Arg(kATmega103)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RefreshProgViewAndRepaint)
    ->Arg(kATmega161)
    ->Arg(kATmega103)
    ->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char* argv[]) {
    return RunWindowBenchmarks(argc, argv, g_config);
}
