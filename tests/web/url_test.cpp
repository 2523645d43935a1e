#include "web/multipart.h"
#include "web/url.h"

#include <gtest/gtest.h>

#include <deque>

namespace qf::web {
namespace {

TEST(SplitUrl, TakesHostAndPathAfterTheSchemeInAnyCase) {
    WebUrl u = SplitUrl("http://server/a/b.txt?x=1");
    EXPECT_EQ(u.scheme, "http");
    EXPECT_EQ(u.host, "server");
    EXPECT_EQ(u.path, "/a/b.txt?x=1");

    u = SplitUrl("server");
    EXPECT_EQ(u.host, "server");
    EXPECT_EQ(u.path, "");
    EXPECT_EQ(u.Text(), "http://server");

    u = SplitUrl("HTTP://Server/X");
    EXPECT_EQ(u.host, "Server");
    EXPECT_EQ(u.path, "/X");

    u = SplitUrl("HttpS://secure.example:8443/v?q");
    EXPECT_EQ(u.scheme, "https");
    EXPECT_EQ(u.host, "secure.example:8443");
    EXPECT_EQ(u.Text(), "https://secure.example:8443/v?q");
}

TEST(SplitUrl, RemovesSevenCharactersWheneverThePrefixOccursAnywhere) {
    // The prefix is looked for anywhere, but the first seven characters go.
    const WebUrl u = SplitUrl("ftp://h/x?u=http://y");
    EXPECT_EQ(u.host, "");
    EXPECT_EQ(u.path, "/x?u=http://y");
    EXPECT_EQ(SplitUrl("127.0.0.1:8080/p").host, "127.0.0.1:8080");
}

TEST(UrlEncode, KeepsTheSafeSetAndEscapesEveryOtherByteInLowerCaseHex) {
    EXPECT_EQ(UrlEncode("ab cd"), "ab%20cd");
    EXPECT_EQ(UrlEncode("a.b_c-d*e"), "a.b_c-d*e");
    EXPECT_EQ(UrlEncode("Quillfence Pro"), "Quillfence%20Pro");
    EXPECT_EQ(UrlEncode("a/b?c&d=e+f~"), "a%2fb%3fc%26d%3de%2bf%7e");
    EXPECT_EQ(UrlEncode("\xe9"), "%e9");        // one byte of a Western code page
    EXPECT_EQ(UrlEncode("\xc3\xa9"), "%c3%a9"); // é in UTF-8: each byte
    EXPECT_EQ(UrlEncode(""), "");
}

TEST(IsWebPageAddress, AcceptsOnlyHttpAndHttpsAddressesWithAHost) {
    struct Case {
        const char* address;
        bool ok;
    };
    const Case cases[] = {
        {"http://www.example.com/whatsnew.htm", true},
        {"HTTPS://example.com", true},
        {"https://example.com:8443/a?b=c&d=e#f", true},
        {"file:///etc/passwd", false},
        {"javascript:alert(1)", false},
        {"/usr/bin/xterm", false},
        {"xterm -e sh", false},
        {"mailto:a@b.c", false},
        {"ftp://example.com/x", false},
        {"http://", false},
        {"http:///etc/passwd", false},
        {"http://-oProxyCommand=x", false},
        {"http://example.com/a b", false},
        {"http://example.com/\"x", false},
        {"http://example.com/\nfile:///x", false},
        {" http://example.com", false},
        {"", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsWebPageAddress(c.address), c.ok) << c.address;
    }
}

// Hands out scripted values: the digit and letter chosen in turn.
RandomBelow Scripted(std::deque<unsigned> values) {
    auto state = std::make_shared<std::deque<unsigned>>(std::move(values));
    return [state](unsigned bound) {
        EXPECT_FALSE(state->empty());
        const unsigned v = state->front();
        state->pop_front();
        EXPECT_LT(v, bound);
        return v;
    };
}

TEST(Multipart, BodyIsExactlyTheFieldBetweenBoundaries) {
    const MultipartPost post = BuildMultipartPost("SGVsbG8=", Scripted({}));
    EXPECT_EQ(post.boundary, "AaB03x");
    EXPECT_EQ(post.contentType, "Content-Type: multipart/form-data; boundary=AaB03x");
    EXPECT_EQ(post.body, "--AaB03x\r\n"
                         "Content-Disposition: form-data; name=\"data\"\r\n"
                         "Content-Transfer-Encoding: base64\r\n"
                         "\r\n"
                         "SGVsbG8=\r\n"
                         "--AaB03x--");
}

TEST(Multipart, BoundaryGrowsByADigitAndACapitalUntilTheQueryLacksIt) {
    // Both "AaB03x" and "7AaB03xQ" occur: two rounds of growth.
    const std::string query = "xxAaB03xyy7AaB03xQzz";
    const MultipartPost post = BuildMultipartPost(query, Scripted({7, 16, 2, 25}));
    EXPECT_EQ(post.boundary, "27AaB03xQZ");
    EXPECT_EQ(query.find(post.boundary), std::string::npos);
    EXPECT_TRUE(post.body.starts_with("--27AaB03xQZ\r\n"));
    EXPECT_TRUE(post.body.ends_with("\r\n" + query + "\r\n--27AaB03xQZ--"));

    // With the system's randomness the result has the same shape.
    const std::string b = MultipartBoundary("AaB03x", SystemRandom());
    ASSERT_EQ(b.size(), 8u);
    EXPECT_TRUE(b[0] >= '0' && b[0] <= '9');
    EXPECT_EQ(b.substr(1, 6), "AaB03x");
    EXPECT_TRUE(b[7] >= 'A' && b[7] <= 'Z');
}

} // namespace
} // namespace qf::web
