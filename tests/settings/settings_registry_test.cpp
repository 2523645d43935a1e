#include "common/error.h"
#include "common/fileio.h"
#include "settings/settings.h"
#include "test_support.h"

#include <gtest/gtest.h>

namespace qf {
namespace {

using registry::MemoryRegistry;
using registry::Value;
using testing_support::TempDir;
using testing_support::Unusual;

// What the registry keeps: everything but the profile, the reserved integer
// and the options file bookkeeping.
Settings RegistryPart(Settings s) {
    s.profile = 0;
    s.reservedInteger = 0;
    s.profileName.clear();
    s.password.clear();
    s.formatVersion = 0;
    s.optionsFilePath.clear();
    return s;
}

TEST(SettingsRegistryTest, AnEmptyRegistryGivesTheDefaultsAndGetsTheKey) {
    MemoryRegistry reg;
    Settings s;
    s.LoadFromRegistry(reg);
    EXPECT_TRUE(reg.KeyExists(kSettingsKey));
    EXPECT_TRUE(reg.ValueNames(kSettingsKey).empty());
    EXPECT_EQ(s, Settings::FirstStartDefaults());
}

TEST(SettingsRegistryTest, SavedValuesLoadBackEqual) {
    MemoryRegistry reg;
    const Settings original = Unusual();
    original.SaveToRegistry(reg);
    Settings back;
    back.LoadFromRegistry(reg);
    EXPECT_EQ(back, RegistryPart(original));

    // Value names, kinds and order as the desktop program writes them.
    const std::vector<std::string> names = reg.ValueNames(kSettingsKey);
    const std::vector<std::string> expected = {"Siftloom filter",
                                               "Save folder",
                                               "First number",
                                               "Number format",
                                               "Include subject",
                                               "Start tag",
                                               "End tag",
                                               "Include attachments",
                                               "msgDestination",
                                               "email header",
                                               "email footer",
                                               "move messages",
                                               "get from default folder",
                                               "from folder name",
                                               "reprocess emails",
                                               "sort order",
                                               "sort descending",
                                               "tag text",
                                               "extensions",
                                               "extension actions",
                                               "from.cb",
                                               "from.pentry",
                                               "to.cb",
                                               "to.pentry",
                                               "manual folder",
                                               "manual format",
                                               "from_store_cb",
                                               "from_store_entry",
                                               "to_store_cb",
                                               "to_store_entry",
                                               "readStatus",
                                               "wordmacro"};
    EXPECT_EQ(names, expected);
    EXPECT_EQ(reg.GetValue(kSettingsKey, "from.cb")->dword, 46u);
    EXPECT_EQ(reg.GetValue(kSettingsKey, "from.pentry")->bytes.size(), 46u);
    EXPECT_EQ(reg.GetValue(kSettingsKey, "get from default folder")->dword, 0u);
    EXPECT_EQ(reg.GetValue(kSettingsKey, "extension actions")->text, "4\r\n3\r\n1\r\n");
}

TEST(SettingsRegistryTest, TheFileRegistryKeepsMultiLineTextsAndIdentifiers) {
    TempDir dir;
    const std::string path = dir / "Brindlemox/registry.reg";
    {
        registry::FileRegistry reg(path);
        Unusual().SaveToRegistry(reg);
    }
    registry::FileRegistry reg(path);
    EXPECT_TRUE(reg.Warnings().empty());
    Settings back;
    back.LoadFromRegistry(reg);
    EXPECT_EQ(back, RegistryPart(Unusual()));
}

TEST(SettingsRegistryTest, IncludeSubjectPrefixesTheHeaderOnce) {
    MemoryRegistry reg;
    reg.CreateKey(kSettingsKey);
    reg.SetValue(kSettingsKey, "Include subject", Value::Dword(1));
    reg.SetValue(kSettingsKey, "email header", Value::String("From: %FROM\r\n"));
    Settings s;
    s.LoadFromRegistry(reg);
    EXPECT_EQ(s.emailHeader, "%SUBJECT\r\n\r\nFrom: %FROM\r\n");
    s.SaveToRegistry(reg);
    EXPECT_EQ(reg.GetValue(kSettingsKey, "Include subject")->dword, 0u);
    Settings again;
    again.LoadFromRegistry(reg);
    EXPECT_EQ(again.emailHeader, "%SUBJECT\r\n\r\nFrom: %FROM\r\n");
}

TEST(SettingsRegistryTest, ValuesOfTheWrongKindGiveTheDefaults) {
    MemoryRegistry reg;
    reg.CreateKey(kSettingsKey);
    reg.SetValue(kSettingsKey, "First number", Value::String("12"));
    reg.SetValue(kSettingsKey, "Save folder", Value::Dword(3));
    reg.SetValue(kSettingsKey, "Include attachments", Value::Binary({0}));
    reg.SetValue(kSettingsKey, "sort order", Value::Dword(2));
    reg.SetValue(kSettingsKey, "sort descending", Value::Dword(7)); // non-zero is true
    Settings s;
    s.LoadFromRegistry(reg);
    const Settings d = Settings::FirstStartDefaults();
    EXPECT_EQ(s.firstNumber, 0);
    EXPECT_EQ(s.directory, d.directory);
    EXPECT_TRUE(s.includeAttachments);
    EXPECT_EQ(s.sortOrder, 2);
    EXPECT_TRUE(s.descending);
}

// Each broken identifier block empties its own folder name and nothing else.
TEST(SettingsRegistryTest, ABrokenIdentifierBlockEmptiesItsFolderName) {
    struct Case {
        const char* what;
        std::function<void(MemoryRegistry&)> breakIt;
    } cases[] = {
        {"entry longer than cb",
         [](MemoryRegistry& r) {
             r.SetValue(kSettingsKey, "from.cb", Value::Dword(24));
             r.SetValue(kSettingsKey, "from.pentry",
                        Value::Binary(std::vector<std::uint8_t>(25, 1)));
         }},
        {"entry not binary",
         [](MemoryRegistry& r) { r.SetValue(kSettingsKey, "from.pentry", Value::String("x")); }},
        {"store entry too long",
         [](MemoryRegistry& r) {
             r.SetValue(kSettingsKey, "from_store_cb", Value::Dword(0));
             r.SetValue(kSettingsKey, "from_store_entry",
                        Value::Binary(std::vector<std::uint8_t>(30, 1)));
         }},
        {"huge cb",
         [](MemoryRegistry& r) { r.SetValue(kSettingsKey, "from.cb", Value::Dword(0x7fffffff)); }},
        {"negative cb",
         [](MemoryRegistry& r) { r.SetValue(kSettingsKey, "from.cb", Value::Dword(0xffffffff)); }},
        {"huge store cb",
         [](MemoryRegistry& r) {
             r.SetValue(kSettingsKey, "from_store_cb", Value::Dword(1u << 30));
         }},
    };
    for (const auto& c : cases) {
        MemoryRegistry reg;
        Unusual().SaveToRegistry(reg);
        c.breakIt(reg);
        Settings s;
        s.LoadFromRegistry(reg);
        EXPECT_EQ(s.messageSource, "") << c.what;
        EXPECT_EQ(s.messageDestination, "Processed") << c.what;
        EXPECT_EQ(s.destinationFolder, Unusual().destinationFolder) << c.what;
        EXPECT_LE(s.sourceFolder.folderId.Length(), EntryId::kMaxLength) << c.what;
        EXPECT_LE(s.sourceFolder.storeId.Length(), EntryId::kMaxLength) << c.what;
    }
}

TEST(SettingsRegistryTest, ShorterEntriesFillTheStartOfTheIdentifier) {
    MemoryRegistry reg;
    reg.CreateKey(kSettingsKey);
    reg.SetValue(kSettingsKey, "to.cb", Value::Dword(10)); // never below 24
    reg.SetValue(kSettingsKey, "to.pentry", Value::Binary({7, 8}));
    reg.SetValue(kSettingsKey, "msgDestination", Value::String("Done"));
    Settings s;
    s.LoadFromRegistry(reg);
    ASSERT_EQ(s.destinationFolder.folderId.Length(), 24u);
    EXPECT_EQ(s.destinationFolder.folderId.Bytes()[1], 8);
    EXPECT_EQ(s.destinationFolder.folderId.Bytes()[2], 0);
    EXPECT_EQ(s.messageDestination, "Done");
}

TEST(SettingsRegistryTest, ListsOfUnequalLengthLoadWithoutHarm) {
    MemoryRegistry reg;
    reg.CreateKey(kSettingsKey);
    reg.SetValue(kSettingsKey, "extensions", Value::String(".a\r\n.b\r\n.c\r\n"));
    reg.SetValue(kSettingsKey, "extension actions", Value::String("2\n"));
    Settings s;
    s.LoadFromRegistry(reg);
    EXPECT_EQ(s.extensions.size(), 3u);
    EXPECT_EQ(s.ActionForExtension(".A"), 2);
    EXPECT_THROW(s.ActionForExtension(".c"), Error);
    s.SaveToRegistry(reg);
    EXPECT_EQ(reg.GetValue(kSettingsKey, "extension actions")->text, "2\r\n");
}

TEST(SettingsRegistryTest, ARegistryFileCutInHalfGivesDefaultsForWhatIsLost) {
    TempDir dir;
    const std::string path = dir / "registry.reg";
    {
        registry::FileRegistry reg(path);
        Unusual().SaveToRegistry(reg);
    }
    const std::string text = ReadFileBytes(path);
    WriteFileAtomic(path, text.substr(0, text.size() / 2));
    registry::FileRegistry reg(path, registry::FileRegistry::Mode::ReadOnly);
    Settings s;
    s.LoadFromRegistry(reg);
    EXPECT_EQ(s.filterFilename, Unusual().filterFilename); // early: kept
    EXPECT_EQ(s.wordMacro, "");                            // late: default
    EXPECT_EQ(s.manualFormat, "%FROM_%NUMBER");
}

TEST(SplitLinesTest, SplitsAtEveryLineEnd) {
    EXPECT_EQ(SplitLines(""), std::vector<std::string>{});
    EXPECT_EQ(SplitLines("a\r\nb\r\n"), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(SplitLines("a\nb\rc"), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(SplitLines("\r\n\r\n"), (std::vector<std::string>{"", ""}));
    EXPECT_EQ(JoinLines({"", "x"}), "\r\nx\r\n");
}

} // namespace
} // namespace qf
