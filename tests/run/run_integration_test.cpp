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
#include "run/extraction_run.h"
#include "support/fake_word_processor.h"
#include "support/maildir_fixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iconv.h>
#include <sys/stat.h>

namespace qf::testing {
namespace {

namespace fs = std::filesystem;

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
    ASSERT_EQ(Run(s), RunOutcome::Complete);
    ASSERT_EQ(host.rows.size(), 1u);
    EXPECT_TRUE(Contains(host.rows[0], "for attachment \"all.zip\"")) << host.rows[0];
    EXPECT_EQ(mail.Subjects(), std::vector<std::string>{"Outer"});
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
    EXPECT_FALSE(fs::exists(mail.output + "00002.txt"));
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

TEST_F(RunTest, AFormatWithoutANumberNeverOverwritesAnEarlierEmailsText) {
    Mail first;
    first.subject = "First";
    mail.Deliver(first);
    Mail second;
    second.subject = "Second";
    second.date = "Wed, 02 Dec 2026 09:00:00 +0000";
    mail.Deliver(second);
    Settings s = Plain();
    s.fileNameFormat = "resume.txt";
    s.emailsTo = Settings::kTagSubject;
    EXPECT_EQ(Run(s), RunOutcome::Failed);
    ASSERT_EQ(host.errors.size(), 1u);
    EXPECT_TRUE(Contains(host.errors[0], "was already written for another email of this run"))
        << host.errors[0];
    EXPECT_TRUE(Contains(Out("resume.txt"), "Subject: First"));
    EXPECT_EQ(mail.Subjects(), (std::vector<std::string>{"*QF* First", "Second"}));
}

TEST_F(RunTest, ARunThatFailsStillShowsItsErrorWhenTheNumberCannotBeSaved) {
    mail.Deliver(Mail{});
    mail.Deliver(Mail{});
    Settings s = Plain();
    s.fileNameFormat = "same.txt"; // the second email fails the run
    host.saveError = "Cannot create file /read-only/job.qfo";
    EXPECT_EQ(Run(s), RunOutcome::Failed);
    ASSERT_EQ(host.errors.size(), 1u);
    EXPECT_TRUE(Contains(host.errors[0], "was already written"));
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

} // namespace
} // namespace qf::testing
