#include "platform/wordproc/libreoffice.h"

#include "common/fileio.h"
#include "common/text.h"
#include "platform/wordproc/document_check.h"
#include "platform/wordproc/office_process.h"
#include "platform/wordproc/uno_bridge.h"

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <unistd.h>

namespace qf::wordproc {
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* kPackage = "libreoffice-writer-nogui";
constexpr const char* kOwnSoffice = "/usr/lib/libreoffice/program/soffice";

// Settings of a private profile: no external content fetched for documents
// from untrusted referers (ours are all untrusted), no automatic field or
// chart updates, no lock files, highest macro security for documents.
constexpr const char* kProfileSettings = R"(<?xml version="1.0" encoding="UTF-8"?>
<oor:items xmlns:oor="http://openoffice.org/2001/registry" xmlns:xs="http://www.w3.org/2001/XMLSchema" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">
<item oor:path="/org.openoffice.Office.Common/Security/Scripting"><prop oor:name="BlockUntrustedRefererLinks" oor:op="fuse"><value>true</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Security/Scripting"><prop oor:name="MacroSecurityLevel" oor:op="fuse"><value>3</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Misc"><prop oor:name="UseLocking" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Writer/Content/Update"><prop oor:name="Field" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Writer/Content/Update"><prop oor:name="Chart" oor:op="fuse"><value>false</value></prop></item>
</oor:items>
)";

std::atomic<int> g_pipeCounter{0};

std::string Seconds(std::chrono::milliseconds ms) {
    auto s = ms.count() / 1000.0;
    char buf[32];
    std::snprintf(buf, sizeof buf, s == static_cast<long>(s) ? "%.0f" : "%.1f", s);
    return buf;
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

std::string FindProgram(const std::string& configured) {
    if (!configured.empty())
        return configured;
    if (::access(kOwnSoffice, X_OK) == 0)
        return kOwnSoffice;
    if (const char* path = std::getenv("PATH")) {
        std::string dirs = path;
        std::size_t start = 0;
        while (start <= dirs.size()) {
            std::size_t colon = dirs.find(':', start);
            std::string dir =
                dirs.substr(start, colon == std::string::npos ? colon : colon - start);
            if (!dir.empty() && ::access((dir + "/soffice").c_str(), X_OK) == 0)
                return dir + "/soffice";
            if (colon == std::string::npos)
                break;
            start = colon + 1;
        }
    }
    return {};
}

std::string ProfileParent(const std::string& configured) {
    if (!configured.empty())
        return configured;
    if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache && *cache == '/')
        return std::string(cache) + "/quillfence";
    if (const char* home = std::getenv("HOME"); home && *home == '/')
        return std::string(home) + "/.cache/quillfence";
    return fs::temp_directory_path().string();
}

// Whether this system lets an unprivileged process have a network namespace
// of its own (asked once: it does not change while the program runs).
bool CanIsolateNetwork() {
    static const bool can = [] {
        if (::access("/usr/bin/unshare", X_OK) != 0)
            return false;
        try {
            OfficeProcess probe({"/usr/bin/unshare", "--net", "--map-current-user", "true"},
                                "/dev/null");
            if (!probe.WaitForGroupExit(std::chrono::seconds(10)))
                return false;
            return probe.ExitDescription() == "exit status 0";
        } catch (const Error&) {
            return false;
        }
    }();
    return can;
}

std::string UserMacros(const std::string& configured) {
    if (!configured.empty())
        return configured;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config == '/')
        return std::string(config) + "/libreoffice/4/user/basic";
    if (const char* home = std::getenv("HOME"); home && *home == '/')
        return std::string(home) + "/.config/libreoffice/4/user/basic";
    return {};
}

