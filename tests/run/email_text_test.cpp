#include "common/error.h"
#include "common/fileio.h"
#include "fake_email.h"
#include "run/email_text.h"
#include "support/temp_dir.h"

#include <climits>
#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace qf {
namespace {

using testing::FakeEmail;
using testing::kBomLE;
using testing::LE;
using testing::TempDir;

std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const Error& e) {
        return e.what();
    }
    return "(no error)";
}

TEST(OutputFileName, FormatsTheExpandedFormatWithTheNumber) {
    FakeEmail email;
    EXPECT_EQ(OutputFileName("/out/", "%d.txt", email, 7), "/out/7.txt");
    EXPECT_EQ(OutputFileName("/out/", "%5.5d.txt", email, 7), "/out/00007.txt");
    EXPECT_EQ(OutputFileName("/out/", "%FROM_%d.txt", email, 7), "/out/ann@example.org_7.txt");
    EXPECT_EQ(OutputFileName("/out/", "%NUMBER-%d", email, 7), "/out/7-7");
    EXPECT_EQ(OutputFileName("/out/", "same.txt", email, 7), "/out/same.txt");
    EXPECT_EQ(OutputFileName("/out/", "%%%%%d", email, 7), "/out/%7");
}

TEST(OutputFileName, AFormatThatDoesNotFitFails) {
    FakeEmail email;
    EXPECT_EQ(ErrorOf([&] { OutputFileName("/out/", "%s.txt", email, 1); }),
              "Format '%s.txt' invalid or incompatible with argument");
    // The message names the format after expansion: "%%" became "%".
    EXPECT_EQ(ErrorOf([&] { OutputFileName("/out/", "%%d%d", email, 1); }),
              "Format '%d%d' invalid or incompatible with argument");
}

TEST(OutputFileName, EmailValuesAreCleanedAndFormattedLiterally) {
    FakeEmail email;
    email.fields["SUBJECT"] = "../../home/x/.bashrc %s %n";
    const std::string name = OutputFileName("/out/", "%SUBJECT-%d.txt", email, 4);
    EXPECT_EQ(name, "/out/.._.._home_x_.bashrc %s %n-4.txt");
    email.fields["SUBJECT"] = "..";
    EXPECT_EQ(OutputFileName("/out/", "%SUBJECT/%d.txt", email, 4), "/out/__/4.txt");
}

TEST(OutputFileName, ANameTooLongForTheFileSystemIsAClearError) {
    FakeEmail email;
    email.fields["SUBJECT"] = std::string(10000, 'A');
    const std::string message = ErrorOf([&] { OutputFileName("/out/", "%SUBJECT%d", email, 1); });
    EXPECT_NE(message.find("is longer than the file system allows"), std::string::npos);
    EXPECT_LT(message.size(), 300u);

    email.fields["SUBJECT"] = std::string(NAME_MAX - 6, 'A');
    EXPECT_NO_THROW(OutputFileName("/out/", "%SUBJECT-%d.txt", email, 1)); // exactly NAME_MAX
    EXPECT_THROW(OutputFileName("/out/", "%SUBJECT-%d.txt", email, 10), Error);
}

TEST(OutputFileName, EveryNameThatPassesTheCheckCanBeWritten) {
    // The file goes through a longer temporary name first: names close to
    // the limit must still be written, and one byte more must be refused.
    TempDir dir;
    FakeEmail email;
    const std::size_t limit = FileNameLimit(dir.path());
    for (std::size_t length = limit - 30; length <= limit + 1; ++length) {
        SCOPED_TRACE(length);
        email.fields["SUBJECT"] = std::string(length - 5, 'n');
        if (length > limit) {
            EXPECT_THROW(OutputFileName(dir.path(), "%SUBJECT%d.txt", email, 7), Error);
            continue;
        }
        const std::string name = OutputFileName(dir.path(), "%SUBJECT%d.txt", email, 7);
        ASSERT_NO_THROW(WriteWholeFile(name, "text"));
        EXPECT_EQ(ReadWholeFile(name), "text");
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              31);
}

