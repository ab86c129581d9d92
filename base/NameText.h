// Text rules for names the user types: ports, parts, options. One place, so
// that every lookup treats case and part-name variants alike.
#pragma once

#include <string>
#include <vector>

// Whether a and b are the same text without regard to (ASCII) case.
bool EqualNoCase(const std::string& a, const std::string& b);
// Whether text begins with prefix, without regard to case.
bool StartsWithNoCase(const std::string& text, const std::string& prefix);
std::string LowerCase(const std::string& text);

// The single names an entry such as "ATtiny13/13A" stands for: the first
// name, then each further piece as a whole name when it starts with a letter
// ("AT90PWM2/AT90PWM3"), else as the first name with its end replaced by the
// piece ("13A" makes "ATtiny13A", "11" of "ATtiny10/11/12" makes "ATtiny11").
// An entry without a slash gives only itself.
std::vector<std::string> PartNameVariants(const std::string& entry);

// The index of the entry (0 to count - 1, nameAt(i) its name) that name
// stands for, without regard to case: an entry whose whole name or first
// name it is comes before one that has it only as a variant ("ATtiny12" is
// a part of its own and the last of "ATtiny10/11/12"). -1 when none.
template <typename NameAt>
int FindPartEntry(int count, NameAt nameAt, const std::string& name) {
    for (int i = 0; i < count; ++i) {
        const std::string entry = nameAt(i);
        if (EqualNoCase(entry, name) || EqualNoCase(PartNameVariants(entry).front(), name)) {
            return i;
        }
    }
    for (int i = 0; i < count; ++i) {
        for (const std::string& single : PartNameVariants(nameAt(i))) {
            if (EqualNoCase(single, name)) {
                return i;
            }
        }
    }
    return -1;
}
