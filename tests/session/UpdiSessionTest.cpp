// UPDI parts through the session and the operations, on simulated UPDI
// adapters: every chip the simulator knows, programmed end to end; the
// adapter check and Auto Detect; a part on the other kind of adapter; a
// locked chip; UPDI port names.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "ops/OperationHost.h"
#include "parts/DeviceTable.h"
#include "parts/UpdiParts.h"
#include "session/PortRegistry.h"
#include "session/ProgrammingSession.h"
#include "sim/SimPortOptions.h"
#include "sim/SimUpdiParts.h"
#include "sim/SimUpdiPort.h"

namespace {

// Keeps every line the session and the operations post; a stop can be
// asked for as the user would.
class CRecordingHost : public IOperationHost {
public:
    void AddMessage(const std::string& text) override { m_text += text; }
    void AppendMessage(const std::string& text) override { m_text += text; }
    void SetProgressRange(int) override {}
    void SetProgressPos(int) override {}
    LockTicks& Ticks() override { return m_ticks; }
    bool StopRequested() override { return m_stop; }
    void RequestStop() override { m_stop = true; }

    std::string Take() {
        std::string text;
        text.swap(m_text);
        return text;
    }
    bool Says(const std::string& line) const { return m_text.find(line) != std::string::npos; }
    void ClearStop() { m_stop = false; }

    LockTicks m_ticks;
    std::string m_text;
    bool m_stop = false;
};

std::vector<uint8_t> RandomBytes(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(size);
    for (uint8_t& b : bytes) {
        b = static_cast<uint8_t>(random());
    }
    return bytes;
}

bool AllErased(const std::vector<uint8_t>& bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0xFF; });
}

const char* const kLockedLine =
    " : The chip is locked: Erase All unlocks it and erases flash and EEPROM.\r\n";

std::string SimName(const char* chip) {
    return std::string("sim:") + chip;
}

// ---------------------------------------------------------------- the table

// Every UPDI part has one row, which says it is reached through UPDI and
// points at its UPDI description; sizes and signature come from it.
TEST(UpdiDeviceRows, EveryUpdiPartHasItsRow) {
    EXPECT_EQ(kDeviceCount - kIspDeviceCount, static_cast<int>(CUpdiParts::Count()));
    for (size_t i = 0; i < CUpdiParts::Count(); ++i) {
        const SUpdiPart& part = CUpdiParts::At(i);
        SCOPED_TRACE(part.name);
        const int row = FindDeviceByName(part.name);
        ASSERT_GE(row, kIspDeviceCount);
        const DeviceInfo& device = g_deviceTable[row];
        EXPECT_EQ(device.protocol, Protocol::Updi);
        EXPECT_EQ(device.updiPart, &part);
        EXPECT_EQ(device.number, kNoDeviceNumber);
        EXPECT_EQ(device.progSize, static_cast<int32_t>(part.flashBytes));
        EXPECT_EQ(device.dataSize, static_cast<int32_t>(part.eepromBytes));
        EXPECT_EQ(device.progPageSize, static_cast<int32_t>(part.flashPage));
        EXPECT_EQ(device.sizeCode, part.signature[1]);
        EXPECT_EQ(device.signature, part.signature[2]);
        EXPECT_EQ(device.fuseBytes, 0);
        EXPECT_EQ(FindDevice(part.name), row);
        EXPECT_EQ(FindDevice(part.id), row);  // the toolchain's id, as -p and the chooser take it
    }
    for (const DeviceInfo& device : DeviceRows()) {
        EXPECT_NE(device.name[0], '\0');  // every row names its part
    }
    for (int row = 0; row < kIspDeviceCount; ++row) {
        EXPECT_EQ(g_deviceTable[row].protocol, Protocol::Isp) << g_deviceTable[row].name;
        EXPECT_EQ(g_deviceTable[row].updiPart, nullptr);
    }
}

// ------------------------------------------------------------- every part

class EveryUpdiChip : public ::testing::TestWithParam<size_t> {};

