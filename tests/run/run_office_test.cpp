// Whole runs with the real LibreOffice: the documents of an email convert on
// two instances side by side into the very files one instance writes, and
// no office is left once the run is over.
#include "fake_host.h"
#include "mail/session.h"
#include "platform/wordproc/office_fixture.h"
#include "run/extraction_run.h"
#include "support/maildir_fixture.h"

#include <fstream>
#include <gtest/gtest.h>

namespace qf::testing {
namespace {

namespace fs = std::filesystem;
using wordproc::LibreOffice;
using wordproc::LibreOfficeOptions;
using wordproc::WordProcessor;

// Processes whose command line names `dir`.
int ProcessesUsing(const std::string& dir) {
    int n = 0;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc", ec)) {
        std::ifstream in(entry.path() / "cmdline", std::ios::binary);
        std::string cmdline((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        n += cmdline.find(dir) != std::string::npos ? 1 : 0;
    }
    return n;
}

// LibreOffice, counting the further instances asked of it.
class CountingOffice final : public WordProcessor {
public:
    explicit CountingOffice(LibreOfficeOptions options) : office_(std::move(options)) {}
    int further = 0;

    bool Connect() override { return office_.Connect(); }
    bool Started() const override { return office_.Started(); }
    void Hide() override { office_.Hide(); }
    wordproc::DocumentId Open(const std::string& path, const std::string& open,
                              const std::string& modify) override {
        return office_.Open(path, open, modify);
    }
    wordproc::StepOutcome ClearMailMerge(wordproc::DocumentId doc) override {
        return office_.ClearMailMerge(doc);
    }
    wordproc::StepOutcome Unprotect(wordproc::DocumentId doc, const std::string& p) override {
        return office_.Unprotect(doc, p);
    }
    void RunMacro(wordproc::DocumentId doc, const std::string& name) override {
        office_.RunMacro(doc, name);
    }
    std::string WholeText(wordproc::DocumentId doc) override { return office_.WholeText(doc); }
    void Close(wordproc::DocumentId doc) override { office_.Close(doc); }
    void Quit() override { office_.Quit(); }
    int InstanceLimit() const override { return office_.InstanceLimit(); }
    std::unique_ptr<WordProcessor> NewInstance() override {
        ++further;
        return office_.NewInstance();
    }

private:
    LibreOffice office_;
};

TEST(RunWithOffice, AnEmailsDocumentsConvertSideBySideIntoTheFilesOneInstanceWrites) {
    wordproc::testing::TempDir dir;
    std::map<std::string, fs::path> docs;
    {
        LibreOffice maker(wordproc::testing::TestOptions(dir.path() / "maker"));
        maker.Connect();
        docs = wordproc::testing::MakeDocuments(maker, dir.path());
        maker.Quit();
    }

    auto runOn = [&docs, &dir](int instances, int& further) {
        MaildirFixture box;
        Mail several;
        several.subject = "Several CVs";
        for (const char* kind : {"html", "odt", "doc", "docx", "rtf"}) {
            several.parts.push_back({std::string("cv.") + kind, ReadFileBytes(docs.at(kind))});
        }
        box.Deliver(several);
        Mail two;
        two.subject = "Two CVs";
        two.parts = {{"a.docx", ReadFileBytes(docs.at("docx"))},
                     {"b.doc", ReadFileBytes(docs.at("doc"))}};
        box.Deliver(two);

        Settings s = box.settings();
        s.emailHeader = "Subject: %SUBJECT\r\n";
        s.emailFooter.clear();
        s.startTag = "[%FILENAME]";
        s.endTag = "[end]";
        for (const char* ext : {".docx", ".odt"}) {
            s.extensions.push_back(ext);
            s.extensionActions.push_back("1");
        }
        s.includeAttachments = true;
        LibreOfficeOptions options =
            wordproc::testing::TestOptions(dir.path() / ("run" + std::to_string(instances)));
        options.instances = instances;
        CountingOffice office(options);
        FakeHost host;
        MapiSession session;
        ExtractionRun run(s, host, RunServices{session, &office, {}, nullptr});
        run.Execute();
        EXPECT_EQ(run.Outcome(), RunOutcome::Complete)
            << (host.errors.empty() ? "" : host.errors[0]);
        EXPECT_TRUE(host.rows.empty()) << host.rows[0];
        EXPECT_EQ(ProcessesUsing(options.profileParent), 0);
        further = office.further;
        std::vector<std::string> files;
        for (const auto& name : box.OutputNames()) {
            files.push_back(name + ": " + ReadFileBytes(box.output + name));
        }
        return files;
    };

    int further = 0;
    const std::vector<std::string> one = runOn(1, further);
    EXPECT_EQ(further, 0);
    ASSERT_EQ(one.size(), 2u);
    std::size_t words = 0;
    for (std::size_t at = 0;
         (at = one[0].find(wordproc::testing::kBodyWords, at)) != std::string::npos; ++at) {
        ++words;
    }
    EXPECT_EQ(words, 5u) << one[0];

    EXPECT_EQ(runOn(2, further), one);
    EXPECT_EQ(further, 1);
}

} // namespace
} // namespace qf::testing
