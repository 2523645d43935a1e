// Logon profiles: which stores a logon opens.
//
// Profiles live in an INI file: the file named by QUILLFENCE_PROFILES, else
// "profiles.ini" beside the registry file (the folder of QUILLFENCE_REGISTRY when
// that is set, else $XDG_CONFIG_HOME/Brindlemox/, else ~/.config/Brindlemox/).
// With no file, there is one profile, "Default", holding one Maildir store
// "Personal Folders" at ~/Maildir.
//
//   ; comments start with ; or #.  Names and keys compare without regard to case.
//   [profile Work]                 ; one section per profile, "profile " + its name
//   default = yes                  ; the default profile (else the first one)
//   password = s3cret              ; optional: a logon naming this profile must give it
//   store = maildir | Personal Folders | ~/Maildir
//   store = maildir | Archive | /srv/mail/archive
//   default store = Archive        ; optional: the store flagged default (else the first)
//
// A store line is "kind | display name | location"; the location may begin with
// "~/" for the home folder.  Kinds: those with a provider (provider.h): "maildir"
// (a Maildir++ folder tree).  A store on a mail server (an IMAP account) is
// followed by its account settings, all optional:
//
//   store = imap | Work mail | mail.example.com   ; the location is the server
//   store port = 993               ; else 993 with implicit TLS, 143 without
//   store user = jane
//   store tls = implicit           ; none | starttls | implicit (the default)
//   store password = logon         ; logon (the default) | file PATH | text SECRET
//   store ca file = ~/certs/ca.pem ; else the system's certificate authorities
//   store verify certificate = no  ; only for a test server: no certificate checks
//   store root folder = INBOX      ; else the account's whole folder tree
//
// Logon (MAPILogonEx in mapi.h): MAPI_USE_DEFAULT takes the default profile;
// MAPI_EXPLICIT_PROFILE takes the named one and checks its password; with
// MAPI_LOGON_UI and no name the installed chooser is asked.  A profiles file
// that cannot be read or is malformed fails the logon with MAPI_E_NOT_INITIALIZED.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qf::mapi {

// How a store line's location reads.
enum class StoreLocation {
    Folder, // a folder of this machine: "~/" and relative paths are expanded
    Server, // a mail server's host name; the store has account settings
};

enum class TlsMode { None, StartTls, Implicit };
enum class PasswordSource {
    Logon, // the password given at logon
    File,  // the first line of a file
    Text,  // stored in the profiles file, which must then be its owner's alone
};

// The settings of a store on a mail server.
struct AccountSettings {
    std::string host;       // the store line's location
    std::uint16_t port = 0; // 0: the default of the TLS mode
    std::string user;
    TlsMode tls = TlsMode::Implicit;
    PasswordSource passwordSource = PasswordSource::Logon;
    std::string passwordFile; // PasswordSource::File: an absolute path
    std::string password;     // PasswordSource::Text
    bool verifyCertificate = true;
    std::string caFile;     // an absolute path; empty: the system's authorities
    std::string rootFolder; // empty: the account's whole folder tree

    // The port to connect to: the one given, else 993 with implicit TLS, else 143.
    std::uint16_t EffectivePort() const;
};

struct StoreConfig {
    std::string kind;        // "maildir"
    std::string displayName; // as shown in the stores table
    std::string location;    // a folder: absolute path, "~/" expanded; a server: its host
    std::optional<AccountSettings> account; // stores on a server only

    // What tells this store apart from the other stores of its kind: the
    // location, and for an account also its user, port and root folder.
    std::string Identity() const;
};

struct Profile {
    std::string name;
    std::optional<std::string> password; // absent: any password is accepted
    std::vector<StoreConfig> stores;
    std::size_t defaultStore = 0; // index into stores
};

struct ProfileSet {
    std::vector<Profile> profiles;
    std::size_t defaultProfile = 0; // index into profiles
    std::string source;             // the file read, or empty for the built-in default
    bool holdsPasswords = false;    // an account's password is written in the file

    const Profile* Find(std::string_view name) const; // case-insensitive
};

// Where the profiles file is looked for.
std::string ProfilesFilePath();
// The built-in profile set used when there is no profiles file.
ProfileSet DefaultProfiles();
// Parses a profiles file.  Throws qf::Error naming `sourceName`, the line and the fault.
ProfileSet ParseProfiles(std::string_view text, const std::string& sourceName);
// Reads the profiles file, or gives DefaultProfiles() when it does not exist.
// Throws qf::Error when it exists but cannot be read or parsed, and when it
// holds an account's password ("store password = text ...") but others than
// its owner may read it.
ProfileSet LoadProfiles();

// The profile chooser asked by a logon with MAPI_LOGON_UI and no profile name
// (the desktop program shows a dialog).  It receives the profile names and the
// default one, and returns the chosen name with the password typed, or nothing
// when the user cancels.
struct ProfileChoice {
    std::string profileName;
    std::string password;
};
using ProfileChooser = std::function<std::optional<ProfileChoice>(
    const std::vector<std::string>& profileNames, const std::string& defaultProfile)>;

// Installs the chooser (an empty function removes it).  Returns the previous one.
ProfileChooser SetProfileChooser(ProfileChooser chooser);
const ProfileChooser& CurrentProfileChooser();

// Why the last MAPILogonEx failed, in words (a logon failure has no object to ask):
// for a front end that wants to say more than the result code does.
std::string LastLogonFailure();

} // namespace qf::mapi
