// Reading and writing the largest image (131072 bytes) as Intel HEX.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "image/FileAccess.h"
#include "image/IntelHex.h"

namespace {

constexpr int kLargestImage = 131072;

std::vector<uint8_t> RandomImage() {
    std::mt19937 random(1);
    std::vector<uint8_t> image(kLargestImage);
    for (uint8_t& b : image) {
        b = static_cast<uint8_t>(random());
    }
    return image;
}

void BM_FormatHexImage(benchmark::State& state) {
    const std::vector<uint8_t> image = RandomImage();
    for (auto _ : state) {
        std::string text = FormatHexImage(image);
        benchmark::DoNotOptimize(text);
    }
    state.SetBytesProcessed(state.iterations() * kLargestImage);
}
BENCHMARK(BM_FormatHexImage)->Unit(benchmark::kMillisecond);

void BM_ReadHexImage(benchmark::State& state) {
    const std::string text = FormatHexImage(RandomImage());
    std::vector<uint8_t> image;
    for (auto _ : state) {
        benchmark::DoNotOptimize(ReadHexImage(text, HexReadMode::Program, kLargestImage, image));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kLargestImage);
}
BENCHMARK(BM_ReadHexImage)->Unit(benchmark::kMillisecond);

// The same through a file, as a save and an open do: atomic replace with
// fsync, then the whole file read back.
void BM_SaveAndOpenFile(benchmark::State& state) {
    const std::vector<uint8_t> image = RandomImage();
    const std::string path = "hex_bench_image.hex";
    std::vector<uint8_t> back;
    for (auto _ : state) {
        std::string error, text;
        if (!WriteFileAtomically(path, FormatHexImage(image), error) ||
            !ReadWholeFile(path, text, error)) {
            state.SkipWithError(error.c_str());
            break;
        }
        benchmark::DoNotOptimize(ReadHexImage(text, HexReadMode::Program, kLargestImage, back));
    }
    std::remove(path.c_str());
}
BENCHMARK(BM_SaveAndOpenFile)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
