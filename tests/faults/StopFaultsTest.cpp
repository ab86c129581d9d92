// The operations that change the chip, each stopped by the user, cut off by
// a pulled cable and by a target that loses its power, early, in the middle
// and late in its run, through the session as the front ends use it. Each
// ends with the line of what happened and no claim of success it cannot
// back, RESET is released, and the chip answers the next Erase, Write and
// Verify as if nothing had happened.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "ops/OperationHost.h"
#include "ops/Operations.h"
#include "parts/DeviceTable.h"
#include "session/ProgrammingSession.h"
#include "sim/SimPortOptions.h"
#include "sim/SimTarget.h"
#include "sim/VirtualCounter.h"

namespace {

// A part written by pages, with EEPROM and three fuse bytes, small enough
// for many runs.
constexpr char kPart[] = "ATtiny25";
constexpr uint8_t kErased = 0xFF;
constexpr uint8_t kEesaveBit = 0x08;  // in the high fuse: harmless to change
constexpr size_t kHighFuse = 1;
// After a stop the operation ends within the instruction under way, a
// write's polls and the leave of programming mode.
constexpr uint64_t kLineCallsAfterStop = 2500;

class CStopHost : public IOperationHost {
public:
    std::vector<std::string> lines;
    bool stop = false;

    void AddMessage(const std::string& text) override { Add(text); }
    void AppendMessage(const std::string& text) override { Add(text); }
    void SetProgressRange(int) override {}
    void SetProgressPos(int) override {}
    LockTicks& Ticks() override { return m_ticks; }
    bool StopRequested() override { return stop; }
    void RequestStop() override { stop = true; }

private:
    void Add(const std::string& text) {
        if (!text.empty()) {
            lines.push_back(text);
        }
    }
    LockTicks m_ticks;
};

enum class Fault { None, Stop, Unplug, PowerOff };

const char* OptionOf(Fault fault) {
    switch (fault) {
        case Fault::Stop:
            return ",stop-after=";
        case Fault::Unplug:
            return ",unplug-after=";
        case Fault::PowerOff:
            return ",power-off-after=";
        case Fault::None:
            break;
    }
    return "";
}

struct Bench {
    CVirtualCounter counter;
    CStopHost host;
    CProgrammingSession session{host, &counter};
    std::string port;

    CSimPort& Sim() { return *session.SimPorts().Sim(); }
    uint64_t LineCalls() { return Sim().Counters().lineOps + Sim().Counters().failedLineOps; }
};

void FillRandom(std::vector<uint8_t>& bytes, uint32_t seed) {
    std::mt19937 random(seed);
    for (uint8_t& b : bytes) {
        b = static_cast<uint8_t>(random());
    }
}

bool AllErased(const std::vector<uint8_t>& bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == kErased; });
}

// The fuse values of the run: the chip's own with EESAVE changed.
std::array<uint8_t, kFuseByteCount> ChangedFuses(const CSimPort& sim) {
    const std::vector<uint8_t> now = sim.Fuses();
    std::array<uint8_t, kFuseByteCount> fuses{};
    std::copy(now.begin(), now.begin() + kFuseByteCount, fuses.begin());
    fuses[kHighFuse] ^= kEesaveBit;
    return fuses;
}

struct OpCase {
    const char* name;
    bool isErase;
    std::function<bool(Bench&)> run;
    // Whether the chip holds what a completed run promised.
    std::function<bool(Bench&)> done;
};

