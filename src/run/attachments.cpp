#include "run/attachments.h"

#include "common/error.h"
#include "i18n/translate.h"
#include "mail/email.h"
#include "run/email_text.h"
#include "run/macros.h"

#include <sys/stat.h>

namespace qf {
namespace {

constexpr std::int32_t kEmbeddedMessage = 5; // ATTACH_EMBEDDED_MSG

// The email's platform object, asked for the details of a failed save.
mapi::IMAPIProp* ErrorDetails(EmailMessage& email) {
    try {
        return email.OpenMessage().get();
    } catch (const std::exception&) {
        return nullptr;
    }
}

bool PathExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

} // namespace

std::string AttachmentExtension(const std::string& fileName) {
    const auto dot = fileName.rfind('.');
    if (dot == std::string::npos) {
        return {};
    }
    std::string ext = fileName.substr(dot);
    for (char& c : ext) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || u < 0x20 || u == 0x7F) {
            c = '_';
        } else if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return ext;
}

void AttachmentHandler::ProcessAttachments(EmailMessage& email, std::string& text, int depth) {
    std::vector<std::unique_ptr<Attachment>> attachments;
    email.ListAttachments(attachments);
    for (auto& attachment : attachments) {
        if (run_.Cancelled()) {
            run_.attachmentsCut = true;
            break;
        }
        run_.Pump();
        ProcessAttachment(email, *attachment, text, depth);
    }
}

void AttachmentHandler::ProcessAttachment(EmailMessage& email, Attachment& attachment,
                                          std::string& text, int depth) {
    try {
        Handle(email, attachment, text, depth);
    } catch (const std::exception& e) {
        // The attachment did not make it into the output: a person must see
        // to it, and the email must stay where it is.
        try {
            RecordManualIntervention(email, attachment, e.what());
        } catch (const std::exception&) {
            run_.manualIntervention = true;
        }
    }
}

void AttachmentHandler::Handle(EmailMessage& email, Attachment& attachment, std::string& text,
                               int depth) {
    EmailAdapter emailFields(email);
    AttachmentAdapter fields(attachment, emailFields);
    const std::string ext = AttachmentExtension(attachment.fileName);
    const int code = run_.settings().ActionForExtension(ext);

    AttachmentMacros macros(fields, run_.fileNumber);
    const std::string startTag = ExpandMacros(run_.settings().startTag, macros);
    const std::string endTag = ExpandMacros(run_.settings().endTag, macros);

    switch (code) {
    case 1: {
        const std::string name = DetachFileName(ext);
        run_.tempFiles.push_back(name);
        attachment.SaveContentToFile(ErrorDetails(email), name);
        if (auto content = word_.ConvertWithWord(name, attachment, email)) {
            AppendPiece(text, startTag + *content + endTag);
        }
        break;
    }
    case 2:
        AppendPiece(text, startTag +
                              TranslateMsg(8120, "Quillfence: This attachment has been flagged "
                                                 "for manual handling\r\n") +
                              endTag);
        RecordManualIntervention(email, attachment,
                                 TranslateMsg(8130, "Attachment is flagged for manual handling"));
        break;
    case 4: {
        const std::string name = ManualFileName(attachment, emailFields, ext);
        attachment.SaveContentToFile(ErrorDetails(email), name);
        if (!print_ || !print_(name)) {
            RecordManualIntervention(
                email, attachment,
                TranslateFmt(8122,
                             "The attachment %s did not respond correctly to the 'Print' command.",
                             {name}));
        }
        AppendPiece(text, TranslateFmt(8121,
                                       "Quillfence: Attachment %s has been flagged for "
                                       "printing",
                                       {name}));
        WriteWholeFile(name + ".txt", text);
        break;
    }
    case 5: {
        const std::string name = ManualFileName(attachment, emailFields, ext);
        attachment.SaveContentToFile(ErrorDetails(email), name);
        AppendPiece(text, TranslateFmt(8122,
                                       "Quillfence: Attachment %s has been flagged for "
                                       "saving",
                                       {name}));
        WriteWholeFile(name + ".txt", text);
        break;
    }
    case 6: {
        const std::string name = DetachFileName(ext);
        run_.tempFiles.push_back(name);
        attachment.SaveContentToFile(ErrorDetails(email), name);
        const std::string content = ReadWholeFile(name);
        if (IsUnicodeText(content)) {
            AppendUnicodeContent(text, startTag, content, endTag);
        } else {
            AppendPiece(text, startTag + content + endTag);
        }
        break;
    }
    default:
        break; // 3 and anything unknown: ignored
    }

    if (attachment.attachMethod == kEmbeddedMessage) {
        if (depth >= kMaxEmbeddedDepth) {
            RecordManualIntervention(email, attachment, "embedded emails nested too deeply");
            return;
        }
        std::unique_ptr<EmailMessage> embedded = email.OpenEmbedded(attachment.attachNumber);
        ProcessAttachments(*embedded, text, depth + 1);
    }
}

std::string AttachmentHandler::DetachFileName(const std::string& ext) const {
    const std::string prefix =
        run_.settings().directory + "detach" + std::to_string(run_.fileNumber) + "_";
    for (long k = 1;; ++k) {
        std::string name = prefix + std::to_string(k) + ext;
        if (!PathExists(name)) {
            CheckFileNameLength(name);
            return name;
        }
    }
}

std::string AttachmentHandler::ManualFileName(Attachment& attachment, EmailAdapter& email,
                                              const std::string& ext) const {
    AttachmentAdapter fields(attachment, email);
    AttachmentMacros macros(fields, run_.fileNumber);
    const std::string base = run_.settings().manualFolder +
                             ExpandMacros(run_.settings().manualFormat, macros, MacroUse::FileName);
    for (long k = 1;; ++k) {
        std::string name = base + "_" + std::to_string(k) + ext;
        if (!PathExists(name)) {
            CheckFileNameLength(name);
            return name;
        }
    }
}

void AttachmentHandler::RecordManualIntervention(EmailMessage& email, Attachment& attachment,
                                                 const std::string& reason) {
    run_.manualIntervention = true;
    EmailAdapter fields(email);
    std::string outputFile;
    try {
        outputFile = OutputFileName(run_.settings().directory, run_.settings().fileNameFormat,
                                    fields, run_.fileNumber);
    } catch (const Error& e) {
        outputFile = e.what();
    }
    // The row is added even when the note cannot be written into the email:
    // the person who has to act must hear of it either way.
    std::string noteError;
    try {
        const std::string note = TranslateFmt(8220,
                                              "Quillfence: Manual intervention is required (%s) "
                                              "for attachment \"%s\" (output file is \"%s\")\r\n",
                                              {reason, attachment.fileName, outputFile});
        email.WriteBody(note + email.ReadBody());
    } catch (const std::exception& e) {
        noteError = e.what();
    }
    std::string row = TranslateFmt(8230,
                                   "Email with subject \"%s\" requires manual intervention (%s) "
                                   "for attachment \"%s\" (output file is \"%s\")",
                                   {email.subject, reason, attachment.fileName, outputFile});
    if (!noteError.empty()) {
        row += " - " + noteError;
    }
    run_.AddException(row, &email);
}

} // namespace qf
