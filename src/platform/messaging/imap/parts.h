// Reading a large message without its large attachments.  From the message's
// shape (BODYSTRUCTURE) a plan names the sections to fetch in one command:
// the MIME header of every part, and the content of every part except the
// large attachments.  Put together again, those sections make the message as
// the MIME reading knows it, with the large attachments empty; their content
// is read from the server a piece at a time when it is opened.
//
// Only leaf attachments are left out: a body text of any size is read whole,
// and so is an attached message (its own parts are read as the message's).
#pragma once

#include "platform/messaging/imap/structure.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace qf::mapi::imap {

// A message larger than this (RFC822.SIZE) is read in parts.
inline constexpr std::uint32_t kLargeMessage = 1u << 20;
// An attachment larger than this on the wire stays on the server until read.
inline constexpr std::uint32_t kLargePart = 256u << 10;
// Content left on the server is read in pieces of this size.
inline constexpr std::uint32_t kPartChunk = 256u << 10;

struct PartsPlan {
    std::vector<std::string> sections;        // FETCH names, "HEADER" not among them
    std::map<std::size_t, PartShape> omitted; // by the part's place among the leaf parts
};

// Nothing when the shape cannot be put together again (a multipart whose
// boundary the server did not give).
std::optional<PartsPlan> PlanParts(const PartShape& shape);

// The message from its header and the sections the plan named; nothing when
// the server left out a section asked for.  The parts left out are empty, or
// hold the text `markers` gives for their place among the leaf parts.
std::optional<std::string>
AssembleParts(const std::string& header, const PartShape& shape,
              const std::map<std::string, std::string>& sections,
              const std::map<std::size_t, std::string>* markers = nullptr);

// The decoded size of a part's content, from its size on the wire (base64
// lines of 76 characters); exact for content sent as it is.
std::uint64_t DecodedSizeOf(const PartShape& part);

} // namespace qf::mapi::imap
