// Any bytes as an ELF file: the reader must give memories or a reason, never
// read outside the bytes, whatever the headers claim.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "image/ElfImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    ElfMemories memories;
    std::string error;
    const bool read = ReadElfImage(bytes, memories, error);
    // A failure always says why; a success never loads more than the regions hold.
    if (!read && error.empty()) {
        std::abort();
    }
    if (read && (memories.flash.size() > kElfRamBase - kElfFlashBase ||
                 memories.eeprom.size() > kElfFuseBase - kElfEepromBase)) {
        std::abort();
    }
    return 0;
}
