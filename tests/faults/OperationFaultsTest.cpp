// Faults in the middle of every operation: the port stops answering after
// the N-th line call (an adapter pulled out), the target stops answering
// after N instructions (MISO stuck low), or the chip erase fails. N is taken
// from a healthy run of the same operation, early, in the middle and late in
// each of its parts, and inside the leave of programming mode. Whatever
// happens, each part posts its heading and its own lines, never a completion
// line once the fault has struck what it needs, leaves programming mode
// exactly once at its end, and the operation ends in bounded time. A port
// that stopped answering is said to have done so, in place of the part's own
// error, and the parts after it are not begun.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "FaultBench.h"
#include "parts/DeviceTable.h"
#include "tests/support/SimForDevice.h"

namespace {

const int kDeviceRow = FindDeviceByName(
    "AT90S2323");  // AT90S2323: small memories (2048 and 128 bytes), lock read, FSTRT
// A write that is done by the first poll keeps the runs short; the write
// path is the same.
constexpr int64_t kQuickWriteUs = 300;

// The lock byte the target answers: 1 = unprogrammed.
constexpr uint8_t kLockBit1Bit = 0x80;
constexpr uint8_t kLockBit2Bit = 0x40;
constexpr uint8_t kFstrtBit = 0x01;
constexpr uint8_t kReadFill = 0x5A;  // an image a read must replace
constexpr uint8_t kErased = 0xFF;

// A faulted run may take longer than a healthy one (polls run out, the 32
// synchronisation attempts), but never without end.
constexpr uint64_t kSlackLineCalls = 200000;
constexpr int64_t kSlackNs = 2000000000;

// ---- What each part of an operation may post ----

enum class Part {
    WriteProg,
    WriteData,
    WriteLock,
    ReadProg,
    ReadData,
    ReadLock,
    VerifyProg,
    VerifyData,
    VerifyLock,
    EraseAll,
    EraseProg,
    EraseData,
};

constexpr char kAddress[] = "%04x";
constexpr size_t kAddressLength = sizeof(kAddress) - 1;
constexpr char kEraseError[] = " Erase : Error\r\n";

struct PartLines {
    std::string heading;
    std::string initError;
    std::string complete;
    std::vector<std::string> errors;  // "%04x" stands for the byte address
    // Every path to its completion line ends with a read the target has to
    // answer, so a target gone silent during the part cannot complete it.
    bool readsLast;
};

const PartLines& LinesOf(Part part) {
    static const PartLines kWriteProg{"Writing PROG to device ...\r\n",
                                      " Write : Initialisation Error\r\n",
                                      " Writing : Complete\r\n",
                                      {" Write : Error at address %04x.\r\n"},
                                      true};
    static const PartLines kWriteData{"Writing Data to device ...\r\n",
                                      " Write Data: Initialisation Error\r\n",
                                      " Writing Data: Complete\r\n",
                                      {" Write Data : Error at address %04x.\r\n"},
                                      true};
    static const PartLines kWriteLock{"Writing device LockBit ...\r\n",
                                      " Write : Initialisation Error\r\n",
                                      " Write LockBit Complete\r\n",
                                      {" Write LockBit : Error.\r\n"},
                                      false};
    static const PartLines kReadProg{"Reading PROG device ...\r\n",
                                     " Read : Initialisation Error\r\n",
                                     " Reading : Complete\r\n",
                                     {" Read : Error at address %04x.\r\n"},
                                     true};
    static const PartLines kReadData{"Reading DATA device ...\r\n",
                                     " Read : Initialisation Error\r\n",
                                     " Reading : Complete\r\n",
                                     {" Read : Error at address %04x.\r\n"},
                                     true};
    static const PartLines kReadLock{"Reading device LockBit ...\r\n",
                                     " Read : Initialisation Error\r\n",
                                     " Read LockBit Complete\r\n",
                                     {" Read LockBit : Error.\r\n"},
                                     true};
    static const PartLines kVerifyProg{
        "Verifing PROG device ...\r\n",
        " Verify : Initialisation Error\r\n",
        " Verify : Complete\r\n",
        {" Verify : Read Error at address %04x.\r\n", " Verify : Error at address %04x.\r\n"},
        true};
    static const PartLines kVerifyData{
        "Verifing device DATA ...\r\n",
        " Verify : Initialisation Error\r\n",
        " Verify : Complete\r\n",
        {" Read : Read Error at address %04x.\r\n", " Verify : Error at address %04x.\r\n"},
        true};
    static const PartLines kVerifyLock{
        "Verifing device LockBit ...\r\n",
        " Read : Initialisation Error\r\n",
        " Verify : Complete\r\n",
        {" Verify : Read LockBit Error.\r\n", " Verify : LockBit Error.\r\n"},
        true};
    static const PartLines kEraseAll{"Erasing ...\r\n",
                                     " Erase : Initialisation Error\r\n",
                                     " Erase : Complete\r\n",
                                     {kEraseError},
                                     false};
    static const PartLines kEraseProg{
        "Erasing PROG device ...\r\n",
        " Erase : Initialisation Error\r\n",
        " Erase : Complete\r\n",
        {" Erase : Read Data Error at address %04x.\r\n", " Erase : Read LockBit Error.\r\n",
         kEraseError, " Erase Prog : ReWrite Data Error at address %04x.\r\n",
         " Erase : ReWrite LockBit : Error.\r\n"},
        false};
    static const PartLines kEraseData{
        "Erasing device Data ...\r\n",
        " Erase : Initialisation Error\r\n",
        " Erase : Complete\r\n",
        {" Erase : Read Error at address %04x.\r\n", " Erase : Read LockBit Error.\r\n",
         kEraseError, " Erase : ReWrite Error at address %04x.\r\n",
         " Erase : ReWrite LockBit : Error.\r\n"},
        false};
    switch (part) {
        case Part::WriteProg:
            return kWriteProg;
        case Part::WriteData:
            return kWriteData;
        case Part::WriteLock:
            return kWriteLock;
        case Part::ReadProg:
            return kReadProg;
        case Part::ReadData:
            return kReadData;
        case Part::ReadLock:
            return kReadLock;
        case Part::VerifyProg:
            return kVerifyProg;
        case Part::VerifyData:
            return kVerifyData;
        case Part::VerifyLock:
            return kVerifyLock;
        case Part::EraseAll:
            return kEraseAll;
        case Part::EraseProg:
            return kEraseProg;
        case Part::EraseData:
            break;
    }
    return kEraseData;
}

// The line of a part that lost its port; the bench's port has no label.
bool IsPortLine(const std::string& line, int& address) {
    const std::string gone = " stopped answering";
    const size_t at = line.find(" : The port" + gone);
    address = -1;
    if (at == std::string::npos) {
        return false;
    }
    const std::string rest = line.substr(at + std::string(" : The port").size() + gone.size());
    if (rest == ".\r\n") {
        return true;
    }
    constexpr char kAt[] = " at address ";
    if (rest.compare(0, sizeof(kAt) - 1, kAt) != 0) {
        return false;
    }
    address = static_cast<int>(std::strtol(rest.c_str() + sizeof(kAt) - 1, nullptr, 16));
    return true;
}

// Whether line is pattern with a byte address in place of "%04x" (at least
// four lower-case hexadecimal digits); the address goes to address.
bool Matches(const std::string& line, const std::string& pattern, int& address) {
    address = -1;
    const size_t at = pattern.find(kAddress);
    if (at == std::string::npos) {
        return line == pattern;
    }
    const std::string prefix = pattern.substr(0, at);
    const std::string suffix = pattern.substr(at + kAddressLength);
    if (line.size() < prefix.size() + kAddressLength + suffix.size() ||
        line.compare(0, prefix.size(), prefix) != 0 ||
        line.compare(line.size() - suffix.size(), suffix.size(), suffix) != 0) {
        return false;
    }
    const std::string digits =
        line.substr(prefix.size(), line.size() - prefix.size() - suffix.size());
    for (char c : digits) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
            return false;
        }
    }
    address = static_cast<int>(std::strtol(digits.c_str(), nullptr, 16));
    return true;
}

