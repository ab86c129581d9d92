// The formats besides Intel HEX: ELF files as avr-gcc links them (built by
// tests/support/AvrElfFixture.h), raw binary images, and which format a file
// is taken for.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "image/ElfImage.h"
#include "image/ImageFormats.h"
#include "tests/support/AvrElfFixture.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::vector<ElfFixtureSection> With(std::vector<ElfFixtureSection> sections,
                                    const ElfFixtureSection& extra) {
    sections.push_back(extra);
    return sections;
}

// A 64-bit ELF file that claims the AVR as its machine, with one loadable
// segment of flash bytes: no AVR tool writes one, and its addresses are not
// the AVR's.
std::string Elf64ForAvr() {
    Elf64_Ehdr header{};
    std::copy(ELFMAG, ELFMAG + SELFMAG, header.e_ident);
    header.e_ident[EI_CLASS] = ELFCLASS64;
    header.e_ident[EI_DATA] = ELFDATA2LSB;
    header.e_ident[EI_VERSION] = EV_CURRENT;
    header.e_type = ET_EXEC;
    header.e_machine = EM_AVR;
    header.e_version = EV_CURRENT;
    header.e_phoff = sizeof(Elf64_Ehdr);
    header.e_ehsize = sizeof(Elf64_Ehdr);
    header.e_phentsize = sizeof(Elf64_Phdr);
    header.e_phnum = 1;
    Elf64_Phdr segment{};
    segment.p_type = PT_LOAD;
    segment.p_offset = sizeof(Elf64_Ehdr) + sizeof(Elf64_Phdr);
    segment.p_filesz = segment.p_memsz = 2;
    std::string file(reinterpret_cast<const char*>(&header), sizeof header);
    file.append(reinterpret_cast<const char*>(&segment), sizeof segment);
    return file + std::string("\x0C\x94", 2);
}

struct ElfCase {
    const char* what;
    std::string file;
    const char* error;  // part of the reason; nullptr: read
};

TEST(ElfImage, FilesAndTheirFaults) {
    const std::string full = BuildAvrElf(AtmegaFixtureSections());
    const size_t segmentData = sizeof(Elf32_Ehdr) + 6 * sizeof(Elf32_Phdr);
    const ElfCase cases[] = {
        {"every memory", full, nullptr},
        {"another processor", BuildAvrElf(AtmegaFixtureSections(), EM_ARM), "not for the AVR"},
        {"64-bit file for the AVR", Elf64ForAvr(), "not for the AVR"},
        {"no ELF at all", ":100000000C9434000C943E000C943E000C943E0082\r\n", "no ELF file"},
        {"cut inside the header", full.substr(0, 20), "cut short"},
        {"cut inside the segment bytes", full.substr(0, segmentData + 3), "cut short"},
        {"bytes loaded into RAM",
         BuildAvrElf(
             With(AtmegaFixtureSections(), {".bss", kFixtureRamData, kFixtureRamData, {0}})),
         "outside"},
        {"flash running into RAM",
         BuildAvrElf({{".text", kElfRamBase - 1, kElfRamBase - 1, {1, 2}}}), "outside"},
        {"above the signature", BuildAvrElf({{".user", kElfRegionEnd, kElfRegionEnd, {1}}}),
         "outside"},
        {"empty file", std::string(), "no ELF file"},
    };
    for (const ElfCase& c : cases) {
        SCOPED_TRACE(c.what);
        ElfMemories memories;
        memories.flash = {0xAA};  // a failed read leaves what was there
        std::string error;
        const bool read = ReadElfImage(c.file, memories, error);
        if (c.error == nullptr) {
            ASSERT_TRUE(read) << error;
        } else {
            EXPECT_FALSE(read);
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
            EXPECT_EQ(memories.flash, Bytes{0xAA});
        }
    }
}

