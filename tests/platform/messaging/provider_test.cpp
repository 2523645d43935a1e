// Providers found by store kind: account settings in profiles, the logon
// password handed to the provider, and each store's own provider in the stores
// table.  "testimap" stands in for a provider of stores on a mail server; it
// records what it is given and fails as an unreachable server would.
#include "maildir_fixture.h"

#include "platform/messaging/provider.h"

#include <sys/stat.h>

namespace qf::mapi::testing {
namespace {

struct Opened {
    StoreConfig config;
    StoreLogon logon;
};

std::vector<Opened>& OpenedStores() {
    static std::vector<Opened> opened;
    return opened;
}

void RegisterTestServerProvider() {
    ProviderInfo p;
    p.kind = "TestImap";
    p.displayName = "Test IMAP";
    p.uid = Binary(16, 0xA5);
    p.location = StoreLocation::Server;
    p.open = [](const StoreConfig& config, const StoreLogon& logon, std::shared_ptr<IMsgStore>&,
                LastError& error) {
        OpenedStores().push_back({config, logon});
        return error.Set(MAPI_E_NETWORK_ERROR, "Cannot reach " + config.account->host);
    };
    RegisterProvider(std::move(p));
}

class ProviderTest : public MaildirTest {
protected:
    void SetUp() override {
        MaildirTest::SetUp();
        RegisterTestServerProvider();
        OpenedStores().clear();
    }

    // The stores table of the session.
    RowSet Rows(const PropTagArray& cols) {
        std::shared_ptr<IMAPITable> t;
        EXPECT_EQ(session_->GetMsgStoresTable(0, t), S_OK);
        RowSet rows;
        EXPECT_EQ(HrQueryAllRows(*t, &cols, nullptr, 0, rows), S_OK);
        return rows;
    }

    // Logs on with the default profile (no store is opened) and reads its table.
    RowSet StoreRows(const PropTagArray& cols) {
        EXPECT_EQ(MAPILogonEx(0, nullptr, nullptr, 0x62, session_), S_OK);
        return Rows(cols);
    }

