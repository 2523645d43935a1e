#include "run/document_conversion.h"

#include "i18n/translate.h"
#include "platform/wordproc/pdf/pdf_text_process.h"

#include <filesystem>

namespace qf {
namespace {

using wordproc::Failure;
using wordproc::WordProcessorError;

// The reason a PDF gave no text, in the user's language.  A PDF that needs a
// password reads as a Word document that needs one does.
std::string PdfReasonText(const pdf::PdfError& e) {
    switch (e.failure()) {
    case pdf::PdfFailure::NeedsPassword:
        return TranslateMsg(8211, "Invalid password");
    case pdf::PdfFailure::NoText:
        return TranslateMsg(8750, "no text in this PDF (scanned?)");
    case pdf::PdfFailure::Damaged:
        return TranslateMsg(8751, "The PDF is damaged and could not be read");
    case pdf::PdfFailure::Timeout:
        return TranslateMsg(8753, "The PDF was not read in the time allowed");
    case pdf::PdfFailure::TooLarge:
        return TranslateMsg(8754, "The PDF needs more memory than allowed, or holds more text");
    default:
        return TranslateFmt(8755, "The PDF could not be read: %s", {e.what()});
    }
}

// Notes that reach the user and the email as they come.
class LiveNotes final : public ConversionNotes {
public:
    LiveNotes(RunContext& context, const RecordReasonFn& record)
        : context_(context), record_(record) {}
    void Warning(const std::string& text) override { context_.ShowWarning(text); }
    void Reason(const std::string& text) override { record_(text); }

private:
    RunContext& context_;
    const RecordReasonFn& record_;
};

} // namespace

void DocumentConversion::ConnectWordProcessor() {
    context_.SetStatus(TranslateMsg(8240, "Connecting to Word..."));
    if (!wordProcessor_) {
        throw Error(TranslateMsg(
            8716, "No word processor is installed, so attachments cannot be turned into text. "
                  "Install LibreOffice Writer (Debian package libreoffice-writer-nogui), "
                  "or clear \"Include attachments\"."));
    }
    try {
        startedInstance_ = wordProcessor_->Connect();
    } catch (const WordProcessorError& e) {
        // The lead in the user's language, the word processor's reason after it.
        throw Error(TranslateFmt(8719, "The word processor could not be started: %s", {e.what()}));
    }
    connected_ = true;
    wordProcessor_->Hide();
}

DocumentConversion::~DocumentConversion() {
    EndPool();
}

std::optional<std::string>
DocumentConversion::ConvertDocument(const std::string& path,
                                    const RecordReasonFn& recordIntervention) {
    LiveNotes notes(context_, recordIntervention);
    // With a pool, the first instance belongs to the pool's thread: every
    // document goes through it.
    ConvertAhead(path);
    if (const auto found = ahead_.find(path); found != ahead_.end()) {
        Ahead ahead = std::move(found->second);
        ahead_.erase(found);
        // Throws what the conversion threw, as one document at a time would.
        ahead.done.get();
        ahead.converted->notes.ReplayTo(notes);
        return std::move(ahead.converted->text);
    }
    return ConvertWithWordProcessor(*wordProcessor_, path, context_.RunSettings().wordMacro, notes);
}

bool DocumentConversion::ConvertsAhead() const {
    return connected_ && wordProcessor_ && wordProcessor_->InstanceLimit() > 1;
}

void DocumentConversion::ConvertAhead(const std::string& path) {
    if (!ConvertsAhead() || ahead_.contains(path)) {
        return;
    }
    if (!pool_) {
        pool_ = std::make_unique<wordproc::WordProcessorPool>(*wordProcessor_,
                                                              wordProcessor_->InstanceLimit());
    }
    auto converted = std::make_shared<Converted>();
    std::future<void> done =
        pool_->Submit([converted, path, macro = context_.RunSettings().wordMacro](
                          wordproc::WordProcessor& wordProcessor) {
            converted->text =
                ConvertWithWordProcessor(wordProcessor, path, macro, converted->notes);
        });
    ahead_.emplace(path, Ahead{std::move(converted), std::move(done)});
}

int DocumentConversion::Instances() const {
    return pool_ ? pool_->Instances() : (connected_ ? 1 : 0);
}

void DocumentConversion::EndPool() {
    if (pool_) {
        pool_->Shutdown();
        pool_.reset();
    }
    ahead_.clear();
}

std::optional<std::string>
DocumentConversion::ConvertPdf(const std::string& path, const RecordReasonFn& recordIntervention) {
    std::error_code ec;
    if (std::filesystem::file_size(path, ec) == 0 && !ec) {
        return std::string();
    }
    try {
        pdf::PdfText result = Pdf().Read(path);
        if (result.incomplete) {
            recordIntervention(
                TranslateMsg(8752, "The PDF ends early; its text may be incomplete"));
        }
        return WithCrLf(result.text);
    } catch (const pdf::PdfError& e) {
        recordIntervention(PdfReasonText(e));
        return std::nullopt;
    }
}

pdf::PdfReader& DocumentConversion::Pdf() {
    if (pdfReader_) {
        return *pdfReader_;
    }
    if (!ownPdfReader_) {
        ownPdfReader_ = std::make_unique<pdf::PdfTextProcess>();
    }
    return *ownPdfReader_;
}

void DocumentConversion::QuitWordProcessor() {
    EndPool();
    // The user's instance may have died during the run and been replaced by
    // one of ours: that one is ours to quit as well.
    if (connected_ && (startedInstance_ || wordProcessor_->Started())) {
        wordProcessor_->Quit();
    }
    connected_ = false;
}

} // namespace qf