// The Basic source in a module file (.xba) of a LibreOffice profile.
std::optional<std::string> ModuleSource(const std::string& xml) {
    std::size_t open = xml.find("<script:module");
    if (open == std::string::npos)
        return std::nullopt;
    std::size_t start = xml.find('>', open);
    std::size_t end = xml.rfind("</script:module>");
    if (start == std::string::npos || end == std::string::npos || end < start)
        return std::nullopt;
    std::string escaped = xml.substr(start + 1, end - start - 1);
    std::string source;
    for (std::size_t i = 0; i < escaped.size(); ++i) {
        if (escaped[i] != '&') {
            source += escaped[i];
            continue;
        }
        std::size_t semi = escaped.find(';', i);
        if (semi == std::string::npos)
            return std::nullopt;
        std::string entity = escaped.substr(i + 1, semi - i - 1);
        i = semi;
        if (entity == "lt")
            source += '<';
        else if (entity == "gt")
            source += '>';
        else if (entity == "amp")
            source += '&';
        else if (entity == "quot")
            source += '"';
        else if (entity == "apos")
            source += '\'';
        else if (entity.size() > 1 && entity[0] == '#') {
            bool hex = entity[1] == 'x' || entity[1] == 'X';
            char32_t cp = static_cast<char32_t>(
                std::strtoul(entity.c_str() + (hex ? 2 : 1), nullptr, hex ? 16 : 10));
            source += Utf16ToUtf8(
                cp < 0x10000 ? std::u16string(1, static_cast<char16_t>(cp))
                             : std::u16string{static_cast<char16_t>(0xD7C0 + (cp >> 10)),
                                              static_cast<char16_t>(0xDC00 | (cp & 0x3FF))});
        } else {
            return std::nullopt;
        }
    }
    return source;
}

// The socket file LibreOffice makes for an accepting pipe; a killed instance
// leaves it behind.
std::string PipeSocketPath(const std::string& pipe) {
    return "/tmp/OSL_PIPE_" + std::to_string(::getuid()) + "_" + pipe;
}

// Profiles of instances whose run ended without stopping them (killed, or
// crashed in a way no handler saw): each profile names the process that
// started it and the instance's process group.  An instance whose starter is
// gone is killed (after checking that the group still runs that profile),
// and its profile removed.
void RemoveStaleProfiles(const std::string& parent) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(parent, ec)) {
        std::string name = entry.path().filename().string();
        if (name.rfind("office-", 0) != 0 || !entry.is_directory(ec))
            continue;
        std::ifstream owner(entry.path() / "owner");
        long starter = 0, group = 0;
        std::string pipe;
        if (!(owner >> starter >> group >> pipe) || starter <= 0)
            continue; // still being set up, or not one of ours
        if (starter == ::getpid() || ::kill(static_cast<pid_t>(starter), 0) == 0 || errno == EPERM)
            continue;
        auto pgid = static_cast<pid_t>(group);
        if (ProcessGroupCommandHas(pgid, entry.path().string())) {
            ::kill(-pgid, SIGKILL);
            auto until = Clock::now() + std::chrono::seconds(10);
            while (ProcessGroupAlive(pgid) && Clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        fs::remove_all(entry.path(), ec);
        if (pipe.rfind("quillfence-", 0) == 0)
            ::unlink(PipeSocketPath(pipe).c_str());
    }
}

} // namespace

LibreOfficeOptions LibreOfficeOptions::FromEnvironment() {
    LibreOfficeOptions o;
    if (const char* pipe = std::getenv("QUILLFENCE_OFFICE_PIPE"))
        o.pipeName = pipe;
    if (const char* deadline = std::getenv("QUILLFENCE_OFFICE_DEADLINE")) {
        char* end = nullptr;
        double s = std::strtod(deadline, &end);
        if (end != deadline && s > 0)
            o.deadline = std::chrono::milliseconds(static_cast<long long>(s * 1000));
    }
    return o;
}

struct LibreOffice::Impl {
    struct OpenDocument {
        std::uint64_t bridgeId = 0;
        int generation = 0;
    };

    LibreOfficeOptions options;
    std::unique_ptr<UnoBridge> bridge;
    std::unique_ptr<OfficeProcess> process; // set while our own instance runs
    std::string pipe;
    std::string profileDir;
    bool isolated = false;          // our instance has no network
    bool abandonedAttached = false; // the user's instance hung: do not use it again
    int generation = 0;             // bumped whenever the instance is replaced
    int restarts = 0;
    std::uint64_t lastDocument = 0;
    std::map<std::uint64_t, OpenDocument> documents;
    // Why documents of an earlier generation ended.
    std::map<int, WordProcessorError> endedGenerations;

