// Every kind of port the session opens by name, in one table: "COMn" (a
// serial port through the settings' [Ports] entries or the system's default
// device path), a registered kind's names ("sim:ATmega328P,state=f"), and
// any other text as a device path ("/dev/ttyUSB0"). Each kind checks its
// own options, so a bad name is reported in plain words before anything is
// opened, by the tool's argument check and by the window alike.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ports/PortNames.h"

class IPerformanceCounter;
class IPortKind;

struct PortKindSpec {
    const char* prefix;  // compared without regard to case
    // The kind's chips run on a simulated clock: the tool then runs every
    // protocol wait in virtual time.
    bool simulated;
    // true when name (which starts with prefix) is a good name of the kind;
    // else false with the reason in error. Parses nothing twice: the same
    // check runs when the kind opens the name.
    bool (*check)(const std::string& name, std::string& error);
    // The kind's ports, on counter.
    std::unique_ptr<IPortKind> (*make)(IPerformanceCounter& counter);
};

// The registered kinds.
const std::vector<PortKindSpec>& PortKinds();
// The kind a name belongs to; nullptr for COM names and device paths.
const PortKindSpec* PortKindOf(const std::string& name);

// "COMn" in any case with n a decimal number (any n: whether the port
// exists is the open's business).
bool ParseComName(const std::string& name, int& number);
// true when name is a port one can try to open: COM1 to COM4, a good name
// of a registered kind, or a device path; else false with the reason.
bool CheckPortName(const std::string& name, std::string& error);
bool IsSimulatedPortName(const std::string& name);
// What a name opens: COMn through overrides (or the default path), any
// other name as it is.
// The option ",modem" after a device path stays out of it.
std::string PortDevicePath(const std::string& name, const PortNameMap& overrides);
// ",updi" after a device path, and optionally ",baud=<n>" after that: a UPDI
// adapter (TX and RX joined through a resistor) on that serial port's data
// path, at that baud (115200 when none is given).
struct UpdiPortPath {
    std::string device;  // the path without the options
    uint32_t baud = 0;
};
// true when path names a UPDI adapter; error is set (and false given) when it
// does with a bad option, and stays empty when path is no UPDI path.
bool ParseUpdiPortPath(const std::string& path, UpdiPortPath& updi, std::string& error);
// Whether a port name leads to a UPDI adapter: a UPDI path, or a sim: name of
// a UPDI chip. COMn is taken through overrides.
bool IsUpdiPortName(const std::string& name, const PortNameMap& overrides);
// Whether a device path asks to keep the modem lines (",modem" after it).
bool KeepsModemLines(const std::string& path);
// When path is the serial device of an FT232R or FT231X cable (and does not
// keep the modem lines), true with the name that drives the same cable in
// bit-bang mode ("ftdi:<serial>").
bool FastWayOf(const std::string& path, std::string& fastName);
// The serial ports and the FTDI cables of this machine, one a line, each
// with the name a port setting takes.
std::string PortListText();
