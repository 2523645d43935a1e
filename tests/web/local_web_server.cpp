#include "local_web_server.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace qf::web::test {

namespace {

std::filesystem::path MakeTempFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/qf-web-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        throw std::runtime_error("mkdtemp failed");
    }
    return pattern;
}

pid_t Spawn(const std::vector<std::string>& argv, posix_spawn_file_actions_t* actions) {
    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, args[0], actions, nullptr, args.data(), environ) != 0) {
        return -1;
    }
    return pid;
}

// Reads the "PORT <n>" line the server prints once it listens.
int ReadPort(int fd) {
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (line.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            throw std::runtime_error("the test web server did not start");
        }
        char buffer[64];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            throw std::runtime_error("the test web server ended at start");
        }
        line.append(buffer, static_cast<std::size_t>(n));
    }
    return std::stoi(line.substr(line.find(' ') + 1));
}

} // namespace

bool RunQuietly(const std::vector<std::string>& argv) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const pid_t pid = Spawn(argv, &actions);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

LocalWebServer::LocalWebServer(Scheme scheme) : folder_(MakeTempFolder()) {
    std::vector<std::string> argv = {"python3", QF_WEB_TEST_SERVER, "--root", folder_.string()};
    if (scheme == Scheme::Https) {
        const std::string cert = CertificateFile();
        const std::string key = (folder_ / "key.pem").string();
        if (!RunQuietly({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                         "-out", cert, "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
                         "subjectAltName=IP:127.0.0.1"})) {
            throw std::runtime_error("openssl could not make the test certificate");
        }
        argv.insert(argv.end(), {"--cert", cert, "--key", key});
    }
    int in[2];
    int out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    pid_ = Spawn(argv, &actions);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    stdinFd_ = in[1];
    if (pid_ <= 0) {
        close(out[0]);
        throw std::runtime_error("python3 could not be started");
    }
    const int port = ReadPort(out[0]);
    close(out[0]);
    baseUrl_ = std::string(scheme == Scheme::Https ? "https" : "http") +
               "://127.0.0.1:" + std::to_string(port);
}

LocalWebServer::~LocalWebServer() {
    if (stdinFd_ >= 0) {
        close(stdinFd_);
    }
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
    }
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
}

void LocalWebServer::SetVersionList(const std::string& name, const std::string& text) const {
    std::ofstream(folder_ / (name + ".txt"), std::ios::binary) << text;
}

} // namespace qf::web::test
