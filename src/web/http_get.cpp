#include "web/http_get.h"

#include "web/multipart.h"
#include "web/url.h"

#include <curl/curl.h>

#include <atomic>
#include <list>
#include <mutex>
#include <thread>

namespace qf::web {

// Created on the user-interface thread; after the worker starts, the worker
// alone touches the transfer fields, and the user-interface thread alone
// touches `owner` and `ended`.
struct HttpGet::Fetch : std::enable_shared_from_this<HttpGet::Fetch> {
    HttpGetSettings settings;
    ProgressHandler onProgress;
    // Weak: the loop's queue may hold this fetch (a completion nobody ran),
    // and a strong reference back would keep both alive for ever.
    std::weak_ptr<EventLoop> loop;
    HttpGet* owner = nullptr;
    bool ended = false; // completion handled or cancelled (user-interface thread)
    std::atomic<bool> cancelled{false};
    std::atomic<bool> finished{false}; // the worker has ended

    // The transfer (worker thread).
    bool success = false;
    bool bodyStarted = false;
    bool lengthStated = false;
    std::string lengthText;
    std::int64_t contentLength = 0;
    std::int64_t bytesRead = 0;
    std::string text;
};

// The worker's completion, run on the user-interface thread.
struct FetchCompletion {
    static void Run(const std::shared_ptr<HttpGet::Fetch>& fetch) {
        if (!fetch->cancelled && !fetch->ended) {
            fetch->owner->TransferFinished(fetch);
        }
    }
};

namespace {

using Fetch = HttpGet::Fetch;

// Every worker ever started, until it is joined.  Owns libcurl's global
// state, so that it is set up before the first worker and torn down after
// the last one.
class Workers {
public:
    Workers() { curl_global_init(CURL_GLOBAL_DEFAULT); }
    ~Workers() {
        StopAll();
        curl_global_cleanup();
    }

    void Start(const std::shared_ptr<Fetch>& fetch, void (*body)(std::shared_ptr<Fetch>)) {
        const std::lock_guard lock(mutex_);
        ReapLocked();
        threads_.push_back({std::thread(body, fetch), fetch});
    }

    void StopAll() {
        std::list<Entry> all;
        {
            const std::lock_guard lock(mutex_);
            all.swap(threads_);
        }
        for (Entry& e : all) {
            e.fetch->cancelled = true;
        }
        for (Entry& e : all) {
            e.thread.join();
        }
    }

    std::size_t Running() {
        const std::lock_guard lock(mutex_);
        std::size_t n = 0;
        for (const Entry& e : threads_) {
            n += e.fetch->finished ? 0 : 1;
        }
        return n;
    }

private:
    struct Entry {
        std::thread thread;
        std::shared_ptr<Fetch> fetch;
    };

    void ReapLocked() {
        for (auto it = threads_.begin(); it != threads_.end();) {
            if (it->fetch->finished) {
                it->thread.join();
                it = threads_.erase(it);
            } else {
                ++it;
            }
        }
    }

    std::mutex mutex_;
    std::list<Entry> threads_;
};

Workers& TheWorkers() {
    static Workers workers;
    return workers;
}

// Hands `handler` to the user-interface thread, unless its loop is gone.
void Post(const Fetch& f, std::function<void()> handler) {
    if (const std::shared_ptr<EventLoop> loop = f.loop.lock()) {
        loop->Post(std::move(handler));
    }
}

// A stated length that is not a plain decimal number counts as 0.
std::int64_t ParseContentLength(std::string_view text) {
    std::int64_t value = 0;
    if (text.empty() || text.size() > 18) {
        return 0;
    }
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return 0;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() &&
           (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) {
        s.remove_suffix(1);
    }
    return s;
}

// Headers of every response, redirects included: only the last response's
// Content-Length counts.
std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto& f = *static_cast<Fetch*>(user);
    const std::string_view line(data, size * count);
    if (f.cancelled) {
        return 0;
    }
    if (line.starts_with("HTTP/")) {
        f.lengthStated = false;
        f.lengthText.clear();
    } else if (LowerAscii(line.substr(0, 15)) == "content-length:") {
        f.lengthStated = true;
        f.lengthText = std::string(Trim(line.substr(15)));
    }
    return size * count;
}

// The start of the body: the length the server stated decides what follows.
bool BeginBody(Fetch& f) {
    f.bodyStarted = true;
    f.success = f.lengthStated;
    if (!f.lengthStated && f.settings.binaryData) {
        return false;
    }
    f.contentLength = ParseContentLength(f.lengthText);
    if (f.contentLength > static_cast<std::int64_t>(f.settings.limits.maxBody)) {
        return false;
    }
    f.bytesRead = 0;
    f.text.clear();
    return true;
}

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto& f = *static_cast<Fetch*>(user);
    const std::size_t n = size * count;
    if (f.cancelled || (!f.bodyStarted && !BeginBody(f)) ||
        f.text.size() + n > f.settings.limits.maxBody) {
        return 0; // aborts the transfer
    }
    f.text.append(data, n);
    f.bytesRead += static_cast<std::int64_t>(n);
    if (f.onProgress) {
        Post(f, [self = f.shared_from_this(), total = f.contentLength, read = f.bytesRead] {
            if (!self->cancelled && !self->ended) {
                self->onProgress(total, read);
            }
        });
    }
    return n;
}

