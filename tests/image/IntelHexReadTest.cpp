#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "image/IntelHex.h"

namespace {

constexpr int kSize1200 = 1024;
constexpr int kSize4096 = 4096;
constexpr int kData8515 = 512;
constexpr int kSize64K = 65536;
constexpr int kSizeMega103 = 131072;

struct ReadResult {
    HexReadStatus status;
    std::vector<uint8_t> image;
};

ReadResult Read(const std::string& text, int size, HexReadMode mode = HexReadMode::Program) {
    ReadResult r{HexReadStatus::Ok, {}};
    r.image.assign(3, 0x55);  // stale content the reader must discard
    r.status = ReadHexImage(text, mode, size, r.image);
    return r;
}

// The image expected after storing bytes at first..first+n-1 into an erased one.
std::vector<uint8_t> Erased(int size) {
    return std::vector<uint8_t>(size, 0xFF);
}

int CountNotErased(const std::vector<uint8_t>& image) {
    int n = 0;
    for (uint8_t b : image) {
        n += b != 0xFF;
    }
    return n;
}

TEST(IntelHexRead, RecordWithGoodChecksumStoresItsBytes) {
    const ReadResult r = Read(":0400000001020304f2\r\n", kSize1200);
    EXPECT_EQ(r.status, HexReadStatus::Ok);
    ASSERT_EQ(r.image.size(), size_t{kSize1200});
    std::vector<uint8_t> expected = Erased(kSize1200);
    expected[0] = 1, expected[1] = 2, expected[2] = 3, expected[3] = 4;
    EXPECT_EQ(r.image, expected);
}

TEST(IntelHexRead, BadChecksumKeepsTheRecordsBytesAndStopsReading) {
    const ReadResult r = Read(
        ":0400000001020304f3\r\n"
        ":040010001122334442\r\n",
        kSize1200, HexReadMode::Data);
    EXPECT_EQ(r.status, HexReadStatus::ChecksumError);
    EXPECT_EQ(r.image[0], 1);
    EXPECT_EQ(r.image[3], 4);
    EXPECT_EQ(r.image[0x10], 0xFF) << "a line after the failing record was read";
}

TEST(IntelHexRead, UpperAndLowerCaseReadAlike) {
    const std::string lower = ":10001000abcdef0123456789abcdef012345678960\n";
    std::string upper = lower;
    for (char& c : upper) {
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    }
    const ReadResult a = Read(lower, kSize1200);
    const ReadResult b = Read(upper, kSize1200);
    EXPECT_EQ(a.status, HexReadStatus::Ok);
    EXPECT_EQ(b.status, HexReadStatus::Ok);
    EXPECT_EQ(a.image, b.image);
    EXPECT_EQ(a.image[0x10], 0xAB);
    EXPECT_EQ(a.image[0x1F], 0x89);
}

TEST(IntelHexRead, EndRecordAndUnknownTypesEndTheReadingSilently) {
    const std::string first = ":0400000001020304f2\r\n";
    const std::string later = ":040010001122334442\r\n";
    // No end record: read to the last line.
    EXPECT_EQ(Read(first + later, kSize1200).image[0x10], 0x11);
    // Records after an end record, or after a record of a type no file of
    // ours needs, are ignored without a complaint; a linear address record
    // and a start address record are read through.
    for (const char* stop : {":00000001ff\r\n", ":00000006fa\r\n"}) {
        const ReadResult r = Read(first + stop + later, kSize1200);
        EXPECT_EQ(r.status, HexReadStatus::Ok) << stop;
        EXPECT_EQ(r.image[3], 4) << stop;
        EXPECT_EQ(r.image[0x10], 0xFF) << stop;
    }
    for (const char* through : {":020000040000fa\r\n", ":00000005fb\r\n"}) {
        EXPECT_EQ(Read(first + through + later, kSize1200).image[0x10], 0x11) << through;
    }
}

TEST(IntelHexRead, DataAddressPastTheImageIsAnAddressError) {
    // 512 data bytes: address 0200 is the first one outside.
    ReadResult r = Read(":01020000aa53\r\n", kData8515, HexReadMode::Data);
    EXPECT_EQ(r.status, HexReadStatus::AddressError);
    EXPECT_EQ(r.image, Erased(kData8515));
    // A record running over the end keeps the bytes before the first one
    // outside, and nothing after it is read.
    r = Read(
        ":0401fe00a1a2a3a473\r\n"
        ":0400000001020304f2\r\n",
        kData8515, HexReadMode::Data);
    EXPECT_EQ(r.status, HexReadStatus::AddressError);
    EXPECT_EQ(r.image[0x1FE], 0xA1);
    EXPECT_EQ(r.image[0x1FF], 0xA2);
    EXPECT_EQ(r.image[0], 0xFF);
    // The same on a program image.
    r = Read(":0104000011ea\r\n", kSize1200, HexReadMode::Program);
    EXPECT_EQ(r.status, HexReadStatus::AddressError);
    EXPECT_EQ(CountNotErased(r.image), 0);
}

TEST(IntelHexRead, SegmentRecordReachesTheUpperHalfOfTheLargestImage) {
    const std::string text =
        ":020000021000ec\r\n"
        ":02000000abcd86\r\n";
    ReadResult r = Read(text, kSizeMega103);
    EXPECT_EQ(r.status, HexReadStatus::Ok);
    EXPECT_EQ(r.image[0x10000], 0xAB);
    EXPECT_EQ(r.image[0x10001], 0xCD);
    EXPECT_EQ(r.image[0], 0xFF);
    EXPECT_EQ(CountNotErased(r.image), 2);
    // Out of range on every smaller image.
    for (int size : {kSize64K, kSize1200}) {
        r = Read(text, size);
        EXPECT_EQ(r.status, HexReadStatus::AddressError) << size;
        EXPECT_EQ(CountNotErased(r.image), 0) << size;
    }
}

TEST(IntelHexRead, SegmentChecksumUsesFixedPositionsWhateverTheCount) {
    // A count of 04 changes the sum but not where S and the checksum are.
    ReadResult r = Read(":040000021000ea\r\n:0100000055aa\r\n", kSizeMega103);
    EXPECT_EQ(r.status, HexReadStatus::Ok);
    EXPECT_EQ(r.image[0x10000], 0x55);
    // A bad segment checksum stops the reading and keeps the old base.
    r = Read(":020000021000ed\r\n:0100000055aa\r\n", kSizeMega103);
    EXPECT_EQ(r.status, HexReadStatus::ChecksumError);
    EXPECT_EQ(CountNotErased(r.image), 0);
}

// Toolchains write extended linear address records above 64 KB, and start
// address records that mean nothing to an image: the data goes where the
// linear base says, up to the last byte of a 256 KB image, and the start
// records are skipped instead of ending the reading.
TEST(IntelHexRead, LinearAddressRecordsPlaceDataAndStartRecordsAreSkipped) {
    constexpr int kSize256K = 262144;
    const std::string text =
        ":0400000500001234b1\r\n"
        ":020000040001f9\r\n"
        ":02000000abcd86\r\n"
        ":0400000300001234b3\r\n"
        ":020000040003f7\r\n"
        ":02fffe001122ce\r\n"
        ":020000040000fa\r\n"
        ":0100000055aa\r\n";
    ReadResult r = Read(text, kSize256K);
    EXPECT_EQ(r.status, HexReadStatus::Ok);
    EXPECT_EQ(r.image[0x10000], 0xAB);
    EXPECT_EQ(r.image[0x10001], 0xCD);
    EXPECT_EQ(r.image[0x3FFFE], 0x11);
    EXPECT_EQ(r.image[0x3FFFF], 0x22);
    EXPECT_EQ(r.image[0], 0x55);
    EXPECT_EQ(CountNotErased(r.image), 5);
    // Past a smaller image, and with a bad checksum, the reading stops.
    EXPECT_EQ(Read(text, kSizeMega103).status, HexReadStatus::AddressError);
    EXPECT_EQ(Read(":020000040001f8\r\n", kSize256K).status, HexReadStatus::ChecksumError);
    EXPECT_EQ(Read(":0400000500001234b2\r\n", kSize256K).status, HexReadStatus::ChecksumError);
}

TEST(IntelHexRead, RecordAddressWrapsInsideItsSegment) {
    // Two bytes from FFFF: the second goes to offset 0 of the same segment.
    ReadResult r = Read(":02ffff001122cd\r\n", kSizeMega103);
    EXPECT_EQ(r.status, HexReadStatus::Ok);
    EXPECT_EQ(r.image[0xFFFF], 0x11);
    EXPECT_EQ(r.image[0x0000], 0x22);
    EXPECT_EQ(r.image[0x10000], 0xFF);
    r = Read(":020000021000ec\r\n:02ffff001122cd\r\n", kSizeMega103);
    EXPECT_EQ(r.image[0x1FFFF], 0x11);
    EXPECT_EQ(r.image[0x10000], 0x22);
}

TEST(IntelHexRead, WordLinesInTheProgramReaderOnly) {
    const std::string text = "000000:940c\r\n000001:002a\n";
    ReadResult r = Read(text, kSize1200, HexReadMode::Program);
    EXPECT_EQ(r.status, HexReadStatus::Ok);
    EXPECT_EQ(r.image[0], 0x0C);
    EXPECT_EQ(r.image[1], 0x94);
    EXPECT_EQ(r.image[2], 0x2A);
    EXPECT_EQ(r.image[3], 0x00);
    r = Read(text, kSize1200, HexReadMode::Data);
    EXPECT_EQ(r.status, HexReadStatus::Ok);
    EXPECT_EQ(r.image, Erased(kSize1200));

    // Byte address 0x2000 on a 4096-byte image.
    r = Read("000000:1234\n001000:ffff\n000001:5678\n", kSize4096);
    EXPECT_EQ(r.status, HexReadStatus::AddressError);
    EXPECT_EQ(r.image[0], 0x34);
    EXPECT_EQ(r.image[2], 0xFF) << "a line after the error was read";
    // Only the low 16 bits of the word address count.
    r = Read("010001:beef\n", kSize1200);
    EXPECT_EQ(r.status, HexReadStatus::Ok);
    EXPECT_EQ(r.image[2], 0xEF);
    EXPECT_EQ(r.image[3], 0xBE);
}

TEST(IntelHexRead, WordLineNeverWritesPastAnOddSizedImage) {
    // Word 2 is bytes 4 and 5; a five-byte image holds only the first.
    const ReadResult r = Read("000002:abcd\n", 5);
    EXPECT_EQ(r.status, HexReadStatus::AddressError);
    EXPECT_EQ(r.image, Erased(5));
}

TEST(IntelHexRead, FileWithoutRecordsLeavesTheImageErased) {
    for (const std::string& text :
         {std::string(), std::string("\r\n\n"), std::string("; a comment\nS1130000FFFF\n")}) {
        const ReadResult r = Read(text, kSize1200);
        EXPECT_EQ(r.status, HexReadStatus::Ok);
        EXPECT_EQ(r.image, Erased(kSize1200));
    }
}

TEST(IntelHexRead, LineEndsAndTrailingBlanksDoNotMatter) {
    const std::string lf = ":0400000001020304f2\n:040010001122334442\n";
    std::string crlf, blanks;
    for (char c : lf) {
        if (c == '\n') {
            crlf += "\r\n";
            blanks += "  \t \r\n";
        } else {
            crlf += c;
            blanks += c;
        }
    }
    const ReadResult a = Read(lf, kSize1200);
    EXPECT_EQ(a.status, HexReadStatus::Ok);
    EXPECT_EQ(a.image[0x13], 0x44);
    for (const std::string& text : {crlf, blanks, lf.substr(0, lf.size() - 1)}) {
        const ReadResult b = Read(text, kSize1200);
        EXPECT_EQ(b.status, HexReadStatus::Ok);
        EXPECT_EQ(b.image, a.image);
    }
}

TEST(IntelHexRead, FieldsConvertLikeTheCLibrary) {
    // Blanks before digits, a 0x prefix and a missing digit all convert:
    // " 4" is 4, "0x" is 0 and the data field "0x" is 0.
    ReadResult r = Read(": 4000000010x0304f4\n", kSize1200);
    EXPECT_EQ(r.status, HexReadStatus::Ok);
    EXPECT_EQ(r.image[0], 0x01);
    EXPECT_EQ(r.image[1], 0x00);
    EXPECT_EQ(r.image[3], 0x04);
    // A digit damaged into a letter stops its field: "0g" is 0, and the
    // checksum finds it.
    r = Read(":0400000001020g04f2\n", kSize1200);
    EXPECT_EQ(r.status, HexReadStatus::ChecksumError);
    EXPECT_EQ(r.image[2], 0x00);
    // A signed field wraps as the unsigned conversion does: "-1" is 0xFF.
    r = Read(":01000000-100\n", kSize1200);
    EXPECT_EQ(r.status, HexReadStatus::Ok);
    EXPECT_EQ(r.image[0], 0xFF);
    // Fields past the end of a short line count as 0.
    r = Read(":02000000\n", kSize1200);
    EXPECT_EQ(r.status, HexReadStatus::ChecksumError);
    EXPECT_EQ(r.image[0], 0x00);
    EXPECT_EQ(r.image[1], 0x00);
}

TEST(IntelHexRead, LongLinesAreReadIn254CharacterPieces) {
    // 128 data bytes make a 267-character record: the piece ends at
    // position 253, so byte 122 is the single digit "0", the bytes after it
    // and the checksum are past the end, and the rest of the line is a
    // further piece that is no record.
    std::string record = ":80000000";
    for (int i = 0; i < 128; ++i) {
        record += "01";
    }
    record += "00\n";
    ReadResult r = Read(record, kSize1200);
    EXPECT_EQ(r.status, HexReadStatus::ChecksumError);
    for (int i = 0; i < 122; ++i) {
        ASSERT_EQ(r.image[i], 0x01) << i;
    }
    for (int i = 122; i < 128; ++i) {
        ASSERT_EQ(r.image[i], 0x00) << i;
    }
    EXPECT_EQ(r.image[128], 0xFF);

    // A record that starts exactly 254 characters into a line is a line of
    // its own.
    r = Read(std::string(254, 'x') + ":0400000001020304f2\n", kSize1200);
    EXPECT_EQ(r.status, HexReadStatus::Ok);
    EXPECT_EQ(r.image[3], 0x04);
    // One character earlier it is just text.
    r = Read(std::string(253, 'x') + ":0400000001020304f2\n", kSize1200);
    EXPECT_EQ(r.image[3], 0xFF);
}

TEST(IntelHexRead, NulByteEndsTheLine) {
    const std::string text = std::string(":04000000") + '\0' + "01020304f2\n";
    const ReadResult r = Read(text, kSize1200);
    EXPECT_EQ(r.status, HexReadStatus::ChecksumError);
    EXPECT_EQ(r.image[0], 0x00);
    EXPECT_EQ(r.image[3], 0x00);
    EXPECT_EQ(r.image[4], 0xFF);
}

TEST(IntelHexRead, EmptyOrNegativeImageSizeStoresNothing) {
    for (int size : {0, -5}) {
        const ReadResult r = Read(":0100000055aa\n000000:1234\n", size);
        EXPECT_EQ(r.status, HexReadStatus::AddressError);
        EXPECT_TRUE(r.image.empty());
    }
}

TEST(IntelHexRead, GarbageNeverChangesTheImageSize) {
    // Random bytes biased towards the characters that matter; any access
    // outside the image shows up under the sanitizer build.
    std::mt19937 random(12345);
    using namespace std::string_literals;
    const std::string alphabet = ":0123456789abcdefABCDEF \r\n\t-+x\0\xff"s;
    for (int round = 0; round < 2000; ++round) {
        std::string text(random() % 700, '\0');
        for (char& c : text) {
            c = random() % 4 == 0 ? static_cast<char>(random() % 256)
                                  : alphabet[random() % alphabet.size()];
        }
        if (round % 3 == 0) {
            text[0] = ':';
        }
        const int size = static_cast<int>(random() % 3) * 16 + 16;
        const ReadResult r = Read(text, size, round % 2 ? HexReadMode::Data : HexReadMode::Program);
        ASSERT_EQ(r.image.size(), static_cast<size_t>(size));
    }
}

}  // namespace
