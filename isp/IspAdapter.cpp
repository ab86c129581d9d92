#include "isp/IspAdapter.h"

#include <algorithm>

#include "isp/InstructionPattern.h"
#include "parts/DeviceTable.h"
#include "ports/QtSerialPort.h"

namespace {

// Port configuration. The data path is never used, but the line settings
// are set all the same so the port is in a known state.
constexpr uint32_t kQueueSize = 400;
constexpr uint32_t kBaudRate = 115200;
constexpr uint8_t kDataBits = 8;
constexpr uint32_t kWriteTotalTimeoutMultiplier = 2;

// Waits, in microseconds.
constexpr int kResetPulseWaitUs = 2000;  // after each RESET edge of the reset pulse
constexpr int kSyncSetupWaitUs = 20000;  // reset pulse to first Programming Enable
constexpr int kSckPulseUs = 25;          // extra SCK pulse: high, then low
// Before any part is selected: the longest waits any part of the table needs
// for a byte write, a lock write and a chip erase.
constexpr int kDefaultWriteUs = 20000;
constexpr int kDefaultChipEraseUs = 20000;
constexpr int kPollWaitUs = 500;  // before each read-back of a write
constexpr int kLeaveWaitUs = 1000;
constexpr int kCheckSettleUs = 1000;
constexpr int kDsrSettleUs = 500;
constexpr int64_t kMicrosecondsPerSecond = 1000000;

// Which answer bits an instruction's status reads fetch.
constexpr uint32_t kWholeAnswer = 0xFFFFFFFF;
constexpr uint32_t kNoAnswer = 0;
constexpr uint32_t kSyncEchoByte = 0x0000FF00;  // 0x53 during Programming Enable's third byte
constexpr uint32_t kDataByte = 0x000000FF;      // a read's answer, during the fourth byte
constexpr uint32_t kEchoAndData = 0x00FF00FF;   // and the opcode's echo during the second
constexpr uint32_t kOpcodeEchoMask = 0x00FF0000;

constexpr int kMaxPolls = 20;
constexpr int kSyncAttempts = 32;

// Instructions: first byte on the wire in bits 31..24.
constexpr uint32_t kProgrammingEnable = 0xAC530000;
constexpr uint32_t kChipErase = 0xAC800000;
constexpr uint8_t kOpReadProgLow = 0x20;
constexpr uint8_t kOpReadProgHigh = 0x28;
constexpr uint8_t kOpWriteProgLow = 0x40;
constexpr uint8_t kOpWriteProgHigh = 0x48;
constexpr uint8_t kOpReadEeprom = 0xA0;
constexpr uint8_t kOpWriteEeprom = 0xC0;
constexpr uint8_t kOpReadSignature = 0x30;
constexpr uint8_t kOpWriteProgPage = 0x4C;
constexpr uint8_t kOpLoadExtendedAddress = 0x4D;   // 4D 00 e 00: e in the third byte
constexpr uint32_t kPollReady = 0xF0000000;        // Poll RDY/BSY
constexpr uint32_t kReadCalibration = 0x38000000;  // Read Calibration Byte at address 0
constexpr uint8_t kBusyBit = 0x01;
constexpr int kAddressBits = 16;  // of a word address in an instruction
constexpr int kWordAddressSpan = 1 << kAddressBits;
constexpr int kExtendedUnknown = -1;
constexpr uint8_t kSyncEcho = 0x53;  // Programming Enable's second byte, echoed during the third

// Lock byte bits (see isp/InstructionPattern.h).
constexpr uint8_t kLockBit1 = 0x01;
constexpr uint8_t kLockBit2 = 0x02;
constexpr uint8_t kAllLockBitsUnprogrammed = 0xFF;

constexpr uint8_t kErased = 0xFF;
constexpr int kSizeCodeUnit = 1024;
constexpr int kBitsPerByte = 8;
constexpr int kByteMask = 0xFF;

enum SignatureIndex { kSignatureVendor = 0, kSignatureSize = 1, kSignaturePart = 2 };
constexpr int kSignatureBytes = 3;

uint32_t Instruction(uint8_t op, int address, uint8_t data = 0) {
    const uint32_t a = static_cast<uint32_t>(address) & 0xFFFF;
    return (static_cast<uint32_t>(op) << 24) | (a << 8) | data;
}

uint8_t AnswerByte(uint32_t answer) {
    return static_cast<uint8_t>(answer & 0xFF);
}

int BitValue(uint32_t byte, uint32_t mask) {
    return (byte & mask) != 0 ? 1 : 0;
}

// The description's entry of a fuse byte (kLowFuse, kHighFuse,
// kExtendedFuse); -1 for anything else.
int FuseIndex(uint8_t fuse) {
    for (int i = 0; i < kFuseByteCount; ++i) {
        if (g_fuseBytes[i].mask == fuse) {
            return i;
        }
    }
    return -1;
}

// Reads of a write in progress: enough to cover the part's longest write, and
// never fewer than the twenty every part was always given.
int PollsFor(int writeUs) {
    return std::max(kMaxPolls, (writeUs + kPollWaitUs - 1) / kPollWaitUs);
}

}  // namespace

