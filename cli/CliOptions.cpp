#include "cli/CliOptions.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "cli/ToolchainArgs.h"
#include "isp/DeviceTable.h"
#include "isp/IspAdapter.h"
#include "isp/PortNames.h"
#include "sim/SimPortOptions.h"

namespace {

enum class ArgumentKind { None, File, Bits, Fuses };

struct ActionName {
    const char* name;
    CliActionKind kind;
    ArgumentKind argument;
};

constexpr ActionName kActionNames[] = {
    {"erase", CliActionKind::Erase, ArgumentKind::None},
    {"erase-prog", CliActionKind::EraseProg, ArgumentKind::None},
    {"erase-data", CliActionKind::EraseData, ArgumentKind::None},
    {"write-prog", CliActionKind::WriteProg, ArgumentKind::File},
    {"write-data", CliActionKind::WriteData, ArgumentKind::File},
    {"verify-prog", CliActionKind::VerifyProg, ArgumentKind::File},
    {"verify-data", CliActionKind::VerifyData, ArgumentKind::File},
    {"read-prog", CliActionKind::ReadProg, ArgumentKind::File},
    {"read-data", CliActionKind::ReadData, ArgumentKind::File},
    {"write-lock", CliActionKind::WriteLock, ArgumentKind::Bits},
    {"verify-lock", CliActionKind::VerifyLock, ArgumentKind::Bits},
    {"read-lock", CliActionKind::ReadLock, ArgumentKind::None},
    {"read-fuses", CliActionKind::ReadFuses, ArgumentKind::None},
    {"write-fuses", CliActionKind::WriteFuses, ArgumentKind::Fuses},
    {"verify-fuses", CliActionKind::VerifyFuses, ArgumentKind::Fuses},
    {"detect", CliActionKind::Detect, ArgumentKind::None},
    {"check", CliActionKind::Check, ArgumentKind::None},
};

constexpr const char* kPortOption = "--port";
constexpr const char* kDeviceOption = "--device";
constexpr const char* kQuietOption = "--quiet";
constexpr const char* kHelpOption = "--help";
constexpr const char* kListDevicesOption = "--list-devices";
constexpr const char* kListPartIdsOption = "--list-part-ids";
constexpr const char* kVersionOption = "--version";
constexpr const char* kAllowCutOffOption = "--allow-cutoff";
constexpr const char* kFuseNames[kFuseByteCount] = {"lfuse", "hfuse", "efuse"};
constexpr uint8_t kFuseBitsOfName[kFuseByteCount] = {kLowFuse, kHighFuse, kExtendedFuse};
constexpr int kHexBase = 16;
constexpr unsigned kMaxByte = 0xFF;
constexpr size_t kFuseTextLength = 8;
constexpr size_t kListLineLength = 128;
constexpr size_t kFuseHeadLength = 24;
constexpr const char* kShortHelpOption = "-h";
constexpr const char* kEndOfOptions = "--";
constexpr const char* kAutoDevice = "auto";
constexpr const char* kComPrefix = "com";
constexpr const char* kNoLockBits = "none";
constexpr const char* kLockBit1Name = "lb1";
constexpr const char* kLockBit2Name = "lb2";
constexpr const char* kFstrtName = "fstrt";
constexpr char kListSeparator = ',';
constexpr size_t kMaxNumberDigits = 9;  // keeps every number inside int
constexpr int kDecimalBase = 10;

std::string Lower(const std::string& text) {
    std::string lower = text;
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return lower;
}

bool AllDigits(const std::string& text) {
    if (text.empty() || text.size() > kMaxNumberDigits) {
        return false;
    }
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}

int ToNumber(const std::string& digits) {
    int value = 0;
    for (char c : digits) {
        value = value * kDecimalBase + (c - '0');
    }
    return value;
}

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

bool ParsePort(const std::string& text, CliOptions& options, std::string& error) {
    if (text.empty()) {
        error = "empty port name";
        return false;
    }
    if (IsSimPortName(text)) {
        SimPortOptions simPort;
        if (!ParseSimPortOptions(text, simPort, error)) {
            return false;
        }
        options.portKind = CliPortKind::Sim;
        options.portName = text;
    } else {
        const std::string lower = Lower(text);
        const size_t prefix = std::strlen(kComPrefix);
        if (lower.compare(0, prefix, kComPrefix) == 0 && AllDigits(lower.substr(prefix))) {
            const int n = ToNumber(lower.substr(prefix));
            if (n < kFirstComPort || n > kLastComPort) {
                error = "port " + Quoted(text) + " is not one of COM1 to COM4";
                return false;
            }
            options.portKind = CliPortKind::Com;
            options.comNumber = n;
            options.portName = ResolvePortName(n, {});
        } else {
            options.portKind = CliPortKind::Path;
            options.portName = text;
        }
    }
    options.portText = text;
    return true;
}

bool ParseDevice(const std::string& text, CliOptions& options, std::string& error) {
    if (Lower(text) == kAutoDevice) {
        options.autoDevice = true;
        return true;
    }
    const DeviceInfo* numbered = AllDigits(text) ? FindDeviceByNumber(ToNumber(text)) : nullptr;
    int row =
        numbered != nullptr ? static_cast<int>(numbered - g_deviceTable) : FindDeviceByName(text);
    if (row < 0) {
        row = FindDeviceByPartId(text);  // m328p, as the toolchain's -p takes it
    }
    if (row >= 0) {
        options.autoDevice = false;
        options.deviceNumber = g_deviceTable[row].number;
        options.deviceRow = row;
        return true;
    }
    error = "unknown device " + Quoted(text) + "; devices:";
    for (const DeviceInfo& device : g_deviceTable) {
        error += " " + std::string(device.name);
        if (device.number != kNoDeviceNumber) {
            error += " (" + std::to_string(device.number) + ")";
        }
    }
    error += ", or auto (--list-devices shows what each can do)";
    return false;
}

const ActionName* FindAction(const std::string& word) {
    for (const ActionName& action : kActionNames) {
        if (word == action.name) {
            return &action;
        }
    }
    return nullptr;
}

bool LooksLikeOption(const std::string& word) {
    return word.size() > 1 && word[0] == '-';
}

}  // namespace

