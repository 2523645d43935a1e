// The getter against a local HTTP(S) server: what each kind of answer gives,
// and that cancelled or abandoned fetches stay silent.
#include "local_web_server.h"
#include "web/http_get.h"
#include "web/multipart.h"

#include <gtest/gtest.h>

#include <thread>

namespace qf::web {
namespace {

using namespace std::chrono_literals;
using test::LocalWebServer;

// Nothing here may go through a proxy of the environment.
void ForgetEnvironmentProxies() {
    for (const char* name :
         {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
        unsetenv(name);
    }
}

// What the handlers saw, all of it on the test's own thread.
struct Outcome {
    int done = 0;
    int errors = 0;
    std::string text;
    std::vector<std::pair<std::int64_t, std::int64_t>> progress;
    bool offThread = false;
};

class Getter : public ::testing::Test {
protected:
    void SetUp() override {
        ForgetEnvironmentProxies();
        Watch(*getter);
        getter->Settings().limits.connectTimeout = 5s;
        getter->Settings().limits.readTimeout = 10s;
        getter->Settings().limits.totalTimeout = 60s;
    }

    void Watch(HttpGet& g) {
        const auto me = std::this_thread::get_id();
        g.SetOnProgress([this, me](std::int64_t total, std::int64_t read) {
            out.offThread |= std::this_thread::get_id() != me;
            out.progress.emplace_back(total, read);
        });
        g.SetOnDoneString([this, me](const std::string& text) {
            out.offThread |= std::this_thread::get_id() != me;
            ++out.done;
            out.text = text;
        });
        g.SetOnError([this, me] {
            out.offThread |= std::this_thread::get_id() != me;
            ++out.errors;
        });
    }

    // Fetches `url` and runs the loop until the getter is idle again.
    void Fetch(const std::string& url, std::chrono::seconds limit = 30s) {
        getter->Settings().url = url;
        getter->FetchText();
        Pump([this] { return !getter->Fetching(); }, limit);
        loop->ProcessEvents(0ms);
    }

    template <class Done> void Pump(Done done, std::chrono::milliseconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!done() && std::chrono::steady_clock::now() < deadline) {
            loop->ProcessEvents(20ms);
        }
        ASSERT_TRUE(done()) << "timed out";
    }

    std::shared_ptr<QueuedEvents> loop = std::make_shared<QueuedEvents>();
    std::unique_ptr<HttpGet> getter = std::make_unique<HttpGet>(loop);
    Outcome out;
};

TEST_F(Getter, DeliversTheBodyWithProgressOnTheCallersThread) {
    const LocalWebServer server;
    const std::string list(3000, 'v'); // three chunks of at most 1025 bytes
    server.SetVersionList("list", list);
    Fetch(server.BaseUrl() + "/v/list/versions.txt?name=x");
    EXPECT_EQ(out.done, 1);
    EXPECT_EQ(out.errors, 0);
    EXPECT_EQ(out.text, list);
    EXPECT_TRUE(getter->LastSuccess());
    ASSERT_GE(out.progress.size(), 3u);
    EXPECT_EQ(out.progress.front().first, 3000);
    EXPECT_LE(out.progress.front().second, 1025);
    EXPECT_EQ(out.progress.back(), (std::pair<std::int64_t, std::int64_t>{3000, 3000}));
    EXPECT_FALSE(out.offThread);
}

TEST_F(Getter, HttpsVerifiesTheCertificateAndItsName) {
    const LocalWebServer server(LocalWebServer::Scheme::Https);
    server.SetVersionList("list", "Quillfence Pro,42097\r\n");

    // The test's own authority is not among the system's: refused.
    Fetch(server.BaseUrl() + "/v/list/versions.txt");
    EXPECT_EQ(out.errors, 1);
    EXPECT_EQ(out.done, 0);

    getter->Settings().caFile = server.CertificateFile();
    Fetch(server.BaseUrl() + "/v/list/versions.txt");
    EXPECT_EQ(out.done, 1);
    EXPECT_EQ(out.text, "Quillfence Pro,42097\r\n");

    // A trusted certificate for another name: refused.
    const std::string port = server.BaseUrl().substr(server.BaseUrl().rfind(':'));
    Fetch("https://localhost" + port + "/v/list/versions.txt");
    EXPECT_EQ(out.errors, 2);
    EXPECT_EQ(out.done, 1);
}

TEST_F(Getter, AnErrorPageIsDeliveredLikeAnyBody) {
    const LocalWebServer server;
    Fetch(server.BaseUrl() + "/status404/versions.txt");
    EXPECT_EQ(out.done, 1);
    EXPECT_NE(out.text.find("404 Not Found"), std::string::npos);
}

TEST_F(Getter, RedirectsAreFollowed) {
    const LocalWebServer server;
    server.SetVersionList("moved", "Quillfence Pro,42097\n");
    Fetch(server.BaseUrl() + "/redirect/v/moved/versions.txt?name=x");
    EXPECT_EQ(out.done, 1);
    EXPECT_EQ(out.text, "Quillfence Pro,42097\n");
}

TEST_F(Getter, ASilentServerTimesOut) {
    const LocalWebServer server;
    getter->Settings().limits.readTimeout = 1s;
    const auto start = std::chrono::steady_clock::now();
    Fetch(server.BaseUrl() + "/silent/versions.txt");
    EXPECT_EQ(out.errors, 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 15s);
}

TEST_F(Getter, AHostThatRefusesFails) {
    // Port 1 on the loopback: nothing listens there.
    Fetch("http://127.0.0.1:1/versions.txt");
    EXPECT_EQ(out.errors, 1);
    EXPECT_EQ(out.done, 0);
    EXPECT_FALSE(getter->LastSuccess());
}

TEST_F(Getter, ABodyOverOneMegabyteFailsCleanly) {
    const LocalWebServer server;
    // Stated as 10 MB: refused before reading.
    Fetch(server.BaseUrl() + "/big/versions.txt");
    EXPECT_EQ(out.errors, 1);
    EXPECT_TRUE(out.progress.empty());

    // Not stated: read up to the cap, then given up.
    Fetch(server.BaseUrl() + "/bignolength/versions.txt");
    EXPECT_EQ(out.errors, 2);
    EXPECT_EQ(out.done, 0);
    ASSERT_FALSE(out.progress.empty());
    EXPECT_LE(out.progress.back().second, 1 << 20);
}

TEST_F(Getter, ABodyWithoutALengthIsReadAsTextButRefusedAsBinary) {
    const LocalWebServer server;
    Fetch(server.BaseUrl() + "/nolength/x");
    EXPECT_EQ(out.done, 1);
    EXPECT_EQ(out.text, "no length here");
    EXPECT_EQ(out.progress.back(), (std::pair<std::int64_t, std::int64_t>{0, 14}));

    out = {};
    getter->Settings().binaryData = true;
    Fetch(server.BaseUrl() + "/nolength/x");
    EXPECT_EQ(out.errors, 1);
    EXPECT_TRUE(out.progress.empty());
}

TEST_F(Getter, AnEmptyBodyOfStatedLengthZeroSucceeds) {
    const LocalWebServer server;
    out.text = "not yet";
    Fetch(server.BaseUrl() + "/empty/x");
    EXPECT_EQ(out.done, 1);
    EXPECT_EQ(out.text, "");
    EXPECT_TRUE(out.progress.empty());
}

TEST_F(Getter, WithoutADoneHandlerTheTextIsKept) {
    const LocalWebServer server;
    server.SetVersionList("list", "kept");
    getter->SetOnDoneString(nullptr);
    Fetch(server.BaseUrl() + "/v/list/x");
    EXPECT_TRUE(getter->LastSuccess());
    EXPECT_EQ(getter->LastText(), "kept");
}

TEST_F(Getter, WaitThreadReturnsOnlyOnceTheFetchHasEnded) {
    const LocalWebServer server;
    server.SetVersionList("list", "waited");
    getter->Settings().waitThread = true;
    getter->Settings().url = server.BaseUrl() + "/v/list/x";
    getter->FetchText();
    EXPECT_FALSE(getter->Fetching());
    EXPECT_EQ(out.done, 1);
    EXPECT_EQ(out.text, "waited");
}

TEST_F(Getter, ASecondFetchWhileOneRunsIsIgnored) {
    const LocalWebServer server;
    server.SetVersionList("list", "second");
    getter->Settings().url = server.BaseUrl() + "/trickle/x";
    getter->FetchText();
    getter->Settings().url = server.BaseUrl() + "/v/list/x";
    getter->FetchText(); // ignored
    Pump([this] { return !out.progress.empty(); }, 20s);
    EXPECT_EQ(out.progress.front().first, 1 << 20); // the first fetch's body
    getter->CancelFetch();
    EXPECT_FALSE(getter->Fetching());
    loop->ProcessEvents(300ms);
    EXPECT_EQ(out.done + out.errors, 0);
}

TEST_F(Getter, ACancelInMidBodyThenDestroyingTheOwnerIsSilent) {
    const LocalWebServer server;
    const std::size_t before = RunningFetches();
    getter->Settings().url = server.BaseUrl() + "/trickle/x";
    getter->FetchText();
    Pump([this] { return out.progress.size() >= 2; }, 20s);
    getter->CancelFetch();
    getter.reset(); // the owner goes while its worker may still be reading
    const std::size_t seen = out.progress.size();
    // The worker ends by itself, quickly, and nothing more arrives.
    Pump([&] { return RunningFetches() <= before; }, 5s);
    loop->ProcessEvents(200ms);
    EXPECT_EQ(out.progress.size(), seen);
    EXPECT_EQ(out.done + out.errors, 0);
}

TEST_F(Getter, DestroyingTheOwnerWhileItWaitsForASilentServerIsSilent) {
    const LocalWebServer server;
    const std::size_t before = RunningFetches();
    getter->Settings().url = server.BaseUrl() + "/silent/x";
    getter->FetchText();
    std::this_thread::sleep_for(200ms);
    getter.reset(); // no explicit cancel: the destructor does it
    Pump([&] { return RunningFetches() <= before; }, 5s);
    loop->ProcessEvents(100ms);
    EXPECT_EQ(out.done + out.errors, 0);
}

// The request as the echo path returned it: head and body.
struct Echo {
    std::string head;
    std::string body;
    explicit Echo(const std::string& text) {
        const std::size_t end = text.find("\r\n\r\n");
        head = text.substr(0, end);
        body = end == std::string::npos ? "" : text.substr(end + 4);
    }
    std::string Header(const std::string& name) const {
        const std::size_t at = head.find("\n" + name + ": ");
        if (at == std::string::npos) {
            return {};
        }
        const std::size_t from = at + name.size() + 3;
        return head.substr(from, head.find('\r', from) - from);
    }
};

TEST_F(Getter, APostCarriesTheFieldByteForByteWithAgentAndReferrer) {
    const LocalWebServer server;
    const std::string query = "UmVzdW1lAaB03x+/=="; // holds the first boundary
    getter->Settings().postQuery = query;
    getter->Settings().agent = "Quillfence Pro";
    getter->Settings().referer = "http://referrer.example/";
    Fetch(server.BaseUrl() + "/echo/post");
    ASSERT_EQ(out.done, 1);
    const Echo echo(out.text);
    EXPECT_TRUE(echo.head.starts_with("POST /echo/post HTTP/1.0\r\n")) << echo.head;
    EXPECT_EQ(echo.Header("User-Agent"), "Quillfence Pro");
    EXPECT_EQ(echo.Header("Referer"), "http://referrer.example/");

    const std::string contentType = echo.Header("Content-Type");
    const std::string prefix = "multipart/form-data; boundary=";
    ASSERT_TRUE(contentType.starts_with(prefix)) << contentType;
    const std::string boundary = contentType.substr(prefix.size());
    // Grown once: a digit, the old boundary, a capital letter.
    ASSERT_EQ(boundary.size(), 8u);
    EXPECT_EQ(boundary.substr(1, 6), "AaB03x");
    EXPECT_EQ(query.find(boundary), std::string::npos);
    EXPECT_EQ(echo.Header("Content-Length"), std::to_string(echo.body.size()));
    EXPECT_EQ(echo.body, "--" + boundary +
                             "\r\nContent-Disposition: form-data; name=\"data\"\r\n"
                             "Content-Transfer-Encoding: base64\r\n\r\n" +
                             query + "\r\n--" + boundary + "--");
}

TEST_F(Getter, AGetSendsNoBody) {
    const LocalWebServer server;
    Fetch(server.BaseUrl() + "/echo/get?x=1");
    const Echo echo(out.text);
    EXPECT_TRUE(echo.head.starts_with("GET /echo/get?x=1 HTTP/1.0\r\n")) << echo.head;
    EXPECT_EQ(echo.Header("User-Agent"), "UtilMind HTTPGet");
    EXPECT_EQ(echo.Header("Content-Type"), "");
    EXPECT_EQ(echo.body, "");
}

TEST_F(Getter, CredentialsAnswerTheServersChallenge) {
    const LocalWebServer server;
    getter->Settings().userName = "user";
    getter->Settings().password = "secret";
    Fetch(server.BaseUrl() + "/auth/x");
    ASSERT_EQ(out.done, 1);
    EXPECT_EQ(Echo(out.text).Header("Authorization"), "Basic dXNlcjpzZWNyZXQ=");
}

TEST_F(Getter, TheProxyCarriesEveryRequestWithItsCredentials) {
    // The local server plays the proxy; the named host is never looked up.
    const LocalWebServer proxy;
    getter->Settings().proxy = proxy.BaseUrl().substr(7); // 127.0.0.1:<port>
    getter->Settings().proxyUser = "pu";
    getter->Settings().proxyPassword = "pp";
    Fetch("http://updates.example.invalid/echo/versions.txt");
    ASSERT_EQ(out.done, 1);
    const Echo echo(out.text);
    EXPECT_TRUE(
        echo.head.starts_with("GET http://updates.example.invalid/echo/versions.txt HTTP/1.0\r\n"))
        << echo.head;
    EXPECT_EQ(echo.Header("Proxy-Authorization"), "Basic cHU6cHA=");
}

} // namespace
} // namespace qf::web
