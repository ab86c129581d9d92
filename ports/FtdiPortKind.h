// FTDI cables as a kind of port ("ftdi:" names), and how a serial device
// path is recognised as such a cable, so that a [Ports] entry naming the
// cable's serial device can use the fast way on its own.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "ports/FtdiPort.h"
#include "ports/LibFtdiDevice.h"
#include "ports/RoutingPort.h"

class CFtdiPortKind : public IPortKind {
public:
    ISerialPort* PortNamed(const std::string& name, std::string& error) override;
    bool Save(std::string&) override { return true; }

private:
    struct Cable {
        std::unique_ptr<CLibFtdiDevice> device;
        std::unique_ptr<CFtdiPort> port;
    };
    std::map<std::string, Cable> m_cables;
};

// The option of a serial device path that keeps the modem-line way on an
// FTDI cable ("/dev/ttyUSB0,modem").
constexpr const char* kModemLinesOption = ",modem";

// When devicePath (after links) is the serial device of an FT232R or FT231X
// cable, true with its USB serial number; sysRoot is where the system's
// device tree is mounted ("/sys"). Always false where there is none.
bool FtdiCableOfSerialDevice(const std::string& devicePath, std::string& serial,
                             const std::string& sysRoot = "/sys");
