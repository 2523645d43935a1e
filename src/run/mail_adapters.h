// The mail layer's emails and attachments seen through the fields the run's
// text output needs.
#pragma once

#include "mail/email.h"
#include "run/email_source.h"

namespace qf {

class EmailAdapter : public EmailFields {
public:
    explicit EmailAdapter(EmailMessage& email) : email_(email) {}
    std::string FieldValue(std::string_view name) override;
    std::optional<DateTime> DeliveryTime() override;
    std::string ReadBody() override;
    EmailMessage& Email() { return email_; }

private:
    EmailMessage& email_;
};

class AttachmentAdapter : public AttachmentFields {
public:
    AttachmentAdapter(Attachment& attachment, EmailAdapter& owner)
        : attachment_(attachment), owner_(owner) {}
    std::string FieldValue(std::string_view name) override;
    EmailFields* OwnerEmail() override { return &owner_; }

private:
    Attachment& attachment_;
    EmailAdapter& owner_;
};

} // namespace qf