bool ParseLockSet(const std::string& text, LockTicks& ticks, std::string& error) {
    LockTicks parsed;
    if (Lower(text) == kNoLockBits) {
        ticks = parsed;
        return true;
    }
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(kListSeparator, start);
        const std::string item = Lower(text.substr(start, comma - start));
        if (item == kLockBit1Name) {
            parsed.m_bLockBit1 = 1;
        } else if (item == kLockBit2Name) {
            parsed.m_bLockBit2 = 1;
        } else if (item == kFstrtName) {
            parsed.m_bFstrt = 1;
        } else {
            error =
                (item.empty() ? std::string("empty item") : "unknown lock bit " + Quoted(item)) +
                " in " + Quoted(text) + "; use none or a comma list of lb1, lb2, fstrt";
            return false;
        }
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    ticks = parsed;
    return true;
}

std::string FormatLockSet(const LockTicks& ticks) {
    std::string text;
    auto add = [&text](int tick, const char* name) {
        if (tick != 0) {
            text += (text.empty() ? "" : ",") + std::string(name);
        }
    };
    add(ticks.m_bLockBit1, kLockBit1Name);
    add(ticks.m_bLockBit2, kLockBit2Name);
    add(ticks.m_bFstrt, kFstrtName);
    return text.empty() ? kNoLockBits : text;
}

