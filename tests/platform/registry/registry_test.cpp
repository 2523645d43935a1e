#include "common/error.h"
#include "common/fileio.h"
#include "platform/registry/registry.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>

namespace qf::registry {
namespace {

namespace fs = std::filesystem;

class RegistryFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/qf-registry-XXXXXX";
        dir_ = ::mkdtemp(tmpl);
        path_ = dir_ + "/Brindlemox/registry.reg";
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string dir_;
    std::string path_;
};

const char* kKey = "SOFTWARE\\Brindlemox\\Quillfence";

// Values that exercise every escape and kind the file knows.
void FillSample(Registry& reg) {
    ASSERT_TRUE(reg.CreateKey(kKey));
    reg.SetValue(kKey, "Start tag", Value::String("\r\n****\r\nAttached file: %FILENAME\r\n"));
    reg.SetValue(kKey, "quotes", Value::String("say \"hi\" C:\\dir\\ \\r literally"));
    reg.SetValue(kKey, "utf8", Value::String("Grüße ✓"));
    reg.SetValue(kKey, "empty", Value::String(""));
    reg.SetValue(kKey, "", Value::String("default value"));
    reg.SetValue(kKey, "First number", Value::Dword(0x1f));
    reg.SetValue(kKey, "max", Value::Dword(0xffffffffu));
    reg.SetValue(kKey, "from.pentry", Value::Binary({0xaa, 0xbb, 0x00, 0xff}));
    reg.SetValue(kKey, "nothing", Value::Binary({}));
    ASSERT_TRUE(reg.CreateKey("Software\\Brindlemox\\Siftloom"));
    reg.SetValue("Software\\Brindlemox\\Siftloom", "rootDir", Value::String("/opt/siftloom/"));
}

TEST_F(RegistryFileTest, SavedFileReadsBackEqualAndIsOwnerOnly) {
    {
        FileRegistry reg(path_);
        EXPECT_TRUE(reg.Warnings().empty());
        FillSample(reg);
        reg.Flush();
    }
    struct stat st {};
    ASSERT_EQ(::stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    const std::string text = ReadFileBytes(path_);
    EXPECT_TRUE(text.starts_with("Windows Registry Editor Version 5.00\n"));
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\SOFTWARE\\Brindlemox\\Quillfence]\n"),
              std::string::npos);
    EXPECT_NE(text.find("\"First number\"=dword:0000001f\n"), std::string::npos);
    EXPECT_NE(text.find("\"from.pentry\"=hex:aa,bb,00,ff\n"), std::string::npos);
    EXPECT_NE(text.find("\"Start tag\"=\"\\r\\n****\\r\\nAttached file: %FILENAME\\r\\n\"\n"),
              std::string::npos);
    EXPECT_NE(text.find("\"quotes\"=\"say \\\"hi\\\" C:\\\\dir\\\\ \\\\r literally\"\n"),
              std::string::npos);
    EXPECT_NE(text.find("@=\"default value\"\n"), std::string::npos);

    FileRegistry back(path_);
    EXPECT_TRUE(back.Warnings().empty());
    MemoryRegistry expected;
    FillSample(expected);
    EXPECT_EQ(FormatRegText(back), FormatRegText(expected));
    for (const auto& name : expected.ValueNames(kKey)) {
        EXPECT_EQ(back.GetValue(kKey, name), expected.GetValue(kKey, name)) << name;
    }

