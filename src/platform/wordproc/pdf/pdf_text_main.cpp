// quillfence-pdftext: writes the text of one PDF to standard output.  Started
// by the run for each PDF attachment, inside limits it sets on itself before
// it reads a byte of the file:
//
//   quillfence-pdftext [--memory-mb N] [--cpu-seconds N] [--max-text-mb N] FILE
//
// The exit status says what became of the file (HelperExit).
#include "platform/wordproc/pdf/poppler_text.h"

#include <charconv>
#include <csignal>
#include <cstdio>
#include <new>
#include <string>
#include <string_view>
#include <sys/resource.h>
#include <unistd.h>

namespace {

using qf::pdf::HelperExit;

struct Arguments {
    unsigned long memoryMb = 1024;
    unsigned long cpuSeconds = 0; // 0: no limit of our own
    unsigned long maxTextMb = 64;
    std::string file;
};

bool ParseNumber(std::string_view text, unsigned long& value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

bool Parse(int argc, char** argv, Arguments& args) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        unsigned long* target = arg == "--memory-mb"     ? &args.memoryMb
                                : arg == "--cpu-seconds" ? &args.cpuSeconds
                                : arg == "--max-text-mb" ? &args.maxTextMb
                                                         : nullptr;
        if (target != nullptr) {
            if (++i >= argc || !ParseNumber(argv[i], *target)) {
                return false;
            }
        } else if (args.file.empty() && !arg.empty()) {
            args.file = arg;
        } else {
            return false;
        }
    }
    return !args.file.empty();
}

void Limit(int resource, rlim_t value) {
    const rlimit limit{value, value};
    ::setrlimit(resource, &limit);
}

// Poppler aborts when an allocation fails (and so does the C++ runtime in
// code that cannot throw): inside the memory limit, that is what an abort
// means.
void OutOfMemory(int) {
    ::_exit(static_cast<int>(HelperExit::TooLarge));
}

void SetLimits(const Arguments& args) {
    constexpr rlim_t kMb = 1024 * 1024;
#if !defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer reserves terabytes of address space for itself.
    Limit(RLIMIT_AS, static_cast<rlim_t>(args.memoryMb) * kMb);
#endif
    if (args.cpuSeconds > 0) {
        Limit(RLIMIT_CPU, static_cast<rlim_t>(args.cpuSeconds));
    }
    // Standard output is a file: never more than the text allowed, and no
    // core files of a crash on a stranger's PDF.
    Limit(RLIMIT_FSIZE, static_cast<rlim_t>(args.maxTextMb + 1) * kMb);
    Limit(RLIMIT_CORE, 0);
    std::signal(SIGXFSZ, SIG_IGN); // a write past the limit fails instead
    std::signal(SIGABRT, &OutOfMemory);
}

bool WriteAll(const std::string& text) {
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() &&
           std::fflush(stdout) == 0;
}

} // namespace

int main(int argc, char** argv) {
    Arguments args;
    if (!Parse(argc, argv, args)) {
        std::fputs("usage: quillfence-pdftext [--memory-mb N] [--cpu-seconds N] "
                   "[--max-text-mb N] FILE\n",
                   stderr);
        return static_cast<int>(HelperExit::Usage);
    }
    SetLimits(args);
    try {
        const qf::pdf::PopplerResult result =
            qf::pdf::ReadWithPoppler(args.file, args.maxTextMb * 1024 * 1024);
        if (!result.text.empty() && !WriteAll(result.text)) {
            return static_cast<int>(HelperExit::TooLarge);
        }
        return static_cast<int>(result.status);
    } catch (const std::bad_alloc&) {
        return static_cast<int>(HelperExit::TooLarge);
    }
}
