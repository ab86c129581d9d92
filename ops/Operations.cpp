#include "ops/Operations.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>

#include "ops/OperationHost.h"
#include "ops/Programmer.h"
#include "parts/DeviceTable.h"
#include "parts/FuseFields.h"

namespace {

constexpr int kCheckSignature = 1;
constexpr int kNoSignatureCheck = 0;

constexpr int kProgStep = 2;  // one program word per step
constexpr int kDataStep = 1;
constexpr uint8_t kErasedByte = 0xFF;
constexpr uint16_t kErasedWord = 0xFFFF;
constexpr uint8_t kReadFillByte = 0x00;  // a read starts from an image of zeros
constexpr int kBitsPerByte = 8;
constexpr unsigned kByteMask = 0xFF;
// A failed restore entry is reported as a failure at the first address.
constexpr int kRestoreEntryAddress = 0;
constexpr int kVendorSignatureIndex = 0;
// Room for a line with an address of up to eight hex digits.
constexpr size_t kLineBufferSize = 128;

// Write.
constexpr char kWriteProgHeading[] = "Writing PROG to device ...\r\n";
constexpr char kWriteInitError[] = " Write : Initialisation Error\r\n";
constexpr char kWriteProgFailedAt[] = " Write : Error at address %04x.\r\n";
constexpr char kWriteProgComplete[] = " Writing : Complete\r\n";
constexpr char kWriteDataHeading[] = "Writing Data to device ...\r\n";
constexpr char kWriteDataInitError[] = " Write Data: Initialisation Error\r\n";
constexpr char kWriteDataFailedAt[] = " Write Data : Error at address %04x.\r\n";
constexpr char kWriteDataComplete[] = " Writing Data: Complete\r\n";
constexpr char kWriteLockHeading[] = "Writing device LockBit ...\r\n";
constexpr char kWriteLockError[] = " Write LockBit : Error.\r\n";
constexpr char kWriteLockComplete[] = " Write LockBit Complete\r\n";

// Read.
constexpr char kReadProgHeading[] = "Reading PROG device ...\r\n";
constexpr char kReadDataHeading[] = "Reading DATA device ...\r\n";
constexpr char kReadLockHeading[] = "Reading device LockBit ...\r\n";
constexpr char kReadInitError[] = " Read : Initialisation Error\r\n";
constexpr char kReadFailedAt[] = " Read : Error at address %04x.\r\n";
constexpr char kReadComplete[] = " Reading : Complete\r\n";
constexpr char kReadLockError[] = " Read LockBit : Error.\r\n";
constexpr char kReadLockComplete[] = " Read LockBit Complete\r\n";

// Verify.
constexpr char kVerifyProgHeading[] = "Verifing PROG device ...\r\n";
constexpr char kVerifyDataHeading[] = "Verifing device DATA ...\r\n";
constexpr char kVerifyLockHeading[] = "Verifing device LockBit ...\r\n";
constexpr char kVerifyInitError[] = " Verify : Initialisation Error\r\n";
constexpr char kVerifyProgReadFailedAt[] = " Verify : Read Error at address %04x.\r\n";
constexpr char kVerifyDataReadFailedAt[] = " Read : Read Error at address %04x.\r\n";
constexpr char kVerifyDiffersAt[] = " Verify : Error at address %04x.\r\n";
constexpr char kVerifyComplete[] = " Verify : Complete\r\n";
constexpr char kVerifyLockReadError[] = " Verify : Read LockBit Error.\r\n";
constexpr char kVerifyLockDiffers[] = " Verify : LockBit Error.\r\n";
// Parts without a lock read in serial programming mode.
constexpr char kReadLockNotReadable[] =
    " Read LockBit : This device cannot report its lock bits.\r\n";
constexpr char kVerifyLockNotReadable[] = " Verify : This device cannot report its lock bits.\r\n";
constexpr char kWriteLockNoFstrt[] = " Write LockBit : This device has no FSTRT fuse.\r\n";

// Fuses.
constexpr char kReadFusesHeading[] = "Reading device Fuses ...\r\n";
constexpr char kReadFusesComplete[] = " Read Fuses Complete\r\n";
constexpr char kReadFusesError[] = " Read Fuses : Error.\r\n";
constexpr char kReadFusesNone[] = " Read Fuses : This device has no fuses to read.\r\n";
constexpr char kWriteFusesHeading[] = "Writing device Fuses ...\r\n";
constexpr char kWriteFusesComplete[] = " Write Fuses Complete\r\n";
constexpr char kWriteFusesError[] = " Write Fuses : Error.\r\n";
constexpr char kWriteFusesChanged[] =
    " Write Fuses : The chip's fuses are not those read; nothing written. Read them again.\r\n";
constexpr char kFusesNotOnDevice[] = " Fuses : This device has no such fuse byte.\r\n";
constexpr char kVerifyFusesHeading[] = "Verifing device Fuses ...\r\n";
constexpr char kVerifyFusesDiffer[] = " Verify : Fuses Error.\r\n";
constexpr char kVerifyFusesReadError[] = " Verify : Read Fuses Error.\r\n";
constexpr int kBitsPerFuseByte = 8;
// UPDI parts: their fuses listed one by one, and the user row.
constexpr char kUpdiFusesNotOnDevice[] =
    " Fuses : This device has no such fuse, or its fuses are not listed one by one.\r\n";
// The reasons already say that no adapter would reach the chip.
constexpr char kUpdiFusesCutOff[] = ".\r\n";
constexpr char kReasonSeparator[] = "; ";
constexpr char kReadUserRowHeading[] = "Reading device User Row ...\r\n";
constexpr char kReadUserRowComplete[] = " Read User Row Complete\r\n";
constexpr char kReadUserRowError[] = " Read User Row : Error.\r\n";
constexpr char kWriteUserRowHeading[] = "Writing device User Row ...\r\n";
constexpr char kWriteUserRowComplete[] = " Write User Row Complete\r\n";
constexpr char kWriteUserRowError[] = " Write User Row : Error.\r\n";
constexpr char kVerifyUserRowHeading[] = "Verifing device User Row ...\r\n";
constexpr char kVerifyUserRowDiffer[] = " Verify : User Row Error.\r\n";
constexpr char kVerifyUserRowReadError[] = " Verify : Read User Row Error.\r\n";
constexpr char kUserRowNotOnDevice[] =
    " User Row : This device has no user row, or not that long.\r\n";
// More fuses than a mask of which can name.
constexpr size_t kMaxUpdiFuses = 32;

// The value of fuse bit 8 * byte + bit, 1 (unprogrammed) when the bit lies
// in a byte not being written.
int FuseBit(const std::array<uint8_t, kFuseByteCount>& fuses, int bit) {
    return (fuses[static_cast<size_t>(bit / kBitsPerFuseByte)] >> (bit % kBitsPerFuseByte)) & 1;
}

}  // namespace

