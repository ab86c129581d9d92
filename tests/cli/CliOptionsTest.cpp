#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "cli/CliHost.h"
#include "cli/CliOptions.h"
#include "parts/DeviceTable.h"

namespace {

bool Parse(const std::vector<std::string>& args, CliOptions& options, std::string& error) {
    return ParseCliArguments(args, options, error);
}

TEST(CliOptions, DefaultsAndPortForms) {
    CliOptions o;
    std::string error;
    ASSERT_TRUE(Parse({"check"}, o, error)) << error;
    EXPECT_EQ(o.portText, "COM2");
    EXPECT_EQ(PortDevicePath(o.portText, {}), "/dev/ttyS1");
    EXPECT_EQ(o.deviceNumber, 8535);
    EXPECT_FALSE(o.autoDevice);
    EXPECT_FALSE(o.quiet);

    ASSERT_TRUE(Parse({"--port=com4", "check"}, o, error)) << error;
    EXPECT_EQ(PortDevicePath(o.portText, {}), "/dev/ttyS3");

    ASSERT_TRUE(Parse({"--port", "/dev/ttyUSB0", "check"}, o, error)) << error;
    EXPECT_EQ(PortDevicePath(o.portText, {}), "/dev/ttyUSB0");
    EXPECT_FALSE(IsSimulatedPortName(o.portText));

    ASSERT_TRUE(Parse({"check", "--port", "SIM:at90s8515,state=x.txt,stuck-flash=0x10"}, o, error))
        << error;
    EXPECT_TRUE(IsSimulatedPortName(o.portText));
    EXPECT_EQ(PortDevicePath(o.portText, {}), "SIM:at90s8515,state=x.txt,stuck-flash=0x10");
}

TEST(CliOptions, DeviceByNumberNameOrAuto) {
    CliOptions o;
    std::string error;
    ASSERT_TRUE(Parse({"--device", "8515", "check"}, o, error)) << error;
    EXPECT_EQ(o.deviceNumber, 8515);
    ASSERT_TRUE(Parse({"--device=atmega103", "check"}, o, error)) << error;
    EXPECT_EQ(o.deviceNumber, 103);
    ASSERT_TRUE(Parse({"--device", "ATtiny10/11/12", "check"}, o, error)) << error;
    EXPECT_EQ(o.deviceNumber, 10);
    ASSERT_TRUE(Parse({"--device", "AUTO", "check"}, o, error)) << error;
    EXPECT_TRUE(o.autoDevice);
    // The parts of today by any of their names; they have no number.
    ASSERT_TRUE(Parse({"--device", "attiny13a", "check"}, o, error)) << error;
    EXPECT_STREQ(g_deviceTable[o.deviceRow].name, "ATtiny13/13A");
    EXPECT_FALSE(Parse({"--device", "0", "check"}, o, error));
}

TEST(CliOptions, ActionsKeepTheirOrderAndArguments) {
    CliOptions o;
    std::string error;
    ASSERT_TRUE(Parse({"--quiet", "erase", "write-prog", "a.hex", "verify-lock", "LB1,fstrt",
                       "read-data", "d.hex", "--", "write-data", "-odd.hex"},
                      o, error))
        << error;
    EXPECT_TRUE(o.quiet);
    ASSERT_EQ(o.actions.size(), 5u);
    EXPECT_EQ(o.actions[0].kind, CliActionKind::Erase);
    EXPECT_EQ(o.actions[1].kind, CliActionKind::WriteProg);
    EXPECT_EQ(o.actions[1].file, "a.hex");
    EXPECT_EQ(o.actions[2].kind, CliActionKind::VerifyLock);
    EXPECT_EQ(o.actions[2].ticks.m_bLockBit1, 1);
    EXPECT_EQ(o.actions[2].ticks.m_bLockBit2, 0);
    EXPECT_EQ(o.actions[2].ticks.m_bFstrt, 1);
    EXPECT_EQ(o.actions[3].file, "d.hex");
    EXPECT_EQ(o.actions[4].kind, CliActionKind::WriteData);
    EXPECT_EQ(o.actions[4].file, "-odd.hex");
}

TEST(CliOptions, HelpWinsOverEverythingElse) {
    CliOptions o;
    std::string error;
    ASSERT_TRUE(Parse({"bogus", "--port", "COM9", "-h"}, o, error));
    EXPECT_TRUE(o.help);
    ASSERT_TRUE(Parse({"--help"}, o, error));
    EXPECT_TRUE(o.help);
}

TEST(CliOptions, ListDevicesSaysWhatEachPartCanDo) {
    CliOptions o;
    std::string error;
    ASSERT_TRUE(Parse({"--list-devices", "erase"}, o, error));
    EXPECT_TRUE(o.listDevices);
    const std::string list = DeviceListText();
    for (
        const char* line :
        {"ATmega103                   103  131072    4096  256-byte pages  yes             -\n",
         "AT90S8515                  8515    8192     512  by byte         no              -\n",
         "AT90S8535                  8535    8192     512  by byte         yes             FSTRT\n",
         "ATtiny12                      -    1024      64  by byte         yes             lfuse\n",
         "ATmega2561                    -  262144    4096  256-byte pages  yes             "
         "lfuse,hfuse,efuse\n"}) {
        EXPECT_NE(list.find(line), std::string::npos) << line;
    }
    EXPECT_EQ(list.find("LGT8F"), std::string::npos) << list;
}

TEST(CliOptions, FuseSetsNameEachByteOnceWithAHexValue) {
    std::array<uint8_t, kFuseByteCount> fuses{};
    uint8_t mask = 0;
    std::string error;
    ASSERT_TRUE(ParseFuseSet("lfuse=0xE2,EFUSE=ff", fuses, mask, error)) << error;
    EXPECT_EQ(mask, kLowFuse | kExtendedFuse);
    EXPECT_EQ(FormatFuseSet(fuses, mask), "lfuse=0xE2,efuse=0xFF");
    for (const char* bad : {"", "lfuse", "lfuse=", "lfuse=0x1G", "lfuse=100", "xfuse=1",
                            "lfuse=1,lfuse=2", "lfuse=1,"}) {
        EXPECT_FALSE(ParseFuseSet(bad, fuses, mask, error)) << bad;
    }
    // write-fuses also takes settings by name, for the device to resolve;
    // a byte named wrongly is still an error.
    std::string settings;
    ASSERT_TRUE(ParseFuseSet("Clock=rc8m,lfuse=0xE2,ckdiv8=off", fuses, mask, error, &settings));
    EXPECT_EQ(mask, kLowFuse);
    EXPECT_EQ(settings, "clock=rc8m,ckdiv8=off");
    for (const char* bad : {"lfuse=0x1G,clock=rc8m", "clock", "clock=", "=rc8m", "clock=rc8m,"}) {
        EXPECT_FALSE(ParseFuseSet(bad, fuses, mask, error, &settings)) << bad;
    }
}

TEST(CliOptions, UsageErrorsSayWhatIsWrong) {
    const struct {
        std::vector<std::string> args;
        const char* expected;
    } cases[] = {
        {{}, "no action"},
        {{"--quiet"}, "no action"},
        {{"flash"}, "unknown action \"flash\""},
        {{"--speed", "check"}, "unknown option \"--speed\""},
        {{"check", "--port"}, "--port needs a value"},
        {{"--port", "--quiet", "check"}, "--port needs a value"},
        {{"--port", "COM3", "--port", "COM4", "check"}, "more than once"},
        {{"--port", "COM5", "check"}, "COM1 to COM4"},
        {{"--port", "com0", "check"}, "COM1 to COM4"},
        {{"--port=", "check"}, "empty port"},
        {{"--port", "sim:AT90S9999", "check"}, "unknown device"},
        {{"--port", "sim:AT90S8515,melted", "check"}, "unknown option \"melted\""},
        {{"--port", "sim:AT90S8515,stuck-flash=0x2000", "check"}, "outside"},
        {{"--device", "9999", "check"}, "unknown device \"9999\""},
        {{"--device", "", "check"}, "unknown device"},
        {{"write-prog"}, "write-prog needs a file name"},
        {{"read-data", "--quiet"}, "read-data needs a file name"},
        {{"verify-prog", ""}, "verify-prog needs a file name"},
        {{"write-lock"}, "write-lock needs BITS"},
        {{"write-lock", "lb3"}, "unknown lock bit \"lb3\""},
        {{"write-lock", "lb1,"}, "empty item"},
        {{"verify-lock", "none,lb1"}, "unknown lock bit \"none\""},
    };
    for (const auto& c : cases) {
        CliOptions o;
        std::string error;
        EXPECT_FALSE(Parse(c.args, o, error)) << c.expected;
        EXPECT_NE(error.find(c.expected), std::string::npos)
            << "expected \"" << c.expected << "\" in \"" << error << "\"";
    }
}

TEST(CliOptions, LockSetsReadBackAsWritten) {
    for (int bits = 0; bits < 8; ++bits) {
        LockTicks ticks;
        ticks.m_bLockBit1 = bits & 1;
        ticks.m_bLockBit2 = (bits >> 1) & 1;
        ticks.m_bFstrt = (bits >> 2) & 1;
        LockTicks back;
        back.m_bSpien = 1;
        std::string error;
        ASSERT_TRUE(ParseLockSet(FormatLockSet(ticks), back, error)) << FormatLockSet(ticks);
        EXPECT_EQ(back.m_bLockBit1, ticks.m_bLockBit1);
        EXPECT_EQ(back.m_bLockBit2, ticks.m_bLockBit2);
        EXPECT_EQ(back.m_bFstrt, ticks.m_bFstrt);
    }
    EXPECT_EQ(FormatLockSet(LockTicks{}), "none");
}

TEST(CliOptions, RandomWordsNeverCrashTheParser) {
    const std::vector<std::string> words = {
        "erase",    "write-prog", "read-lock", "write-lock", "--port",
        "--device", "--quiet",    "--",        "sim:",       "sim:ATmega103,state=",
        "COM2",     "auto",       "lb1,lb2",   "",           "-",
        "--port=",  "x.hex",      "none",      "8515",       "=",
        "com",      "check"};
    std::mt19937 random(99);
    for (int round = 0; round < 5000; ++round) {
        std::vector<std::string> args(random() % 6);
        for (std::string& w : args) {
            w = words[random() % words.size()];
        }
        CliOptions o;
        std::string error;
        if (ParseCliArguments(args, o, error)) {
            EXPECT_TRUE(o.help || !o.actions.empty());
        } else {
            EXPECT_FALSE(error.empty());
        }
    }
}

TEST(CliHost, MessagesBecomePlainLines) {
    std::ostringstream out;
    CCliHost host(out, nullptr);
    host.AddMessage("Auto Select device : \r\n");
    host.AddMessage(" ");
    EXPECT_EQ(out.str(), "Auto Select device : \n") << "an unfinished line was printed";
    host.AppendMessage("Select device : AT90S2313\r\nFile a.hex Opened\r\n");
    host.AddMessage("half");
    host.Finish();
    EXPECT_EQ(out.str(),
              "Auto Select device : \n Select device : AT90S2313\nFile a.hex Opened\nhalf\n");
}

TEST(CliHost, ProgressLineIsClearedBeforeTheNextMessage) {
    std::ostringstream out, progress;
    CCliHost host(out, &progress);
    host.SetProgressRange(200);
    host.SetProgressPos(100);
    EXPECT_NE(progress.str().find(" 50%"), std::string::npos) << progress.str();
    EXPECT_NE(progress.str().find("bytes/s"), std::string::npos) << progress.str();
    host.AddMessage(" Writing : Complete\r\n");
    const std::string shown = progress.str();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.back(), '\r');
    EXPECT_EQ(shown.find('\n'), std::string::npos) << "the progress line must stay on one line";
    EXPECT_EQ(out.str(), " Writing : Complete\n");

    // Without a progress stream nothing is drawn.
    std::ostringstream quiet;
    CCliHost silent(quiet, nullptr);
    silent.SetProgressRange(10);
    silent.SetProgressPos(5);
    EXPECT_TRUE(quiet.str().empty());
}

}  // namespace