// ---- The fifteen operations ----

struct OpCase {
    const char* name;
    bool (COperations::*run)();
    std::vector<Part> parts;
};

const std::vector<OpCase>& Operations() {
    static const std::vector<OpCase> kOps = {
        {"WriteAll", &COperations::WriteAll, {Part::WriteProg, Part::WriteData, Part::WriteLock}},
        {"WriteProg", &COperations::WriteProg, {Part::WriteProg}},
        {"WriteData", &COperations::WriteData, {Part::WriteData}},
        {"WriteLock", &COperations::WriteLock, {Part::WriteLock}},
        {"ReadAll", &COperations::ReadAll, {Part::ReadProg, Part::ReadData, Part::ReadLock}},
        {"ReadProg", &COperations::ReadProg, {Part::ReadProg}},
        {"ReadData", &COperations::ReadData, {Part::ReadData}},
        {"ReadLock", &COperations::ReadLock, {Part::ReadLock}},
        {"VerifyAll",
         &COperations::VerifyAll,
         {Part::VerifyProg, Part::VerifyData, Part::VerifyLock}},
        {"VerifyProg", &COperations::VerifyProg, {Part::VerifyProg}},
        {"VerifyData", &COperations::VerifyData, {Part::VerifyData}},
        {"VerifyLock", &COperations::VerifyLock, {Part::VerifyLock}},
        {"EraseAll", &COperations::EraseAll, {Part::EraseAll}},
        {"EraseProg", &COperations::EraseProg, {Part::EraseProg}},
        {"EraseData", &COperations::EraseData, {Part::EraseData}},
    };
    return kOps;
}

