#include "fake_mapi.h"

#include <algorithm>
#include <cstring>

namespace qf::fake {

HRESULT Faults::Check(const std::string& op) {
    ++calls[op];
    auto it = table.find(op);
    if (it == table.end()) {
        return S_OK;
    }
    if (it->second.skip > 0) {
        --it->second.skip;
        return S_OK;
    }
    const HRESULT code = it->second.code;
    if (it->second.once) {
        table.erase(it);
    }
    return code;
}

PropValue Text(PropTag tag, const std::string& text) {
    return PropValue{tag, text};
}
PropValue Long(PropTag tag, std::int32_t v) {
    return PropValue{tag, v};
}
PropValue Flag(PropTag tag, bool v) {
    return PropValue{tag, v};
}
PropValue Bin(PropTag tag, const EntryId& id) {
    return PropValue{tag, id};
}
EntryId Id(const std::string& text) {
    EntryId id(text.begin(), text.end());
    id.resize(std::max<std::size_t>(id.size(), 24), 0); // as the mail layer pads them
    return id;
}

namespace {

std::vector<PropValue> Project(const PropMap& props, const PropTagArray& tags, bool* missing) {
    std::vector<PropValue> out;
    for (PropTag tag : tags) {
        auto it = props.find(tag);
        if (it != props.end()) {
            out.push_back(it->second);
        } else {
            out.push_back(PropValue{CHANGE_PROP_TYPE(tag, PT_ERROR), ErrorValue{}});
            if (missing != nullptr) {
                *missing = true;
            }
        }
    }
    return out;
}

class Table : public IMAPITable {
public:
    Table(World& world, std::vector<PropMap> rows, bool contents)
        : world_(world), rows_(std::move(rows)), contents_(contents) {}
    HRESULT GetLastError(HRESULT, std::uint32_t, std::optional<MapiErrorInfo>& info) override {
        info.reset();
        return S_OK;
    }
    HRESULT SetColumns(const PropTagArray& columns, std::uint32_t) override {
        columns_ = columns;
        return world_.faults.Check("Table.SetColumns");
    }
    HRESULT SortTable(const SortOrderSet& order, std::uint32_t) override {
        if (HRESULT hr = world_.faults.Check("Table.SortTable"); Failed(hr)) {
            return hr;
        }
        if (!order.empty()) {
            const PropTag key = order[0].tag;
            std::stable_sort(rows_.begin(), rows_.end(), [key](const PropMap& a, const PropMap& b) {
                auto ta = a.find(key), tb = b.find(key);
                const std::uint64_t va = ta == a.end() ? 0 : ta->second.Time()->ticks;
                const std::uint64_t vb = tb == b.end() ? 0 : tb->second.Time()->ticks;
                return va < vb;
            });
        }
        return S_OK;
    }
    HRESULT GetRowCount(std::uint32_t, std::uint32_t* count) override {
        *count = static_cast<std::uint32_t>(rows_.size());
        return world_.faults.Check("Table.GetRowCount");
    }
    HRESULT SeekRow(Bookmark, std::int32_t, std::int32_t*) override {
        position_ = 0;
        return world_.faults.Check("Table.SeekRow");
    }
    HRESULT QueryRows(std::int32_t rowCount, std::uint32_t, RowSet& rows) override {
        rows.clear();
        if (HRESULT hr = world_.faults.Check("Table.QueryRows"); Failed(hr)) {
            return hr;
        }
        while (rows.size() < static_cast<std::size_t>(rowCount) && position_ < rows_.size()) {
            rows.push_back(Project(rows_[position_++], columns_, nullptr));
        }
        if (contents_) {
            world_.batches.push_back(rows.size());
        }
        return S_OK;
    }

private:
    World& world_;
    std::vector<PropMap> rows_;
    PropTagArray columns_;
    std::size_t position_ = 0;
    bool contents_;
};

class Stream : public IStream {
public:
    Stream(World& world, std::string content, std::function<void(const std::string&)> commit)
        : world_(world), content_(std::move(content)), commit_(std::move(commit)) {}
    HRESULT Read(void* buffer, std::uint32_t count, std::uint32_t* read) override {
        *read = 0;
        if (HRESULT hr = world_.faults.Check("Stream.Read"); Failed(hr)) {
            return hr;
        }
        const std::size_t n = std::min<std::size_t>(count, content_.size() - position_);
        std::memcpy(buffer, content_.data() + position_, n);
        position_ += n;
        *read = static_cast<std::uint32_t>(n);
        return S_OK;
    }
    HRESULT Write(const void* buffer, std::uint32_t count, std::uint32_t* written) override {
        *written = 0;
        if (HRESULT hr = world_.faults.Check("Stream.Write"); Failed(hr)) {
            return hr;
        }
        if (Failed(world_.faults.Check("Stream.ShortWrite"))) {
            count /= 2;
        }
        content_.append(static_cast<const char*>(buffer), count);
        *written = count;
        return S_OK;
    }
    HRESULT Commit(std::uint32_t) override {
        if (HRESULT hr = world_.faults.Check("Stream.Commit"); Failed(hr)) {
            return hr;
        }
        if (commit_) {
            commit_(content_);
        }
        return S_OK;
    }

private:
    World& world_;
    std::string content_;
    std::size_t position_ = 0;
    std::function<void(const std::string&)> commit_;
};

class Message;

class Attach : public IAttach {
public:
    Attach(World& world, AttData& data) : world_(world), data_(data) {}
    HRESULT GetLastError(HRESULT, std::uint32_t, std::optional<MapiErrorInfo>& info) override {
        info.reset();
        return S_OK;
    }
    HRESULT GetProps(const PropTagArray* tags, std::uint32_t,
                     std::vector<PropValue>& values) override {
        bool missing = false;
        values = Project(data_.props, *tags, &missing);
        return missing ? MAPI_W_ERRORS_RETURNED : S_OK;
    }
    HRESULT SetProps(const std::vector<PropValue>&, std::vector<PropProblem>*) override {
        return MAPI_E_NO_ACCESS;
    }
    HRESULT OpenProperty(PropTag tag, Iid iid, std::uint32_t, std::uint32_t,
                         std::shared_ptr<IUnknown>& object) override;
    HRESULT SaveChanges(std::uint32_t) override { return S_OK; }

private:
    World& world_;
    AttData& data_;
};

class Message : public IMessage {
public:
    Message(World& world, std::shared_ptr<MsgData> stored, bool embedded)
        : world_(world), stored_(std::move(stored)), working_(stored_->props),
          version_(stored_->version), embedded_(embedded) {}
    HRESULT GetLastError(HRESULT, std::uint32_t, std::optional<MapiErrorInfo>& info) override {
        info.reset();
        return S_OK;
    }
    HRESULT GetProps(const PropTagArray* tags, std::uint32_t,
                     std::vector<PropValue>& values) override {
        values.clear();
        if (HRESULT hr = world_.faults.Check(embedded_ ? "Embedded.GetProps" : "Message.GetProps");
            Failed(hr)) {
            return hr;
        }
        bool missing = false;
        values = Project(working_, *tags, &missing);
        return missing ? MAPI_W_ERRORS_RETURNED : S_OK;
    }
    HRESULT SetProps(const std::vector<PropValue>& values,
                     std::vector<PropProblem>* problems) override {
        if (HRESULT hr = world_.faults.Check("Message.SetProps"); Failed(hr)) {
            return hr;
        }
        if (HRESULT hr = world_.faults.Check("Message.SetPropsProblem"); Failed(hr)) {
            problems->push_back(PropProblem{0, values[0].tag, hr});
            return S_OK;
        }
        for (const PropValue& v : values) {
            working_[v.tag] = v;
        }
        return S_OK;
    }
    HRESULT OpenProperty(PropTag tag, Iid, std::uint32_t, std::uint32_t flags,
                         std::shared_ptr<IUnknown>& object) override {
        object.reset();
        if (HRESULT hr = world_.faults.Check("Message.OpenProperty"); Failed(hr)) {
            return hr;
        }
        if ((flags & MAPI_CREATE) != 0) {
            object =
                std::make_shared<Stream>(world_, std::string(), [this, tag](const std::string& s) {
                    working_[tag] = PropValue{tag, s};
                });
            return S_OK;
        }
        auto it = working_.find(tag);
        if (it == working_.end()) {
            return MAPI_E_NOT_FOUND;
        }
        object = std::make_shared<Stream>(world_, *it->second.Text(), nullptr);
        return S_OK;
    }
    HRESULT SaveChanges(std::uint32_t) override {
        if (HRESULT hr = world_.faults.Check("Message.SaveChanges"); Failed(hr)) {
            return hr;
        }
        if (stored_->version != version_) {
            return MAPI_E_OBJECT_CHANGED;
        }
        stored_->props = working_;
        version_ = ++stored_->version;
        return S_OK;
    }
    HRESULT GetAttachmentTable(std::uint32_t, std::shared_ptr<IMAPITable>& table) override {
        if (HRESULT hr = world_.faults.Check("Message.GetAttachmentTable"); Failed(hr)) {
            return hr;
        }
        std::vector<PropMap> rows;
        for (const AttData& a : stored_->attachments) {
            rows.push_back(a.props);
        }
        table = std::make_shared<Table>(world_, std::move(rows), false);
        return S_OK;
    }
    HRESULT OpenAttach(std::uint32_t number, Iid, std::uint32_t,
                       std::shared_ptr<IAttach>& attach) override {
        if (HRESULT hr = world_.faults.Check("Message.OpenAttach"); Failed(hr)) {
            return hr;
        }
        for (AttData& a : stored_->attachments) {
            auto it = a.props.find(PR_ATTACH_NUM);
            if (it != a.props.end() && static_cast<std::uint32_t>(*it->second.Long()) == number) {
                attach = std::make_shared<Attach>(world_, a);
                return S_OK;
            }
        }
        return MAPI_E_NOT_FOUND;
    }
    HRESULT SetReadFlag(std::uint32_t) override {
        if (HRESULT hr = world_.faults.Check("Message.SetReadFlag"); Failed(hr)) {
            return hr;
        }
        for (PropMap* props : {&working_, &stored_->props}) {
            auto& flags = (*props)[PR_MESSAGE_FLAGS];
            flags.tag = PR_MESSAGE_FLAGS;
            flags.value =
                (flags.Long() ? *flags.Long() : 0) | static_cast<std::int32_t>(MSGFLAG_READ);
        }
        return S_OK;
    }
    HRESULT OpenRawStream(std::shared_ptr<IStream>& stream) override {
        stream.reset();
        return MAPI_E_NO_SUPPORT; // the in-memory messages have no RFC 822 form
    }

private:
    World& world_;
    std::shared_ptr<MsgData> stored_;
    PropMap working_;
    int version_;
    bool embedded_;
};

HRESULT Attach::OpenProperty(PropTag tag, Iid iid, std::uint32_t, std::uint32_t,
                             std::shared_ptr<IUnknown>& object) {
    object.reset();
    if (HRESULT hr = world_.faults.Check("Attach.OpenProperty"); Failed(hr)) {
        return hr;
    }
    if (tag == PR_ATTACH_DATA_OBJ && iid == Iid::IMessage && data_.embedded) {
        object = std::make_shared<Message>(world_, data_.embedded, true);
        return S_OK;
    }
    if (tag == PR_ATTACH_DATA_BIN && !data_.embedded) {
        object = std::make_shared<Stream>(world_, data_.data, nullptr);
        return S_OK;
    }
    return MAPI_E_NOT_FOUND;
}

class Folder : public IMAPIFolder {
public:
    Folder(World& world, std::shared_ptr<FolderData> data)
        : world_(world), data_(std::move(data)) {}
    HRESULT GetLastError(HRESULT, std::uint32_t, std::optional<MapiErrorInfo>& info) override {
        info.reset();
        return S_OK;
    }
    HRESULT GetProps(const PropTagArray*, std::uint32_t, std::vector<PropValue>& v) override {
        v.clear();
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT SetProps(const std::vector<PropValue>&, std::vector<PropProblem>*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT OpenProperty(PropTag, Iid, std::uint32_t, std::uint32_t,
                         std::shared_ptr<IUnknown>&) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT SaveChanges(std::uint32_t) override { return S_OK; }
    HRESULT GetContentsTable(std::uint32_t, std::shared_ptr<IMAPITable>& table) override {
        if (HRESULT hr = world_.faults.Check("Folder.GetContentsTable"); Failed(hr)) {
            return hr;
        }
        std::vector<PropMap> rows;
        for (const auto& m : data_->messages) {
            rows.push_back(m->props);
        }
        table = std::make_shared<Table>(world_, std::move(rows), true);
        return S_OK;
    }
    HRESULT GetHierarchyTable(std::uint32_t, std::shared_ptr<IMAPITable>&) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT OpenEntry(const EntryId&, Iid, std::uint32_t, std::uint32_t*,
                      std::shared_ptr<IUnknown>&) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT CopyMessages(const EntryList& messages, Iid, const std::shared_ptr<IMAPIFolder>& dest,
                         std::uintptr_t, void*, std::uint32_t flags) override {
        if (HRESULT hr = world_.faults.Check("Folder.CopyMessages"); Failed(hr)) {
            return hr;
        }
        auto* target = dynamic_cast<Folder*>(dest.get());
        for (const EntryId& id : messages) {
            auto it =
                std::find_if(data_->messages.begin(), data_->messages.end(),
                             [&](const auto& m) { return *m->props[PR_ENTRYID].Bin() == id; });
            if (it == data_->messages.end()) {
                return MAPI_E_NOT_FOUND;
            }
            target->data_->messages.push_back(*it);
            if ((flags & MESSAGE_MOVE) != 0) {
                data_->messages.erase(it);
            }
        }
        return S_OK;
    }

private:
    World& world_;
    std::shared_ptr<FolderData> data_;
};

class Store : public IMsgStore {
public:
    Store(World& world, std::shared_ptr<StoreData> data) : world_(world), data_(std::move(data)) {}
    HRESULT GetLastError(HRESULT, std::uint32_t, std::optional<MapiErrorInfo>& info) override {
        info = MapiErrorInfo{world_.lastError, "Fake store", 0};
        return S_OK;
    }
    HRESULT GetProps(const PropTagArray*, std::uint32_t, std::vector<PropValue>& v) override {
        v.clear();
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT SetProps(const std::vector<PropValue>&, std::vector<PropProblem>*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT OpenProperty(PropTag, Iid, std::uint32_t, std::uint32_t,
                         std::shared_ptr<IUnknown>&) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT SaveChanges(std::uint32_t) override { return S_OK; }
    HRESULT OpenEntry(const EntryId& id, Iid, std::uint32_t, std::uint32_t* type,
                      std::shared_ptr<IUnknown>& object) override {
        object.reset();
        if (HRESULT hr = world_.faults.Check("Store.OpenEntry"); Failed(hr)) {
            return hr;
        }
        for (const auto& f : data_->folders) {
            if (f->id == id) {
                *type = MAPI_FOLDER;
                object = std::make_shared<Folder>(world_, f);
                return S_OK;
            }
            for (const auto& m : f->messages) {
                if (*m->props[PR_ENTRYID].Bin() == id) {
                    *type = MAPI_MESSAGE;
                    object = std::make_shared<Message>(world_, m, false);
                    return S_OK;
                }
            }
        }
        return MAPI_E_NOT_FOUND;
    }
    HRESULT GetReceiveFolder(const std::string&, std::uint32_t, EntryId& id,
                             std::string* cls) override {
        if (data_->inbox.empty()) {
            return MAPI_E_NOT_FOUND;
        }
        id = data_->inbox;
        *cls = "IPM";
        return S_OK;
    }
    HRESULT StoreLogoff(std::uint32_t*) override {
        ++world_.storeLogoffs;
        return S_OK;
    }

private:
    World& world_;
    std::shared_ptr<StoreData> data_;
};

class Session : public IMAPISession {
public:
    explicit Session(World& world) : world_(world) {}
    HRESULT GetLastError(HRESULT, std::uint32_t, std::optional<MapiErrorInfo>& info) override {
        info = MapiErrorInfo{world_.lastError, "Fake session", 0};
        return S_OK;
    }
    HRESULT GetMsgStoresTable(std::uint32_t, std::shared_ptr<IMAPITable>& table) override {
        if (HRESULT hr = world_.faults.Check("Session.GetMsgStoresTable"); Failed(hr)) {
            return hr;
        }
        std::vector<PropMap> rows;
        for (const auto& s : world_.stores) {
            PropMap row;
            row[PR_DISPLAY_NAME] = Text(PR_DISPLAY_NAME, s->name);
            if (s->hasEntryId) {
                row[PR_ENTRYID] = Bin(PR_ENTRYID, s->id);
            }
            row[PR_DEFAULT_STORE] = Flag(PR_DEFAULT_STORE, s->isDefault);
            rows.push_back(row);
        }
        table = std::make_shared<Table>(world_, std::move(rows), false);
        return S_OK;
    }
    HRESULT OpenMsgStore(std::uintptr_t, const EntryId& id, Iid, std::uint32_t flags,
                         std::shared_ptr<IMsgStore>& store) override {
        store.reset();
        if (HRESULT hr = world_.faults.Check("Session.OpenMsgStore"); Failed(hr)) {
            return hr;
        }
        if (flags != 0x94) {
            return MAPI_E_UNKNOWN_FLAGS;
        }
        for (const auto& s : world_.stores) {
            if (s->id == id) {
                store = std::make_shared<Store>(world_, s);
                return S_OK;
            }
        }
        return MAPI_E_NOT_FOUND;
    }
    HRESULT Logoff(std::uintptr_t, std::uint32_t, std::uint32_t) override {
        ++world_.sessionLogoffs;
        return S_OK;
    }

private:
    World& world_;
};

} // namespace

std::shared_ptr<StoreData> World::AddStore(const std::string& name) {
    auto store = std::make_shared<StoreData>();
    store->name = name;
    store->id = Id("store:" + name);
    store->isDefault = stores.empty();
    stores.push_back(store);
    store->inbox = AddFolder(*store, "inbox:" + name)->id;
    return store;
}

std::shared_ptr<FolderData> World::AddFolder(StoreData& store, const std::string& idText) {
    auto folder = std::make_shared<FolderData>();
    folder->id = Id(idText);
    store.folders.push_back(folder);
    return folder;
}

std::shared_ptr<MsgData> World::AddMessage(FolderData& folder, const std::string& idText,
                                           const std::string& subject, std::int64_t submitUnix) {
    auto m = std::make_shared<MsgData>();
    m->props[PR_ENTRYID] = Bin(PR_ENTRYID, Id(idText));
    m->props[PR_SUBJECT] = Text(PR_SUBJECT, subject);
    m->props[PR_CLIENT_SUBMIT_TIME] =
        PropValue{PR_CLIENT_SUBMIT_TIME, FileTimeFromUnix(submitUnix)};
    m->props[PR_MESSAGE_FLAGS] = Long(PR_MESSAGE_FLAGS, 0);
    m->props[PR_STORE_SUPPORT_MASK] = Long(PR_STORE_SUPPORT_MASK, STORE_RTF_OK);
    folder.messages.push_back(m);
    return m;
}

MessagingEntry World::Entry() {
    MessagingEntry entry;
    entry.initialize = [this] { return faults.Check("Initialize"); };
    entry.uninitialize = [] {};
    entry.logon = [this](std::uintptr_t, const char* name, const char* password,
                         std::uint32_t flags, std::shared_ptr<IMAPISession>& session) {
        ++logons;
        lastLogonFlags = flags;
        lastProfileName = name != nullptr ? name : "<null>";
        lastPassword = password != nullptr ? password : "<null>";
        if (HRESULT hr = faults.Check("Logon"); Failed(hr)) {
            return hr;
        }
        if (!logonGivesNoSession) {
            session = std::make_shared<Session>(*this);
        }
        return S_OK;
    };
    return entry;
}

} // namespace qf::fake
