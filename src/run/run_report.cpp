#include "run/run_report.h"

#include "common/csv.h"
#include "common/fileio.h"
#include "mail/mail_time.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>

namespace qf {
namespace {

constexpr std::uint64_t kFileTimeUnitsPerSecond = 10000000;
constexpr std::uint64_t kSecondsFrom1601To1970 = 11644473600;

// Lines of a cell are separated by LF alone, whatever the text had.
std::string OneLineEnd(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
        } else {
            out += text[i];
        }
    }
    return out;
}

// A name on a line of its own within a cell: line breaks and other control
// characters become blanks.
std::string OnOneLine(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) {
            c = ' ';
        }
    }
    return out;
}

// `path` from the root: relative to the current folder when it is not
// already; as it is when that cannot be told.
std::string FullPath(const std::string& path) {
    if (path.empty() || path.front() == '/') {
        return path;
    }
    std::error_code ec;
    const std::filesystem::path full = std::filesystem::absolute(path, ec);
    return ec ? path : full.string();
}

std::string JoinLines(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& line : lines) {
        if (!out.empty()) {
            out += '\n';
        }
        out += OneLineEnd(line);
    }
    return out;
}

std::string AttachmentLines(const std::vector<AttachmentRecord>& attachments) {
    std::vector<std::string> lines;
    lines.reserve(attachments.size());
    for (const AttachmentRecord& a : attachments) {
        std::string line = OnOneLine(a.name) + ": " + OutcomeWords(a.outcome);
        if (!a.copy.empty()) {
            line += " (" + OnOneLine(a.copy) + ")";
        }
        lines.push_back(std::move(line));
    }
    return JoinLines(lines);
}

} // namespace

const std::vector<std::string>& RunReport::Columns() {
    static const std::vector<std::string> columns = {"Record",      "Output file", "Sender",
                                                     "Subject",     "Delivered",   "Disposition",
                                                     "Marked read", "Attachments", "Exceptions"};
    return columns;
}

void RunReport::BeginEmail(std::string sender, std::string subject,
                           std::optional<DateTime> delivered) {
    EmailRecord record;
    record.sender = std::move(sender);
    record.subject = std::move(subject);
    record.delivered = delivered;
    emails_.push_back(std::move(record));
    current_ = emails_.size() - 1;
    embedded_.clear();
}

EmailRecord* RunReport::Current() {
    return current_ ? &emails_[*current_] : nullptr;
}

void RunReport::SetOutputFile(const std::string& path) {
    if (EmailRecord* email = Current()) {
        email->outputFile = FullPath(path);
    }
}

void RunReport::AddAttachment(const std::string& fileName, AttachmentOutcome outcome,
                              const std::string& copy) {
    EmailRecord* email = Current();
    if (!email) {
        return;
    }
    std::string name;
    for (const std::string& outer : embedded_) {
        name += outer + " / ";
    }
    name += fileName;
    email->attachments.push_back(AttachmentRecord{std::move(name), outcome, FullPath(copy)});
}

std::size_t RunReport::AttachmentCount() const {
    return current_ ? emails_[*current_].attachments.size() : 0;
}

void RunReport::LeaveEmbedded() {
    if (!embedded_.empty()) {
        embedded_.pop_back();
    }
}

void RunReport::AddException(const std::string& text) {
    if (EmailRecord* email = Current()) {
        email->exceptions.push_back(text);
    } else {
        runExceptions_.push_back(text);
    }
}

std::size_t RunReport::ExceptionCount() const {
    return current_ ? emails_[*current_].exceptions.size() : runExceptions_.size();
}

void RunReport::SetCurrentRow(std::optional<std::size_t> row) {
    current_ = row && *row < emails_.size() ? row : std::nullopt;
    embedded_.clear();
}

void RunReport::End(RunEnding ending, std::string message, std::optional<DateTime> at) {
    current_.reset();
    embedded_.clear();
    ending_ = ending;
    endingMessage_ = std::move(message);
    endedAt_ = at;
}

std::vector<std::string> RunReport::EmailFields(const EmailRecord& email,
                                                long utcOffsetSeconds) const {
    return {"email",
            email.outputFile,
            email.sender,
            email.subject,
            email.delivered ? IsoDateTime(*email.delivered, utcOffsetSeconds) : std::string(),
            DispositionWord(email.disposition),
            email.markedRead ? "yes" : "no",
            AttachmentLines(email.attachments),
            JoinLines(email.exceptions)};
}

std::vector<std::string> RunReport::RunFields(long utcOffsetSeconds) const {
    std::vector<std::string> messages = runExceptions_;
    if (!endingMessage_.empty()) {
        messages.push_back(endingMessage_);
    }
    return {"run",
            "",
            "",
            "",
            endedAt_ ? IsoDateTime(*endedAt_, utcOffsetSeconds) : std::string(),
            EndingWord(ending_),
            "",
            "",
            JoinLines(messages)};
}

std::string RunReport::ToCsv(long utcOffsetSeconds) const {
    std::string out = CsvRecord(Columns());
    for (const EmailRecord& email : emails_) {
        out += CsvRecord(EmailFields(email, utcOffsetSeconds));
    }
    out += CsvRecord(RunFields(utcOffsetSeconds));
    return out;
}

void RunReport::Save(const std::string& path) const {
    WriteFileAtomic(path, ToCsv(CurrentUtcOffsetSeconds()));
}

std::string IsoDateTime(DateTime local, long utcOffsetSeconds) {
    if (!std::isfinite(local) || local <= 0 || local >= 2958466) {
        return {};
    }
    const DateTimeParts p = DecodeDateTime(local);
    const long offsetMinutes = std::labs(utcOffsetSeconds) / 60;
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d%c%02ld:%02ld", p.year,
                  p.month, p.day, p.hour, p.minute, p.second, utcOffsetSeconds < 0 ? '-' : '+',
                  offsetMinutes / 60, offsetMinutes % 60);
    return buffer;
}

DateTime LocalNow() {
    const auto now = static_cast<std::uint64_t>(std::time(nullptr));
    return FileTimeToLocalDateTime((now + kSecondsFrom1601To1970) * kFileTimeUnitsPerSecond);
}

const char* DispositionWord(Disposition disposition) {
    switch (disposition) {
    case Disposition::Left:
        return "left";
    case Disposition::Moved:
        return "moved";
    case Disposition::Tagged:
        return "tagged";
    case Disposition::NotDisposed:
        break;
    }
    return "not disposed";
}

const char* OutcomeWords(AttachmentOutcome outcome) {
    switch (outcome) {
    case AttachmentOutcome::Converted:
        return "converted to text";
    case AttachmentOutcome::IncludedAsText:
        return "included as text";
    case AttachmentOutcome::Flagged:
        return "flagged for manual handling";
    case AttachmentOutcome::Printed:
        return "printed";
    case AttachmentOutcome::PrintFailed:
        return "saved, printing failed";
    case AttachmentOutcome::Saved:
        return "saved for manual handling";
    case AttachmentOutcome::Ignored:
        return "ignored";
    case AttachmentOutcome::NotConverted:
        return "not converted";
    case AttachmentOutcome::Failed:
        break;
    }
    return "failed";
}

const char* EndingWord(RunEnding ending) {
    switch (ending) {
    case RunEnding::Complete:
        return "complete";
    case RunEnding::Cancelled:
        return "cancelled";
    case RunEnding::Failed:
        return "failed";
    case RunEnding::Unfinished:
        break;
    }
    return "unfinished";
}

} // namespace qf
