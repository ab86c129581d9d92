// The link's failures, each once: what the program is told when the adapter,
// the wire or the chip misbehave.
#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "UpdiSimBench.h"
#include "updi/UpdiProtocol.h"

namespace {

constexpr uint32_t kBaud = 115200;

// A wire that echoes and then answers from a script: for answers no chip gives.
class CScriptedWire : public IUpdiWire {
public:
    bool SetBaud(uint32_t baud) override {
        m_baud = baud;
        return true;
    }
    uint32_t Baud() const override { return m_baud; }
    bool Write(const uint8_t* data, size_t n) override {
        m_rx.insert(m_rx.end(), data, data + n);
        return true;
    }
    int Read(uint8_t* data, size_t n, int) override {
        if (m_rx.size() < n && !answers.empty()) {
            m_rx.push_back(answers.front());
            answers.pop_front();
        }
        size_t got = 0;
        for (; got < n && !m_rx.empty(); ++got) {
            data[got] = m_rx.front();
            m_rx.pop_front();
        }
        return static_cast<int>(got);
    }
    void Discard() override { m_rx.clear(); }
    std::deque<uint8_t> answers;

private:
    uint32_t m_baud = 0;
    std::deque<uint8_t> m_rx;
};

struct SFaultCase {
    const char* faults;
    int connect;  // what Connect gives
};

class UpdiLinkFaultTest : public ::testing::TestWithParam<SFaultCase> {};

}  // namespace

TEST_P(UpdiLinkFaultTest, ConnectReports) {
    SSimUpdiFaults faults;
    std::string error;
    ASSERT_TRUE(ParseSimUpdiFaults(GetParam().faults, faults, error)) << error;
    SUpdiSimBench bench("ATtiny1614", faults);
    EXPECT_EQ(bench.programmer.Link().Connect(kBaud), GetParam().connect);
}

INSTANTIATE_TEST_SUITE_P(Faults, UpdiLinkFaultTest,
                         ::testing::Values(SFaultCase{"no-adapter", kUpdiNoEcho},
                                           SFaultCase{"no-chip", kUpdiTimeout},
                                           SFaultCase{"wrong-echo-after=4", kUpdiWrongEcho},
                                           SFaultCase{"unplug-after=3", kUpdiWireError}));

TEST(UpdiLink, StoreAnsweredWithoutAckIsNoAck) {
    CScriptedWire wire;
    CUpdiLink link(wire);
    link.Wire().SetBaud(kBaud);
    wire.answers = {0x00};
    EXPECT_EQ(link.Sts8(0x1000, 0x12), kUpdiNoAck);
    wire.answers = {UpdiProto::kAck, UpdiProto::kAck};
    EXPECT_EQ(link.Sts8(0x1000, 0x12), kUpdiOk);
    EXPECT_EQ(link.Counters().turnarounds, 3u);
}

TEST(UpdiLink, FasterThanTheResetClockRaisesTheUpdiClock) {
    SUpdiSimBench bench("ATmega4809");
    ASSERT_EQ(bench.programmer.Link().Connect(230400), kUpdiOk);
    EXPECT_GE(bench.target->MaxBaud(), 230400u);
    // A baud beyond the chip's clock gives garbage: the chip falls silent.
    bench.wire.SetBaud(1000000);
    uint8_t status = 0;
    EXPECT_EQ(bench.programmer.Link().Ldcs(UpdiProto::kStatusA, status), kUpdiTimeout);
    // A double BREAK brings it back.
    ASSERT_EQ(bench.programmer.Link().Connect(kBaud), kUpdiOk);
}

TEST(UpdiLink, ChipLosingPowerMidWriteGivesTimeoutAndThePage) {
    SSimUpdiFaults faults;
    faults.powerOffAfter = 2000;
    SUpdiSimBench bench("ATtiny1614", faults);
    ASSERT_EQ(bench.programmer.Enter(kBaud), kUpdiOk);
    const std::vector<uint8_t> image(bench.part->flashBytes, 0x5A);
    EXPECT_EQ(bench.programmer.WriteMemory(EUpdiMemory::kFlash, 0, image.data(), image.size()),
              kUpdiTimeout);
    const uint32_t fail = bench.programmer.FailAddress();
    EXPECT_EQ(fail % bench.part->flashPage, 0u);
    EXPECT_GT(fail, 0u);
    EXPECT_LT(fail, 2000u);
    // Every page before the one reported is written.
    for (uint32_t i = 0; i + bench.part->flashPage <= fail; ++i) {
        ASSERT_EQ(bench.target->Flash()[i], 0x5A) << i;
    }
}

TEST(UpdiLink, StopBetweenPagesEndsTheWrite) {
    SSimUpdiFaults faults;
    faults.stopAfter = 1500;
    SUpdiSimBench bench("ATtiny1614", faults);
    bool stop = false;
    bench.wire.SetStopHook([&stop] { stop = true; });
    bench.programmer.SetStopCheck([&stop] { return stop; });
    ASSERT_EQ(bench.programmer.Enter(kBaud), kUpdiOk);
    const std::vector<uint8_t> image(bench.part->flashBytes, 0x5A);
    EXPECT_EQ(bench.programmer.WriteMemory(EUpdiMemory::kFlash, 0, image.data(), image.size()),
              kUpdiStopped);
    EXPECT_LT(bench.programmer.FailAddress(), 2000u);
}

TEST(UpdiLink, StatusReadTimesOutWhenTheChipStopsAnswering) {
    SSimUpdiFaults faults;
    faults.powerOffAfter = 200;
    SUpdiSimBench bench("ATtiny202", faults);
    ASSERT_EQ(bench.programmer.Enter(kBaud), kUpdiOk);
    const int64_t before = bench.clock.Now();
    int result = kUpdiOk;
    for (int i = 0; i < 100 && result == kUpdiOk; ++i) {
        uint8_t status = 0;
        result = bench.programmer.Link().Ldcs(UpdiProto::kAsiSysStatus, status);
    }
    EXPECT_EQ(result, kUpdiTimeout);
    EXPECT_LT(bench.clock.Now() - before, 1000000000) << "a silent chip must not hold for long";
}
