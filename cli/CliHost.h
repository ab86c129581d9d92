// The operations' host for the command-line tool: the message pane becomes
// lines on an output stream (plain line ends), the progress bar a progress
// line on a terminal, and the tick boxes plain values.
#pragma once

#include <chrono>
#include <ostream>
#include <string>

#include "ops/OperationHost.h"

class CCliHost : public IOperationHost {
public:
    // out receives the message lines; progress, when not null, the progress
    // line (only for a terminal: it is redrawn in place with carriage returns).
    CCliHost(std::ostream& out, std::ostream* progress, std::ostream* notices = nullptr);
    // Notices go to the error output (or the output when there is none).
    void Notice(const std::string& text) override;

    void AddMessage(const std::string& text) override;
    void AppendMessage(const std::string& text) override { AddMessage(text); }
    void SetProgressRange(int maximum) override;
    void SetProgressPos(int position) override;
    LockTicks& Ticks() override { return m_ticks; }
    // A stop signal (see cli/CliSignals.h).
    bool StopRequested() override;
    void RequestStop() override;

    // Prints a line of the tool's own on the output ("\n" added).
    void PrintLine(const std::string& line);
    // Prints what is left of an unfinished line and removes the progress line.
    void Finish();
    // Removes the progress line, so that other output starts on a clean line.
    void ClearProgress();

private:
    using Clock = std::chrono::steady_clock;

    void DrawProgress(int position, Clock::time_point now);

    std::ostream& m_out;
    std::ostream* m_progress;
    std::ostream* m_notices;
    std::string m_pending;  // text after the last complete line
    LockTicks m_ticks;

    int m_maximum = 0;
    Clock::time_point m_start{};
    Clock::time_point m_lastDraw{};
    bool m_drawnSinceRange = false;
    size_t m_shownLength = 0;  // length of the progress line on screen, 0 when none
};
