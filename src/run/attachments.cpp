#include "run/attachments.h"

#include "common/error.h"
#include "common/legacy_text.h"
#include "i18n/translate.h"
#include "mail/email.h"
#include "run/email_text.h"
#include "run/macros.h"
#include "run/mail_adapters.h"

#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

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

// The first of `base` + k + `ext`, k = 1, 2, ..., that is not taken.
std::string FirstFreeName(const std::string& base, const std::string& ext) {
    for (long k = 1;; ++k) {
        std::string name = base + std::to_string(k) + ext;
        if (!PathExists(name)) {
            CheckFileNameLength(name);
            return name;
        }
    }
}

// What the companion text of a manual copy adds to the copy's name.
constexpr const char* kCompanionExtension = ".txt";

// Appends `note` to the email's text and writes the text as it now stands
// beside the copy `name`, as `name` + ".txt".
void AppendNoteWithCompanion(std::string& text, const std::string& note, const std::string& name) {
    AppendPiece(text, note);
    WriteWholeFile(name + kCompanionExtension, text);
}

// What became of an attachment, judged by what its action left: text added
// to the output, and an exception row for the email.
AttachmentOutcome OutcomeOf(AttachmentAction action, bool textAdded, bool needsPerson) {
    switch (action) {
    case AttachmentAction::ConvertDocument:
        return textAdded || !needsPerson ? AttachmentOutcome::Converted
                                         : AttachmentOutcome::NotConverted;
    case AttachmentAction::FlagForManual:
        return AttachmentOutcome::Flagged;
    case AttachmentAction::Print:
        return needsPerson ? AttachmentOutcome::PrintFailed : AttachmentOutcome::Printed;
    case AttachmentAction::SaveAsFile:
        return AttachmentOutcome::Saved;
    case AttachmentAction::AppendAsText:
        return AttachmentOutcome::IncludedAsText;
    case AttachmentAction::Ignore:
        break;
    }
    return AttachmentOutcome::Ignored;
}

// The report enters an embedded email for as long as this lives.
class EmbeddedInReport {
public:
    EmbeddedInReport(RunReport& report, const std::string& name) : report_(report) {
        report_.EnterEmbedded(name);
    }
    ~EmbeddedInReport() { report_.LeaveEmbedded(); }
    EmbeddedInReport(const EmbeddedInReport&) = delete;
    EmbeddedInReport& operator=(const EmbeddedInReport&) = delete;

private:
    RunReport& report_;
};

} // namespace

// One attachment being handled, with what every action takes from it.
struct AttachmentHandler::InHand {
    InHand(EmailMessage& owner, Attachment& attached, std::string extension,
           const RunContext& context)
        : email(owner), attachment(attached), emailFields(owner), fields(attached, emailFields),
          ext(std::move(extension)) {
        AttachmentMacros macros(fields, context.FileNumber());
        startTag = ExpandMacros(context.RunSettings().startTag, macros);
        endTag = ExpandMacros(context.RunSettings().endTag, macros);
    }
    InHand(const InHand&) = delete;
    InHand& operator=(const InHand&) = delete;

    EmailMessage& email;
    Attachment& attachment;
    EmailAdapter emailFields;
    AttachmentAdapter fields;
    std::string ext;
    std::string startTag;
    std::string endTag;
    std::string copy; // the copy kept in the manual folder, if any
};

AttachmentAction AttachmentActionFromCode(int code) {
    if (code < static_cast<int>(AttachmentAction::ConvertDocument) ||
        code > static_cast<int>(AttachmentAction::AppendAsText)) {
        return AttachmentAction::Ignore;
    }
    return static_cast<AttachmentAction>(code);
}

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
    // Copies not taken (a cancel) are forgotten with their attachments.
    struct Forget {
        std::map<const Attachment*, std::string>& saved;
        const std::vector<std::unique_ptr<Attachment>>& attachments;
        ~Forget() {
            for (const auto& attachment : attachments) {
                saved.erase(attachment.get());
            }
        }
    } forget{savedAhead_, attachments};
    if (depth == 0) {
        TakeUpcoming(email, attachments);
    }
    ConvertDocumentsAhead(email, attachments, [this](const Attachment& a, const std::string& name) {
        savedAhead_[&a] = name;
    });
    for (auto& attachment : attachments) {
        if (context_.Cancelled()) {
            context_.FlagAttachmentsCut();
            break;
        }
        context_.Pump();
        ProcessAttachment(email, *attachment, text, depth);
    }
}

