// Production runs: 40 ATmega328P chips (erase, a 32 KB image written and
// read back, verify, fuses, a serial number in the EEPROM) on one simulated
// socket and on four at once, each on its own adapter, in virtual time. Two
// ways to the chip: a serial port's modem lines at 2 us a line call, and the
// simulated FT232R cable in bit-bang mode (1 ms a USB round trip). The goal:
// four adapters give at least 3.6 times the chips a minute of one.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "image/IntelHex.h"
#include "session/ProductionRun.h"
#include "session/Recipe.h"

namespace fs = std::filesystem;

namespace {

constexpr int kChips = 40;
constexpr int kFlashBytes = 32768;
constexpr uint32_t kSeed = 328;
constexpr const char* kUartSocket = "sim:ATmega328P,line-ns=2000";
constexpr const char* kCableSocket = "sim:ATmega328P,ftdi";

const char* const kRecipeText =
    "[Recipe]\n"
    "part = ATmega328P\n"
    "flash = firmware.hex\n"
    "fuses = lfuse=0x62,hfuse=0xD9\n"
    "steps = erase,flash,eeprom,verify,fuses\n"
    "[Serial]\n"
    "memory = eeprom\n"
    "address = 0x10\n"
    "size = 4\n"
    "first = 1000\n"
    "next-file = serial.next\n";

// A folder with the recipe and a random full-size image.
fs::path MakeLine() {
    std::string pattern = (fs::temp_directory_path() / "brenwick-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        return fs::path();
    }
    const fs::path dir = pattern;
    std::vector<uint8_t> image(kFlashBytes);
    std::mt19937 random(kSeed);
    for (uint8_t& b : image) {
        // Never 0xFF: every byte is the program's, the serial lives in the EEPROM.
        b = static_cast<uint8_t>(random() % 0xFF);
    }
    std::ofstream(dir / "firmware.hex") << FormatHexImage(image);
    std::ofstream(dir / "line.brenwick") << kRecipeText;
    return dir;
}

void BM_Production(benchmark::State& state) {
    const int sockets = static_cast<int>(state.range(0));
    const bool cable = state.range(1) != 0;
    ProductionSummary summary;
    for (auto _ : state) {
        const fs::path dir = MakeLine();
        Recipe recipe;
        std::string error;
        if (dir.empty() || !LoadRecipe((dir / "line.brenwick").string(), recipe, error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        ProductionOptions options;
        options.automatic = true;
        options.count = kChips;
        for (int i = 0; i < sockets; ++i) {
            // Each socket is a session of its own: the same name is a second chip.
            options.ports.push_back(std::string(cable ? kCableSocket : kUartSocket) +
                                    ",chips=" + std::to_string(kChips / sockets));
        }
        CProductionRun run(recipe, options, nullptr, nullptr);
        if (!run.Prepare(error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        summary = run.Run();
        std::error_code ec;
        fs::remove_all(dir, ec);
        if (summary.passed != kChips) {
            state.SkipWithError("not every chip passed");
            return;
        }
    }
    state.counters["chips_per_minute"] = summary.chipsPerMinute;
    state.counters["virtual_s_per_chip"] = 60.0 * sockets / summary.chipsPerMinute;
}
// sockets: 1 or 4; way: 0 modem lines at 2 us a call, 1 FT232R bit-bang.
BENCHMARK(BM_Production)
    ->ArgNames({"sockets", "ftdi"})
    ->ArgsProduct({{1, 4}, {0, 1}})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
