#include "platform/wordproc/document_check.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace qf::wordproc {
namespace {

namespace fs = std::filesystem;

class LeadingBytesTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "qf-check-XXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::optional<std::string> Check(const std::string& name, const std::string& bytes) {
        fs::path p = dir_ / name;
        std::ofstream(p, std::ios::binary) << bytes;
        return CheckLeadingBytes(p.string());
    }

    fs::path dir_;
};

const std::string kOle2("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1\0\0\0\0\0\0\0\0", 16);
const std::string kZip("PK\x03\x04\x14\0\x06\0", 8);
const std::string kRtf = "{\\rtf1\\ansi Hello}";
const std::string kHtml = "<html><body><p>Hello</p></body></html>\n";
std::string Noise() {
    std::string s;
    for (int i = 0; i < 2048; ++i) {
        s += static_cast<char>((i * 7919 + 13) % 251);
    }
    return s;
}

TEST_F(LeadingBytesTest, AcceptsWhatEachExtensionPromises) {
    const std::pair<const char*, std::string> ok[] = {
        {"a.doc", kOle2},
        {"a.DOC", kOle2},
        {"a.dot", kOle2},
        {"a.doc", kRtf},
        {"a.doc", kHtml},
        {"a.docx", kZip},
        {"a.docm", kZip},
        {"encrypted.docx", kOle2},
        {"a.odt", kZip},
        {"a.rtf", kRtf},
        {"a.html", kHtml},
        {"a.htm", kHtml},
        {"a.txt", "plain words\n"},
        {"a.unknownext", Noise()},
        {"noextension", Noise()},
        {"a.html", "\xEF\xBB\xBF<p>Gr\xC3\xBC\xC3\x9F"
                   "e</p>"},
        // Misnamed documents, as applicants send them: the word processor
        // finds the real format.
        {"cv.doc", kZip},
        {"cv.rtf", kOle2},
        {"cv.doc", kRtf},
        {"cv.docx", kRtf},
        {"cv.odt", kOle2},
        {"cv.rtf", kHtml},
        {"cv.html", kRtf},
    };
    for (const auto& [name, bytes] : ok) {
        SCOPED_TRACE(name);
        auto r = Check(name, bytes);
        EXPECT_FALSE(r) << *r;
    }
}

TEST_F(LeadingBytesTest, RejectsBytesThatDoNotFitWithAReason) {
    const std::string exe = std::string("MZ\x90\0\x03\0\0\0\x04\0\0\0\xFF\xFF", 14) + Noise();
    const std::string elf = std::string("\x7F"
                                        "ELF\x02\x01\x01\0",
                                        8) +
                            Noise();
    const std::string png = std::string("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16) + Noise();
    const std::pair<const char*, std::string> bad[] = {
        {"a.doc", Noise()},  {"a.docx", Noise()},
        {"a.rtf", Noise()},  {"a.odt", Noise()},
        {"a.html", Noise()}, {"a.doc", exe},
        {"a.docx", elf},     {"a.rtf", png},
        {"a.txt", kOle2},    {"a.txt", std::string("ab\0cd", 5)},
    };
    for (const auto& [name, bytes] : bad) {
        SCOPED_TRACE(name);
        auto r = Check(name, bytes);
        ASSERT_TRUE(r);
        EXPECT_NE(r->find("do not fit its extension"), std::string::npos) << *r;
    }
    auto jpeg = Check("photo.docx", "\xFF\xD8\xFF\xE0\x00\x10JFIF\x00" + Noise());
    ASSERT_TRUE(jpeg);
    EXPECT_NE(jpeg->find("JPEG"), std::string::npos) << *jpeg;
}

TEST_F(LeadingBytesTest, EmptyAndMissingFilesAreReported) {
    auto empty = Check("a.doc", "");
    ASSERT_TRUE(empty);
    EXPECT_EQ(*empty, "The attachment is empty");
    auto missing = CheckLeadingBytes((dir_ / "gone.doc").string());
    ASSERT_TRUE(missing);
    EXPECT_NE(missing->find("could not be read"), std::string::npos);
}

TEST(PrintableTest, CountsWhatCannotBePrinted) {
    struct Case {
        std::string text;
        std::size_t visible, unprintable;
        bool mostly;
    };
    const Case cases[] = {
        {"", 0, 0, false},
        {"  \n\t\r\n", 0, 0, false},
        {"Hello, world", 11, 0, false},
        {"Gr\xC3\xBC\xC3\x9F"
         "e \xE4\xB8\xAD\xE6\x96\x87",
         7, 0, false},
        {"\x01\x02\x03"
         "abc",
         6, 3, true},
        {"abcdefgh\x01", 9, 1, false},
        {"\xEF\xBF\xBD\xEF\xBF\xBD"
         "ab",
         4, 2, true}, // U+FFFD
        {"\xEE\x80\x80"
         "abcd",
         5, 1, false}, // private use
        {"\xFF\xFE"
         "abc",
         5, 2, true}, // not UTF-8
        {"\xED\xA0\x80"
         "abc",
         6, 3, true}, // encoded surrogate
        {"\xC0\xAF"
         "abcdefgh",
         10, 2, false}, // overlong
        {"\xC2\x85\xC2\x9F"
         "a",
         3, 2, true},                     // C1 controls
        {"\xF4\x90\x80\x80", 4, 4, true}, // beyond U+10FFFF
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        PrintableCount count = CountPrintable(c.text);
        EXPECT_EQ(count.visible, c.visible);
        EXPECT_EQ(count.unprintable, c.unprintable);
        EXPECT_EQ(IsMostlyUnprintable(c.text), c.mostly);
    }
}

} // namespace
} // namespace qf::wordproc
