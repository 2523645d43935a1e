// An email found again by its identity (store and entry identifier), long
// after the object that listed it was released: what an exception row of a
// run keeps, and what the message window shows.
#pragma once

#include "mail/email.h"
#include "mail/store.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qf {

class MapiSession;

// One attachment as the message window lists it.
struct AttachmentSummary {
    std::int32_t attachNumber = 0;
    std::string fileName;
    std::int32_t size = 0;
    bool embeddedEmail = false;
};

// What the message window shows of an email.
struct EmailContent {
    std::string from;
    std::string to;
    std::string cc;
    std::string date;
    std::string subject;
    std::string plainBody;
    std::string htmlBody;
    std::vector<AttachmentSummary> attachments;
};

class StoredEmail {
public:
    // Opens the email named by the identifiers in `session`'s profile.  An
    // email moved or deleted meanwhile raises the mail error "360" (the
    // message), an unknown store the error of opening the store.
    static std::unique_ptr<StoredEmail> Open(MapiSession& session,
                                             const std::vector<std::uint8_t>& storeEntryId,
                                             const std::vector<std::uint8_t>& emailEntryId);
    StoredEmail(const StoredEmail&) = delete;
    StoredEmail& operator=(const StoredEmail&) = delete;
    ~StoredEmail();

    EmailMessage& Email() { return *email_; }
    const std::string& StoreDisplayName() const { return store_->DisplayName(); }

    // Headers, bodies and the attachment list.  Raises the mail error when the
    // email cannot be read.
    EmailContent ReadContent();
    // Writes attachment `attachNumber`'s content to `fileName` (created or
    // replaced); an embedded email is written as its text.
    void SaveAttachment(std::int32_t attachNumber, const std::string& fileName);

private:
    StoredEmail() = default;

    std::unique_ptr<MailStore> store_;
    std::unique_ptr<MailFolder> place_; // names the store for the email's errors
    std::unique_ptr<EmailMessage> email_;
};

// A file name for an attachment that keeps it inside the folder it is
// written to: the part after the last "/" or "\\", without control
// characters; "attachment" (".txt" for an embedded email) when nothing is
// left, and never "." or "..".
std::string SafeAttachmentFileName(const std::string& name, bool embeddedEmail);

// Bytes kept in a text (as the run host hands identifiers over) and back.
std::vector<std::uint8_t> BytesOf(const std::string& text);

} // namespace qf
