// Real Maildir trees for whole runs: messages written as RFC 5322 files, a
// profiles file pointing at the tree, and private registry and profiles paths.
#pragma once

#include "common/fileio.h"
#include "settings/settings.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

namespace qf::testing {

// One part after the body of a message.
struct Part {
    std::string fileName;
    std::string bytes;
    std::string contentType = "application/octet-stream";
    bool embedded = false; // bytes are a whole message, attached as message/rfc822
};

// What one message says; Render turns it into the file's bytes.
struct Mail {
    std::string from = "Ann Applicant <ann@example.org>";
    std::string to = "jobs@brindle.example";
    std::string subject = "Application";
    // Date: the sender's time (the listing order); Received: the delivery time.
    std::string date = "Tue, 01 Dec 2026 09:00:00 +0000";
    std::string received = "Tue, 01 Dec 2026 10:00:00 +0000";
    std::string body = "Dear team,\nplease find my CV.\n";
    std::vector<Part> parts;
};

// The message as an RFC 5322 file: headers, then the body alone or as the
// first part of a multipart/mixed message with `parts` after it.
std::string Render(const Mail& mail);

// A Maildir++ tree in a private folder, with the output and manual folders
// and private profiles and registry files (set in the environment while the
// object lives).
class MaildirFixture {
public:
    TempDir temp;
    std::string root = temp.path() + "Maildir";
    std::string output = temp.path() + "TextFiles/";
    std::string manual = temp.path() + "Manual/";
    std::string registryPath = temp.path() + "registry.reg";

    MaildirFixture() {
        MakeFolder("");
        std::filesystem::create_directories(output);
        std::filesystem::create_directories(manual);
        WriteFileAtomic(temp.path() + "profiles.ini",
                        "[profile Test]\ndefault = yes\nstore = maildir | Personal Folders | " +
                            root + "\n");
        ::setenv("QUILLFENCE_PROFILES", (temp.path() + "profiles.ini").c_str(), 1);
        ::setenv("QUILLFENCE_REGISTRY", registryPath.c_str(), 1);
        // Delivery times become file times in local time: pin it.
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }
    ~MaildirFixture() {
        ::unsetenv("QUILLFENCE_PROFILES");
        ::unsetenv("QUILLFENCE_REGISTRY");
    }

    // "" is the inbox (the root), "Processed" the folder ".Processed".
    std::string FolderPath(const std::string& name) const {
        return name.empty() ? root : root + "/." + name;
    }
    void MakeFolder(const std::string& name) {
        for (const char* sub : {"cur", "new", "tmp"}) {
            std::filesystem::create_directories(FolderPath(name) + "/" + sub);
        }
    }
    // Delivers a message into cur/ of the folder (unread); returns its file.
    std::string Deliver(const Mail& mail, const std::string& folder = "") {
        return DeliverRaw(Render(mail), folder);
    }
    std::string DeliverRaw(const std::string& bytes, const std::string& folder = "") {
        const int n = ++seq_;
        const std::string file = FolderPath(folder) + "/cur/" + std::to_string(1000000 + n) + ".M" +
                                 std::to_string(n) + "P1.test:2,";
        WriteFileAtomic(file, bytes);
        return file;
    }
    // The message files of a folder (cur/ and new/), sorted by name.
    std::vector<std::string> Messages(const std::string& folder = "") const {
        std::vector<std::string> files;
        for (const char* sub : {"/cur", "/new"}) {
            for (const auto& e : std::filesystem::directory_iterator(FolderPath(folder) + sub)) {
                files.push_back(e.path().string());
            }
        }
        std::sort(files.begin(), files.end());
        return files;
    }
    // A stored email's bytes followed by each of its text parts decoded, so a
    // test finds what was written into a body whatever transfer encoding the
    // store chose for it.
    static std::string StoredText(const std::string& file);
    // The subjects of a folder's messages, sorted.
    std::vector<std::string> Subjects(const std::string& folder = "") const {
        std::vector<std::string> out;
        for (const auto& f : Messages(folder)) {
            const std::string bytes = ReadFileBytes(f);
            const auto at = bytes.find("\nSubject: ");
            const auto end = bytes.find('\n', at + 1);
            out.push_back(bytes.substr(at + 10, end - at - 10));
        }
        std::sort(out.begin(), out.end());
        return out;
    }
    // The output folder's file names, sorted, without the run record.
    std::vector<std::string> OutputNames(const std::string& dir = "") const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir.empty() ? output : dir)) {
            if (e.path().filename() == ".quillfence-run") {
                continue;
            }
            names.push_back(e.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    // Settings for a run over the inbox into the output folder: the default
    // templates and extension table, numbers from 1, emails left in place.
    Settings settings() const {
        Settings s = Settings::FirstStartDefaults();
        s.directory = output;
        s.manualFolder = manual;
        s.firstNumber = 1;
        s.filterFilename.clear();
        s.includeAttachments = false;
        s.emailsFrom = Settings::kDefaultInbox;
        s.emailsTo = Settings::kLeaveEmails;
        s.sortOrder = Settings::kNoSort;
        return s;
    }

    // The store and folder identifiers of a folder below the inbox, found the
    // way the folder chooser finds them: the stores table, then the store's
    // folder hierarchy.
    FolderReference FindFolder(const std::string& displayName) const;

private:
    int seq_ = 0;
};

} // namespace qf::testing
