// The web getter: fetches one web resource into a text on a worker thread
// (libcurl) and reports the outcome on the user-interface thread.
//
// What it guarantees:
//   - Every handler (progress, done, error) runs on the user-interface
//     thread, through the EventLoop the getter was given, one at a time and
//     in order.
//   - After CancelFetch, or once the getter is destroyed, no handler of that
//     fetch runs.  The worker notices the cancel within a fraction of a
//     second, even in the middle of connecting or reading, closes its
//     connection and ends on its own; the getter need not outlive it.
//   - Workers still running when the program ends are cancelled and joined
//     (CancelAllFetches, also run at exit), so no thread outlives main().
//   - HTTPS certificates and host names are always verified.  Redirects are
//     followed (at most 5, and only to http or https).
//   - A body larger than Limits::maxBody, a server that does not connect or
//     goes quiet, and a fetch that runs past its total time all end as a
//     failure.
//
// The success rule: a fetch succeeds when the body was read to its end.  The
// HTTP status is not looked at (an error page is delivered like any other
// body).  With binaryData set, a response that states no Content-Length is
// not read and fails.
#pragma once

#include "web/event_loop.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace qf::web {

struct HttpLimits {
    std::chrono::milliseconds connectTimeout{15000};
    // Longest time without a byte arriving.
    std::chrono::milliseconds readTimeout{30000};
    std::chrono::milliseconds totalTimeout{120000};
    std::size_t maxBody = std::size_t{1} << 20;
};

struct HttpGetSettings {
    std::string agent = "UtilMind HTTPGet";
    bool binaryData = false;
    // "http://host/path", "https://host/path" or "host/path" (see SplitUrl).
    std::string url;
    // Server authentication.
    std::string userName;
    std::string password;
    // When not empty, the request is a POST carrying this text (already in
    // base64) as its one form field.
    std::string postQuery;
    // When not empty, every request goes through this proxy ("host:port").
    // When empty, the proxy of the environment (http_proxy, https_proxy,
    // no_proxy) applies.
    std::string proxy;
    std::string proxyUser;
    std::string proxyPassword;
    std::string referer;
    // When not empty, a PEM file of the certificate authorities trusted for
    // HTTPS instead of the system's.
    std::string caFile;
    // When true, FetchText returns only once the fetch has ended, running
    // the event loop meanwhile.
    bool waitThread = false;
    HttpLimits limits;
};

class HttpGet {
public:
    using ProgressHandler = std::function<void(std::int64_t contentLength, std::int64_t bytesRead)>;
    using DoneStringHandler = std::function<void(const std::string& text)>;
    using ErrorHandler = std::function<void()>;

    explicit HttpGet(std::shared_ptr<EventLoop> loop);
    // Cancels a running fetch.
    ~HttpGet();
    HttpGet(const HttpGet&) = delete;
    HttpGet& operator=(const HttpGet&) = delete;

    HttpGetSettings& Settings() { return settings_; }
    const HttpGetSettings& Settings() const { return settings_; }

    // After each chunk of the body: the stated length (0 when none) and the
    // bytes read so far.
    void SetOnProgress(ProgressHandler handler) { onProgress_ = std::move(handler); }
    // On success, with the body.  Without it the body is kept in LastText().
    void SetOnDoneString(DoneStringHandler handler) { onDoneString_ = std::move(handler); }
    // On failure.
    void SetOnError(ErrorHandler handler) { onError_ = std::move(handler); }

    // Starts fetching Settings().url with a copy of the settings.  Ignored
    // while a fetch runs.
    void FetchText();
    // Cancels the running fetch, if any: no handler of it runs any more and
    // the getter is idle at once.
    void CancelFetch();

    bool Fetching() const { return static_cast<bool>(current_); }
    bool LastSuccess() const { return lastSuccess_; }
    const std::string& LastText() const { return lastText_; }

    struct Fetch; // shared by the getter and its worker

private:
    friend struct FetchCompletion;
    void TransferFinished(const std::shared_ptr<Fetch>& fetch);

    std::shared_ptr<EventLoop> loop_;
    HttpGetSettings settings_;
    ProgressHandler onProgress_;
    DoneStringHandler onDoneString_;
    ErrorHandler onError_;
    std::shared_ptr<Fetch> current_;
    bool lastSuccess_ = false;
    std::string lastText_;
};

// Cancels every running fetch and waits for the workers to end.  Runs by
// itself at exit; a program may call it earlier (before its event loop goes).
void CancelAllFetches();

// Workers started and not yet ended (for tests).
std::size_t RunningFetches();

} // namespace qf::web
