// The AVR toolchain's uploader command line, as Makefiles and IDE board
// files write it (-p m328p -P PORT -U flash:w:main.elf:e -U lfuse:w:0xE2:m),
// translated into the tool's own actions: every -U becomes the read, write
// or verify action that the long command line would name, so both run the
// same operations.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/CliOptions.h"
#include "parts/UpdiParts.h"

// The programmer ids (-c) that name this adapter's wiring: RESET on TXD,
// SCK on RTS, MOSI on DTR, MISO on CTS.
extern const char* const kToolchainProgrammerIds[];
extern const int kToolchainProgrammerIdCount;

// Whether args are in the toolchain's style: a word of one dash and a
// letter (-p, -P, -U...) other than -h.
bool IsToolchainCommandLine(const std::vector<std::string>& args);

// Translates the toolchain's command line into options. false with a
// one-line reason in error for anything it does not take.
bool ParseToolchainArguments(const std::vector<std::string>& args, CliOptions& options,
                             std::string& error);

// The text of --list-part-ids: each -p id and the part it names.
std::string PartIdListText();

// The values a value file holds (the -U formats r, i, h, d, b, a: its bytes,
// an Intel HEX image, or numbers in text). false with the reason in error.
bool ReadValueFile(const std::string& bytes, char format, std::vector<uint8_t>& values,
                   std::string& error);
// A file's contents for values read from the chip, in the output format
// (h, d, b: numbers, comma separated, one line; r: the bytes; i: Intel HEX).
std::string FormatValueFile(const std::vector<uint8_t>& values, char format);

// The ticked lock bits of a lock byte (0 programmed): Lock Bit1 and Lock
// Bit2, which are all this adapter's lock operations write. false when the
// byte programs any other bit.
bool LockTicksFromByte(uint8_t lockByte, LockTicks& ticks, std::string& error);

// The position in a UPDI part's fuse layout of a fuse named as the toolchain
// names it: by its name ("syscfg0", any case) or by its number ("fuse5",
// counted from the address of the part's first fuse). false when the part
// has no such fuse (fuse3 of a tinyAVR is reserved).
bool FindUpdiFuse(const SUpdiPart& part, const std::string& name, size_t& index);
// The part's fuses for a message: "fuse0 (wdtcfg), fuse1 (bodcfg), ...".
std::string UpdiFuseNameList(const SUpdiPart& part);
// Settings of write-fuses and verify-fuses with every fuse number (fuse5=)
// turned into the fuse's name (syscfg0=). false with the reason in error for
// a number the part has no fuse at.
bool NameUpdiFuseNumbers(const SUpdiPart& part, const std::string& settings, std::string& named,
                         std::string& error);
