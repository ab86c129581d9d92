// What the operations need of whatever reaches the chip: its memories
// (program, data, lock, fuses, signature, calibration), programming mode and
// chip erase, and nothing of the instructions or frames that carry them. A
// protocol's adapter implements it; busy waits, retries and page buffers
// stay inside. Every result is an integer: kProgrammerOk, one of the named
// outcomes below, or a failure whose number is the protocol's own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "parts/DeviceTable.h"

constexpr int kProgrammerOk = 0;
// The selected part has no such memory or cannot give it in programming
// mode (no lock read on an AT90S1200, for example).
constexpr int kProgrammerNotSupported = 14;
// A stop was asked for during a page write: while it was loaded (the page
// was not committed), or while it was read back (from the word named on, it
// was not confirmed).
constexpr int kProgrammerStopped = 15;
// The chip is locked: nothing of it can be read or written until a chip
// erase (which works on a locked chip) opens it.
constexpr int kProgrammerLocked = 16;
// The selected part is reached through another kind of adapter than the
// port's: nothing was sent.
constexpr int kProgrammerWrongAdapter = 17;

class IProgrammer {
public:
    virtual ~IProgrammer() = default;

    // Programming mode. checkSignature: nonzero to have the chip's signature
    // match the selected part before anything else is done.
    virtual int EnterProgrammingMode(int checkSignature) = 0;
    virtual int LeaveProgrammingMode() = 0;
    // Asked between the steps of a page write; true ends the write there
    // with kProgrammerStopped. nullptr: never.
    virtual void SetStopCheck(std::function<bool()> check) = 0;
    // Whether the way to the chip stopped answering (a cable pulled out):
    // the operations then say so instead of blaming the chip.
    virtual bool PortNotAnswering() const = 0;
    // Why the last entry into programming mode failed, in words the user
    // can act on ("no echo from the adapter ..."); empty when the protocol
    // cannot tell more than that it failed.
    virtual std::string EntryTrouble() const { return std::string(); }

    // The part. IdentifyDevice reads the signature and selects the row that
    // has it: the row's index, or a negative result.
    virtual int IdentifyDevice() = 0;
    // The description of the selected part; nullptr before the first selection.
    virtual const DeviceInfo* Device() const = 0;
    // Memory sizes of the selected part, in bytes.
    virtual int ProgSize() const = 0;
    virtual int DataSize() const = 0;
    // Flash page size in bytes; 0 when program memory is written word by word.
    virtual int ProgPageSize() const = 0;
    // How many reads are worth asking for at once: a caller reading a
    // memory reads this many units ahead (1: no gain).
    virtual int BatchLength() const = 0;

    // Program memory by words. A word read: bits 7..0 the low byte (image
    // byte 2w), bits 15..8 the high byte. A word written: bits 15..8 the low
    // byte, bits 7..0 the high byte.
    virtual int ReadProgramWord(uint16_t& word, int wordAddress) = 0;
    // count words from wordAddress; statuses gets each one's result. The
    // result is the first failure's, kProgrammerOk when every one was read.
    virtual int ReadProgramWords(uint16_t* words, int* statuses, int wordAddress, int count) = 0;
    virtual int WriteProgramWord(uint16_t word, int wordAddress) = 0;
    // A page of flash from pageBytes (the page's image bytes) at the page's
    // first word address; on failure failedWord is the word that did not
    // read back. Only for parts whose flash is written by pages.
    virtual int WriteProgramPage(const uint8_t* pageBytes, int pageWordAddress,
                                 int& failedWord) = 0;

    // Data memory (EEPROM) by bytes.
    virtual int ReadDataByte(uint8_t& value, int address) = 0;
    virtual int ReadDataBytes(uint8_t* values, int* statuses, int address, int count) = 0;
    virtual int WriteDataByte(uint8_t value, int address) = 0;

    // Lock bits as the window's boxes show them: Lock Bit1, Lock Bit2, FSTRT
    // and SPIEN, 1 unprogrammed; a bit the part does not report reads 1.
    virtual int ReadLockBits(int& lockBit1, int& lockBit2, int& fstrt, int& spien) = 0;
    // Writes Lock Bit1, Lock Bit2 and, where the part has it, FSTRT.
    virtual int WriteLockBits(int lockBit1, int lockBit2, int fstrt) = 0;
    // The lock byte: bit 0 Lock Bit1, bit 1 Lock Bit2, bits 2..5 the boot
    // lock bits where the part has them; reported says which bits it gave.
    virtual int ReadLockByte(uint8_t& lockByte, uint8_t& reported) = 0;
    // Every lock bit of the part from a lock byte as ReadLockByte gives it.
    virtual int WriteLockByte(uint8_t lockByte) = 0;

    // One fuse byte (kLowFuse, kHighFuse or kExtendedFuse), read or written
    // whole; kProgrammerNotSupported when the part has no such byte.
    virtual int ReadFuseByte(uint8_t fuse, uint8_t& value) = 0;
    virtual int WriteFuseByte(uint8_t fuse, uint8_t value) = 0;

    // The fuses of a part whose description lists them one by one (a UPDI
    // part: DeviceInfo::updiPart->fuses), index counting that list.
    // kProgrammerNotSupported where the part's fuses are the three bytes
    // above, or the index lies past the list.
    virtual int ReadFuseAt(size_t /*index*/, uint8_t& /*value*/) { return kProgrammerNotSupported; }
    virtual int WriteFuseAt(size_t /*index*/, uint8_t /*value*/) { return kProgrammerNotSupported; }
    // The user row (the bytes a part keeps for its maker across chip
    // erases), count bytes from offset. Written bytes are written only, not
    // read back. kProgrammerNotSupported where the part has none.
    virtual int ReadUserRow(uint8_t* /*data*/, size_t /*offset*/, size_t /*count*/) {
        return kProgrammerNotSupported;
    }
    virtual int WriteUserRow(const uint8_t* /*data*/, size_t /*offset*/, size_t /*count*/) {
        return kProgrammerNotSupported;
    }

    // Signature byte index (0: the vendor code).
    virtual int ReadSignatureByte(uint8_t& value, int index) = 0;
    // The internal oscillator's calibration byte (the first, where a part
    // has several).
    virtual int ReadCalibrationByte(uint8_t& value) = 0;

    // Erases program and data memory and the lock bits. The chip may leave
    // programming mode with it: enter again before the next access.
    virtual int ChipErase() = 0;

    // Whether program and data memory can each be erased alone. When they
    // cannot (only a chip erase), erasing one means saving the other and
    // writing it back.
    virtual bool ErasesMemoriesApart() const { return false; }
    // Erases program memory only, or data memory only; kProgrammerNotSupported
    // where ErasesMemoriesApart() is false.
    virtual int EraseProgram() { return kProgrammerNotSupported; }
    virtual int EraseData() { return kProgrammerNotSupported; }

    // Whether every program and data memory write is confirmed by reading
    // what was written back (a write that does not read back fails): the
    // write is then its own verify, and a second pass over the chip adds
    // nothing.
    virtual bool WritesAreReadBack() const { return false; }
};