std::string FuseCutOffReasons(const DeviceInfo& device,
                              const std::array<uint8_t, kFuseByteCount>& now,
                              const std::array<uint8_t, kFuseByteCount>& next, uint8_t which) {
    std::string reasons;
    auto written = [&](int bit) {
        return bit >= 0 && (which & g_fuseBytes[bit / kBitsPerFuseByte].mask) != 0;
    };
    auto add = [&](const std::string& what) { reasons += (reasons.empty() ? "" : ", ") + what; };
    if (written(device.rstdisblBit) && FuseBit(now, device.rstdisblBit) == 1 &&
        FuseBit(next, device.rstdisblBit) == 0) {
        add("RSTDISBL programmed: RESET becomes a port pin");
    }
    if (written(device.dwenBit) && FuseBit(now, device.dwenBit) == 1 &&
        FuseBit(next, device.dwenBit) == 0) {
        add("DWEN programmed: RESET carries debugWIRE");
    }
    if (written(device.spienBit) && FuseBit(now, device.spienBit) == 0 &&
        FuseBit(next, device.spienBit) == 1) {
        add("SPIEN unprogrammed: serial programming is off");
    }
    if ((which & kLowFuse) != 0 && ((now[0] ^ next[0]) & device.ckselMask) != 0) {
        // Named in words where the part's clock table is known.
        std::string clock;
        add(FuseClockCutOffReason(device, next, clock)
                ? clock
                : "CKSEL changed: another clock source, which the board may not have");
    }
    // Where the program cannot name a byte's bits, any change to it may be
    // one of the above.
    for (int i = 0; i < kFuseByteCount; ++i) {
        const size_t index = static_cast<size_t>(i);
        const bool named = device.fuseNames != nullptr && device.fuseNames->bytes[i] != nullptr;
        if ((which & g_fuseBytes[i].mask) != 0 && !named && now[index] != next[index]) {
            add(std::string(g_fuseBytes[i].name) +
                " changed, whose bits this program cannot name: any of them may cut the chip off");
        }
    }
    return reasons;
}

namespace {

// Erase.
constexpr char kEraseAllHeading[] = "Erasing ...\r\n";
constexpr char kEraseProgHeading[] = "Erasing PROG device ...\r\n";
constexpr char kEraseDataHeading[] = "Erasing device Data ...\r\n";
constexpr char kEraseInitError[] = " Erase : Initialisation Error\r\n";
constexpr char kEraseError[] = " Erase : Error\r\n";
constexpr char kEraseComplete[] = " Erase : Complete\r\n";
constexpr char kEraseReadDataFailedAt[] = " Erase : Read Data Error at address %04x.\r\n";
constexpr char kEraseReadProgFailedAt[] = " Erase : Read Error at address %04x.\r\n";
constexpr char kEraseReadLockError[] = " Erase : Read LockBit Error.\r\n";
constexpr char kEraseLockedDevice[] =
    " Erase : The device is locked; its memory cannot be read to be kept.\r\n";
constexpr uint8_t kLockMode3Mask = 0x03;  // Lock Bit1 and Lock Bit2 in the lock byte
constexpr char kEraseRewriteDataFailedAt[] =
    " Erase Prog : ReWrite Data Error at address %04x.\r\n";
constexpr char kEraseRewriteProgFailedAt[] = " Erase : ReWrite Error at address %04x.\r\n";
constexpr char kEraseRewriteLockError[] = " Erase : ReWrite LockBit : Error.\r\n";

// The names that begin an operation's stop and port lines.
constexpr char kWriteName[] = "Write";
constexpr char kWriteDataName[] = "Write Data";
constexpr char kWriteLockName[] = "Write LockBit";
constexpr char kReadName[] = "Read";
constexpr char kReadLockName[] = "Read LockBit";
constexpr char kVerifyName[] = "Verify";
constexpr char kReadFusesName[] = "Read Fuses";
constexpr char kWriteFusesName[] = "Write Fuses";
constexpr char kReadUserRowName[] = "Read User Row";
constexpr char kWriteUserRowName[] = "Write User Row";
constexpr char kEraseName[] = "Erase";
constexpr int kNoAddress = -1;

// A locked chip answers nothing of its memories: said in place of the
// initialisation error, after the operation's name.
constexpr char kChipLocked[] =
    "The chip is locked: Erase All unlocks it and erases flash and EEPROM";

// The adapter each protocol needs, said after the part's name when the port
// leads to the other kind.
struct AdapterAdvice {
    Protocol protocol;
    const char* text;
};
constexpr AdapterAdvice kAdapterAdvice[] = {
    {Protocol::Isp,
     " is programmed through ISP: choose a port without ,updi (the ISP adapter on a serial "
     "port's modem lines, or an FT232R cable).\r\n"},
    {Protocol::Updi,
     " is programmed through UPDI: choose a port with ,updi (a serial cable with TX and RX "
     "joined through a resistor).\r\n"},
};

bool HasFstrt(const IProgrammer& programmer) {
    return programmer.Device() != nullptr && programmer.Device()->fstrtWrite != nullptr;
}

// A tick means the bit is programmed, which the device reads as 0.
int BitValueOfTick(int tick) {
    return tick != 0 ? 0 : 1;
}
int TickOfBitValue(int value) {
    return value == 0 ? 1 : 0;
}
bool TickAgreesWithBit(int tick, int value) {
    return (tick != 0) == (value == 0);
}

// Image bytes beyond an image shorter than the device read as erased, so a
// mis-sized image never makes the loops read outside it.
uint8_t ByteAt(const std::vector<uint8_t>& buffer, int address) {
    return static_cast<size_t>(address) < buffer.size() ? buffer[address] : kErasedByte;
}
void StoreAt(std::vector<uint8_t>& buffer, int address, uint8_t value) {
    if (static_cast<size_t>(address) < buffer.size()) {
        buffer[address] = value;
    }
}

// A buffer for a memory of the given size (none for a size of 0 or less).
size_t BufferLength(int size) {
    return static_cast<size_t>(std::max(size, 0));
}

// Leaves programming mode when the operation ends, whichever way it ends:
// exactly once per operation, also after a failed entry.
class CProgrammingModeExit {
public:
    explicit CProgrammingModeExit(IProgrammer& programmer) : m_programmer(programmer) {}
    ~CProgrammingModeExit() { m_programmer.LeaveProgrammingMode(); }
    CProgrammingModeExit(const CProgrammingModeExit&) = delete;
    CProgrammingModeExit& operator=(const CProgrammingModeExit&) = delete;

private:
    IProgrammer& m_programmer;
};

}  // namespace