// Called by libcurl several times a second, also while it waits for the
// network: a cancel stops the transfer there.
int OnTick(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<Fetch*>(user)->cancelled ? 1 : 0;
}

long Seconds(std::chrono::milliseconds ms) {
    return std::max<long>(1, static_cast<long>((ms.count() + 999) / 1000));
}

void SetOptions(CURL* curl, Fetch& f, const std::string& url) {
    const HttpGetSettings& s = f.settings;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_USERAGENT, s.agent.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_0);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!s.caFile.empty()) {
        curl_easy_setopt(curl, CURLOPT_CAINFO, s.caFile.c_str());
    }
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(s.limits.connectTimeout.count()));
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, Seconds(s.limits.readTimeout));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(s.limits.totalTimeout.count()));
    curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, 1025L);
    if (!s.proxy.empty()) {
        curl_easy_setopt(curl, CURLOPT_PROXY, s.proxy.c_str());
        if (!s.proxyUser.empty()) {
            curl_easy_setopt(curl, CURLOPT_PROXYUSERNAME, s.proxyUser.c_str());
            curl_easy_setopt(curl, CURLOPT_PROXYPASSWORD, s.proxyPassword.c_str());
        }
    }
    if (!s.userName.empty()) {
        curl_easy_setopt(curl, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_ANY));
        curl_easy_setopt(curl, CURLOPT_USERNAME, s.userName.c_str());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, s.password.c_str());
    }
    if (!s.referer.empty()) {
        curl_easy_setopt(curl, CURLOPT_REFERER, s.referer.c_str());
    }
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &OnHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &f);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &OnBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &f);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &OnTick);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &f);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
}

// One request, start to end, on the worker thread.
void Transfer(Fetch& f) {
    const std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(),
                                                                   &curl_easy_cleanup);
    if (!curl || f.cancelled) {
        return;
    }
    const std::string url = SplitUrl(f.settings.url).Text();
    SetOptions(curl.get(), f, url);

    MultipartPost post;
    curl_slist* headers = nullptr;
    if (!f.settings.postQuery.empty()) {
        post = BuildMultipartPost(f.settings.postQuery, SystemRandom());
        headers = curl_slist_append(headers, post.contentType.c_str());
        headers = curl_slist_append(headers, "Expect:");
        curl_easy_setopt(curl.get(), CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDS, post.body.data());
        curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(post.body.size()));
    }
    const CURLcode rc = curl_easy_perform(curl.get());
    curl_slist_free_all(headers);
    if (rc != CURLE_OK) {
        f.success = false;
    } else {
        f.success = f.bodyStarted || BeginBody(f);
    }
}

void RunWorker(std::shared_ptr<Fetch> fetch) {
    try {
        Transfer(*fetch);
    } catch (...) {
        // The outcome is the success as it stood.
    }
    Post(*fetch, [fetch] { FetchCompletion::Run(fetch); });
    fetch->finished = true;
}

} // namespace

HttpGet::HttpGet(std::shared_ptr<EventLoop> loop) : loop_(std::move(loop)) {}

HttpGet::~HttpGet() {
    CancelFetch();
}

void HttpGet::FetchText() {
    if (current_) {
        return;
    }
    auto fetch = std::make_shared<Fetch>();
    fetch->settings = settings_;
    fetch->onProgress = onProgress_;
    fetch->loop = loop_;
    fetch->owner = this;
    current_ = fetch;
    TheWorkers().Start(fetch, &RunWorker);
    if (settings_.waitThread) {
        // `this` may be gone once a handler has run: only locals are used.
        const std::shared_ptr<EventLoop> loop = loop_;
        while (!fetch->ended) {
            loop->ProcessEvents(std::chrono::milliseconds(50));
        }
    }
}

void HttpGet::CancelFetch() {
    if (current_) {
        current_->cancelled = true;
        current_->ended = true;
        current_.reset();
    }
}

void HttpGet::TransferFinished(const std::shared_ptr<Fetch>& fetch) {
    fetch->ended = true;
    if (current_ == fetch) {
        current_.reset();
    }
    lastSuccess_ = fetch->success;
    // Handlers are copied first: one may destroy this getter.
    if (fetch->success) {
        if (onDoneString_) {
            const DoneStringHandler done = onDoneString_;
            done(fetch->text);
        } else {
            lastText_ = std::move(fetch->text);
        }
    } else if (onError_) {
        const ErrorHandler error = onError_;
        error();
    }
}

void CancelAllFetches() {
    TheWorkers().StopAll();
}

std::size_t RunningFetches() {
    return TheWorkers().Running();
}

} // namespace qf::web
