// One instance converts as it always did, on the run's thread when the
// document's turn comes; documents handed over to a pool but never taken end
// with the run.  (What a pool gives against one instance: the run's tests.)
#include "run/document_conversion.h"

#include "common/fileio.h"
#include "fake_host.h"
#include "support/fake_word_processor.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <thread>

namespace qf::testing {
namespace {

// Documents of a few kinds of outcome, as files.
const std::vector<std::pair<std::string, std::string>> kDocuments = {
    {"cv.doc", "My CV\nline two"}, {"lock.docx", "PASSWORD x"}, {"merge.doc", "MERGE letter"},
    {"prot.doc", "PROTECTED"},     {"last.rtf", "Last"},
};

class DocumentConversionTest : public ::testing::Test {
protected:
    TempDir dir;
    std::vector<std::string> paths;

    void SetUp() override {
        for (const auto& [name, content] : kDocuments) {
            paths.push_back(dir.path() + name);
            WriteFileAtomic(paths.back(), content);
        }
    }
};

TEST_F(DocumentConversionTest, OneInstanceConvertsOnTheRunsThreadAsItAlwaysDid) {
    FakeWordProcessor word;
    FakeHost host;
    Settings settings;
    RunContext context(settings, host);
    DocumentConversion documents(context, &word);
    EXPECT_FALSE(documents.ConvertsAhead());
    documents.ConnectWordProcessor();
    EXPECT_FALSE(documents.ConvertsAhead());
    // Nothing is handed over: the document opens when its result is asked for.
    documents.ConvertAhead(paths[0]);
    EXPECT_TRUE(word.opened.empty());
    EXPECT_EQ(documents.ConvertDocument(paths[0], [](const std::string&) {}),
              "Converted: My CV\r\nline two");
    documents.QuitWordProcessor();
    EXPECT_EQ(word.family->made, 0);
    ASSERT_EQ(word.family->threads.size(), 1u);
    EXPECT_EQ(word.family->threads[0], std::this_thread::get_id());
}

TEST_F(DocumentConversionTest, DocumentsHandedOverButNeverTakenEndWithTheRun) {
    FakeWordProcessor word;
    word.instanceLimit = 2;
    FakeHost host;
    Settings settings;
    RunContext context(settings, host);
    DocumentConversion documents(context, &word);
    documents.ConnectWordProcessor();
    ASSERT_TRUE(documents.ConvertsAhead());
    for (const auto& path : paths) {
        documents.ConvertAhead(path);
    }
    // A cancelled run takes none of them; nothing is reported for them.
    documents.QuitWordProcessor();
    EXPECT_TRUE(host.warnings.empty());
    EXPECT_EQ(word.quits, 1);
    EXPECT_EQ(word.family->quits, word.family->made);
}

} // namespace
} // namespace qf::testing
