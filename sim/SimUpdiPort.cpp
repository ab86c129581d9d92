#include "sim/SimUpdiPort.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>
#include <vector>

namespace {

constexpr const char* kPrefix = "sim:";
constexpr const char* kStateOption = "state=";
constexpr const char* kChipsOption = "chips=";
constexpr int kDecimalBase = 10;
constexpr uint8_t kErasedByte = 0xFF;
constexpr char kSeparator = ',';
constexpr int kHexBase = 16;
constexpr size_t kHexDigitsPerByte = 2;

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    const size_t n = std::strlen(prefix);
    if (text.size() < n) {
        return false;
    }
    for (size_t i = 0; i < n; ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) !=
            std::tolower(static_cast<unsigned char>(prefix[i]))) {
            return false;
        }
    }
    return true;
}

std::string ChipName(const std::string& name) {
    const std::string rest = name.substr(std::strlen(kPrefix));
    return rest.substr(0, rest.find(kSeparator));
}

// One memory a line: its name and its bytes in hex.
struct Memory {
    const char* name;
    std::vector<uint8_t>* bytes;
};

std::vector<Memory> Memories(CSimUpdiTarget& target) {
    return {{"flash", &target.Flash()},
            {"eeprom", &target.Eeprom()},
            {"userrow", &target.UserRow()},
            {"fuses", &target.Fuses()}};
}

constexpr const char* kLockLine = "lock";

bool SaveChip(CSimUpdiTarget& target, const std::string& path, std::string& error) {
    std::ofstream out(path, std::ios::trunc);
    for (const Memory& memory : Memories(target)) {
        out << memory.name << ' ';
        for (uint8_t byte : *memory.bytes) {
            char hex[kHexDigitsPerByte + 1];
            std::snprintf(hex, sizeof hex, "%02X", byte);
            out << hex;
        }
        out << '\n';
    }
    char lock[kHexDigitsPerByte + 1];
    std::snprintf(lock, sizeof lock, "%02X", target.LockByte());
    out << kLockLine << ' ' << lock << '\n';
    if (!out) {
        error = "cannot write the state file " + path;
        return false;
    }
    return true;
}

bool HexBytes(const std::string& text, std::vector<uint8_t>& bytes) {
    if (text.size() != bytes.size() * kHexDigitsPerByte) {
        return false;
    }
    for (size_t i = 0; i < bytes.size(); ++i) {
        char* end = nullptr;
        const std::string pair = text.substr(i * kHexDigitsPerByte, kHexDigitsPerByte);
        const unsigned long value = std::strtoul(pair.c_str(), &end, kHexBase);
        if (*end != '\0') {
            return false;
        }
        bytes[i] = static_cast<uint8_t>(value);
    }
    return true;
}

bool LoadChip(CSimUpdiTarget& target, const std::string& path, std::string& error) {
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string key, hex;
        words >> key >> hex;
        bool ok = false;
        for (const Memory& memory : Memories(target)) {
            if (key == memory.name) {
                ok = HexBytes(hex, *memory.bytes);
            }
        }
        if (key == kLockLine) {
            std::vector<uint8_t> lock(1);
            ok = HexBytes(hex, lock);
            target.LockByte() = lock[0];
            target.Reset();
        }
        if (!ok) {
            error = "the state file " + path + " is not one of a " + target.Part().name;
            return false;
        }
    }
    return true;
}

}  // namespace

bool IsSimUpdiPortName(const std::string& name) {
    return StartsWithNoCase(name, kPrefix) && SimUpdiPartNamed(ChipName(name)) != nullptr;
}

