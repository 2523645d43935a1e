// quillfence-batch killed (SIGKILL) at file-system steps of a whole run over a
// real Maildir with attachments, then run again to the end: every email stays
// in the store exactly once and whole, every email disposed of has a complete
// output file, no output file of a disposed email is replaced, and the
// numbers have no gaps.  Also a full disk and a read-only output folder.
//
// The kill comes from strace's syscall tampering, so the program under test is
// the one users run.  The test command samples a few steps of each mode;
// QF_KILL_SWEEP=all (scripts/kill-sweep) kills at every step.
#include "batch_fixture.h"
#include "support/maildir_fixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace qf::testing {
namespace {

namespace fs = std::filesystem;

// The steps that change the disk: renames, removals, flushes, file times, folders.
constexpr const char* kSteps =
    "rename,renameat,renameat2,unlink,unlinkat,fsync,fdatasync,syncfs,utimensat,mkdir,mkdirat";
// Enough emails for at least 50 steps in every mode: a run syncs a batch at a
// time, so each email adds only its own renames and file times.
constexpr int kEmails = 8;
constexpr int kNeedsAPerson = 3; // its .zip is flagged for manual handling

bool Has(const std::string& text, const std::string& piece) {
    return text.find(piece) != std::string::npos;
}

int Shell(const std::string& command) {
    const int status = std::system(command.c_str());
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Quoted(const std::string& s) {
    return "'" + s + "'";
}

// One warm LibreOffice for all runs of this test, reached through its pipe,
// so that a killed run leaves no office behind and a run starts quickly.
class SharedOffice {
public:
    bool Start() {
        name_ = "quillfence-killtest-" + std::to_string(::getpid());
        const std::string profile = "file://" + temp_.path() + "profile";
        std::vector<std::string> args = {"soffice",
                                         "--headless",
                                         "--invisible",
                                         "--norestore",
                                         "--nologo",
                                         "--nodefault",
                                         "-env:UserInstallation=" + profile,
                                         "--accept=pipe,name=" + name_ + ";urp;"};
        std::vector<char*> argv;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attr, 0);
        const int rc = posix_spawnp(&pid_, "soffice", nullptr, &attr, argv.data(), environ);
        posix_spawnattr_destroy(&attr);
        if (rc != 0) {
            pid_ = 0;
            return false;
        }
        const std::string socket = "/tmp/OSL_PIPE_" + std::to_string(::getuid()) + "_" + name_;
        for (int i = 0; i < 600 && !fs::exists(socket); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return fs::exists(socket);
    }
    ~SharedOffice() {
        if (pid_ > 0) {
            ::kill(-pid_, SIGKILL); // the process group this test started
            ::waitpid(pid_, nullptr, 0);
        }
    }
    const std::string& Pipe() const { return name_; }

private:
    TempDir temp_;
    std::string name_;
    pid_t pid_ = 0;
};

std::string Body(int i) {
    return "Dear team,\nMARK-" + std::to_string(i) + "-BEGIN\nplease find my CV.\nMARK-" +
           std::to_string(i) + "-END\n";
}

// What the mailbox looks like: where each email is, and whether it is disposed.
struct EmailState {
    int copies = 0;
    bool whole = true;
    bool disposed = false;
};

class KillAnywhere : public ::testing::Test {
protected:
    void SetUp() override {
        if (!office_) {
            GTEST_SKIP() << "needs strace and LibreOffice (soffice)";
        }
        mail.MakeFolder("Done");
        for (int i = 0; i < kEmails; ++i) {
            Mail m;
            m.subject = "Application " + std::to_string(i);
            m.date = "Tue, 01 Dec 2026 09:0" + std::to_string(i) + ":00 +0000";
            m.body = Body(i);
            if (i == 1) {
                m.parts = {{"cv.txt", "TXT-ATTACHMENT-1\n", "text/plain"}};
            } else if (i == 2) {
                m.parts = {
                    {"cv.rtf", "{\\rtf1\\ansi Converted CV text 2\\par}", "application/rtf"}};
            } else if (i == kNeedsAPerson) {
                m.parts = {{"portfolio.zip", "PK\x03\x04zipped", "application/zip"}};
            }
            mail.DeliverRaw(MarkId(Render(m), i));
        }
        fs::copy(mail.root, pristine_, fs::copy_options::recursive);
    }

    static std::string MarkId(std::string bytes, int i) {
        return "X-Kill-Id: <kill-" + std::to_string(i) + "@example.org>\n" + bytes;
    }

    void WriteOptions(int emailsTo) {
        Settings s = mail.settings();
        s.includeAttachments = true;
        s.readStatus = true;
        s.emailsTo = emailsTo;
        s.sortOrder = Settings::kByDate;
        if (emailsTo == Settings::kMoveEmails) {
            s.messageDestination = "Done";
            s.destinationFolder = mail.FindFolder("Done");
        }
        s.SaveToFile(options_);
    }

    void Restore() {
        for (const std::string& dir : {mail.root, mail.output, mail.manual}) {
            fs::remove_all(dir);
        }
        fs::copy(pristine_, mail.root, fs::copy_options::recursive);
        fs::create_directories(mail.output);
        fs::create_directories(mail.manual);
        fs::remove(mail.registryPath);
    }

    std::string Batch(const std::string& prefix = "") const {
        return "cd " + Quoted(mail.temp.path()) + " && QUILLFENCE_OFFICE_PIPE=" + office_->Pipe() +
               " QUILLFENCE_BATCH_EMAILS=2 " + prefix + Quoted(QF_BATCH_EXE) + " --yes " +
               Quoted(options_) + " >" + Quoted(mail.temp.path() + "out") + " 2>" +
               Quoted(mail.temp.path() + "err") + " </dev/null";
    }

    // The number of each step kind the main thread of a whole run takes.
    std::map<std::string, int> CountSteps() {
        const std::string log = mail.temp.path() + "trace";
        EXPECT_EQ(Shell(Batch("strace -f -qq -o " + Quoted(log) + " -e trace=" + kSteps + " ")), 0)
            << ReadFileBytes(mail.temp.path() + "err");
        std::map<std::string, int> counts;
        std::ifstream in(log);
        std::string line;
        std::string mainPid;
        while (std::getline(in, line)) {
            const std::string pid = line.substr(0, line.find(' '));
            mainPid = mainPid.empty() ? pid : mainPid;
            const auto start = line.find_first_not_of(' ', pid.size());
            const auto paren = line.find('(', start);
            if (pid == mainPid && start != std::string::npos && paren != std::string::npos) {
                ++counts[line.substr(start, paren - start)];
            }
        }
        return counts;
    }

    std::map<int, EmailState> Mailbox() const {
        std::map<int, EmailState> state;
        for (const std::string& folder : {std::string(), std::string("Done")}) {
            for (const auto& file : mail.Messages(folder)) {
                const std::string raw = ReadFileBytes(file);
                const std::string text = MaildirFixture::StoredText(file);
                for (int i = 0; i < kEmails; ++i) {
                    if (!Has(raw, "<kill-" + std::to_string(i) + "@example.org>")) {
                        continue;
                    }
                    EmailState& e = state[i];
                    ++e.copies;
                    e.whole = e.whole && Has(text, "MARK-" + std::to_string(i) + "-END");
                    const bool tagged = Has(raw, "\nSubject: *");
                    const bool read = file.find(":2,") != std::string::npos &&
                                      file.substr(file.find(":2,")).find('S') != std::string::npos;
                    e.disposed = e.disposed || !folder.empty() || tagged ||
                                 (mode_ == Settings::kLeaveEmails && read);
                }
            }
        }
        return state;
    }

    std::map<std::string, std::string> Outputs() const {
        std::map<std::string, std::string> files;
        for (const auto& e : fs::directory_iterator(mail.output)) {
            const std::string name = e.path().filename().string();
            if (name != ".quillfence-run" && !name.starts_with(".")) {
                files[name] = ReadFileBytes(e.path().string());
            }
        }
        return files;
    }

    static bool CompleteFor(const std::string& text, int i) {
        const std::string n = std::to_string(i);
        if (!Has(text, "MARK-" + n + "-BEGIN") || !Has(text, "MARK-" + n + "-END")) {
            return false;
        }
        return (i != 1 || Has(text, "TXT-ATTACHMENT-1")) &&
               (i != 2 || Has(text, "Converted CV text 2"));
    }

    // The invariants after the killed run (`before`: its state) and a rerun.
    void CheckAfterRerun(const std::map<int, EmailState>& killedState,
                         const std::map<std::string, std::string>& killedOutputs) {
        const auto state = Mailbox();
        const auto outputs = Outputs();
        for (int i = 0; i < kEmails; ++i) {
            SCOPED_TRACE("email " + std::to_string(i));
            const auto it = state.find(i);
            ASSERT_NE(it, state.end()) << "the email is gone";
            EXPECT_EQ(it->second.copies, 1);
            EXPECT_TRUE(it->second.whole);
            // Marking read applies to the email that needs a person too.
            EXPECT_EQ(it->second.disposed, i != kNeedsAPerson || mode_ == Settings::kLeaveEmails);
            if (it->second.disposed) {
                EXPECT_TRUE(std::any_of(outputs.begin(), outputs.end(), [i](const auto& f) {
                    return CompleteFor(f.second, i);
                })) << "a disposed email without a complete output file";
            }
        }
        // Files of emails the killed run had disposed of are untouched.
        for (const auto& [name, bytes] : killedOutputs) {
            for (int i = 0; i < kEmails; ++i) {
                const auto was = killedState.find(i);
                if (was != killedState.end() && was->second.disposed && CompleteFor(bytes, i)) {
                    ASSERT_TRUE(outputs.count(name)) << name << " was removed";
                    EXPECT_EQ(outputs.at(name), bytes) << name << " was replaced";
                }
            }
        }
        // Numbered from 1 with no gap.
        int expected = 1;
        for (const auto& [name, bytes] : outputs) {
            if (name.size() == 9 && name.ends_with(".txt")) {
                EXPECT_EQ(std::stoi(name.substr(0, 5)), expected++) << name;
            }
        }
    }

    // Kills a run at the n-th call of `step`, then reruns and checks.
    void KillAt(const std::string& step, int n) {
        SCOPED_TRACE(step + " #" + std::to_string(n));
        Restore();
        const int rc =
            Shell(Batch("strace -f -qq -o /dev/null -e trace=" + step + " -e inject=" + step +
                        ":signal=SIGKILL:when=" + std::to_string(n) + " "));
        EXPECT_EQ(rc, 128 + SIGKILL) << "not killed: " << ReadFileBytes(mail.temp.path() + "err");
        const auto killedState = Mailbox();
        const auto killedOutputs = Outputs();
        ASSERT_EQ(Shell(Batch()), 0) << ReadFileBytes(mail.temp.path() + "err");
        CheckAfterRerun(killedState, killedOutputs);
    }

    void Sweep(int emailsTo) {
        mode_ = emailsTo;
        WriteOptions(emailsTo);
        Restore();
        const auto counts = CountSteps();
        std::vector<std::pair<std::string, int>> points;
        for (const auto& [step, count] : counts) {
            for (int n = 1; n <= count; ++n) {
                points.emplace_back(step, n);
            }
        }
        ASSERT_GE(points.size(), 50u) << "too few steps to be worth killing at";
        std::printf("%zu file-system steps in a whole run\n", points.size());
        const char* sweep = std::getenv("QF_KILL_SWEEP");
        const bool all = sweep && std::string(sweep) == "all";
        // The sample: a handful spread over the list, and the last batch's sync.
        const size_t stride = all ? 1 : points.size() / 4;
        for (size_t k = 0; k < points.size(); ++k) {
            const auto& [step, n] = points[k];
            const bool lastSync = step == "syncfs" && n == counts.at(step);
            if (k % stride == stride / 2 || (lastSync && !all)) {
                KillAt(step, n);
                if (HasFatalFailure()) {
                    return;
                }
            }
        }
    }

public:
    static SharedOffice* office_;

protected:
    MaildirFixture mail;
    std::string pristine_ = mail.temp.path() + "pristine";
    std::string options_ = mail.temp.path() + "run.qfo";
    int mode_ = Settings::kLeaveEmails;
};

SharedOffice* KillAnywhere::office_ = nullptr;

// Starts the office once for the whole program and ends it at the end.
class OfficeEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (::system("command -v strace >/dev/null && command -v soffice >/dev/null") != 0) {
            return;
        }
        KillAnywhere::office_ = new SharedOffice;
        if (!KillAnywhere::office_->Start()) {
            TearDown();
        }
    }
    void TearDown() override {
        delete KillAnywhere::office_;
        KillAnywhere::office_ = nullptr;
    }
};
const auto* const g_office = ::testing::AddGlobalTestEnvironment(new OfficeEnvironment);

