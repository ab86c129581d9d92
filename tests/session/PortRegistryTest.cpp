#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <QCoreApplication>

#include <string>

#include "isp/IspAdapter.h"
#include "ports/QtSerialPort.h"
#include "session/PortRegistry.h"
#include "session/ProgrammingSession.h"
#include "sim/SimPortOptions.h"
#include "sim/SimTarget.h"
#include "sim/VirtualCounter.h"
#include "tests/support/QuietHost.h"

// Every name is judged before anything is opened, each kind by its own
// options, and a bad one says what is wrong in words.
TEST(PortRegistry, BadNamesAreReportedBeforeAnythingIsOpened) {
    struct Case {
        const char* name;
        const char* expected;  // part of the error; nullptr: a good name
    };
    const Case cases[] = {
        {"COM3", nullptr},
        {"com4", nullptr},
        {"/dev/ttyUSB0", nullptr},
        {"sim:ATmega328P,state=chip.txt,no-target", nullptr},
        {"", "empty port name"},
        {"COM0", "is not one of COM1 to COM4"},
        {"COM5", "is not one of COM1 to COM4"},
        {"sim:", "sim:"},
        {"sim:NoSuchPart", "NoSuchPart"},
        {"SIM:ATmega328P,bogus", "bogus"},
        {"sim:ATmega328P,stuck-flash=zz", "zz"},
        {"ftdi:", nullptr},
        {"FTDI:A9XYZ,ttl,clock=200000", nullptr},
        {"sim:ATmega328P,ftdi,ttl,clock=50000,ftdi-unplug-after=10", nullptr},
        {"ftdi:A9XYZ,B7", "B7"},
        {"ftdi:,clock=5", "pin clock"},
        {"sim:ATmega328P,ttl", "go with ftdi"},
        {"/dev/ttyUSB0,modem", nullptr},
        {"sim:ATmega328P,unplug-after=90,power-off-after=0x40,stop-after=7", nullptr},
        {"sim:ATmega328P,unplug-after=0", "bad line call count \"0\""},
        {"sim:ATmega328P,stop-after=", "bad line call count"},
        {"sim:ATmega328P,power-off-after=soon", "soon"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string error;
        const bool good = CheckPortName(c.name, error);
        EXPECT_EQ(good, c.expected == nullptr) << error;
        if (c.expected != nullptr) {
            EXPECT_NE(error.find(c.expected), std::string::npos) << error;
        }
    }
}

// A bad name opens nothing and leaves the port that is open as it was; a
// good one of any kind replaces it.
TEST(PortRegistry, SessionOpensByNameAndKeepsThePortOnABadOne) {
    CQuietHost host;
    CVirtualCounter counter;
    CProgrammingSession session(host, &counter);
    ASSERT_TRUE(session.SelectPort("sim:AT90S8515"));
    ASSERT_NE(session.SimPorts().Sim(), nullptr);
    EXPECT_EQ(session.PortNumber(), kNoPortNumber);
    CSimPort* open = session.SimPorts().Sim();
    EXPECT_FALSE(session.SelectPort("sim:AT90S8515,bogus"));
    EXPECT_FALSE(session.SelectPort("COM7"));
    EXPECT_EQ(session.SimPorts().Sim(), open);
    EXPECT_TRUE(open->IsOpen());

    session.SetPortOverrides({{3, "sim:ATmega328P"}});
    EXPECT_EQ(session.PortDevice("com3"), "sim:ATmega328P");
    ASSERT_TRUE(session.SelectPort("COM3"));
    EXPECT_EQ(session.PortNumber(), 3);
    EXPECT_FALSE(open->IsOpen());
    EXPECT_TRUE(session.CheckAdapter("COM3"));
}

// A port that cannot be opened is reported by why, in words that say where
// to look; the window adds that line under its own.
TEST(PortRegistry, OpenFailuresSayWhereToLook) {
    int argc = 1;
    char name[] = "session_tests";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    CQuietHost host;
    CVirtualCounter counter;
    CProgrammingSession session(host, &counter);
    session.SetPortOverrides({{2, "/dev/brenwick-no-such-port"}});
    EXPECT_FALSE(session.SelectPort("COM2"));
    EXPECT_EQ(session.PortOpenError("COM2"),
              "cannot open port COM2 (/dev/brenwick-no-such-port): it does not exist");
    EXPECT_EQ(session.PortTroubleLine("COM2"),
              " COM2 (/dev/brenwick-no-such-port) does not exist\r\n");

    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_TRUE(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
    const std::string device = ::ptsname(master);
    CQtSerialPort other;  // another program's hold on the port
    ASSERT_TRUE(other.Open(device));
    session.SetPortOverrides({{2, device}});
    EXPECT_FALSE(session.SelectPort("COM2"));
    EXPECT_EQ(session.PortTroubleLine("COM2"),
              " COM2 (" + device + ") is in use by another program\r\n");
    other.Close();
    ::close(master);

    // A name that is no port at all has no such reason to give.
    EXPECT_FALSE(session.SelectPort("COM7"));
    EXPECT_EQ(session.PortTroubleLine("COM7"), "");
}
