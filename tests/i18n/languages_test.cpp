#include "i18n/languages.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace qf {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

TEST(Languages, ListedCapitalisedAndSortedIgnoringCase) {
    const fs::path dir = fs::temp_directory_path() / ("qf-langs-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "folder.ini");
    for (const char* name : {"german.ini", "English.ini", "fr.ini", ".ini", "notes.txt"}) {
        std::ofstream(dir / name) << "";
    }
    EXPECT_EQ(ListLanguages(dir.string()), (Names{"English", "Folder", "Fr", "German"}));
    EXPECT_TRUE(ListLanguages((dir / "missing").string()).empty());
    fs::remove_all(dir);
}

TEST(Languages, SelectionFallsBackToEnglishThenTheFirst) {
    const Names names{"English", "Fr", "German"};
    EXPECT_EQ(SelectLanguageIndex(names, "GERMAN"), 2);
    EXPECT_EQ(SelectLanguageIndex(names, "Klingon"), 0);
    EXPECT_EQ(SelectLanguageIndex({"Fr", "German"}, "Klingon"), 0);
    EXPECT_EQ(SelectLanguageIndex({"Fr", "English"}, "Klingon"), 1);
    EXPECT_EQ(SelectLanguageIndex({}, "English"), -1);
}

} // namespace
} // namespace qf
