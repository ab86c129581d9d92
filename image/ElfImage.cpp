#include "image/ElfImage.h"

#include <gelf.h>
#include <libelf.h>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

constexpr uint8_t kErasedByte = 0xFF;
constexpr size_t kAddressTextLength = 16;

struct RegionRange {
    ElfRegion region;
    uint32_t base;
    uint32_t end;
    const char* name;
};

constexpr RegionRange kRegions[] = {
    {ElfRegion::Flash, kElfFlashBase, kElfRamBase, "flash"},
    {ElfRegion::Eeprom, kElfEepromBase, kElfFuseBase, "EEPROM"},
    {ElfRegion::Fuse, kElfFuseBase, kElfLockBase, "fuse"},
    {ElfRegion::Lock, kElfLockBase, kElfSignatureBase, "lock"},
    {ElfRegion::Signature, kElfSignatureBase, kElfRegionEnd, "signature"},
};

std::string Hex(uint64_t value) {
    char text[kAddressTextLength];
    std::snprintf(text, sizeof text, "0x%06llX", static_cast<unsigned long long>(value));
    return text;
}

const RegionRange* RegionOf(uint64_t address) {
    for (const RegionRange& range : kRegions) {
        if (address >= range.base && address < range.end) {
            return &range;
        }
    }
    return nullptr;
}

std::vector<uint8_t>& Bytes(ElfMemories& memories, ElfRegion region) {
    switch (region) {
        case ElfRegion::Eeprom:
            return memories.eeprom;
        case ElfRegion::Fuse:
            return memories.fuses;
        case ElfRegion::Lock:
            return memories.lock;
        case ElfRegion::Signature:
            return memories.signature;
        case ElfRegion::Flash:
            break;
    }
    return memories.flash;
}

struct ElfCloser {
    void operator()(Elf* elf) const { elf_end(elf); }
};

// The libelf handle over a private copy of the bytes (libelf wants them
// writable) that lives as long as the handle.
class CElfFile {
public:
    explicit CElfFile(const std::string& bytes) : m_bytes(bytes.begin(), bytes.end()) {
        if (elf_version(EV_CURRENT) != EV_NONE) {
            m_elf.reset(elf_memory(m_bytes.data(), m_bytes.size()));
        }
    }
    Elf* Get() const { return m_elf.get(); }
    size_t Size() const { return m_bytes.size(); }

private:
    std::vector<char> m_bytes;
    std::unique_ptr<Elf, ElfCloser> m_elf;
};

bool LoadSegments(const CElfFile& file, ElfMemories& memories, std::string& error) {
    size_t count = 0;
    if (elf_getphdrnum(file.Get(), &count) != 0) {
        error = std::string("its program headers cannot be read: ") + elf_errmsg(-1);
        return false;
    }
    for (size_t i = 0; i < count; ++i) {
        GElf_Phdr header;
        if (gelf_getphdr(file.Get(), static_cast<int>(i), &header) == nullptr) {
            error = std::string("its program headers cannot be read: ") + elf_errmsg(-1);
            return false;
        }
        if (header.p_type != PT_LOAD || header.p_filesz == 0) {
            continue;  // .bss and .noinit take room in RAM, no bytes
        }
        if (header.p_offset > file.Size() || header.p_filesz > file.Size() - header.p_offset) {
            error = "it is cut short: a segment for " + Hex(header.p_paddr) + " lies past its end";
            return false;
        }
        const uint64_t first = header.p_paddr;
        const uint64_t last = header.p_paddr + header.p_filesz - 1;
        const RegionRange* region = RegionOf(first);
        if (region == nullptr || last >= region->end) {
            error = "it loads bytes at " + Hex(first) + " to " + Hex(last) +
                    ", outside the AVR's flash, EEPROM, fuse, lock and signature regions";
            return false;
        }
        std::vector<uint8_t>& bytes = Bytes(memories, region->region);
        const size_t end = static_cast<size_t>(last - region->base + 1);
        if (bytes.size() < end) {
            bytes.resize(end, kErasedByte);
        }
        const char* data = static_cast<const char*>(elf_rawfile(file.Get(), nullptr));
        if (data == nullptr) {
            error = std::string("its bytes cannot be read: ") + elf_errmsg(-1);
            return false;
        }
        for (uint64_t k = 0; k < header.p_filesz; ++k) {
            bytes[static_cast<size_t>(first - region->base + k)] =
                static_cast<uint8_t>(data[header.p_offset + k]);
        }
    }
    return true;
}

