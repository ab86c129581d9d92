#include "session/ProductionStation.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "base/PerformanceCounter.h"
#include "ops/Programmer.h"
#include "parts/FuseFields.h"
#include "session/PortRegistry.h"
#include "session/ProgrammingSession.h"
#include "session/SerialNumber.h"
#include "sim/SimPortOptions.h"
#include "sim/SimUpdiPort.h"
#include "sim/VirtualCounter.h"

namespace {

constexpr int kSignatureLength = 3;
constexpr size_t kSignatureTextLength = 16;
constexpr int64_t kNsPerMs = 1000000;
constexpr int64_t kNsPerSecond = 1000000000;
constexpr int kSleepSliceMs = 50;
constexpr uint8_t kNoAnswer = 0xFF;
constexpr uint8_t kSilentLine = 0x00;
constexpr const char* kNoChipLine = "no chip answers";
constexpr const char* kStoppedLine = "stopped before the chip was finished";
constexpr const char* kLockByteFailedLine = " Write Lock : Error.";

std::string SignatureText(const uint8_t* bytes) {
    char text[kSignatureTextLength];
    std::snprintf(text, sizeof text, "%02X %02X %02X", bytes[0], bytes[1], bytes[2]);
    return text;
}

const char* ProtocolName(Protocol protocol) {
    return protocol == Protocol::Updi ? "UPDI" : "ISP";
}

// The last line of text that says something.
std::string LastLine(const std::string& text) {
    std::string last;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        line.erase(0, line.find_first_not_of(' '));
        if (!line.empty()) {
            last = line;
        }
        start = end + 1;
    }
    return last;
}

}  // namespace

class CProductionStation::CHost : public IOperationHost {
public:
    explicit CHost(const StationControl& control) : m_control(control) {}
    void AddMessage(const std::string& text) override { m_text += text; }
    void AppendMessage(const std::string& text) override { m_text += text; }
    void SetProgressRange(int) override {}
    void SetProgressPos(int) override {}
    LockTicks& Ticks() override { return m_ticks; }
    void Yield() override {
        if (m_control.yield) {
            m_control.yield();
        }
    }
    bool StopRequested() override { return m_control.stopRequested && m_control.stopRequested(); }
    void RequestStop() override {
        if (m_control.requestStop) {
            m_control.requestStop();
        }
    }
    std::string m_text;

private:
    const StationControl& m_control;
    LockTicks m_ticks;
};

CProductionStation::CProductionStation(const std::string& port, const Recipe& recipe,
                                       const RecipeImages& images, CSerialCounter* serials,
                                       CProductionLog* log, StationControl control)
    : m_port(port),
      m_recipe(recipe),
      m_images(images),
      m_serials(serials),
      m_log(log),
      m_control(std::move(control)),
      m_virtual(IsSimulatedPortName(port)) {
    // A simulated socket keeps its own virtual clock: several of them run
    // side by side as independent adapters would.
    if (m_virtual) {
        m_counter = std::make_unique<CVirtualCounter>();
    } else {
        m_counter = std::make_unique<CSteadyCounter>();
    }
    m_host = std::make_unique<CHost>(m_control);
    m_session = std::make_unique<CProgrammingSession>(*m_host, m_counter.get());
}

CProductionStation::~CProductionStation() {
    std::string error;
    if (m_session != nullptr) {
        m_session->SavePortState(error);
    }
}

bool CProductionStation::Open(std::string& error) {
    m_session->SelectDeviceRow(m_recipe.deviceRow);
    if (!m_session->SelectPort(m_port)) {
        error = m_session->PortOpenError(m_port);
        return false;
    }
    // Refused before any chip is asked: every chip would be refused alike.
    const DeviceInfo& device = g_deviceTable[m_recipe.deviceRow];
    const Protocol portProtocol = m_session->OnUpdiPort() ? Protocol::Updi : Protocol::Isp;
    if (device.protocol != portProtocol) {
        error = m_port + " leads to the " + ProtocolName(portProtocol) + " adapter, but the " +
                device.name + " is programmed through " + ProtocolName(device.protocol);
        return false;
    }
    m_startNs += ElapsedNs();
    return true;
}

const std::string& CProductionStation::Messages() const {
    return m_host->m_text;
}

