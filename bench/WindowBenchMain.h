// The main function of a benchmark program that drives the window: offscreen
// unless a platform is set, with the settings file in a temporary folder
// that `config` points at while the benchmarks run.
#pragma once

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>

inline int RunWindowBenchmarks(int argc, char* argv[], QTemporaryDir*& config) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QTemporaryDir folder;
    qputenv("XDG_CONFIG_HOME", folder.path().toLocal8Bit());
    config = &folder;
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    config = nullptr;
    return 0;
}
