#include "parts/FuseBits.h"

#include <cctype>
#include <cstring>

std::string FuseBitName(const FuseLayout* layout, int byte, int bit) {
    if (layout == nullptr || byte < 0 || byte >= kFuseLayoutBytes ||
        layout->bytes[byte] == nullptr || bit < 0 || bit >= kBitsPerFuse) {
        return "bit " + std::to_string(bit);
    }
    // Bit 7 comes first: skip the names of the bits above this one.
    const char* text = layout->bytes[byte];
    for (int above = kBitsPerFuse - 1; above > bit && text != nullptr; --above) {
        text = std::strchr(text, ' ');
        text = text != nullptr ? text + 1 : nullptr;
    }
    if (text == nullptr) {
        return "bit " + std::to_string(bit);
    }
    const std::string name(text, std::strcspn(text, " "));
    return name == "-" ? std::string() : name;
}

uint8_t UnusedFuseBits(const FuseLayout* layout, int byte) {
    if (layout == nullptr || byte < 0 || byte >= kFuseLayoutBytes ||
        layout->bytes[byte] == nullptr) {
        return 0;
    }
    uint8_t mask = 0;
    for (int bit = 0; bit < kBitsPerFuse; ++bit) {
        if (FuseBitName(layout, byte, bit).empty()) {
            mask = static_cast<uint8_t>(mask | (1u << bit));
        }
    }
    return mask;
}

namespace {

struct Meaning {
    const char* field;
    const char* line;
};

// What programming the bit (0) does, or what the field it belongs to sets,
// as the datasheets' fuse tables describe it; short enough for one line.
constexpr Meaning kMeanings[] = {
    {"RSTDISBL", "RESET becomes I/O: no more serial programming"},
    {"DWEN", "debugWIRE on RESET: no more serial programming"},
    {"SPIEN", "Serial programming on"},
    {"WDTON", "Watchdog timer always on"},
    {"EESAVE", "Chip erase keeps the EEPROM"},
    {"BOOTSZ", "Boot section size"},
    {"BOOTRST", "Reset starts the boot loader"},
    {"BODLEVEL", "Brown-out detection level"},
    {"BODEN", "Brown-out detection on"},
    {"CKDIV", "Clock divided by 8 at start"},
    {"CKOUT", "Clock put out on CLKO"},
    {"CKOPT", "Oscillator option"},
    {"SUT", "Start-up time after reset"},
    {"CKSEL", "Clock source: a wrong one stops the chip"},
    {"OCDEN", "On-chip debugging on"},
    {"JTAGEN", "JTAG interface on"},
    {"SELFPRGEN", "Program may write its own flash"},
    {"M103C", "ATmega103 compatibility mode"},
    {"HWBE", "HWB pin starts the boot loader"},
    {"CFD", "Clock failure detection off"},
    {"PSCRV", "PSC outputs' reset value"},
    {"PSC0RB", "PSC0 reset behaviour"},
    {"PSC1RB", "PSC1 reset behaviour"},
    {"PSC2RB", "PSC2 reset behaviour"},
};

}  // namespace

const char* FuseBitMeaning(const std::string& name) {
    size_t stem = name.size();
    while (stem > 0 && std::isdigit(static_cast<unsigned char>(name[stem - 1])) != 0) {
        --stem;
    }
    const std::string field = name.substr(0, stem);
    for (const Meaning& meaning : kMeanings) {
        if (field == meaning.field) {
            return meaning.line;
        }
    }
    return "";
}
