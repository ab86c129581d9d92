// Any bytes as an Intel HEX file, for both readers and every image size of
// the device table. The first input byte picks the size and the reader.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "image/IntelHex.h"
#include "parts/DeviceTable.h"

namespace {

// Every program and data memory size the table has, once each.
std::vector<int> ImageSizes() {
    std::vector<int> sizes;
    auto add = [&](int size) {
        for (int s : sizes) {
            if (s == size) {
                return;
            }
        }
        sizes.push_back(size);
    };
    for (const DeviceInfo& row : DeviceRows()) {
        add(row.progSize);
        add(row.dataSize);
    }
    return sizes;
}

constexpr uint8_t kDataModeBit = 0x80;
// The write-and-read-back check costs time in proportion to the image, not
// to the input: on every image size it held the whole target to under a
// hundred runs a second. The writer treats every byte alike, so the small
// images say as much; its segment records above 64 KB have their own tests.
constexpr int kRoundTripLimit = 2048;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::vector<int> sizes = ImageSizes();
    if (size == 0) {
        return 0;
    }
    const uint8_t selector = data[0];
    const int imageSize = sizes[(selector & ~kDataModeBit) % sizes.size()];
    const HexReadMode mode =
        (selector & kDataModeBit) != 0 ? HexReadMode::Data : HexReadMode::Program;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

    std::vector<uint8_t> image(3, 0);  // anything: the reader remakes it
    ReadHexImage(text, mode, imageSize, image);
    if (static_cast<int>(image.size()) != imageSize) {
        std::abort();  // the image must always come back at the device's size
    }

    if (imageSize > kRoundTripLimit) {
        return 0;
    }
    // A file we write must read back into the same image without an error.
    const std::string written = FormatHexImage(image);
    std::vector<uint8_t> again;
    if (ReadHexImage(written, HexReadMode::Data, imageSize, again) != HexReadStatus::Ok ||
        again != image) {
        std::abort();
    }
    return 0;
}