    HRESULT OpenStore(const RowSet& rows, std::size_t i) {
        std::shared_ptr<IMsgStore> store;
        return session_->OpenMsgStore(0, *rows[i][0].Bin(), Iid::IMsgStore, 0x94, store);
    }
};

TEST_F(ProviderTest, AccountSettingsFollowTheirStoreLine) {
    const ProfileSet set = ParseProfiles("[profile Work]\n"
                                         "store = maildir | Local | mail\n"
                                         "store = testimap | Work mail | mail.example.com\n"
                                         "store port = 1993\n"
                                         "Store User = jane\n"
                                         "store tls = STARTTLS\n"
                                         "store password = file secrets/imap\n"
                                         "store ca file = certs/ca.pem\n"
                                         "store root folder = INBOX.Jobs\n"
                                         "store = testimap | Defaults | imap.example.org\n",
                                         "/etc/qf/profiles.ini");
    const auto& stores = set.profiles[0].stores;
    ASSERT_EQ(stores.size(), 3u);
    EXPECT_FALSE(stores[0].account);
    EXPECT_EQ(stores[0].location, "/etc/qf/mail");
    ASSERT_TRUE(stores[1].account);
    const AccountSettings& a = *stores[1].account;
    EXPECT_EQ(stores[1].kind, "testimap");
    EXPECT_EQ(stores[1].location, "mail.example.com"); // a host, not a path
    EXPECT_EQ(a.host, "mail.example.com");
    EXPECT_EQ(a.EffectivePort(), 1993);
    EXPECT_EQ(a.user, "jane");
    EXPECT_EQ(a.tls, TlsMode::StartTls);
    EXPECT_EQ(a.passwordSource, PasswordSource::File);
    EXPECT_EQ(a.passwordFile, "/etc/qf/secrets/imap");
    EXPECT_EQ(a.caFile, "/etc/qf/certs/ca.pem");
    EXPECT_EQ(a.rootFolder, "INBOX.Jobs");
    const AccountSettings& d = *stores[2].account;
    EXPECT_EQ(d.tls, TlsMode::Implicit);
    EXPECT_EQ(d.EffectivePort(), 993);
    EXPECT_EQ(d.passwordSource, PasswordSource::Logon);
    EXPECT_TRUE(d.verifyCertificate);
    AccountSettings plain = d;
    plain.tls = TlsMode::None;
    EXPECT_EQ(plain.EffectivePort(), 143);
    EXPECT_FALSE(set.holdsPasswords);
}

TEST_F(ProviderTest, AStoredPasswordNeedsAnOwnerOnlyFile) {
    WriteFile(profiles_, "[profile Work]\nstore = imap | Work mail | mail.example.com\n"
                         "store password = text  s3 cret \n"
                         "store verify certificate = no\n");
    ::chmod(profiles_.c_str(), 0600);
    const ProfileSet set = LoadProfiles();
    ASSERT_TRUE(set.holdsPasswords);
    const AccountSettings& a = *set.profiles[0].stores[0].account;
    EXPECT_EQ(a.passwordSource, PasswordSource::Text);
    EXPECT_EQ(a.password, "s3 cret");
    EXPECT_FALSE(a.verifyCertificate);
    for (const mode_t mode : {0640, 0604}) {
        ::chmod(profiles_.c_str(), mode);
        try {
            LoadProfiles();
            ADD_FAILURE() << "a profiles file with mode " << mode << " was read";
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find("may be read by others"), std::string::npos)
                << e.what();
        }
    }
    // Without a stored password the file's mode is the user's affair.
    WriteFile(profiles_, "[profile Work]\nstore = imap | Work mail | mail.example.com\n");
    ::chmod(profiles_.c_str(), 0644);
    EXPECT_NO_THROW(LoadProfiles());
}

TEST_F(ProviderTest, MalformedAccountSettingsNameTheLine) {
    const std::pair<const char*, const char*> cases[] = {
        {"[profile A]\nstore = testimap | I | h\nstore port = 0\n", "line 3: \"store port\" takes"},
        {"[profile A]\nstore = testimap | I | h\nstore port = 70000\n", "takes a number"},
        {"[profile A]\nstore = testimap | I | h\nstore port = 99x\n", "takes a number"},
        {"[profile A]\nstore = testimap | I | h\nstore tls = ssl\n", "none, starttls or implicit"},
        {"[profile A]\nstore = testimap | I | h\nstore password = s3cret\n",
         "logon, file PATH or text SECRET"},
        {"[profile A]\nstore = testimap | I | h\nstore verify certificate = maybe\n",
         "line 3: \"store verify certificate\" takes yes or no"},
        {"[profile A]\nstore = testimap | I | h\nstore colour = red\n",
         "line 3: unknown setting \"store colour\""},
        // The kinds known are those with a provider.
        {"[profile A]\nstore = pop3 | P | h\n", "(known: maildir, imap, testimap)"},
    };
    for (const auto& [text, fault] : cases) {
        ExpectProfilesRefused(text, fault);
    }
}

TEST_F(ProviderTest, TheLogonPasswordReachesTheProvider) {
    WriteFile(profiles_, "[profile Work]\npassword = pw\nstore = maildir | Local | " +
                             root_.string() +
                             "\nstore = testimap | Work mail | mail.example.com\n"
                             "store user = jane\n");
    ASSERT_EQ(MAPILogonEx(0, "Work", "pw", MAPI_EXPLICIT_PROFILE, session_), S_OK);
    RowSet rows = Rows({PR_ENTRYID});
    ASSERT_EQ(rows.size(), 2u);

    const HRESULT hr = OpenStore(rows, 1);
    EXPECT_EQ(hr, MAPI_E_NETWORK_ERROR);
    ASSERT_EQ(OpenedStores().size(), 1u);
    const Opened& o = OpenedStores()[0];
    EXPECT_EQ(o.logon.password, "pw");
    EXPECT_FALSE(o.logon.isDefault);
    EXPECT_EQ(o.config.displayName, "Work mail");
    ASSERT_TRUE(o.config.account);
    EXPECT_EQ(o.config.account->user, "jane");
    // The provider's failure is the session's to tell.
    std::optional<MapiErrorInfo> info;
    ASSERT_EQ(session_->GetLastError(hr, 0, info), S_OK);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->error, "Cannot reach mail.example.com");

