#include "session/ProgrammingSession.h"

#include <algorithm>

#include "base/PerformanceCounter.h"
#include "image/FileAccess.h"
#include "isp/IspAdapter.h"
#include "ports/QtSerialPort.h"
#include "ports/RoutingPort.h"
#include "ports/SerialWire.h"
#include "session/PortProgrammer.h"
#include "session/PortRegistry.h"
#include "sim/SimPortOptions.h"
#include "sim/SimUpdiPort.h"
#include "sim/VirtualCounter.h"
#include "updi/UpdiAdapter.h"

const char* const kAdapterReadyText = "Prog. Key ready";
const char* const kAdapterNotFoundText = "Not found";

namespace {

constexpr uint8_t kErasedByte = 0xFF;
const char* const kSelectDeviceLine = "Select device : ";
const char* const kAutoSelectLine = "Auto Select device : \r\n";
const char* const kDeviceErrorLine = " Device Error \r\n";
const char* const kFoundSeparator = " ";
const char* const kLineEnd = "\r\n";
const char* const kSlowWayNotice1 = "The adapter's cable on ";
const char* const kSlowWayNotice2 =
    " is an FTDI cable that could go the fast way (bit-bang mode), but its USB device "
    "cannot be opened (";
const char* const kSlowWayNotice3 =
    "): programming goes the slow way over the modem lines. To allow the fast way, install "
    "the udev rule that comes with Brenwick (60-brenwick-ftdi.rules) and plug the cable in "
    "again.\r\n";

size_t ImageLength(int size) {
    return static_cast<size_t>(std::max(size, 0));
}

std::unique_ptr<IPerformanceCounter> OwnCounter(IPerformanceCounter* given, bool virtualTime) {
    if (given != nullptr) {
        return nullptr;
    }
    if (virtualTime) {
        return std::make_unique<CVirtualCounter>();
    }
    return std::make_unique<CSteadyCounter>();
}

}  // namespace

CProgrammingSession::CProgrammingSession(IOperationHost& host, IPerformanceCounter* counter)
    : CProgrammingSession(host, counter, false) {}

CProgrammingSession::CProgrammingSession(IOperationHost& host, SessionClock clock,
                                         const std::string& portName)
    : CProgrammingSession(
          host, nullptr,
          clock == SessionClock::VirtualWhenSimulated && IsSimulatedPortName(portName)) {}

CProgrammingSession::CProgrammingSession(IOperationHost& host, IPerformanceCounter* counter,
                                         bool virtualTime)
    : m_host(host),
      m_ownedCounter(OwnCounter(counter, virtualTime)),
      m_counter(counter != nullptr ? *counter : *m_ownedCounter),
      m_realPort(std::make_unique<CQtSerialPort>()) {
    std::vector<PortKindEntry> entries;
    for (const PortKindSpec& spec : PortKinds()) {
        m_kinds.push_back(spec.make(m_counter));
        entries.push_back({spec.prefix, m_kinds.back().get()});
        if (auto* sim = dynamic_cast<CSimPortKind*>(m_kinds.back().get())) {
            m_simPorts = sim;
        }
    }
    m_router = std::make_unique<CRoutingPort>(*m_realPort, entries);
    m_adapter = std::make_unique<CIspAdapter>(*m_router, m_counter);
    m_simUpdi = std::make_unique<CSimUpdiPorts>();
    m_programmer = std::make_unique<CPortProgrammer>(*m_adapter);
    m_operations = std::make_unique<COperations>(*m_programmer, m_images, host);
    m_operations->SetPortReopen([this] { return Reopen(); });
    if (m_simPorts != nullptr) {
        // A simulated stop request is the user's Stop, wherever the user is.
        m_simPorts->SetStopHook([this] { m_host.RequestStop(); });
    }
    m_simUpdi->SetStopHook([this] { m_host.RequestStop(); });
}

CProgrammingSession::~CProgrammingSession() {
    // The adapter releases RESET and closes the port while the ports exist.
    m_operations.reset();
    CloseUpdi();
    m_adapter.reset();
}

IProgrammer& CProgrammingSession::Programmer() {
    return *m_programmer;
}

bool CProgrammingSession::OnUpdiPort() const {
    return m_programmer->OnUpdi();
}

void CProgrammingSession::CloseUpdi() {
    m_programmer->UseUpdi(nullptr);
    m_updi.reset();  // leaves the chip running
    if (m_serialWire) {
        m_serialWire->Close();
        m_serialWire.reset();
    }
}

