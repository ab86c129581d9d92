// CIspAdapter drives the passive in-system-programming adapter: RESET on the
// break condition of TXD, SCK on RTS, MOSI on DTR, MISO on CTS, a reset echo
// on RI and a loop from RTS to DSR. It owns the open port and the selected
// device's values; the memory images belong to the caller, which hands a
// page or a byte over per call. It writes no messages: every
// operation reports by its integer result and the caller words it. Its
// memory-level calls are the programmer interface the operations use; the
// instruction-level ones (Transfer, PulseReset) are its own.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/PerformanceCounter.h"
#include "isp/SerialLines.h"
#include "ops/Programmer.h"
#include "parts/DeviceTable.h"
#include "ports/IspLines.h"
#include "ports/PortNames.h"
#include "ports/SerialPort.h"

// Results of the port operations.
constexpr int kPortOk = 1;
constexpr int kPortFailed = 0;         // OpenPort
constexpr int kPortNumberInvalid = 2;  // SelectPort: outside 1 to 4, nothing done
constexpr int kPortOpenFailed = 3;     // SelectPort: the open failed
constexpr int kAdapterPresent = 1;     // CheckAdapter
constexpr int kAdapterNotFound = 0;

// Results of the instruction operations.
constexpr int kIspOk = kProgrammerOk;
constexpr int kIspLineError = 4;        // a line operation or the reset pulse failed
constexpr int kIspNoSync = 5;           // no 0x53 echo after 32 attempts
constexpr int kIspEraseResetError = 6;  // reset pulse after chip erase failed
constexpr int kIspProgWriteError = 7;   // program byte did not read back
constexpr int kIspDataWriteError = 8;   // data byte did not read back
constexpr int kIspNoResetEcho = 9;      // inside the reset pulse only
constexpr int kIspPartCodeError = 10;   // third signature byte differs
constexpr int kIspSizeCodeError = 11;   // second signature byte differs / no size code
constexpr int kIspVendorError = 12;     // first signature byte is not 0x1E
// A read whose answer cannot be trusted: the target did not echo the
// instruction's first two bytes (MISO stuck or the target out of step).
constexpr int kIspNoEcho = 13;
// The selected part has no such instruction in serial programming mode (no
// lock read on an AT90S1200, for example).
constexpr int kIspNotSupported = kProgrammerNotSupported;
// A stop was asked for during a page write: while it was loaded (the page
// was not committed), or while it was read back (from the word named on,
// it was not confirmed).
constexpr int kIspStopped = kProgrammerStopped;

// Results of IdentifyDevice besides a row index.
constexpr int kIdentifyNotFound = -1;
constexpr int kIdentifyResetError = -4;
constexpr int kIdentifyVendorError = -12;
constexpr int kSelectNotFound = -1;

class CIspAdapter : public IProgrammer {
public:
    // Uses the real serial port and the real performance counter.
    CIspAdapter();
    // Uses the given port and counter; they must outlive the adapter.
    CIspAdapter(ISerialPort& port, IPerformanceCounter& counter);
    ~CIspAdapter() override;
    CIspAdapter(const CIspAdapter&) = delete;
    CIspAdapter& operator=(const CIspAdapter&) = delete;

    // Port and lines.
    int SelectPort(int nPort);
    int OpenPort(int nPort);
    // Opens a port by the name its kind knows it by (a device path, or a
    // name the port routes to another kind); the port has no COM number
    // then (m_nPort is kNoPortNumber). kPortOk or kPortFailed.
    int OpenDevice(const std::string& deviceName);
    // Releases the target and closes the port, if one is open.
    void CloseDevice() { ClosePort(); }
    int CheckAdapter();
    // Releases RESET and closes the port (another session may open it).
    void ClosePort();
    void WaitMicroseconds(int nMicroseconds);
    int PulseReset();