    // The Maildir store of the same profile opens as before.
    EXPECT_EQ(OpenStore(rows, 0), S_OK);

    // No password given: the provider is told so.
    WriteFile(profiles_, "[profile Work]\nstore = testimap | Work mail | mail.example.com\n");
    rows = StoreRows({PR_ENTRYID});
    EXPECT_EQ(OpenStore(rows, 0), MAPI_E_NETWORK_ERROR);
    ASSERT_EQ(OpenedStores().size(), 2u);
    EXPECT_FALSE(OpenedStores()[1].logon.password);
    EXPECT_TRUE(OpenedStores()[1].logon.isDefault);
}

TEST_F(ProviderTest, EachStoreReportsItsOwnProvider) {
    WriteFile(profiles_, "[profile Work]\nstore = maildir | Local | " + root_.string() +
                             "\nstore = testimap | Work mail | mail.example.com\n");
    const RowSet rows = StoreRows(
        {PR_ENTRYID, PR_SERVICE_NAME, PR_PROVIDER_DISPLAY, PR_MDB_PROVIDER, PR_OBJECT_TYPE});
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(*rows[0][1].Text(), "maildir");
    EXPECT_EQ(*rows[0][2].Text(), "Maildir");
    EXPECT_EQ(*rows[1][1].Text(), "testimap");
    EXPECT_EQ(*rows[1][2].Text(), "Test IMAP");
    EXPECT_EQ(*rows[1][3].Bin(), Binary(16, 0xA5));
    EXPECT_NE(*rows[0][3].Bin(), *rows[1][3].Bin());
    EXPECT_EQ(*rows[1][4].Long(), static_cast<std::int32_t>(MAPI_STORE));
    // The opened Maildir store says the same of itself.
    std::optional<PropValue> kind, uid;
    ASSERT_EQ(HrGetOneProp(Store(), PR_SERVICE_NAME, kind), S_OK);
    EXPECT_EQ(*kind->Text(), "maildir");
    ASSERT_EQ(HrGetOneProp(Store(), PR_MDB_PROVIDER, uid), S_OK);
    EXPECT_EQ(*uid->Bin(), *rows[0][3].Bin());
}

TEST_F(ProviderTest, TwoAccountsOnOneServerAreTwoStores) {
    WriteFile(profiles_, "[profile Work]\n"
                         "store = testimap | Jane | mail.example.com\nstore user = jane\n"
                         "store = testimap | Joe | mail.example.com\nstore user = joe\n");
    const RowSet rows = StoreRows({PR_ENTRYID});
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_NE(*rows[0][0].Bin(), *rows[1][0].Bin());
    EXPECT_EQ(OpenStore(rows, 1), MAPI_E_NETWORK_ERROR);
    ASSERT_EQ(OpenedStores().size(), 1u);
    EXPECT_EQ(OpenedStores()[0].config.account->user, "joe");
}

TEST(Providers, AnUnknownKindHasNoProvider) {
    EXPECT_TRUE(FindProvider("MAILDIR"));
    EXPECT_FALSE(FindProvider("pop3"));
    StoreConfig config;
    config.kind = "pop3";
    std::shared_ptr<IMsgStore> store;
    LastError error;
    EXPECT_EQ(OpenProviderStore(config, {}, store, error), MAPI_E_UNCONFIGURED);
    std::optional<MapiErrorInfo> info;
    error.Get(MAPI_E_UNCONFIGURED, info);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->error, "No provider for stores of kind \"pop3\"");
}

} // namespace
} // namespace qf::mapi::testing
