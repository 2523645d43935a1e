// Whole runs against floors measured in the same process, on the disk the
// work folder is on and in memory (tmpfs, when /dev/shm is there):
//
//   floor      each message read and its bytes written to a numbered file
//              through a temporary name and a rename, one syncfs at the end
//   tag floor  the same, and each message rewritten the Maildir way (copied
//              into tmp/, renamed into cur/ under a new name, the old removed),
//              one syncfs at the end
//   left       a run leaving the emails (durable in batches)
//   tagged     a run tagging them
//   python     a Python standard-library exporter that does less: one text
//              file per email with four header lines and the plain body, no
//              dispositions, no syncs
//
// Mailboxes of plain emails of 2-50 kB (no attachments, default templates);
// then the peak memory of tagging runs, each in a process of its own.
//
//   bench_run [--quick | --full] [--keep DIR] [--batch-emails N] [--batch-ms MS]
//                         [--read-ahead N] [--memory-only]
//   bench_run --child MAILDIR OUTPUT      (internal: one run, prints its peak)
//   bench_run --one leave|tag|floor|python COUNT DIR  one run over DIR/Maildir (made with COUNT
//                                         emails when missing) into a fresh
//                                         DIR/out, for a profiler
//
// --quick: 1,000 emails; default: 1,000 and 10,000; --full: also 100,000.
// Every Maildir is generated first (not timed).
#include "common/fileio.h"
#include "mail/session.h"
#include "run/extraction_run.h"
#include "run/run_host.h"
#include "settings/settings.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// A host that shows nothing and never cancels.
class QuietHost : public qf::RunHost {
public:
    std::string error;
    void Show() override {}
    void SetStatusText(const std::string&) override {}
    void SetProgressValue(int) override {}
    void SetSubject(const std::string&) override {}
    void AddExceptionRow(const std::string&, const std::string&, const std::string&) override {}
    void Finish() override {}
    void ShowWarning(const std::string&) override {}
    bool AskYesNo(const std::string&) override { return true; }
    void ShowError(const std::string& text) override { error = text; }
    bool Cancelled() const override { return false; }
    void PumpMessages() override {}
    void SetNextFileNumber(std::int32_t) override {}
    void SaveAfterRun() override {}
};

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

void WriteRaw(const std::string& path, const std::string& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
        std::perror(path.c_str());
        std::exit(1);
    }
    ::close(fd);
}

// A Maildir of `count` plain applicant emails with bodies of about
// `bodyBytes` bytes each, or, with `bodyBytes` 0, of 2 to 50 kB (the same
// sizes on every run).
void MakeMaildir(const std::string& root, int count, size_t bodyBytes) {
    for (const char* sub : {"/cur", "/new", "/tmp"}) {
        fs::create_directories(root + sub);
    }
    std::string longest;
    const std::string line = "I have five years of experience in the field and enclose my CV.\n";
    while (longest.size() < std::max<size_t>(bodyBytes, 50 * 1024)) {
        longest += line;
    }
    std::uint32_t seed = 12345;
    for (int i = 0; i < count; ++i) {
        seed = seed * 1103515245u + 12345u;
        const size_t size = bodyBytes > 0 ? bodyBytes : 2048 + (seed >> 8) % (48 * 1024);
        const std::string body = longest.substr(0, size);
        const long t = 1796119200L + i * 60L;
        char date[64];
        std::time_t tt = t;
        std::tm tm{};
        gmtime_r(&tt, &tm);
        std::strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S +0000", &tm);
        const std::string n = std::to_string(i);
        const std::string msg = "Received: from mx.example by brindle.example; " +
                                std::string(date) + "\nFrom: Applicant " + n + " <applicant" + n +
                                "@example.org>\nTo: jobs@brindle.example\n"
                                "Subject: Application number " +
                                n + "\nDate: " + date + "\nMessage-ID: <" + n +
                                "@bench.example>\nMIME-Version: 1.0\n"
                                "Content-Type: text/plain; charset=utf-8\n\nDear team,\n" +
                                body;
        WriteRaw(root + "/cur/" + std::to_string(1000000000L + t) + ".M" + n + "P1.bench:2,", msg);
    }
}

void WriteProfiles(const std::string& dir, const std::string& root) {
    WriteRaw(dir + "/profiles.ini",
             "[profile Bench]\ndefault = yes\nstore = maildir | Personal Folders | " + root + "\n");
    ::setenv("QUILLFENCE_PROFILES", (dir + "/profiles.ini").c_str(), 1);
    ::setenv("QUILLFENCE_REGISTRY", (dir + "/registry.reg").c_str(), 1);
}

