// A production run over one or several sockets: one worker thread per port,
// each with its own station (session, port, clock), sharing the serial
// counter, the log and the chip count. With automatic, each worker waits for
// a chip (probing while idle), programs it, waits until it is taken out and
// goes on; without, each programs the chip in its socket once.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "session/ProductionLog.h"
#include "session/ProductionStation.h"
#include "session/Recipe.h"
#include "session/SerialNumber.h"

struct ProductionOptions {
    std::vector<std::string> ports;
    int count = 0;  // chips that pass or fail in all; 0: no end but a stop
    bool automatic = false;
    std::string logPath;  // empty: beside the recipe
};

struct StationTally {
    std::string port;
    int passed = 0;
    int failed = 0;
    int refused = 0;
    int64_t busyNs = 0;  // from the port's opening to the end of its last chip
    std::string error;   // why the port could not be used
};

struct ProductionSummary {
    std::vector<StationTally> stations;
    int passed = 0;
    int failed = 0;
    // Chips passed or failed a minute, over the longest-busy socket's time.
    double chipsPerMinute = 0;
};

class CProductionRun {
public:
    // report receives one line per chip and per event, from any worker (the
    // calls never overlap).
    CProductionRun(const Recipe& recipe, ProductionOptions options,
                   std::function<bool()> stopRequested,
                   std::function<void(const std::string&)> report);
    // Takes the serial counter, opens the log and reads the files; false with
    // the reason (nothing touched a chip).
    bool Prepare(std::string& error);
    // Runs the workers until the count is reached, the chips end, or a stop.
    ProductionSummary Run();
    // The summary as the tool prints it.
    static std::vector<std::string> SummaryLines(const ProductionSummary& summary);

    const RecipeImages& Images() const { return m_images; }
    CSerialCounter& Serials() { return m_serials; }
    CProductionLog& Log() { return m_log; }

private:
    void Work(StationTally& tally);
    bool Claim();
    void Unclaim();
    bool Done() const;
    bool Stopping() const;
    void Report(const std::string& line);

    const Recipe& m_recipe;
    ProductionOptions m_options;
    std::function<bool()> m_stopRequested;
    std::function<void(const std::string&)> m_report;
    RecipeImages m_images;
    CSerialCounter m_serials;
    CProductionLog m_log;
    std::mutex m_mutex;  // the count and the report
    int m_claimed = 0;
    std::atomic<bool> m_simulatedStop{false};
};

// One chip's line: "COM2: pass 1000 (1E 95 0F)" or "COM2: fail 1001: <line>".
std::string ChipReportLine(const ChipRecord& record);
