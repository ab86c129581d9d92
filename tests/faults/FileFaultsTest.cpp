// Files that change under the program, special files, folders that are full
// or read-only, and settings files in every state a user's disk can leave
// them: the program reads what is there (or says it cannot), never hangs,
// and a failed save leaves the previous file whole and no temporary behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "app/ProfileFile.h"
#include "app/SettingsKeys.h"
#include "image/FileAccess.h"
#include "image/IntelHex.h"

namespace fs = std::filesystem;

namespace {

constexpr int kImageSize = 1024;
// A hang in a test that opens a special file ends the child after this long
// instead of blocking the whole run.
constexpr unsigned kHangGuardSeconds = 30;
constexpr char kSmallFs[] = "size=64k";

// Three records: 01 02 03 04 at 0, 05 06 at 0x10, a0 at 0x20.
constexpr char kThreeRecords[] =
    ":0400000001020304F2\r\n"
    ":020010000506E3\r\n"
    ":01002000A03F\r\n";

void Put(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

std::string Get(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> Entries(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) {
        names.push_back(e.path().filename().string());
    }
    return names;
}

class FileFaultsTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "brenwick-faults-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
    }
    void TearDown() override {
        if (m_mounted) {
            ::umount2(m_dir.c_str(), MNT_DETACH);
        }
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }

    // A small tmpfs of its own on the test folder, in a mount namespace of
    // this process only, so nothing outside the test ever sees it. false
    // (and the test is skipped) where that is not allowed.
    bool MountSmallFs() {
        if (::geteuid() != 0 || ::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", m_dir.c_str(), "tmpfs", 0, kSmallFs) != 0) {
            return false;
        }
        m_mounted = true;
        return true;
    }
    bool MakeReadOnly() {
        return ::mount(nullptr, m_dir.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, kSmallFs) == 0;
    }
    // Takes every free byte of the file system.
    void FillUp() {
        std::ofstream out(m_dir / "filler", std::ios::binary);
        const std::string block(4096, 'f');
        while (out.write(block.data(), static_cast<std::streamsize>(block.size()))) {
        }
    }

    fs::path m_dir;
    bool m_mounted = false;
};

// ---- Reading files that change between reads ----