// ---- The frame ----

COperations::COperations(IProgrammer& programmer, MemoryImages& images, IOperationHost& host)
    : m_programmer(programmer), m_images(images), m_host(host) {
    // A page being loaded is dropped, not committed, when a stop comes.
    m_programmer.SetStopCheck([this] { return m_host.StopRequested(); });
}

COperations::~COperations() {
    m_programmer.SetStopCheck(nullptr);
}

void COperations::SetPortLabel(const std::string& label) {
    m_portLabel = label;
    m_bPortLost = false;
}

bool COperations::Begin(const char* name, const char* heading, const char* initError,
                        int checkSignature, bool lockedAnswers) {
    m_readAhead = ReadAhead();
    m_chipLocked = false;  // nothing read before counts for this operation
    m_name = name;
    m_end = End::Running;
    m_host.TakeFromScreen();
    Post(heading);
    // A port that stopped answering is opened afresh: the cable may be back.
    if (PortGone() && m_reopen) {
        m_bPortLost = !m_reopen();
    }
    const int entered = m_programmer.EnterProgrammingMode(checkSignature);
    if (entered == kProgrammerStopped) {
        PostStopped(0);  // nothing was done yet: it stopped at the start
        return false;
    }
    if (entered == kProgrammerLocked && lockedAnswers) {
        m_chipLocked = true;  // the lock itself is the answer
        return true;
    }
    if (entered == kProgrammerLocked) {
        PostEnd(kChipLocked, kNoAddress);
        return false;
    }
    if (entered == kProgrammerWrongAdapter) {
        PostWrongAdapter();
        return false;
    }
    if (entered != kProgrammerOk) {
        Fail(initError);
        // The result line stays the first; where the protocol can tell why,
        // the next line says where to look.
        const std::string trouble = m_programmer.EntryTrouble();
        if (!trouble.empty() && !PortGone()) {
            m_host.AppendMessage(" " + trouble + ".\r\n");
        }
        return false;
    }
    return true;
}

void COperations::PostWrongAdapter() {
    const DeviceInfo* device = m_programmer.Device();
    if (device == nullptr) {
        return;
    }
    for (const AdapterAdvice& advice : kAdapterAdvice) {
        if (advice.protocol == device->protocol) {
            m_host.AppendMessage(std::string(" ") + device->name + advice.text);
        }
    }
}

bool COperations::Stopping() {
    if (m_end != End::Stopped && m_host.StopRequested()) {
        m_end = End::Stopped;
    }
    return m_end == End::Stopped;
}

bool COperations::PortGone() {
    return m_bPortLost || m_programmer.PortNotAnswering();
}

void COperations::PostStopped(int address) {
    m_end = End::Stopped;
    PostEnd("Stopped", address);
}

void COperations::PostPortGone(int address) {
    m_end = End::PortLost;
    PostEnd((m_portLabel.empty() ? std::string("The port") : "Port " + m_portLabel) +
                " stopped answering",
            address);
}

void COperations::PostEnd(const std::string& what, int address) {
    std::string line = std::string(" ") + m_name + " : " + what;
    if (address != kNoAddress) {
        std::array<char, kLineBufferSize> text{};
        std::snprintf(text.data(), text.size(), " at address %04x", static_cast<unsigned>(address));
        line += text.data();
    }
    m_host.AppendMessage(line + ".\r\n");
}

void COperations::Fail(const char* line) {
    if (PortGone()) {
        PostPortGone(kNoAddress);
    } else {
        m_host.AppendMessage(line);
    }
}

void COperations::FailAt(const char* format, int address) {
    if (PortGone()) {
        PostPortGone(address);
    } else {
        AppendAddressLine(format, address);
    }
}

void COperations::Post(const char* line) {
    m_host.AddMessage(line);
    m_host.ShowOnScreen();
}

void COperations::AppendAddressLine(const char* format, int address) {
    std::array<char, kLineBufferSize> line{};
    std::snprintf(line.data(), line.size(), format, static_cast<unsigned>(address));
    m_host.AppendMessage(line.data());
}

int COperations::Size(Memory memory) const {
    return memory == Memory::Prog ? m_programmer.ProgSize() : m_programmer.DataSize();
}

std::vector<uint8_t>& COperations::Image(Memory memory) {
    return memory == Memory::Prog ? m_images.m_progImage : m_images.m_dataImage;
}

void COperations::ImageRead(Memory memory) {
    m_host.ImageChanged(memory == Memory::Prog, true);
}

void COperations::ImageErased(Memory memory) {
    m_host.ImageChanged(memory == Memory::Prog, false);
}

int COperations::Stride(Memory memory) {
    return memory == Memory::Prog ? kProgStep : kDataStep;
}

bool COperations::ReadAhead::Holds(Memory m, int address) const {
    const int index = (address - first) / Stride(m);
    return m == memory && address >= first && index < static_cast<int>(units.size());
}

bool COperations::ReadAheadFrom(Memory memory, int address) {
    const int stride = Stride(memory);
    const int ahead = m_programmer.BatchLength() / (memory == Memory::Prog ? kProgStep : kDataStep);
    const int count = std::min(ahead, (Size(memory) - address + stride - 1) / stride);
    if (ahead <= 1 || count <= 0) {
        return false;
    }
    m_readAhead.memory = memory;
    m_readAhead.first = address;
    m_readAhead.units.assign(static_cast<size_t>(count), Unit{});
    m_readAhead.statuses.assign(static_cast<size_t>(count), kProgrammerOk);
    if (memory == Memory::Prog) {
        std::vector<uint16_t> words(static_cast<size_t>(count));
        m_programmer.ReadProgramWords(words.data(), m_readAhead.statuses.data(),
                                      address / kProgStep, count);
        for (size_t i = 0; i < words.size(); ++i) {
            m_readAhead.units[i][0] = static_cast<uint8_t>(words[i] & kByteMask);
            m_readAhead.units[i][1] = static_cast<uint8_t>(words[i] >> kBitsPerByte);
        }
    } else {
        std::vector<uint8_t> bytes(static_cast<size_t>(count));
        m_programmer.ReadDataBytes(bytes.data(), m_readAhead.statuses.data(), address, count);
        for (size_t i = 0; i < bytes.size(); ++i) {
            m_readAhead.units[i][0] = bytes[i];
        }
    }
    return true;
}

int COperations::ReadUnit(Memory memory, int address, Unit& unit) {
    if (m_readAhead.Holds(memory, address) || ReadAheadFrom(memory, address)) {
        const size_t index = static_cast<size_t>((address - m_readAhead.first) / Stride(memory));
        unit = m_readAhead.units[index];
        return m_readAhead.statuses[index];
    }
    if (memory == Memory::Prog) {
        uint16_t word = 0;
        const int status = m_programmer.ReadProgramWord(word, address / kProgStep);
        unit[0] = static_cast<uint8_t>(word & kByteMask);
        unit[1] = static_cast<uint8_t>(word >> kBitsPerByte);
        return status;
    }
    return m_programmer.ReadDataByte(unit[0], address);
}

