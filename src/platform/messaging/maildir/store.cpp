#include "platform/messaging/maildir/store.h"

#include "platform/messaging/entryid.h"
#include "platform/messaging/maildir/fsops.h"
#include "platform/messaging/maildir/mime.h"
#include "platform/messaging/provider.h"

#include "common/text.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace qf::mapi::maildir {

namespace {

constexpr const char* kComponent = "Maildir store";
constexpr std::uint32_t kSupportMask = STORE_ENTRYID_UNIQUE | STORE_MODIFY_OK | STORE_ATTACH_OK |
                                       STORE_RTF_OK | STORE_SORT_OK | STORE_HTML_OK |
                                       STORE_UNICODE_OK;
constexpr const char* kReplacementMark = "_qfr.";
constexpr const char* kMoveNoteSuffix = ".qfmove";

// ---------------------------------------------------------------------------
// Names

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

struct MessageFile {
    std::string subdir;   // "cur" or "new"
    std::string fileName; // unique + ":2,flags"
    std::string unique;
    std::string flags; // the letters after ":2,"
};

MessageFile SplitFileName(const std::string& subdir, const std::string& fileName) {
    MessageFile f;
    f.subdir = subdir;
    f.fileName = fileName;
    const std::size_t colon = fileName.find(':');
    f.unique = fileName.substr(0, colon);
    if (colon != std::string::npos && fileName.compare(colon, 3, ":2,") == 0) {
        f.flags = fileName.substr(colon + 3);
    }
    return f;
}

std::string WithFlags(const std::string& unique, std::string flags) {
    std::sort(flags.begin(), flags.end());
    flags.erase(std::unique(flags.begin(), flags.end()), flags.end());
    return unique + ":2," + flags;
}

std::string HostPart() {
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') {
        std::strcpy(host, "localhost");
    }
    std::string h(host);
    for (char& c : h) {
        if (c == '/' || c == ':' || c == '.') {
            c = '_';
        }
    }
    return h;
}

std::string NewUniqueName(bool replacement) {
    static unsigned long counter = 0;
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto sec = std::chrono::duration_cast<std::chrono::seconds>(now).count();
    const auto usec = std::chrono::duration_cast<std::chrono::microseconds>(now).count() % 1000000;
    return std::to_string(sec) + ".M" + std::to_string(usec) + "P" + std::to_string(::getpid()) +
           "Q" + std::to_string(++counter) + (replacement ? kReplacementMark : ".") + HostPart();
}

std::vector<MessageFile> ListMessageFiles(const std::string& folderPath) {
    std::vector<MessageFile> files;
    for (const char* sub : {"cur", "new"}) {
        DIR* dir = ::opendir((folderPath + "/" + sub).c_str());
        if (dir == nullptr) {
            continue;
        }
        while (dirent* e = ::readdir(dir)) {
            if (e->d_name[0] == '.') {
                continue;
            }
            if (e->d_type != DT_REG && e->d_type != DT_UNKNOWN) {
                continue;
            }
            files.push_back(SplitFileName(sub, e->d_name));
        }
        ::closedir(dir);
    }
    std::sort(files.begin(), files.end(),
              [](const MessageFile& a, const MessageFile& b) { return a.fileName < b.fileName; });
    return files;
}

// Files left in tmp/ by a process that stopped before renaming them: Maildir
// readers remove those older than 36 hours.
void RemoveStaleTemporaryFiles(const std::string& tmpPath) {
    DIR* dir = ::opendir(tmpPath.c_str());
    if (dir == nullptr) {
        return;
    }
    const auto cutoff = std::chrono::duration_cast<std::chrono::seconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count() -
                        36 * 3600;
    while (dirent* e = ::readdir(dir)) {
        if (e->d_name[0] == '.') {
            continue;
        }
        const std::string path = tmpPath + "/" + e->d_name;
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_mtime < cutoff) {
            ::unlink(path.c_str());
        }
    }
    ::closedir(dir);
}

FileTime FileTimeOf(const struct stat& st) {
    return FileTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
}

// ---------------------------------------------------------------------------
// Streams

// Copies up to `count` bytes of `data` from `pos` on, and moves `pos` past them.
HRESULT ReadAt(const std::string& data, std::size_t& pos, void* buffer, std::uint32_t count,
               std::uint32_t* read) {
    const std::size_t n = std::min<std::size_t>(count, data.size() - pos);
    if (n > 0) {
        std::memcpy(buffer, data.data() + pos, n);
    }
    pos += n;
    if (read != nullptr) {
        *read = static_cast<std::uint32_t>(n);
    }
    return S_OK;
}

class ReadStream : public IStream {
public:
    explicit ReadStream(std::string data) : data_(std::move(data)) {}
    HRESULT Read(void* buffer, std::uint32_t count, std::uint32_t* read) override {
        return ReadAt(data_, pos_, buffer, count, read);
    }
    HRESULT Write(const void*, std::uint32_t, std::uint32_t* written) override {
        if (written != nullptr) {
            *written = 0;
        }
        return STG_E_ACCESSDENIED;
    }
    HRESULT Commit(std::uint32_t) override { return S_OK; }

private:
    std::string data_;
    std::size_t pos_ = 0;
};

class WriteStream : public IStream {
public:
    using Sink = std::function<void(std::string)>;
    WriteStream(std::string initial, Sink sink)
        : data_(std::move(initial)), sink_(std::move(sink)) {}
    HRESULT Read(void* buffer, std::uint32_t count, std::uint32_t* read) override {
        return ReadAt(data_, pos_, buffer, count, read);
    }
    HRESULT Write(const void* buffer, std::uint32_t count, std::uint32_t* written) override {
        if (buffer == nullptr && count > 0) {
            return STG_E_INVALIDPOINTER;
        }
        data_.replace(pos_, std::min<std::size_t>(count, data_.size() - pos_),
                      static_cast<const char*>(buffer), count);
        pos_ += count;
        if (written != nullptr) {
            *written = count;
        }
        return S_OK;
    }
    HRESULT Commit(std::uint32_t) override {
        sink_(data_);
        return S_OK;
    }

private:
    std::string data_;
    std::size_t pos_ = 0;
    Sink sink_;
};

// ---------------------------------------------------------------------------
// What a message's properties are computed from.

struct MessageFacts {
    const StoreUid* store = nullptr;
    std::string folder;
    std::string unique; // empty: an embedded message
    std::string flags;
    bool known = true; // false: the file could not be read
    std::int64_t size = 0;
    std::optional<FileTime> fileTime;
    const Summary* summary = nullptr;
    std::optional<bool> hasAttach;
    ParsedContent* content = nullptr; // null unless the whole message was parsed
    const std::optional<std::string>* pendingSubject = nullptr;
    const std::optional<std::string>* pendingBody = nullptr;
};

enum class Depth { Headers, Structure, Full };

Depth DepthOf(PropTag tag) {
    switch (PROP_ID(tag)) {
    case PROP_ID(PR_HASATTACH):
    case PROP_ID(PR_MESSAGE_FLAGS):
        return Depth::Structure;
    case PROP_ID(PR_BODY):
    case PROP_ID(PR_BODY_HTML):
        return Depth::Full;
    default:
        return Depth::Headers;
    }
}

Depth DepthOf(const PropTagArray& tags) {
    Depth d = Depth::Headers;
    for (PropTag t : tags) {
        d = std::max(d, DepthOf(t));
    }
    return d;
}