// Whether the simulated chip's lock holds the open value its own table gives
// (one byte, or the 4-byte key), least significant byte first.
bool LockOpen(CSimUpdiTarget& target, const SSimUpdiPart& chip) {
    uint32_t value = 0;
    for (size_t i = target.Lock().size(); i-- > 0;) {
        value = value << 8 | target.Lock()[i];
    }
    return value == chip.unlocked;
}

// Each chip of the simulator's own table, found by Auto Detect and then
// erased, written with random flash and EEPROM, verified and read back;
// Erase Prog and Erase Data erase only their memory; locked, it refuses
// every memory operation with the one line and shows no garbage; Erase All
// opens it again.
TEST_P(EveryUpdiChip, ProgramsLocksAndRecovers) {
    const SSimUpdiPart& chip = SimUpdiPartAt(GetParam());
    SCOPED_TRACE(chip.name);
    const std::string port = SimName(chip.name);
    CRecordingHost host;
    CProgrammingSession session(host, SessionClock::VirtualWhenSimulated, port);
    session.SelectDeviceRow(0);  // an ISP part first: Auto Detect must change it
    ASSERT_TRUE(session.SelectPort(port));
    EXPECT_TRUE(session.OnUpdiPort());
    ASSERT_TRUE(session.AutoDetect()) << host.m_text;
    ASSERT_NE(session.Device(), nullptr);
    EXPECT_STREQ(session.Device()->name, chip.name);
    // The description agrees with the simulator's datasheet facts.
    EXPECT_EQ(session.ProgSize(), static_cast<int>(chip.flashBytes));
    EXPECT_EQ(session.DataSize(), static_cast<int>(chip.eepromBytes));
    EXPECT_EQ(session.Device()->progPageSize, static_cast<int>(chip.flashPage));
    CSimUpdiTarget& target = *session.SimUpdiPorts().Target();
    COperations& ops = session.Operations();

    ASSERT_TRUE(ops.EraseAll()) << host.m_text;
    EXPECT_TRUE(AllErased(target.Flash()));
    const std::vector<uint8_t> flash = RandomBytes(chip.flashBytes, 11 + GetParam());
    const std::vector<uint8_t> eeprom = RandomBytes(chip.eepromBytes, 97 + GetParam());
    session.Images().m_progImage = flash;
    session.Images().m_dataImage = eeprom;
    ASSERT_TRUE(ops.WriteProg()) << host.m_text;
    ASSERT_TRUE(ops.WriteData()) << host.m_text;
    EXPECT_EQ(target.Flash(), flash);
    EXPECT_EQ(target.Eeprom(), eeprom);
    EXPECT_TRUE(ops.VerifyProg());
    EXPECT_TRUE(ops.VerifyData());
    session.BlankImages();
    ASSERT_TRUE(ops.ReadProg());
    ASSERT_TRUE(ops.ReadData());
    EXPECT_EQ(session.Images().m_progImage, flash);
    EXPECT_EQ(session.Images().m_dataImage, eeprom);
    // A byte changed on the chip is found.
    target.Eeprom()[chip.eepromBytes / 2] ^= 0x10;
    EXPECT_FALSE(ops.VerifyData());
    target.Eeprom()[chip.eepromBytes / 2] ^= 0x10;

    // Each erase touches its memory only.
    ASSERT_TRUE(ops.EraseData()) << host.m_text;
    EXPECT_TRUE(AllErased(target.Eeprom()));
    EXPECT_EQ(target.Flash(), flash);
    session.Images().m_dataImage = eeprom;
    ASSERT_TRUE(ops.WriteData());
    ASSERT_TRUE(ops.EraseProg()) << host.m_text;
    EXPECT_TRUE(AllErased(target.Flash()));
    EXPECT_EQ(target.Eeprom(), eeprom);
    ASSERT_TRUE(ops.WriteProg());

    // Locked: the lock operations see it, the memory operations refuse.
    host.m_ticks = LockTicks();
    host.m_ticks.m_bLockBit1 = 1;
    ASSERT_TRUE(ops.WriteLock()) << host.m_text;
    EXPECT_FALSE(LockOpen(target, chip));
    EXPECT_TRUE(ops.VerifyLock()) << host.m_text;
    host.Take();
    session.BlankImages();
    EXPECT_FALSE(ops.ReadProg());
    EXPECT_EQ(host.Take(), std::string("Reading PROG device ...\r\n Read") + kLockedLine);
    EXPECT_TRUE(AllErased(session.Images().m_progImage));  // no garbage shown
    session.Images().m_progImage = flash;
    EXPECT_FALSE(ops.VerifyProg());
    EXPECT_EQ(host.Take(), std::string("Verifing PROG device ...\r\n Verify") + kLockedLine);
    EXPECT_FALSE(ops.WriteData());
    EXPECT_TRUE(host.Says(std::string(" Write Data") + kLockedLine)) << host.m_text;
    EXPECT_FALSE(ops.EraseProg());
    host.m_ticks = LockTicks();
    ASSERT_TRUE(ops.ReadLock());
    EXPECT_EQ(host.m_ticks.m_bLockBit1, 1);

    // Erase All opens it: flash and EEPROM erased, the lock open.
    ASSERT_TRUE(ops.EraseAll()) << host.m_text;
    EXPECT_TRUE(LockOpen(target, chip));
    EXPECT_TRUE(AllErased(target.Flash()));
    EXPECT_TRUE(AllErased(target.Eeprom()));
    host.m_ticks.m_bLockBit1 = 1;
    ASSERT_TRUE(ops.ReadLock());
    EXPECT_EQ(host.m_ticks.m_bLockBit1, 0);
    ASSERT_TRUE(ops.WriteProg());
    EXPECT_TRUE(ops.VerifyProg());
}

