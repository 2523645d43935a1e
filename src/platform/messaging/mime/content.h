// The structure of a MIME message (GMime 3.2): which parts are the plain and
// HTML bodies and which are attachments or embedded messages.  Bodies and
// attachment data are decoded only when asked for.
//
// GMime 3.2.13 defects worked around here (see also decode.h, addresses.h):
//  - a multipart whose boundary never occurs keeps its content in the prologue:
//    that text becomes the body;
//  - a file with no headers yields no message: it is all body.
#pragma once

#include "platform/messaging/mapi.h"
#include "platform/messaging/mime/headers.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

typedef struct _GMimeObject GMimeObject;
typedef struct _GMimeMessage GMimeMessage;
typedef struct _GMimeTextPart GMimeTextPart;

namespace qf::mapi::mime {

struct AttachmentInfo {
    GMimeObject* part = nullptr; // GMimePart or GMimeMessagePart, owned by the tree
    bool embedded = false;
    std::string longName;  // decoded file name, or a made-up one; empty for an unnamed message
    std::string extension; // ".pdf", or empty
    std::string mimeType;
    std::string contentId;
    std::size_t leaf = 0; // the part's place among the leaf parts, in reading order
};

// The content of a part left out of the bytes parsed: its decoded size (as
// far as it is known) and a way to read it.
struct OmittedContent {
    std::uint64_t size = 0;
    std::function<std::shared_ptr<IStream>()> open;
};

class ParsedContent {
public:
    // Parses a whole message file.  Never fails: what cannot be made sense of is body.
    static std::shared_ptr<ParsedContent> Parse(std::string bytes);
    // Parses a message whose leaf parts named in `omitted` (by their place
    // among the leaf parts, counted in reading order, a message/rfc822 part
    // being one leaf) came without their content.
    static std::shared_ptr<ParsedContent> Parse(std::string bytes,
                                                std::map<std::size_t, OmittedContent> omitted);

    ~ParsedContent();
    ParsedContent(const ParsedContent&) = delete;
    ParsedContent& operator=(const ParsedContent&) = delete;

    const Summary& summary() const { return summary_; }
    const std::vector<AttachmentInfo>& attachments() const { return attachments_; }
    bool HasAttachments() const { return !attachments_.empty(); }

    const std::string& PlainBody(); // UTF-8; made from the HTML body when there is none
    const std::string& HtmlBody();  // UTF-8, empty when there is none
    std::string AttachmentData(std::size_t index); // decoded bytes
    // The decoded bytes as a stream: read from where they lie when the part
    // was left out, else from memory.
    std::shared_ptr<IStream> OpenAttachment(std::size_t index);
    // The decoded size: counted as the content decodes (never held whole), or
    // as the provider estimates it for a part left out.
    std::uint64_t AttachmentSize(std::size_t index);
    // True when contents were left out: RawBytes() is then empty, and only the
    // provider can give the message's bytes.
    bool IsPartial() const { return partial_; }
    // How many of the omitted parts are attachments (the others would be
    // missing from a body).
    std::size_t OmittedAttachments() const { return omitted_.size(); }
    std::shared_ptr<ParsedContent> Embedded(std::size_t index); // null unless embedded
    // The message as stored: the bytes parsed, or for an embedded message the
    // message written out.
    std::string RawBytes();
    std::size_t Size(); // RawBytes().size(), kept

    // The whole message with its plain body replaced by `utf8Body`; nothing
    // for a partial message (its provider reads it whole first).
    std::optional<std::string> WithNewBody(std::string_view utf8Body);

private:
    struct Tree;
    ParsedContent() = default;
    void Walk(GMimeObject* object, GMimeObject* parent, int index);
    void WalkMultipart(GMimeObject* object);
    void AddMessagePart(GMimeObject* object, const std::string& type);
    void AddLeafPart(GMimeObject* object, GMimeObject* parent, int index, const std::string& type);
    std::string HeadersWithTextBody(const std::string& body) const;
    void PlaceBody(const std::string& body);
    void ReplacePlainParts(const std::string& body);
    void AddBesideHtml(GMimeTextPart* text);
    void WrapInMixed(GMimeTextPart* text, GMimeObject* top);

    std::shared_ptr<Tree> tree_;
    GMimeMessage* message_ = nullptr; // null: the file has no headers
    std::string_view raw_;            // the file's bytes, in tree_ (top-level messages only)
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
    std::size_t leaves_ = 0;
    bool partial_ = false;
    std::map<std::size_t, OmittedContent> omitted_; // by attachment index
};

} // namespace qf::mapi::mime
