// The messaging platform: the message-store interface this program defines,
// MAPI-shaped, over real mail stores.
//
// The mail layer reaches mail only through these calls.  The interface has the
// shape of MAPI: a session with its table of message stores, message stores,
// folders, tables, messages, attachments, streams and last-error records; MAPI's
// published property tag numbers, flags and result codes; every call returns an
// HRESULT that the caller tests.  Ownership is C++: objects are handed out as
// std::shared_ptr (an embedded message keeps the message it lives in alive; a
// session handed to several callers stays alive while any holds it), entry
// identifiers are byte vectors, and property values are a tagged variant.  No
// buffer is ever given back by hand.
//
// Stores are served by providers (provider.h; profiles.h names the stores of a
// logon): Maildir folder trees today, IMAP accounts next.  Entry identifiers are
// opaque bytes built by the provider; they are untrusted input when read back
// from a file, and a provider refuses one that does not name an object of its
// own store with MAPI_E_INVALID_ENTRYID.
//
// Strings: PT_STRING8 values are UTF-8 (the platform's 8-bit code page), PT_UNICODE
// values are UTF-16.  Asking for a tag of either type gives the value in that type.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace qf::mapi {

// ---------------------------------------------------------------------------
// Result codes.  A code is a failure when its highest bit is set.
using HRESULT = std::uint32_t;

constexpr bool Failed(HRESULT hr) {
    return (hr & 0x80000000u) != 0;
}
constexpr bool Succeeded(HRESULT hr) {
    return !Failed(hr);
}

constexpr HRESULT S_OK = 0x00000000;
constexpr HRESULT S_FALSE = 0x00000001;
constexpr HRESULT MAPI_W_ERRORS_RETURNED = 0x00040380;
constexpr HRESULT MAPI_W_PARTIAL_COMPLETION = 0x00040680;

