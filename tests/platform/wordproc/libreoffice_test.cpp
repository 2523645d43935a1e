// Conversions through a real LibreOffice: one started instance per test
// process, fixture documents made by it.
#include "office_fixture.h"
#include "platform/wordproc/office_process.h"

#include <chrono>
#include <csignal>
#include <fstream>
#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sstream>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qf::wordproc::testing {
namespace {

using ::testing::HasSubstr;
using Clock = std::chrono::steady_clock;

Failure FailureOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const WordProcessorError& e) {
        return e.failure();
    }
    ADD_FAILURE() << "no error";
    return Failure::NotAvailable;
}

class LibreOfficeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        office_ = new LibreOffice(TestOptions(dir_->path()));
        ASSERT_TRUE(office_->Connect());
        docs_ = new std::map<std::string, fs::path>(MakeDocuments(*office_, dir_->path()));
    }
    static void TearDownTestSuite() {
        delete office_;
        delete docs_;
        delete dir_;
    }

    static std::string Convert(WordProcessor& wp, const fs::path& path) {
        DocumentId doc = wp.Open(path.string(), "tqmzv", "tqmzv");
        std::string text = wp.WholeText(doc);
        wp.Close(doc);
        return text;
    }

    static TempDir* dir_;
    static LibreOffice* office_;
    static std::map<std::string, fs::path>* docs_;
};

TempDir* LibreOfficeTest::dir_ = nullptr;
LibreOffice* LibreOfficeTest::office_ = nullptr;
std::map<std::string, fs::path>* LibreOfficeTest::docs_ = nullptr;

TEST_F(LibreOfficeTest, EachFormatGivesItsTextWithTableCells) {
    for (const char* kind : {"html", "odt", "doc", "docx", "rtf"}) {
        SCOPED_TRACE(kind);
        std::string text = Convert(*office_, docs_->at(kind));
        EXPECT_THAT(text, HasSubstr(kBodyWords));
        EXPECT_THAT(text, HasSubstr(kCellWords));
    }
    EXPECT_FALSE(HasLockFiles(dir_->path()));
}

TEST_F(LibreOfficeTest, PasswordProtectedDocumentsFailToOpenQuickly) {
    for (const char* kind : {"odt-password", "doc-password", "docx-password"}) {
        SCOPED_TRACE(kind);
        auto start = Clock::now();
        try {
            office_->Open(docs_->at(kind).string(), "tqmzv", "tqmzv");
            ADD_FAILURE() << "opened a document protected by another password";
        } catch (const WordProcessorError& e) {
            EXPECT_EQ(e.failure(), Failure::CannotOpen) << e.what();
        }
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
    }
    // The instance is still the one it was: a wrong password is no crash.
    EXPECT_EQ(office_->Restarts(), 0);
    EXPECT_THAT(Convert(*office_, docs_->at("odt")), HasSubstr(kBodyWords));
}

TEST_F(LibreOfficeTest, RunsAnExistingMacroWithTheDocumentAndReportsAMissingOne) {
    fs::path marker = dir_->path() / "macro-ran.txt";
    office_->InstallBasicModule("Standard", "QfTest",
                                "Sub WriteUrl(doc)\n"
                                "  Dim n As Integer\n"
                                "  n = FreeFile()\n"
                                "  Open \"" +
                                    marker.string() +
                                    "\" For Output As #n\n"
                                    "  Print #n, doc.getURL()\n"
                                    "  Close #n\n"
                                    "End Sub\n");
    for (const char* name : {"WriteUrl", "QfTest.WriteUrl", "Standard.QfTest.writeurl"}) {
        SCOPED_TRACE(name);
        fs::remove(marker);
        DocumentId doc = office_->Open(docs_->at("docx").string(), "tqmzv", "tqmzv");
        office_->RunMacro(doc, name);
        std::ifstream in(marker);
        std::string line;
        std::getline(in, line);
        EXPECT_THAT(line, HasSubstr("cv.docx"));
        EXPECT_THAT(office_->WholeText(doc), HasSubstr(kBodyWords));
        office_->Close(doc);
    }

    DocumentId doc = office_->Open(docs_->at("doc").string(), "tqmzv", "tqmzv");
    for (const char* name :
         {"NoSuchMacro", "QfTest.NoSuchMacro", "Nowhere.QfTest.WriteUrl", "a.b.c.d", ".."}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(FailureOf([&] { office_->RunMacro(doc, name); }), Failure::MacroMissing);
    }
    // A Basic runtime error ends the macro, not the conversion.
    office_->InstallBasicModule("Standard", "QfFail",
                                "Sub Boom(doc)\n  doc.noSuchMethod()\nEnd Sub\n");
    office_->RunMacro(doc, "Boom");
    EXPECT_THAT(office_->WholeText(doc), HasSubstr(kBodyWords));
    office_->Close(doc);
}

