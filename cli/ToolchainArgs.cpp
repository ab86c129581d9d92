#include "cli/ToolchainArgs.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "image/IntelHex.h"
#include "parts/DeviceTable.h"
#include "parts/PartIds.h"
#include "parts/UpdiParts.h"
#include "session/PortRegistry.h"

// SI-Prog is PonyProg's serial interface, and ponyser the id under which
// toolchain configurations know its wiring: RESET on TXD, SCK on RTS, MOSI on
// DTR, MISO on CTS, as on this adapter. Other serial "bit-bang" ids (dasa,
// dasa3) put RESET, SCK and MOSI on other lines and are refused.
const char* const kToolchainProgrammerIds[] = {"ponyser", "siprog"};
const int kToolchainProgrammerIdCount =
    static_cast<int>(sizeof kToolchainProgrammerIds / sizeof kToolchainProgrammerIds[0]);

namespace {

enum class Memory { Flash, Eeprom, Fuse, Lock, Signature, Calibration, UserRow, UpdiFuse };

struct MemoryName {
    const char* name;
    Memory memory;
    uint8_t fuse;  // kLowFuse... for the fuse bytes
};

constexpr MemoryName kMemories[] = {
    {"flash", Memory::Flash, 0},
    {"eeprom", Memory::Eeprom, 0},
    {"lfuse", Memory::Fuse, kLowFuse},
    {"hfuse", Memory::Fuse, kHighFuse},
    {"efuse", Memory::Fuse, kExtendedFuse},
    {"lock", Memory::Lock, 0},
    {"signature", Memory::Signature, 0},
    {"calibration", Memory::Calibration, 0},
    {"userrow", Memory::UserRow, 0},
    {"usersig", Memory::UserRow, 0},
};
// A fuse of a UPDI part, by its name or number (the request says which).
constexpr MemoryName kUpdiFuseMemory = {"fuse", Memory::UpdiFuse, 0};

constexpr char kOpWrite = 'w';
constexpr char kOpRead = 'r';
constexpr char kOpVerify = 'v';
constexpr char kFormatIntelHex = 'i';
constexpr char kFormatRaw = 'r';
constexpr char kFormatElf = 'e';
constexpr char kFormatImmediate = 'm';
constexpr char kFormatHex = 'h';
constexpr char kFormatDecimal = 'd';
constexpr char kFormatBinary = 'b';
constexpr char kFormatAuto = 'a';
constexpr const char* kFormatLetters = "ireamhdb";
constexpr char kFieldSeparator = ':';
constexpr const char* kStandardOutput = "-";

constexpr char kPartOption = 'p';
constexpr char kPortOption = 'P';
constexpr char kProgrammerOption = 'c';
constexpr char kEraseOption = 'e';
constexpr char kMemoryOption = 'U';
constexpr char kNoVerifyOption = 'V';
constexpr char kBaudOption = 'b';
// The UPDI adapter: a serial cable whose TX and RX are joined through a
// resistor. It puts ",updi" (and ",baud=<n>") after the -P port.
constexpr const char* kSerialUpdiId = "serialupdi";
constexpr const char* kUpdiPortOption = ",updi";
constexpr const char* kUpdiBaudOption = ",baud=";
constexpr const char* kUpdiFusePrefix = "fuse";
constexpr char kHelpLetter = 'h';
constexpr const char* kAllowCutOff = "--allow-cutoff";
constexpr const char* kQuiet = "--quiet";

constexpr unsigned kMaxByte = 0xFF;
constexpr int kHexBase = 16;
constexpr int kBinaryBase = 2;
constexpr int kDecimalBase = 10;
constexpr size_t kMaxValueDigits = 10;
constexpr int kBitsPerByte = 8;
constexpr int kMaxValueBytes = 64;  // an Intel HEX value file is read this far
constexpr size_t kValueTextLength = 16;
constexpr size_t kListLineLength = 64;
constexpr uint8_t kLockBit1 = 0x01;
constexpr uint8_t kLockBit2 = 0x02;
// fuse0 to fuse99 at most: a longer number names no fuse.
constexpr size_t kMaxFuseNumberDigits = 2;

std::string Lower(const std::string& text) {
    std::string lower = text;
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return lower;
}

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

// 0x.. hex, 0b.. binary, else decimal; one byte.
bool ParseByte(const std::string& text, uint8_t& value) {
    std::string digits = Lower(text);
    int base = kDecimalBase;
    if (digits.rfind("0x", 0) == 0) {
        base = kHexBase;
        digits = digits.substr(2);
    } else if (digits.rfind("0b", 0) == 0) {
        base = kBinaryBase;
        digits = digits.substr(2);
    }
    if (digits.empty() || digits.size() > kMaxValueDigits) {
        return false;
    }
    unsigned number = 0;
    for (char c : digits) {
        const int digit = std::isdigit(static_cast<unsigned char>(c)) != 0 ? c - '0'
                          : c >= 'a' && c <= 'f'                           ? c - 'a' + kDecimalBase
                                                                           : base;
        if (digit >= base) {
            return false;
        }
        number = number * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
        if (number > kMaxByte) {
            return false;
        }
    }
    value = static_cast<uint8_t>(number);
    return true;
}

FormatChoice ImageChoice(char format, bool output) {
    switch (format) {
        case kFormatIntelHex:
            return FormatChoice::IntelHex;
        case kFormatRaw:
            return FormatChoice::Binary;
        case kFormatElf:
            return FormatChoice::Elf;
        default:
            // Auto: by content for a file read, by name for one written.
            return output ? FormatChoice::ByName : FormatChoice::ByContent;
    }
}

struct MemoryRequest {
    const MemoryName* memory = nullptr;
    std::string updiFuse;  // the layout's name of a UPDI part's fuse
    char op = 0;
    std::string file;
    char format = 0;  // 0: none given
};

bool ParseRequest(const std::string& text, const DeviceInfo& device, MemoryRequest& request,
                  std::string& error) {
    const std::string usage = "-U " + Quoted(text) +
                              ": use -U <memory>:<op>:<file or value>[:<format>], "
                              "e.g. -U flash:w:main.hex:i";
    const size_t first = text.find(kFieldSeparator);
    const size_t second =
        first == std::string::npos ? first : text.find(kFieldSeparator, first + 1);
    if (second == std::string::npos || second != first + 2) {
        error = usage;
        return false;
    }
    const std::string memory = Lower(text.substr(0, first));
    for (const MemoryName& name : kMemories) {
        if (memory == name.name) {
            request.memory = &name;
        }
    }
    // A UPDI part's fuses go by their names or numbers (fuse0...); the
    // three fuse bytes of the parts of today are none of its.
    const bool updi = device.protocol == Protocol::Updi && device.updiPart != nullptr;
    size_t fuseIndex = 0;
    if (updi && FindUpdiFuse(*device.updiPart, memory, fuseIndex)) {
        request.memory = &kUpdiFuseMemory;
        request.updiFuse = device.updiPart->fuses.fuses[fuseIndex].name;
    } else if (updi && ((request.memory != nullptr && request.memory->memory == Memory::Fuse) ||
                        memory.compare(0, std::strlen(kUpdiFusePrefix), kUpdiFusePrefix) == 0)) {
        error = "-U " + Quoted(text) + ": the " + device.name + " has no fuse " + memory +
                "; its fuses: " + UpdiFuseNameList(*device.updiPart);
        return false;
    }
    if (!updi && request.memory != nullptr && request.memory->memory == Memory::UserRow) {
        error = "-U " + Quoted(text) + ": " + memory + " is a memory of UPDI parts, not of the " +
                device.name;
        return false;
    }
    if (request.memory == nullptr) {
        error = "-U " + Quoted(text) + ": unknown memory " + Quoted(memory) +
                "; memories: flash, eeprom, lfuse, hfuse, efuse, lock, signature, calibration" +
                (updi ? "; of the " + std::string(device.name) + ": userrow and its fuses " +
                            UpdiFuseNameList(*device.updiPart)
                      : std::string());
        return false;
    }
    request.op = text[first + 1];
    if (request.op != kOpWrite && request.op != kOpRead && request.op != kOpVerify) {
        error = "-U " + Quoted(text) + ": unknown operation " + Quoted(std::string(1, request.op)) +
                "; use w (write), r (read) or v (verify)";
        return false;
    }
    request.file = text.substr(second + 1);
    const size_t last = request.file.rfind(kFieldSeparator);
    if (last != std::string::npos && last + 2 == request.file.size()) {
        request.format = request.file.back();
        request.file.erase(last);
        if (std::string(kFormatLetters).find(request.format) == std::string::npos) {
            error = "-U " + Quoted(text) + ": unknown format " +
                    Quoted(std::string(1, request.format)) +
                    "; formats: i (Intel HEX), r (raw binary), e (ELF), m (immediate), "
                    "h, d, b (numbers), a (auto)";
            return false;
        }
    }
    if (request.file.empty()) {
        error = usage;
        return false;
    }
    return true;
}

std::string FormatNotFor(const MemoryRequest& request) {
    return "-U " + std::string(request.memory->name) + ":" + request.op + ": format " +
           Quoted(std::string(1, request.format)) + " does not fit here";
}

bool AddImageActions(const MemoryRequest& request, bool verifyAfterWrite,
                     std::vector<CliAction>& actions, std::string& error) {
    const bool prog = request.memory->memory == Memory::Flash;
    if (request.format != 0 && request.format != kFormatIntelHex && request.format != kFormatRaw &&
        request.format != kFormatElf && request.format != kFormatAuto) {
        error = FormatNotFor(request) + "; an image is i, r, e or a";
        return false;
    }
    CliAction action;
    action.file = request.file;
    action.format = ImageChoice(request.format, request.op == kOpRead);
    if (request.op == kOpRead) {
        if (request.format == kFormatElf) {
            error = FormatNotFor(request) + "; ELF files are only read";
            return false;
        }
        action.kind = prog ? CliActionKind::ReadProg : CliActionKind::ReadData;
        actions.push_back(action);
        return true;
    }
    if (request.file == kStandardOutput) {
        error =
            "-U " + std::string(request.memory->name) + ": standard input is not read; name a file";
        return false;
    }
    if (request.op == kOpWrite) {
        // The verify after a write goes with the write: a programmer that
        // reads back what it writes has verified it by then.
        action.kind = prog ? CliActionKind::WriteProg : CliActionKind::WriteData;
        action.verifyAfter = verifyAfterWrite;
    } else {
        action.kind = prog ? CliActionKind::VerifyProg : CliActionKind::VerifyData;
    }
    actions.push_back(action);
    return true;
}

// The value of a write or verify: immediate (format m, or none and a
// number), else a file read when the action runs.
bool TakeValue(const MemoryRequest& request, CliAction& action, uint8_t& value, bool& immediate,
               std::string& error) {
    immediate = request.format == kFormatImmediate ||
                (request.format == 0 && ParseByte(request.file, value));
    if (immediate) {
        if (!ParseByte(request.file, value)) {
            error = "-U " + std::string(request.memory->name) + ": " + Quoted(request.file) +
                    " is no byte value (0xE2, 226 or 0b11100010)";
            return false;
        }
        return true;
    }
    if (request.file == kStandardOutput) {
        error =
            "-U " + std::string(request.memory->name) + ": standard input is not read; name a file";
        return false;
    }
    action.file = request.file;
    action.valueFormat = request.format == 0 ? kFormatAuto : request.format;
    action.format = action.valueFormat == kFormatElf ? FormatChoice::Elf : FormatChoice::ByContent;
    return true;
}

bool AddValueRead(const MemoryRequest& request, CliValue value, std::vector<CliAction>& actions,
                  std::string& error) {
    const char format = request.format == 0 ? kFormatHex : request.format;
    if (format != kFormatHex && format != kFormatDecimal && format != kFormatBinary &&
        format != kFormatRaw && format != kFormatIntelHex) {
        error = FormatNotFor(request) + "; a value is read as h, d, b, r or i";
        return false;
    }
    CliAction action;
    action.kind = value == CliValue::Signature ? CliActionKind::Detect : CliActionKind::ReadFuses;
    action.value = value;
    action.file = request.file;
    action.valueFormat = format;
    action.fuseMask = request.memory->fuse;
    actions.push_back(action);
    return true;
}

bool AddFuseActions(const MemoryRequest& request, bool verifyAfterWrite,
                    std::vector<CliAction>& actions, std::string& error) {
    if (request.op == kOpRead) {
        return AddValueRead(request, CliValue::Fuse, actions, error);
    }
    CliAction action;
    uint8_t value = 0;
    bool immediate = false;
    if (!TakeValue(request, action, value, immediate, error)) {
        return false;
    }
    action.fuseMask = request.memory->fuse;
    for (int i = 0; i < kFuseByteCount; ++i) {
        if ((request.memory->fuse >> i & 1) != 0 && immediate) {
            action.fuses[static_cast<size_t>(i)] = value;
        }
    }
    if (request.op == kOpWrite) {
        action.kind = CliActionKind::WriteFuses;
        actions.push_back(action);
    }
    if (request.op == kOpVerify || verifyAfterWrite) {
        action.kind = CliActionKind::VerifyFuses;
        actions.push_back(action);
    }
    return true;
}

// One fuse of a UPDI part: written or verified as a setting of its whole
// byte, read into a value file.
bool AddUpdiFuseActions(const MemoryRequest& request, bool verifyAfterWrite,
                        std::vector<CliAction>& actions, std::string& error) {
    if (request.op == kOpRead) {
        if (!AddValueRead(request, CliValue::Fuse, actions, error)) {
            return false;
        }
        actions.back().updiFuse = request.updiFuse;
        return true;
    }
    CliAction action;
    uint8_t value = 0;
    bool immediate = false;
    if (!TakeValue(request, action, value, immediate, error)) {
        return false;
    }
    if (action.valueFormat == kFormatElf) {
        error = FormatNotFor(request) + "; a fuse's value is m, h, d, b, r, i or a";
        return false;
    }
    action.updiFuse = request.updiFuse;
    if (immediate) {
        char text[kValueTextLength];
        std::snprintf(text, sizeof text, "0x%02X", value);
        action.fuseSettings = request.updiFuse + "=" + text;
    }
    if (request.op == kOpWrite) {
        action.kind = CliActionKind::WriteFuses;
        actions.push_back(action);
    }
    if (request.op == kOpVerify || verifyAfterWrite) {
        action.kind = CliActionKind::VerifyFuses;
        actions.push_back(action);
    }
    return true;
}

// The user row of a UPDI part: bytes from a value file, or one at once.
bool AddUserRowActions(const MemoryRequest& request, bool verifyAfterWrite,
                       std::vector<CliAction>& actions, std::string& error) {
    if (request.op == kOpRead) {
        if (!AddValueRead(request, CliValue::None, actions, error)) {
            return false;
        }
        actions.back().kind = CliActionKind::ReadUserRow;
        return true;
    }
    CliAction action;
    uint8_t value = 0;
    bool immediate = false;
    if (!TakeValue(request, action, value, immediate, error)) {
        return false;
    }
    if (action.valueFormat == kFormatElf) {
        error = FormatNotFor(request) + "; the user row is m, h, d, b, r, i or a";
        return false;
    }
    if (immediate) {
        action.values = {value};
    }
    if (request.op == kOpWrite) {
        action.kind = CliActionKind::WriteUserRow;
        actions.push_back(action);
    }
    if (request.op == kOpVerify || verifyAfterWrite) {
        action.kind = CliActionKind::VerifyUserRow;
        actions.push_back(action);
    }
    return true;
}

bool AddLockActions(const MemoryRequest& request, const DeviceInfo& device, bool verifyAfterWrite,
                    std::vector<CliAction>& actions, std::string& error) {
    if (request.op == kOpRead) {
        error =
            "-U lock:r is not offered: this adapter reads only Lock Bit1 and Lock Bit2, not the "
            "whole lock byte; read-lock prints them";
        return false;
    }
    CliAction action;
    uint8_t value = 0;
    bool immediate = false;
    if (!TakeValue(request, action, value, immediate, error)) {
        return false;
    }
    if (immediate && device.protocol == Protocol::Updi) {
        // The lock byte of a UPDI part: the open value, or locked (Lock Bit1).
        action.ticks = LockTicks();
        action.ticks.m_bLockBit1 = value == kUpdiLockOpen ? 0 : 1;
    } else if (immediate && !LockTicksFromByte(value, action.ticks, error)) {
        error = "-U lock: " + error;
        return false;
    }
    if (request.op == kOpWrite) {
        action.kind = CliActionKind::WriteLock;
        actions.push_back(action);
    }
    if (request.op == kOpVerify || verifyAfterWrite) {
        action.kind = CliActionKind::VerifyLock;
        actions.push_back(action);
    }
    return true;
}

bool AddSpecActions(const MemoryRequest& request, const DeviceInfo& device, bool verifyAfterWrite,
                    std::vector<CliAction>& actions, std::string& error) {
    switch (request.memory->memory) {
        case Memory::Flash:
        case Memory::Eeprom:
            return AddImageActions(request, verifyAfterWrite, actions, error);
        case Memory::Fuse:
            return AddFuseActions(request, verifyAfterWrite, actions, error);
        case Memory::Lock:
            return AddLockActions(request, device, verifyAfterWrite, actions, error);
        case Memory::UpdiFuse:
            return AddUpdiFuseActions(request, verifyAfterWrite, actions, error);
        case Memory::UserRow:
            return AddUserRowActions(request, verifyAfterWrite, actions, error);
        case Memory::Signature:
        case Memory::Calibration:
            if (request.op != kOpRead) {
                error = "-U " + std::string(request.memory->name) + " can only be read (op r)";
                return false;
            }
            return AddValueRead(request,
                                request.memory->memory == Memory::Signature ? CliValue::Signature
                                                                            : CliValue::Calibration,
                                actions, error);
    }
    return false;
}

// The device table's name for a -p id, or the part's own name.
bool PartName(const std::string& part, std::string& name, std::string& error) {
    if (const PartId* id = FindPartId(part)) {
        if (FindDeviceByName(id->name) < 0) {
            error = "-p " + part + " names the " + id->name +
                    ", which does not take this adapter's serial programming";
            return false;
        }
        name = id->name;
        return true;
    }
    if (const SUpdiPart* updi = CUpdiParts::ById(part)) {
        name = updi->name;
        return true;
    }
    if (FindDeviceByName(part) >= 0) {
        name = part;
        return true;
    }
    error = "unknown part " + Quoted(part) +
            " for -p; brenwick-cli --list-part-ids lists the ids (m328p, t85, 8515...)";
    return false;
}

bool IsProgrammerId(const std::string& id) {
    for (int i = 0; i < kToolchainProgrammerIdCount; ++i) {
        if (Lower(id) == kToolchainProgrammerIds[i]) {
            return true;
        }
    }
    return false;
}

bool IsSingleDashOption(const std::string& word) {
    return word.size() >= 2 && word[0] == '-' && word[1] != '-';
}

}  // namespace

