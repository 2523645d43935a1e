#include "run/email_text.h"

#include "common/error.h"
#include "common/fileio.h"
#include "common/text.h"
#include "i18n/translate.h"
#include "run/macros.h"
#include "settings/number_format.h"

#include <climits>
#include <cmath>
#include <ctime>
#include <fcntl.h>
#include <iomanip>
#include <sstream>
#include <sys/stat.h>

namespace qf {
namespace {

constexpr std::string_view kBomLE = "\xFF\xFE";
constexpr std::string_view kBomBE = "\xFE\xFF";

// Names quoted in error texts are cut short: they may come from an email.
std::string Shortened(const std::string& name) {
    constexpr size_t kShown = 120;
    return name.size() <= kShown ? name : name.substr(0, kShown) + "...";
}

// The sample email of the main window's preview.
class SampleEmail : public EmailFields {
public:
    std::string FieldValue(std::string_view name) override {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        char buf[128];
        if (name == "SUBJECT") {
            return "Subject";
        }
        if (name == "FROM") {
            return kSampleSender;
        }
        if (name == "TO") {
            return kSampleRecipient;
        }
        if (name == "SENT") {
            // The locale's own date and time (the user's short date, long time).
            std::ostringstream text;
            text << std::put_time(&local, "%x %X");
            return text.str();
        }
        if (name == "NOW") {
            std::strftime(buf, sizeof buf, "%Y%m%d", &local);
            return buf;
        }
        throw Error("The sample email has no " + std::string(name) + " list");
    }
    std::optional<DateTime> DeliveryTime() override { return std::nullopt; }
    std::string ReadBody() override { return {}; }
};

} // namespace

void CheckFileNumber(std::int32_t fileNumber) {
    if (fileNumber == kLastFileNumber) {
        throw Error(TranslateFmt(8370,
                                 "The file number has reached %d, the largest there is, so no "
                                 "further file can be numbered. Please set a lower first file "
                                 "number",
                                 {std::int64_t{fileNumber}}));
    }
}

void CheckFileNameLength(const std::string& path) {
    // The file is written under a temporary name beside it first: that path
    // is longer, and must fit too (its name is cut to the folder's limit).
    bool tooLong = path.size() + kTemporaryNameExtra >= PATH_MAX;
    const size_t lastSlash = path.rfind('/');
    const std::string folder =
        lastSlash == std::string::npos ? "." : path.substr(0, lastSlash == 0 ? 1 : lastSlash);
    const size_t nameLimit = FileNameLimit(folder);
    size_t start = 0;
    while (!tooLong && start < path.size()) {
        size_t slash = path.find('/', start);
        if (slash == std::string::npos) {
            slash = path.size();
        }
        tooLong = slash - start > (slash == path.size() ? nameLimit : size_t{NAME_MAX});
        start = slash + 1;
    }
    if (tooLong) {
        throw Error(TranslateFmt(8360, "The file name \"%s\" is longer than the file system allows",
                                 {Shortened(path)}));
    }
}

std::string OutputFileName(std::string_view directory, std::string_view fileNameFormat,
                           EmailFields& email, std::int32_t fileNumber) {
    CheckFileNumber(fileNumber);
    EmailMacros context(email, fileNumber);
    const std::string expanded = ExpandMacros(fileNameFormat, context, MacroUse::NameFormat);
    std::string path(directory);
    path += FormatFileNumber(expanded, fileNumber);
    CheckFileNameLength(path);
    return path;
}

bool IsUnicodeText(std::string_view text) {
    return text.size() >= 2 && (text.substr(0, 2) == kBomLE || text.substr(0, 2) == kBomBE);
}

std::string WidenText(std::string_view text) {
    const std::u16string wide = Utf8ToUtf16(text);
    std::string out;
    out.reserve(wide.size() * 2);
    for (char16_t unit : wide) {
        out += static_cast<char>(unit & 0xFF);
        out += static_cast<char>(unit >> 8);
    }
    return out;
}

std::string ToLittleEndianText(std::string_view text) {
    if (!IsUnicodeText(text)) {
        return std::string(text);
    }
    std::string out(text);
    if (out.substr(0, 2) == kBomBE) {
        for (size_t i = 0; i + 1 < out.size(); i += 2) {
            std::swap(out[i], out[i + 1]);
        }
    }
    // A cut-off UTF-16 text ends in half a character: everything appended
    // after it would be read one byte out of step.  The stray byte becomes a
    // replacement character.
    if (out.size() % 2 != 0) {
        out.back() = '\xFD';
        out += '\xFF';
    }
    return out;
}

void AppendPiece(std::string& text, std::string_view piece) {
    if (IsUnicodeText(text)) {
        text += WidenText(piece);
    } else {
        text += piece;
    }
}

void AppendUnicodeContent(std::string& text, std::string_view startTag, std::string_view content,
                          std::string_view endTag) {
    if (!IsUnicodeText(text)) {
        text = std::string(kBomLE) + WidenText(text);
    }
    text += WidenText(startTag);
    const std::string little = ToLittleEndianText(content);
    text.append(little, std::min<size_t>(2, little.size()));
    text += WidenText(endTag);
}

std::string ComposeEmailText(EmailFields& email, std::string_view emailHeader,
                             std::string_view emailFooter, std::int32_t fileNumber) {
    std::string text = ToLittleEndianText(email.ReadBody());
    EmailMacros context(email, fileNumber);
    if (!emailHeader.empty()) {
        const std::string header = ExpandMacros(emailHeader, context);
        if (IsUnicodeText(text)) {
            text = text.substr(0, 2) + WidenText(header) + text.substr(2);
        } else {
            text.insert(0, header);
        }
    }
    if (!emailFooter.empty()) {
        AppendPiece(text, ExpandMacros(emailFooter, context));
    }
    return text;
}

void WriteWholeFile(const std::string& path, std::string_view bytes) {
    // The run makes its files durable a batch at a time (FileSystemSync)
    // before it moves, tags or marks the emails they came from.
    WriteFileAtomic(path, bytes, 0666, FollowLinks::No, Durability::Deferred);
}

std::string ReadWholeFile(const std::string& path) {
    return ReadFileBytes(path);
}

std::optional<UnixTime> LocalDateTimeToUnix(DateTime when) {
    // Years up to 9999, as date-times go.
    if (!std::isfinite(when) || when <= 0 || when >= 2958466) {
        return std::nullopt;
    }
    constexpr double kDaysTo1970 = 25569;
    const auto millis = static_cast<std::int64_t>(std::llround((when - kDaysTo1970) * 86400000.0));
    std::int64_t localSeconds = millis / 1000;
    std::int64_t rest = millis % 1000;
    if (rest < 0) {
        rest += 1000;
        --localSeconds;
    }
    // Break the local wall-clock time into fields, then let the time zone
    // rules (daylight saving included) turn it into UTC.
    const auto t = static_cast<std::time_t>(localSeconds);
    std::tm fields{};
    if (gmtime_r(&t, &fields) == nullptr) {
        return std::nullopt;
    }
    fields.tm_isdst = -1;
    const std::time_t utc = std::mktime(&fields);
    if (utc == static_cast<std::time_t>(-1) && localSeconds != -1) {
        return std::nullopt;
    }
    return UnixTime{static_cast<std::int64_t>(utc), static_cast<long>(rest * 1000000)};
}

void SetFileTimes(const std::string& path, std::optional<DateTime> when) {
    if (!when) {
        return;
    }
    const auto unix = LocalDateTimeToUnix(*when);
    if (!unix) {
        return;
    }
    timespec times[2];
    times[0].tv_sec = static_cast<time_t>(unix->seconds);
    times[0].tv_nsec = unix->nanoseconds;
    times[1] = times[0];
    (void)::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

std::string SampleFileName(std::string_view fileNameFormat) {
    SampleEmail sample;
    EmailMacros context(sample, std::nullopt);
    return ExpandMacros(fileNameFormat, context, MacroUse::NameFormat);
}

} // namespace qf
