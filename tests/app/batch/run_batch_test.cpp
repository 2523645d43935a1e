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

    // Back to number 1: the first file exists, so the run asks; without
    // --yes that stops before anything is done.
    Settings first = saved;
    first.firstNumber = 1;
    first.SaveToFile(run.options);
    const std::string before = ReadFileBytes(run.output + "00001.txt");
    EXPECT_EQ(run.Run("run.qfo"), ExitCode::QuestionNeedsYes);
    EXPECT_TRUE(Contains(run.err, "--yes")) << run.err;
    EXPECT_EQ(ReadFileBytes(run.output + "00001.txt"), before);

    // With --yes it runs; every email carries the tag, so nothing is written.
    EXPECT_EQ(run.Run("run.qfo --yes"), ExitCode::Complete) << run.err;
    EXPECT_EQ(run.Outputs().size(), 12u);
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

} // namespace
} // namespace qf::testing
