// The program's one connection to the messaging platform.
#pragma once

#include "platform/messaging/mapi.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace qf {

class MailStore;

// The platform entry points the session calls.  The defaults are the real
// platform's; tests may substitute their own to provoke failures.
struct MessagingEntry {
    std::function<mapi::HRESULT()> initialize;
    std::function<void()> uninitialize;
    std::function<mapi::HRESULT(std::uintptr_t uiParam, const char* profileName,
                                const char* password, std::uint32_t flags,
                                std::shared_ptr<mapi::IMAPISession>& session)>
        logon;

    static MessagingEntry Platform();
};

// Holds the logon parameters, logs on lazily on first use, and owns the store
// objects it hands out.  It logs off when the logon parameters change while it
// is logged on, and when it is destroyed.
class MapiSession {
public:
    using StoreList = std::vector<std::pair<std::string, std::unique_ptr<MailStore>>>;

    // Initialises the platform; failure raises the mail error "30".
    explicit MapiSession(MessagingEntry entry = MessagingEntry::Platform());
    ~MapiSession();
    MapiSession(const MapiSession&) = delete;
    MapiSession& operator=(const MapiSession&) = delete;

    // Mode 0: default profile; 1: ask for a profile; 2: named profile with password.
    // Logs off first when logged on and any value differs.
    void SetLogonParameters(std::int32_t profileMode, const std::string& profileName,
                            const std::string& password);

    // The platform session, logging on first when none is held.  When the logon
    // gives no session (a profile mode outside 0 to 2) this raises the logon
    // error "40" rather than handing out nothing.
    std::shared_ptr<mapi::IMAPISession> GetSession();

    // A new platform session by ProfileMode; failure raises the mail error "40".
    void Logon();
    // Releases every store, then logs the platform session off.
    void Logoff();

    // A new, opened store object named "Default" for the profile's default
    // store, owned by the session; nullptr when the platform names none.
    MailStore* OpenDefaultStore();
    // Rebuilds Stores from the platform's message-stores table.
    void ListStores();

    const StoreList& Stores() const { return stores_; }
    bool LoggedOn() const { return loggedOn_; }
    bool HasPlatformSession() const { return mapiSession_ != nullptr; }
    std::int32_t ProfileMode() const { return profileMode_; }
    const std::string& ProfileName() const { return profileName_; }
    const std::string& Password() const { return password_; }
    std::uintptr_t UIParam() const { return 0; }
    // Changes whenever the store objects handed out before are released
    // (ListStores, Logoff): whoever keeps something built from them can tell
    // it is out of date.
    std::uint64_t StoresGeneration() const { return storesGeneration_; }

private:
    void ReleaseStores();

    MessagingEntry entry_;
    std::shared_ptr<mapi::IMAPISession> mapiSession_;
    std::int32_t profileMode_ = 0;
    std::string profileName_;
    std::string password_;
    StoreList stores_;
    bool loggedOn_ = false;
    bool initialized_ = false;
    std::uint64_t storesGeneration_ = 0;
};

} // namespace qf