int64_t CProductionStation::ElapsedNs() const {
    const int64_t count = m_counter->Query();
    const int64_t frequency = m_counter->Frequency();
    const int64_t ns = frequency == kNsPerSecond ? count
                                                 : count / frequency * kNsPerSecond +
                                                       count % frequency * kNsPerSecond / frequency;
    // A simulated UPDI adapter keeps time on its own clock: the socket's
    // time is its idle waits plus the adapter's.
    const int64_t updiNs = m_virtual ? m_session->SimUpdiPorts().ElapsedNs() : 0;
    return ns + updiNs - m_startNs;
}

void CProductionStation::IdleWait() {
    if (m_virtual) {
        static_cast<CVirtualCounter&>(*m_counter).Advance(kIdlePollMs * kNsPerMs);
        return;
    }
    for (int waited = 0; waited < kIdlePollMs; waited += kSleepSliceMs) {
        if (m_control.stopRequested && m_control.stopRequested()) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kSleepSliceMs));
    }
}

void CProductionStation::RemovalAwaited() {
    if (m_session->OnUpdiPort()) {
        m_session->SimUpdiPorts().ChipRemovalAwaited();
    } else {
        m_session->SimPorts().ChipRemovalAwaited();
    }
}

void CProductionStation::ChipAwaited() {
    if (m_session->OnUpdiPort()) {
        m_session->SimUpdiPorts().ChipAwaited();
    } else {
        m_session->SimPorts().ChipAwaited();
    }
}

ChipPresence CProductionStation::Probe(std::string& signature) {
    // The chip answers whatever part it is: no signature check on entry.
    IProgrammer& programmer = m_session->Programmer();
    signature.clear();
    uint8_t bytes[kSignatureLength] = {};
    bool read = programmer.EnterProgrammingMode(0) == kProgrammerOk;
    for (int i = 0; read && i < kSignatureLength; ++i) {
        read = programmer.ReadSignatureByte(bytes[i], i) == kProgrammerOk;
    }
    programmer.LeaveProgrammingMode();
    const bool silent = (bytes[0] == kNoAnswer && bytes[1] == kNoAnswer) ||
                        (bytes[0] == kSilentLine && bytes[1] == kSilentLine);
    if (!read || silent) {
        return ChipPresence::Absent;
    }
    signature = SignatureText(bytes);
    const DeviceInfo& device = g_deviceTable[m_recipe.deviceRow];
    const uint8_t sizeCode =
        device.sizeCode != 0 ? device.sizeCode : SizeCodeForProgSize(device.progSize);
    const bool same = bytes[0] == kAtmelVendorCode && bytes[1] == sizeCode &&
                      bytes[2] == static_cast<uint8_t>(device.signature);
    return same ? ChipPresence::Present : ChipPresence::WrongPart;
}

ChipRecord CProductionStation::ProgramChip() {
    m_host->m_text.clear();
    ChipRecord record;
    record.time = LogTimeNow();
    record.port = m_port;
    record.part = m_images.partName;
    auto finish = [&](ChipResult result, const std::string& failure, bool logged = true) {
        record.result = result;
        record.failure = failure;
        std::string error;
        if (logged && m_log != nullptr && !m_log->Append(record, error)) {
            record.result = ChipResult::Fail;
            record.failure = error;
        }
        return record;
    };
    const DeviceInfo& device = g_deviceTable[m_recipe.deviceRow];
    const ChipPresence presence = Probe(record.signature);
    if (presence == ChipPresence::Absent) {
        // An empty socket is no chip: nothing to log.
        return finish(ChipResult::Refused, kNoChipLine, false);
    }
    if (presence == ChipPresence::WrongPart) {
        return finish(ChipResult::Refused,
                      "signature " + record.signature + " is not the " + device.name + "'s");
    }
    IProgrammer& programmer = m_session->Programmer();
    if (m_recipe.calibration.enabled) {
        uint8_t value = 0;
        const bool read = programmer.EnterProgrammingMode(1) == kProgrammerOk &&
                          programmer.ReadCalibrationByte(value) == kProgrammerOk;
        programmer.LeaveProgrammingMode();
        if (!read) {
            return finish(ChipResult::Refused, "the calibration byte could not be read");
        }
        record.calibration = value;
    }
    uint64_t serial = 0;
    const bool numbered = m_recipe.serial.enabled && m_serials != nullptr;
    if (numbered) {
        std::string error;
        if (!m_serials->Reserve(serial, error)) {
            return finish(ChipResult::Refused, error);
        }
        // From here on the number is spent, whatever becomes of the chip.
        record.serial = std::to_string(serial);
    }
    std::vector<uint8_t> flash;
    std::vector<uint8_t> eeprom;
    std::string error;
    if (!ChipImages(m_recipe, m_images, numbered, serial, record.calibration, flash, eeprom,
                    error)) {
        return finish(ChipResult::Fail, error);
    }
    record.flashCrc = Crc32(flash);
    record.eepromCrc = Crc32(eeprom);
    for (RecipeStep step : m_recipe.steps) {
        if (m_control.stopRequested && m_control.stopRequested()) {
            return finish(ChipResult::Fail, kStoppedLine);
        }
        const size_t before = m_host->m_text.size();
        if (!RunStep(step, flash, eeprom)) {
            const std::string line = LastLine(m_host->m_text.substr(before));
            return finish(ChipResult::Fail, line.empty() ? std::string(kStoppedLine) : line);
        }
    }
    return finish(ChipResult::Pass, std::string());
}

