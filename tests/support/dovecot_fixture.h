// A private Dovecot IMAP server for tests: it listens on 127.0.0.1 only, on
// free high ports, keeps its sockets, state and log in a private folder, and
// serves one account whose mail is a Maildir++ tree the test names (the same
// kind of tree the Maildir provider reads).  Dovecot refuses to serve mail as
// root, so the tree belongs to "nobody" while the server runs; a test that
// writes messages into it directly calls GiveMailToServer() afterwards.
//
// With TLS the test makes its own certificate authority and a server
// certificate for 127.0.0.1 and localhost (openssl): the plain port then
// offers STARTTLS and a second port speaks implicit TLS.
#pragma once

#include "support/temp_dir.h"

#include <cstdint>
#include <string>
#include <sys/types.h>

namespace qf::testing {

class DovecotServer {
public:
    static constexpr const char* kUser = "jane";
    static constexpr const char* kPassword = "imap-s3cret";

    // `maildirRoot`: the account's Maildir (created when missing).
    explicit DovecotServer(std::string maildirRoot, bool tls = false);
    ~DovecotServer();
    DovecotServer(const DovecotServer&) = delete;
    DovecotServer& operator=(const DovecotServer&) = delete;

    // Before Start: the capabilities the server announces after login
    // (Dovecot's imap_capability), e.g. to leave out MOVE.
    void AnnounceCapabilities(std::string capabilities) { capabilities_ = std::move(capabilities); }
    // Starts the server and waits until it answers; false with the reason (and
    // the server's log) in `why` when it does not.
    bool Start(std::string& why);
    // Stops the server and waits for it (SIGTERM, then SIGKILL after 0.5 s).
    void Stop();
    // Kills the server at once (SIGKILL), as a crash would.
    void Kill();
    bool Running() const { return pid_ > 0; }

    std::uint16_t port() const { return port_; }          // plain (STARTTLS with TLS)
    std::uint16_t tlsPort() const { return tlsPort_; }    // implicit TLS; 0 without TLS
    const std::string& caFile() const { return caFile_; } // the test's authority (PEM)
    const std::string& maildirRoot() const { return root_; }
    std::string Log() const;
    // Profiles-file lines for a store "Personal Folders" that logs on to this
    // server in plain text with the account's password.
    std::string StoreLines() const;
    // A profiles file whose one default profile "Test" holds that store,
    // owner-only (also when it replaces a file readable by more).
    void WriteProfiles(const std::string& path) const;

    // Hands the Maildir tree (again) to the user the server reads it as.
    void GiveMailToServer() const;
    // Makes the server forget its UIDs of a folder ("" the inbox) so that it
    // gives the folder a new UIDVALIDITY, as after a restore from backup.
    void ForgetUids(const std::string& folderPath) const;

private:
    bool MakeCertificates(std::string& why);
    void WriteConfig() const;

    TempDir temp_;
    std::string root_;
    bool tls_;
    std::uint16_t port_ = 0;
    std::uint16_t tlsPort_ = 0;
    std::string caFile_;
    std::string capabilities_;
    pid_t pid_ = -1;
};

} // namespace qf::testing
