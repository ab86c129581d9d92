// The command line of brenwick-cli, parsed into plain values. The parser
// never prints and never exits: it gives false with a message in error, so
// the tool, the tests and the fuzzer all call it the same way.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "image/ImageFormats.h"
#include "ops/OperationHost.h"
#include "ops/Operations.h"
#include "parts/FuseSet.h"
#include "session/Defaults.h"
#include "session/PortRegistry.h"

enum class CliActionKind {
    Erase,
    EraseProg,
    EraseData,
    WriteProg,
    WriteData,
    VerifyProg,
    VerifyData,
    ReadProg,
    ReadData,
    WriteLock,
    VerifyLock,
    ReadLock,
    ReadFuses,
    WriteFuses,
    VerifyFuses,
    ReadUserRow,
    WriteUserRow,
    VerifyUserRow,
    Detect,
    Check,
};

// A single value that read-fuses or detect gives as the contents of file
// (the toolchain's -U lfuse:r:-:h).
enum class CliValue { None, Fuse, Signature, Calibration };

struct CliAction {
    CliActionKind kind = CliActionKind::Check;
    // The image file of the write-, verify- and read- actions; "-" is
    // standard output for a read. The ELF file of write-fuses FILE.elf and
    // write-lock FILE.elf; the value file of the toolchain's -U.
    std::string file;
    FormatChoice format = FormatChoice::ByName;  // how file is read or written
    // The toolchain's format letter for values (m, h, d, b, r, i, e, a); 0
    // for the long command line.
    char valueFormat = 0;
    CliValue value = CliValue::None;  // what a read puts into file
    LockTicks ticks;                  // the ticked set of write-lock and verify-lock
    // The fuse bytes of write-fuses and verify-fuses (low, high, extended)
    // and which of them were given (kLowFuse, kHighFuse, kExtendedFuse).
    std::array<uint8_t, kFuseByteCount> fuses{};
    uint8_t fuseMask = 0;
    // Settings of write-fuses given by name ("clock=rc8m,ckdiv8=off"), made
    // on top of the chip's own values once the device is known.
    std::string fuseSettings;
    // write-prog and write-data of the toolchain's -U without -V: the image
    // is verified after the write, by the write's own read-back where the
    // programmer confirms every write so (IProgrammer::WritesAreReadBack),
    // else by a verify pass.
    bool verifyAfter = false;
    // The toolchain's -U of one fuse of a UPDI part: its name in the part's
    // layout ("syscfg0"); its value is in fuseSettings when given at once,
    // else in file.
    std::string updiFuse;
    // The bytes -U userrow:w or :v gives at once (format m).
    std::vector<uint8_t> values;
};

struct CliOptions {
    // The port as given: COM1 to COM4, a device path, or a name of a
    // registered kind (sim:<device>[,state=<file>][,<fault>...]); checked
    // by the session's port registry.
    std::string portText = ComPortName(kDefaultPortNumber);
    int deviceNumber = kDefaultDeviceNumber;  // 0 for the parts of today, which have none
    int deviceRow = -1;                       // the device's row in the table; -1: by number
    bool autoDevice = false;
    bool quiet = false;
    bool help = false;
    bool listDevices = false;
    bool listPorts = false;
    bool listPartIds = false;  // the -p ids of the toolchain's command line
    bool version = false;
    // write-fuses may write values that take the chip out of reach.
    bool allowCutOff = false;
    std::vector<CliAction> actions;
};

// Parses the arguments after the program name. true when options holds a
// run (or help was asked for: options.help); false with a one-line reason in
// error for a usage error.
bool ParseCliArguments(const std::vector<std::string>& args, CliOptions& options,
                       std::string& error);

// BITS of write-lock and verify-lock: "none" or a comma list of lb1, lb2 and
// fstrt. FormatLockSet gives the same form for the three lock ticks.
bool ParseLockSet(const std::string& text, LockTicks& ticks, std::string& error);
std::string FormatLockSet(const LockTicks& ticks);

// FUSES of write-fuses and verify-fuses: ParseFuseSet and FormatFuseSet
// (parts/FuseSet.h), the reader the recipe's fuses = shares.

// The text of --list-devices: every device of the table with its number,
// sizes, how its flash is written and which lock bits it reports.
std::string DeviceListText();
// Each fuse byte in mask as "lfuse = 0x62", then one line per fuse bit: its
// name (or number), its value and state, and what it does; under them, where
// the part's tables are known and the bytes read, each setting in words
// ("Clock source : internal RC oscillator 8 MHz, divided by 8: 1 MHz").
std::vector<std::string> FuseBitLines(const DeviceInfo& device,
                                      const std::array<uint8_t, kFuseByteCount>& fuses,
                                      uint8_t mask);

// The text of --help.
const char* CliUsageText();