constexpr HRESULT E_PENDING = 0x8000000A;
constexpr HRESULT E_FAIL = 0x80004005;
constexpr HRESULT E_NOINTERFACE = 0x80004002;
constexpr HRESULT MAPI_E_CALL_FAILED = 0x80004005;
constexpr HRESULT MAPI_E_NOT_ENOUGH_MEMORY = 0x8007000E;
constexpr HRESULT MAPI_E_INVALID_PARAMETER = 0x80070057;
constexpr HRESULT MAPI_E_INTERFACE_NOT_SUPPORTED = 0x80004002;
constexpr HRESULT MAPI_E_NO_ACCESS = 0x80070005;
constexpr HRESULT MAPI_E_NO_SUPPORT = 0x80040102;
constexpr HRESULT MAPI_E_BAD_CHARWIDTH = 0x80040103;
constexpr HRESULT MAPI_E_STRING_TOO_LONG = 0x80040105;
constexpr HRESULT MAPI_E_UNKNOWN_FLAGS = 0x80040106;
constexpr HRESULT MAPI_E_INVALID_ENTRYID = 0x80040107;
constexpr HRESULT MAPI_E_INVALID_OBJECT = 0x80040108;
constexpr HRESULT MAPI_E_OBJECT_CHANGED = 0x80040109;
constexpr HRESULT MAPI_E_OBJECT_DELETED = 0x8004010A;
constexpr HRESULT MAPI_E_BUSY = 0x8004010B;
constexpr HRESULT MAPI_E_NOT_ENOUGH_DISK = 0x8004010D;
constexpr HRESULT MAPI_E_NOT_ENOUGH_RESOURCES = 0x8004010E;
constexpr HRESULT MAPI_E_NOT_FOUND = 0x8004010F;
constexpr HRESULT MAPI_E_VERSION = 0x80040110;
constexpr HRESULT MAPI_E_LOGON_FAILED = 0x80040111;
constexpr HRESULT MAPI_E_SESSION_LIMIT = 0x80040112;
constexpr HRESULT MAPI_E_USER_CANCEL = 0x80040113;
constexpr HRESULT MAPI_E_UNABLE_TO_ABORT = 0x80040114;
constexpr HRESULT MAPI_E_NETWORK_ERROR = 0x80040115;
constexpr HRESULT MAPI_E_DISK_ERROR = 0x80040116;
constexpr HRESULT MAPI_E_TOO_COMPLEX = 0x80040117;
constexpr HRESULT MAPI_E_BAD_COLUMN = 0x80040118;
constexpr HRESULT MAPI_E_EXTENDED_ERROR = 0x80040119;
constexpr HRESULT MAPI_E_COMPUTED = 0x8004011A;
constexpr HRESULT MAPI_E_CORRUPT_DATA = 0x8004011B;
constexpr HRESULT MAPI_E_UNCONFIGURED = 0x8004011C;
constexpr HRESULT MAPI_E_FAILONEPROVIDER = 0x8004011D;
constexpr HRESULT MAPI_E_UNKNOWN_CPID = 0x8004011E;
constexpr HRESULT MAPI_E_UNKNOWN_LCID = 0x8004011F;
constexpr HRESULT MAPI_E_PASSWORD_CHANGE_REQUIRED = 0x80040120;
constexpr HRESULT MAPI_E_PASSWORD_EXPIRED = 0x80040121;
constexpr HRESULT MAPI_E_INVALID_WORKSTATION_ACCOUNT = 0x80040122;
constexpr HRESULT MAPI_E_INVALID_ACCESS_TIME = 0x80040123;
constexpr HRESULT MAPI_E_ACCOUNT_DISABLED = 0x80040124;
constexpr HRESULT MAPI_E_END_OF_SESSION = 0x80040200;
constexpr HRESULT MAPI_E_UNKNOWN_ENTRYID = 0x80040201;
constexpr HRESULT MAPI_E_MISSING_REQUIRED_COLUMN = 0x80040202;
constexpr HRESULT MAPI_E_BAD_VALUE = 0x80040301;
constexpr HRESULT MAPI_E_INVALID_TYPE = 0x80040302;
constexpr HRESULT MAPI_E_TYPE_NO_SUPPORT = 0x80040303;
constexpr HRESULT MAPI_E_UNEXPECTED_TYPE = 0x80040304;
constexpr HRESULT MAPI_E_TOO_BIG = 0x80040305;
constexpr HRESULT MAPI_E_DECLINE_COPY = 0x80040306;
constexpr HRESULT MAPI_E_UNEXPECTED_ID = 0x80040307;
constexpr HRESULT MAPI_E_UNABLE_TO_COMPLETE = 0x80040400;
constexpr HRESULT MAPI_E_TIMEOUT = 0x80040401;
constexpr HRESULT MAPI_E_TABLE_EMPTY = 0x80040402;
constexpr HRESULT MAPI_E_TABLE_TOO_BIG = 0x80040403;
constexpr HRESULT MAPI_E_INVALID_BOOKMARK = 0x80040405;
constexpr HRESULT MAPI_E_WAIT = 0x80040500;
constexpr HRESULT MAPI_E_CANCEL = 0x80040501;
constexpr HRESULT MAPI_E_NOT_ME = 0x80040502;
constexpr HRESULT MAPI_E_CORRUPT_STORE = 0x80040600;
constexpr HRESULT MAPI_E_NOT_INITIALIZED = 0x80040605;

// Stream results (IStream Read, Write, Commit).
constexpr HRESULT STG_E_INVALIDFUNCTION = 0x80030001;
constexpr HRESULT STG_E_ACCESSDENIED = 0x80030005;
constexpr HRESULT STG_E_INVALIDPOINTER = 0x80030009;
constexpr HRESULT STG_E_WRITEFAULT = 0x8003001D;
constexpr HRESULT STG_E_MEDIUMFULL = 0x80030070;
constexpr HRESULT STG_E_REVERTED = 0x80030102;
constexpr HRESULT STG_E_CANTSAVE = 0x80030103;

// ---------------------------------------------------------------------------
// Property tags: the high word is the property id, the low word its type.
using PropTag = std::uint32_t;

constexpr std::uint32_t PT_UNSPECIFIED = 0x0000;
constexpr std::uint32_t PT_NULL = 0x0001;
constexpr std::uint32_t PT_LONG = 0x0003;
constexpr std::uint32_t PT_ERROR = 0x000A;
constexpr std::uint32_t PT_BOOLEAN = 0x000B;
constexpr std::uint32_t PT_OBJECT = 0x000D;
constexpr std::uint32_t PT_I8 = 0x0014;
constexpr std::uint32_t PT_STRING8 = 0x001E;
constexpr std::uint32_t PT_UNICODE = 0x001F;
constexpr std::uint32_t PT_SYSTIME = 0x0040;
constexpr std::uint32_t PT_BINARY = 0x0102;

