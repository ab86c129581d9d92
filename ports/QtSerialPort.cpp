#include "ports/QtSerialPort.h"

#include <QSerialPort>
#include <QSerialPortInfo>
#include <QString>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace {

#ifdef _WIN32

int LastSystemError(BOOL ok) {
    return ok != 0 ? 0 : static_cast<int>(::GetLastError());
}

class CSystemLineCalls : public ISerialLineCalls {
public:
    int EscapeCommFunction(HANDLE handle, DWORD code) override {
        return LastSystemError(::EscapeCommFunction(handle, code));
    }
    int SetCommBreak(HANDLE handle) override { return LastSystemError(::SetCommBreak(handle)); }
    int ClearCommBreak(HANDLE handle) override { return LastSystemError(::ClearCommBreak(handle)); }
    int GetCommModemStatus(HANDLE handle, DWORD& status) override {
        return LastSystemError(::GetCommModemStatus(handle, &status));
    }
};

#else

class CSystemLineCalls : public ISerialLineCalls {
public:
    int Ioctl(int fd, unsigned long request, int* bits) override {
        return ::ioctl(fd, request, bits) == 0 ? 0 : errno;
    }
};

#endif

ISerialLineCalls& SystemLineCalls() {
    static CSystemLineCalls calls;
    return calls;
}

QSerialPort::Parity ToQt(CommParity parity) {
    switch (parity) {
        case ODDPARITY:
            return QSerialPort::OddParity;
        case EVENPARITY:
            return QSerialPort::EvenParity;
        case MARKPARITY:
            return QSerialPort::MarkParity;
        case SPACEPARITY:
            return QSerialPort::SpaceParity;
        default:
            break;
    }
    return QSerialPort::NoParity;
}

CommParity FromQt(QSerialPort::Parity parity) {
    switch (parity) {
        case QSerialPort::OddParity:
            return ODDPARITY;
        case QSerialPort::EvenParity:
            return EVENPARITY;
        case QSerialPort::MarkParity:
            return MARKPARITY;
        case QSerialPort::SpaceParity:
            return SPACEPARITY;
        default:
            return NOPARITY;
    }
}

QSerialPort::StopBits ToQt(CommStopBits stopBits) {
    switch (stopBits) {
        case ONE5STOPBITS:
            return QSerialPort::OneAndHalfStop;
        case TWOSTOPBITS:
            return QSerialPort::TwoStop;
        default:
            break;
    }
    return QSerialPort::OneStop;
}

}  // namespace

// Why an open failed, in the kinds the messages tell apart. Qt reports a
// port that another program holds (an exclusive open, or its lock file) as
// a permission error too: whether this user may use the device at all
// tells the two apart, without opening it.
PortErrorKind QtOpenFailureKind(const std::string& deviceName, QSerialPort::SerialPortError error) {
    switch (error) {
        case QSerialPort::DeviceNotFoundError:
            return PortErrorKind::NoDevice;
        case QSerialPort::PermissionError:
#ifdef _WIN32
            return PortErrorKind::InUse;  // the system denies a port that is open elsewhere
#else
            if (::access(deviceName.c_str(), R_OK | W_OK) != 0) {
                return errno == ENOENT ? PortErrorKind::NoDevice : PortErrorKind::Permission;
            }
            return PortErrorKind::InUse;
#endif
        default:
            break;
    }
    return PortErrorKind::Other;
}

CQtSerialPort::CQtSerialPort(ISerialLineCalls* calls)
    : m_calls(calls != nullptr ? *calls : SystemLineCalls()) {}

CQtSerialPort::~CQtSerialPort() {
    Close();
}

bool CQtSerialPort::Open(const std::string& deviceName) {
    Close();
    m_port = std::make_unique<QSerialPort>();
    m_port->setPortName(QString::fromStdString(deviceName));
    // QSerialPort opens exclusively and takes the usual lock file.
    if (!m_port->open(QIODevice::ReadWrite)) {
        m_lastError = m_port->errorString().toStdString();
        m_lastKind = QtOpenFailureKind(deviceName, m_port->error());
        m_port.reset();
        return false;
    }
    m_lastError.clear();
    m_lastKind = PortErrorKind::None;
    return true;
}

// Queue sizes, the event mask and the time-outs have no meaning for a port
// whose data path is never used on this system: they succeed on an open port.
bool CQtSerialPort::SetupComm(uint32_t, uint32_t) {
    return m_port != nullptr;
}
bool CQtSerialPort::SetCommMask(uint32_t) {
    return m_port != nullptr;
}
bool CQtSerialPort::SetCommTimeouts(const CommTimeouts&) {
    return m_port != nullptr;
}

bool CQtSerialPort::GetCommState(CommState& state) {
    if (m_port == nullptr) {
        return false;
    }
    state.BaudRate = static_cast<uint32_t>(m_port->baudRate());
    state.ByteSize = static_cast<uint8_t>(m_port->dataBits());
    state.Parity = FromQt(m_port->parity());
    state.StopBits = m_port->stopBits() == QSerialPort::TwoStop ? TWOSTOPBITS : ONESTOPBIT;
    const bool hardwareFlow = m_port->flowControl() == QSerialPort::HardwareControl;
    const bool softwareFlow = m_port->flowControl() == QSerialPort::SoftwareControl;
    state.fOutxCtsFlow = hardwareFlow;
    state.fOutX = softwareFlow;
    state.fInX = softwareFlow;
    state.fRtsControl = hardwareFlow ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    state.fDtrControl = DTR_CONTROL_ENABLE;
    return true;
}

