#include "image/IntelHex.h"

#include <cstring>

const char* const kHexChecksumErrorLine = " File Checksum Error.\r\n";
const char* const kHexProgAddressErrorLine = " File Prog Address Error.\r\n";
const char* const kHexDataAddressErrorLine = " File Data Address Error.\r\n";
const char* const kHexSaveErrorLine = " File Save Error.\r\n";
const char* const kHexOpenedPrefix = "File ";
const char* const kHexOpenedSuffix = " Opened\r\n";
const char* const kHexSaveProgPrefix = "Save Prog File ";
const char* const kHexSaveDataPrefix = "Save Data File ";

namespace {

constexpr uint8_t kErasedByte = 0xFF;

// A line reader with a 255-byte buffer hands out at most 254 characters at a
// time, the line feed included; the rest of a longer line is the next piece.
constexpr size_t kMaxPieceLength = 254;

constexpr char kRecordMark = ':';
constexpr unsigned long kTypeData = 0x00;
constexpr unsigned long kTypeSegment = 0x02;       // extended segment address
constexpr unsigned long kTypeStartSegment = 0x03;  // start segment address
constexpr unsigned long kTypeLinear = 0x04;        // extended linear address
constexpr unsigned long kTypeStartLinear = 0x05;   // start linear address

// Field positions and widths of a record.
constexpr size_t kCountPos = 1;
constexpr size_t kCountWidth = 2;
constexpr size_t kAddressPos = 3;
constexpr size_t kAddressWidth = 4;
constexpr size_t kTypePos = 7;
constexpr size_t kTypeWidth = 2;
constexpr size_t kDataPos = 9;
constexpr size_t kByteWidth = 2;
constexpr size_t kSegmentPos = 9;
constexpr size_t kSegmentWidth = 4;
constexpr size_t kSegmentChecksumPos = 13;
// The segment record's own byte count, always part of its checksum.
constexpr unsigned kSegmentDataLength = 2;

// Word lines: "wwwwww:hhll".
constexpr size_t kWordMarkPos = 6;
constexpr size_t kWordMinLength = 7;
constexpr size_t kWordAddressPos = 0;
constexpr size_t kWordAddressWidth = 6;
constexpr size_t kWordHighPos = 7;
constexpr size_t kWordLowPos = 9;

constexpr unsigned long kByteMask = 0xFF;
constexpr unsigned long kWordMask = 0xFFFF;
constexpr unsigned kSegmentShift = 4;  // the segment base counts in 16-byte paragraphs
constexpr unsigned kLinearShift = 16;  // the linear base gives the upper 16 address bits

bool IsCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Converts text[0..length) as the C library's unsigned base-16 conversion
// would in the "C" locale: blanks, an optional sign, an optional 0x, digits
// up to the first non-digit; no digits gives 0. Independent of the process
// locale, which Qt sets from the environment.
unsigned long ConvertHex(const char* text, size_t length) {
    size_t i = 0;
    while (i < length && IsCSpace(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < length && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i + 2 < length && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
        HexDigitValue(text[i + 2]) >= 0) {
        i += 2;
    }
    unsigned long value = 0;
    for (; i < length; ++i) {
        const int digit = HexDigitValue(text[i]);
        if (digit < 0) {
            break;
        }
        value = value * 16 + static_cast<unsigned long>(digit);
    }
    return negative ? 0UL - value : value;
}

// One piece of the file as the line reader gives it. Its text, like a C
// string, ends at the first NUL byte.
class CLine {
public:
    CLine(const char* text, size_t length) : m_text(text), m_length(length) {}

    size_t Length() const { return m_length; }
    char At(size_t pos) const { return m_text[pos]; }

    // The field at pos, width characters cut short where the line ends.
    unsigned long Field(size_t pos, size_t width) const {
        if (pos >= m_length) {
            return 0;
        }
        const size_t available = m_length - pos;
        return ConvertHex(m_text + pos, width < available ? width : available);
    }

private:
    const char* m_text;
    size_t m_length;
};

class CHexReader {
public:
    CHexReader(HexReadMode mode, std::vector<uint8_t>& image)
        : m_mode(mode), m_image(image), m_size(image.size()) {}

    enum class Step { Continue, End, ChecksumError, AddressError };

    Step ReadLine(const CLine& line) {
        if (line.Length() > 0 && line.At(0) == kRecordMark) {
            return ReadRecord(line);
        }
        if (m_mode == HexReadMode::Program && line.Length() >= kWordMinLength &&
            line.At(kWordMarkPos) == kRecordMark) {
            return ReadWordLine(line);
        }
        return Step::Continue;
    }

private:
    Step ReadRecord(const CLine& line) {
        const unsigned count = line.Field(kCountPos, kCountWidth) & kByteMask;
        unsigned address = line.Field(kAddressPos, kAddressWidth) & kWordMask;
        const unsigned long type = line.Field(kTypePos, kTypeWidth);
        if (type == kTypeData) {
            unsigned sum = (address >> 8) + (address & kByteMask) + count;
            for (unsigned i = 0; i < count; ++i) {
                const size_t index = m_base + address;
                if (index >= m_size) {
                    return Step::AddressError;
                }
                const unsigned value =
                    line.Field(kDataPos + kByteWidth * i, kByteWidth) & kByteMask;
                m_image[index] = static_cast<uint8_t>(value);
                sum += value;
                address = (address + 1) & kWordMask;
            }
            const unsigned checksum =
                line.Field(kDataPos + kByteWidth * count, kByteWidth) & kByteMask;
            return ((sum + checksum) & kByteMask) == 0 ? Step::Continue : Step::ChecksumError;
        }
        if (type == kTypeSegment || type == kTypeLinear) {
            // The record's own byte count always counts in its checksum; the
            // segment record's type equals its data length.
            const unsigned value = line.Field(kSegmentPos, kSegmentWidth) & kWordMask;
            const unsigned sum =
                (address >> 8) + (address & kByteMask) + (value >> 8) + (value & kByteMask) +
                count + (type == kTypeSegment ? kSegmentDataLength : static_cast<unsigned>(type));
            const unsigned checksum = line.Field(kSegmentChecksumPos, kByteWidth) & kByteMask;
            if (((sum + checksum) & kByteMask) != 0) {
                return Step::ChecksumError;
            }
            // Files above 64 KB carry one or the other, as their toolchain
            // writes them; each gives the base of the data records after it.
            m_base = type == kTypeSegment ? static_cast<size_t>(value) << kSegmentShift
                                          : static_cast<size_t>(value) << kLinearShift;
            return Step::Continue;
        }
        if (type == kTypeStartSegment || type == kTypeStartLinear) {
            // Where a program starts means nothing to a memory image.
            unsigned sum =
                (address >> 8) + (address & kByteMask) + count + static_cast<unsigned>(type);
            for (unsigned i = 0; i <= count; ++i) {
                sum += line.Field(kDataPos + kByteWidth * i, kByteWidth) & kByteMask;
            }
            return (sum & kByteMask) == 0 ? Step::Continue : Step::ChecksumError;
        }
        return Step::End;
    }

    Step ReadWordLine(const CLine& line) {
        const size_t word = line.Field(kWordAddressPos, kWordAddressWidth) & kWordMask;
        const size_t low = 2 * word;
        // Both bytes must lie inside the image, also for an odd image size.
        if (low + 1 >= m_size) {
            return Step::AddressError;
        }
        m_image[low + 1] = static_cast<uint8_t>(line.Field(kWordHighPos, kByteWidth) & kByteMask);
        m_image[low] = static_cast<uint8_t>(line.Field(kWordLowPos, kByteWidth) & kByteMask);
        return Step::Continue;
    }

    HexReadMode m_mode;
    std::vector<uint8_t>& m_image;
    size_t m_size;
    size_t m_base = 0;  // from the last segment or linear address record
};

constexpr char kUpperDigits[] = "0123456789ABCDEF";
constexpr size_t kRecordDataLength = 16;
constexpr size_t kSegmentSpan = 0x10000;
constexpr size_t kMaxSegmentValue = 0xFFFF;
const char kLineEnd[] = "\r\n";

void AppendHexByte(std::string& out, unsigned value) {
    out.push_back(kUpperDigits[(value >> 4) & 0xF]);
    out.push_back(kUpperDigits[value & 0xF]);
}

// One record: count, 16-bit address, type, data, checksum, CRLF.
void AppendRecord(std::string& out, unsigned type, unsigned address, const uint8_t* data,
                  size_t count) {
    unsigned sum = static_cast<unsigned>(count) + (address >> 8) + (address & kByteMask) + type;
    out.push_back(kRecordMark);
    AppendHexByte(out, static_cast<unsigned>(count));
    AppendHexByte(out, address >> 8);
    AppendHexByte(out, address & kByteMask);
    AppendHexByte(out, type);
    for (size_t i = 0; i < count; ++i) {
        AppendHexByte(out, data[i]);
        sum += data[i];
    }
    AppendHexByte(out, (0x100 - (sum & kByteMask)) & kByteMask);
    out += kLineEnd;
}

}  // namespace

HexReadStatus ReadHexImage(const std::string& fileText, HexReadMode mode, int imageSize,
                           std::vector<uint8_t>& image) {
    image.assign(imageSize > 0 ? static_cast<size_t>(imageSize) : 0, kErasedByte);
    CHexReader reader(mode, image);
    const char* const text = fileText.data();
    const size_t total = fileText.size();
    size_t start = 0;
    while (start < total) {
        // The piece the line reader would give: up to and including the line
        // feed, at most kMaxPieceLength characters.
        size_t end = start;
        while (end < total && end - start < kMaxPieceLength) {
            if (text[end++] == '\n') {
                break;
            }
        }
        const char* const piece = text + start;
        const void* const nul = std::memchr(piece, '\0', end - start);
        const size_t length = nul != nullptr
                                  ? static_cast<size_t>(static_cast<const char*>(nul) - piece)
                                  : end - start;
        start = end;
        switch (reader.ReadLine(CLine(piece, length))) {
            case CHexReader::Step::Continue:
                break;
            case CHexReader::Step::End:
                return HexReadStatus::Ok;
            case CHexReader::Step::ChecksumError:
                return HexReadStatus::ChecksumError;
            case CHexReader::Step::AddressError:
                return HexReadStatus::AddressError;
        }
    }
    return HexReadStatus::Ok;
}

std::string FormatHexImage(const std::vector<uint8_t>& image) {
    std::string out;
    const size_t size = image.size();
    // ":10AAAA00" + 32 digits + checksum + CRLF per 16 bytes.
    constexpr size_t kRecordTextLength = 1 + 8 + 2 * kRecordDataLength + 2 + 2;
    out.reserve((size / kRecordDataLength + 1) * kRecordTextLength);
    for (size_t a = 0; a < size; a += kRecordDataLength) {
        if (a % kSegmentSpan == 0 && a > 0) {
            // Bytes past 64 KB are reached through an extended segment
            // address record; the records after it count from its base.
            const unsigned segment = static_cast<unsigned>((a >> kSegmentShift) & kMaxSegmentValue);
            const uint8_t value[kSegmentDataLength] = {static_cast<uint8_t>(segment >> 8),
                                                       static_cast<uint8_t>(segment & kByteMask)};
            AppendRecord(out, kTypeSegment, 0, value, kSegmentDataLength);
        }
        const size_t count = size - a < kRecordDataLength ? size - a : kRecordDataLength;
        AppendRecord(out, kTypeData, static_cast<unsigned>(a % kSegmentSpan), &image[a], count);
    }
    return out;
}
