// The port every open goes through: a name that starts with a known prefix
// opens a port of that kind, any other name the real serial port. A new
// kind of port (a simulated adapter, later perhaps one on the network) is
// one more entry of the table the router is made with.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ports/SerialPort.h"

// The ports of one kind.
class IPortKind {
public:
    virtual ~IPortKind() = default;
    // The port for a name of this kind, which the router then opens with
    // that name; nullptr with the reason in error when the name is no good.
    // A kind may keep its ports, so that one reopened under the same name is
    // the one left before.
    virtual ISerialPort* PortNamed(const std::string& name, std::string& error) = 0;
    // Saves what the kind's ports keep between runs; false with the reason.
    virtual bool Save(std::string& error) = 0;
};

struct PortKindEntry {
    const char* prefix;  // compared without regard to case
    IPortKind* kind;
};

class CRoutingPort : public ISerialPort {
public:
    // realPort and the kinds must outlive the router.
    CRoutingPort(ISerialPort& realPort, std::vector<PortKindEntry> kinds);
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
    PortErrorKind LastErrorKind() const override;
    ISerialPort* OpenedPort() override;

    // Saves what every kind keeps between runs; false when one failed, with
    // the reasons in error.
    bool SaveKinds(std::string& error);

private:
    ISerialPort& m_real;
    std::vector<PortKindEntry> m_kinds;
    ISerialPort* m_active = nullptr;     // the port open through the router
    ISerialPort* m_lastTried = nullptr;  // whose LastError() tells about the last open
    std::string m_error;                 // the router's own reason for the last failed open
};