const std::vector<OpCase>& Ops() {
    static const std::vector<OpCase> kOps = {
        {"WriteProg", false, [](Bench& b) { return b.session.Operations().WriteProg(); },
         [](Bench& b) { return b.Sim().Flash() == b.session.Images().m_progImage; }},
        {"WriteData", false, [](Bench& b) { return b.session.Operations().WriteData(); },
         [](Bench& b) { return b.Sim().Eeprom() == b.session.Images().m_dataImage; }},
        {"WriteAll", false, [](Bench& b) { return b.session.Operations().WriteAll(); },
         [](Bench& b) {
             return b.Sim().Flash() == b.session.Images().m_progImage &&
                    b.Sim().Eeprom() == b.session.Images().m_dataImage;
         }},
        {"EraseAll", true, [](Bench& b) { return b.session.Operations().EraseAll(); },
         [](Bench& b) { return AllErased(b.Sim().Flash()) && AllErased(b.Sim().Eeprom()); }},
        {"EraseProg", true, [](Bench& b) { return b.session.Operations().EraseProg(); },
         [](Bench& b) { return AllErased(b.Sim().Flash()); }},
        {"EraseData", true, [](Bench& b) { return b.session.Operations().EraseData(); },
         [](Bench& b) { return AllErased(b.Sim().Eeprom()); }},
        {"WriteLock", false,
         [](Bench& b) {
             b.host.Ticks().m_bLockBit2 = 1;
             return b.session.Operations().WriteLock();
         },
         [](Bench& b) { return (b.Sim().LockBits() & 0x02) == 0; }},
        {"WriteFuses", false,
         [](Bench& b) {
             const auto fuses = ChangedFuses(b.Sim());
             return b.session.Operations().WriteFuses(fuses, kHighFuse + 1, false);
         },
         [](Bench& b) { return (b.Sim().Fuses()[kHighFuse] & kEesaveBit) == 0; }},
    };
    return kOps;
}

struct OpRun {
    bool result = false;
    uint64_t callsBefore = 0;  // line calls when the operation began
    uint64_t callsAfter = 0;   // and when it ended
};

