// "sim:<device name>[,state=<file>][,<fault>...]": the simulated adapter named
// in a port setting or on the command line. The device name is a name of the
// device table, compared without regard to case ("sim:at90s8515"). Faults:
//   no-adapter          nothing on the port: no reset echo, no DSR loop
//   no-target           the adapter without a chip: MISO stays low
//   stuck-flash=<addr>  this flash byte never takes a write (decimal or 0x hex)
//   stuck-eeprom=<addr> likewise for an EEPROM byte
//   erase-fails         Chip Erase erases nothing and loses the next reset echo
// The state file keeps flash, EEPROM, lock and fuse bits between runs; its name
// cannot contain a comma.
#pragma once

#include <memory>
#include <string>

#include "sim/SimTarget.h"

struct SimPortOptions {
    int deviceIndex = -1;   // row of the device table
    std::string stateFile;  // empty: no state file
    SimConfig config;       // device values plus the faults named
};

constexpr const char* kSimPortPrefix = "sim:";

// True for names that start with "sim:" (in any case).
bool IsSimPortName(const std::string& name);
// Parses a sim: port name. false with a message in error when it is not one;
// simPort is then unchanged.
bool ParseSimPortOptions(const std::string& name, SimPortOptions& simPort, std::string& error);

// A port that opens the real port for device paths and a simulated adapter
// for sim: names. The simulated chip lives as long as the router, so that a
// port reopened under the same name finds its memory as it was left; a state
// file is loaded at the first open and saved by SaveSimState(). Chips are kept
// by the exact name they were opened with.
class CRoutingPort : public ISerialPort {
public:
    CRoutingPort(ISerialPort& realPort, IPerformanceCounter& simCounter);
    ~CRoutingPort() override;

    // Fails while a port is open through the router (one port at a time).
    bool Open(const std::string& deviceName) override;
    bool SetupComm(uint32_t inQueue, uint32_t outQueue) override;
    bool GetCommState(CommState& state) override;
    bool SetCommState(const CommState& state) override;
    bool SetCommMask(uint32_t mask) override;
    bool SetCommTimeouts(const CommTimeouts& timeouts) override;
    bool EscapeCommFunction(EscapeCode code) override;
    bool SetCommBreak() override;
    bool ClearCommBreak() override;
    bool GetCommModemStatus(uint32_t& status) override;
    void Close() override;
    std::string LastError() const override;
    ISerialPort* OpenedPort() override;

    // The simulated port last opened (nullptr when none).
    CSimPort* Sim();
    // Saves every simulated chip that has a state file; false when one failed.
    bool SaveSimState(std::string& error);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
