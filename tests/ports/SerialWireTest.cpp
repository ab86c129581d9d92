// The UPDI wire over a real tty: a pseudo-terminal stands in for the cable,
// so opening, the frame, writes, reads and their time-outs are the real
// system calls. The test holds the other end (the master) and sees exactly
// the bytes the wire sent.
#include <gtest/gtest.h>

#ifndef _WIN32

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "ports/SerialWire.h"

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

constexpr int kShortMs = 100;
constexpr int kPatientMs = 2000;  // long enough for any loaded machine, never reached when right
constexpr size_t kChunk = 256;

// One pseudo-terminal pair; the wire opens the slave, the test keeps the master.
class CPty {
public:
    CPty() {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (m_master >= 0 && ::grantpt(m_master) == 0 && ::unlockpt(m_master) == 0) {
            m_slave = ::ptsname(m_master);
        }
    }
    ~CPty() { CloseMaster(); }
    bool Ok() const { return !m_slave.empty(); }
    const std::string& Slave() const { return m_slave; }
    void CloseMaster() {
        if (m_master >= 0) {
            ::close(m_master);
            m_master = -1;
        }
    }

    void Send(const std::vector<uint8_t>& bytes) const {
        ASSERT_EQ(::write(m_master, bytes.data(), bytes.size()),
                  static_cast<ssize_t>(bytes.size()));
    }
    // What the wire sent, up to n bytes within timeoutMs.
    std::vector<uint8_t> Take(size_t n, int timeoutMs) const {
        std::vector<uint8_t> got;
        const auto end = Clock::now() + Ms(timeoutMs);
        while (got.size() < n && Clock::now() < end) {
            pollfd p{m_master, POLLIN, 0};
            if (::poll(&p, 1, kShortMs) <= 0) {
                continue;
            }
            uint8_t buffer[kChunk];
            const ssize_t r = ::read(m_master, buffer, std::min(sizeof buffer, n - got.size()));
            if (r <= 0) {
                break;
            }
            got.insert(got.end(), buffer, buffer + r);
        }
        return got;
    }
    // The slave's settings, which the master's calls report on Linux.
    termios Settings() const {
        termios t{};
        ::tcgetattr(m_master, &t);
        return t;
    }

private:
    int m_master = -1;
    std::string m_slave;
};

class SerialWireTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_pty.Ok());
        std::string error;
        ASSERT_TRUE(m_wire.Open(m_pty.Slave(), error)) << error;
    }

    int m_argc = 1;
    char m_name[16] = "serial_wire";
    char* m_argv[2] = {m_name, nullptr};
    QCoreApplication m_app{m_argc, m_argv};  // as in the program
    CPty m_pty;
    CSerialWire m_wire;
};

long ElapsedMs(Clock::time_point since) {
    return static_cast<long>(std::chrono::duration_cast<Ms>(Clock::now() - since).count());
}

TEST_F(SerialWireTest, BytesArriveUnchangedAndEveryBaudKeepsTheFrame) {
    // Every value a frame can carry, the BREAK's 0x00 and the SYNCH among them.
    std::vector<uint8_t> all(kChunk);
    for (size_t i = 0; i < all.size(); ++i) {
        all[i] = static_cast<uint8_t>(i);
    }
    ASSERT_TRUE(m_wire.Write(all.data(), all.size()));
    EXPECT_EQ(m_pty.Take(all.size(), kPatientMs), all);
    // The BREAK's slow baud, the chip's limit at its reset clock (not a
    // standard rate) and faster ones. A pseudo-terminal keeps itself at 8
    // bits without parity whatever it is asked (Linux): parity shows only on
    // a real UART.
    for (const uint32_t baud : {300u, 225000u, 230400u, 460800u}) {
        SCOPED_TRACE(baud);
        ASSERT_TRUE(m_wire.SetBaud(baud));
        EXPECT_EQ(m_wire.Baud(), baud);
        const termios t = m_pty.Settings();
        EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
        EXPECT_NE(t.c_cflag & CSTOPB, 0u) << "one stop bit";
        EXPECT_EQ(t.c_cflag & CRTSCTS, 0u) << "hardware flow control";
        EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u) << "software flow control";
        if (baud == 300u) {
            EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B300));
        }
    }
    EXPECT_FALSE(m_wire.SetBaud(0));
}

TEST_F(SerialWireTest, ReadWaitsForPiecesKeepsTheRestAndEndsAtItsTimeOut) {
    m_pty.Send({0x55});
    std::thread later([this] {
        std::this_thread::sleep_for(Ms(kShortMs / 2));
        m_pty.Send({0x40, 0x41, 0x42});
    });
    uint8_t got[3] = {};
    const int n = m_wire.Read(got, sizeof got, kPatientMs);
    later.join();
    ASSERT_EQ(n, 3);
    EXPECT_EQ(got[2], 0x41);
    const auto start = Clock::now();
    ASSERT_EQ(m_wire.Read(got, sizeof got, kShortMs), 1);  // the time ran out
    EXPECT_EQ(got[0], 0x42);
    EXPECT_GE(ElapsedMs(start), kShortMs - 5);
    EXPECT_LT(ElapsedMs(start), kPatientMs);
    EXPECT_EQ(m_wire.Read(got, sizeof got, 0), 0);  // no wait at all
}

TEST_F(SerialWireTest, DiscardDropsWhatHasArrived) {
    m_pty.Send({9, 9, 9});
    std::this_thread::sleep_for(Ms(kShortMs));  // into the slave's queue
    m_wire.Discard();
    m_pty.Send({7});
    uint8_t got[4] = {};
    ASSERT_EQ(m_wire.Read(got, sizeof got, kShortMs), 1);
    EXPECT_EQ(got[0], 7);
}

TEST_F(SerialWireTest, ReadAfterTheOtherEndHungUpFailsAtOnce) {
    m_pty.CloseMaster();  // the cable pulled
    uint8_t got[1] = {};
    const auto start = Clock::now();
    EXPECT_EQ(m_wire.Read(got, 1, kPatientMs), -1);
    EXPECT_LT(ElapsedMs(start), kPatientMs / 2);
    EXPECT_EQ(m_wire.LastErrorKind(), PortErrorKind::NotAnswering);
}

TEST_F(SerialWireTest, PortInUseAndMissingDeviceAreToldApart) {
    CSerialWire other;
    std::string error;
    EXPECT_FALSE(other.Open(m_pty.Slave(), error));
    EXPECT_EQ(other.LastErrorKind(), PortErrorKind::InUse);
    EXPECT_FALSE(other.Open("/dev/brenwick-no-such-tty", error));
    EXPECT_EQ(other.LastErrorKind(), PortErrorKind::NoDevice);
    EXPECT_FALSE(error.empty());
    const uint8_t byte = 0;
    EXPECT_FALSE(other.Write(&byte, 1));
}

}  // namespace

#endif