constexpr std::uint32_t PROP_TYPE(PropTag tag) {
    return tag & 0xFFFFu;
}
constexpr std::uint32_t PROP_ID(PropTag tag) {
    return tag >> 16;
}
constexpr PropTag PROP_TAG(std::uint32_t type, std::uint32_t id) {
    return (id << 16) | type;
}
constexpr PropTag CHANGE_PROP_TYPE(PropTag tag, std::uint32_t type) {
    return (tag & 0xFFFF0000u) | type;
}

// Messages
constexpr PropTag PR_MESSAGE_CLASS = 0x001A001E;
constexpr PropTag PR_SUBJECT = 0x0037001E;
constexpr PropTag PR_SUBJECT_W = 0x0037001F;
constexpr PropTag PR_CLIENT_SUBMIT_TIME = 0x00390040;
constexpr PropTag PR_TRANSPORT_MESSAGE_HEADERS = 0x007D001E;
constexpr PropTag PR_SENDER_NAME = 0x0C1A001E;
constexpr PropTag PR_SENDER_EMAIL_ADDRESS = 0x0C1F001E;
constexpr PropTag PR_SENDER_EMAIL_ADDRESS_W = 0x0C1F001F;
constexpr PropTag PR_DISPLAY_BCC = 0x0E02001E;
constexpr PropTag PR_DISPLAY_CC = 0x0E03001E;
constexpr PropTag PR_DISPLAY_TO = 0x0E04001E;
constexpr PropTag PR_DISPLAY_TO_W = 0x0E04001F;
constexpr PropTag PR_MESSAGE_DELIVERY_TIME = 0x0E060040;
constexpr PropTag PR_MESSAGE_FLAGS = 0x0E070003;
constexpr PropTag PR_MESSAGE_SIZE = 0x0E080003;
constexpr PropTag PR_PARENT_ENTRYID = 0x0E090102;
constexpr PropTag PR_MSG_STATUS = 0x0E170003;
constexpr PropTag PR_HASATTACH = 0x0E1B000B;
constexpr PropTag PR_RTF_IN_SYNC = 0x0E1F000B;
constexpr PropTag PR_BODY = 0x1000001E;
constexpr PropTag PR_BODY_W = 0x1000001F;
constexpr PropTag PR_BODY_HTML = 0x1013001E;
constexpr PropTag PR_HTML = 0x10130102;
constexpr PropTag PR_INTERNET_MESSAGE_ID = 0x1035001E;
// Objects in general
constexpr PropTag PR_ACCESS = 0x0FF40003;
constexpr PropTag PR_INSTANCE_KEY = 0x0FF60102;
constexpr PropTag PR_RECORD_KEY = 0x0FF90102;
constexpr PropTag PR_STORE_ENTRYID = 0x0FFB0102;
constexpr PropTag PR_OBJECT_TYPE = 0x0FFE0003;
constexpr PropTag PR_ENTRYID = 0x0FFF0102;
constexpr PropTag PR_DISPLAY_NAME = 0x3001001E;
constexpr PropTag PR_DISPLAY_NAME_W = 0x3001001F;
constexpr PropTag PR_PROVIDER_DISPLAY = 0x3006001E;
constexpr PropTag PR_CREATION_TIME = 0x30070040;
constexpr PropTag PR_LAST_MODIFICATION_TIME = 0x30080040;
// Stores
constexpr PropTag PR_DEFAULT_STORE = 0x3400000B;
constexpr PropTag PR_STORE_SUPPORT_MASK = 0x340D0003;
constexpr PropTag PR_MDB_PROVIDER = 0x34140102;
constexpr PropTag PR_IPM_SUBTREE_ENTRYID = 0x35E00102;
constexpr PropTag PR_NON_IPM_SUBTREE_ENTRYID = 0x66200102;
constexpr PropTag PR_SERVICE_NAME = 0x3D09001E; // the store's kind: "maildir"
// Folders
constexpr PropTag PR_FOLDER_TYPE = 0x36010003;
constexpr PropTag PR_CONTENT_COUNT = 0x36020003;
constexpr PropTag PR_CONTENT_UNREAD = 0x36030003;
constexpr PropTag PR_SUBFOLDERS = 0x360A000B;
// Attachments
constexpr PropTag PR_ATTACH_SIZE = 0x0E200003;
constexpr PropTag PR_ATTACH_NUM = 0x0E210003;
constexpr PropTag PR_ATTACH_DATA_BIN = 0x37010102;
constexpr PropTag PR_ATTACH_DATA_OBJ = 0x3701000D;
constexpr PropTag PR_ATTACH_EXTENSION = 0x3703001E;
constexpr PropTag PR_ATTACH_FILENAME = 0x3704001E;
constexpr PropTag PR_ATTACH_METHOD = 0x37050003;
constexpr PropTag PR_ATTACH_LONG_FILENAME = 0x3707001E;
constexpr PropTag PR_ATTACH_LONG_FILENAME_W = 0x3707001F;
constexpr PropTag PR_RENDERING_POSITION = 0x370B0003;
constexpr PropTag PR_ATTACH_MIME_TAG = 0x370E001E;
constexpr PropTag PR_ATTACH_CONTENT_ID = 0x3712001E;

