// The word processor on this platform: LibreOffice, driven over UNO through a
// pipe.  One instance serves a whole run (or several side by side, one object
// each: see NewInstance and office_pool.h); documents are bounded by a
// deadline, and an instance that hangs, crashes or is killed is replaced by a
// new one.
#pragma once

#include "platform/wordproc/word_processor.h"

#include <chrono>
#include <memory>
#include <string>
#include <sys/types.h>

namespace qf::wordproc {

struct LibreOfficeOptions {
    // The pipe of an instance to attach to.  When nothing answers there, an
    // instance is started on it.  Empty: a pipe name private to this run, so an
    // instance is always started.
    std::string pipeName;
    // Longest time from opening a document to closing it.
    std::chrono::milliseconds deadline{std::chrono::seconds(60)};
    // Longest time an instance may take to start answering.
    std::chrono::milliseconds startLimit{std::chrono::seconds(60)};
    // The soffice program; empty: LibreOffice's own, else soffice on PATH.
    std::string program;
    // Where the private profiles of started instances go; empty:
    // $XDG_CACHE_HOME/quillfence (~/.cache/quillfence).
    std::string profileParent;
    // The user's own Basic macros (a LibreOffice profile's "basic" folder):
    // their modules are installed into a started instance, whose private
    // profile has only LibreOffice's defaults, so the user's macro runs there.  Empty:
    // $XDG_CONFIG_HOME/libreoffice/4/user/basic
    // (~/.config/...), when it exists.
    std::string userMacros;
    // Start instances without network access (a network namespace of their
    // own), so documents cannot make LibreOffice fetch linked images, style
    // sheets or frames.  Where the system does not allow it, instances start
    // with the network.
    bool isolateNetwork = true;
    // How many instances may convert side by side (see office_pool.h); the
    // ones beyond the first are private.  1: this instance only.
    int instances = 1;

    // Defaults, with QUILLFENCE_OFFICE_PIPE naming pipeName,
    // QUILLFENCE_OFFICE_DEADLINE the deadline in seconds, and instances as
    // DefaultInstanceCount gives them (one per core unless
    // QUILLFENCE_OFFICE_INSTANCES says otherwise).
    static LibreOfficeOptions FromEnvironment();
};

// The front of three parts: the instance in use (office_instance.h), the
// deadline of each document (office_watchdog.h) and the documents with the
// steps on them (office_documents.h).  Not thread-safe: one thread at a time
// makes the calls; only the deadline is watched from a thread of its own.
// Several objects may serve side by side, each with its own instance.
class LibreOffice final : public WordProcessor {
public:
    explicit LibreOffice(LibreOfficeOptions options = {});
    // Kills an instance this object started if Quit was not called.
    ~LibreOffice() override;
    LibreOffice(const LibreOffice&) = delete;
    LibreOffice& operator=(const LibreOffice&) = delete;

    bool Connect() override;
    bool Started() const override;
    void Hide() override;
    DocumentId Open(const std::string& path, const std::string& openPassword,
                    const std::string& modifyPassword) override;
    StepOutcome ClearMailMerge(DocumentId doc) override;
    StepOutcome Unprotect(DocumentId doc, const std::string& password) override;
    void RunMacro(DocumentId doc, const std::string& name) override;
    std::string WholeText(DocumentId doc) override;
    void Close(DocumentId doc) override;
    void Quit() override;
    int InstanceLimit() const override;
    std::unique_ptr<WordProcessor> NewInstance() override;

    // Puts Basic source into a module of the instance's application macros
    // (a started instance has a private profile: this is how it gets macros).
    void InstallBasicModule(const std::string& library, const std::string& module,
                            const std::string& source);
    // Writes a copy of an open document through an export filter ("writer8",
    // "MS Word 97", "MS Word 2007 XML", ...), encrypted when `password` is set.
    void StoreCopy(DocumentId doc, const std::string& path, const std::string& filter,
                   const std::string& password = {});

    // Changes the deadline for documents opened from now on.
    void SetDeadline(std::chrono::milliseconds deadline);

    // The process group of the instance this object started, or -1.
    pid_t OfficeProcessGroup() const;
    // The pipe the instance in use accepts on.
    std::string PipeName() const;
    // Whether the instance in use was started without network access.
    bool NetworkIsolated() const;
    // How many times an instance was replaced after a deadline or a crash.
    int Restarts() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace qf::wordproc
