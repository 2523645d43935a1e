#include "web/version_list.h"

#include <gtest/gtest.h>

namespace qf::web {
namespace {

constexpr const char* kDownloads = "https://updates.example/downloads";

TEST(VersionList, LinesEndAtCrLfLoneLfAndLoneCr) {
    EXPECT_EQ(SplitLines("a\r\nb\nc\rd"), (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(SplitLines("a\r\n\r\nb\r\n"), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_TRUE(SplitLines("").empty());
}

TEST(VersionList, TheProductsLineIsFoundRegardlessOfCase) {
    const char* answer = "OtherProduct,42200,,9.9\r\nQUILLFENCE PRO,42096.7058,,3.2\r\n"
                         "Quillfence Pro,99999,,later\r\n";
    EXPECT_EQ(FindProductLine(answer, "Quillfence Pro"), "QUILLFENCE PRO,42096.7058,,3.2");
    // A line without a comma, a name that only starts alike: not the product.
    EXPECT_FALSE(FindProductLine("Quillfence Pro\nQuillfence Pro X,42097\n", "Quillfence Pro"));
    EXPECT_FALSE(FindProductLine("", "Quillfence Pro"));
    EXPECT_FALSE(
        FindProductLine("<html><body><h1>404 Not Found</h1></body></html>", "Quillfence Pro"));
    EXPECT_EQ(FindProductLine("x\rquillfence pro,1", "Quillfence Pro"), "quillfence pro,1");
}

TEST(VersionList, StampIsAStrictDecimalNumber) {
    struct Case {
        const char* text;
        std::optional<double> value;
    };
    const Case cases[] = {
        {"42097", 42097},   {"42096.7058", 42096.7058},
        {"  -1.5e2", -150}, {"+3", 3},
        {"1.", 1},          {"2E+1", 20},
        {"4.2e4x", {}},     {"", {}},
        {" ", {}},          {".5", {}},
        {"1e", {}},         {"1,5", {}},
        {"0x10", {}},       {"42097 ", {}},
        {"1e999", {}},      {"--1", {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseStamp(c.text), c.value) << '"' << c.text << '"';
    }
}

TEST(VersionList, MissingFieldsTakeTheirDefaults) {
    VersionLine v = ParseVersionLine("Quillfence Pro,42097", kDownloads);
    EXPECT_EQ(v.stamp, 42097);
    EXPECT_EQ(v.page, kDownloads);
    EXPECT_EQ(v.label, "Unknown");

    v = ParseVersionLine("Quillfence Pro,", kDownloads); // ends after the name's comma
    EXPECT_EQ(v.stampText, "0");
    EXPECT_EQ(v.stamp, 0);

    v = ParseVersionLine("Quillfence Pro,,,", kDownloads);
    EXPECT_EQ(v.stamp, 0);
    EXPECT_EQ(v.page, kDownloads);
    EXPECT_EQ(v.label, "Unknown");

    v = ParseVersionLine("Quillfence Pro,4.2e4x,http://x/new.htm,4.0,extra", kDownloads);
    EXPECT_EQ(v.stampText, "4.2e4x");
    EXPECT_FALSE(v.stamp);
    EXPECT_EQ(v.page, "http://x/new.htm");
    EXPECT_EQ(v.label, "4.0");
}

TEST(VersionList, ANewerReleaseLiesMoreThanOneSecondAfterThisOne) {
    const double second = 1.0 / 86400.0;
    EXPECT_FALSE(IsNewerRelease(kReleaseStamp));
    EXPECT_FALSE(IsNewerRelease(kReleaseStamp + 0.5 * second));
    EXPECT_TRUE(IsNewerRelease(kReleaseStamp + 2 * second));
    EXPECT_FALSE(IsNewerRelease(42096.7058)); // a little earlier
    EXPECT_TRUE(IsNewerRelease(42097));
    EXPECT_FALSE(IsNewerRelease(0));
}

TEST(VersionList, AddressesCarryTheProductsEncodedValues) {
    EXPECT_EQ(PageWithParameters("http://x/new.htm", "Quillfence Pro", "3.2"),
              "http://x/new.htm?application=Quillfence%20Pro&ver=3.2&source=updater");
    EXPECT_EQ(PageWithParameters("http://x/new.htm?lang=de", "Quillfence Pro", "3.2"),
              "http://x/new.htm?lang=de&application=Quillfence%20Pro&ver=3.2&source=updater");
    EXPECT_EQ(VersionListUrl("https://updates.example", "ab cd", "Quillfence Pro", "3.2"),
              "https://updates.example/versions.txt?name=ab%20cd&application=Quillfence%20Pro"
              "&ver=3.2&source=updater");
}

TEST(VersionList, TheAnswerIsReadIntoOneFinding) {
    using Kind = UpdateFinding::Kind;
    const auto read = [](std::string_view answer) {
        return ReadVersionAnswer(answer, "Quillfence Pro", "3.2", kDownloads);
    };
    EXPECT_EQ(read("OtherProduct,42200,,9.9\r\nQUILLFENCE PRO,42096.7058,,3.2").kind,
              Kind::UpToDate);
    EXPECT_EQ(read("Quillfence Pro,").kind, Kind::UpToDate); // stamp 0
    EXPECT_EQ(read("").kind, Kind::NotFound);
    EXPECT_EQ(read("Other,1\nQuillfence Pro").kind, Kind::NotFound);

    UpdateFinding f = read("Quillfence Pro,4.2e4x,http://x/,9");
    EXPECT_EQ(f.kind, Kind::InvalidStamp);
    EXPECT_EQ(f.stampText, "4.2e4x");

    f = read("Quillfence Pro,42097");
    EXPECT_EQ(f.kind, Kind::NewerAvailable);
    EXPECT_EQ(f.label, "Unknown");
    EXPECT_EQ(f.page,
              std::string(kDownloads) + "?application=Quillfence%20Pro&ver=3.2&source=updater");
}

} // namespace
} // namespace qf::web
