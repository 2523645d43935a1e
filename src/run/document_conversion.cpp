#include "run/document_conversion.h"

#include "i18n/translate.h"
#include "platform/wordproc/pdf/pdf_text_process.h"

#include <filesystem>

namespace qf {
namespace {

using wordproc::DocumentId;
using wordproc::Failure;
using wordproc::WordProcessorError;

// Output files end their lines in CR LF, as a copied document's text does.
std::string WithCrLf(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            out += "\r\n";
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
        } else {
            out += c;
        }
    }
    return out;
}

// The reason a user reads in the exception row and in the note written into
// the email, in the user's language.  The word processor's own wording is
// technical English; failures with no text of their own keep it.
std::string ReasonText(const WordProcessorError& e) {
    switch (e.failure()) {
    case Failure::CannotOpen:
        return TranslateMsg(8211, "Invalid password");
    case Failure::Timeout:
        return TranslateMsg(8710, "The word processor did not finish the document in the time "
                                  "allowed; it was started again");
    case Failure::OfficeDied:
        return TranslateMsg(8711, "The word processor stopped working while handling the "
                                  "document; it was started again");
    case Failure::WrongFormat:
        return TranslateMsg(8712, "The attachment is not a document the word processor can read");
    case Failure::Unreadable:
        return TranslateMsg(8713, "The document's text came back mostly unprintable");
    case Failure::AlreadyOpen:
        return TranslateMsg(8714, "The same file is open in the word processor; it was left alone");
    case Failure::NotAvailable:
        return TranslateMsg(8715, "The word processor could not be started");
    default:
        return e.what();
    }
}

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

// True when the step's failure took the document with it (a deadline, a
// crash of the instance): the reason is recorded and the conversion ends.
bool LostDocument(const WordProcessorError& e, const RecordReasonFn& record) {
    if (!e.EndsDocument()) {
        return false;
    }
    record(ReasonText(e));
    return true;
}

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

std::optional<std::string>
DocumentConversion::ConvertDocument(const std::string& path,
                                    const RecordReasonFn& recordIntervention) {
    // An empty file holds no text: nothing for the word processor to do.
    std::error_code ec;
    if (std::filesystem::file_size(path, ec) == 0 && !ec) {
        return std::string();
    }
    const std::optional<DocumentId> doc = OpenDocument(path, recordIntervention);
    if (!doc || !PrepareDocument(*doc, recordIntervention)) {
        return std::nullopt;
    }
    std::optional<std::string> text = TakeText(*doc, recordIntervention);
    if (!text) {
        return std::nullopt;
    }
    return CloseDocument(*doc, std::move(*text), recordIntervention);
}

std::optional<DocumentId> DocumentConversion::OpenDocument(const std::string& path,
                                                           const RecordReasonFn& record) {
    try {
        return wordProcessor_->Open(path, kDocumentPassword, kDocumentPassword);
    } catch (const WordProcessorError& e) {
        // A document that needs a password, or is damaged, fails to open; a
        // file that is not a document, a deadline or a crash of the instance
        // carry their own, clearer reason.
        record(ReasonText(e));
        return std::nullopt;
    }
}

bool DocumentConversion::PrepareDocument(DocumentId doc, const RecordReasonFn& record) {
    try {
        wordProcessor_->ClearMailMerge(doc);
    } catch (const WordProcessorError& e) {
        if (LostDocument(e, record)) {
            return false;
        }
        context_.ShowWarning(TranslateMsg(
            8140, "Please close any warning dialog boxes in MS Word before continuing"));
        record(TranslateMsg(8150, "Attachment is a mail merged document"));
    }

    try {
        wordProcessor_->Unprotect(doc, kProtectionPassword);
    } catch (const WordProcessorError& e) {
        if (LostDocument(e, record)) {
            return false;
        }
    }

    const std::string& macro = context_.RunSettings().wordMacro;
    if (!macro.empty()) {
        try {
            wordProcessor_->RunMacro(doc, macro);
        } catch (const WordProcessorError& e) {
            // A missing or failing macro leaves no trace; a macro that hung
            // or brought the instance down took the document with it.
            if (LostDocument(e, record)) {
                return false;
            }
        }
    }
    return true;
}

std::optional<std::string> DocumentConversion::TakeText(DocumentId doc,
                                                        const RecordReasonFn& record) {
    try {
        return WithCrLf(wordProcessor_->WholeText(doc));
    } catch (const WordProcessorError& e) {
        // A lost document, or text that came back as mostly unprintable
        // bytes (a file that only posed as a document), gives nothing; text
        // that could not be taken at all is a protected document.
        if (LostDocument(e, record)) {
            return std::nullopt;
        }
        if (e.failure() == Failure::Unreadable) {
            record(ReasonText(e));
            CloseQuietly(doc);
            return std::nullopt;
        }
        std::string text = TranslateMsg(
            8170, "This document is protected and cannot be copied without entering a password");
        record(TranslateMsg(8180, "Attachment is a protected document"));
        return text;
    }
}

std::string DocumentConversion::CloseDocument(DocumentId doc, std::string text,
                                              const RecordReasonFn& record) {
    try {
        wordProcessor_->Close(doc);
    } catch (const WordProcessorError&) {
        // Whatever made the close fail -- an error, the instance dying or
        // running past its deadline -- the user is told, and the email waits
        // for a person: the text taken before may not be all there is.
        context_.ShowWarning(TranslateMsg(
            8190, "Please close any warning dialog boxes in MS Word before continuing"));
        text = TranslateMsg(8200, "Word had problems with this Attachment");
        record(TranslateMsg(8210, "Word had problems with this Attachment"));
    }
    return text;
}

void DocumentConversion::CloseQuietly(DocumentId doc) {
    try {
        wordProcessor_->Close(doc);
    } catch (const WordProcessorError&) {
        // The attachment is already recorded; nothing more to say about it.
    }
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
    // The user's instance may have died during the run and been replaced by
    // one of ours: that one is ours to quit as well.
    if (connected_ && (startedInstance_ || wordProcessor_->Started())) {
        wordProcessor_->Quit();
    }
    connected_ = false;
}

} // namespace qf
