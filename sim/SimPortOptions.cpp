#include "sim/SimPortOptions.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

#include "base/NameText.h"
#include "sim/SimParts.h"

namespace {

constexpr char kSeparator = ',';
constexpr const char* kStateOption = "state=";
constexpr const char* kNoAdapter = "no-adapter";
constexpr const char* kNoTarget = "no-target";
constexpr const char* kStuckFlash = "stuck-flash=";
constexpr const char* kStuckEeprom = "stuck-eeprom=";
constexpr const char* kEraseFails = "erase-fails";
constexpr const char* kFtdiOption = "ftdi";
constexpr const char* kFtdiUnplugOption = "ftdi-unplug-after=";
constexpr const char* kUnplugAfter = "unplug-after=";
constexpr const char* kPowerOffAfter = "power-off-after=";
constexpr const char* kStopAfter = "stop-after=";
constexpr const char* kHexPrefix = "0x";
constexpr const char* kChipsOption = "chips=";
constexpr const char* kLineNsOption = "line-ns=";
constexpr uint8_t kErasedByte = 0xFF;
constexpr uint8_t kUnprogrammedLockBits = 0xFF;

constexpr int kDecimalBase = 10;
constexpr int kHexBase = 16;
constexpr size_t kMaxDecimalDigits = 9;  // keeps every value inside int
constexpr size_t kMaxHexDigits = 7;

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

std::vector<std::string> Split(const std::string& text) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(kSeparator, start);
        parts.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos) {
            return parts;
        }
        start = comma + 1;
    }
}

int DigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    const int lower = std::tolower(static_cast<unsigned char>(c));
    if (lower >= 'a' && lower <= 'f') {
        return lower - 'a' + kDecimalBase;
    }
    return kHexBase;  // no digit in any base used here
}

// A byte address: decimal digits, or 0x and hex digits.
bool ParseAddress(const std::string& text, int& address) {
    int base = kDecimalBase;
    size_t start = 0;
    size_t maxDigits = kMaxDecimalDigits;
    if (text.size() > std::strlen(kHexPrefix) && StartsWithNoCase(text, kHexPrefix)) {
        base = kHexBase;
        start = std::strlen(kHexPrefix);
        maxDigits = kMaxHexDigits;
    }
    const size_t digits = text.size() - start;
    if (digits == 0 || digits > maxDigits) {
        return false;
    }
    int value = 0;
    for (size_t i = start; i < text.size(); ++i) {
        const int digit = DigitValue(text[i]);
        if (digit >= base) {
            return false;
        }
        value = value * base + digit;
    }
    address = value;
    return true;
}

bool StuckAddress(const std::string& option, const char* key, int memorySize,
                  const std::string& deviceName, std::vector<int>& addresses, std::string& error) {
    int address = 0;
    const std::string text = option.substr(std::strlen(key));
    if (!ParseAddress(text, address)) {
        error = "bad address \"" + text + "\" in " + option;
        return false;
    }
    if (address >= memorySize) {
        error =
            option + " lies outside the " + std::to_string(memorySize) + " bytes of " + deviceName;
        return false;
    }
    addresses.push_back(address);
    return true;
}

// A line call count of a fault, from 1 (decimal or 0x hex).
bool LineCallCount(const std::string& option, const char* key, int64_t& count, std::string& error) {
    const std::string text = option.substr(std::strlen(key));
    int value = 0;
    if (!ParseAddress(text, value) || value < 1) {
        error = "bad line call count \"" + text + "\" in " + option;
        return false;
    }
    count = value;
    return true;
}

}  // namespace

bool IsSimPortName(const std::string& name) {
    return StartsWithNoCase(name, kSimPortPrefix);
}