OpRun RunOp(Bench& b, const OpCase& op, Fault fault, uint64_t at) {
    b.port = std::string(kSimPortPrefix) + kPart +
             (fault == Fault::None ? std::string() : OptionOf(fault) + std::to_string(at));
    EXPECT_TRUE(b.session.SelectDeviceRow(FindDeviceByName(kPart)));
    EXPECT_TRUE(b.session.SelectPort(b.port));
    FillRandom(b.session.Images().m_progImage, 1);
    FillRandom(b.session.Images().m_dataImage, 2);
    if (op.isErase) {
        FillRandom(b.Sim().Flash(), 3);
        FillRandom(b.Sim().Eeprom(), 4);
    }
    b.host.lines.clear();
    OpRun run;
    run.callsBefore = b.LineCalls();
    run.result = op.run(b);
    run.callsAfter = b.LineCalls();
    return run;
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

using Param = std::tuple<size_t, Fault>;
class StopFaultTest : public ::testing::TestWithParam<Param> {};

TEST_P(StopFaultTest, SaysWhereItEndedAndTheChipRecovers) {
    const OpCase& op = Ops()[std::get<0>(GetParam())];
    const Fault fault = std::get<1>(GetParam());
    OpRun healthy;
    {
        Bench b;
        healthy = RunOp(b, op, Fault::None, 0);
        ASSERT_TRUE(healthy.result) << "the healthy run must complete";
        ASSERT_TRUE(op.done(b));
    }
    const uint64_t span = healthy.callsAfter - healthy.callsBefore;
    for (const uint64_t at : {healthy.callsBefore + 1 + span / 10, healthy.callsBefore + span / 2,
                              healthy.callsBefore + span * 9 / 10}) {
        Bench b;
        const OpRun run = RunOp(b, op, fault, at);
        SCOPED_TRACE(b.port);
        ASSERT_FALSE(b.host.lines.empty());
        const std::string& last = b.host.lines.back();
        SCOPED_TRACE("last line: " + last);
        // Result lines start with a space (headings do not); every one of
        // them must say complete for the operation to be done.
        bool complete = true;
        for (const std::string& line : b.host.lines) {
            complete = complete && (line[0] != ' ' || line.find("Complete") != std::string::npos);
        }
        EXPECT_EQ(run.result, complete) << "the result disagrees with the last line";
        if (complete) {
            EXPECT_TRUE(op.done(b)) << "completion without the content";
        }
        switch (fault) {
            case Fault::Stop:
                if (!run.result) {
                    EXPECT_NE(last.find(" : Stopped"), std::string::npos);
                    EXPECT_LE(run.callsAfter - at, kLineCallsAfterStop) << "the stop came late";
                    // Nothing begins after the stop: the line saying so is
                    // the only result line, and no heading follows it.
                    const auto stopped = std::find_if(
                        b.host.lines.begin(), b.host.lines.end(), [](const std::string& line) {
                            return line.find(" : Stopped") != std::string::npos;
                        });
                    EXPECT_EQ(stopped + 1, b.host.lines.end())
                        << "an operation began after the stop";
                }
                break;
            case Fault::Unplug:
                EXPECT_FALSE(run.result);
                EXPECT_NE(last.find("Port " + b.port + " stopped answering"), std::string::npos);
                EXPECT_EQ(last.find("Initialisation"), std::string::npos);
                break;
            case Fault::PowerOff:
                // A memory write names the address where the chip went silent.
                if (!run.result && (&op == &Ops()[0] || &op == &Ops()[1])) {
                    EXPECT_NE(last.find("Error at address "), std::string::npos);
                }
                break;
            case Fault::None:
                break;
        }
        EXPECT_TRUE(EndsWith(last, ".\r\n") || EndsWith(last, "\r\n"));
        EXPECT_FALSE(b.Sim().Break()) << "RESET left asserted";
        EXPECT_FALSE(b.Sim().InProgrammingMode());

        // The next Erase, Write and Verify work on the same session: the
        // port is opened again, the stop forgotten, the power back.
        b.host.stop = false;
        COperations& ops = b.session.Operations();
        EXPECT_TRUE(ops.EraseAll());
        EXPECT_TRUE(ops.WriteProg() && ops.VerifyProg() && ops.WriteData() && ops.VerifyData());
        EXPECT_EQ(b.Sim().Flash(), b.session.Images().m_progImage);
    }
}

// A stop while a flash page is loaded leaves that page as it was: only
// whole pages before the address the line names are written.
TEST(StopFaultTest, APartlyLoadedPageIsNotCommitted) {
    Bench healthyBench;
    const OpRun healthy = RunOp(healthyBench, Ops()[0], Fault::None, 0);
    const int page = healthyBench.session.Device()->progPageSize;
    const uint64_t span = healthy.callsAfter - healthy.callsBefore;
    for (uint64_t at = healthy.callsBefore + 1; at < healthy.callsBefore + span * 9 / 10;
         at += span / 7 + 1) {
        Bench b;
        const OpRun run = RunOp(b, Ops()[0], Fault::Stop, at);
        ASSERT_FALSE(run.result) << at;
        unsigned address = 0;
        ASSERT_EQ(
            std::sscanf(b.host.lines.back().c_str(), " Write : Stopped at address %x.", &address),
            1)
            << b.host.lines.back();
        const std::vector<uint8_t>& flash = b.Sim().Flash();
        const std::vector<uint8_t>& image = b.session.Images().m_progImage;
        EXPECT_TRUE(std::equal(flash.begin(), flash.begin() + address, image.begin()));
        // The page holding the address is whole or untouched: committed
        // while it was read back, or dropped while it was loaded.
        const size_t pageStart = address / page * page;
        const size_t pageEnd = pageStart + page;
        const bool whole = std::equal(flash.begin() + pageStart, flash.begin() + pageEnd,
                                      image.begin() + pageStart);
        const bool untouched = std::all_of(flash.begin() + pageStart, flash.begin() + pageEnd,
                                           [](uint8_t v) { return v == kErased; });
        EXPECT_TRUE(whole || untouched) << "a page committed half loaded";
        EXPECT_TRUE(std::all_of(flash.begin() + pageEnd, flash.end(), [](uint8_t v) {
            return v == kErased;
        })) << "a page after the stop was written";
    }
}

std::string ParamName(const ::testing::TestParamInfo<Param>& info) {
    static const char* const kFaults[] = {"None", "Stop", "Unplug", "PowerOff"};
    return std::string(Ops()[std::get<0>(info.param)].name) + "_" +
           kFaults[static_cast<int>(std::get<1>(info.param))];
}

INSTANTIATE_TEST_SUITE_P(ChangingOperations, StopFaultTest,
                         ::testing::Combine(::testing::Range<size_t>(0, Ops().size()),
                                            ::testing::Values(Fault::Stop, Fault::Unplug,
                                                              Fault::PowerOff)),
                         ParamName);

}  // namespace
