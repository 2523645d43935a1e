#include "platform/messaging/store_moves.h"

#include <cstdio>
#include <random>

namespace qf::mapi {

namespace {

// Folder trees deeper or larger than this are not searched for a note's folder.
constexpr int kMaxDepth = 32;
constexpr std::size_t kMaxFolders = 10000;

std::function<void(MoveStep)>& Hook() {
    static std::function<void(MoveStep)> hook;
    return hook;
}

std::string Hex64(std::uint64_t v) {
    char buf[17];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(v));
    return buf;
}

std::uint64_t Fnv1a(const std::string& s) {
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (unsigned char c : s) {
        h ^= c;
        h *= 0x100000001b3ull;
    }
    return h;
}

std::uint64_t Prefix(const StoreUid& uid) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        v = (v << 8) | uid[i];
    }
    return v;
}

} // namespace

std::string NewMoveToken() {
    std::random_device device;
    std::mt19937_64 rng((static_cast<std::uint64_t>(device()) << 32) ^ device());
    return Hex64(rng()) + Hex64(rng() ^ (static_cast<std::uint64_t>(device()) << 32));
}

std::string MarkAsMovedCopy(std::string_view bytes, const std::string& token) {
    return mime::RewriteHeaders(bytes, std::nullopt, {kMoveHeader, token});
}

bool CarriesMoveToken(const std::vector<mime::RawHeader>& headers, const std::string& token) {
    const auto words = mime::HeaderWords(headers, kMoveHeader);
    return !token.empty() && words.size() == 1 && words[0] == token;
}

std::string FolderCode(const EntryId& folder) {
    const auto parts = ParseEntryId(folder);
    if (!parts) {
        return "";
    }
    return Hex64(Prefix(parts->store)) + Hex64(Fnv1a(parts->folder));
}

std::shared_ptr<IMsgStore> MovedCopyFinder::Open(const StoreUid& uid, CopyState& state) {
    auto it = opened_.find(uid);
    if (it == opened_.end()) {
        std::shared_ptr<IMsgStore> store;
        LastError error;
        CopyState why = CopyState::Unknown;
        if (profile_ && profile_->open) {
            const HRESULT hr = profile_->open(uid, store, error);
            // A store no longer in the profile cannot hold the copy any more.
            why = hr == MAPI_E_NOT_FOUND ? CopyState::Absent : CopyState::Unknown;
        }
        it = opened_.emplace(uid, std::make_pair(store, why)).first;
    }
    state = it->second.second;
    return it->second.first;
}

CopyState MovedCopyFinder::Find(const EntryId& destination, const std::string& token) {
    const auto parts = ParseEntryId(destination);
    if (!parts || parts->kind != EntryKind::Folder) {
        return CopyState::Absent;
    }
    CopyState state = CopyState::Unknown;
    const auto store = Open(parts->store, state);
    if (!store) {
        return state;
    }
    std::shared_ptr<IUnknown> object;
    const HRESULT hr = store->OpenEntry(destination, Iid::IMAPIFolder, 0, nullptr, object);
    if (hr == MAPI_E_NOT_FOUND || hr == MAPI_E_INVALID_ENTRYID) {
        return CopyState::Absent;
    }
    const auto folder = As<IMAPIFolder>(object);
    bool found = false;
    if (Failed(hr) || !folder || Failed(folder->FindMovedCopy(token, found))) {
        return CopyState::Unknown;
    }
    return found ? CopyState::Found : CopyState::Absent;
}

void MovedCopyFinder::CollectFolders(IMAPIFolder& folder, int depth, std::vector<EntryId>& out) {
    std::shared_ptr<IMAPITable> table;
    RowSet rows;
    const PropTagArray cols{PR_ENTRYID};
    if (depth > kMaxDepth || Failed(folder.GetHierarchyTable(0, table)) ||
        Failed(HrQueryAllRows(*table, &cols, nullptr, 0, rows))) {
        return;
    }
    for (const auto& row : rows) {
        const Binary* id = row.empty() ? nullptr : row[0].Bin();
        if (id == nullptr || out.size() >= kMaxFolders) {
            continue;
        }
        out.push_back(*id);
        std::shared_ptr<IUnknown> child;
        if (Succeeded(folder.OpenEntry(*id, Iid::IMAPIFolder, 0, nullptr, child))) {
            if (auto f = As<IMAPIFolder>(child)) {
                CollectFolders(*f, depth + 1, out);
            }
        }
    }
}

std::optional<EntryId> MovedCopyFinder::FolderOfCode(const std::string& code, CopyState& state) {
    state = CopyState::Absent;
    if (!profile_ || code.size() != 32) {
        state = profile_ ? CopyState::Absent : CopyState::Unknown;
        return std::nullopt;
    }
    for (const StoreUid& uid : profile_->stores) {
        if (Hex64(Prefix(uid)) != code.substr(0, 16)) {
            continue;
        }
        CopyState opened = CopyState::Unknown;
        const auto store = Open(uid, opened);
        std::shared_ptr<IUnknown> object;
        if (!store || Failed(store->OpenEntry({}, Iid::IMAPIFolder, 0, nullptr, object))) {
            state = opened == CopyState::Absent ? state : CopyState::Unknown;
            continue;
        }
        std::vector<EntryId> folders;
        std::optional<PropValue> rootId;
        auto root = As<IMAPIFolder>(object);
        if (root && Succeeded(HrGetOneProp(*root, PR_ENTRYID, rootId)) && rootId->Bin()) {
            folders.push_back(*rootId->Bin());
            CollectFolders(*root, 0, folders);
        }
        for (const EntryId& f : folders) {
            if (FolderCode(f) == code) {
                return f;
            }
        }
    }
    return std::nullopt;
}

void ReachedMoveStep(MoveStep step) {
    if (Hook()) {
        Hook()(step);
    }
}

namespace testing {
void SetMoveStepHook(std::function<void(MoveStep)> hook) {
    Hook() = std::move(hook);
}
} // namespace testing

} // namespace qf::mapi
