// Attachments turned into text by the word processor: one connection for the
// whole run, and the instance quit at the end only when the run started it.
// Where the word processor allows several instances, documents may be handed
// over ahead (ConvertAhead) and convert side by side in a pool of them; their
// results are taken in the run's order, with the same texts and the same
// notes, in the same order, as one document at a time would give.
#pragma once

#include "platform/wordproc/office_pool.h"
#include "platform/wordproc/pdf/pdf_reader.h"
#include "platform/wordproc/word_processor.h"
#include "run/document_steps.h"
#include "run/run_context.h"

#include <functional>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace qf {

// Records why a document needs a person (the attachment handling's note,
// exception row and flag).
using RecordReasonFn = std::function<void(const std::string& reason)>;

class DocumentConversion {
public:
    // `wordProcessor` is null when no word processor is installed;
    // `pdfReader` null: the helper program beside this one reads PDFs.
    DocumentConversion(RunContext& context, wordproc::WordProcessor* wordProcessor,
                       pdf::PdfReader* pdfReader = nullptr)
        : context_(context), wordProcessor_(wordProcessor), pdfReader_(pdfReader) {}
    // Waits for the documents converting ahead; QuitWordProcessor should
    // have ended them.
    ~DocumentConversion();
    DocumentConversion(const DocumentConversion&) = delete;
    DocumentConversion& operator=(const DocumentConversion&) = delete;

    // Attaches to a running instance or starts one.  Throws Error when there
    // is no word processor.
    void ConnectWordProcessor();
    // The text of the document at `path`, or nullopt when it did not open (or
    // was lost with its instance).  Each failure of the word processor is
    // handed to `recordIntervention` with its reason instead of thrown.  A
    // document handed over by ConvertAhead is waited for; its reasons and
    // warnings come now, in the order they arose.
    std::optional<std::string> ConvertDocument(const std::string& path,
                                               const RecordReasonFn& recordIntervention);
    // Whether documents can convert ahead: connected, and the word processor
    // allows more than one instance.
    bool ConvertsAhead() const;
    // Hands the document at `path` (a copy that stays until the run ends) to
    // a free instance now; ConvertDocument(path) takes its result.  Does
    // nothing unless ConvertsAhead(), or when `path` is already handed over.
    // Throws std::system_error when no thread can be had for the pool.
    void ConvertAhead(const std::string& path);
    // The text of the PDF at `path`, pages separated by form feeds, or
    // nullopt when it gave none; failures go to `recordIntervention` as
    // above.  A PDF cut short gives the text it has and a reason as well.
    std::optional<std::string> ConvertPdf(const std::string& path,
                                          const RecordReasonFn& recordIntervention);
    // Ends the conversions ahead (those not started are dropped), quits the
    // further instances, and quits the instance when this run started it.
    void QuitWordProcessor();

    bool Connected() const { return connected_; }
    bool StartedInstance() const { return startedInstance_; }
    // Instances that have served so far (1 without a pool).
    int Instances() const;

private:
    // A document converted ahead: its text and its notes.
    struct Converted {
        std::optional<std::string> text;
        RecordedNotes notes;
    };

    void EndPool();

    // The reader given, else one started on first use.
    pdf::PdfReader& Pdf();

    RunContext& context_;
    wordproc::WordProcessor* wordProcessor_;
    pdf::PdfReader* pdfReader_;
    std::unique_ptr<pdf::PdfReader> ownPdfReader_;
    // Documents handed over ahead, by path, until their result is taken.
    struct Ahead {
        std::shared_ptr<Converted> converted;
        std::future<void> done;
    };
    std::map<std::string, Ahead> ahead_;
    std::unique_ptr<wordproc::WordProcessorPool> pool_;
    bool connected_ = false;
    bool startedInstance_ = false;
};

} // namespace qf
