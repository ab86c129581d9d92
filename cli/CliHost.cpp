#include "cli/CliHost.h"

#include <cstdio>

#include "cli/CliSignals.h"

namespace {

// The progress line is redrawn at most this often; the first position after
// a new range is drawn at once.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr int64_t kPercent = 100;
constexpr size_t kProgressBufferSize = 64;

}  // namespace

CCliHost::CCliHost(std::ostream& out, std::ostream* progress, std::ostream* notices)
    : m_out(out), m_progress(progress), m_notices(notices) {}

void CCliHost::Notice(const std::string& text) {
    if (m_notices == nullptr) {
        AddMessage(text);
        return;
    }
    ClearProgress();
    std::string line = text;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.pop_back();
    }
    *m_notices << line << '\n' << std::flush;
}

void CCliHost::AddMessage(const std::string& text) {
    ClearProgress();
    m_pending += text;
    size_t start = 0;
    for (size_t end = m_pending.find('\n'); end != std::string::npos;
         end = m_pending.find('\n', start)) {
        size_t length = end - start;
        if (length > 0 && m_pending[end - 1] == '\r') {
            --length;
        }
        m_out.write(m_pending.data() + start, static_cast<std::streamsize>(length));
        m_out.put('\n');
        start = end + 1;
    }
    m_pending.erase(0, start);
    m_out.flush();
}

bool CCliHost::StopRequested() {
    return StopSignal() != 0;
}

void CCliHost::RequestStop() {
    RequestStopAsInterrupt();
}

void CCliHost::PrintLine(const std::string& line) {
    AddMessage(line + "\n");
}

void CCliHost::Finish() {
    ClearProgress();
    if (!m_pending.empty()) {
        AddMessage("\n");
    }
}

void CCliHost::SetProgressRange(int maximum) {
    m_maximum = maximum;
    m_start = Clock::now();
    m_drawnSinceRange = false;
}

void CCliHost::SetProgressPos(int position) {
    if (m_progress == nullptr) {
        return;
    }
    const Clock::time_point now = Clock::now();
    if (m_drawnSinceRange && now - m_lastDraw < kRedrawInterval) {
        return;
    }
    DrawProgress(position, now);
}

void CCliHost::DrawProgress(int position, Clock::time_point now) {
    const int64_t percent = m_maximum > 0 ? int64_t{position} * kPercent / m_maximum : 0;
    const double seconds = std::chrono::duration<double>(now - m_start).count();
    const auto rate = static_cast<long long>(seconds > 0 ? position / seconds : 0);
    char text[kProgressBufferSize];
    const int written = std::snprintf(text, sizeof text, "\r%3lld%%  %lld bytes/s",
                                      static_cast<long long>(percent), rate);
    std::string line(text, written > 0 ? static_cast<size_t>(written) : 0);
    // Cover what is left of a longer earlier line.
    const size_t visible = line.size() - 1;
    if (visible < m_shownLength) {
        line.append(m_shownLength - visible, ' ');
    }
    *m_progress << line << std::flush;
    m_shownLength = visible;
    m_lastDraw = now;
    m_drawnSinceRange = true;
}

void CCliHost::ClearProgress() {
    if (m_progress == nullptr || m_shownLength == 0) {
        return;
    }
    *m_progress << '\r' << std::string(m_shownLength, ' ') << '\r' << std::flush;
    m_shownLength = 0;
}