TEST_F(KillAnywhere, LeaveAndMarkRead) {
    Sweep(Settings::kLeaveEmails);
}

TEST_F(KillAnywhere, MoveAndMarkRead) {
    Sweep(Settings::kMoveEmails);
}

TEST_F(KillAnywhere, TagAndMarkRead) {
    Sweep(Settings::kTagSubject);
}

// The output folder on a small file system of its own (a private mount
// namespace, so nothing outside this test sees it).
class OutputOnItsOwnFileSystem : public KillAnywhere {
protected:
    void SetUp() override {
        KillAnywhere::SetUp();
        if (!IsSkipped() &&
            Shell("unshare -m sh -c 'mount -t tmpfs -o size=16k tmpfs /mnt' 2>/dev/null") != 0) {
            GTEST_SKIP() << "cannot mount a small file system here (needs root and unshare)";
        }
    }
    // Runs the batch with the output folder mounted by `mount`; the folder's
    // content is copied out before the file system goes.
    int RunMounted(const std::string& mount) {
        const std::string snapshot = mail.temp.path() + "snapshot";
        fs::remove_all(snapshot);
        fs::create_directories(snapshot);
        const std::string script = mount + " && (" + Batch() + "; rc=$?; cp -a " +
                                   Quoted(mail.output) + ". " + Quoted(snapshot) + "; exit $rc)";
        const int rc = Shell("unshare -m sh -c " + Quoted(Escaped(script)));
        fs::remove_all(mail.output);
        fs::rename(snapshot, mail.output);
        return rc;
    }
    static std::string Escaped(const std::string& s) {
        std::string out;
        for (char c : s) {
            out += c == '\'' ? std::string("'\\''") : std::string(1, c);
        }
        return out;
    }
    // Nothing disposed of without a complete output file; every email once.
    void CheckNothingLost() {
        const auto outputs = Outputs();
        for (const auto& [i, e] : Mailbox()) {
            SCOPED_TRACE("email " + std::to_string(i));
            EXPECT_EQ(e.copies, 1);
            EXPECT_TRUE(e.whole);
            if (e.disposed) {
                EXPECT_TRUE(std::any_of(outputs.begin(), outputs.end(),
                                        [i](const auto& f) { return CompleteFor(f.second, i); }));
            }
        }
        EXPECT_EQ(Mailbox().size(), static_cast<size_t>(kEmails));
    }
};

