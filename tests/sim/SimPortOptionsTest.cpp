// sim: port names and the port that routes between them and the real port.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "sim/SimPortOptions.h"
#include "sim/VirtualCounter.h"
#include "tests/support/SimForDevice.h"

namespace {

constexpr int kAT90S8515 = 4;

TEST(SimPortOptions, DeviceNamesAreTableNamesInAnyCase) {
    SimPortOptions simPort;
    std::string error;
    ASSERT_TRUE(ParseSimPortOptions("sim:AT90S8515", simPort, error)) << error;
    EXPECT_EQ(simPort.partName, "AT90S8515");
    EXPECT_TRUE(simPort.stateFile.empty());
    EXPECT_EQ(simPort.config.signature, SimConfigForDevice(kAT90S8515).signature);
    EXPECT_EQ(simPort.config.pollProg, 0x7F);

    ASSERT_TRUE(ParseSimPortOptions("SIM:atmega103", simPort, error)) << error;
    EXPECT_EQ(simPort.partName, "ATmega103");
    EXPECT_EQ(simPort.config.progSize, 131072);
    ASSERT_TRUE(ParseSimPortOptions("sim:attiny10/11/12", simPort, error)) << error;
    EXPECT_EQ(simPort.partName, "ATtiny10/11/12");
}

TEST(SimPortOptions, OptionsSetStateFileAndFaults) {
    SimPortOptions simPort;
    std::string error;
    ASSERT_TRUE(ParseSimPortOptions(
        "sim:AT90S8515,state=/tmp/chip.txt,no-adapter,no-target,stuck-flash=0x1fff,"
        "stuck-flash=17,stuck-eeprom=511,erase-fails",
        simPort, error))
        << error;
    EXPECT_EQ(simPort.stateFile, "/tmp/chip.txt");
    EXPECT_TRUE(simPort.config.noAdapter);
    EXPECT_TRUE(simPort.config.noTarget);
    EXPECT_TRUE(simPort.config.eraseFails);
    EXPECT_EQ(simPort.config.stuckProgBytes, (std::vector<int>{0x1FFF, 17}));
    EXPECT_EQ(simPort.config.stuckDataBytes, (std::vector<int>{511}));
}

TEST(SimPortOptions, BadNamesGiveAMessageAndLeaveTheOptionsAlone) {
    const std::string bad[] = {
        "COM2",
        "/dev/ttyUSB0",
        "sim:",
        "sim:AT90S9999",
        "sim:AT90S8515,",
        "sim:AT90S8515,no-adaptor",
        "sim:AT90S8515,state=",
        "sim:AT90S8515,state=a,state=b",
        "sim:AT90S8515,stuck-flash=",
        "sim:AT90S8515,stuck-flash=8192",  // one past the end
        "sim:AT90S8515,stuck-eeprom=512",
        "sim:AT90S8515,stuck-flash=0x",
        "sim:AT90S8515,stuck-flash=12a",
        "sim:AT90S8515,stuck-flash=-1",
        "sim:AT90S8515,stuck-flash=99999999999999999999",
        "sim:AT90S8515,STUCK-FLASH=1",
    };
    for (const std::string& name : bad) {
        SCOPED_TRACE(name);
        SimPortOptions simPort;
        simPort.partName = "kept";
        std::string error;
        EXPECT_FALSE(ParseSimPortOptions(name, simPort, error));
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(simPort.partName, "kept");
    }
    EXPECT_TRUE(IsSimPortName("Sim:x"));
    EXPECT_FALSE(IsSimPortName("si"));
    EXPECT_FALSE(IsSimPortName("/dev/sim:x"));
}

// Stands in for the real port and records what reaches it.
class CRecordingPort : public ISerialPort {
public:
    bool Open(const std::string& name) override {
        calls.push_back("open " + name);
        return openOk;
    }
    bool SetupComm(uint32_t, uint32_t) override { return Call("setup"); }
    bool GetCommState(CommState&) override { return Call("getstate"); }
    bool SetCommState(const CommState&) override { return Call("setstate"); }
    bool SetCommMask(uint32_t) override { return Call("mask"); }
    bool SetCommTimeouts(const CommTimeouts&) override { return Call("timeouts"); }
    bool EscapeCommFunction(EscapeCode) override { return Call("escape"); }
    bool SetCommBreak() override { return Call("break"); }
    bool ClearCommBreak() override { return Call("clearbreak"); }
    bool GetCommModemStatus(uint32_t& status) override {
        status = MS_RLSD_ON;
        return Call("status");
    }
    void Close() override { calls.push_back("close"); }
    std::string LastError() const override { return "real port error"; }