bool ParseCliArguments(const std::vector<std::string>& args, CliOptions& options,
                       std::string& error) {
    CliOptions parsed;
    bool portGiven = false;
    bool deviceGiven = false;
    bool optionsEnded = false;
    // --help wins over everything else on the line.
    for (const std::string& word : args) {
        if (word == kEndOfOptions) {
            break;
        }
        if (word == kHelpOption || word == kShortHelpOption) {
            parsed.help = true;
            options = parsed;
            return true;
        }
        if (word == kListDevicesOption) {
            parsed.listDevices = true;
            options = parsed;
            return true;
        }
        if (word == kListPartIdsOption || word == kVersionOption) {
            (word == kVersionOption ? parsed.version : parsed.listPartIds) = true;
            options = parsed;
            return true;
        }
    }
    // The AVR toolchain's -p/-P/-U command line is translated into this one.
    if (IsToolchainCommandLine(args)) {
        return ParseToolchainArguments(args, options, error);
    }
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        if (!optionsEnded && LooksLikeOption(word)) {
            if (word == kEndOfOptions) {
                optionsEnded = true;
                continue;
            }
            if (word == kQuietOption) {
                parsed.quiet = true;
                continue;
            }
            if (word == kAllowCutOffOption) {
                parsed.allowCutOff = true;
                continue;
            }
            // --port PORT, --port=PORT, and the same for --device.
            std::string name = word;
            std::string value;
            bool hasValue = false;
            const size_t equals = word.find('=');
            if (equals != std::string::npos) {
                name = word.substr(0, equals);
                value = word.substr(equals + 1);
                hasValue = true;
            }
            if (name != kPortOption && name != kDeviceOption) {
                error = "unknown option " + Quoted(word);
                return false;
            }
            if (!hasValue) {
                if (i + 1 >= args.size() || LooksLikeOption(args[i + 1])) {
                    error = name + " needs a value";
                    return false;
                }
                value = args[++i];
            }
            bool& given = name == kPortOption ? portGiven : deviceGiven;
            if (given) {
                error = name + " given more than once";
                return false;
            }
            given = true;
            if (!(name == kPortOption ? ParsePort(value, parsed, error)
                                      : ParseDevice(value, parsed, error))) {
                return false;
            }
            continue;
        }
        const ActionName* action = FindAction(word);
        if (action == nullptr) {
            error = "unknown action " + Quoted(word);
            return false;
        }
        CliAction step;
        step.kind = action->kind;
        if (action->argument != ArgumentKind::None) {
            const char* what = action->argument == ArgumentKind::File   ? "a file name"
                               : action->argument == ArgumentKind::Bits ? "BITS"
                                                                        : "FUSES";
            if (i + 1 >= args.size()) {
                error = std::string(action->name) + " needs " + what;
                return false;
            }
            const std::string& argument = args[++i];
            if (argument.empty() || (!optionsEnded && LooksLikeOption(argument))) {
                error = std::string(action->name) + " needs " + what + ", not " + Quoted(argument);
                return false;
            }
            if (action->argument == ArgumentKind::File) {
                step.file = argument;
            } else if (FormatByName(argument) == ImageFormat::Elf) {
                step.file = argument;  // the fuse or lock section of an ELF file
                step.format = FormatChoice::Elf;
            } else if (action->argument == ArgumentKind::Fuses) {
                if (!ParseFuseSet(argument, step.fuses, step.fuseMask, error)) {
                    return false;
                }
            } else if (!ParseLockSet(argument, step.ticks, error)) {
                return false;
            }
        }
        parsed.actions.push_back(step);
    }
    if (parsed.actions.empty()) {
        error = "no action given";
        return false;
    }
    if (!portGiven) {
        ParsePort(kDefaultPortText, parsed, error);
    }
    options = parsed;
    return true;
}

