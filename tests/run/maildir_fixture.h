// Real Maildir trees for whole runs: messages written as RFC 5322 files, a
// profiles file pointing at the tree, private registry and profiles paths,
// and a word processor that converts by rules instead of starting LibreOffice.
#pragma once

#include "common/error.h"
#include "common/fileio.h"
#include "mail/session.h"
#include "mail/store.h"
#include "platform/messaging/mapi.h"
#include "platform/wordproc/word_processor.h"
#include "run/email_text.h"
#include "settings/settings.h"
#include "temp_dir.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <gmime/gmime.h>
#include <map>
#include <memory>
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

inline std::string Base64(const std::string& in) {
    static const char* k = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    int line = 0;
    for (; i + 2 < in.size(); i += 3) {
        const unsigned v = (static_cast<unsigned char>(in[i]) << 16) |
                           (static_cast<unsigned char>(in[i + 1]) << 8) |
                           static_cast<unsigned char>(in[i + 2]);
        out += k[(v >> 18) & 63];
        out += k[(v >> 12) & 63];
        out += k[(v >> 6) & 63];
        out += k[v & 63];
        if (++line == 19) {
            out += "\n";
            line = 0;
        }
    }
    if (i < in.size()) {
        unsigned v = static_cast<unsigned char>(in[i]) << 16;
        if (i + 1 < in.size()) {
            v |= static_cast<unsigned char>(in[i + 1]) << 8;
        }
        out += k[(v >> 18) & 63];
        out += k[(v >> 12) & 63];
        out += i + 1 < in.size() ? k[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out + "\n";
}

inline std::string Render(const Mail& m) {
    std::string head = "Received: from mx.example by brindle.example; " + m.received +
                       "\nFrom: " + m.from + "\nTo: " + m.to + "\nSubject: " + m.subject +
                       "\nDate: " + m.date + "\nMessage-ID: <" +
                       std::to_string(std::hash<std::string>{}(m.subject + m.date)) +
                       "@test.example>\nMIME-Version: 1.0\n";
    if (m.parts.empty()) {
        return head + "Content-Type: text/plain; charset=utf-8\n\n" + m.body;
    }
    const std::string b = "=-=part-boundary=-=";
    std::string out = head + "Content-Type: multipart/mixed; boundary=\"" + b + "\"\n\n--" + b +
                      "\nContent-Type: text/plain; charset=utf-8\n\n" + m.body + "\n";
    for (const Part& p : m.parts) {
        out += "--" + b + "\n";
        if (p.embedded) {
            out += "Content-Type: message/rfc822\nContent-Disposition: attachment; filename=\"" +
                   p.fileName + "\"\n\n" + p.bytes + "\n";
        } else {
            out += "Content-Type: " + p.contentType + "; name=\"" + p.fileName +
                   "\"\nContent-Disposition: attachment; filename=\"" + p.fileName +
                   "\"\nContent-Transfer-Encoding: base64\n\n" + Base64(p.bytes);
        }
    }
    return out + "--" + b + "--\n";
}

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
    // The subjects of a folder's messages, sorted.
    // A stored email's bytes followed by each of its text parts decoded, so a
    // test finds what was written into a body whatever transfer encoding the
    // store chose for it.
    static std::string StoredText(const std::string& file) {
        std::string out = ReadFileBytes(file);
        g_mime_init();
        GMimeStream* stream = g_mime_stream_mem_new_with_buffer(out.data(), out.size());
        GMimeParser* parser = g_mime_parser_new_with_stream(stream);
        GMimeMessage* message = g_mime_parser_construct_message(parser, nullptr);
        if (message) {
            GMimePartIter* iter = g_mime_part_iter_new(GMIME_OBJECT(message));
            do {
                GMimeObject* part = g_mime_part_iter_get_current(iter);
                if (part && GMIME_IS_TEXT_PART(part)) {
                    if (char* text = g_mime_text_part_get_text(GMIME_TEXT_PART(part))) {
                        out += "\n";
                        out += text;
                        g_free(text);
                    }
                }
            } while (g_mime_part_iter_next(iter));
            g_mime_part_iter_free(iter);
            g_object_unref(message);
        }
        g_object_unref(parser);
        g_object_unref(stream);
        return out;
    }
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
    // The output folder's file names, sorted.
    std::vector<std::string> OutputNames(const std::string& dir = "") const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir.empty() ? output : dir)) {
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
    FolderReference FindFolder(const std::string& displayName) const {
        MapiSession session;
        session.ListStores();
        FolderReference ref;
        for (const auto& [name, store] : session.Stores()) {
            std::shared_ptr<mapi::IMsgStore> ms = store->GetMsgStore();
            std::vector<mapi::PropValue> props;
            const mapi::PropTagArray tags = {mapi::PR_IPM_SUBTREE_ENTRYID};
            if (mapi::Failed(ms->GetProps(&tags, 0, props)) || props.empty() ||
                props[0].Bin() == nullptr) {
                continue;
            }
            std::shared_ptr<mapi::IUnknown> object;
            std::uint32_t type = 0;
            if (mapi::Failed(
                    ms->OpenEntry(*props[0].Bin(), mapi::Iid::IMAPIFolder, 0, &type, object))) {
                continue;
            }
            auto top = std::dynamic_pointer_cast<mapi::IMAPIFolder>(object);
            std::shared_ptr<mapi::IMAPITable> table;
            mapi::RowSet rows;
            const mapi::PropTagArray columns = {mapi::PR_DISPLAY_NAME, mapi::PR_ENTRYID};
            if (!top || mapi::Failed(top->GetHierarchyTable(0, table)) ||
                mapi::Failed(mapi::HrQueryAllRows(*table, &columns, nullptr, 0, rows))) {
                continue;
            }
            for (const auto& row : rows) {
                if (row.size() == 2 && row[0].Text() && *row[0].Text() == displayName &&
                    row[1].Bin()) {
                    ref.storeId.Assign(store->EntryIdBytes());
                    ref.folderId.Assign(*row[1].Bin());
                    return ref;
                }
            }
        }
        throw Error("no folder " + displayName);
    }

private:
    int seq_ = 0;
};