const PropTagArray& AllMessageTags() {
    static const PropTagArray tags = {PR_ENTRYID,
                                      PR_RECORD_KEY,
                                      PR_INSTANCE_KEY,
                                      PR_PARENT_ENTRYID,
                                      PR_STORE_ENTRYID,
                                      PR_OBJECT_TYPE,
                                      PR_MESSAGE_CLASS,
                                      PR_SUBJECT,
                                      PR_SENDER_EMAIL_ADDRESS,
                                      PR_SENDER_NAME,
                                      PR_DISPLAY_TO,
                                      PR_DISPLAY_CC,
                                      PR_DISPLAY_BCC,
                                      PR_INTERNET_MESSAGE_ID,
                                      PR_CLIENT_SUBMIT_TIME,
                                      PR_MESSAGE_DELIVERY_TIME,
                                      PR_MESSAGE_SIZE,
                                      PR_MESSAGE_FLAGS,
                                      PR_HASATTACH,
                                      PR_STORE_SUPPORT_MASK,
                                      PR_ACCESS,
                                      PR_MSG_STATUS,
                                      PR_RTF_IN_SYNC,
                                      PR_BODY,
                                      PR_BODY_HTML};
    return tags;
}

PropValue MessageProp(PropTag tag, const MessageFacts& f) {
    const bool text = PROP_TYPE(tag) == PT_STRING8 || PROP_TYPE(tag) == PT_UNICODE;
    const Summary* s = f.summary;
    auto textProp = [&](const std::string& v) { return text ? MakeText(tag, v) : NotFound(tag); };
    switch (PROP_ID(tag)) {
    case PROP_ID(PR_ENTRYID):
    case PROP_ID(PR_RECORD_KEY):
    case PROP_ID(PR_INSTANCE_KEY):
        if (f.unique.empty() || PROP_TYPE(tag) != PT_BINARY) {
            return NotFound(tag);
        }
        return MakeBinary(tag, MakeMessageEntryId(*f.store, f.folder, f.unique));
    case PROP_ID(PR_PARENT_ENTRYID):
        return f.unique.empty() ? NotFound(tag)
                                : MakeBinary(tag, MakeFolderEntryId(*f.store, f.folder));
    case PROP_ID(PR_STORE_ENTRYID):
        return MakeBinary(tag, MakeStoreEntryId(*f.store));
    case PROP_ID(PR_OBJECT_TYPE):
        return MakeLong(tag, MAPI_MESSAGE);
    case PROP_ID(PR_MESSAGE_CLASS):
        return textProp("IPM.Note");
    case PROP_ID(PR_STORE_SUPPORT_MASK):
        return MakeLong(tag, kSupportMask);
    case PROP_ID(PR_ACCESS):
        return MakeLong(tag, f.unique.empty() ? 2 : 7);
    case PROP_ID(PR_MSG_STATUS):
        return MakeLong(tag, 0);
    case PROP_ID(PR_RTF_IN_SYNC):
        return MakeBool(tag, true);
    case PROP_ID(PR_MESSAGE_SIZE):
        return f.known
                   ? MakeLong(tag,
                              static_cast<std::int32_t>(std::min<std::int64_t>(f.size, INT32_MAX)))
                   : NotFound(tag);
    default:
        break;
    }
    if (!f.known || s == nullptr) {
        return NotFound(tag);
    }
    switch (PROP_ID(tag)) {
    case PROP_ID(PR_SUBJECT):
        return textProp(f.pendingSubject && *f.pendingSubject ? **f.pendingSubject : s->subject);
    case PROP_ID(PR_SENDER_EMAIL_ADDRESS):
        return textProp(s->senderAddress);
    case PROP_ID(PR_SENDER_NAME):
        return textProp(s->senderName);
    case PROP_ID(PR_DISPLAY_TO):
        return textProp(s->displayTo);
    case PROP_ID(PR_DISPLAY_CC):
        return textProp(s->displayCc);
    case PROP_ID(PR_DISPLAY_BCC):
        return textProp(s->displayBcc);
    case PROP_ID(PR_INTERNET_MESSAGE_ID):
        return s->messageId.empty() ? NotFound(tag) : textProp(s->messageId);
    case PROP_ID(PR_CLIENT_SUBMIT_TIME):
        return s->submitTime ? MakeTime(tag, FileTimeFromUnix(*s->submitTime)) : NotFound(tag);
    case PROP_ID(PR_MESSAGE_DELIVERY_TIME):
        if (s->deliveryTime) {
            return MakeTime(tag, FileTimeFromUnix(*s->deliveryTime));
        }
        return f.fileTime ? MakeTime(tag, *f.fileTime) : NotFound(tag);
    case PROP_ID(PR_HASATTACH):
        return f.hasAttach ? MakeBool(tag, *f.hasAttach) : NotFound(tag);
    case PROP_ID(PR_MESSAGE_FLAGS): {
        std::int32_t flags = 0;
        if (f.unique.empty() || f.flags.find('S') != std::string::npos) {
            flags |= MSGFLAG_READ;
        }
        if (f.hasAttach.value_or(false)) {
            flags |= MSGFLAG_HASATTACH;
        }
        return MakeLong(tag, flags);
    }
    case PROP_ID(PR_BODY):
        if (f.pendingBody && *f.pendingBody) {
            return textProp(**f.pendingBody);
        }
        return f.content ? textProp(f.content->PlainBody()) : NotFound(tag);
    case PROP_ID(PR_BODY_HTML):
        if (f.content == nullptr || f.content->HtmlBody().empty()) {
            return NotFound(tag);
        }
        if (PROP_TYPE(tag) == PT_BINARY) {
            const std::string& h = f.content->HtmlBody();
            return MakeBinary(tag, Binary(h.begin(), h.end()));
        }
        return textProp(f.content->HtmlBody());
    default:
        return NotFound(tag);
    }
}

std::vector<PropValue> MessageProps(const PropTagArray* tags, const MessageFacts& f) {
    std::vector<PropValue> out;
    for (PropTag t : tags ? *tags : AllMessageTags()) {
        PropValue v = MessageProp(t, f);
        if (tags != nullptr || PROP_TYPE(v.tag) != PT_ERROR) {
            out.push_back(std::move(v));
        }
    }
    return out;
}

HRESULT PropsResult(const std::vector<PropValue>& values) {
    for (const auto& v : values) {
        if (PROP_TYPE(v.tag) == PT_ERROR) {
            return MAPI_W_ERRORS_RETURNED;
        }
    }
    return S_OK;
}

class MaildirStore;
class MaildirFolder;

// ---------------------------------------------------------------------------
// Attachments and messages read from MIME

class MimeMessage;

class MimeAttach : public IAttach {
public:
    MimeAttach(std::shared_ptr<ParsedContent> content, std::size_t index, const StoreUid* store)
        : content_(std::move(content)), index_(index), store_(store) {
        error_.SetComponent(kComponent);
    }

    static std::vector<PropValue> RowOf(ParsedContent& content, std::size_t index) {
        const AttachmentInfo& a = content.attachments()[index];
        std::vector<PropValue> row;
        row.push_back(MakeLong(PR_ATTACH_NUM, static_cast<std::int32_t>(index)));
        row.push_back(
            MakeLong(PR_ATTACH_METHOD, a.embedded ? ATTACH_EMBEDDED_MSG : ATTACH_BY_VALUE));
        std::string display = a.longName;
        if (!a.longName.empty()) {
            row.push_back(MakeText(PR_ATTACH_LONG_FILENAME, a.longName));
            row.push_back(MakeText(PR_ATTACH_FILENAME, a.longName));
            const std::size_t dot = a.longName.rfind('.');
            if (dot != std::string::npos && dot > 0) {
                row.push_back(MakeText(PR_ATTACH_EXTENSION, a.longName.substr(dot)));
            }
        }
        if (a.embedded) {
            if (auto inner = content.Embedded(index)) {
                if (display.empty()) {
                    display = inner->summary().subject;
                }
            }
        }
        row.push_back(MakeText(PR_DISPLAY_NAME, display));
        row.push_back(MakeText(PR_ATTACH_MIME_TAG, a.mimeType));
        if (!a.contentId.empty()) {
            row.push_back(MakeText(PR_ATTACH_CONTENT_ID, a.contentId));
        }
        row.push_back(
            MakeLong(PR_ATTACH_SIZE, static_cast<std::int32_t>(std::min<std::size_t>(
                                         content.AttachmentData(index).size(), INT32_MAX))));
        row.push_back(MakeLong(PR_RENDERING_POSITION, -1));
        row.push_back(MakeLong(PR_OBJECT_TYPE, MAPI_ATTACH));
        return row;
    }