enum class Fault { None, PortDies, MisoStuck, EraseFails };

const char* FaultName(Fault fault) {
    switch (fault) {
        case Fault::None:
            return "None";
        case Fault::PortDies:
            return "PortDies";
        case Fault::MisoStuck:
            return "MisoStuck";
        case Fault::EraseFails:
            break;
    }
    return "EraseFails";
}

// ---- The chip and the window before the operation ----

struct Chip {
    std::vector<uint8_t> flash;
    std::vector<uint8_t> eeprom;
    uint8_t lock = 0;
};

Chip ChipOf(const CSimPort& sim) {
    return {sim.Flash(), sim.Eeprom(), sim.LockByte()};
}

void FillRandom(std::vector<uint8_t>& bytes, uint32_t seed, bool someErased) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> byte(0, kErased);
    for (uint8_t& b : bytes) {
        b = static_cast<uint8_t>(byte(random));
        if (someErased && (b & 1) != 0) {
            b = kErased;  // about half the bytes: the skip of erased bytes is taken too
        }
    }
}

// Writes start from a blank chip, so that every byte can take its value;
// the others from a chip with content of its own. Verifies get images equal
// to the chip, so that any difference they report is false.
void Prepare(CFaultBench& bench, const OpCase& op) {
    CSimPort& sim = bench.sim;
    MemoryImages& images = bench.images;
    LockTicks ticks;
    switch (op.parts.front()) {
        case Part::WriteProg:
        case Part::WriteData:
        case Part::WriteLock:
            FillRandom(images.m_progImage, 1, true);
            FillRandom(images.m_dataImage, 2, true);
            ticks.m_bLockBit2 = 1;
            ticks.m_bFstrt = 1;
            break;
        case Part::VerifyProg:
        case Part::VerifyData:
        case Part::VerifyLock:
            FillRandom(sim.Flash(), 3, false);
            FillRandom(sim.Eeprom(), 4, false);
            sim.SetLockBits(1, 0, 0);
            images.m_progImage = sim.Flash();
            images.m_dataImage = sim.Eeprom();
            ticks.m_bLockBit2 = 1;
            ticks.m_bFstrt = 1;
            break;
        case Part::ReadProg:
        case Part::ReadData:
        case Part::ReadLock:
            FillRandom(sim.Flash(), 5, false);
            FillRandom(sim.Eeprom(), 6, false);
            sim.SetLockBits(1, 0, 0);
            images.m_progImage.assign(images.m_progImage.size(), kReadFill);
            images.m_dataImage.assign(images.m_dataImage.size(), kReadFill);
            break;
        default:
            FillRandom(sim.Flash(), 7, false);
            FillRandom(sim.Eeprom(), 8, false);
            sim.SetLockBits(1, 0, 0);
            FillRandom(images.m_progImage, 9, false);
            FillRandom(images.m_dataImage, 10, false);
            break;
    }
    bench.host.screenTicks = ticks;
    bench.host.ticks = ticks;
}

// ---- One run ----

struct FaultCase {
    Fault fault = Fault::None;
    int64_t n = -1;  // the line call or instruction count it starts at
};

