#include "run/word_conversion.h"

#include "i18n/translate.h"

namespace qf {
namespace {

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

} // namespace

using wordproc::Failure;
using wordproc::WordProcessorError;

void WordConversion::ConnectWord() {
    run_.SetStatus(TranslateMsg(8240, "Connecting to Word..."));
    if (!word_) {
        throw Error("No word processor is installed, so attachments cannot be turned into text. "
                    "Install LibreOffice Writer (Debian package libreoffice-writer-nogui), "
                    "or clear \"Include attachments\".");
    }
    wordStarted_ = word_->Connect();
    connected_ = true;
    word_->Hide();
}

std::optional<std::string> WordConversion::ConvertWithWord(const std::string& path,
                                                           Attachment& attachment,
                                                           EmailMessage& email) {
    auto record = [&](const std::string& reason) { record_(email, attachment, reason); };

    wordproc::DocumentId doc;
    try {
        doc = word_->Open(path, kDocumentPassword, kDocumentPassword);
    } catch (const WordProcessorError& e) {
        // A document that needs a password, or is damaged, fails to open; a
        // file that is not what its name says, a deadline or a crash of the
        // instance carry their own, clearer reason.
        record(e.failure() == Failure::CannotOpen ? TranslateMsg(8211, "Invalid password")
                                                  : std::string(e.what()));
        return std::nullopt;
    }

    try {
        word_->ClearMailMerge(doc);
    } catch (const WordProcessorError& e) {
        if (e.EndsDocument()) {
            record(e.what());
            return std::nullopt;
        }
        run_.ShowWarning(TranslateMsg(
            8140, "Please close any warning dialog boxes in MS Word before continuing"));
        record(TranslateMsg(8150, "Attachment is a mail merged document"));
    }

    try {
        word_->Unprotect(doc, kProtectionPassword);
    } catch (const WordProcessorError& e) {
        if (e.EndsDocument()) {
            record(e.what());
            return std::nullopt;
        }
    }

    const std::string& macro = run_.settings().wordMacro;
    if (!macro.empty()) {
        try {
            word_->RunMacro(doc, macro);
        } catch (const WordProcessorError& e) {
            // A missing or failing macro leaves no trace; a macro that hung
            // or brought the instance down took the document with it.
            if (e.EndsDocument()) {
                record(e.what());
                return std::nullopt;
            }
        }
    }

    std::string text;
    try {
        text = WithCrLf(word_->WholeText(doc));
    } catch (const WordProcessorError& e) {
        // A lost document, or text that came back as mostly unprintable
        // bytes (a file that only posed as a document), gives nothing; text
        // that could not be taken at all is a protected document.
        if (e.EndsDocument() || e.failure() == Failure::Unreadable) {
            record(e.what());
            if (!e.EndsDocument()) {
                CloseQuietly(doc);
            }
            return std::nullopt;
        }
        text = TranslateMsg(
            8170, "This document is protected and cannot be copied without entering a password");
        record(TranslateMsg(8180, "Attachment is a protected document"));
    }

    try {
        word_->Close(doc);
    } catch (const WordProcessorError& e) {
        if (e.EndsDocument()) {
            return text; // the text was taken; only the closing was lost
        }
        run_.ShowWarning(TranslateMsg(
            8190, "Please close any warning dialog boxes in MS Word before continuing"));
        text = TranslateMsg(8200, "Word had problems with this Attachment");
        record(TranslateMsg(8210, "Word had problems with this Attachment"));
    }
    return text;
}

void WordConversion::CloseQuietly(wordproc::DocumentId doc) {
    try {
        word_->Close(doc);
    } catch (const WordProcessorError&) {
        // The attachment is already recorded; nothing more to say about it.
    }
}

void WordConversion::QuitWord() {
    // The user's instance may have died during the run and been replaced by
    // one of ours: that one is ours to quit as well.
    if (connected_ && (wordStarted_ || word_->Started())) {
        word_->Quit();
    }
    connected_ = false;
}

} // namespace qf