    HRESULT GetLastError(HRESULT hr, std::uint32_t, std::optional<MapiErrorInfo>& info) override {
        return error_.Get(hr, info);
    }
    HRESULT GetProps(const PropTagArray* tags, std::uint32_t,
                     std::vector<PropValue>& values) override {
        if (row_.empty()) {
            row_ = RowOf(*content_, index_);
        }
        return SelectProps(row_, tags, values);
    }
    HRESULT SetProps(const std::vector<PropValue>&, std::vector<PropProblem>*) override {
        return error_.Set(MAPI_E_NO_ACCESS, "Attachments of stored messages are read-only");
    }
    HRESULT OpenProperty(PropTag tag, Iid iid, std::uint32_t, std::uint32_t flags,
                         std::shared_ptr<IUnknown>& object) override;
    HRESULT SaveChanges(std::uint32_t) override { return S_OK; }

private:
    std::shared_ptr<ParsedContent> content_;
    std::size_t index_;
    const StoreUid* store_;
    std::vector<PropValue> row_;
    LastError error_;
};

// A message read from parsed MIME: the base of stored and embedded messages.
class MimeMessage : public IMessage {
public:
    HRESULT GetLastError(HRESULT hr, std::uint32_t, std::optional<MapiErrorInfo>& info) override {
        return error_.Get(hr, info);
    }

    HRESULT GetProps(const PropTagArray* tags, std::uint32_t,
                     std::vector<PropValue>& values) override {
        values.clear();
        HRESULT hr = Load();
        if (Failed(hr)) {
            return hr;
        }
        values = MessageProps(tags, Facts());
        return PropsResult(values);
    }

    HRESULT GetAttachmentTable(std::uint32_t, std::shared_ptr<IMAPITable>& table) override {
        table.reset();
        HRESULT hr = Load();
        if (Failed(hr)) {
            return hr;
        }
        std::vector<std::vector<PropValue>> rows;
        for (std::size_t i = 0; i < content_->attachments().size(); ++i) {
            rows.push_back(MimeAttach::RowOf(*content_, i));
        }
        table = MakeTable(std::make_shared<StaticSource>(
            std::move(rows), PropTagArray{PR_ATTACH_NUM, PR_ATTACH_METHOD, PR_ATTACH_LONG_FILENAME,
                                          PR_ATTACH_SIZE}));
        return S_OK;
    }

    HRESULT OpenAttach(std::uint32_t number, Iid iid, std::uint32_t,
                       std::shared_ptr<IAttach>& attach) override {
        attach.reset();
        HRESULT hr = Load();
        if (Failed(hr)) {
            return hr;
        }
        if (iid != Iid::IAttachment && iid != Iid::IMAPIProp && iid != Iid::None) {
            return error_.Set(MAPI_E_INTERFACE_NOT_SUPPORTED, "An attachment opens as IAttach");
        }
        if (number >= content_->attachments().size()) {
            return error_.Set(MAPI_E_NOT_FOUND,
                              "The message has no attachment " + std::to_string(number));
        }
        attach = std::make_shared<MimeAttach>(content_, number, store_);
        return S_OK;
    }

    HRESULT OpenProperty(PropTag tag, Iid iid, std::uint32_t, std::uint32_t flags,
                         std::shared_ptr<IUnknown>& object) override {
        object.reset();
        if (iid != Iid::IStream) {
            return error_.Set(MAPI_E_INTERFACE_NOT_SUPPORTED,
                              "Message properties open as streams only");
        }
        const std::uint32_t id = PROP_ID(tag);
        if (id != PROP_ID(PR_BODY) && id != PROP_ID(PR_BODY_HTML) && id != PROP_ID(PR_SUBJECT)) {
            return error_.Set(MAPI_E_NOT_FOUND, "The property does not open as a stream");
        }
        HRESULT hr = Load();
        if (Failed(hr)) {
            return hr;
        }
        if ((flags & MAPI_MODIFY) != 0) {
            if (id == PROP_ID(PR_BODY_HTML)) {
                return error_.Set(MAPI_E_NO_ACCESS, "The HTML body cannot be written");
            }
            if (Failed(hr = CanModify())) {
                return hr;
            }
            std::string initial;
            if ((flags & MAPI_CREATE) == 0) {
                initial = TextOf(MessageProp(CHANGE_PROP_TYPE(tag, PT_STRING8), Facts()));
            }
            const bool body = id == PROP_ID(PR_BODY);
            const bool wide = PROP_TYPE(tag) == PT_UNICODE;
            object = std::make_shared<WriteStream>(initial, [this, body, wide](std::string data) {
                if (wide) {
                    std::u16string w(data.size() / 2, u'\0');
                    std::memcpy(w.data(), data.data(), w.size() * 2);
                    data = Utf16ToUtf8(w);
                }
                (body ? pendingBody_ : pendingSubject_) = std::move(data);
            });
            return S_OK;
        }
        PropValue v = MessageProp(CHANGE_PROP_TYPE(tag, PT_STRING8), Facts());
        if (PROP_TYPE(v.tag) == PT_ERROR) {
            return error_.Set(MAPI_E_NOT_FOUND, "The message has no such property");
        }
        std::string data = TextOf(v);
        if (PROP_TYPE(tag) == PT_UNICODE) {
            const std::u16string w = Utf8ToUtf16(data);
            data.assign(reinterpret_cast<const char*>(w.data()), w.size() * 2);
        }
        object = std::make_shared<ReadStream>(std::move(data));
        return S_OK;
    }

    HRESULT SetProps(const std::vector<PropValue>& values,
                     std::vector<PropProblem>* problems) override {
        if (problems != nullptr) {
            problems->clear();
        }
        HRESULT hr = Load();
        if (Failed(hr) || Failed(hr = CanModify())) {
            return hr;
        }
        for (std::size_t i = 0; i < values.size(); ++i) {
            const PropValue& v = values[i];
            const bool isText = v.Text() != nullptr || v.TextW() != nullptr;
            if (PROP_ID(v.tag) == PROP_ID(PR_SUBJECT) && isText) {
                pendingSubject_ = TextOf(v);
            } else if (PROP_ID(v.tag) == PROP_ID(PR_BODY) && isText) {
                pendingBody_ = TextOf(v);
            } else if (problems != nullptr) {
                problems->push_back(
                    PropProblem{static_cast<std::uint32_t>(i), v.tag, MAPI_E_COMPUTED});
            }
        }
        return S_OK;
    }

protected:
    explicit MimeMessage(const StoreUid* store) : store_(store) { error_.SetComponent(kComponent); }

    virtual HRESULT Load() = 0;
    virtual HRESULT CanModify() = 0;
    virtual MessageFacts Facts() = 0;

    const StoreUid* store_;
    std::shared_ptr<ParsedContent> content_;
    std::optional<std::string> pendingSubject_;
    std::optional<std::string> pendingBody_;
    LastError error_;
};

class EmbeddedMessage : public MimeMessage {
public:
    EmbeddedMessage(std::shared_ptr<ParsedContent> content, const StoreUid* store)
        : MimeMessage(store) {
        content_ = std::move(content);
    }
    HRESULT SetReadFlag(std::uint32_t) override { return S_OK; }
    HRESULT SaveChanges(std::uint32_t) override {
        return error_.Set(MAPI_E_NO_ACCESS, "A message inside another message is read-only");
    }

protected:
    HRESULT Load() override { return S_OK; }
    HRESULT CanModify() override {
        return error_.Set(MAPI_E_NO_ACCESS, "A message inside another message is read-only");
    }
    MessageFacts Facts() override {
        MessageFacts f;
        f.store = store_;
        f.size = static_cast<std::int64_t>(content_->Size());
        f.summary = &content_->summary();
        f.hasAttach = content_->HasAttachments();
        f.content = content_.get();
        return f;
    }
};

