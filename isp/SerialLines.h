// The instructions on a serial port's modem lines: one system call per line
// change (DTR = MOSI, RTS = SCK, CTS = MISO), MOSI changed only when the
// bit differs from the level it has, and the status read only for the bits
// whose answer is looked at.
#pragma once

#include "ports/IspLines.h"
#include "ports/SerialPort.h"

class CSerialLines : public IIspLines {
public:
    // port: the open port to use, nullptr while none is open.
    void SetPort(ISerialPort* port) {
        m_port = port;
        Forget();
    }

    bool Shift(const uint32_t* instructions, const uint32_t* answerBits, uint32_t* answers,
               size_t count) override;
    size_t BatchLength() const override { return 1; }
    void Forget() override { m_mosi = kMosiUnknown; }

private:
    static constexpr int kMosiUnknown = -1;
    bool ShiftOne(uint32_t instruction, uint32_t answerBits, uint32_t& answer);
    bool Line(EscapeCode code);

    ISerialPort* m_port = nullptr;
    int m_mosi = kMosiUnknown;  // the level MOSI was last set to
};
