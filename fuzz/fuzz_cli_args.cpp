// Any bytes as the command line of brenwick-cli: the input split at NUL
// bytes gives the arguments after the program name. The parser must never
// crash, must give the same answer twice, and a line it accepts must give
// options the runner can use as they stand.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/CliOptions.h"
#include "isp/IspAdapter.h"
#include "parts/DeviceTable.h"
#include "ports/PortNames.h"
#include "sim/SimParts.h"
#include "sim/SimPortOptions.h"

namespace {

// Bounds the work per input: a real command line has a few dozen words.
constexpr size_t kMaxArguments = 256;

std::vector<std::string> SplitArguments(const uint8_t* data, size_t size) {
    std::vector<std::string> args;
    std::string word;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == '\0') {
            args.push_back(word);
            word.clear();
            if (args.size() == kMaxArguments) {
                return args;
            }
        } else {
            word.push_back(static_cast<char>(data[i]));
        }
    }
    if (size > 0) {
        args.push_back(word);
    }
    return args;
}

bool IsTick(int value) {
    return value == 0 || value == 1;
}

bool KnownDevice(const CliOptions& options) {
    if (options.deviceRow >= 0) {
        return options.deviceRow < kDeviceCount;
    }
    return FindDeviceByNumber(options.deviceNumber) != nullptr;
}

bool NeedsFile(CliActionKind kind) {
    switch (kind) {
        case CliActionKind::WriteProg:
        case CliActionKind::WriteData:
        case CliActionKind::VerifyProg:
        case CliActionKind::VerifyData:
        case CliActionKind::ReadProg:
        case CliActionKind::ReadData:
            return true;
        default:
            return false;
    }
}

bool TakesBits(CliActionKind kind) {
    return kind == CliActionKind::WriteLock || kind == CliActionKind::VerifyLock;
}

bool SanePort(const CliOptions& options) {
    std::string error;
    if (!CheckPortName(options.portText, error)) {
        return false;
    }
    int number = 0;
    if (ParseComName(options.portText, number)) {
        return number >= kFirstComPort && number <= kLastComPort;
    }
    if (!IsSimulatedPortName(options.portText)) {
        return true;
    }
    SimPortOptions simPort;
    return ParseSimPortOptions(options.portText, simPort, error) &&
           FindSimPart(simPort.partName) != nullptr;
}

bool SaneSettings(const std::string& settings) {
    size_t start = 0;
    for (;;) {
        const size_t comma = settings.find(',', start);
        const std::string item = settings.substr(start, comma - start);
        const size_t equals = item.find('=');
        if (equals == std::string::npos || equals == 0 || equals + 1 == item.size()) {
            return false;
        }
        if (comma == std::string::npos) {
            return true;
        }
        start = comma + 1;
    }
}

bool SaneAction(const CliAction& action) {
    const LockTicks& t = action.ticks;
    if (!IsTick(t.m_bLockBit1) || !IsTick(t.m_bLockBit2) || !IsTick(t.m_bFstrt) ||
        t.m_bSpien != 0) {
        return false;  // no set of lock bits turns Spien on
    }
    const bool takesFuses =
        action.kind == CliActionKind::WriteFuses || action.kind == CliActionKind::VerifyFuses;
    // Image actions always have a file; fuse and lock actions may take their
    // values from one, and reads of single values write theirs to one.
    const bool mayHaveFile = takesFuses || TakesBits(action.kind) || action.value != CliValue::None;
    if (NeedsFile(action.kind) ? action.file.empty() : !action.file.empty() && !mayHaveFile) {
        return false;
    }
    if (action.value != CliValue::None && action.file.empty()) {
        return false;
    }
    // Settings by name ("clock=rc8m") belong to write-fuses alone, as a comma
    // list of name=value items for the device to resolve once it is known.
    if (!action.fuseSettings.empty() &&
        (action.kind != CliActionKind::WriteFuses || !SaneSettings(action.fuseSettings))) {
        return false;
    }
    // Fuse actions name at least one byte, settings by name, or take all of
    // a file's; a fuse read names the one it gives; others none.
    const bool namesFuses = takesFuses || action.value == CliValue::Fuse;
    const bool named = action.fuseMask != 0 || !action.fuseSettings.empty();
    if (namesFuses ? !named && action.file.empty() : action.fuseMask != 0) {
        return false;
    }
    if (action.value == CliValue::Fuse) {
        return true;
    }
    if (takesFuses && action.fuseMask == 0) {
        return true;  // every byte of its ELF file, or settings by name alone
    }
    if (takesFuses) {
        // The fuse set prints in a form that parses back to itself.
        std::array<uint8_t, kFuseByteCount> fuses{};
        uint8_t mask = 0;
        std::string error;
        return ParseFuseSet(FormatFuseSet(action.fuses, action.fuseMask), fuses, mask, error) &&
               fuses == action.fuses && mask == action.fuseMask;
    }
    if (TakesBits(action.kind)) {
        // The set prints in a form that parses back to itself.
        LockTicks again;
        std::string error;
        return ParseLockSet(FormatLockSet(t), again, error) && again.m_bLockBit1 == t.m_bLockBit1 &&
               again.m_bLockBit2 == t.m_bLockBit2 && again.m_bFstrt == t.m_bFstrt;
    }
    return t.m_bLockBit1 == 0 && t.m_bLockBit2 == 0 && t.m_bFstrt == 0;
}

bool SameOptions(const CliOptions& a, const CliOptions& b) {
    if (a.portText != b.portText || a.deviceNumber != b.deviceNumber ||
        a.deviceRow != b.deviceRow || a.listDevices != b.listDevices ||
        a.allowCutOff != b.allowCutOff || a.autoDevice != b.autoDevice || a.quiet != b.quiet ||
        a.help != b.help || a.listPorts != b.listPorts || a.listPartIds != b.listPartIds ||
        a.version != b.version || a.actions.size() != b.actions.size()) {
        return false;
    }
    for (size_t i = 0; i < a.actions.size(); ++i) {
        const CliAction& x = a.actions[i];
        const CliAction& y = b.actions[i];
        if (x.kind != y.kind || x.file != y.file || x.ticks.m_bLockBit1 != y.ticks.m_bLockBit1 ||
            x.ticks.m_bLockBit2 != y.ticks.m_bLockBit2 || x.ticks.m_bFstrt != y.ticks.m_bFstrt ||
            x.fuses != y.fuses || x.fuseMask != y.fuseMask || x.format != y.format ||
            x.valueFormat != y.valueFormat || x.value != y.value ||
            x.fuseSettings != y.fuseSettings) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<std::string> args = SplitArguments(data, size);

    CliOptions options;
    std::string error;
    const bool accepted = ParseCliArguments(args, options, error);

    CliOptions again;
    std::string againError;
    if (ParseCliArguments(args, again, againError) != accepted || againError != error) {
        std::abort();  // the same line gives the same answer
    }
    if (!accepted) {
        if (error.empty()) {
            std::abort();  // a refusal always says why
        }
        return 0;
    }
    if (!SameOptions(options, again)) {
        std::abort();
    }
    if (options.help || options.listDevices || options.listPorts || options.listPartIds ||
        options.version) {
        return 0;
    }
    if (options.actions.empty() || !SanePort(options) ||
        (!options.autoDevice && !KnownDevice(options))) {
        std::abort();
    }
    for (const CliAction& action : options.actions) {
        if (!SaneAction(action)) {
            std::abort();
        }
    }
    return 0;
}
