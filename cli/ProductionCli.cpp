#include "cli/ProductionCli.h"

#include <limits>

#include "cli/CliRunner.h"
#include "cli/CliSignals.h"
#include "cli/ToolchainArgs.h"
#include "session/PortRegistry.h"

namespace {

constexpr const char* kRecipeOption = "--recipe";
constexpr const char* kCountOption = "--count";
constexpr const char* kAutoOption = "--auto";
constexpr const char* kLogOption = "--log";
constexpr const char* kPortOption = "--port";
constexpr const char* kToolName = "brenwick-cli: ";
constexpr int kDecimalBase = 10;

bool ParseCount(const std::string& text, int& count) {
    if (text.empty() || text.size() > std::numeric_limits<int>::digits10) {
        return false;
    }
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * kDecimalBase + (c - '0');
    }
    count = value;
    return value > 0;
}

}  // namespace

bool IsProductionCommandLine(const std::vector<std::string>& args) {
    for (const std::string& word : args) {
        if (word == kRecipeOption || word.rfind(std::string(kRecipeOption) + "=", 0) == 0) {
            return true;
        }
    }
    return false;
}

bool ParseProductionArguments(const std::vector<std::string>& args, ProductionCliOptions& options,
                              std::string& error) {
    ProductionCliOptions parsed;
    bool countGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        const size_t equals = name.find('=');
        const bool inlineValue = name.rfind("--", 0) == 0 && equals != std::string::npos;
        if (inlineValue) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
        }
        if (name == kAutoOption && !inlineValue) {
            parsed.run.automatic = true;
            continue;
        }
        if (name != kRecipeOption && name != kCountOption && name != kLogOption &&
            name != kPortOption) {
            error = "unknown option \"" + args[i] + "\" with --recipe";
            return false;
        }
        if (!inlineValue) {
            if (i + 1 >= args.size()) {
                error = name + " needs a value";
                return false;
            }
            value = args[++i];
        }
        if (name == kRecipeOption) {
            if (!parsed.recipePath.empty()) {
                error = "--recipe given more than once";
                return false;
            }
            parsed.recipePath = value;
        } else if (name == kCountOption) {
            if (countGiven || !ParseCount(value, parsed.run.count)) {
                error = "--count takes one number from 1, not \"" + value + "\"";
                return false;
            }
            countGiven = true;
        } else if (name == kLogOption) {
            parsed.run.logPath = value;
        } else {
            if (!CheckPortName(value, error)) {
                return false;
            }
            for (const std::string& port : parsed.run.ports) {
                if (port == value) {
                    error = "port " + value + " given twice";
                    return false;
                }
            }
            parsed.run.ports.push_back(value);
        }
    }
    if (parsed.recipePath.empty() || parsed.run.ports.empty()) {
        error = "a production run needs --recipe FILE and at least one --port";
        return false;
    }
    options = parsed;
    return true;
}

int RunProduction(const ProductionCliOptions& options, std::ostream& out, std::ostream& err) {
    ClearStopSignal();
    Recipe recipe;
    std::string error;
    if (!LoadRecipe(options.recipePath, recipe, error)) {
        err << kToolName << error << '\n';
        return kCliExitFailed;
    }
    CProductionRun run(
        recipe, options.run, [] { return StopSignal() != 0; },
        [&out](const std::string& line) { out << line << '\n'
                                              << std::flush; });
    if (!run.Prepare(error)) {
        err << kToolName << error << '\n';
        return kCliExitFailed;
    }
    if (recipe.serial.enabled) {
        out << "Next serial number : " << run.Serials().Next() << '\n';
    }
    out << "Log : " << run.Log().Path() << '\n' << std::flush;
    const ProductionSummary summary = run.Run();
    for (const std::string& line : CProductionRun::SummaryLines(summary)) {
        out << line << '\n';
    }
    out << std::flush;
    if (StopSignal() != 0) {
        return kCliExitSignalBase + StopSignal();
    }
    bool portFailed = false;
    for (const StationTally& tally : summary.stations) {
        portFailed = portFailed || !tally.error.empty();
    }
    return summary.failed == 0 && !portFailed ? kCliExitOk : kCliExitFailed;
}
