#include "FaultBench.h"

#include <utility>

#include "parts/DeviceTable.h"

namespace {
constexpr int kSimComPort = 2;
constexpr uint8_t kErased = 0xFF;
constexpr char kResultIndent = ' ';
}  // namespace

void CFaultLog::Add(FaultEvent event) {
    if (event.kind == FaultEvent::Kind::Call) {
        // Counted here, on the hot path, rather than asked of the simulator.
        ++m_lineCalls;
    } else {
        event.instructions = Instructions();
    }
    event.lineCalls = m_lineCalls;
    m_events.push_back(std::move(event));
}

uint64_t CFaultLog::Instructions() const {
    return m_sim.Counters().instructions;
}

bool CRecordingPort::EscapeCommFunction(EscapeCode code) {
    LineCall call = LineCall::ClrRts;
    switch (code) {
        case SETDTR:
            call = LineCall::SetDtr;
            break;
        case CLRDTR:
            call = LineCall::ClrDtr;
            break;
        case SETRTS:
            call = LineCall::SetRts;
            break;
        default:
            break;
    }
    return Note(call, m_port.EscapeCommFunction(code));
}

bool CRecordingPort::Note(LineCall call, bool ok) {
    FaultEvent event;
    event.kind = FaultEvent::Kind::Call;
    event.call = call;
    event.ok = ok;
    m_log.Add(std::move(event));
    return ok;
}

void CRecordingHost::AddMessage(const std::string& text) {
    FaultEvent event;
    event.kind = !text.empty() && text.front() != kResultIndent ? FaultEvent::Kind::Heading
                                                                : FaultEvent::Kind::Line;
    event.text = text;
    m_log.Add(std::move(event));
}

void CRecordingHost::AppendMessage(const std::string& text) {
    AddMessage(text);
    ShowOnScreen();
}

void CRecordingHost::ScrollToEnd() {
    FaultEvent event;
    event.kind = FaultEvent::Kind::Scroll;
    m_log.Add(std::move(event));
}

CFaultBench::CFaultBench(int deviceRow, const SimConfig& config)
    : sim(config, counter),
      log(sim),
      port(sim, log),
      adapter(port, counter),
      host(log),
      ops(adapter, images, host) {
    adapter.SetPortNames({{kSimComPort, "sim"}});
    adapter.SelectPort(kSimComPort);
    adapter.SelectDeviceRow(deviceRow);
    images.m_progImage.assign(adapter.m_nProgSize, kErased);
    images.m_dataImage.assign(adapter.m_nDataSize, kErased);
}
