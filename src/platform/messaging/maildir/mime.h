// MIME messages as the Maildir provider reads and rewrites them (GMime 3.2).
//
// Two depths of reading:
//  - the header block alone (SplitHeaders + Summarize): subject, addresses, dates,
//    the top content type; enough for most columns of a contents table;
//  - the structure (ParsedContent): which parts are the plain and HTML bodies and
//    which are attachments or embedded messages.  Bodies and attachment data are
//    decoded only when asked for.
//
// GMime 3.2.13 has defects that this file works around:
//  - adjacent base64 encoded-words whose first ends in "=" padding lose the rest of
//    the header: such words are merged into one before decoding;
//  - a text part without charset comes back raw: valid UTF-8 is kept, anything else
//    is read as Windows-1252;
//  - a multipart whose boundary never occurs keeps its content in the prologue:
//    that text becomes the body;
//  - a file with no headers yields no message: it is all body;
//  - an address list split by ";" loses the addresses after it: ";" outside quotes
//    and groups is read as ",".
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

typedef struct _GMimeObject GMimeObject;
typedef struct _GMimeMessage GMimeMessage;

namespace qf::mapi::maildir {

// The header that names the message a rewritten message replaces.
inline constexpr const char* kReplacesHeader = "X-Quillfence-Replaces";

struct RawHeader {
    std::string name;
    std::string value;     // raw, folding kept
    std::size_t begin = 0; // the header's lines in the file
    std::size_t end = 0;
};

struct HeaderBlock {
    bool present = false;       // false: the bytes do not begin with a header
    bool crlf = false;          // the lines end in CR LF
    std::size_t prefixEnd = 0;  // end of a leading "From " line, if any
    std::size_t headersEnd = 0; // end of the last header line
    std::size_t bodyOffset = 0; // first byte of the body
    std::vector<RawHeader> headers;
};

HeaderBlock SplitHeaders(std::string_view bytes);

// What the headers say, decoded to UTF-8.
struct Summary {
    std::string subject;
    std::string senderAddress;
    std::string senderName;
    std::string displayTo; // display names (or addresses) joined by "; "
    std::string displayCc;
    std::string displayBcc;
    std::string messageId;
    std::vector<std::string> replaces;        // kReplacesHeader: the unique names it replaces
    std::optional<std::int64_t> submitTime;   // Date, seconds since 1970 UTC
    std::optional<std::int64_t> deliveryTime; // Received, else Delivery-Date, else Date
    std::string contentType;                  // "type/subtype" in lower case; "" when absent
    bool attachmentDisposition = false;       // Content-Disposition: attachment
    bool hasFileName = false;                 // a filename or name parameter
};

Summary Summarize(const std::vector<RawHeader>& headers);

// Whether a message whose top part the summary describes has attachments, when that
// can be told without reading its structure (it is not a multipart or message).
std::optional<bool> HasAttachmentsFromHeaders(const Summary& summary);

// Decoding helpers, exposed for tests.
std::string DecodeHeaderText(std::string_view raw);
std::string ToUtf8(std::string_view bytes, const char* charset);
std::string HtmlToText(std::string_view html);

struct AttachmentInfo {
    GMimeObject* part = nullptr; // GMimePart or GMimeMessagePart, owned by the tree
    bool embedded = false;
    std::string longName;  // decoded file name, or a made-up one; empty for an unnamed message
    std::string extension; // ".pdf", or empty
    std::string mimeType;
    std::string contentId;
};

class ParsedContent {
public:
    // Parses a whole message file.  Never fails: what cannot be made sense of is body.
    static std::shared_ptr<ParsedContent> Parse(std::string bytes);

    ~ParsedContent();
    ParsedContent(const ParsedContent&) = delete;
    ParsedContent& operator=(const ParsedContent&) = delete;

    const Summary& summary() const { return summary_; }
    const std::vector<AttachmentInfo>& attachments() const { return attachments_; }
    bool HasAttachments() const { return !attachments_.empty(); }

    const std::string& PlainBody(); // UTF-8; made from the HTML body when there is none
    const std::string& HtmlBody();  // UTF-8, empty when there is none
    std::string AttachmentData(std::size_t index);              // decoded bytes
    std::shared_ptr<ParsedContent> Embedded(std::size_t index); // null unless embedded
    std::size_t Size();                                         // bytes of the message as stored

    // The whole message with its plain body replaced by `utf8Body`.
    std::string WithNewBody(std::string_view utf8Body);

private:
    struct Tree;
    ParsedContent() = default;
    void Walk(GMimeObject* object, GMimeObject* parent, int index);

    std::shared_ptr<Tree> tree_;
    GMimeMessage* message_ = nullptr; // null: the file has no headers
    std::string raw_;                 // the file's bytes (top-level messages only)
    bool crlf_ = false;
    Summary summary_;
    std::vector<AttachmentInfo> attachments_;
    GMimeObject* plainPart_ = nullptr;
    std::vector<GMimeObject*> extraPlainParts_;
    GMimeObject* htmlPart_ = nullptr;
    GMimeObject* htmlParent_ = nullptr;
    int htmlIndex_ = -1;
    std::optional<std::string> prologueBody_;
    std::optional<std::string> plain_;
    std::optional<std::string> html_;
    std::optional<std::size_t> size_;
};

// The message with its subject replaced (when given), `replaces` added in front of
// the names its replaces-header held, and everything else kept byte for byte.
std::string RewriteHeaders(std::string_view bytes, const std::optional<std::string>& newSubject,
                           const std::string& replaces);

} // namespace qf::mapi::maildir