bool IsToolchainCommandLine(const std::vector<std::string>& args) {
    for (const std::string& word : args) {
        if (word == "--") {
            return false;
        }
        if (IsSingleDashOption(word) && word[1] != kHelpLetter) {
            return true;
        }
    }
    return false;
}

bool ParseToolchainArguments(const std::vector<std::string>& args, CliOptions& options,
                             std::string& error) {
    std::string part;
    std::string port;
    std::string baud;
    bool serialUpdi = false;
    bool erase = false;
    bool verify = true;
    std::vector<std::string> longWords;
    std::vector<std::string> specs;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        if (word == kAllowCutOff || word == kQuiet) {
            longWords.push_back(word);
            continue;
        }
        if (!IsSingleDashOption(word)) {
            error = "unexpected " + Quoted(word) +
                    "; with -p/-U every argument is an option (-p, -P, -c, -e, -U, -V, "
                    "--allow-cutoff, --quiet)";
            return false;
        }
        const char letter = word[1];
        const bool takesValue = letter == kPartOption || letter == kPortOption ||
                                letter == kProgrammerOption || letter == kMemoryOption ||
                                letter == kBaudOption;
        if (!takesValue) {
            if (word.size() == 2 && letter == kEraseOption) {
                erase = true;
            } else if (word.size() == 2 && letter == kNoVerifyOption) {
                verify = false;
            } else {
                error = "unknown or unsupported option " + Quoted(word) +
                        "; brenwick-cli takes -p, -P, -c, -e, -U, -V (see brenwick-cli --help)";
                return false;
            }
            continue;
        }
        std::string value = word.substr(2);
        if (value.empty()) {
            if (i + 1 >= args.size()) {
                error = "-" + std::string(1, letter) + " needs a value";
                return false;
            }
            value = args[++i];
        }
        if (letter == kMemoryOption) {
            specs.push_back(value);
        } else if (letter == kProgrammerOption) {
            serialUpdi = Lower(value) == kSerialUpdiId;
            if (!serialUpdi && !IsProgrammerId(value)) {
                error = "programmer " + Quoted(value) +
                        " is not this adapter; -c takes ponyser or siprog (RESET on TXD, SCK "
                        "on RTS, MOSI on DTR, MISO on CTS), serialupdi (UPDI: TX and RX "
                        "joined through a resistor), or leave it out";
                return false;
            }
        } else {
            std::string& target = letter == kPartOption   ? part
                                  : letter == kBaudOption ? baud
                                                          : port;
            if (!target.empty()) {
                error = "-" + std::string(1, letter) + " given more than once";
                return false;
            }
            target = value;
        }
    }
    if (part.empty()) {
        error = "-p <part> is needed with -U (e.g. -p m328p)";
        return false;
    }
    std::string name;
    if (!PartName(part, name, error)) {
        return false;
    }
    const DeviceInfo& device = g_deviceTable[FindDevice(name)];
    if (!baud.empty() && !serialUpdi) {
        error = "-b " + baud + " goes with -c serialupdi (the UPDI adapter's baud)";
        return false;
    }
    if (serialUpdi) {
        if (port.empty()) {
            error = "-c serialupdi needs -P <serial port> (e.g. -P /dev/ttyUSB0)";
            return false;
        }
        // A simulated UPDI adapter is one already; a serial port becomes one.
        if (PortKindOf(port) == nullptr) {
            port += kUpdiPortOption + (baud.empty() ? std::string() : kUpdiBaudOption + baud);
        }
    }
    std::vector<CliAction> actions;
    if (erase) {
        // The chip erase comes before every -U, wherever -e stands.
        CliAction action;
        action.kind = CliActionKind::Erase;
        actions.push_back(action);
    }
    for (const std::string& text : specs) {
        MemoryRequest request;
        if (!ParseRequest(text, device, request, error) ||
            !AddSpecActions(request, device, verify, actions, error)) {
            return false;
        }
    }
    if (actions.empty()) {
        // Nothing to do but find the chip: identify it, as the toolchain
        // checks the signature.
        CliAction action;
        action.kind = CliActionKind::Detect;
        actions.push_back(action);
    }
    // Port and device through the long command line, so that both styles
    // name them the same way.
    if (!port.empty()) {
        longWords.insert(longWords.begin(), {"--port", port});
    }
    longWords.insert(longWords.begin(), {"--device", name});
    longWords.push_back("check");
    CliOptions parsed;
    if (!ParseCliArguments(longWords, parsed, error)) {
        return false;
    }
    parsed.actions = actions;
    options = parsed;
    return true;
}