void COperations::StoreUnit(Memory memory, int address, const Unit& unit,
                            std::vector<uint8_t>& buffer) {
    for (int offset = 0; offset < Stride(memory); ++offset) {
        StoreAt(buffer, address + offset, unit[offset]);
    }
}

int COperations::ReadUnitInto(Memory memory, int address, std::vector<uint8_t>& buffer) {
    Unit unit{};
    const int status = ReadUnit(memory, address, unit);
    if (status == kProgrammerOk) {
        StoreUnit(memory, address, unit, buffer);  // a failed read leaves the zeros
    }
    return status;
}

int COperations::LastAddress(Memory memory) const {
    return std::max(Size(memory) - Stride(memory), 0);
}

bool COperations::IsLastUnit(Memory memory, int address) const {
    return address + Stride(memory) >= Size(memory);
}

bool COperations::TargetStillAnswers() {
    uint8_t vendor = 0;
    return m_programmer.ReadSignatureByte(vendor, kVendorSignatureIndex) == kProgrammerOk &&
           vendor == kAtmelVendorCode;
}

int COperations::WriteStride(Memory memory) const {
    const int page = m_programmer.ProgPageSize();
    return memory == Memory::Prog && page > 0 ? page : Stride(memory);
}

int COperations::WriteUnit(Memory memory, int& address, const std::vector<uint8_t>& buffer) {
    m_readAhead = ReadAhead();  // what was read before may change now
    const int page = WriteStride(memory);
    if (memory == Memory::Prog && page > Stride(memory)) {
        // The page from the image; a short image reads as erased beyond its end.
        std::vector<uint8_t> bytes(static_cast<size_t>(page));
        for (int offset = 0; offset < page; ++offset) {
            bytes[static_cast<size_t>(offset)] = ByteAt(buffer, address + offset);
        }
        int failedWord = 0;
        const int status =
            m_programmer.WriteProgramPage(bytes.data(), address / kProgStep, failedWord);
        if (status != kProgrammerOk) {
            address = failedWord * kProgStep;  // the failure names the word
        }
        return status;
    }
    if (memory == Memory::Prog) {
        // A written word carries the low byte (image byte 2w) in bits 15..8.
        const auto word = static_cast<uint16_t>((ByteAt(buffer, address) << kBitsPerByte) |
                                                ByteAt(buffer, address + 1));
        return m_programmer.WriteProgramWord(word, address / kProgStep);
    }
    return m_programmer.WriteDataByte(ByteAt(buffer, address), address);
}

template <typename Step>
bool COperations::ForEachAddress(Memory memory, Step step, int stride, bool stoppable) {
    const int size = Size(memory);
    if (stride <= 0) {
        stride = Stride(memory);
    }
    for (int address = 0; address < size; address += stride) {
        if (stoppable && Stopping()) {
            PostStopped(address);
            return false;
        }
        m_host.SetProgressPos(address);
        int reported = address;
        if (const char* failure = step(reported)) {
            if (m_end == End::Stopped) {
                PostStopped(reported);  // the step itself stopped (a page write)
            } else {
                FailAt(failure, reported);
            }
            return false;
        }
        m_host.Yield();
    }
    return true;
}

template <typename Step>
bool COperations::RunOverMemory(Memory memory, const char* complete, Step step, int stride) {
    m_host.SetProgressRange(Size(memory));
    m_host.SetProgressPos(0);
    if (!ForEachAddress(memory, step, stride)) {
        return false;
    }
    m_host.AppendMessage(complete);
    return true;
}

// ---- Memory operations ----

bool COperations::WriteMemory(Memory memory, const MemoryLines& lines) {
    CProgrammingModeExit exit(m_programmer);
    if (!Begin(lines.name, lines.heading, lines.initError, kCheckSignature)) {
        return false;
    }
    const std::vector<uint8_t>& image = Image(memory);
    return RunOverMemory(
        memory, lines.complete,
        [&](int& address) -> const char* {
            const int status = WriteUnit(memory, address, image);
            if (status == kProgrammerStopped) {
                m_end = End::Stopped;
            }
            return status == kProgrammerOk ? nullptr : lines.failedAt;
        },
        WriteStride(memory));
}

bool COperations::ReadMemory(Memory memory, const MemoryLines& lines) {
    CProgrammingModeExit exit(m_programmer);
    // The image is re-made only once the device answered, so that a failed
    // entry leaves image, view and flag as they were.
    if (!Begin(lines.name, lines.heading, lines.initError, kCheckSignature)) {
        return false;
    }
    std::vector<uint8_t>& image = Image(memory);
    image.assign(BufferLength(Size(memory)), kReadFillByte);
    const bool done = RunOverMemory(memory, lines.complete, [&](int& address) -> const char* {
        Unit unit{};
        if (ReadUnit(memory, address, unit) != kProgrammerOk ||
            (IsLastUnit(memory, address) && !TargetStillAnswers())) {
            return lines.failedAt;  // the image keeps its zeros from here on
        }
        StoreUnit(memory, address, unit, image);
        return nullptr;
    });
    if (done) {
        ImageRead(memory);
    }
    return done;
}

bool COperations::VerifyMemory(Memory memory, const MemoryLines& lines) {
    CProgrammingModeExit exit(m_programmer);
    if (!Begin(lines.name, lines.heading, lines.initError, kCheckSignature)) {
        return false;
    }
    const std::vector<uint8_t>& image = Image(memory);
    return RunOverMemory(memory, lines.complete, [&](int& address) -> const char* {
        Unit unit{};
        if (ReadUnit(memory, address, unit) != kProgrammerOk) {
            return lines.failedAt;
        }
        // Either byte of a word differing reports the word's even address.
        bool differs = false;
        for (int offset = 0; offset < Stride(memory); ++offset) {
            differs = differs || unit[offset] != ByteAt(image, address + offset);
        }
        // A difference, or the last word or byte, is only reported once the
        // target has shown that it was still answering.
        if ((differs || IsLastUnit(memory, address)) && !TargetStillAnswers()) {
            return lines.failedAt;
        }
        return differs ? kVerifyDiffersAt : nullptr;
    });
}

bool COperations::WriteProg() {
    return WriteMemory(Memory::Prog, {kWriteName, kWriteProgHeading, kWriteInitError,
                                      kWriteProgFailedAt, kWriteProgComplete});
}