INSTANTIATE_TEST_SUITE_P(Simulator, EveryUpdiChip, ::testing::Range<size_t>(0, SimUpdiPartCount()),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                             return std::string(SimUpdiPartAt(info.param).name);
                         });

// ------------------------------------------------------ check and detect

struct AdapterCase {
    const char* port;
    bool adapterReady;      // SetUp's Check
    bool detected;          // Auto Detect finds the ATtiny1614
    const char* readLines;  // what Read Prog on the ATtiny1614 says
};

class UpdiAdapterCheck : public ::testing::TestWithParam<AdapterCase> {};

TEST_P(UpdiAdapterCheck, AnswersAsTheAdapterAndChipAre) {
    const AdapterCase& c = GetParam();
    CRecordingHost host;
    CProgrammingSession session(host, SessionClock::VirtualWhenSimulated, c.port);
    EXPECT_EQ(session.CheckAdapter(c.port), c.adapterReady);
    ASSERT_TRUE(session.SelectPort(c.port));
    host.Take();
    EXPECT_EQ(session.AutoDetect(), c.detected);
    if (c.detected) {
        EXPECT_EQ(host.Take(), "Auto Select device : \r\n Select device : ATtiny1614\r\n");
        EXPECT_EQ(session.Device()->protocol, Protocol::Updi);
    } else {
        EXPECT_EQ(host.Take(), "Auto Select device : \r\n Device Error \r\n");
    }
    // An entry that fails says where to look: the adapter's echo, or the chip.
    session.SelectDeviceRow(FindDevice("ATtiny1614"));
    host.Take();
    session.Operations().ReadProg();
    EXPECT_EQ(host.Take(), std::string("Reading PROG device ...\r\n") + c.readLines);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, UpdiAdapterCheck,
    ::testing::Values(AdapterCase{"sim:ATtiny1614", true, true, " Reading : Complete\r\n"},
                      AdapterCase{"sim:ATtiny1614,no-chip", true, false,
                                  " Read : Initialisation Error\r\n"
                                  " UPDI: the chip does not answer.\r\n"},
                      AdapterCase{"sim:ATtiny1614,no-adapter", false, false,
                                  " Read : Initialisation Error\r\n"
                                  " UPDI: no echo from the adapter (no adapter, or a "
                                  "broken wire).\r\n"}));