HRESULT MimeAttach::OpenProperty(PropTag tag, Iid iid, std::uint32_t, std::uint32_t flags,
                                 std::shared_ptr<IUnknown>& object) {
    object.reset();
    if ((flags & MAPI_MODIFY) != 0) {
        return error_.Set(MAPI_E_NO_ACCESS, "Attachments of stored messages are read-only");
    }
    const AttachmentInfo& a = content_->attachments()[index_];
    if (tag == PR_ATTACH_DATA_OBJ && iid == Iid::IMessage) {
        auto inner = content_->Embedded(index_);
        if (!inner) {
            return error_.Set(MAPI_E_NOT_FOUND, "The attachment is not a message");
        }
        object = std::make_shared<EmbeddedMessage>(std::move(inner), store_);
        return S_OK;
    }
    if (iid == Iid::IStorage) {
        return error_.Set(MAPI_E_INTERFACE_NOT_SUPPORTED, "Attachments here have no storage");
    }
    if (iid != Iid::IStream && iid != Iid::IStreamDocfile) {
        return error_.Set(MAPI_E_INTERFACE_NOT_SUPPORTED, "Attachment data opens as a stream");
    }
    if (tag == PR_ATTACH_DATA_BIN || (tag == PR_ATTACH_DATA_OBJ && a.embedded)) {
        object = std::make_shared<ReadStream>(content_->AttachmentData(index_));
        return S_OK;
    }
    return error_.Set(MAPI_E_NOT_FOUND, "The attachment has no such property");
}

// ---------------------------------------------------------------------------
// The store

class MaildirStore : public IMsgStore, public std::enable_shared_from_this<MaildirStore> {
public:
    MaildirStore(StoreConfig config, bool isDefault, StoreUid uid)
        : config_(std::move(config)), root_(config_.location), isDefault_(isDefault), uid_(uid) {
        error_.SetComponent(kComponent);
    }

    const StoreUid& uid() const { return uid_; }
    const std::string& root() const { return root_; }
    LastError& error() { return error_; }

    std::string FolderPath(const std::string& folder) const {
        return folder.empty() ? root_ : root_ + "/" + folder;
    }

    bool FolderExists(const std::string& folder) const {
        const std::string p = FolderPath(folder);
        return IsDirectory(p) && IsDirectory(p + "/cur");
    }

