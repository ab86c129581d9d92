// brenwick-cli --recipe: a production run from the command line.
//   brenwick-cli --recipe FILE [--count N] [--auto] [--log FILE] --port P [--port P2 ...]
// One worker per port; the summary at the end gives each port's chips
// passed and failed and the chips per minute. The parser never prints.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "session/ProductionRun.h"

struct ProductionCliOptions {
    std::string recipePath;
    ProductionOptions run;
};

// Whether the command line asks for a production run (it has --recipe).
bool IsProductionCommandLine(const std::vector<std::string>& args);
bool ParseProductionArguments(const std::vector<std::string>& args, ProductionCliOptions& options,
                              std::string& error);
// Exit status: 0 every chip passed, 1 a chip failed or the run could not
// start, 128 + the signal when stopped.
int RunProduction(const ProductionCliOptions& options, std::ostream& out, std::ostream& err);
