#include <gtest/gtest.h>

#include <string>

#include "isp/IspAdapter.h"
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
        {"COM1", nullptr},
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