bool CQtSerialPort::SetCommState(const CommState& state) {
    if (m_port == nullptr) {
        return false;
    }
    bool ok = m_port->setBaudRate(static_cast<qint32>(state.BaudRate)) &&
              m_port->setDataBits(static_cast<QSerialPort::DataBits>(state.ByteSize)) &&
              m_port->setParity(ToQt(state.Parity)) && m_port->setStopBits(ToQt(state.StopBits));
    const bool flow = state.fOutxCtsFlow || state.fOutX || state.fInX;
    ok = ok && m_port->setFlowControl(flow ? (state.fOutxCtsFlow ? QSerialPort::HardwareControl
                                                                 : QSerialPort::SoftwareControl)
                                           : QSerialPort::NoFlowControl);
    // The system raises DTR and RTS when it opens a tty; with their control
    // disabled the port must come up idle: MOSI 0, SCK low, no break.
    if (ok && state.fDtrControl == DTR_CONTROL_DISABLE) {
        ok = EscapeCommFunction(CLRDTR);
    }
    if (ok && state.fRtsControl == RTS_CONTROL_DISABLE) {
        ok = EscapeCommFunction(CLRRTS);
    }
    if (ok) {
        ok = ClearCommBreak();
    }
    if (!ok && m_lastError.empty()) {
        m_lastError = m_port->errorString().toStdString();
    }
    return ok;
}

bool CQtSerialPort::Succeeded(int error) {
    if (error != 0) {
        // EIO, ENODEV, a handle gone: whatever the reason, the lines no
        // longer do what they are told.
        m_lastError = std::system_category().message(error);
        m_lastKind = PortErrorKind::NotAnswering;
        return false;
    }
    if (m_lastKind == PortErrorKind::NotAnswering) {
        m_lastKind = PortErrorKind::None;
    }
    return true;
}

#ifdef _WIN32

bool CQtSerialPort::EscapeCommFunction(EscapeCode code) {
    return m_port != nullptr && Succeeded(m_calls.EscapeCommFunction(m_port->handle(), code));
}

bool CQtSerialPort::SetCommBreak() {
    return m_port != nullptr && Succeeded(m_calls.SetCommBreak(m_port->handle()));
}

bool CQtSerialPort::ClearCommBreak() {
    return m_port != nullptr && Succeeded(m_calls.ClearCommBreak(m_port->handle()));
}

bool CQtSerialPort::GetCommModemStatus(uint32_t& status) {
    DWORD bits = 0;
    if (m_port == nullptr || !Succeeded(m_calls.GetCommModemStatus(m_port->handle(), bits))) {
        return false;
    }
    status = bits;
    return true;
}

#else

// One system call per line change: QSerialPort's own setters read the
// modem status before every change, which would add a round trip per bit
// on a USB adapter.
bool CQtSerialPort::EscapeCommFunction(EscapeCode code) {
    if (m_port == nullptr) {
        return false;
    }
    unsigned long request = 0;
    int bits = 0;
    switch (code) {
        case SETDTR:
            request = TIOCMBIS;
            bits = TIOCM_DTR;
            break;
        case CLRDTR:
            request = TIOCMBIC;
            bits = TIOCM_DTR;
            break;
        case SETRTS:
            request = TIOCMBIS;
            bits = TIOCM_RTS;
            break;
        case CLRRTS:
            request = TIOCMBIC;
            bits = TIOCM_RTS;
            break;
        default:
            return Succeeded(EINVAL);
    }
    return Succeeded(m_calls.Ioctl(m_port->handle(), request, &bits));
}

bool CQtSerialPort::SetCommBreak() {
    return m_port != nullptr && Succeeded(m_calls.Ioctl(m_port->handle(), TIOCSBRK, nullptr));
}

bool CQtSerialPort::ClearCommBreak() {
    return m_port != nullptr && Succeeded(m_calls.Ioctl(m_port->handle(), TIOCCBRK, nullptr));
}

bool CQtSerialPort::GetCommModemStatus(uint32_t& status) {
    int bits = 0;
    if (m_port == nullptr || !Succeeded(m_calls.Ioctl(m_port->handle(), TIOCMGET, &bits))) {
        return false;
    }
    status = 0;
    if ((bits & TIOCM_CTS) != 0) {
        status |= MS_CTS_ON;
    }
    if ((bits & TIOCM_DSR) != 0) {
        status |= MS_DSR_ON;
    }
    if ((bits & TIOCM_RI) != 0) {
        status |= MS_RING_ON;
    }
    if ((bits & TIOCM_CD) != 0) {
        status |= MS_RLSD_ON;
    }
    return true;
}

#endif

void CQtSerialPort::Close() {
    if (m_port != nullptr) {
        m_port->close();
        m_port.reset();
    }
}

std::string CQtSerialPort::LastError() const {
    return m_lastError;
}

std::vector<SerialDeviceInfo> ListSerialDevices() {
    std::vector<SerialDeviceInfo> devices;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        QString description = info.description();
        if (!info.manufacturer().isEmpty()) {
            description += QStringLiteral(" (") + info.manufacturer() + QStringLiteral(")");
        }
        devices.push_back(
            {info.systemLocation().toStdString(), description.trimmed().toStdString()});
    }
    return devices;
}
