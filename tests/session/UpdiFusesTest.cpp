// The fuses and the user row of UPDI parts through the operations, on the
// simulated chips: read as the chip holds them, written by name (only the
// fuse named, read back), the cut-off guard, and the user row's round trip.
// A counting programmer between the operations and the UPDI adapter sees
// every fuse write.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ops/OperationHost.h"
#include "ops/Operations.h"
#include "parts/DeviceTable.h"
#include "parts/UpdiFuseFields.h"
#include "sim/SimUpdiParts.h"
#include "sim/SimUpdiTarget.h"
#include "sim/SimUpdiWire.h"
#include "sim/VirtualCounter.h"
#include "updi/UpdiAdapter.h"

namespace {

class CQuietHost : public IOperationHost {
public:
    void AddMessage(const std::string& text) override { m_text += text; }
    void AppendMessage(const std::string& text) override { m_text += text; }
    void SetProgressRange(int) override {}
    void SetProgressPos(int) override {}
    LockTicks& Ticks() override { return m_ticks; }
    bool Says(const std::string& line) const { return m_text.find(line) != std::string::npos; }

    LockTicks m_ticks;
    std::string m_text;
};

// Forwards every call to the adapter and notes each fuse written.
class CCountingProgrammer : public IProgrammer {
public:
    explicit CCountingProgrammer(IProgrammer& inner) : m_inner(inner) {}
    int EnterProgrammingMode(int check) override { return m_inner.EnterProgrammingMode(check); }
    int LeaveProgrammingMode() override { return m_inner.LeaveProgrammingMode(); }
    void SetStopCheck(std::function<bool()> check) override {
        m_inner.SetStopCheck(std::move(check));
    }
    bool PortNotAnswering() const override { return m_inner.PortNotAnswering(); }
    int IdentifyDevice() override { return m_inner.IdentifyDevice(); }
    const DeviceInfo* Device() const override { return m_inner.Device(); }
    int ProgSize() const override { return m_inner.ProgSize(); }
    int DataSize() const override { return m_inner.DataSize(); }
    int ProgPageSize() const override { return m_inner.ProgPageSize(); }
    int BatchLength() const override { return m_inner.BatchLength(); }
    int ReadProgramWord(uint16_t& w, int a) override { return m_inner.ReadProgramWord(w, a); }
    int ReadProgramWords(uint16_t* w, int* s, int a, int n) override {
        return m_inner.ReadProgramWords(w, s, a, n);
    }
    int WriteProgramWord(uint16_t w, int a) override { return m_inner.WriteProgramWord(w, a); }
    int WriteProgramPage(const uint8_t* p, int a, int& f) override {
        return m_inner.WriteProgramPage(p, a, f);
    }
    int ReadDataByte(uint8_t& v, int a) override { return m_inner.ReadDataByte(v, a); }
    int ReadDataBytes(uint8_t* v, int* s, int a, int n) override {
        return m_inner.ReadDataBytes(v, s, a, n);
    }
    int WriteDataByte(uint8_t v, int a) override { return m_inner.WriteDataByte(v, a); }
    int ReadLockBits(int& a, int& b, int& c, int& d) override {
        return m_inner.ReadLockBits(a, b, c, d);
    }
    int WriteLockBits(int a, int b, int c) override { return m_inner.WriteLockBits(a, b, c); }
    int ReadLockByte(uint8_t& l, uint8_t& r) override { return m_inner.ReadLockByte(l, r); }
    int WriteLockByte(uint8_t l) override { return m_inner.WriteLockByte(l); }
    int ReadFuseByte(uint8_t f, uint8_t& v) override { return m_inner.ReadFuseByte(f, v); }
    int WriteFuseByte(uint8_t f, uint8_t v) override { return m_inner.WriteFuseByte(f, v); }
    int ReadFuseAt(size_t i, uint8_t& v) override { return m_inner.ReadFuseAt(i, v); }
    int WriteFuseAt(size_t i, uint8_t v) override {
        m_fuseWrites.push_back(i);
        return m_inner.WriteFuseAt(i, v);
    }
    int ReadUserRow(uint8_t* d, size_t o, size_t n) override {
        return m_inner.ReadUserRow(d, o, n);
    }
    int WriteUserRow(const uint8_t* d, size_t o, size_t n) override {
        return m_inner.WriteUserRow(d, o, n);
    }
    int ReadSignatureByte(uint8_t& v, int i) override { return m_inner.ReadSignatureByte(v, i); }
    int ReadCalibrationByte(uint8_t& v) override { return m_inner.ReadCalibrationByte(v); }
    int ChipErase() override { return m_inner.ChipErase(); }

