// Attachments turned into text by the word processor: one connection for the
// whole run, one document at a time, and the instance quit at the end only
// when the run started it.
#pragma once

#include "platform/wordproc/pdf/pdf_reader.h"
#include "platform/wordproc/word_processor.h"
#include "run/run_context.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace qf {

// Records why a document needs a person (the attachment handling's note,
// exception row and flag).
using RecordReasonFn = std::function<void(const std::string& reason)>;

class DocumentConversion {
public:
    // The fixed passwords are deliberately wrong: a document that needs one
    // fails to open or stays protected instead of asking.
    static constexpr const char* kDocumentPassword = "tqmzv";
    static constexpr const char* kProtectionPassword = "wrpkl";

    // `wordProcessor` is null when no word processor is installed;
    // `pdfReader` null: the helper program beside this one reads PDFs.
    DocumentConversion(RunContext& context, wordproc::WordProcessor* wordProcessor,
                       pdf::PdfReader* pdfReader = nullptr)
        : context_(context), wordProcessor_(wordProcessor), pdfReader_(pdfReader) {}

    // Attaches to a running instance or starts one.  Throws Error when there
    // is no word processor.
    void ConnectWordProcessor();
    // The text of the document at `path`, or nullopt when it did not open (or
    // was lost with its instance).  Each failure of the word processor is
    // handed to `recordIntervention` with its reason instead of thrown.
    std::optional<std::string> ConvertDocument(const std::string& path,
                                               const RecordReasonFn& recordIntervention);
    // The text of the PDF at `path`, pages separated by form feeds, or
    // nullopt when it gave none; failures go to `recordIntervention` as
    // above.  A PDF cut short gives the text it has and a reason as well.
    std::optional<std::string> ConvertPdf(const std::string& path,
                                          const RecordReasonFn& recordIntervention);
    // Quits the instance when this run started it.
    void QuitWordProcessor();

    bool Connected() const { return connected_; }
    bool StartedInstance() const { return startedInstance_; }

private:
    std::optional<wordproc::DocumentId> OpenDocument(const std::string& path,
                                                     const RecordReasonFn& record);
    // Mail merge cleared, protection lifted, the user's macro run; false when
    // the document was lost on the way.
    bool PrepareDocument(wordproc::DocumentId doc, const RecordReasonFn& record);
    std::optional<std::string> TakeText(wordproc::DocumentId doc, const RecordReasonFn& record);
    std::string CloseDocument(wordproc::DocumentId doc, std::string text,
                              const RecordReasonFn& record);
    void CloseQuietly(wordproc::DocumentId doc);

    // The reader given, else one started on first use.
    pdf::PdfReader& Pdf();

    RunContext& context_;
    wordproc::WordProcessor* wordProcessor_;
    pdf::PdfReader* pdfReader_;
    std::unique_ptr<pdf::PdfReader> ownPdfReader_;
    bool connected_ = false;
    bool startedInstance_ = false;
};

} // namespace qf
