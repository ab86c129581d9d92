// "sim:<device name>[,state=<file>][,<fault>...]": the simulated adapter named
// in a port setting or on the command line. The device name is a name of the
// device table, compared without regard to case ("sim:at90s8515"). Faults:
//   no-adapter          nothing on the port: no reset echo, no DSR loop
//   no-target           the adapter without a chip: MISO stays low
//   stuck-flash=<addr>  this flash byte never takes a write (decimal or 0x hex)
//   stuck-eeprom=<addr> likewise for an EEPROM byte
//   erase-fails         Chip Erase erases nothing and loses the next reset echo
// The adapter on a simulated FT232R cable in bit-bang mode instead of a
// serial port:
//   ftdi                the cable (with RS-232 transceiver)
//   ttl                 a TTL-level cable, and the port told so
//   clock=<Hz>          the pin clock
//   ftdi-unplug-after=<n>  the cable is pulled after n USB round trips
//   unplug-after=<n>    the cable is pulled at the n-th line call (counted from 1
//                       over the port's life); plugged back when next opened
//   power-off-after=<n> the target loses its power at the n-th line call; it
//                       comes back at the next release of RESET
//   stop-after=<n>      a stop is asked for at the n-th line call, as by the user
//   chips=<n>           a production socket: the chip is taken out as soon as
//                       the program waits for its removal, and a fresh one
//                       (erased, factory fuses) put in when it waits for the
//                       next, n chips in all; after the last the socket stays empty
//   line-ns=<n>         every line call takes n ns of virtual time (a UART's
//                       register access), on top of the protocol's own waits
// The state file keeps flash, EEPROM, lock and fuse bits between runs; its name
// cannot contain a comma.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "ports/FtdiPort.h"
#include "ports/RoutingPort.h"
#include "sim/SimFtdiCable.h"
#include "sim/SimTarget.h"

struct SimPortOptions {
    std::string partName;   // the simulated part, as the simulator names it
    std::string stateFile;  // empty: no state file
    SimConfig config;       // device values plus the faults named
    bool ftdi = false;      // on a simulated FT232R cable
    FtdiPortOptions ftdiOptions;
    uint64_t ftdiUnplugAfter = 0;  // round trips; 0: never
    int chips = 0;                 // chips the socket is fed; 0: one that stays
};

constexpr const char* kSimPortPrefix = "sim:";

// True for names that start with "sim:" (in any case).
bool IsSimPortName(const std::string& name);
// Parses a sim: port name. false with a message in error when it is not one;
// simPort is then unchanged.
bool ParseSimPortOptions(const std::string& name, SimPortOptions& simPort, std::string& error);

// The simulated adapters, as a kind of port the router opens for sim: names.
// A simulated chip lives as long as this object, so that a port reopened
// under the same name finds its memory as it was left; a state file is
// loaded at the first open and saved by Save(). Chips are kept by the exact
// name they were opened with.
class CSimPortKind : public IPortKind {
public:
    // counter: the time base of the simulated chips.
    explicit CSimPortKind(IPerformanceCounter& counter);
    ~CSimPortKind() override;

    ISerialPort* PortNamed(const std::string& name, std::string& error) override;
    // Saves every simulated chip that has a state file.
    bool Save(std::string& error) override;

    // The simulated port last asked for (nullptr when none), and its cable
    // when it is on one.
    CSimPort* Sim() { return m_lastSim; }
    CSimFtdiCable* Cable() { return m_lastCable; }
    // What a stop-after fault calls, on every simulated port of the kind.
    void SetStopHook(std::function<void()> hook);
    // A production socket (chips=<n>) of the port last asked for: the
    // program waits for the chip's removal (it is taken out at once), or
    // for the next chip (a fresh one goes in while any are left). Nothing
    // happens on other ports.
    void ChipRemovalAwaited();
    void ChipAwaited();

private:
    struct SimChip {
        std::unique_ptr<CSimPort> port;
        std::string stateFile;
        std::unique_ptr<CSimFtdiCable> cable;
        std::unique_ptr<CFtdiPort> ftdiPort;
        int chipsLeft = 0;                  // fresh chips still to come
        bool fed = false;                   // a production socket
        std::vector<uint8_t> factoryFuses;  // of a fresh chip
    };
    SimChip* LastChip();
    static bool StateFileExists(const std::string& path);

    IPerformanceCounter& m_counter;
    std::map<std::string, SimChip> m_chips;
    CSimPort* m_lastSim = nullptr;
    CSimFtdiCable* m_lastCable = nullptr;
    std::function<void()> m_stopHook;
};