bool COperations::WriteData() {
    return WriteMemory(Memory::Data, {kWriteDataName, kWriteDataHeading, kWriteDataInitError,
                                      kWriteDataFailedAt, kWriteDataComplete});
}

bool COperations::ReadProg() {
    return ReadMemory(Memory::Prog,
                      {kReadName, kReadProgHeading, kReadInitError, kReadFailedAt, kReadComplete});
}

bool COperations::ReadData() {
    return ReadMemory(Memory::Data,
                      {kReadName, kReadDataHeading, kReadInitError, kReadFailedAt, kReadComplete});
}

bool COperations::VerifyProg() {
    return VerifyMemory(Memory::Prog, {kVerifyName, kVerifyProgHeading, kVerifyInitError,
                                       kVerifyProgReadFailedAt, kVerifyComplete});
}

bool COperations::VerifyData() {
    return VerifyMemory(Memory::Data, {kVerifyName, kVerifyDataHeading, kVerifyInitError,
                                       kVerifyDataReadFailedAt, kVerifyComplete});
}

// ---- Lock bits ----

bool COperations::WriteLock() {
    CProgrammingModeExit exit(m_programmer);
    if (!Begin(kWriteLockName, kWriteLockHeading, kWriteInitError, kCheckSignature)) {
        return false;
    }
    // Once begun, its one or two instructions run to their end.
    if (Stopping()) {
        PostStopped(kNoAddress);
        return false;
    }
    // Spien is display only: it is never written.
    const LockTicks& ticks = m_host.Ticks();
    if (ticks.m_bFstrt != 0 && !HasFstrt(m_programmer)) {
        // Whatever that bit of this part is, it is not what was asked for.
        m_host.AppendMessage(kWriteLockNoFstrt);
        return false;
    }
    // Nothing of a lock write is read back; a target that lost its power
    // meanwhile at least no longer answers. Some parts hide their signature
    // once both lock bits are programmed: then only the echo can tell.
    uint8_t vendor = 0;
    const bool bothLocked = ticks.m_bLockBit1 != 0 && ticks.m_bLockBit2 != 0;
    const bool ok =
        m_programmer.WriteLockBits(BitValueOfTick(ticks.m_bLockBit1),
                                   BitValueOfTick(ticks.m_bLockBit2),
                                   BitValueOfTick(ticks.m_bFstrt)) == kProgrammerOk &&
        m_programmer.ReadSignatureByte(vendor, kVendorSignatureIndex) == kProgrammerOk &&
        (vendor == kAtmelVendorCode || bothLocked);
    if (ok) {
        m_host.AppendMessage(kWriteLockComplete);
    } else {
        Fail(kWriteLockError);
    }
    return ok;
}

bool COperations::ReadLock() {
    CProgrammingModeExit exit(m_programmer);
    if (!Begin(kReadLockName, kReadLockHeading, kReadInitError, kCheckSignature, true)) {
        return false;
    }
    int lockBit1 = 0, lockBit2 = 0, fstrt = 0, spien = 0;
    const int status = ReadLockBitsOrLocked(lockBit1, lockBit2, fstrt, spien);
    if (status == kProgrammerNotSupported) {
        // Nothing to show: no box stays ticked that the chip did not report.
        m_host.Ticks() = LockTicks();
        m_host.AppendMessage(kReadLockNotReadable);
        return true;
    }
    const bool ok = status == kProgrammerOk && (m_chipLocked || TargetStillAnswers());
    if (ok) {
        LockTicks& ticks = m_host.Ticks();
        ticks.m_bLockBit1 = TickOfBitValue(lockBit1);
        ticks.m_bLockBit2 = TickOfBitValue(lockBit2);
        ticks.m_bFstrt = TickOfBitValue(fstrt);
        ticks.m_bSpien = TickOfBitValue(spien);
    }
    // Its show on screen puts the ticks read (or, on failure, those taken
    // from the screen) back into the boxes.
    if (ok) {
        m_host.AppendMessage(kReadLockComplete);
    } else {
        Fail(kReadLockError);
    }
    return ok;
}

int COperations::ReadLockBitsOrLocked(int& lockBit1, int& lockBit2, int& fstrt, int& spien) {
    if (m_chipLocked) {
        // A chip that refuses every access for its lock has Lock Bit1
        // programmed; nothing else of it can be told.
        lockBit1 = 0;
        lockBit2 = fstrt = spien = 1;
        return kProgrammerOk;
    }
    return m_programmer.ReadLockBits(lockBit1, lockBit2, fstrt, spien);
}

bool COperations::ReadFuses(std::array<uint8_t, kFuseByteCount>& fuses, uint8_t& present,
                            int& calibration) {
    CProgrammingModeExit exit(m_programmer);
    present = m_programmer.Device() != nullptr ? m_programmer.Device()->fuseBytes : 0;
    calibration = -1;
    if (!Begin(kReadFusesName, kReadFusesHeading, kReadInitError, kCheckSignature)) {
        return false;
    }
    if (present == 0) {
        m_host.AppendMessage(kReadFusesNone);
        return true;
    }
    bool ok = true;
    for (int i = 0; i < kFuseByteCount; ++i) {
        if ((present & g_fuseBytes[i].mask) != 0) {
            ok = ok && m_programmer.ReadFuseByte(g_fuseBytes[i].mask,
                                                 fuses[static_cast<size_t>(i)]) == kProgrammerOk;
        }
    }
    uint8_t byte = 0;
    if (ok && m_programmer.Device()->calibration) {
        ok = m_programmer.ReadCalibrationByte(byte) == kProgrammerOk;
        calibration = ok ? byte : -1;
    }
    ok = ok && TargetStillAnswers();
    if (!ok) {
        calibration = -1;
    }
    if (ok) {
        m_host.AppendMessage(kReadFusesComplete);
    } else {
        Fail(kReadFusesError);
    }
    return ok;
}

bool COperations::ReadFuseBytes(std::array<uint8_t, kFuseByteCount>& fuses, uint8_t which) {
    bool ok = true;
    for (int i = 0; i < kFuseByteCount; ++i) {
        if ((which & g_fuseBytes[i].mask) != 0) {
            ok = ok && m_programmer.ReadFuseByte(g_fuseBytes[i].mask,
                                                 fuses[static_cast<size_t>(i)]) == kProgrammerOk;
        }
    }
    return ok && TargetStillAnswers();
}

bool COperations::BeginFuses(const FuseLines& lines, uint8_t which,
                             std::array<uint8_t, kFuseByteCount>& now) {
    if (!Begin(lines.name, lines.heading, lines.initError, kCheckSignature)) {
        return false;
    }
    const DeviceInfo* device = m_programmer.Device();
    if (device == nullptr || which == 0 || (which & ~device->fuseBytes) != 0) {
        m_host.AppendMessage(kFusesNotOnDevice);
        return false;
    }
    if (!ReadFuseBytes(now, which)) {
        Fail(lines.readError);
        return false;
    }
    return true;
}

