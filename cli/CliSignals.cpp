#include "cli/CliSignals.h"

#include <csignal>
#include <cstdlib>
#include <initializer_list>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

volatile std::sig_atomic_t g_stopSignal = 0;

#ifndef _WIN32
constexpr char kEndedAtOnce[] = "\nbrenwick-cli: ended at once\n";

extern "C" void OnStopSignal(int signal) {
    if (g_stopSignal != 0) {
        // Asked twice: the user will not wait for the stop. Only calls that
        // are safe in a signal handler.
        const ssize_t written = ::write(STDERR_FILENO, kEndedAtOnce, sizeof kEndedAtOnce - 1);
        static_cast<void>(written);
        ::_exit(kCliExitSignalBase + g_stopSignal);
    }
    g_stopSignal = signal;
}
#else
extern "C" void OnStopSignal(int signal) {
    if (g_stopSignal != 0) {
        std::_Exit(kCliExitSignalBase + g_stopSignal);
    }
    g_stopSignal = signal;
    std::signal(signal, OnStopSignal);  // the system resets it on each delivery
}
#endif

}  // namespace

void InstallStopSignals() {
#ifndef _WIN32
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;  // file and terminal calls go on undisturbed
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        ::sigaction(signal, &action, nullptr);
    }
#else
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
#endif
}

int StopSignal() {
    return g_stopSignal;
}

void RequestStopAsInterrupt() {
    if (g_stopSignal == 0) {
        g_stopSignal = SIGINT;
    }
}

void ClearStopSignal() {
    g_stopSignal = 0;
}
