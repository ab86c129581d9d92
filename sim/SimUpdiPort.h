// "sim:<UPDI chip>[,state=<file>][,<fault>...]": a simulated USB serial
// adapter with that UPDI chip on its wire, named in a port setting or on the
// command line. The chip is a name of the simulator's own UPDI table
// ("sim:ATtiny1614"). The faults are the UPDI wire's (sim/SimUpdiWire.h):
// no-adapter, no-chip, unplug-after=N, power-off-after=N, stop-after=N,
// wrong-echo-after=N. chips=<n> makes the adapter a production socket, as on
// the ISP simulator: the chip is taken out as soon as the program waits for
// its removal, and a fresh one (erased, factory fuses, open) put in when it
// waits for the next, n chips in all. The state file keeps flash, EEPROM, user row, fuses and
// lock between runs; its name cannot contain a comma.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sim/SimUpdiParts.h"
#include "sim/SimUpdiTarget.h"
#include "sim/SimUpdiWire.h"
#include "sim/VirtualCounter.h"

struct SimUpdiPortOptions {
    const SSimUpdiPart* part = nullptr;
    std::string stateFile;  // empty: no state file
    SSimUpdiFaults faults;
    int chips = 0;  // chips the socket is fed; 0: one that stays
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
    // The time the simulated UPDI adapters have spent, in nanoseconds.
    int64_t ElapsedNs() const { return m_clock.Now(); }
    // A production socket (chips=<n>) of the adapter last opened: the
    // program waits for the chip's removal (it is taken out at once), or
    // for the next chip (a fresh one goes in while any are left). Nothing
    // happens on other adapters.
    void ChipRemovalAwaited();
    void ChipAwaited();

private:
    struct Chip {
        std::unique_ptr<CSimUpdiTarget> target;
        std::unique_ptr<CSimUpdiWire> wire;
        std::string stateFile;
        bool fed = false;     // a production socket
        bool present = true;  // a chip is in it
        int chipsLeft = 0;    // fresh chips still to come
        std::vector<uint8_t> factoryFuses;
        std::vector<uint8_t> factoryLock;
    };
    Chip* m_lastChip = nullptr;
    CVirtualCounter m_clock;
    std::map<std::string, Chip> m_chips;
    CSimUpdiTarget* m_lastTarget = nullptr;
    CSimUpdiWire* m_lastWire = nullptr;
    std::function<void()> m_stopHook;
};