CIspAdapter::CIspAdapter()
    : m_ownedPort(std::make_unique<CQtSerialPort>()),
      m_ownedCounter(std::make_unique<CSteadyCounter>()),
      m_port(*m_ownedPort),
      m_counter(*m_ownedCounter) {}

CIspAdapter::CIspAdapter(ISerialPort& port, IPerformanceCounter& counter)
    : m_port(port), m_counter(counter) {}

CIspAdapter::~CIspAdapter() {
    ClosePort();
}

// ---------------------------------------------------------------- port

void CIspAdapter::ClosePort() {
    if (m_hComm != nullptr) {
        // Release the target before letting go of the port.
        m_hComm->ClearCommBreak();
        m_port.Close();
        m_hComm = nullptr;
        m_serialLines.SetPort(nullptr);
        m_lines = &m_serialLines;
    }
}

int CIspAdapter::OpenPort(int nPort) {
    const int result = OpenDevice(ResolvePortName(nPort, m_portNames));
    m_nPort = nPort;
    return result;
}

int CIspAdapter::OpenDevice(const std::string& deviceName) {
    m_nPort = kNoPortNumber;
    ClosePort();
    if (!m_port.Open(deviceName)) {
        return kPortFailed;
    }
    m_hComm = m_port.OpenedPort();
    m_serialLines.SetPort(m_hComm);
    IIspLines* fast = m_hComm->FastLines();
    m_lines = fast != nullptr ? fast : &m_serialLines;
    m_lines->Forget();
    if (!m_hComm->SetupComm(kQueueSize, kQueueSize)) {
        return kPortFailed;
    }
    CommState state;
    if (!m_hComm->GetCommState(state)) {
        return kPortFailed;
    }
    state.BaudRate = kBaudRate;
    state.ByteSize = kDataBits;
    state.Parity = NOPARITY;
    state.StopBits = ONESTOPBIT;
    state.fBinary = true;
    state.fParity = false;
    state.fOutxCtsFlow = false;
    state.fOutxDsrFlow = false;
    state.fDsrSensitivity = false;
    state.fOutX = false;
    state.fInX = false;
    state.fNull = false;
    state.fDtrControl = DTR_CONTROL_DISABLE;
    state.fRtsControl = RTS_CONTROL_DISABLE;
    if (!m_hComm->SetCommState(state)) {
        return kPortFailed;
    }
    if (!m_hComm->SetCommMask(EV_TXEMPTY | EV_ERR)) {
        return kPortFailed;
    }
    CommTimeouts timeouts;
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = kWriteTotalTimeoutMultiplier;
    timeouts.WriteTotalTimeoutConstant = 0;
    if (!m_hComm->SetCommTimeouts(timeouts)) {
        return kPortFailed;
    }
    return kPortOk;
}

int CIspAdapter::SelectPort(int nPort) {
    if (nPort < kFirstComPort || nPort > kLastComPort) {
        return kPortNumberInvalid;
    }
    return OpenPort(nPort) == kPortOk ? kPortOk : kPortOpenFailed;
}

std::string CIspAdapter::LastPortError() const {
    return m_port.LastError();
}

bool CIspAdapter::PortNotAnswering() const {
    return m_hComm != nullptr && m_hComm->LastErrorKind() == PortErrorKind::NotAnswering;
}

// ---------------------------------------------------------------- lines

bool CIspAdapter::Line(EscapeCode code) {
    return m_hComm != nullptr && m_hComm->EscapeCommFunction(code);
}

bool CIspAdapter::SetBreak() {
    return m_hComm != nullptr && m_hComm->SetCommBreak();
}

bool CIspAdapter::ClearBreak() {
    return m_hComm != nullptr && m_hComm->ClearCommBreak();
}

uint32_t CIspAdapter::ModemStatus(bool* ok) {
    uint32_t status = 0;
    const bool read = m_hComm != nullptr && m_hComm->GetCommModemStatus(status);
    if (ok != nullptr) {
        *ok = read;
    }
    return read ? status : 0;
}

void CIspAdapter::WaitMicroseconds(int nMicroseconds) {
    const int64_t start = m_counter.Query();
    const int64_t frequency = m_counter.Frequency();
    int64_t now = 0;
    do {
        now = m_counter.Query();
    } while ((now - start) * kMicrosecondsPerSecond / frequency < nMicroseconds);
}

