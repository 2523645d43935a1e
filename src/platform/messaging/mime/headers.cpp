#include "platform/messaging/mime/headers.h"

#include "platform/messaging/mime/addresses.h"
#include "platform/messaging/mime/decode.h"
#include "platform/messaging/mime/gmime_support.h"

#include "common/text.h"

#include <algorithm>
#include <cstring>

namespace qf::mapi::mime {

namespace {

bool IsHeaderNameChar(unsigned char c) {
    return c > ' ' && c < 127 && c != ':';
}

// The header line `content` starts, or nothing when it is not one.
std::optional<RawHeader> HeaderOf(std::string_view line, std::string_view content) {
    std::size_t n = 0;
    while (n < content.size() && IsHeaderNameChar(static_cast<unsigned char>(content[n]))) {
        ++n;
    }
    std::size_t colon = n;
    while (colon < content.size() && (content[colon] == ' ' || content[colon] == '\t')) {
        ++colon;
    }
    if (n == 0 || colon >= content.size() || content[colon] != ':') {
        return std::nullopt;
    }
    RawHeader h;
    h.name = std::string(content.substr(0, n));
    h.value = std::string(line.substr(colon + 1));
    return h;
}

// The headers Summarize reads after its pass over them.
struct PickedHeaders {
    const RawHeader* from = nullptr;
    const RawHeader* sender = nullptr;
    const RawHeader* returnPath = nullptr;
    const RawHeader* received = nullptr;
    const RawHeader* deliveryDate = nullptr;
    std::string contentType;
    std::string disposition;
};

void AppendDisplayList(std::string& list, const RawHeader& h) {
    const std::string d = DisplayList(h.value);
    if (!d.empty()) {
        list += (list.empty() ? "" : "; ") + d;
    }
}

void Pick(const RawHeader*& slot, const RawHeader& h) {
    if (slot == nullptr) {
        slot = &h;
    }
}

// One pass: the values read from one header go into the summary, the others are
// picked for the steps after.
PickedHeaders ReadHeaders(const std::vector<RawHeader>& headers, Summary& s) {
    PickedHeaders p;
    for (const RawHeader& h : headers) {
        const std::string n = ToLowerAscii(h.name);
        if (n == "subject" && s.subject.empty()) {
            s.subject = DecodeHeaderText(h.value);
        } else if (n == "from" || n == "sender" || n == "return-path") {
            Pick(n == "from" ? p.from : n == "sender" ? p.sender : p.returnPath, h);
        } else if (n == "to" || n == "cc" || n == "bcc") {
            AppendDisplayList(n == "to" ? s.displayTo : n == "cc" ? s.displayCc : s.displayBcc, h);
        } else if (n == "date" && !s.submitTime) {
            s.submitTime = ParseDate(h.value);
        } else if (n == "received" || n == "delivery-date") {
            Pick(n == "received" ? p.received : p.deliveryDate, h);
        } else if (n == "message-id" && s.messageId.empty()) {
            s.messageId = Trimmed(Unfold(h.value));
        } else if (n == "content-type" && p.contentType.empty()) {
            p.contentType = Trimmed(Unfold(h.value));
        } else if (n == "content-disposition" && p.disposition.empty()) {
            p.disposition = Trimmed(Unfold(h.value));
        }
    }
    return p;
}

// An address list that does not parse ("From: Big Bug bb@bug.com"): the word
// holding the "@".
std::string AddressWord(const std::string& v) {
    const std::size_t at = v.find('@');
    if (at == std::string::npos) {
        return {};
    }
    auto stop = [](char c) {
        return static_cast<unsigned char>(c) <= ' ' || std::strchr("<>()[],;:\"", c);
    };
    std::size_t b = at, e = at + 1;
    while (b > 0 && !stop(v[b - 1])) {
        --b;
    }
    while (e < v.size() && !stop(v[e])) {
        ++e;
    }
    return b < at && e > at + 1 ? v.substr(b, e - b) : std::string();
}

void FindSender(const PickedHeaders& p, Summary& s) {
    for (const RawHeader* h : {p.from, p.sender}) {
        if (h == nullptr || !s.senderAddress.empty()) {
            continue;
        }
        auto addrs = ParseAddresses(h->value);
        if (!addrs.empty()) {
            s.senderName = addrs[0].first;
            s.senderAddress = addrs[0].second;
        }
    }
    if (s.senderAddress.empty() && p.from != nullptr) {
        s.senderAddress = AddressWord(Unfold(p.from->value));
    }
    if (s.senderAddress.empty() && p.returnPath != nullptr) {
        std::string rp = Trimmed(Unfold(p.returnPath->value));
        rp.erase(std::remove_if(rp.begin(), rp.end(), [](char c) { return c == '<' || c == '>'; }),
                 rp.end());
        s.senderAddress = Trimmed(rp);
    }
}

void FindDeliveryTime(const PickedHeaders& p, Summary& s) {
    if (p.received != nullptr) {
        const std::string v = Unfold(p.received->value);
        const std::size_t semi = v.rfind(';');
        if (semi != std::string::npos) {
            s.deliveryTime = ParseDate(std::string_view(v).substr(semi + 1));
        }
    }
    if (!s.deliveryTime && p.deliveryDate != nullptr) {
        s.deliveryTime = ParseDate(p.deliveryDate->value);
    }
    if (!s.deliveryTime) {
        s.deliveryTime = s.submitTime;
    }
}

// Whether a lower-case header value has the parameter `name` (also in its RFC 2231
// forms name*=, name*0=, name*0*=).
bool HasParameter(const std::string& value, const std::string& name) {
    std::size_t pos = value.find(';');
    while (pos != std::string::npos) {
        std::size_t b = value.find_first_not_of(" \t\r\n", pos + 1);
        if (b == std::string::npos) {
            return false;
        }
        if (value.compare(b, name.size(), name) == 0) {
            const std::size_t after = b + name.size();
            if (after < value.size() &&
                (value[after] == '=' || value[after] == '*' || value[after] == ' ')) {
                return true;
            }
        }
        pos = value.find(';', b);
    }
    return false;
}

// Only the media type and whether a file name is given.
void ReadContentFacts(const PickedHeaders& p, Summary& s) {
    if (!p.contentType.empty()) {
        const std::string lower = ToLowerAscii(p.contentType);
        const std::string type = Trimmed(std::string_view(lower).substr(0, lower.find(';')));
        if (type.find('/') != std::string::npos) {
            s.contentType = type;
        }
        s.hasFileName = HasParameter(lower, "name");
    }
    if (!p.disposition.empty()) {
        const std::string lower = ToLowerAscii(p.disposition);
        s.attachmentDisposition = lower.rfind("attachment", 0) == 0;
        s.hasFileName = s.hasFileName || HasParameter(lower, "filename");
    }
}

std::string SubjectLine(std::string subject, const char* nl) {
    for (char& c : subject) {
        if (c == '\r' || c == '\n') {
            c = ' ';
        }
    }
    bool plain = subject.size() < 900;
    for (unsigned char c : subject) {
        plain = plain && c >= 0x20 && c < 0x7F;
    }
    if (plain) {
        return "Subject: " + subject + nl;
    }
    GString enc(g_mime_utils_header_encode_text(nullptr, subject.c_str(), "utf-8"));
    return std::string("Subject: ") + (enc ? enc.get() : subject.c_str()) + nl;
}

} // namespace

HeaderBlock SplitHeaders(std::string_view bytes) {
    HeaderBlock block;
    std::size_t pos = 0;
    auto lineEnd = [&](std::size_t from) {
        const std::size_t nl = bytes.find('\n', from);
        return nl == std::string_view::npos ? bytes.size() : nl + 1;
    };
    if (bytes.compare(0, 5, "From ") == 0) {
        pos = lineEnd(0);
        block.prefixEnd = pos;
    }
    const std::size_t firstEnd = lineEnd(pos);
    block.crlf = firstEnd >= 2 && bytes[firstEnd - 1] == '\n' && bytes[firstEnd - 2] == '\r';
    while (pos < bytes.size()) {
        const std::size_t end = lineEnd(pos);
        const std::string_view line = bytes.substr(pos, end - pos);
        std::string_view content = line;
        while (!content.empty() && (content.back() == '\n' || content.back() == '\r')) {
            content.remove_suffix(1);
        }
        if (content.empty()) {
            block.headersEnd = pos;
            block.present = !block.headers.empty();
            block.bodyOffset = block.present ? end : 0;
            return block;
        }
        if ((content[0] == ' ' || content[0] == '\t') && !block.headers.empty()) {
            block.headers.back().value.append(line);
            block.headers.back().end = end;
            pos = end;
            continue;
        }
        std::optional<RawHeader> h = HeaderOf(line, content);
        if (!h) {
            break; // not a header line: the body starts here
        }
        h->begin = pos;
        h->end = end;
        block.headers.push_back(std::move(*h));
        pos = end;
    }
    block.present = !block.headers.empty();
    block.headersEnd = pos;
    block.bodyOffset = block.present ? pos : 0;
    return block;
}

Summary Summarize(const std::vector<RawHeader>& headers) {
    Summary s;
    const PickedHeaders picked = ReadHeaders(headers, s);
    FindSender(picked, s);
    FindDeliveryTime(picked, s);
    ReadContentFacts(picked, s);
    return s;
}

std::optional<bool> HasAttachmentsFromHeaders(const Summary& s) {
    const std::string& t = s.contentType;
    if (t.rfind("multipart/", 0) == 0 || t.rfind("message/", 0) == 0) {
        return std::nullopt;
    }
    const bool body = t.empty() || t == "text/plain" || t == "text/html";
    return s.attachmentDisposition || s.hasFileName || !body;
}

std::vector<std::string> HeaderWords(const std::vector<RawHeader>& headers, std::string_view name) {
    std::vector<std::string> words;
    for (const RawHeader& h : headers) {
        if (!EqualsNoCase(h.name, name)) {
            continue;
        }
        const std::string v = Unfold(h.value);
        std::size_t p = 0;
        while (p < v.size()) {
            const std::size_t b = v.find_first_not_of(" \t", p);
            if (b == std::string::npos) {
                break;
            }
            const std::size_t e = std::min(v.find_first_of(" \t", b), v.size());
            words.push_back(v.substr(b, e - b));
            p = e;
        }
        if (!words.empty()) {
            break;
        }
    }
    return words;
}

std::string RewriteHeaders(std::string_view bytes, const std::optional<std::string>& newSubject,
                           const HeaderLine& added) {
    const HeaderBlock block = SplitHeaders(bytes);
    const char* nl = block.crlf ? "\r\n" : "\n";
    const std::string subjectLine = newSubject ? SubjectLine(*newSubject, nl) : std::string();
    const std::string addedLine = added.name + ": " + added.value + nl;
    std::string out;
    out.reserve(bytes.size() + 200);
    if (!block.present) {
        out += subjectLine + addedLine + nl;
        out.append(bytes);
        return out;
    }
    out.append(bytes.substr(0, block.prefixEnd));
    bool subjectDone = !newSubject;
    for (const RawHeader& h : block.headers) {
        if (EqualsNoCase(h.name, added.name)) {
            continue;
        }
        if (newSubject && EqualsNoCase(h.name, "Subject")) {
            out += subjectDone ? "" : subjectLine;
            subjectDone = true;
            continue;
        }
        out.append(bytes.substr(h.begin, h.end - h.begin));
        if (h.end == bytes.size() && (out.empty() || out.back() != '\n')) {
            out += nl;
        }
    }
    out += (subjectDone ? "" : subjectLine) + addedLine;
    if (block.bodyOffset <= block.headersEnd) {
        out += nl; // the body began without a blank line, or there was none
    }
    out.append(bytes.substr(block.headersEnd)); // the blank line, if any, and the body
    return out;
}

} // namespace qf::mapi::mime
