// Erase and verified write of a random image filling the chip, over the
// simulated UPDI wire. The modelled time is what the wire costs on a USB
// serial cable: bytes x 12 bits / baud, plus 1 ms for each turnaround.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "sim/SimUpdiTarget.h"
#include "sim/SimUpdiWire.h"
#include "sim/VirtualCounter.h"
#include "updi/UpdiProgrammer.h"

namespace {

constexpr double kBitsPerByte = 12.0;
constexpr double kTurnaroundSeconds = 0.001;

void EraseWriteVerify(benchmark::State& state, const char* partName) {
    const uint32_t baud = static_cast<uint32_t>(state.range(0));
    const SSimUpdiPart* part = SimUpdiPartNamed(partName);
    std::mt19937 random(1);
    std::vector<uint8_t> image(part->flashBytes);
    for (uint8_t& b : image) {
        b = static_cast<uint8_t>(random());
    }
    double modelled = 0;
    for (auto _ : state) {
        CVirtualCounter clock;
        CSimUpdiTarget target(*part, clock);
        CSimUpdiWire wire(&target, clock);
        CUpdiProgrammer programmer(wire);
        std::vector<uint8_t> back(image.size());
        const bool ok =
            programmer.Enter(baud) == kUpdiOk && programmer.ChipErase() == kUpdiOk &&
            programmer.WriteMemory(EUpdiMemory::kFlash, 0, image.data(), image.size()) == kUpdiOk &&
            programmer.ReadMemory(EUpdiMemory::kFlash, 0, back.data(), back.size()) == kUpdiOk &&
            back == image && programmer.Leave() == kUpdiOk;
        if (!ok) {
            state.SkipWithError("erase, write or verify failed");
            return;
        }
        const SUpdiLinkCounters& c = programmer.Link().Counters();
        modelled = static_cast<double>(c.bytesSent + c.bytesReceived) * kBitsPerByte / baud +
                   static_cast<double>(c.turnarounds) * kTurnaroundSeconds;
        state.counters["turnarounds"] = static_cast<double>(c.turnarounds);
        state.counters["wire_bytes"] = static_cast<double>(c.bytesSent + c.bytesReceived);
    }
    state.counters["modelled_s"] = modelled;
}

}  // namespace

BENCHMARK_CAPTURE(EraseWriteVerify, ATtiny1614, "ATtiny1614")->Arg(115200)->Arg(230400);
BENCHMARK_CAPTURE(EraseWriteVerify, ATmega4809, "ATmega4809")->Arg(115200)->Arg(230400);
BENCHMARK_MAIN();