void AttachmentHandler::ProcessAttachment(EmailMessage& email, Attachment& attachment,
                                          std::string& text, int depth) {
    const std::size_t reported = context_.Report().AttachmentCount();
    try {
        Handle(email, attachment, text, depth);
    } catch (const std::exception& e) {
        // Reported already when only its embedded email failed.
        if (context_.Report().AttachmentCount() == reported) {
            context_.Report().AddAttachment(attachment.fileName, AttachmentOutcome::Failed);
        }
        // The attachment did not make it into the output: a person must see
        // to it, and the email must stay where it is.
        try {
            RecordManualIntervention(email, attachment, e.what());
        } catch (const std::exception&) {
            context_.FlagManualIntervention();
        }
    }
}

void AttachmentHandler::Handle(EmailMessage& email, Attachment& attachment, std::string& text,
                               int depth) {
    std::string ext = AttachmentExtension(attachment.fileName);
    const int code = context_.RunSettings().ActionForExtension(ext);
    InHand item(email, attachment, std::move(ext), context_);
    const AttachmentAction action = AttachmentActionFromCode(code);
    const std::size_t textBefore = text.size();
    const std::size_t exceptionsBefore = context_.Report().ExceptionCount();
    const std::size_t notesBefore = context_.NoteCount();

    switch (action) {
    case AttachmentAction::ConvertDocument:
        ConvertDocument(item, text);
        break;
    case AttachmentAction::FlagForManual:
        FlagForManualHandling(item, text);
        break;
    case AttachmentAction::Print:
        PrintCopy(item, text);
        break;
    case AttachmentAction::SaveAsFile:
        SaveCopy(item, text);
        break;
    case AttachmentAction::AppendAsText:
        AppendAsText(item, text);
        break;
    case AttachmentAction::Ignore:
        break;
    }
    context_.Report().AddAttachment(
        attachment.fileName,
        OutcomeOf(action, text.size() > textBefore,
                  context_.Report().ExceptionCount() > exceptionsBefore ||
                      context_.NoteCount() > notesBefore),
        item.copy);

    if (attachment.attachMethod == kEmbeddedMessage) {
        ProcessEmbedded(email, attachment, text, depth);
    }
}

void AttachmentHandler::ConvertUpcoming(EmailMessage& email) {
    if (!documents_.ConvertsAhead() || context_.Cancelled()) {
        return;
    }
    std::vector<std::unique_ptr<Attachment>> attachments;
    try {
        email.ListAttachments(attachments);
    } catch (const std::exception&) {
        return; // listed again in its turn, where a failure is recorded
    }
    Upcoming upcoming{&email, {}};
    ConvertDocumentsAhead(email, attachments,
                          [&upcoming](const Attachment& a, const std::string& name) {
                              upcoming.copies[a.attachNumber] = name;
                          });
    if (!upcoming.copies.empty()) {
        upcoming_.push_back(std::move(upcoming));
    }
}

void AttachmentHandler::TakeUpcoming(const EmailMessage& email,
                                     const std::vector<std::unique_ptr<Attachment>>& attachments) {
    const auto mine = std::find_if(upcoming_.begin(), upcoming_.end(),
                                   [&email](const Upcoming& u) { return u.email == &email; });
    if (mine == upcoming_.end()) {
        return;
    }
    for (const auto& attachment : attachments) {
        if (const auto copy = mine->copies.find(attachment->attachNumber);
            copy != mine->copies.end()) {
            savedAhead_[attachment.get()] = copy->second;
        }
    }
    // The copies of skipped emails are removed with the run's other
    // temporary files.
    upcoming_.erase(upcoming_.begin(), std::next(mine));
}