std::string PartIdListText() {
    std::string text;
    for (int i = 0; i < kPartIdCount; ++i) {
        if (FindDeviceByName(g_partIds[i].name) < 0) {
            continue;  // a part this adapter cannot program
        }
        char line[kListLineLength];
        std::snprintf(line, sizeof line, "%-10s %s\n", g_partIds[i].id, g_partIds[i].name);
        text += line;
    }
    for (size_t i = 0; i < CUpdiParts::Count(); ++i) {
        const SUpdiPart& part = CUpdiParts::At(i);
        char line[kListLineLength];
        std::snprintf(line, sizeof line, "%-10s %s (UPDI)\n", part.id, part.name);
        text += line;
    }
    return text;
}

bool ReadValueFile(const std::string& bytes, char format, std::vector<uint8_t>& values,
                   std::string& error) {
    std::vector<uint8_t> read;
    if (format == kFormatRaw) {
        read.assign(bytes.begin(), bytes.end());
    } else if (format == kFormatIntelHex) {
        if (ReadHexImage(bytes, HexReadMode::Data, kMaxValueBytes, read) != HexReadStatus::Ok) {
            error = "it is no valid Intel HEX file";
            return false;
        }
    } else {
        size_t start = 0;
        while (start < bytes.size()) {
            const size_t end = bytes.find_first_of(", \t\r\n", start);
            const std::string item = bytes.substr(start, end - start);
            uint8_t value = 0;
            if (!item.empty() && !ParseByte(item, value)) {
                error = Quoted(item) + " is no byte value (0xE2, 226 or 0b11100010)";
                return false;
            }
            if (!item.empty()) {
                read.push_back(value);
            }
            start = end == std::string::npos ? end : end + 1;
        }
    }
    if (read.empty()) {
        error = "it holds no value";
        return false;
    }
    values = read;
    return true;
}

