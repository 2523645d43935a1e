#include "platform/wordproc/office_instance.h"

#include "common/error.h"
#include "common/process.h"
#include "platform/wordproc/office_profile.h"
#include "platform/wordproc/user_macros.h"

#include <atomic>
#include <cctype>
#include <thread>
#include <unistd.h>

namespace qf::wordproc {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kPackage = "libreoffice-writer-nogui";
constexpr const char* kOwnSoffice = "/usr/lib/libreoffice/program/soffice";
constexpr const char* kUnshare = "/usr/bin/unshare";
// Time for an instance asked to quit to do so before it is killed.
constexpr std::chrono::seconds kQuitAnswer{10};
constexpr std::chrono::seconds kQuitExit{15};

std::atomic<int> g_pipeCounter{0};

WordProcessorError NotAvailable(const std::string& reason) {
    return WordProcessorError(Failure::NotAvailable, reason);
}

// A file URL for a path: everything outside the unreserved set is escaped.
std::string FileUrl(const std::string& path) {
    static const char* hex = "0123456789ABCDEF";
    std::string url = "file://";
    for (unsigned char c : path) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
            url += static_cast<char>(c);
        } else {
            url += '%';
            url += hex[c >> 4];
            url += hex[c & 15];
        }
    }
    return url;
}

std::string FindSoffice(const std::string& configured) {
    if (!configured.empty()) {
        return configured;
    }
    if (::access(kOwnSoffice, X_OK) == 0) {
        return kOwnSoffice;
    }
    return FindProgramOnPath("soffice");
}

// Whether this system lets an unprivileged process have a network namespace
// of its own (asked once: it does not change while the program runs).
bool CanIsolateNetwork() {
    static const bool can = [] {
        if (::access(kUnshare, X_OK) != 0) {
            return false;
        }
        SpawnOptions options;
        options.quiet = true;
        options.newProcessGroup = true;
        int error = 0;
        auto probe =
            ChildProcess::Start({kUnshare, "--net", "--map-current-user", "true"}, options, error);
        if (!probe) {
            return false;
        }
        if (!probe->WaitForGroupExit(std::chrono::seconds(10))) {
            probe->KillGroupAndWait(std::chrono::seconds(10));
            return false;
        }
        return probe->ExitStatus() == 0;
    }();
    return can;
}

} // namespace

OfficeInstance::OfficeInstance(const LibreOfficeOptions& options, OfficeWatchdog& watchdog)
    : options_(options), watchdog_(watchdog) {}

OfficeInstance::~OfficeInstance() {
    try {
        Quit();
    } catch (...) {
    }
}

bool OfficeInstance::Connect() {
    if (bridge_ && Alive()) {
        return Started();
    }
    if (bridge_ || process_) {
        Drop();
    }
    return AttachOrStart();
}

void OfficeInstance::EnsureAnswering() {
    if (bridge_) {
        // A hung instance must not hang this check: it runs under the deadline.
        ArmDeadline();
        bool alive = Alive();
        watchdog_.Disarm();
        if (alive && !watchdog_.Expired()) {
            return;
        }
        if (watchdog_.Expired() && !process_) {
            abandonedAttached_ = true;
        }
        Drop();
        ++restarts_;
    } else if (process_) {
        Drop();
    }
    AttachOrStart();
}

std::string OfficeInstance::Replace(bool afterDeadline) {
    if (afterDeadline && !process_) {
        abandonedAttached_ = true;
    }
    Drop();
    ++restarts_;
    try {
        AttachOrStart();
        return {};
    } catch (const WordProcessorError& e) {
        return std::string(" LibreOffice could not be started again: ") + e.what();
    }
}

bool OfficeInstance::Alive() {
    if (!bridge_) {
        return false;
    }
    if (process_ && !process_->Running()) {
        return false;
    }
    return bridge_->Ping();
}

void OfficeInstance::Quit() {
    watchdog_.Disarm();
    if (process_) {
        bool asked = false;
        if (bridge_) {
            ArmDeadline(kQuitAnswer);
            bridge_->Terminate();
            watchdog_.Disarm();
            asked = true;
        }
        bridge_.reset();
        if (!asked || !process_->WaitForGroupExit(kQuitExit)) {
            process_->KillAndWait();
        }
        process_.reset();
    }
    bridge_.reset();
    if (!profile_.empty()) {
        RemovePrivateProfile(profile_);
        profile_.clear();
    }
}