void AttachmentHandler::ConvertDocumentsAhead(
    EmailMessage& email, const std::vector<std::unique_ptr<Attachment>>& attachments,
    const std::function<void(const Attachment&, const std::string&)>& saved) {
    if (!documents_.ConvertsAhead() || context_.Cancelled()) {
        return;
    }
    for (const auto& attachment : attachments) {
        if (savedAhead_.count(attachment.get()) != 0) {
            continue;
        }
        std::string ext = AttachmentExtension(attachment->fileName);
        // PDFs go to the PDF reader when their turn comes.
        if (ext == ".PDF" || AttachmentActionFromCode(context_.RunSettings().ActionForExtension(
                                 ext)) != AttachmentAction::ConvertDocument) {
            continue;
        }
        std::string name;
        try {
            name = DetachFileName(ext);
            context_.AddTempFile(name);
            // Removed when the run ends, so never needed after a crash.
            attachment->SaveContentToFile(ErrorDetails(email), name, FollowLinks::No,
                                          Durability::Deferred);
        } catch (const std::exception&) {
            // Saved again in its turn, where a failure is recorded as for
            // any attachment.
            if (!name.empty()) {
                ::unlink(name.c_str());
            }
            continue;
        }
        saved(*attachment, name);
        try {
            documents_.ConvertAhead(name);
        } catch (const std::exception&) {
            // Handed over again in its turn, where a failure is recorded.
        }
    }
}

void AttachmentHandler::ConvertDocument(InHand& item, std::string& text) {
    std::string name;
    if (const auto saved = savedAhead_.find(&item.attachment); saved != savedAhead_.end()) {
        name = saved->second;
        savedAhead_.erase(saved);
    } else {
        name = SaveTemporaryCopy(item);
    }
    const RecordReasonFn record = [this, &item](const std::string& reason) {
        RecordManualIntervention(item.email, item.attachment, reason);
    };
    // Word processors open PDFs only as drawings: their text comes from the
    // PDF reader.
    const auto content = item.ext == ".PDF" ? documents_.ConvertPdf(name, record)
                                            : documents_.ConvertDocument(name, record);
    if (content) {
        AppendPiece(text, item.startTag + *content + item.endTag);
    }
}

void AttachmentHandler::FlagForManualHandling(InHand& item, std::string& text) {
    AppendPiece(text, item.startTag +
                          TranslateMsg(8120, "Quillfence: This attachment has been flagged for "
                                             "manual handling\r\n") +
                          item.endTag);
    RecordManualIntervention(item.email, item.attachment,
                             TranslateMsg(8130, "Attachment is flagged for manual handling"));
}

void AttachmentHandler::PrintCopy(InHand& item, std::string& text) {
    const std::string name = SaveManualCopy(item);
    if (!print_ || !print_(name)) {
        RecordManualIntervention(
            item.email, item.attachment,
            TranslateFmt(8122,
                         "The attachment %s did not respond correctly to the 'Print' command.",
                         {name}));
    }
    AppendNoteWithCompanion(
        text, TranslateFmt(8121, "Quillfence: Attachment %s has been flagged for printing", {name}),
        name);
}

void AttachmentHandler::SaveCopy(InHand& item, std::string& text) {
    const std::string name = SaveManualCopy(item);
    // The same number as the print failure above: one entry of a language
    // file gives both texts.
    AppendNoteWithCompanion(
        text, TranslateFmt(8122, "Quillfence: Attachment %s has been flagged for saving", {name}),
        name);
}

void AttachmentHandler::AppendAsText(InHand& item, std::string& text) {
    const std::string content = ReadWholeFile(SaveTemporaryCopy(item));
    if (IsUnicodeText(content)) {
        AppendUnicodeContent(text, item.startTag, content, item.endTag);
    } else {
        // A .txt file in Windows-1252 or ISO-8859-2 must not put its raw bytes
        // among the UTF-8 (or UTF-16) text of the output file.
        AppendPiece(text, item.startTag + LegacyTextToUtf8(content) + item.endTag);
    }
}

