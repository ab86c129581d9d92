// Serial numbers of a production run: how a number is laid out in the chip's
// memory, and the one place where numbers are handed out. A number is
// reserved on disk before it is given (the next value written to a new file,
// synced, renamed over the next-file, the folder synced), so that no crash,
// pulled cable or kill can give it twice; a lock file beside the next-file
// keeps a second process away while this one holds it.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

enum class SerialEncoding {
    Binary,    // the number in size bytes
    Bcd,       // two decimal digits a byte
    AsciiDec,  // decimal digits as characters, zero-padded to width
    AsciiHex,  // upper-case hex digits as characters, zero-padded to width
};

constexpr int kMinSerialSize = 1;
constexpr int kMaxSerialSize = 8;
// The widest text: the decimal digits of the largest 64-bit number.
constexpr int kMaxSerialWidth = 20;

struct SerialFormat {
    SerialEncoding encoding = SerialEncoding::Binary;
    int size = 4;            // bytes, for binary and bcd
    bool bigEndian = false;  // binary and bcd: most significant byte first
    int width = 0;           // characters of the text formats; 0: size
    // The bytes the number takes in memory.
    int Length() const;
};

// "binary", "bcd", "ascii-dec", "ascii-hex"; false for any other name.
bool ParseSerialEncoding(const std::string& name, SerialEncoding& encoding);
// The number's bytes as they go into memory, lowest address first; false
// when the number does not fit the format.
bool EncodeSerial(uint64_t value, const SerialFormat& format, std::vector<uint8_t>& bytes);
// The largest number the format holds.
uint64_t LargestSerial(const SerialFormat& format);

// The next-file and its lock. One object per run, shared by its workers.
class CSerialCounter {
public:
    CSerialCounter() = default;
    ~CSerialCounter();
    CSerialCounter(const CSerialCounter&) = delete;
    CSerialCounter& operator=(const CSerialCounter&) = delete;

    // Takes the lock file (<path>.lock) and reads the next value from path,
    // or starts at first when the file does not exist yet. false with the
    // reason when another process holds the lock or the file is not a number.
    bool Open(const std::string& path, uint64_t first, uint64_t step, std::string& error);
    // Hands out the next value once the one after it is safely on disk.
    bool Reserve(uint64_t& value, std::string& error);
    // The value the next Reserve gives.
    uint64_t Next() const;
    void Close();

private:
    bool Store(uint64_t next, std::string& error);

    mutable std::mutex m_mutex;
    std::string m_path;
    uint64_t m_next = 0;
    uint64_t m_step = 1;
    int m_lockFd = -1;
};
