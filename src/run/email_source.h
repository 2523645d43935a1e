// What the run needs from an email and from an attachment.  The mail layer's
// message and attachment classes plug in through thin adapters, and tests
// supply their own.
#pragma once

#include "common/date_time.h"

#include <optional>
#include <string>
#include <string_view>

namespace qf {

class EmailFields {
public:
    virtual ~EmailFields() = default;
    // The named template field as UTF-8 text: "SUBJECT", "FROM", "TO", "CC",
    // "BCC", "SENT" or "NOW" (always upper case).  Throws when the value
    // cannot be obtained.
    virtual std::string FieldValue(std::string_view name) = 0;
    // When the email was delivered, in local time; nullopt when it has none.
    virtual std::optional<DateTime> DeliveryTime() = 0;
    // The plain-text body as bytes, unchanged; empty when there is none.
    virtual std::string ReadBody() = 0;
};

class AttachmentFields {
public:
    virtual ~AttachmentFields() = default;
    // "FILENAME" or "S": the attachment's file name.  Throws on failure.
    virtual std::string FieldValue(std::string_view name) = 0;
    // The email the attachment belongs to; null when there is none.
    virtual EmailFields* OwnerEmail() = 0;
};

} // namespace qf
