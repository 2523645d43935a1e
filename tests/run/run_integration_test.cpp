// Whole runs over real Maildir trees: the mail layer and the Maildir provider
// as they are, a recording host, and a rule-driven word processor.
#include "common/fileio.h"
#include "common/text.h"
#include "fake_email.h"
#include "fake_host.h"
#include "i18n/loadstrings.h"
#include "mail/session.h"
#include "platform/registry/registry.h"
#include "platform/shell/shell.h"
#include "platform/wordproc/pdf/pdf_text_process.h"
#include "run/extraction_run.h"
#include "support/fake_word_processor.h"
#include "support/maildir_fixture.h"
#include "support/pdf_maker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iconv.h>
#include <sys/stat.h>

namespace qf::testing {
namespace {

namespace fs = std::filesystem;
using qf::testing::MakePdf;

bool Contains(const std::string& text, const std::string& piece) {
    return text.find(piece) != std::string::npos;
}

int CountOf(const std::vector<std::string>& rows, const std::string& piece) {
    int n = 0;
    for (const auto& r : rows) {
        n += Contains(r, piece) ? 1 : 0;
    }
    return n;
}

class RunTest : public ::testing::Test {
protected:
    MaildirFixture mail;
    FakeHost host;
    FakeWordProcessor word;
    PrintFn print = [](const std::string&) { return true; };
    registry::Registry* registry = nullptr;
    std::int32_t next = 0;
    std::vector<std::string> written;
    RunReport report;

    // Settings with plain templates whose bytes the tests can spell out.
    Settings Plain() const {
        Settings s = mail.settings();
        s.emailHeader = "From: %FROM\r\nTo: %TO\r\nSubject: %SUBJECT\r\n\r\n";
        s.emailFooter = "\r\n-- end of %NUMBER --\r\n";
        s.startTag = "[%FILENAME]";
        s.endTag = "[end]";
        return s;
    }