bool COperations::WriteFuses(const std::array<uint8_t, kFuseByteCount>& fuses, uint8_t which,
                             bool allowCutOff,
                             const std::array<uint8_t, kFuseByteCount>* readBefore) {
    CProgrammingModeExit exit(m_programmer);
    std::array<uint8_t, kFuseByteCount> now{};
    if (!BeginFuses({kWriteFusesName, kWriteFusesHeading, kWriteInitError, kWriteFusesError}, which,
                    now)) {
        return false;
    }
    for (int i = 0; readBefore != nullptr && i < kFuseByteCount; ++i) {
        const size_t index = static_cast<size_t>(i);
        if ((which & g_fuseBytes[i].mask) != 0 && (*readBefore)[index] != now[index]) {
            // Bits the user did not touch would be written from another
            // chip's values.
            m_host.AppendMessage(kWriteFusesChanged);
            return false;
        }
    }
    // Once the writes begin, they run to their end: a stop comes before.
    if (Stopping()) {
        PostStopped(kNoAddress);
        return false;
    }
    const std::string reasons = FuseCutOffReasons(*m_programmer.Device(), now, fuses, which);
    if (!reasons.empty() && !allowCutOff) {
        m_host.AppendMessage(" Write Fuses : Refused, nothing written: " + reasons +
                             ". The chip could no longer be reached through this adapter.\r\n");
        return false;
    }
    bool ok = true;
    for (int i = 0; i < kFuseByteCount && ok; ++i) {
        const size_t index = static_cast<size_t>(i);
        if ((which & g_fuseBytes[i].mask) != 0 && !SameFuses(i, fuses[index], now[index])) {
            // Bits that are no fuse are left unprogrammed, as the datasheets ask.
            const uint8_t unused = UnusedFuseBits(m_programmer.Device()->fuseNames, i);
            ok = m_programmer.WriteFuseByte(g_fuseBytes[i].mask,
                                            static_cast<uint8_t>(fuses[index] | unused)) ==
                 kProgrammerOk;
        }
    }
    std::array<uint8_t, kFuseByteCount> back{};
    ok = ok && ReadFuseBytes(back, which);
    for (int i = 0; i < kFuseByteCount && ok; ++i) {
        const size_t index = static_cast<size_t>(i);
        ok = (which & g_fuseBytes[i].mask) == 0 || SameFuses(i, back[index], fuses[index]);
    }
    if (ok) {
        m_host.AppendMessage(kWriteFusesComplete);
    } else {
        Fail(kWriteFusesError);
    }
    return ok;
}

bool COperations::SameFuses(int byte, uint8_t a, uint8_t b) const {
    // What bits that are no fuse read back is the part's affair.
    const uint8_t unused = UnusedFuseBits(m_programmer.Device()->fuseNames, byte);
    return ((a ^ b) & ~unused) == 0;
}

bool COperations::VerifyFuses(const std::array<uint8_t, kFuseByteCount>& fuses, uint8_t which,
                              std::array<uint8_t, kFuseByteCount>* chip, uint8_t* differing) {
    CProgrammingModeExit exit(m_programmer);
    std::array<uint8_t, kFuseByteCount> now{};
    if (differing != nullptr) {
        *differing = 0;
    }
    if (!BeginFuses({kVerifyName, kVerifyFusesHeading, kVerifyInitError, kVerifyFusesReadError},
                    which, now)) {
        return false;
    }
    uint8_t differ = 0;
    for (int i = 0; i < kFuseByteCount; ++i) {
        const size_t index = static_cast<size_t>(i);
        if ((which & g_fuseBytes[i].mask) != 0 && !SameFuses(i, now[index], fuses[index])) {
            differ = static_cast<uint8_t>(differ | g_fuseBytes[i].mask);
        }
    }
    if (chip != nullptr) {
        *chip = now;
    }
    if (differing != nullptr) {
        *differing = differ;
    }
    m_host.AppendMessage(differ == 0 ? kVerifyComplete : kVerifyFusesDiffer);
    return differ == 0;
}

bool COperations::VerifyLock() {
    CProgrammingModeExit exit(m_programmer);
    if (!Begin(kVerifyName, kVerifyLockHeading, kReadInitError, kCheckSignature, true)) {
        return false;
    }
    int lockBit1 = 0, lockBit2 = 0, fstrt = 0, spien = 0;
    const int status = ReadLockBitsOrLocked(lockBit1, lockBit2, fstrt, spien);
    if (status == kProgrammerNotSupported) {
        // What cannot be read cannot be confirmed.
        m_host.AppendMessage(kVerifyLockNotReadable);
        return false;
    }
    if (status != kProgrammerOk || (!m_chipLocked && !TargetStillAnswers())) {
        Fail(kVerifyLockReadError);
        return false;
    }
    // Spien takes no part: it cannot be changed.
    const LockTicks& ticks = m_host.Ticks();
    const bool agree = TickAgreesWithBit(ticks.m_bLockBit1, lockBit1) &&
                       TickAgreesWithBit(ticks.m_bLockBit2, lockBit2) &&
                       TickAgreesWithBit(ticks.m_bFstrt, fstrt);
    m_host.AppendMessage(agree ? kVerifyComplete : kVerifyLockDiffers);
    return agree;
}

// ---- Erase ----

bool COperations::EraseAll() {
    CProgrammingModeExit exit(m_programmer);
    // Any device that answers is erased, whichever device is selected.
    if (!Begin(kEraseName, kEraseAllHeading, kEraseInitError, kNoSignatureCheck)) {
        return false;
    }
    if (Stopping()) {
        PostStopped(kNoAddress);
        return false;
    }
    const bool ok = m_programmer.ChipErase() == kProgrammerOk && ErasedChipAnswers();
    if (ok) {
        m_host.AppendMessage(kEraseComplete);
    } else {
        Fail(kEraseError);
    }
    return ok;
}

bool COperations::ErasedChipAnswers() {
    // The reset pulse that ends the erase releases RESET, which a chip that
    // lost its power in the erase survives unerased: only a chip that
    // answers again, erased, was erased.
    uint16_t word = 0;
    return m_programmer.EnterProgrammingMode(kNoSignatureCheck) == kProgrammerOk &&
           m_programmer.ReadProgramWord(word, 0) == kProgrammerOk && word == kErasedWord &&
           TargetStillAnswers();
}

