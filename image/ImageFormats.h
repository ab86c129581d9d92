// The file formats a memory image can come from or go to besides Intel HEX:
// raw binary images, and which format a file is in, by its name or by its
// content. No Qt, no file system: bytes in, image out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class ImageFormat {
    IntelHex,  // Intel HEX records (and the program memory's word lines)
    Binary,    // the memory's bytes from address 0, nothing else
    Elf,       // the linker's output (image/ElfImage.h); read only
};

// How a file's format is chosen.
enum class FormatChoice {
    ByName,     // by the extension (.elf, .bin/.raw), Intel HEX otherwise
    ByContent,  // by the first bytes: ELF, Intel HEX text, else raw binary
    IntelHex,
    Binary,
    Elf,
};

// The format of a file called path: .elf is ELF, .bin and .raw are raw
// binary (any case), everything else Intel HEX, as the window always read.
ImageFormat FormatByName(const std::string& path);
// The format of bytes: the ELF magic, else Intel HEX when the text starts
// with a record or a word line, else raw binary.
ImageFormat FormatByContent(const std::string& bytes);
// The format choice resolves to for a file with that name and content.
ImageFormat ResolveFormat(FormatChoice choice, const std::string& path, const std::string& bytes);

// Reads a raw binary image: the image is remade with imageSize bytes of 0xFF,
// then the file's bytes are stored from address 0. false, with the image
// untouched, when the file holds more bytes than the memory.
bool ReadBinaryImage(const std::string& bytes, int imageSize, std::vector<uint8_t>& image);
// The bytes of a raw binary file for an image: the image as it is.
std::string FormatBinaryImage(const std::vector<uint8_t>& image);
