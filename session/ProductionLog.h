// The log of a production run: one CSV line per chip, appended and synced to
// the disk before the next chip, never truncated. A chip that failed after
// it was given a serial number keeps it here: that number is spoiled.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

enum class ChipResult { Pass, Fail, Refused };

constexpr int kNoCalibration = -1;

struct ChipRecord {
    std::string time;  // local time, ISO 8601
    std::string port;
    std::string part;
    std::string signature;  // "1E 95 0F"; empty when none was read
    std::string serial;     // empty when no number was given
    int calibration = kNoCalibration;
    uint32_t flashCrc = 0;  // CRC-32 of the images written (whole memories)
    uint32_t eepromCrc = 0;
    ChipResult result = ChipResult::Fail;
    std::string failure;  // the first failure line, or why it was refused
};

// The log's first line.
extern const char* const kProductionLogHeader;

// CRC-32 (the common reflected polynomial 0xEDB88320) of bytes.
uint32_t Crc32(const std::vector<uint8_t>& bytes);
// "pass", "fail" or "refused".
const char* ChipResultName(ChipResult result);
// The record as one CSV line, with its line end.
std::string ChipRecordLine(const ChipRecord& record);
// The time now as the log writes it.
std::string LogTimeNow();

class CProductionLog {
public:
    CProductionLog() = default;
    ~CProductionLog();
    CProductionLog(const CProductionLog&) = delete;
    CProductionLog& operator=(const CProductionLog&) = delete;

    // Opens path for appending (creating it with the header line); a file
    // cut off mid-line by a crash gets its line ended first.
    bool Open(const std::string& path, std::string& error);
    // Appends the record and syncs it; safe from several workers at once.
    bool Append(const ChipRecord& record, std::string& error);
    const std::string& Path() const { return m_path; }

private:
    bool WriteAll(const std::string& text, std::string& error);

    std::mutex m_mutex;
    std::string m_path;
    int m_fd = -1;
};
