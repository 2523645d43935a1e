// Lists generated messages over IMAP from a private Dovecot and prints the
// time beside Dovecot's own time to serve their envelopes (one UID FETCH of
// ENVELOPE, FLAGS, RFC822.SIZE and INTERNALDATE for all of them), measured in
// the same run on the same mailbox; then times a whole leave-mode run over
// IMAP beside the same run over the Maildir the server serves.
//
//   bench_imap [count]     (default 10000)
#include "mail/session.h"
#include "platform/messaging/imap/connection.h"
#include "platform/messaging/mapi.h"
#include "run/extraction_run.h"
#include "settings/settings.h"
#include "support/dovecot_fixture.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <libetpan/libetpan.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace qf::mapi;
using Clock = std::chrono::steady_clock;

namespace {

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

double Since(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

void Write(const fs::path& path, const std::string& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
        std::perror(path.c_str());
        std::exit(1);
    }
    ::close(fd);
}

std::string Generate(int i) {
    const std::string n = std::to_string(i);
    std::string head = "Received: from mx.example.org by mail.example.com; Mon, 01 Jun 2026 "
                       "10:00:00 +0000\nFrom: =?UTF-8?Q?J=C3=BCrgen_M=C3=BCller?= <applicant" +
                       n + "@example.org>\nTo: Jobs <jobs@example.com>\nSubject: Application " + n +
                       "\nDate: Mon, 01 Jun 2026 09:" + std::to_string(10 + i % 50) +
                       ":00 +0000\nMessage-ID: <" + n + "@example.org>\nMIME-Version: 1.0\n";
    const std::string text = "Dear team,\n\nplease find my CV attached.\n\nKind regards\n";
    if (i % 4 == 0) {
        return head + "Content-Type: multipart/mixed; boundary=\"b" + n + "\"\n\n--b" + n +
               "\nContent-Type: text/plain; charset=utf-8\n\n" + text + "--b" + n +
               "\nContent-Type: application/pdf; name=\"cv.pdf\"\nContent-Disposition: "
               "attachment; filename=\"cv.pdf\"\nContent-Transfer-Encoding: base64\n\n" +
               std::string(2000, 'A') + "\n--b" + n + "--\n";
    }
    return head + "Content-Type: text/plain; charset=utf-8\n\n" + text;
}

// Dovecot's own time: every envelope of the inbox in one command.
double ServerEnvelopeSeconds(std::uint16_t port) {
    mailimap* imap = mailimap_new(0, nullptr);
    mailimap_socket_connect(imap, "127.0.0.1", port);
    mailimap_login(imap, qf::testing::DovecotServer::kUser, qf::testing::DovecotServer::kPassword);
    mailimap_select(imap, "INBOX");
    const auto t0 = Clock::now();
    mailimap_set* set = mailimap_set_new_interval(1, 0);
    mailimap_fetch_type* type = mailimap_fetch_type_new_fetch_att_list_empty();
    mailimap_fetch_type_new_fetch_att_list_add(type, mailimap_fetch_att_new_uid());
    mailimap_fetch_type_new_fetch_att_list_add(type, mailimap_fetch_att_new_envelope());
    mailimap_fetch_type_new_fetch_att_list_add(type, mailimap_fetch_att_new_flags());
    mailimap_fetch_type_new_fetch_att_list_add(type, mailimap_fetch_att_new_rfc822_size());
    mailimap_fetch_type_new_fetch_att_list_add(type, mailimap_fetch_att_new_internaldate());
    clist* result = nullptr;
    if (mailimap_uid_fetch(imap, set, type, &result) != MAILIMAP_NO_ERROR) {
        std::fprintf(stderr, "envelope fetch failed\n");
        std::exit(1);
    }
    const double seconds = Since(t0);
    mailimap_fetch_list_free(result);
    mailimap_fetch_type_free(type);
    mailimap_set_free(set);
    mailimap_logout(imap);
    mailimap_free(imap);
    return seconds;
}

// The listing the mail layer makes: every row with its columns, 25 at a time.
std::size_t List(IMAPIFolder& inbox) {
    const PropTagArray columns{PR_HASATTACH,     PR_STORE_SUPPORT_MASK,
                               PR_DISPLAY_TO,    PR_SENDER_EMAIL_ADDRESS,
                               PR_MESSAGE_FLAGS, PR_SUBJECT,
                               PR_MESSAGE_SIZE,  PR_MESSAGE_DELIVERY_TIME,
                               PR_ENTRYID};
    std::shared_ptr<IMAPITable> table;
    inbox.GetContentsTable(0, table);
    table->SetColumns(columns, 0);
    table->SortTable({{PR_CLIENT_SUBMIT_TIME, TABLE_SORT_ASCEND}}, 0);
    std::size_t n = 0;
    for (;;) {
        RowSet batch;
        table->QueryRows(25, 0, batch);
        if (batch.empty()) {
            return n;
        }
        n += batch.size();
    }
}

double ListSeconds(std::size_t& rows) {
    std::shared_ptr<IMAPISession> session;
    if (MAPILogonEx(0, nullptr, nullptr, 0x62, session) != S_OK) {
        std::fprintf(stderr, "logon failed: %s\n", LastLogonFailure().c_str());
        std::exit(1);
    }
    std::shared_ptr<IMAPITable> stores;
    RowSet storeRows;
    const PropTagArray cols{PR_ENTRYID};
    session->GetMsgStoresTable(0, stores);
    HrQueryAllRows(*stores, &cols, nullptr, 0, storeRows);
    std::shared_ptr<IMsgStore> store;
    if (session->OpenMsgStore(0, *storeRows.at(0).at(0).Bin(), Iid::IMsgStore, 0x94, store) !=
        S_OK) {
        std::fprintf(stderr, "the IMAP store did not open\n");
        std::exit(1);
    }
    EntryId inboxId;
    store->GetReceiveFolder("IPM", 0, inboxId, nullptr);
    std::shared_ptr<IUnknown> obj;
    store->OpenEntry(inboxId, Iid::IMAPIFolder, 0x18, nullptr, obj);
    const auto t0 = Clock::now();
    rows = List(*As<IMAPIFolder>(obj));
    return Since(t0);
}

double RunSeconds(const std::string& output) {
    qf::Settings s = qf::Settings::FirstStartDefaults();
    s.directory = output;
    s.manualFolder = output;
    s.firstNumber = 1;
    s.filterFilename.clear();
    s.includeAttachments = false;
    s.emailsFrom = qf::Settings::kDefaultInbox;
    s.emailsTo = qf::Settings::kLeaveEmails;
    QuietHost host;
    qf::MapiSession session;
    const auto t0 = Clock::now();
    qf::ExtractionRun run(s, host, qf::RunServices{session, nullptr, {}, nullptr});
    run.Execute();
    const double seconds = Since(t0);
    if (run.Outcome() != qf::RunOutcome::Complete) {
        std::fprintf(stderr, "run failed: %s\n", host.error.c_str());
        std::exit(1);
    }
    return seconds;
}

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    char tmpl[] = "/tmp/qf-bench-imap-XXXXXX";
    if (::mkdtemp(tmpl) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path dir = tmpl;
    ::chmod(dir.c_str(), 0755);
    const fs::path root = dir / "Maildir";
    for (const char* sub : {"cur", "new", "tmp"}) {
        fs::create_directories(root / sub);
    }
    for (int i = 0; i < count; ++i) {
        Write(root / "cur" / (std::to_string(1700000000 + i) + ".M1P1.bench:2,"), Generate(i));
    }
    int status = 0;
    {
        qf::testing::DovecotServer server(root.string());
        std::string why;
        if (!server.Start(why)) {
            std::fprintf(stderr, "%s\n", why.c_str());
            return 1;
        }
        Write(dir / "profiles.ini", "[profile Bench]\ndefault = yes\nstore = imap | Bench | "
                                    "127.0.0.1\nstore port = " +
                                        std::to_string(server.port()) +
                                        "\nstore tls = none\nstore user = jane\n"
                                        "store password = text " +
                                        qf::testing::DovecotServer::kPassword + "\n");
        ::chmod((dir / "profiles.ini").c_str(), 0600);
        ::setenv("QUILLFENCE_PROFILES", (dir / "profiles.ini").c_str(), 1);
        ::setenv("QUILLFENCE_REGISTRY", (dir / "registry.reg").c_str(), 1);
        MAPIInitialize(nullptr);

        // Dovecot indexes the Maildir and caches what is asked on first use:
        // one pass of each kind first, untimed.
        ServerEnvelopeSeconds(server.port());
        std::size_t rows = 0;
        ListSeconds(rows);

        const double envelopes = ServerEnvelopeSeconds(server.port());
        const double listing = ListSeconds(rows);
        fs::create_directories(dir / "out");
        const double run = RunSeconds((dir / "out").string() + "/");
        // The same run over the Maildir the server serves, read directly.
        Write(dir / "profiles.ini",
              "[profile Bench]\ndefault = yes\nstore = maildir | Bench | " + root.string() + "\n");
        fs::create_directories(dir / "out-maildir");
        const double local = RunSeconds((dir / "out-maildir").string() + "/");
        std::printf("messages: %d\n", count);
        std::printf("dovecot, envelopes of all:       %7.3f s (%9.0f messages/s)\n", envelopes,
                    count / envelopes);
        std::printf("listing over IMAP (%zu rows):   %7.3f s (%9.0f messages/s)\n", rows, listing,
                    static_cast<double>(rows) / listing);
        std::printf("ratio listing / dovecot:         %7.2f  target <= 4\n", listing / envelopes);
        std::printf("whole run, leave mode:           %7.3f s (%9.0f emails/s)\n", run,
                    count / run);
        std::printf("the same run over the Maildir:   %7.3f s (%9.0f emails/s)\n", local,
                    count / local);
        std::printf("ratio run over IMAP / Maildir:   %7.2f\n", run / local);
        status = rows == static_cast<std::size_t>(count) ? 0 : 1;
        MAPIUninitialize();
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
    return status;
}