// Names the sections that loaded bytes, each in the region of the segment
// whose file range holds it.
bool NameSections(const CElfFile& file, ElfMemories& memories, std::string& error) {
    size_t names = 0;
    if (elf_getshdrstrndx(file.Get(), &names) != 0) {
        return true;  // no section names: the segments alone count
    }
    size_t count = 0;
    if (elf_getphdrnum(file.Get(), &count) != 0) {
        return true;
    }
    for (Elf_Scn* section = elf_nextscn(file.Get(), nullptr); section != nullptr;
         section = elf_nextscn(file.Get(), section)) {
        GElf_Shdr header;
        if (gelf_getshdr(section, &header) == nullptr) {
            error = std::string("its section headers cannot be read: ") + elf_errmsg(-1);
            return false;
        }
        if ((header.sh_flags & SHF_ALLOC) == 0 || header.sh_type == SHT_NOBITS ||
            header.sh_size == 0) {
            continue;
        }
        for (size_t i = 0; i < count; ++i) {
            GElf_Phdr segment;
            if (gelf_getphdr(file.Get(), static_cast<int>(i), &segment) == nullptr ||
                segment.p_type != PT_LOAD || header.sh_offset < segment.p_offset ||
                header.sh_offset + header.sh_size > segment.p_offset + segment.p_filesz) {
                continue;
            }
            const RegionRange* region = RegionOf(segment.p_paddr);
            const char* name = elf_strptr(file.Get(), names, header.sh_name);
            if (region != nullptr) {
                memories.sections.push_back(
                    {name != nullptr ? name : "?", region->region,
                     segment.p_paddr + (header.sh_offset - segment.p_offset)});
            }
            break;
        }
    }
    std::stable_sort(
        memories.sections.begin(), memories.sections.end(),
        [](const ElfSection& a, const ElfSection& b) { return a.loadAddress < b.loadAddress; });
    return true;
}

}  // namespace

std::string ElfMemories::SectionNames(ElfRegion region) const {
    std::string text;
    for (const ElfSection& section : sections) {
        if (section.region == region) {
            text += (text.empty() ? "" : " ") + section.name;
        }
    }
    return text;
}

bool ReadElfImage(const std::string& bytes, ElfMemories& memories, std::string& error) {
    const CElfFile file(bytes);
    if (file.Get() == nullptr || elf_kind(file.Get()) != ELF_K_ELF) {
        const bool magic = bytes.compare(0, SELFMAG, ELFMAG, SELFMAG) == 0;
        error = magic ? "it is cut short: its ELF header is incomplete" : "it is no ELF file";
        return false;
    }
    GElf_Ehdr header;
    if (gelf_getehdr(file.Get(), &header) == nullptr) {
        error = "it is cut short: its ELF header is incomplete";
        return false;
    }
    if (header.e_machine != EM_AVR) {
        error = "it is an ELF file for another processor (machine " +
                std::to_string(header.e_machine) + "), not for the AVR";
        return false;
    }
    if (gelf_getclass(file.Get()) != ELFCLASS32) {
        error = "it is a 64-bit ELF file, not for the AVR, whose files are 32-bit";
        return false;
    }
    ElfMemories read;
    if (!LoadSegments(file, read, error) || !NameSections(file, read, error)) {
        return false;
    }
    memories = std::move(read);
    return true;
}
