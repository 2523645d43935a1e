// A message's properties computed from what a provider knows of it: its place,
// its file (or other storage) facts, and its MIME content read to the depth the
// asked-for properties need.
#pragma once

#include "platform/messaging/entryid.h"
#include "platform/messaging/mapi.h"
#include "platform/messaging/mime/content.h"

#include <optional>
#include <string>

namespace qf::mapi::mime {

// What a message's properties are computed from.
struct MessageFacts {
    StoreUid store{};
    std::uint32_t supportMask = 0; // the store's PR_STORE_SUPPORT_MASK
    std::string folder;
    std::string unique; // empty: an embedded message
    std::string flags;  // Maildir-style flag letters ("S": read)
    bool known = true;  // false: the message could not be read
    std::int64_t size = 0;
    std::optional<FileTime> fileTime;
    const Summary* summary = nullptr;
    std::optional<bool> hasAttach;
    ParsedContent* content = nullptr; // null unless the whole message was parsed
    const std::optional<std::string>* pendingSubject = nullptr;
    const std::optional<std::string>* pendingBody = nullptr;
};

// How much of a message a property needs: its header block, its structure (which
// parts it has), or all of it decoded.  Tables read each row only that deep.
enum class Depth { Headers, Structure, Full };

Depth DepthOf(PropTag tag);
Depth DepthOf(const PropTagArray& tags);

// The value of `tag`, or NotFound(tag).
PropValue MessageProp(PropTag tag, const MessageFacts& facts);
// The values of `tags`, or (null tags) of every property the message has.
std::vector<PropValue> MessageProps(const PropTagArray* tags, const MessageFacts& facts);
// MAPI_W_ERRORS_RETURNED when a value is missing, else S_OK.
HRESULT PropsResult(const std::vector<PropValue>& values);

} // namespace qf::mapi::mime