TEST(OutputFileName, TheLastFileNumberIsRefusedRatherThanWrapped) {
    FakeEmail email;
    EXPECT_EQ(OutputFileName("/out/", "%d.txt", email, INT_MAX - 1), "/out/2147483646.txt");
    const std::string message = ErrorOf([&] { OutputFileName("/out/", "%d.txt", email, INT_MAX); });
    EXPECT_NE(message.find("2147483647"), std::string::npos) << message;
}

TEST(ComposeEmailText, HeaderBodyAndFooterAreJoinedAsTheyStand) {
    FakeEmail email;
    email.body = "Dear Sir,\r\nplease find my CV.\r\n";
    EXPECT_EQ(ComposeEmailText(email, "From: %FROM\r\nSubject: %SUBJECT\r\n", "-- #%NUMBER", 9),
              "From: ann@example.org\r\nSubject: Application for the post\r\n"
              "Dear Sir,\r\nplease find my CV.\r\n-- #9");
    EXPECT_EQ(ComposeEmailText(email, "", "", 9), email.body);
    email.body.clear();
    EXPECT_EQ(ComposeEmailText(email, "", "", 9), "");
    EXPECT_EQ(ComposeEmailText(email, "H", "", 9), "H");
}

TEST(ComposeEmailText, AUnicodeBodyGetsItsHeaderAndFooterWidened) {
    FakeEmail email;
    email.fields["FROM"] = "zoë@x.org";
    email.body = kBomLE + LE(u"Body");
    EXPECT_EQ(ComposeEmailText(email, "F: %FROM\r\n", "[end]", 1),
              kBomLE + LE(u"F: zoë@x.org\r\n") + LE(u"Body") + LE(u"[end]"));
    EXPECT_EQ(ComposeEmailText(email, "", "", 1), email.body);
}

TEST(ComposeEmailText, ABigEndianBodyBecomesLittleEndianBeforeCombining) {
    FakeEmail email;
    const std::string bodyLE = LE(u"Ĉu vi?");
    std::string bodyBE = "\xFE\xFF";
    for (size_t i = 0; i < bodyLE.size(); i += 2) {
        bodyBE += bodyLE[i + 1];
        bodyBE += bodyLE[i];
    }
    email.body = bodyBE;
    EXPECT_EQ(ComposeEmailText(email, "H ", " F", 1),
              kBomLE + LE(u"H ") + LE(u"Ĉu vi?") + LE(u" F"));
}

TEST(UnicodeText, ByteOrderMarksAndWidening) {
    EXPECT_TRUE(IsUnicodeText("\xFF\xFE"));
    EXPECT_TRUE(IsUnicodeText("\xFE\xFFxy"));
    EXPECT_FALSE(IsUnicodeText("\xFF"));
    EXPECT_FALSE(IsUnicodeText(""));
    EXPECT_FALSE(IsUnicodeText("\xEF\xBB\xBFutf8"));
    EXPECT_EQ(WidenText(""), "");
    EXPECT_EQ(WidenText("A\xC3\xA9"), std::string("A\0\xE9\0", 4));
    EXPECT_EQ(WidenText("\xF0\x9F\x98\x80"), LE(u"\U0001F600")); // a surrogate pair
}

TEST(UnicodeText, AppendingSwitchesTheWholeTextToUtf16) {
    std::string text = "Header\r\n";
    AppendPiece(text, "plain ");
    EXPECT_EQ(text, "Header\r\nplain ");
    const std::string contentBE = std::string("\xFE\xFF\x00h\x00i", 6);
    AppendUnicodeContent(text, "<", contentBE, ">");
    EXPECT_EQ(text, kBomLE + LE(u"Header\r\nplain <hi>"));
    AppendPiece(text, "é");
    EXPECT_EQ(text, kBomLE + LE(u"Header\r\nplain <hi>é"));
    AppendUnicodeContent(text, "", kBomLE + LE(u"x"), "");
    EXPECT_EQ(text, kBomLE + LE(u"Header\r\nplain <hi>éx"));
    // Content cut off in the middle of a character keeps what follows in
    // step: the stray byte becomes U+FFFD.
    AppendUnicodeContent(text, "[", kBomLE + std::string("A\0B", 3), "]");
    EXPECT_EQ(text, kBomLE + LE(u"Header\r\nplain <hi>éx[A\uFFFD]"));
}