    // Serial programming instructions.
    uint32_t Transfer(uint32_t instruction);
    // The same, reading the status only for the answer bits set in
    // answerBits; the other bits of the answer are 0.
    uint32_t Transfer(uint32_t instruction, uint32_t answerBits);
    int EnterProgrammingMode(int checkSignature) override;
    int LeaveProgrammingMode() override;
    int ChipErase() override;
    // word: bits 15..8 the low byte (image byte 2w), bits 7..0 the high byte.
    int WriteProgramWord(uint16_t word, int wordAddress) override;
    int WriteDataByte(uint8_t value, int address) override;
    // A page of flash from pageBytes (the page's image bytes) at the page's
    // first word address. On failure failedWord is the word that did not
    // read back. Only for parts whose flash is written by pages.
    int WriteProgramPage(const uint8_t* pageBytes, int pageWordAddress, int& failedWord) override;
    // Lock Bit1, Lock Bit2 and, where the part has it, FSTRT. No other lock
    // or fuse bit is written.
    int WriteLockBits(int lockBit1, int lockBit2, int fstrt) override;
    // Every lock bit of the part from a lock byte as ReadLockByte gives it.
    int WriteLockByte(uint8_t lockByte) override;
    // word: bits 7..0 the low byte, bits 15..8 the high byte.
    int ReadProgramWord(uint16_t& word, int wordAddress) override;
    int ReadProgramByte(uint8_t& value, int high, int wordAddress);
    int ReadDataByte(uint8_t& value, int address) override;
    // count program words from wordAddress (as ReadProgramWord gives them)
    // and count EEPROM bytes from address, sent to the chip as one batch;
    // statuses gets each one's result. The result is the first failure's,
    // kIspOk when every one was read.
    int ReadProgramWords(uint16_t* words, int* statuses, int wordAddress, int count) override;
    int ReadDataBytes(uint8_t* values, int* statuses, int address, int count) override;
    // How many instructions the line layer takes at once to its benefit: a
    // caller reading a memory reads this many units ahead (1: no gain).
    int BatchLength() const override { return static_cast<int>(m_lines->BatchLength()); }
    // A bit the part does not report reads 1 (unprogrammed); kIspNotSupported
    // when it reports none.
    int ReadLockBits(int& lockBit1, int& lockBit2, int& fstrt, int& spien) override;
    // The lock byte: bit 0 Lock Bit1, bit 1 Lock Bit2, bits 2..5 the boot lock
    // bits where the part has them; reported says which bits the part gave.
    int ReadLockByte(uint8_t& lockByte, uint8_t& reported) override;
    int ReadSignatureByte(uint8_t& value, int index) override;
    // One fuse byte of a part of today (kLowFuse, kHighFuse or
    // kExtendedFuse); kIspNotSupported when the part has no such byte.
    int ReadFuseByte(uint8_t fuse, uint8_t& value) override;
    // Writes one fuse byte of a part of today, whole; nothing is read back.
    int WriteFuseByte(uint8_t fuse, uint8_t value) override;
    // The internal oscillator's calibration byte (the first, where a part
    // has several); kIspNotSupported when the part cannot give it.
    int ReadCalibrationByte(uint8_t& value) override;

    // Device table.
    int SelectDevice(int number);
    // Takes the row at that index (any part, those without a number too);
    // kSelectNotFound for an index outside the table.
    int SelectDeviceRow(int index);
    int IdentifyDevice() override;
    // The description of the selected part; nullptr before the first selection.
    const DeviceInfo* Device() const override { return m_pDevice; }
    int ProgSize() const override { return m_nProgSize; }
    int DataSize() const override { return m_nDataSize; }
    // Flash page size of the selected part; 0 when it writes byte by byte.
    int ProgPageSize() const override;
    // A byte is written until it reads back (or its write time is over), a
    // page counts once every byte of it reads back, an EEPROM byte likewise.
    bool WritesAreReadBack() const override { return true; }

    // Asked between the instructions of a flash page write; true ends the
    // write there with kIspStopped.
    void SetStopCheck(std::function<bool()> check) override { m_stopCheck = std::move(check); }

    // Overrides of where COMn lives (the settings' [Ports] section).
    void SetPortNames(const PortNameMap& names) { m_portNames = names; }
    const PortNameMap& PortNames() const { return m_portNames; }
    // Why the last open failed, as the system said it.
    std::string LastPortError() const;
    // Whether the open port's last call failed because it stopped answering.
    bool PortNotAnswering() const override;

