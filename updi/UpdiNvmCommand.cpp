#include "updi/UpdiNvmCommand.h"

#include "updi/UpdiLink.h"
#include "updi/UpdiResult.h"

namespace {

constexpr uint32_t kCtrlA = 0x00;
constexpr uint8_t kNoCommand = 0x00;
constexpr uint8_t kNoError = 0x00;
// A chip erase of the largest part takes tens of milliseconds; each poll is
// at least one round trip, so a count of polls bounds the wait in any time
// base. The count allows seconds at 900 kbaud.
constexpr int kMaxPolls = 20000;

}  // namespace

int CUpdiNvmCommand::WaitReady() {
    for (int poll = 0; poll < kMaxPolls; ++poll) {
        uint8_t status = 0;
        const int result = m_link.Lds8(m_base + m_bits.statusOffset, status);
        if (result != kUpdiOk) {
            return result;
        }
        if ((status & m_bits.busyMask) != 0) {
            continue;
        }
        if ((status & m_bits.errorMask) == 0) {
            return kUpdiOk;
        }
        // The error code stays until cleared, and a command collision makes
        // the controller ignore every later operation: clear it, so that
        // one failure is reported once.
        m_link.Sts8(m_base + m_bits.statusOffset, kNoError);
        return kUpdiNvmError;
    }
    return kUpdiNvmBusy;
}

int CUpdiNvmCommand::WriteCommand(uint8_t command) {
    const int result = m_link.Sts8(m_base + kCtrlA, command);
    m_commandKnown = result == kUpdiOk;
    m_command = command;
    return result;
}

int CUpdiNvmCommand::Select(uint8_t command) {
    if (m_commandKnown && m_command == command) {
        return kUpdiOk;
    }
    int result = WaitReady();
    if (result == kUpdiOk && !(m_commandKnown && m_command == kNoCommand)) {
        result = WriteCommand(kNoCommand);
    }
    if (result == kUpdiOk && command != kNoCommand) {
        result = WriteCommand(command);
    }
    return result;
}

int CUpdiNvmCommand::Issue(uint8_t command) {
    int result = Select(kNoCommand);
    return result == kUpdiOk ? WriteCommand(command) : result;
}
