#include "session/PortRegistry.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "base/NameText.h"
#include "ports/FtdiPortKind.h"
#include "ports/QtSerialPort.h"
#include "ports/RoutingPort.h"
#include "sim/SimPortOptions.h"
#include "sim/SimUpdiPort.h"
#include "updi/UpdiAdapter.h"

namespace {

constexpr const char* kComPrefix = "COM";
constexpr size_t kMaxComDigits = 9;  // keeps every number inside int
constexpr int kDecimalBase = 10;

constexpr const char* kUpdiOption = ",updi";
constexpr const char* kBaudOption = ",baud=";
constexpr size_t kMaxBaudDigits = 9;  // keeps every baud inside uint32_t

bool CheckSimName(const std::string& name, std::string& error) {
    // A UPDI chip of the simulator's, or else one it simulates over ISP.
    if (IsSimUpdiPortName(name)) {
        SimUpdiPortOptions options;
        return ParseSimUpdiPortOptions(name, options, error);
    }
    SimPortOptions options;
    return ParseSimPortOptions(name, options, error);
}

std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

std::unique_ptr<IPortKind> MakeSimKind(IPerformanceCounter& counter) {
    return std::make_unique<CSimPortKind>(counter);
}

bool CheckFtdiName(const std::string& name, std::string& error) {
    FtdiPortOptions options;
    return ParseFtdiPortName(name, options, error);
}

std::unique_ptr<IPortKind> MakeFtdiKind(IPerformanceCounter&) {
    return std::make_unique<CFtdiPortKind>();
}

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

}  // namespace

const std::vector<PortKindSpec>& PortKinds() {
    static const std::vector<PortKindSpec> kinds = {
        {kSimPortPrefix, true, CheckSimName, MakeSimKind},
        {kFtdiPortPrefix, false, CheckFtdiName, MakeFtdiKind},
    };
    return kinds;
}

const PortKindSpec* PortKindOf(const std::string& name) {
    for (const PortKindSpec& kind : PortKinds()) {
        if (StartsWithNoCase(name, kind.prefix)) {
            return &kind;
        }
    }
    return nullptr;
}

bool ParseComName(const std::string& name, int& number) {
    const std::string prefix = kComPrefix;
    const std::string digits = name.size() > prefix.size() ? name.substr(prefix.size()) : "";
    if (!StartsWithNoCase(name, prefix) || digits.empty() || digits.size() > kMaxComDigits ||
        !std::all_of(digits.begin(), digits.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; })) {
        return false;
    }
    number = 0;
    for (char c : digits) {
        number = number * kDecimalBase + (c - '0');
    }
    return true;
}

bool CheckPortName(const std::string& name, std::string& error) {
    if (name.empty()) {
        error = "empty port name";
        return false;
    }
    int number = 0;
    if (ParseComName(name, number)) {
        if (number < kFirstComPort || number > kLastComPort) {
            error = "port " + Quoted(name) + " is not one of COM1 to COM4";
            return false;
        }
        return true;
    }
    const PortKindSpec* kind = PortKindOf(name);
    if (kind != nullptr) {
        return kind->check(name, error);
    }
    UpdiPortPath updi;
    return ParseUpdiPortPath(name, updi, error) || error.empty();
}

bool ParseUpdiPortPath(const std::string& path, UpdiPortPath& updi, std::string& error) {
    const std::string lower = Lower(path);
    const size_t at = lower.find(kUpdiOption);
    if (at == std::string::npos || at == 0) {
        return false;
    }
    std::string rest = lower.substr(at + std::strlen(kUpdiOption));
    UpdiPortPath parsed;
    parsed.device = path.substr(0, at);
    parsed.baud = kUpdiDefaultBaud;
    if (!rest.empty()) {
        const std::string digits = rest.compare(0, std::strlen(kBaudOption), kBaudOption) == 0
                                       ? rest.substr(std::strlen(kBaudOption))
                                       : std::string();
        const bool number = !digits.empty() && digits.size() <= kMaxBaudDigits &&
                            std::all_of(digits.begin(), digits.end(), [](char c) {
                                return std::isdigit(static_cast<unsigned char>(c)) != 0;
                            });
        if (!number || std::stoul(digits) == 0) {
            error = "bad UPDI option \"" + path.substr(at) + "\" in \"" + path +
                    "\" (,updi or ,updi,baud=<n>)";
            return false;
        }
        parsed.baud = static_cast<uint32_t>(std::stoul(digits));
    }
    updi = parsed;
    return true;
}

bool IsUpdiPortName(const std::string& name, const PortNameMap& overrides) {
    if (IsSimUpdiPortName(name)) {
        return true;
    }
    int number = 0;
    const std::string path = ParseComName(name, number) ? ResolvePortName(number, overrides) : name;
    UpdiPortPath updi;
    std::string error;
    return PortKindOf(path) == nullptr && (ParseUpdiPortPath(path, updi, error) || !error.empty());
}

std::string PortListText() {
    std::string text = "Serial ports (the modem lines):\n";
    const std::vector<SerialDeviceInfo> ports = ListSerialDevices();
    for (const SerialDeviceInfo& port : ports) {
        std::string name = port.path;
        for (int n = kFirstComPort; n <= kLastComPort; ++n) {
            if (ResolvePortName(n, {}) == port.path) {
                name = ComPortName(n) + " (" + port.path + ")";
            }
        }
        std::string fast;
        text +=
            "  " + name + (port.description.empty() ? "" : "  " + port.description) +
            (FastWayOf(port.path, fast) ? "  [an FTDI cable: " + fast + " drives it faster]" : "") +
            "\n";
    }
    if (ports.empty()) {
        text += "  none\n";
    }
    text += "FT232R/FT231X cables (bit-bang, the fast way):\n";
    std::vector<FtdiCable> cables;
    std::string error;
    const bool listed = CLibFtdiDevice::List(cables, error);
    for (const FtdiCable& cable : cables) {
        text += "  " + std::string(kFtdiPortPrefix) + cable.serial +
                (cable.description.empty() ? "" : "  " + cable.description) + "\n";
    }
    if (!listed) {
        text += "  (the USB bus could not be searched: " + error + ")\n";
    } else if (cables.empty()) {
        text += "  none\n";
    }
    return text;
}

bool IsSimulatedPortName(const std::string& name) {
    const PortKindSpec* kind = PortKindOf(name);
    return kind != nullptr && kind->simulated;
}

std::string PortDevicePath(const std::string& name, const PortNameMap& overrides) {
    int number = 0;
    const std::string path = ParseComName(name, number) ? ResolvePortName(number, overrides) : name;
    return KeepsModemLines(path) ? path.substr(0, path.size() - std::strlen(kModemLinesOption))
                                 : path;
}

bool KeepsModemLines(const std::string& path) {
    const std::string option = kModemLinesOption;
    return path.size() > option.size() &&
           EqualNoCase(path.substr(path.size() - option.size()), option);
}

bool FastWayOf(const std::string& path, std::string& fastName) {
    std::string serial;
    UpdiPortPath updi;
    std::string error;
    if (PortKindOf(path) != nullptr || KeepsModemLines(path) ||
        ParseUpdiPortPath(path, updi, error) || !error.empty() ||
        !FtdiCableOfSerialDevice(path, serial)) {
        return false;
    }
    fastName = kFtdiPortPrefix + serial;
    return true;
}
