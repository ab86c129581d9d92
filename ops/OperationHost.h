// What the programming operations need of the front end that runs them. The
// main window implements it over its controls; the command-line tool and the
// tests over plain values.
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

    // What every front end has: the message lines, the progress and the
    // lock bits.
    // Appends text to the message text (a window shows it at its next show).
    virtual void AddMessage(const std::string& text) = 0;
    // Appends text and has it seen at once (a window shows it and scrolls
    // its pane to the last line).
    virtual void AppendMessage(const std::string& text) = 0;
    virtual void SetProgressRange(int maximum) = 0;
    virtual void SetProgressPos(int position) = 0;
    virtual LockTicks& Ticks() = 0;

    // What only a window has; elsewhere they do nothing.
    // Copy the tick boxes and the message text from the controls into the
    // values, or the values to the controls; always all at once.
    virtual void TakeFromScreen() {}
    virtual void ShowOnScreen() {}
    // Scrolls the pane to its last line without adding anything.
    virtual void ScrollToEnd() {}
    // The program (prog) or data image changed: read from the device
    // (loaded: it now holds content of its own), or blanked by an erase.
    virtual void ImageChanged(bool prog, bool loaded) {
        static_cast<void>(prog);
        static_cast<void>(loaded);
    }
    // Called between words or bytes of a long operation; a window lets its
    // non-input events run here, at most every few tens of milliseconds.
    virtual void Yield() {}
    // A word about the set-up rather than an operation (how to make the
    // cable faster, say): the window puts it in its pane, the tool on its
    // error output.
    virtual void Notice(const std::string& text) { AddMessage(text); }

    // Whether the user asked for the running operation to stop. Asked
    // between words, bytes and page loads, never inside an instruction.
    virtual bool StopRequested() { return false; }
    // Asks for a stop from below the front end (a simulated fault): the
    // front end takes it as its own Stop.
    virtual void RequestStop() {}
};
