#include "platform/wordproc/user_macros.h"

#include "office_fixture.h"

#include "common/fileio.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>

namespace qf::wordproc {
namespace {

namespace fs = std::filesystem;

std::string Module(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE script:module PUBLIC \"-//OpenOffice.org//DTD OfficeDocument 1.0//EN\" "
           "\"module.dtd\">\n"
           "<script:module xmlns:script=\"http://openoffice.org/2000/script\" "
           "script:name=\"Tidy\" script:language=\"StarBasic\">" +
           body + "</script:module>\n";
}

TEST(BasicModuleSource, UnescapesTheSourceBetweenTheModuleTags) {
    EXPECT_EQ(BasicModuleSource(Module("Sub Tidy(doc)\n  If a &lt; b &amp;&amp; c &gt; d Then "
                                       "Print &quot;it&apos;s&quot;\nEnd Sub\n")),
              "Sub Tidy(doc)\n  If a < b && c > d Then Print \"it's\"\nEnd Sub\n");
    // Character references, decimal and hex, across the planes.
    EXPECT_EQ(BasicModuleSource(Module("&#65;&#x e9;")), std::nullopt);
    EXPECT_EQ(BasicModuleSource(Module("&#65;&#xE9;&#8364;&#x1F600;&#X41;")),
              "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"
              "A");
    // A surrogate or a value beyond Unicode becomes U+FFFD.
    EXPECT_EQ(BasicModuleSource(Module("&#xD800;&#x110000;")), "\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(BasicModuleSource(Module("")), "");
}

TEST(BasicModuleSource, RefusesWhatIsNoModule) {
    const std::string cases[] = {
        "",
        "<library:library/>",
        "<script:module name=\"x\">no end",
        Module("an &unknown; entity"),
        Module("an &amp unterminated entity"),
        Module("&#;"),
        Module("&#xZZ;"),
    };
    for (const auto& xml : cases) {
        SCOPED_TRACE(xml);
        EXPECT_EQ(BasicModuleSource(xml), std::nullopt);
    }
}

TEST(ReadUserMacros, ReadsTheModulesOfEveryLibraryAndLeavesOutTheRest) {
    testing::TempDir temp;
    const fs::path& basic = temp.path();
    fs::create_directories(basic / "Standard");
    fs::create_directories(basic / "Tools");
    fs::create_directories(basic / "NotALibrary");
    WriteFileAtomic((basic / "Standard" / "script.xlb").string(), "<library:library/>");
    WriteFileAtomic((basic / "Standard" / "Tidy.xba").string(), Module("Sub Tidy(doc)\nEnd Sub\n"));
    WriteFileAtomic((basic / "Standard" / "Broken.xba").string(), "<not a module>");
    WriteFileAtomic((basic / "Standard" / "notes.txt").string(), Module("Sub Notes\nEnd Sub\n"));
    WriteFileAtomic((basic / "Tools" / "script.xlb").string(), "<library:library/>");
    WriteFileAtomic((basic / "Tools" / "Strings.xba").string(), Module("Sub Trim(s)\nEnd Sub\n"));
    WriteFileAtomic((basic / "NotALibrary" / "Stray.xba").string(), Module("Sub Stray\nEnd Sub\n"));

    auto modules = ReadUserMacros(basic.string());
    std::sort(modules.begin(), modules.end(),
              [](const BasicModule& a, const BasicModule& b) { return a.library < b.library; });
    ASSERT_EQ(modules.size(), 2u);
    EXPECT_EQ(modules[0].library, "Standard");
    EXPECT_EQ(modules[0].module, "Tidy");
    EXPECT_EQ(modules[0].source, "Sub Tidy(doc)\nEnd Sub\n");
    EXPECT_EQ(modules[1].library, "Tools");
    EXPECT_EQ(modules[1].module, "Strings");

    EXPECT_TRUE(ReadUserMacros((basic / "absent").string()).empty());
    EXPECT_TRUE(ReadUserMacros("").empty());
}

} // namespace
} // namespace qf::wordproc
