#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "app/ProfileFile.h"

namespace fs = std::filesystem;

namespace {

class ProfileFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* base = std::getenv("XDG_CONFIG_HOME");
        m_dir = fs::path(base != nullptr ? base : fs::temp_directory_path().string()) /
                ("profile-" +
                 std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        m_path = (m_dir / "brenwick.INI").string();
    }
    void TearDown() override { fs::remove_all(m_dir); }

    void Put(const std::string& text) {
        std::ofstream out(m_path, std::ios::binary);
        out << text;
    }
    std::string Get() const {
        std::ifstream in(m_path, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }

    fs::path m_dir;
    std::string m_path;
};

TEST_F(ProfileFileTest, MissingFileReadsDefaultsAndFirstWriteCreatesIt) {
    CProfileFile profile((m_dir / "sub" / "deeper" / "x.INI").string());
    EXPECT_EQ(profile.GetInt("Device", "Type", 8535), 8535);
    EXPECT_EQ(profile.GetString("FileProg", "Name", "dflt"), "dflt");
    EXPECT_FALSE(fs::exists(profile.Path()));

    ASSERT_TRUE(profile.WriteInt("Device", "Type", 8535));
    std::ifstream in(profile.Path(), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    EXPECT_EQ(s.str(), "[Device]\nType=8535\n");
}

TEST_F(ProfileFileTest, NamesIgnoreCaseAndValuesAreRaw) {
    Put("[device]\ntype=8515\n[PathProg]\nName= /a b/c \n[Odd]\nk=\"quoted\";x=y\n");
    CProfileFile profile(m_path);
    EXPECT_EQ(profile.GetInt("DEVICE", "TYPE", 1), 8515);
    // Everything after '=' belongs to the value: no trimming, no quotes.
    EXPECT_EQ(profile.GetString("pathprog", "name", ""), " /a b/c ");
    EXPECT_EQ(profile.GetString("Odd", "K", ""), "\"quoted\";x=y");
}

TEST_F(ProfileFileTest, IntegerReadsLeadingDigitsOrDefault) {
    Put("[S]\na=12abc\nb=abc\nc=\nd=-5\ne=99999999999999999999\nf= 7\ng=+3\nh=0x10\n");
    CProfileFile profile(m_path);
    EXPECT_EQ(profile.GetInt("S", "a", -1), 12);
    EXPECT_EQ(profile.GetInt("S", "b", -1), -1);
    EXPECT_EQ(profile.GetInt("S", "c", -1), -1);
    EXPECT_EQ(profile.GetInt("S", "d", -1), -1);
    EXPECT_EQ(profile.GetInt("S", "e", -1), INT_MAX);
    EXPECT_EQ(profile.GetInt("S", "f", -1), 7);
    EXPECT_EQ(profile.GetInt("S", "g", -1), -1);
    EXPECT_EQ(profile.GetInt("S", "h", -1), 0);
    EXPECT_EQ(profile.GetInt("S", "missing", 42), 42);
    EXPECT_EQ(profile.GetInt("Nope", "a", 42), 42);
}

TEST_F(ProfileFileTest, WriteKeepsEverythingElse) {
    const std::string before =
        "; settings of brenwick\r\n"
        "stray line before sections\r\n"
        "[Device]\r\n"
        "TYPE=103\r\n"
        "; comment in section\r\n"
        "\r\n"
        "[Com]\r\n"
        "Port=2\r\n"
        "[Unknown]\r\n"
        "junk without equals\r\n";
    Put(before);
    CProfileFile profile(m_path);
    ASSERT_TRUE(profile.WriteInt("device", "type", 8515));
    ASSERT_TRUE(profile.WriteString("Com", "Extra", "x"));
    ASSERT_TRUE(profile.WriteString("FileProg", "Name", "/p/a.hex"));
    EXPECT_EQ(Get(),
              "; settings of brenwick\r\n"
              "stray line before sections\r\n"
              "[Device]\r\n"
              "TYPE=8515\r\n"
              "; comment in section\r\n"
              "\r\n"
              "[Com]\r\n"
              "Port=2\r\n"
              "Extra=x\r\n"
              "[Unknown]\r\n"
              "junk without equals\r\n"
              "\r\n"
              "[FileProg]\r\n"
              "Name=/p/a.hex\r\n");
}

TEST_F(ProfileFileTest, DuplicatesFirstWinsForReadAndWrite) {
    Put("[A]\nk=1\nk=2\n[a]\nk=3\n");
    CProfileFile profile(m_path);
    EXPECT_EQ(profile.GetInt("A", "k", 0), 1);
    ASSERT_TRUE(profile.WriteInt("A", "K", 9));
    EXPECT_EQ(Get(), "[A]\nk=9\nk=2\n[a]\nk=3\n");
}

TEST_F(ProfileFileTest, NoTrailingNewlineAndEntryInsertedInsideSection) {
    Put("[A]\nx=1\n\n[B]\ny=2");
    CProfileFile profile(m_path);
    EXPECT_EQ(profile.GetInt("B", "y", 0), 2);
    ASSERT_TRUE(profile.WriteInt("A", "z", 3));
    ASSERT_TRUE(profile.WriteInt("B", "w", 4));
    ASSERT_TRUE(profile.WriteInt("C", "v", 5));
    EXPECT_EQ(Get(), "[A]\nx=1\nz=3\n\n[B]\ny=2\nw=4\n\n[C]\nv=5\n");
}

TEST_F(ProfileFileTest, GarbageAndBinaryContentSurvive) {
    const std::string nul(1, '\0');
    const std::string garbage =
        std::string("\x00\xff[\x01]=\n", 7) + "[S]\nk=v" + nul + "w\n]]]]\n[[[\n=\n";
    Put(garbage);
    CProfileFile profile(m_path);
    EXPECT_EQ(profile.GetString("S", "k", ""), "v" + nul + "w");
    ASSERT_TRUE(profile.WriteString("S", "n", "1"));
    EXPECT_EQ(Get(), garbage + "n=1\n");
    EXPECT_EQ(profile.GetString("S", "n", ""), "1");
}

TEST_F(ProfileFileTest, RefusesWhatCannotBeOneLine) {
    Put("[S]\nk=v\n");
    CProfileFile profile(m_path);
    // A file name with a line break must not smuggle in entries or sections.
    EXPECT_FALSE(profile.WriteString("S", "k", "a\n[Com]\nPort=1"));
    EXPECT_FALSE(profile.WriteString("S", "k", "a\rb"));
    EXPECT_FALSE(profile.WriteString("S", "k=x", "v"));
    EXPECT_FALSE(profile.WriteString("S]", "k", "v"));
    EXPECT_FALSE(profile.WriteString("", "k", "v"));
    EXPECT_FALSE(profile.WriteString("S", "", "v"));
    EXPECT_FALSE(profile.WriteString("S", ";k", "v"));
    EXPECT_EQ(Get(), "[S]\nk=v\n");
}

TEST_F(ProfileFileTest, ValuesRoundTripExactly) {
    CProfileFile profile(m_path);
    for (const std::string value : {"", " lead", "trail ", "a=b=c", "[x]", ";semi", "ü/日本"}) {
        ASSERT_TRUE(profile.WriteString("S", "k", value));
        EXPECT_EQ(profile.GetString("S", "k", "default"), value);
    }
}

TEST_F(ProfileFileTest, WriteReplacesAtomicallyAndLeavesNoTemporaries) {
    CProfileFile profile(m_path);
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(profile.WriteInt("S", "n" + std::to_string(i % 3), i));
    }
    int files = 0;
    for (const auto& entry : fs::directory_iterator(m_dir)) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 1);
    EXPECT_EQ(profile.GetInt("S", "n1", 0), 19);
}

TEST_F(ProfileFileTest, UnreadableFileIsNeverReplaced) {
    // A folder where the file should be: nothing may be written over it.
    fs::create_directories(m_path);
    CProfileFile profile(m_path);
    EXPECT_EQ(profile.GetInt("S", "k", 5), 5);
    EXPECT_FALSE(profile.WriteInt("S", "k", 1));
    EXPECT_TRUE(fs::is_directory(m_path));
}

TEST_F(ProfileFileTest, WritesThroughSymbolicLinkAndKeepsPermissions) {
    const fs::path real = m_dir / "real.INI";
    {
        std::ofstream out(real);
        out << "[S]\nk=1\n";
    }
    fs::permissions(real, fs::perms::owner_read | fs::perms::owner_write);
    fs::create_symlink(real, m_path);
    CProfileFile profile(m_path);
    ASSERT_TRUE(profile.WriteInt("S", "k", 2));
    EXPECT_TRUE(fs::is_symlink(m_path));
    EXPECT_EQ(profile.GetInt("S", "k", 0), 2);
    EXPECT_EQ(fs::status(real).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}

}  // namespace
