// A local HTTP(S) server for tests (web_test_server.py under python3), on
// 127.0.0.1 and a free port, serving the version lists written into its
// folder.  It stops when the object goes, and by itself after five minutes.
#pragma once

#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace qf::web::test {

class LocalWebServer {
public:
    // Plain HTTP, or HTTPS with a certificate for 127.0.0.1 made for it.
    enum class Scheme { Http, Https };

    explicit LocalWebServer(Scheme scheme = Scheme::Http);
    ~LocalWebServer();
    LocalWebServer(const LocalWebServer&) = delete;
    LocalWebServer& operator=(const LocalWebServer&) = delete;

    // "http://127.0.0.1:<port>" (or https).
    const std::string& BaseUrl() const { return baseUrl_; }
    // The PEM certificate the HTTPS server presents (its own authority).
    std::string CertificateFile() const { return (folder_ / "cert.pem").string(); }
    // Serves `text` at /v/<name>/...
    void SetVersionList(const std::string& name, const std::string& text) const;

private:
    std::filesystem::path folder_;
    std::string baseUrl_;
    pid_t pid_ = -1;
    int stdinFd_ = -1;
};

// Runs a command (argument vector, no shell); true when it exits with 0.
bool RunQuietly(const std::vector<std::string>& argv);

} // namespace qf::web::test
