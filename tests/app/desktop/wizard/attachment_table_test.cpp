#include "app/desktop/wizard/attachment_table.h"
#include "common/error.h"

#include <gtest/gtest.h>

namespace qf::desktop {
namespace {

TEST(AttachmentTableTest, TheDefaultTableShowsNineteenRowsWithPdfPrinted) {
    const AttachmentRows rows = DefaultRows();
    ASSERT_EQ(rows.size(), 19u);
    EXPECT_EQ(rows[13], (AttachmentRow{".pdf", "Print to default printer"}));
    EXPECT_EQ(rows[0], (AttachmentRow{".doc", "Open (using MS Word)"}));
    EXPECT_EQ(rows[5], (AttachmentRow{".txt", "Open (without using Word)"}));
}

TEST(AttachmentTableTest, RowsGoBackToTheSameLists) {
    Settings record;
    record.RestoreDefaultExtensions();
    Settings copy;
    GridToList(ListToGrid(record), copy);
    EXPECT_EQ(copy.extensions, record.extensions);
    EXPECT_EQ(copy.extensionActions, record.extensionActions);
}

TEST(AttachmentTableTest, ARowWithoutAnActionIsStoredAsCodeSix) {
    Settings record;
    GridToList({{".doc2", ""}, {"", "Handle manually"}}, record);
    EXPECT_EQ(record.extensions, (std::vector<std::string>{".doc2", ""}));
    EXPECT_EQ(record.extensionActions, (std::vector<std::string>{"6", "2"}));
}

TEST(AttachmentTableTest, NoRowsGiveTwoEmptyListsAndEveryAttachmentIsIgnored) {
    Settings record;
    record.RestoreDefaultExtensions();
    GridToList({}, record);
    EXPECT_TRUE(record.extensions.empty());
    EXPECT_TRUE(record.extensionActions.empty());
    EXPECT_EQ(record.ActionForExtension(".doc"), 3);
}

TEST(AttachmentTableTest, BrokenTablesFailWithTheConversionTexts) {
    Settings record;
    record.extensions = {".doc", ".zip"};
    record.extensionActions = {"1", "x2"};
    try {
        ListToGrid(record);
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "'x2' is not a valid integer value");
    }
    record.extensionActions = {"1"};
    try {
        ListToGrid(record);
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "List index out of bounds (1)");
    }
}

TEST(AttachmentTableTest, ACodeOutsideTheSixShowsNoActionAndAnEmptyCodeFails) {
    Settings record;
    record.extensions = {".a", ".b"};
    record.extensionActions = {"9", "0"};
    const AttachmentRows rows = ListToGrid(record);
    EXPECT_EQ(rows[0].action, "");
    EXPECT_EQ(rows[1].action, "");
    record.extensionActions = {"1", ""};
    EXPECT_THROW(ListToGrid(record), Error);
}

TEST(AttachmentTableTest, TheHintTellsWhatConvertingAPdfDoesAndRecommendsIt) {
    const std::string convert = ActionCaptions()[0];
    const std::string print = ActionCaptions()[3];
    EXPECT_NE(ActionHint({".PDF", convert}).find("(a scan)"), std::string::npos);
    EXPECT_NE(ActionHint({".pdf", print}).find("choose \"Open (using MS Word)\""),
              std::string::npos);
    EXPECT_NE(ActionHint({".docx", ""}).find("Choose \"Open (using MS Word)\""), std::string::npos);
    EXPECT_NE(ActionHint({".odt", print}), "");
    // Nothing to say about a document converted already, or other types.
    EXPECT_EQ(ActionHint({".docx", convert}), "");
    EXPECT_EQ(ActionHint({".zip", print}), "");
    EXPECT_EQ(ActionHint({".pdfx", print}), "");
}

} // namespace
} // namespace qf::desktop