// ---------------------------------------------------------------------------
// Flags
constexpr std::uint32_t MAPI_LOGON_UI = 0x00000001;
constexpr std::uint32_t MAPI_NEW_SESSION = 0x00000002;
constexpr std::uint32_t MAPI_EXPLICIT_PROFILE = 0x00000010;
constexpr std::uint32_t MAPI_EXTENDED = 0x00000020;
constexpr std::uint32_t MAPI_USE_DEFAULT = 0x00000040;
constexpr std::uint32_t MAPI_NO_MAIL = 0x00008000;
constexpr std::uint32_t MAPI_PASSWORD_UI = 0x00020000;

constexpr std::uint32_t MAPI_MODIFY = 0x00000001;
constexpr std::uint32_t MAPI_CREATE = 0x00000002;
constexpr std::uint32_t MAPI_DEFERRED_ERRORS = 0x00000008;
constexpr std::uint32_t MAPI_BEST_ACCESS = 0x00000010;
constexpr std::uint32_t MAPI_UNICODE = 0x80000000;

constexpr std::uint32_t MDB_WRITE = 0x00000004;
constexpr std::uint32_t MDB_NO_MAIL = 0x00000080;
constexpr std::uint32_t LOGOFF_NO_WAIT = 0x00000001;

constexpr std::uint32_t MESSAGE_MOVE = 0x00000001;
constexpr std::uint32_t KEEP_OPEN_READONLY = 0x00000001;
constexpr std::uint32_t KEEP_OPEN_READWRITE = 0x00000002;
constexpr std::uint32_t FORCE_SAVE = 0x00000004;
constexpr std::uint32_t SUPPRESS_RECEIPT = 0x00000001;
constexpr std::uint32_t CLEAR_READ_FLAG = 0x00000004;

constexpr std::uint32_t MSGFLAG_READ = 0x00000001;
constexpr std::uint32_t MSGFLAG_UNMODIFIED = 0x00000002;
constexpr std::uint32_t MSGFLAG_HASATTACH = 0x00000010;

constexpr std::uint32_t ATTACH_BY_VALUE = 1;
constexpr std::uint32_t ATTACH_BY_REFERENCE = 2;
constexpr std::uint32_t ATTACH_EMBEDDED_MSG = 5;
constexpr std::uint32_t ATTACH_OLE = 6;

constexpr std::uint32_t STORE_ENTRYID_UNIQUE = 0x00000001;
constexpr std::uint32_t STORE_READONLY = 0x00000002;
constexpr std::uint32_t STORE_MODIFY_OK = 0x00000008;
constexpr std::uint32_t STORE_CREATE_OK = 0x00000010;
constexpr std::uint32_t STORE_ATTACH_OK = 0x00000020;
constexpr std::uint32_t STORE_RTF_OK = 0x00000800;
constexpr std::uint32_t STORE_SORT_OK = 0x00002000;
constexpr std::uint32_t STORE_HTML_OK = 0x00010000;
constexpr std::uint32_t STORE_UNICODE_OK = 0x00040000;

constexpr std::uint32_t MAPI_STORE = 1; // PR_OBJECT_TYPE values
constexpr std::uint32_t MAPI_FOLDER = 3;
constexpr std::uint32_t MAPI_MESSAGE = 5;
constexpr std::uint32_t MAPI_ATTACH = 7;

