// Emails per second of a whole run (no attachments, the default templates,
// processed emails tagged) next to a floor that only reads each message file
// and writes its bytes to an output file, in the same run; and the peak
// memory of runs over more and over bigger emails, each in a process of its
// own so one cannot inflate the other.
//
//   bench_run [--quick] [--keep DIR]
//   bench_run --child MAILDIR OUTPUT      (internal: one run, prints its peak)
//
// Every Maildir is generated first (not timed).  The floor comes in two
// forms: plain writes, and writes made crash-safe the way the run makes its
// own (temporary file, sync, rename).
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
// `bodyBytes` bytes.
void MakeMaildir(const std::string& root, int count, size_t bodyBytes) {
    for (const char* sub : {"/cur", "/new", "/tmp"}) {
        fs::create_directories(root + sub);
    }
    std::string body;
    const std::string line = "I have five years of experience in the field and enclose my CV.\n";
    while (body.size() < bodyBytes) {
        body += line;
    }
    for (int i = 0; i < count; ++i) {
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
    qf::ExtractionRun run(s, host, qf::RunServices{session, nullptr, {}, nullptr});
    run.Execute();
    const double seconds = Seconds(Clock::now() - start);
    if (run.Outcome() != qf::RunOutcome::Complete) {
        std::fprintf(stderr, "run failed: %s\n", host.error.c_str());
        std::exit(1);
    }
    return seconds;
}

// The floor: every message file read and its bytes written to a numbered file.
double Floor(const std::string& root, const std::string& output, bool crashSafe) {
    fs::create_directories(output);
    const auto start = Clock::now();
    int n = 0;
    for (const auto& e : fs::directory_iterator(root + "/cur")) {
        const std::string bytes = qf::ReadFileBytes(e.path().string());
        char name[32];
        std::snprintf(name, sizeof name, "%05d.txt", ++n);
        if (crashSafe) {
            qf::WriteFileAtomic(output + name, bytes);
        } else {
            WriteRaw(output + name, bytes);
        }
    }
    return Seconds(Clock::now() - start);
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

struct Speed {
    double run, runLeave, floorPlain, floorSafe;
};

Speed MeasureSpeed(const std::string& work, int count) {
    const std::string dir = work + "/speed" + std::to_string(count);
    const std::string root = dir + "/Maildir";
    MakeMaildir(root, count, 600);
    WriteProfiles(dir, root);
    Speed s{};
    s.floorPlain = Floor(root, dir + "/floor-plain/", false);
    s.floorSafe = Floor(root, dir + "/floor-safe/", true);
    fs::create_directories(dir + "/out-leave");
    s.runLeave = RunOnce(dir + "/out-leave/", false);
    fs::create_directories(dir + "/out");
    s.run = RunOnce(dir + "/out/");
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

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--child") == 0) {
        RunOnce(argv[3]);
        std::printf("%ld\n", PeakKb());
        return 0;
    }
    bool quick = false;
    std::string keep;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) {
            quick = true;
        } else if (std::strcmp(argv[i], "--keep") == 0 && i + 1 < argc) {
            keep = argv[++i];
        } else if (std::strcmp(argv[i], "--help") == 0) {
            std::printf("usage: bench_run [--quick] [--keep DIR]\n");
            return 0;
        } else {
            // scripts/bench hands every benchmark the same arguments.
            std::fprintf(stderr, "bench_run: ignoring %s\n", argv[i]);
        }
    }
    std::string work = keep;
    if (work.empty()) {
        char tmpl[] = "/tmp/qf-bench-run.XXXXXX";
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
    std::printf("Emails per second: plain emails, default templates; 'tagged' is the run "
                "with\nemails tagged, 'left' with emails left; the floor reads each message "
                "and writes\nits bytes (plain, or crash-safe: temporary file, sync, rename).\n");
    std::printf("%-6s %7s %8s %8s %9s %10s %12s %11s\n", "where", "emails", "tagged", "left",
                "floor", "floor-safe", "tagged/floor", "tagged/safe");
    for (const auto& [label, place] : places) {
        for (int count : quick ? std::vector<int>{200, 1000} : std::vector<int>{1000, 10000}) {
            const Speed s = MeasureSpeed(place, count);
            std::printf("%-6s %7d %8.0f %8.0f %9.0f %10.0f %12.3f %11.2f\n", label.c_str(), count,
                        count / s.run, count / s.runLeave, count / s.floorPlain,
                        count / s.floorSafe, s.floorPlain / s.run, s.floorSafe / s.run);
            std::fflush(stdout);
        }
    }
    // Memory is measured where the runs are quickest; syncs do not change it.
    const std::string memWork = memory.empty() ? work : memory;
    std::printf("\nPeak memory of a tagging run (VmHWM, a process per run):\n");
    const int small = quick ? 1000 : 10000;
    const int large = quick ? 10000 : 100000;
    const long kbSmall = MeasurePeak(self, memWork, small, 600);
    std::printf("%8d emails of ~0.6 kB: %8ld kB\n", small, kbSmall);
    std::fflush(stdout);
    const long kbLarge = MeasurePeak(self, memWork, large, 600);
    std::printf("%8d emails of ~0.6 kB: %8ld kB  (x%.2f for x%d emails)\n", large, kbLarge,
                static_cast<double>(kbLarge) / kbSmall, large / small);
    std::fflush(stdout);
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