int CIspAdapter::PulseReset() {
    m_lines->Forget();  // a reset starts the lines afresh
    if (!Line(CLRRTS) || !SetBreak()) {
        return kIspLineError;
    }
    WaitMicroseconds(kResetPulseWaitUs);
    if (!ClearBreak()) {
        return kIspLineError;
    }
    WaitMicroseconds(kResetPulseWaitUs);
    if (!SetBreak()) {
        return kIspLineError;
    }
    WaitMicroseconds(kResetPulseWaitUs);
    bool read = false;
    const uint32_t status = ModemStatus(&read);
    if (!read) {
        return kIspLineError;
    }
    return (status & MS_RING_ON) != 0 ? kIspOk : kIspNoResetEcho;
}

int CIspAdapter::CheckAdapter() {
    WaitMicroseconds(kCheckSettleUs);
    if (!ClearBreak()) {
        return kAdapterNotFound;
    }
    WaitMicroseconds(kCheckSettleUs);
    Line(CLRRTS);
    WaitMicroseconds(kDsrSettleUs);
    if ((ModemStatus() & MS_DSR_ON) != 0) {
        return kAdapterNotFound;
    }
    Line(SETRTS);
    WaitMicroseconds(kDsrSettleUs);
    if ((ModemStatus() & MS_DSR_ON) == 0) {
        return kAdapterNotFound;
    }
    Line(CLRRTS);
    return kAdapterPresent;
}

// ---------------------------------------------------------------- instructions

uint32_t CIspAdapter::Transfer(uint32_t instruction) {
    return Transfer(instruction, kWholeAnswer);
}

uint32_t CIspAdapter::Transfer(uint32_t instruction, uint32_t answerBits) {
    uint32_t answer = 0;
    m_bLinesOk = m_lines->Shift(&instruction, &answerBits, &answer, 1);
    return answer;
}

bool CIspAdapter::Echoed(uint32_t instruction, uint32_t answer) {
    // During its second byte the target shifts out the first: the opcode,
    // which is never 0x00 or 0xFF, so a silent or stuck MISO never passes.
    return (answer & kOpcodeEchoMask) == ((instruction >> kBitsPerByte) & kOpcodeEchoMask);
}

int CIspAdapter::ReadAnswer(uint32_t instruction, uint8_t& value) {
    const uint32_t answer = Transfer(instruction, m_bEchoes ? kEchoAndData : kDataByte);
    value = AnswerByte(answer);
    if (!m_bLinesOk) {
        return kIspLineError;
    }
    if (m_bEchoes && !Echoed(instruction, answer)) {
        return kIspNoEcho;
    }
    return kIspOk;
}

void CIspAdapter::PulseSck() {
    Line(SETRTS);
    WaitMicroseconds(kSckPulseUs);
    Line(CLRRTS);
    WaitMicroseconds(kSckPulseUs);
}

bool CIspAdapter::Synchronise() {
    const uint32_t answer = Transfer(kProgrammingEnable, kSyncEchoByte);
    return ((answer >> 8) & 0xFF) == kSyncEcho;
}

bool CIspAdapter::SynchroniseByEcho() {
    for (int attempt = 0; attempt < kSyncAttempts; ++attempt) {
        // Thirty-two attempts take seconds where each line change is a USB
        // round trip: a stop is honoured between them.
        if (m_stopCheck && m_stopCheck()) {
            return false;
        }
        if (Synchronise()) {
            return true;
        }
        PulseSck();
    }
    return false;
}

bool CIspAdapter::SynchroniseOnce() {
    Transfer(kProgrammingEnable, kNoAnswer);
    m_bEchoes = false;
    uint8_t vendor = 0;
    return ReadSignatureByte(vendor, kSignatureVendor) == kIspOk && vendor == kAtmelVendorCode;
}

int CIspAdapter::CheckSignature() {
    // The first read tells whether the part echoes the instruction bytes.
    const uint32_t sent = Instruction(kOpReadSignature, kSignatureVendor);
    const uint32_t answer = Transfer(sent, kEchoAndData);
    // A dead line is no wrong device: it is reported as what it is.
    if (!m_bLinesOk) {
        return kIspLineError;
    }
    m_bEchoes = Echoed(sent, answer);
    if (AnswerByte(answer) != kAtmelVendorCode) {
        return kIspVendorError;
    }
    uint8_t value = 0;
    int status = ReadSignatureByte(value, kSignatureSize);
    if (status != kIspOk) {
        return status;
    }
    const uint8_t sizeCode = m_pDevice != nullptr && m_pDevice->sizeCode != 0
                                 ? m_pDevice->sizeCode
                                 : SizeCodeForProgSize(m_nProgSize / kSizeCodeUnit * kSizeCodeUnit);
    if (sizeCode == 0 || value != sizeCode) {
        return kIspSizeCodeError;
    }
    status = ReadSignatureByte(value, kSignaturePart);
    if (status != kIspOk) {
        return status;
    }
    if (value != m_nSignature) {
        return kIspPartCodeError;
    }
    return kIspOk;
}

