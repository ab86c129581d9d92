// Where "COMn" lives on this system. One function, so that the settings'
// [Ports] overrides and every open go through the same mapping.
#pragma once

#include <map>
#include <string>

constexpr int kFirstComPort = 1;
constexpr int kLastComPort = 4;
// The port number of a port opened by name rather than as COMn.
constexpr int kNoPortNumber = 0;

// Port number -> device path (or "sim:..." for the simulated adapter).
using PortNameMap = std::map<int, std::string>;

// The name the adapter forms for port n ("COM%d").
std::string ComPortName(int n);

// The device to open for port n: the override when there is one, else
// "/dev/ttyS<n-1>" on Linux and other Unix systems, "COMn" on Windows.
std::string ResolvePortName(int n, const PortNameMap& overrides);