    std::vector<size_t> m_fuseWrites;

private:
    IProgrammer& m_inner;
};

// One simulated chip, its UPDI adapter with the chip's row selected, and the
// operations over the counting programmer.
struct SFuseBench {
    explicit SFuseBench(const char* chip)
        : sim(SimUpdiPartNamed(chip)),
          target(*sim, clock),
          wire(&target, clock, SSimUpdiFaults()),
          adapter(wire),
          counting(adapter),
          ops(counting, images, host) {
        const int row = FindDeviceByName(chip);
        device = &g_deviceTable[row];
        part = device->updiPart;
        adapter.SelectRow(device);
    }
    // The simulated chip's byte of fuse index of the part's layout (the
    // chip's fuse row counts reserved places too).
    uint8_t& SimFuse(size_t index) {
        return target.Fuses()[part->fuses.fuses[index].address - sim->fuseAddr];
    }
    UpdiFuseBytes SimFuses() {
        UpdiFuseBytes bytes;
        for (size_t i = 0; i < part->fuses.count; ++i) {
            bytes.push_back(SimFuse(i));
        }
        return bytes;
    }
    void SetSimFuses(const UpdiFuseBytes& bytes) {
        for (size_t i = 0; i < bytes.size(); ++i) {
            SimFuse(i) = bytes[i];
        }
    }

    const SSimUpdiPart* sim;
    CVirtualCounter clock;
    CSimUpdiTarget target;
    CSimUpdiWire wire;
    CUpdiAdapter adapter;
    CCountingProgrammer counting;
    MemoryImages images;
    CQuietHost host;
    COperations ops;
    const DeviceInfo* device = nullptr;
    const SUpdiPart* part = nullptr;
};

const char* const kChips[] = {"ATtiny1614", "ATmega4809", "AVR64DD32"};

class UpdiFuseChip : public ::testing::TestWithParam<const char*> {};

// The fuses read are the chip's, in the layout's order: the factory values
// put into the simulated chip come back, with the operation's lines.
TEST_P(UpdiFuseChip, ReadsTheFactoryValues) {
    SFuseBench bench(GetParam());
    UpdiFuseBytes factory;
    ASSERT_TRUE(UpdiFactoryFuses(*bench.part, factory));
    bench.SetSimFuses(factory);
    UpdiFuseBytes read;
    ASSERT_TRUE(bench.ops.ReadUpdiFuses(read)) << bench.host.m_text;
    EXPECT_EQ(read, factory);
    EXPECT_EQ(bench.host.m_text, "Reading device Fuses ...\r\n Read Fuses Complete\r\n");
    EXPECT_TRUE(bench.counting.m_fuseWrites.empty());
}

// The user row: written from its start and read back; verify compares the
// bytes given; a row longer than the part's is refused with nothing written.
TEST_P(UpdiFuseChip, UserRowRoundTrip) {
    SFuseBench bench(GetParam());
    const std::vector<uint8_t> bytes = {0x12, 0x34, 0x56, 0x78};
    ASSERT_TRUE(bench.ops.WriteUserRow(bytes)) << bench.host.m_text;
    EXPECT_TRUE(bench.host.Says(" Write User Row Complete\r\n"));
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), bench.target.UserRow().begin()));
    std::vector<uint8_t> row;
    ASSERT_TRUE(bench.ops.ReadUserRow(row));
    EXPECT_EQ(row.size(), static_cast<size_t>(bench.part->userRowBytes));
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), row.begin()));
    EXPECT_TRUE(bench.ops.VerifyUserRow(bytes));
    EXPECT_FALSE(bench.ops.VerifyUserRow({0x12, 0x35}));
    EXPECT_TRUE(bench.host.Says(" Verify : User Row Error.\r\n"));

    const std::vector<uint8_t> before = bench.target.UserRow();
    EXPECT_FALSE(bench.ops.WriteUserRow(std::vector<uint8_t>(bench.part->userRowBytes + 1, 0)));
    EXPECT_TRUE(bench.host.Says(" User Row : This device has no user row, or not that long."));
    EXPECT_EQ(bench.target.UserRow(), before);
}

// Values the chip no longer holds since they were read: nothing is written.
TEST_P(UpdiFuseChip, NothingWrittenOverValuesChangedSinceTheRead) {
    SFuseBench bench(GetParam());
    UpdiFuseBytes now;
    ASSERT_TRUE(bench.ops.ReadUpdiFuses(now));
    UpdiFuseBytes next = now;
    next[0] = static_cast<uint8_t>(now[0] ^ 0x01);
    bench.SimFuse(0) = static_cast<uint8_t>(now[0] ^ 0x02);
    EXPECT_FALSE(bench.ops.WriteUpdiFuses(next, 1u, false, &now));
    EXPECT_TRUE(bench.host.Says(" Write Fuses : The chip's fuses are not those read"));
    EXPECT_TRUE(bench.counting.m_fuseWrites.empty());
}

