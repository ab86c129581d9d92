#include "ports/SerialWire.h"

bool CSerialWire::Open(const std::string& /*path*/, std::string& error) {
    error = "UPDI over a serial port is not built yet";
    m_lastError = PortErrorKind::Other;
    return false;
}

void CSerialWire::Close() {}

bool CSerialWire::SetBaud(uint32_t baud) {
    m_baud = baud;
    return false;
}

bool CSerialWire::Write(const uint8_t* /*data*/, size_t /*n*/) {
    return false;
}

int CSerialWire::Read(uint8_t* /*data*/, size_t /*n*/, int /*timeoutMs*/) {
    return -1;
}
