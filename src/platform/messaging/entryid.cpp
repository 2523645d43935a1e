#include "platform/messaging/entryid.h"

#include "common/entry_id.h"

#include <algorithm>

namespace qf::mapi {

namespace {

constexpr std::array<std::uint8_t, 4> kMagic = {'Q', 'F', 'i', 'd'};
// Magic, kind, three zero bytes, the store's identity: what a stored reference
// holds at the least.
constexpr std::size_t kHeaderLength = qf::EntryId::kMinLength;
static_assert(kHeaderLength == 4 + 1 + 3 + std::tuple_size_v<StoreUid>);

std::uint64_t Fnv1a(const std::string& s, std::uint64_t basis) {
    std::uint64_t h = basis;
    for (unsigned char c : s) {
        h ^= c;
        h *= 0x100000001b3ull;
    }
    return h;
}

EntryId Header(EntryKind kind, const StoreUid& store) {
    std::array<std::uint8_t, kHeaderLength> header{};
    std::copy(kMagic.begin(), kMagic.end(), header.begin());
    header[4] = static_cast<std::uint8_t>(kind);
    std::copy(store.begin(), store.end(), header.begin() + 8);
    return EntryId(header.begin(), header.end());
}

void PutString(EntryId& id, const std::string& s) {
    const std::size_t n = std::min<std::size_t>(s.size(), 0xFFFF);
    id.push_back(static_cast<std::uint8_t>(n & 0xFF));
    id.push_back(static_cast<std::uint8_t>(n >> 8));
    id.insert(id.end(), s.begin(), s.begin() + static_cast<std::ptrdiff_t>(n));
}

bool GetString(const EntryId& id, std::size_t& pos, std::string& out) {
    if (pos + 2 > id.size()) {
        return false;
    }
    const std::size_t n = id[pos] | (static_cast<std::size_t>(id[pos + 1]) << 8);
    pos += 2;
    if (pos + n > id.size()) {
        return false;
    }
    out.assign(reinterpret_cast<const char*>(id.data() + pos), n);
    pos += n;
    return true;
}

} // namespace

StoreUid MakeStoreUid(const std::string& kind, const std::string& location) {
    const std::string key = kind + '\0' + location;
    const std::uint64_t a = Fnv1a(key, 0xcbf29ce484222325ull);
    const std::uint64_t b = Fnv1a(key, 0x84222325cbf29ce4ull);
    StoreUid uid{};
    for (int i = 0; i < 8; ++i) {
        uid[i] = static_cast<std::uint8_t>(a >> (8 * i));
        uid[8 + i] = static_cast<std::uint8_t>(b >> (8 * i));
    }
    return uid;
}

EntryId MakeStoreEntryId(const StoreUid& store) {
    return Header(EntryKind::Store, store);
}

EntryId MakeFolderEntryId(const StoreUid& store, const std::string& folder) {
    EntryId id = Header(EntryKind::Folder, store);
    PutString(id, folder);
    return id;
}

EntryId MakeMessageEntryId(const StoreUid& store, const std::string& folder,
                           const std::string& message) {
    EntryId id = Header(EntryKind::Message, store);
    PutString(id, folder);
    PutString(id, message);
    return id;
}

std::optional<EntryIdParts> ParseEntryId(const EntryId& id) {
    if (id.size() < kHeaderLength || !std::equal(kMagic.begin(), kMagic.end(), id.begin()) ||
        id[5] != 0 || id[6] != 0 || id[7] != 0) {
        return std::nullopt;
    }
    EntryIdParts parts;
    std::copy_n(id.begin() + 8, parts.store.size(), parts.store.begin());
    std::size_t pos = kHeaderLength;
    switch (id[4]) {
    case static_cast<std::uint8_t>(EntryKind::Store):
        parts.kind = EntryKind::Store;
        break;
    case static_cast<std::uint8_t>(EntryKind::Folder):
        parts.kind = EntryKind::Folder;
        if (!GetString(id, pos, parts.folder)) {
            return std::nullopt;
        }
        break;
    case static_cast<std::uint8_t>(EntryKind::Message):
        parts.kind = EntryKind::Message;
        if (!GetString(id, pos, parts.folder) || !GetString(id, pos, parts.message)) {
            return std::nullopt;
        }
        break;
    default:
        return std::nullopt;
    }
    if (pos != id.size()) {
        return std::nullopt;
    }
    return parts;
}

} // namespace qf::mapi