struct OpRun {
    std::unique_ptr<CFaultBench> bench;
    Chip before;
    LockTicks ticksBefore;
    bool result = false;
};

OpRun RunOperation(const OpCase& op, const FaultCase& injected) {
    SimConfig config = SimConfigForDevice(kDeviceRow);
    config.writeTimeUs = kQuickWriteUs;
    OpRun run;
    run.bench = std::make_unique<CFaultBench>(kDeviceRow, config);
    CFaultBench& bench = *run.bench;
    Prepare(bench, op);
    run.before = ChipOf(bench.sim);
    run.ticksBefore = bench.host.ticks;
    // Nothing has touched the lines yet: the counts start at 0.
    SimConfig& live = bench.sim.Config();
    switch (injected.fault) {
        case Fault::PortDies:
            live.failAfterLineOps = injected.n;
            break;
        case Fault::MisoStuck:
            live.misoStuckAfterInstructions = injected.n;
            break;
        case Fault::EraseFails:
            live.eraseFails = true;
            break;
        case Fault::None:
            break;
    }
    run.result = (bench.ops.*op.run)();
    return run;
}

// One part as the log shows it.
struct PartRun {
    size_t heading = 0;  // event index of the heading
    size_t last = 0;     // of its last message (line or scroll)
    size_t end = 0;      // one past its last event
    std::vector<std::string> lines;
};

std::vector<PartRun> SplitParts(const std::vector<FaultEvent>& events) {
    std::vector<PartRun> parts;
    for (size_t i = 0; i < events.size(); ++i) {
        const FaultEvent& e = events[i];
        if (e.kind == FaultEvent::Kind::Heading) {
            if (!parts.empty()) {
                parts.back().end = i;
            }
            parts.push_back({i, i, events.size(), {}});
            continue;
        }
        if (parts.empty()) {
            ADD_FAILURE() << "the port was used before the first heading";
            continue;
        }
        if (e.kind == FaultEvent::Kind::Line) {
            parts.back().lines.push_back(e.text);
            parts.back().last = i;
        } else if (e.kind == FaultEvent::Kind::Scroll) {
            parts.back().last = i;
        }
    }
    return parts;
}

std::vector<const FaultEvent*> CallsBetween(const std::vector<FaultEvent>& events, size_t from,
                                            size_t to) {
    std::vector<const FaultEvent*> calls;
    for (size_t i = from; i < to && i < events.size(); ++i) {
        if (events[i].kind == FaultEvent::Kind::Call) {
            calls.push_back(&events[i]);
        }
    }
    return calls;
}

// After its last message the part leaves programming mode once: SCK low,
// RESET asserted, RESET released, stopping at the first call that fails.
void ExpectOneLeave(const std::vector<const FaultEvent*>& calls) {
    static const LineCall kLeave[] = {LineCall::ClrRts, LineCall::SetBreak, LineCall::ClearBreak};
    constexpr size_t kLeaveCalls = sizeof(kLeave) / sizeof(kLeave[0]);
    ASSERT_FALSE(calls.empty()) << "programming mode is not left";
    for (size_t i = 0; i < calls.size(); ++i) {
        ASSERT_LT(i, kLeaveCalls) << "more on the lines than one leave";
        EXPECT_EQ(calls[i]->call, kLeave[i]) << "call " << i << " of the leave";
        if (!calls[i]->ok) {
            EXPECT_EQ(i + 1, calls.size()) << "the leave goes on after a failed call";
            return;
        }
    }
    EXPECT_EQ(calls.size(), kLeaveCalls) << "the leave stops short";
}

// Before its result the part never lets the target go: RESET released is
// always followed by RESET asserted again (the reset pulse).
void ExpectNoReleaseBefore(const std::vector<const FaultEvent*>& calls) {
    for (size_t i = 0; i < calls.size(); ++i) {
        if (calls[i]->call == LineCall::ClearBreak && calls[i]->ok) {
            EXPECT_TRUE(i + 1 < calls.size() && calls[i + 1]->call == LineCall::SetBreak)
                << "programming mode left before the result line";
        }
    }
}

bool AllErased(const std::vector<uint8_t>& bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == kErased; });
}

bool SamePrefix(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int length) {
    const size_t n = static_cast<size_t>(std::max(length, 0));
    return a.size() >= n && b.size() >= n && std::equal(a.begin(), a.begin() + n, b.begin());
}