TEST_F(FileFaultsTest, HexFileReplacedShrunkGrownOrRemovedBetweenReads) {
    const fs::path path = m_dir / "prog.hex";
    Put(path, kThreeRecords);
    std::string text, error;
    std::vector<uint8_t> image;
    ASSERT_TRUE(ReadWholeFile(path.string(), text, error)) << error;
    ASSERT_EQ(ReadHexImage(text, HexReadMode::Program, kImageSize, image), HexReadStatus::Ok);
    EXPECT_EQ(image[0x20], 0xA0);

    // Replaced by another file under the same name: only the new one counts.
    const fs::path other = m_dir / "other.hex";
    Put(other, ":0100000011EE\r\n");
    fs::rename(other, path);
    ASSERT_TRUE(ReadWholeFile(path.string(), text, error)) << error;
    EXPECT_EQ(text, ":0100000011EE\r\n");
    ASSERT_EQ(ReadHexImage(text, HexReadMode::Program, kImageSize, image), HexReadStatus::Ok);
    EXPECT_EQ(image[0], 0x11);
    EXPECT_EQ(image[0x20], 0xFF) << "something of the old file is left";

    // Cut off inside a record: the cut record fails its checksum, and the
    // image keeps the device's size.
    const std::string whole = kThreeRecords;
    const size_t cut = whole.find(":020010") + 10;
    Put(path, whole.substr(0, cut));
    ASSERT_TRUE(ReadWholeFile(path.string(), text, error)) << error;
    EXPECT_EQ(text, whole.substr(0, cut));
    EXPECT_EQ(ReadHexImage(text, HexReadMode::Program, kImageSize, image),
              HexReadStatus::ChecksumError);
    EXPECT_EQ(image.size(), static_cast<size_t>(kImageSize));

    // Grown again: every record is read.
    Put(path, whole + ":010030007758\r\n");
    ASSERT_TRUE(ReadWholeFile(path.string(), text, error)) << error;
    ASSERT_EQ(ReadHexImage(text, HexReadMode::Program, kImageSize, image), HexReadStatus::Ok);
    EXPECT_EQ(image[0x20], 0xA0);
    EXPECT_EQ(image[0x30], 0x77);

    // Gone: a plain failure with a reason, and no text from before.
    fs::remove(path);
    text = "stale";
    EXPECT_FALSE(ReadWholeFile(path.string(), text, error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(text.empty());
}

// Runs in a child process: reads path with a guard against hanging, and
// exits with 0 when the text read is expected.
[[noreturn]] void ReadAndExit(const std::string& path, const std::string& expected) {
    ::alarm(kHangGuardSeconds);
    std::string text, error;
    const bool read = ReadWholeFile(path, text, error);
    std::_Exit(read && text == expected ? 0 : 1);
}

TEST_F(FileFaultsTest, PipeWithNobodyWritingDoesNotHang) {
    const fs::path fifo = m_dir / "pipe.hex";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // In a child, so that a reader that blocks is ended by the guard rather
    // than stopping every test after it. Nothing written: an empty file.
    EXPECT_EXIT(ReadAndExit(fifo.string(), ""), ::testing::ExitedWithCode(0), "");
}

TEST_F(FileFaultsTest, PipeHandedOverAsAPathIsReadToItsEnd) {
    // As a shell's process substitution gives it: /dev/fd/N of a pipe whose
    // writer has already finished.
    int ends[2] = {-1, -1};
    ASSERT_EQ(::pipe(ends), 0);
    const std::string text = kThreeRecords;
    ASSERT_EQ(::write(ends[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
    ::close(ends[1]);
    const std::string path = "/dev/fd/" + std::to_string(ends[0]);
    EXPECT_EXIT(ReadAndExit(path, text), ::testing::ExitedWithCode(0), "");
    ::close(ends[0]);
}

// ---- Saving where it cannot be done ----

TEST_F(FileFaultsTest, SaveIntoAFullFolderKeepsThePreviousFiles) {
    if (!MountSmallFs()) {
        GTEST_SKIP() << "needs root and a private tmpfs";
    }
    const fs::path hex = m_dir / "prog.hex";
    const fs::path ini = m_dir / "brenwick.INI";
    Put(hex, kThreeRecords);
    Put(ini, "[Device]\nType=8515\n");
    FillUp();

    // A whole 128 KB image does not fit; neither does any new settings text.
    std::string error;
    EXPECT_FALSE(
        WriteFileAtomically(hex.string(), FormatHexImage(std::vector<uint8_t>(131072)), error));
    EXPECT_FALSE(error.empty());
    CProfileFile profile(ini.string());
    EXPECT_FALSE(profile.WriteInt(settings::kComSection, settings::kComPort, 3));

    EXPECT_EQ(Get(hex), kThreeRecords);
    EXPECT_EQ(Get(ini), "[Device]\nType=8515\n");
    std::vector<std::string> names = Entries(m_dir);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"brenwick.INI", "filler", "prog.hex"}))
        << "a temporary file is left behind";

    // Room again: both saves go through.
    fs::remove(m_dir / "filler");
    EXPECT_TRUE(WriteFileAtomically(hex.string(), ":0100000011EE\r\n", error)) << error;
    EXPECT_TRUE(profile.WriteInt(settings::kComSection, settings::kComPort, 3));
    EXPECT_EQ(profile.GetInt(settings::kDeviceSection, settings::kDeviceType, 0), 8515);
}

TEST_F(FileFaultsTest, SaveIntoAReadOnlyFolderKeepsThePreviousFiles) {
    if (!MountSmallFs()) {
        GTEST_SKIP() << "needs root and a private tmpfs";
    }
    const fs::path hex = m_dir / "prog.hex";
    const fs::path ini = m_dir / "brenwick.INI";
    Put(hex, kThreeRecords);
    Put(ini, "[Device]\nType=8515\n");
    ASSERT_TRUE(MakeReadOnly());

    std::string error;
    EXPECT_FALSE(WriteFileAtomically(hex.string(), ":0100000011EE\r\n", error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(WriteFileAtomically((m_dir / "new.hex").string(), ":00000001FF\r\n", error));
    CProfileFile profile(ini.string());
    EXPECT_FALSE(profile.WriteInt(settings::kDeviceSection, settings::kDeviceType, 1200));

    EXPECT_EQ(Get(hex), kThreeRecords);
    EXPECT_EQ(profile.GetInt(settings::kDeviceSection, settings::kDeviceType, 0), 8515);
    EXPECT_EQ(Entries(m_dir).size(), 2u) << "something was created in a read-only folder";
}

// ---- Settings files in every state ----

// The entries the program reads at start-up, as it reads them.
struct StartValues {
    int device;
    int port;
    std::string progFile;
};

StartValues ReadAtStart(const CProfileFile& profile) {
    using namespace settings;
    return {profile.GetInt(kDeviceSection, kDeviceType, kDefaultDevice),
            profile.GetInt(kComSection, kComPort, kDefaultPort),
            profile.GetString(kFileProgSection, kName, "")};
}

struct SettingsCase {
    const char* name;
    std::string before;
    StartValues expected;
    // The program then stores the port: the file must be the old one with
    // only that entry set (changed in place, or added).
    std::string after;
};

std::vector<SettingsCase> SettingsCases() {
    const std::string blob("\x00\xff\xfe[\x01\x02]\x00=\x7f\x80", 11);
    return {
        {"Garbage",
         "\x01\x02garbage without any structure\xff\xfe",
         {8535, 2, ""},
         "\x01\x02garbage without any structure\xff\xfe\n\n[Com]\nPort=3\n"},
        {"HugeAndNegativeValues",
         "[Device]\nType=99999999999999999999\n[Com]\nPort=-4\n",
         {INT_MAX, 2, ""},
         "[Device]\nType=99999999999999999999\n[Com]\nPort=3\n"},
        {"DuplicateSections",
         "[com]\nport=1\n[Device]\nType=2313\n[COM]\nPort=4\n[Device]\nType=1200\n",
         {2313, 1, ""},
         "[com]\nport=3\n[Device]\nType=2313\n[COM]\nPort=4\n[Device]\nType=1200\n"},
        {"BinaryBlob",
         "[FileProg]\nName=/a.hex\n" + blob + "\n[Com]\nPort=1\n",
         {8535, 1, "/a.hex"},
         "[FileProg]\nName=/a.hex\n" + blob + "\n[Com]\nPort=3\n"},
        {"NoTrailingNewline",
         "[Com]\nPort=1\n[Device]\nType=8515",
         {8515, 1, ""},
         "[Com]\nPort=3\n[Device]\nType=8515"},
        {"NoTrailingNewlineSectionMissing",
         "[Device]\nType=8515",
         {8515, 2, ""},
         "[Device]\nType=8515\n\n[Com]\nPort=3\n"},
        {"Crlf",
         "[Device]\r\nType=4433\r\n\r\n[Com]\r\n",
         {4433, 2, ""},
         "[Device]\r\nType=4433\r\n\r\n[Com]\r\nPort=3\r\n"},
        // Cut off between the carriage return and the line feed.
        {"CutAfterCarriageReturn",
         "[Device]\r\nType=8515\r",
         {8515, 2, ""},
         "[Device]\r\nType=8515\r\n\r\n[Com]\r\nPort=3\r\n"},
        {"CutAfterCarriageReturnInTheSection",
         "[Device]\r\nType=8515\r\n[Com]\r",
         {8515, 2, ""},
         "[Device]\r\nType=8515\r\n[Com]\r\nPort=3\r\n"},
    };
}

void PrintTo(const SettingsCase& c, std::ostream* os) {
    *os << c.name;
}

class SettingsFileTest : public FileFaultsTest,
                         public ::testing::WithParamInterface<SettingsCase> {};

TEST_P(SettingsFileTest, SensibleValuesAndOnlyTheEntrySetIsRewritten) {
    const SettingsCase& c = GetParam();
    const fs::path path = m_dir / "brenwick.INI";
    Put(path, c.before);
    CProfileFile profile(path.string());

    const StartValues read = ReadAtStart(profile);
    EXPECT_EQ(read.device, c.expected.device);
    EXPECT_EQ(read.port, c.expected.port);
    EXPECT_EQ(read.progFile, c.expected.progFile);

    ASSERT_TRUE(profile.WriteInt(settings::kComSection, settings::kComPort, 3));
    EXPECT_EQ(Get(path), c.after);
    // Read back as the next start would.
    const StartValues again = ReadAtStart(profile);
    EXPECT_EQ(again.port, 3);
    EXPECT_EQ(again.device, c.expected.device);
    EXPECT_EQ(again.progFile, c.expected.progFile);
}

INSTANTIATE_TEST_SUITE_P(EveryState, SettingsFileTest, ::testing::ValuesIn(SettingsCases()),
                         [](const ::testing::TestParamInfo<SettingsCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
