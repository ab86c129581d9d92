// The serial port as the adapter sees it: one call per operating-system step,
// each reporting success or failure. The names and constants follow the
// Windows communications API the adapter was designed against, so the adapter
// reads the same on every platform; each implementation maps them to its own
// system calls.
#pragma once

#include <cstdint>
#include <string>

class IIspLines;

#ifdef _WIN32
// The system defines these names itself, with the same values.
#include <windows.h>
using EscapeCode = DWORD;
using CommParity = BYTE;
using CommStopBits = BYTE;
using DtrControl = DWORD;
using RtsControl = DWORD;
#else
// EscapeCommFunction codes, with the values the Windows API gives them.
enum EscapeCode { SETRTS = 3, CLRRTS = 4, SETDTR = 5, CLRDTR = 6 };

// GetCommModemStatus bits.
constexpr uint32_t MS_CTS_ON = 0x0010;
constexpr uint32_t MS_DSR_ON = 0x0020;
constexpr uint32_t MS_RING_ON = 0x0040;
constexpr uint32_t MS_RLSD_ON = 0x0080;

// SetCommMask event bits.
constexpr uint32_t EV_TXEMPTY = 0x0004;
constexpr uint32_t EV_ERR = 0x0080;

constexpr uint32_t MAXDWORD = 0xFFFFFFFFu;

enum CommParity { NOPARITY, ODDPARITY, EVENPARITY, MARKPARITY, SPACEPARITY };
enum CommStopBits { ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS };
enum DtrControl { DTR_CONTROL_DISABLE, DTR_CONTROL_ENABLE, DTR_CONTROL_HANDSHAKE };
enum RtsControl {
    RTS_CONTROL_DISABLE,
    RTS_CONTROL_ENABLE,
    RTS_CONTROL_HANDSHAKE,
    RTS_CONTROL_TOGGLE
};
#endif

// The fields of the device control block that the adapter sets; the others
// stay as the driver reported them.
struct CommState {
    uint32_t BaudRate = 9600;
    uint8_t ByteSize = 8;
    CommParity Parity = NOPARITY;
    CommStopBits StopBits = ONESTOPBIT;
    bool fBinary = true;
    bool fParity = false;
    bool fOutxCtsFlow = false;
    bool fOutxDsrFlow = false;
    bool fDsrSensitivity = false;
    bool fOutX = false;
    bool fInX = false;
    bool fNull = false;
    DtrControl fDtrControl = DTR_CONTROL_ENABLE;
    RtsControl fRtsControl = RTS_CONTROL_ENABLE;
};

struct CommTimeouts {
    uint32_t ReadIntervalTimeout = 0;
    uint32_t ReadTotalTimeoutMultiplier = 0;
    uint32_t ReadTotalTimeoutConstant = 0;
    uint32_t WriteTotalTimeoutMultiplier = 0;
    uint32_t WriteTotalTimeoutConstant = 0;
};

// What kind of trouble the port's last failure was, for messages that tell
// the user where to look.
enum class PortErrorKind {
    None,
    NoDevice,      // the open found no such device
    InUse,         // another program holds the port
    Permission,    // the user may not open it
    NotAnswering,  // the last line call failed: the cable pulled, the handle gone
    Other,
};

class ISerialPort {
public:
    virtual ~ISerialPort() = default;

    // Opens the device exclusively. false when it does not exist, is in use
    // or cannot be opened; LastError() then says why.
    virtual bool Open(const std::string& deviceName) = 0;
    virtual bool SetupComm(uint32_t inQueue, uint32_t outQueue) = 0;
    virtual bool GetCommState(CommState& state) = 0;
    virtual bool SetCommState(const CommState& state) = 0;
    virtual bool SetCommMask(uint32_t mask) = 0;
    virtual bool SetCommTimeouts(const CommTimeouts& timeouts) = 0;

    virtual bool EscapeCommFunction(EscapeCode code) = 0;
    virtual bool SetCommBreak() = 0;
    virtual bool ClearCommBreak() = 0;
    virtual bool GetCommModemStatus(uint32_t& status) = 0;

    virtual void Close() = 0;

    // The system's reason for the last failure, for messages of the
    // command-line tool; empty when there is none to tell.
    virtual std::string LastError() const { return std::string(); }
    // The kind of the last failed open, or NotAnswering while the last line
    // call failed; a line call that works clears that again.
    virtual PortErrorKind LastErrorKind() const { return PortErrorKind::None; }

    // The object that carries the calls of the port now open. A port that
    // only forwards to another one gives that one, so the adapter's
    // per-bit line calls reach it without a detour; everything else gives
    // itself.
    virtual ISerialPort* OpenedPort() { return this; }

    // A port that shifts whole instructions faster than line call by line
    // call (a USB cable in bit-bang mode) gives its own line layer; nullptr:
    // the modem lines, one call per change.
    virtual IIspLines* FastLines() { return nullptr; }
};
