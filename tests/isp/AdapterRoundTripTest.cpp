// Every device of the table, end to end through the adapter: erase, write
// every program word and data byte, read everything back.
#include <gtest/gtest.h>

#include <vector>

#include "tests/isp/IspTestBench.h"
#include "tests/support/SimForDevice.h"

namespace {

uint8_t Pattern(size_t address, int row) {
    return static_cast<uint8_t>(address * 131 + static_cast<size_t>(row) * 7 + (address >> 8));
}

class AdapterRoundTripTest : public ::testing::TestWithParam<int> {};

TEST_P(AdapterRoundTripTest, EraseWriteAndReadBackEveryByte) {
    const int row = GetParam();
    const DeviceInfo& device = g_deviceTable[row];
    AdapterBench b(row);
    // The ATtiny10/11/12 row can never pass the signature check.
    const int check = row == kRowATtiny10 ? 0 : 1;
    for (uint8_t& cell : b.port.Flash()) {
        cell = 0x00;
    }
    for (uint8_t& cell : b.port.Eeprom()) {
        cell = 0x00;
    }
    ASSERT_TRUE(b.Open());

    ASSERT_EQ(b.adapter.EnterProgrammingMode(0), kIspOk);
    ASSERT_EQ(b.adapter.ChipErase(), kIspOk);
    ASSERT_EQ(b.adapter.LeaveProgrammingMode(), kIspOk);

    ASSERT_EQ(b.adapter.EnterProgrammingMode(check), kIspOk);
    const int words = device.progSize / 2;
    const int page = b.adapter.ProgPageSize();
    for (int w = 0; w < words && page == 0; ++w) {
        const uint16_t word =
            static_cast<uint16_t>(Pattern(2 * w, row) << 8 | Pattern(2 * w + 1, row));
        ASSERT_EQ(b.adapter.WriteProgramWord(word, w), kIspOk) << "word " << w;
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(page));
    for (int start = 0; page > 0 && start < device.progSize; start += page) {
        for (int i = 0; i < page; ++i) {
            bytes[static_cast<size_t>(i)] = Pattern(static_cast<size_t>(start + i), row);
        }
        int failedWord = 0;
        ASSERT_EQ(b.adapter.WriteProgramPage(bytes.data(), start / 2, failedWord), kIspOk)
            << "page " << start;
    }
    for (int a = 0; a < device.dataSize; ++a) {
        ASSERT_EQ(b.adapter.WriteDataByte(Pattern(a, row), a), kIspOk) << "byte " << a;
    }
    ASSERT_EQ(b.adapter.LeaveProgrammingMode(), kIspOk);

    ASSERT_EQ(b.adapter.EnterProgrammingMode(check), kIspOk);
    std::vector<uint8_t> prog(static_cast<size_t>(device.progSize));
    for (int w = 0; w < words; ++w) {
        uint16_t word = 0;
        ASSERT_EQ(b.adapter.ReadProgramWord(word, w), kIspOk);
        prog[2 * w] = static_cast<uint8_t>(word & 0xFF);
        prog[2 * w + 1] = static_cast<uint8_t>(word >> 8);
    }
    std::vector<uint8_t> data(static_cast<size_t>(device.dataSize));
    for (int a = 0; a < device.dataSize; ++a) {
        ASSERT_EQ(b.adapter.ReadDataByte(data[a], a), kIspOk);
    }
    ASSERT_EQ(b.adapter.LeaveProgrammingMode(), kIspOk);

    for (size_t i = 0; i < prog.size(); ++i) {
        ASSERT_EQ(prog[i], Pattern(i, row)) << "program byte " << i;
    }
    for (size_t i = 0; i < data.size(); ++i) {
        ASSERT_EQ(data[i], Pattern(i, row)) << "data byte " << i;
    }
    EXPECT_EQ(b.port.Flash(), prog);
    EXPECT_EQ(b.port.Eeprom(), data);
    EXPECT_EQ(b.port.Counters().protocolErrors, 0u);
    EXPECT_EQ(b.port.Counters().writesOutsideProgrammingMode, 0u);
}

// The simulator on the real counter: the protocol's waits take real time and
// the target keeps real time too.
TEST(AdapterRealTime, EntersWritesAndReadsOnTheSteadyCounter) {
    CSteadyCounter counter;
    CSimPort port(SimConfigForDevice(kRowAT90S8515), counter);
    CIspAdapter adapter(port, counter);
    adapter.SetPortNames({{kSimPortNumber, kSimPortName}});
    adapter.SelectDevice(8515);
    ASSERT_EQ(adapter.SelectPort(kSimPortNumber), kPortOk);
    ASSERT_EQ(adapter.EnterProgrammingMode(1), kIspOk);
    EXPECT_EQ(adapter.WriteProgramWord(0x7F12, 3), kIspOk);  // 0x7F: the fixed wait
    EXPECT_EQ(adapter.WriteDataByte(0x42, 3), kIspOk);
    uint16_t word = 0;
    adapter.ReadProgramWord(word, 3);
    EXPECT_EQ(word, 0x127F);
    EXPECT_EQ(adapter.LeaveProgrammingMode(), kIspOk);
    EXPECT_EQ(port.Counters().protocolErrors, 0u);
}

INSTANTIATE_TEST_SUITE_P(EveryDevice, AdapterRoundTripTest, ::testing::Range(0, kIspDeviceCount),
                         [](const ::testing::TestParamInfo<int>& info) {
                             std::string name = g_deviceTable[info.param].name;
                             for (char& c : name) {
                                 if (c == '/') {
                                     c = '_';
                                 }
                             }
                             return name;
                         });

}  // namespace
