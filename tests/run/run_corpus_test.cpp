// Messages collected from real mail, each delivered into a Maildir of its own
// and taken through a whole run with attachments: every one must end in an
// output file or a clear error, never in a crash or a silent nothing.
#include "fake_host.h"
#include "mail/session.h"
#include "platform/wordproc/pdf/pdf_text_process.h"
#include "run/extraction_run.h"
#include "support/fake_word_processor.h"
#include "support/maildir_fixture.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace qf::testing {
namespace {

namespace fs = std::filesystem;

TEST(RunCorpus, EveryRealWorldMessageGivesAFileOrAClearError) {
    const char* shared = std::getenv("QF_SHARED_DIR");
    ASSERT_NE(shared, nullptr);
    const fs::path corpus = fs::path(shared) / "corpus" / "real-world";
    if (!fs::is_directory(corpus)) {
        GTEST_SKIP() << "no corpus at " << corpus;
    }
    std::vector<fs::path> messages;
    for (const auto& e : fs::recursive_directory_iterator(corpus)) {
        const std::string name = e.path().filename().string();
        if (e.is_regular_file() && name != "LICENSE" && name != "README.md") {
            messages.push_back(e.path());
        }
    }
    std::sort(messages.begin(), messages.end());
    ASSERT_GT(messages.size(), 50u);

    int files = 0, flagged = 0, withAttachments = 0;
    for (const fs::path& message : messages) {
        SCOPED_TRACE(message.string());
        MaildirFixture box;
        box.DeliverRaw(ReadFileBytes(message.string()));
        Settings s = box.settings();
        s.includeAttachments = true;
        s.emailsTo = Settings::kTagSubject;
        // Every attachment the default table knows, and the rest saved by hand.
        s.extensions.push_back("");
        s.extensionActions.push_back("5");
        FakeWordProcessor word;
        FakeHost host;
        MapiSession session;
        ExtractionRun run(
            s, host, RunServices{session, &word, [](const std::string&) { return true; }, nullptr});
        run.Execute();
        const auto names = box.OutputNames();
        if (run.Outcome() == RunOutcome::Complete) {
            EXPECT_EQ(names.size(), 1u);
            EXPECT_EQ(host.statuses.back(), "Complete. 1 emails processed");
            ++files;
            const std::string text = ReadFileBytes(box.output + names[0]);
            withAttachments += text.find("Attached file: ") != std::string::npos ||
                                       text.find("has been flagged") != std::string::npos
                                   ? 1
                                   : 0;
            flagged += host.rows.empty() ? 0 : 1;
            for (const auto& row : host.rows) {
                EXPECT_TRUE(row.starts_with("Email with subject ")) << row;
            }
        } else {
            ASSERT_EQ(run.Outcome(), RunOutcome::Failed);
            ASSERT_EQ(host.errors.size(), 1u);
            EXPECT_GT(host.errors[0].size(), 10u) << host.errors[0];
            ADD_FAILURE() << "failed: " << host.errors[0];
        }
        // No temporary copy is left behind.
        for (const auto& n : names) {
            EXPECT_FALSE(n.starts_with("detach")) << n;
        }
    }
    std::printf("%d of %zu messages gave a file, %d with attachments, %d with exception rows\n",
                files, messages.size(), withAttachments, flagged);
    // The corpus has a good share of attachments; they must have been seen.
    EXPECT_GT(withAttachments, 10);
}

TEST(RunCorpus, RealWorldPdfsToConvertGiveTextOrASpecificReason) {
    const fs::path corpus = fs::path(std::getenv("QF_SHARED_DIR")) / "corpus" / "real-world";
    if (!fs::is_directory(corpus)) {
        GTEST_SKIP() << "no corpus at " << corpus;
    }
    pdf::PdfTextOptions options;
    options.program = QF_PDFTEXT_EXE;
    pdf::PdfTextProcess reader(options);
    int pdfs = 0;
    for (const auto& e : fs::recursive_directory_iterator(corpus)) {
        const std::string bytes = e.is_regular_file() ? ReadFileBytes(e.path().string()) : "";
        if (bytes.find(".pdf") == std::string::npos) {
            continue;
        }
        SCOPED_TRACE(e.path().string());
        MaildirFixture box;
        box.DeliverRaw(bytes);
        Settings s = box.settings();
        s.includeAttachments = true;
        s.extensions = {".pdf"};
        s.extensionActions = {"1"};
        FakeWordProcessor word;
        FakeHost host;
        MapiSession session;
        ExtractionRun run(s, host, RunServices{session, &word, {}, nullptr, &reader});
        run.Execute();
        ASSERT_EQ(run.Outcome(), RunOutcome::Complete);
        // A reader that crashed or could not start gives "could not be read:".
        for (const auto& row : host.rows) {
            EXPECT_EQ(row.find("could not be read:"), std::string::npos) << row;
            pdfs += row.find("(The PDF is damaged and could not be read)") != std::string::npos;
        }
    }
    // The corpus's PDFs were cut short in transfer, or are no PDFs at all.
    EXPECT_GE(pdfs, 5);
}

} // namespace
} // namespace qf::testing
