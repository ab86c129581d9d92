// The fifteen programming operations. Each follows the same frame (take from
// screen, heading, enter programming mode, loop with progress, first failure
// stops, result line, leave programming mode once) and reports in the host's
// message pane. Each returns true when it succeeded; the window ignores the
// result, the command-line tool turns it into its exit status. The "All"
// operations run their three parts in full and succeed only when all three do.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include <string>

#include "ops/Programmer.h"
#include "parts/DeviceTable.h"
#include "parts/UpdiFuseFields.h"

class IOperationHost;

// The program and data memory images the operations write from and read
// into: byte arrays as long as the selected device's memories. Program byte
// 2w is the low byte of word w; 0xFF is the erased value.
struct MemoryImages {
    std::vector<uint8_t> m_progImage;
    std::vector<uint8_t> m_dataImage;
};

// What of the values next would take the chip out of reach of this adapter,
// written over the values now, in the fuse bytes named in which (kLowFuse,
// kHighFuse, kExtendedFuse); empty when nothing. A byte whose bits the part's
// description cannot name counts as such whenever it changes.
std::string FuseCutOffReasons(const DeviceInfo& device,
                              const std::array<uint8_t, kFuseByteCount>& now,
                              const std::array<uint8_t, kFuseByteCount>& next, uint8_t which);

class COperations {
public:
    // programmer: how the chip is reached (the ISP adapter, for one); it
    // must outlive the operations.
    COperations(IProgrammer& programmer, MemoryImages& images, IOperationHost& host);
    ~COperations();
    COperations(const COperations&) = delete;
    COperations& operator=(const COperations&) = delete;

    // How the lines name the port open now ("COM2 (/dev/ttyUSB0)"); a new
    // port forgets that the one before stopped answering.
    void SetPortLabel(const std::string& label);
    // Opens the port again; called when an operation starts on a port that
    // had stopped answering (the cable may be back). true when it opened.
    void SetPortReopen(std::function<bool()> reopen) { m_reopen = std::move(reopen); }
    // How the last operation ended besides its result: stopped by a stop
    // request, or cut short by a port that stopped answering.
    bool WasStopped() const { return m_end == End::Stopped; }
    bool PortLost() const { return m_end == End::PortLost; }

    bool WriteAll();
    bool WriteProg();
    bool WriteData();
    bool WriteLock();
    bool ReadAll();
    bool ReadProg();
    bool ReadData();
    bool ReadLock();
    // The fuse bytes of a part of today, low, high and extended, into fuses;
    // present says which the part has (kLowFuse, kHighFuse, kExtendedFuse).
    // calibration: the oscillator's calibration byte, or -1 where the part
    // cannot give it. Nothing is ever written to them here.
    bool ReadFuses(std::array<uint8_t, kFuseByteCount>& fuses, uint8_t& present, int& calibration);
    // Writes the fuse bytes named in which (kLowFuse...) with the values
    // given, and reads them back. A value that would take the chip out of
    // reach of this adapter (RSTDISBL or DWEN programmed, SPIEN unprogrammed,
    // another clock source) is refused, and nothing written, unless
    // allowCutOff. No other fuse byte is written. readBefore: the values the
    // new ones were made from; when the chip no longer has them (another
    // chip, or changed since), nothing is written.
    bool WriteFuses(const std::array<uint8_t, kFuseByteCount>& fuses, uint8_t which,
                    bool allowCutOff,
                    const std::array<uint8_t, kFuseByteCount>* readBefore = nullptr);
    // Compares the fuse bytes named in which with the values given. When
    // the chip's values could be read, chip gets them and differing names
    // the bytes (kLowFuse...) whose fuse bits differ.
    bool VerifyFuses(const std::array<uint8_t, kFuseByteCount>& fuses, uint8_t which,
                     std::array<uint8_t, kFuseByteCount>* chip = nullptr,
                     uint8_t* differing = nullptr);
    // The fuses of a part whose description lists them one by one (a UPDI
    // part): one byte per fuse of its layout, in the layout's order. Nothing
    // is ever written to them here.
    bool ReadUpdiFuses(UpdiFuseBytes& fuses);
    // Writes the fuses whose bit is set in which (bit i: fuse i of the
    // layout) with their values in fuses, those that differ from the chip's
    // only, and reads them back; no other fuse is written. A change that
    // would cut the chip off from every UPDI adapter (UpdiFuseCutOffReasons:
    // the UPDI pin made a port pin or RESET) is refused, and nothing written,
    // unless allowCutOff; clock settings never are. readBefore as for
    // WriteFuses.
    bool WriteUpdiFuses(const UpdiFuseBytes& fuses, uint32_t which, bool allowCutOff,
                        const UpdiFuseBytes* readBefore = nullptr);
    // Compares the fuses named in which with the values given. When the
    // chip's values could be read, chip gets them and differing names the
    // fuses (bit i: fuse i) that differ.
    bool VerifyUpdiFuses(const UpdiFuseBytes& fuses, uint32_t which, UpdiFuseBytes* chip = nullptr,
                         uint32_t* differing = nullptr);
    // The user row of a UPDI part: read whole into row; written from its
    // first byte with bytes (no longer than the row) and read back; compared
    // over bytes' length.
    bool ReadUserRow(std::vector<uint8_t>& row);
    bool WriteUserRow(const std::vector<uint8_t>& bytes);
    bool VerifyUserRow(const std::vector<uint8_t>& bytes);
    bool VerifyAll();
    bool VerifyProg();
    bool VerifyData();
    bool VerifyLock();
    bool EraseAll();
    bool EraseProg();
    bool EraseData();

private:
    // The two memories as the loops walk them: program memory by words (two
    // image bytes per step), data memory by bytes.
    enum class Memory { Prog, Data };

