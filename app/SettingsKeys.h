// Sections, entries and defaults of the settings file.
#pragma once

#include "session/Defaults.h"

namespace settings {

constexpr const char* kDeviceSection = "Device";
constexpr const char* kDeviceType = "Type";
constexpr const char* kRecentDevices = "Recent";  // the parts chosen last, ";" between
constexpr int kDefaultDevice = kDefaultDeviceNumber;

constexpr const char* kComSection = "Com";
constexpr const char* kComPort = "Port";
constexpr int kDefaultPort = kDefaultPortNumber;

constexpr const char* kFileProgSection = "FileProg";
constexpr const char* kFileDataSection = "FileData";
constexpr const char* kPathProgSection = "PathProg";
constexpr const char* kPathDataSection = "PathData";
constexpr const char* kName = "Name";
constexpr const char* kName2 = "Name2";

// Where COMn lives: "COMn=<device path>" or "COMn=sim:<device>[,faults]".
constexpr const char* kPortsSection = "Ports";

// The settings file is the executable's base name with this suffix.
constexpr const char* kFileSuffix = ".INI";

}  // namespace settings
