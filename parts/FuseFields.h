// What a part's fuse settings mean, in the words of its datasheet's tables:
// the clock source, its start-up time, the brown-out level and the boot
// section, each a field of one or more bits with the values the datasheet
// lists for it; the other named bits are single settings, on (programmed) or
// off. The Fuses window and the command-line tool both decode, choose and
// word through these functions; they only present.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct DeviceInfo;
struct FuseField;

constexpr int kFuseFieldBytes = 3;  // low, high, extended
using FuseByteValues = std::array<uint8_t, kFuseFieldBytes>;

// One value a field can take.
struct FuseChoice {
    uint8_t value;      // the field's bits as they stand in the byte
    const char* key;    // the tool's name for it ("rc8m")
    const char* words;  // what the datasheet's table says it selects
    // Clock sources only: the bits this choice fixes where fewer than the
    // field's (a crystal's CKSEL0 belongs to its start-up table; 0: all of
    // the field's), the table that gives its start-up times, its frequency
    // in kHz where it has a fixed one (0: the board's), and what the board
    // must carry for the chip to run from it (nullptr: nothing, the
    // oscillator is inside the chip).
    uint8_t mask = 0;
    const FuseField* startup = nullptr;
    uint32_t kHz = 0;
    const char* needs = nullptr;
    // Boot section sizes only: the size in words.
    uint32_t bootWords = 0;
};

// A group of bits of one fuse byte and the values its datasheet table
// lists.
struct FuseField {
    const char* key;    // the tool's name ("clock")
    const char* title;  // the window's label ("Clock source")
    int byte;           // 0 low, 1 high, 2 extended
    uint8_t mask;       // the field's bits in that byte
    const FuseChoice* choices;
    int count;
    // The choice taken when another choice brings this field in and its
    // bits stand at a value it does not list (a start-up table after a new
    // clock source): the datasheet's longest start-up, safe on any supply.
    int fallback = 0;
    // The single bit that must be programmed for the field to act at all
    // ("BODEN" beside the ATmega8's brown-out level); nullptr: none. While it
    // is unprogrammed the field's value is only what it would be.
    const char* enabledBy = nullptr;
};

// A family's fields, in the order they are shown; the start-up field of
// the clock source follows the clock field.
struct FuseFieldSet {
    const FuseField* const* fields;
    int count;
    // The bit that divides the clock by 8 at start ("CKDIV8"); nullptr: none.
    const char* divider;
};

// The families' field sets (DeviceTable.cpp points its families at them).
extern const FuseFieldSet g_mega328FuseFields;
extern const FuseFieldSet g_mega2560FuseFields;
extern const FuseFieldSet g_tinyX5FuseFields;
extern const FuseFieldSet g_tiny13FuseFields;
extern const FuseFieldSet g_mega8FuseFields;

// The field set of the part's family; nullptr where its tables were not at
// hand (its bits are then only named or numbered).
const FuseFieldSet* FuseFieldsOf(const DeviceInfo& device);

// One line of the decoded settings: a field (the start-up field is the one
// of the clock source the bytes select; nullptr when that source is a
// reserved value), the choice the bytes select (nullptr: a value the
// datasheet does not list), and the words for it.
struct FuseSetting {
    const char* key;
    const char* title;
    const FuseField* field;
    const FuseChoice* choice;
    std::string words;
};

// Each field of the part's set, decoded from the bytes; always the same
// number of lines for one part (a clock field brings a start-up line), so
// that a front end can keep one control per line. Empty without a set.
std::vector<FuseSetting> DecodeFuseFields(const DeviceInfo& device, const FuseByteValues& fuses);

// The words for a choice as it would stand in these bytes: a clock source
// with the divider the bytes set ("internal RC oscillator 8 MHz, divided by
// 8: 1 MHz"), a boot section with where it starts.
std::string FuseChoiceWords(const DeviceInfo& device, const FuseByteValues& fuses,
                            const FuseField& field, const FuseChoice& choice);

// The bytes with the choice made: the choice's bits set, and where it brings
// in a start-up table whose bits stand at a value the table does not list,
// that table's fallback.
void ApplyFuseChoice(FuseByteValues& fuses, const FuseField& field, const FuseChoice& choice);

// The named bits that belong to no field of the set (all named bits without
// a set), as 8 * byte + bit: the settings of one bit, on or off.
std::vector<int> FuseSingleBits(const DeviceInfo& device);

// Settings given by name, as the tool takes them: "clock=rc8m,ckdiv8=off"
// (a field's key and one of its choices' keys, or a single bit's name and
// on or off; without regard to case), made on top of fuses. touched gets the
// fuse bytes (kLowFuse, kHighFuse, kExtendedFuse) the names reach. false,
// with error saying what is wrong and what is possible, on a name or value
// the part does not have; fuses are then unchanged.
bool ApplyFuseSettings(const DeviceInfo& device, const std::string& text, FuseByteValues& fuses,
                       uint8_t& touched, std::string& error);

// Where a new clock source would leave the chip, in words, for the cut-off
// question: "Clock source: external crystal 8 MHz and up: a board without
// ...". false where the part's clock field is not known (the caller then
// says it plainly).
bool FuseClockCutOffReason(const DeviceInfo& device, const FuseByteValues& next,
                           std::string& reason);
