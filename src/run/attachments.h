// What the run does with each attachment of an email, by its extension:
// include its text, convert it through the word processor, save it for manual
// handling, print it, flag it, or ignore it; embedded emails recursively.
#pragma once

#include "run/mail_adapters.h"
#include "run/run_context.h"
#include "run/word_conversion.h"

#include <functional>
#include <string>

namespace qf {

class Attachment;
class EmailMessage;

// Prints a file; true when the print request was accepted.
using PrintFn = std::function<bool(const std::string& path)>;

class AttachmentHandler {
public:
    // Embedded emails deeper than this are not opened (each level costs stack
    // and a parse); the email is flagged for a person instead.
    static constexpr int kMaxEmbeddedDepth = 32;

    AttachmentHandler(RunContext& run, WordConversion& word, PrintFn print)
        : run_(run), word_(word), print_(std::move(print)) {}

    // Handles every attachment of `email` in order, appending to `text`;
    // stops early when the run is cancelled.
    void ProcessAttachments(EmailMessage& email, std::string& text, int depth = 0);
    // Handles one attachment.  Never throws: a failure is recorded as a
    // manual intervention naming the error.
    void ProcessAttachment(EmailMessage& email, Attachment& attachment, std::string& text,
                           int depth = 0);

    // A free name for a temporary copy in the output folder.
    std::string DetachFileName(const std::string& ext) const;
    // A free name for a copy in the manual folder.
    std::string ManualFileName(Attachment& attachment, EmailAdapter& email,
                               const std::string& ext) const;
    // The note in the email, the exception row and the run's flag.
    void RecordManualIntervention(EmailMessage& email, Attachment& attachment,
                                  const std::string& reason);

private:
    void Handle(EmailMessage& email, Attachment& attachment, std::string& text, int depth);

    RunContext& run_;
    WordConversion& word_;
    PrintFn print_;
};

// The extension of a file name from its last dot, upper-cased, made safe to
// end a file name with (separators and control characters become "_"); empty
// when the name has no dot.
std::string AttachmentExtension(const std::string& fileName);

} // namespace qf
