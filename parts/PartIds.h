// The short part ids that AVR command-line tools, Makefiles and IDE board
// files pass with -p (m328p for the ATmega328P), each with the name of the
// part it stands for. The part itself is found in the device table by that
// name; FindDevice (parts/DeviceTable.h) takes these ids, so the window, the
// tool and the recipe's part = all know them. The UPDI parts' ids live in
// their own description (parts/UpdiParts.h).
#pragma once

#include <string>

struct PartId {
    const char* id;    // lower case
    const char* name;  // as the device table knows it
};

extern const PartId g_partIds[];
extern const int kPartIdCount;

// The entry with that id, in any case; nullptr when none.
const PartId* FindPartId(const std::string& id);
