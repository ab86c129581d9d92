// The state file of a simulated chip; the format is described in SimTarget.h.
#include <cstdio>
#include <fstream>
#include <sstream>

#include "sim/SimTarget.h"

namespace {

constexpr const char* kHeaderV1 = "brenwick-sim-state 1";
constexpr const char* kHeader = "brenwick-sim-state 2";
constexpr const char* kFlashKey = "flash";
constexpr const char* kEepromKey = "eeprom";
constexpr const char* kLockKey = "lock";
constexpr const char* kFusesKey = "fuses";
constexpr const char* kEndLine = "end";
constexpr char kComment = '#';
constexpr const char* kTempSuffix = ".tmp";

constexpr size_t kBytesPerLine = 32;
constexpr int kHexDigitsPerByte = 2;
constexpr int kNibbleBits = 4;
constexpr int kDecimalBase = 10;
constexpr size_t kMaxNumberDigits = 9;
// Far more than the largest chip needs; a bigger file is not ours.
constexpr std::streamoff kMaxFileBytes = 4 * 1024 * 1024;

const char kHexDigits[] = "0123456789abcdef";

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + kDecimalBase;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + kDecimalBase;
    }
    return -1;
}

// A decimal number of digits only; false for anything else.
bool ParseDecimal(const std::string& text, size_t& value) {
    if (text.empty() || text.size() > kMaxNumberDigits) {
        return false;
    }
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * kDecimalBase + static_cast<size_t>(c - '0');
    }
    return true;
}

// The file's lines without comments, blank lines and carriage returns, each
// with its line number for messages.
class CLineReader {
public:
    explicit CLineReader(const std::string& text) : m_stream(text) {}

    bool Next(std::string& line) {
        while (std::getline(m_stream, line)) {
            ++m_number;
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            if (!line.empty() && line[0] != kComment) {
                return true;
            }
        }
        return false;
    }
    int Number() const { return m_number; }

private:
    std::istringstream m_stream;
    int m_number = 0;
};

class CStateParser {
public:
    CStateParser(const std::string& text, std::string& error) : m_lines(text), m_error(error) {}

    // The header line: true with the version for a file of ours.
    bool Header(int& version) {
        std::string line;
        if (!m_lines.Next(line)) {
            return Fail(std::string("missing \"") + kHeader + "\"");
        }
        if (line == kHeader) {
            version = 2;
            return true;
        }
        if (line == kHeaderV1) {
            version = 1;
            return true;
        }
        return Fail(std::string("expected \"") + kHeader + "\"");
    }

    bool Expect(const std::string& wanted) {
        std::string line;
        if (!m_lines.Next(line)) {
            return Fail("missing \"" + wanted + "\"");
        }
        return line == wanted || Fail("expected \"" + wanted + "\"");
    }

    // "<key> <size>" followed by exactly size bytes of hex lines.
    bool Memory(const char* key, std::vector<uint8_t>& bytes, size_t expectedSize) {
        std::string line;
        const std::string prefix = std::string(key) + " ";
        if (!m_lines.Next(line) || line.compare(0, prefix.size(), prefix) != 0) {
            return Fail(std::string("expected \"") + key + " <size>\"");
        }
        size_t size = 0;
        if (!ParseDecimal(line.substr(prefix.size()), size)) {
            return Fail(std::string("bad ") + key + " size");
        }
        if (size != expectedSize) {
            return Fail(std::string(key) + " size " + std::to_string(size) +
                        " does not match the chip's " + std::to_string(expectedSize));
        }
        bytes.clear();
        bytes.reserve(size);
        while (bytes.size() < size) {
            if (!m_lines.Next(line)) {
                return Fail(std::string(key) + " data ends early");
            }
            if (line.size() % kHexDigitsPerByte != 0 ||
                line.size() > kBytesPerLine * kHexDigitsPerByte ||
                line.size() / kHexDigitsPerByte > size - bytes.size()) {
                return Fail(std::string("bad ") + key + " data line");
            }
            for (size_t i = 0; i < line.size(); i += kHexDigitsPerByte) {
                const int high = HexValue(line[i]);
                const int low = HexValue(line[i + 1]);
                if (high < 0 || low < 0) {
                    return Fail(std::string("bad hex digit in ") + key + " data");
                }
                bytes.push_back(static_cast<uint8_t>(high << kNibbleBits | low));
            }
        }
        return true;
    }

    // "lock <Lock Bit1> <Lock Bit2> <FSTRT>", each 0 or 1.
    bool Lock(int& lockBit1, int& lockBit2, int& fstrt) {
        std::string line;
        if (!m_lines.Next(line)) {
            return Fail("missing \"lock\"");
        }
        std::istringstream fields(line);
        std::string key, a, b, c, extra;
        fields >> key >> a >> b >> c;
        if (key != kLockKey || !Bit(a, lockBit1) || !Bit(b, lockBit2) || !Bit(c, fstrt) ||
            (fields >> extra)) {
            return Fail("expected \"lock <0|1> <0|1> <0|1>\"");
        }
        return true;
    }

    // "lock <two hex digits>".
    bool LockByte(uint8_t& bits) {
        std::string line;
        if (!m_lines.Next(line)) {
            return Fail("missing \"lock\"");
        }
        std::istringstream fields(line);
        std::string key, value, extra;
        fields >> key >> value;
        if (key != kLockKey || !HexByte(value, bits) || (fields >> extra)) {
            return Fail("expected \"lock <two hex digits>\"");
        }
        return true;
    }

