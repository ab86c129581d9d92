// What the fault tests run the operations against: the simulated adapter and
// target on the virtual counter, behind a port that writes every line call it
// forwards (and whether it worked) into the same log as the messages the
// operations post. From that one log a test can tell, part by part, which
// lines were posted, whether the port had already failed when a result line
// came, and how programming mode was left.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "isp/IspAdapter.h"
#include "ops/OperationHost.h"
#include "ops/Operations.h"
#include "sim/SimTarget.h"
#include "sim/VirtualCounter.h"
#include "tests/support/PassThroughPort.h"

enum class LineCall { SetDtr, ClrDtr, SetRts, ClrRts, SetBreak, ClearBreak, Status };

struct FaultEvent {
    enum class Kind { Heading, Line, Scroll, Call };
    Kind kind = Kind::Line;
    std::string text;  // Heading and Line
    LineCall call = LineCall::Status;
    bool ok = true;  // Call: whether the port did it
    // The counts when the event happened.
    uint64_t lineCalls = 0;     // line calls so far, failed ones included
    uint64_t instructions = 0;  // instructions the target took (messages only)
};

class CFaultLog {
public:
    explicit CFaultLog(const CSimPort& sim) : m_sim(sim) {}

    void Add(FaultEvent event);
    const std::vector<FaultEvent>& Events() const { return m_events; }
    void Clear() { m_events.clear(); }
    // Every line call goes through the recording port, so its count is the
    // simulator's count of line calls ever made.
    uint64_t LineCalls() const { return m_lineCalls; }
    uint64_t Instructions() const;

private:
    const CSimPort& m_sim;
    std::vector<FaultEvent> m_events;
    uint64_t m_lineCalls = 0;
};

// Forwards everything to the simulated port and logs each line call.
class CRecordingPort : public CPassThroughPort {
public:
    CRecordingPort(ISerialPort& port, CFaultLog& log) : CPassThroughPort(port), m_log(log) {}

    bool EscapeCommFunction(EscapeCode code) override;
    bool SetCommBreak() override { return Note(LineCall::SetBreak, m_port.SetCommBreak()); }
    bool ClearCommBreak() override { return Note(LineCall::ClearBreak, m_port.ClearCommBreak()); }
    bool GetCommModemStatus(uint32_t& status) override {
        return Note(LineCall::Status, m_port.GetCommModemStatus(status));
    }

private:
    bool Note(LineCall call, bool ok);

    CFaultLog& m_log;
};

// A window as the operations see it, posting into the log. Lines that start
// without a space are headings.
class CRecordingHost : public IOperationHost {
public:
    explicit CRecordingHost(CFaultLog& log) : m_log(log) {}

    LockTicks screenTicks;  // the boxes
    LockTicks ticks;        // the values behind them
    bool progLoaded = false;
    bool dataLoaded = false;

    void TakeFromScreen() override { ticks = screenTicks; }
    void ShowOnScreen() override { screenTicks = ticks; }
    void AddMessage(const std::string& text) override;
    void AppendMessage(const std::string& text) override;
    void ScrollToEnd() override;
    void SetProgressRange(int) override {}
    void SetProgressPos(int) override {}
    LockTicks& Ticks() override { return ticks; }
    void ImageChanged(bool prog, bool loaded) override {
        if (loaded) {
            (prog ? progLoaded : dataLoaded) = true;
        }
    }

private:
    CFaultLog& m_log;
};

// The simulated chip of a device row behind the recording port on COM2,
// that row selected and the images sized as the window does.
class CFaultBench {
public:
    CFaultBench(int deviceRow, const SimConfig& config);

    CVirtualCounter counter;
    CSimPort sim;
    CFaultLog log;
    CRecordingPort port;
    CIspAdapter adapter;
    CRecordingHost host;
    MemoryImages images;
    COperations ops;
};
