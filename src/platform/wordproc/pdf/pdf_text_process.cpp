#include "platform/wordproc/pdf/pdf_text_process.h"

#include "common/installation.h"
#include "common/process.h"
#include "platform/wordproc/pdf/pdf_text_format.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

namespace qf::pdf {
namespace {

using std::chrono::milliseconds;

// Owns a descriptor.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// Everything the helper wrote, from the start of the memory file.
std::string ReadBack(int fd) {
    std::string text;
    char buffer[65536];
    off_t at = 0;
    for (;;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return text;
        }
        text.append(buffer, static_cast<std::size_t>(n));
        at += n;
    }
}

[[noreturn]] void Fail(PdfFailure failure, const std::string& reason) {
    throw PdfError(failure, reason);
}

// What the helper's ending means; returns when it gave text.
void CheckEnding(const ChildProcess& child) {
    if (child.ExitStatus() > 128) {
        // SIGXCPU at the processor-time limit, SIGKILL or SIGABRT when memory
        // ran out in code that cannot report it, SIGSEGV on a file Poppler
        // could not survive.
        Fail(PdfFailure::ReaderFailed,
             "The PDF reader stopped working on this document (" + child.ExitDescription() + ")");
    }
    switch (static_cast<HelperExit>(child.ExitStatus())) {
    case HelperExit::Text:
    case HelperExit::Incomplete:
        return;
    case HelperExit::Damaged:
        Fail(PdfFailure::Damaged, "The PDF is damaged and could not be read");
    case HelperExit::NeedsPassword:
        Fail(PdfFailure::NeedsPassword, "The PDF needs a password to be opened");
    case HelperExit::NoText:
        Fail(PdfFailure::NoText, "no text in this PDF (scanned?)");
    case HelperExit::TooLarge:
        Fail(PdfFailure::TooLarge, "The PDF needs more memory than allowed, or holds more text");
    default:
        Fail(PdfFailure::ReaderFailed, "The PDF reader failed (" + child.ExitDescription() + ")");
    }
}

} // namespace

PdfTextOptions PdfTextOptions::FromEnvironment() {
    PdfTextOptions options;
    if (const char* value = std::getenv("QUILLFENCE_OFFICE_DEADLINE"); value && *value) {
        char* end = nullptr;
        const double seconds = std::strtod(value, &end);
        if (end != value && *end == '\0' && seconds > 0 && seconds < 86400) {
            options.deadline = milliseconds(static_cast<long long>(seconds * 1000));
        }
    }
    return options;
}

PdfTextProcess::PdfTextProcess(PdfTextOptions options) : options_(std::move(options)) {
    if (options_.program.empty()) {
        options_.program = InstallationFolder() + "quillfence-pdftext";
    }
}

PdfText PdfTextProcess::Read(const std::string& path) {
    const Descriptor out(::memfd_create("quillfence-pdftext", MFD_CLOEXEC));
    if (out.get() < 0) {
        Fail(PdfFailure::ReaderFailed,
             std::string("The PDF reader could not be started: ") + std::strerror(errno));
    }
    // A processor-time limit as well, in case this process is gone before
    // the deadline and nobody stops the helper.
    const auto cpuSeconds = options_.deadline.count() / 1000 + 2;
    const std::vector<std::string> argv = {options_.program,
                                           "--memory-mb",
                                           std::to_string(options_.memoryMb),
                                           "--cpu-seconds",
                                           std::to_string(cpuSeconds),
                                           "--max-text-mb",
                                           std::to_string(options_.maxTextMb),
                                           path};
    SpawnOptions spawn;
    spawn.standardOutput = out.get();
    spawn.newProcessGroup = true;
    int error = 0;
    std::optional<ChildProcess> child = ChildProcess::Start(argv, spawn, error);
    if (!child) {
        Fail(PdfFailure::ReaderFailed, "The PDF reader " + options_.program +
                                           " could not be started: " + std::strerror(error));
    }
    if (!child->WaitFor(options_.deadline)) {
        child->KillGroupAndWait(std::chrono::seconds(10));
        Fail(PdfFailure::Timeout, "The PDF was not read in the time allowed");
    }
    CheckEnding(*child);
    PdfText result;
    result.text = ReadBack(out.get());
    result.incomplete = static_cast<HelperExit>(child->ExitStatus()) == HelperExit::Incomplete;
    return result;
}

} // namespace qf::pdf
