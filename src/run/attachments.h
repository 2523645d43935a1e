// What the run does with each attachment of an email, by its extension:
// include its text, convert it through the word processor, save it for manual
// handling, print it, flag it, or ignore it; embedded emails recursively.
#pragma once

#include "platform/wordproc/word_processor.h"
#include "run/document_conversion.h"
#include "run/run_context.h"

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace qf {

class Attachment;
class EmailMessage;

// Prints a file; true when the print request was accepted.
using PrintFn = std::function<bool(const std::string& path)>;

// What the run does with an attachment.  The values are the codes of the
// extension table as the settings store them.
enum class AttachmentAction {
    ConvertDocument = 1, // its text from the word processor, between the tags
    FlagForManual = 2,   // a marker between the tags; the email needs a person
    Ignore = 3,          // nothing
    Print = 4,           // a copy in the manual folder, printed, and a note
    SaveAsFile = 5,      // a copy in the manual folder, and a note
    AppendAsText = 6,    // its bytes as text, between the tags
};

// The action of a code of the extension table; an unknown code is ignored.
AttachmentAction AttachmentActionFromCode(int code);

class AttachmentHandler {
public:
    // Embedded emails deeper than this are not opened (each level costs stack
    // and a parse); the email is flagged for a person instead.
    static constexpr int kMaxEmbeddedDepth = 32;

    // `wordProcessor` is null when none is installed; `pdfReader` null: the
    // helper program beside this one reads PDFs.
    AttachmentHandler(RunContext& context, wordproc::WordProcessor* wordProcessor, PrintFn print,
                      pdf::PdfReader* pdfReader = nullptr)
        : context_(context), documents_(context, wordProcessor, pdfReader),
          print_(std::move(print)) {}

    // The conversion of documents; the run connects it before the first
    // email and quits it after the last.
    DocumentConversion& Documents() { return documents_; }

    // Handles every attachment of `email` in order, appending to `text`;
    // stops early when the run is cancelled.  Where documents convert ahead,
    // all of the email's documents are handed over first, so that they
    // convert side by side; their texts are taken in order.
    void ProcessAttachments(EmailMessage& email, std::string& text, int depth = 0);
    // Saves and hands over ahead the documents of an email the run will come
    // to soon (one read ahead), so that they convert while the emails before
    // it are written; ProcessAttachments takes them up in the email's turn.
    void ConvertUpcoming(EmailMessage& email);
    // Handles one attachment.  Never throws: a failure is recorded as a
    // manual intervention naming the error.
    void ProcessAttachment(EmailMessage& email, Attachment& attachment, std::string& text,
                           int depth = 0);

private:
    struct InHand;

    void Handle(EmailMessage& email, Attachment& attachment, std::string& text, int depth);
    // Saves the copies of the attachments to convert through the word
    // processor and hands them over ahead; notes each copy in savedAhead_.
    // `saved` is told of each copy handed over.  Attachments already in
    // savedAhead_ are left alone.
    void
    ConvertDocumentsAhead(EmailMessage& email,
                          const std::vector<std::unique_ptr<Attachment>>& attachments,
                          const std::function<void(const Attachment&, const std::string&)>& saved);
    // Moves the copies ConvertUpcoming saved for `email` into savedAhead_;
    // those of emails before it that never came (skipped) are dropped.
    void TakeUpcoming(const EmailMessage& email,
                      const std::vector<std::unique_ptr<Attachment>>& attachments);
    void ConvertDocument(InHand& item, std::string& text);
    void FlagForManualHandling(InHand& item, std::string& text);
    void PrintCopy(InHand& item, std::string& text);
    void SaveCopy(InHand& item, std::string& text);
    void AppendAsText(InHand& item, std::string& text);
    void ProcessEmbedded(EmailMessage& email, Attachment& attachment, std::string& text, int depth);

    // The attachment saved under DetachFileName (deleted after the run), or
    // under ManualFileName (kept); the name it was saved to.
    std::string SaveTemporaryCopy(InHand& item);
    std::string SaveManualCopy(InHand& item);
    // A free name for a temporary copy in the output folder.
    std::string DetachFileName(const std::string& ext) const;
    // A free name for a copy in the manual folder.
    std::string ManualFileName(InHand& item) const;
    // The name of the output file of a stored email (the error text when it
    // has none).
    std::string OutputFileOf(EmailMessage& stored) const;
    // The note in the stored email (the one holding `email` when that is
    // embedded), the exception row and the run's flag.
    void RecordManualIntervention(EmailMessage& email, Attachment& attachment,
                                  const std::string& reason);

    RunContext& context_;
    DocumentConversion documents_;
    PrintFn print_;
    // The copies saved and handed over ahead, until their attachment's turn.
    std::map<const Attachment*, std::string> savedAhead_;
    // The copies saved for emails not yet in hand, in the run's order, by
    // attachment number.  (Emails of the run live until they are done, so an
    // address names one email while it is here.)
    struct Upcoming {
        const EmailMessage* email;
        std::map<std::int32_t, std::string> copies;
    };
    std::deque<Upcoming> upcoming_;
};

// The extension of a file name from its last dot, upper-cased, made safe to
// end a file name with (separators and control characters become "_"); empty
// when the name has no dot.
std::string AttachmentExtension(const std::string& fileName);

} // namespace qf