int CIspAdapter::EnterProgrammingMode(int checkSignature) {
    // A chip on a slow clock misses a fast SCK: where the lines can go
    // slower, each failed entry tries again a step slower.
    for (;;) {
        if (PulseReset() != kIspOk) {
            return kIspLineError;
        }
        WaitMicroseconds(kSyncSetupWaitUs);
        // Until the part shows otherwise, trust no read it does not echo.
        m_bEchoes = true;
        m_nExtendedAddress = kExtendedUnknown;  // a reset clears it in the part
        const bool once = m_pDevice != nullptr && m_pDevice->entry == EntryRule::SingleEnable;
        if (once ? SynchroniseOnce() : SynchroniseByEcho()) {
            break;
        }
        if (m_stopCheck && m_stopCheck()) {
            return kIspStopped;
        }
        if (!m_lines->SlowDown()) {
            m_lines->RestoreSpeed();
            return kIspNoSync;
        }
    }
    if (checkSignature != 1) {
        return kIspOk;
    }
    return CheckSignature();
}

int CIspAdapter::LeaveProgrammingMode() {
    WaitMicroseconds(kLeaveWaitUs);
    if (!Line(CLRRTS) || !SetBreak()) {
        return kIspLineError;
    }
    WaitMicroseconds(kLeaveWaitUs);
    if (!ClearBreak()) {
        return kIspLineError;
    }
    WaitMicroseconds(kLeaveWaitUs);
    return kIspOk;
}

int CIspAdapter::ProgWriteUs() const {
    return m_pDevice != nullptr ? m_pDevice->progWriteUs : kDefaultWriteUs;
}

int CIspAdapter::DataWriteUs() const {
    return m_pDevice != nullptr ? m_pDevice->dataWriteUs : kDefaultWriteUs;
}

int CIspAdapter::LockWriteUs() const {
    return m_pDevice != nullptr ? m_pDevice->lockWriteUs : kDefaultWriteUs;
}

int CIspAdapter::ChipEraseUs() const {
    return m_pDevice != nullptr ? m_pDevice->chipEraseUs : kDefaultChipEraseUs;
}

int CIspAdapter::ProgPageSize() const {
    return m_pDevice != nullptr ? m_pDevice->progPageSize : 0;
}

int CIspAdapter::ChipErase() {
    Transfer(kChipErase, kNoAnswer);
    if (!m_bLinesOk) {
        return kIspLineError;  // the instruction may never have reached the chip
    }
    WaitMicroseconds(ChipEraseUs());
    return PulseReset() == kIspOk ? kIspOk : kIspEraseResetError;
}

template <typename Reread>
bool CIspAdapter::Confirmed(uint8_t value, Reread reread) {
    bool trusted = false;
    const uint8_t read = reread(trusted);
    return trusted && read == value;
}

template <typename Reread>
bool CIspAdapter::ConfirmWrite(uint8_t value, bool fixedWait, int writeUs, Reread reread) {
    if (fixedWait) {
        // A polling value cannot be told from "still busy": wait it out.
        WaitMicroseconds(writeUs);
        return Confirmed(value, reread);
    }
    const int polls = PollsFor(writeUs);
    for (int poll = 0; poll < polls; ++poll) {
        WaitMicroseconds(kPollWaitUs);
        if (Confirmed(value, reread)) {
            return true;
        }
    }
    return false;
}

int CIspAdapter::WriteProgramByte(uint8_t value, int high, int wordAddress) {
    // A read that cannot be trusted never confirms anything.
    auto reread = [&](bool& trusted) {
        uint8_t b = 0;
        trusted = ReadProgramByte(b, high, wordAddress) == kIspOk;
        return b;
    };
    if (value == kErased && Confirmed(value, reread)) {
        return kIspOk;  // already erased: nothing to write
    }
    Transfer(Instruction(high != 0 ? kOpWriteProgHigh : kOpWriteProgLow, wordAddress, value),
             kNoAnswer);
    return ConfirmWrite(value, value == m_pollProg, ProgWriteUs(), reread) ? kIspOk
                                                                           : kIspProgWriteError;
}