bool CProductionStation::RunStep(RecipeStep step, const std::vector<uint8_t>& flash,
                                 const std::vector<uint8_t>& eeprom) {
    COperations& operations = m_session->Operations();
    MemoryImages& images = m_session->Images();
    switch (step) {
        case RecipeStep::Erase:
            return operations.EraseAll();
        case RecipeStep::Flash:
            images.m_progImage = flash;
            return operations.WriteProg();
        case RecipeStep::Eeprom:
            images.m_dataImage = eeprom;
            return operations.WriteData();
        case RecipeStep::Verify:
            images.m_progImage = flash;
            images.m_dataImage = eeprom;
            return (!m_recipe.Has(RecipeStep::Flash) || operations.VerifyProg()) &&
                   (!m_recipe.Has(RecipeStep::Eeprom) || operations.VerifyData());
        case RecipeStep::Fuses:
            return WriteFuses();
        case RecipeStep::Lock:
            return WriteLock();
    }
    return false;
}

bool CProductionStation::WriteFuses() {
    COperations& operations = m_session->Operations();
    if (m_recipe.fuseSettings.empty()) {
        return operations.WriteFuses(m_recipe.fuses, m_recipe.fuseMask, m_recipe.allowCutOff);
    }
    // Settings by name are made on top of what this chip holds.
    std::array<uint8_t, kFuseByteCount> now{};
    uint8_t present = 0;
    int calibration = -1;
    if (!operations.ReadFuses(now, present, calibration)) {
        return false;
    }
    FuseByteValues next{now[0], now[1], now[2]};
    for (size_t i = 0; i < next.size(); ++i) {
        if ((m_recipe.fuseMask & g_fuseBytes[i].mask) != 0) {
            next[i] = m_recipe.fuses[i];
        }
    }
    uint8_t touched = 0;
    std::string error;
    if (!ApplyFuseSettings(*m_session->Device(), m_recipe.fuseSettings, next, touched, error)) {
        m_host->AddMessage(" Write Fuses : " + error + "\r\n");
        return false;
    }
    const std::array<uint8_t, kFuseByteCount> fuses{next[0], next[1], next[2]};
    return operations.WriteFuses(fuses, static_cast<uint8_t>(m_recipe.fuseMask | touched),
                                 m_recipe.allowCutOff, &now);
}

bool CProductionStation::WriteLock() {
    if (!m_recipe.lockIsByte) {
        m_host->Ticks() = m_recipe.lockTicks;
        return m_session->Operations().WriteLock();
    }
    // Every lock bit at once, read back.
    IProgrammer& programmer = m_session->Programmer();
    uint8_t read = 0;
    uint8_t reported = 0;
    const bool ok = programmer.EnterProgrammingMode(1) == kProgrammerOk &&
                    programmer.WriteLockByte(m_recipe.lockByte) == kProgrammerOk &&
                    programmer.EnterProgrammingMode(1) == kProgrammerOk &&
                    programmer.ReadLockByte(read, reported) == kProgrammerOk &&
                    (read & reported) == (m_recipe.lockByte & reported);
    programmer.LeaveProgrammingMode();
    if (!ok) {
        m_host->AddMessage(std::string(kLockByteFailedLine) + "\r\n");
    }
    return ok;
}