    // The watchdog: kills our instance (or drops the connection to the user's)
    // when the current document passes its deadline.
    std::mutex watchMutex;
    std::condition_variable watchWake;
    std::optional<Clock::time_point> watchDeadline;
    pid_t watchGroup = -1;
    UnoBridge* watchBridge = nullptr;
    bool watchStop = false;
    std::atomic<bool> expired{false};
    std::thread watcher;

    explicit Impl(LibreOfficeOptions o) : options(std::move(o)) {}

    ~Impl() {
        try {
            Quit();
        } catch (...) {
        }
        {
            std::lock_guard lock(watchMutex);
            watchStop = true;
        }
        watchWake.notify_all();
        if (watcher.joinable())
            watcher.join();
    }

    void Watch() {
        std::unique_lock lock(watchMutex);
        while (!watchStop) {
            if (!watchDeadline) {
                watchWake.wait(lock);
                continue;
            }
            if (watchWake.wait_until(lock, *watchDeadline) != std::cv_status::timeout)
                continue;
            if (!watchDeadline || Clock::now() < *watchDeadline)
                continue;
            expired = true;
            watchDeadline.reset();
            if (watchGroup > 0)
                ::kill(-watchGroup, SIGKILL);
            else if (watchBridge)
                watchBridge->Abort();
        }
    }

    void Arm() { Arm(options.deadline); }
    void Arm(std::chrono::milliseconds limit) {
        std::lock_guard lock(watchMutex);
        expired = false;
        watchDeadline = Clock::now() + limit;
        watchGroup = process ? process->pid() : -1;
        watchBridge = bridge.get();
        if (!watcher.joinable())
            watcher = std::thread([this] { Watch(); });
        watchWake.notify_all();
    }

    void Disarm() {
        std::lock_guard lock(watchMutex);
        watchDeadline.reset();
        watchGroup = -1;
        watchBridge = nullptr;
        watchWake.notify_all();
    }

    // Drops the instance in use: ours is killed, the user's is let go.
    void Drop() {
        Disarm();
        bridge.reset();
        if (process) {
            process->KillAndWait();
            process.reset();
            ::unlink(PipeSocketPath(pipe).c_str());
        }
        ++generation;
    }

    void RemoveProfile() {
        if (profileDir.empty())
            return;
        std::error_code ec;
        fs::remove_all(profileDir, ec);
        profileDir.clear();
    }

    void PrepareProfile() {
        if (!profileDir.empty())
            return;
        std::string parent = ProfileParent(options.profileParent);
        try {
            MakeDirectories(parent);
        } catch (const Error& e) {
            throw WordProcessorError(Failure::NotAvailable,
                                     "A profile folder for LibreOffice cannot be created: " +
                                         std::string(e.what()));
        }
        RemoveStaleProfiles(parent);
        std::string tmpl = parent + "/office-XXXXXX";
        if (!::mkdtemp(tmpl.data()))
            throw WordProcessorError(Failure::NotAvailable,
                                     "A profile folder for LibreOffice cannot be created in " +
                                         parent + ": " + std::strerror(errno));
        profileDir = tmpl;
        try {
            MakeDirectories(profileDir + "/user");
            WriteFileAtomic(profileDir + "/user/registrymodifications.xcu", kProfileSettings, 0600);
        } catch (const std::exception& e) {
            throw WordProcessorError(Failure::NotAvailable,
                                     "The LibreOffice profile cannot be prepared: " +
                                         std::string(e.what()));
        }
    }

