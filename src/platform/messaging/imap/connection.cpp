#include "platform/messaging/imap/connection.h"

#include "platform/messaging/imap/structure.h"
#include "platform/messaging/imap/tls_check.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <libetpan/libetpan.h>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace qf::mapi::imap {

namespace {

// How long one answer of the server may take before the connection counts as lost.
constexpr time_t kTimeoutSeconds = 30;

std::atomic<std::size_t> largestAnswer{0};

// Notes the message bytes of one answer.
void NoteAnswer(std::size_t bytes) {
    std::size_t seen = largestAnswer.load();
    while (bytes > seen && !largestAnswer.compare_exchange_weak(seen, bytes)) {
    }
}

// The message bytes an answer carries (body sections).
std::size_t BodyBytesOf(clist* answer) {
    std::size_t total = 0;
    for (clistiter* it = answer ? clist_begin(answer) : nullptr; it != nullptr;
         it = clist_next(it)) {
        const auto* att = static_cast<mailimap_msg_att*>(clist_content(it));
        for (clistiter* i = clist_begin(att->att_list); i != nullptr; i = clist_next(i)) {
            const auto* item = static_cast<mailimap_msg_att_item*>(clist_content(i));
            if (item->att_type == MAILIMAP_MSG_ATT_ITEM_STATIC &&
                item->att_data.att_static->att_type == MAILIMAP_MSG_ATT_BODY_SECTION &&
                item->att_data.att_static->att_data.att_body_section != nullptr) {
                total += item->att_data.att_static->att_data.att_body_section->sec_length;
            }
        }
    }
    return total;
}

template <class T, void (*Free)(T*)> struct Deleter {
    void operator()(T* p) const {
        if (p != nullptr) {
            Free(p);
        }
    }
};
using SetPtr = std::unique_ptr<mailimap_set, Deleter<mailimap_set, mailimap_set_free>>;
using FetchTypePtr =
    std::unique_ptr<mailimap_fetch_type, Deleter<mailimap_fetch_type, mailimap_fetch_type_free>>;
using StoreAttPtr =
    std::unique_ptr<mailimap_store_att_flags,
                    Deleter<mailimap_store_att_flags, mailimap_store_att_flags_free>>;
using SearchKeyPtr =
    std::unique_ptr<mailimap_search_key, Deleter<mailimap_search_key, mailimap_search_key_free>>;
using FlagListPtr =
    std::unique_ptr<mailimap_flag_list, Deleter<mailimap_flag_list, mailimap_flag_list_free>>;

// A clist answer, freed by its own function.
template <void (*Free)(clist*)> struct ListAnswer {
    clist* list = nullptr;
    ~ListAnswer() {
        if (list != nullptr) {
            Free(list);
        }
    }
};

SetPtr SetOf(const std::vector<std::uint32_t>& uids) {
    SetPtr set(mailimap_set_new_empty());
    for (std::size_t i = 0; i < uids.size();) {
        std::size_t j = i;
        while (j + 1 < uids.size() && uids[j + 1] == uids[j] + 1) {
            ++j;
        }
        mailimap_set_add_interval(set.get(), uids[i], uids[j]);
        i = j + 1;
    }
    return set;
}

SetPtr SetOf(std::uint32_t uid) {
    return SetPtr(mailimap_set_new_single(uid));
}

bool IsIpAddress(const std::string& host) {
    unsigned char buf[sizeof(in6_addr)];
    return inet_pton(AF_INET, host.c_str(), buf) == 1 ||
           inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

void NameServer(struct mailstream_ssl_context* context, void* data) {
    const auto* host = static_cast<const std::string*>(data);
    if (!IsIpAddress(*host)) {
        mailstream_ssl_set_server_name(context, const_cast<char*>(host->c_str()));
    }
}

std::int64_t UnixTimeOf(const mailimap_date_time& dt) {
    std::tm tm{};
    tm.tm_year = dt.dt_year - 1900;
    tm.tm_mon = dt.dt_month - 1;
    tm.tm_mday = dt.dt_day;
    tm.tm_hour = dt.dt_hour;
    tm.tm_min = dt.dt_min;
    tm.tm_sec = dt.dt_sec;
    const int zone = dt.dt_zone; // +0130 reads as 130
    const int sign = zone < 0 ? -1 : 1;
    const int offset = sign * ((sign * zone) / 100 * 3600 + (sign * zone) % 100 * 60);
    return static_cast<std::int64_t>(timegm(&tm)) - offset;
}

// Messages travel with CR LF line ends; they are kept as a Maildir keeps
// them, with LF alone, so that a message reads the same from either store.
std::string WithoutCr(const char* data, std::size_t size) {
    std::string out;
    out.reserve(size);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] != '\r' || i + 1 >= size || data[i + 1] != '\n') {
            out += data[i];
        }
    }
    return out;
}

