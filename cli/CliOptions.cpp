#include "cli/CliOptions.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "base/NameText.h"
#include "cli/ToolchainArgs.h"
#include "parts/DeviceTable.h"
#include "parts/FuseFields.h"

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
constexpr const char* kListPortsOption = "--list-ports";
constexpr const char* kListPartIdsOption = "--list-part-ids";
constexpr const char* kVersionOption = "--version";
constexpr const char* kAllowCutOffOption = "--allow-cutoff";
constexpr size_t kListLineLength = 128;
constexpr size_t kFuseHeadLength = 24;
constexpr const char* kShortHelpOption = "-h";
constexpr const char* kEndOfOptions = "--";
constexpr const char* kAutoDevice = "auto";
constexpr const char* kNoLockBits = "none";
constexpr const char* kLockBit1Name = "lb1";
constexpr const char* kLockBit2Name = "lb2";
constexpr const char* kFstrtName = "fstrt";
constexpr char kListSeparator = ',';

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

bool ParsePort(const std::string& text, CliOptions& options, std::string& error) {
    if (!CheckPortName(text, error)) {
        return false;
    }
    options.portText = text;
    return true;
}

bool ParseDevice(const std::string& text, CliOptions& options, std::string& error) {
    if (LowerCase(text) == kAutoDevice) {
        options.autoDevice = true;
        return true;
    }
    const int row = FindDevice(text);  // a name, a number, or an id such as m328p
    if (row >= 0) {
        options.autoDevice = false;
        options.deviceNumber = g_deviceTable[row].number;
        options.deviceRow = row;
        return true;
    }
    error = "unknown device " + Quoted(text) + "; devices:";
    for (int i = 0; i < kDeviceCount; ++i) {
        const DeviceInfo& device = g_deviceTable[i];
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
    if (LowerCase(text) == kNoLockBits) {
        ticks = parsed;
        return true;
    }
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(kListSeparator, start);
        const std::string item = LowerCase(text.substr(start, comma - start));
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
    // Why verify-fuses would refuse its names on a part of today.
    std::string verifyByNameError;
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
        if (word == kListPortsOption) {
            parsed.listPorts = true;
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
                const bool byName = action->kind == CliActionKind::WriteFuses;
                if (!ParseFuseSet(argument, step.fuses, step.fuseMask, error,
                                  byName ? &step.fuseSettings : nullptr)) {
                    // A UPDI part's fuses are verified by name too
                    // (syscfg0=0xF6): decided once the device is known.
                    if (byName || !ParseFuseSet(argument, step.fuses, step.fuseMask,
                                                verifyByNameError, &step.fuseSettings)) {
                        return false;
                    }
                    verifyByNameError = error;
                    error.clear();
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
    const bool updiDevice =
        parsed.deviceRow >= 0 && g_deviceTable[parsed.deviceRow].protocol == Protocol::Updi;
    if (!verifyByNameError.empty() && !updiDevice) {
        // The fuses of a part of today are verified as bytes only.
        error = verifyByNameError;
        return false;
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
                   sim:<device>[,state=<file>][,<fault>...], or an FTDI
                   cable in bit-bang mode: ftdi: (the only one) or
                   ftdi:<serial>, with ,ttl for a TTL-level cable and
                   ,clock=<Hz> for the pin clock (default 100000). A device
                   path of an FT232R/FT231X cable uses bit-bang on its own
                   where it can; add ,modem to keep the modem lines.
                   Default COM2.
  --device DEVICE  a device number of the table (8515), a table name
                   (AT90S8515, any case), or auto to identify the device by
                   its signature bytes. Default 8535.
  --quiet          no progress line on standard error.
  --list-devices   the devices, with their sizes and what each can do.
  --list-ports     the serial ports and the FT232R/FT231X cables here, each
                   with the name --port takes.
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
                   back. Where the device's fuse tables are known, settings
                   by name as well (clock=rc8m, ckdiv8=off, startup=slow,
                   bod=2v7, boot=512w, a fuse bit with on or off; read-fuses
                   shows them), made on top of the chip's own values. Values
                   that would take the chip out of reach of this adapter
                   (RSTDISBL or DWEN programmed, SPIEN unprogrammed, another
                   clock source) are refused.
                   UPDI parts: read-fuses prints each fuse (wdtcfg, bodcfg,
                   syscfg0...) with its settings in words; FUSES are settings
                   by name (rstpincfg=gpio,eesave=on,freqsel=20mhz), a fuse
                   and its byte (syscfg0=0xF6, fuse5=0xF6) or a section fuse
                   and its blocks (bootend=2). A UPDI pin made GPIO or RESET
                   is refused.
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
  ftdi                 the adapter on a simulated FT232R cable in bit-bang
                       mode (with ttl and clock=<Hz> as for ftdi: ports)
  ftdi-unplug-after=<n>  the cable is pulled after n USB round trips
  unplug-after=<n>     the cable is pulled at the n-th line change or read
                       (counted from 1); back when the port is next opened
  power-off-after=<n>  the chip loses its power there; back when RESET is
                       next released
  stop-after=<n>       a stop is asked for there, as by Ctrl-C

Output: the message lines of the operations on standard output; errors of
the tool itself on standard error; while an operation runs on a terminal, a
progress line (percentage and bytes per second) on standard error.

Exit status: 0 every action succeeded, 1 an action failed (or a file or the
port could not be used), 2 usage error, 128 + the signal when stopped.

Ctrl-C, SIGTERM and SIGHUP stop the running action at its next word, byte or
page load ("Write : Stopped at address ..."), leave the chip out of
programming mode with RESET released, and skip the actions after it; a
second Ctrl-C ends the tool at once.

Example:
  brenwick-cli --port sim:AT90S8535,state=chip.txt erase write-prog blink.hex verify-prog blink.hex

Production runs (README, "Production runs"): chip after chip from a recipe,
each with its own serial number, every chip logged; one worker per port:
  brenwick-cli --recipe FILE [--count N] [--auto] [--log FILE] --port P [--port P2 ...]
  --auto waits for each chip and for its removal; without it each port
  programs the chip in it once and the run ends; --count ends the run after
  N chips passed or failed in all; sim:<device>,chips=<n> is a simulated
  socket fed n fresh chips.

The AVR toolchain's uploader command line is taken as well (man brenwick-cli):
  brenwick-cli -P PORT -p m328p [-c ponyser] [-e] [-V] -U MEMORY:OP:FILE[:FORMAT]...
  brenwick-cli -P sim:ATmega328P -p m328p -U flash:w:main.elf:e -U lfuse:w:0xE2:m
)";
}

std::vector<std::string> FuseBitLines(const DeviceInfo& device,
                                      const std::array<uint8_t, kFuseByteCount>& fuses,
                                      uint8_t mask) {
    std::vector<std::string> lines;
    for (int i = 0; i < kFuseByteCount; ++i) {
        if ((mask & g_fuseBytes[i].mask) == 0) {
            continue;
        }
        const uint8_t value = fuses[static_cast<size_t>(i)];
        char head[kFuseHeadLength];
        std::snprintf(head, sizeof head, "%s = 0x%02X", g_fuseBytes[i].name, value);
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
    // The settings in words, where every byte they lie in was read.
    const FuseByteValues values{fuses[0], fuses[1], fuses[2]};
    for (const FuseSetting& setting : DecodeFuseFields(device, values)) {
        const int byte = setting.field != nullptr ? setting.field->byte : 0;
        if ((mask & g_fuseBytes[byte].mask) != 0) {
            lines.push_back(std::string(setting.title) + " : " + setting.words);
        }
    }
    return lines;
}

std::string DeviceListText() {
    std::string text =
        "Device                   Number   Flash  EEPROM  Flash written   Lock bits read  Fuses\n";
    for (int index = 0; index < kDeviceCount; ++index) {
        const DeviceInfo& row = g_deviceTable[index];
        char line[kListLineLength];
        const std::string written =
            row.progPageSize > 0 ? std::to_string(row.progPageSize) + "-byte pages" : "by byte";
        const std::string number =
            row.number != kNoDeviceNumber ? std::to_string(row.number) : std::string("-");
        std::string fuses;
        for (int i = 0; i < kFuseByteCount; ++i) {
            if ((row.fuseBytes & g_fuseBytes[i].mask) != 0) {
                fuses += (fuses.empty() ? "" : ",") + std::string(g_fuseBytes[i].name);
            }
        }
        if (row.fstrtWrite != nullptr) {
            fuses = "FSTRT";
        }
        std::snprintf(line, sizeof line, "%-24s %6s  %6d  %6d  %-15s %-15s %s\n", row.name,
                      number.c_str(), row.progSize, row.dataSize, written.c_str(),
                      row.lockRead != nullptr || row.protocol == Protocol::Updi ? "yes" : "no",
                      fuses.empty() ? "-" : fuses.c_str());
        text += line;
    }
    return text;
}
