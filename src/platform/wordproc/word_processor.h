// The word processor that turns documents into text, seen through the
// operations a conversion needs.  The run talks to this interface only; the
// real implementation drives LibreOffice (libreoffice.h), tests may use a fake.
#pragma once

#include "common/error.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace qf::wordproc {

// Why an operation failed.  Every failure carries an English reason that can be
// shown to the user as it stands.
enum class Failure {
    NotAvailable, // the word processor is not installed or cannot be started
    CannotOpen,   // the document did not open: a password, a damaged file, an unknown format
    WrongFormat,  // the file's leading bytes do not fit its extension; it was not handed over
    AlreadyOpen,  // the same file is open in the user's instance; it was left alone
    Timeout,      // the document took longer than the deadline; the instance was restarted
    OfficeDied,   // the instance crashed or was killed during the document; it was restarted
    StepFailed,   // a step on an open document (mail merge, protection) failed
    MacroMissing, // no macro of that name exists
    MacroFailed,  // the macro exists but raised an error
    NoText,       // no text could be taken from the document
    Unreadable,   // the text came back mostly unprintable
    CloseFailed,  // the document could not be closed
    QuitFailed,   // the instance could not be asked to quit
};

class WordProcessorError : public qf::Error {
public:
    WordProcessorError(Failure failure, const std::string& reason)
        : qf::Error(reason), failure_(failure) {}
    Failure failure() const { return failure_; }
    // True when the document is gone with the instance (deadline, crash): the
    // conversion of this document cannot go on with any further step.
    bool EndsDocument() const {
        return failure_ == Failure::Timeout || failure_ == Failure::OfficeDied;
    }

private:
    Failure failure_;
};

// What a step that depends on a document state did.
enum class StepOutcome {
    Done,       // the state was there and has been changed
    NotNeeded,  // the document does not have the state
    Unsupported // the word processor has no such state; nothing to do, not a failure
};

// A document opened by this interface.  Only documents opened through it are
// ever closed by it.
struct DocumentId {
    std::uint64_t value = 0;
    bool operator==(const DocumentId&) const = default;
};

class WordProcessor {
public:
    virtual ~WordProcessor() = default;

    // Attaches to a running instance, or starts one.  Returns true when an
    // instance was started (and will be quit by Quit), false when an instance
    // was found running (it is left running).  Throws Failure::NotAvailable.
    virtual bool Connect() = 0;
    // True while the instance in use is one this object started.
    virtual bool Started() const = 0;
    // Keeps the instance out of the user's way (minimised or hidden).
    virtual void Hide() = 0;

    // Opens a document read-only and hidden, with the given passwords: a
    // document that needs a different password fails instead of asking.  The
    // document's own macros and external content stay disabled.  The time
    // from here to Close is bounded by the deadline.  Throws CannotOpen,
    // WrongFormat, AlreadyOpen, Timeout, OfficeDied.
    virtual DocumentId Open(const std::string& path, const std::string& openPassword,
                            const std::string& modifyPassword) = 0;
    // Turns a mail-merge main document into a normal document.
    virtual StepOutcome ClearMailMerge(DocumentId doc) = 0;
    // Removes edit protection with the given password.
    virtual StepOutcome Unprotect(DocumentId doc, const std::string& password) = 0;
    // Runs the user's macro `name` ("Macro", "Module.Macro" or
    // "Library.Module.Macro") with the document as its argument.  Throws
    // MacroMissing when there is no such macro, MacroFailed when it raised.
    virtual void RunMacro(DocumentId doc, const std::string& name) = 0;
    // The whole main text of the document (body and tables), UTF-8.  Throws
    // NoText, Unreadable (mostly unprintable text), Timeout, OfficeDied.
    virtual std::string WholeText(DocumentId doc) = 0;
    // Closes this document without saving; the user's other documents stay.
    virtual void Close(DocumentId doc) = 0;

    // Quits the instance without saving when this object started it;
    // otherwise only lets go of it.  Throws QuitFailed.
    virtual void Quit() = 0;

    // How many instances may convert documents side by side (see
    // office_pool.h); 1: this one only.
    virtual int InstanceLimit() const { return 1; }
    // A further instance with this one's options, always private to this
    // program (never the user's), not yet connected; null when there is no
    // such thing.
    virtual std::unique_ptr<WordProcessor> NewInstance() { return nullptr; }
};

} // namespace qf::wordproc
