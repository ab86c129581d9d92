// What the operation tests run against: a host that records what the
// operations did to the window, and the simulated adapter and target on the
// virtual counter, behind a port that counts how often programming mode was
// left.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "isp/IspAdapter.h"
#include "ops/OperationHost.h"
#include "ops/Operations.h"
#include "parts/DeviceTable.h"
#include "ports/FtdiPort.h"
#include "sim/SimFtdiCable.h"
#include "sim/SimTarget.h"
#include "sim/VirtualCounter.h"
#include "tests/support/PassThroughPort.h"

// Device rows the tests use by name.
const int kAT90S8535 = FindDeviceByName("AT90S8535");      // 8192 / 512 bytes
const int kAT90S1200 = FindDeviceByName("AT90S1200");      // 1024 / 64 bytes
const int kAT90S8515 = FindDeviceByName("AT90S8515");      // 8192 / 512 bytes, other polling values
const int kAT90S2313 = FindDeviceByName("AT90S2313");      // 2048 / 128 bytes
const int kATtiny10 = FindDeviceByName("ATtiny10/11/12");  // signature value wider than a byte
const int kAT90S2323 = FindDeviceByName("AT90S2323");      // 2048 / 128 bytes, lock read and FSTRT
const int kAT90S2343 = FindDeviceByName("AT90S2343");      // RCEN where others have FSTRT
const int kAT90S4433 = FindDeviceByName("AT90S4433");      // lock bits read in bits 2/1
const int kATtiny15 = FindDeviceByName("ATtiny15");        // fuse byte with RSTDISBL
const int kATmega103 = FindDeviceByName("ATmega103");      // 131072 / 4096 bytes, 256-byte pages
const int kATmega161 = FindDeviceByName("ATmega161");      // 128-byte pages, six lock bits

// A window as the operations see it: controls and the values behind them
// kept apart, so that take from screen and show on screen can be observed.
class CFakeHost : public IOperationHost {
public:
    // The controls.
    LockTicks screenTicks;
    std::string pane;
    // The values.
    LockTicks ticks;
    std::string messages;

    // Everything but the progress bar, in order: "add:<text>", "show",
    // "append:<text>", "scroll", "progLoaded", "dataLoaded", "refreshProg",
    // "refreshData", "take".
    std::vector<std::string> events;

    int progressMax = -1;  // -1: never set
    int progressPos = -1;
    int rangeCalls = 0;
    int positionCalls = 0;
    std::vector<int> rangesSet;

    bool progLoaded = false;
    bool dataLoaded = false;
    int yields = 0;
    std::function<void()> onYield;

    void TakeFromScreen() override {
        ticks = screenTicks;
        messages = pane;
        events.push_back("take");
    }
    void ShowOnScreen() override {
        screenTicks = ticks;
        pane = messages;
        events.push_back("show");
    }
    void AddMessage(const std::string& text) override {
        messages += text;
        events.push_back("add:" + text);
    }
    void AppendMessage(const std::string& text) override {
        messages += text;
        screenTicks = ticks;
        pane = messages;
        events.push_back("append:" + text);
    }
    void ScrollToEnd() override { events.push_back("scroll"); }
    void SetProgressRange(int maximum) override {
        progressMax = maximum;
        rangesSet.push_back(maximum);
        ++rangeCalls;
    }
    void SetProgressPos(int position) override {
        progressPos = position;
        ++positionCalls;
    }
    LockTicks& Ticks() override { return ticks; }
    void ImageChanged(bool prog, bool loaded) override {
        if (loaded) {
            (prog ? progLoaded : dataLoaded) = true;
            events.push_back(prog ? "progLoaded" : "dataLoaded");
        }
        events.push_back(prog ? "refreshProg" : "refreshData");
    }
    void Yield() override {
        ++yields;
        if (onYield) {
            onYield();
        }
    }

    int Count(const std::string& event) const;
};

// Forwards to the simulated port and recognises the end of programming
// mode on the lines: RESET released and not asserted again straight away
// (a reset pulse asserts it again at once).
class CLeaveCountingPort : public CPassThroughPort {
public:
    explicit CLeaveCountingPort(ISerialPort& port) : CPassThroughPort(port) {}

    int Leaves() const { return m_leaves + (m_released ? 1 : 0); }
    void ResetCount() {
        m_leaves = 0;
        m_released = false;
    }

    bool EscapeCommFunction(EscapeCode code) override {
        Settle();
        return m_port.EscapeCommFunction(code);
    }
    bool SetCommBreak() override {
        m_released = false;
        return m_port.SetCommBreak();
    }
    bool ClearCommBreak() override {
        Settle();
        const bool ok = m_port.ClearCommBreak();
        m_released = ok;
        return ok;
    }
    bool GetCommModemStatus(uint32_t& status) override {
        Settle();
        return m_port.GetCommModemStatus(status);
    }

private:
    void Settle() {
        if (m_released) {
            ++m_leaves;
            m_released = false;
        }
    }

    int m_leaves = 0;
    bool m_released = false;
};

// The simulated target of a device row behind the adapter on COM2, that
// row (or another) selected and the images sized as the window does.
class COpsBench {
public:
    using ConfigChange = std::function<void(SimConfig&)>;

    // overCable: the adapter on a simulated FT232R cable in bit-bang mode
    // instead of the serial port's modem lines.
    explicit COpsBench(int chipRow, const ConfigChange& change = {}, int selectedRow = -1,
                       bool overCable = false);

    CVirtualCounter counter;
    CSimPort sim;
    CSimFtdiCable cable;
    CFtdiPort ftdi;
    CLeaveCountingPort port;
    CIspAdapter adapter;
    CFakeHost host;
    MemoryImages images;
    COperations ops;

    // Leaves of programming mode since the bench was made.
    int Leaves() const { return port.Leaves(); }
    // Fills the image with bytes from a fixed seed.
    static void FillRandom(std::vector<uint8_t>& bytes, uint32_t seed);

private:
    static SimConfig MakeConfig(int chipRow, const ConfigChange& change);
};

// The pane's lines, each with its "\r\n".
std::vector<std::string> PaneLines(const std::string& pane);