bool COperations::EraseKeeping(Memory kept, const EraseLines& lines) {
    CProgrammingModeExit exit(m_programmer);
    if (!Begin(kEraseName, lines.heading, kEraseInitError, kCheckSignature)) {
        return false;
    }
    const Memory erased = kept == Memory::Prog ? Memory::Data : Memory::Prog;
    if (m_programmer.ErasesMemoriesApart()) {
        return EraseAlone(erased);
    }

    m_host.SetProgressRange(Size(kept));
    m_host.SetProgressPos(0);
    std::vector<uint8_t> keptCopy(BufferLength(Size(kept)), 0);
    const bool saved = ForEachAddress(kept, [&](int& address) -> const char* {
        return ReadUnitInto(kept, address, keptCopy) == kProgrammerOk ? nullptr
                                                                      : lines.saveFailedAt;
    });
    if (!saved) {
        return false;
    }
    // The lock read also settles the last read of the kept memory; only the
    // lock read itself needs one more answer before the chip is erased. A
    // part that cannot report its lock bits gets none written back: only
    // bits that were read are restored. Fuses are not touched by the erase.
    uint8_t lockByte = 0;
    uint8_t reported = 0;
    const int lockStatus = m_programmer.ReadLockByte(lockByte, reported);
    const bool lockRead = lockStatus == kProgrammerOk;
    if (lockStatus != kProgrammerNotSupported && (!lockRead || !TargetStillAnswers())) {
        Fail(kEraseReadLockError);
        return false;
    }
    if (!lockRead && !TargetStillAnswers()) {
        FailAt(lines.saveFailedAt, LastAddress(kept));
        return false;
    }
    // In lock mode 3 (both lock bits programmed) the chip answers no read
    // truthfully: what was read of the kept memory is not its content, and
    // erasing would lose it.
    if (lockRead && (lockByte & kLockMode3Mask) == 0) {
        m_host.AppendMessage(kEraseLockedDevice);
        return false;
    }

    // The last moment a stop leaves the chip as it was. From the erase on,
    // the kept memory exists only in this copy: it is written back whatever
    // is asked meanwhile.
    if (Stopping()) {
        PostStopped(kNoAddress);
        return false;
    }
    const bool chipErased = m_programmer.ChipErase() == kProgrammerOk;
    if (chipErased) {
        Image(erased).assign(BufferLength(Size(erased)), kErasedByte);
        ImageErased(erased);
    } else if (PortGone()) {
        PostPortGone(kNoAddress);
        return false;
    } else {
        Post(kEraseError);
    }

    // The chip erase ends with a reset pulse, which takes the target out of
    // programming mode: without a new synchronisation it would ignore every
    // restore write and the memory the user asked to keep would be lost.
    if (m_programmer.EnterProgrammingMode(kCheckSignature) != kProgrammerOk) {
        FailAt(lines.restoreFailedAt, kRestoreEntryAddress);
        return false;
    }
    // The programmer's page writes see no stop here either.
    m_programmer.SetStopCheck(nullptr);
    const bool restored = ForEachAddress(
        kept,
        [&](int& address) -> const char* {
            return WriteUnit(kept, address, keptCopy) == kProgrammerOk ? nullptr
                                                                       : lines.restoreFailedAt;
        },
        WriteStride(kept), /*stoppable=*/false);
    m_programmer.SetStopCheck([this] { return m_host.StopRequested(); });
    if (!restored) {
        return false;
    }
    // The lock bits go back last: Lock Bit1 would block the memory writes.
    if (lockRead && m_programmer.WriteLockByte(lockByte) != kProgrammerOk) {
        Fail(kEraseRewriteLockError);
        return false;
    }
    if (chipErased) {
        m_host.AppendMessage(kEraseComplete);
    } else {
        // " Erase : Error" stays the last line; only bring it into view.
        m_host.ScrollToEnd();
    }
    return chipErased;
}

bool COperations::EraseAlone(Memory erased) {
    if (Stopping()) {
        PostStopped(kNoAddress);
        return false;
    }
    const int status =
        erased == Memory::Prog ? m_programmer.EraseProgram() : m_programmer.EraseData();
    if (status != kProgrammerOk) {
        Fail(kEraseError);
        return false;
    }
    Image(erased).assign(BufferLength(Size(erased)), kErasedByte);
    ImageErased(erased);
    m_host.AppendMessage(kEraseComplete);
    return true;
}

bool COperations::EraseProg() {
    return EraseKeeping(Memory::Data,
                        {kEraseProgHeading, kEraseReadDataFailedAt, kEraseRewriteDataFailedAt});
}

bool COperations::EraseData() {
    return EraseKeeping(Memory::Prog,
                        {kEraseDataHeading, kEraseReadProgFailedAt, kEraseRewriteProgFailedAt});
}

// ---- All three ----
// Each part runs in full whatever the one before it gave, unless it was
// stopped or the port stopped answering: then the rest is not begun.

bool COperations::WriteAll() {
    const bool prog = WriteProg();
    const bool data = m_end == End::Running && WriteData();
    const bool lock = m_end == End::Running && WriteLock();
    return prog && data && lock;
}

bool COperations::ReadAll() {
    const bool prog = ReadProg();
    const bool data = m_end == End::Running && ReadData();
    const bool lock = m_end == End::Running && ReadLock();
    return prog && data && lock;
}

bool COperations::VerifyAll() {
    const bool prog = VerifyProg();
    const bool data = m_end == End::Running && VerifyData();
    const bool lock = m_end == End::Running && VerifyLock();
    return prog && data && lock;
}

// ---- The fuses and user row of UPDI parts ----

const SUpdiPart* COperations::UpdiPart() const {
    const DeviceInfo* device = m_programmer.Device();
    return device != nullptr ? device->updiPart : nullptr;
}

bool COperations::ReadUpdiFuseBytes(UpdiFuseBytes& fuses) {
    const SUpdiPart* part = UpdiPart();
    fuses.assign(part != nullptr ? part->fuses.count : 0, 0);
    bool ok = part != nullptr;
    for (size_t i = 0; ok && i < fuses.size(); ++i) {
        ok = m_programmer.ReadFuseAt(i, fuses[i]) == kProgrammerOk;
    }
    return ok && TargetStillAnswers();
}

bool COperations::ReadUpdiFuses(UpdiFuseBytes& fuses) {
    CProgrammingModeExit exit(m_programmer);
    fuses.clear();
    if (!Begin(kReadFusesName, kReadFusesHeading, kReadInitError, kCheckSignature)) {
        return false;
    }
    const SUpdiPart* part = UpdiPart();
    if (part == nullptr || part->fuses.count == 0) {
        m_host.AppendMessage(kReadFusesNone);
        return part != nullptr;
    }
    if (!ReadUpdiFuseBytes(fuses)) {
        fuses.clear();
        Fail(kReadFusesError);
        return false;
    }
    m_host.AppendMessage(kReadFusesComplete);
    return true;
}