    // Members, in the order the rest of the program knows them.
    ISerialPort* m_hComm = nullptr;  // the port while it is open
    int m_nPort = 0;
    int m_nProgSize = 0;
    int m_nDataSize = 0;
    int m_nDevice = 0;
    int m_nSignature = 0;
    std::string m_strName;
    uint8_t m_pollData1 = 0;
    uint8_t m_pollData2 = 0;
    uint8_t m_pollProg = 0;

private:
    // Waits of the selected part, with the conservative values when none is.
    int ProgWriteUs() const;
    int DataWriteUs() const;
    int LockWriteUs() const;
    int ChipEraseUs() const;
    // Enters by echo: up to 32 Programming Enable attempts with SCK pulses.
    bool SynchroniseByEcho();
    // Enters a part that gives no echo: one Programming Enable, then the
    // vendor signature byte must answer.
    bool SynchroniseOnce();
    // Checks signature bytes 0 to 2 against the selected part; also learns
    // from the first read whether the part echoes every instruction.
    int CheckSignature();
    // Waits for a page written at wordAddress to finish.
    void WaitForPage(const uint8_t* pageBytes, int pageWordAddress);
    int SendLockInstruction(const char* pattern, uint8_t lockByte, int fuse);
    // Parts of today: whether the part answers Poll RDY/BSY, and waiting
    // until it says a write is over (false when it never did).
    bool BusyFlag() const;
    bool WaitWhileBusy(int writeUs);
    // Sends Load Extended Address Byte when a word address lies past the
    // sixteen bits of an instruction, on the parts that need it.
    void LoadExtendedAddress(int wordAddress);
    // Instructions sent at once, with the answer bits each one wants.
    struct Batch {
        std::vector<uint32_t> sent;
        std::vector<uint32_t> bits;
        std::vector<uint32_t> answers;
        void Add(uint32_t instruction, uint32_t answerBits) {
            sent.push_back(instruction);
            bits.push_back(answerBits);
        }
    };
    // Sends the batch; false when a line call failed.
    bool Send(Batch& batch);
    // Adds Load Extended Address Byte to the batch where wordAddress needs it.
    void AddExtendedAddress(Batch& batch, int wordAddress);
    // A read's status from its answer in a batch sent with linesOk.
    int ReadStatus(bool linesOk, uint32_t sent, uint32_t answer) const;
    // The read instructions' answer bits: with the echo where the part gives it.
    uint32_t ReadBits() const;
    // The lock read of the part: the lock byte with unreported bits 1, which
    // bits were reported, and the answer byte itself.
    int ReadLock(uint8_t& lockByte, uint8_t& reported, uint8_t& answer);
    // Reads signature bytes 0 to 2 and takes the row they name: its index,
    // kIdentifyVendorError (only when the part echoed) or kIdentifyNotFound.
    int MatchSignature(bool echoed, int32_t& sizeFound);
    void TakeRow(int index);
    // One call each; false when no port is open or the call failed.
    bool Line(EscapeCode code);
    bool SetBreak();
    bool ClearBreak();
    // The modem status, 0 when it cannot be read.
    uint32_t ModemStatus(bool* ok = nullptr);
    void PulseSck();
    // One Programming Enable; true when the target echoed 0x53.
    bool Synchronise();
    // Sends a read instruction and takes bits 7..0 of the answer. kIspOk only
    // when every line operation worked and the target echoed the first two
    // instruction bytes, so that a dead port or a silent target is never
    // taken for memory holding 0x00 or 0xFF.
    int ReadAnswer(uint32_t instruction, uint8_t& value);
    // Whether the answer carries the echo of the instruction's opcode.
    static bool Echoed(uint32_t instruction, uint32_t answer);
    // Whether a write of value read back: reread(trusted) gives the byte now
    // read and whether that read can be trusted.
    template <typename Reread>
    bool Confirmed(uint8_t value, Reread reread);
    template <typename Reread>
    bool ConfirmWrite(uint8_t value, bool fixedWait, int writeUs, Reread reread);
    int WriteProgramByte(uint8_t value, int high, int wordAddress);

    std::unique_ptr<ISerialPort> m_ownedPort;
    std::unique_ptr<IPerformanceCounter> m_ownedCounter;
    ISerialPort& m_port;
    IPerformanceCounter& m_counter;
    PortNameMap m_portNames;
    bool m_bLinesOk = true;               // every line operation of the last Transfer worked
    CSerialLines m_serialLines;           // the modem lines of the open port
    IIspLines* m_lines = &m_serialLines;  // what shifts the instructions
    int m_nExtendedAddress = -1;          // the extended address byte last loaded; -1: not known
    // The part echoed the instruction bytes when programming mode was
    // entered: from then on a read without the echo is not trusted. A part
    // that echoes only Programming Enable's 0x53 is taken at its word.
    bool m_bEchoes = true;
    const DeviceInfo* m_pDevice = nullptr;
    std::function<bool()> m_stopCheck;
};