    std::vector<std::string> FolderNames() const {
        std::vector<std::string> names;
        DIR* dir = ::opendir(root_.c_str());
        if (dir == nullptr) {
            return names;
        }
        while (dirent* e = ::readdir(dir)) {
            const std::string n = e->d_name;
            if (IsValidFolderName(n) && n != "" && FolderExists(n)) {
                names.push_back(n);
            }
        }
        ::closedir(dir);
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string ParentOf(const std::string& folder, const std::vector<std::string>& all) const {
        std::string p = folder;
        for (;;) {
            const std::size_t dot = p.rfind('.');
            if (dot == 0 || dot == std::string::npos) {
                return "";
            }
            p.resize(dot);
            if (std::find(all.begin(), all.end(), p) != all.end()) {
                return p;
            }
        }
    }

    static std::string DisplayNameOf(const std::string& folder) {
        if (folder.empty()) {
            return "Inbox";
        }
        const std::size_t dot = folder.rfind('.');
        return DecodeModifiedUtf7(folder.substr(dot + 1));
    }

    // Finds a message file by its unique name; refreshes the folder's index when
    // the remembered file has gone (renamed by another program, say).
    bool Locate(const std::string& folder, const std::string& unique, MessageFile& found) {
        auto& index = index_[folder];
        auto it = index.find(unique);
        if (it != index.end()) {
            struct stat st {};
            const std::string path =
                FolderPath(folder) + "/" + it->second.subdir + "/" + it->second.fileName;
            if (::lstat(path.c_str(), &st) == 0) {
                found = it->second;
                return true;
            }
        }
        Reindex(folder);
        it = index.find(unique);
        if (it == index.end()) {
            return false;
        }
        found = it->second;
        return true;
    }

    void Reindex(const std::string& folder) {
        auto& index = index_[folder];
        index.clear();
        for (auto& f : ListMessageFiles(FolderPath(folder))) {
            index[f.unique] = f;
        }
    }

    void Forget(const std::string& folder, const std::string& unique) {
        index_[folder].erase(unique);
    }
    void Remember(const std::string& folder, const MessageFile& f) { index_[folder][f.unique] = f; }

    // The message that replaced `unique` (it lists every name it replaced).
    bool FindReplacement(const std::string& folder, const std::string& unique, MessageFile& found) {
        std::size_t best = 0;
        for (const auto& f : ListMessageFiles(FolderPath(folder))) {
            if (!IsReplacementName(f.unique)) {
                continue;
            }
            std::string head;
            if (ReadHeaderBytes(FolderPath(folder) + "/" + f.subdir + "/" + f.fileName, head) !=
                0) {
                continue;
            }
            const auto names = Summarize(SplitHeaders(head).headers).replaces;
            if (names.size() > best &&
                std::find(names.begin(), names.end(), unique) != names.end()) {
                best = names.size();
                found = f;
            }
        }
        return best > 0;
    }

    // Finishes moves to another store or file system that a stopped process left
    // half done: a note in tmp/ names the copy; when the copy is complete in its
    // folder, the original goes.
    void FinishMoves(const std::string& folder, std::vector<MessageFile>& files) {
        const std::string tmp = FolderPath(folder) + "/tmp";
        DIR* dir = ::opendir(tmp.c_str());
        if (dir == nullptr) {
            return;
        }
        std::vector<std::string> notes;
        while (dirent* e = ::readdir(dir)) {
            const std::string n = e->d_name;
            const std::size_t suffix = std::strlen(kMoveNoteSuffix);
            if (n.size() > suffix && n.compare(n.size() - suffix, suffix, kMoveNoteSuffix) == 0) {
                notes.push_back(n);
            }
        }
        ::closedir(dir);
        for (const std::string& n : notes) {
            const std::string unique = n.substr(0, n.size() - std::strlen(kMoveNoteSuffix));
            std::string text;
            if (ReadWholeFile(tmp + "/" + n, text) != 0) {
                continue;
            }
            const std::size_t nl = text.find('\n');
            const std::string destPath = text.substr(0, nl);
            const std::string copy = nl == std::string::npos
                                         ? std::string()
                                         : text.substr(nl + 1, text.find('\n', nl + 1) - nl - 1);
            bool copied = false;
            for (const auto& f : ListMessageFiles(destPath)) {
                copied = copied || (!copy.empty() && f.unique == copy);
            }
            if (copied) {
                for (auto it = files.begin(); it != files.end();) {
                    if (it->unique == unique &&
                        (destPath != FolderPath(folder) || unique != copy)) {
                        const int err =
                            RemoveFile(FolderPath(folder) + "/" + it->subdir + "/" + it->fileName);
                        if (err == 0 || err == ENOENT) {
                            SyncFolder(FolderPath(folder) + "/" + it->subdir);
                            index_[folder].erase(unique);
                            it = files.erase(it);
                            continue;
                        }
                    }
                    ++it;
                }
            }
            RemoveFile(tmp + "/" + n);
        }
    }

    // Finishes replacements a stopped process left half done: a marked message
    // whose replaced message is still there removes that one.
    void FinishReplacements(const std::string& folder, std::vector<MessageFile>& files) {
        std::map<std::string, std::size_t> byUnique;
        for (std::size_t i = 0; i < files.size(); ++i) {
            byUnique[files[i].unique] = i;
        }
        std::vector<bool> drop(files.size(), false);
        bool removed = false;
        for (const auto& f : files) {
            if (!IsReplacementName(f.unique)) {
                continue;
            }
            std::string head;
            if (ReadHeaderBytes(FolderPath(folder) + "/" + f.subdir + "/" + f.fileName, head) !=
                0) {
                continue;
            }
            for (const std::string& old : Summarize(SplitHeaders(head).headers).replaces) {
                auto it = byUnique.find(old);
                if (it == byUnique.end() || drop[it->second] || old == f.unique) {
                    continue;
                }
                const MessageFile& o = files[it->second];
                const std::string path = FolderPath(folder) + "/" + o.subdir + "/" + o.fileName;
                const int err = RemoveFile(path);
                if (err == 0 || err == ENOENT) {
                    drop[it->second] = true;
                    removed = true;
                    SyncFolder(FolderPath(folder) + "/" + o.subdir);
                }
            }
        }
        if (removed) {
            std::vector<MessageFile> kept;
            for (std::size_t i = 0; i < files.size(); ++i) {
                if (!drop[i]) {
                    kept.push_back(files[i]);
                }
            }
            files = std::move(kept);
        }
    }

    std::vector<PropValue> FolderProps(const std::string& folder) {
        const auto all = FolderNames();
        bool hasChildren = false;
        for (const auto& n : all) {
            if (n != folder && ParentOf(n, all) == folder) {
                hasChildren = true;
                break;
            }
        }
        const auto files = ListMessageFiles(FolderPath(folder));
        std::int32_t unread = 0;
        for (const auto& f : files) {
            unread += f.flags.find('S') == std::string::npos ? 1 : 0;
        }
        std::vector<PropValue> props = {
            MakeText(PR_DISPLAY_NAME, DisplayNameOf(folder)),
            MakeBinary(PR_ENTRYID, MakeFolderEntryId(uid_, folder)),
            MakeBinary(PR_RECORD_KEY, MakeFolderEntryId(uid_, folder)),
            MakeBinary(PR_STORE_ENTRYID, MakeStoreEntryId(uid_)),
            MakeLong(PR_OBJECT_TYPE, MAPI_FOLDER),
            MakeLong(PR_FOLDER_TYPE, 1),
            MakeBool(PR_SUBFOLDERS, hasChildren),
            MakeLong(PR_CONTENT_COUNT, static_cast<std::int32_t>(files.size())),
            MakeLong(PR_CONTENT_UNREAD, unread),
        };
        if (!folder.empty()) {
            props.push_back(
                MakeBinary(PR_PARENT_ENTRYID, MakeFolderEntryId(uid_, ParentOf(folder, all))));
        }
        return props;
    }

    // IMsgStore
    HRESULT GetLastError(HRESULT hr, std::uint32_t, std::optional<MapiErrorInfo>& info) override {
        return error_.Get(hr, info);
    }

    HRESULT GetProps(const PropTagArray* tags, std::uint32_t,
                     std::vector<PropValue>& values) override {
        const std::vector<PropValue> all = {
            MakeText(PR_DISPLAY_NAME, config_.displayName),
            MakeBinary(PR_ENTRYID, MakeStoreEntryId(uid_)),
            MakeBinary(PR_STORE_ENTRYID, MakeStoreEntryId(uid_)),
            MakeBinary(PR_RECORD_KEY, Binary(uid_.begin(), uid_.end())),
            MakeBinary(PR_IPM_SUBTREE_ENTRYID, MakeFolderEntryId(uid_, "")),
            MakeBinary(PR_MDB_PROVIDER, kMaildirProviderUid),
            MakeLong(PR_STORE_SUPPORT_MASK, kSupportMask),
            MakeBool(PR_DEFAULT_STORE, isDefault_),
            MakeLong(PR_OBJECT_TYPE, MAPI_STORE),
            MakeText(PR_PROVIDER_DISPLAY, "Maildir"),
        };
        return SelectProps(all, tags, values);
    }
    HRESULT SetProps(const std::vector<PropValue>&, std::vector<PropProblem>*) override {
        return error_.Set(MAPI_E_NO_ACCESS, "Store properties cannot be changed");
    }
    HRESULT OpenProperty(PropTag, Iid, std::uint32_t, std::uint32_t,
                         std::shared_ptr<IUnknown>& object) override {
        object.reset();
        return error_.Set(MAPI_E_NO_SUPPORT, "Store properties do not open as objects");
    }
    HRESULT SaveChanges(std::uint32_t) override { return S_OK; }

    HRESULT OpenEntry(const EntryId& id, Iid iid, std::uint32_t flags, std::uint32_t* objectType,
                      std::shared_ptr<IUnknown>& object) override;

    HRESULT GetReceiveFolder(const std::string&, std::uint32_t, EntryId& entryId,
                             std::string* explicitClass) override {
        if (!FolderExists("")) {
            entryId.clear();
            return error_.Set(MAPI_E_NOT_FOUND, "No inbox at " + root_);
        }
        entryId = MakeFolderEntryId(uid_, "");
        if (explicitClass != nullptr) {
            *explicitClass = "IPM";
        }
        return S_OK;
    }

    HRESULT StoreLogoff(std::uint32_t*) override { return S_OK; }

private:
    StoreConfig config_;
    std::string root_;
    bool isDefault_;
    StoreUid uid_;
    std::map<std::string, std::map<std::string, MessageFile>> index_;
    LastError error_;
};

// ---------------------------------------------------------------------------
// Contents table

class ContentsSource : public TableSource {
public:
    ContentsSource(std::shared_ptr<MaildirStore> store, std::string folder,
                   std::vector<MessageFile> files)
        : store_(std::move(store)), folder_(std::move(folder)), files_(std::move(files)),
          rows_(files_.size()) {}

    std::size_t RowCount() override { return files_.size(); }
    PropTagArray DefaultColumns() override {
        return {PR_ENTRYID,      PR_SUBJECT,      PR_SENDER_EMAIL_ADDRESS, PR_MESSAGE_DELIVERY_TIME,
                PR_MESSAGE_SIZE, PR_MESSAGE_FLAGS};
    }
    std::string Component() const override { return kComponent; }

    HRESULT Values(std::size_t row, const PropTagArray& tags, Row& values) override {
        values.clear();
        if (row >= files_.size()) {
            return MAPI_E_INVALID_PARAMETER;
        }
        const Depth depth = DepthOf(tags);
        RowState& st = rows_[row];
        const MessageFile& file = files_[row];
        const std::string path =
            store_->FolderPath(folder_) + "/" + file.subdir + "/" + file.fileName;
        std::shared_ptr<ParsedContent> full;
        if (!st.loaded || (depth > Depth::Headers && !st.hasAttach)) {
            struct stat sb {};
            if (::lstat(path.c_str(), &sb) == 0) {
                st.size = sb.st_size;
                st.fileTime = FileTimeOf(sb);
            }
            // The header block tells most; only a multipart's structure needs the
            // whole file.
            std::string bytes;
            int err = 0;
            if (!st.loaded) {
                err = ReadHeaderBytes(path, bytes);
                st.loaded = true;
                st.known = err == 0;
                if (st.known) {
                    st.summary = Summarize(SplitHeaders(bytes).headers);
                    st.hasAttach = HasAttachmentsFromHeaders(st.summary);
                }
            }
            if (st.known && depth > Depth::Headers && !st.hasAttach) {
                if (ReadWholeFile(path, bytes) == 0) {
                    full = ParsedContent::Parse(std::move(bytes));
                    st.hasAttach = full->HasAttachments();
                } else {
                    st.known = false;
                }
            }
        }
        if (depth == Depth::Full && !full && st.known) {
            std::string bytes;
            if (ReadWholeFile(path, bytes) == 0) {
                full = ParsedContent::Parse(std::move(bytes));
            }
        }
        MessageFacts f;
        f.store = &store_->uid();
        f.folder = folder_;
        f.unique = file.unique;
        f.flags = file.flags;
        f.known = st.known;
        f.size = st.size;
        f.fileTime = st.fileTime;
        f.summary = &st.summary;
        f.hasAttach = st.hasAttach;
        f.content = full.get();
        values = MessageProps(&tags, f);
        return S_OK;
    }

private:
    struct RowState {
        bool loaded = false;
        bool known = false;
        std::int64_t size = 0;
        std::optional<FileTime> fileTime;
        Summary summary;
        std::optional<bool> hasAttach;
    };
    std::shared_ptr<MaildirStore> store_;
    std::string folder_;
    std::vector<MessageFile> files_;
    std::vector<RowState> rows_;
};

// ---------------------------------------------------------------------------
// Stored messages

class StoredMessage : public MimeMessage {
public:
    StoredMessage(std::shared_ptr<MaildirStore> store, std::string folder, MessageFile file)
        : MimeMessage(&store->uid()), store_(std::move(store)), folder_(std::move(folder)),
          file_(std::move(file)) {
        error_.MirrorTo(&store_->error());
    }