void ReadFlags(const mailimap_msg_att_dynamic* dyn, FetchedSummary& out) {
    if (dyn == nullptr || dyn->att_list == nullptr) {
        return;
    }
    for (clistiter* it = clist_begin(dyn->att_list); it != nullptr; it = clist_next(it)) {
        const auto* ff = static_cast<mailimap_flag_fetch*>(clist_content(it));
        if (ff->fl_type != MAILIMAP_FLAG_FETCH_OTHER || ff->fl_flag == nullptr) {
            continue;
        }
        out.seen = out.seen || ff->fl_flag->fl_type == MAILIMAP_FLAG_SEEN;
        out.deleted = out.deleted || ff->fl_flag->fl_type == MAILIMAP_FLAG_DELETED;
        if (ff->fl_flag->fl_type == MAILIMAP_FLAG_KEYWORD &&
            ff->fl_flag->fl_data.fl_keyword != nullptr) {
            out.keywords.emplace_back(ff->fl_flag->fl_data.fl_keyword);
        }
    }
}

void ReadStatic(const mailimap_msg_att_static* st, bool withShape, FetchedSummary& out) {
    switch (st->att_type) {
    case MAILIMAP_MSG_ATT_UID:
        out.uid = st->att_data.att_uid;
        break;
    case MAILIMAP_MSG_ATT_RFC822_SIZE:
        out.size = st->att_data.att_rfc822_size;
        break;
    case MAILIMAP_MSG_ATT_INTERNALDATE:
        if (st->att_data.att_internal_date != nullptr) {
            out.internalDate = UnixTimeOf(*st->att_data.att_internal_date);
        }
        break;
    case MAILIMAP_MSG_ATT_BODYSTRUCTURE:
        if (st->att_data.att_bodystructure != nullptr) {
            out.hasAttachments = HasAttachments(*st->att_data.att_bodystructure);
            if (withShape) {
                out.shape = ShapeOf(*st->att_data.att_bodystructure);
            }
        }
        break;
    case MAILIMAP_MSG_ATT_BODY_SECTION: {
        const mailimap_msg_att_body_section* sec = st->att_data.att_body_section;
        if (sec != nullptr && sec->sec_body_part != nullptr) {
            // BODY.PEEK[HEADER] in a listing, BODY.PEEK[] when a message is read.
            out.bytes = WithoutCr(sec->sec_body_part, sec->sec_length);
            out.wireLength = sec->sec_length;
            out.hasBody = true;
        }
        break;
    }
    default:
        break;
    }
}

FetchedSummary ReadMessage(const mailimap_msg_att* att, bool withShape) {
    FetchedSummary out;
    for (clistiter* it = clist_begin(att->att_list); it != nullptr; it = clist_next(it)) {
        const auto* item = static_cast<mailimap_msg_att_item*>(clist_content(it));
        if (item->att_type == MAILIMAP_MSG_ATT_ITEM_DYNAMIC) {
            ReadFlags(item->att_data.att_dyn, out);
        } else if (item->att_type == MAILIMAP_MSG_ATT_ITEM_STATIC) {
            ReadStatic(item->att_data.att_static, withShape, out);
        }
    }
    return out;
}

// CR LF line ends, as IMAP carries messages.
std::string WithCrlf(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 40);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r')) {
            out += '\r';
        }
        out += bytes[i];
    }
    return out;
}

// libetpan writes a command in pieces: without this, each piece waits for the
// server's delayed acknowledgement of the one before (40 ms a command).
void NoDelay(mailimap* imap) {
    mailstream_low* low = imap->imap_stream ? mailstream_get_low(imap->imap_stream) : nullptr;
    const int fd = low != nullptr ? mailstream_low_get_fd(low) : -1;
    if (fd >= 0) {
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
}

} // namespace

Connection::Connection(AccountSettings settings, std::string password, std::string name)
    : settings_(std::move(settings)), password_(std::move(password)), name_(std::move(name)) {}

Connection::~Connection() {
    Close();
}

void Connection::Close() {
    if (imap_ != nullptr) {
        mailimap_free(imap_);
        imap_ = nullptr;
    }
}