    void StartOwn() {
        std::string program = FindProgram(options.program);
        if (program.empty() || ::access(program.c_str(), X_OK) != 0)
            throw WordProcessorError(Failure::NotAvailable,
                                     std::string("LibreOffice is not installed (soffice was not "
                                                 "found): install the package ") +
                                         kPackage);
        PrepareProfile();
        if (!options.pipeName.empty() && !abandonedAttached)
            pipe = options.pipeName;
        else
            pipe =
                "quillfence-" + std::to_string(::getpid()) + "-" + std::to_string(++g_pipeCounter);
        std::vector<std::string> argv;
        isolated = options.isolateNetwork && CanIsolateNetwork();
        if (isolated)
            argv = {"/usr/bin/unshare", "--net", "--map-current-user", "--"};
        argv.insert(argv.end(),
                    {program, "--headless", "--invisible", "--nologo", "--norestore", "--nodefault",
                     "--nolockcheck", "-env:UserInstallation=" + FileUrl(profileDir),
                     "--accept=pipe,name=" + pipe + ";urp;StarOffice.ComponentContext"});
        try {
            process = std::make_unique<OfficeProcess>(argv, profileDir + "/office.log",
                                                      PipeSocketPath(pipe));
            WriteFileAtomic(profileDir + "/owner",
                            std::to_string(::getpid()) + " " + std::to_string(process->pid()) +
                                " " + pipe + "\n",
                            0600);
        } catch (const Error& e) {
            process.reset();
            throw WordProcessorError(Failure::NotAvailable,
                                     std::string("LibreOffice could not be started: ") + e.what());
        }
        auto until = Clock::now() + options.startLimit;
        for (;;) {
            std::unique_ptr<UnoBridge> b;
            try {
                b = UnoBridge::Connect(pipe);
            } catch (const UnoCallError& e) {
                process.reset();
                throw WordProcessorError(Failure::NotAvailable,
                                         std::string("LibreOffice does not answer: ") + e.what());
            }
            if (b) {
                bridge = std::move(b);
                ImportUserMacros();
                return;
            }
            if (!process->Running()) {
                std::string how = process->ExitDescription();
                process.reset();
                throw WordProcessorError(Failure::NotAvailable,
                                         "LibreOffice stopped while starting (" + how +
                                             "); its messages are in " + profileDir +
                                             "/office.log");
            }
            if (Clock::now() >= until) {
                process.reset();
                throw WordProcessorError(Failure::NotAvailable,
                                         "LibreOffice did not start within " +
                                             Seconds(options.startLimit) + " s");
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }

    // A new profile starts with LibreOffice's default macros: the user's own
    // Basic libraries are read from their profile and put into ours.  A module
    // that cannot be read is left out; its macros are then reported missing.
    void ImportUserMacros() {
        std::string folder = UserMacros(options.userMacros);
        std::error_code ec;
        if (folder.empty() || !fs::is_directory(folder, ec))
            return;
        for (const auto& lib : fs::directory_iterator(folder, ec)) {
            if (!lib.is_directory() || !fs::exists(lib.path() / "script.xlb"))
                continue;
            for (const auto& module : fs::directory_iterator(lib.path(), ec)) {
                if (module.path().extension() != ".xba")
                    continue;
                try {
                    auto source = ModuleSource(ReadFileBytes(module.path().string()));
                    if (source)
                        bridge->InstallBasicModule(lib.path().filename().string(),
                                                   module.path().stem().string(), *source);
                } catch (const std::exception&) {
                }
            }
        }
    }

    // Attaches to the instance on the configured pipe, else starts one.
    bool ConnectInstance() {
        try {
            LoadUnoModule();
        } catch (const std::runtime_error& e) {
            throw WordProcessorError(Failure::NotAvailable,
                                     std::string("LibreOffice's UNO runtime cannot be loaded (") +
                                         e.what() + "): install the package " + kPackage);
        }
        if (!options.pipeName.empty() && !abandonedAttached) {
            try {
                bridge = UnoBridge::Connect(options.pipeName);
            } catch (const UnoCallError& e) {
                throw WordProcessorError(Failure::NotAvailable,
                                         "LibreOffice on pipe " + options.pipeName +
                                             " does not answer: " + e.what());
            }
            if (bridge) {
                pipe = options.pipeName;
                return false;
            }
        }
        StartOwn();
        return true;
    }

    bool InstanceAlive() {
        if (!bridge)
            return false;
        if (process && !process->Running())
            return false;
        return bridge->Ping();
    }

    // Replaces the instance after a deadline or a crash.  Returns what went
    // wrong when no new instance could be had (the next call tries again).
    std::string Replace() {
        Drop();
        ++restarts;
        try {
            ConnectInstance();
            return {};
        } catch (const WordProcessorError& e) {
            return std::string(" LibreOffice could not be started again: ") + e.what();
        }
    }

    // Turns a failed UNO call into the error the caller sees, replacing the
    // instance when it hung or died.
    [[noreturn]] void Fail(const UnoCallError& e, Failure failure) {
        if (expired) {
            bool ours = process != nullptr;
            if (!ours)
                abandonedAttached = true;
            std::string reason = "The document was not converted within " +
                                 Seconds(options.deadline) + " s; LibreOffice was " +
                                 (ours ? "stopped and started again."
                                       : "left running (this run did not start it) and this "
                                         "run goes on with an instance of its own.");
            int ended = generation;
            reason += Replace();
            WordProcessorError error(Failure::Timeout, reason);
            endedGenerations.insert_or_assign(ended, error);
            throw error;
        }
        if (e.lost() || !InstanceAlive()) {
            std::string reason = "LibreOffice stopped while handling the document (it crashed "
                                 "or was killed); it was started again.";
            int ended = generation;
            reason += Replace();
            WordProcessorError error(Failure::OfficeDied, reason);
            endedGenerations.insert_or_assign(ended, error);
            throw error;
        }
        throw WordProcessorError(failure, e.what());
    }

    // The instance for the next document: a dead one is detected and replaced.
    void EnsureInstance() {
        if (bridge) {
            // A hung instance must not hang this check: it runs under the deadline.
            Arm();
            bool alive = InstanceAlive();
            Disarm();
            if (alive && !expired)
                return;
            if (expired && !process)
                abandonedAttached = true;
            Drop();
            ++restarts;
        } else if (process) {
            Drop();
        }
        ConnectInstance();
    }

    std::uint64_t BridgeDocument(DocumentId doc) {
        auto it = documents.find(doc.value);
        if (it == documents.end())
            throw WordProcessorError(Failure::NoText, "The document is not open");
        if (it->second.generation != generation) {
            auto ended = endedGenerations.find(it->second.generation);
            if (ended != endedGenerations.end())
                throw ended->second;
            throw WordProcessorError(Failure::OfficeDied,
                                     "LibreOffice was replaced while the document was open");
        }
        return it->second.bridgeId;
    }

    template <class F> auto Call(DocumentId doc, Failure failure, F&& f) {
        std::uint64_t id = BridgeDocument(doc);
        try {
            return f(id);
        } catch (const UnoCallError& e) {
            Fail(e, failure);
        } catch (const WordProcessorError&) {
            throw;
        } catch (...) {
            Fail(UnoCallError("LibreOffice reported an unexpected error", false), failure);
        }
    }

    void Quit() {
        Disarm();
        documents.clear();
        if (!process) {
            bridge.reset();
            RemoveProfile();
            return;
        }
        bool asked = false;
        if (bridge) {
            Arm(std::chrono::seconds(10));
            bridge->Terminate();
            Disarm();
            asked = true;
        }
        bridge.reset();
        if (!asked || !process->WaitForGroupExit(std::chrono::seconds(15))) {
            process->KillAndWait();
            ::unlink(PipeSocketPath(pipe).c_str());
        }
        process.reset();
        RemoveProfile();
    }
};

LibreOffice::LibreOffice(LibreOfficeOptions options)
    : impl_(std::make_unique<Impl>(std::move(options))) {}

LibreOffice::~LibreOffice() = default;

bool LibreOffice::Connect() {
    if (impl_->bridge && impl_->InstanceAlive())
        return Started();
    if (impl_->bridge || impl_->process)
        impl_->Drop();
    return impl_->ConnectInstance();
}

bool LibreOffice::Started() const {
    return impl_->process != nullptr;
}

void LibreOffice::Hide() {
    // Started instances are headless and every document is opened hidden;
    // the windows of an instance the user has open are left as they are.
}

DocumentId LibreOffice::Open(const std::string& path, const std::string& openPassword,
                             const std::string& /*modifyPassword: read-only opens never ask*/) {
    if (auto mismatch = CheckLeadingBytes(path))
        throw WordProcessorError(Failure::WrongFormat, *mismatch);
    std::string absolute = fs::absolute(path).lexically_normal().string();
    Impl& m = *impl_;
    m.EnsureInstance();
    m.Arm();
    std::uint64_t id = 0;
    try {
        if (!m.process && m.bridge->IsOpen(absolute)) {
            m.Disarm();
            throw WordProcessorError(Failure::AlreadyOpen,
                                     "The same file is open in LibreOffice; it was left alone");
        }
        id = m.bridge->Load(absolute, openPassword);
    } catch (const UnoCallError& e) {
        m.Disarm();
        m.Fail(e, Failure::CannotOpen);
    }
    DocumentId doc{++m.lastDocument};
    m.documents[doc.value] = {id, m.generation};
    return doc;
}

StepOutcome LibreOffice::ClearMailMerge(DocumentId doc) {
    // A Writer document is never the main document of a running mail merge:
    // its fields are read as they stand.
    impl_->BridgeDocument(doc);
    return StepOutcome::Unsupported;
}

StepOutcome LibreOffice::Unprotect(DocumentId doc, const std::string& password) {
    int r = impl_->Call(doc, Failure::StepFailed,
                        [&](std::uint64_t id) { return impl_->bridge->Unprotect(id, password); });
    return r < 0 ? StepOutcome::Unsupported : r == 0 ? StepOutcome::NotNeeded : StepOutcome::Done;
}

void LibreOffice::RunMacro(DocumentId doc, const std::string& name) {
    if (name.empty())
        return;
    std::string detail;
    MacroResult r = impl_->Call(doc, Failure::MacroFailed, [&](std::uint64_t id) {
        return impl_->bridge->RunMacro(id, name, detail);
    });
    if (r == MacroResult::Missing)
        throw WordProcessorError(Failure::MacroMissing, detail);
    if (r == MacroResult::Failed) {
        // A macro that fails because the instance hung or died ends the document.
        if (impl_->expired || !impl_->InstanceAlive())
            impl_->Fail(UnoCallError(detail, true), Failure::MacroFailed);
        throw WordProcessorError(Failure::MacroFailed, detail);
    }
}

std::string LibreOffice::WholeText(DocumentId doc) {
    std::string text = impl_->Call(doc, Failure::NoText,
                                   [&](std::uint64_t id) { return impl_->bridge->Text(id); });
    PrintableCount count = CountPrintable(text);
    if (count.unprintable * 4 > count.visible)
        throw WordProcessorError(Failure::Unreadable,
                                 "The document's text came back mostly unprintable (" +
                                     std::to_string(count.unprintable) + " of " +
                                     std::to_string(count.visible) + " characters)");
    return text;
}

void LibreOffice::Close(DocumentId doc) {
    Impl& m = *impl_;
    auto it = m.documents.find(doc.value);
    if (it == m.documents.end())
        return;
    auto entry = it->second;
    m.documents.erase(it);
    if (entry.generation != m.generation)
        return; // it ended with the instance it was open in
    try {
        m.bridge->Close(entry.bridgeId);
        m.Disarm();
    } catch (const UnoCallError& e) {
        m.Disarm();
        m.Fail(e, Failure::CloseFailed);
    }
}

void LibreOffice::Quit() {
    impl_->Quit();
}

void LibreOffice::InstallBasicModule(const std::string& library, const std::string& module,
                                     const std::string& source) {
    Impl& m = *impl_;
    m.EnsureInstance();
    try {
        m.bridge->InstallBasicModule(library, module, source);
    } catch (const UnoCallError& e) {
        throw WordProcessorError(Failure::NotAvailable, e.what());
    }
}

void LibreOffice::StoreCopy(DocumentId doc, const std::string& path, const std::string& filter,
                            const std::string& password) {
    std::string absolute = fs::absolute(path).lexically_normal().string();
    impl_->Call(doc, Failure::StepFailed, [&](std::uint64_t id) {
        impl_->bridge->StoreCopy(id, absolute, filter, password);
        return 0;
    });
}

void LibreOffice::SetDeadline(std::chrono::milliseconds deadline) {
    impl_->options.deadline = deadline;
}

pid_t LibreOffice::OfficeProcessGroup() const {
    return impl_->process ? impl_->process->pid() : -1;
}

std::string LibreOffice::PipeName() const {
    return impl_->pipe;
}

bool LibreOffice::NetworkIsolated() const {
    return impl_->process && impl_->isolated;
}

int LibreOffice::Restarts() const {
    return impl_->restarts;
}

} // namespace qf::wordproc
