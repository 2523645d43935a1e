#include "run/command_line.h"

#include <gtest/gtest.h>

namespace qf {
namespace {

using Args = std::vector<std::string>;

TEST(SplitArguments, FollowsThePlatformsQuotingRules) {
    const struct {
        const char* line;
        Args expected;
    } cases[] = {
        {R"("abc" d e)", {"abc", "d", "e"}},
        {R"(a\\\b d"e f"g h)", {R"(a\\\b)", "de fg", "h"}},
        {R"(a\\\"b c d)", {R"(a\"b)", "c", "d"}},
        {R"(a\\\\"b c" d e)", {R"(a\\b c)", "d", "e"}},
        {R"(a"b"" c d)", {R"(ab" c d)"}},
        {"  \t x\t\ty  ", {"x", "y"}},
        {R"("" x)", {"", "x"}},
        {R"("unterminated arg)", {"unterminated arg"}},
        {R"(C:\Out\ "/L=C:\Out\filelist$.txt")", {R"(C:\Out\)", R"(/L=C:\Out\filelist$.txt)"}},
        {"; rm -rf / $(x) `y` | z", {";", "rm", "-rf", "/", "$(x)", "`y`", "|", "z"}},
        {"", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SplitArguments(c.line), c.expected) << c.line;
    }
}

TEST(SplitCommandLine, AnUnquotedProgramMayHoldBlanksWhenItExists) {
    // Quoted: up to the closing quote, backslashes kept.
    EXPECT_EQ(SplitCommandLine(R"("/opt/a b\tool" -x)"), (Args{R"(/opt/a b\tool)", "-x"}));
    // Unquoted, nothing to check against: up to the first blank.
    EXPECT_EQ(SplitCommandLine("/opt/My Tools/tool /q"), (Args{"/opt/My", "Tools/tool", "/q"}));
    // Unquoted with blanks in the folder: the shortest prefix that is a program.
    auto exists = [](const std::string& p) { return p == "/opt/My Tools/tool"; };
    EXPECT_EQ(SplitCommandLine("/opt/My Tools/tool \"/f=a b\" /q", exists),
              (Args{"/opt/My Tools/tool", "/f=a b", "/q"}));
    auto none = [](const std::string&) { return false; };
    EXPECT_EQ(SplitCommandLine("/no where /q", none), (Args{"/no", "where", "/q"}));
}

} // namespace
} // namespace qf
