// How the session opens the stores a profile names.
#pragma once

#include "platform/messaging/mapi.h"
#include "platform/messaging/profiles.h"
#include "platform/messaging/props.h"

namespace qf::mapi {

// The provider identity reported as PR_MDB_PROVIDER by Maildir stores.
extern const Binary kMaildirProviderUid;

// Opens the store `config` describes.  Failures are recorded in `error`.
HRESULT OpenProviderStore(const StoreConfig& config, bool isDefault,
                          std::shared_ptr<IMsgStore>& store, LastError& error);

} // namespace qf::mapi