const char* CliUsageText() {
    return R"(Usage: brenwick-cli [--port PORT] [--device DEVICE] [--quiet] ACTION...

Programs Atmel AVR microcontrollers through the passive serial-port adapter,
with the same operations and messages as the Brenwick window.

Options:
  --port PORT      COM1 to COM4 (/dev/ttyS0 to /dev/ttyS3 here; no settings
                   file is read), a device path such as /dev/ttyUSB0, or
                   sim:<device>[,state=<file>][,<fault>...]. Default COM2.
  --device DEVICE  a device number of the table (8515), a table name
                   (AT90S8515, any case), or auto to identify the device by
                   its signature bytes. Default 8535.
  --quiet          no progress line on standard error.
  --list-devices   the devices, with their sizes and what each can do.
  --list-part-ids  the part ids that -p takes (m328p, t85, 8515...).
  --version        the program's version.
  --help, -h       this text.
  --               ends the options; what follows are actions.

Actions, run in the order given; the first failing one ends the run:
  erase | erase-prog | erase-data
                   erase the chip, or one memory keeping the other and the
                   lock bits
  write-prog FILE | write-data FILE
                   read FILE (Intel HEX; word lines for prog) into the
                   image, then write the image to the device. FILE.elf is
                   the flash or EEPROM of avr-gcc's ELF output, FILE.bin
                   (or .raw) a raw binary image
  verify-prog FILE | verify-data FILE
                   read FILE into the image, then compare it with the device
  read-prog FILE | read-data FILE
                   read the device, then save the image as Intel HEX to FILE
                   (raw binary to FILE.bin)
  write-lock BITS | verify-lock BITS
                   BITS: none, or a comma list of lb1, lb2, fstrt (the bits
                   to program, as the ticked boxes of the window), or
                   FILE.elf for its lock section
  read-lock        read the lock bits; prints "Lock bits : " and the ticked
                   set in the form BITS takes
  read-fuses       read the fuse bytes of a part of today; prints "Fuses : "
                   and lfuse=0x.., hfuse=0x.., efuse=0x.. for those it has
  write-fuses FUSES | verify-fuses FUSES
                   FUSES: a comma list of lfuse=, hfuse=, efuse= with hex
                   values (lfuse=0xE2,hfuse=0xD9), or FILE.elf for its fuse
                   section; only the bytes named are written, then read
                   back. Values that would take the chip out of reach of
                   this adapter (RSTDISBL or DWEN programmed, SPIEN
                   unprogrammed, another clock source) are refused.
  --allow-cutoff   write such values all the same.
  detect           identify the device and print its name; the device found
                   becomes the selected one
  check            test PORT for the adapter: "Prog. Key ready" or
                   "Not found"

Every FILE that a write- or verify- action reads is read and checked before
any device operation, unless an earlier read- action of the same run writes
it. A file that cannot be read, or that has a checksum or address error,
ends the run before the device is touched.

Simulated ports (no hardware needed): sim:<device> is a simulated adapter
with that device of the table on it, running in virtual time. Options after
the device name, separated by commas:
  state=<file>         load flash, EEPROM and lock bits from <file> when it
                       exists, save them there at exit
  no-adapter           nothing on the port
  no-target            the adapter without a chip
  stuck-flash=<addr>   this flash byte never takes a write (decimal or 0x..)
  stuck-eeprom=<addr>  likewise for an EEPROM byte
  erase-fails          chip erase erases nothing

Output: the message lines of the operations on standard output; errors of
the tool itself on standard error; while an operation runs on a terminal, a
progress line (percentage and bytes per second) on standard error.

Exit status: 0 every action succeeded, 1 an action failed (or a file or the
port could not be used), 2 usage error.

Example:
  brenwick-cli --port sim:AT90S8535,state=chip.txt erase write-prog blink.hex verify-prog blink.hex

The AVR toolchain's uploader command line is taken as well (man brenwick-cli):
  brenwick-cli -P PORT -p m328p [-c ponyser] [-e] [-V] -U MEMORY:OP:FILE[:FORMAT]...
  brenwick-cli -P sim:ATmega328P -p m328p -U flash:w:main.elf:e -U lfuse:w:0xE2:m
)";
}