void AttachmentHandler::ProcessEmbedded(EmailMessage& email, Attachment& attachment,
                                        std::string& text, int depth) {
    if (depth >= kMaxEmbeddedDepth) {
        RecordManualIntervention(email, attachment,
                                 TranslateMsg(8717, "embedded emails nested too deeply"));
        return;
    }
    std::unique_ptr<EmailMessage> embedded = email.OpenEmbedded(attachment.attachNumber);
    EmbeddedInReport inReport(context_.Report(), attachment.fileName);
    ProcessAttachments(*embedded, text, depth + 1);
}

std::string AttachmentHandler::SaveTemporaryCopy(InHand& item) {
    const std::string name = DetachFileName(item.ext);
    context_.AddTempFile(name);
    // Removed when the run ends, so never needed after a crash.
    item.attachment.SaveContentToFile(ErrorDetails(item.email), name, FollowLinks::No,
                                      Durability::Deferred);
    return name;
}

std::string AttachmentHandler::SaveManualCopy(InHand& item) {
    const std::string name = ManualFileName(item);
    item.attachment.SaveContentToFile(ErrorDetails(item.email), name, FollowLinks::No,
                                      context_.ManualCopyDurability());
    item.copy = name;
    return name;
}

std::string AttachmentHandler::DetachFileName(const std::string& ext) const {
    return FirstFreeName(context_.RunSettings().directory + "detach" +
                             std::to_string(context_.FileNumber()) + "_",
                         ext);
}

std::string AttachmentHandler::ManualFileName(InHand& item) const {
    AttachmentMacros macros(item.fields, context_.FileNumber());
    std::string name = FirstFreeName(
        context_.RunSettings().manualFolder +
            ExpandMacros(context_.RunSettings().manualFormat, macros, MacroUse::FileName) + "_",
        item.ext);
    // Its companion text must fit as well, or the copy would stand without
    // the note that says what it is.
    CheckFileNameLength(name + kCompanionExtension);
    return name;
}

std::string AttachmentHandler::OutputFileOf(EmailMessage& stored) const {
    EmailAdapter fields(stored);
    try {
        return OutputFileName(context_.RunSettings().directory,
                              context_.RunSettings().fileNameFormat, fields, context_.FileNumber());
    } catch (const Error& e) {
        return e.what();
    }
}

void AttachmentHandler::RecordManualIntervention(EmailMessage& email, Attachment& attachment,
                                                 const std::string& reason) {
    context_.FlagManualIntervention();
    // An embedded email cannot be changed: the note goes into the stored
    // email that holds it, and says which embedded email it is about.  The
    // output file is the stored email's too.
    EmailMessage* stored = &email;
    while (stored->Outer() != nullptr) {
        stored = stored->Outer();
    }
    const std::string outputFile = OutputFileOf(*stored);
    // Written into the email with its batch: changing the email before its
    // output file is durable would leave, after a crash, a note about a file
    // that is not there, and a second note from the run after.
    RunContext::Note note;
    note.text =
        stored == &email
            ? TranslateFmt(8220,
                           "Quillfence: Manual intervention is required (%s) for attachment "
                           "\"%s\" (output file is \"%s\")\r\n",
                           {reason, attachment.fileName, outputFile})
            : TranslateFmt(8221,
                           "Quillfence: Manual intervention is required (%s) for attachment "
                           "\"%s\" of the attached email \"%s\" (output file is \"%s\")\r\n",
                           {reason, attachment.fileName, email.subject, outputFile});
    note.row = TranslateFmt(8230,
                            "Email with subject \"%s\" requires manual intervention (%s) "
                            "for attachment \"%s\" (output file is \"%s\")",
                            {email.subject, reason, attachment.fileName, outputFile});
    context_.AddNote(std::move(note));
}

} // namespace qf
