#include "isp/SerialLines.h"

namespace {

constexpr int kInstructionBits = 32;

}  // namespace

bool CSerialLines::Line(EscapeCode code) {
    return m_port != nullptr && m_port->EscapeCommFunction(code);
}

bool CSerialLines::Shift(const uint32_t* instructions, const uint32_t* answerBits,
                         uint32_t* answers, size_t count) {
    bool linesOk = true;
    for (size_t i = 0; i < count; ++i) {
        linesOk &= ShiftOne(instructions[i], answerBits[i], answers[i]);
    }
    return linesOk;
}

bool CSerialLines::ShiftOne(uint32_t instruction, uint32_t answerBits, uint32_t& answer) {
    // Every line change is one system call and each costs the same (about
    // 2 us on a 16550, a USB round trip on a converter), so none is made
    // that carries nothing. Each SCK phase still spans at least one call,
    // the high one from SETRTS to CLRRTS, the low one from CLRRTS to the
    // next SETRTS; MOSI is set before SCK rises.
    answer = 0;
    bool linesOk = true;
    for (int bit = kInstructionBits - 1; bit >= 0; --bit) {
        const int level = static_cast<int>((instruction >> bit) & 1u);
        if (level != m_mosi) {
            const bool set = Line(level != 0 ? SETDTR : CLRDTR);
            linesOk &= set;
            m_mosi = set ? level : kMosiUnknown;
        }
        linesOk &= Line(SETRTS);  // SCK rises: the target samples MOSI
        uint32_t status = 0;
        if (((answerBits >> bit) & 1u) != 0) {
            const bool read = m_port != nullptr && m_port->GetCommModemStatus(status);
            linesOk &= read;
            status = read ? status : 0;
        }
        linesOk &= Line(CLRRTS);  // SCK falls: the target puts out its next bit
        answer = (answer << 1) | ((status & MS_CTS_ON) != 0 ? 1u : 0u);
    }
    if (!linesOk) {
        m_mosi = kMosiUnknown;  // after a failed call nothing is known of the lines
    }
    return linesOk;
}