// Turns documents into text by what the detached file holds, so tests can
// provoke each failure: "PASSWORD..." does not open (a password),
// "CRASH..." takes the instance down, "MERGE..." fails to clear mail merge,
// "PROTECTED..." gives no text; anything else comes back as "Converted: "
// and the content.
class FakeWordProcessor : public wordproc::WordProcessor {
public:
    std::vector<std::string> opened;
    int closes = 0, quits = 0, connects = 0;
    bool startsInstance = true;
    bool available = true;

    bool Connect() override {
        if (!available) {
            throw wordproc::WordProcessorError(wordproc::Failure::NotAvailable, "not installed");
        }
        ++connects;
        return startsInstance;
    }
    bool Started() const override { return startsInstance; }
    void Hide() override {}
    wordproc::DocumentId Open(const std::string& path, const std::string&,
                              const std::string&) override {
        opened.push_back(path);
        const std::string content = ReadFileBytes(path);
        if (content.starts_with("PASSWORD")) {
            throw wordproc::WordProcessorError(wordproc::Failure::CannotOpen, "needs a password");
        }
        if (content.starts_with("CRASH")) {
            throw wordproc::WordProcessorError(wordproc::Failure::OfficeDied,
                                               "The word processor stopped working");
        }
        docs_[++next_] = content;
        return wordproc::DocumentId{next_};
    }
    wordproc::StepOutcome ClearMailMerge(wordproc::DocumentId doc) override {
        if (docs_.at(doc.value).starts_with("MERGE")) {
            throw wordproc::WordProcessorError(wordproc::Failure::StepFailed, "merge");
        }
        return wordproc::StepOutcome::NotNeeded;
    }
    wordproc::StepOutcome Unprotect(wordproc::DocumentId, const std::string&) override {
        return wordproc::StepOutcome::NotNeeded;
    }
    // The macros run, by name; "Missing" does not exist, "Hang" runs past the
    // deadline (the instance is restarted and the document is gone).
    std::vector<std::string> macros;
    void RunMacro(wordproc::DocumentId doc, const std::string& name) override {
        macros.push_back(name);
        if (name == "Missing") {
            throw wordproc::WordProcessorError(wordproc::Failure::MacroMissing, "no macro");
        }
        if (name == "Hang" && docs_.at(doc.value).starts_with("LOOP")) {
            docs_.erase(doc.value);
            throw wordproc::WordProcessorError(wordproc::Failure::Timeout,
                                               "The document took longer than 60 seconds");
        }
    }
    std::string WholeText(wordproc::DocumentId doc) override {
        const std::string& content = docs_.at(doc.value);
        if (content.starts_with("PROTECTED")) {
            throw wordproc::WordProcessorError(wordproc::Failure::NoText, "no text");
        }
        if (content.starts_with("NOISE")) {
            throw wordproc::WordProcessorError(wordproc::Failure::Unreadable,
                                               "The text is mostly unprintable");
        }
        return "Converted: " + content;
    }
    void Close(wordproc::DocumentId doc) override {
        ++closes;
        docs_.erase(doc.value);
    }
    void Quit() override { ++quits; }

private:
    std::map<std::uint64_t, std::string> docs_;
    std::uint64_t next_ = 0;
};

} // namespace qf::testing
