// Documents converted side by side give what one instance gives one document
// at a time: the same texts, each reason with its own document, the same
// warnings in the same order.
#include "run/document_conversion.h"

#include "common/fileio.h"
#include "fake_host.h"
#include "support/fake_word_processor.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <optional>
#include <thread>

namespace qf::testing {
namespace {

struct Converted {
    std::optional<std::string> text;
    std::vector<std::string> reasons;
    bool operator==(const Converted&) const = default;
};

// A mix of every outcome; "BLOCK" first holds its instance until another
// instance has given a text, and the user's macro "Hang" loses "LOOP".
const std::vector<std::pair<std::string, std::string>> kDocuments = {
    {"block.doc", "BLOCK first"},  {"cv.doc", "My CV\nline two"}, {"lock.docx", "PASSWORD x"},
    {"merge.doc", "MERGE letter"}, {"prot.doc", "PROTECTED"},     {"noise.doc", "NOISE"},
    {"crash.doc", "CRASH"},        {"close.doc", "CLOSE-FAILS"},  {"empty.doc", ""},
    {"loop.doc", "LOOP forever"},  {"dies.doc", "CLOSE-DIES"},    {"last.rtf", "Last"},
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

    // Every document through `word`, handed over ahead first when `ahead`,
    // their results taken in order; the host's warnings after them.
    std::vector<Converted> ConvertAll(FakeWordProcessor& word, bool ahead, FakeHost& host) {
        Settings settings;
        settings.wordMacro = "Hang";
        RunContext context(settings, host);
        DocumentConversion documents(context, &word);
        documents.ConnectWordProcessor();
        if (ahead) {
            for (const auto& path : paths) {
                documents.ConvertAhead(path);
            }
        }
        std::vector<Converted> results;
        for (const auto& path : paths) {
            Converted& c = results.emplace_back();
            c.text = documents.ConvertDocument(
                path, [&c](const std::string& reason) { c.reasons.push_back(reason); });
        }
        documents.QuitWordProcessor();
        return results;
    }
};

TEST_F(DocumentConversionTest, SideBySideGivesTheTextsReasonsAndWarningsOfOneAtATime) {
    FakeWordProcessor one;
    FakeHost oneHost;
    const std::vector<Converted> expected = ConvertAll(one, false, oneHost);
    ASSERT_EQ(expected.size(), kDocuments.size());
    EXPECT_EQ(expected[1].text, "Converted: My CV\r\nline two");
    EXPECT_EQ(expected[2].reasons, std::vector<std::string>{"Invalid password"});
    EXPECT_EQ(oneHost.warnings.size(), 3u); // merge, and the two failed closes

    FakeWordProcessor pooled;
    pooled.instanceLimit = 2;
    pooled.family->blockUntilAnotherText = true;
    FakeHost pooledHost;
    EXPECT_EQ(ConvertAll(pooled, true, pooledHost), expected);
    EXPECT_EQ(pooledHost.warnings, oneHost.warnings);
    // The blocked document waited for the other instance, which therefore
    // converted while it was held; the further instance was quit at the end,
    // the first one once, as before.
    EXPECT_EQ(pooled.family->blockedInVain, 0);
    EXPECT_EQ(pooled.family->made, 1);
    EXPECT_EQ(pooled.family->quits, 1);
    EXPECT_EQ(pooled.quits, 1);
    EXPECT_EQ(pooled.connects, 1);
}

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
    documents.ConvertAhead(paths[1]);
    EXPECT_TRUE(word.opened.empty());
    EXPECT_EQ(documents.ConvertDocument(paths[1], [](const std::string&) {}),
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