bool ParseSimPortOptions(const std::string& name, SimPortOptions& simPort, std::string& error) {
    if (!IsSimPortName(name)) {
        error = "\"" + name + "\" is not a simulated port (sim:<device>)";
        return false;
    }
    const std::vector<std::string> parts = Split(name.substr(std::strlen(kSimPortPrefix)));
    SimPortOptions parsed;
    // The simulator's own parts, not the program's description: a sim: port
    // is a chip, whatever the program believes about it.
    const SimPart* part = FindSimPart(parts[0]);
    if (part == nullptr) {
        error = parts[0].empty() ? std::string("no device named in \"") + name + "\""
                                 : "unknown device \"" + parts[0] + "\" in \"" + name + "\"";
        return false;
    }
    const std::string deviceName = part->name;
    parsed.partName = deviceName;
    parsed.config = SimConfigForPart(deviceName);
    SimConfig& config = parsed.config;
    for (size_t i = 1; i < parts.size(); ++i) {
        const std::string& option = parts[i];
        bool cableOption = false;
        const bool cableOptionOk = ParseFtdiOption(option, parsed.ftdiOptions, error, cableOption);
        if (cableOption) {
            if (!cableOptionOk) {
                return false;
            }
            continue;
        }
        if (StartsWith(option, kStateOption)) {
            if (!parsed.stateFile.empty()) {
                error = "more than one state file in \"" + name + "\"";
                return false;
            }
            parsed.stateFile = option.substr(std::strlen(kStateOption));
            if (parsed.stateFile.empty()) {
                error = "empty state file name in \"" + name + "\"";
                return false;
            }
        } else if (option == kNoAdapter) {
            config.noAdapter = true;
        } else if (option == kNoTarget) {
            config.noTarget = true;
        } else if (option == kEraseFails) {
            config.eraseFails = true;
        } else if (option == kFtdiOption) {
            parsed.ftdi = true;
        } else if (StartsWith(option, kFtdiUnplugOption)) {
            int after = 0;
            if (!ParseAddress(option.substr(std::strlen(kFtdiUnplugOption)), after) || after <= 0) {
                error = "bad round trip count in \"" + option + "\"";
                return false;
            }
            parsed.ftdiUnplugAfter = static_cast<uint64_t>(after);
        } else if (StartsWith(option, kUnplugAfter)) {
            if (!LineCallCount(option, kUnplugAfter, config.unplugAfterLineOps, error)) {
                return false;
            }
        } else if (StartsWith(option, kPowerOffAfter)) {
            if (!LineCallCount(option, kPowerOffAfter, config.powerOffAfterLineOps, error)) {
                return false;
            }
        } else if (StartsWith(option, kStopAfter)) {
            if (!LineCallCount(option, kStopAfter, config.stopAfterLineOps, error)) {
                return false;
            }
        } else if (StartsWith(option, kChipsOption)) {
            int chips = 0;
            if (!ParseAddress(option.substr(std::strlen(kChipsOption)), chips) || chips < 1) {
                error = "bad chip count in \"" + option + "\"";
                return false;
            }
            parsed.chips = chips;
        } else if (StartsWith(option, kLineNsOption)) {
            int ns = 0;
            if (!ParseAddress(option.substr(std::strlen(kLineNsOption)), ns)) {
                error = "bad line call time in \"" + option + "\"";
                return false;
            }
            config.lineCallNs = ns;
        } else if (StartsWith(option, kStuckFlash)) {
            if (!StuckAddress(option, kStuckFlash, config.progSize, deviceName,
                              config.stuckProgBytes, error)) {
                return false;
            }
        } else if (StartsWith(option, kStuckEeprom)) {
            if (!StuckAddress(option, kStuckEeprom, config.dataSize, deviceName,
                              config.stuckDataBytes, error)) {
                return false;
            }
        } else {
            error = "unknown option \"" + option + "\" in \"" + name + "\"";
            return false;
        }
    }
    if (!parsed.ftdi && (parsed.ftdiOptions.ttl || parsed.ftdiUnplugAfter != 0 ||
                         parsed.ftdiOptions.pinClockHz != kDefaultPinClockHz)) {
        error = "ttl, clock= and ftdi-unplug-after= go with ftdi in \"" + name + "\"";
        return false;
    }
    simPort = parsed;
    return true;
}

CSimPortKind::CSimPortKind(IPerformanceCounter& counter) : m_counter(counter) {}

CSimPortKind::~CSimPortKind() = default;

ISerialPort* CSimPortKind::PortNamed(const std::string& name, std::string& error) {
    auto it = m_chips.find(name);
    if (it == m_chips.end()) {
        SimPortOptions simPort;
        if (!ParseSimPortOptions(name, simPort, error)) {
            return nullptr;
        }
        SimChip chip;
        chip.port = std::make_unique<CSimPort>(simPort.config, m_counter);
        chip.stateFile = simPort.stateFile;
        chip.fed = simPort.chips > 0;
        chip.chipsLeft = simPort.chips - 1;
        chip.factoryFuses = chip.port->Fuses();
        if (simPort.ftdi) {
            chip.cable = std::make_unique<CSimFtdiCable>(
                *chip.port, m_counter, simPort.ftdiOptions.ttl, simPort.ftdiUnplugAfter);
            chip.ftdiPort = std::make_unique<CFtdiPort>(*chip.cable, simPort.ftdiOptions);
        }
        // A state file that does not exist yet is created by the first save.
        if (!simPort.stateFile.empty() && StateFileExists(simPort.stateFile) &&
            !chip.port->LoadState(simPort.stateFile, error)) {
            return nullptr;
        }
        chip.port->SetStopHook(m_stopHook);
        it = m_chips.emplace(name, std::move(chip)).first;
    }
    m_lastSim = it->second.port.get();
    m_lastCable = it->second.cable.get();
    if (it->second.ftdiPort != nullptr) {
        return it->second.ftdiPort.get();
    }
    return m_lastSim;
}

void CSimPortKind::SetStopHook(std::function<void()> hook) {
    m_stopHook = std::move(hook);
    for (auto& entry : m_chips) {
        entry.second.port->SetStopHook(m_stopHook);
    }
}

CSimPortKind::SimChip* CSimPortKind::LastChip() {
    for (auto& entry : m_chips) {
        if (entry.second.port.get() == m_lastSim) {
            return &entry.second;
        }
    }
    return nullptr;
}

void CSimPortKind::ChipRemovalAwaited() {
    SimChip* chip = LastChip();
    if (chip == nullptr || !chip->fed) {
        return;
    }
    // Out of the socket: nothing answers on MISO, and what was going on in
    // the chip is gone with it.
    chip->port->Config().noTarget = true;
    chip->port->PowerCycle();
}

void CSimPortKind::ChipAwaited() {
    SimChip* chip = LastChip();
    if (chip == nullptr || !chip->fed || !chip->port->Config().noTarget || chip->chipsLeft <= 0) {
        return;
    }
    --chip->chipsLeft;
    CSimPort& port = *chip->port;
    std::fill(port.Flash().begin(), port.Flash().end(), kErasedByte);
    std::fill(port.Eeprom().begin(), port.Eeprom().end(), kErasedByte);
    port.SetLockBitsByte(kUnprogrammedLockBits);
    port.SetFuses(chip->factoryFuses);
    port.Config().noTarget = false;
    port.PowerCycle();
}

bool CSimPortKind::Save(std::string& error) {
    bool ok = true;
    for (auto& entry : m_chips) {
        const SimChip& chip = entry.second;
        std::string why;
        if (!chip.stateFile.empty() && !chip.port->SaveState(chip.stateFile, why)) {
            error += (error.empty() ? "" : "; ") + why;
            ok = false;
        }
    }
    return ok;
}

bool CSimPortKind::StateFileExists(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    std::fclose(file);
    return true;
}