    // The lines of one memory operation; the failure line takes the byte
    // address through "%04x".
    struct MemoryLines {
        const char* name;
        const char* heading;
        const char* initError;
        const char* failedAt;
        const char* complete;
    };
    // The lines of an erase that keeps one memory.
    struct EraseLines {
        const char* heading;
        const char* saveFailedAt;
        const char* restoreFailedAt;
    };

    enum class End { Running, Stopped, PortLost };

    // Start of the frame: take from screen, post the heading, enter
    // programming mode. On a failed entry appends the initialisation error
    // and gives false; the caller then only leaves programming mode. name
    // begins the operation's stop and port lines (" Write : Stopped ...").
    // lockedAnswers: a locked chip is an answer (the lock operations), not a
    // failure; m_chipLocked then says so.
    bool Begin(const char* name, const char* heading, const char* initError, int checkSignature,
               bool lockedAnswers = false);
    // The lock bits, or those of a chip found locked at the entry.
    int ReadLockBitsOrLocked(int& lockBit1, int& lockBit2, int& fstrt, int& spien);
    // Whether a stop was asked for; once it was, the operation ends as stopped.
    bool Stopping();
    // Whether the port stopped answering: its last line call failed, or it
    // could not be opened again since.
    bool PortGone();
    // The line of a stop at a byte address (-1: none) or of a lost port;
    // Fail posts line, or the port's line in its place once the port is gone.
    void PostStopped(int address);
    void PostPortGone(int address);
    // " <name> : <what>[ at address <address>].\r\n"
    void PostEnd(const std::string& what, int address);
    void Fail(const char* line);
    void FailAt(const char* format, int address);
    // Appends the line and shows it, without scrolling the pane.
    void Post(const char* line);
    void AppendAddressLine(const char* format, int address);