    // A mode the owner gave the file survives the next save.
    ASSERT_EQ(::chmod(path_.c_str(), 0640), 0);
    back.SetValue(kKey, "again", Value::Dword(1));
    back.Flush();
    ASSERT_EQ(::stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(MemoryRegistryTest, NamesCompareWithoutCaseAndKeepTheirFirstSpelling) {
    MemoryRegistry reg;
    ASSERT_TRUE(reg.CreateKey("Software\\Brindlemox\\Quillfence"));
    EXPECT_TRUE(reg.KeyExists("SOFTWARE\\BRINDLEMOX\\quillfence"));
    EXPECT_TRUE(reg.KeyExists("software\\brindlemox"));
    reg.SetValue("software\\brindlemox\\QUILLFENCE", "Save Folder", Value::String("a"));
    reg.SetValue("Software\\Brindlemox\\Quillfence", "save folder", Value::String("b"));
    EXPECT_EQ(reg.ValueNames("SOFTWARE\\Brindlemox\\Quillfence"),
              std::vector<std::string>{"Save Folder"});
    EXPECT_EQ(reg.GetValue(kKey, "SAVE FOLDER")->text, "b");
    EXPECT_EQ(reg.SubKeyNames("software\\BRINDLEMOX"), std::vector<std::string>{"Quillfence"});
    EXPECT_FALSE(reg.SetValue("Software\\Missing", "x", Value::Dword(1)));
    EXPECT_FALSE(reg.CreateKey("A\\\\B"));
    EXPECT_TRUE(reg.DeleteKey("software\\brindlemox"));
    EXPECT_FALSE(reg.KeyExists(kKey));
}

TEST(RegistryKeyTest, OpensWithOrWithoutCreatingAndReadsTypedValues) {
    MemoryRegistry reg;
    RegistryKey key(reg);
    EXPECT_FALSE(key.OpenKey(kKey, false));
    EXPECT_FALSE(reg.KeyExists(kKey));
    ASSERT_TRUE(key.OpenKey(kKey, true));
    key.WriteString("s", "text");
    key.WriteInteger("i", -5);
    key.WriteBool("b", true);
    const std::uint8_t bytes[] = {1, 2, 3};
    key.WriteBinaryData("bin", bytes);

    EXPECT_EQ(key.ReadString("S"), "text");
    EXPECT_EQ(key.ReadInteger("I"), -5);
    EXPECT_TRUE(key.ReadBool("b"));
    std::uint8_t big[4] = {9, 9, 9, 9};
    EXPECT_EQ(key.ReadBinaryData("bin", big), 3u);
    EXPECT_EQ(big[2], 3);
    EXPECT_EQ(big[3], 9);
    std::uint8_t small[2];
    EXPECT_THROW(key.ReadBinaryData("bin", small), Error);
    EXPECT_THROW(key.ReadInteger("s"), Error);
    EXPECT_THROW(key.ReadString("missing"), Error);
    try {
        key.ReadString("i");
        FAIL();
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Invalid data type for 'i'");
    }
}

// Each damaged line is reported; the lines around it still count.
TEST(RegTextTest, DamagedLinesAreSkippedAndReported) {
    struct Case {
        const char* line;
        const char* why;
    } cases[] = {
        {"\"a\"=\"unterminated", "unterminated text"},
        {"\"a\"=dword:0000", "eight hex digits"},
        {"\"a\"=dword:0000001g", "eight hex digits"},
        {"\"a\"=hex:aa,b", "two hex digits"},
        {"\"a\"=hex:aa,", "ends with a comma"},
        {"\"a\"=hex(2):41,00", "not supported"},
        {"\"a\"=\"x\" trailing", "after the text"},
        {"\"a", "unterminated value name"},
        {"\"a\" \"x\"", "without \"=\""},
        {"garbage", "not a key"},
        {"[HKEY_LOCAL_MACHINE\\SOFTWARE]", "HKEY_CURRENT_USER"},
        {"[HKEY_CURRENT_USER\\SOFTWARE\\Cut", "closing"},
    };
    for (const auto& c : cases) {
        std::string text = "Windows Registry Editor Version 5.00\r\n\r\n"
                           "[HKEY_CURRENT_USER\\SOFTWARE\\Brindlemox\\Quillfence]\r\n"
                           "\"before\"=dword:00000001\r\n" +
                           std::string(c.line) +
                           "\r\n"
                           "[HKEY_CURRENT_USER\\SOFTWARE\\Brindlemox\\Quillfence]\r\n"
                           "\"after\"=\"ok\"\r\n";
        MemoryRegistry reg;
        std::vector<std::string> warnings;
        ParseRegText(text, reg, warnings);
        ASSERT_EQ(warnings.size(), 1u) << c.line;
        EXPECT_TRUE(warnings[0].starts_with("line 5: ")) << warnings[0];
        EXPECT_NE(warnings[0].find(c.why), std::string::npos) << warnings[0];
        EXPECT_EQ(reg.GetValue(kKey, "before")->dword, 1u) << c.line;
        EXPECT_EQ(reg.GetValue(kKey, "after")->text, "ok") << c.line;
        EXPECT_FALSE(reg.GetValue(kKey, "a").has_value()) << c.line;
    }
}

TEST(RegTextTest, ReadsContinuedByteListsUtf16FilesAndMissingHeader) {
    MemoryRegistry reg;
    std::vector<std::string> warnings;
    ParseRegText("Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\K]\n"
                 "\"b\"=hex:01,02,\\\n  03,04\n; comment\n\"c\"=dword:00000002\n",
                 reg, warnings);
    EXPECT_TRUE(warnings.empty());
    EXPECT_EQ(reg.GetValue("K", "b")->bytes, (std::vector<std::uint8_t>{1, 2, 3, 4}));
    EXPECT_EQ(reg.GetValue("K", "c")->dword, 2u);

    std::u16string wide =
        u"Windows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER\\K]\r\n\"s\"=\"é\"\r\n";
    std::string utf16 = "\xFF\xFE";
    for (char16_t ch : wide) {
        utf16 += static_cast<char>(ch & 0xFF);
        utf16 += static_cast<char>(ch >> 8);
    }
    MemoryRegistry reg2;
    ParseRegText(utf16, reg2, warnings);
    EXPECT_TRUE(warnings.empty());
    EXPECT_EQ(reg2.GetValue("K", "s")->text, "é");

    MemoryRegistry reg3;
    ParseRegText("[HKEY_CURRENT_USER\\K]\n\"s\"=\"x\"\n", reg3, warnings);
    EXPECT_EQ(warnings.size(), 1u);
    EXPECT_EQ(reg3.GetValue("K", "s")->text, "x");
}

// A file cut at any byte never crashes the reader, and every value it keeps
// is exactly a value of the whole file.
TEST(RegTextTest, AFileCutAnywhereKeepsOnlyIntactValues) {
    MemoryRegistry whole;
    FillSample(whole);
    const std::string text = FormatRegText(whole);
    for (size_t cut = 0; cut <= text.size(); ++cut) {
        MemoryRegistry reg;
        std::vector<std::string> warnings;
        ParseRegText(std::string_view(text).substr(0, cut), reg, warnings);
        for (const auto* key : reg.Keys()) {
            for (const auto& [name, value] : key->values) {
                auto original = whole.GetValue(key->path, name);
                ASSERT_TRUE(original.has_value()) << cut << " " << name;
                EXPECT_EQ(value, *original) << "cut at " << cut << ": " << name;
            }
        }
    }
}

TEST_F(RegistryFileTest, ADamagedFileIsKeptBesideTheNewOne) {
    MakeDirectories(dir_ + "/Brindlemox");
    const std::string damaged = "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\K]\n"
                                "\"good\"=dword:00000007\n\"bad\"=dword:12\n";
    WriteFileAtomic(path_, damaged);
    FileRegistry reg(path_);
    ASSERT_EQ(reg.Warnings().size(), 1u);
    EXPECT_EQ(reg.GetValue("K", "good")->dword, 7u);
    reg.SetValue("K", "new", Value::Dword(1));
    reg.Flush();
    EXPECT_EQ(ReadFileBytes(path_ + ".damaged"), damaged);
    FileRegistry back(path_);
    EXPECT_TRUE(back.Warnings().empty());
    EXPECT_EQ(back.GetValue("K", "good")->dword, 7u);
}

TEST_F(RegistryFileTest, AFailedSaveLeavesTheOldFileWhole) {
    {
        FileRegistry reg(path_);
        FillSample(reg);
        reg.Flush();
    }
    const std::string before = ReadFileBytes(path_);
    FileRegistry reg(path_);
    reg.SetValue(kKey, "First number", Value::Dword(99));
    reg.SetValue(kKey, "big", Value::String(std::string(1 << 20, 'x')));
    // A file size limit makes the write fail part-way, whatever our rights.
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 64 * 1024;
    ::setrlimit(RLIMIT_FSIZE, &small);
    EXPECT_THROW(reg.Flush(), FileError);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(ReadFileBytes(path_), before);
    for (const auto& entry : fs::directory_iterator(dir_ + "/Brindlemox")) {
        EXPECT_FALSE(entry.path().string().ends_with(".tmp")) << "left behind: " << entry.path();
    }
}

TEST_F(RegistryFileTest, TwoProgramsSavingKeepEachOthersValues) {
    FileRegistry desktop(path_);
    FileRegistry batch(path_);
    ASSERT_TRUE(desktop.CreateKey(kKey));
    desktop.SetValue(kKey, "language", Value::String("English"));
    desktop.SetValue(kKey, "gone", Value::Dword(1));
    desktop.Flush();
    ASSERT_TRUE(batch.CreateKey(kKey));
    batch.SetValue(kKey, "First number", Value::Dword(42));
    batch.Flush();
    EXPECT_EQ(batch.GetValue(kKey, "language")->text, "English") << "sees the other's values";
    desktop.DeleteValue(kKey, "gone");
    desktop.SetValue(kKey, "language", Value::String("Deutsch"));
    desktop.Flush();

    FileRegistry back(path_);
    EXPECT_EQ(back.GetValue(kKey, "First number")->dword, 42u);
    EXPECT_EQ(back.GetValue(kKey, "language")->text, "Deutsch");
    EXPECT_FALSE(back.GetValue(kKey, "gone").has_value());
}

TEST_F(RegistryFileTest, ReadOnlyModeNeverWrites) {
    FileRegistry reg(path_, FileRegistry::Mode::ReadOnly);
    RegistryKey key(reg);
    ASSERT_TRUE(key.OpenKey(kKey, true));
    key.WriteInteger("x", 1);
    key.CloseKey();
    EXPECT_FALSE(fs::exists(path_));
}

TEST_F(RegistryFileTest, ClosingAKeyThatWroteSavesTheFile) {
    FileRegistry reg(path_);
    RegistryKey key(reg);
    ASSERT_TRUE(key.OpenKey(kKey, true));
    key.WriteString("Save folder", "/out/");
    key.CloseKey();
    FileRegistry back(path_);
    EXPECT_EQ(back.GetValue(kKey, "save folder")->text, "/out/");
}

} // namespace
} // namespace qf::registry
