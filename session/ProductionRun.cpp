#include "session/ProductionRun.h"

#include <algorithm>
#include <cstdio>
#include <thread>

#include "session/ProgrammingSession.h"

namespace {

constexpr double kNsPerMinute = 60e9;
constexpr size_t kSummaryLineLength = 160;

// The session that reads the recipe's files for the part says nothing.
class CPrepareHost : public IOperationHost {
public:
    void AddMessage(const std::string&) override {}
    void AppendMessage(const std::string&) override {}
    void SetProgressRange(int) override {}
    void SetProgressPos(int) override {}
    LockTicks& Ticks() override { return m_ticks; }

private:
    LockTicks m_ticks;
};

}  // namespace

std::string ChipReportLine(const ChipRecord& record) {
    std::string line = record.port + ": " + ChipResultName(record.result);
    if (!record.serial.empty()) {
        line += " " + record.serial;
    }
    if (!record.signature.empty()) {
        line += " (" + record.signature + ")";
    }
    if (!record.failure.empty()) {
        line += ": " + record.failure;
    }
    return line;
}

CProductionRun::CProductionRun(const Recipe& recipe, ProductionOptions options,
                               std::function<bool()> stopRequested,
                               std::function<void(const std::string&)> report)
    : m_recipe(recipe),
      m_options(std::move(options)),
      m_stopRequested(std::move(stopRequested)),
      m_report(std::move(report)) {}

bool CProductionRun::Prepare(std::string& error) {
    uint64_t next = 0;
    if (m_recipe.serial.enabled) {
        if (!m_serials.Open(m_recipe.serial.nextFile, m_recipe.serial.first, m_recipe.serial.step,
                            error)) {
            return false;
        }
        next = m_serials.Next();
    }
    CPrepareHost host;
    CProgrammingSession session(host);
    if (!PrepareRecipe(m_recipe, session, next, m_images, error)) {
        return false;
    }
    const std::string logPath =
        m_options.logPath.empty() ? DefaultLogPath(m_recipe.path) : m_options.logPath;
    return m_log.Open(logPath, error);
}

bool CProductionRun::Stopping() const {
    return m_simulatedStop || (m_stopRequested && m_stopRequested());
}

bool CProductionRun::Done() const {
    return m_options.count > 0 && m_claimed >= m_options.count;
}

bool CProductionRun::Claim() {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (Done()) {
        return false;
    }
    ++m_claimed;
    return true;
}

void CProductionRun::Unclaim() {
    std::lock_guard<std::mutex> guard(m_mutex);
    --m_claimed;
}

void CProductionRun::Report(const std::string& line) {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_report) {
        m_report(line);
    }
}

void CProductionRun::Work(StationTally& tally) {
    StationControl control;
    control.stopRequested = [this] { return Stopping(); };
    control.requestStop = [this] { m_simulatedStop = true; };
    CProductionStation station(tally.port, m_recipe, m_images, &m_serials, &m_log, control);
    if (!station.Open(tally.error)) {
        Report(tally.port + ": " + tally.error);
        return;
    }
    auto finished = [&] {
        std::lock_guard<std::mutex> guard(m_mutex);
        return Done();
    };
    for (;;) {
        if (Stopping() || finished()) {
            return;
        }
        if (m_options.automatic) {
            // Idle: a chip is looked for a few times a second.
            station.ChipAwaited();
            std::string signature;
            while (station.Probe(signature) == ChipPresence::Absent) {
                if (Stopping() || finished()) {
                    return;
                }
                station.IdleWait();
            }
        }
        if (!Claim()) {
            return;
        }
        const ChipRecord record = station.ProgramChip();
        tally.busyNs = station.ElapsedNs();
        if (record.result == ChipResult::Refused) {
            Unclaim();
            ++tally.refused;
        } else {
            ++(record.result == ChipResult::Pass ? tally.passed : tally.failed);
        }
        Report(ChipReportLine(record));
        if (!m_options.automatic) {
            return;
        }
        // Until the chip is taken out.
        station.RemovalAwaited();
        std::string signature;
        while (station.Probe(signature) != ChipPresence::Absent) {
            if (Stopping()) {
                return;
            }
            station.IdleWait();
        }
    }
}

ProductionSummary CProductionRun::Run() {
    ProductionSummary summary;
    summary.stations.resize(m_options.ports.size());
    std::vector<std::thread> workers;
    for (size_t i = 0; i < m_options.ports.size(); ++i) {
        summary.stations[i].port = m_options.ports[i];
        workers.emplace_back([this, &summary, i] { Work(summary.stations[i]); });
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    int64_t longest = 0;
    for (const StationTally& tally : summary.stations) {
        summary.passed += tally.passed;
        summary.failed += tally.failed;
        longest = std::max(longest, tally.busyNs);
    }
    if (longest > 0) {
        summary.chipsPerMinute = static_cast<double>(summary.passed + summary.failed) *
                                 kNsPerMinute / static_cast<double>(longest);
    }
    return summary;
}

std::vector<std::string> CProductionRun::SummaryLines(const ProductionSummary& summary) {
    std::vector<std::string> lines;
    char line[kSummaryLineLength];
    for (const StationTally& tally : summary.stations) {
        std::snprintf(line, sizeof line, "%s: %d passed, %d failed, %d refused%s%s",
                      tally.port.c_str(), tally.passed, tally.failed, tally.refused,
                      tally.error.empty() ? "" : "; ", tally.error.c_str());
        lines.emplace_back(line);
    }
    std::snprintf(line, sizeof line, "Total: %d passed, %d failed, %.1f chips per minute",
                  summary.passed, summary.failed, summary.chipsPerMinute);
    lines.emplace_back(line);
    return lines;
}
