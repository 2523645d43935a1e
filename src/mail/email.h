// One email as the extraction run sees it, and its attachments.
#pragma once

#include "common/fileio.h"
#include "mail/mail_time.h"
#include "platform/messaging/mapi.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qf {

class Attachment;
class MailFolder;

// The columns read for every listed or embedded email, in this order.
const mapi::PropTagArray& MessageColumns();

class EmailMessage {
public:
    EmailMessage();
    ~EmailMessage();
    EmailMessage(const EmailMessage&) = delete;
    EmailMessage& operator=(const EmailMessage&) = delete;

    // Fields, loaded from a listing row (or set by hand for a sample email).
    std::shared_ptr<mapi::IMessage> mapiMessage; // opened on first use
    std::string cachedBcc;
    std::string cachedCc;
    bool hasAttachments = false;
    std::string subject;
    std::int32_t messageSize = 0;
    DateTime deliveryTime = 0;                  // local; 0 when unset
    std::unique_ptr<MailFolder> messageEntryId; // holder of the email's identifier
    std::uint32_t messageFlags = 0;
    std::uint32_t storeSupportMask = 0;
    std::string senderAddress;
    MailFolder* folder = nullptr; // the folder listed from; not owned
    std::string displayTo;

    // Loads the fields from a row or value array of MessageColumns(): a value is
    // taken only when it carries the requested tag.
    void LoadFields(const std::vector<mapi::PropValue>& values);

    // A named template field (SUBJECT, FROM, TO, CC, BCC, SENT, NOW); "%" and
    // the name for others; "Error" when the value cannot be had.  Never raises.
    std::string FieldValue(const std::string& name);

    // The plain-text body as bytes (empty when there is none).  A failed read
    // shows the stream notice and raises the mail error: a part of a body is
    // never handed out as the whole.
    std::string ReadBody();
    // Replaces the body and saves.  A failed or short write raises the mail
    // error and drops the unsaved change.  After a save conflict the bytes go
    // into the fresh copy as given: a caller whose bytes were made from the
    // old body uses PrependToBody.
    void WriteBody(const std::string& bytes);
    // Puts `note` before the body and saves.  After a save conflict the note
    // goes before the fresh copy's body, so another program's change to the
    // body is kept.
    void PrependToBody(const std::string& note);
    // Replaces the subject and saves; Subject keeps the old text.  After a
    // save conflict the text goes into the fresh copy as given (see TagSubject).
    void SetSubject(const std::string& text);
    // Puts `tag` before the subject and saves; Subject keeps the old text.
    // After a save conflict the tag goes before the fresh copy's subject.
    void TagSubject(const std::string& tag);
    // Saves pending changes.  When another program changed or replaced the
    // message since it was opened, the message is opened afresh, the changes made
    // through this object are made again on the fresh copy (a tag or note put
    // before that copy's own subject or body) and saved normally; a second
    // conflict, or a message that is gone, raises "<label>-351".
    void SaveChanges(const std::string& label);
    // Sets the read flag without a receipt; nothing when already read.
    void MarkRead();
    // The subject without one leading "RE:", "FW:" or "FWD:" and leading blanks.
    std::string SubjectWithoutPrefix() const;

    // Empties the list and fills it with the email's attachments.
    void ListAttachments(std::vector<std::unique_ptr<Attachment>>& list);
    // A new email object for the embedded email of attachment `attachNumber`.
    std::unique_ptr<EmailMessage> OpenEmbedded(std::int32_t attachNumber);

    // The platform message: the one held, else opened by its identifier (mail
    // error "360"; an email with neither raises "360" too).
    std::shared_ptr<mapi::IMessage> OpenMessage();
    // The platform store errors are asked about (nullptr when there is none).
    std::shared_ptr<mapi::IMsgStore> ErrorSource();

    // True for an email opened inside another one (it has no identifier of its
    // own and is never reopened).
    bool IsEmbedded() const { return embedded_; }
    // The email an embedded email was opened from (nullptr for a stored one);
    // it outlives the embedded email.
    EmailMessage* Outer() const { return outer_; }
    // The stored email that holds this one (itself for a stored email).
    const EmailMessage& Outermost() const;