std::string FormatValueFile(const std::vector<uint8_t>& values, char format) {
    if (format == kFormatRaw) {
        return std::string(values.begin(), values.end());
    }
    if (format == kFormatIntelHex) {
        return FormatHexImage(values);
    }
    std::string text;
    for (uint8_t value : values) {
        char item[kValueTextLength];
        if (format == kFormatDecimal) {
            std::snprintf(item, sizeof item, "%u", value);
        } else if (format == kFormatBinary) {
            std::string bits = "0b";
            for (int bit = kBitsPerByte - 1; bit >= 0; --bit) {
                bits += (value >> bit & 1) != 0 ? '1' : '0';
            }
            std::snprintf(item, sizeof item, "%s", bits.c_str());
        } else {
            std::snprintf(item, sizeof item, "0x%02x", value);
        }
        text += (text.empty() ? "" : ",") + std::string(item);
    }
    return text + "\n";
}

bool LockTicksFromByte(uint8_t lockByte, LockTicks& ticks, std::string& error) {
    const uint8_t others = static_cast<uint8_t>(~(kLockBit1 | kLockBit2));
    if ((static_cast<uint8_t>(~lockByte) & others) != 0) {
        char text[kValueTextLength];
        std::snprintf(text, sizeof text, "0x%02X", lockByte);
        error = std::string("the lock byte ") + text +
                " programs bits besides Lock Bit1 and Lock Bit2 (boot lock bits), which this "
                "adapter's lock operations do not write";
        return false;
    }
    LockTicks parsed;
    parsed.m_bLockBit1 = (lockByte & kLockBit1) == 0 ? 1 : 0;
    parsed.m_bLockBit2 = (lockByte & kLockBit2) == 0 ? 1 : 0;
    ticks = parsed;
    return true;
}

