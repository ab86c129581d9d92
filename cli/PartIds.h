// The short part ids that AVR command-line tools, Makefiles and IDE board
// files pass with -p (m328p for the ATmega328P), each with the name of the
// part it stands for. Data only: the part itself is found in the device table
// by that name.
#pragma once

struct PartId {
    const char* id;    // lower case
    const char* name;  // as the device table knows it
};

extern const PartId g_partIds[];
extern const int kPartIdCount;
