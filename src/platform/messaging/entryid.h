// Entry identifiers as the providers build them.
//
//   bytes 0-3   "QFid"
//   byte  4     kind: 1 store, 2 folder, 3 message
//   bytes 5-7   zero
//   bytes 8-23  the store's identity (a hash of its kind and location)
//   folder:     u16 length (little-endian) + folder name
//   message:    u16 length + folder name, u16 length + the message's unique name
//
// A store identifier is exactly 24 bytes, the least a stored reference keeps
// (qf::EntryId), the others longer.  The layout is an internal matter of the
// providers; callers copy the bytes and never look inside.  Parsing checks the
// layout only; a provider still validates the names.
#pragma once

#include "platform/messaging/mapi.h"

#include <array>
#include <optional>
#include <string>

namespace qf::mapi {

using StoreUid = std::array<std::uint8_t, 16>;

enum class EntryKind : std::uint8_t { Store = 1, Folder = 2, Message = 3 };

struct EntryIdParts {
    EntryKind kind = EntryKind::Store;
    StoreUid store{};
    std::string folder;
    std::string message;
};

// The identity of a store of `kind` at `location` (stable across runs).
StoreUid MakeStoreUid(const std::string& kind, const std::string& location);

EntryId MakeStoreEntryId(const StoreUid& store);
EntryId MakeFolderEntryId(const StoreUid& store, const std::string& folder);
EntryId MakeMessageEntryId(const StoreUid& store, const std::string& folder,
                           const std::string& message);

// Nothing when the bytes are not an identifier of this layout.
std::optional<EntryIdParts> ParseEntryId(const EntryId& id);

} // namespace qf::mapi