uint8_t LockByteOfTicks(const LockTicks& t) {
    return static_cast<uint8_t>((t.m_bLockBit1 != 0 ? 0 : kLockBit1Bit) |
                                (t.m_bLockBit2 != 0 ? 0 : kLockBit2Bit) |
                                (t.m_bFstrt != 0 ? 0 : kFstrtBit));
}

constexpr uint8_t kLockBits = kLockBit1Bit | kLockBit2Bit | kFstrtBit;

constexpr int kProgUnit = 2;  // bytes per program word

// An image read up to a failure: the device's bytes before it, zeros from it
// on. The last doubtful bytes before it may hold a unit whose final bits the
// target never sent: it went silent inside that read's data byte, which only
// the next read's echo shows.
void ExpectPartlyRead(const std::vector<uint8_t>& image, const std::vector<uint8_t>& chip,
                      int failedAt, int doubtful) {
    EXPECT_TRUE(SamePrefix(image, chip, failedAt - doubtful)) << "bytes read before are wrong";
    const auto from = static_cast<size_t>(std::max(failedAt, 0));
    EXPECT_TRUE(from <= image.size() &&
                std::all_of(image.begin() + from, image.end(), [](uint8_t v) { return v == 0; }))
        << "bytes from the failing address on are not 0";
}