    int Size(Memory memory) const;
    std::vector<uint8_t>& Image(Memory memory);
    // Tell the host that an image was read from the device, or blanked.
    void ImageRead(Memory memory);
    void ImageErased(Memory memory);
    // The bytes one step reads or writes: a program word's low and high
    // byte, or one data byte.
    static constexpr int kMaxUnitBytes = 2;
    using Unit = std::array<uint8_t, kMaxUnitBytes>;
    static int Stride(Memory memory);
    int ReadUnit(Memory memory, int address, Unit& unit);
    // Units read ahead in one batch, where the programmer takes many
    // instructions at once; a walk then takes them one by one as before.
    struct ReadAhead {
        Memory memory = Memory::Prog;
        int first = 0;  // byte address of the first unit
        std::vector<Unit> units;
        std::vector<int> statuses;
        bool Holds(Memory m, int address) const;
    };
    // Fills the read-ahead from address; false when the lines gain nothing.
    bool ReadAheadFrom(Memory memory, int address);
    static void StoreUnit(Memory memory, int address, const Unit& unit,
                          std::vector<uint8_t>& buffer);
    // The unit at byte address a, to or from buffer[a..] in image layout.
    int ReadUnitInto(Memory memory, int address, std::vector<uint8_t>& buffer);
    // How far one write step goes: a flash page on parts written by pages.
    int WriteStride(Memory memory) const;
    // Writes the step at address; on failure address becomes the byte
    // address of the word or byte that failed.
    int WriteUnit(Memory memory, int& address, const std::vector<uint8_t>& buffer);
    bool IsLastUnit(Memory memory, int address) const;
    int LastAddress(Memory memory) const;
    // A read is only as good as the answer after it: a target that goes
    // silent during a read's data byte leaves the bits it did not send as
    // zeros, with the echo of the instruction in order. Within a walk the
    // next read's echo settles the one before; the last read of an operation,
    // and a read about to be reported as a difference, are settled by one
    // more instruction the target has to echo (the vendor signature byte).
    bool TargetStillAnswers();
    // After a chip erase: the chip enters programming mode again and reads
    // erased at its first word.
    bool ErasedChipAnswers();
    // Whether two values of fuse byte (0..2) agree in every bit that is a fuse.
    bool SameFuses(int byte, uint8_t a, uint8_t b) const;
    // Reads the fuse bytes named in which; false when one could not be read.
    bool ReadFuseBytes(std::array<uint8_t, kFuseByteCount>& fuses, uint8_t which);
    struct FuseLines {
        const char* name;
        const char* heading;
        const char* initError;
        const char* readError;
    };
    // Start of a fuse operation: the frame's start, the bytes named checked
    // against the part's, their present values read into now. On failure
    // its line is posted and false given; the caller only leaves.
    bool BeginFuses(const FuseLines& lines, uint8_t which,
                    std::array<uint8_t, kFuseByteCount>& now);

    // Walks the memory in steps of stride bytes (0: a word or a byte),
    // moving the progress bar. step(a) gives nullptr when it succeeded, else
    // the line reporting its failure, which is appended with the address
    // (which the step may move to the byte that failed); the walk stops there.
    // A stoppable walk also ends before a step when a stop is asked for.
    template <typename Step>
    bool ForEachAddress(Memory memory, Step step, int stride = 0, bool stoppable = true);
    // Progress range and position 0, the walk, and the completion line.
    template <typename Step>
    bool RunOverMemory(Memory memory, const char* complete, Step step, int stride = 0);

    bool WriteMemory(Memory memory, const MemoryLines& lines);
    bool ReadMemory(Memory memory, const MemoryLines& lines);
    bool VerifyMemory(Memory memory, const MemoryLines& lines);
    bool EraseKeeping(Memory kept, const EraseLines& lines);
    // Where the programmer erases each memory alone: that memory only,
    // nothing read or written back.
    bool EraseAlone(Memory erased);
    // Start of a UPDI fuse operation: the frame's start, the fuses named
    // checked against the part's layout, all of its fuses read into now.
    bool BeginUpdiFuses(const FuseLines& lines, uint32_t which, UpdiFuseBytes& now);
    // Reads every fuse of the selected part's layout; false when one could not be.
    bool ReadUpdiFuseBytes(UpdiFuseBytes& fuses);
    // The selected part's UPDI description; nullptr for a part of today.
    const SUpdiPart* UpdiPart() const;
    // Start of a user row operation; the row's size in size.
    bool BeginUserRow(const FuseLines& lines, size_t length, size_t& size);
    // " <part> is programmed through UPDI: choose a port with ,updi ...".
    void PostWrongAdapter();

    IProgrammer& m_programmer;
    MemoryImages& m_images;
    ReadAhead m_readAhead;
    IOperationHost& m_host;
    std::string m_portLabel;
    std::function<bool()> m_reopen;
    End m_end = End::Running;
    const char* m_name = "";
    bool m_bPortLost = false;   // it stopped answering and could not be opened again
    bool m_chipLocked = false;  // the chip refused the entry for its lock
};
