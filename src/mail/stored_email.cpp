#include "mail/stored_email.h"

#include "common/error.h"
#include "mail/mail_check.h"
#include "mail/session.h"

namespace qf {

using namespace mapi;

namespace {

std::string TextValue(const std::vector<PropValue>& values, std::size_t index, PropTag tag) {
    if (index < values.size() && values[index].tag == tag && values[index].Text() != nullptr) {
        return *values[index].Text();
    }
    return {};
}

// "Name <address>", or whichever of the two is known.
std::string Sender(const std::string& name, const std::string& address) {
    if (name.empty() || name == address) {
        return address;
    }
    return address.empty() ? name : name + " <" + address + ">";
}

} // namespace

std::string SafeAttachmentFileName(const std::string& name, bool embeddedEmail) {
    const std::size_t slash = name.find_last_of("/\\");
    const std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
    std::string clean;
    for (const char c : base) {
        clean += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '_' : c;
    }
    if (clean.empty() || clean == "." || clean == ".." || clean == ".txt") {
        clean = "attachment" + std::string(embeddedEmail || clean == ".txt" ? ".txt" : "");
    }
    return clean;
}

std::vector<std::uint8_t> BytesOf(const std::string& text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

StoredEmail::~StoredEmail() {
    email_.reset(); // before the folder and store it points at
    place_.reset();
}

std::unique_ptr<StoredEmail> StoredEmail::Open(MapiSession& session,
                                               const std::vector<std::uint8_t>& storeEntryId,
                                               const std::vector<std::uint8_t>& emailEntryId) {
    if (storeEntryId.empty() || emailEntryId.empty()) {
        CheckResultNoDetails("360", MAPI_E_INVALID_ENTRYID);
    }
    // The store's name for error texts, when the profile still lists it.
    std::string name = "(unknown store)";
    session.ListStores();
    for (const auto& [storeName, store] : session.Stores()) {
        const auto& id = store->EntryIdBytes();
        if (std::equal(storeEntryId.begin(), storeEntryId.end(), id.begin(), id.end())) {
            name = store->DisplayName();
        }
    }
    std::unique_ptr<StoredEmail> stored(new StoredEmail());
    stored->store_ = std::make_unique<MailStore>(name, &session, storeEntryId);
    stored->place_ = std::make_unique<MailFolder>(stored->store_.get(), emailEntryId);
    stored->email_ = std::make_unique<EmailMessage>();
    EmailMessage& email = *stored->email_;
    email.folder = stored->place_.get();
    email.messageEntryId = std::make_unique<MailFolder>(stored->store_.get(), emailEntryId);
    std::shared_ptr<IMessage> message = email.OpenMessage();
    std::vector<PropValue> values;
    CheckResult(email.ErrorSource(), "410", message->GetProps(&MessageColumns(), 0, values));
    std::unique_ptr<MailFolder> opened = std::move(email.messageEntryId);
    email.LoadFields(values);
    if (!email.messageEntryId) {
        email.messageEntryId = std::move(opened);
    }
    return stored;
}

EmailContent StoredEmail::ReadContent() {
    EmailMessage& email = *email_;
    EmailContent content;
    std::shared_ptr<IMessage> message = email.OpenMessage();
    const PropTagArray tags = {PR_SENDER_NAME, PR_BODY_HTML};
    std::vector<PropValue> values;
    CheckResult(email.ErrorSource(), "260", message->GetProps(&tags, 0, values));
    content.from = Sender(TextValue(values, 0, PR_SENDER_NAME), email.senderAddress);
    content.htmlBody = TextValue(values, 1, PR_BODY_HTML);
    content.to = email.displayTo;
    content.cc = email.FieldValue("CC");
    if (content.cc == "Error") {
        content.cc.clear();
    }
    content.date = email.deliveryTime != 0 ? email.FieldValue("SENT") : std::string();
    content.subject = email.subject;
    content.plainBody = email.ReadBody();
    std::vector<std::unique_ptr<Attachment>> attachments;
    email.ListAttachments(attachments);
    for (const auto& a : attachments) {
        content.attachments.push_back(
            {a->attachNumber, a->fileName, a->attachSize, a->attachMethod == 5});
    }
    return content;
}

void StoredEmail::SaveAttachment(std::int32_t attachNumber, const std::string& fileName) {
    std::vector<std::unique_ptr<Attachment>> attachments;
    email_->ListAttachments(attachments);
    for (const auto& a : attachments) {
        if (a->attachNumber == attachNumber) {
            // The user chose the name: a link there is written through, as
            // the file dialog showed it.
            a->SaveContentToFile(email_->ErrorSource().get(), fileName, FollowLinks::Yes);
            return;
        }
    }
    throw Error("The attachment is no longer part of the email.");
}

} // namespace qf
