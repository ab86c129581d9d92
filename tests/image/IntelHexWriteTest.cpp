#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "image/IntelHex.h"
#include "parts/DeviceTable.h"

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start) + "<no CRLF>");
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

std::vector<uint8_t> RandomImage(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> image(size);
    for (uint8_t& b : image) {
        b = static_cast<uint8_t>(random());
    }
    return image;
}

TEST(IntelHexWrite, ErasedSmallestProgramImage) {
    const std::vector<std::string> lines = Lines(FormatHexImage(std::vector<uint8_t>(1024, 0xFF)));
    ASSERT_EQ(lines.size(), 64u);
    EXPECT_EQ(lines[0], ":10000000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00");
    EXPECT_EQ(lines[1], ":10001000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF0");
    EXPECT_EQ(lines[63], ":1003F000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF0D");
}

TEST(IntelHexWrite, BytesInImageOrderWithUpperCaseDigits) {
    std::vector<uint8_t> image(1024, 0xFF);
    image[0] = 0x0C, image[1] = 0x94, image[2] = 0x2A, image[3] = 0x00;
    EXPECT_EQ(Lines(FormatHexImage(image))[0], ":100000000C942A00FFFFFFFFFFFFFFFFFFFFFFFF32");
}

TEST(IntelHexWrite, SmallestDataImageGivesFourRecords) {
    const std::vector<std::string> lines = Lines(FormatHexImage(std::vector<uint8_t>(64, 0)));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].substr(0, 9), ":10000000");
    EXPECT_EQ(lines[1].substr(0, 9), ":10001000");
    EXPECT_EQ(lines[2].substr(0, 9), ":10002000");
    EXPECT_EQ(lines[3], ":1000300000000000000000000000000000000000C0");
}

TEST(IntelHexWrite, UpperHalfOfTheLargestImageFollowsASegmentRecord) {
    const std::vector<std::string> lines =
        Lines(FormatHexImage(std::vector<uint8_t>(131072, 0xFF)));
    ASSERT_EQ(lines.size(), 8192u + 1u);
    EXPECT_EQ(lines[4095].substr(0, 9), ":10FFF000");
    EXPECT_EQ(lines[4096], ":020000021000EC");
    EXPECT_EQ(lines[4097], ":10000000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00");
    EXPECT_EQ(lines[8192], ":10FFF000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF11");
    // Only the one extra record, and nothing at all below 64 KB.
    EXPECT_EQ(Lines(FormatHexImage(std::vector<uint8_t>(65536, 0xFF))).size(), 4096u);
}

TEST(IntelHexWrite, RoundTripForEveryMemorySizeOfTheDeviceTable) {
    std::set<int> sizes;
    for (const DeviceInfo& d : DeviceRows()) {
        sizes.insert(d.progSize);
        sizes.insert(d.dataSize);
    }
    ASSERT_TRUE(sizes.count(131072));
    for (int size : sizes) {
        const std::vector<uint8_t> original = RandomImage(static_cast<size_t>(size), size);
        std::vector<uint8_t> back;
        EXPECT_EQ(ReadHexImage(FormatHexImage(original), HexReadMode::Program, size, back),
                  HexReadStatus::Ok)
            << size;
        EXPECT_EQ(back, original) << size;
        EXPECT_EQ(ReadHexImage(FormatHexImage(original), HexReadMode::Data, size, back),
                  HexReadStatus::Ok)
            << size;
        EXPECT_EQ(back, original) << size;
    }
}

TEST(IntelHexWrite, ImageNotAMultipleOfSixteenEndsWithAShortRecord) {
    const std::vector<uint8_t> original = RandomImage(37, 3);
    const std::vector<std::string> lines = Lines(FormatHexImage(original));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2].substr(0, 9), ":05002000");
    std::vector<uint8_t> back;
    EXPECT_EQ(ReadHexImage(FormatHexImage(original), HexReadMode::Data, 37, back),
              HexReadStatus::Ok);
    EXPECT_EQ(back, original);
    EXPECT_TRUE(FormatHexImage({}).empty());
}

}  // namespace
