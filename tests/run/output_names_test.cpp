#include "common/fileio.h"
#include "run/output_names.h"
#include "support/temp_dir.h"

#include <clocale>
#include <gtest/gtest.h>

namespace qf {
namespace {

using testing::TempDir;

TEST(WrittenNames, NamesDifferingInCaseClashOnlyWhereTheFolderIgnoresCase) {
    WrittenNames exact(NameMatching::Exact);
    exact.Add("/out/Anna Müller.txt");
    EXPECT_TRUE(exact.Contains("/out/Anna Müller.txt"));
    EXPECT_FALSE(exact.Contains("/out/anna müller.txt"));

    const std::string oldLocale = std::setlocale(LC_CTYPE, nullptr);
    std::setlocale(LC_CTYPE, "C.UTF-8");
    WrittenNames folded(NameMatching::IgnoringCase);
    folded.Add("/out/Anna Müller.txt");
    for (const char* same :
         {"/out/anna müller.txt", "/out/ANNA MÜLLER.TXT", "/out/Anna Müller.txt"}) {
        EXPECT_TRUE(folded.Contains(same)) << same;
    }
    EXPECT_FALSE(folded.Contains("/out/Anna Mueller.txt"));
    // Bytes that are not UTF-8 still compare, by their ASCII letters only.
    folded.Add("/out/CV-\xFC.txt");
    EXPECT_TRUE(folded.Contains("/out/cv-\xFC.txt"));
    EXPECT_FALSE(folded.Contains("/out/cv-\xDC.txt"));
    std::setlocale(LC_CTYPE, oldLocale.c_str());
}

TEST(WrittenNames, TheFirstFileWrittenTellsHowTheFolderMatchesNames) {
    // The test folder lies on a file system that keeps case apart (tmpfs or
    // ext4): "cv.txt" and "CV.txt" are two files there.
    TempDir dir;
    WriteFileAtomic(dir.path() + "Cv.txt", "x");
    EXPECT_EQ(NameMatchingOf(dir.path() + "Cv.txt"), NameMatching::Exact);
    // A file that exists under the flipped name is another file, not the same.
    WriteFileAtomic(dir.path() + "cV.txt", "y");
    EXPECT_EQ(NameMatchingOf(dir.path() + "Cv.txt"), NameMatching::Exact);
    EXPECT_EQ(NameMatchingOf(dir.path() + "123"), NameMatching::Exact);

    WrittenNames names;
    EXPECT_FALSE(names.Contains(dir.path() + "Cv.txt")); // nothing written yet
    names.Add(dir.path() + "Cv.txt");
    EXPECT_TRUE(names.Contains(dir.path() + "Cv.txt"));
    EXPECT_FALSE(names.Contains(dir.path() + "cv.txt"));
}

} // namespace
} // namespace qf