HRESULT Connection::Check(int r, const std::string& what) {
    if (r == MAILIMAP_NO_ERROR || r == MAILIMAP_NO_ERROR_AUTHENTICATED ||
        r == MAILIMAP_NO_ERROR_NON_AUTHENTICATED) {
        return S_OK;
    }
    const std::string server = "server " + settings_.host + ":" +
                               std::to_string(settings_.EffectivePort()) + " (account \"" + name_ +
                               "\")";
    if (r == MAILIMAP_ERROR_STREAM || r == MAILIMAP_ERROR_CONNECTION_REFUSED) {
        failure_ = what + ": the connection to " + server + " was lost or refused";
        Close();
        return MAPI_E_NETWORK_ERROR;
    }
    if (r == MAILIMAP_ERROR_PARSE) {
        failure_ = what + ": the answer of " + server + " is not IMAP";
        Close();
        return MAPI_E_NETWORK_ERROR;
    }
    std::string said;
    if (imap_ != nullptr && imap_->imap_response != nullptr) {
        said = std::string(": the server said \"") + imap_->imap_response + "\"";
    }
    failure_ = what + " failed on " + server + said;
    return r == MAILIMAP_ERROR_LOGIN ? MAPI_E_LOGON_FAILED : MAPI_E_CALL_FAILED;
}

