#include "image/ImageFormats.h"

#include <algorithm>
#include <cctype>

namespace {

constexpr uint8_t kErasedByte = 0xFF;
constexpr const char* kElfMagic =
    "\x7f"
    "ELF";
constexpr size_t kElfMagicLength = 4;
constexpr const char* kElfExtension = ".elf";
constexpr const char* kBinaryExtensions[] = {".bin", ".raw"};
constexpr char kRecordMark = ':';
// A word line of the program reader: six hex digits, a colon, four digits.
constexpr size_t kWordLineAddressDigits = 6;

std::string LowerExtension(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return std::string();
    }
    std::string extension = path.substr(dot);
    for (char& c : extension) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return extension;
}

bool IsHexDigit(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

bool LooksLikeHexText(const std::string& bytes) {
    size_t i = 0;
    while (i < bytes.size() && std::isspace(static_cast<unsigned char>(bytes[i])) != 0) {
        ++i;
    }
    if (i < bytes.size() && bytes[i] == kRecordMark) {
        return true;
    }
    for (size_t d = 0; d < kWordLineAddressDigits; ++d) {
        if (i + d >= bytes.size() || !IsHexDigit(bytes[i + d])) {
            return false;
        }
    }
    return i + kWordLineAddressDigits < bytes.size() &&
           bytes[i + kWordLineAddressDigits] == kRecordMark;
}

}  // namespace

ImageFormat FormatByName(const std::string& path) {
    const std::string extension = LowerExtension(path);
    if (extension == kElfExtension) {
        return ImageFormat::Elf;
    }
    for (const char* binary : kBinaryExtensions) {
        if (extension == binary) {
            return ImageFormat::Binary;
        }
    }
    return ImageFormat::IntelHex;
}

ImageFormat FormatByContent(const std::string& bytes) {
    if (bytes.compare(0, kElfMagicLength, kElfMagic, kElfMagicLength) == 0) {
        return ImageFormat::Elf;
    }
    return LooksLikeHexText(bytes) ? ImageFormat::IntelHex : ImageFormat::Binary;
}

ImageFormat ResolveFormat(FormatChoice choice, const std::string& path, const std::string& bytes) {
    switch (choice) {
        case FormatChoice::ByName:
            return FormatByName(path);
        case FormatChoice::ByContent:
            return FormatByContent(bytes);
        case FormatChoice::IntelHex:
            return ImageFormat::IntelHex;
        case FormatChoice::Binary:
            return ImageFormat::Binary;
        case FormatChoice::Elf:
            return ImageFormat::Elf;
    }
    return ImageFormat::IntelHex;
}

bool ReadBinaryImage(const std::string& bytes, int imageSize, std::vector<uint8_t>& image) {
    const size_t size = static_cast<size_t>(std::max(imageSize, 0));
    if (bytes.size() > size) {
        return false;
    }
    image.assign(size, kErasedByte);
    std::copy(bytes.begin(), bytes.end(), image.begin());
    return true;
}

std::string FormatBinaryImage(const std::vector<uint8_t>& image) {
    return std::string(image.begin(), image.end());
}
