// CUpdiAdapter: the UPDI implementation of the programmer interface, over a
// memory-level CUpdiProgrammer on a one-wire data path. It turns the
// operations' words, pages and bytes into UPDI bursts: flash by pages, reads
// in long bursts, EEPROM bytes gathered into its pages. The selected part is
// the session's; the adapter only checks the chip against it.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "ops/Programmer.h"
#include "parts/DeviceTable.h"
#include "updi/UpdiProgrammer.h"
#include "updi/UpdiWire.h"

// The baud when the port name gives none: well inside what every UPDI
// follows at its clock after reset.
constexpr uint32_t kUpdiDefaultBaud = 115200;

// What a ticked Lock Bit1 writes.
constexpr uint8_t kUpdiLockClosed = 0x00;

class CUpdiAdapter : public IProgrammer {
public:
    // wire must outlive the adapter.
    CUpdiAdapter(IUpdiWire& wire, uint32_t baud = kUpdiDefaultBaud);
    ~CUpdiAdapter() override;
    CUpdiAdapter(const CUpdiAdapter&) = delete;
    CUpdiAdapter& operator=(const CUpdiAdapter&) = delete;

    // The part the operations mean (a row of the device table); nullptr: none.
    void SelectRow(const DeviceInfo* device) { m_device = device; }
    // Whether the adapter gives the echo of what is sent (its TX and RX
    // joined): the adapter is there, whatever is on its wire.
    bool AdapterAnswers();
    uint32_t Baud() const { return m_baud; }
    CUpdiProgrammer& Programmer() { return m_programmer; }

    int EnterProgrammingMode(int checkSignature) override;
    int LeaveProgrammingMode() override;
    void SetStopCheck(std::function<bool()> check) override { m_stop = std::move(check); }
    bool PortNotAnswering() const override { return m_wireGone; }
    std::string EntryTrouble() const override;

    // The row whose UPDI part has the chip's signature; kUpdiUnknownPart
    // (negative) when none, or the failure that kept it from being read.
    int IdentifyDevice() override;
    const DeviceInfo* Device() const override { return m_device; }
    int ProgSize() const override;
    int DataSize() const override;
    int ProgPageSize() const override;
    int BatchLength() const override;

    int ReadProgramWord(uint16_t& word, int wordAddress) override;
    int ReadProgramWords(uint16_t* words, int* statuses, int wordAddress, int count) override;
    int WriteProgramWord(uint16_t word, int wordAddress) override;
    int WriteProgramPage(const uint8_t* pageBytes, int pageWordAddress, int& failedWord) override;

    int ReadDataByte(uint8_t& value, int address) override;
    int ReadDataBytes(uint8_t* values, int* statuses, int address, int count) override;
    // Gathered until the last byte of its EEPROM page (or of the memory)
    // arrives, then written and read back as one page: a failure is
    // reported with that last byte.
    int WriteDataByte(uint8_t value, int address) override;

    // Lock Bit1 is the lock byte: 1 (unprogrammed) when it holds the open
    // value, 0 for any other. Lock Bit2, FSTRT and SPIEN stand for nothing
    // here and read 1.
    int ReadLockBits(int& lockBit1, int& lockBit2, int& fstrt, int& spien) override;
    int WriteLockBits(int lockBit1, int lockBit2, int fstrt) override;
    int ReadLockByte(uint8_t& lockByte, uint8_t& reported) override;
    int WriteLockByte(uint8_t lockByte) override;

    // The UPDI fuses are not reached through the ISP fuse bytes.
    int ReadFuseByte(uint8_t fuse, uint8_t& value) override;
    int WriteFuseByte(uint8_t fuse, uint8_t value) override;

    // Fuse index of the selected part's layout, through the NVM controller.
    int ReadFuseAt(size_t index, uint8_t& value) override;
    int WriteFuseAt(size_t index, uint8_t value) override;
    int ReadUserRow(uint8_t* data, size_t offset, size_t count) override;
    int WriteUserRow(const uint8_t* data, size_t offset, size_t count) override;

    int ReadSignatureByte(uint8_t& value, int index) override;
    int ReadCalibrationByte(uint8_t& value) override;

    // With the chip-erase key: opens a locked chip too.
    int ChipErase() override;
    bool ErasesMemoriesApart() const override { return true; }
    int EraseProgram() override;
    int EraseData() override;
    // Each flash page and each gathered EEPROM page is read back once written.
    bool WritesAreReadBack() const override { return true; }

private:
    // Notes a wire that stopped answering; gives result on.
    int Note(int result);
    // Writes the EEPROM bytes gathered, if any, and reads them back.
    int FlushData();
    // Reads back count bytes of memory at offset and compares them with data.
    int Confirm(EUpdiMemory memory, uint32_t offset, const uint8_t* data, size_t count,
                uint32_t& failedAt);
    // Writes with the stop check on (it is asked between pages only).
    int WriteStoppable(EUpdiMemory memory, uint32_t offset, const uint8_t* data, size_t count);
    const SUpdiPart* ChipPart() const;
    // The part the operations mean, for its fuse layout and user row.
    const SUpdiPart* SelectedPart() const;
    // Whether a lock of width bytes (least significant first) is the open one.
    static bool LockIsOpen(const uint8_t* value, size_t width);

    CUpdiProgrammer m_programmer;
    uint32_t m_baud;
    const DeviceInfo* m_device = nullptr;
    std::function<bool()> m_stop;
    bool m_connected = false;     // the link is up (the chip may still be locked)
    bool m_locked = false;        // the chip answered locked at the last entry
    int m_entryResult = kUpdiOk;  // how the last entry ended
    bool m_wireGone = false;
    // EEPROM bytes waiting for the rest of their page.
    std::vector<uint8_t> m_dataPage;
    int m_dataStart = -1;  // byte address of m_dataPage[0]; -1: nothing gathered
};
