// An in-memory messaging platform for tests that need failures on demand:
// every call first asks the shared fault table whether it should fail.
#pragma once

#include "mail/session.h"
#include "platform/messaging/mapi.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace qf::fake {

using namespace qf::mapi;

// Failures to inject, by operation name ("Table.QueryRows", "Stream.Read"...).
// A fault lets `skip` calls through first and then fails every call (or only
// one when `once`).
struct Faults {
    struct Fault {
        HRESULT code = MAPI_E_CALL_FAILED;
        int skip = 0;
        bool once = false;
    };
    std::map<std::string, Fault> table;
    std::map<std::string, int> calls;

    void Fail(const std::string& op, HRESULT code, int skip = 0, bool once = false) {
        table[op] = Fault{code, skip, once};
    }
    HRESULT Check(const std::string& op);
};

using PropMap = std::map<PropTag, PropValue>;

struct MsgData;
struct AttData {
    PropMap props;
    std::string data;
    std::shared_ptr<MsgData> embedded;
};
struct MsgData {
    PropMap props;
    std::vector<AttData> attachments;
    int version = 0;
};
struct FolderData {
    EntryId id;
    std::vector<std::shared_ptr<MsgData>> messages;
};
struct StoreData {
    std::string name;
    EntryId id;
    bool isDefault = false;
    bool hasEntryId = true;
    EntryId inbox; // empty: no receive folder
    std::vector<std::shared_ptr<FolderData>> folders;
};

struct World {
    std::vector<std::shared_ptr<StoreData>> stores;
    Faults faults;
    std::vector<std::size_t> batches; // rows delivered by each contents-table QueryRows
    int storeLogoffs = 0;
    int sessionLogoffs = 0;
    int logons = 0;
    std::uint32_t lastLogonFlags = 0;
    std::string lastProfileName = "<null>";
    std::string lastPassword = "<null>";
    bool logonGivesNoSession = false;
    std::string lastError = "it broke";

    // Adds a store (first one default) with an inbox and returns it.
    std::shared_ptr<StoreData> AddStore(const std::string& name);
    std::shared_ptr<FolderData> AddFolder(StoreData& store, const std::string& idText);
    std::shared_ptr<MsgData> AddMessage(FolderData& folder, const std::string& idText,
                                        const std::string& subject, std::int64_t submitUnix);
    // The platform entry points bound to this world.
    MessagingEntry Entry();
};

PropValue Text(PropTag tag, const std::string& text);
PropValue Long(PropTag tag, std::int32_t v);
PropValue Flag(PropTag tag, bool v);
PropValue Bin(PropTag tag, const EntryId& id);
EntryId Id(const std::string& text);

} // namespace qf::fake
