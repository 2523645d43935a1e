// The run's report: its rows as the run fills them, its times, and its CSV
// file as another program reads it back.
#include "common/fileio.h"
#include "mail/mail_time.h"
#include "run/run_report.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <limits>
#include <sstream>

namespace qf::testing {
namespace {

DateTime At(int year, int month, int day, int hour, int minute, int second) {
    DateTimeParts p;
    p.year = year;
    p.month = month;
    p.day = day;
    p.hour = hour;
    p.minute = minute;
    p.second = second;
    return EncodeDateTime(p);
}

TEST(IsoDateTimeTest, LocalTimeWithItsOffsetToTheSecond) {
    const DateTime t = At(2026, 12, 1, 11, 5, 9);
    EXPECT_EQ(IsoDateTime(t, 3600), "2026-12-01T11:05:09+01:00");
    EXPECT_EQ(IsoDateTime(t, 0), "2026-12-01T11:05:09+00:00");
    EXPECT_EQ(IsoDateTime(t, -(5 * 3600 + 30 * 60)), "2026-12-01T11:05:09-05:30");
    EXPECT_EQ(IsoDateTime(t, 13 * 3600 + 45 * 60), "2026-12-01T11:05:09+13:45");
    EXPECT_EQ(IsoDateTime(At(1900, 1, 1, 0, 0, 0), 0), "1900-01-01T00:00:00+00:00");
    EXPECT_EQ(IsoDateTime(At(9999, 12, 31, 23, 59, 59), 0), "9999-12-31T23:59:59+00:00");
    // No usable time: nothing rather than a made-up date.
    EXPECT_EQ(IsoDateTime(0, 0), "");
    EXPECT_EQ(IsoDateTime(-3.5, 0), "");
    EXPECT_EQ(IsoDateTime(1e12, 0), "");
    EXPECT_EQ(IsoDateTime(std::numeric_limits<double>::quiet_NaN(), 0), "");
}

TEST(RunReportTest, RowsCollectTheEmailInHandsAttachmentsAndExceptions) {
    RunReport report;
    // Nothing is in hand before the first email: an exception row then is
    // the run's.
    report.AddAttachment("lost.doc", AttachmentOutcome::Converted);
    report.AddException("before any email");
    EXPECT_EQ(report.Current(), nullptr);

    report.BeginEmail("ann@example.org", "Application", At(2026, 12, 1, 9, 0, 0));
    report.AddAttachment("cv.doc", AttachmentOutcome::Converted);
    report.EnterEmbedded("fw.eml");
    report.AddAttachment("inner.zip", AttachmentOutcome::Flagged);
    report.EnterEmbedded("deeper.eml");
    report.AddAttachment("x.txt", AttachmentOutcome::IncludedAsText);
    report.LeaveEmbedded();
    report.LeaveEmbedded();
    report.AddAttachment("after.pdf", AttachmentOutcome::Saved, "/m/ann_1_1.PDF");
    report.AddException("needs a person");
    EXPECT_EQ(report.AttachmentCount(), 4u);
    EXPECT_EQ(report.ExceptionCount(), 1u);
    report.EndEmail();

    // A second email left open, as a failure leaves it, is kept as it is.
    report.BeginEmail("bob@example.net", "Second", std::nullopt);
    report.End(RunEnding::Complete, "done", At(2026, 12, 1, 12, 0, 0));
    report.End(RunEnding::Failed, "then it failed", At(2026, 12, 1, 12, 0, 1));
    EXPECT_EQ(report.Current(), nullptr);
    report.AddException("after the end");

    ASSERT_EQ(report.Emails().size(), 2u);
    const EmailRecord& first = report.Emails()[0];
    ASSERT_EQ(first.attachments.size(), 4u);
    EXPECT_EQ(first.attachments[1].name, "fw.eml / inner.zip");
    EXPECT_EQ(first.attachments[2].name, "fw.eml / deeper.eml / x.txt");
    EXPECT_EQ(first.attachments[3].name, "after.pdf");
    EXPECT_EQ(first.exceptions, std::vector<std::string>{"needs a person"});
    EXPECT_EQ(report.Emails()[1].disposition, Disposition::NotDisposed);
    EXPECT_EQ(report.RunExceptions(),
              (std::vector<std::string>{"before any email", "after the end"}));
    EXPECT_EQ(report.Ending(), RunEnding::Failed);

    EXPECT_EQ(report.ToCsv(3600),
              "Record,Output file,Sender,Subject,Delivered,Disposition,Marked read,Attachments,"
              "Exceptions\r\n"
              "email,,ann@example.org,Application,2026-12-01T09:00:00+01:00,not disposed,no,"
              "\"cv.doc: converted to text\nfw.eml / inner.zip: flagged for manual handling\n"
              "fw.eml / deeper.eml / x.txt: included as text\nafter.pdf: saved for manual "
              "handling (/m/ann_1_1.PDF)\",needs a person\r\n"
              "email,,bob@example.net,Second,,not disposed,no,,\r\n"
              "run,,,,2026-12-01T12:00:01+01:00,failed,,,\"before any email\nafter the "
              "end\nthen it failed\"\r\n");
}

TEST(RunReportTest, FilesAreNamedFromTheRoot) {
    // Settings may name the output and manual folders relative to where the
    // run started; whoever reads the report is elsewhere.
    const std::string here = std::filesystem::current_path().string();
    RunReport report;
    report.BeginEmail("a@example.org", "S", std::nullopt);
    report.SetOutputFile("TextFiles/00001.txt");
    report.AddAttachment("cv.pdf", AttachmentOutcome::Saved, "Manual/a_1_1.PDF");
    report.AddAttachment("cv2.pdf", AttachmentOutcome::Saved, "/abs/a_1_2.PDF");
    ASSERT_NE(report.Current(), nullptr);
    EXPECT_EQ(report.Current()->outputFile, here + "/TextFiles/00001.txt");
    EXPECT_EQ(report.Current()->attachments[0].copy, here + "/Manual/a_1_1.PDF");
    EXPECT_EQ(report.Current()->attachments[1].copy, "/abs/a_1_2.PDF");
}

TEST(RunReportTest, CellsKeepOneLineEndAndNamesStayOnOneLine) {
    RunReport report;
    report.BeginEmail("a@example.org", "S", std::nullopt);
    report.AddAttachment("evil\r\nname.doc", AttachmentOutcome::Failed);
    report.AddException("first line\r\nsecond line\rthird");
    report.EndEmail();
    report.End(RunEnding::Cancelled, "", std::nullopt);
    const std::string csv = report.ToCsv(0);
    EXPECT_NE(csv.find(",evil  name.doc: failed,\"first line\nsecond line\nthird\"\r\n"),
              std::string::npos)
        << csv;
    EXPECT_TRUE(csv.ends_with("run,,,,,cancelled,,,\r\n")) << csv;
}

// The fields of a CSV file as Python's csv module reads them (strictly, and
// the file strictly as UTF-8): one line per record, each field's bytes in
// hex, separated by blanks.
std::vector<std::vector<std::string>> ReadWithPython(const std::string& csvPath,
                                                     const std::string& dir) {
    const std::string script = dir + "read.py";
    WriteFileAtomic(script, "import csv, sys\n"
                            "with open(sys.argv[1], newline='', encoding='utf-8', "
                            "errors='strict') as f:\n"
                            "    rows = list(csv.reader(f, strict=True))\n"
                            "with open(sys.argv[2], 'w') as out:\n"
                            "    for row in rows:\n"
                            "        out.write(' '.join(x.encode('utf-8').hex() for x in row))\n"
                            "        out.write('\\n')\n");
    const std::string command =
        "python3 '" + script + "' '" + csvPath + "' '" + dir + "fields.txt' 2>'" + dir + "err'";
    if (std::system(command.c_str()) != 0) {
        ADD_FAILURE() << "python3 could not read the file: " << ReadFileBytes(dir + "err");
        return {};
    }
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(ReadFileBytes(dir + "fields.txt"));
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> row;
        std::istringstream fields(line);
        for (std::string hex; std::getline(fields, hex, ' ');) {
            std::string bytes;
            for (size_t i = 0; i + 1 < hex.size(); i += 2) {
                bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
            }
            row.push_back(bytes);
        }
        if (line.ends_with(' ') || line.empty()) {
            row.push_back(""); // the empty last field
        }
        rows.push_back(row);
    }
    return rows;
}

TEST(RunReportTest, TheSavedFileReadsBackWithoutLossInAnotherProgram) {
    TempDir temp;
    RunReport report;
    report.BeginEmail("José.Núñez@example.es", "Bewerbung, \"Entwickler\" – Köln\n2. Versuch",
                      At(2026, 3, 29, 2, 30, 0));
    report.Current()->outputFile = temp.path() + "00042, final.txt";
    report.Current()->disposition = Disposition::Moved;
    report.Current()->markedRead = true;
    report.AddAttachment("Lebenslauf_Müller.docx", AttachmentOutcome::Converted);
    report.AddAttachment(" 履歴書.pdf", AttachmentOutcome::PrintFailed, "/m/j_1_1.PDF");
    report.AddException("=HYPERLINK(\"http://x\") needs, a \"person\"");
    report.EndEmail();
    report.BeginEmail("0123", "  -5 ", std::nullopt);
    report.EndEmail();
    report.End(RunEnding::Complete, "Complete. 2 emails processed", At(2026, 3, 29, 3, 0, 0));

    const std::string path = temp.path() + "report.csv";
    report.Save(path);
    const std::string bytes = ReadFileBytes(path);
    EXPECT_EQ(bytes, report.ToCsv(CurrentUtcOffsetSeconds()));

    const auto rows = ReadWithPython(path, temp.path());
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0], RunReport::Columns());
    const std::string offset = IsoDateTime(At(2026, 3, 29, 2, 30, 0), CurrentUtcOffsetSeconds());
    EXPECT_EQ(rows[1],
              (std::vector<std::string>{
                  "email", temp.path() + "00042, final.txt", "José.Núñez@example.es",
                  "Bewerbung, \"Entwickler\" – Köln\n2. Versuch", offset, "moved", "yes",
                  "Lebenslauf_Müller.docx: converted to text\n 履歴書.pdf: saved, printing "
                  "failed (/m/j_1_1.PDF)",
                  "=HYPERLINK(\"http://x\") needs, a \"person\""}));
    EXPECT_EQ(rows[2], (std::vector<std::string>{"email", "", "0123", "  -5 ", "", "not disposed",
                                                 "no", "", ""}));
    ASSERT_EQ(rows[3].size(), 9u);
    EXPECT_EQ(rows[3][0], "run");
    EXPECT_EQ(rows[3][5], "complete");
    EXPECT_EQ(rows[3][8], "Complete. 2 emails processed");
}

} // namespace
} // namespace qf::testing