int CIspAdapter::WriteProgramWord(uint16_t word, int wordAddress) {
    const uint8_t low = static_cast<uint8_t>(word >> 8);
    const uint8_t high = static_cast<uint8_t>(word & 0xFF);
    const int result = WriteProgramByte(low, 0, wordAddress);
    if (result != kIspOk) {
        return result;  // the high byte is not written after a failed low byte
    }
    return WriteProgramByte(high, 1, wordAddress);
}

int CIspAdapter::WriteDataByte(uint8_t value, int address) {
    auto reread = [&](bool& trusted) {
        uint8_t b = 0;
        trusted = ReadDataByte(b, address) == kIspOk;
        return b;
    };
    if (value == kErased && Confirmed(value, reread)) {
        return kIspOk;
    }
    Transfer(Instruction(kOpWriteEeprom, address, value), kNoAnswer);
    if (BusyFlag()) {
        return WaitWhileBusy(DataWriteUs()) && Confirmed(value, reread) ? kIspOk
                                                                        : kIspDataWriteError;
    }
    const bool fixedWait = value == m_pollData1 || value == m_pollData2;
    return ConfirmWrite(value, fixedWait, DataWriteUs(), reread) ? kIspOk : kIspDataWriteError;
}

bool CIspAdapter::BusyFlag() const {
    return m_pDevice != nullptr && m_pDevice->busyFlag;
}

bool CIspAdapter::WaitWhileBusy(int writeUs) {
    // Asked at the same pace as a read-back, for as long as the part's
    // longest write; a flag that cannot be read is taken for "busy".
    const int polls = PollsFor(writeUs);
    for (int poll = 0; poll < polls; ++poll) {
        WaitMicroseconds(kPollWaitUs);
        uint8_t status = 0;
        if (ReadAnswer(kPollReady, status) == kIspOk && (status & kBusyBit) == 0) {
            return true;
        }
    }
    return false;
}

void CIspAdapter::LoadExtendedAddress(int wordAddress) {
    Batch batch;
    AddExtendedAddress(batch, wordAddress);
    if (!batch.sent.empty()) {
        Send(batch);
    }
}

void CIspAdapter::AddExtendedAddress(Batch& batch, int wordAddress) {
    // Only parts with more than 64K words take (and need) the byte above
    // the sixteen address bits of their instructions.
    const int extended = wordAddress >> kAddressBits;
    if (m_nProgSize <= kWordAddressSpan * 2 || extended == m_nExtendedAddress) {
        return;
    }
    batch.Add(Instruction(kOpLoadExtendedAddress, extended & kByteMask), kNoAnswer);
    m_nExtendedAddress = extended;
}

bool CIspAdapter::Send(Batch& batch) {
    batch.answers.assign(batch.sent.size(), 0);
    m_bLinesOk = m_lines->Shift(batch.sent.data(), batch.bits.data(), batch.answers.data(),
                                batch.sent.size());
    if (!m_bLinesOk) {
        m_nExtendedAddress = kExtendedUnknown;  // it may never have reached the chip
    }
    return m_bLinesOk;
}

uint32_t CIspAdapter::ReadBits() const {
    return m_bEchoes ? kEchoAndData : kDataByte;
}

int CIspAdapter::ReadStatus(bool linesOk, uint32_t sent, uint32_t answer) const {
    if (!linesOk) {
        return kIspLineError;
    }
    return m_bEchoes && !Echoed(sent, answer) ? kIspNoEcho : kIspOk;
}

int CIspAdapter::ReadProgramWords(uint16_t* words, int* statuses, int wordAddress, int count) {
    Batch batch;
    std::vector<size_t> lowAt(static_cast<size_t>(std::max(count, 0)));
    for (int i = 0; i < count; ++i) {
        AddExtendedAddress(batch, wordAddress + i);
        lowAt[static_cast<size_t>(i)] = batch.sent.size();
        batch.Add(Instruction(kOpReadProgLow, wordAddress + i), ReadBits());
        batch.Add(Instruction(kOpReadProgHigh, wordAddress + i), ReadBits());
    }
    const bool linesOk = Send(batch);
    int result = kIspOk;
    for (int i = 0; i < count; ++i) {
        const size_t at = lowAt[static_cast<size_t>(i)];
        const int low = ReadStatus(linesOk, batch.sent[at], batch.answers[at]);
        const int high = ReadStatus(linesOk, batch.sent[at + 1], batch.answers[at + 1]);
        words[i] = static_cast<uint16_t>(AnswerByte(batch.answers[at]) |
                                         AnswerByte(batch.answers[at + 1]) << kBitsPerByte);
        statuses[i] = low != kIspOk ? low : high;
        result = result != kIspOk ? result : statuses[i];
    }
    return result;
}

