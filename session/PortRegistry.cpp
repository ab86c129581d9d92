#include "session/PortRegistry.h"

#include <algorithm>
#include <cctype>

#include "isp/NameText.h"
#include "isp/RoutingPort.h"
#include "sim/SimPortOptions.h"

namespace {

constexpr const char* kComPrefix = "COM";
constexpr size_t kMaxComDigits = 9;  // keeps every number inside int
constexpr int kDecimalBase = 10;

bool CheckSimName(const std::string& name, std::string& error) {
    SimPortOptions options;
    return ParseSimPortOptions(name, options, error);
}

std::unique_ptr<IPortKind> MakeSimKind(IPerformanceCounter& counter) {
    return std::make_unique<CSimPortKind>(counter);
}

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

}  // namespace

const std::vector<PortKindSpec>& PortKinds() {
    static const std::vector<PortKindSpec> kinds = {
        {kSimPortPrefix, true, CheckSimName, MakeSimKind},
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
    return kind == nullptr || kind->check(name, error);
}

bool IsSimulatedPortName(const std::string& name) {
    const PortKindSpec* kind = PortKindOf(name);
    return kind != nullptr && kind->simulated;
}

std::string PortDevicePath(const std::string& name, const PortNameMap& overrides) {
    int number = 0;
    return ParseComName(name, number) ? ResolvePortName(number, overrides) : name;
}