    HRESULT SetReadFlag(std::uint32_t flags) override {
        MessageFile now;
        if (!store_->Locate(folder_, file_.unique, now)) {
            return error_.Set(MAPI_E_OBJECT_DELETED,
                              "Message " + file_.unique + " is no longer in " + FolderPath());
        }
        file_ = now;
        std::string newFlags = now.flags;
        if ((flags & CLEAR_READ_FLAG) != 0) {
            newFlags.erase(std::remove(newFlags.begin(), newFlags.end(), 'S'), newFlags.end());
        } else {
            newFlags += 'S';
        }
        const std::string newName = WithFlags(now.unique, newFlags);
        if (now.subdir == "cur" && newName == now.fileName) {
            return S_OK;
        }
        const std::string from = PathOf(now);
        const std::string to = FolderPath() + "/cur/" + newName;
        if (const int err = RenameNoReplace(from, to); err != 0) {
            return error_.Set(MAPI_E_DISK_ERROR, "Cannot rename " + from + " to " + to, err);
        }
        SyncFolder(FolderPath() + "/cur");
        if (now.subdir != "cur") {
            SyncFolder(FolderPath() + "/" + now.subdir);
        }
        file_ = SplitFileName("cur", newName);
        store_->Remember(folder_, file_);
        return S_OK;
    }

    HRESULT SaveChanges(std::uint32_t flags) override;

    const MessageFile& file() const { return file_; }
    const std::string& folder() const { return folder_; }

protected:
    std::string FolderPath() const { return store_->FolderPath(folder_); }
    std::string PathOf(const MessageFile& f) const {
        return FolderPath() + "/" + f.subdir + "/" + f.fileName;
    }

    HRESULT Load() override {
        if (content_) {
            return S_OK;
        }
        std::string bytes;
        const std::string path = PathOf(file_);
        int err = ReadWholeFile(path, bytes);
        if (err == ENOENT) {
            MessageFile now;
            if (store_->Locate(folder_, file_.unique, now)) {
                file_ = now;
                err = ReadWholeFile(PathOf(file_), bytes);
            }
        }
        if (err != 0) {
            return error_.Set(err == ENOENT ? MAPI_E_OBJECT_DELETED : MAPI_E_DISK_ERROR,
                              "Cannot read " + PathOf(file_), err);
        }
        struct stat st {};
        if (::lstat(PathOf(file_).c_str(), &st) == 0) {
            inode_ = st.st_ino;
            fileTime_ = FileTimeOf(st);
        }
        size_ = static_cast<std::int64_t>(bytes.size());
        content_ = ParsedContent::Parse(std::move(bytes));
        return S_OK;
    }

    HRESULT CanModify() override { return S_OK; }

    MessageFacts Facts() override {
        MessageFacts f;
        f.store = &store_->uid();
        f.folder = folder_;
        f.unique = file_.unique;
        f.flags = file_.flags;
        f.size = size_;
        f.fileTime = fileTime_;
        f.summary = &content_->summary();
        f.hasAttach = content_->HasAttachments();
        f.content = content_.get();
        f.pendingSubject = &pendingSubject_;
        f.pendingBody = &pendingBody_;
        return f;
    }

private:
    std::shared_ptr<MaildirStore> store_;
    std::string folder_;
    MessageFile file_;
    ino_t inode_ = 0;
    std::int64_t size_ = 0;
    std::optional<FileTime> fileTime_;
};

HRESULT StoredMessage::SaveChanges(std::uint32_t flags) {
    if (!pendingSubject_ && !pendingBody_) {
        return S_OK;
    }
    HRESULT hr = Load();
    if (Failed(hr)) {
        return hr;
    }
    // Where is the message now, and is it still the one we read?
    MessageFile now;
    bool changed = false;
    if (store_->Locate(folder_, file_.unique, now)) {
        struct stat st {};
        changed = ::lstat(PathOf(now).c_str(), &st) != 0 || st.st_ino != inode_;
    } else if (store_->FindReplacement(folder_, file_.unique, now)) {
        changed = true;
    } else {
        return error_.Set(MAPI_E_OBJECT_DELETED,
                          "Message " + file_.unique + " is no longer in " + FolderPath());
    }
    if (changed && (flags & FORCE_SAVE) == 0) {
        return error_.Set(MAPI_E_OBJECT_CHANGED,
                          "Message " + file_.unique + " was changed by another program");
    }
    std::string bytes;
    if (const int err = ReadWholeFile(PathOf(now), bytes); err != 0) {
        return error_.Set(MAPI_E_DISK_ERROR, "Cannot read " + PathOf(now), err);
    }
    if (pendingBody_) {
        bytes = ParsedContent::Parse(std::move(bytes))->WithNewBody(*pendingBody_);
    }
    bytes = RewriteHeaders(bytes, pendingSubject_, now.unique);

    const std::string unique = NewUniqueName(true);
    const std::string tmp = FolderPath() + "/tmp/" + unique;
    if (!IsDirectory(FolderPath() + "/tmp")) {
        ::mkdir((FolderPath() + "/tmp").c_str(), 0700);
    }
    if (const int err = WriteNewFile(tmp, bytes); err != 0) {
        return error_.Set(err == ENOSPC ? MAPI_E_NOT_ENOUGH_DISK : MAPI_E_DISK_ERROR,
                          "Cannot write " + tmp, err);
    }
    const MessageFile next = SplitFileName("cur", WithFlags(unique, now.flags));
    if (const int err = RenameNoReplace(tmp, PathOf(next)); err != 0) {
        ::unlink(tmp.c_str());
        return error_.Set(MAPI_E_DISK_ERROR, "Cannot rename " + tmp + " to " + PathOf(next), err);
    }
    SyncFolder(FolderPath() + "/cur");
    // The new message is in place: the old one goes.  Should this step not happen,
    // the next listing of the folder finishes it.
    if (const int err = RemoveFile(PathOf(now)); err == 0) {
        SyncFolder(FolderPath() + "/" + now.subdir);
    }
    store_->Forget(folder_, now.unique);
    store_->Remember(folder_, next);
    file_ = next;
    pendingSubject_.reset();
    pendingBody_.reset();
    content_.reset();
    return Load();
}

// ---------------------------------------------------------------------------
// Folders

class MaildirFolder : public IMAPIFolder {
public:
    MaildirFolder(std::shared_ptr<MaildirStore> store, std::string folder)
        : store_(std::move(store)), folder_(std::move(folder)) {
        error_.SetComponent(kComponent);
        error_.MirrorTo(&store_->error());
    }

    const std::string& folder() const { return folder_; }
    const std::shared_ptr<MaildirStore>& store() const { return store_; }
    std::string Path() const { return store_->FolderPath(folder_); }

