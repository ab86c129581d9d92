#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "image/FileAccess.h"
#include "image/IntelHex.h"

namespace fs = std::filesystem;

namespace {

class HexFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "brenwick-hexfile-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(m_dir, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(m_dir, ec);
    }

    std::string PathOf(const std::string& name) const { return (m_dir / name).string(); }

    static void Put(const std::string& path, const std::string& text) {
        std::ofstream out(path, std::ios::binary);
        out << text;
    }
    static std::string Get(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    // Names in the folder, to find leftover temporary files.
    std::vector<std::string> Entries(const fs::path& dir) const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir)) {
            names.push_back(e.path().filename().string());
        }
        return names;
    }

    fs::path m_dir;
};

TEST_F(HexFileTest, ReadWholeFileGivesEveryByte) {
    const std::string text = std::string(":00\r\n") + '\0' + "\xff tail";
    Put(PathOf("a.hex"), text);
    std::string got, error;
    ASSERT_TRUE(ReadWholeFile(PathOf("a.hex"), got, error)) << error;
    EXPECT_EQ(got, text);
}

TEST_F(HexFileTest, ReadWholeFileRefusesADirectoryAndAVanishedFile) {
    std::string got = "stale", error;
    EXPECT_FALSE(ReadWholeFile(m_dir.string(), got, error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(got.empty());
    error.clear();
    Put(PathOf("gone.hex"), "x");
    fs::remove(PathOf("gone.hex"));
    EXPECT_FALSE(ReadWholeFile(PathOf("gone.hex"), got, error));
    EXPECT_FALSE(error.empty());
}

TEST_F(HexFileTest, ReadWholeFileRefusesWhatCannotBeAHexFile) {
    // A sparse file far larger than any hex file, and a stream without end.
    Put(PathOf("huge.hex"), "");
    fs::resize_file(PathOf("huge.hex"), std::uintmax_t{65} * 1024 * 1024);
    std::string got, error;
    EXPECT_FALSE(ReadWholeFile(PathOf("huge.hex"), got, error));
    EXPECT_FALSE(error.empty());
    error.clear();
    EXPECT_FALSE(ReadWholeFile("/dev/zero", got, error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(got.empty());
}

TEST_F(HexFileTest, TargetThatIsNoRegularFileIsWrittenInPlace) {
    // Renaming over a pipe (or a device) would replace it with a plain file.
    const std::string fifo = PathOf("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    std::string error;
    EXPECT_TRUE(WriteFileAtomically(fifo, ":00000001FF\r\n", error)) << error;
    char buffer[64] = {};
    const ssize_t got = ::read(reader, buffer, sizeof buffer);
    ::close(reader);
    EXPECT_EQ(std::string(buffer, got > 0 ? static_cast<size_t>(got) : 0), ":00000001FF\r\n");
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_EQ(Entries(m_dir), std::vector<std::string>{"pipe"});
}

TEST_F(HexFileTest, WriteCreatesAndReplacesWithoutLeftovers) {
    const std::string path = PathOf("out.hex");
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(path, "first\r\n", error)) << error;
    EXPECT_EQ(Get(path), "first\r\n");
    // A replaced file keeps its permissions.
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ASSERT_TRUE(WriteFileAtomically(path, "second", error)) << error;
    EXPECT_EQ(Get(path), "second");
    EXPECT_EQ(fs::status(path).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(Entries(m_dir), std::vector<std::string>{"out.hex"});
}

TEST_F(HexFileTest, WriteThroughALinkReplacesTheLinkedFile) {
    Put(PathOf("real.hex"), "old");
    fs::create_symlink(PathOf("real.hex"), PathOf("link.hex"));
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(PathOf("link.hex"), "new", error)) << error;
    EXPECT_TRUE(fs::is_symlink(PathOf("link.hex")));
    EXPECT_EQ(Get(PathOf("real.hex")), "new");
}

TEST_F(HexFileTest, EmptyNameWritesNothing) {
    std::string error;
    EXPECT_FALSE(WriteFileAtomically("", "x", error));
    EXPECT_FALSE(error.empty());
}

TEST_F(HexFileTest, FolderThatCannotBeCreatedInFails) {
    // A parent that is a regular file stops the write for every user.
    Put(PathOf("plain"), "keep");
    std::string error;
    EXPECT_FALSE(WriteFileAtomically(PathOf("plain") + "/out.hex", "x", error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(Get(PathOf("plain")), "keep");

    // A read-only folder, where permissions stop the write (not for root).
    if (::geteuid() != 0) {
        const fs::path locked = m_dir / "locked";
        fs::create_directory(locked);
        Put((locked / "old.hex").string(), "old content");
        fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
        error.clear();
        EXPECT_FALSE(WriteFileAtomically((locked / "old.hex").string(), "new", error));
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(Get((locked / "old.hex").string()), "old content");
        EXPECT_EQ(Entries(locked), std::vector<std::string>{"old.hex"});
    }
}

// Lowers the process's file size limit for one test, so that writing fails
// half-way for every user, root included.
class CFileSizeLimit {
public:
    explicit CFileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lower = m_old;
        lower.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &lower);
    }
    ~CFileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int);
};

TEST_F(HexFileTest, FailedWriteKeepsTheOldFileAndRemovesTheTemporaryOne) {
    const std::string path = PathOf("old.hex");
    Put(path, "old content");
    std::string error;
    {
        CFileSizeLimit limit(4096);
        EXPECT_FALSE(WriteFileAtomically(path, std::string(100000, 'n'), error));
    }
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(Get(path), "old content");
    EXPECT_EQ(Entries(m_dir), std::vector<std::string>{"old.hex"});
}

TEST_F(HexFileTest, TargetThatCannotBeReplacedIsLeftAlone) {
    // Written in full, then the replace fails: a folder stands in the way.
    const fs::path target = m_dir / "busy.hex";
    fs::create_directory(target);
    Put((target / "inside").string(), "keep");
    std::string error;
    EXPECT_FALSE(WriteFileAtomically(target.string(), "new", error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(Get((target / "inside").string()), "keep");
    EXPECT_EQ(Entries(m_dir), std::vector<std::string>{"busy.hex"});
}

}  // namespace
