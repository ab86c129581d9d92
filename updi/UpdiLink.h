// The UPDI link: one wire, half duplex. Every byte sent comes back as an echo
// before the chip answers; the link checks each echo, waits for each answer
// with a time-out, and counts what a transfer costs: bytes on the wire and
// turnarounds (each time it must wait for the chip before sending more).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "updi/UpdiResult.h"
#include "updi/UpdiWire.h"

struct SUpdiLinkCounters {
    uint64_t bytesSent = 0;      // by the program, echoes not counted again
    uint64_t bytesReceived = 0;  // answers of the chip
    uint64_t turnarounds = 0;    // waits for the chip's answer
    uint64_t breaks = 0;         // long low levels sent
};

// LD/ST pointer access
enum class EUpdiPointer : uint8_t {
    kIndirect,  // *(ptr)
    kPostInc,   // *(ptr++)
};

class CUpdiLink {
public:
    explicit CUpdiLink(IUpdiWire& wire);

    // Resets the chip's UPDI with a double BREAK, sets the baud, turns off
    // collision detection and shortens the guard time; checks the chip answers.
    // A baud above what the UPDI follows at its reset clock is reached by
    // raising its clock first.
    int Connect(uint32_t baud);
    // Ends the session: UPDI disabled until the next BREAK.
    int Disconnect();

    int SendBreak();
    int SendDoubleBreak();

    // Control/status registers
    int Ldcs(uint8_t reg, uint8_t& value);
    int Stcs(uint8_t reg, uint8_t value);

    // Direct access; the address takes 2 or 3 bytes (SetAddressBytes).
    int Lds8(uint32_t address, uint8_t& value);
    int Lds16(uint32_t address, uint16_t& value);
    int Sts8(uint32_t address, uint8_t value);
    int Sts16(uint32_t address, uint16_t value);

    // The pointer register and indirect access. count transfers of one byte;
    // more than one needs a REPEAT before.
    int SetPointer(uint32_t address);
    int Ld(EUpdiPointer mode, uint8_t* data, size_t count);
    int St(EUpdiPointer mode, const uint8_t* data, size_t count);
    // The next instruction runs count times (1..256).
    int Repeat(size_t count);

    // Blocks of 1..256 bytes: pointer, REPEAT, LD/ST *(ptr++).
    int ReadBlock(uint32_t address, uint8_t* data, size_t count);
    // 1..256 words (2..512 bytes, least significant byte first): REPEAT counts
    // transfers, and a word LD moves two bytes a transfer.
    int ReadWords(uint32_t address, uint8_t* data, size_t words);
    int WriteBlock(uint32_t address, const uint8_t* data, size_t count);
    // 1..256 words (least significant byte first) with word stores: half the
    // instructions of byte stores, and with response signatures off one burst.
    int WriteWords(uint32_t address, const uint8_t* data, size_t words);

    // Keeps the wire busy for about us microseconds with stores that change
    // nothing (CTRLA written as it is): the chip's NVM works meanwhile, and the
    // program need not wait for an answer to learn it is done.
    int Idle(uint32_t us);

    int Key(uint64_t key);
    // The System Information Block: size 8 (family only) or 16 bytes.
    int ReadSib(uint8_t* data, size_t size);

    // With response signatures off (CTRLA.RSD) stores get no ACK: a page goes
    // out as one burst.
    int SetResponseSignatures(bool on);
    bool ResponseSignatures() const { return !m_rsd; }
    void SetAddressBytes(int bytes) { m_addressBytes = bytes; }
    int AddressBytes() const { return m_addressBytes; }

    // The longest wait for an answer, beyond the bytes' own time.
    void SetAnswerTimeoutMs(int ms) { m_answerTimeoutMs = ms; }

    const SUpdiLinkCounters& Counters() const { return m_counters; }
    void ResetCounters() { m_counters = SUpdiLinkCounters(); }
    IUpdiWire& Wire() { return m_wire; }

private:
    void Queue(uint8_t byte) { m_pending.push_back(byte); }
    void QueueAddress(uint32_t address);
    void QueueKey(uint64_t key);
    uint8_t AddressSizeBits() const;
    // Sends the queued bytes and checks their echo.
    int Flush();
    // Flushes, then waits for n bytes of the chip.
    int Receive(uint8_t* data, size_t n);
    int ReceiveAck();
    int LdPostInc(uint8_t dataSize, uint8_t* data, size_t transfers);
    int StPostInc(uint8_t dataSize, const uint8_t* data, size_t transfers);
    int WriteCtrlA();
    int TimeoutFor(size_t bytes) const;

    IUpdiWire& m_wire;
    std::vector<uint8_t> m_pending;
    std::vector<uint8_t> m_echo;
    SUpdiLinkCounters m_counters;
    int m_addressBytes = 2;
    bool m_rsd = false;
    int m_answerTimeoutMs = 50;
    uint32_t m_baud = 0;
    // Where the chip's pointer register is, as far as the link knows.
    bool m_pointerKnown = false;
    uint32_t m_pointer = 0;
};