    HRESULT GetLastError(HRESULT hr, std::uint32_t, std::optional<MapiErrorInfo>& info) override {
        return error_.Get(hr, info);
    }
    HRESULT GetProps(const PropTagArray* tags, std::uint32_t,
                     std::vector<PropValue>& values) override {
        return SelectProps(store_->FolderProps(folder_), tags, values);
    }
    HRESULT SetProps(const std::vector<PropValue>&, std::vector<PropProblem>*) override {
        return error_.Set(MAPI_E_NO_ACCESS, "Folder properties cannot be changed");
    }
    HRESULT OpenProperty(PropTag, Iid, std::uint32_t, std::uint32_t,
                         std::shared_ptr<IUnknown>& object) override {
        object.reset();
        return error_.Set(MAPI_E_NO_SUPPORT, "Folder properties do not open as objects");
    }
    HRESULT SaveChanges(std::uint32_t) override { return S_OK; }

    HRESULT GetContentsTable(std::uint32_t, std::shared_ptr<IMAPITable>& table) override {
        table.reset();
        if (!store_->FolderExists(folder_)) {
            return error_.Set(MAPI_E_OBJECT_DELETED, "Folder " + Path() + " no longer exists");
        }
        auto files = ListMessageFiles(Path());
        store_->FinishMoves(folder_, files);
        store_->FinishReplacements(folder_, files);
        RemoveStaleTemporaryFiles(Path() + "/tmp");
        table = MakeTable(std::make_shared<ContentsSource>(store_, folder_, std::move(files)));
        return S_OK;
    }

    HRESULT GetHierarchyTable(std::uint32_t, std::shared_ptr<IMAPITable>& table) override {
        table.reset();
        const auto all = store_->FolderNames();
        std::vector<std::vector<PropValue>> rows;
        for (const auto& n : all) {
            if (store_->ParentOf(n, all) == folder_) {
                rows.push_back(store_->FolderProps(n));
            }
        }
        table = MakeTable(std::make_shared<StaticSource>(
            std::move(rows), PropTagArray{PR_DISPLAY_NAME, PR_ENTRYID, PR_SUBFOLDERS}));
        return S_OK;
    }

    HRESULT OpenEntry(const EntryId& id, Iid iid, std::uint32_t flags, std::uint32_t* objectType,
                      std::shared_ptr<IUnknown>& object) override {
        if (id.empty()) {
            object = std::make_shared<MaildirFolder>(store_, folder_);
            if (objectType != nullptr) {
                *objectType = MAPI_FOLDER;
            }
            return S_OK;
        }
        HRESULT hr = store_->OpenEntry(id, iid, flags, objectType, object);
        if (Failed(hr)) {
            std::optional<MapiErrorInfo> info;
            store_->GetLastError(hr, 0, info);
            error_.Set(hr, info ? info->error : "Cannot open the entry");
        }
        return hr;
    }

    HRESULT CopyMessages(const EntryList& messages, Iid, const std::shared_ptr<IMAPIFolder>& dest,
                         std::uintptr_t, void*, std::uint32_t flags) override;

    LastError& error() { return error_; }

private:
    HRESULT CopyOne(const EntryId& id, MaildirFolder& dest, bool move);

    std::shared_ptr<MaildirStore> store_;
    std::string folder_;
    LastError error_;
};

HRESULT MaildirFolder::CopyMessages(const EntryList& messages, Iid,
                                    const std::shared_ptr<IMAPIFolder>& destination, std::uintptr_t,
                                    void*, std::uint32_t flags) {
    auto* dest = dynamic_cast<MaildirFolder*>(destination.get());
    if (dest == nullptr) {
        return error_.Set(MAPI_E_NO_SUPPORT, "The destination is not a Maildir folder");
    }
    if (!dest->store_->FolderExists(dest->folder_)) {
        return error_.Set(MAPI_E_NOT_FOUND, "Folder " + dest->Path() + " does not exist");
    }
    for (const EntryId& id : messages) {
        HRESULT hr = CopyOne(id, *dest, (flags & MESSAGE_MOVE) != 0);
        if (Failed(hr)) {
            return hr;
        }
    }
    return S_OK;
}

HRESULT MaildirFolder::CopyOne(const EntryId& id, MaildirFolder& dest, bool move) {
    auto parts = ParseEntryId(id);
    if (!parts || parts->kind != EntryKind::Message || parts->store != store_->uid() ||
        !IsValidFolderName(parts->folder) || !IsValidUniqueName(parts->message)) {
        return error_.Set(MAPI_E_INVALID_ENTRYID, "The identifier does not name a message here");
    }
    if (parts->folder != folder_) {
        return error_.Set(MAPI_E_NOT_FOUND, "The message is not in folder " + Path());
    }
    MessageFile file;
    if (!store_->Locate(folder_, parts->message, file) &&
        !store_->FindReplacement(folder_, parts->message, file)) {
        return error_.Set(MAPI_E_NOT_FOUND,
                          "Message " + parts->message + " is no longer in " + Path());
    }
    const std::string from = Path() + "/" + file.subdir + "/" + file.fileName;
    const std::string fromSubdir = file.subdir;
    if (move && &dest == this) {
        return S_OK;
    }
    if (move && dest.store_->root() == store_->root()) {
        // Same store: a rename keeps the message exactly once at every instant.
        std::string to = dest.Path() + "/" + file.subdir + "/" + file.fileName;
        int err = RenameNoReplace(from, to);
        if (err == EEXIST) {
            file = SplitFileName("cur", WithFlags(NewUniqueName(false), file.flags));
            to = dest.Path() + "/cur/" + file.fileName;
            err = RenameNoReplace(from, to);
        }
        if (err == 0) {
            SyncFolder(dest.Path() + "/" + file.subdir);
            SyncFolder(Path() + "/" + fromSubdir);
            store_->Forget(folder_, parts->message);
            dest.store_->Remember(dest.folder_,
                                  SplitFileName(file.subdir, to.substr(to.rfind('/') + 1)));
            return S_OK;
        }
        if (err != EXDEV) {
            return error_.Set(MAPI_E_DISK_ERROR, "Cannot move " + from + " to " + to, err);
        }
    }
    // Another store or file system (or a copy): write the copy completely, then
    // remove the original.  A move first leaves a note in the source's tmp/ naming
    // the copy; should the process stop between the copy and the removal, the next
    // listing of the source folder finds the note and the complete copy, and
    // removes the original then.
    std::string bytes;
    if (const int err = ReadWholeFile(from, bytes); err != 0) {
        return error_.Set(MAPI_E_DISK_ERROR, "Cannot read " + from, err);
    }
    std::string unique = move ? file.unique : NewUniqueName(false);
    MessageFile existing;
    if (dest.store_->Locate(dest.folder_, unique, existing)) {
        unique = NewUniqueName(false);
    }
    for (const std::string& p : {dest.Path() + "/tmp", Path() + "/tmp"}) {
        if (!IsDirectory(p)) {
            ::mkdir(p.c_str(), 0700);
        }
    }
    const std::string note = Path() + "/tmp/" + file.unique + kMoveNoteSuffix;
    if (move) {
        ::unlink(note.c_str());
        if (const int err = WriteNewFile(note, dest.Path() + "\n" + unique + "\n"); err != 0) {
            return error_.Set(err == ENOSPC ? MAPI_E_NOT_ENOUGH_DISK : MAPI_E_DISK_ERROR,
                              "Cannot write " + note, err);
        }
        SyncFolder(Path() + "/tmp");
    }
    auto fail = [&](HRESULT hr, const std::string& what, int err) {
        if (move) {
            ::unlink(note.c_str());
        }
        return error_.Set(hr, what, err);
    };
    const std::string tmp = dest.Path() + "/tmp/" + unique;
    ::unlink(tmp.c_str()); // a copy a stopped process left unfinished
    if (const int err = WriteNewFile(tmp, bytes); err != 0) {
        return fail(err == ENOSPC ? MAPI_E_NOT_ENOUGH_DISK : MAPI_E_DISK_ERROR,
                    "Cannot write " + tmp, err);
    }
    const std::string to = dest.Path() + "/cur/" + WithFlags(unique, file.flags);
    if (const int err = RenameNoReplace(tmp, to); err != 0) {
        ::unlink(tmp.c_str());
        return fail(MAPI_E_DISK_ERROR, "Cannot rename " + tmp + " to " + to, err);
    }
    SyncFolder(dest.Path() + "/cur");
    dest.store_->Remember(dest.folder_, SplitFileName("cur", WithFlags(unique, file.flags)));
    if (move) {
        if (const int rm = RemoveFile(from); rm != 0 && rm != ENOENT) {
            return error_.Set(MAPI_E_DISK_ERROR, "Copied, but cannot remove " + from, rm);
        }
        SyncFolder(Path() + "/" + fromSubdir);
        RemoveFile(note);
        store_->Forget(folder_, file.unique);
    }
    return S_OK;
}

HRESULT MaildirStore::OpenEntry(const EntryId& id, Iid iid, std::uint32_t,
                                std::uint32_t* objectType, std::shared_ptr<IUnknown>& object) {
    object.reset();
    auto self = shared_from_this();
    if (id.empty()) {
        if (!FolderExists("")) {
            return error_.Set(MAPI_E_NOT_FOUND, "No Maildir at " + root_);
        }
        object = std::make_shared<MaildirFolder>(self, "");
        if (objectType != nullptr) {
            *objectType = MAPI_FOLDER;
        }
        return S_OK;
    }
    auto parts = ParseEntryId(id);
    if (!parts || parts->store != uid_) {
        return error_.Set(MAPI_E_INVALID_ENTRYID,
                          "The identifier does not name an object of store \"" +
                              config_.displayName + "\"");
    }
    if (!IsValidFolderName(parts->folder) ||
        (parts->kind == EntryKind::Message && !IsValidUniqueName(parts->message))) {
        return error_.Set(MAPI_E_INVALID_ENTRYID, "The identifier names a place outside store \"" +
                                                      config_.displayName + "\"");
    }
    const bool wantsFolder = iid == Iid::IMAPIFolder || iid == Iid::IMAPIContainer;
    const bool wantsMessage = iid == Iid::IMessage;
    switch (parts->kind) {
    case EntryKind::Store:
        if (iid != Iid::IMsgStore && iid != Iid::IMAPIProp && iid != Iid::None) {
            return error_.Set(MAPI_E_INTERFACE_NOT_SUPPORTED, "The identifier names a store");
        }
        object = self;
        if (objectType != nullptr) {
            *objectType = MAPI_STORE;
        }
        return S_OK;
    case EntryKind::Folder:
        if (wantsMessage) {
            return error_.Set(MAPI_E_INTERFACE_NOT_SUPPORTED, "The identifier names a folder");
        }
        if (!FolderExists(parts->folder)) {
            return error_.Set(MAPI_E_NOT_FOUND,
                              "Folder " + FolderPath(parts->folder) + " does not exist");
        }
        object = std::make_shared<MaildirFolder>(self, parts->folder);
        if (objectType != nullptr) {
            *objectType = MAPI_FOLDER;
        }
        return S_OK;
    case EntryKind::Message: {
        if (wantsFolder) {
            return error_.Set(MAPI_E_INTERFACE_NOT_SUPPORTED, "The identifier names a message");
        }
        MessageFile file;
        if (!FolderExists(parts->folder) ||
            (!Locate(parts->folder, parts->message, file) &&
             !FindReplacement(parts->folder, parts->message, file))) {
            return error_.Set(MAPI_E_NOT_FOUND, "Message " + parts->message + " is not in " +
                                                    FolderPath(parts->folder));
        }
        object = std::make_shared<StoredMessage>(self, parts->folder, file);
        if (objectType != nullptr) {
            *objectType = MAPI_MESSAGE;
        }
        return S_OK;
    }
    }
    return error_.Set(MAPI_E_INVALID_ENTRYID, "Unknown identifier kind");
}

} // namespace

