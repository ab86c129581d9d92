#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <string>

#include "isp/IspAdapter.h"
#include "ports/FtdiPortKind.h"
#include "session/PortRegistry.h"
#include "session/ProgrammingSession.h"
#include "sim/SimPortOptions.h"
#include "sim/VirtualCounter.h"
#include "tests/support/QuietHost.h"

namespace {

namespace fs = std::filesystem;

// A device tree as the system shows a USB serial cable: the tty's device
// is the USB interface, whose parent is the USB device.
void MakeTty(const fs::path& root, const std::string& tty, const char* vendor, const char* product,
             const char* serial) {
    const fs::path usb = root / "devices" / ("usb-" + tty);
    const fs::path interface = usb / "1-1:1.0";
    fs::create_directories(interface / tty);
    std::ofstream(usb / "idVendor") << vendor << "\n";
    std::ofstream(usb / "idProduct") << product << "\n";
    std::ofstream(usb / "serial") << serial << "\n";
    fs::create_directories(root / "class" / "tty" / tty);
    fs::create_directory_symlink(interface, root / "class" / "tty" / tty / "device");
    std::ofstream(root / "dev" / tty) << "";
}

// A host that notes the virtual time at which a stop was asked for.
class CStopTimingHost : public CQuietHost {
public:
    explicit CStopTimingHost(CVirtualCounter& counter) : m_counter(counter) {}
    bool StopRequested() override { return m_stopAtNs >= 0; }
    void RequestStop() override {
        if (m_stopAtNs < 0) {
            m_stopAtNs = m_counter.Now();
        }
    }
    int64_t StopAtNs() const { return m_stopAtNs; }

private:
    CVirtualCounter& m_counter;
    int64_t m_stopAtNs = -1;
};

constexpr int64_t kNsPerSecond = 1000000000;

}  // namespace

// A serial device is taken for an FT232R or FT231X cable only when the
// device tree says so, through links too; anything else keeps the modem lines.
TEST(FtdiCable, SerialDevicesAreRecognisedByTheirUsbIds) {
    QTemporaryDir dir;
    const fs::path root = dir.path().toStdString();
    fs::create_directories(root / "dev");
    MakeTty(root, "ttyUSB0", "0403", "6001", "A9XYZ");
    MakeTty(root, "ttyUSB1", "0403", "6015", "DQ42");
    MakeTty(root, "ttyUSB2", "0403", "6010", "FT2232");  // another FTDI chip
    MakeTty(root, "ttyUSB3", "10c4", "ea60", "CP2102");
    fs::create_symlink(root / "dev" / "ttyUSB0", root / "dev" / "by-id-cable");
    struct Case {
        const char* device;
        const char* serial;  // nullptr: no such cable
    };
    const Case cases[] = {{"ttyUSB0", "A9XYZ"}, {"by-id-cable", "A9XYZ"}, {"ttyUSB1", "DQ42"},
                          {"ttyUSB2", nullptr}, {"ttyUSB3", nullptr},     {"missing", nullptr}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.device);
        std::string serial;
        const bool cable =
            FtdiCableOfSerialDevice((root / "dev" / c.device).string(), serial, root.string());
        EXPECT_EQ(cable, c.serial != nullptr);
        EXPECT_EQ(serial, c.serial != nullptr ? c.serial : "");
    }
}

// The cable pulled in the middle of a write ends it with the write's error
// at once, claims nothing, and tries no more than a few exchanges with the
// dead cable; plugged in again, the next check finds the adapter.
TEST(FtdiCable, PulledCableEndsTheOperationAndIsFoundAgain) {
    CQuietHost host;
    CVirtualCounter counter;
    CProgrammingSession session(host, &counter);
    const std::string name = "sim:ATmega328P,ftdi,ftdi-unplug-after=300";
    ASSERT_TRUE(session.SelectPort(name));
    session.SelectDeviceRow(FindDeviceByName("ATmega328P"));
    session.Images().m_progImage.assign(session.Images().m_progImage.size(), 0x5A);
    CSimFtdiCable& cable = *session.SimPorts().Cable();
    EXPECT_FALSE(session.Operations().WriteProg());
    EXPECT_EQ(cable.Counters().exchanges, 300u);
    EXPECT_NE(session.SimPorts().Sim()->Flash(), session.Images().m_progImage);
    EXPECT_FALSE(session.CheckAdapter(name));

    cable.PlugIn();
    EXPECT_TRUE(session.CheckAdapter(name));
    EXPECT_TRUE(session.Operations().WriteProg());
    EXPECT_TRUE(session.Operations().VerifyProg());
}

// Where Programming Enable does not get through, the cable tries again at
// slower pin clocks before giving up, and then goes back to its own clock
// for the next chip.
TEST(FtdiCable, NoSynchronisationSlowsThePinClockDown) {
    CQuietHost host;
    CVirtualCounter counter;
    CProgrammingSession session(host, &counter);
    ASSERT_TRUE(session.SelectPort("sim:ATmega328P,ftdi,no-target,clock=200000"));
    session.SelectDeviceRow(FindDeviceByName("ATmega328P"));
    EXPECT_FALSE(session.Operations().ReadProg());
    EXPECT_LT(session.SimPorts().Cable()->SlowestPinClockHz(), 200000 / 4 / 4);
    EXPECT_GE(session.SimPorts().Cable()->SlowestPinClockHz(), kMinPinClockHz);
    EXPECT_EQ(session.SimPorts().Cable()->PinClockHz(), 200000);
}

// Over the cable a stop ends a long write within a second, at the end of the
// batch under way, and leaves no page committed half.
TEST(FtdiCable, StopEndsALongWriteWithinASecond) {
    CVirtualCounter counter;
    CStopTimingHost host(counter);
    CProgrammingSession session(host, &counter);
    ASSERT_TRUE(session.SelectPort("sim:ATmega2560,ftdi,stop-after=4000000"));
    session.SelectDeviceRow(FindDeviceByName("ATmega2560"));
    session.Images().m_progImage.assign(session.Images().m_progImage.size(), 0x00);
    EXPECT_FALSE(session.Operations().WriteProg());
    ASSERT_GE(host.StopAtNs(), 0);
    EXPECT_LT(counter.Now() - host.StopAtNs(), kNsPerSecond);
    EXPECT_FALSE(session.SimPorts().Sim()->InProgrammingMode());
}

// With no chip answering, Programming Enable is tried again and again, at
// ever slower pin clocks over the cable: a stop ends that within a second,
// on the serial port and over the cable at its slowest clock alike.
TEST(FtdiCable, StopEndsTheSearchForAChipThatDoesNotAnswer) {
    for (const char* port : {"sim:ATmega328P,no-target,stop-after=300",
                             "sim:ATmega328P,ftdi,no-target,clock=1000,stop-after=300"}) {
        SCOPED_TRACE(port);
        CVirtualCounter counter;
        CStopTimingHost host(counter);
        CProgrammingSession session(host, &counter);
        ASSERT_TRUE(session.SelectPort(port));
        session.SelectDeviceRow(FindDeviceByName("ATmega328P"));
        EXPECT_FALSE(session.Operations().ReadProg());
        ASSERT_GE(host.StopAtNs(), 0);
        EXPECT_LT(counter.Now() - host.StopAtNs(), kNsPerSecond);
    }
}