TEST_F(OutputOnItsOwnFileSystem, AFullDiskEndsTheRunWithAClearErrorAndLosesNothing) {
    mode_ = Settings::kTagSubject;
    WriteOptions(mode_);
    Restore();
    const int rc = RunMounted("mount -t tmpfs -o size=24k tmpfs " + Quoted(mail.output));
    const std::string err = ReadFileBytes(mail.temp.path() + "err");
    EXPECT_EQ(rc, 1) << err;
    EXPECT_TRUE(Has(err, "No space left on device")) << err;
    CheckNothingLost();
    // The run got some way: what it wrote before the disk was full is disposed of.
    const auto state = Mailbox();
    EXPECT_TRUE(state.at(0).disposed) << err;
}

TEST_F(OutputOnItsOwnFileSystem, AReadOnlyOutputFolderStopsTheRunBeforeAnything) {
    mode_ = Settings::kMoveEmails;
    WriteOptions(mode_);
    Restore();
    const std::string out = Quoted(mail.output);
    const int rc = RunMounted("mount --bind " + out + " " + out + " && mount -o remount,bind,ro " +
                              out + " " + out);
    const std::string err = ReadFileBytes(mail.temp.path() + "err");
    EXPECT_EQ(rc, 1) << err;
    EXPECT_TRUE(Has(err, "Read-only file system")) << err;
    CheckNothingLost();
    for (const auto& [i, e] : Mailbox()) {
        EXPECT_FALSE(e.disposed) << i;
    }
}

} // namespace
} // namespace qf::testing
