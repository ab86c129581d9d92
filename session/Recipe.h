// A production recipe (.brenwick): the part, the files written to every chip,
// the fuses and lock, the steps in their order, and where each chip's serial
// number and oscillator calibration byte go. Read with a strict INI reader
// (session/RecipeIni.h): a value that cannot be used is refused with the
// file and line, before any chip is touched. Relative paths are taken from
// the recipe's folder.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "ops/OperationHost.h"
#include "parts/DeviceTable.h"
#include "session/SerialNumber.h"

class CProgrammingSession;

enum class RecipeStep { Erase, Flash, Eeprom, Verify, Fuses, Lock };

// Where a value goes in the chip: a byte address of the flash or EEPROM.
struct RecipePlace {
    bool inFlash = false;
    int address = 0;
};

struct RecipeSerial {
    bool enabled = false;
    RecipePlace place;
    SerialFormat format;
    uint64_t first = 0;
    uint64_t step = 1;
    std::string nextFile;  // resolved
    int line = 0;          // of [Serial], for messages
};

struct RecipeCalibration {
    bool enabled = false;
    RecipePlace place;
    int line = 0;
};

struct Recipe {
    std::string path;
    std::string partText;
    int deviceRow = -1;
    std::string flashFile;   // resolved; empty: none
    std::string eepromFile;  // resolved; empty: none
    int flashLine = 0;
    int eepromLine = 0;
    // The fuse bytes given (kLowFuse...) and settings by name, made on top
    // of the chip's own values when the step runs.
    std::array<uint8_t, kFuseByteCount> fuses{};
    uint8_t fuseMask = 0;
    std::string fuseSettings;
    bool allowCutOff = false;
    bool hasLock = false;
    bool lockIsByte = false;  // lock = 0x..: every lock bit; else the ticked bits
    uint8_t lockByte = 0;
    LockTicks lockTicks;
    std::vector<RecipeStep> steps;
    RecipeSerial serial;
    RecipeCalibration calibration;

    bool Has(RecipeStep step) const;
};

// Parses recipe text; path names the file in messages and gives the folder
// relative paths are taken from. part = takes what FindDevice takes: a
// name, a device number or a toolchain id (m328p, t1614).
bool ParseRecipe(const std::string& text, const std::string& path, Recipe& recipe,
                 std::string& error);
bool LoadRecipe(const std::string& path, Recipe& recipe, std::string& error);
// The log beside the recipe: "line.brenwick" gives "line.log.csv".
std::string DefaultLogPath(const std::string& recipePath);

// The images every chip starts from, as the files give them.
struct RecipeImages {
    std::vector<uint8_t> flash;    // the part's flash size, 0xFF where the file has nothing
    std::vector<uint8_t> eeprom;   // likewise
    std::vector<bool> eepromUsed;  // the EEPROM bytes the file gives
    std::string partName;
};

// Selects the recipe's part in session, reads the files, and checks that the
// serial number (from nextSerial on) and the calibration byte fit their
// format and memory and lie clear of the program's own bytes (the flash
// image's non-0xFF bytes, the bytes the EEPROM file gives) and of each other.
bool PrepareRecipe(const Recipe& recipe, CProgrammingSession& session, uint64_t nextSerial,
                   RecipeImages& images, std::string& error);

// One chip's copy of the images with its serial number and calibration byte
// put in (either may be absent: hasSerial false, calibration < 0).
bool ChipImages(const Recipe& recipe, const RecipeImages& images, bool hasSerial, uint64_t serial,
                int calibration, std::vector<uint8_t>& flash, std::vector<uint8_t>& eeprom,
                std::string& error);