// A locked chip is found by Check but cannot tell its signature.
TEST(UpdiAdapterCheck, LockedChipIsNoDeviceToAutoDetect) {
    CRecordingHost host;
    CProgrammingSession session(host, SessionClock::VirtualWhenSimulated, "sim:ATmega4809");
    ASSERT_TRUE(session.SelectPort("sim:ATmega4809"));
    session.SimUpdiPorts().Target()->LockByte() = 0x00;
    session.SimUpdiPorts().Target()->Reset();
    EXPECT_TRUE(session.CheckAdapter("sim:ATmega4809"));
    EXPECT_FALSE(session.AutoDetect());
}

// ------------------------------------------------- the other adapter

struct MismatchCase {
    const char* port;
    const char* device;
    const char* line;
};

class AdapterMismatch : public ::testing::TestWithParam<MismatchCase> {};

// One line says which adapter the part needs, and nothing reaches the chip.
TEST_P(AdapterMismatch, SaysWhichAdapterAndSendsNothing) {
    const MismatchCase& c = GetParam();
    CRecordingHost host;
    CProgrammingSession session(host, SessionClock::VirtualWhenSimulated, c.port);
    ASSERT_TRUE(session.SelectPort(c.port));
    ASSERT_GE(FindDevice(c.device), 0);
    session.SelectDeviceRow(FindDevice(c.device));
    host.Take();
    using Op = bool (COperations::*)();
    for (Op op : {&COperations::ReadProg, &COperations::WriteData, &COperations::EraseAll,
                  &COperations::EraseProg, &COperations::VerifyLock}) {
        EXPECT_FALSE((session.Operations().*op)());
        const std::string text = host.Take();
        EXPECT_EQ(text.substr(text.find("\r\n") + 2), std::string(c.line) + "\r\n");
    }
    if (session.OnUpdiPort()) {
        EXPECT_EQ(session.SimUpdiPorts().Wire()->BytesSent(), 0u);
    } else {
        EXPECT_EQ(session.SimPorts().Sim()->Counters().instructions, 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    BothWays, AdapterMismatch,
    ::testing::Values(
        MismatchCase{"sim:ATmega328P", "ATtiny1614",
                     " ATtiny1614 is programmed through UPDI: choose a port with ,updi (a serial "
                     "cable with TX and RX joined through a resistor)."},
        MismatchCase{"sim:ATtiny1614", "ATmega328P",
                     " ATmega328P is programmed through ISP: choose a port without ,updi (the ISP "
                     "adapter on a serial port's modem lines, or an FT232R cable)."}));

// --------------------------------------------------------- stop, unplug

// A stop asked for in the middle of a flash write ends it between pages;
// a pulled adapter is said to be gone.
TEST(UpdiSessionFaults, StopBetweenPagesAndPulledAdapter) {
    {
        CRecordingHost host;
        const std::string port = "sim:ATtiny1614,stop-after=3000";
        CProgrammingSession session(host, SessionClock::VirtualWhenSimulated, port);
        ASSERT_TRUE(session.SelectPort(port));
        session.SelectDeviceRow(FindDevice("ATtiny1614"));
        session.Images().m_progImage = RandomBytes(16384, 5);
        EXPECT_FALSE(session.Operations().WriteProg());
        EXPECT_TRUE(session.Operations().WasStopped());
        EXPECT_TRUE(host.Says(" Write : Stopped at address ")) << host.m_text;
    }
    {
        CRecordingHost host;
        const std::string port = "sim:ATtiny1614,unplug-after=150";
        CProgrammingSession session(host, SessionClock::VirtualWhenSimulated, port);
        ASSERT_TRUE(session.SelectPort(port));
        session.SelectDeviceRow(FindDevice("ATtiny1614"));
        EXPECT_FALSE(session.Operations().ReadProg());
        EXPECT_TRUE(session.Operations().PortLost()) << host.m_text;
        EXPECT_TRUE(host.Says("Port sim:ATtiny1614,unplug-after=150 stopped answering"))
            << host.m_text;
    }
}

// ------------------------------------------------------------ port names

struct UpdiPathCase {
    const char* name;
    bool updi;
    const char* device;
    uint32_t baud;
    bool bad;  // a UPDI path with a bad option
};

class UpdiPortNames : public ::testing::TestWithParam<UpdiPathCase> {};

TEST_P(UpdiPortNames, ParseDeviceAndBaud) {
    const UpdiPathCase& c = GetParam();
    UpdiPortPath path;
    std::string error;
    EXPECT_EQ(ParseUpdiPortPath(c.name, path, error), c.updi);
    EXPECT_EQ(!error.empty(), c.bad) << error;
    if (c.updi) {
        EXPECT_EQ(path.device, c.device);
        EXPECT_EQ(path.baud, c.baud);
    }
    std::string checkError;
    EXPECT_EQ(CheckPortName(c.name, checkError), !c.bad) << checkError;
    EXPECT_EQ(IsUpdiPortName(c.name, {}), c.updi || c.bad);
}

INSTANTIATE_TEST_SUITE_P(
    Table, UpdiPortNames,
    ::testing::Values(UpdiPathCase{"/dev/ttyUSB0,updi", true, "/dev/ttyUSB0", 115200, false},
                      UpdiPathCase{"/dev/ttyUSB0,UPDI", true, "/dev/ttyUSB0", 115200, false},
                      UpdiPathCase{"/dev/ttyUSB1,updi,baud=230400", true, "/dev/ttyUSB1", 230400,
                                   false},
                      UpdiPathCase{"/dev/ttyUSB0", false, "", 0, false},
                      UpdiPathCase{"/dev/ttyUSB0,modem", false, "", 0, false},
                      UpdiPathCase{"/dev/ttyUSB0,updi,baud=", false, "", 0, true},
                      UpdiPathCase{"/dev/ttyUSB0,updi,baud=fast", false, "", 0, true},
                      UpdiPathCase{"/dev/ttyUSB0,updi,baud=0", false, "", 0, true},
                      UpdiPathCase{"/dev/ttyUSB0,updi,parity", false, "", 0, true}));

// COMn leads to a UPDI adapter when [Ports] maps it to a UPDI path; sim:
// names of UPDI chips are UPDI adapters, with the UPDI wire's faults.
TEST(UpdiPortNames, ComOverridesAndSimNames) {
    EXPECT_TRUE(IsUpdiPortName("COM3", {{3, "/dev/ttyUSB0,updi"}}));
    EXPECT_FALSE(IsUpdiPortName("COM3", {{3, "/dev/ttyUSB0"}}));
    EXPECT_TRUE(IsUpdiPortName("sim:attiny1614", {}));
    EXPECT_FALSE(IsUpdiPortName("sim:ATmega328P", {}));
    std::string error;
    EXPECT_TRUE(CheckPortName("sim:ATtiny1614,no-chip,state=t.state", error)) << error;
    EXPECT_TRUE(CheckPortName("sim:ATtiny3217,power-off-after=900", error)) << error;
    EXPECT_FALSE(CheckPortName("sim:ATtiny1614,erase-fails", error));
    EXPECT_NE(error.find("erase-fails"), std::string::npos) << error;
    EXPECT_FALSE(CheckPortName("sim:ATtiny1614,state=", error));
    EXPECT_TRUE(CheckPortName("COM3,updi,baud=57600", error)) << error;
}

// A COM name with ,updi after it (as -c serialupdi -P COM2 gives it) opens
// the UPDI adapter on where COM2 lives; with COM2 mapped to a simulated
// chip, that chip answers.
TEST(UpdiPortNames, ComNameWithUpdiOption) {
    CRecordingHost host;
    CProgrammingSession session(host, SessionClock::VirtualWhenSimulated, "sim:ATtiny816");
    session.SetPortOverrides({{2, "sim:ATtiny816"}});
    ASSERT_TRUE(session.SelectPort("COM2,updi"));
    EXPECT_TRUE(session.OnUpdiPort());
    EXPECT_TRUE(session.AutoDetect()) << host.m_text;
    EXPECT_STREQ(session.Device()->name, "ATtiny816");
}

}  // namespace
