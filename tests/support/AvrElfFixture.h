// Builds small ELF files the way avr-gcc lays them out: one loadable segment
// per section, placed by its load address, with named section headers, so
// the ELF reader can be tested without the toolchain.
#pragma once

#include <elf.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

struct ElfFixtureSection {
    std::string name;
    uint32_t loadAddress;
    uint32_t runAddress;  // .data runs in RAM but loads into flash
    std::vector<uint8_t> bytes;
};

constexpr uint32_t kFixtureRamData = 0x800100;

// The sections of a program for an ATmega328P: code, initial values of
// .data, EEPROM, fuses (low, high, extended), lock byte and signature (as
// <avr/signature.h> stores it: part code, size code, vendor).
inline std::vector<ElfFixtureSection> AtmegaFixtureSections() {
    return {
        {".text", 0x000000, 0x000000, {0x0C, 0x94, 0x34, 0x00, 0xFF, 0xCF}},
        {".data", 0x000006, kFixtureRamData, {0x07, 0x08}},
        {".eeprom", 0x810000, 0x810000, {1, 2, 3, 4}},
        {".fuse", 0x820000, 0x820000, {0xE2, 0xD9, 0xFD}},
        {".lock", 0x830000, 0x830000, {0xFC}},
        {".signature", 0x840000, 0x840000, {0x0F, 0x95, 0x1E}},
    };
}

inline std::string BuildAvrElf(const std::vector<ElfFixtureSection>& sections,
                               uint16_t machine = EM_AVR) {
    // Layout: header, program headers, section bytes, names, section headers.
    std::string names(1, '\0');
    std::vector<uint32_t> nameAt;
    for (const ElfFixtureSection& s : sections) {
        nameAt.push_back(static_cast<uint32_t>(names.size()));
        names += s.name + '\0';
    }
    const uint32_t shstrtabName = static_cast<uint32_t>(names.size());
    names += std::string(".shstrtab") + '\0';

    const size_t count = sections.size();
    const uint32_t phoff = sizeof(Elf32_Ehdr);
    uint32_t offset = phoff + static_cast<uint32_t>(count * sizeof(Elf32_Phdr));
    std::vector<uint32_t> dataAt;
    for (const ElfFixtureSection& s : sections) {
        dataAt.push_back(offset);
        offset += static_cast<uint32_t>(s.bytes.size());
    }
    const uint32_t namesAt = offset;
    offset += static_cast<uint32_t>(names.size());
    const uint32_t shoff = offset;

    Elf32_Ehdr header{};
    std::memcpy(header.e_ident, ELFMAG, SELFMAG);
    header.e_ident[EI_CLASS] = ELFCLASS32;
    header.e_ident[EI_DATA] = ELFDATA2LSB;
    header.e_ident[EI_VERSION] = EV_CURRENT;
    header.e_type = ET_EXEC;
    header.e_machine = machine;
    header.e_version = EV_CURRENT;
    header.e_phoff = phoff;
    header.e_shoff = shoff;
    header.e_ehsize = sizeof(Elf32_Ehdr);
    header.e_phentsize = sizeof(Elf32_Phdr);
    header.e_phnum = static_cast<uint16_t>(count);
    header.e_shentsize = sizeof(Elf32_Shdr);
    header.e_shnum = static_cast<uint16_t>(count + 2);
    header.e_shstrndx = static_cast<uint16_t>(count + 1);

    std::string file(reinterpret_cast<const char*>(&header), sizeof header);
    for (size_t i = 0; i < count; ++i) {
        Elf32_Phdr segment{};
        segment.p_type = PT_LOAD;
        segment.p_offset = dataAt[i];
        segment.p_vaddr = sections[i].runAddress;
        segment.p_paddr = sections[i].loadAddress;
        segment.p_filesz = segment.p_memsz = static_cast<uint32_t>(sections[i].bytes.size());
        segment.p_flags = PF_R;
        segment.p_align = 1;
        file.append(reinterpret_cast<const char*>(&segment), sizeof segment);
    }
    for (const ElfFixtureSection& s : sections) {
        file.append(s.bytes.begin(), s.bytes.end());
    }
    file += names;
    const Elf32_Shdr none{};
    file.append(reinterpret_cast<const char*>(&none), sizeof none);
    for (size_t i = 0; i < count; ++i) {
        Elf32_Shdr section{};
        section.sh_name = nameAt[i];
        section.sh_type = SHT_PROGBITS;
        section.sh_flags = SHF_ALLOC;
        section.sh_addr = sections[i].runAddress;
        section.sh_offset = dataAt[i];
        section.sh_size = static_cast<uint32_t>(sections[i].bytes.size());
        section.sh_addralign = 1;
        file.append(reinterpret_cast<const char*>(&section), sizeof section);
    }
    Elf32_Shdr strtab{};
    strtab.sh_name = shstrtabName;
    strtab.sh_type = SHT_STRTAB;
    strtab.sh_offset = namesAt;
    strtab.sh_size = static_cast<uint32_t>(names.size());
    strtab.sh_addralign = 1;
    file.append(reinterpret_cast<const char*>(&strtab), sizeof strtab);
    return file;
}