    bool Call(const char* what) {
        calls.push_back(what);
        return true;
    }
    bool openOk = true;
    std::vector<std::string> calls;
};

class RoutingPortTest : public ::testing::Test {
protected:
    RoutingPortTest() : sims(counter), router(real, {{kSimPortPrefix, &sims}}) {}

    CRecordingPort real;
    CVirtualCounter counter;
    CSimPortKind sims;
    CRoutingPort router;
};

TEST_F(RoutingPortTest, DevicePathsGoToTheRealPort) {
    ASSERT_TRUE(router.Open("/dev/ttyUSB0"));
    uint32_t status = 0;
    EXPECT_TRUE(router.GetCommModemStatus(status));
    EXPECT_EQ(status, MS_RLSD_ON);
    EXPECT_TRUE(router.SetCommBreak());
    router.Close();
    EXPECT_EQ(real.calls,
              (std::vector<std::string>{"open /dev/ttyUSB0", "status", "break", "close"}));
    EXPECT_EQ(sims.Sim(), nullptr);
    EXPECT_FALSE(router.SetCommBreak());  // nothing open any more

    real.openOk = false;
    EXPECT_FALSE(router.Open("/dev/ttyUSB1"));
    EXPECT_EQ(router.LastError(), "real port error");
}

TEST_F(RoutingPortTest, SimNamesOpenAChipThatKeepsItsMemoryForTheRoutersLife) {
    ASSERT_TRUE(router.Open("sim:AT90S2313"));
    CSimPort* sim = sims.Sim();
    ASSERT_NE(sim, nullptr);
    EXPECT_EQ(sim->Flash().size(), 2048u);
    EXPECT_FALSE(router.Open("sim:AT90S2313"));  // one port at a time
    EXPECT_TRUE(router.SetCommBreak());
    EXPECT_TRUE(sim->Break());
    sim->Flash()[5] = 0x55;
    router.Close();
    EXPECT_FALSE(sim->IsOpen());

    ASSERT_TRUE(router.Open("/dev/null-port"));
    router.Close();
    ASSERT_TRUE(router.Open("sim:AT90S2313"));
    EXPECT_EQ(sims.Sim(), sim);
    EXPECT_EQ(sims.Sim()->Flash()[5], 0x55);
    router.Close();
    EXPECT_TRUE(real.calls.size() == 2u);  // only the device path reached it
}

TEST_F(RoutingPortTest, BadSimNameFailsWithTheParsersMessage) {
    EXPECT_FALSE(router.Open("sim:AT90S0000"));
    EXPECT_NE(router.LastError().find("AT90S0000"), std::string::npos);
    EXPECT_TRUE(real.calls.empty());
    EXPECT_EQ(sims.Sim(), nullptr);
}

TEST_F(RoutingPortTest, StateFileIsLoadedAtFirstOpenAndSavedOnRequest) {
    const std::string path = ::testing::TempDir() + "brenwick-routing-state";
    std::remove(path.c_str());
    const std::string name = "sim:AT90S1200,state=" + path;
    ASSERT_TRUE(router.Open(name));  // no file yet: a blank chip
    sims.Sim()->Eeprom()[3] = 0x33;
    router.Close();
    std::string error;
    ASSERT_TRUE(router.SaveKinds(error)) << error;

    CSimPortKind secondSims(counter);
    CRoutingPort second(real, {{kSimPortPrefix, &secondSims}});
    ASSERT_TRUE(second.Open(name));
    EXPECT_EQ(secondSims.Sim()->Eeprom()[3], 0x33);
    second.Close();

    // A state file of another chip is refused and the open fails.
    CSimPortKind thirdSims(counter);
    CRoutingPort third(real, {{kSimPortPrefix, &thirdSims}});
    EXPECT_FALSE(third.Open("sim:AT90S8515,state=" + path));
    EXPECT_FALSE(third.LastError().empty());
    std::remove(path.c_str());
}

TEST_F(RoutingPortTest, SaveReportsAChipWhoseFileCannotBeWritten) {
    ASSERT_TRUE(router.Open("sim:AT90S1200,state=/nonexistent-folder/brenwick/state"));
    router.Close();
    std::string error;
    EXPECT_FALSE(router.SaveKinds(error));
    EXPECT_FALSE(error.empty());
}

}  // namespace
