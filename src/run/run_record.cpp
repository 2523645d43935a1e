#include "run/run_record.h"

#include "common/error.h"
#include "common/fileio.h"
#include "i18n/translate.h"

#include <cerrno>
#include <charconv>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <unistd.h>
#include <vector>

namespace qf {
namespace {

constexpr std::string_view kFirstLine = "# Quillfence run record";
constexpr int kVersion = 1;

std::string ReadSmallFile(const std::string& path) {
    try {
        return ReadFileHead(path, 64 * 1024);
    } catch (const FileError&) {
        return {};
    }
}

std::string Trimmed(std::string_view s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) {
        s.remove_suffix(1);
    }
    return std::string(s);
}

std::string BootId() {
    return Trimmed(ReadSmallFile("/proc/sys/kernel/random/boot_id"));
}

// Field 22 of /proc/<pid>/stat: the start time in clock ticks since boot; 0
// when it cannot be read.
std::uint64_t StartTicks(long pid) {
    const std::string stat = ReadSmallFile("/proc/" + std::to_string(pid) + "/stat");
    const auto paren = stat.rfind(')');
    if (paren == std::string::npos) {
        return 0;
    }
    // After the command name: state is field 3, start time field 22.
    std::size_t pos = paren + 1;
    for (int field = 2; field < 22 && pos != std::string::npos; ++field) {
        pos = stat.find(' ', pos + 1);
    }
    if (pos == std::string::npos) {
        return 0;
    }
    std::uint64_t ticks = 0;
    std::from_chars(stat.data() + pos + 1, stat.data() + stat.size(), ticks);
    return ticks;
}

std::string HostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) {
        return "?";
    }
    return name;
}

std::string UserName() {
    if (const passwd* pw = ::getpwuid(::geteuid())) {
        return pw->pw_name;
    }
    return std::to_string(::geteuid());
}

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

// A value without line breaks, so a host or user name cannot add lines.
std::string OneLine(std::string value) {
    for (char& c : value) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    return value;
}

template <class Int> bool ParseInt(std::string_view text, Int& out) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size();
}

bool ParseLine(std::string_view key, std::string_view value, RunRecordContent& content,
               RunOwner& owner, bool& hasOwner) {
    if (key == "next") {
        std::int32_t n = 0;
        if (!ParseInt(value, n) || n < 0) {
            return false;
        }
        content.nextNumber = n;
    } else if (key == "pid") {
        hasOwner = true;
        return ParseInt(value, owner.pid) && owner.pid > 0;
    } else if (key == "host") {
        owner.host = value;
    } else if (key == "user") {
        owner.user = value;
    } else if (key == "started") {
        owner.started = value;
    } else if (key == "boot") {
        owner.bootId = value;
    } else if (key == "ticks") {
        return ParseInt(value, owner.startTicks);
    }
    // Keys of later versions are passed over.
    return true;
}

} // namespace

RunOwner RunOwner::Self() {
    RunOwner self;
    self.pid = static_cast<long>(::getpid());
    self.host = HostName();
    self.user = UserName();
    self.started = UtcNow();
    self.bootId = BootId();
    self.startTicks = StartTicks(self.pid);
    return self;
}

bool RunOwner::OnThisHost() const {
    return host == HostName();
}

bool RunOwner::AliveHere() const {
    if (!OnThisHost() || pid <= 0) {
        return false;
    }
    if (!bootId.empty() && bootId != BootId()) {
        return false; // the machine has been restarted since
    }
    if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM) {
        return false;
    }
    // The pid may have been given to another process meanwhile.
    return startTicks == 0 || StartTicks(pid) == 0 || StartTicks(pid) == startTicks;
}

std::string FormatRunRecord(const RunRecordContent& content) {
    std::string text = std::string(kFirstLine) +
                       ": the next output file number, and the run that holds this folder\n";
    text += "version " + std::to_string(kVersion) + "\n";
    if (content.nextNumber) {
        text += "next " + std::to_string(*content.nextNumber) + "\n";
    }
    if (const auto& o = content.owner) {
        text += "pid " + std::to_string(o->pid) + "\n";
        text += "host " + OneLine(o->host) + "\n";
        text += "user " + OneLine(o->user) + "\n";
        text += "started " + OneLine(o->started) + "\n";
        text += "boot " + OneLine(o->bootId) + "\n";
        text += "ticks " + std::to_string(o->startTicks) + "\n";
    }
    return text;
}

