// "sim:<device name>[,state=<file>][,<fault>...]": the simulated adapter named
// in a port setting or on the command line.
#pragma once

#include <memory>
#include <string>

#include "SimTarget.h"

struct SimPortSpec {
    int deviceIndex = -1;     // row of the device table
    std::string stateFile;    // empty: no state file
    SimConfig config;         // device values plus the faults named
};

constexpr const char* kSimPortPrefix = "sim:";

bool IsSimPortName(const std::string& name);
// Parses a sim: port name. false with a message in error when it is not one.
bool ParseSimPortSpec(const std::string& name, SimPortSpec& spec, std::string& error);

// A port that opens the real port for device paths and a simulated adapter
// for sim: names. The simulated chip lives as long as the router, so that a
// port reopened under the same name finds its memory as it was left; a state
// file is loaded at the first open and saved by SaveSimState().
class CRoutingPort : public ISerialPort {
public:
    CRoutingPort(ISerialPort& realPort, IPerformanceCounter& simCounter);
    ~CRoutingPort() override;

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

    // The simulated port last opened (nullptr when none).
    CSimPort* Sim();
    // Saves every simulated chip that has a state file; false when one failed.
    bool SaveSimState(std::string& error);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
