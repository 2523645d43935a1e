#include "platform/wordproc/office_documents.h"

#include "platform/wordproc/document_check.h"

#include <filesystem>

namespace qf::wordproc {

OfficeDocuments::OfficeDocuments(OfficeInstance& instance, OfficeWatchdog& watchdog)
    : instance_(instance), watchdog_(watchdog) {}

std::uint64_t OfficeDocuments::BridgeDocument(DocumentId doc) {
    auto it = open_.find(doc.value);
    if (it == open_.end()) {
        throw WordProcessorError(Failure::NoText, "The document is not open");
    }
    if (it->second.generation != instance_.Generation()) {
        auto ended = endedGenerations_.find(it->second.generation);
        if (ended != endedGenerations_.end()) {
            throw ended->second;
        }
        throw WordProcessorError(Failure::OfficeDied,
                                 "LibreOffice was replaced while the document was open");
    }
    return it->second.bridgeId;
}

template <class F> auto OfficeDocuments::Call(DocumentId doc, Failure failure, F&& f) {
    std::uint64_t id = BridgeDocument(doc);
    try {
        return f(id);
    } catch (const UnoCallError& e) {
        Fail(e, failure);
    } catch (const WordProcessorError&) {
        throw;
    } catch (...) {
        Fail(UnoCallError("LibreOffice reported an unexpected error", false), failure);
    }
}

DocumentId OfficeDocuments::Open(const std::string& path, const std::string& password) {
    if (auto mismatch = CheckLeadingBytes(path)) {
        throw WordProcessorError(Failure::WrongFormat, *mismatch);
    }
    std::string absolute = std::filesystem::absolute(path).lexically_normal().string();
    instance_.EnsureAnswering();
    instance_.ArmDeadline();
    std::uint64_t id = 0;
    try {
        if (!instance_.Started() && instance_.Bridge().IsOpen(absolute)) {
            watchdog_.Disarm();
            throw WordProcessorError(Failure::AlreadyOpen,
                                     "The same file is open in LibreOffice; it was left alone");
        }
        id = instance_.Bridge().Load(absolute, password);
    } catch (const UnoCallError& e) {
        watchdog_.Disarm();
        Fail(e, Failure::CannotOpen);
    }
    DocumentId doc{++lastDocument_};
    open_[doc.value] = {id, instance_.Generation()};
    return doc;
}

void OfficeDocuments::Check(DocumentId doc) {
    BridgeDocument(doc);
}

StepOutcome OfficeDocuments::Unprotect(DocumentId doc, const std::string& password) {
    int r = Call(doc, Failure::StepFailed,
                 [&](std::uint64_t id) { return instance_.Bridge().Unprotect(id, password); });
    if (r < 0) {
        return StepOutcome::Unsupported;
    }
    return r == 0 ? StepOutcome::NotNeeded : StepOutcome::Done;
}

void OfficeDocuments::RunMacro(DocumentId doc, const std::string& name) {
    if (name.empty()) {
        return;
    }
    std::string detail;
    MacroResult r = Call(doc, Failure::MacroFailed, [&](std::uint64_t id) {
        return instance_.Bridge().RunMacro(id, name, detail);
    });
    if (r == MacroResult::Missing) {
        throw WordProcessorError(Failure::MacroMissing, detail);
    }
    if (r == MacroResult::Failed) {
        // A macro that fails because the instance hung or died ends the document.
        if (watchdog_.Expired() || !instance_.Alive()) {
            Fail(UnoCallError(detail, true), Failure::MacroFailed);
        }
        throw WordProcessorError(Failure::MacroFailed, detail);
    }
}

std::string OfficeDocuments::WholeText(DocumentId doc) {
    std::string text =
        Call(doc, Failure::NoText, [&](std::uint64_t id) { return instance_.Bridge().Text(id); });
    PrintableCount count = CountPrintable(text);
    if (count.unprintable * 4 > count.visible) {
        throw WordProcessorError(Failure::Unreadable,
                                 "The document's text came back mostly unprintable (" +
                                     std::to_string(count.unprintable) + " of " +
                                     std::to_string(count.visible) + " characters)");
    }
    return text;
}

void OfficeDocuments::StoreCopy(DocumentId doc, const std::string& path, const std::string& filter,
                                const std::string& password) {
    std::string absolute = std::filesystem::absolute(path).lexically_normal().string();
    Call(doc, Failure::StepFailed, [&](std::uint64_t id) {
        instance_.Bridge().StoreCopy(id, absolute, filter, password);
        return 0;
    });
}

void OfficeDocuments::Close(DocumentId doc) {
    auto it = open_.find(doc.value);
    if (it == open_.end()) {
        return;
    }
    OpenDocument entry = it->second;
    open_.erase(it);
    if (entry.generation != instance_.Generation()) {
        return; // it ended with the instance it was open in
    }
    try {
        instance_.Bridge().Close(entry.bridgeId);
        watchdog_.Disarm();
    } catch (const UnoCallError& e) {
        watchdog_.Disarm();
        Fail(e, Failure::CloseFailed);
    }
}

// Turns a failed call into the error the caller sees, replacing the instance
// when it hung or died.
void OfficeDocuments::Fail(const UnoCallError& e, Failure failure) {
    if (watchdog_.Expired()) {
        std::string reason =
            "The document was not converted within " + SecondsText(instance_.Deadline()) +
            " s; LibreOffice was " +
            (instance_.Started() ? "stopped and started again."
                                 : "left running (this run did not start it) and this "
                                   "run goes on with an instance of its own.");
        throw EndGeneration(Failure::Timeout, reason, true);
    }
    if (e.lost() || !instance_.Alive()) {
        throw EndGeneration(Failure::OfficeDied,
                            "LibreOffice stopped while handling the document (it crashed "
                            "or was killed); it was started again.",
                            false);
    }
    throw WordProcessorError(failure, e.what());
}

// Replaces the instance and notes why its documents ended.
WordProcessorError OfficeDocuments::EndGeneration(Failure failure, std::string reason,
                                                  bool afterDeadline) {
    int ended = instance_.Generation();
    reason += instance_.Replace(afterDeadline);
    WordProcessorError error(failure, reason);
    endedGenerations_.insert_or_assign(ended, error);
    return error;
}

} // namespace qf::wordproc
