#include "support/dovecot_fixture.h"

#include "common/fileio.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace qf::testing {
namespace {

namespace fs = std::filesystem;

// A port nobody listens on now (the kernel's choice of a free one).
std::uint16_t FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    std::uint16_t port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
        port = ntohs(addr.sin_port);
    }
    ::close(fd);
    return port;
}

bool Answers(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

// Runs a program to its end with its output discarded; true when it succeeded.
bool RunQuietly(const std::vector<std::string>& argv) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::vector<char*> args;
        for (const auto& a : argv) {
            args.push_back(const_cast<char*>(a.c_str()));
        }
        args.push_back(nullptr);
        ::freopen("/dev/null", "w", stdout);
        ::freopen("/dev/null", "w", stderr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

void ChownTree(const std::string& path, uid_t uid, gid_t gid) {
    ::lchown(path.c_str(), uid, gid);
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(path, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        ::lchown(it->path().c_str(), uid, gid);
    }
}

} // namespace

DovecotServer::DovecotServer(std::string maildirRoot, bool tls)
    : root_(std::move(maildirRoot)), tls_(tls) {
    for (const char* sub : {"cur", "new", "tmp"}) {
        fs::create_directories(root_ + "/" + sub);
    }
}

DovecotServer::~DovecotServer() {
    Stop();
    // The tree goes back to the test's user, so that it can remove it.
    ChownTree(root_, ::getuid(), ::getgid());
}

bool DovecotServer::MakeCertificates(std::string& why) {
    const std::string d = temp_.path();
    caFile_ = d + "ca.pem";
    WriteFileAtomic(d + "san.cnf", "subjectAltName = DNS:localhost, IP:127.0.0.1\n");
    const bool ok =
        RunQuietly({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                    "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2", "-subj",
                    "/CN=Quillfence test authority", "-keyout", d + "ca.key", "-out", caFile_}) &&
        RunQuietly({"openssl", "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                    "-nodes", "-subj", "/CN=localhost", "-keyout", d + "server.key", "-out",
                    d + "server.csr"}) &&
        RunQuietly({"openssl", "x509", "-req", "-in", d + "server.csr", "-CA", caFile_, "-CAkey",
                    d + "ca.key", "-CAcreateserial", "-days", "2", "-extfile", d + "san.cnf",
                    "-out", d + "server.pem"});
    if (!ok) {
        why = "openssl could not make the test certificates";
    }
    return ok;
}

void DovecotServer::WriteConfig() const {
    const std::string d = temp_.path();
    // As root the mail is served as "nobody"; as another user, as that user.
    std::string mailUser = "uid=nobody gid=nogroup";
    std::string services;
    if (::getuid() != 0) {
        const passwd* me = ::getpwuid(::getuid());
        const std::string name = me != nullptr ? me->pw_name : std::to_string(::getuid());
        mailUser = "uid=" + std::to_string(::getuid()) + " gid=" + std::to_string(::getgid());
        services = "default_internal_user = " + name + "\ndefault_login_user = " + name + "\n";
    }
    std::string conf = "protocols = imap\n"
                       "listen = 127.0.0.1\n"
                       "base_dir = " +
                       d + "run\nstate_dir = " + d + "state\nlog_path = " + d +
                       "dovecot.log\n"
                       "info_log_path = " +
                       d +
                       "dovecot.log\n"
                       "disable_plaintext_auth = no\n"
                       "auth_mechanisms = plain login\n"
                       "mail_fsync = never\n"
                       "passdb {\n  driver = passwd-file\n  args = scheme=PLAIN " +
                       d +
                       "passwd\n}\n"
                       "userdb {\n  driver = static\n  args = uid=nobody gid=nogroup home=" +
                       d + "home\n}\nmail_location = maildir:" + root_ +
                       "\n"
                       "service anvil {\n  chroot =\n}\n"
                       "service imap-login {\n  chroot =\n"
                       "  inet_listener imap {\n    address = 127.0.0.1\n    port = " +
                       std::to_string(port_) +
                       "\n  }\n"
                       "  inet_listener imaps {\n    address = 127.0.0.1\n    port = " +
                       std::to_string(tlsPort_) + "\n  }\n}\n";
    conf += services;
    if (!capabilities_.empty()) {
        conf += "imap_capability = " + capabilities_ + "\n";
    }
    if (tls_) {
        conf += "ssl = yes\nssl_cert = <" + d + "server.pem\nssl_key = <" + d + "server.key\n";
    } else {
        conf += "ssl = no\n";
    }
    WriteFileAtomic(d + "dovecot.conf", conf);
    WriteFileAtomic(d + "passwd", std::string(kUser) + ":{PLAIN}" + kPassword + "\n");
}

bool DovecotServer::Start(std::string& why) {
    if (Running()) {
        return true;
    }
    const std::string d = temp_.path();
    // The server's processes run as other users and must reach their files.
    ::chmod(d.c_str(), 0755);
    for (const char* sub : {"run", "state", "home"}) {
        fs::create_directories(d + sub);
    }
    if (const passwd* nobody = ::getpwnam("nobody"); nobody != nullptr && ::getuid() == 0) {
        ChownTree(d + "home", nobody->pw_uid, nobody->pw_gid);
    }
    if (tls_ && caFile_.empty() && !MakeCertificates(why)) {
        return false;
    }
    if (port_ == 0) {
        port_ = FreePort();
        tlsPort_ = tls_ ? FreePort() : 0;
    }
    WriteConfig();
    GiveMailToServer();
    pid_ = ::fork();
    if (pid_ == 0) {
        ::setpgid(0, 0);
        ::freopen("/dev/null", "r", stdin);
        ::freopen((d + "stdout.log").c_str(), "a", stdout);
        ::freopen((d + "stdout.log").c_str(), "a", stderr);
        ::execl("/usr/sbin/dovecot", "dovecot", "-F", "-c", (d + "dovecot.conf").c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            why = "dovecot ended at start: " + Log();
            return false;
        }
        if (Answers(port_) && (!tls_ || Answers(tlsPort_))) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    why = "dovecot did not answer within 10 s: " + Log();
    Kill();
    return false;
}

void DovecotServer::Stop() {
    if (!Running()) {
        return;
    }
    // The whole group: the master and the login and mail processes it started.
    // Mail processes that still serve a client may take their time: the
    // Maildir they leave behind is whole at every instant, so they are not
    // waited for long.
    ::kill(-pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) != pid_) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(-pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
}

void DovecotServer::Kill() {
    if (!Running()) {
        return;
    }
    // The whole group: the master and the login and mail processes it started.
    ::kill(-pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
}

std::string DovecotServer::Log() const {
    std::string log;
    for (const char* name : {"stdout.log", "dovecot.log"}) {
        std::error_code ec;
        if (fs::exists(temp_.path() + name, ec)) {
            log += ReadFileBytes(temp_.path() + name);
        }
    }
    return log;
}

void DovecotServer::GiveMailToServer() const {
    if (::getuid() != 0) {
        return;
    }
    if (const passwd* nobody = ::getpwnam("nobody")) {
        ChownTree(root_, nobody->pw_uid, nobody->pw_gid);
    }
}

void DovecotServer::ForgetUids(const std::string& folderPath) const {
    // Dovecot takes a new UIDVALIDITY from the clock: a second later it differs
    // from the one it gave when the folder was first seen.
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folderPath, ec)) {
        const std::string name = e.path().filename().string();
        if (name.rfind("dovecot", 0) == 0 && e.is_regular_file()) {
            fs::remove(e.path(), ec);
        }
    }
}

std::string DovecotServer::StoreLines() const {
    return "store = imap | Personal Folders | 127.0.0.1\nstore port = " + std::to_string(port_) +
           "\nstore tls = none\nstore user = " + kUser + "\nstore password = text " + kPassword +
           "\n";
}

void DovecotServer::WriteProfiles(const std::string& path) const {
    WriteFileAtomic(path, "[profile Test]\ndefault = yes\n" + StoreLines());
    ::chmod(path.c_str(), 0600);
}

} // namespace qf::testing
