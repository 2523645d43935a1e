#include "i18n/langfile.h"

#include "common/error.h"

#include <gtest/gtest.h>

namespace qf {
namespace {

std::string Value(const LangDocument& doc, std::string_view section, std::string_view key) {
    auto v = doc.FindValue(section, key);
    return v ? std::string(*v) : "<missing>";
}

TEST(LangDocument, ReadsTheFileRules) {
    const auto doc = LangDocument::Parse("before=ignored\r\n"
                                         "[TForm1]\n"
                                         "OKBtn.Caption=&Fertig\r"
                                         "; OKBtn.Hint=comment\r\n"
                                         "OKBtn.Hint=  spaced = kept  \n"
                                         "okbtn.caption=second line of the key\n"
                                         "Empty=\n"
                                         "no entry here\n"
                                         "[global]\n"
                                         "8430=Speichern?\n"
                                         "[tform1]\n"
                                         "Other=second section of the name\n"
                                         " [NotASection]\n"
                                         "[Last] \n"
                                         "tail=no line end");
    EXPECT_EQ(Value(doc, "TForm1", "OKBtn.Caption"), "&Fertig");
    EXPECT_EQ(Value(doc, "tform1", "okbtn.caption"), "&Fertig");
    EXPECT_EQ(Value(doc, "TFORM1", "OKBtn.Hint"), "  spaced = kept  ");
    EXPECT_EQ(Value(doc, "TForm1", "Empty"), "");
    EXPECT_EQ(Value(doc, "TForm1", "Other"), "<missing>");
    EXPECT_EQ(Value(doc, "TForm1", "no entry here"), "<missing>");
    EXPECT_EQ(Value(doc, "TForm1", "; OKBtn.Hint"), "<missing>");
    EXPECT_EQ(Value(doc, "Global", "8430"), "Speichern?");
    EXPECT_EQ(Value(doc, "global", " [NotASection]"), "<missing>");
    // " [NotASection]" and "[Last] " open nothing: "tail" stands in the second
    // "tform1" section, which is never consulted.
    EXPECT_EQ(Value(doc, "tform1", "tail"), "<missing>");
    ASSERT_EQ(doc.Sections().size(), 3u);
    EXPECT_EQ(doc.Sections()[2].lines.back(), "tail=no line end");
    EXPECT_EQ(Value(doc, "", "before"), "<missing>");
    EXPECT_EQ(doc.Sections()[2].name, "tform1");
}

TEST(LangDocument, SkipsAByteOrderMark) {
    const auto doc = LangDocument::Parse("\xEF\xBB\xBF[global]\r\n1=x\r\n");
    EXPECT_EQ(Value(doc, "global", "1"), "x");
}

TEST(LangDocument, RecordsIntoTheFirstSectionAndKeepsComments) {
    auto doc = LangDocument::Parse("; Deutsch, by a translator\r\n"
                                   "\r\n"
                                   "[TfileTypesForm]\r\n"
                                   "; headings\r\n"
                                   "Grid.col_1.row_0=Typ\r\n"
                                   "Grid.col_1.row_0=second\r\n"
                                   "\r\n"
                                   "; end of the editor\r\n"
                                   "\r\n\r\n"
                                   "[tfiletypesform]\r\n"
                                   "x=y\r\n");
    doc.SetValue("TFILETYPESFORM", "grid.col_1.row_0", "Art");
    doc.SetValue("TfileTypesForm", "Grid.col_2.row_0", "Aktion");
    doc.SetValue("TTstatusForm", "Exceptions.col_1.row_0", "Ausnahmen");
    const std::string expected = "; Deutsch, by a translator\r\n"
                                 "\r\n"
                                 "[TfileTypesForm]\r\n"
                                 "; headings\r\n"
                                 "grid.col_1.row_0=Art\r\n"
                                 "Grid.col_1.row_0=second\r\n"
                                 "Grid.col_2.row_0=Aktion\r\n"
                                 "\r\n"
                                 "; end of the editor\r\n"
                                 "\r\n"
                                 "[tfiletypesform]\r\n"
                                 "x=y\r\n"
                                 "\r\n"
                                 "[TTstatusForm]\r\n"
                                 "Exceptions.col_1.row_0=Ausnahmen\r\n"
                                 "\r\n";
    EXPECT_EQ(doc.Serialize(), expected);
    // Writing what was read changes nothing.
    EXPECT_EQ(LangDocument::Parse(expected).Serialize(), expected);
}

TEST(LangDocument, FirstRecordingOfAnEmptyFile) {
    auto doc = LangDocument::Parse("");
    doc.SetValue("TfileTypesForm", "Grid.col_1.row_0", "Type");
    doc.SetValue("TfileTypesForm", "Grid.col_2.row_0", "Action");
    EXPECT_EQ(doc.Serialize(), "[TfileTypesForm]\r\nGrid.col_1.row_0=Type\r\n"
                               "Grid.col_2.row_0=Action\r\n\r\n");
}

TEST(LangDocument, RefusesLinesThatWouldReadBackDifferently) {
    auto doc = LangDocument::Parse("");
    EXPECT_THROW(doc.SetValue("S", "a=b", "v"), Error);
    EXPECT_THROW(doc.SetValue("S", "a\nb", "v"), Error);
    EXPECT_THROW(doc.SetValue("S", "k", "line\r\nbreak"), Error);
    EXPECT_THROW(doc.SetValue("S\n", "k", "v"), Error);
    EXPECT_THROW(doc.SetValue("S", ";k", "v"), Error);
    EXPECT_THROW(doc.SetValue("S", "[k", "v]"), Error);
    EXPECT_TRUE(doc.Sections().empty());
}

} // namespace
} // namespace qf