void OfficeInstance::ArmDeadline(std::chrono::milliseconds limit) {
    if (process_) {
        const OfficeProcess* process = process_.get();
        watchdog_.Arm(limit, [process] { process->KillGroup(); });
    } else {
        UnoBridge* bridge = bridge_.get();
        watchdog_.Arm(limit, [bridge] {
            if (bridge != nullptr) {
                bridge->Abort();
            }
        });
    }
}

// Drops the instance in use: ours is killed, the user's is let go.
void OfficeInstance::Drop() {
    watchdog_.Disarm();
    bridge_.reset();
    if (process_) {
        process_->KillAndWait();
        process_.reset();
    }
    ++generation_;
}

// Attaches to the instance on the configured pipe, else starts one; true
// when it started one.
bool OfficeInstance::AttachOrStart() {
    try {
        LoadUnoModule();
    } catch (const std::runtime_error& e) {
        throw NotAvailable(std::string("LibreOffice's UNO runtime cannot be loaded (") + e.what() +
                           "): install the package " + kPackage);
    }
    if (!options_.pipeName.empty() && !abandonedAttached_) {
        try {
            bridge_ = UnoBridge::Connect(options_.pipeName);
        } catch (const UnoCallError& e) {
            throw NotAvailable("LibreOffice on pipe " + options_.pipeName +
                               " does not answer: " + e.what());
        }
        if (bridge_) {
            pipe_ = options_.pipeName;
            return false;
        }
    }
    StartOwn();
    return true;
}

void OfficeInstance::StartOwn() {
    std::string program = FindSoffice(options_.program);
    if (program.empty() || ::access(program.c_str(), X_OK) != 0) {
        throw NotAvailable(std::string("LibreOffice is not installed (soffice was not found): "
                                       "install the package ") +
                           kPackage);
    }
    if (profile_.empty()) {
        profile_ = CreatePrivateProfile(options_.profileParent.empty() ? DefaultProfileParent()
                                                                       : options_.profileParent);
    }
    if (!options_.pipeName.empty() && !abandonedAttached_) {
        pipe_ = options_.pipeName;
    } else {
        pipe_ = "quillfence-" + std::to_string(::getpid()) + "-" + std::to_string(++g_pipeCounter);
    }
    isolated_ = options_.isolateNetwork && CanIsolateNetwork();
    try {
        process_ = std::make_unique<OfficeProcess>(CommandLine(program), profile_ + "/office.log",
                                                   PipeSocketPath(pipe_));
        RecordProfileOwner(profile_, process_->pid(), pipe_);
    } catch (const Error& e) {
        process_.reset();
        throw NotAvailable(std::string("LibreOffice could not be started: ") + e.what());
    }
    WaitUntilAnswering();
    InstallUserMacros();
}

std::vector<std::string> OfficeInstance::CommandLine(const std::string& program) const {
    std::vector<std::string> argv;
    if (isolated_) {
        argv = {kUnshare, "--net", "--map-current-user", "--"};
    }
    argv.insert(argv.end(),
                {program, "--headless", "--invisible", "--nologo", "--norestore", "--nodefault",
                 "--nolockcheck", "-env:UserInstallation=" + FileUrl(profile_),
                 "--accept=pipe,name=" + pipe_ + ";urp;StarOffice.ComponentContext"});
    return argv;
}

void OfficeInstance::WaitUntilAnswering() {
    auto until = Clock::now() + options_.startLimit;
    for (;;) {
        std::unique_ptr<UnoBridge> bridge;
        try {
            bridge = UnoBridge::Connect(pipe_);
        } catch (const UnoCallError& e) {
            process_.reset();
            throw NotAvailable(std::string("LibreOffice does not answer: ") + e.what());
        }
        if (bridge) {
            bridge_ = std::move(bridge);
            return;
        }
        if (!process_->Running()) {
            std::string how = process_->ExitDescription();
            process_.reset();
            throw NotAvailable("LibreOffice stopped while starting (" + how +
                               "); its messages are in " + profile_ + "/office.log");
        }
        if (Clock::now() >= until) {
            process_.reset();
            throw NotAvailable("LibreOffice did not start within " +
                               SecondsText(options_.startLimit) + " s");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

// A private profile starts with LibreOffice's default macros only.
void OfficeInstance::InstallUserMacros() {
    const std::string folder =
        options_.userMacros.empty() ? DefaultUserMacros() : options_.userMacros;
    for (const BasicModule& m : ReadUserMacros(folder)) {
        try {
            bridge_->InstallBasicModule(m.library, m.module, m.source);
        } catch (const std::exception&) {
            // Left out: its macros are reported missing when called.
        }
    }
}

} // namespace qf::wordproc
