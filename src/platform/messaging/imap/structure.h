// What a message's BODYSTRUCTURE tells without reading the message: whether it
// has attachments, by the rule the shared MIME reading applies (mime/content.h):
// every leaf part is an attachment except unnamed text/plain and text/html
// parts that are not marked as attachments; an attached message always is one.
//
// The shape of a message (ShapeOf) says where each part lies on the server, so
// that a large message can be read without its large attachments.
#pragma once

#include "platform/messaging/mime/streams.h"

#include <cstdint>
#include <string>
#include <vector>

struct mailimap_body;

namespace qf::mapi::imap {

bool HasAttachments(const mailimap_body& body);

struct PartShape {
    enum class Kind { Leaf, Multipart, Message };
    Kind kind = Kind::Leaf;
    // The part's number as FETCH names it ({2, 1} is "2.1"); empty for the
    // message's own multipart body.
    std::vector<std::uint32_t> section;
    std::string boundary;          // a multipart's; empty when the server did not say
    bool attachment = false;       // a leaf read as an attachment, not as body text
    std::uint32_t encodedSize = 0; // the content's octets on the wire
    mime::TransferEncoding encoding = mime::TransferEncoding::Identity;
    std::vector<PartShape> parts; // a multipart's
};

PartShape ShapeOf(const mailimap_body& body);
// "2.1"; "" for an empty section.
std::string SectionName(const std::vector<std::uint32_t>& section);

} // namespace qf::mapi::imap
