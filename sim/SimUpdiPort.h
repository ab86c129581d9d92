// "sim:<UPDI chip>[,state=<file>][,<fault>...]": a simulated USB serial
// adapter with that UPDI chip on its wire, named in a port setting or on the
// command line. The chip is a name of the simulator's own UPDI table
// ("sim:ATtiny1614"). The faults are the UPDI wire's (sim/SimUpdiWire.h):
// no-adapter, no-chip, unplug-after=N, power-off-after=N, stop-after=N,
// wrong-echo-after=N. The state file keeps flash, EEPROM, user row, fuses and
// lock between runs; its name cannot contain a comma.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "sim/SimUpdiParts.h"
#include "sim/SimUpdiTarget.h"
#include "sim/SimUpdiWire.h"
#include "sim/VirtualCounter.h"

struct SimUpdiPortOptions {
    const SSimUpdiPart* part = nullptr;
    std::string stateFile;  // empty: no state file
    SSimUpdiFaults faults;
};

// Whether name is "sim:" and a chip of the simulator's UPDI table.
bool IsSimUpdiPortName(const std::string& name);
// false with the reason in error when name is no good sim: UPDI name.
bool ParseSimUpdiPortOptions(const std::string& name, SimUpdiPortOptions& options,
                             std::string& error);

// The simulated UPDI adapters a session opens by name. A chip lives as long
// as this object, so a port opened again under the same name finds its
// memories as they were left; a state file is loaded at the first open and
// written by Save(). The chips run on their own virtual clock: the UPDI link
// measures its waits in the wire's reads.
class CSimUpdiPorts {
public:
    CSimUpdiPorts();
    ~CSimUpdiPorts();

    // The wire of the adapter with that name; nullptr with the reason in error.
    IUpdiWire* WireNamed(const std::string& name, std::string& error);
    bool Save(std::string& error);
    // The chip last opened (nullptr when none), for tests.
    CSimUpdiTarget* Target() { return m_lastTarget; }
    CSimUpdiWire* Wire() { return m_lastWire; }
    // What a stop-after fault calls.
    void SetStopHook(std::function<void()> hook);

private:
    struct Chip {
        std::unique_ptr<CSimUpdiTarget> target;
        std::unique_ptr<CSimUpdiWire> wire;
        std::string stateFile;
    };
    CVirtualCounter m_clock;
    std::map<std::string, Chip> m_chips;
    CSimUpdiTarget* m_lastTarget = nullptr;
    CSimUpdiWire* m_lastWire = nullptr;
    std::function<void()> m_stopHook;
};