bool COperations::BeginUpdiFuses(const FuseLines& lines, uint32_t which, UpdiFuseBytes& now) {
    if (!Begin(lines.name, lines.heading, lines.initError, kCheckSignature)) {
        return false;
    }
    const SUpdiPart* part = UpdiPart();
    const size_t count = part != nullptr ? part->fuses.count : 0;
    const uint32_t all = count >= kMaxUpdiFuses ? ~0u : (1u << count) - 1;
    if (count == 0 || which == 0 || (which & ~all) != 0) {
        m_host.AppendMessage(kUpdiFusesNotOnDevice);
        return false;
    }
    if (!ReadUpdiFuseBytes(now)) {
        Fail(lines.readError);
        return false;
    }
    return true;
}

bool COperations::WriteUpdiFuses(const UpdiFuseBytes& fuses, uint32_t which, bool allowCutOff,
                                 const UpdiFuseBytes* readBefore) {
    CProgrammingModeExit exit(m_programmer);
    UpdiFuseBytes now;
    if (!BeginUpdiFuses({kWriteFusesName, kWriteFusesHeading, kWriteInitError, kWriteFusesError},
                        which, now)) {
        return false;
    }
    const auto named = [which](size_t i) { return (which >> i & 1u) != 0; };
    UpdiFuseBytes next = now;
    for (size_t i = 0; i < now.size(); ++i) {
        if (!named(i)) {
            continue;
        }
        if (i >= fuses.size() ||
            (readBefore != nullptr && (i >= readBefore->size() || (*readBefore)[i] != now[i]))) {
            // Fields the user did not touch would be written from another
            // chip's values.
            m_host.AppendMessage(i >= fuses.size() ? kUpdiFusesNotOnDevice : kWriteFusesChanged);
            return false;
        }
        next[i] = fuses[i];
    }
    // Once the writes begin, they run to their end: a stop comes before.
    if (Stopping()) {
        PostStopped(kNoAddress);
        return false;
    }
    std::string reasons = UpdiFuseCutOffReasons(*UpdiPart(), now, next);
    if (!reasons.empty() && !allowCutOff) {
        for (size_t at = reasons.find('\n'); at != std::string::npos; at = reasons.find('\n')) {
            reasons.replace(at, 1, kReasonSeparator);
        }
        m_host.AppendMessage(" Write Fuses : Refused, nothing written: " + reasons +
                             kUpdiFusesCutOff);
        return false;
    }
    bool ok = true;
    for (size_t i = 0; i < next.size() && ok; ++i) {
        if (next[i] != now[i]) {
            ok = m_programmer.WriteFuseAt(i, next[i]) == kProgrammerOk;
        }
    }
    UpdiFuseBytes back;
    ok = ok && ReadUpdiFuseBytes(back) && back == next;
    if (ok) {
        m_host.AppendMessage(kWriteFusesComplete);
    } else {
        Fail(kWriteFusesError);
    }
    return ok;
}

bool COperations::VerifyUpdiFuses(const UpdiFuseBytes& fuses, uint32_t which, UpdiFuseBytes* chip,
                                  uint32_t* differing) {
    CProgrammingModeExit exit(m_programmer);
    UpdiFuseBytes now;
    if (differing != nullptr) {
        *differing = 0;
    }
    if (!BeginUpdiFuses({kVerifyName, kVerifyFusesHeading, kVerifyInitError, kVerifyFusesReadError},
                        which, now)) {
        return false;
    }
    uint32_t differ = 0;
    for (size_t i = 0; i < now.size(); ++i) {
        if ((which >> i & 1u) != 0 && (i >= fuses.size() || fuses[i] != now[i])) {
            differ |= 1u << i;
        }
    }
    if (chip != nullptr) {
        *chip = now;
    }
    if (differing != nullptr) {
        *differing = differ;
    }
    m_host.AppendMessage(differ == 0 ? kVerifyComplete : kVerifyFusesDiffer);
    return differ == 0;
}

bool COperations::BeginUserRow(const FuseLines& lines, size_t length, size_t& size) {
    if (!Begin(lines.name, lines.heading, lines.initError, kCheckSignature)) {
        return false;
    }
    const SUpdiPart* part = UpdiPart();
    size = part != nullptr ? part->userRowBytes : 0;
    if (size == 0 || length > size) {
        m_host.AppendMessage(kUserRowNotOnDevice);
        return false;
    }
    return true;
}

bool COperations::ReadUserRow(std::vector<uint8_t>& row) {
    CProgrammingModeExit exit(m_programmer);
    size_t size = 0;
    row.clear();
    if (!BeginUserRow({kReadUserRowName, kReadUserRowHeading, kReadInitError, kReadUserRowError}, 0,
                      size)) {
        return false;
    }
    std::vector<uint8_t> read(size);
    if (m_programmer.ReadUserRow(read.data(), 0, size) != kProgrammerOk || !TargetStillAnswers()) {
        Fail(kReadUserRowError);
        return false;
    }
    row = read;
    m_host.AppendMessage(kReadUserRowComplete);
    return true;
}

bool COperations::WriteUserRow(const std::vector<uint8_t>& bytes) {
    CProgrammingModeExit exit(m_programmer);
    size_t size = 0;
    if (!BeginUserRow(
            {kWriteUserRowName, kWriteUserRowHeading, kWriteInitError, kWriteUserRowError},
            bytes.size(), size)) {
        return false;
    }
    if (Stopping()) {
        PostStopped(kNoAddress);
        return false;
    }
    std::vector<uint8_t> back(bytes.size());
    const bool ok = m_programmer.WriteUserRow(bytes.data(), 0, bytes.size()) == kProgrammerOk &&
                    m_programmer.ReadUserRow(back.data(), 0, back.size()) == kProgrammerOk &&
                    back == bytes && TargetStillAnswers();
    if (ok) {
        m_host.AppendMessage(kWriteUserRowComplete);
    } else {
        Fail(kWriteUserRowError);
    }
    return ok;
}

bool COperations::VerifyUserRow(const std::vector<uint8_t>& bytes) {
    CProgrammingModeExit exit(m_programmer);
    size_t size = 0;
    if (!BeginUserRow(
            {kVerifyName, kVerifyUserRowHeading, kVerifyInitError, kVerifyUserRowReadError},
            bytes.size(), size)) {
        return false;
    }
    std::vector<uint8_t> back(bytes.size());
    if (m_programmer.ReadUserRow(back.data(), 0, back.size()) != kProgrammerOk ||
        !TargetStillAnswers()) {
        Fail(kVerifyUserRowReadError);
        return false;
    }
    const bool same = back == bytes;
    m_host.AppendMessage(same ? kVerifyComplete : kVerifyUserRowDiffer);
    return same;
}