int CProgrammingSession::OpenUpdi(const std::string& path) {
    CloseUpdi();
    // The ISP adapter lets go of its port: the UPDI adapter may need it.
    m_adapter->CloseDevice();
    m_updiError.clear();
    // What the adapter is on: a sim: UPDI chip, or a serial device with the
    // baud after ,updi. "COM3,updi" (as -c serialupdi -P COM3 gives it) is
    // COM3 where it lives.
    std::string device = path;
    uint32_t baud = kUpdiDefaultBaud;
    UpdiPortPath updi;
    if (!IsSimUpdiPortName(path)) {
        if (!ParseUpdiPortPath(path, updi, m_updiError)) {
            return kPortFailed;
        }
        device = updi.device;
        baud = updi.baud;
        int number = kNoPortNumber;
        if (ParseComName(device, number)) {
            device = PortDevicePath(ResolvePortName(number, m_adapter->PortNames()), {});
        }
    }
    IUpdiWire* wire = nullptr;
    if (IsSimUpdiPortName(device)) {
        wire = m_simUpdi->WireNamed(device, m_updiError);
    } else {
        m_serialWire = std::make_unique<CSerialWire>();
        if (m_serialWire->Open(device, m_updiError)) {
            wire = m_serialWire.get();
        } else {
            m_openKind = m_serialWire->LastErrorKind();
            m_serialWire.reset();
        }
    }
    if (wire == nullptr) {
        return kPortFailed;
    }
    m_updi = std::make_unique<CUpdiAdapter>(*wire, baud);
    m_programmer->UseUpdi(m_updi.get());
    return kPortOk;
}

const DeviceInfo* CProgrammingSession::Device() const {
    return m_adapter->Device();
}

int CProgrammingSession::DeviceNumber() const {
    return m_adapter->m_nDevice;
}

std::string CProgrammingSession::DeviceName() const {
    return m_adapter->m_strName;
}

int CProgrammingSession::ProgSize() const {
    return m_adapter->m_nProgSize;
}

int CProgrammingSession::DataSize() const {
    return m_adapter->m_nDataSize;
}

bool CProgrammingSession::SelectDevice(int number, bool quietly) {
    const bool known = m_adapter->SelectDevice(number) >= 0;
    if (!quietly) {
        m_host.AddMessage(kSelectDeviceLine + m_adapter->m_strName + kLineEnd);
    }
    BlankImages();
    return known;
}

bool CProgrammingSession::SelectDeviceRow(int row) {
    const bool known = m_adapter->SelectDeviceRow(row) >= 0;
    m_host.AddMessage(kSelectDeviceLine + m_adapter->m_strName + kLineEnd);
    BlankImages();
    return known;
}

void CProgrammingSession::BlankImages() {
    m_images.m_progImage.assign(ImageLength(m_adapter->m_nProgSize), kErasedByte);
    m_images.m_dataImage.assign(ImageLength(m_adapter->m_nDataSize), kErasedByte);
}

bool CProgrammingSession::AutoDetect() {
    m_host.AddMessage(kAutoSelectLine);
    // A port that stopped answering is opened afresh: the cable may be back.
    const ISerialPort* port = m_adapter->m_hComm;
    if ((port != nullptr && port->LastErrorKind() == PortErrorKind::NotAnswering) ||
        (OnUpdiPort() && m_programmer->PortNotAnswering())) {
        Reopen();
    }
    const int row = m_programmer->IdentifyDevice();
    const bool found = row >= 0;
    if (found) {
        m_host.AddMessage(kFoundSeparator);
        SelectDeviceRow(row);
    } else {
        m_host.AddMessage(kDeviceErrorLine);
    }
    m_programmer->LeaveProgrammingMode();
    return found;
}

void CProgrammingSession::ReleasePort() {
    m_adapter->ClosePort();
}

void CProgrammingSession::SetPortOverrides(const PortNameMap& overrides) {
    m_adapter->SetPortNames(overrides);
}

int CProgrammingSession::OpenNamed(const std::string& name) {
    m_portName = name;
    m_operations->SetPortLabel(PortLabel(name));
    m_openKind = PortErrorKind::None;
    const int result = OpenAgain();
    if (result == kPortOk) {
        m_openKind = PortErrorKind::None;
    } else if (!OnUpdiPort() && m_updiError.empty()) {
        m_openKind = m_router->LastErrorKind();
    }
    return result;
}

