// Attachments turned into text by the word processor: one connection for the
// whole run, one document at a time, and the instance quit at the end only
// when the run started it.
#pragma once

#include "platform/wordproc/word_processor.h"
#include "run/run_context.h"

#include <functional>
#include <optional>
#include <string>

namespace qf {

class Attachment;
class EmailMessage;

// Records that an attachment needs a person (note, row, flag).
using RecordInterventionFn =
    std::function<void(EmailMessage& email, Attachment& attachment, const std::string& reason)>;

class WordConversion {
public:
    // The fixed passwords are deliberately wrong: a document that needs one
    // fails to open or stays protected instead of asking.
    static constexpr const char* kDocumentPassword = "tqmzv";
    static constexpr const char* kProtectionPassword = "wrpkl";

    // `wordProcessor` is null when no word processor is installed.
    WordConversion(RunContext& run, wordproc::WordProcessor* wordProcessor,
                   RecordInterventionFn record)
        : run_(run), word_(wordProcessor), record_(std::move(record)) {}

    // Attaches to a running instance or starts one.  Throws Error when there
    // is no word processor.
    void ConnectWord();
    // The text of the document at `path`, or nullopt when it did not open (or
    // was lost with its instance); failures are recorded as interventions.
    std::optional<std::string> ConvertWithWord(const std::string& path, Attachment& attachment,
                                               EmailMessage& email);
    // Quits the instance when ConnectWord started it.
    void QuitWord();

    bool Connected() const { return connected_; }
    bool WordStarted() const { return wordStarted_; }

private:
    void CloseQuietly(wordproc::DocumentId doc);

    RunContext& run_;
    wordproc::WordProcessor* word_;
    RecordInterventionFn record_;
    bool connected_ = false;
    bool wordStarted_ = false;
};

} // namespace qf
