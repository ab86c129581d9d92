#include "session/ProgrammingSession.h"

#include <algorithm>

#include "image/FileAccess.h"
#include "isp/DeviceTable.h"

const char* const kAdapterReadyText = "Prog. Key ready";
const char* const kAdapterNotFoundText = "Not found";

namespace {

constexpr uint8_t kErasedByte = 0xFF;
const char* const kSelectDeviceLine = "Select device : ";
const char* const kAutoSelectLine = "Auto Select device : \r\n";
const char* const kDeviceErrorLine = " Device Error \r\n";
const char* const kFoundSeparator = " ";
const char* const kLineEnd = "\r\n";

size_t ImageLength(int size) {
    return static_cast<size_t>(std::max(size, 0));
}

}  // namespace

CProgrammingSession::CProgrammingSession(IOperationHost& host, IPerformanceCounter* counter)
    : m_host(host),
      m_counter(counter != nullptr ? *counter : m_steadyCounter),
      m_simPorts(m_counter),
      m_router(m_realPort, {{kSimPortPrefix, &m_simPorts}}),
      m_adapter(m_router, m_counter),
      m_operations(m_adapter, host) {}

CProgrammingSession::~CProgrammingSession() = default;

bool CProgrammingSession::SaveSimState(std::string& error) {
    return m_router.SaveKinds(error);
}

bool CProgrammingSession::SelectDevice(int number) {
    const bool known = m_adapter.SelectDevice(number) >= 0;
    m_host.AddMessage(kSelectDeviceLine + m_adapter.m_strName + kLineEnd);
    BlankImages();
    return known;
}

bool CProgrammingSession::SelectDeviceRow(int row) {
    const bool known = m_adapter.SelectDeviceRow(row) >= 0;
    m_host.AddMessage(kSelectDeviceLine + m_adapter.m_strName + kLineEnd);
    BlankImages();
    return known;
}

void CProgrammingSession::BlankImages() {
    m_adapter.m_progImage.assign(ImageLength(m_adapter.m_nProgSize), kErasedByte);
    m_adapter.m_dataImage.assign(ImageLength(m_adapter.m_nDataSize), kErasedByte);
}

bool CProgrammingSession::AutoDetect() {
    m_host.AddMessage(kAutoSelectLine);
    const int row = m_adapter.IdentifyDevice();
    const bool found = row >= 0;
    if (found) {
        m_host.AddMessage(kFoundSeparator);
        SelectDeviceRow(row);
    } else {
        m_host.AddMessage(kDeviceErrorLine);
    }
    m_adapter.LeaveProgrammingMode();
    return found;
}

bool CProgrammingSession::CheckAdapter(int port) {
    return m_adapter.OpenPort(port) == kPortOk && m_adapter.CheckAdapter() == kAdapterPresent;
}

HexReadStatus CProgrammingSession::ReadHexText(bool prog, const std::string& text,
                                               std::vector<uint8_t>& image) const {
    return ReadHexImage(text, prog ? HexReadMode::Program : HexReadMode::Data,
                        prog ? m_adapter.m_nProgSize : m_adapter.m_nDataSize, image);
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
    const std::vector<uint8_t>& image = prog ? m_adapter.m_progImage : m_adapter.m_dataImage;
    if (!WriteFileAtomically(path, FormatHexImage(image), error)) {
        // The previous file, if any, is still as it was.
        m_host.AddMessage(kHexSaveErrorLine);
        return false;
    }
    return true;
}