bool ParseSimUpdiPortOptions(const std::string& name, SimUpdiPortOptions& options,
                             std::string& error) {
    if (!IsSimUpdiPortName(name)) {
        error = "\"" + name + "\" is not a simulated UPDI adapter (sim:<UPDI chip>)";
        return false;
    }
    SimUpdiPortOptions parsed;
    parsed.part = SimUpdiPartNamed(ChipName(name));
    std::string rest = name.substr(std::strlen(kPrefix));
    const size_t comma = rest.find(kSeparator);
    rest = comma == std::string::npos ? std::string() : rest.substr(comma + 1);
    std::string faults;
    std::stringstream items(rest);
    std::string item;
    while (std::getline(items, item, kSeparator)) {
        if (item.compare(0, std::strlen(kStateOption), kStateOption) == 0) {
            parsed.stateFile = item.substr(std::strlen(kStateOption));
            if (parsed.stateFile.empty()) {
                error = "empty state file name in \"" + name + "\"";
                return false;
            }
        } else if (item.compare(0, std::strlen(kChipsOption), kChipsOption) == 0) {
            const std::string count = item.substr(std::strlen(kChipsOption));
            char* end = nullptr;
            const long chips = std::strtol(count.c_str(), &end, kDecimalBase);
            if (count.empty() || *end != '\0' || chips < 1 ||
                chips > std::numeric_limits<int>::max()) {
                error = "bad chip count \"" + count + "\" in \"" + name + "\"";
                return false;
            }
            parsed.chips = static_cast<int>(chips);
        } else {
            faults += (faults.empty() ? "" : ",") + item;
        }
    }
    if (!ParseSimUpdiFaults(faults, parsed.faults, error)) {
        error += " in \"" + name + "\"";
        return false;
    }
    options = parsed;
    return true;
}

CSimUpdiPorts::CSimUpdiPorts() = default;
CSimUpdiPorts::~CSimUpdiPorts() = default;

IUpdiWire* CSimUpdiPorts::WireNamed(const std::string& name, std::string& error) {
    auto found = m_chips.find(name);
    if (found == m_chips.end()) {
        SimUpdiPortOptions options;
        if (!ParseSimUpdiPortOptions(name, options, error)) {
            return nullptr;
        }
        Chip chip;
        chip.target = std::make_unique<CSimUpdiTarget>(*options.part, m_clock);
        chip.stateFile = options.stateFile;
        if (!chip.stateFile.empty() && std::ifstream(chip.stateFile).good() &&
            !LoadChip(*chip.target, chip.stateFile, error)) {
            return nullptr;
        }
        chip.fed = options.chips > 0;
        chip.chipsLeft = options.chips - 1;
        chip.factoryFuses = chip.target->Fuses();
        chip.factoryLock = chip.target->Lock();
        chip.wire = std::make_unique<CSimUpdiWire>(chip.target.get(), m_clock, options.faults);
        found = m_chips.emplace(name, std::move(chip)).first;
    }
    Chip& chip = found->second;
    if (m_stopHook) {
        chip.wire->SetStopHook(m_stopHook);
    }
    m_lastChip = &chip;
    m_lastTarget = chip.target.get();
    m_lastWire = chip.wire.get();
    return chip.wire.get();
}

bool CSimUpdiPorts::Save(std::string& error) {
    bool ok = true;
    for (auto& [name, chip] : m_chips) {
        if (!chip.stateFile.empty() && !SaveChip(*chip.target, chip.stateFile, error)) {
            ok = false;
        }
    }
    return ok;
}

void CSimUpdiPorts::SetStopHook(std::function<void()> hook) {
    m_stopHook = std::move(hook);
    for (auto& [name, chip] : m_chips) {
        chip.wire->SetStopHook(m_stopHook);
    }
}

void CSimUpdiPorts::ChipRemovalAwaited() {
    Chip* chip = m_lastChip;
    if (chip == nullptr || !chip->fed) {
        return;
    }
    // Out of the socket: only the adapter's echo comes back.
    chip->present = false;
    chip->wire->SetChipPresent(false);
}

void CSimUpdiPorts::ChipAwaited() {
    Chip* chip = m_lastChip;
    if (chip == nullptr || !chip->fed || chip->present || chip->chipsLeft <= 0) {
        return;
    }
    --chip->chipsLeft;
    CSimUpdiTarget& target = *chip->target;
    for (std::vector<uint8_t>* memory : {&target.Flash(), &target.Eeprom(), &target.UserRow()}) {
        std::fill(memory->begin(), memory->end(), kErasedByte);
    }
    target.Fuses() = chip->factoryFuses;
    target.Lock() = chip->factoryLock;
    target.Reset();
    chip->present = true;
    chip->wire->SetChipPresent(true);
}