TEST_F(LibreOfficeTest, DamagedFilesFailAndTheNextDocumentWorks) {
    std::string docx;
    {
        std::ifstream in(docs_->at("docx"), std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        docx = s.str();
    }
    struct Case {
        const char* name;
        std::string bytes;
        Failure failure;
    };
    std::string noise;
    for (int i = 0; i < 4096; ++i) {
        noise += static_cast<char>((i * 7919 + 13) % 251);
    }
    const Case cases[] = {
        {"truncated.docx", docx.substr(0, docx.size() / 2), Failure::CannotOpen},
        {"noise.doc", noise, Failure::WrongFormat},
        {"noise.docx", noise, Failure::WrongFormat},
        {"empty.odt", "", Failure::WrongFormat},
        {"photo.rtf", "\xFF\xD8\xFF\xE0JFIF" + noise, Failure::WrongFormat},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::path p = dir_->path() / c.name;
        WriteFile(p, c.bytes);
        EXPECT_EQ(FailureOf([&] { office_->Open(p.string(), "tqmzv", "tqmzv"); }), c.failure);
    }
    EXPECT_THAT(Convert(*office_, docs_->at("rtf")), HasSubstr(kBodyWords));
}

TEST_F(LibreOfficeTest, DocumentsWithTheWrongExtensionAreReadInTheirRealFormat) {
    // As applicants send them: a .docx saved as .doc, a .doc named .rtf, an
    // RTF named .doc, an OpenDocument named .docx, HTML named .doc.
    const std::pair<const char*, const char*> renamed[] = {
        {"docx", "cv-really-docx.doc"}, {"doc", "cv-really-doc.rtf"},
        {"rtf", "cv-really-rtf.doc"},   {"odt", "cv-really-odt.docx"},
        {"html", "cv-really-html.doc"},
    };
    for (const auto& [kind, name] : renamed) {
        SCOPED_TRACE(name);
        const fs::path copy = dir_->path() / name;
        fs::copy_file(docs_->at(kind), copy, fs::copy_options::overwrite_existing);
        std::string text;
        ASSERT_NO_THROW(text = Convert(*office_, copy));
        EXPECT_THAT(text, HasSubstr(kBodyWords));
        EXPECT_THAT(text, HasSubstr(kCellWords));
    }
    EXPECT_FALSE(HasLockFiles(dir_->path()));
}

// A listening socket on 127.0.0.1 that counts the connections made to it.
class Listener {
public:
    Listener() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd_, 8);
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~Listener() { ::close(fd_); }
    int port() const { return port_; }
    int Connections() {
        int n = 0;
        for (int c; (c = ::accept(fd_, nullptr, nullptr)) >= 0; ++n) {
            ::close(c);
        }
        return n;
    }

private:
    int fd_ = -1;
    int port_ = 0;
};

