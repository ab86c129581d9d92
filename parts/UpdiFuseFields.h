// What the fuses of a UPDI part mean, in the words of its datasheet's FUSE
// chapter. Each fuse byte is a row of bit fields (PERIOD, LVL, RSTPINCFG...),
// each field with the values its datasheet table names; the flash section
// fuses (APPEND and BOOTEND; CODESIZE and BOOTSIZE on the AVR Dx/Ex) are
// whole bytes that count blocks of flash. The Fuses window and the
// command-line tool decode, choose and word through these functions; they
// only present. Everything a family differs in is data: a word set a family,
// found by the parts' signatures, so a new family is a new table here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "parts/UpdiParts.h"

// One value a bit field can take.
struct SUpdiFuseChoice {
    uint8_t value;      // the field's value, counted from the field's lowest bit
    const char* name;   // the datasheet's name for it ("GPIO", "BODLEVEL2"); lower case is its key
    const char* words;  // what it selects
    // A second key: a quantity ("2.6v", matched by its number and unit, so
    // "2.60v" finds it too) or a plain word ("reset"); nullptr: none.
    const char* alias = nullptr;
    // What the UPDI pin becomes with this value ("a port pin"); nullptr: the
    // value leaves the UPDI pin alone.
    const char* updiPinBecomes = nullptr;
};

// A group of bits of one fuse byte and the values its datasheet table lists.
// A single bit without named values (EESAVE, OSCLOCK) takes off (0) and on (1).
struct SUpdiFuseField {
    const char* name;   // the datasheet's bit-field name ("RSTPINCFG"); lower case is its key
    const char* title;  // the window's label ("Reset pin configuration")
    uint8_t mask;       // the field's bits in the byte
    const SUpdiFuseChoice* choices;
    size_t count;
};

// The flash section fuses: the byte counts blocks of flash from its start.
enum class EUpdiFuseSection : uint8_t {
    kNone,
    kBootEnd,  // end of the boot section (BOOTEND; BOOTSIZE on the AVR Dx/Ex)
    kAppEnd,   // end of the application code section (APPEND; CODESIZE)
};

// One fuse byte in words.
struct SUpdiFuseWords {
    const char* fuse;              // as the part's fuse layout names it ("syscfg0")
    const char* title;             // "System configuration 0"
    const SUpdiFuseField* fields;  // none for a section fuse
    size_t count;
    EUpdiFuseSection section = EUpdiFuseSection::kNone;
    uint32_t blockBytes = 0;  // section fuses: the size of the blocks they count
};

// The fuse words of one family of parts.
struct SUpdiFuseWordSet {
    const char* series;              // "tinyAVR 1-series"
    const uint8_t (*signatures)[3];  // the parts it words
    size_t signatureCount;
    const SUpdiFuseWords* fuses;
    const uint8_t* factory;  // the value as shipped of each of fuses
    size_t count;
};

// A part's fuse values: one byte per fuse of its layout (SUpdiPart::fuses),
// in the layout's order.
using UpdiFuseBytes = std::vector<uint8_t>;

// The word set of the part's family; nullptr where its fuses are not worded
// yet (the front ends then show and take bytes).
const SUpdiFuseWordSet* UpdiFuseWordSetOf(const SUpdiPart& part);
// The words of the part's fuse of that name ("syscfg0", any case); nullptr
// where the part has no such fuse or it is not worded.
const SUpdiFuseWords* UpdiFuseWordsOf(const SUpdiPart& part, const std::string& fuse);

// One line of decoded settings: a bit field (or a whole section fuse, whose
// field is nullptr), the choice the byte selects (nullptr: a value the
// datasheet does not list, or a section fuse) and the words for it.
struct SUpdiFuseLine {
    const char* fuse;   // "syscfg0"
    const char* name;   // "RSTPINCFG"; a section fuse's own name ("bootend")
    const char* title;  // "Reset pin configuration"
    const SUpdiFuseField* field;
    const SUpdiFuseChoice* choice;
    std::string words;
};

// The lines of one fuse byte, one per field in the datasheet's order (one for
// a section fuse, worded as far as the byte alone tells). Empty where the
// fuse is not worded.
std::vector<SUpdiFuseLine> DecodeUpdiFuseByte(const SUpdiPart& part, const std::string& fuse,
                                              uint8_t value);
// The lines of all the part's worded fuses, fuse by fuse; the section fuses
// are worded together (where the application code section starts depends on
// the boot section's end). Always the same lines for one part, so a front end
// can keep one control a line. Empty without a word set or when values does
// not hold one byte per fuse.
std::vector<SUpdiFuseLine> DecodeUpdiFuses(const SUpdiPart& part, const UpdiFuseBytes& values);

// The keys a field takes, for a list or an error: "gpio, updi, rst (or reset)".
std::string UpdiFuseChoiceKeys(const SUpdiFuseField& field);

// The byte with the choice made: the field's bits set, the others kept.
uint8_t ApplyUpdiFuseChoice(uint8_t value, const SUpdiFuseField& field,
                            const SUpdiFuseChoice& choice);

// Settings given by name, as the tool takes them, made on top of values:
// "rstpincfg=gpio,eesave=on,freqsel=20mhz,sut=64ms,lvl=2.6v" (a field's
// name and a value's name or alias, without regard to case; "bodcfg.lvl="
// where a field name needs its fuse), "bootend=2" (a section fuse and a
// number of blocks) or "syscfg0=0xF6" (any fuse and its whole byte). touched
// gets bit i set for each fuse i of the layout the settings reach. false,
// with error saying what is wrong and what the part takes, on a name or value
// the part does not have; values are then unchanged.
bool ApplyUpdiFuseSettings(const SUpdiPart& part, const std::string& text, UpdiFuseBytes& values,
                           uint32_t& touched, std::string& error);

// The part's fuses as shipped, in its layout's order; false where the part's
// family is not worded.
bool UpdiFactoryFuses(const SUpdiPart& part, UpdiFuseBytes& values);

// Why writing next over now would cut the chip off from every UPDI adapter,
// a line a reason ('\n' between them); empty when nothing does. Only fields
// the write changes count; clock settings never do (the UPDI runs from its
// own oscillator). A part whose UPDI pin is its own (EUpdiHighVoltage::
// kDedicatedPin) is never cut off by a fuse.
std::string UpdiFuseCutOffReasons(const SUpdiPart& part, const UpdiFuseBytes& now,
                                  const UpdiFuseBytes& next);
