// The signals that stop the tool the way Stop stops the window: SIGINT
// (Ctrl-C), SIGTERM and SIGHUP ask the running action to stop at its next
// word, byte or page load; it leaves programming mode, releases RESET and
// says where it stopped, and the actions after it are not run. A second
// signal ends the program at once.
#pragma once

// Exit status of a run stopped by signal s: kCliExitSignalBase + s, as a
// shell reports a program ended by that signal.
constexpr int kCliExitSignalBase = 128;

void InstallStopSignals();
// The signal that asked for a stop; 0 while none did.
int StopSignal();
// A stop asked for from within (a simulated one), taken as a Ctrl-C.
void RequestStopAsInterrupt();
// Forgets a stop asked for (each run starts without one).
void ClearStopSignal();
