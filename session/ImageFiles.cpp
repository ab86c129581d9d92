// The session's memory images in the formats besides Intel HEX: raw binary
// images and the linker's ELF output.
#include <algorithm>
#include <cstdio>

#include "image/FileAccess.h"
#include "parts/DeviceTable.h"
#include "session/ProgrammingSession.h"

namespace {

constexpr const char* kLineEnd = "\r\n";
constexpr const char* kElfSectionsLine = " ELF sections : ";
constexpr const char* kNoSections = "none";
constexpr const char* kFileErrorLine = " File Error : ";
constexpr const char* kElfNotWritten =
    "ELF files are only read; save the image as Intel HEX (.hex) or raw binary (.bin)";
constexpr size_t kSignatureTextLength = 16;
// Where each signature byte lies in .signature (part code first).
constexpr int kSignatureVendorAt = 2;
constexpr int kSignatureSizeAt = 1;
constexpr int kSignaturePartAt = 0;

std::string SignatureText(uint8_t vendor, uint8_t size, uint8_t part) {
    char text[kSignatureTextLength];
    std::snprintf(text, sizeof text, "%02X %02X %02X", vendor, size, part);
    return text;
}

}  // namespace

bool CProgrammingSession::ReadElfForDevice(const std::string& bytes, ElfMemories& memories,
                                           std::string& error) const {
    ElfMemories read;
    if (!ReadElfImage(bytes, read, error)) {
        return false;
    }
    const DeviceInfo* device = Device();
    if (device != nullptr && read.signature.size() == static_cast<size_t>(kElfSignatureLength)) {
        // The size code as the adapter checks it: the row's own, else the
        // one of its program size.
        const uint8_t sizeCode =
            device->sizeCode != 0 ? device->sizeCode : SizeCodeForProgSize(device->progSize);
        const uint8_t part = static_cast<uint8_t>(device->signature);
        if (read.signature[kSignatureVendorAt] != kAtmelVendorCode ||
            read.signature[kSignatureSizeAt] != sizeCode ||
            read.signature[kSignaturePartAt] != part) {
            error =
                "it was built for the chip with signature " +
                SignatureText(read.signature[kSignatureVendorAt], read.signature[kSignatureSizeAt],
                              read.signature[kSignaturePartAt]) +
                ", not for the " + DeviceName() + " (" +
                SignatureText(kAtmelVendorCode, sizeCode, part) + ")";
            return false;
        }
    }
    const size_t progSize = static_cast<size_t>(std::max(ProgSize(), 0));
    const size_t dataSize = static_cast<size_t>(std::max(DataSize(), 0));
    if (read.flash.size() > progSize) {
        error = "its flash sections (" + std::to_string(read.flash.size()) +
                " bytes) do not fit the " + std::to_string(progSize) + " bytes of the " +
                DeviceName();
        return false;
    }
    if (read.eeprom.size() > dataSize) {
        error = "its EEPROM section (" + std::to_string(read.eeprom.size()) +
                " bytes) does not fit the " + std::to_string(dataSize) + " bytes of the " +
                DeviceName();
        return false;
    }
    if (device != nullptr && read.fuses.size() > static_cast<size_t>(kFuseByteCount)) {
        error = "its fuse section has " + std::to_string(read.fuses.size()) +
                " bytes; an AVR has at most " + std::to_string(kFuseByteCount);
        return false;
    }
    memories = std::move(read);
    return true;
}

ImageFileResult CProgrammingSession::ReadImageBytes(bool prog, const std::string& path,
                                                    const std::string& bytes, FormatChoice choice,
                                                    std::vector<uint8_t>& image) const {
    ImageFileResult result;
    result.format = ResolveFormat(choice, path, bytes);
    const int size = prog ? ProgSize() : DataSize();
    switch (result.format) {
        case ImageFormat::IntelHex:
            result.hexStatus = ReadHexText(prog, bytes, image);
            break;
        case ImageFormat::Binary:
            if (!ReadBinaryImage(bytes, size, image)) {
                result.error = "it holds " + std::to_string(bytes.size()) +
                               " bytes, more than the " + std::to_string(size) + " of the " +
                               DeviceName() + (prog ? "'s program memory" : "'s data memory");
            }
            break;
        case ImageFormat::Elf: {
            ElfMemories memories;
            if (!ReadElfForDevice(bytes, memories, result.error)) {
                break;
            }
            const std::vector<uint8_t>& memory = prog ? memories.flash : memories.eeprom;
            result.sections = memories.SectionNames(prog ? ElfRegion::Flash : ElfRegion::Eeprom);
            if (memory.empty()) {
                result.error = prog ? "it has no flash section" : "it has no EEPROM section";
                break;
            }
            ReadBinaryImage(std::string(memory.begin(), memory.end()), size, image);
            break;
        }
    }
    return result;
}

void CProgrammingSession::PostImageRead(bool prog, const std::string& path,
                                        const ImageFileResult& result) {
    if (result.format == ImageFormat::IntelHex) {
        PostHexRead(prog, path, result.hexStatus);
        return;
    }
    m_host.AddMessage(kHexOpenedPrefix + path + kHexOpenedSuffix);
    if (!result.error.empty()) {
        m_host.AddMessage(kFileErrorLine + result.error + kLineEnd);
    } else if (result.format == ImageFormat::Elf) {
        m_host.AddMessage(kElfSectionsLine +
                          (result.sections.empty() ? std::string(kNoSections) : result.sections) +
                          kLineEnd);
    }
}

bool CProgrammingSession::SaveImageFile(bool prog, const std::string& path, FormatChoice choice,
                                        std::string& error) {
    const ImageFormat format = ResolveFormat(choice, path, std::string());
    if (format == ImageFormat::IntelHex) {
        return SaveHexFile(prog, path, error);
    }
    m_host.AddMessage((prog ? kHexSaveProgPrefix : kHexSaveDataPrefix) + path + kLineEnd);
    if (format == ImageFormat::Elf) {
        error = kElfNotWritten;
    } else {
        const std::vector<uint8_t>& image = prog ? m_images.m_progImage : m_images.m_dataImage;
        if (WriteFileAtomically(path, FormatBinaryImage(image), error)) {
            return true;
        }
    }
    m_host.AddMessage(kHexSaveErrorLine);
    return false;
}
