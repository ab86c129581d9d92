// One programming socket of a production run: its own session (port, part,
// images) and clock, the chip in it probed by its signature, and each chip
// programmed by the recipe's steps with its own serial number and
// calibration byte, then logged. A run with several sockets has one station
// per worker thread; they share only the serial counter and the log, both
// safe for that.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ops/OperationHost.h"
#include "session/ProductionLog.h"
#include "session/Recipe.h"

class CProgrammingSession;
class CSerialCounter;
class IPerformanceCounter;

enum class ChipPresence { Absent, Present, WrongPart };

// How often an idle socket is asked whether a chip is in it, or still in it.
constexpr int kIdlePollMs = 250;

// What a station hears from the front end: whether to stop, and a chance
// to keep a window alive between words.
struct StationControl {
    std::function<bool()> stopRequested;
    std::function<void()> requestStop;  // a simulated stop, taken as the user's
    std::function<void()> yield;
};

class CProductionStation {
public:
    // serials and log may be null (no numbers given, nothing logged).
    CProductionStation(const std::string& port, const Recipe& recipe, const RecipeImages& images,
                       CSerialCounter* serials, CProductionLog* log, StationControl control);
    ~CProductionStation();
    CProductionStation(const CProductionStation&) = delete;
    CProductionStation& operator=(const CProductionStation&) = delete;

    // Selects the part and opens the port; false with the reason.
    bool Open(std::string& error);
    const std::string& Port() const { return m_port; }

    // Whether a chip answers, and whether it is the recipe's part; signature
    // gets what it answered ("1E 95 0F").
    ChipPresence Probe(std::string& signature);
    // Programs the chip in the socket and logs it. A chip of another part is
    // refused (and logged) without a number; an empty socket is refused and
    // not logged; a stop leaves the chip failed.
    ChipRecord ProgramChip();
    // The first failure line of the last chip's messages, and all of them.
    const std::string& Messages() const;

    // Waits one idle poll, on the station's clock (virtual for a simulated
    // adapter: no real time passes).
    void IdleWait();
    // Tells a simulated production socket what the program waits for.
    void RemovalAwaited();
    void ChipAwaited();
    // Time on the station's clock since Open, in nanoseconds.
    int64_t ElapsedNs() const;
    bool Virtual() const { return m_virtual; }

private:
    class CHost;
    // Runs one step; false when it failed.
    bool RunStep(RecipeStep step, const std::vector<uint8_t>& flash,
                 const std::vector<uint8_t>& eeprom);
    bool WriteFuses();
    bool WriteLock();
    std::string FirstFailureLine() const;

    std::string m_port;
    const Recipe& m_recipe;
    const RecipeImages& m_images;
    CSerialCounter* m_serials;
    CProductionLog* m_log;
    StationControl m_control;
    bool m_virtual;
    std::unique_ptr<IPerformanceCounter> m_counter;
    std::unique_ptr<CHost> m_host;
    std::unique_ptr<CProgrammingSession> m_session;
    int64_t m_startNs = 0;
};
