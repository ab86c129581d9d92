// What the programming operations need of the window that runs them. The
// main window implements it over its controls; tests and the command-line
// tool implement it over plain values.
#pragma once

#include <string>

// The four tick boxes: 1 = ticked = the bit is programmed (reads 0).
struct LockTicks {
    int m_bLockBit1 = 0;
    int m_bLockBit2 = 0;
    int m_bFstrt = 0;
    int m_bSpien = 0;
};

class IOperationHost {
public:
    virtual ~IOperationHost() = default;

    // Copy the tick boxes and the message text from the controls into the
    // values, or the values to the controls; always all at once.
    virtual void TakeFromScreen() = 0;
    virtual void ShowOnScreen() = 0;
    // Appends text to the message text (shown by the next ShowOnScreen).
    virtual void AddMessage(const std::string& text) = 0;
    // Appends, shows on screen and scrolls the pane to its last line.
    virtual void AppendMessage(const std::string& text) = 0;
    // Scrolls the pane to its last line without adding anything.
    virtual void ScrollToEnd() = 0;

    virtual void SetProgressRange(int maximum) = 0;
    virtual void SetProgressPos(int position) = 0;

    virtual LockTicks& Ticks() = 0;
    virtual void SetProgLoaded() = 0;
    virtual void SetDataLoaded() = 0;
    virtual void RefreshProgView() = 0;
    virtual void RefreshDataView() = 0;

    // Called between words or bytes of a long operation; the window lets its
    // non-input events run here, at most every few tens of milliseconds.
    virtual void Yield() = 0;
};
