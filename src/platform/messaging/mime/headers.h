// The header block of a message: split from the bytes without building GMime
// objects (this runs for every listed message), summarised to what the
// properties need, and rewritten with everything else kept byte for byte.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qf::mapi::mime {

struct RawHeader {
    std::string name;
    std::string value;     // raw, folding kept
    std::size_t begin = 0; // the header's lines in the bytes
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

// A file with no headers at all is all body (GMime 3.2.13 yields no message for it).
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

// The words of the first `name` header that has any, split at blanks.
std::vector<std::string> HeaderWords(const std::vector<RawHeader>& headers, std::string_view name);

struct HeaderLine {
    std::string name;
    std::string value;
};

// The message with its subject replaced (when given), every `added.name` header
// taken out and `added` written after the other headers; everything else is kept
// byte for byte.
std::string RewriteHeaders(std::string_view bytes, const std::optional<std::string>& newSubject,
                           const HeaderLine& added);

} // namespace qf::mapi::mime
