#include "app/batch/console_host.h"

#include "i18n/translate.h"

#include <atomic>
#include <cstring>
#include <unistd.h>

namespace qf {
namespace {

volatile std::sig_atomic_t gCancelled = 0;
void (*volatile gForcedExitCleanup)() = nullptr;

extern "C" void OnInterrupt(int) {
    if (gCancelled) {
        // Asked twice: the user wants out now, but leaves nothing running.
        if (gForcedExitCleanup) {
            gForcedExitCleanup();
        }
        ::_exit(130);
    }
    gCancelled = 1;
}

// Texts use CR LF between lines; a console wants LF.  Subjects and names come
// from strangers' emails: control characters (C0, DEL and the C1 range, which
// some terminals obey as commands) are shown as "?".
std::string ForConsole(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            continue;
        }
        if (c == '\n' || c == '\t') {
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            out += '?';
        } else if (c == 0xC2 && i + 1 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            out += '?'; // U+0080 to U+009F
            ++i;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

} // namespace

ConsoleHost::ConsoleHost(Options options) : options_(std::move(options)) {
    gCancelled = 0;
}

ConsoleHost::~ConsoleHost() {
    if (catching_) {
        ::sigaction(SIGINT, &oldInt_, nullptr);
        ::sigaction(SIGTERM, &oldTerm_, nullptr);
    }
}

void ConsoleHost::CatchInterrupts() {
    struct sigaction sa {};
    sa.sa_handler = OnInterrupt;
    sa.sa_flags = SA_RESTART; // a Ctrl-C must not make a library's blocked call fail
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, &oldInt_);
    ::sigaction(SIGTERM, &sa, &oldTerm_);
    catching_ = true;
}

void ConsoleHost::RequestCancel() {
    gCancelled = 1;
}

void ConsoleHost::SetForcedExitCleanup(void (*cleanup)()) {
    gForcedExitCleanup = cleanup;
}

bool ConsoleHost::Cancelled() const {
    return gCancelled != 0;
}

void ConsoleHost::Show() {}

void ConsoleHost::SetStatusText(const std::string& text) {
    if (text == status_) {
        return;
    }
    status_ = text;
    if (options_.interactive) {
        DrawProgress();
    } else {
        std::fprintf(options_.out, "%s\n", ForConsole(text).c_str());
        std::fflush(options_.out);
    }
}

void ConsoleHost::SetProgressValue(int percent) {
    percent_ = percent;
    if (options_.interactive) {
        DrawProgress();
    }
}

void ConsoleHost::SetSubject(const std::string& subject) {
    subject_ = subject;
    if (options_.interactive) {
        DrawProgress();
    }
}

void ConsoleHost::DrawProgress() {
    constexpr int kBarWidth = 24;
    const int p = percent_ < 0 ? 0 : (percent_ > 100 ? 100 : percent_);
    const int filled = p * kBarWidth / 100;
    // Appended piece by piece: GCC 12 at -O3 mistakes "[" + std::string(...)
    // for an overlapping copy (-Wrestrict).
    std::string line = "[";
    line.append(static_cast<size_t>(filled), '#');
    line.append(static_cast<size_t>(kBarWidth - filled), ' ');
    line += "] ";
    line += std::to_string(p) + "% " + ForConsole(status_);
    if (!subject_.empty()) {
        line += " - " + ForConsole(subject_);
    }
    // Keep to one terminal line so the carriage return can redraw it.
    constexpr size_t kMaxWidth = 100;
    if (line.size() > kMaxWidth) {
        size_t cut = kMaxWidth - 3;
        while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) {
            --cut; // never split a UTF-8 character
        }
        line = line.substr(0, cut) + "...";
    }
    std::fprintf(options_.out, "\r\033[K%s", line.c_str());
    std::fflush(options_.out);
    progressLineOpen_ = true;
}

void ConsoleHost::EndProgressLine() {
    if (progressLineOpen_) {
        std::fprintf(options_.out, "\n");
        progressLineOpen_ = false;
    }
}

void ConsoleHost::AddExceptionRow(const std::string& text, const std::string&, const std::string&) {
    exceptions_.push_back(text);
    EndProgressLine();
    std::fprintf(options_.out, "Exception: %s\n", ForConsole(text).c_str());
    std::fflush(options_.out);
    if (options_.interactive) {
        DrawProgress();
    }
}

void ConsoleHost::Finish() {
    if (options_.interactive) {
        DrawProgress();
        EndProgressLine();
    }
}

void ConsoleHost::ShowWarning(const std::string& text) {
    EndProgressLine();
    std::fprintf(options_.err, "Warning: %s\n", ForConsole(text).c_str());
    std::fflush(options_.err);
}

bool ConsoleHost::AskYesNo(const std::string& text) {
    if (options_.answerYes) {
        EndProgressLine();
        std::fprintf(options_.out, "%s\n%s\n", ForConsole(text).c_str(),
                     TranslateMsg(8723, "Answered Yes (--yes).").c_str());
        return true;
    }
    refusedQuestions_.push_back(ForConsole(text));
    return false;
}

void ConsoleHost::ShowError(const std::string& text) {
    error_ = text;
    EndProgressLine();
    std::fprintf(options_.err, "Application Error: %s\n", ForConsole(text).c_str());
    std::fflush(options_.err);
}

void ConsoleHost::SetNextFileNumber(std::int32_t nextNumber) {
    nextNumber_ = nextNumber;
}

void ConsoleHost::KeepNextFileNumber(std::int32_t nextNumber) {
    if (options_.keepEachBatch && options_.saveNextNumber) {
        options_.saveNextNumber(nextNumber);
    }
}

void ConsoleHost::SaveAfterRun() {
    if (options_.saveNextNumber && nextNumber_) {
        options_.saveNextNumber(*nextNumber_);
    }
}

} // namespace qf
