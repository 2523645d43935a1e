// The store providers and how the session finds them: one provider per store
// kind ("maildir"), found by the kind a profile's store line names.  The session
// opens every store through OpenProviderStore and never knows a provider's
// classes.
#pragma once

#include "platform/messaging/entryid.h"
#include "platform/messaging/mapi.h"
#include "platform/messaging/profiles.h"
#include "platform/messaging/props.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qf::mapi {

// The stores of the logon's profile, as a store sees them: a move to another
// store that a stopped process left half done is finished by opening the store
// it went to (store_moves.h).
struct ProfileStores {
    using Opener =
        std::function<HRESULT(const StoreUid& store, std::shared_ptr<IMsgStore>&, LastError&)>;
    std::vector<StoreUid> stores; // every store of the profile
    Opener open;                  // opens one of them; MAPI_E_NOT_FOUND for another
};

// What a provider is given, besides the store's settings, to open a store.
struct StoreLogon {
    bool isDefault = false;              // the profile's default store
    std::optional<std::string> password; // the password given at logon, when one was
    // The other stores of the profile; null when the store is opened alone.
    std::shared_ptr<const ProfileStores> profile;
};

// Opens a store; records a failure in `error`.
using StoreFactory = std::function<HRESULT(const StoreConfig& config, const StoreLogon& logon,
                                           std::shared_ptr<IMsgStore>& store, LastError& error)>;

struct ProviderInfo {
    std::string kind;        // as store lines name it, in lower case: "maildir"
    std::string displayName; // PR_PROVIDER_DISPLAY: "Maildir"
    Binary uid;              // PR_MDB_PROVIDER
    StoreLocation location = StoreLocation::Folder; // how a store line's location reads
    StoreFactory open;
};

// Adds a provider, or replaces the one of its kind.  The built-in providers
// (maildir, imap) are there from the start.  Not for use while sessions open stores
// on other threads.
void RegisterProvider(ProviderInfo provider);
// The provider of `kind` (compared without regard to case), or null.
std::shared_ptr<const ProviderInfo> FindProvider(std::string_view kind);
// The kinds that have a provider, in the order they were added.
std::vector<std::string> ProviderKinds();

// Opens the store `config` describes with the provider of its kind; without one,
// MAPI_E_UNCONFIGURED.
HRESULT OpenProviderStore(const StoreConfig& config, const StoreLogon& logon,
                          std::shared_ptr<IMsgStore>& store, LastError& error);

} // namespace qf::mapi
