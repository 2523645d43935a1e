// Profiles file, its location, and logon in each mode.
#include "maildir_fixture.h"

namespace qf::mapi::testing {
namespace {

TEST(Profiles, ParsesProfilesStoresDefaultsAndPasswords) {
    const ProfileSet set = ParseProfiles("; comment\n"
                                         "[profile Home]\n"
                                         "store = maildir | Personal Folders | /m/home\n"
                                         "\n"
                                         "# another\n"
                                         "[Profile  Work ]\n"
                                         "Default = yes\n"
                                         "password = s3 cret\n"
                                         "store = maildir | Inbox | rel/mail\n"
                                         "store = MAILDIR | Archive | /srv/archive\n"
                                         "default store = archive\n",
                                         "/etc/qf/profiles.ini");
    ASSERT_EQ(set.profiles.size(), 2u);
    EXPECT_EQ(set.defaultProfile, 1u);
    const Profile* work = set.Find("WORK");
    ASSERT_NE(work, nullptr);
    EXPECT_EQ(work->password, "s3 cret");
    ASSERT_EQ(work->stores.size(), 2u);
    EXPECT_EQ(work->stores[0].location, "/etc/qf/rel/mail");
    EXPECT_EQ(work->stores[1].kind, "maildir");
    EXPECT_EQ(work->defaultStore, 1u);
    EXPECT_FALSE(set.Find("Home")->password);
}

TEST(Profiles, MalformedFilesNameTheLineAndTheFault) {
    const std::pair<const char*, const char*> cases[] = {
        {"store = maildir | a | /x\n", "line 1: a setting outside"},
        {"[profile A]\nstore = maildir | a\n", "line 2: a store reads"},
        {"[profile A]\nstore = imap4 | a | /x\n",
         "line 2: unknown store kind \"imap4\" (known: maildir"},
        {"[profile A]\ncolour = blue\n", "unknown setting \"colour\""},
        {"[profile A]\n[profile a]\n", "named twice"},
        {"[profile A]\ndefault = perhaps\n", "takes yes or no"},
        {"[profile A]\ndefault=yes\n[profile B]\ndefault=yes\n", "more than one"},
        {"[general]\n", "unknown section"},
        {"", "no [profile NAME] section"},
        {"[profile A]\nstore = maildir | a | /x\ndefault store = b\n", "default store \"b\""},
        // Account settings belong below the store line of an account on a server.
        {"[profile A]\nstore port = 993\n", "line 2: \"store port\" belongs below the store line"},
        {"[profile A]\nstore = maildir | M | /m\nstore user = jane\n",
         "line 3: \"store user\" is a setting of accounts on a mail server; \"maildir\" stores"},
    };
    for (const auto& [text, fault] : cases) {
        ExpectProfilesRefused(text, fault);
    }
}

TEST(Profiles, FileLivesBesideTheRegistry) {
    ::unsetenv("QUILLFENCE_PROFILES");
    ::setenv("QUILLFENCE_REGISTRY", "/x/y/registry.reg", 1);
    EXPECT_EQ(ProfilesFilePath(), "/x/y/profiles.ini");
    ::unsetenv("QUILLFENCE_REGISTRY");
    ::setenv("XDG_CONFIG_HOME", "/cfg", 1);
    EXPECT_EQ(ProfilesFilePath(), "/cfg/Brindlemox/profiles.ini");
    ::setenv("QUILLFENCE_PROFILES", "/p.ini", 1);
    EXPECT_EQ(ProfilesFilePath(), "/p.ini");
    ::unsetenv("QUILLFENCE_PROFILES");
    ::unsetenv("XDG_CONFIG_HOME");
}

class LogonTest : public MaildirTest {
protected:
    void SetUp() override {
        MaildirTest::SetUp();
        MakeMaildir(dir_ / "Other");
        WriteFile(profiles_, "[profile Open]\nstore = maildir | Personal Folders | " +
                                 root_.string() +
                                 "\n[profile Locked]\ndefault = yes\npassword = pw\n"
                                 "store = maildir | Locked Folders | " +
                                 (dir_ / "Other").string() + "\n");
    }
    void TearDown() override {
        SetProfileChooser({});
        MaildirTest::TearDown();
    }
    std::string StoreName(IMAPISession& s) {
        std::shared_ptr<IMAPITable> t;
        EXPECT_EQ(s.GetMsgStoresTable(0, t), S_OK);
        RowSet rows;
        const PropTagArray cols{PR_DISPLAY_NAME};
        EXPECT_EQ(HrQueryAllRows(*t, &cols, nullptr, 0, rows), S_OK);
        return rows.empty() ? "" : *rows[0][0].Text();
    }
    std::shared_ptr<IMAPISession> s_;
};

TEST_F(LogonTest, DefaultProfileNeedsNoPassword) {
    ASSERT_EQ(MAPILogonEx(0, nullptr, nullptr, 0x62, s_), S_OK);
    EXPECT_EQ(StoreName(*s_), "Locked Folders");
}

TEST_F(LogonTest, NamedProfileChecksItsPassword) {
    EXPECT_EQ(MAPILogonEx(0, "locked", "wrong", 0x33, s_), MAPI_E_LOGON_FAILED);
    EXPECT_FALSE(s_);
    EXPECT_EQ(MAPILogonEx(0, "Locked", "", 0x33, s_), MAPI_E_LOGON_FAILED);
    EXPECT_EQ(MAPILogonEx(0, "Nobody", "pw", 0x33, s_), MAPI_E_LOGON_FAILED);
    EXPECT_NE(LastLogonFailure().find("Nobody"), std::string::npos);
    ASSERT_EQ(MAPILogonEx(0, "Locked", "pw", 0x33, s_), S_OK);
    EXPECT_EQ(StoreName(*s_), "Locked Folders");
    ASSERT_EQ(MAPILogonEx(0, "Open", "anything", 0x33, s_), S_OK);
    EXPECT_EQ(StoreName(*s_), "Personal Folders");
}

TEST_F(LogonTest, PromptAsksTheInstalledChooser) {
    EXPECT_EQ(MAPILogonEx(0, nullptr, nullptr, 0x33, s_), MAPI_E_LOGON_FAILED); // none installed
    std::vector<std::string> offered;
    std::string offeredDefault;
    SetProfileChooser([&](const std::vector<std::string>& names, const std::string& def) {
        offered = names;
        offeredDefault = def;
        return std::optional<ProfileChoice>(ProfileChoice{"Open", ""});
    });
    ASSERT_EQ(MAPILogonEx(0, nullptr, nullptr, 0x33, s_), S_OK);
    EXPECT_EQ(offered, (std::vector<std::string>{"Open", "Locked"}));
    EXPECT_EQ(offeredDefault, "Locked");
    EXPECT_EQ(StoreName(*s_), "Personal Folders");

    SetProfileChooser([](const auto&, const auto&) { return std::optional<ProfileChoice>(); });
    EXPECT_EQ(MAPILogonEx(0, nullptr, nullptr, 0x33, s_), MAPI_E_USER_CANCEL);
    SetProfileChooser([](const auto&, const auto&) {
        return std::optional<ProfileChoice>(ProfileChoice{"Locked", "bad"});
    });
    EXPECT_EQ(MAPILogonEx(0, nullptr, nullptr, 0x33, s_), MAPI_E_LOGON_FAILED);
}

TEST_F(LogonTest, UnreadableProfilesFileFailsTheLogon) {
    WriteFile(profiles_, "[profile Broken\n");
    EXPECT_EQ(MAPILogonEx(0, nullptr, nullptr, 0x62, s_), MAPI_E_NOT_INITIALIZED);
    EXPECT_NE(LastLogonFailure().find("line 1"), std::string::npos);
}

TEST_F(LogonTest, NoProfilesFileMeansMaildirInTheHomeFolder) {
    const char* oldHome = std::getenv("HOME");
    const std::string saved = oldHome ? oldHome : "";
    ::setenv("HOME", dir_.c_str(), 1);
    ::setenv("QUILLFENCE_PROFILES", (dir_ / "absent.ini").c_str(), 1);
    MakeMaildir(dir_ / "Maildir");
    WriteFile(dir_ / "Maildir" / "new" / "1.M1P1.h", "Subject: home\n\nx\n");
    ASSERT_EQ(MAPILogonEx(0, nullptr, nullptr, 0x62, s_), S_OK);
    EXPECT_EQ(StoreName(*s_), "Personal Folders");
    std::shared_ptr<IMAPITable> t;
    ASSERT_EQ(s_->GetMsgStoresTable(0, t), S_OK);
    RowSet rows;
    const PropTagArray cols{PR_ENTRYID};
    ASSERT_EQ(HrQueryAllRows(*t, &cols, nullptr, 0, rows), S_OK);
    std::shared_ptr<IMsgStore> store;
    ASSERT_EQ(s_->OpenMsgStore(0, *rows[0][0].Bin(), Iid::IMsgStore, 0x94, store), S_OK);
    ::setenv("HOME", saved.c_str(), 1);
}

TEST_F(LogonTest, MissingMaildirFailsToOpenWithItsPath) {
    WriteFile(profiles_,
              "[profile P]\nstore = maildir | Gone | " + (dir_ / "gone").string() + "\n");
    ASSERT_EQ(MAPILogonEx(0, nullptr, nullptr, 0x62, s_), S_OK);
    std::shared_ptr<IMAPITable> t;
    ASSERT_EQ(s_->GetMsgStoresTable(0, t), S_OK);
    RowSet rows;
    const PropTagArray cols{PR_ENTRYID};
    ASSERT_EQ(HrQueryAllRows(*t, &cols, nullptr, 0, rows), S_OK);
    std::shared_ptr<IMsgStore> store;
    const HRESULT hr = s_->OpenMsgStore(0, *rows[0][0].Bin(), Iid::IMsgStore, 0x94, store);
    EXPECT_EQ(hr, MAPI_E_NOT_FOUND);
    std::optional<MapiErrorInfo> info;
    ASSERT_EQ(s_->GetLastError(hr, 0, info), S_OK);
    ASSERT_TRUE(info);
    EXPECT_NE(info->error.find("gone: No such file or directory"), std::string::npos);
}

} // namespace
} // namespace qf::mapi::testing
