#include "run/document_steps.h"

#include "i18n/translate.h"

#include <filesystem>

namespace qf {
namespace {

using wordproc::DocumentId;
using wordproc::Failure;
using wordproc::WordProcessor;
using wordproc::WordProcessorError;

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

// One document on one instance.
class DocumentSteps {
public:
    DocumentSteps(WordProcessor& wordProcessor, const std::string& macro, ConversionNotes& notes)
        : wordProcessor_(wordProcessor), macro_(macro), notes_(notes) {}

    std::optional<std::string> Convert(const std::string& path) {
        const std::optional<DocumentId> doc = Open(path);
        if (!doc || !Prepare(*doc)) {
            return std::nullopt;
        }
        std::optional<std::string> text = TakeText(*doc);
        if (!text) {
            return std::nullopt;
        }
        return Close(*doc, std::move(*text));
    }

private:
    std::optional<DocumentId> Open(const std::string& path);
    // Mail merge cleared, protection lifted, the user's macro run; false when
    // the document was lost on the way.
    bool Prepare(DocumentId doc);
    std::optional<std::string> TakeText(DocumentId doc);
    std::string Close(DocumentId doc, std::string text);
    void CloseQuietly(DocumentId doc);
    // True when the step's failure took the document with it (a deadline, a
    // crash of the instance): the reason is noted and the conversion ends.
    bool LostDocument(const WordProcessorError& e);

    WordProcessor& wordProcessor_;
    const std::string& macro_;
    ConversionNotes& notes_;
};

std::optional<DocumentId> DocumentSteps::Open(const std::string& path) {
    try {
        return wordProcessor_.Open(path, kDocumentPassword, kDocumentPassword);
    } catch (const WordProcessorError& e) {
        // A document that needs a password, or is damaged, fails to open; a
        // file that is not a document, a deadline or a crash of the instance
        // carry their own, clearer reason.
        notes_.Reason(ReasonText(e));
        return std::nullopt;
    }
}

bool DocumentSteps::Prepare(DocumentId doc) {
    try {
        wordProcessor_.ClearMailMerge(doc);
    } catch (const WordProcessorError& e) {
        if (LostDocument(e)) {
            return false;
        }
        notes_.Warning(TranslateMsg(
            8140, "Please close any warning dialog boxes in MS Word before continuing"));
        notes_.Reason(TranslateMsg(8150, "Attachment is a mail merged document"));
    }

    try {
        wordProcessor_.Unprotect(doc, kProtectionPassword);
    } catch (const WordProcessorError& e) {
        if (LostDocument(e)) {
            return false;
        }
    }

    if (!macro_.empty()) {
        try {
            wordProcessor_.RunMacro(doc, macro_);
        } catch (const WordProcessorError& e) {
            // A missing or failing macro leaves no trace; a macro that hung
            // or brought the instance down took the document with it.
            if (LostDocument(e)) {
                return false;
            }
        }
    }
    return true;
}

std::optional<std::string> DocumentSteps::TakeText(DocumentId doc) {
    try {
        return WithCrLf(wordProcessor_.WholeText(doc));
    } catch (const WordProcessorError& e) {
        // A lost document, or text that came back as mostly unprintable
        // bytes (a file that only posed as a document), gives nothing; text
        // that could not be taken at all is a protected document.
        if (LostDocument(e)) {
            return std::nullopt;
        }
        if (e.failure() == Failure::Unreadable) {
            notes_.Reason(ReasonText(e));
            CloseQuietly(doc);
            return std::nullopt;
        }
        std::string text = TranslateMsg(
            8170, "This document is protected and cannot be copied without entering a password");
        notes_.Reason(TranslateMsg(8180, "Attachment is a protected document"));
        return text;
    }
}

std::string DocumentSteps::Close(DocumentId doc, std::string text) {
    try {
        wordProcessor_.Close(doc);
    } catch (const WordProcessorError&) {
        // Whatever made the close fail -- an error, the instance dying or
        // running past its deadline -- the user is told, and the email waits
        // for a person: the text taken before may not be all there is.
        notes_.Warning(TranslateMsg(
            8190, "Please close any warning dialog boxes in MS Word before continuing"));
        text = TranslateMsg(8200, "Word had problems with this Attachment");
        notes_.Reason(TranslateMsg(8210, "Word had problems with this Attachment"));
    }
    return text;
}

void DocumentSteps::CloseQuietly(DocumentId doc) {
    try {
        wordProcessor_.Close(doc);
    } catch (const WordProcessorError&) {
        // The attachment is already noted; nothing more to say about it.
    }
}

bool DocumentSteps::LostDocument(const WordProcessorError& e) {
    if (!e.EndsDocument()) {
        return false;
    }
    notes_.Reason(ReasonText(e));
    return true;
}

} // namespace

void RecordedNotes::ReplayTo(ConversionNotes& notes) const {
    for (const auto& [warning, text] : notes_) {
        if (warning) {
            notes.Warning(text);
        } else {
            notes.Reason(text);
        }
    }
}

std::optional<std::string> ConvertWithWordProcessor(WordProcessor& wordProcessor,
                                                    const std::string& path,
                                                    const std::string& macro,
                                                    ConversionNotes& notes) {
    // An empty file holds no text: nothing for the word processor to do.
    std::error_code ec;
    if (std::filesystem::file_size(path, ec) == 0 && !ec) {
        return std::string();
    }
    return DocumentSteps(wordProcessor, macro, notes).Convert(path);
}

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

} // namespace qf