constexpr std::uint32_t RTF_SYNC_BODY_CHANGED = 0x00000002;
constexpr std::uint32_t TABLE_SORT_ASCEND = 0;
constexpr std::uint32_t TABLE_SORT_DESCEND = 1;

using Bookmark = std::uint32_t;
constexpr Bookmark BOOKMARK_BEGINNING = 0;
constexpr Bookmark BOOKMARK_CURRENT = 1;
constexpr Bookmark BOOKMARK_END = 2;

// Interface identifiers for OpenEntry, OpenMsgStore, OpenAttach, OpenProperty.
enum class Iid {
    None, // "whatever the object is"
    IMAPIProp,
    IMsgStore,
    IMAPIFolder,
    IMAPIContainer,
    IMessage,
    IAttachment,
    IStream,
    IStreamDocfile,
    IStorage,
};

// ---------------------------------------------------------------------------
// Values
using EntryId = std::vector<std::uint8_t>;
using Binary = std::vector<std::uint8_t>;

// UTC time in 100-nanosecond units since 1 January 1601.
struct FileTime {
    std::uint64_t ticks = 0;
    bool operator==(const FileTime&) const = default;
};
// The value of a PT_ERROR property: why the requested property is missing.
struct ErrorValue {
    HRESULT code = MAPI_E_NOT_FOUND;
    bool operator==(const ErrorValue&) const = default;
};

using PropData = std::variant<std::monostate, std::int32_t, bool, std::int64_t, FileTime,
                              std::string, std::u16string, Binary, ErrorValue>;

struct PropValue {
    PropTag tag = PROP_TAG(PT_NULL, 0);
    PropData value;

    // The typed accessors give nullptr when the value holds another type.
    const std::int32_t* Long() const { return std::get_if<std::int32_t>(&value); }
    const bool* Bool() const { return std::get_if<bool>(&value); }
    const std::int64_t* I8() const { return std::get_if<std::int64_t>(&value); }
    const FileTime* Time() const { return std::get_if<FileTime>(&value); }
    const std::string* Text() const { return std::get_if<std::string>(&value); }
    const std::u16string* TextW() const { return std::get_if<std::u16string>(&value); }
    const Binary* Bin() const { return std::get_if<Binary>(&value); }
    const ErrorValue* Error() const { return std::get_if<ErrorValue>(&value); }
};

using PropTagArray = std::vector<PropTag>;
using Row = std::vector<PropValue>; // one value per column, in column order
using RowSet = std::vector<Row>;
using EntryList = std::vector<EntryId>;

struct SortKey {
    PropTag tag = 0;
    std::uint32_t order = TABLE_SORT_ASCEND;
};
using SortOrderSet = std::vector<SortKey>;

// A property SetProps could not set.
struct PropProblem {
    std::uint32_t index = 0;
    PropTag tag = 0;
    HRESULT code = S_OK;
};

// What an object reports about its last failure (GetLastError).
struct MapiErrorInfo {
    std::string error;               // the failure in words, with the path and the system's reason
    std::string component;           // the provider, e.g. "Maildir store"
    std::uint32_t lowLevelError = 0; // errno when a system call failed
};

// ---------------------------------------------------------------------------
// Interfaces

class IUnknown {
public:
    virtual ~IUnknown() = default;
};

class IStream : public IUnknown {
public:
    // Reads up to `count` bytes; *read receives the number delivered (0 at the end).
    virtual HRESULT Read(void* buffer, std::uint32_t count, std::uint32_t* read) = 0;
    virtual HRESULT Write(const void* buffer, std::uint32_t count, std::uint32_t* written) = 0;
    // Hands what was written to the object the stream belongs to.
    virtual HRESULT Commit(std::uint32_t flags) = 0;
};

class IMAPIProp : public IUnknown {
public:
    // `flags` 0 only.  *info stays empty when there is nothing to tell.
    virtual HRESULT GetLastError(HRESULT hr, std::uint32_t flags,
                                 std::optional<MapiErrorInfo>& info) = 0;
    // One value per requested tag, in order.  A missing property comes back as
    // PT_ERROR with MAPI_E_NOT_FOUND and the result MAPI_W_ERRORS_RETURNED.
    // `tags` null asks for every property the object has.
    virtual HRESULT GetProps(const PropTagArray* tags, std::uint32_t flags,
                             std::vector<PropValue>& values) = 0;
    virtual HRESULT SetProps(const std::vector<PropValue>& values,
                             std::vector<PropProblem>* problems) = 0;
    // Opens a property as an object: PT_STRING8/PT_BINARY as IStream (MAPI_MODIFY and
    // MAPI_CREATE to write), PR_ATTACH_DATA_OBJ as IMessage.  MAPI_E_NOT_FOUND when
    // the property does not exist and is not being created.
    virtual HRESULT OpenProperty(PropTag tag, Iid iid, std::uint32_t interfaceOptions,
                                 std::uint32_t flags, std::shared_ptr<IUnknown>& object) = 0;
    virtual HRESULT SaveChanges(std::uint32_t flags) = 0;
};