TEST_F(LibreOfficeTest, DocumentsFetchNoExternalContentAndRunNoMacrosOfTheirOwn) {
    if (!office_->NetworkIsolated()) {
        GTEST_SKIP() << "this system gives no network namespace to unprivileged processes";
    }
    Listener server;
    std::string url = "http://127.0.0.1:" + std::to_string(server.port());
    fs::path marker = dir_->path() / "document-macro-ran.txt";
    fs::path page = dir_->path() / "linked.html";
    WriteFile(page, "<html><head><meta charset=\"utf-8\">"
                    "<link rel=\"stylesheet\" href=\"" +
                        url +
                        "/style.css\">"
                        "<script type=\"text/x-basic\">Sub Main\nOpen \"" +
                        marker.string() +
                        "\" For Output As #1\nClose #1\nEnd Sub</script></head>"
                        "<body onload=\"Main\"><p>Linked words</p><img src=\"" +
                        url +
                        "/photo.png\" width=\"10\" height=\"10\">"
                        "<iframe src=\"" +
                        url + "/frame.html\"></iframe></body></html>\n");
    DocumentId doc = office_->Open(page.string(), "tqmzv", "tqmzv");
    EXPECT_THAT(office_->WholeText(doc), HasSubstr("Linked words"));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    office_->Close(doc);
    EXPECT_EQ(server.Connections(), 0);
    EXPECT_FALSE(fs::exists(marker));
}

TEST_F(LibreOfficeTest, StepsLibreOfficeHasNoStateForAreUnsupported) {
    DocumentId doc = office_->Open(docs_->at("doc").string(), "tqmzv", "tqmzv");
    EXPECT_EQ(office_->ClearMailMerge(doc), StepOutcome::Unsupported);
    EXPECT_EQ(office_->Unprotect(doc, "wrpkl"), StepOutcome::Unsupported);
    office_->Close(doc);
    // A closed document is not reached again.
    EXPECT_THROW(office_->WholeText(doc), WordProcessorError);
}

TEST(LibreOfficeInstance, AStartedInstanceIsGoneAfterQuitAndAfterDestruction) {
    TempDir dir;
    pid_t group = -1;
    {
        LibreOffice office(TestOptions(dir.path()));
        EXPECT_TRUE(office.Connect());
        EXPECT_TRUE(office.Started());
        group = office.OfficeProcessGroup();
        ASSERT_GT(group, 0);
        EXPECT_TRUE(ProcessGroupAlive(group));
        office.Quit();
        EXPECT_FALSE(ProcessGroupAlive(group));
        EXPECT_FALSE(office.Started());
        // Its private profile went with it.
        EXPECT_TRUE(fs::is_empty(dir.path() / "profiles"));
        // Connecting again starts a new one; the destructor stops it.
        EXPECT_TRUE(office.Connect());
        group = office.OfficeProcessGroup();
        EXPECT_TRUE(ProcessGroupAlive(group));
    }
    EXPECT_FALSE(ProcessGroupAlive(group));
}

