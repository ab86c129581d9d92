// The memories of an AVR ELF file as avr-gcc links them: every loadable
// segment is placed by its physical (load) address, which for the AVR is an
// address in one of these regions. Read with elfutils' libelf; no Qt.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The load address regions of the AVR toolchain's linker scripts.
enum class ElfRegion { Flash, Eeprom, Fuse, Lock, Signature };

constexpr uint32_t kElfFlashBase = 0x000000;
constexpr uint32_t kElfRamBase = 0x800000;  // .data's run address; never loaded there
constexpr uint32_t kElfEepromBase = 0x810000;
constexpr uint32_t kElfFuseBase = 0x820000;
constexpr uint32_t kElfLockBase = 0x830000;
constexpr uint32_t kElfSignatureBase = 0x840000;
constexpr uint32_t kElfRegionEnd = 0x850000;
// The bytes of .signature, as <avr/signature.h> stores them: the part code,
// the size code, then the vendor code.
constexpr int kElfSignatureLength = 3;

struct ElfSection {
    std::string name;
    ElfRegion region = ElfRegion::Flash;
    uint64_t loadAddress = 0;
};

struct ElfMemories {
    // Each region's bytes from its base to the last byte loaded; bytes no
    // segment loads are 0xFF (erased, or a fuse bit left unprogrammed).
    std::vector<uint8_t> flash;
    std::vector<uint8_t> eeprom;
    std::vector<uint8_t> fuses;  // low, high, extended
    std::vector<uint8_t> lock;
    std::vector<uint8_t> signature;
    // The allocated sections that hold bytes, by load address.
    std::vector<ElfSection> sections;

    // The sections of one region, space separated (".text .data").
    std::string SectionNames(ElfRegion region) const;
};

// Reads bytes, the whole content of an ELF file. false with a one-line
// reason in error when it is no ELF file, not for the AVR, cut short or
// inconsistent, or loads bytes outside the regions above.
bool ReadElfImage(const std::string& bytes, ElfMemories& memories, std::string& error);