// What each line claims must be so on the chip and in the window. doubtful:
// units before a failing read that may be cut short (target gone silent).
void ExpectLinesTrue(Part part, const std::vector<std::string>& lines, const OpRun& run,
                     int doubtful) {
    const CFaultBench& b = *run.bench;
    const Chip now = ChipOf(b.sim);
    const Chip& before = run.before;
    const std::string& last = lines.back();
    const bool complete = last == LinesOf(part).complete;
    int at = -1;
    if (IsPortLine(last, at)) {
        // What was done before the address the line names is done.
        if (part == Part::WriteProg && at >= 0) {
            EXPECT_TRUE(SamePrefix(now.flash, b.images.m_progImage, at));
        } else if (part == Part::WriteData && at >= 0) {
            EXPECT_TRUE(SamePrefix(now.eeprom, b.images.m_dataImage, at));
        }
        return;
    }
    switch (part) {
        case Part::WriteProg:
            if (complete) {
                EXPECT_EQ(now.flash, b.images.m_progImage) << "completion without the data";
            } else if (Matches(last, " Write : Error at address %04x.\r\n", at)) {
                EXPECT_TRUE(SamePrefix(now.flash, b.images.m_progImage, at))
                    << "words before the failing one are not written";
            }
            break;
        case Part::WriteData:
            if (complete) {
                EXPECT_EQ(now.eeprom, b.images.m_dataImage) << "completion without the data";
            } else if (Matches(last, " Write Data : Error at address %04x.\r\n", at)) {
                EXPECT_TRUE(SamePrefix(now.eeprom, b.images.m_dataImage, at));
            }
            break;
        case Part::WriteLock:
            if (complete) {
                EXPECT_EQ(now.lock & kLockBits, LockByteOfTicks(run.ticksBefore))
                    << "completion without the lock bits";
            }
            break;
        case Part::ReadProg:
            if (complete) {
                EXPECT_EQ(b.images.m_progImage, now.flash) << "completion without the data";
                EXPECT_TRUE(b.host.progLoaded);
            } else {
                EXPECT_FALSE(b.host.progLoaded) << "a failed read marks the image loaded";
                if (Matches(last, " Read : Error at address %04x.\r\n", at)) {
                    ExpectPartlyRead(b.images.m_progImage, now.flash, at, kProgUnit * doubtful);
                }
            }
            break;
        case Part::ReadData:
            if (complete) {
                EXPECT_EQ(b.images.m_dataImage, now.eeprom) << "completion without the data";
                EXPECT_TRUE(b.host.dataLoaded);
            } else {
                EXPECT_FALSE(b.host.dataLoaded) << "a failed read marks the image loaded";
                if (Matches(last, " Read : Error at address %04x.\r\n", at)) {
                    ExpectPartlyRead(b.images.m_dataImage, now.eeprom, at, doubtful);
                }
            }
            break;
        case Part::ReadLock:
            if (complete) {
                EXPECT_EQ(LockByteOfTicks(b.host.ticks), now.lock & kLockBits);
                EXPECT_EQ(b.host.ticks.m_bSpien, 1);
            } else {
                EXPECT_EQ(LockByteOfTicks(b.host.ticks), LockByteOfTicks(run.ticksBefore))
                    << "boxes changed by a failed read";
            }
            break;
        case Part::VerifyProg:
        case Part::VerifyData:
            // The images equal the chip: a difference can only be made up.
            EXPECT_FALSE(Matches(last, " Verify : Error at address %04x.\r\n", at))
                << "a difference reported where there is none";
            break;
        case Part::VerifyLock:
            EXPECT_NE(last, " Verify : LockBit Error.\r\n")
                << "a difference reported where there is none";
            break;
        case Part::EraseAll:
            if (complete) {
                EXPECT_TRUE(AllErased(now.flash) && AllErased(now.eeprom));
                // The lock bits are erased; FSTRT, a fuse, stays as it was.
                constexpr uint8_t kErasedLockBits = kLockBit1Bit | kLockBit2Bit;
                EXPECT_EQ(now.lock & kErasedLockBits, kErasedLockBits);
                EXPECT_EQ(now.lock & kFstrtBit, before.lock & kFstrtBit);
            } else if (last != kEraseError) {
                EXPECT_EQ(now.flash, before.flash) << "erased after a failed entry";
            }
            break;
        case Part::EraseProg:
        case Part::EraseData: {
            const bool prog = part == Part::EraseProg;
            const std::vector<uint8_t>& kept = prog ? now.eeprom : now.flash;
            const std::vector<uint8_t>& keptBefore = prog ? before.eeprom : before.flash;
            const std::vector<uint8_t>& erased = prog ? now.flash : now.eeprom;
            const char* saveFailed = prog ? " Erase : Read Data Error at address %04x.\r\n"
                                          : " Erase : Read Error at address %04x.\r\n";
            const char* restoreFailed =
                prog ? " Erase Prog : ReWrite Data Error at address %04x.\r\n"
                     : " Erase : ReWrite Error at address %04x.\r\n";
            const bool erasedFirst = lines.front() == kEraseError;
            if (complete) {
                EXPECT_TRUE(AllErased(erased));
                EXPECT_EQ(kept, keptBefore) << "the kept memory is lost";
                EXPECT_EQ(now.lock, before.lock) << "the lock bits are lost";
            } else if (Matches(last, restoreFailed, at)) {
                EXPECT_TRUE(SamePrefix(kept, keptBefore, at));
            } else if (last == " Erase : ReWrite LockBit : Error.\r\n" || erasedFirst) {
                // Only the lock bits, or nothing of the kept memory, failed.
                EXPECT_EQ(kept, keptBefore) << "the kept memory is lost";
                if (erasedFirst && lines.size() == 1) {
                    EXPECT_EQ(now.lock, before.lock) << "the lock bits are lost";
                }
            } else if (Matches(last, saveFailed, at) ||
                       last == " Erase : Read LockBit Error.\r\n" ||
                       last == LinesOf(part).initError) {
                EXPECT_EQ(now.flash, before.flash) << "erased although it stopped before";
                EXPECT_EQ(now.eeprom, before.eeprom) << "erased although it stopped before";
                EXPECT_EQ(now.lock, before.lock);
            }
            break;
        }
    }
}

// When the fault struck, as far as one part is concerned.
struct Strike {
    bool beforePart = false;  // the part began with the fault already there
    bool duringPart = false;  // it hit something the part needed before its result
};

Strike StrikeOf(const FaultCase& injected, Part part, const std::vector<FaultEvent>& events,
                const PartRun& run) {
    Strike strike;
    const FaultEvent& heading = events[run.heading];
    const FaultEvent& last = events[run.last];
    switch (injected.fault) {
        case Fault::PortDies:
            for (size_t i = 0; i < run.last; ++i) {
                if (events[i].kind == FaultEvent::Kind::Call && !events[i].ok) {
                    (i < run.heading ? strike.beforePart : strike.duringPart) = true;
                }
            }
            break;
        case Fault::MisoStuck: {
            const auto n = static_cast<uint64_t>(injected.n);
            strike.beforePart = n <= heading.instructions;
            strike.duringPart = n < last.instructions && LinesOf(part).readsLast;
            break;
        }
        case Fault::EraseFails:
            strike.duringPart =
                part == Part::EraseAll || part == Part::EraseProg || part == Part::EraseData;
            break;
        case Fault::None:
            break;
    }
    return strike;
}