TEST(ElfImage, RegionsByLoadAddress) {
    ElfMemories m;
    std::string error;
    ASSERT_TRUE(ReadElfImage(BuildAvrElf(AtmegaFixtureSections()), m, error)) << error;
    // .data's initial values follow .text in flash, at their load address.
    EXPECT_EQ(m.flash, (Bytes{0x0C, 0x94, 0x34, 0x00, 0xFF, 0xCF, 0x07, 0x08}));
    EXPECT_EQ(m.eeprom, (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(m.fuses, (Bytes{0xE2, 0xD9, 0xFD}));
    EXPECT_EQ(m.lock, Bytes{0xFC});
    EXPECT_EQ(m.signature, (Bytes{0x0F, 0x95, 0x1E}));
    EXPECT_EQ(m.SectionNames(ElfRegion::Flash), ".text .data");
    EXPECT_EQ(m.SectionNames(ElfRegion::Eeprom), ".eeprom");
    EXPECT_EQ(m.SectionNames(ElfRegion::Fuse), ".fuse");

    // Gaps between sections read erased; a region without sections is empty.
    ASSERT_TRUE(ReadElfImage(BuildAvrElf({{".text", 0, 0, {1, 2}},
                                          {".progmem", 6, 6, {3}},
                                          {".fuse", kElfFuseBase + 1, kElfFuseBase + 1, {0xD9}}}),
                             m, error))
        << error;
    EXPECT_EQ(m.flash, (Bytes{1, 2, 0xFF, 0xFF, 0xFF, 0xFF, 3}));
    EXPECT_EQ(m.fuses, (Bytes{0xFF, 0xD9}));  // a high fuse alone keeps its place
    EXPECT_TRUE(m.eeprom.empty());
    EXPECT_TRUE(m.signature.empty());
}

TEST(BinaryImage, ReadAndWrite) {
    struct Case {
        std::string file;
        int size;
        bool read;
        Bytes image;
    };
    const Case cases[] = {
        {"", 4, true, {0xFF, 0xFF, 0xFF, 0xFF}},
        {std::string("\x01\x00", 2), 4, true, {0x01, 0x00, 0xFF, 0xFF}},
        {"abcd", 4, true, {'a', 'b', 'c', 'd'}},
        {"abcde", 4, false, {9}},  // larger than the memory: nothing changes
    };
    for (const Case& c : cases) {
        Bytes image = {9};
        EXPECT_EQ(ReadBinaryImage(c.file, c.size, image), c.read) << c.file;
        EXPECT_EQ(image, c.image) << c.file;
    }
    const Bytes all = {0x00, 0x0D, 0x0A, 0x1A, 0xFF};
    Bytes back;
    ASSERT_TRUE(ReadBinaryImage(FormatBinaryImage(all), 5, back));
    EXPECT_EQ(back, all);
}

TEST(ImageFormats, ByNameAndByContent) {
    const struct {
        const char* path;
        ImageFormat format;
    } names[] = {
        {"main.elf", ImageFormat::Elf},        {"DIR.X/MAIN.ELF", ImageFormat::Elf},
        {"flash.bin", ImageFormat::Binary},    {"flash.RAW", ImageFormat::Binary},
        {"main.hex", ImageFormat::IntelHex},   {"main.epp", ImageFormat::IntelHex},
        {"a.elf/main", ImageFormat::IntelHex}, {"main", ImageFormat::IntelHex},
    };
    for (const auto& n : names) {
        EXPECT_EQ(FormatByName(n.path), n.format) << n.path;
    }
    const struct {
        std::string bytes;
        ImageFormat format;
    } contents[] = {
        {BuildAvrElf(AtmegaFixtureSections()), ImageFormat::Elf},
        {":020000020000FC\r\n", ImageFormat::IntelHex},
        {"\r\n  :00000001FF\n", ImageFormat::IntelHex},
        {"000000:940c\n", ImageFormat::IntelHex},
        {std::string("\x0C\x94\x34\x00", 4), ImageFormat::Binary},
        {"", ImageFormat::Binary},
    };
    for (const auto& c : contents) {
        EXPECT_EQ(FormatByContent(c.bytes), c.format) << c.bytes.substr(0, 8);
    }
}

}  // namespace
