#include "mail/folder_tree.h"

#include "mail/mail_check.h"
#include "mail/session.h"
#include "mail/store.h"

#include <array>
#include <cstdio>

namespace qf {

using namespace mapi;

namespace {

// The provider identity of public folder stores.
constexpr std::array<std::uint8_t, 16> kPublicStoreProvider = {
    0x78, 0xB2, 0xFA, 0x70, 0xAF, 0xF7, 0x11, 0xCD, 0x9B, 0xC8, 0x00, 0xAA, 0x00, 0x2F, 0xC4, 0x5A};

[[noreturn]] void AssertionFailed(const char* text, int line) {
    char message[128];
    std::snprintf(message, sizeof message, "%s (%s, line %d)", text, "Common/ifind", line);
    throw Error(message);
}

bool IsPublicStore(IMsgStore& store) {
    const PropTagArray tags = {PR_MDB_PROVIDER};
    std::vector<PropValue> values;
    if (store.GetProps(&tags, 0, values) != S_OK || values.empty() ||
        values[0].tag != PR_MDB_PROVIDER || values[0].Bin() == nullptr) {
        return false;
    }
    const Binary& uid = *values[0].Bin();
    return uid.size() == kPublicStoreProvider.size() &&
           std::equal(uid.begin(), uid.end(), kPublicStoreProvider.begin());
}

// The root identifier property of a store, with the lookup's result codes.
HRESULT LookUpRoot(IMsgStore& store, PropTag tag, int firstLine, mapi::EntryId& id) {
    id.clear();
    const PropTagArray tags = {tag};
    std::vector<PropValue> values;
    const HRESULT hr = store.GetProps(&tags, 0, values);
    if (hr == MAPI_W_ERRORS_RETURNED) {
        const ErrorValue* error = values.empty() ? nullptr : values[0].Error();
        return error != nullptr && error->code == MAPI_E_NOT_FOUND ? MAPI_E_NOT_FOUND
                                                                   : MAPI_E_CALL_FAILED;
    }
    if (Failed(hr)) {
        return MAPI_E_CALL_FAILED;
    }
    if (values.empty()) {
        AssertionFailed("ZERO cValues variable", firstLine);
    }
    if (values[0].tag != tag || values[0].Bin() == nullptr) {
        return MAPI_E_CALL_FAILED;
    }
    id = *values[0].Bin();
    return S_OK;
}

void WalkHierarchy(const std::shared_ptr<IMAPIFolder>& folder, FolderTreeNode parent,
                   MailStore& store, IMsgStore& msgStore, FolderTreeSink& sink) {
    if (!folder) {
        return;
    }
    std::shared_ptr<IMAPITable> table;
    CheckResult(&msgStore, "550", folder->GetHierarchyTable(0, table));
    if (!table) {
        CheckResult(&msgStore, "550", MAPI_E_CALL_FAILED);
    }
    std::uint32_t count = 0;
    CheckResult(&msgStore, "560", table->GetRowCount(0, &count));
    if (count == 0) {
        return;
    }
    CheckResult(&msgStore, "580", table->SetColumns(PropTagArray{PR_ENTRYID}, 0));
    RowSet rows;
    CheckResult(&msgStore, "600", table->QueryRows(static_cast<std::int32_t>(count), 0, rows));
    const PropTagArray tags = {PR_DISPLAY_NAME, PR_ENTRYID, PR_SUBFOLDERS};
    for (const Row& row : rows) {
        const mapi::EntryId rowId = !row.empty() && row[0].tag == PR_ENTRYID && row[0].Bin()
                                        ? *row[0].Bin()
                                        : mapi::EntryId{};
        std::uint32_t type = 0;
        std::shared_ptr<IUnknown> object;
        CheckResult(&msgStore, "620",
                    folder->OpenEntry(rowId, Iid::IMAPIProp, MAPI_DEFERRED_ERRORS, &type, object));
        auto prop = As<IMAPIProp>(object);
        if (!prop) {
            CheckResult(&msgStore, "620", MAPI_E_INTERFACE_NOT_SUPPORTED);
        }
        std::vector<PropValue> values;
        CheckResult(&msgStore, "630", prop->GetProps(&tags, 0, values));
        values.resize(3);
        const std::string name =
            values[0].tag == PR_DISPLAY_NAME && values[0].Text() ? *values[0].Text() : "";
        const mapi::EntryId id =
            values[1].tag == PR_ENTRYID && values[1].Bin() ? *values[1].Bin() : mapi::EntryId{};
        const bool hasChildren =
            values[2].tag == PR_SUBFOLDERS && values[2].Bool() && *values[2].Bool();
        auto holder = std::make_unique<MailFolder>(&store, id);
        const mapi::EntryId childId = holder->EntryIdBytes();
        const FolderTreeNode node = sink.AddFolderNode(name, parent, std::move(holder));
        if (node != 0 && hasChildren && sink.WalkSubfoldersNow(node)) {
            std::shared_ptr<IUnknown> child;
            folder->OpenEntry(childId, Iid::IMAPIFolder, MAPI_DEFERRED_ERRORS, &type, child);
            WalkHierarchy(As<IMAPIFolder>(child), node, store, msgStore, sink);
        }
    }
}

} // namespace

mapi::EntryId FindFolderRoot(IMsgStore& store, bool* isPublic) {
    const bool publicStore = IsPublicStore(store);
    if (isPublic != nullptr) {
        *isPublic = publicStore;
    }
    mapi::EntryId id;
    const HRESULT hr = publicStore ? LookUpRoot(store, PR_NON_IPM_SUBTREE_ENTRYID, 538, id)
                                   : LookUpRoot(store, PR_IPM_SUBTREE_ENTRYID, 258, id);
    CheckResult(&store, publicStore ? "getFolderRoot.1" : "getFolderRoot.3", hr);
    return id;
}

void AddToFolderTree(MailStore& store, FolderTreeSink& sink) {
    FolderTreeNode node = 0;
    try {
        std::shared_ptr<IMsgStore> msgStore = store.GetMsgStore();
        bool isPublic = false;
        const mapi::EntryId rootId = FindFolderRoot(*msgStore, &isPublic);
        std::uint32_t type = 0;
        std::shared_ptr<IUnknown> object;
        CheckResult(
            msgStore, isPublic ? "getFolderRoot.2" : "getFolderRoot.4",
            msgStore->OpenEntry(rootId, Iid::IMAPIFolder, MAPI_DEFERRED_ERRORS, &type, object));
        node = sink.AddRootNode(store.DisplayName(), std::make_unique<MailFolder>(&store, rootId));
        WalkHierarchy(As<IMAPIFolder>(object), node, store, *msgStore, sink);
        sink.ExpandNode(node);
    } catch (const Error& e) {
        if (node != 0) {
            sink.SetNodeText(node, e.what());
        } else {
            sink.AddRootNode(e.what(), nullptr);
        }
    }
}

void AddSubfolders(MailFolder& folder, FolderTreeNode parent, FolderTreeSink& sink) {
    MailStore* store = folder.Store();
    if (store == nullptr) {
        throw Error("No session");
    }
    std::shared_ptr<IMsgStore> msgStore = store->GetMsgStore();
    WalkHierarchy(folder.OpenFolder(msgStore), parent, *store, *msgStore, sink);
}

void BuildFolderTree(MapiSession& session, FolderTreeSink& sink) {
    session.ListStores();
    for (const auto& entry : session.Stores()) {
        AddToFolderTree(*entry.second, sink);
    }
}

} // namespace qf
