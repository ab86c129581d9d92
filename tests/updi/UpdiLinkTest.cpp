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

// --- Every instruction that carries an address, in both widths: the bytes
// the link puts on the wire. The 24-bit forms reach the AVR Dx/Ex flash at
// 0x800000; a 16-bit address there would land in the data space below.
namespace {

class CRecordingWire : public IUpdiWire {
public:
    bool SetBaud(uint32_t baud) override {
        m_baud = baud;
        return true;
    }
    uint32_t Baud() const override { return m_baud; }
    bool Write(const uint8_t* data, size_t n) override {
        sent.insert(sent.end(), data, data + n);
        m_rx.insert(m_rx.end(), data, data + n);
        return true;
    }
    int Read(uint8_t* data, size_t n, int) override {
        while (m_rx.size() < n) {
            m_rx.push_back(0);  // the chip's answer to a load
        }
        for (size_t i = 0; i < n; ++i) {
            data[i] = m_rx.front();
            m_rx.pop_front();
        }
        return static_cast<int>(n);
    }
    void Discard() override { m_rx.clear(); }
    std::vector<uint8_t> sent;

private:
    uint32_t m_baud = 0;
    std::deque<uint8_t> m_rx;
};

enum class EAddressed { kLds8, kLds16, kSts8, kSts16, kPointer, kWords, kBlock };

struct SEncodingRow {
    int addressBytes;
    EAddressed call;
    uint32_t address;
    std::vector<uint8_t> wire;
};

const uint8_t kTwoWords[] = {0x11, 0x22, 0x33, 0x44};

const SEncodingRow kEncodingRows[] = {
    {3, EAddressed::kLds8, 0x81FFFE, {0x55, 0x08, 0xFE, 0xFF, 0x81}},
    {2, EAddressed::kLds8, 0x1234, {0x55, 0x04, 0x34, 0x12}},
    {3, EAddressed::kLds16, 0x001002, {0x55, 0x09, 0x02, 0x10, 0x00}},
    {3, EAddressed::kSts8, 0x001040, {0x55, 0x48, 0x40, 0x10, 0x00, 0xA5}},
    {2, EAddressed::kSts8, 0x128A, {0x55, 0x44, 0x8A, 0x12, 0xA5}},
    {3, EAddressed::kSts16, 0x800100, {0x55, 0x49, 0x00, 0x01, 0x80, 0xA5, 0x5A}},
    {3, EAddressed::kPointer, 0x800000, {0x55, 0x6A, 0x00, 0x00, 0x80}},
    {2, EAddressed::kPointer, 0x8000, {0x55, 0x69, 0x00, 0x80}},
    {3,
     EAddressed::kWords,
     0x800010,
     {0x55, 0x6A, 0x10, 0x00, 0x80, 0x55, 0xA0, 0x01, 0x55, 0x65, 0x11, 0x22, 0x33, 0x44}},
    {3,
     EAddressed::kBlock,
     0x801000,
     {0x55, 0x6A, 0x00, 0x10, 0x80, 0x55, 0xA0, 0x03, 0x55, 0x64, 0x11, 0x22, 0x33, 0x44}},
};

}  // namespace

TEST(UpdiLinkEncoding, AddressesGoOutInTheWidthSet) {
    constexpr uint8_t kValue = 0xA5;
    constexpr uint16_t kWord = 0x5AA5;
    constexpr size_t kRsdBytes = 3;  // SYNCH, STCS CTRLA, value: before every row
    for (const SEncodingRow& row : kEncodingRows) {
        CRecordingWire wire;
        CUpdiLink link(wire);
        link.SetAddressBytes(row.addressBytes);
        ASSERT_EQ(link.SetResponseSignatures(false), kUpdiOk);
        uint8_t byte = 0;
        uint16_t word = 0;
        int result = kUpdiOk;
        switch (row.call) {
            case EAddressed::kLds8:
                result = link.Lds8(row.address, byte);
                break;
            case EAddressed::kLds16:
                result = link.Lds16(row.address, word);
                break;
            case EAddressed::kSts8:
                result = link.Sts8(row.address, kValue);
                break;
            case EAddressed::kSts16:
                result = link.Sts16(row.address, kWord);
                break;
            case EAddressed::kPointer:
                result = link.SetPointer(row.address);
                break;
            case EAddressed::kWords:
                result = link.WriteWords(row.address, kTwoWords, 2);
                break;
            case EAddressed::kBlock:
                result = link.WriteBlock(row.address, kTwoWords, sizeof kTwoWords);
                break;
        }
        ASSERT_EQ(result, kUpdiOk);
        uint8_t status = 0;
        ASSERT_EQ(link.Ldcs(UpdiProto::kStatusA, status), kUpdiOk);  // sends what is queued
        ASSERT_GE(wire.sent.size(), kRsdBytes + row.wire.size());
        const std::vector<uint8_t> got(wire.sent.begin() + kRsdBytes,
                                       wire.sent.begin() + kRsdBytes + row.wire.size());
        EXPECT_EQ(got, row.wire) << "row at 0x" << std::hex << row.address;
    }
    CRecordingWire wire;
    CUpdiLink link(wire);
    EXPECT_EQ(link.WriteWords(0, kTwoWords, 0), kUpdiBadArgument);
    EXPECT_EQ(link.WriteWords(0, kTwoWords, UpdiProto::kMaxRepeatTransfers + 1), kUpdiBadArgument);
}