std::string Describe(const PartRun& part) {
    std::string text;
    for (const std::string& line : part.lines) {
        text += "[" + line.substr(0, line.size() - 2) + "]";
    }
    return text;
}

// Every check of one run; gives the parts for the caller's own use.
std::vector<PartRun> CheckRun(const OpCase& op, const FaultCase& injected, const OpRun& run) {
    const std::vector<FaultEvent>& events = run.bench->log.Events();
    const std::vector<PartRun> parts = SplitParts(events);
    // Each part runs whatever the one before gave, unless the port stopped
    // answering in it.
    size_t expectedParts = op.parts.size();
    for (size_t p = 0; p < parts.size(); ++p) {
        int at = -1;
        if (!parts[p].lines.empty() && IsPortLine(parts[p].lines.back(), at)) {
            expectedParts = std::min(expectedParts, p + 1);
        }
    }
    EXPECT_EQ(parts.size(), expectedParts) << "the parts that run";
    bool allComplete = parts.size() == op.parts.size();
    for (size_t p = 0; p < parts.size() && p < op.parts.size(); ++p) {
        const PartRun& part = parts[p];
        const PartLines& lines = LinesOf(op.parts[p]);
        SCOPED_TRACE("part " + std::to_string(p) + ": " + Describe(part));
        EXPECT_EQ(events[part.heading].text, lines.heading);
        if (part.lines.empty()) {
            ADD_FAILURE() << "no result line";
            allComplete = false;
            continue;
        }
        // Only its own lines.
        for (const std::string& line : part.lines) {
            int at = -1;
            bool known = line == lines.complete || line == lines.initError ||
                         (injected.fault == Fault::PortDies && IsPortLine(line, at));
            for (const std::string& error : lines.errors) {
                known = known || Matches(line, error, at);
            }
            EXPECT_TRUE(known) << "not a line of this part: " << line;
        }
        // One result line; an erase that keeps a memory may say first that
        // the chip erase failed.
        const bool erasedFirst = part.lines.front() == kEraseError &&
                                 (op.parts[p] == Part::EraseProg || op.parts[p] == Part::EraseData);
        EXPECT_TRUE(part.lines.size() == 1 || (part.lines.size() == 2 && erasedFirst));
        const bool complete = part.lines.back() == lines.complete;
        EXPECT_FALSE(complete && part.lines.size() > 1) << "completion after an error line";
        allComplete = allComplete && complete;

        const Strike strike = StrikeOf(injected, op.parts[p], events, part);
        int portAt = -1;
        if (strike.beforePart && injected.fault == Fault::PortDies) {
            EXPECT_TRUE(part.lines.size() == 1 && IsPortLine(part.lines.front(), portAt))
                << "a dead port is not said to be one";
        } else if (strike.beforePart) {
            EXPECT_EQ(part.lines, std::vector<std::string>{lines.initError});
        }
        if (strike.duringPart && injected.fault == Fault::PortDies) {
            EXPECT_TRUE(IsPortLine(part.lines.back(), portAt))
                << "a dead port is not said to be one";
        }
        if (strike.duringPart) {
            EXPECT_FALSE(complete) << "completion line after the fault";
        }
        ExpectLinesTrue(op.parts[p], part.lines, run, injected.fault == Fault::MisoStuck ? 1 : 0);
        ExpectNoReleaseBefore(CallsBetween(events, part.heading, part.last));
        ExpectOneLeave(CallsBetween(events, part.last, part.end));
    }
    EXPECT_EQ(run.result, allComplete) << "the operation's own result disagrees with its lines";
    return parts;
}