int CProgrammingSession::OpenAgain() {
    // COMn through the overrides; an FTDI cable's serial device the fast
    // way where its USB device opens.
    int number = kNoPortNumber;
    const bool com = ParseComName(m_portName, number);
    const std::string given = com ? ResolvePortName(number, m_adapter->PortNames()) : m_portName;
    if (IsUpdiPortName(given, {})) {
        const int updi = OpenUpdi(given);
        m_adapter->m_nPort = com ? number : kNoPortNumber;
        return updi;
    }
    CloseUpdi();
    m_updiError.clear();
    std::string fast;
    int result = kPortFailed;
    if (FastWayOf(given, fast)) {
        result = m_adapter->OpenDevice(fast);
        if (result != kPortOk && !m_bToldFastWay) {
            m_bToldFastWay = true;
            m_host.Notice(kSlowWayNotice1 + given + kSlowWayNotice2 + m_adapter->LastPortError() +
                          kSlowWayNotice3);
        }
    }
    if (result != kPortOk) {
        result = m_adapter->OpenDevice(PortDevicePath(m_portName, m_adapter->PortNames()));
    }
    m_adapter->m_nPort = com ? number : kNoPortNumber;
    return result;
}

bool CProgrammingSession::Reopen() {
    return !m_portName.empty() && OpenAgain() == kPortOk;
}

std::string CProgrammingSession::PortLabel(const std::string& name) const {
    const std::string device = PortDevice(name);
    return device != name ? name + " (" + device + ")" : name;
}

std::string CProgrammingSession::PortTroubleLine(const std::string& name) const {
    const std::string reason = PortTrouble();
    return reason.empty() ? std::string() : " " + PortLabel(name) + " " + reason + kLineEnd;
}

std::string CProgrammingSession::PortTrouble() const {
    switch (m_openKind) {
        case PortErrorKind::InUse:
            return "is in use by another program";
        case PortErrorKind::NoDevice:
            return "does not exist";
        case PortErrorKind::Permission:
            return "may not be opened by this user: add the user to the dialout group"
                   " (sudo usermod -aG dialout $USER) and log in again";
        default:
            break;
    }
    return std::string();
}

std::string CProgrammingSession::PortOpenError(const std::string& name) const {
    const std::string trouble = PortTrouble();
    const std::string reason = trouble.empty() ? LastPortError() : "it " + trouble;
    return "cannot open port " + PortLabel(name) + (reason.empty() ? std::string() : ": " + reason);
}

bool CProgrammingSession::SelectPort(const std::string& name) {
    std::string error;
    if (!CheckPortName(name, error)) {
        m_openKind = PortErrorKind::Other;
        return false;
    }
    return OpenNamed(name) == kPortOk;
}

bool CProgrammingSession::CheckAdapter(const std::string& name) {
    if (OpenNamed(name) != kPortOk) {
        return false;
    }
    return OnUpdiPort() ? m_updi->AdapterAnswers() : m_adapter->CheckAdapter() == kAdapterPresent;
}

int CProgrammingSession::PortNumber() const {
    return m_adapter->m_nPort;
}

std::string CProgrammingSession::PortDevice(const std::string& name) const {
    return PortDevicePath(name, m_adapter->PortNames());
}

std::string CProgrammingSession::LastPortError() const {
    if (!m_updiError.empty()) {
        return m_updiError;
    }
    return m_adapter->LastPortError();
}

bool CProgrammingSession::SavePortState(std::string& error) {
    const bool updiSaved = m_simUpdi->Save(error);
    return m_router->SaveKinds(error) && updiSaved;
}

HexReadStatus CProgrammingSession::ReadHexText(bool prog, const std::string& text,
                                               std::vector<uint8_t>& image) const {
    return ReadHexImage(text, prog ? HexReadMode::Program : HexReadMode::Data,
                        prog ? m_adapter->m_nProgSize : m_adapter->m_nDataSize, image);
}

void CProgrammingSession::PostHexRead(bool prog, const std::string& path, HexReadStatus status) {
    m_host.AddMessage(kHexOpenedPrefix + path + kHexOpenedSuffix);
    if (status == HexReadStatus::ChecksumError) {
        m_host.AddMessage(kHexChecksumErrorLine);
    } else if (status == HexReadStatus::AddressError) {
        m_host.AddMessage(prog ? kHexProgAddressErrorLine : kHexDataAddressErrorLine);
    }
}

bool CProgrammingSession::SaveHexFile(bool prog, const std::string& path, std::string& error) {
    m_host.AddMessage((prog ? kHexSaveProgPrefix : kHexSaveDataPrefix) + path + kLineEnd);
    const std::vector<uint8_t>& image = prog ? m_images.m_progImage : m_images.m_dataImage;
    if (!WriteFileAtomically(path, FormatHexImage(image), error)) {
        // The previous file, if any, is still as it was.
        m_host.AddMessage(kHexSaveErrorLine);
        return false;
    }
    return true;
}