int CIspAdapter::ReadDataBytes(uint8_t* values, int* statuses, int address, int count) {
    Batch batch;
    for (int i = 0; i < count; ++i) {
        batch.Add(Instruction(kOpReadEeprom, address + i), ReadBits());
    }
    const bool linesOk = Send(batch);
    int result = kIspOk;
    for (int i = 0; i < count; ++i) {
        const size_t at = static_cast<size_t>(i);
        values[i] = AnswerByte(batch.answers[at]);
        statuses[i] = ReadStatus(linesOk, batch.sent[at], batch.answers[at]);
        result = result != kIspOk ? result : statuses[i];
    }
    return result;
}

void CIspAdapter::WaitForPage(const uint8_t* pageBytes, int pageWordAddress) {
    if (BusyFlag()) {
        WaitWhileBusy(ProgWriteUs());  // the read-back tells whether it worked
        return;
    }
    // A busy page reads the busy value: poll a byte that cannot be taken for
    // it, or wait the whole page time when the page has none.
    const int pageSize = ProgPageSize();
    for (int offset = 0; offset < pageSize; ++offset) {
        const uint8_t value = pageBytes[offset];
        if (value != m_pollProg && value != kErased) {
            const int word = pageWordAddress + offset / 2;
            const int high = offset % 2;
            auto reread = [&](bool& trusted) {
                uint8_t b = 0;
                trusted = ReadProgramByte(b, high, word) == kIspOk;
                return b;
            };
            ConfirmWrite(value, false, ProgWriteUs(), reread);
            return;
        }
    }
    WaitMicroseconds(ProgWriteUs());
}

int CIspAdapter::WriteProgramPage(const uint8_t* pageBytes, int pageWordAddress, int& failedWord) {
    const int pageSize = ProgPageSize();
    failedWord = pageWordAddress;
    if (pageSize <= 0) {
        return kIspNotSupported;
    }
    const bool blank =
        std::all_of(pageBytes, pageBytes + pageSize, [](uint8_t b) { return b == kErased; });
    bool linesOk = true;
    if (!blank) {
        // The page's loads go down as batches as long as the lines take to
        // their benefit (the whole page on a bit-bang cable, one load at a
        // time on the modem lines), with a stop honoured between them: the
        // next RESET drops what was loaded, and no page is committed half.
        Batch loads;
        AddExtendedAddress(loads, pageWordAddress);
        for (int offset = 0; offset < pageSize; ++offset) {
            const uint8_t op = offset % 2 != 0 ? kOpWriteProgHigh : kOpWriteProgLow;
            loads.Add(Instruction(op, pageWordAddress + offset / 2, pageBytes[offset]), kNoAnswer);
        }
        // Write Page ends the last batch, so a stop before it leaves the
        // page uncommitted.
        loads.Add(Instruction(kOpWriteProgPage, pageWordAddress), kNoAnswer);
        const size_t step = std::max<size_t>(1, m_lines->BatchLength());
        for (size_t at = 0; at < loads.sent.size(); at += step) {
            if (m_stopCheck && m_stopCheck()) {
                return kIspStopped;
            }
            Batch part;
            for (size_t i = at; i < std::min(loads.sent.size(), at + step); ++i) {
                part.Add(loads.sent[i], loads.bits[i]);
            }
            linesOk = Send(part) && linesOk;
        }
        WaitForPage(pageBytes, pageWordAddress);
    }
    // The page counts as written once every byte of it reads back; a blank
    // page must read erased. Read back as many words at once as the lines
    // take to their benefit; the first word that differs ends it.
    const int pageWords = pageSize / 2;
    const int chunk = std::max(1, std::min(pageWords, BatchLength() / 2));
    std::vector<uint16_t> read(static_cast<size_t>(chunk));
    std::vector<int> statuses(static_cast<size_t>(chunk));
    for (int first = 0; first < pageWords; first += chunk) {
        if (m_stopCheck && m_stopCheck()) {
            failedWord =
                pageWordAddress + first;  // written, perhaps, but not confirmed from here on
            return kIspStopped;
        }
        const int count = std::min(chunk, pageWords - first);
        ReadProgramWords(read.data(), statuses.data(), pageWordAddress + first, count);
        for (int i = 0; i < count; ++i) {
            const int offset = 2 * (first + i);
            const uint16_t wanted =
                static_cast<uint16_t>(pageBytes[offset] | pageBytes[offset + 1] << kBitsPerByte);
            if (!linesOk || statuses[static_cast<size_t>(i)] != kIspOk ||
                read[static_cast<size_t>(i)] != wanted) {
                failedWord = pageWordAddress + first + i;
                return kIspProgWriteError;
            }
        }
    }
    return kIspOk;
}