// The batch bounds of the runs (--batch-emails, --batch-ms); 0: the run's own.
int g_batchEmails = 0;
int g_batchMs = 0;
// The emails read ahead (--read-ahead N, 0: none); -1: the run's own.
int g_readAhead = -1;

// One run over the inbox into `output`; returns seconds.
double RunOnce(const std::string& output, bool tag = true) {
    qf::Settings s = qf::Settings::FirstStartDefaults();
    s.directory = output;
    s.manualFolder = output;
    s.firstNumber = 1;
    s.filterFilename.clear();
    s.includeAttachments = false;
    s.emailsFrom = qf::Settings::kDefaultInbox;
    s.emailsTo = tag ? qf::Settings::kTagSubject : qf::Settings::kLeaveEmails;
    QuietHost host;
    qf::MapiSession session;
    const auto start = Clock::now();
    qf::RunServices services{session, nullptr, {}, nullptr};
    if (g_batchEmails > 0) {
        services.batchEmails = g_batchEmails;
    }
    if (g_batchMs > 0) {
        services.batchTime = std::chrono::milliseconds(g_batchMs);
    }
    if (g_readAhead >= 0) {
        services.readAhead.emails = static_cast<std::size_t>(g_readAhead);
    }
    qf::ExtractionRun run(s, host, services);
    run.Execute();
    const double seconds = Seconds(Clock::now() - start);
    if (run.Outcome() != qf::RunOutcome::Complete) {
        std::fprintf(stderr, "run failed: %s\n", host.error.c_str());
        std::exit(1);
    }
    return seconds;
}

std::string Numbered(const std::string& output, int n) {
    char name[32];
    std::snprintf(name, sizeof name, "%06d.txt", n);
    return output + name;
}

// The floor: every message read and its bytes written to a numbered file
// through a temporary name and a rename; one syncfs at the end.  With `tag`,
// also every message rewritten the Maildir way.
double Floor(const std::string& root, const std::string& output, bool tag) {
    fs::create_directories(output);
    std::vector<std::string> files;
    for (const auto& e : fs::directory_iterator(root + "/cur")) {
        files.push_back(e.path().string());
    }
    const auto start = Clock::now();
    int n = 0;
    for (const std::string& file : files) {
        const std::string bytes = qf::ReadFileBytes(file);
        qf::WriteFileAtomic(Numbered(output, ++n), bytes, 0666, qf::FollowLinks::No,
                            qf::Durability::Deferred);
        if (tag) {
            const std::string unique = "floor" + std::to_string(n);
            const std::string tmp = root + "/tmp/" + unique;
            WriteRaw(tmp, bytes);
            if (::rename(tmp.c_str(), (root + "/cur/" + unique + ":2,").c_str()) != 0 ||
                ::unlink(file.c_str()) != 0) {
                std::perror(file.c_str());
                std::exit(1);
            }
        }
    }
    qf::FileSystemSync(output).Sync();
    return Seconds(Clock::now() - start);
}

// A Python standard-library exporter (what a user would script): four header
// lines and the plain body per email, nothing else.
constexpr const char* kPythonExporter = R"(import email, email.policy, os, sys
root, out = sys.argv[1], sys.argv[2]
n = 0
for name in sorted(os.listdir(os.path.join(root, 'cur'))):
    with open(os.path.join(root, 'cur', name), 'rb') as f:
        msg = email.message_from_binary_file(f, policy=email.policy.default)
    n += 1
    body = msg.get_body(preferencelist=('plain',))
    text = body.get_content() if body is not None else ''
    with open(os.path.join(out, '%06d.txt' % n), 'w', encoding='utf-8') as f:
        f.write('From: %s\nTo: %s\nSubject: %s\nDate: %s\n\n' %
                (msg['From'], msg['To'], msg['Subject'], msg['Date']))
        f.write(text)
)";

// Seconds the Python exporter takes, or a negative value without python3.
double Python(const std::string& dir, const std::string& root, const std::string& output) {
    fs::create_directories(output);
    WriteRaw(dir + "/export.py", kPythonExporter);
    const std::string cmd =
        "python3 '" + dir + "/export.py' '" + root + "' '" + output + "' 2>/dev/null";
    const auto start = Clock::now();
    const int status = std::system(cmd.c_str());
    const double seconds = Seconds(Clock::now() - start);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1;
}

