#include "platform/wordproc/libreoffice.h"

#include "platform/wordproc/office_documents.h"
#include "platform/wordproc/office_instance.h"
#include "platform/wordproc/office_pool.h"
#include "platform/wordproc/office_watchdog.h"

#include <cstdlib>

namespace qf::wordproc {

LibreOfficeOptions LibreOfficeOptions::FromEnvironment() {
    LibreOfficeOptions o;
    if (const char* pipe = std::getenv("QUILLFENCE_OFFICE_PIPE")) {
        o.pipeName = pipe;
    }
    if (const char* deadline = std::getenv("QUILLFENCE_OFFICE_DEADLINE")) {
        char* end = nullptr;
        double s = std::strtod(deadline, &end);
        if (end != deadline && s > 0) {
            o.deadline = std::chrono::milliseconds(static_cast<long long>(s * 1000));
        }
    }
    o.instances = DefaultInstanceCount();
    return o;
}

// Declared in this order so that they go in reverse: the documents, then the
// instance (quitting under the watchdog), then the watchdog.
struct LibreOffice::Impl {
    explicit Impl(LibreOfficeOptions o) : options(std::move(o)) {}

    LibreOfficeOptions options;
    OfficeWatchdog watchdog;
    OfficeInstance instance{options, watchdog};
    OfficeDocuments documents{instance, watchdog};
};

LibreOffice::LibreOffice(LibreOfficeOptions options)
    : impl_(std::make_unique<Impl>(std::move(options))) {}

LibreOffice::~LibreOffice() = default;

bool LibreOffice::Connect() {
    return impl_->instance.Connect();
}

bool LibreOffice::Started() const {
    return impl_->instance.Started();
}

void LibreOffice::Hide() {
    // Started instances are headless and every document is opened hidden;
    // the windows of an instance the user has open are left as they are.
}

DocumentId LibreOffice::Open(const std::string& path, const std::string& openPassword,
                             const std::string& /*modifyPassword: read-only opens never ask*/) {
    return impl_->documents.Open(path, openPassword);
}

StepOutcome LibreOffice::ClearMailMerge(DocumentId doc) {
    // A Writer document is never the main document of a running mail merge:
    // its fields are read as they stand.
    impl_->documents.Check(doc);
    return StepOutcome::Unsupported;
}

StepOutcome LibreOffice::Unprotect(DocumentId doc, const std::string& password) {
    return impl_->documents.Unprotect(doc, password);
}

void LibreOffice::RunMacro(DocumentId doc, const std::string& name) {
    impl_->documents.RunMacro(doc, name);
}

std::string LibreOffice::WholeText(DocumentId doc) {
    return impl_->documents.WholeText(doc);
}

void LibreOffice::Close(DocumentId doc) {
    impl_->documents.Close(doc);
}

void LibreOffice::Quit() {
    impl_->documents.Clear();
    impl_->instance.Quit();
}

int LibreOffice::InstanceLimit() const {
    return impl_->options.instances < 1 ? 1 : impl_->options.instances;
}

std::unique_ptr<WordProcessor> LibreOffice::NewInstance() {
    LibreOfficeOptions options = impl_->options;
    // Its own pipe, profile and process group: the user's instance serves
    // one document at a time, and only as the first.
    options.pipeName.clear();
    options.instances = 1;
    return std::make_unique<LibreOffice>(std::move(options));
}

void LibreOffice::InstallBasicModule(const std::string& library, const std::string& module,
                                     const std::string& source) {
    impl_->instance.EnsureAnswering();
    try {
        impl_->instance.Bridge().InstallBasicModule(library, module, source);
    } catch (const UnoCallError& e) {
        throw WordProcessorError(Failure::NotAvailable, e.what());
    }
}

void LibreOffice::StoreCopy(DocumentId doc, const std::string& path, const std::string& filter,
                            const std::string& password) {
    impl_->documents.StoreCopy(doc, path, filter, password);
}

void LibreOffice::SetDeadline(std::chrono::milliseconds deadline) {
    impl_->options.deadline = deadline;
}

pid_t LibreOffice::OfficeProcessGroup() const {
    return impl_->instance.ProcessGroup();
}

std::string LibreOffice::PipeName() const {
    return impl_->instance.PipeName();
}

bool LibreOffice::NetworkIsolated() const {
    return impl_->instance.NetworkIsolated();
}

int LibreOffice::Restarts() const {
    return impl_->instance.Restarts();
}

} // namespace qf::wordproc