int CIspAdapter::SendLockInstruction(const char* pattern, uint8_t lockByte, int fuse) {
    const CInstructionPattern instruction(pattern);
    Transfer(instruction.Build(lockByte, fuse), kNoAnswer);
    const bool linesOk = m_bLinesOk;
    WaitMicroseconds(LockWriteUs());
    // Nothing is read back, but a port that stopped working is no success.
    return linesOk ? kIspOk : kIspLineError;
}

int CIspAdapter::WriteLockBits(int lockBit1, int lockBit2, int fstrt) {
    if (m_pDevice == nullptr || m_pDevice->lockWrite == nullptr) {
        return kIspNotSupported;
    }
    // Every lock bit the panel does not show is written unprogrammed, which
    // leaves it as it is: lock bits only ever go from 1 to 0.
    uint8_t lock = kAllLockBitsUnprogrammed;
    if (lockBit1 == 0) {
        lock &= static_cast<uint8_t>(~kLockBit1);
    }
    if (lockBit2 == 0) {
        lock &= static_cast<uint8_t>(~kLockBit2);
    }
    int result = SendLockInstruction(m_pDevice->lockWrite, lock, 0);
    if (m_pDevice->fstrtWrite != nullptr) {
        const int fuseResult = SendLockInstruction(m_pDevice->fstrtWrite, 0, fstrt != 0 ? 1 : 0);
        result = result != kIspOk ? result : fuseResult;
    }
    return result;
}

int CIspAdapter::WriteLockByte(uint8_t lockByte) {
    if (m_pDevice == nullptr || m_pDevice->lockWrite == nullptr) {
        return kIspNotSupported;
    }
    return SendLockInstruction(m_pDevice->lockWrite, lockByte, 0);
}

int CIspAdapter::ReadProgramWord(uint16_t& word, int wordAddress) {
    uint8_t low = 0;
    uint8_t high = 0;
    const int lowResult = ReadProgramByte(low, 0, wordAddress);
    const int highResult = ReadProgramByte(high, 1, wordAddress);
    word = static_cast<uint16_t>(low | (high << kBitsPerByte));
    return lowResult != kIspOk ? lowResult : highResult;
}

int CIspAdapter::ReadProgramByte(uint8_t& value, int high, int wordAddress) {
    LoadExtendedAddress(wordAddress);
    return ReadAnswer(Instruction(high != 0 ? kOpReadProgHigh : kOpReadProgLow, wordAddress),
                      value);
}

int CIspAdapter::ReadDataByte(uint8_t& value, int address) {
    return ReadAnswer(Instruction(kOpReadEeprom, address), value);
}

int CIspAdapter::ReadLock(uint8_t& lockByte, uint8_t& reported, uint8_t& answer) {
    lockByte = kAllLockBitsUnprogrammed;
    reported = 0;
    answer = 0;
    if (m_pDevice == nullptr || m_pDevice->lockRead == nullptr) {
        return kIspNotSupported;
    }
    const CInstructionPattern pattern(m_pDevice->lockRead);
    const int result = ReadAnswer(pattern.Fixed(), answer);
    reported = pattern.LockBitsReported();
    // A bit the part does not report stays unprogrammed.
    lockByte = static_cast<uint8_t>(pattern.LockByteOf(answer) | ~reported);
    return result;
}

int CIspAdapter::ReadLockByte(uint8_t& lockByte, uint8_t& reported) {
    uint8_t answer = 0;
    return ReadLock(lockByte, reported, answer);
}

int CIspAdapter::ReadLockBits(int& lockBit1, int& lockBit2, int& fstrt, int& spien) {
    uint8_t lock = 0;
    uint8_t reported = 0;
    uint8_t answer = 0;
    const int result = ReadLock(lock, reported, answer);
    lockBit1 = BitValue(lock, kLockBit1);
    lockBit2 = BitValue(lock, kLockBit2);
    // No box is ticked that the chip did not show.
    fstrt = spien = 1;
    if (m_pDevice != nullptr && m_pDevice->lockRead != nullptr) {
        const CInstructionPattern pattern(m_pDevice->lockRead);
        fstrt = pattern.BitOf(answer, kFuseLetter) != 0 ? 1 : 0;
        spien = pattern.BitOf(answer, kSpienLetter) != 0 ? 1 : 0;
    }
    return result;
}

int CIspAdapter::ReadFuseByte(uint8_t fuse, uint8_t& value) {
    value = kErased;
    const int byte = FuseIndex(fuse);
    if (m_pDevice == nullptr || byte < 0 || (m_pDevice->fuseBytes & fuse) == 0) {
        return kIspNotSupported;
    }
    return ReadAnswer(g_fuseBytes[byte].readInstruction, value);
}