bool FindUpdiFuse(const SUpdiPart& part, const std::string& name, size_t& index) {
    const std::string lower = Lower(name);
    const size_t prefix = std::strlen(kUpdiFusePrefix);
    const bool numbered = lower.size() > prefix && lower.compare(0, prefix, kUpdiFusePrefix) == 0 &&
                          lower.find_first_not_of("0123456789", prefix) == std::string::npos &&
                          lower.size() - prefix <= kMaxFuseNumberDigits;
    const unsigned number = numbered ? static_cast<unsigned>(std::stoul(lower.substr(prefix))) : 0;
    for (size_t i = 0; i < part.fuses.count; ++i) {
        const SUpdiFuse& fuse = part.fuses.fuses[i];
        const bool match = numbered ? fuse.address - part.fuses.fuses[0].address == number
                                    : lower == Lower(fuse.name);
        if (match) {
            index = i;
            return true;
        }
    }
    return false;
}

std::string UpdiFuseNameList(const SUpdiPart& part) {
    std::string text;
    for (size_t i = 0; i < part.fuses.count; ++i) {
        const SUpdiFuse& fuse = part.fuses.fuses[i];
        text += (text.empty() ? "" : ", ") + std::string(kUpdiFusePrefix) +
                std::to_string(fuse.address - part.fuses.fuses[0].address) + " (" + fuse.name + ")";
    }
    return text;
}

bool NameUpdiFuseNumbers(const SUpdiPart& part, const std::string& settings, std::string& named,
                         std::string& error) {
    std::string text;
    size_t start = 0;
    for (bool last = false; !last;) {
        const size_t comma = settings.find(',', start);
        last = comma == std::string::npos;
        std::string item = settings.substr(start, last ? std::string::npos : comma - start);
        start = comma + 1;
        const size_t equals = item.find('=');
        const std::string name = Lower(item.substr(0, equals));
        size_t index = 0;
        if (name.compare(0, std::strlen(kUpdiFusePrefix), kUpdiFusePrefix) == 0 &&
            CUpdiParts::FuseByName(part, name) == nullptr) {
            if (!FindUpdiFuse(part, name, index)) {
                error = "the " + std::string(part.name) + " has no fuse " + name +
                        "; its fuses: " + UpdiFuseNameList(part);
                return false;
            }
            item = part.fuses.fuses[index].name + item.substr(name.size());
        }
        text += (text.empty() ? "" : ",") + item;
    }
    named = text;
    return true;
}
