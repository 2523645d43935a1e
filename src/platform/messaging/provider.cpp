#include "platform/messaging/provider.h"

#include "platform/messaging/imap/store.h"
#include "platform/messaging/maildir/store.h"

#include "common/text.h"

namespace qf::mapi {

namespace {

std::vector<std::shared_ptr<const ProviderInfo>>& Providers() {
    static std::vector<std::shared_ptr<const ProviderInfo>> providers = {
        std::make_shared<const ProviderInfo>(maildir::Provider()),
        std::make_shared<const ProviderInfo>(imap::Provider()),
    };
    return providers;
}

} // namespace

void RegisterProvider(ProviderInfo provider) {
    provider.kind = ToLowerAscii(provider.kind);
    auto entry = std::make_shared<const ProviderInfo>(std::move(provider));
    for (auto& p : Providers()) {
        if (p->kind == entry->kind) {
            p = std::move(entry);
            return;
        }
    }
    Providers().push_back(std::move(entry));
}

std::shared_ptr<const ProviderInfo> FindProvider(std::string_view kind) {
    for (const auto& p : Providers()) {
        if (EqualsNoCase(p->kind, kind)) {
            return p;
        }
    }
    return nullptr;
}

std::vector<std::string> ProviderKinds() {
    std::vector<std::string> kinds;
    for (const auto& p : Providers()) {
        kinds.push_back(p->kind);
    }
    return kinds;
}

HRESULT OpenProviderStore(const StoreConfig& config, const StoreLogon& logon,
                          std::shared_ptr<IMsgStore>& store, LastError& error) {
    store.reset();
    const auto provider = FindProvider(config.kind);
    if (!provider || !provider->open) {
        return error.Set(MAPI_E_UNCONFIGURED,
                         "No provider for stores of kind \"" + config.kind + "\"");
    }
    return provider->open(config, logon, store, error);
}

} // namespace qf::mapi
