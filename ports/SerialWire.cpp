#include "ports/SerialWire.h"

#include "ports/QtSerialPort.h"

#include <QDeadlineTimer>
#include <QSerialPort>
#include <QString>
#include <algorithm>

#ifndef _WIN32
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif
#ifdef __linux__
#include <linux/major.h>
#include <sys/sysmacros.h>
#endif

namespace {

// Until the link asks for another: a baud every cable and the chip's UPDI
// after reset both follow.
constexpr uint32_t kStartBaud = 115200;
constexpr int64_t kBitsPerFrame = 12;  // start, 8 data, parity, 2 stop
constexpr int64_t kMsPerSecond = 1000;
// What a USB cable may add to the bytes' own time before it takes them.
constexpr int kWriteSlackMs = 500;

// The device has gone away (unplugged, hung up), as opposed to a wait that
// simply ran out.
bool DeviceLost(QSerialPort::SerialPortError error) {
    return error == QSerialPort::ResourceError || error == QSerialPort::NotOpenError ||
           error == QSerialPort::DeviceNotFoundError || error == QSerialPort::PermissionError;
}

// The other end hung up: a USB cable pulled reads as an error, a closed
// pseudo-terminal as an endless end of file, which Qt takes for no data yet.
bool HungUp(QSerialPort& port) {
#ifdef _WIN32
    (void)port;
    return false;
#else
    pollfd state{static_cast<int>(port.handle()), POLLIN, 0};
    return ::poll(&state, 1, 0) > 0 && (state.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
#endif
}

// A pseudo-terminal carries bytes, not frames: Linux keeps every pty at 8
// bits without parity whatever it is asked, so there the parity cannot be set
// and nothing depends on it. Anywhere else a refused parity is a failure:
// the chip would not understand a single frame.
bool CarriesNoParity(QSerialPort& port) {
#ifdef __linux__
    struct stat status {};
    if (::fstat(static_cast<int>(port.handle()), &status) != 0 || !S_ISCHR(status.st_mode)) {
        return false;
    }
    const unsigned int type = major(status.st_rdev);
    return type >= UNIX98_PTY_SLAVE_MAJOR && type < UNIX98_PTY_SLAVE_MAJOR + UNIX98_PTY_MAJOR_COUNT;
#else
    (void)port;
    return false;
#endif
}

}  // namespace

CSerialWire::CSerialWire() : m_baud(kStartBaud) {}

CSerialWire::~CSerialWire() {
    Close();
}

bool CSerialWire::Open(const std::string& path, std::string& error) {
    Close();
    auto port = std::make_unique<QSerialPort>();
    port->setPortName(QString::fromStdString(path));
    // QSerialPort opens exclusively and takes the usual lock file.
    if (!port->open(QIODevice::ReadWrite)) {
        error = port->errorString().toStdString();
        m_lastKind = QtOpenFailureKind(path, port->error());
        return false;
    }
    m_port = std::move(port);
    if (!ApplyFrame()) {
        error = m_port->errorString().toStdString();
        m_lastKind = PortErrorKind::Other;
        Close();
        return false;
    }
    m_port->clear(QSerialPort::AllDirections);
    m_lastKind = PortErrorKind::None;
    return true;
}

void CSerialWire::Close() {
    if (m_port != nullptr) {
        m_port->close();
        m_port.reset();
    }
}

bool CSerialWire::ApplyFrame() {
    return m_port->setBaudRate(static_cast<qint32>(m_baud)) &&
           m_port->setDataBits(QSerialPort::Data8) && m_port->setStopBits(QSerialPort::TwoStop) &&
           m_port->setFlowControl(QSerialPort::NoFlowControl) &&
           (m_port->setParity(QSerialPort::EvenParity) || CarriesNoParity(*m_port));
}

bool CSerialWire::Gone() {
    m_lastKind = PortErrorKind::NotAnswering;
    return false;
}

bool CSerialWire::SetBaud(uint32_t baud) {
    if (baud == 0) {
        return false;
    }
    if (m_port == nullptr) {
        m_baud = baud;  // taken by the next open
        return true;
    }
    // The frame is set again with it: a driver that resets parity or stop
    // bits along with the speed must not leave the chip reading 8N1.
    const uint32_t before = m_baud;
    m_baud = baud;
    if (!ApplyFrame()) {
        m_baud = before;
        return false;
    }
    return true;
}

bool CSerialWire::Write(const uint8_t* data, size_t n) {
    if (m_port == nullptr) {
        return false;
    }
    if (n == 0) {
        return true;
    }
    m_port->clearError();
    if (m_port->write(reinterpret_cast<const char*>(data), static_cast<qint64>(n)) !=
        static_cast<qint64>(n)) {
        return Gone();
    }
    // Everything goes to the driver before the caller starts waiting for the
    // echo: a half-sent instruction would only time out.
    const int64_t wireMs = static_cast<int64_t>(n) * kBitsPerFrame * kMsPerSecond / m_baud;
    const QDeadlineTimer deadline(wireMs + kWriteSlackMs, Qt::PreciseTimer);
    while (m_port->bytesToWrite() > 0) {
        const int left = static_cast<int>(std::max<qint64>(deadline.remainingTime(), 0));
        if (!m_port->waitForBytesWritten(left)) {
            if (DeviceLost(m_port->error())) {
                return Gone();
            }
            if (deadline.hasExpired()) {
                return false;
            }
        }
    }
    return true;
}

int CSerialWire::Read(uint8_t* data, size_t n, int timeoutMs) {
    if (m_port == nullptr) {
        return -1;
    }
    m_port->clearError();
    const QDeadlineTimer deadline(std::max(timeoutMs, 0), Qt::PreciseTimer);
    size_t got = 0;
    for (;;) {
        const qint64 read =
            m_port->read(reinterpret_cast<char*>(data) + got, static_cast<qint64>(n - got));
        if (read < 0) {
            Gone();
            return -1;
        }
        got += static_cast<size_t>(read);
        if (got == n || deadline.hasExpired()) {
            break;
        }
        const int left = static_cast<int>(deadline.remainingTime());
        if (!m_port->waitForReadyRead(left) && (DeviceLost(m_port->error()) || HungUp(*m_port))) {
            Gone();
            return -1;
        }
    }
    return static_cast<int>(got);
}

void CSerialWire::Discard() {
    if (m_port != nullptr) {
        // Both Qt's buffer and the driver's queue.
        m_port->clear(QSerialPort::Input);
    }
}