// The peak resident memory of this process in kB.  Linux carries ru_maxrss
// across execve (the parent's peak before the spawn would count), so the
// peak of this image, VmHWM, is taken when it can be read.
long PeakKb() {
    if (FILE* f = std::fopen("/proc/self/status", "r")) {
        char line[256];
        long kb = -1;
        while (std::fgets(line, sizeof line, f) != nullptr) {
            if (std::strncmp(line, "VmHWM:", 6) == 0) {
                kb = std::atol(line + 6);
            }
        }
        std::fclose(f);
        if (kb > 0) {
            return kb;
        }
    }
    rusage ru{};
    ::getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

// Runs this program as `--child` and returns the peak memory it reported.
long ChildPeak(const std::string& self, const std::string& root, const std::string& output) {
    int pipefd[2];
    if (::pipe(pipefd) != 0) {
        std::exit(1);
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipefd[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipefd[0]);
    std::vector<std::string> args = {self, "--child", root, output};
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, self.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
        std::exit(1);
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipefd[1]);
    char buf[128] = {};
    const ssize_t got = ::read(pipefd[0], buf, sizeof buf - 1);
    ::close(pipefd[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (got <= 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "the measuring process failed\n");
        std::exit(1);
    }
    return std::atol(buf);
}

// Writes back what earlier steps left dirty (the generated mailbox, the files
// of the run before and their removal) so that it is not charged to the next
// timed step.  Without it the floor, timed first, found a settled disk and the
// runs after it paid for the removals before them at their first syncs.
void SettleDisk() {
    ::sync();
}

struct Speed {
    double floor, left, tagFloor, tagged, python;
};

Speed MeasureSpeed(const std::string& work, int count) {
    const std::string dir = work + "/speed" + std::to_string(count);
    const std::string root = dir + "/Maildir";
    MakeMaildir(root, count, 0);
    WriteProfiles(dir, root);
    // Every step writes into a folder of its own, and nothing is removed
    // until all are timed: on the disk here (ext4, mounted with discard),
    // creating files right after 10,000 others were removed took five times
    // as long, whichever step came after a removal.
    Speed s{};
    SettleDisk();
    s.floor = Floor(root, dir + "/floor/", false);
    SettleDisk();
    s.python = Python(dir, root, dir + "/python/");
    fs::create_directories(dir + "/out-leave");
    SettleDisk();
    s.left = RunOnce(dir + "/out-leave/", false);
    // The tag floor renames the messages but keeps their bytes: the tagging
    // run after it finds the same emails.
    SettleDisk();
    s.tagFloor = Floor(root, dir + "/tag-floor/", true);
    fs::create_directories(dir + "/out");
    SettleDisk();
    s.tagged = RunOnce(dir + "/out/");
    fs::remove_all(dir);
    return s;
}

long MeasurePeak(const std::string& self, const std::string& work, int count, size_t bodyBytes) {
    const std::string dir = work + "/mem" + std::to_string(count) + "x" + std::to_string(bodyBytes);
    const std::string root = dir + "/Maildir";
    MakeMaildir(root, count, bodyBytes);
    WriteProfiles(dir, root);
    fs::create_directories(dir + "/out");
    const long kb = ChildPeak(self, root, dir + "/out/");
    fs::remove_all(dir);
    return kb;
}

// One run of `mode` (leave, tag or floor) over dir/Maildir, made with `count`
// emails when missing, into a fresh dir/out: what a profiler is pointed at.
int RunOne(const std::string& mode, int count, const std::string& dir) {
    if (!fs::exists(dir + "/Maildir")) {
        MakeMaildir(dir + "/Maildir", count, 0);
    }
    WriteProfiles(dir, dir + "/Maildir");
    fs::remove_all(dir + "/out");
    fs::create_directories(dir + "/out");
    SettleDisk();
    double seconds = 0;
    if (mode == "floor") {
        seconds = Floor(dir + "/Maildir", dir + "/out/", false);
    } else if (mode == "python") {
        seconds = Python(dir, dir + "/Maildir", dir + "/out/");
    } else {
        seconds = RunOnce(dir + "/out/", mode == "tag");
    }
    std::printf("%s %.3f s\n", mode.c_str(), seconds);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--child") == 0) {
        RunOnce(argv[3]);
        std::printf("%ld\n", PeakKb());
        return 0;
    }
    bool quick = false;
    bool full = false;
    bool memoryOnly = false;
    std::string keep;
    const char* oneMode = nullptr;
    int oneCount = 0;
    std::string oneDir;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) {
            quick = true;
        } else if (std::strcmp(argv[i], "--full") == 0) {
            full = true;
        } else if (std::strcmp(argv[i], "--one") == 0 && i + 3 < argc) {
            oneMode = argv[i + 1];
            oneCount = std::atoi(argv[i + 2]);
            oneDir = argv[i + 3];
            i += 3;
        } else if (std::strcmp(argv[i], "--memory-only") == 0) {
            memoryOnly = true;
        } else if (std::strcmp(argv[i], "--keep") == 0 && i + 1 < argc) {
            keep = argv[++i];
        } else if (std::strcmp(argv[i], "--batch-emails") == 0 && i + 1 < argc) {
            g_batchEmails = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--batch-ms") == 0 && i + 1 < argc) {
            g_batchMs = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--read-ahead") == 0 && i + 1 < argc) {
            g_readAhead = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--help") == 0) {
            std::printf(
                "usage: bench_run [--quick | --full] [--keep DIR] [--batch-emails N] "
                "[--batch-ms MS] [--read-ahead N] [--one leave|tag|floor|python COUNT DIR]\n");
            return 0;
        } else {
            // scripts/bench hands every benchmark the same arguments.
            std::fprintf(stderr, "bench_run: ignoring %s\n", argv[i]);
        }
    }
    if (oneMode != nullptr) {
        return RunOne(oneMode, oneCount, oneDir);
    }
    std::string work = keep;
    if (work.empty()) {
        char tmpl[] = "/var/tmp/qf-bench-run.XXXXXX";
        work = ::mkdtemp(tmpl);
    }
    const std::string self = fs::canonical("/proc/self/exe").string();

    // On the disk the work folder is on, every sync reaches the device; in
    // memory (tmpfs) a sync costs nothing and what is left is the program.
    std::vector<std::pair<std::string, std::string>> places = {{"disk", work}};
    std::string memory;
    if (fs::is_directory("/dev/shm")) {
        char tmpl[] = "/dev/shm/qf-bench-run.XXXXXX";
        if (::mkdtemp(tmpl) != nullptr) {
            memory = tmpl;
            places.emplace_back("tmpfs", memory);
        }
    }
    std::vector<int> counts = quick ? std::vector<int>{1000} : std::vector<int>{1000, 10000};
    if (full) {
        counts.push_back(100000);
    }
    std::printf("Seconds per run over plain emails of 2-50 kB; speed ratios are the floor's (or\n"
                "Python's) time over the run's: left/floor >= 0.5 and tagged/tagfloor >= 0.33 on\n"
                "the disk, left/python >= 8 on tmpfs are the targets.\n");
    std::printf("%-6s %7s %7s %7s %7s %7s %7s %7s %11s %11s %11s\n", "where", "emails", "floor",
                "left", "tagflr", "tagged", "python", "", "left/floor", "tag/tagflr",
                "left/python");
    for (const auto& [label, place] : places) {
        for (int count : memoryOnly ? std::vector<int>{} : counts) {
            const Speed s = MeasureSpeed(place, count);
            std::printf("%-6s %7d %7.2f %7.2f %7.2f %7.2f %7.2f %7s %11.2f %11.2f %11.2f\n",
                        label.c_str(), count, s.floor, s.left, s.tagFloor, s.tagged, s.python, "",
                        s.floor / s.left, s.tagFloor / s.tagged,
                        s.python > 0 ? s.python / s.left : 0.0);
            std::fflush(stdout);
        }
    }
    // Memory is measured where the runs are quickest; syncs do not change it.
    const std::string memWork = memory.empty() ? work : memory;
    std::printf("\nPeak memory of a tagging run (VmHWM, a process per run):\n");
    for (int count : counts) {
        const long kb = MeasurePeak(self, memWork, count, 0);
        std::printf("%8d emails of 2-50 kB: %8ld kB\n", count, kb);
        std::fflush(stdout);
    }
    const int bigCount = quick ? 200 : 1000;
    const long kbThin = MeasurePeak(self, memWork, bigCount, 600);
    const long kbFat = MeasurePeak(self, memWork, bigCount, 256 * 1024);
    std::printf("%8d emails of ~0.6 kB: %8ld kB\n%8d emails of ~256 kB: %8ld kB  (x%.2f for "
                "bodies x430)\n",
                bigCount, kbThin, bigCount, kbFat, static_cast<double>(kbFat) / kbThin);
    if (keep.empty()) {
        fs::remove_all(work);
    }
    if (!memory.empty()) {
        fs::remove_all(memory);
    }
    return 0;
}
