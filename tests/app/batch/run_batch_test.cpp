// quillfence-batch end to end on a copy of the sample mailbox, attachments
// left out (the word processor is exercised by the slow test).
#include "batch_fixture.h"

#include <gtest/gtest.h>

namespace qf::testing {
namespace {

bool Contains(const std::string& text, const std::string& piece) {
    return text.find(piece) != std::string::npos;
}

void NoAttachments(Settings& s) {
    s.includeAttachments = false;
}

TEST(BatchRun, CompletesSavesTheNextNumberAndAsksBeforeOverwriting) {
    SampleRun run(NoAttachments);
    ASSERT_EQ(run.Run("run.qfo --update-count"), ExitCode::Complete) << run.err;
    EXPECT_EQ(run.Outputs().size(), 12u);
    EXPECT_EQ(run.Outputs().front(), "00001.txt");
    EXPECT_EQ(run.Outputs().back(), "00012.txt");
    EXPECT_TRUE(Contains(run.out, "Complete. 12 emails processed")) << run.out;
    Settings saved;
    saved.LoadFromFile(run.options);
    EXPECT_EQ(saved.firstNumber, 13);
    // Every email is tagged and marked read.
    int tagged = 0;
    for (const auto& e : std::filesystem::directory_iterator(run.maildir + "/cur")) {
        const std::string name = e.path().filename().string();
        EXPECT_TRUE(name.ends_with(",S") || Contains(name.substr(name.rfind(":2,")), "S")) << name;
        tagged += Contains(ReadFileBytes(e.path().string()), "\nSubject: *QF* ") ? 1 : 0;
    }
    EXPECT_EQ(tagged, 12);

    // Back to number 1: the run still continues after the files the run
    // record counts, so 00001.txt is no question; the file it would write
    // first is, and without --yes that stops before anything is done.
    Settings first = saved;
    first.firstNumber = 1;
    first.SaveToFile(run.options);
    WriteFileAtomic(run.output + "00013.txt", "put there by hand");
    const std::string before = ReadFileBytes(run.output + "00001.txt");
    EXPECT_EQ(run.Run("run.qfo"), ExitCode::QuestionNeedsYes);
    EXPECT_TRUE(Contains(run.err, "00013.txt already exists")) << run.err;
    EXPECT_TRUE(Contains(run.err, "--yes")) << run.err;
    EXPECT_EQ(ReadFileBytes(run.output + "00001.txt"), before);

    // With --yes it runs; every email carries the tag, so nothing is written.
    EXPECT_EQ(run.Run("run.qfo --yes"), ExitCode::Complete) << run.err;
    EXPECT_EQ(run.Outputs().size(), 13u);
    EXPECT_EQ(ReadFileBytes(run.output + "00001.txt"), before);
}

TEST(BatchRun, EveryQuestionThatNeedsYesIsListed) {
    // A filter file but no filter tool, and the first output file exists.
    SampleRun run([](Settings& s) {
        NoAttachments(s);
        s.filterFilename = s.manualFolder + "cv.fll";
    });
    WriteFileAtomic(run.manual + "cv.fll", "filter");
    WriteFileAtomic(run.output + "00001.txt", "earlier run");
    EXPECT_EQ(run.Run("run.qfo"), ExitCode::QuestionNeedsYes);
    EXPECT_EQ(run.err,
              "quillfence-batch: A Siftloom Pro filter file was specified, but Siftloom Pro is "
              "not installed\nDownload it now?\n"
              "quillfence-batch: The output file " +
                  run.output +
                  "00001.txt already exists. Continue?\n"
                  "No run was started: pass --yes to answer Yes.\n");
    EXPECT_EQ(run.Outputs(), std::vector<std::string>{"00001.txt"});
}

TEST(BatchRun, WithoutUpdateCountTheOptionsFileIsLeftAlone) {
    SampleRun run(NoAttachments);
    const std::string bytes = ReadFileBytes(run.options);
    ASSERT_EQ(run.Run("run.qfo"), ExitCode::Complete) << run.err;
    EXPECT_EQ(ReadFileBytes(run.options), bytes);
}

TEST(BatchRun, AFailedRunExitsWithOneAndTheErrorOnStandardError) {
    struct Case {
        std::string name;
        std::function<void(Settings&)> change;
        std::function<void(SampleRun&)> after;
        std::string error;
    } cases[] = {
        {"bad format",
         [](Settings& s) {
             NoAttachments(s);
             s.fileNameFormat = "%s-%d.txt";
         },
         {},
         "%s-%d.txt"},
        {"missing output folder", NoAttachments,
         [](SampleRun& r) { std::filesystem::remove_all(r.output); },
         "The folder to save resumes to does not exist"},
        {"mailbox gone", NoAttachments,
         [](SampleRun& r) { std::filesystem::remove_all(r.maildir); }, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SampleRun run(c.change);
        if (c.after) {
            c.after(run);
        }
        EXPECT_EQ(run.Run("run.qfo --update-count"), ExitCode::Failed) << run.out;
        EXPECT_TRUE(Contains(run.err, c.error)) << run.err;
        EXPECT_FALSE(run.err.empty());
    }
}

int CountOf(const std::string& text, const std::string& piece) {
    int n = 0;
    for (auto at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) {
        ++n;
    }
    return n;
}

constexpr const char* kHeader =
    "Record,Output file,Sender,Subject,Delivered,Disposition,Marked read,Attachments,"
    "Exceptions\r\n";

TEST(BatchRun, TheReportHasARowForEachEmailAndTheRunsEnding) {
    SampleRun run(NoAttachments);
    ASSERT_EQ(run.Run("run.qfo --report report.csv"), ExitCode::Complete) << run.err;
    const std::string report = ReadFileBytes(run.dir + "report.csv");
    EXPECT_TRUE(report.starts_with(kHeader)) << report;
    EXPECT_EQ(CountOf(report, "\r\nemail," + run.output), 12) << report;
    EXPECT_EQ(CountOf(report, ",tagged,yes,"), 12) << report;
    EXPECT_TRUE(Contains(report, "\r\nemail," + run.output + "00001.txt,")) << report;
    EXPECT_TRUE(report.ends_with(",complete,,,Complete. 12 emails processed\r\n")) << report;

    // A second run finds every email tagged: no rows, and the file replaced.
    ASSERT_EQ(run.Run("--yes run.qfo --report report.csv"), ExitCode::Complete) << run.err;
    const std::string again = ReadFileBytes(run.dir + "report.csv");
    EXPECT_TRUE(again.starts_with(std::string(kHeader) + "run,,,,")) << again;
    EXPECT_EQ(CountOf(again, "\r\n"), 2);
}

TEST(BatchRun, ARunThatNeverStartedStillLeavesAReportSayingWhy) {
    struct Case {
        std::string name;
        std::function<void(SampleRun&)> prepare;
        ExitCode code;
        std::string why;
    } cases[] = {
        {"missing output folder", [](SampleRun& r) { std::filesystem::remove_all(r.output); },
         ExitCode::Failed, "The folder to save resumes to does not exist"},
        {"a question without --yes",
         [](SampleRun& r) { WriteFileAtomic(r.output + "00001.txt", "earlier"); },
         ExitCode::QuestionNeedsYes, "No run was started: pass --yes to answer Yes."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SampleRun run(NoAttachments);
        c.prepare(run);
        // An earlier run's report is replaced, not left to be taken for this one's.
        WriteFileAtomic(run.dir + "report.csv", "yesterday's report");
        EXPECT_EQ(run.Run("run.qfo --report report.csv"), c.code) << run.err;
        const std::string report = ReadFileBytes(run.dir + "report.csv");
        EXPECT_TRUE(report.starts_with(std::string(kHeader) + "run,,,,")) << report;
        EXPECT_TRUE(Contains(report, ",failed,,,")) << report;
        EXPECT_TRUE(Contains(report, c.why)) << report;
    }
}

TEST(BatchRun, AReportThatCannotBeWrittenStopsTheRunBeforeItStarts) {
    for (const char* report : {"no-such-folder/report.csv", "Maildir"}) {
        SCOPED_TRACE(report);
        SampleRun run(NoAttachments);
        EXPECT_EQ(run.Run(std::string("run.qfo --update-count --report ") + report),
                  ExitCode::Failed);
        EXPECT_TRUE(Contains(run.err, "cannot be written")) << run.err;
        EXPECT_TRUE(run.Outputs().empty());
        Settings saved;
        saved.LoadFromFile(run.options);
        EXPECT_EQ(saved.firstNumber, 1);
    }
    // Only for runs: with --print-settings it is a usage error.
    SampleRun run(NoAttachments);
    EXPECT_EQ(run.Run("--print-settings --report r.csv"), ExitCode::Usage);
}

} // namespace
} // namespace qf::testing