    // "fuses" and exactly count bytes of two hex digits each.
    bool Fuses(std::vector<uint8_t>& fuses, size_t count) {
        std::string line;
        if (!m_lines.Next(line)) {
            return Fail("missing \"fuses\"");
        }
        std::istringstream fields(line);
        std::string key, value;
        fields >> key;
        if (key != kFusesKey) {
            return Fail("expected \"fuses\"");
        }
        fuses.clear();
        while (fields >> value) {
            uint8_t byte = 0;
            if (!HexByte(value, byte) || fuses.size() == count) {
                return Fail("expected " + std::to_string(count) + " fuse bytes of two hex digits");
            }
            fuses.push_back(byte);
        }
        if (fuses.size() != count) {
            return Fail("expected " + std::to_string(count) + " fuse bytes of two hex digits");
        }
        return true;
    }

    bool AtEnd() {
        std::string line;
        return !m_lines.Next(line) || Fail("text after \"end\"");
    }

private:
    static bool HexByte(const std::string& text, uint8_t& value) {
        if (text.size() != static_cast<size_t>(kHexDigitsPerByte)) {
            return false;
        }
        const int high = HexValue(text[0]);
        const int low = HexValue(text[1]);
        if (high < 0 || low < 0) {
            return false;
        }
        value = static_cast<uint8_t>(high << kNibbleBits | low);
        return true;
    }

    static bool Bit(const std::string& text, int& value) {
        if (text == "0" || text == "1") {
            value = text[0] - '0';
            return true;
        }
        return false;
    }

    bool Fail(const std::string& what) {
        m_error = "line " + std::to_string(m_lines.Number()) + ": " + what;
        return false;
    }

    CLineReader m_lines;
    std::string& m_error;
};

void WriteHexByte(std::ostream& out, uint8_t byte) {
    out << kHexDigits[byte >> kNibbleBits] << kHexDigits[byte & 0x0F];
}

void WriteMemory(std::ostream& out, const char* key, const std::vector<uint8_t>& bytes) {
    out << key << ' ' << bytes.size() << '\n';
    for (size_t i = 0; i < bytes.size(); ++i) {
        WriteHexByte(out, bytes[i]);
        if ((i + 1) % kBytesPerLine == 0 || i + 1 == bytes.size()) {
            out << '\n';
        }
    }
}

}  // namespace

bool CSimPort::SaveState(const std::string& path, std::string& error) const {
    // Written beside the file and renamed over it, so a failed save never
    // leaves half a state behind.
    const std::string temp = path + kTempSuffix;
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) {
            error = "cannot write " + temp;
            return false;
        }
        out << kHeader << '\n';
        WriteMemory(out, kFlashKey, Flash());
        WriteMemory(out, kEepromKey, Eeprom());
        out << kLockKey << ' ';
        WriteHexByte(out, LockBits());
        out << '\n' << kFusesKey;
        for (uint8_t fuse : Fuses()) {
            out << ' ';
            WriteHexByte(out, fuse);
        }
        out << '\n' << kEndLine << '\n';
        out.flush();
        if (!out) {
            error = "cannot write " + temp;
            std::remove(temp.c_str());
            return false;
        }
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        error = "cannot replace " + path;
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

bool CSimPort::LoadState(const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    in.seekg(0, std::ios::end);
    const std::streamoff length = in.tellg();
    if (length < 0 || length > kMaxFileBytes) {
        error = path + " is not a simulator state file";
        return false;
    }
    in.seekg(0, std::ios::beg);
    std::string text(static_cast<size_t>(length), '\0');
    if (!in.read(&text[0], length)) {
        error = "cannot read " + path;
        return false;
    }

    std::vector<uint8_t> flash;
    std::vector<uint8_t> eeprom;
    int version = 0;
    int lockBit1 = 1, lockBit2 = 1, fstrt = 1;
    uint8_t lockBits = 0xFF;
    std::vector<uint8_t> fuses;
    std::string why;
    CStateParser parser(text, why);
    if (!parser.Header(version) || !parser.Memory(kFlashKey, flash, Flash().size()) ||
        !parser.Memory(kEepromKey, eeprom, Eeprom().size())) {
        error = path + ": " + why;
        return false;
    }
    const bool lockAndFuses =
        version == 1 ? parser.Lock(lockBit1, lockBit2, fstrt)
                     : parser.LockByte(lockBits) && parser.Fuses(fuses, Fuses().size());
    if (!lockAndFuses || !parser.Expect(kEndLine) || !parser.AtEnd()) {
        error = path + ": " + why;
        return false;
    }
    // Only a file read to its end changes the chip.
    Flash().swap(flash);
    Eeprom().swap(eeprom);
    if (version == 1) {
        // Version 1 knew FSTRT only; on a part with RCEN in that place the
        // value is no fact about the chip, and the fuses keep their defaults.
        fuses = Fuses();
        SetLockBits(lockBit1, lockBit2, fstrt);
        if (Config().rules.rcenBit < 0) {
            fuses = Fuses();
        }
    } else {
        SetLockBitsByte(lockBits);
    }
    // The chip as it powers up with what the file says.
    SetFuses(fuses);
    PowerCycle();
    return true;
}