int CIspAdapter::WriteFuseByte(uint8_t fuse, uint8_t value) {
    const int byte = FuseIndex(fuse);
    if (m_pDevice == nullptr || byte < 0 || (m_pDevice->fuseBytes & fuse) == 0) {
        return kIspNotSupported;
    }
    const FuseLayout* layout = m_pDevice->fuseNames;
    const uint8_t ones = layout != nullptr ? layout->writeOnes[byte] : 0;
    Transfer(g_fuseBytes[byte].writeInstruction | static_cast<uint8_t>(value | ones), kNoAnswer);
    const bool linesOk = m_bLinesOk;
    WaitMicroseconds(LockWriteUs());
    return linesOk ? kIspOk : kIspLineError;
}

int CIspAdapter::ReadCalibrationByte(uint8_t& value) {
    value = kErased;
    if (m_pDevice == nullptr || !m_pDevice->calibration) {
        return kIspNotSupported;
    }
    return ReadAnswer(kReadCalibration, value);
}

int CIspAdapter::ReadSignatureByte(uint8_t& value, int index) {
    return ReadAnswer(Instruction(kOpReadSignature, index & kByteMask), value);
}

// ---------------------------------------------------------------- devices

void CIspAdapter::TakeRow(int index) {
    const DeviceInfo& row = g_deviceTable[index];
    m_pDevice = &row;
    m_nProgSize = row.progSize;
    m_nDataSize = row.dataSize;
    m_nDevice = row.number;
    m_nSignature = row.signature;
    m_strName = row.name;
    m_pollData1 = row.pollData1;
    m_pollData2 = row.pollData2;
    m_pollProg = row.pollProg;
}

int CIspAdapter::SelectDeviceRow(int index) {
    if (index < 0 || index >= kDeviceCount) {
        return kSelectNotFound;
    }
    TakeRow(index);
    return index;
}

int CIspAdapter::SelectDevice(int number) {
    if (number == kNoDeviceNumber) {
        return kSelectNotFound;  // the parts without a number are selected by row
    }
    for (int index = 0; index < kDeviceCount; ++index) {
        if (g_deviceTable[index].number == number) {
            TakeRow(index);
            return index;
        }
    }
    return kSelectNotFound;
}

int CIspAdapter::MatchSignature(bool echoed, int32_t& sizeFound) {
    // A line that stopped working reads as zeros, which is no device at all.
    uint8_t signature[kSignatureBytes] = {};
    for (int index = kSignatureVendor; index <= kSignaturePart; ++index) {
        if (ReadSignatureByte(signature[index], index) != kIspOk) {
            return kIdentifyResetError;
        }
        if (index == kSignatureVendor && signature[index] != kAtmelVendorCode) {
            return echoed ? kIdentifyVendorError : kIdentifyNotFound;
        }
    }
    const int32_t size = ProgSizeForSizeCode(signature[kSignatureSize]);
    if (size != 0) {
        sizeFound = size;
    }
    const uint8_t value = signature[kSignaturePart];
    for (int index = 0; index < kDeviceCount; ++index) {
        const DeviceInfo& row = g_deviceTable[index];
        // Without the echo only a part that never gives one can be answering;
        // a part reached through UPDI never answers here.
        const bool candidate =
            row.protocol == Protocol::Isp && (echoed || row.entry == EntryRule::SingleEnable);
        // The parts of today answer a size code of their own: all three
        // bytes name them.
        const bool matches =
            row.sizeCode != 0 ? row.sizeCode == signature[kSignatureSize] && row.signature == value
                              : (row.signature & 0xFF) == value && row.progSize == sizeFound;
        if (candidate && matches) {
            TakeRow(index);
            return index;
        }
    }
    return kIdentifyNotFound;
}

int CIspAdapter::IdentifyDevice() {
    if (PulseReset() != kIspOk) {
        return kIdentifyResetError;
    }
    WaitMicroseconds(kSyncSetupWaitUs);
    m_bEchoes = false;      // the answers are judged by their values here
    int32_t sizeFound = 0;  // kept from one attempt to the next
    for (int attempt = 0; attempt < kSyncAttempts; ++attempt) {
        const bool echoed = Synchronise();
        // A part that gives no echo is in step only before the first SCK
        // pulse: it is asked for its signature after the first attempt.
        if (echoed || attempt == 0) {
            const int result = MatchSignature(echoed, sizeFound);
            if (result != kIdentifyNotFound) {
                return result;
            }
        }
        PulseSck();
    }
    return kIdentifyNotFound;
}