// ---------------------------------------------------------------------------

bool IsValidFolderName(const std::string& name) {
    if (name.empty()) {
        return true;
    }
    if (name[0] != '.' || name == "." || name == ".." || name.size() > 255 || name.back() == '.') {
        return false;
    }
    for (char c : name) {
        if (c == '/' || c == '\0') {
            return false;
        }
    }
    return name.find("..") == std::string::npos;
}

bool IsValidUniqueName(const std::string& name) {
    if (name.empty() || name[0] == '.' || name.size() > 255) {
        return false;
    }
    for (char c : name) {
        if (c == '/' || c == '\0' || c == ':') {
            return false;
        }
    }
    return true;
}

bool IsReplacementName(const std::string& unique) {
    return unique.find(kReplacementMark) != std::string::npos;
}

std::string DecodeModifiedUtf7(const std::string& text) {
    std::u16string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '&') {
            if (static_cast<unsigned char>(c) >= 0x80) {
                return text; // already 8-bit: shown as it is
            }
            out += static_cast<char16_t>(c);
            continue;
        }
        const std::size_t end = text.find('-', i + 1);
        if (end == std::string::npos) {
            return text;
        }
        if (end == i + 1) {
            out += u'&';
            i = end;
            continue;
        }
        std::uint32_t bits = 0;
        int nbits = 0;
        for (std::size_t j = i + 1; j < end; ++j) {
            const char b = text[j];
            int v;
            if (b >= 'A' && b <= 'Z') {
                v = b - 'A';
            } else if (b >= 'a' && b <= 'z') {
                v = b - 'a' + 26;
            } else if (b >= '0' && b <= '9') {
                v = b - '0' + 52;
            } else if (b == '+') {
                v = 62;
            } else if (b == ',') {
                v = 63;
            } else {
                return text;
            }
            bits = (bits << 6) | static_cast<std::uint32_t>(v);
            nbits += 6;
            if (nbits >= 16) {
                nbits -= 16;
                out += static_cast<char16_t>((bits >> nbits) & 0xFFFF);
            }
        }
        i = end;
    }
    return Utf16ToUtf8(out);
}

HRESULT OpenMaildirStore(const StoreConfig& config, bool isDefault,
                         std::shared_ptr<IMsgStore>& store, LastError& error) {
    store.reset();
    struct stat st {};
    if (::stat(config.location.c_str(), &st) != 0) {
        return error.Set(MAPI_E_NOT_FOUND, "Maildir " + config.location, errno);
    }
    if (!S_ISDIR(st.st_mode) || !IsDirectory(config.location + "/cur")) {
        return error.Set(MAPI_E_CORRUPT_STORE,
                         "Maildir " + config.location + " has no cur/ folder: not a Maildir");
    }
    // The store works on the real path, so a root reached through a symbolic link
    // (~/Maildir -> /data/mail) is still its own folder.
    StoreConfig real = config;
    if (char* resolved = ::realpath(config.location.c_str(), nullptr)) {
        real.location = resolved;
        std::free(resolved);
    }
    store =
        std::make_shared<MaildirStore>(real, isDefault, MakeStoreUid(config.kind, config.location));
    return S_OK;
}

} // namespace qf::mapi::maildir

namespace qf::mapi {

HRESULT OpenProviderStore(const StoreConfig& config, bool isDefault,
                          std::shared_ptr<IMsgStore>& store, LastError& error) {
    if (config.kind == "maildir") {
        return maildir::OpenMaildirStore(config, isDefault, store, error);
    }
    store.reset();
    return error.Set(MAPI_E_UNCONFIGURED, "No provider for stores of kind \"" + config.kind + "\"");
}

} // namespace qf::mapi