// The line call and instruction counts where a fault is injected, spread
// over every part: its first, early, middle, late and last before the
// result, and (for the port) each call of the leave.
std::vector<int64_t> InjectionPoints(Fault fault, const std::vector<FaultEvent>& events,
                                     const std::vector<PartRun>& parts) {
    std::set<int64_t> points;
    for (const PartRun& part : parts) {
        const FaultEvent& heading = events[part.heading];
        const FaultEvent& last = events[part.last];
        if (fault == Fault::PortDies) {
            // Call k (from 1) fails when failAfterLineOps is k.
            const auto first = static_cast<int64_t>(heading.lineCalls) + 1;
            const auto result = static_cast<int64_t>(last.lineCalls);
            const int64_t span = result - first;
            for (int64_t p : {first, first + span / 10, first + span / 2, first + span * 9 / 10,
                              result, result + 1, result + 2, result + 3}) {
                points.insert(p);
            }
        } else {
            // Instruction k (from 1) is the first unanswered one when
            // misoStuckAfterInstructions is k - 1.
            const auto first = static_cast<int64_t>(heading.instructions);
            const auto lastOne = static_cast<int64_t>(last.instructions) - 1;
            const int64_t span = lastOne - first;
            for (int64_t p :
                 {first, first + span / 10, first + span / 2, first + span * 9 / 10, lastOne}) {
                points.insert(std::max(p, first));
            }
        }
    }
    return {points.begin(), points.end()};
}

// After the fault is gone (adapter plugged back, target answering, erase
// working), the same adapter serves the next operation as if nothing had
// happened: nothing of the failed one is left behind.
void ExpectUsableAfterwards(CFaultBench& bench) {
    SimConfig& live = bench.sim.Config();
    live.failAfterLineOps = -1;
    live.misoStuckAfterInstructions = -1;
    live.eraseFails = false;
    bench.log.Clear();
    EXPECT_TRUE(bench.ops.ReadLock()) << "the adapter does not recover";
    EXPECT_FALSE(bench.sim.InProgrammingMode());
    EXPECT_FALSE(bench.sim.Break()) << "RESET left asserted";
}

using Param = std::tuple<size_t, Fault>;

class OperationFaultTest : public ::testing::TestWithParam<Param> {};

TEST_P(OperationFaultTest, EndsWithItsOwnErrorAndLeavesOnce) {
    const OpCase& op = Operations()[std::get<0>(GetParam())];
    const Fault fault = std::get<1>(GetParam());

    // A healthy run first: every part completes; its counts place the faults.
    const OpRun healthy = RunOperation(op, {});
    std::vector<PartRun> parts;
    {
        SCOPED_TRACE("healthy run");
        parts = CheckRun(op, {}, healthy);
        ASSERT_TRUE(healthy.result) << "the healthy run must complete";
        ASSERT_EQ(healthy.bench->sim.Counters().protocolErrors, 0u);
    }
    const uint64_t callBound = 2 * healthy.bench->log.LineCalls() + kSlackLineCalls;
    const int64_t timeBound = 2 * healthy.bench->counter.Now() + kSlackNs;

    std::vector<int64_t> points = {-1};
    if (fault != Fault::EraseFails) {
        points = InjectionPoints(fault, healthy.bench->log.Events(), parts);
    }
    for (const int64_t n : points) {
        const FaultCase injected{fault, n};
        SCOPED_TRACE(std::string(op.name) + " with " + FaultName(fault) +
                     " at N = " + std::to_string(n));
        OpRun run = RunOperation(op, injected);
        const std::vector<PartRun> faulted = CheckRun(op, injected, run);
        if (fault == Fault::EraseFails) {
            // Only the erases notice; the two that keep a memory give it
            // back and say no more than that the erase failed.
            const Part first = op.parts.front();
            const bool erases =
                first == Part::EraseAll || first == Part::EraseProg || first == Part::EraseData;
            EXPECT_EQ(run.result, !erases);
            if (erases && !faulted.empty()) {
                EXPECT_EQ(faulted.front().lines, std::vector<std::string>{kEraseError});
            }
        }
        EXPECT_LE(run.bench->log.LineCalls(), callBound) << "no end to the line calls";
        EXPECT_LE(run.bench->counter.Now(), timeBound) << "no end to the waits";
        ExpectUsableAfterwards(*run.bench);
    }
}

std::string ParamName(const ::testing::TestParamInfo<Param>& info) {
    return std::string(Operations()[std::get<0>(info.param)].name) + "_" +
           FaultName(std::get<1>(info.param));
}

INSTANTIATE_TEST_SUITE_P(EveryOperation, OperationFaultTest,
                         ::testing::Combine(::testing::Range<size_t>(0, Operations().size()),
                                            ::testing::Values(Fault::PortDies, Fault::MisoStuck,
                                                              Fault::EraseFails)),
                         ParamName);

}  // namespace