TEST(WholeFiles, WriteReplacesAtomicallyAndReadsBack) {
    TempDir dir;
    const std::string path = dir.path() + "1.txt";
    const std::string bytes("a\0b\r\n\xFF", 6);
    WriteWholeFile(path, bytes);
    EXPECT_EQ(ReadWholeFile(path), bytes);
    WriteWholeFile(path, "new");
    EXPECT_EQ(ReadWholeFile(path), "new");
    WriteWholeFile(path, "");
    EXPECT_EQ(ReadWholeFile(path), "");
    size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) {
        ++entries;
    }
    EXPECT_EQ(entries, 1u) << "no temporary file is left behind";
    EXPECT_THROW(WriteWholeFile(dir.path() + "missing/1.txt", "x"), FileError);
    EXPECT_THROW(ReadWholeFile(dir.path() + "missing.txt"), FileError);
}

class FileTimes : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        savedTz_ = tz ? std::optional<std::string>(tz) : std::nullopt;
        ::setenv("TZ", "Europe/Berlin", 1);
        ::tzset();
    }
    void TearDown() override {
        if (savedTz_) {
            ::setenv("TZ", savedTz_->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }
    static struct stat Stat(const std::string& path) {
        struct stat st {};
        EXPECT_EQ(::stat(path.c_str(), &st), 0);
        return st;
    }

private:
    std::optional<std::string> savedTz_;
};

// 1 July 2026 12:30:15.250 local (summer time in Berlin) is 10:30:15.250 UTC.
constexpr DateTime kSummerNoon = 46204 + (12 * 3600 + 30 * 60 + 15.25) / 86400.0;
constexpr std::int64_t kSummerNoonUtc = 1782901815;

TEST_F(FileTimes, LocalDeliveryTimeBecomesTheFilesAccessAndWriteTime) {
    auto unix = LocalDateTimeToUnix(kSummerNoon);
    ASSERT_TRUE(unix);
    EXPECT_EQ(unix->seconds, kSummerNoonUtc);
    EXPECT_NEAR(unix->nanoseconds, 250000000, 1000000);
    // Winter: 1 January 2026 00:00 local is 31 December 2025 23:00 UTC.
    EXPECT_EQ(LocalDateTimeToUnix(46023)->seconds, 1767222000);

    TempDir dir;
    const std::string path = dir.path() + "7.txt";
    WriteWholeFile(path, "x");
    SetFileTimes(path, kSummerNoon);
    const struct stat st = Stat(path);
    EXPECT_EQ(st.st_mtim.tv_sec, kSummerNoonUtc);
    EXPECT_EQ(st.st_atim.tv_sec, kSummerNoonUtc);
}

TEST_F(FileTimes, NoUsableTimeLeavesTheFileAlone) {
    TempDir dir;
    const std::string path = dir.path() + "7.txt";
    WriteWholeFile(path, "x");
    const auto before = Stat(path).st_mtim.tv_sec;
    for (std::optional<DateTime> when :
         {std::optional<DateTime>{}, std::optional<DateTime>{0.0}, std::optional<DateTime>{-5.0},
          std::optional<DateTime>{NAN}, std::optional<DateTime>{INFINITY},
          std::optional<DateTime>{1e300}}) {
        SetFileTimes(path, when);
        EXPECT_EQ(Stat(path).st_mtim.tv_sec, before);
    }
    SetFileTimes(dir.path() + "missing.txt", kSummerNoon); // no error
}

TEST(SampleFileName, UsesTheSampleEmailAndLeavesTheNumber) {
    EXPECT_EQ(SampleFileName("%FROM_%NUMBER"), std::string(kSampleSender) + "_%NUMBER");
    EXPECT_EQ(SampleFileName("%SUBJECT %TO %CC %BCC"),
              "Subject " + std::string(kSampleRecipient) + " Error Error");
    const std::string now = SampleFileName("%NOW");
    EXPECT_EQ(now.size(), 8u);
    EXPECT_EQ(now.find_first_not_of("0123456789"), std::string::npos);
    EXPECT_EQ(SampleFileName("%SENT").find('/'), std::string::npos) << "a date is one component";
}

} // namespace
} // namespace qf