class IMAPITable : public IUnknown {
public:
    virtual HRESULT GetLastError(HRESULT hr, std::uint32_t flags,
                                 std::optional<MapiErrorInfo>& info) = 0;
    virtual HRESULT SetColumns(const PropTagArray& columns, std::uint32_t flags) = 0;
    virtual HRESULT SortTable(const SortOrderSet& order, std::uint32_t flags) = 0;
    virtual HRESULT GetRowCount(std::uint32_t flags, std::uint32_t* count) = 0;
    virtual HRESULT SeekRow(Bookmark origin, std::int32_t rowCount, std::int32_t* rowsSought) = 0;
    // Up to `rowCount` rows from the current position, which then moves past them;
    // an empty set at the end.
    virtual HRESULT QueryRows(std::int32_t rowCount, std::uint32_t flags, RowSet& rows) = 0;
};

class IMAPIContainer : public IMAPIProp {
public:
    virtual HRESULT GetContentsTable(std::uint32_t flags, std::shared_ptr<IMAPITable>& table) = 0;
    virtual HRESULT GetHierarchyTable(std::uint32_t flags, std::shared_ptr<IMAPITable>& table) = 0;
    // Opens a folder or message of the same store (an empty id opens this container).
    virtual HRESULT OpenEntry(const EntryId& id, Iid iid, std::uint32_t flags,
                              std::uint32_t* objectType, std::shared_ptr<IUnknown>& object) = 0;
};

class IMAPIFolder : public IMAPIContainer {
public:
    // MESSAGE_MOVE moves; without it the messages are copied.  `uiParam` and the
    // absent progress object are accepted for the call's shape.
    virtual HRESULT CopyMessages(const EntryList& messages, Iid iid,
                                 const std::shared_ptr<IMAPIFolder>& destination,
                                 std::uintptr_t uiParam, void* progress, std::uint32_t flags) = 0;
    // Stores a whole message given as RFC 822 bytes (IMessage::OpenRawStream of
    // a store of another provider), marked read or not: how CopyMessages hands a
    // message to a folder of another provider.  S_OK only once the message is
    // stored durably.
    virtual HRESULT SaveRawMessage(const std::string& /*bytes*/, bool /*read*/) {
        return MAPI_E_NO_SUPPORT;
    }
    // The same with the bytes read from `source` to its end: a folder that can
    // store them as they come never holds the whole message.
    virtual HRESULT SaveRawStream(IStream& source, bool read);
    // Whether the folder holds the copy that a move from another store marked
    // with `token` (store_moves.h): how a move the process stopped in is
    // finished.  S_OK with the answer only when the folder could be searched.
    virtual HRESULT FindMovedCopy(const std::string& /*token*/, bool& found) {
        found = false;
        return MAPI_E_NO_SUPPORT;
    }
};

class IAttach : public IMAPIProp {};

class IMessage : public IMAPIProp {
public:
    virtual HRESULT GetAttachmentTable(std::uint32_t flags, std::shared_ptr<IMAPITable>& table) = 0;
    virtual HRESULT OpenAttach(std::uint32_t attachNumber, Iid iid, std::uint32_t flags,
                               std::shared_ptr<IAttach>& attach) = 0;
    // SUPPRESS_RECEIPT marks read; CLEAR_READ_FLAG marks unread.  Takes effect at once.
    virtual HRESULT SetReadFlag(std::uint32_t flags) = 0;
    // The message as its store holds it, as RFC 822 bytes (changes not yet saved
    // are not in them): what a move to a store of another provider writes there.
    virtual HRESULT OpenRawStream(std::shared_ptr<IStream>& stream) = 0;
    // Reads the message and prepares its text ahead of its use, and may be
    // called on a thread other than the one that uses the store: it touches
    // only this message and what its store never changes, and reports
    // nothing (whatever fails is met again, and reported, by the first real
    // use).  Never called while another call on this message is under way.
    // The default does nothing: a store whose messages come through one
    // shared connection reads them when they are used.
    virtual void ReadAhead() {}
};

