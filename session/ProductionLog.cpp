#include "session/ProductionLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

const char* const kProductionLogHeader =
    "time,port,part,signature,serial,calibration,flash_crc32,eeprom_crc32,result,failure\n";

namespace {

constexpr uint32_t kCrcPolynomial = 0xEDB88320U;
constexpr uint32_t kCrcInitial = 0xFFFFFFFFU;
constexpr int kBitsPerByte = 8;
constexpr mode_t kFileMode = 0644;
constexpr size_t kTimeTextLength = 32;
constexpr size_t kNumberTextLength = 16;

// A field with a comma, quote or line end goes in quotes, quotes doubled.
std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '\r' || c == '\n') {
            continue;
        }
        quoted += c == '"' ? "\"\"" : std::string(1, c);
    }
    return quoted + "\"";
}

std::string Hex(uint32_t value, int digits) {
    char text[kNumberTextLength];
    std::snprintf(text, sizeof text, "%0*X", digits, value);
    return text;
}

}  // namespace

uint32_t Crc32(const std::vector<uint8_t>& bytes) {
    uint32_t crc = kCrcInitial;
    for (uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < kBitsPerByte; ++bit) {
            crc = (crc & 1U) != 0 ? (crc >> 1) ^ kCrcPolynomial : crc >> 1;
        }
    }
    return crc ^ kCrcInitial;
}

const char* ChipResultName(ChipResult result) {
    switch (result) {
        case ChipResult::Pass:
            return "pass";
        case ChipResult::Fail:
            return "fail";
        case ChipResult::Refused:
            return "refused";
    }
    return "fail";
}

std::string ChipRecordLine(const ChipRecord& record) {
    constexpr int kCrcDigits = 8;
    constexpr int kByteDigits = 2;
    const std::string calibration =
        record.calibration == kNoCalibration
            ? std::string()
            : "0x" + Hex(static_cast<uint32_t>(record.calibration), kByteDigits);
    const bool written = record.result != ChipResult::Refused;
    return CsvField(record.time) + "," + CsvField(record.port) + "," + CsvField(record.part) + "," +
           CsvField(record.signature) + "," + CsvField(record.serial) + "," + calibration + "," +
           (written ? Hex(record.flashCrc, kCrcDigits) : std::string()) + "," +
           (written ? Hex(record.eepromCrc, kCrcDigits) : std::string()) + "," +
           ChipResultName(record.result) + "," + CsvField(record.failure) + "\n";
}

std::string LogTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[kTimeTextLength];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

CProductionLog::~CProductionLog() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

bool CProductionLog::Open(const std::string& path, std::string& error) {
    std::lock_guard<std::mutex> guard(m_mutex);
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, kFileMode);
    if (fd < 0) {
        error = "cannot open the log " + path + ": " + std::strerror(errno);
        return false;
    }
    m_fd = fd;
    m_path = path;
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        error = "cannot open the log " + path + ": " + std::strerror(errno);
        return false;
    }
    if (info.st_size == 0) {
        return WriteAll(kProductionLogHeader, error);
    }
    // A line cut short by a crash is ended, so the next record starts clean.
    const int reader = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    char last = '\n';
    if (reader >= 0) {
        if (::pread(reader, &last, 1, info.st_size - 1) != 1) {
            last = '\n';
        }
        ::close(reader);
    }
    return last == '\n' || WriteAll("\n", error);
}

bool CProductionLog::Append(const ChipRecord& record, std::string& error) {
    std::lock_guard<std::mutex> guard(m_mutex);
    return WriteAll(ChipRecordLine(record), error);
}

bool CProductionLog::WriteAll(const std::string& text, std::string& error) {
    if (m_fd < 0) {
        error = "the log is not open";
        return false;
    }
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(m_fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error = "cannot write the log " + m_path + ": " + std::strerror(errno);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    if (::fsync(m_fd) != 0) {
        error = "cannot sync the log " + m_path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}
