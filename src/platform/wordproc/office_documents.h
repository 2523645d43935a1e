// The documents open in the office instance and the steps of a conversion on
// them.  The deadline armed when a document opens runs until it closes; a
// call that fails because the instance hung or died replaces the instance,
// and every later step on that document gives the same reason.
#pragma once

#include "platform/wordproc/office_instance.h"
#include "platform/wordproc/word_processor.h"

#include <cstdint>
#include <map>
#include <string>

namespace qf::wordproc {

class OfficeDocuments {
public:
    OfficeDocuments(OfficeInstance& instance, OfficeWatchdog& watchdog);

    // Opens `path` hidden and read-only with `password` (fixed and wrong, so a
    // protected document fails instead of asking).  Throws WrongFormat before
    // handing over bytes that do not fit the extension, AlreadyOpen for a file
    // the user has open in their instance, CannotOpen, Timeout, OfficeDied.
    DocumentId Open(const std::string& path, const std::string& password);
    // Throws unless `doc` is open in the instance in use.
    void Check(DocumentId doc);
    StepOutcome Unprotect(DocumentId doc, const std::string& password);
    void RunMacro(DocumentId doc, const std::string& name);
    // Throws Unreadable when the text is mostly unprintable.
    std::string WholeText(DocumentId doc);
    void StoreCopy(DocumentId doc, const std::string& path, const std::string& filter,
                   const std::string& password);
    // Ends the document's deadline; a document of an earlier instance is only
    // forgotten.
    void Close(DocumentId doc);
    // Forgets every document (the instance is quitting).
    void Clear() { open_.clear(); }

private:
    struct OpenDocument {
        std::uint64_t bridgeId = 0;
        int generation = 0;
    };

    std::uint64_t BridgeDocument(DocumentId doc);
    template <class F> auto Call(DocumentId doc, Failure failure, F&& f);
    [[noreturn]] void Fail(const UnoCallError& e, Failure failure);
    WordProcessorError EndGeneration(Failure failure, std::string reason, bool afterDeadline);

    OfficeInstance& instance_;
    OfficeWatchdog& watchdog_;
    std::uint64_t lastDocument_ = 0;
    std::map<std::uint64_t, OpenDocument> open_;
    // Why the documents of an earlier generation ended.
    std::map<int, WordProcessorError> endedGenerations_;
};

} // namespace qf::wordproc
