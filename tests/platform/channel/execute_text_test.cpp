#include "platform/channel/execute_text.h"

#include <gtest/gtest.h>

namespace qf::channel {
namespace {

TEST(ExecuteTextTest, FileOpenCarriesThePathBetweenItsQuotes) {
    EXPECT_EQ(ParseFileOpen(R"([FileOpen("/home/a b/s.qfo")])"), "/home/a b/s.qfo");
    EXPECT_EQ(ParseFileOpen(FileOpenCommand("/tmp/x.qfo")), "/tmp/x.qfo");
    // What follows the closing quote is not looked at.
    EXPECT_EQ(ParseFileOpen("[FileOpen(\"/x.qfo\"extra\r\n"), "/x.qfo");
}

TEST(ExecuteTextTest, AnythingElseIsRefused) {
    const char* refused[] = {
        R"([fileopen("/x.qfo")])", // letter case must match
        R"([FileOpen(/x.qfo)])",   // no opening quote
        "[FileOpen(\"/x.qfo",      // no closing quote
        R"([FileOpen("")])",       // empty path
        "[FileOpen(\"/a\nb\")]",   // control character in the path
        "",
        "[FileOpen(",
        "[Quit]",
    };
    for (const char* text : refused) {
        EXPECT_FALSE(ParseFileOpen(text)) << text;
    }
    EXPECT_FALSE(ParseFileOpen(FileOpenCommand(std::string(kMaxExecutePath + 1, 'p'))));
    EXPECT_TRUE(ParseFileOpen(FileOpenCommand(std::string(kMaxExecutePath, 'p'))));
}

} // namespace
} // namespace qf::channel
