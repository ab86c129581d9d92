// The real port's line operations at the system calls: a pseudo-terminal
// stands in for the device, so opening and configuring stay real, and a
// recording fake takes the line calls in place of the system's.
#include <gtest/gtest.h>

#ifndef _WIN32

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/PerformanceCounter.h"
#include "isp/IspAdapter.h"
#include "ports/QtSerialPort.h"

namespace {

constexpr int kPort = 1;
constexpr int kNoArgument = -1;
using LineCall = std::pair<unsigned long, int>;  // request, bits passed

class CRecordingLineCalls : public ISerialLineCalls {
public:
    int Ioctl(int fd, unsigned long request, int* bits) override {
        calls.emplace_back(request, bits != nullptr ? *bits : kNoArgument);
        const char* name = ::ttyname(fd);  // null unless fd is an open tty
        devices.emplace_back(name != nullptr ? name : "");
        if (request == TIOCMGET && bits != nullptr) {
            *bits = answer;
        }
        return error;
    }

    std::vector<LineCall> calls;
    std::vector<std::string> devices;
    int answer = 0;
    int error = 0;
};

struct Bench {
    CRecordingLineCalls lines;
    CQtSerialPort port{&lines};
    CSteadyCounter counter;
    std::unique_ptr<CIspAdapter> adapter = std::make_unique<CIspAdapter>(port, counter);
};

// Besides the escape codes, which stand for themselves.
enum Op { kBreakOn = 100, kBreakOff, kStatus, kOpen, kClose };

bool Do(int op, Bench& b, uint32_t& status) {
    switch (op) {
        case kBreakOn:
            return b.port.SetCommBreak();
        case kBreakOff:
            return b.port.ClearCommBreak();
        case kStatus:
            return b.port.GetCommModemStatus(status);
        case kOpen:
            return b.adapter->OpenPort(kPort) == kPortOk;
        case kClose:  // the adapter goes on closing; the port keeps the reason
            b.adapter.reset();
            return b.port.LastError().empty();
        default:
            return b.port.EscapeCommFunction(static_cast<EscapeCode>(op));
    }
}

struct Row {
    const char* name;
    int op;
    int answer;  // the status lines the system reports
    std::vector<LineCall> calls;
    uint32_t status;
};

TEST(QtSerialPortLines, EachOperationIsOneCallOnThePortAndFailuresAreReported) {
    int argc = 1;
    char name[] = "isp_tests";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);  // QSerialPort wants an event loop, as in the program
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_TRUE(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
    const std::string device = ::ptsname(master);

    const Row rows[] = {
        {"SETDTR", SETDTR, 0, {{TIOCMBIS, TIOCM_DTR}}, 0},
        {"CLRDTR", CLRDTR, 0, {{TIOCMBIC, TIOCM_DTR}}, 0},
        {"SETRTS", SETRTS, 0, {{TIOCMBIS, TIOCM_RTS}}, 0},
        {"CLRRTS", CLRRTS, 0, {{TIOCMBIC, TIOCM_RTS}}, 0},
        {"break on", kBreakOn, 0, {{TIOCSBRK, kNoArgument}}, 0},
        {"break off", kBreakOff, 0, {{TIOCCBRK, kNoArgument}}, 0},
        {"CTS", kStatus, TIOCM_CTS, {{TIOCMGET, 0}}, MS_CTS_ON},
        {"DSR", kStatus, TIOCM_DSR, {{TIOCMGET, 0}}, MS_DSR_ON},
        {"RI", kStatus, TIOCM_RI, {{TIOCMGET, 0}}, MS_RING_ON},
        {"CD", kStatus, TIOCM_CD, {{TIOCMGET, 0}}, MS_RLSD_ON},
        // The tty comes up with DTR and RTS raised: MOSI 0, SCK low, no RESET.
        {"open",
         kOpen,
         0,
         {{TIOCMBIC, TIOCM_DTR}, {TIOCMBIC, TIOCM_RTS}, {TIOCCBRK, kNoArgument}},
         0},
        // RESET is released while the port is still open.
        {"close", kClose, 0, {{TIOCCBRK, kNoArgument}}, 0},
    };
    for (const Row& row : rows) {
        for (const int error : {0, EIO}) {
            SCOPED_TRACE(std::string(row.name) + (error != 0 ? ", failing" : ""));
            Bench b;
            b.adapter->SetPortNames({{kPort, device}});
            if (row.op != kOpen) {
                ASSERT_EQ(b.adapter->OpenPort(kPort), kPortOk) << b.port.LastError();
                b.lines = CRecordingLineCalls();
            }
            b.lines.answer = row.answer;
            b.lines.error = error;
            uint32_t status = 0;
            EXPECT_EQ(Do(row.op, b, status), error == 0);
            // A failed line call is a port that stopped answering.
            EXPECT_EQ(b.port.LastErrorKind(),
                      error == 0 ? PortErrorKind::None : PortErrorKind::NotAnswering);
            if (error == 0) {
                EXPECT_EQ(b.lines.calls, row.calls);
                EXPECT_EQ(b.lines.devices, std::vector<std::string>(row.calls.size(), device));
                EXPECT_EQ(status, row.status);
            } else {
                EXPECT_EQ(b.lines.calls.size(), 1u);  // nothing after the failed call
                EXPECT_EQ(b.port.LastError(), std::strerror(EIO));
            }
        }
    }
    ::close(master);
}

// Why an open failed, told apart as the messages need it: no such device,
// a port another program holds, a port this user may not open.
TEST(QtSerialPortOpen, FailuresAreToldApartByKind) {
    int argc = 1;
    char name[] = "isp_tests";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    CQtSerialPort missing;
    EXPECT_FALSE(missing.Open("/dev/brenwick-no-such-port"));
    EXPECT_EQ(missing.LastErrorKind(), PortErrorKind::NoDevice);

    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_TRUE(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
    const std::string device = ::ptsname(master);
    CQtSerialPort holder;
    ASSERT_TRUE(holder.Open(device)) << holder.LastError();
    EXPECT_EQ(holder.LastErrorKind(), PortErrorKind::None);
    CQtSerialPort second;
    EXPECT_FALSE(second.Open(device));
    EXPECT_EQ(second.LastErrorKind(), PortErrorKind::InUse) << second.LastError();
    holder.Close();

    // Only a user the system holds to the device's permissions can be kept out.
    if (::geteuid() != 0) {
        ASSERT_EQ(::chmod(device.c_str(), 0), 0);
        CQtSerialPort forbidden;
        EXPECT_FALSE(forbidden.Open(device));
        EXPECT_EQ(forbidden.LastErrorKind(), PortErrorKind::Permission) << forbidden.LastError();
    }
    ::close(master);
}

}  // namespace

#endif