    // Used by Attachment.
    std::string EmbeddedStringProperty(std::int32_t attachNumber, mapi::PropTag tag);
    std::shared_ptr<mapi::IMessage> OpenEmbeddedMessage(std::int32_t attachNumber);

private:
    std::string ReadStringProperty(mapi::PropTag tag, const std::string& label);
    bool IsRtfInSync();
    std::string ReadTextStream(mapi::PropTag tag, const std::string& label);

    // A change to one text field, kept so that it can be made again on a
    // fresh copy: the whole new value, or text put before the field's value.
    struct FieldChange {
        std::string text;
        bool prepend = false;
    };
    // The field's new value in the copy at hand (the one OpenMessage holds).
    std::string NewSubject(mapi::IMessage& message, const FieldChange& change,
                           const std::string& label);
    std::string NewStream(const FieldChange& change, mapi::PropTag tag, const std::string& label);
    void ChangeSubject(const FieldChange& change);
    // Sets the subject of `message`; the problems of SetProps go to `problems`.
    mapi::HRESULT PutSubject(mapi::IMessage& message, const FieldChange& change,
                             std::vector<mapi::PropProblem>& problems);
    void WriteTextStream(const FieldChange& change, mapi::PropTag tag, const std::string& label);
    // Writes and commits a stream property.  Returns the conflict (having
    // changed nothing) when `mayReopen` and the message changed since it was
    // opened, else S_OK.
    mapi::HRESULT PutStream(mapi::IMessage& message, const std::string& bytes, mapi::PropTag tag,
                            const std::string& label, bool mayReopen);
    bool CanReopen() const;
    // Opens the stored email afresh after `conflict`; when it is gone, raises
    // the mail error `label` with `conflict`.
    std::shared_ptr<mapi::IMessage> Reopen(const std::string& label, mapi::HRESULT conflict);
    void ApplyPendingChanges(mapi::IMessage& message, const std::string& label);
    void DropUnsavedChanges();
    std::string FieldValueOrThrow(const std::string& name);

    // Changes made through this object since the last successful save, kept to
    // apply them again to a fresh copy after a conflict.
    struct PendingStream {
        mapi::PropTag tag;
        FieldChange change;
    };
    std::optional<FieldChange> pendingSubject_;
    std::optional<PendingStream> pendingStream_;
    bool embedded_ = false;
    EmailMessage* outer_ = nullptr;
};

class Attachment {
public:
    static constexpr std::int32_t kNoMethod = 0x37010102; // matches no attach method

    std::int32_t attachNumber = 0;
    std::string fileName;
    std::int32_t attachSize = 0;
    EmailMessage* ownerMessage = nullptr; // not owned; outlives the attachment
    std::int32_t attachMethod = kNoMethod;

    // "FILENAME" and "S" give FileName; other names are the owner's.
    std::string FieldValue(const std::string& name) const;

    // Writes the attachment's content to `fileName` (created or replaced, see
    // WriteFileAtomic for its permissions).  For an embedded email the content
    // is its plain body, else its HTML body.  `detailsObject` is asked about
    // failures to open the attachment.  A symbolic link at `fileName` is
    // refused unless `links` says to write where it leads (a name the user
    // chose in a dialog).  With Durability::Deferred the caller makes the
    // file durable (see WriteFileAtomic).
    void SaveContentToFile(mapi::IMAPIProp* detailsObject, const std::string& fileName,
                           FollowLinks links = FollowLinks::No,
                           Durability durability = Durability::Immediate);

    // The content as SaveContentToFile writes it, held in memory: for callers
    // that need it as text.  Content longer than `maxBytes` raises the mail
    // error "540" (MAPI_E_NOT_ENOUGH_MEMORY) rather than filling memory;
    // SaveContentToFile copies any size a piece at a time.
    static constexpr std::size_t kMaxContentInMemory = 64u << 20;
    std::string ReadContent(mapi::IMAPIProp* detailsObject,
                            std::size_t maxBytes = kMaxContentInMemory);

private:
    std::string EmbeddedText();
    std::shared_ptr<mapi::IStream> OpenContentStream(mapi::IMAPIProp* details);
    mapi::IMAPIProp* Details(mapi::IMAPIProp* detailsObject,
                             std::shared_ptr<mapi::IMsgStore>& holder);
};

} // namespace qf