INSTANTIATE_TEST_SUITE_P(Chips, UpdiFuseChip, ::testing::ValuesIn(kChips));

struct WriteCase {
    const char* chip;
    const char* from;  // settings made on the factory values first; nullptr: none
    const char* settings;
    bool allowCutOff;
    bool written;      // the chip holds the new value afterwards
    const char* line;  // in the operation's lines
};

class UpdiFuseWrite : public ::testing::TestWithParam<WriteCase> {};

// Settings by name reach one fuse: only that one is written (and only when
// it changes), the others keep their values; the UPDI pin made a port pin
// or RESET is refused without consent, nothing written, the reason in the
// line; the clock and a dedicated UPDI pin need no consent.
TEST_P(UpdiFuseWrite, WritesOnlyTheNamedFuseAndGuardsTheUpdiPin) {
    const WriteCase& c = GetParam();
    SCOPED_TRACE(std::string(c.chip) + " " + c.settings);
    SFuseBench bench(c.chip);
    UpdiFuseBytes factory;
    ASSERT_TRUE(UpdiFactoryFuses(*bench.part, factory));
    uint32_t which = 0;
    std::string error;
    if (c.from != nullptr) {
        ASSERT_TRUE(ApplyUpdiFuseSettings(*bench.part, c.from, factory, which, error)) << error;
    }
    bench.SetSimFuses(factory);

    UpdiFuseBytes next = factory;
    ASSERT_TRUE(ApplyUpdiFuseSettings(*bench.part, c.settings, next, which, error)) << error;
    ASSERT_NE(next, factory);
    EXPECT_EQ(bench.ops.WriteUpdiFuses(next, which, c.allowCutOff, &factory), c.written)
        << bench.host.m_text;
    EXPECT_TRUE(bench.host.Says(c.line)) << bench.host.m_text;
    EXPECT_EQ(bench.SimFuses(), c.written ? next : factory);

    std::vector<size_t> changed;
    for (size_t i = 0; i < next.size(); ++i) {
        if (next[i] != factory[i]) {
            changed.push_back(i);
        }
    }
    EXPECT_EQ(bench.counting.m_fuseWrites, c.written ? changed : std::vector<size_t>());
    if (c.written) {
        EXPECT_TRUE(bench.ops.VerifyUpdiFuses(next, which));
        EXPECT_FALSE(bench.ops.VerifyUpdiFuses(factory, which));
        EXPECT_TRUE(bench.host.Says(" Verify : Fuses Error.\r\n"));
    }
}

constexpr const char* kComplete = " Write Fuses Complete\r\n";

INSTANTIATE_TEST_SUITE_P(
    Table, UpdiFuseWrite,
    ::testing::Values(
        WriteCase{"ATtiny1614", nullptr, "eesave=on", false, true, kComplete},
        WriteCase{"ATtiny1614", nullptr, "freqsel=16mhz", false, true, kComplete},
        WriteCase{"ATtiny1614", nullptr, "bodcfg=0x15,sut=64ms", false, true, kComplete},
        WriteCase{"ATtiny1614", nullptr, "rstpincfg=gpio", false, false,
                  " Write Fuses : Refused, nothing written: RSTPINCFG set to GPIO: the UPDI pin "
                  "becomes a port pin"},
        WriteCase{"ATtiny1614", nullptr, "rstpincfg=rst", false, false,
                  "Refused, nothing written: RSTPINCFG set to RST"},
        WriteCase{"ATtiny1614", nullptr, "rstpincfg=gpio", true, true, kComplete},
        WriteCase{"ATmega4809", "rstpincfg=rst", "rstpincfg=gpio", false, true, kComplete},
        WriteCase{"ATmega4809", nullptr, "freqsel=16mhz,eesave=on", false, true, kComplete},
        WriteCase{"AVR64DD32", nullptr, "updipincfg=gpio", false, false,
                  " Write Fuses : Refused, nothing written: UPDIPINCFG set to GPIO"},
        WriteCase{"AVR64DD32", nullptr, "updipincfg=gpio", true, true, kComplete},
        WriteCase{"AVR64DD32", nullptr, "clksel=osc32k", false, true, kComplete},
        WriteCase{"AVR64DD32", nullptr, "eesave=on", false, true, kComplete}));

}  // namespace
