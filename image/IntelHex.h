// Intel HEX reading and writing of memory images, free of widgets and of the
// file system: text in, image and result out, and back. The files themselves
// are read and written by image/FileAccess.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class HexReadStatus {
    Ok,             // read to the end, or to a record that ends the reading
    ChecksumError,  // " File Checksum Error.\r\n"
    AddressError,   // the reader's address error line
};

enum class HexReadMode {
    Program,  // Intel HEX records and word lines ("000000:940c")
    Data,     // Intel HEX records only
};

// Reads the text of a whole file into image: the image is remade with
// imageSize bytes of 0xFF first, then the records are stored in file order.
// Lines are taken in pieces of at most 254 characters, as a line reader with
// a 255-byte buffer would give them; a NUL byte ends a line's text. Nothing
// outside the image is ever written, whatever the text holds; a word line is
// stored only when both of its bytes lie inside the image.
HexReadStatus ReadHexImage(const std::string& fileText, HexReadMode mode, int imageSize,
                           std::vector<uint8_t>& image);

// The message lines of the readers and writers.
extern const char* const kHexChecksumErrorLine;  // " File Checksum Error.\r\n"
extern const char* const kHexProgAddressErrorLine;
extern const char* const kHexDataAddressErrorLine;
// "File <name> Opened\r\n" after a file was opened for reading, and
// "Save Prog File <name>\r\n" / "Save Data File <name>\r\n" before a save.
extern const char* const kHexOpenedPrefix;
extern const char* const kHexOpenedSuffix;
extern const char* const kHexSaveProgPrefix;
extern const char* const kHexSaveDataPrefix;
extern const char* const kHexSaveErrorLine;  // " File Save Error.\r\n"

// The whole file text for an image: one ":10AAAA00" record of sixteen bytes
// per 16 image bytes, CRLF line ends, no end-of-file record. Above 64 KB an
// extended segment address record ":020000021000EC" comes before the first
// record at 0x10000, and the records from there on carry addresses relative
// to that segment (the same for every further 64 KB, up to the 1 MB that
// segment records reach). An image whose size is not a multiple of 16 ends
// with a shorter record.
std::string FormatHexImage(const std::vector<uint8_t>& image);
