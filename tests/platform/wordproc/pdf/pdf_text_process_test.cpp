// quillfence-pdftext as the run starts it, over PDFs the tests make: reading
// order, ligatures and accents, encryption, scans, damaged files, and files
// made to exhaust the reader, which the deadline and the memory limit stop.
#include "common/fileio.h"
#include "common/process.h"
#include "platform/wordproc/pdf/pdf_text_process.h"
#include "support/pdf_maker.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

namespace qf::pdf {
namespace {

using namespace std::chrono_literals;
using qf::testing::MakePdf;
using qf::testing::PdfLine;
using qf::testing::PdfPage;
using qf::testing::TextPage;

class PdfTextTest : public ::testing::Test {
protected:
    qf::testing::TempDir temp;

    std::string Write(const std::string& name, const std::string& bytes) {
        const std::string path = temp.path() + name;
        WriteFileAtomic(path, bytes);
        return path;
    }
    static PdfTextOptions Options(std::chrono::milliseconds deadline = 20s) {
        PdfTextOptions options;
        options.program = QF_PDFTEXT_EXE;
        options.deadline = deadline;
        return options;
    }
    // The failure reading `path` gives; fails the test when it gives text.
    static PdfFailure FailureOf(const std::string& path,
                                const PdfTextOptions& options = Options()) {
        try {
            const PdfText text = PdfTextProcess(options).Read(path);
            ADD_FAILURE() << "text instead of a failure: " << text.text;
        } catch (const PdfError& e) {
            return e.failure();
        }
        return PdfFailure::ReaderFailed;
    }
    // A PDF encrypted by qpdf; empty when qpdf is not installed.
    std::string Encrypt(const std::string& plain, const std::string& userPassword) {
        if (FindProgramOnPath("qpdf").empty()) {
            return {};
        }
        const std::string out = temp.path() + "encrypted-" + userPassword + ".pdf";
        const std::string cmd = "qpdf --encrypt '" + userPassword + "' owner-secret 256 -- '" +
                                plain + "' '" + out + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
        return out;
    }
    std::string TwoPageLetter() {
        return Write("letter.pdf", MakePdf({TextPage({{72, 720, "Dear Ms Berg,"}}),
                                            TextPage({{72, 720, "Kind regards"}})}));
    }
};

TEST_F(PdfTextTest, TwoColumnsReadColumnByColumnAndPagesEndWithAFormFeed) {
    // The file draws the columns line by line, across: left, right, left...
    PdfPage cv;
    const char* left[] = {"Contact", "Phone 030 1234567", "Skills", "C++ and SQL"};
    const char* right[] = {"Profile", "Engineer with twelve", "years of desktop work",
                           "in schools and offices"};
    for (int i = 0; i < 4; ++i) {
        cv.lines.push_back({60, 720.0 - 14 * i, left[i]});
        cv.lines.push_back({300, 720.0 - 14 * i, right[i]});
    }
    PdfPage second = TextPage({{72, 720, "References on request"}});
    second.compressed = true;
    const PdfText text = PdfTextProcess(Options()).Read(Write("cv.pdf", MakePdf({cv, second})));
    EXPECT_EQ(text.text, "Contact\nPhone 030 1234567\nSkills\nC++ and SQL\n\n"
                         "Profile\nEngineer with twelve\nyears of desktop work\n"
                         "in schools and offices\n\fReferences on request");
    EXPECT_FALSE(text.incomplete);
}

TEST_F(PdfTextTest, LigaturesAccentsAndSoftHyphensComeOutAsPlainWords) {
    using namespace qf::testing;
    PdfPage page;
    page.lines = {
        {72, 720,
         "Mar\xED"
         "a Fern\xE1"
         "ndez, J\xFC"
         "rgen M\xFC"
         "ller, Fran\xE7"
         "ois"},
        {72, 706,
         std::string("o") + kPdfFf + "ice " + kPdfFi + "le " + kPdfFl + "ow e" + kPdfFfi +
             "cient ba" + kPdfFfl + "ed"},
        {72, 692,
         std::string("I would like to co") + kPdfSoftHyphen + "operate on the appli" +
             kPdfSoftHyphen},
        {72, 678, "cation process."},
    };
    const PdfText text = PdfTextProcess(Options()).Read(Write("accents.pdf", MakePdf({page})));
    EXPECT_EQ(text.text, "Mar\u00EDa Fern\u00E1ndez, J\u00FCrgen M\u00FCller, Fran\u00E7ois\n"
                         "office file flow efficient baffled\n"
                         "I would like to cooperate on the application process.");
}

TEST_F(PdfTextTest, AnEncryptedPdfIsReadUnlessItNeedsAPasswordToOpen) {
    const std::string plain = TwoPageLetter();
    const std::string ownerOnly = Encrypt(plain, "");
    if (ownerOnly.empty()) {
        GTEST_SKIP() << "qpdf is not installed";
    }
    EXPECT_EQ(PdfTextProcess(Options()).Read(ownerOnly).text, "Dear Ms Berg,\n\fKind regards");
    EXPECT_EQ(FailureOf(Encrypt(plain, "letmein")), PdfFailure::NeedsPassword);
}

TEST_F(PdfTextTest, APdfWithoutTextIsAScanAndDamagedFilesSaySo) {
    PdfPage scan;
    scan.picture = true;
    EXPECT_EQ(FailureOf(Write("scan.pdf", MakePdf({scan, scan}))), PdfFailure::NoText);
    EXPECT_EQ(FailureOf(Write("blank.pdf", MakePdf({TextPage({{72, 720, "   "}})}))),
              PdfFailure::NoText);

    EXPECT_EQ(FailureOf(Write("not.pdf", "Hello, this is no PDF\n")), PdfFailure::Damaged);
    EXPECT_EQ(FailureOf(Write("empty.pdf", "")), PdfFailure::Damaged);
}

TEST_F(PdfTextTest, APdfCutShortGivesTheTextItHasMarkedIncomplete) {
    // Cut before its last lines: the pages and the trailer are there, the
    // end is not.
    const std::string whole = ReadFileBytes(TwoPageLetter());
    const std::string cut = whole.substr(0, whole.rfind("startxref"));
    const PdfText text = PdfTextProcess(Options()).Read(Write("cut.pdf", cut));
    EXPECT_EQ(text.text, "Dear Ms Berg,\n\fKind regards");
    EXPECT_TRUE(text.incomplete);
    // Cut in the middle, it cannot be opened at all.
    EXPECT_EQ(FailureOf(Write("half.pdf", whole.substr(0, whole.size() / 2))), PdfFailure::Damaged);
}

// Each of these keeps Poppler busy for many seconds.
TEST_F(PdfTextTest, ACompressionBombIsStoppedByTheDeadline) {
    // 1 MB on disk, 200 MB of drawing once inflated, and little memory.
    const std::string bomb = Write("bomb.pdf", qf::testing::MakeInflatingPdf(5'000'000, false));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(FailureOf(bomb, Options(1500ms)), PdfFailure::Timeout);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 8s);
}

TEST_F(PdfTextTest, AHugePageCountIsStoppedByTheDeadlineAndAFalseOneIsDamage) {
    const std::string many = Write("many.pdf", qf::testing::MakeManyPagesPdf(200'000));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(FailureOf(many, Options(1500ms)), PdfFailure::Timeout);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 8s);
    // A page tree that claims more pages than the file could hold.
    EXPECT_EQ(FailureOf(Write("claims.pdf", qf::testing::MakePdfClaimingPages(2'000'000'000))),
              PdfFailure::Damaged);
}

#if !defined(__SANITIZE_ADDRESS__)
TEST_F(PdfTextTest, TheMemoryLimitStopsAPdfThatWantsTooMuch) {
    // Unbounded, this one takes more than a gigabyte.
    PdfTextOptions options = Options(60s);
    options.memoryMb = 160;
    const std::string bomb = Write("bomb.pdf", qf::testing::MakeInflatingPdf(2'500'000));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(FailureOf(bomb, options), PdfFailure::TooLarge);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
    // The same limit leaves an ordinary PDF alone.
    EXPECT_EQ(PdfTextProcess(options).Read(TwoPageLetter()).text, "Dear Ms Berg,\n\fKind regards");
}
#endif

TEST(PdfTextOptions, TheDeadlineIsTheDocumentsOneAndTheReaderSitsBesideTheProgram) {
    ::setenv("QUILLFENCE_OFFICE_DEADLINE", "2.5", 1);
    EXPECT_EQ(PdfTextOptions::FromEnvironment().deadline, 2500ms);
    for (const char* invalid : {"", "soon", "-3", "0", "1e9"}) {
        ::setenv("QUILLFENCE_OFFICE_DEADLINE", invalid, 1);
        EXPECT_EQ(PdfTextOptions::FromEnvironment().deadline, 60s) << invalid;
    }
    ::unsetenv("QUILLFENCE_OFFICE_DEADLINE");
    ::setenv("QUILLFENCE_HOME", "/opt/qf", 1);
    EXPECT_EQ(PdfTextProcess(PdfTextOptions{}).Options().program, "/opt/qf/quillfence-pdftext");
    ::unsetenv("QUILLFENCE_HOME");
}

TEST_F(PdfTextTest, AMissingReaderProgramIsAFailureOfItsOwn) {
    PdfTextOptions options = Options();
    options.program = temp.path() + "no-such-program";
    try {
        PdfTextProcess(options).Read(TwoPageLetter());
        ADD_FAILURE() << "no failure";
    } catch (const PdfError& e) {
        EXPECT_EQ(e.failure(), PdfFailure::ReaderFailed);
        EXPECT_NE(std::string(e.what()).find("no-such-program"), std::string::npos) << e.what();
    }
}

} // namespace
} // namespace qf::pdf