HRESULT Connection::Open() {
    Close();
    selected_.clear();
    imap_ = mailimap_new(0, nullptr);
    if (imap_ == nullptr) {
        failure_ = "Out of memory";
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
    mailimap_set_timeout(imap_, kTimeoutSeconds);
    HRESULT hr = Connect();
    if (Succeeded(hr)) {
        hr = Secure();
    }
    if (Succeeded(hr)) {
        hr = Login();
    }
    if (Failed(hr)) {
        Close();
    }
    return hr;
}

HRESULT Connection::Connect() {
    const std::uint16_t port = settings_.EffectivePort();
    int r = 0;
    if (settings_.tls == TlsMode::Implicit) {
        r = mailimap_ssl_connect_with_callback(imap_, settings_.host.c_str(), port, NameServer,
                                               &settings_.host);
    } else {
        r = mailimap_socket_connect(imap_, settings_.host.c_str(), port);
    }
    if (r == MAILIMAP_ERROR_SSL) {
        failure_ = "No TLS connection to " + settings_.host + ":" + std::to_string(port) +
                   " (account \"" + name_ + "\")";
        Close();
        return MAPI_E_NETWORK_ERROR;
    }
    HRESULT hr = Check(r, "Connecting");
    if (Succeeded(hr)) {
        NoDelay(imap_);
    }
    return hr;
}

HRESULT Connection::Secure() {
    if (settings_.tls == TlsMode::StartTls) {
        const int r = mailimap_socket_starttls_with_callback(imap_, NameServer, &settings_.host);
        NoDelay(imap_);
        if (r != MAILIMAP_NO_ERROR) {
            failure_ = "The server " + settings_.host + " (account \"" + name_ +
                       "\") did not make the connection secure (STARTTLS)";
            Close();
            return MAPI_E_NETWORK_ERROR;
        }
    }
    if (settings_.tls == TlsMode::None || !settings_.verifyCertificate) {
        return S_OK;
    }
    const std::string why =
        CheckServerCertificate(imap_->imap_stream, settings_.host, settings_.caFile);
    if (!why.empty()) {
        failure_ = "The certificate of " + settings_.host + " (account \"" + name_ +
                   "\") is not trusted: " + why;
        Close();
        return MAPI_E_NO_ACCESS;
    }
    return S_OK;
}

HRESULT Connection::Login() {
    HRESULT hr = Check(mailimap_login(imap_, settings_.user.c_str(), password_.c_str()),
                       "Logging in as \"" + settings_.user + "\"");
    if (Failed(hr)) {
        return hr;
    }
    mailimap_capability_data* caps = nullptr;
    if (mailimap_capability(imap_, &caps) == MAILIMAP_NO_ERROR) {
        mailimap_capability_data_free(caps);
    }
    hasMove_ = mailimap_has_extension(imap_, const_cast<char*>("MOVE")) != 0;
    hasUidPlus_ = mailimap_has_extension(imap_, const_cast<char*>("UIDPLUS")) != 0;
    hasCatenate_ = mailimap_has_extension(imap_, const_cast<char*>("CATENATE")) != 0 &&
                   mailimap_has_extension(imap_, const_cast<char*>("LITERAL+")) != 0;
    return S_OK;
}

// A command repeated after a reconnect names messages by UID: when the server
// renumbered the mailbox meanwhile, those UIDs may name other messages now,
// so nothing is repeated.
HRESULT Connection::Reconnect() {
    const std::string mailbox = selected_;
    const std::uint32_t uidValidity = selectedInfo_.uidValidity;
    HRESULT hr = Open();
    if (Succeeded(hr) && !mailbox.empty()) {
        SelectedInfo info;
        hr = Select(mailbox, info);
        if (Succeeded(hr) && info.uidValidity != uidValidity) {
            failure_ = "The server renumbered the messages of folder \"" + mailbox +
                       "\" (its UIDVALIDITY changed) while the connection was down: list the "
                       "folder again";
            hr = MAPI_E_OBJECT_CHANGED;
        }
    }
    return hr;
}

HRESULT Connection::List(std::vector<MailboxInfo>& mailboxes) {
    mailboxes.clear();
    ListAnswer<mailimap_list_result_free> answer;
    HRESULT hr = Check(mailimap_list(imap_, "", "*", &answer.list), "Listing the folders");
    if (Failed(hr) || answer.list == nullptr) {
        return hr;
    }
    for (clistiter* it = clist_begin(answer.list); it != nullptr; it = clist_next(it)) {
        const auto* mb = static_cast<mailimap_mailbox_list*>(clist_content(it));
        MailboxInfo info;
        info.name = mb->mb_name;
        info.separator = mb->mb_delimiter;
        if (mb->mb_flag != nullptr && mb->mb_flag->mbf_type == MAILIMAP_MBX_LIST_FLAGS_SFLAG) {
            info.selectable = mb->mb_flag->mbf_sflag != MAILIMAP_MBX_LIST_SFLAG_NOSELECT;
        }
        mailboxes.push_back(std::move(info));
    }
    return S_OK;
}

HRESULT Connection::Select(const std::string& mailbox, SelectedInfo& info, bool force) {
    if (!force && mailbox == selected_ && imap_ != nullptr) {
        info = selectedInfo_;
        return S_OK;
    }
    selected_.clear();
    HRESULT hr =
        Check(mailimap_select(imap_, mailbox.c_str()), "Opening folder \"" + mailbox + "\"");
    if (Failed(hr)) {
        return hr == MAPI_E_CALL_FAILED ? MAPI_E_NOT_FOUND : hr;
    }
    selected_ = mailbox;
    selectedInfo_ = SelectedInfo{};
    if (const mailimap_selection_info* sel = imap_->imap_selection_info) {
        selectedInfo_.uidValidity = sel->sel_uidvalidity;
        selectedInfo_.exists = sel->sel_exists;
        if (sel->sel_flags != nullptr && sel->sel_flags->fl_list != nullptr) {
            for (clistiter* it = clist_begin(sel->sel_flags->fl_list); it != nullptr;
                 it = clist_next(it)) {
                const auto* flag = static_cast<const mailimap_flag*>(clist_content(it));
                if (flag->fl_type == MAILIMAP_FLAG_KEYWORD && flag->fl_data.fl_keyword != nullptr) {
                    selectedInfo_.keywords.emplace_back(flag->fl_data.fl_keyword);
                }
            }
        }
    }
    info = selectedInfo_;
    return S_OK;
}

HRESULT Connection::Refresh() {
    return Check(mailimap_noop(imap_), "Refreshing folder \"" + selected_ + "\"");
}

HRESULT Connection::UidSearch(mailimap_search_key* key, const std::string& what,
                              std::vector<std::uint32_t>& uids) {
    SearchKeyPtr owned(key);
    uids.clear();
    ListAnswer<mailimap_search_result_free> answer;
    HRESULT hr = Check(mailimap_uid_search(imap_, nullptr, owned.get(), &answer.list),
                       what + " folder \"" + selected_ + "\"");
    if (Failed(hr) || answer.list == nullptr) {
        return hr;
    }
    for (clistiter* it = clist_begin(answer.list); it != nullptr; it = clist_next(it)) {
        uids.push_back(*static_cast<std::uint32_t*>(clist_content(it)));
    }
    std::sort(uids.begin(), uids.end());
    return S_OK;
}

HRESULT Connection::Uids(std::vector<std::uint32_t>& uids) {
    return UidSearch(mailimap_search_key_new_all(), "Listing", uids);
}

HRESULT Connection::SearchHeader(const std::string& name, const std::string& value,
                                 std::vector<std::uint32_t>& uids) {
    return UidSearch(mailimap_search_key_new_header(strdup(name.c_str()), strdup(value.c_str())),
                     "Searching", uids);
}

HRESULT Connection::SearchKeyword(const std::string& keyword, std::vector<std::uint32_t>& uids) {
    return UidSearch(mailimap_search_key_new_keyword(strdup(keyword.c_str())), "Searching", uids);
}

std::size_t Connection::LargestAnswer() {
    return largestAnswer.load();
}

void Connection::ResetLargestAnswer() {
    largestAnswer.store(0);
}

HRESULT Connection::UidFetch(const std::vector<std::uint32_t>& uids,
                             const std::vector<mailimap_fetch_att*>& items, const std::string& what,
                             std::vector<FetchedSummary>& out, bool withShape) {
    FetchTypePtr type(mailimap_fetch_type_new_fetch_att_list_empty());
    mailimap_fetch_type_new_fetch_att_list_add(type.get(), mailimap_fetch_att_new_uid());
    for (mailimap_fetch_att* item : items) {
        mailimap_fetch_type_new_fetch_att_list_add(type.get(), item);
    }
    SetPtr set = SetOf(uids);
    ListAnswer<mailimap_fetch_list_free> answer;
    HRESULT hr = Check(mailimap_uid_fetch(imap_, set.get(), type.get(), &answer.list), what);
    if (Failed(hr) || answer.list == nullptr) {
        return hr;
    }
    NoteAnswer(BodyBytesOf(answer.list));
    for (clistiter* it = clist_begin(answer.list); it != nullptr; it = clist_next(it)) {
        FetchedSummary s =
            ReadMessage(static_cast<mailimap_msg_att*>(clist_content(it)), withShape);
        if (s.uid != 0) {
            out.push_back(std::move(s));
        }
    }
    return S_OK;
}

HRESULT Connection::FetchSummaries(const std::vector<std::uint32_t>& uids,
                                   std::vector<FetchedSummary>& out) {
    out.clear();
    if (uids.empty()) {
        return S_OK;
    }
    return UidFetch(uids,
                    {mailimap_fetch_att_new_flags(), mailimap_fetch_att_new_rfc822_size(),
                     mailimap_fetch_att_new_internaldate(), mailimap_fetch_att_new_bodystructure(),
                     mailimap_fetch_att_new_body_peek_section(mailimap_section_new_header())},
                    "Listing folder \"" + selected_ + "\"", out);
}

HRESULT Connection::FetchMessages(const std::vector<std::uint32_t>& uids,
                                  std::vector<FetchedSummary>& messages, std::uint32_t limit) {
    messages.clear();
    if (uids.empty()) {
        return S_OK;
    }
    std::vector<mailimap_fetch_att*> items = {mailimap_fetch_att_new_flags(),
                                              mailimap_fetch_att_new_internaldate()};
    if (limit == 0) {
        items.push_back(mailimap_fetch_att_new_body_peek_section(mailimap_section_new(nullptr)));
    } else {
        items.push_back(mailimap_fetch_att_new_rfc822_size());
        items.push_back(mailimap_fetch_att_new_body_peek_section_partial(
            mailimap_section_new(nullptr), 0, limit));
    }
    std::vector<FetchedSummary> answered;
    const HRESULT hr = UidFetch(uids, items, "Reading messages of \"" + selected_ + "\"", answered);
    for (FetchedSummary& s : answered) {
        // A server that does not say the size: a message that filled the
        // limit may have been cut there.
        if (limit != 0 && (s.size > limit || s.wireLength >= limit)) {
            s.bytes.clear(); // only its start came
            s.hasBody = false;
            messages.push_back(std::move(s));
        } else if (s.hasBody) {
            s.size = static_cast<std::uint32_t>(s.bytes.size());
            messages.push_back(std::move(s));
        }
    }
    return hr;
}

HRESULT Connection::FetchShape(std::uint32_t uid, FetchedSummary& facts) {
    std::vector<FetchedSummary> found;
    HRESULT hr = UidFetch(
        {uid},
        {mailimap_fetch_att_new_flags(), mailimap_fetch_att_new_rfc822_size(),
         mailimap_fetch_att_new_internaldate(), mailimap_fetch_att_new_bodystructure(),
         mailimap_fetch_att_new_body_peek_section(mailimap_section_new_header())},
        "Reading message " + std::to_string(uid) + " of \"" + selected_ + "\"", found, true);
    if (Failed(hr)) {
        return hr;
    }
    for (auto& f : found) {
        if (f.uid == uid && f.shape) {
            facts = std::move(f);
            return S_OK;
        }
    }
    failure_ = "Message " + std::to_string(uid) + " is no longer in folder \"" + selected_ + "\"";
    return MAPI_E_NOT_FOUND;
}

namespace {

mailimap_section_part* PartNumbers(const std::vector<std::uint32_t>& section) {
    clist* ids = clist_new();
    for (std::uint32_t n : section) {
        auto* id = static_cast<std::uint32_t*>(std::malloc(sizeof(std::uint32_t)));
        *id = n;
        clist_append(ids, id);
    }
    return mailimap_section_part_new(ids);
}

mailimap_section* PartSection(const std::vector<std::uint32_t>& section) {
    return mailimap_section_new_part(PartNumbers(section));
}

// A section from its name: "HEADER", "2.1" or "2.1.MIME"; null for others.
mailimap_section* SectionFromName(const std::string& name) {
    if (name == "HEADER") {
        return mailimap_section_new_header();
    }
    std::vector<std::uint32_t> numbers;
    bool mime = false;
    std::size_t begin = 0;
    while (begin <= name.size()) {
        const std::size_t end = std::min(name.find('.', begin), name.size());
        const std::string piece = name.substr(begin, end - begin);
        if (piece == "MIME" && end == name.size() && !numbers.empty()) {
            mime = true;
        } else if (!piece.empty() && piece.size() < 10 &&
                   piece.find_first_not_of("0123456789") == std::string::npos) {
            numbers.push_back(static_cast<std::uint32_t>(std::stoul(piece)));
        } else {
            return nullptr;
        }
        begin = end + 1;
    }
    return mime ? mailimap_section_new_part_mime(PartNumbers(numbers)) : PartSection(numbers);
}

// The name of a section an answer carries, as SectionFromName reads it.
std::string NameOfSection(const mailimap_section* section) {
    const mailimap_section_spec* what = section != nullptr ? section->sec_spec : nullptr;
    if (what == nullptr) {
        return "";
    }
    if (what->sec_type == MAILIMAP_SECTION_SPEC_SECTION_MSGTEXT) {
        const mailimap_section_msgtext* text = what->sec_data.sec_msgtext;
        return text != nullptr && text->sec_type == MAILIMAP_SECTION_MSGTEXT_HEADER ? "HEADER"
                                                                                    : "?";
    }
    std::vector<std::uint32_t> numbers;
    if (what->sec_data.sec_part != nullptr && what->sec_data.sec_part->sec_id != nullptr) {
        for (clistiter* it = clist_begin(what->sec_data.sec_part->sec_id); it != nullptr;
             it = clist_next(it)) {
            numbers.push_back(*static_cast<std::uint32_t*>(clist_content(it)));
        }
    }
    const bool mime =
        what->sec_text != nullptr && what->sec_text->sec_type == MAILIMAP_SECTION_TEXT_MIME;
    return SectionName(numbers) + (mime ? ".MIME" : "");
}

// Hands each body section of the message `uid` in an answer to `take`; false
// when the message is not in the answer.
template <class Take> bool ForEachSection(clist* answer, std::uint32_t uid, Take&& take) {
    for (clistiter* it = answer ? clist_begin(answer) : nullptr; it != nullptr;
         it = clist_next(it)) {
        const auto* att = static_cast<mailimap_msg_att*>(clist_content(it));
        std::uint32_t found = 0;
        std::vector<const mailimap_msg_att_body_section*> sections;
        for (clistiter* i = clist_begin(att->att_list); i != nullptr; i = clist_next(i)) {
            const auto* item = static_cast<mailimap_msg_att_item*>(clist_content(i));
            if (item->att_type != MAILIMAP_MSG_ATT_ITEM_STATIC) {
                continue;
            }
            const mailimap_msg_att_static* st = item->att_data.att_static;
            if (st->att_type == MAILIMAP_MSG_ATT_UID) {
                found = st->att_data.att_uid;
            } else if (st->att_type == MAILIMAP_MSG_ATT_BODY_SECTION &&
                       st->att_data.att_body_section != nullptr) {
                sections.push_back(st->att_data.att_body_section);
            }
        }
        if (found == uid && !sections.empty()) {
            for (const auto* section : sections) {
                take(*section);
            }
            return true;
        }
    }
    return false;
}

} // namespace

HRESULT Connection::FetchPart(std::uint32_t uid, const std::vector<std::uint32_t>& section,
                              std::uint64_t offset, std::uint32_t length, std::string& bytes) {
    bytes.clear();
    SetPtr set = SetOf(uid);
    FetchTypePtr type(mailimap_fetch_type_new_fetch_att_list_empty());
    mailimap_fetch_type_new_fetch_att_list_add(type.get(), mailimap_fetch_att_new_uid());
    mailimap_fetch_type_new_fetch_att_list_add(
        type.get(), mailimap_fetch_att_new_body_peek_section_partial(
                        section.empty() ? mailimap_section_new(nullptr) : PartSection(section),
                        static_cast<std::uint32_t>(offset), length));
    ListAnswer<mailimap_fetch_list_free> answer;
    HRESULT hr = Check(mailimap_uid_fetch(imap_, set.get(), type.get(), &answer.list),
                       "Reading a part of a message of \"" + selected_ + "\"");
    if (Failed(hr)) {
        return hr;
    }
    NoteAnswer(BodyBytesOf(answer.list));
    const bool found =
        ForEachSection(answer.list, uid, [&](const mailimap_msg_att_body_section& part) {
            if (part.sec_body_part != nullptr) {
                bytes.assign(part.sec_body_part, part.sec_length); // the wire's bytes, CR LF kept
            }
        });
    if (found) {
        return S_OK;
    }
    failure_ = "Message " + std::to_string(uid) + " is no longer in folder \"" + selected_ + "\"";
    return MAPI_E_NOT_FOUND;
}

HRESULT Connection::FetchSections(std::uint32_t uid, const std::vector<std::string>& names,
                                  std::map<std::string, std::string>& sections) {
    sections.clear();
    if (names.empty()) {
        return S_OK; // a message that is one large attachment
    }
    SetPtr set = SetOf(uid);
    FetchTypePtr type(mailimap_fetch_type_new_fetch_att_list_empty());
    mailimap_fetch_type_new_fetch_att_list_add(type.get(), mailimap_fetch_att_new_uid());
    for (const std::string& name : names) {
        mailimap_section* section = SectionFromName(name);
        if (section == nullptr) {
            failure_ = "No such part of a message: " + name;
            return MAPI_E_INVALID_PARAMETER;
        }
        mailimap_fetch_type_new_fetch_att_list_add(
            type.get(), mailimap_fetch_att_new_body_peek_section(section));
    }
    ListAnswer<mailimap_fetch_list_free> answer;
    HRESULT hr = Check(mailimap_uid_fetch(imap_, set.get(), type.get(), &answer.list),
                       "Reading message " + std::to_string(uid) + " of \"" + selected_ + "\"");
    if (Failed(hr)) {
        return hr;
    }
    NoteAnswer(BodyBytesOf(answer.list));
    const bool found =
        ForEachSection(answer.list, uid, [&](const mailimap_msg_att_body_section& part) {
            sections[NameOfSection(part.sec_section)] =
                part.sec_body_part != nullptr ? WithoutCr(part.sec_body_part, part.sec_length)
                                              : std::string();
        });
    if (found) {
        return S_OK;
    }
    failure_ = "Message " + std::to_string(uid) + " is no longer in folder \"" + selected_ + "\"";
    return MAPI_E_NOT_FOUND;
}

HRESULT Connection::FetchMessage(std::uint32_t uid, std::string& bytes, FetchedSummary* facts) {
    bytes.clear();
    std::vector<FetchedSummary> found;
    HRESULT hr = FetchMessages({uid}, found);
    if (Failed(hr)) {
        return hr;
    }
    for (auto& s : found) {
        if (s.uid == uid) {
            bytes = std::move(s.bytes);
            s.bytes.clear();
            if (facts != nullptr) {
                s.size = static_cast<std::uint32_t>(bytes.size());
                *facts = std::move(s);
            }
            return S_OK;
        }
    }
    failure_ = "Message " + std::to_string(uid) + " is no longer in folder \"" + selected_ + "\"";
    return MAPI_E_NOT_FOUND;
}

HRESULT Connection::SetSeen(std::uint32_t uid, bool seen) {
    changed_.emplace_back(selected_, uid);
    SetPtr set = SetOf(uid);
    mailimap_flag_list* flags = mailimap_flag_list_new_empty();
    mailimap_flag_list_add(flags, mailimap_flag_new_seen());
    StoreAttPtr att(seen ? mailimap_store_att_flags_new_add_flags_silent(flags)
                         : mailimap_store_att_flags_new_remove_flags_silent(flags));
    return Check(mailimap_uid_store(imap_, set.get(), att.get()),
                 "Marking message " + std::to_string(uid) + " of \"" + selected_ + "\"");
}

HRESULT Connection::SetKeyword(std::uint32_t uid, const std::string& keyword, bool on) {
    changed_.emplace_back(selected_, uid);
    SetPtr set = SetOf(uid);
    mailimap_flag_list* flags = mailimap_flag_list_new_empty();
    mailimap_flag_list_add(flags, mailimap_flag_new_flag_keyword(strdup(keyword.c_str())));
    StoreAttPtr att(on ? mailimap_store_att_flags_new_add_flags_silent(flags)
                       : mailimap_store_att_flags_new_remove_flags_silent(flags));
    return Check(mailimap_uid_store(imap_, set.get(), att.get()),
                 "Marking message " + std::to_string(uid) + " of \"" + selected_ + "\"");
}

HRESULT Connection::Copy(std::uint32_t uid, const std::string& destination) {
    SetPtr set = SetOf(uid);
    return Check(mailimap_uid_copy(imap_, set.get(), destination.c_str()),
                 "Copying message " + std::to_string(uid) + " to \"" + destination + "\"");
}

HRESULT Connection::Move(std::uint32_t uid, const std::string& destination) {
    changed_.emplace_back(selected_, uid);
    if (hasMove_) {
        SetPtr set = SetOf(uid);
        return Check(mailimap_uid_move(imap_, set.get(), destination.c_str()),
                     "Moving message " + std::to_string(uid) + " to \"" + destination + "\"");
    }
    HRESULT hr = Copy(uid, destination);
    return Failed(hr) ? hr : Remove(uid);
}

HRESULT Connection::Remove(std::uint32_t uid) {
    changed_.emplace_back(selected_, uid);
    if (!hasUidPlus_) {
        failure_ = "The server " + settings_.host + " cannot remove one message alone (no UIDPLUS)";
        return MAPI_E_NO_SUPPORT;
    }
    SetPtr set = SetOf(uid);
    mailimap_flag_list* flags = mailimap_flag_list_new_empty();
    mailimap_flag_list_add(flags, mailimap_flag_new_deleted());
    StoreAttPtr att(mailimap_store_att_flags_new_add_flags_silent(flags));
    const std::string what =
        "Removing message " + std::to_string(uid) + " of \"" + selected_ + "\"";
    HRESULT hr = Check(mailimap_uid_store(imap_, set.get(), att.get()), what);
    if (Succeeded(hr)) {
        hr = Check(mailimap_uid_expunge(imap_, set.get()), what);
    }
    return hr;
}

namespace {

// A quoted string of IMAP.
std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
        }
        out += c;
    }
    return out + "\"";
}