std::optional<RunRecordContent> ParseRunRecord(std::string_view text) {
    if (text.substr(0, kFirstLine.size()) != kFirstLine) {
        return std::nullopt;
    }
    RunRecordContent content;
    RunOwner owner;
    bool hasOwner = false;
    bool versionSeen = false;
    std::size_t pos = text.find('\n');
    while (pos != std::string_view::npos && pos + 1 < text.size()) {
        const std::size_t end = text.find('\n', pos + 1);
        const std::string_view line =
            text.substr(pos + 1, (end == std::string_view::npos ? text.size() : end) - pos - 1);
        pos = end;
        const std::size_t space = line.find(' ');
        const std::string_view key = line.substr(0, space);
        const std::string_view value =
            space == std::string_view::npos ? std::string_view{} : line.substr(space + 1);
        if (key == "version") {
            int version = 0;
            if (!ParseInt(value, version) || version < 1 || version > kVersion) {
                return std::nullopt;
            }
            versionSeen = true;
        } else if (!line.empty() && !ParseLine(key, value, content, owner, hasOwner)) {
            return std::nullopt;
        }
    }
    if (!versionSeen) {
        return std::nullopt;
    }
    if (hasOwner) {
        content.owner = std::move(owner);
    }
    return content;
}

RunRecord::~RunRecord() {
    if (held_) {
        try {
            Write(RunRecordContent{next_, std::nullopt}, true);
        } catch (const std::exception&) {
            // The folder stays marked; the next run sees that this process is
            // gone and takes it over.
        }
        Unlock();
    }
}

std::optional<std::int32_t> RecordedNextNumber(const std::string& folder) {
    try {
        const auto parsed = ParseRunRecord(ReadFileBytes(folder + RunRecord::kFileName, 64 * 1024));
        return parsed ? parsed->nextNumber : std::nullopt;
    } catch (const FileError&) {
        return std::nullopt;
    }
}

std::optional<std::int32_t> RunRecord::Acquire(const std::string& folder) {
    path_ = folder + kFileName;
    lockFd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (lockFd_ < 0) {
        ThrowSystemError("Cannot open file", folder, errno);
    }
    // The lock on the folder settles two runs that start at the same moment
    // and goes with its process however that ends; the record tells who.  A
    // file system without such locks leaves the record alone to decide.
    const bool busy = ::flock(lockFd_, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    RunRecordContent previous;
    if (::access(path_.c_str(), F_OK) == 0) {
        const auto parsed = ParseRunRecord(ReadFileBytes(path_, 64 * 1024));
        if (!parsed) {
            Unlock();
            throw Error(TranslateFmt(
                8741,
                "The run record %s is damaged. If no other run uses this output folder, delete "
                "the file; the next run then starts at the first file number of its settings.",
                {path_}));
        }
        previous = *parsed;
    }
    const RunOwner self = RunOwner::Self();
    const bool sameProcess =
        previous.owner && previous.owner->pid == self.pid && previous.owner->OnThisHost() && !busy;
    if (busy || (previous.owner && !sameProcess &&
                 (previous.owner->AliveHere() || !previous.owner->OnThisHost()))) {
        Unlock();
        const RunOwner other = previous.owner.value_or(RunOwner{});
        throw Error(TranslateFmt(
            8740,
            "The output folder %s is in use by another run: process %d on %s (user %s, started "
            "%s). Wait until that run has ended, or choose another output folder. If that "
            "process no longer exists, delete the file %s.",
            {folder, static_cast<std::int64_t>(other.pid), other.host, other.user, other.started,
             path_}));
    }
    owner_ = self;
    next_ = previous.nextNumber;
    Write(RunRecordContent{next_, owner_}, true);
    held_ = true;
    return previous.nextNumber;
}

void RunRecord::Commit(std::int32_t next) {
    next_ = next;
    Write(RunRecordContent{next_, owner_}, false);
}

void RunRecord::Release(std::int32_t next) {
    if (!held_) {
        return;
    }
    next_ = next;
    held_ = false;
    try {
        Write(RunRecordContent{next_, std::nullopt}, true);
    } catch (...) {
        Unlock();
        throw;
    }
    Unlock();
}

void RunRecord::Write(const RunRecordContent& content, bool durable) {
    WriteFileAtomic(path_, FormatRunRecord(content), 0666, FollowLinks::No,
                    durable ? Durability::Immediate : Durability::Deferred);
}

void RunRecord::Unlock() {
    if (lockFd_ >= 0) {
        ::close(lockFd_);
        lockFd_ = -1;
    }
}

} // namespace qf