TEST(LibreOfficeInstance, ARunningInstanceIsUsedAndLeftRunningWithItsDocuments) {
    TempDir dir;
    std::string pipe = "qf-test-user-" + std::to_string(::getpid());
    fs::create_directories(dir.path() / "user-profile");
    // The user's own instance, started outside the binding.
    OfficeProcess user({"soffice", "--headless", "--invisible", "--norestore", "--nologo",
                        "-env:UserInstallation=file://" + (dir.path() / "user-profile").string(),
                        "--accept=pipe,name=" + pipe + ";urp;StarOffice.ComponentContext"},
                       (dir.path() / "user.log").string());
    LibreOfficeOptions options = TestOptions(dir.path());
    options.pipeName = pipe;

    // Wait for it the way the binding would: attach once it answers.
    LibreOffice own(TestOptions(dir.path()));
    own.Connect();
    auto docs = MakeDocuments(own, dir.path());
    own.Quit();

    auto until = Clock::now() + std::chrono::seconds(60);
    std::unique_ptr<LibreOffice> usersView;
    for (;;) {
        LibreOfficeOptions probe = options;
        probe.program = "/nonexistent/soffice"; // never start one here
        usersView = std::make_unique<LibreOffice>(probe);
        try {
            EXPECT_FALSE(usersView->Connect());
            break;
        } catch (const WordProcessorError&) {
            ASSERT_LT(Clock::now(), until) << "the user's instance did not start";
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
    }
    // The user has a document open in it.
    DocumentId usersDoc = usersView->Open(docs.at("odt").string(), "", "");

    {
        LibreOffice run(options);
        EXPECT_FALSE(run.Connect());
        EXPECT_FALSE(run.Started());
        EXPECT_EQ(run.OfficeProcessGroup(), -1);
        for (const char* kind : {"doc", "docx"}) {
            DocumentId doc = run.Open(docs.at(kind).string(), "tqmzv", "tqmzv");
            EXPECT_THAT(run.WholeText(doc), HasSubstr(kBodyWords));
            run.Close(doc);
        }
        // The same file the user has open is not taken over and closed.
        EXPECT_EQ(FailureOf([&] { run.Open(docs.at("odt").string(), "tqmzv", "tqmzv"); }),
                  Failure::AlreadyOpen);
        run.Quit();
    }
    EXPECT_TRUE(user.Running());
    // The user's document is still open.
    EXPECT_THAT(usersView->WholeText(usersDoc), HasSubstr(kBodyWords));
    usersView->Close(usersDoc);
    usersView.reset();
    EXPECT_TRUE(user.Running());
    user.KillAndWait();
    fs::remove("/tmp/OSL_PIPE_" + std::to_string(::getuid()) + "_" + pipe);
}

TEST(LibreOfficeInstance, AStartedInstanceRunsTheUsersOwnMacros) {
    TempDir dir;
    // The user's macros as LibreOffice keeps them in its profile.
    fs::path basic = dir.path() / "user-basic";
    fs::create_directories(basic / "Standard");
    const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    const std::string libraries =
        head + "<library:libraries xmlns:library=\"http://openoffice.org/2000/library\" "
               "xmlns:xlink=\"http://www.w3.org/1999/xlink\">\n"
               " <library:library library:name=\"Standard\" library:link=\"false\"/>\n"
               "</library:libraries>\n";
    WriteFile(basic / "script.xlc", libraries);
    WriteFile(basic / "dialog.xlc", libraries);
    WriteFile(basic / "Standard" / "script.xlb",
              head + "<library:library xmlns:library=\"http://openoffice.org/2000/library\" "
                     "library:name=\"Standard\" library:readonly=\"false\" "
                     "library:passwordprotected=\"false\">\n"
                     " <library:element library:name=\"Cleanup\"/>\n</library:library>\n");
    WriteFile(basic / "Standard" / "dialog.xlb",
              head + "<library:library xmlns:library=\"http://openoffice.org/2000/library\" "
                     "library:name=\"Standard\" library:readonly=\"false\" "
                     "library:passwordprotected=\"false\"/>\n");
    fs::path marker = dir.path() / "user-macro-ran.txt";
    WriteFile(basic / "Standard" / "Cleanup.xba",
              head +
                  "<script:module xmlns:script=\"http://openoffice.org/2000/script\" "
                  "script:name=\"Cleanup\" script:language=\"StarBasic\">"
                  "Sub TidyCv(doc)\n  Open &quot;" +
                  marker.string() +
                  "&quot; For Output As #1\n  Print #1, &quot;ran&quot;\n  Close #1\n"
                  "End Sub\n</script:module>\n");

    LibreOfficeOptions options = TestOptions(dir.path());
    options.userMacros = basic.string();
    LibreOffice office(options);
    ASSERT_TRUE(office.Connect());
    fs::path page = dir.path() / "page.html";
    WriteFile(page, "<html><body><p>Short page</p></body></html>\n");
    DocumentId doc = office.Open(page.string(), "tqmzv", "tqmzv");
    office.RunMacro(doc, "TidyCv");
    office.Close(doc);
    EXPECT_TRUE(fs::exists(marker));
    // The user's own folder is only read.
    EXPECT_EQ(std::distance(fs::directory_iterator(basic / "Standard"), fs::directory_iterator()),
              3);
}

TEST(LibreOfficeInstance, MissingLibreOfficeNamesThePackage) {
    TempDir dir;
    LibreOfficeOptions options = TestOptions(dir.path());
    options.program = (dir.path() / "no-soffice-here").string();
    LibreOffice office(options);
    try {
        office.Connect();
        FAIL() << "connected without LibreOffice";
    } catch (const WordProcessorError& e) {
        EXPECT_EQ(e.failure(), Failure::NotAvailable);
        EXPECT_THAT(e.what(), HasSubstr("libreoffice-writer-nogui"));
    }
}

} // namespace
} // namespace qf::wordproc::testing