// An IMAP URL's mailbox: everything but letters, digits and a few marks escaped.
std::string UrlEscaped(const std::string& text) {
    static const char* kHex = "0123456789ABCDEF";
    std::string out;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (std::isalnum(c) != 0 || std::strchr("-._~!$'()*+,&=:@", ch) != nullptr) {
            out += ch;
        } else {
            out += {'%', kHex[c >> 4], kHex[c & 15]};
        }
    }
    return out;
}

// "01-Dec-2026 09:00:00 +0000", as APPEND takes a date.
std::string AppendDate(std::int64_t unixTime) {
    static const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::time_t t = static_cast<std::time_t>(unixTime);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[40];
    std::snprintf(text, sizeof text, "%02d-%s-%04d %02d:%02d:%02d +0000", tm.tm_mday,
                  kMonths[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return text;
}

} // namespace

HRESULT Connection::AppendCatenated(const std::string& mailbox,
                                    const std::vector<CatenatePiece>& pieces, bool seen,
                                    std::optional<std::int64_t> internalDate,
                                    std::uint32_t uidValidity, std::uint32_t uid) {
    if (!hasCatenate_) {
        failure_ = "The server " + settings_.host + " cannot put a message together (CATENATE)";
        return MAPI_E_NO_SUPPORT;
    }
    const std::string source = "/" + UrlEscaped(selected_) +
                               ";UIDVALIDITY=" + std::to_string(uidValidity) +
                               "/;UID=" + std::to_string(uid) + "/;SECTION=";
    std::string command = "APPEND " + Quoted(mailbox) + (seen ? " (\\Seen)" : " ()");
    if (internalDate) {
        command += " \"" + AppendDate(*internalDate) + "\"";
    }
    command += " CATENATE (";
    bool first = true;
    for (const CatenatePiece& piece : pieces) {
        const std::string text = piece.section.empty() ? WithCrlf(piece.text) : std::string();
        if (piece.section.empty() && text.empty()) {
            continue;
        }
        if (text.find('\0') != std::string::npos) {
            failure_ = "A message with a NUL byte in its text cannot be put together";
            return MAPI_E_NO_SUPPORT;
        }
        command += first ? "" : " ";
        first = false;
        command += piece.section.empty() ? "TEXT {" + std::to_string(text.size()) + "+}\r\n" + text
                                         : "URL " + Quoted(source + piece.section);
    }
    command += ")";
    return Check(mailimap_custom_command(imap_, command.c_str()),
                 "Storing a message in \"" + mailbox + "\"");
}

HRESULT Connection::Append(const std::string& mailbox, const std::string& bytes, bool seen,
                           std::optional<std::int64_t> internalDate) {
    FlagListPtr flags(mailimap_flag_list_new_empty());
    if (seen) {
        mailimap_flag_list_add(flags.get(), mailimap_flag_new_seen());
    }
    mailimap_date_time* date = nullptr;
    if (internalDate) {
        const std::time_t t = static_cast<std::time_t>(*internalDate);
        std::tm tm{};
        gmtime_r(&t, &tm);
        date = mailimap_date_time_new(tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900, tm.tm_hour,
                                      tm.tm_min, tm.tm_sec, 0);
    }
    const std::string data = WithCrlf(bytes);
    const int r =
        mailimap_append(imap_, mailbox.c_str(), flags.get(), date, data.c_str(), data.size());
    if (date != nullptr) {
        mailimap_date_time_free(date);
    }
    return Check(r, "Storing a message in \"" + mailbox + "\"");
}

} // namespace qf::mapi::imap
