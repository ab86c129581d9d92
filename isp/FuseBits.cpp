#include "isp/FuseBits.h"

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

namespace {

struct Meaning {
    const char* field;
    const char* line;
};

// Programmed means 0. The lines say what programming the bit (or setting the
// field) does, as the datasheets' fuse tables describe it.
constexpr Meaning kMeanings[] = {
    {"RSTDISBL", "Programmed: RESET becomes an I/O pin; serial programming is no longer possible"},
    {"DWEN", "Programmed: debugWIRE takes over RESET; serial programming is no longer possible"},
    {"SPIEN", "Programmed: serial programming enabled (cannot be changed in serial mode)"},
    {"WDTON", "Programmed: the watchdog timer is always on"},
    {"EESAVE", "Programmed: chip erase keeps the EEPROM"},
    {"BOOTSZ", "Boot section size (with the other BOOTSZ bit)"},
    {"BOOTRST", "Programmed: reset starts the boot loader"},
    {"BODLEVEL", "Brown-out detection level (with the other BODLEVEL bits)"},
    {"BODEN", "Programmed: brown-out detection enabled"},
    {"CKDIV", "Programmed: the system clock is divided by 8 at start"},
    {"CKOUT", "Programmed: the system clock is put out on CLKO"},
    {"CKOPT", "Oscillator options (amplitude, or internal capacitors)"},
    {"SUT", "Start-up time after reset (with the other SUT bits)"},
    {"CKSEL", "Clock source (with the other CKSEL bits); a wrong one can stop the chip"},
    {"OCDEN", "Programmed: on-chip debugging enabled"},
    {"JTAGEN", "Programmed: the JTAG interface is enabled"},
    {"SELFPRGEN", "Programmed: the program can write its own flash"},
    {"M103C", "Programmed: ATmega103 compatibility mode"},
    {"HWBE", "Programmed: the HWB pin can start the boot loader"},
    {"PLLCKEN", "Programmed: the PLL runs the system clock"},
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
