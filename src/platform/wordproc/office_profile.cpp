#include "platform/wordproc/office_profile.h"

#include "common/fileio.h"
#include "common/process.h"
#include "common/xdg.h"
#include "platform/wordproc/office_process.h"
#include "platform/wordproc/word_processor.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>
#include <unistd.h>

namespace qf::wordproc {
namespace fs = std::filesystem;
namespace {

// No external content fetched for documents from untrusted referers (ours
// are all untrusted), no automatic field or chart updates, no lock files,
// highest macro security for documents.
constexpr const char* kProfileSettings = R"(<?xml version="1.0" encoding="UTF-8"?>
<oor:items xmlns:oor="http://openoffice.org/2001/registry" xmlns:xs="http://www.w3.org/2001/XMLSchema" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">
<item oor:path="/org.openoffice.Office.Common/Security/Scripting"><prop oor:name="BlockUntrustedRefererLinks" oor:op="fuse"><value>true</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Security/Scripting"><prop oor:name="MacroSecurityLevel" oor:op="fuse"><value>3</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Misc"><prop oor:name="UseLocking" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Writer/Content/Update"><prop oor:name="Field" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Writer/Content/Update"><prop oor:name="Chart" oor:op="fuse"><value>false</value></prop></item>
</oor:items>
)";

constexpr const char* kProfilePrefix = "office-";
constexpr const char* kOwnerFile = "owner";
// Pipe names this program makes up; a socket of any other name is not ours.
constexpr const char* kOwnPipePrefix = "quillfence-";

struct ProfileOwner {
    pid_t starter = 0;
    pid_t group = 0;
    std::string pipe;
};

// Empty when the profile is still being set up, or is not one of ours.
std::optional<ProfileOwner> ReadOwner(const fs::path& profile) {
    std::ifstream in(profile / kOwnerFile);
    long starter = 0;
    long group = 0;
    std::string pipe;
    if (!(in >> starter >> group >> pipe) || starter <= 0) {
        return std::nullopt;
    }
    return ProfileOwner{static_cast<pid_t>(starter), static_cast<pid_t>(group), pipe};
}

bool StarterGone(pid_t starter) {
    return starter != ::getpid() && ::kill(starter, 0) != 0 && errno != EPERM;
}

void KillOrphan(pid_t group, const std::string& profile) {
    if (!ProcessGroupCommandHas(group, profile)) {
        return;
    }
    ::kill(-group, SIGKILL);
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (ProcessGroupAlive(group) && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

} // namespace

std::string DefaultProfileParent() {
    return XdgCacheHome() + "/quillfence";
}

void RemoveStaleProfiles(const std::string& parent) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(parent, ec)) {
        std::string name = entry.path().filename().string();
        if (name.rfind(kProfilePrefix, 0) != 0 || !entry.is_directory(ec)) {
            continue;
        }
        auto owner = ReadOwner(entry.path());
        if (!owner || !StarterGone(owner->starter)) {
            continue;
        }
        KillOrphan(owner->group, entry.path().string());
        fs::remove_all(entry.path(), ec);
        if (owner->pipe.rfind(kOwnPipePrefix, 0) == 0) {
            ::unlink(PipeSocketPath(owner->pipe).c_str());
        }
    }
}

std::string CreatePrivateProfile(const std::string& parent) {
    try {
        MakeDirectories(parent);
    } catch (const Error& e) {
        throw WordProcessorError(Failure::NotAvailable,
                                 "A profile folder for LibreOffice cannot be created: " +
                                     std::string(e.what()));
    }
    RemoveStaleProfiles(parent);
    std::string folder = parent + "/" + kProfilePrefix + "XXXXXX";
    if (::mkdtemp(folder.data()) == nullptr) {
        throw WordProcessorError(Failure::NotAvailable,
                                 "A profile folder for LibreOffice cannot be created in " + parent +
                                     ": " + std::strerror(errno));
    }
    try {
        MakeDirectories(folder + "/user");
        WriteFileAtomic(folder + "/user/registrymodifications.xcu", kProfileSettings, 0600);
    } catch (const std::exception& e) {
        RemovePrivateProfile(folder);
        throw WordProcessorError(Failure::NotAvailable,
                                 "The LibreOffice profile cannot be prepared: " +
                                     std::string(e.what()));
    }
    return folder;
}

void RecordProfileOwner(const std::string& profile, pid_t group, const std::string& pipe) {
    WriteFileAtomic(profile + "/" + kOwnerFile,
                    std::to_string(::getpid()) + " " + std::to_string(group) + " " + pipe + "\n",
                    0600);
}

void RemovePrivateProfile(const std::string& profile) {
    std::error_code ec;
    fs::remove_all(profile, ec);
}

} // namespace qf::wordproc
