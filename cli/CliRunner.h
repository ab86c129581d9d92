// Runs the actions of a parsed command line against the adapter, printing
// the operations' message lines, and gives the exit status.
#pragma once

#include <ostream>

#include "cli/CliOptions.h"

constexpr int kCliExitOk = 0;
constexpr int kCliExitFailed = 1;  // an action failed, or a file or the port could not be used
constexpr int kCliExitUsage = 2;

// out: message lines; err: the tool's own errors; showProgress: draw the
// progress line on err (only when it is a terminal and --quiet was not given).
int RunCli(const CliOptions& options, std::ostream& out, std::ostream& err, bool showProgress);