bool ParseFuseSet(const std::string& text, std::array<uint8_t, kFuseByteCount>& fuses,
                  uint8_t& mask, std::string& error) {
    std::array<uint8_t, kFuseByteCount> parsed{};
    uint8_t given = 0;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(kListSeparator, start);
        const std::string item = Lower(text.substr(start, comma - start));
        const size_t equals = item.find('=');
        int index = -1;
        for (int i = 0; i < kFuseByteCount && equals != std::string::npos; ++i) {
            if (item.compare(0, equals, kFuseNames[i]) == 0) {
                index = i;
            }
        }
        const std::string value = equals == std::string::npos ? "" : item.substr(equals + 1);
        const std::string digits = value.rfind("0x", 0) == 0 ? value.substr(2) : value;
        unsigned number = 0;
        bool hex = !digits.empty() && digits.size() <= 2;
        for (char c : digits) {
            const int digit = std::isdigit(static_cast<unsigned char>(c)) != 0 ? c - '0'
                              : c >= 'a' && c <= 'f' ? c - 'a' + kDecimalBase
                                                     : -1;
            hex = hex && digit >= 0;
            number = number * kHexBase + static_cast<unsigned>(digit < 0 ? 0 : digit);
        }
        if (index < 0 || !hex || number > kMaxByte || (given & kFuseBitsOfName[index]) != 0) {
            error = "bad fuse " + Quoted(item) + " in " + Quoted(text) +
                    "; use a comma list of lfuse=, hfuse=, efuse= with hex values, each once";
            return false;
        }
        parsed[static_cast<size_t>(index)] = static_cast<uint8_t>(number);
        given = static_cast<uint8_t>(given | kFuseBitsOfName[index]);
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    fuses = parsed;
    mask = given;
    return true;
}

std::string FormatFuseSet(const std::array<uint8_t, kFuseByteCount>& fuses, uint8_t mask) {
    std::string text;
    for (int i = 0; i < kFuseByteCount; ++i) {
        if ((mask & kFuseBitsOfName[i]) != 0) {
            char value[kFuseTextLength];
            std::snprintf(value, sizeof value, "0x%02X", fuses[static_cast<size_t>(i)]);
            text += (text.empty() ? "" : ",") + std::string(kFuseNames[i]) + "=" + value;
        }
    }
    return text;
}

std::vector<std::string> FuseBitLines(const DeviceInfo& device,
                                      const std::array<uint8_t, kFuseByteCount>& fuses,
                                      uint8_t mask) {
    std::vector<std::string> lines;
    for (int i = 0; i < kFuseByteCount; ++i) {
        if ((mask & kFuseBitsOfName[i]) == 0) {
            continue;
        }
        const uint8_t value = fuses[static_cast<size_t>(i)];
        char head[kFuseHeadLength];
        std::snprintf(head, sizeof head, "%s = 0x%02X", kFuseNames[i], value);
        lines.emplace_back(head);
        for (int bit = kBitsPerFuse - 1; bit >= 0; --bit) {
            const std::string name = FuseBitName(device.fuseNames, i, bit);
            if (name.empty()) {
                continue;  // no fuse
            }
            const int set = (value >> bit) & 1;
            char line[kListLineLength];
            std::snprintf(line, sizeof line, "  %-10s %d %-14s %s", name.c_str(), set,
                          set != 0 ? "unprogrammed" : "programmed", FuseBitMeaning(name));
            std::string text = line;
            while (!text.empty() && text.back() == ' ') {
                text.pop_back();
            }
            lines.push_back(text);
        }
    }
    return lines;
}

std::string DeviceListText() {
    std::string text =
        "Device                   Number   Flash  EEPROM  Flash written   Lock bits read  Fuses\n";
    for (const DeviceInfo& row : g_deviceTable) {
        char line[kListLineLength];
        const std::string written =
            row.progPageSize > 0 ? std::to_string(row.progPageSize) + "-byte pages" : "by byte";
        const std::string number =
            row.number != kNoDeviceNumber ? std::to_string(row.number) : std::string("-");
        std::string fuses;
        for (int i = 0; i < kFuseByteCount; ++i) {
            if ((row.fuseBytes & kFuseBitsOfName[i]) != 0) {
                fuses += (fuses.empty() ? "" : ",") + std::string(kFuseNames[i]);
            }
        }
        if (row.fstrtWrite != nullptr) {
            fuses = "FSTRT";
        }
        std::snprintf(line, sizeof line, "%-24s %6s  %6d  %6d  %-15s %-15s %s\n", row.name,
                      number.c_str(), row.progSize, row.dataSize, written.c_str(),
                      row.lockRead != nullptr ? "yes" : "no", fuses.empty() ? "-" : fuses.c_str());
        text += line;
    }
    return text;
}
