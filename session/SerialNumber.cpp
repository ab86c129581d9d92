#include "session/SerialNumber.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>

#include "image/FileAccess.h"

namespace {

constexpr int kBitsPerByte = 8;
constexpr uint64_t kByteMask = 0xFF;
constexpr uint64_t kDecimalBase = 10;
constexpr uint64_t kHexBase = 16;
constexpr uint64_t kBcdDigitsPerByte = 100;
constexpr int kBcdShift = 4;
constexpr const char* kHexDigits = "0123456789ABCDEF";
constexpr const char* kLockSuffix = ".lock";
constexpr const char* kTempSuffix = ".new";
constexpr mode_t kFileMode = 0644;

struct EncodingName {
    const char* name;
    SerialEncoding encoding;
};
constexpr EncodingName kEncodingNames[] = {
    {"binary", SerialEncoding::Binary},
    {"bcd", SerialEncoding::Bcd},
    {"ascii-dec", SerialEncoding::AsciiDec},
    {"ascii-hex", SerialEncoding::AsciiHex},
};

bool IsText(SerialEncoding encoding) {
    return encoding == SerialEncoding::AsciiDec || encoding == SerialEncoding::AsciiHex;
}

std::string SystemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

// Whole write, then the data on the disk.
bool WriteSynced(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return ::fsync(fd) == 0;
}

}  // namespace

int SerialFormat::Length() const {
    return IsText(encoding) ? (width > 0 ? width : size) : size;
}

bool ParseSerialEncoding(const std::string& name, SerialEncoding& encoding) {
    for (const EncodingName& entry : kEncodingNames) {
        if (name == entry.name) {
            encoding = entry.encoding;
            return true;
        }
    }
    return false;
}

uint64_t LargestSerial(const SerialFormat& format) {
    const int length = format.Length();
    uint64_t base = kHexBase;
    int digits = length;
    switch (format.encoding) {
        case SerialEncoding::Binary:
            return length >= kMaxSerialSize ? std::numeric_limits<uint64_t>::max()
                                            : (uint64_t{1} << (kBitsPerByte * length)) - 1;
        case SerialEncoding::Bcd:
            base = kDecimalBase;
            digits = 2 * length;
            break;
        case SerialEncoding::AsciiDec:
            base = kDecimalBase;
            break;
        case SerialEncoding::AsciiHex:
            break;
    }
    uint64_t largest = 0;
    for (int i = 0; i < digits; ++i) {
        if (largest > (std::numeric_limits<uint64_t>::max() - (base - 1)) / base) {
            return std::numeric_limits<uint64_t>::max();
        }
        largest = largest * base + (base - 1);
    }
    return largest;
}

bool EncodeSerial(uint64_t value, const SerialFormat& format, std::vector<uint8_t>& bytes) {
    const int length = format.Length();
    if (length < 1 || value > LargestSerial(format)) {
        return false;
    }
    // Least significant unit first; reversed below where memory wants the
    // most significant first.
    std::vector<uint8_t> units;
    uint64_t rest = value;
    for (int i = 0; i < length; ++i) {
        switch (format.encoding) {
            case SerialEncoding::Binary:
                units.push_back(static_cast<uint8_t>(rest & kByteMask));
                rest >>= kBitsPerByte;
                break;
            case SerialEncoding::Bcd: {
                const uint64_t pair = rest % kBcdDigitsPerByte;
                units.push_back(
                    static_cast<uint8_t>((pair / kDecimalBase) << kBcdShift | pair % kDecimalBase));
                rest /= kBcdDigitsPerByte;
                break;
            }
            case SerialEncoding::AsciiDec:
                units.push_back(static_cast<uint8_t>('0' + rest % kDecimalBase));
                rest /= kDecimalBase;
                break;
            case SerialEncoding::AsciiHex:
                units.push_back(static_cast<uint8_t>(kHexDigits[rest % kHexBase]));
                rest /= kHexBase;
                break;
        }
    }
    // Text reads left to right, whatever the byte order of numbers.
    const bool mostFirst = IsText(format.encoding) || format.bigEndian;
    if (mostFirst) {
        bytes.assign(units.rbegin(), units.rend());
    } else {
        bytes = units;
    }
    return true;
}

CSerialCounter::~CSerialCounter() {
    Close();
}

void CSerialCounter::Close() {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_lockFd >= 0) {
        ::close(m_lockFd);  // releases the lock
        m_lockFd = -1;
    }
}

bool CSerialCounter::Open(const std::string& path, uint64_t first, uint64_t step,
                          std::string& error) {
    std::lock_guard<std::mutex> guard(m_mutex);
    const std::string lockPath = path + kLockSuffix;
    const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, kFileMode);
    if (fd < 0) {
        error = SystemError("cannot open " + lockPath);
        return false;
    }
    // The lock goes with the process: a killed run does not leave it held.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = path + " is in use by another run (" + lockPath + " is locked)";
        ::close(fd);
        return false;
    }
    std::string text;
    std::string why;
    uint64_t next = first;
    if (ReadWholeFile(path, text, why)) {
        size_t digits = 0;
        next = 0;
        bool ok = true;
        for (char c : text) {
            if (c >= '0' && c <= '9' && ok) {
                const uint64_t digit = static_cast<uint64_t>(c - '0');
                ok = next <= (std::numeric_limits<uint64_t>::max() - digit) / kDecimalBase;
                next = next * kDecimalBase + digit;
                ++digits;
            } else if (c != '\n' && c != '\r') {
                ok = false;
            }
        }
        if (!ok || digits == 0) {
            error = path + " does not hold a serial number";
            ::close(fd);
            return false;
        }
    } else if (::access(path.c_str(), F_OK) == 0) {
        error = "cannot read " + path + ": " + why;
        ::close(fd);
        return false;
    }
    m_lockFd = fd;
    m_path = path;
    m_next = next;
    m_step = step;
    return true;
}

uint64_t CSerialCounter::Next() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_next;
}

bool CSerialCounter::Reserve(uint64_t& value, std::string& error) {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_lockFd < 0) {
        error = "no serial number file is open";
        return false;
    }
    if (m_next > std::numeric_limits<uint64_t>::max() - m_step) {
        error = "the serial numbers are used up";
        return false;
    }
    const uint64_t after = m_next + m_step;
    if (!Store(after, error)) {
        return false;
    }
    value = m_next;
    m_next = after;
    return true;
}

bool CSerialCounter::Store(uint64_t next, std::string& error) {
    const std::string temp = m_path + kTempSuffix;
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, kFileMode);
    if (fd < 0) {
        error = SystemError("cannot write " + temp);
        return false;
    }
    const bool written = WriteSynced(fd, std::to_string(next) + "\n");
    const bool closed = ::close(fd) == 0;
    if (!written || !closed) {
        error = SystemError("cannot write " + temp);
        return false;
    }
    if (::rename(temp.c_str(), m_path.c_str()) != 0) {
        error = SystemError("cannot replace " + m_path);
        return false;
    }
    // The rename itself is only safe once the folder is on the disk.
    const int folder = ::open(FolderOf(m_path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0 || ::fsync(folder) != 0) {
        error = SystemError("cannot sync the folder of " + m_path);
        if (folder >= 0) {
            ::close(folder);
        }
        return false;
    }
    ::close(folder);
    return true;
}