    RunOutcome Run(const Settings& s, wordproc::WordProcessor* wp = nullptr) {
        MapiSession session;
        RunServices services{session, wp ? wp : &word, print, registry};
        ExtractionRun run(s, host, services);
        run.Execute();
        next = run.NextFileNumber();
        written = run.FilesWritten();
        report = run.Report();
        return run.Outcome();
    }
    std::string Out(const std::string& name) const { return ReadFileBytes(mail.output + name); }
};

TEST_F(RunTest, FilesAreNamedNumberedAndHoldHeaderBodyAndFooter) {
    Mail a;
    a.subject = "Application for the post";
    mail.Deliver(a);
    Mail b;
    b.from = "Bob Builder <bob@example.net>";
    b.subject = "Second";
    b.date = "Tue, 01 Dec 2026 11:00:00 +0000";
    b.received = "Wed, 02 Dec 2026 08:30:15 +0000";
    b.body = "Hi\n";
    mail.Deliver(b);

    Settings s = Plain();
    s.firstNumber = 7;
    s.fileNameFormat = "cv-%3.3d.txt";
    ASSERT_EQ(Run(s), RunOutcome::Complete) << (host.errors.empty() ? "" : host.errors[0]);

    // Both times of each file are the delivery time (Received), not the Date;
    // taken before anything reads the files.
    struct stat st {};
    ASSERT_EQ(::stat((mail.output + "cv-007.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1796119200); // 2026-12-01 10:00:00 UTC
    EXPECT_EQ(st.st_atime, 1796119200);
    ASSERT_EQ(::stat((mail.output + "cv-008.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1796200215); // 2026-12-02 08:30:15 UTC

    EXPECT_EQ(mail.OutputNames(), (std::vector<std::string>{"cv-007.txt", "cv-008.txt"}));
    // The body keeps the line ends the message has.
    EXPECT_EQ(Out("cv-007.txt"), "From: ann@example.org\r\nTo: jobs@brindle.example\r\n"
                                 "Subject: Application for the post\r\n\r\n"
                                 "Dear team,\nplease find my CV.\n"
                                 "\r\n-- end of 7 --\r\n");
    EXPECT_EQ(Out("cv-008.txt"), "From: bob@example.net\r\nTo: jobs@brindle.example\r\n"
                                 "Subject: Second\r\n\r\nHi\n\r\n-- end of 8 --\r\n");
    EXPECT_EQ(written,
              (std::vector<std::string>{mail.output + "cv-007.txt", mail.output + "cv-008.txt"}));
    // The next run starts after the last file.
    EXPECT_EQ(host.nextNumber, 9);
    EXPECT_EQ(host.saves, 1);
    EXPECT_EQ(host.statuses.back(), "Complete. 2 emails processed");
    EXPECT_TRUE(host.rows.empty());

    // Left where they were, unread and unchanged.
    EXPECT_EQ(mail.Subjects(), (std::vector<std::string>{"Application for the post", "Second"}));
    for (const auto& f : mail.Messages()) {
        EXPECT_TRUE(f.ends_with(":2,")) << f;
    }
}

TEST_F(RunTest, EmailValuesInFileNamesCannotLeaveTheFolder) {
    Mail a;
    a.subject = "../../etc/passwd %s %n";
    mail.Deliver(a);
    Settings s = Plain();
    s.fileNameFormat = "%SUBJECT-%d.txt";
    ASSERT_EQ(Run(s), RunOutcome::Complete) << (host.errors.empty() ? "" : host.errors[0]);
    EXPECT_EQ(mail.OutputNames(), std::vector<std::string>{".._.._etc_passwd %s %n-1.txt"});
}

TEST_F(RunTest, AnHtmlOnlyEmailWithABareAmpersandGivesItsText) {
    // An '&' that starts no entity once stopped the HTML-to-text scan for good.
    mail.DeliverRaw("From: ann@example.org\nSubject: Q&A\nDate: Tue, 01 Dec 2026 09:00:00 +0000\n"
                    "MIME-Version: 1.0\nContent-Type: text/html; charset=utf-8\n\n"
                    "<html><body><p>AT&T and R&amp;D &unknown; &#65; &</p></body></html>\n");
    Settings s = Plain();
    s.emailHeader.clear();
    s.emailFooter.clear();
    ASSERT_EQ(Run(s), RunOutcome::Complete);
    EXPECT_EQ(Out("00001.txt"), "AT&T and R&D &unknown; A &");
}

// Leave, move to a subfolder, tag; each with and without marking read.
TEST_F(RunTest, DispositionsAndMarkRead) {
    struct Case {
        int emailsTo;
        bool readStatus;
        std::vector<std::string> inbox;     // subjects left in the inbox
        std::vector<std::string> processed; // subjects in .Processed
    } cases[] = {
        {Settings::kLeaveEmails, false, {"One", "Two"}, {}},
        {Settings::kLeaveEmails, true, {"One", "Two"}, {}},
        {Settings::kMoveEmails, false, {}, {"One", "Two"}},
        {Settings::kMoveEmails, true, {}, {"One", "Two"}},
        {Settings::kTagSubject, false, {"*QF* One", "*QF* Two"}, {}},
        {Settings::kTagSubject, true, {"*QF* One", "*QF* Two"}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.emailsTo) + (c.readStatus ? " read" : " unread"));
        MaildirFixture box;
        box.MakeFolder("Processed");
        Mail m;
        m.subject = "One";
        box.Deliver(m);
        m.subject = "Two";
        box.Deliver(m);
        Settings s = box.settings();
        s.emailsTo = c.emailsTo;
        s.readStatus = c.readStatus;
        if (c.emailsTo == Settings::kMoveEmails) {
            s.destinationFolder = box.FindFolder("Processed");
            s.messageDestination = "Processed";
        }
        FakeHost h;
        MapiSession session;
        ExtractionRun run(s, h, RunServices{session, nullptr, {}, nullptr});
        run.Execute();
        ASSERT_EQ(run.Outcome(), RunOutcome::Complete) << (h.errors.empty() ? "" : h.errors[0]);
        EXPECT_EQ(box.OutputNames(), (std::vector<std::string>{"00001.txt", "00002.txt"}));
        EXPECT_EQ(box.Subjects(), c.inbox);
        EXPECT_EQ(box.Subjects("Processed"), c.processed);
        std::vector<std::string> files = box.Messages();
        for (const auto& f : box.Messages("Processed")) {
            files.push_back(f);
        }
        ASSERT_EQ(files.size(), 2u);
        for (const auto& f : files) {
            const std::string flags = f.substr(f.rfind(":2,") + 3);
            EXPECT_EQ(flags.find('S') != std::string::npos, c.readStatus) << f;
        }
    }
}

TEST_F(RunTest, TaggedEmailsAreSkippedOnlyWhenTheTagMatchesExactly) {
    for (const char* subject : {"*QF* Done before", "*qf* Other case", "Fresh"}) {
        Mail m;
        m.subject = subject;
        mail.Deliver(m);
    }
    Settings s = Plain();
    s.emailHeader = "%SUBJECT\r\n";
    s.emailFooter.clear();
    s.emailsTo = Settings::kTagSubject;
    ASSERT_EQ(Run(s), RunOutcome::Complete);
    // The skipped email takes no number.
    EXPECT_EQ(mail.OutputNames(), (std::vector<std::string>{"00001.txt", "00002.txt"}));
    EXPECT_TRUE(Out("00001.txt").starts_with("*qf* Other case\r\n"));
    EXPECT_TRUE(Out("00002.txt").starts_with("Fresh\r\n"));
    EXPECT_EQ(mail.Subjects(),
              (std::vector<std::string>{"*QF* *qf* Other case", "*QF* Done before", "*QF* Fresh"}));
    EXPECT_EQ(host.nextNumber, 3);
    EXPECT_EQ(host.statuses.back(), "Complete. 3 emails processed");
}

TEST_F(RunTest, EachSortOrderAscendingAndDescending) {
    // Listed (sent) order A, B, C; delivered B, C, A.
    Mail a;
    a.subject = "RE: Aardvark";
    a.from = "bob@x.example";
    a.date = "Fri, 01 Jan 2027 09:00:00 +0000";
    a.received = "Sun, 03 Jan 2027 09:00:00 +0000";
    Mail b;
    b.subject = "Alpha";
    b.from = "Carol@x.example";
    b.date = "Sat, 02 Jan 2027 09:00:00 +0000";
    b.received = "Fri, 01 Jan 2027 10:00:00 +0000";
    Mail c;
    c.subject = "Mid";
    c.from = "alice@x.example";
    c.date = "Sun, 03 Jan 2027 09:00:00 +0000";
    c.received = "Sat, 02 Jan 2027 10:00:00 +0000";
    mail.Deliver(b); // file order differs from every sort order
    mail.Deliver(c);
    mail.Deliver(a);

    struct Case {
        int order;
        std::string ascending; // the emails' letters in file-number order
    } cases[] = {
        {Settings::kNoSort, "ABC"},            // as listed: by sent time
        {Settings::kByDate, "BCA"},            // by delivery time
        {Settings::kBySubject, "BCA"},         // "Alpha", "Mid", "RE: Aardvark"
        {Settings::kBySubjectNoPrefix, "ABC"}, // "Aardvark", "Alpha", "Mid"
        {Settings::kByFrom, "CAB"},            // alice, bob, Carol: case ignored
    };
    const std::map<std::string, char> letter = {
        {"RE: Aardvark", 'A'}, {"Alpha", 'B'}, {"Mid", 'C'}};
    for (const Case& k : cases) {
        for (bool descending : {false, true}) {
            if (k.order == Settings::kNoSort && descending) {
                continue; // no sort: the flag has nothing to reverse
            }
            SCOPED_TRACE(std::to_string(k.order) + (descending ? " descending" : ""));
            fs::remove_all(mail.output);
            fs::create_directories(mail.output);
            Settings s = Plain();
            s.emailHeader = "%SUBJECT";
            s.emailFooter.clear();
            s.sortOrder = k.order;
            s.descending = descending;
            ASSERT_EQ(Run(s), RunOutcome::Complete);
            std::string got;
            for (const auto& name : mail.OutputNames()) {
                const std::string text = Out(name);
                got += letter.at(text.substr(0, text.find("Dear")));
            }
            std::string want = k.ascending;
            if (descending) {
                std::reverse(want.begin(), want.end());
            }
            EXPECT_EQ(got, want);
        }
    }
}

// --- Attachments ---------------------------------------------------------

TEST_F(RunTest, WordDocumentsAreConvertedAndTheirFailuresFlagTheEmail) {
    Mail good;
    good.subject = "Good";
    good.parts = {{"cv.doc", "My CV\nline two"}, {"cover.RTF", "Cover"}};
    mail.Deliver(good);
    Mail locked;
    locked.subject = "Locked";
    locked.parts = {{"secret.docx", "PASSWORD protected"}};
    mail.Deliver(locked);
    Mail crash;
    crash.subject = "Crash";
    crash.parts = {{"bad.doc", "CRASH"}};
    mail.Deliver(crash);

    Settings s = Plain();
    s.extensions.push_back(".docx");
    s.extensionActions.push_back("1");
    s.includeAttachments = true;
    s.emailsTo = Settings::kTagSubject;
    ASSERT_EQ(Run(s), RunOutcome::Complete) << (host.errors.empty() ? "" : host.errors[0]);

    EXPECT_TRUE(Contains(Out("00001.txt"), "-- end of 1 --\r\n[cv.doc]Converted: My CV\r\n"
                                           "line two[end][cover.RTF]Converted: Cover[end]"))
        << Out("00001.txt");
    // Each document was opened from its own temporary copy in the output
    // folder, closed, and the copies are gone after the run.
    ASSERT_EQ(word.opened.size(), 4u);
    EXPECT_EQ(word.opened[0], mail.output + "detach1_1.DOC");
    EXPECT_EQ(word.opened[1], mail.output + "detach1_1.RTF");
    EXPECT_EQ(word.closes, 2);
    EXPECT_EQ(word.connects, 1);
    EXPECT_EQ(word.quits, 1);
    EXPECT_EQ(mail.OutputNames(),
              (std::vector<std::string>{"00001.txt", "00002.txt", "00003.txt"}));

    // A document that needs a password: "Invalid password", no text, the
    // note in the stored email, and the email stays untagged.
    EXPECT_FALSE(Contains(Out("00002.txt"), "[secret.docx]"));
    ASSERT_EQ(host.rows.size(), 2u);
    EXPECT_EQ(host.rows[0], "Email with subject \"Locked\" requires manual intervention (Invalid "
                            "password) for attachment \"secret.docx\" (output file is \"" +
                                mail.output + "00002.txt\")");
    EXPECT_TRUE(Contains(host.rows[1], "The word processor stopped working while handling the "
                                       "document; it was started again"));
    EXPECT_EQ(mail.Subjects(), (std::vector<std::string>{"*QF* Good", "Crash", "Locked"}));
    bool noted = false;
    for (const auto& f : mail.Messages()) {
        const std::string bytes = MaildirFixture::StoredText(f);
        if (Contains(bytes, "Subject: Locked")) {
            noted = Contains(bytes, "Quillfence: Manual intervention is required (Invalid "
                                    "password) for attachment \"secret.docx\" (output file is \"" +
                                        mail.output + "00002.txt\")");
        }
    }
    EXPECT_TRUE(noted);
}

// What a run leaves when its documents convert on `instances` instances:
// output files, rows, warnings, the notes written into the emails and the
// subjects, with the output folder's path taken out.
struct SideBySideRun {
    std::vector<std::string> files, rows, warnings, notes, subjects;
    int furtherInstances = 0, blockedInVain = 0;
};

SideBySideRun RunDocumentsOn(int instances) {
    MaildirFixture box;
    Mail several;
    several.subject = "Several";
    several.parts = {{"block.doc", "BLOCK first"},
                     {"cv.doc", "My CV\nline two"},
                     {"notes.txt", "plain notes"},
                     {"lock.docx", "PASSWORD x"},
                     {"merge.doc", "MERGE letter"},
                     {"prot.doc", "PROTECTED"},
                     {"empty.rtf", ""},
                     {"close.doc", "CLOSE-FAILS"}};
    box.Deliver(several);
    Mail one;
    one.subject = "One";
    one.parts = {{"only.rtf", "Only one"}};
    box.Deliver(one);
    Mail more;
    more.subject = "More";
    more.parts = {{"crash.doc", "CRASH"},     {"last.doc", "BLOCK last"}, {"noise.doc", "NOISE"},
                  {"loop.doc", "LOOP again"}, {"dies.doc", "CLOSE-DIES"}, {"after.rtf", "After"}};
    box.Deliver(more);

    Settings s = box.settings();
    s.emailHeader = "Subject: %SUBJECT\r\n";
    s.startTag = "[%FILENAME]";
    s.endTag = "[end]";
    s.extensions.push_back(".docx");
    s.extensionActions.push_back("1");
    s.includeAttachments = true;
    s.emailsTo = Settings::kTagSubject;
    s.wordMacro = "Hang"; // loses "LOOP..." to the deadline
    FakeWordProcessor word;
    word.instanceLimit = instances;
    word.family->blockUntilAnotherText = instances > 1;
    FakeHost h;
    MapiSession session;
    ExtractionRun run(s, h, RunServices{session, &word, {}, nullptr});
    run.Execute();
    EXPECT_EQ(run.Outcome(), RunOutcome::Complete);

    auto local = [&box](std::string text) {
        for (std::size_t at; (at = text.find(box.output)) != std::string::npos;) {
            text.replace(at, box.output.size(), "OUT/");
        }
        return text;
    };
    SideBySideRun result;
    for (const auto& name : box.OutputNames()) {
        result.files.push_back(name + ": " + local(ReadFileBytes(box.output + name)));
    }
    for (const auto& row : h.rows) {
        result.rows.push_back(local(row));
    }
    result.warnings = h.warnings;
    for (const auto& f : box.Messages()) {
        const std::string text = MaildirFixture::StoredText(f);
        for (std::size_t at = 0; (at = text.find("Quillfence: Manual", at)) != std::string::npos;
             ++at) {
            result.notes.push_back(local(text.substr(at, text.find('\n', at) - at)));
        }
    }
    std::sort(result.notes.begin(), result.notes.end());
    result.subjects = box.Subjects();
    result.furtherInstances = word.family->made;
    result.blockedInVain = word.family->blockedInVain;
    EXPECT_EQ(word.family->quits, word.family->made);
    return result;
}

TEST_F(RunTest, DocumentsConvertedSideBySideLeaveWhatOneAtATimeLeaves) {
    const SideBySideRun one = RunDocumentsOn(1);
    ASSERT_EQ(one.files.size(), 3u);
    EXPECT_TRUE(Contains(one.files[0], "[cv.doc]Converted: My CV\r\nline two[end]"
                                       "[notes.txt]plain notes[end]"))
        << one.files[0];
    EXPECT_EQ(one.rows.size(), 8u);
    EXPECT_EQ(one.warnings.size(), 3u);
    EXPECT_EQ(one.furtherInstances, 0);

    const SideBySideRun two = RunDocumentsOn(2);
    EXPECT_EQ(two.files, one.files);
    EXPECT_EQ(two.rows, one.rows);
    EXPECT_EQ(two.warnings, one.warnings);
    EXPECT_EQ(two.notes, one.notes);
    EXPECT_EQ(two.subjects, one.subjects);
    // The documents of an email did convert side by side.
    EXPECT_EQ(two.furtherInstances, 1);
    EXPECT_EQ(two.blockedInVain, 0);
}

// The documents of an email read ahead convert while the emails before it
// are written: the first email's only document waits until another instance
// has given a text, which only the next email's document can.
TEST_F(RunTest, DocumentsOfUpcomingEmailsConvertWhileEarlierOnesAreWritten) {
    MaildirFixture box;
    for (const auto& [subject, part] :
         std::vector<std::pair<std::string, Part>>{{"First", {"first.doc", "BLOCK first"}},
                                                   {"Second", {"second.doc", "Second"}},
                                                   {"Third", {"third.rtf", "Third"}}}) {
        Mail m;
        m.subject = subject;
        m.parts = {part};
        box.Deliver(m);
    }
    Settings s = box.settings();
    s.emailHeader = "Subject: %SUBJECT\r\n";
    s.startTag = "[%FILENAME]";
    s.endTag = "[end]";
    s.includeAttachments = true;
    FakeWordProcessor office;
    office.instanceLimit = 2;
    office.family->blockUntilAnotherText = true;
    FakeHost h;
    MapiSession session;
    ExtractionRun run(s, h, RunServices{session, &office, {}, nullptr});
    run.Execute();
    ASSERT_EQ(run.Outcome(), RunOutcome::Complete);
    EXPECT_EQ(office.family->blockedInVain, 0);
    const auto names = box.OutputNames();
    ASSERT_EQ(names.size(), 3u);
    EXPECT_TRUE(
        Contains(ReadFileBytes(box.output + names[0]), "[first.doc]Converted: BLOCK first[end]"));
    EXPECT_TRUE(
        Contains(ReadFileBytes(box.output + names[1]), "[second.doc]Converted: Second[end]"));
    EXPECT_TRUE(Contains(ReadFileBytes(box.output + names[2]), "[third.rtf]Converted: Third[end]"));
}

TEST_F(RunTest, AnEmptyDocumentGivesEmptyTextAndTheEmailIsDisposed) {
    Mail m;
    m.subject = "Empty";
    m.parts = {{"cv.doc", ""}, {"cover.rtf", "Cover"}};
    mail.Deliver(m);
    Settings s = Plain();
    s.includeAttachments = true;
    s.emailsTo = Settings::kTagSubject;
    ASSERT_EQ(Run(s), RunOutcome::Complete);
    EXPECT_TRUE(Contains(Out("00001.txt"), "[cv.doc][end][cover.rtf]Converted: Cover[end]"))
        << Out("00001.txt");
    EXPECT_TRUE(host.rows.empty());
    EXPECT_EQ(word.opened.size(), 1u); // the empty one never reached the word processor
    EXPECT_EQ(mail.Subjects(), std::vector<std::string>{"*QF* Empty"});
}

TEST_F(RunTest, MailMergeAndProtectedDocumentsKeepATextAndFlagTheEmail) {
    Mail m;
    m.parts = {{"merge.doc", "MERGE letter"}, {"locked.doc", "PROTECTED"}};
    mail.Deliver(m);
    Settings s = Plain();
    s.includeAttachments = true;
    s.emailsTo = Settings::kTagSubject;
    ASSERT_EQ(Run(s), RunOutcome::Complete);
    // The merge document still gives its text; the protected one a notice.
    EXPECT_TRUE(Contains(Out("00001.txt"),
                         "[merge.doc]Converted: MERGE letter[end][locked.doc]This document is "
                         "protected and cannot be copied without entering a password[end]"))
        << Out("00001.txt");
    EXPECT_EQ(host.warnings, std::vector<std::string>{"Please close any warning dialog boxes in "
                                                      "MS Word before continuing"});
    ASSERT_EQ(host.rows.size(), 2u);
    EXPECT_TRUE(Contains(host.rows[0], "(Attachment is a mail merged document) for attachment "
                                       "\"merge.doc\""));
    EXPECT_TRUE(Contains(host.rows[1], "(Attachment is a protected document) for attachment "
                                       "\"locked.doc\""));
    EXPECT_EQ(word.closes, 2);
    EXPECT_EQ(mail.Subjects(), std::vector<std::string>{"Application"});
}

TEST_F(RunTest, AFailedCloseIsReportedAlsoWhenTheWordProcessorDiedOrHung) {
    for (const char* content : {"CLOSE-FAILS", "CLOSE-DIES", "CLOSE-HANGS"}) {
        SCOPED_TRACE(content);
        MaildirFixture box;
        Mail m;
        m.subject = "Close";
        m.parts = {{"cv.doc", content}, {"next.doc", "Next"}};
        box.Deliver(m);
        Settings s = box.settings();
        s.emailHeader = "";
        s.emailFooter = "";
        s.startTag = "[%FILENAME]";
        s.endTag = "[end]";
        s.includeAttachments = true;
        s.emailsTo = Settings::kTagSubject;
        FakeHost h;
        MapiSession session;
        ExtractionRun run(s, h, RunServices{session, &word, {}, nullptr});
        run.Execute();
        ASSERT_EQ(run.Outcome(), RunOutcome::Complete);
        // The warning, the text in place of the document's, the row; the
        // email stays for a person and the next document is converted.
        EXPECT_EQ(h.warnings, std::vector<std::string>{"Please close any warning dialog boxes in "
                                                       "MS Word before continuing"});
        EXPECT_TRUE(Contains(ReadFileBytes(box.output + "00001.txt"),
                             "[cv.doc]Word had problems with this Attachment[end]"
                             "[next.doc]Converted: Next[end]"));
        ASSERT_EQ(h.rows.size(), 1u);
        EXPECT_TRUE(Contains(h.rows[0], "(Word had problems with this Attachment) for attachment "
                                        "\"cv.doc\""))
            << h.rows[0];
        EXPECT_EQ(box.Subjects(), std::vector<std::string>{"Close"});
    }
}

TEST_F(RunTest, TheUsersMacroRunsOnEachDocumentAndOnlyALostDocumentIsReported) {
    Mail m;
    m.subject = "Macro";
    m.parts = {
        {"a.doc", "First"}, {"b.doc", "LOOP forever"}, {"c.doc", "NOISE"}, {"d.doc", "Last"}};
    mail.Deliver(m);
    Settings s = Plain();
    s.includeAttachments = true;
    s.emailFooter.clear();

    // A macro that does not exist is silent: the text is taken as usual.
    s.wordMacro = "Missing";
    ASSERT_EQ(Run(s), RunOutcome::Complete);
    EXPECT_EQ(word.macros.size(), 4u);
    EXPECT_TRUE(Contains(Out("00001.txt"), "[a.doc]Converted: First[end]"));
    EXPECT_TRUE(Contains(Out("00001.txt"), "[b.doc]Converted: LOOP forever[end]"));
    // Text that came back unprintable is left out with its reason.
    EXPECT_FALSE(Contains(Out("00001.txt"), "[c.doc]"));
    ASSERT_EQ(host.rows.size(), 1u);
    EXPECT_TRUE(Contains(host.rows[0], "(The document's text came back mostly unprintable) for "
                                       "attachment \"c.doc\""))
        << host.rows[0];

    // A macro that hangs takes its document with it: a row names why, nothing
    // of it is included, and the next attachment is converted.
    host.rows.clear();
    word.macros.clear();
    s.wordMacro = "Hang";
    s.firstNumber = 2;
    ASSERT_EQ(Run(s), RunOutcome::Complete);
    EXPECT_EQ(word.macros, (std::vector<std::string>{"Hang", "Hang", "Hang", "Hang"}));
    EXPECT_FALSE(Contains(Out("00002.txt"), "[b.doc]"));
    EXPECT_TRUE(Contains(Out("00002.txt"), "[d.doc]Converted: Last[end]"));
    ASSERT_EQ(host.rows.size(), 2u);
    EXPECT_TRUE(Contains(host.rows[0], "(The word processor did not finish the document in the "
                                       "time allowed; it was started again) for attachment "
                                       "\"b.doc\""))
        << host.rows[0];
}

TEST_F(RunTest, WithoutAWordProcessorARunWithAttachmentsFailsAtTheStart) {
    mail.Deliver(Mail{});
    Settings s = Plain();
    s.includeAttachments = true;
    word.available = false;
    EXPECT_EQ(Run(s), RunOutcome::Failed);
    ASSERT_EQ(host.errors.size(), 1u);
    EXPECT_TRUE(mail.OutputNames().empty());
    EXPECT_FALSE(host.nextNumber);
}

TEST_F(RunTest, ManualHandlingFlagsTheEmailAndLeavesItInPlace) {
    mail.MakeFolder("Processed");
    Mail m;
    m.subject = "Zipped";
    m.parts = {{"all.zip", "PK\x03\x04"}};
    mail.Deliver(m);
    Mail clean;
    clean.subject = "Clean";
    mail.Deliver(clean);
    Settings s = Plain();
    s.includeAttachments = true;
    s.emailsTo = Settings::kMoveEmails;
    s.destinationFolder = mail.FindFolder("Processed");
    ASSERT_EQ(Run(s), RunOutcome::Complete);
    EXPECT_TRUE(Contains(Out("00001.txt"),
                         "[all.zip]Quillfence: This attachment has been flagged for manual "
                         "handling\r\n[end]"));
    ASSERT_EQ(host.rows.size(), 1u);
    EXPECT_TRUE(Contains(host.rows[0], "\"Zipped\" requires manual intervention (Attachment is "
                                       "flagged for manual handling) for attachment \"all.zip\""));
    EXPECT_EQ(mail.Subjects(), std::vector<std::string>{"Zipped"});
    EXPECT_EQ(mail.Subjects("Processed"), std::vector<std::string>{"Clean"});
    ASSERT_EQ(mail.Messages().size(), 1u);
    EXPECT_TRUE(Contains(MaildirFixture::StoredText(mail.Messages()[0]),
                         "Quillfence: Manual intervention is required (Attachment is flagged for "
                         "manual handling) for attachment \"all.zip\""));
}

// The action of the extension `ext` in `s` set to `code`.
void SetAction(Settings& s, const std::string& ext, const std::string& code) {
    for (std::size_t i = 0; i < s.extensions.size(); ++i) {
        if (s.extensions[i] == ext) {
            s.extensionActions[i] = code;
            return;
        }
    }
    s.extensions.push_back(ext);
    s.extensionActions.push_back(code);
}

TEST_F(RunTest, PdfsToConvertGiveTheirTextAndThoseWithoutTextWaitForAPerson) {
    const std::string letter =
        MakePdf({TextPage({{72, 720, "Curriculum vitae"}}), TextPage({{72, 720, "Page two"}})});
    PdfPage scanPage;
    scanPage.picture = true;
    Mail good;
    good.subject = "Good";
    good.parts = {{"cv.pdf", letter, "application/pdf"}, {"cover.doc", "Cover"}};
    mail.Deliver(good);
    Mail scan;
    scan.subject = "Scan";
    scan.parts = {{"scan.PDF", MakePdf({scanPage}), "application/pdf"}};
    mail.Deliver(scan);
    Mail broken;
    broken.subject = "Broken";
    broken.parts = {{"half.pdf", letter.substr(0, letter.size() / 2)},
                    {"cut.pdf", letter.substr(0, letter.rfind("startxref"))}};
    mail.Deliver(broken);

    Settings s = Plain();
    s.includeAttachments = true;
    s.emailsTo = Settings::kTagSubject;
    s.emailFooter.clear();
    SetAction(s, ".pdf", "1");
    pdf::PdfTextOptions options;
    options.program = QF_PDFTEXT_EXE;
    pdf::PdfTextProcess reader(options);
    MapiSession session;
    ExtractionRun run(s, host, RunServices{session, &word, print, registry, &reader});
    run.Execute();
    ASSERT_EQ(run.Outcome(), RunOutcome::Complete);

    // The text, its lines in CR LF and its pages apart by a form feed; the
    // word processor saw only the Word document.
    EXPECT_TRUE(Contains(Out("00001.txt"), "[cv.pdf]Curriculum vitae\r\n\fPage two[end]"
                                           "[cover.doc]Converted: Cover[end]"))
        << Out("00001.txt");
    EXPECT_EQ(word.opened, std::vector<std::string>{mail.output + "detach1_1.DOC"});

    // A scan gives nothing but its row; a damaged PDF its row; one cut
    // short its text and a row saying the text may not be all.
    EXPECT_FALSE(Contains(Out("00002.txt"), "[scan.PDF]"));
    EXPECT_FALSE(Contains(Out("00003.txt"), "[half.pdf]"));
    EXPECT_TRUE(Contains(Out("00003.txt"), "[cut.pdf]Curriculum vitae\r\n\fPage two[end]"));
    ASSERT_EQ(host.rows.size(), 3u);
    EXPECT_EQ(host.rows[0], "Email with subject \"Scan\" requires manual intervention (no text "
                            "in this PDF (scanned?)) for attachment \"scan.PDF\" (output file "
                            "is \"" +
                                mail.output + "00002.txt\")");
    EXPECT_TRUE(Contains(host.rows[1], "(The PDF is damaged and could not be read) for "
                                       "attachment \"half.pdf\""))
        << host.rows[1];
    EXPECT_TRUE(Contains(host.rows[2], "(The PDF ends early; its text may be incomplete) for "
                                       "attachment \"cut.pdf\""))
        << host.rows[2];
    // Only the email whose attachments all gave their text is disposed of.
    EXPECT_EQ(mail.Subjects(), (std::vector<std::string>{"*QF* Good", "Broken", "Scan"}));
    EXPECT_EQ(mail.OutputNames(),
              (std::vector<std::string>{"00001.txt", "00002.txt", "00003.txt"}));
}

TEST_F(RunTest, PdfsKeepTheirDefaultPrintActionAndAFailedReaderIsARow) {
    const std::string letter = MakePdf({TextPage({{72, 720, "Curriculum vitae"}})});
    Mail m;
    m.parts = {{"cv.pdf", letter, "application/pdf"}};
    mail.Deliver(m);
    std::vector<std::string> printed;
    print = [&printed](const std::string& path) {
        printed.push_back(path);
        return true;
    };
    Settings s = Plain();
    s.includeAttachments = true;
    ASSERT_EQ(Run(s), RunOutcome::Complete);
    ASSERT_EQ(printed.size(), 1u);
    EXPECT_FALSE(Contains(Out("00001.txt"), "Curriculum vitae"));

    // A reader that cannot be started costs the attachment, not the run.
    SetAction(s, ".pdf", "1");
    s.firstNumber = 2;
    pdf::PdfTextOptions options;
    options.program = mail.temp.path() + "missing-reader";
    pdf::PdfTextProcess reader(options);
    MapiSession session;
    ExtractionRun run(s, host, RunServices{session, &word, print, registry, &reader});
    run.Execute();
    ASSERT_EQ(run.Outcome(), RunOutcome::Complete);
    ASSERT_EQ(host.rows.size(), 1u);
    EXPECT_TRUE(Contains(host.rows[0], "(The PDF could not be read: The PDF reader " +
                                           options.program + " could not be started"))
        << host.rows[0];
}

// Fails each PDF with the failure its bytes name.
class ScriptedPdfReader : public pdf::PdfReader {
public:
    pdf::PdfText Read(const std::string& path) override {
        const std::string bytes = ReadFileBytes(path);
        if (bytes == "password") {
            throw pdf::PdfError(pdf::PdfFailure::NeedsPassword, "needs a password");
        }
        if (bytes == "slow") {
            throw pdf::PdfError(pdf::PdfFailure::Timeout, "too slow");
        }
        throw pdf::PdfError(pdf::PdfFailure::TooLarge, "too large");
    }
};

TEST_F(RunTest, APdfThatNeedsAPasswordReadsAsAWordDocumentThatDoes) {
    Mail m;
    m.parts = {{"locked.pdf", "password"}, {"slow.pdf", "slow"}, {"big.pdf", "big"}};
    mail.Deliver(m);
    Settings s = Plain();
    s.includeAttachments = true;
    SetAction(s, ".pdf", "1");
    ScriptedPdfReader reader;
    MapiSession session;
    ExtractionRun run(s, host, RunServices{session, &word, print, registry, &reader});
    run.Execute();
    ASSERT_EQ(host.rows.size(), 3u);
    EXPECT_TRUE(Contains(host.rows[0], "(Invalid password) for attachment \"locked.pdf\""));
    EXPECT_TRUE(Contains(host.rows[1], "(The PDF was not read in the time allowed) for "
                                       "attachment \"slow.pdf\""));
    EXPECT_TRUE(Contains(host.rows[2], "(The PDF needs more memory than allowed, or holds more "
                                       "text) for attachment \"big.pdf\""));
    EXPECT_FALSE(Contains(Out("00001.txt"), ".pdf]"));
}

TEST_F(RunTest, IgnoredAndTextAttachments) {
    Mail m;
    m.parts = {{"photo.gif", "GIF89a"}, {"noext", "x"}, {"notes.TXT", "plain notes\r\n"}};
    mail.Deliver(m);
    Settings s = Plain();
    s.includeAttachments = true;
    s.emailFooter.clear();
    ASSERT_EQ(Run(s), RunOutcome::Complete);
    EXPECT_TRUE(Out("00001.txt").ends_with("CV.\n[notes.TXT]plain notes\r\n[end]"))
        << Out("00001.txt");
    EXPECT_TRUE(host.rows.empty());
    EXPECT_TRUE(word.opened.empty());
    EXPECT_EQ(mail.OutputNames(), std::vector<std::string>{"00001.txt"});
}

TEST_F(RunTest, AUtf16TextAttachmentMakesTheWholeFileUtf16) {
    struct Case {
        std::string attachment;
    } cases[] = {
        {kBomLE + LE(u"R\u00e9sum\u00e9")},
        {"\xFE\xFF" + std::string("\0R\0\xe9\0s\0u\0m\0\xe9", 12)}, // big-endian
    };
    for (const Case& c : cases) {
        MaildirFixture box;
        Mail m;
        m.subject = "Wide";
        m.body = "Body\n";
        m.parts = {{"cv.txt", c.attachment}};
        box.Deliver(m);
        Settings s = box.settings();
        s.emailHeader = "%SUBJECT\r\n";
        s.emailFooter = "--";
        s.startTag = "[%FILENAME]";
        s.endTag = "[end]";
        s.includeAttachments = true;
        FakeHost h;
        MapiSession session;
        ExtractionRun run(s, h, RunServices{session, &word, {}, nullptr});
        run.Execute();
        ASSERT_EQ(run.Outcome(), RunOutcome::Complete);
        EXPECT_EQ(ReadFileBytes(box.output + "00001.txt"),
                  kBomLE + LE(u"Wide\r\nBody\n--[cv.txt]R\u00e9sum\u00e9[end]"));
    }
}

// `utf8` as a legacy editor saves it.
std::string Encode(const std::string& utf8, const char* encoding) {
    iconv_t cd = iconv_open(encoding, "UTF-8");
    std::string out(utf8.size() * 2 + 8, '\0');
    char* in = const_cast<char*>(utf8.data());
    std::size_t inLeft = utf8.size();
    char* dst = out.data();
    std::size_t outLeft = out.size();
    const std::size_t converted = iconv(cd, &in, &inLeft, &dst, &outLeft);
    iconv_close(cd);
    EXPECT_NE(converted, static_cast<std::size_t>(-1)) << encoding;
    out.resize(out.size() - outLeft);
    return out;
}

TEST_F(RunTest, LegacyEncodedTextAttachmentsAreWrittenAsTheirCharacters) {
    const std::string german = "Lebenslauf: Jürgen Müller, Straße des 17. Juni, Köln. "
                               "Softwareentwickler für Großkunden, Gehalt 55.000 €.";
    const std::string polish = "Życiorys: Łukasz Wójcik, ulica Świętokrzyska 12, Łódź. "
                               "Doświadczenie zawodowe: programista, zarządzanie zespołem.";
    const std::string utf16 = "Résumé: Zoë Ørsted";
    for (const bool wide : {false, true}) {
        SCOPED_TRACE(wide ? "UTF-16 output" : "UTF-8 output");
        MaildirFixture box;
        Mail m;
        m.subject = "Bewerbung";
        m.body = "Anbei.\n";
        m.parts = {{"lebenslauf.txt", Encode(german, "WINDOWS-1252")}};
        if (wide) {
            m.parts.push_back({"resume.txt", kBomLE + LE(Utf8ToUtf16(utf16))});
        }
        m.parts.push_back({"zyciorys.txt", Encode(polish, "ISO-8859-2")});
        box.Deliver(m);
        Settings s = box.settings();
        s.emailHeader = "%SUBJECT\r\n";
        s.emailFooter = "--";
        s.startTag = "[%FILENAME]";
        s.endTag = "[end]";
        s.includeAttachments = true;
        FakeHost h;
        MapiSession session;
        ExtractionRun run(s, h, RunServices{session, &word, {}, nullptr});
        run.Execute();
        ASSERT_EQ(run.Outcome(), RunOutcome::Complete);
        std::string out = ReadFileBytes(box.output + "00001.txt");
        if (wide) {
            ASSERT_TRUE(out.starts_with(kBomLE));
            std::u16string units;
            for (std::size_t i = 2; i + 1 < out.size(); i += 2) {
                units += static_cast<char16_t>(static_cast<unsigned char>(out[i]) |
                                               static_cast<unsigned char>(out[i + 1]) << 8);
            }
            out = Utf16ToUtf8(units);
        }
        EXPECT_EQ(out, "Bewerbung\r\nAnbei.\n--[lebenslauf.txt]" + german + "[end]" +
                           (wide ? "[resume.txt]" + utf16 + "[end]" : std::string()) +
                           "[zyciorys.txt]" + polish + "[end]");
    }
}

TEST_F(RunTest, PrintedAttachmentsAreSavedPrintedAndNoted) {
    // A stand-in lp on PATH that logs its arguments and accepts or refuses.
    const std::string bin = mail.temp.path() + "bin/";
    fs::create_directories(bin);
    const std::string log = mail.temp.path() + "lp.log";
    WriteFileAtomic(bin + "lp", "#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" + log +
                                    "'\ncase \"$2\" in *refuse*) exit 1;; esac\nexit 0\n");
    fs::permissions(bin + "lp", fs::perms::owner_all);
    const std::string oldPath = std::getenv("PATH");
    ::setenv("PATH", (bin + ":" + oldPath).c_str(), 1);
    print = [](const std::string& path) { return ShellPrint(path); };

    Mail ok;
    ok.subject = "Ok";
    ok.parts = {{"cv.pdf", "%PDF-1.4"}};
    mail.Deliver(ok);
    Mail refused;
    refused.subject = "Refused";
    refused.from = "refuse@example.org";
    refused.parts = {{"cv.pdf", "%PDF-1.4"}};
    mail.Deliver(refused);

    Settings s = Plain();
    s.includeAttachments = true;
    s.emailsTo = Settings::kTagSubject;
    const RunOutcome outcome = Run(s);
    ::setenv("PATH", oldPath.c_str(), 1);
    ASSERT_EQ(outcome, RunOutcome::Complete);

    const std::string first = mail.manual + "ann@example.org_1_1.PDF";
    const std::string second = mail.manual + "refuse@example.org_2_1.PDF";
    EXPECT_EQ(ReadFileBytes(first), "%PDF-1.4");
    EXPECT_EQ(ReadFileBytes(log), "-s\n" + first + "\n-s\n" + second + "\n");
    EXPECT_TRUE(Contains(Out("00001.txt"),
                         "Quillfence: Attachment " + first + " has been flagged for printing"));
    // The companion text beside the copy holds the email's text so far.
    EXPECT_EQ(ReadFileBytes(first + ".txt"),
              Out("00001.txt").substr(0, ReadFileBytes(first + ".txt").size()));
    ASSERT_EQ(host.rows.size(), 1u);
    EXPECT_TRUE(Contains(host.rows[0], "did not respond correctly to the 'Print' command"));
    EXPECT_EQ(mail.Subjects(), (std::vector<std::string>{"*QF* Ok", "Refused"}));
}

TEST_F(RunTest, SavedAttachmentsGetNumberedCopiesAndCompanionTexts) {
    Mail m;
    m.parts = {{"cv.pdf", "first"}, {"cv.pdf", "second"}};
    mail.Deliver(m);
    Settings s = Plain();
    s.includeAttachments = true;
    s.extensionActions[13] = "5"; // .pdf
    ASSERT_EQ(s.extensions[13], ".pdf");
    s.emailsTo = Settings::kTagSubject;
    ASSERT_EQ(Run(s), RunOutcome::Complete);
    EXPECT_EQ(mail.OutputNames(mail.manual),
              (std::vector<std::string>{"ann@example.org_1_1.PDF", "ann@example.org_1_1.PDF.txt",
                                        "ann@example.org_1_2.PDF", "ann@example.org_1_2.PDF.txt"}));
    EXPECT_EQ(ReadFileBytes(mail.manual + "ann@example.org_1_1.PDF"), "first");
    EXPECT_EQ(ReadFileBytes(mail.manual + "ann@example.org_1_2.PDF"), "second");
    const std::string text = Out("00001.txt");
    EXPECT_TRUE(Contains(text, "Attachment " + mail.manual +
                                   "ann@example.org_1_2.PDF has been flagged for saving"));
    EXPECT_TRUE(host.rows.empty());
    EXPECT_EQ(mail.Subjects(), std::vector<std::string>{"*QF* Application"});
}

TEST_F(RunTest, ACopyWhoseCompanionTextWouldNotFitIsNotMade) {
    // The copy's own name fits the file system; its companion ".txt" would not.
    const std::size_t limit = FileNameLimit(mail.manual);
    Mail m;
    m.subject = std::string(limit - std::string("_1.PDF").size() - 2, 's');
    m.parts = {{"cv.pdf", "x"}};
    mail.Deliver(m);
    Settings s = Plain();
    s.includeAttachments = true;
    s.extensionActions[13] = "5"; // .pdf: a copy and a companion text
    s.manualFormat = "%SUBJECT";
    s.emailsTo = Settings::kTagSubject;
    ASSERT_EQ(Run(s), RunOutcome::Complete) << (host.errors.empty() ? "" : host.errors[0]);
    EXPECT_TRUE(mail.OutputNames(mail.manual).empty());
    ASSERT_EQ(host.rows.size(), 1u);
    EXPECT_TRUE(Contains(host.rows[0], "longer than the file system allows")) << host.rows[0];
    EXPECT_EQ(mail.Subjects(), std::vector<std::string>{m.subject}); // left for a person
}

TEST_F(RunTest, FilesTheRunWritesHonourTheUmaskAndKeepTheModeOfAFileReplaced) {
    Mail m;
    m.parts = {{"cv.pdf", "pdf"}};
    mail.Deliver(m);
    mail.Deliver(Mail{});
    Settings s = Plain();
    s.includeAttachments = true;
    s.extensionActions[13] = "5"; // a manual copy and its companion text
    // A file of an earlier run that its owner made private is replaced.
    WriteFileAtomic(mail.output + "00002.txt", "earlier");
    ASSERT_EQ(::chmod((mail.output + "00002.txt").c_str(), 0600), 0);
    const mode_t oldMask = ::umask(027);
    const RunOutcome outcome = Run(s);
    ::umask(oldMask);
    ASSERT_EQ(outcome, RunOutcome::Complete) << (host.errors.empty() ? "" : host.errors[0]);
    const auto modeOf = [](const std::string& path) {
        struct stat st {};
        EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
        return st.st_mode & 0777;
    };
    EXPECT_EQ(modeOf(mail.output + "00001.txt"), 0640u);
    EXPECT_EQ(modeOf(mail.manual + "ann@example.org_1_1.PDF"), 0640u);
    EXPECT_EQ(modeOf(mail.manual + "ann@example.org_1_1.PDF.txt"), 0640u);
    EXPECT_EQ(modeOf(mail.output + "00002.txt"), 0600u);
    EXPECT_NE(Out("00002.txt"), "earlier");
}

TEST_F(RunTest, AFailingAttachmentIsAManualInterventionNotADroppedPiece) {
    Mail m;
    m.parts = {{"cv.pdf", "x"}};
    mail.Deliver(m);
    Settings s = Plain();
    s.includeAttachments = true;
    s.extensionActions[13] = "5";
    s.manualFolder = mail.temp.path() + "no such folder/";
    s.emailsTo = Settings::kTagSubject;
    ASSERT_EQ(Run(s), RunOutcome::Complete);
    ASSERT_EQ(host.rows.size(), 1u);
    EXPECT_TRUE(Contains(host.rows[0], "for attachment \"cv.pdf\"")) << host.rows[0];
    EXPECT_EQ(mail.Subjects(), std::vector<std::string>{"Application"});
    // The report names it once, as failed.
    ASSERT_EQ(report.Emails().size(), 1u);
    ASSERT_EQ(report.Emails()[0].attachments.size(), 1u);
    EXPECT_EQ(report.Emails()[0].attachments[0].outcome, AttachmentOutcome::Failed);
    EXPECT_EQ(report.Emails()[0].disposition, Disposition::NotDisposed);
}

TEST_F(RunTest, EmbeddedEmailsAreHandledWithTheirOwnAttachments) {
    Mail inner;
    inner.from = "Carl Candidate <carl@example.com>";
    inner.subject = "My application";
    inner.body = "Forwarded body\n";
    inner.parts = {{"inner.txt", "inner text"}};
    Mail outer;
    outer.subject = "FW: My application";
    outer.parts = {{"forward.eml", Render(inner), "", true}, {"after.txt", "after"}};
    mail.Deliver(outer);

    Settings s = Plain();
    s.includeAttachments = true;
    s.emailsTo = Settings::kTagSubject;
    ASSERT_EQ(Run(s), RunOutcome::Complete);
    const std::string text = Out("00001.txt");
    const auto innerAt = text.find("[inner.txt]inner text[end]");
    const auto afterAt = text.find("[after.txt]after[end]");
    EXPECT_NE(innerAt, std::string::npos) << text;
    EXPECT_NE(afterAt, std::string::npos) << text;
    EXPECT_LT(innerAt, afterAt);
    EXPECT_TRUE(host.rows.empty());
    EXPECT_EQ(mail.Subjects(), std::vector<std::string>{"*QF* FW: My application"});
}

TEST_F(RunTest, AnAttachmentOfAnEmbeddedEmailThatNeedsAPersonKeepsTheOuterEmail) {
    Mail inner;
    inner.subject = "Inner";
    inner.parts = {{"all.zip", "PK"}};
    Mail outer;
    outer.subject = "Outer";
    outer.parts = {{"fwd.eml", Render(inner), "", true}};
    mail.Deliver(outer);
    Settings s = Plain();
    s.includeAttachments = true;
    s.emailsTo = Settings::kTagSubject;
    s.fileNameFormat = "%SUBJECT-%d.txt";
    ASSERT_EQ(Run(s), RunOutcome::Complete);
    ASSERT_EQ(host.rows.size(), 1u);
    EXPECT_TRUE(Contains(host.rows[0], "for attachment \"all.zip\"")) << host.rows[0];
    EXPECT_EQ(mail.Subjects(), std::vector<std::string>{"Outer"});
    // The embedded email cannot hold a note: the stored one does, naming the
    // embedded email and the stored email's own output file.
    const std::string note = "Quillfence: Manual intervention is required (Attachment is flagged "
                             "for manual handling) for attachment \"all.zip\" of the attached "
                             "email \"Inner\" (output file is \"" +
                             mail.output + "Outer-1.txt\")";
    ASSERT_EQ(mail.Messages().size(), 1u);
    EXPECT_TRUE(Contains(MaildirFixture::StoredText(mail.Messages()[0]), note))
        << MaildirFixture::StoredText(mail.Messages()[0]);
    EXPECT_TRUE(Contains(host.rows[0], "(output file is \"" + mail.output + "Outer-1.txt\")"))
        << host.rows[0];
    EXPECT_FALSE(Contains(host.rows[0], " - "))
        << "the note could not be written: " << host.rows[0];
}

TEST_F(RunTest, EncodedHeadersAndNewMessagesAreReadAsTheUserSeesThem) {
    Mail m;
    m.from = "=?UTF-8?Q?J=C3=BCrgen_M=C3=BCller?= <jm@example.de>";
    m.subject = "=?UTF-8?B?QmV3ZXJidW5nIGbDvHIgZGllIFN0ZWxsZQ==?=";
    const std::string file = mail.Deliver(m);
    // Not yet seen by any mail client: in new/, without flags.
    const std::string fresh = mail.root + "/new/" + fs::path(file).filename().string();
    fs::rename(file, fresh.substr(0, fresh.size() - 3));
    Settings s = Plain();
    s.emailHeader = "%SUBJECT|%FROM\r\n";
    s.emailFooter.clear();
    s.emailsTo = Settings::kTagSubject;
    s.readStatus = true;
    ASSERT_EQ(Run(s), RunOutcome::Complete);
    EXPECT_TRUE(Out("00001.txt").starts_with("Bewerbung f\u00fcr die Stelle|jm@example.de\r\n"))
        << Out("00001.txt");
    ASSERT_EQ(mail.Messages().size(), 1u);
    const std::string now = mail.Messages()[0];
    EXPECT_TRUE(now.ends_with("S")) << now;
    EXPECT_TRUE(Contains(ReadFileBytes(now), "*QF* "));
}

TEST_F(RunTest, EmbeddedEmailsNestedTooDeeplyNeedAPerson) {
    Mail m;
    m.subject = "level 0";
    m.parts = {{"deep.txt", "bottom"}};
    std::string chain = Render(m);
    for (int level = 1; level <= 40; ++level) {
        Mail wrapper;
        wrapper.subject = "level " + std::to_string(level);
        wrapper.body = "fwd\n";
        wrapper.parts = {{"fwd.eml", chain, "", true}};
        chain = Render(wrapper);
    }
    mail.DeliverRaw(chain);
    Settings s = Plain();
    s.includeAttachments = true;
    s.emailsTo = Settings::kTagSubject;
    ASSERT_EQ(Run(s), RunOutcome::Complete) << (host.errors.empty() ? "" : host.errors[0]);
    EXPECT_EQ(mail.OutputNames(), std::vector<std::string>{"00001.txt"});
    EXPECT_FALSE(Contains(Out("00001.txt"), "bottom"));
    ASSERT_EQ(host.rows.size(), 1u);
    EXPECT_TRUE(Contains(host.rows[0], "embedded emails nested too deeply")) << host.rows[0];
    EXPECT_EQ(mail.Subjects(), std::vector<std::string>{"level 40"});
}

// --- Cancel --------------------------------------------------------------

TEST_F(RunTest, ReasonsInRowsAndNotesComeInTheUsersLanguage) {
    // The German file shipped with the program.
    SetStringLoader(std::make_unique<StringLoader>(std::string(std::getenv("QF_SOURCE_DIR")) +
                                                   "/Languages/German.ini"));
    struct Restore {
        ~Restore() { SetStringLoader(nullptr); }
    } restore;
    Mail m;
    m.subject = "Lebenslauf";
    m.parts = {{"a.doc", "CRASH"}, {"b.doc", "NOISE"}};
    mail.Deliver(m);
    Mail inner;
    inner.subject = "innen";
    std::string chain = Render(inner);
    for (int level = 1; level <= 40; ++level) {
        Mail wrapper;
        wrapper.subject = "Ebene " + std::to_string(level);
        wrapper.parts = {{"fwd.eml", chain, "", true}};
        chain = Render(wrapper);
    }
    mail.DeliverRaw(chain);
    Settings s = Plain();
    s.includeAttachments = true;
    ASSERT_EQ(Run(s), RunOutcome::Complete) << (host.errors.empty() ? "" : host.errors[0]);
    ASSERT_EQ(host.rows.size(), 3u);
    EXPECT_EQ(CountOf(host.rows, "(Die Textverarbeitung ist bei der Bearbeitung des Dokuments "
                                 "abgestürzt; sie wurde neu gestartet)"),
              1);
    EXPECT_EQ(CountOf(host.rows, "(Der Text des Dokuments war größtenteils nicht druckbar)"), 1);
    EXPECT_EQ(CountOf(host.rows, "(zu tief verschachtelte eingebettete E-Mails)"), 1);
    // The note written into the email says the same.
    int noted = 0;
    for (const auto& f : mail.Messages()) {
        noted += Contains(MaildirFixture::StoredText(f), "nicht druckbar") ? 1 : 0;
    }
    EXPECT_EQ(noted, 1);

    // Without a word processor the run names the missing package in German.
    word.available = false;
    host.errors.clear();
    EXPECT_EQ(Run(s), RunOutcome::Failed);
    ASSERT_EQ(host.errors.size(), 1u);
    EXPECT_EQ(host.errors[0], "Die Textverarbeitung konnte nicht gestartet werden: not installed");
}

TEST_F(RunTest, CancelBeforeTheLoopWritesNothing) {
    mail.Deliver(Mail{});
    host.cancelled = true;
    Settings s = Plain();
    s.emailsTo = Settings::kTagSubject;
    EXPECT_EQ(Run(s), RunOutcome::Interrupted);
    EXPECT_TRUE(mail.OutputNames().empty());
    EXPECT_EQ(host.statuses.back(), "Interrupted by user. 0 emails processed");
    EXPECT_FALSE(host.nextNumber);
    EXPECT_EQ(mail.Subjects(), std::vector<std::string>{"Application"});
}

TEST_F(RunTest, CancelDuringTheLoopKeepsWhatWasDoneAndHandsBackTheNumber) {
    for (int i = 1; i <= 5; ++i) {
        Mail m;
        m.subject = "Mail " + std::to_string(i);
        m.date = "Tue, 01 Dec 2026 0" + std::to_string(i) + ":00:00 +0000";
        mail.Deliver(m);
    }
    Settings s = Plain();
    s.firstNumber = 100;
    s.emailsTo = Settings::kTagSubject;
    // Cancel once the second email's file is on disk: the next pump is in the
    // third email, which is finished; no fourth one is started.
    host.onPump = [&](FakeHost& h) {
        if (fs::exists(mail.output + "00101.txt")) {
            h.cancelled = true;
        }
    };
    EXPECT_EQ(Run(s), RunOutcome::Interrupted);
    EXPECT_EQ(mail.OutputNames(),
              (std::vector<std::string>{"00100.txt", "00101.txt", "00102.txt"}));
    EXPECT_EQ(host.nextNumber, 103);
    EXPECT_EQ(host.saves, 1);
    EXPECT_EQ(host.statuses.back(), "Interrupted by user. 3 emails processed");
    EXPECT_EQ(mail.Subjects(), (std::vector<std::string>{"*QF* Mail 1", "*QF* Mail 2",
                                                         "*QF* Mail 3", "Mail 4", "Mail 5"}));
}

TEST_F(RunTest, CancelDuringTheAttachmentsFinishesTheEmailInHandOnly) {
    Mail m;
    m.parts = {{"a.txt", "A"}, {"b.txt", "B"}, {"c.txt", "C"}};
    mail.Deliver(m);
    m.subject = "Later";
    m.date = "Wed, 02 Dec 2026 09:00:00 +0000";
    mail.Deliver(m);
    Settings s = Plain();
    s.includeAttachments = true;
    s.emailFooter.clear();
    s.emailsTo = Settings::kTagSubject;
    // The first attachment's copy exists from its handling on: the next pump
    // is the one before the second attachment.
    host.onPump = [&](FakeHost& h) {
        if (fs::exists(mail.output + "detach1_1.TXT")) {
            h.cancelled = true;
        }
    };
    EXPECT_EQ(Run(s), RunOutcome::Interrupted);
    EXPECT_TRUE(Out("00001.txt").ends_with("CV.\n[a.txt]A[end][b.txt]B[end]")) << Out("00001.txt");
    // The temporary attachment copies are gone with the cancel.
    EXPECT_EQ(mail.OutputNames(), std::vector<std::string>{"00001.txt"});
    EXPECT_EQ(host.statuses.back(), "Interrupted by user. 1 emails processed");
    EXPECT_EQ(host.nextNumber, 2);
    // Its output lacks an attachment: the email is not tagged, so the next
    // run takes it again, and the user is told.
    EXPECT_EQ(mail.Subjects(), (std::vector<std::string>{"Application", "Later"}));
    ASSERT_EQ(host.rows.size(), 1u);
    EXPECT_TRUE(Contains(host.rows[0], "was left where it was: the run was cancelled before all "
                                       "its attachments were processed"))
        << host.rows[0];
}

TEST_F(RunTest, AnotherProgramsChangeMeanwhileStaysUnderTheTagAndTheNote) {
    // Two emails whose message another program rewrites while the run is
    // between their attachments: the first gets tagged, the second a note.
    Mail tagged;
    tagged.subject = "Tagged";
    tagged.parts = {{"a.txt", "A"}, {"b.txt", "B"}};
    mail.Deliver(tagged);
    Mail noted;
    noted.subject = "Noted";
    noted.date = "Wed, 02 Dec 2026 09:00:00 +0000";
    noted.parts = {{"a.txt", "A"}, {"all.zip", "PK"}};
    mail.Deliver(noted);

    // Another program's rewrite: the same file name, a new file.
    const auto rewrite = [this](const std::string& subject, const std::string& from,
                                const std::string& to) {
        for (const std::string& file : mail.Messages()) {
            std::string bytes = ReadFileBytes(file);
            if (Contains(bytes, "Subject: " + subject + "\n")) {
                bytes.replace(bytes.find(from), from.size(), to);
                WriteFileAtomic(file, bytes);
            }
        }
    };
    int rewrites = 0;
    host.onPump = [&](FakeHost&) {
        if (rewrites == 0 && fs::exists(mail.output + "detach1_1.TXT")) {
            ++rewrites;
            rewrite("Tagged", "Subject: Tagged", "Subject: Tagged by hand");
        } else if (rewrites == 1 && fs::exists(mail.output + "detach2_1.TXT")) {
            ++rewrites;
            rewrite("Noted", "Dear team,", "Dear whole team,");
        }
    };
    Settings s = Plain();
    s.includeAttachments = true;
    s.emailsTo = Settings::kTagSubject;
    ASSERT_EQ(Run(s), RunOutcome::Complete) << (host.errors.empty() ? "" : host.errors[0]);
    ASSERT_EQ(rewrites, 2);
    EXPECT_EQ(mail.Subjects(), (std::vector<std::string>{"*QF* Tagged by hand", "Noted"}));
    for (const std::string& file : mail.Messages()) {
        const std::string text = MaildirFixture::StoredText(file);
        if (Contains(text, "Noted")) {
            EXPECT_TRUE(Contains(text, "for attachment \"all.zip\" (output file is \"" +
                                           mail.output + "00002.txt\")\r\nDear whole team,"))
                << text;
        }
    }
}

// --- Failures ------------------------------------------------------------

TEST_F(RunTest, AFailureAfterAnEmailsFileWasWrittenStillCountsItsNumber) {
    mail.Deliver(Mail{});
    mail.Deliver(Mail{});
    // Tagging writes the changed message through tmp/ first: with a file in
    // its place the batch's first tag fails after both output files are on
    // disk.
    fs::remove_all(mail.root + "/tmp");
    WriteFileAtomic(mail.root + "/tmp", "not a folder");
    Settings s = Plain();
    s.emailsTo = Settings::kTagSubject;
    EXPECT_EQ(Run(s), RunOutcome::Failed);
    ASSERT_EQ(host.errors.size(), 1u);
    EXPECT_EQ(mail.OutputNames(), (std::vector<std::string>{"00001.txt", "00002.txt"}));
    EXPECT_EQ(host.nextNumber, 3);
    EXPECT_EQ(host.saves, 1);
    EXPECT_EQ(mail.Subjects(), (std::vector<std::string>{"Application", "Application"}));
}

TEST_F(RunTest, ANameUsedTwiceLeavesThatEmailInPlaceAndTheRunGoesOn) {
    const char* subjects[] = {"Same", "Same", "Other"};
    for (int i = 0; i < 3; ++i) {
        Mail m;
        m.subject = subjects[i];
        m.date = "Tue, 01 Dec 2026 0" + std::to_string(i + 1) + ":00:00 +0000";
        mail.Deliver(m);
    }
    Settings s = Plain();
    s.fileNameFormat = "%SUBJECT.txt";
    s.emailsTo = Settings::kTagSubject;
    ASSERT_EQ(Run(s), RunOutcome::Complete) << (host.errors.empty() ? "" : host.errors[0]);
    EXPECT_TRUE(host.errors.empty());
    // The first email's text is kept, the second is left untagged for a
    // later run and listed, the third is done as usual.
    EXPECT_EQ(mail.OutputNames(), (std::vector<std::string>{"Other.txt", "Same.txt"}));
    EXPECT_TRUE(Contains(Out("Same.txt"), "Subject: Same\r\n\r\nDear team"));
    EXPECT_EQ(mail.Subjects(), (std::vector<std::string>{"*QF* Other", "*QF* Same", "Same"}));
    ASSERT_EQ(host.rows.size(), 1u);
    EXPECT_TRUE(Contains(host.rows[0], "Email with subject \"Same\" was left where it was: its "
                                       "output file " +
                                           mail.output + "Same.txt was already written"))
        << host.rows[0];
    // Only the emails written took a number.
    EXPECT_EQ(written.size(), 2u);
    EXPECT_EQ(host.nextNumber, 3);
}

TEST_F(RunTest, ARunThatFailsLeavesNoTemporaryAttachmentCopies) {
    Mail first;
    first.parts = {{"a.txt", "A"}, {"cv.doc", "doc bytes"}};
    mail.Deliver(first);
    Mail tooLong;
    tooLong.subject = std::string(300, 'x'); // fails the run after the first email
    tooLong.date = "Wed, 02 Dec 2026 09:00:00 +0000";
    mail.Deliver(tooLong);
    Settings s = Plain();
    s.includeAttachments = true;
    s.fileNameFormat = "%SUBJECT-%d.txt";
    EXPECT_EQ(Run(s), RunOutcome::Failed);
    EXPECT_EQ(mail.OutputNames(), std::vector<std::string>{"Application-1.txt"});
}

TEST_F(RunTest, ARunThatFailsStillShowsItsErrorWhenTheNumberCannotBeSaved) {
    mail.Deliver(Mail{});
    Mail tooLong;
    tooLong.subject = std::string(300, 'x'); // the second email fails the run
    tooLong.date = "Wed, 02 Dec 2026 09:00:00 +0000";
    mail.Deliver(tooLong);
    Settings s = Plain();
    s.fileNameFormat = "%SUBJECT-%d.txt";
    host.saveError = "Cannot create file /read-only/job.qfo";
    EXPECT_EQ(Run(s), RunOutcome::Failed);
    ASSERT_EQ(host.errors.size(), 1u);
    EXPECT_TRUE(Contains(host.errors[0], "longer than the file system allows"));
    ASSERT_EQ(host.warnings.size(), 1u);
    EXPECT_EQ(host.warnings[0], "Cannot create file /read-only/job.qfo");
    EXPECT_EQ(host.nextNumber, 2);

    // A complete run stays complete: the emails are done.
    host = FakeHost();
    host.saveError = "Cannot create file /read-only/job.qfo";
    s.fileNameFormat = "%d-again.txt";
    EXPECT_EQ(Run(s), RunOutcome::Complete);
    EXPECT_EQ(host.warnings.size(), 1u);
    EXPECT_TRUE(host.errors.empty());
}

TEST_F(RunTest, FailuresEndTheRunWithAClearErrorAndKeepWhatWasDone) {
    struct Case {
        std::string name;
        std::function<void(MaildirFixture&, Settings&)> prepare;
        std::string error; // a piece of the error shown
        int filesBefore;   // files written before the failure
    } cases[] = {
        {"output folder removed after the checks",
         [](MaildirFixture& b, Settings&) { fs::remove_all(b.output); }, "", 0},
        {"format that does not take one number",
         [](MaildirFixture&, Settings& s) { s.fileNameFormat = "%s.txt"; }, "%s.txt", 0},
        {"source folder gone",
         [](MaildirFixture& b, Settings& s) {
             b.MakeFolder("Gone");
             s.emailsFrom = Settings::kFromFolder;
             s.messageSource = "Gone";
             s.sourceFolder = b.FindFolder("Gone");
             fs::remove_all(b.FolderPath("Gone"));
         },
         "The source folder Gone could not be found", 0},
        {"destination folder gone",
         [](MaildirFixture& b, Settings& s) {
             b.MakeFolder("Done");
             s.emailsTo = Settings::kMoveEmails;
             s.messageDestination = "Done";
             s.destinationFolder = b.FindFolder("Done");
             fs::remove_all(b.FolderPath("Done"));
         },
         "The destination folder Done could not be found", 0},
        {"a name too long for the file system on the third email",
         [](MaildirFixture&, Settings& s) { s.fileNameFormat = "%SUBJECT-%d.txt"; }, "", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MaildirFixture box;
        for (int i = 1; i <= 3; ++i) {
            Mail m;
            m.subject = i == 3 ? std::string(300, 'x') : "Mail " + std::to_string(i);
            m.date = "Tue, 01 Dec 2026 0" + std::to_string(i) + ":00:00 +0000";
            box.Deliver(m);
        }
        Settings s = box.settings();
        s.emailsTo = Settings::kTagSubject;
        c.prepare(box, s);
        FakeHost h;
        MapiSession session;
        ExtractionRun run(s, h, RunServices{session, nullptr, {}, nullptr});
        run.Execute();
        EXPECT_EQ(run.Outcome(), RunOutcome::Failed);
        ASSERT_EQ(h.errors.size(), 1u);
        EXPECT_TRUE(Contains(h.errors[0], c.error)) << h.errors[0];
        EXPECT_EQ(static_cast<int>(run.FilesWritten().size()), c.filesBefore);
        if (c.filesBefore > 0) {
            // The emails done keep their tags, the next run starts after them.
            EXPECT_EQ(h.nextNumber, 1 + c.filesBefore);
            EXPECT_EQ(h.saves, 1);
            EXPECT_EQ(box.Subjects()[0], "*QF* Mail 1");
        } else {
            EXPECT_FALSE(h.nextNumber);
        }
        EXPECT_EQ(CountOf(box.Subjects(), "*QF*"), c.filesBefore);
    }
}

TEST_F(RunTest, TheLastFileNumberIsRefusedNotWrapped) {
    mail.Deliver(Mail{});
    mail.Deliver(Mail{});
    Settings s = Plain();
    s.firstNumber = 2147483646;
    s.fileNameFormat = "%d.txt";
    EXPECT_EQ(Run(s), RunOutcome::Failed);
    EXPECT_EQ(mail.OutputNames(), std::vector<std::string>{"2147483646.txt"});
    EXPECT_EQ(host.nextNumber, 2147483647);
    ASSERT_EQ(host.errors.size(), 1u);
}

// --- The filter tool -----------------------------------------------------

TEST_F(RunTest, TheFilterToolGetsTheListOfFilesWritten) {
    const std::string tool = mail.temp.path() + "Siftloom Pro/";
    fs::create_directories(tool);
    const std::string log = mail.temp.path() + "tool.log";
    WriteFileAtomic(tool + "siftloom.exe", "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\" "
                                           ">> '" +
                                               log + "'; done\ncat '" + mail.output +
                                               "filelist$.txt' >> '" + log + "'\n");
    fs::permissions(tool + "siftloom.exe", fs::perms::owner_all);
    registry::FileRegistry reg(mail.registryPath);
    reg.CreateKey(kFilterToolKey);
    reg.SetValue(kFilterToolKey, "rootDir", registry::Value::String(tool));
    registry = &reg;

    mail.Deliver(Mail{});
    mail.Deliver(Mail{});
    Settings s = Plain();
    s.filterFilename = "\"/filters/jobs.sfl\"";
    ASSERT_EQ(Run(s), RunOutcome::Complete);
    EXPECT_TRUE(host.warnings.empty()) << host.warnings[0];
    EXPECT_EQ(ReadFileBytes(log), "/MINIMIZED\n/f=/filters/jobs.sfl\n/L=" + mail.output +
                                      "filelist$.txt\n/deletelistfile\n/g\n/q\n" + mail.output +
                                      "00001.txt\r\n" + mail.output + "00002.txt\r\n");
    EXPECT_EQ(host.statuses.back(), "Complete. 2 emails processed");

    // A tool that cannot start is named in a warning; the run still completes.
    fs::remove(tool + "siftloom.exe");
    host.warnings.clear();
    host.statuses.clear();
    ASSERT_EQ(Run(s), RunOutcome::Complete);
    ASSERT_EQ(host.warnings.size(), 1u);
    EXPECT_TRUE(Contains(host.warnings[0], tool + "siftloom.exe")) << host.warnings[0];
}

// --- The run's report -------------------------------------------------------

// An attachment line of the report, for comparing whole lists at once.
std::vector<std::string> AttachmentLines(const EmailRecord& email) {
    std::vector<std::string> lines;
    for (const AttachmentRecord& a : email.attachments) {
        lines.push_back(a.name + ": " + OutcomeWords(a.outcome) +
                        (a.copy.empty() ? "" : " (" + a.copy + ")"));
    }
    return lines;
}

Mail Dated(const std::string& subject, int hour, std::vector<Part> parts = {}) {
    Mail m;
    m.subject = subject;
    m.date = "Tue, 01 Dec 2026 0" + std::to_string(hour) + ":00:00 +0000";
    m.received = "Tue, 01 Dec 2026 1" + std::to_string(hour) + ":30:00 +0000";
    m.parts = std::move(parts);
    return m;
}

TEST_F(RunTest, TheReportHasARowPerEmailHandledWithWhatBecameOfItAndEachAttachment) {
    Mail inner;
    inner.subject = "Inner";
    inner.parts = {{"inner.txt", "inner text"}, {"inner.zip", "PK"}};
    mail.Deliver(Dated("*QF* Done before", 0));
    mail.Deliver(Dated("Good", 1, {{"cv.doc", "My CV"}, {"photo.gif", "GIF"}, {"notes.txt", "n"}}));
    mail.Deliver(Dated("Locked", 2, {{"secret.docx", "PASSWORD protected"}}));
    mail.Deliver(Dated("Saved, \"quoted\"", 3, {{"cv.pdf", "%PDF"}}));
    mail.Deliver(Dated("FW: Inner", 4, {{"forward.eml", Render(inner), "", true}}));
    Mail sender = Dated("Bob", 5);
    sender.from = "Bob Builder <bob@example.net>";
    mail.Deliver(sender);

    Settings s = Plain();
    s.includeAttachments = true;
    s.extensions.push_back(".docx");
    s.extensionActions.push_back("1");
    s.extensionActions[13] = "5"; // .pdf: saved for manual handling
    s.emailsTo = Settings::kTagSubject;
    s.readStatus = true;
    ASSERT_EQ(Run(s), RunOutcome::Complete) << (host.errors.empty() ? "" : host.errors[0]);

    // The email tagged by an earlier run is not handled and has no row.
    const std::vector<EmailRecord>& rows = report.Emails();
    ASSERT_EQ(rows.size(), 5u);
    for (const EmailRecord& row : rows) {
        SCOPED_TRACE(row.subject);
        EXPECT_TRUE(row.markedRead);
        EXPECT_EQ(row.sender, row.subject == "Bob" ? "bob@example.net" : "ann@example.org");
    }

    EXPECT_EQ(rows[0].subject, "Good");
    EXPECT_EQ(rows[0].outputFile, mail.output + "00001.txt");
    ASSERT_TRUE(rows[0].delivered);
    EXPECT_EQ(IsoDateTime(*rows[0].delivered, 0), "2026-12-01T11:30:00+00:00");
    EXPECT_EQ(rows[0].disposition, Disposition::Tagged);
    EXPECT_EQ(AttachmentLines(rows[0]),
              (std::vector<std::string>{"cv.doc: converted to text", "photo.gif: ignored",
                                        "notes.txt: included as text"}));
    EXPECT_TRUE(rows[0].exceptions.empty());

    // A document that needs a password: no text, the exception row, and the
    // email stays where it was.
    EXPECT_EQ(rows[1].subject, "Locked");
    EXPECT_EQ(rows[1].outputFile, mail.output + "00002.txt");
    EXPECT_EQ(rows[1].disposition, Disposition::NotDisposed);
    EXPECT_EQ(AttachmentLines(rows[1]), std::vector<std::string>{"secret.docx: not converted"});
    EXPECT_EQ(rows[1].exceptions,
              std::vector<std::string>{"Email with subject \"Locked\" requires manual "
                                       "intervention (Invalid password) for attachment "
                                       "\"secret.docx\" (output file is \"" +
                                       mail.output + "00002.txt\")"});

    EXPECT_EQ(rows[2].subject, "Saved, \"quoted\"");
    EXPECT_EQ(rows[2].disposition, Disposition::Tagged);
    EXPECT_EQ(AttachmentLines(rows[2]),
              std::vector<std::string>{"cv.pdf: saved for manual handling (" + mail.manual +
                                       "ann@example.org_3_1.PDF)"});

    // Attachments of an embedded email are named inside it (the embedded
    // email itself is named by its subject); its .zip needs a person, which
    // holds back the email that carries it.
    EXPECT_EQ(rows[3].subject, "FW: Inner");
    EXPECT_EQ(rows[3].disposition, Disposition::NotDisposed);
    EXPECT_EQ(AttachmentLines(rows[3]),
              (std::vector<std::string>{"Inner.txt: included as text",
                                        "Inner.txt / inner.txt: included as text",
                                        "Inner.txt / inner.zip: flagged for manual handling"}));
    ASSERT_EQ(rows[3].exceptions.size(), 1u);
    EXPECT_TRUE(Contains(rows[3].exceptions[0], "for attachment \"inner.zip\""));

    EXPECT_EQ(rows[4].outputFile, mail.output + "00005.txt");
    EXPECT_TRUE(rows[4].attachments.empty());
    EXPECT_EQ(rows[4].disposition, Disposition::Tagged);

    // The rows hold exactly what the exception list showed, in order.
    std::vector<std::string> all;
    for (const EmailRecord& row : rows) {
        all.insert(all.end(), row.exceptions.begin(), row.exceptions.end());
    }
    EXPECT_EQ(all, host.rows);
    EXPECT_EQ(report.Ending(), RunEnding::Complete);
    EXPECT_EQ(report.EndingMessage(), "Complete. 6 emails processed");

    // The file: a header, one record per row, the run's record last.
    const std::string csv = report.ToCsv(0);
    EXPECT_TRUE(csv.starts_with("Record,Output file,Sender,Subject,Delivered,Disposition,"
                                "Marked read,Attachments,Exceptions\r\n"
                                "email," +
                                mail.output +
                                "00001.txt,ann@example.org,Good,2026-12-01T11:30:00+00:00,"
                                "tagged,yes,\"cv.doc: converted to text\nphoto.gif: ignored\n"
                                "notes.txt: included as text\",\r\n"))
        << csv;
    EXPECT_TRUE(Contains(csv, ",\"Saved, \"\"quoted\"\"\",")) << csv;
    EXPECT_TRUE(Contains(csv, "\r\nrun,,,,")) << csv;
    EXPECT_TRUE(csv.ends_with(",complete,,,Complete. 6 emails processed\r\n")) << csv;
}

TEST_F(RunTest, LeftEmailsAreLeftUnlessTheirOutputLacksAttachments) {
    mail.Deliver(Dated("First", 1, {{"a.txt", "A"}, {"b.txt", "B"}, {"c.txt", "C"}}));
    mail.Deliver(Dated("Second", 2));
    Settings s = Plain();
    s.includeAttachments = true;
    ASSERT_EQ(Run(s), RunOutcome::Complete);
    ASSERT_EQ(report.Emails().size(), 2u);
    EXPECT_EQ(report.Emails()[0].disposition, Disposition::Left);
    EXPECT_FALSE(report.Emails()[0].markedRead);

    // Cancelled before its last attachment: the output is incomplete.
    host.onPump = [&](FakeHost& h) {
        if (fs::exists(mail.output + "detach3_1.TXT")) {
            h.cancelled = true;
        }
    };
    s.firstNumber = 3;
    EXPECT_EQ(Run(s), RunOutcome::Interrupted);
    ASSERT_EQ(report.Emails().size(), 1u);
    EXPECT_EQ(report.Emails()[0].disposition, Disposition::NotDisposed);
    EXPECT_EQ(AttachmentLines(report.Emails()[0]),
              (std::vector<std::string>{"a.txt: included as text", "b.txt: included as text"}));
}

TEST_F(RunTest, ACancelledRunsReportEndsWithTheCancelAndTheEmailsDone) {
    for (int i = 1; i <= 4; ++i) {
        mail.Deliver(Dated("Mail " + std::to_string(i), i));
    }
    Settings s = Plain();
    s.emailsTo = Settings::kTagSubject;
    host.onPump = [&](FakeHost& h) {
        if (fs::exists(mail.output + "00002.txt")) {
            h.cancelled = true;
        }
    };
    EXPECT_EQ(Run(s), RunOutcome::Interrupted);
    ASSERT_EQ(report.Emails().size(), 3u);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const EmailRecord& row = report.Emails()[static_cast<size_t>(i)];
        EXPECT_EQ(row.subject, "Mail " + std::to_string(i + 1));
        EXPECT_EQ(row.outputFile, mail.output + "0000" + std::to_string(i + 1) + ".txt");
        EXPECT_EQ(row.disposition, Disposition::Tagged);
        EXPECT_FALSE(row.markedRead);
    }
    EXPECT_EQ(report.Ending(), RunEnding::Cancelled);
    EXPECT_EQ(report.EndingMessage(), "Interrupted by user. 3 emails processed");
    EXPECT_TRUE(report.ToCsv(0).ends_with(",cancelled,,,Interrupted by user. 3 emails "
                                          "processed\r\n"));
}

TEST_F(RunTest, AFailedRunsReportKeepsTheEmailInHandAndTheError) {
    const std::string tooLong(300, 'x');
    mail.Deliver(Dated("First", 1));
    mail.Deliver(Dated(tooLong, 2));
    Settings s = Plain();
    s.fileNameFormat = "%SUBJECT-%d.txt"; // the second email's name fails the run
    s.emailsTo = Settings::kTagSubject;
    EXPECT_EQ(Run(s), RunOutcome::Failed);
    ASSERT_EQ(host.errors.size(), 1u);
    ASSERT_EQ(report.Emails().size(), 2u);
    EXPECT_EQ(report.Emails()[0].disposition, Disposition::Tagged);
    // The email the run failed on: no output file, not disposed.
    EXPECT_EQ(report.Emails()[1].subject, tooLong);
    EXPECT_EQ(report.Emails()[1].outputFile, "");
    EXPECT_EQ(report.Emails()[1].disposition, Disposition::NotDisposed);
    EXPECT_EQ(report.Ending(), RunEnding::Failed);
    EXPECT_EQ(report.EndingMessage(), host.errors[0]);

    // A failure before the first email: no rows, and why.
    fs::remove_all(mail.root);
    EXPECT_EQ(Run(Plain()), RunOutcome::Failed);
    EXPECT_TRUE(report.Emails().empty());
    EXPECT_EQ(report.Ending(), RunEnding::Failed);
    EXPECT_FALSE(report.EndingMessage().empty());
}

} // namespace
} // namespace qf::testing
