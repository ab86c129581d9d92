// The results every UPDI call gives: 0 is success, each failure its own code.
#pragma once

enum EUpdiResult : int {
    kUpdiOk = 0,
    kUpdiNoEcho = -1,          // nothing came back of what was sent: no adapter or a broken wire
    kUpdiWrongEcho = -2,       // what came back differs from what was sent
    kUpdiNoAck = -3,           // the chip answered a store with something other than ACK
    kUpdiTimeout = -4,         // the chip stopped answering
    kUpdiWireError = -5,       // the adapter refused a call
    kUpdiLocked = -6,          // the chip is locked: only a chip erase opens it
    kUpdiKeyRefused = -7,      // a key did not show in ASI_KEY_STATUS
    kUpdiNotProgramming = -8,  // the chip did not enter (or left) NVM programming
    kUpdiNvmError = -9,        // the NVM controller reported a write error
    kUpdiNvmBusy = -10,        // the NVM controller stayed busy too long
    kUpdiBadArgument = -11,    // a size or address the call cannot take
    kUpdiUnsupported = -12,    // an NVM controller version without a driver here
    kUpdiEraseFailed = -13,    // the chip stayed locked after a chip erase
    kUpdiStopped = -14,        // a stop was asked for
    kUpdiUnknownPart = -15,    // the signature is of no part known here
};

// A short English text for a result ("no echo from the adapter").
const char* UpdiResultText(int result);