class IMsgStore : public IMAPIProp {
public:
    virtual HRESULT OpenEntry(const EntryId& id, Iid iid, std::uint32_t flags,
                              std::uint32_t* objectType, std::shared_ptr<IUnknown>& object) = 0;
    // The folder that receives messages of `messageClass` ("IPM": the inbox).
    virtual HRESULT GetReceiveFolder(const std::string& messageClass, std::uint32_t flags,
                                     EntryId& entryId, std::string* explicitClass) = 0;
    virtual HRESULT StoreLogoff(std::uint32_t* flags) = 0;
};

class IMAPISession : public IUnknown {
public:
    virtual HRESULT GetLastError(HRESULT hr, std::uint32_t flags,
                                 std::optional<MapiErrorInfo>& info) = 0;
    // Columns: PR_DISPLAY_NAME, PR_ENTRYID, PR_DEFAULT_STORE, PR_RECORD_KEY,
    // PR_SERVICE_NAME (the store's kind), and from its provider PR_PROVIDER_DISPLAY
    // and PR_MDB_PROVIDER, PR_OBJECT_TYPE.
    virtual HRESULT GetMsgStoresTable(std::uint32_t flags, std::shared_ptr<IMAPITable>& table) = 0;
    virtual HRESULT OpenMsgStore(std::uintptr_t uiParam, const EntryId& id, Iid iid,
                                 std::uint32_t flags, std::shared_ptr<IMsgStore>& store) = 0;
    virtual HRESULT Logoff(std::uintptr_t uiParam, std::uint32_t flags, std::uint32_t reserved) = 0;
};

// ---------------------------------------------------------------------------
// Functions

struct MapiInit {
    std::uint32_t version = 0;
    std::uint32_t flags = 0;
};

// Counted: every MAPIInitialize is matched by one MAPIUninitialize.
HRESULT MAPIInitialize(const MapiInit* init);
void MAPIUninitialize();

// Logs on to a profile (see profiles.h).  A null profile name or password means
// "not given"; an empty one is given and empty.
//  - MAPI_USE_DEFAULT: the default profile, no password asked.
//  - MAPI_EXPLICIT_PROFILE with a name: that profile; when it has a password, the
//    given one must match, else MAPI_E_LOGON_FAILED.
//  - MAPI_EXPLICIT_PROFILE | MAPI_LOGON_UI without a name (or with an empty one):
//    the profile chooser is asked; its cancelling gives MAPI_E_USER_CANCEL, and with
//    no chooser installed the logon fails with MAPI_E_LOGON_FAILED.
HRESULT MAPILogonEx(std::uintptr_t uiParam, const char* profileName, const char* password,
                    std::uint32_t flags, std::shared_ptr<IMAPISession>& session);

// The first value of the single property, or MAPI_E_NOT_FOUND.
HRESULT HrGetOneProp(IMAPIProp& object, PropTag tag, std::optional<PropValue>& value);
HRESULT HrSetOneProp(IMAPIProp& object, const PropValue& value);

// All rows of a table with the given columns (null keeps the table's own); no
// restriction; `sort` may be null; `rowLimit` 0 means no limit.
HRESULT HrQueryAllRows(IMAPITable& table, const PropTagArray* columns, const SortOrderSet* sort,
                       std::int32_t rowLimit, RowSet& rows);

// Keeps an RTF body in step with the plain body.  Stores here keep no RTF body
// (they report STORE_RTF_OK), so there is nothing to do.
HRESULT RTFSync(IMessage& message, std::uint32_t flags, bool* messageUpdated);

// Casts a handed-out object to the interface asked for (null when it is not one).
template <class T> std::shared_ptr<T> As(const std::shared_ptr<IUnknown>& object) {
    return std::dynamic_pointer_cast<T>(object);
}

// Converts between FileTime and seconds since 1970 (UTC).
FileTime FileTimeFromUnix(std::int64_t seconds, std::int64_t nanoseconds = 0);
std::int64_t UnixFromFileTime(FileTime time);

} // namespace qf::mapi
