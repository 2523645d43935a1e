// What a message's BODYSTRUCTURE tells without reading the message: whether it
// has attachments, by the rule the shared MIME reading applies (mime/content.h):
// every leaf part is an attachment except unnamed text/plain and text/html
// parts that are not marked as attachments; an attached message always is one.
#pragma once

struct mailimap_body;

namespace qf::mapi::imap {

bool HasAttachments(const mailimap_body& body);

} // namespace qf::mapi::imap
