#include "ports/RoutingPort.h"

#include "base/NameText.h"

CRoutingPort::CRoutingPort(ISerialPort& realPort, std::vector<PortKindEntry> kinds)
    : m_real(realPort), m_kinds(std::move(kinds)) {}

CRoutingPort::~CRoutingPort() {
    Close();
}

bool CRoutingPort::Open(const std::string& deviceName) {
    m_error.clear();
    m_lastTried = nullptr;
    if (m_active != nullptr) {
        m_error = "a port is already open";
        return false;
    }
    ISerialPort* port = &m_real;
    for (const PortKindEntry& entry : m_kinds) {
        if (StartsWithNoCase(deviceName, entry.prefix)) {
            port = entry.kind->PortNamed(deviceName, m_error);
            break;
        }
    }
    if (port == nullptr) {
        return false;
    }
    m_lastTried = port;
    if (!port->Open(deviceName)) {
        return false;
    }
    m_active = port;
    return true;
}

bool CRoutingPort::SetupComm(uint32_t inQueue, uint32_t outQueue) {
    return m_active != nullptr && m_active->SetupComm(inQueue, outQueue);
}

bool CRoutingPort::GetCommState(CommState& state) {
    return m_active != nullptr && m_active->GetCommState(state);
}

bool CRoutingPort::SetCommState(const CommState& state) {
    return m_active != nullptr && m_active->SetCommState(state);
}

bool CRoutingPort::SetCommMask(uint32_t mask) {
    return m_active != nullptr && m_active->SetCommMask(mask);
}

bool CRoutingPort::SetCommTimeouts(const CommTimeouts& timeouts) {
    return m_active != nullptr && m_active->SetCommTimeouts(timeouts);
}

ISerialPort* CRoutingPort::OpenedPort() {
    return m_active != nullptr ? m_active->OpenedPort() : this;
}

bool CRoutingPort::EscapeCommFunction(EscapeCode code) {
    return m_active != nullptr && m_active->EscapeCommFunction(code);
}

bool CRoutingPort::SetCommBreak() {
    return m_active != nullptr && m_active->SetCommBreak();
}

bool CRoutingPort::ClearCommBreak() {
    return m_active != nullptr && m_active->ClearCommBreak();
}

bool CRoutingPort::GetCommModemStatus(uint32_t& status) {
    return m_active != nullptr && m_active->GetCommModemStatus(status);
}

void CRoutingPort::Close() {
    if (m_active != nullptr) {
        m_active->Close();
        m_active = nullptr;
    }
}

std::string CRoutingPort::LastError() const {
    if (!m_error.empty()) {
        return m_error;
    }
    return m_lastTried != nullptr ? m_lastTried->LastError() : std::string();
}

PortErrorKind CRoutingPort::LastErrorKind() const {
    if (m_active != nullptr) {
        return m_active->LastErrorKind();
    }
    if (!m_error.empty()) {
        return PortErrorKind::Other;  // a name its kind refused, or a second open
    }
    return m_lastTried != nullptr ? m_lastTried->LastErrorKind() : PortErrorKind::None;
}

bool CRoutingPort::SaveKinds(std::string& error) {
    bool ok = true;
    for (const PortKindEntry& entry : m_kinds) {
        std::string why;
        if (!entry.kind->Save(why)) {
            error += (error.empty() ? "" : "; ") + why;
            ok = false;
        }
    }
    return ok;
}
