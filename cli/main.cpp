// brenwick-cli: the programming operations of the window, from a command
// line, a script or a build. See --help.
#include <unistd.h>

#include <QCoreApplication>
#include <iostream>
#include <string>
#include <vector>

#include "BrenwickVersion.h"
#include "cli/CliOptions.h"
#include "cli/CliRunner.h"
#include "cli/CliSignals.h"
#include "cli/ProductionCli.h"
#include "cli/ToolchainArgs.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (IsProductionCommandLine(args)) {
        ProductionCliOptions production;
        std::string why;
        if (!ParseProductionArguments(args, production, why)) {
            std::cerr << "brenwick-cli: " << why << "\nTry brenwick-cli --help.\n";
            return kCliExitUsage;
        }
        QCoreApplication app(argc, argv);
        InstallStopSignals();
        return RunProduction(production, std::cout, std::cerr);
    }
    CliOptions options;
    std::string error;
    if (!ParseCliArguments(args, options, error)) {
        std::cerr << "brenwick-cli: " << error << "\nTry brenwick-cli --help.\n";
        return kCliExitUsage;
    }
    if (options.help) {
        std::cout << CliUsageText();
        return kCliExitOk;
    }
    if (options.listDevices) {
        std::cout << DeviceListText();
        return kCliExitOk;
    }
    if (options.listPorts) {
        std::cout << PortListText();
        return kCliExitOk;
    }
    if (options.listPartIds) {
        std::cout << PartIdListText();
        return kCliExitOk;
    }
    if (options.version) {
        std::cout << "brenwick-cli " << BRENWICK_VERSION << '\n';
        return kCliExitOk;
    }
    // The real serial port is a Qt object; no event loop is run.
    QCoreApplication app(argc, argv);
    const bool progress = !options.quiet && ::isatty(STDERR_FILENO) != 0;
    InstallStopSignals();
    return RunCli(options, std::cout, std::cerr, progress);
}
