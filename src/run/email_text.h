// One email's output file: its name, its text (header, body, footer), the
// switch to UTF-16 text, writing it and setting its times.
#pragma once

#include "run/email_source.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qf {

// The largest file number; an email can never be given it, because no number
// would be left for the email after it.
inline constexpr std::int32_t kLastFileNumber = 2147483647;

// Full path of the email's output file: `fileNameFormat` expanded in the
// email's context (values from the email made safe for a file name), then
// formatted printf-style with `fileNumber`, after `directory` (which ends in
// "/").  Throws Error with the format error text when the format does not fit
// one integer, when `fileNumber` is kLastFileNumber, and when the name is
// longer than the file system allows.
std::string OutputFileName(std::string_view directory, std::string_view fileNameFormat,
                           EmailFields& email, std::int32_t fileNumber);

// Throws Error when a component of `path` or the whole path (with the
// temporary name it is first written under) is longer than the file system
// can hold; the file name is measured against its own folder's file system.
void CheckFileNameLength(const std::string& path);

// Throws Error when no file can be numbered `fileNumber` (see kLastFileNumber).
void CheckFileNumber(std::int32_t fileNumber);

// The body with the expanded header before it and the expanded footer after
// it.  A UTF-16 body keeps its byte-order mark in front and gets the header
// and footer widened; a big-endian body is turned little-endian first.
std::string ComposeEmailText(EmailFields& email, std::string_view emailHeader,
                             std::string_view emailFooter, std::int32_t fileNumber);

// Creates or replaces the file with exactly `bytes`, through a temporary file
// in the same folder renamed into place.  Not yet durable: the run syncs a
// batch of them at once.  Throws FileError.
void WriteWholeFile(const std::string& path, std::string_view bytes);
// All bytes of the file.  Throws FileError.
std::string ReadWholeFile(const std::string& path);

// Sets the file's last access and last write times to `when` (local time).
// Linux keeps a file's creation (birth) time to itself: no call can set it,
// so it stays the moment the file was written.  Failures, an absent time and
// a time that is not a valid file time leave the file as it is.
void SetFileTimes(const std::string& path, std::optional<DateTime> when);

// Seconds and nanoseconds since 1970 (UTC) of a local date-time; nullopt when
// it is not a usable file time (not finite, or not after 30 December 1899).
struct UnixTime {
    std::int64_t seconds;
    long nanoseconds;
};
std::optional<UnixTime> LocalDateTimeToUnix(DateTime when);

// True when the text starts with a UTF-16 byte-order mark (FF FE or FE FF).
bool IsUnicodeText(std::string_view text);
// UTF-8 text as UTF-16LE bytes, no byte-order mark.
std::string WidenText(std::string_view text);
// A UTF-16 text that starts with FE FF, turned into little-endian with FF FE;
// a UTF-16 text of odd length gets its stray last byte replaced by U+FFFD;
// any other text is returned as it is.
std::string ToLittleEndianText(std::string_view text);

// Appends a piece of UTF-8 text, widened first when `text` is UTF-16.
void AppendPiece(std::string& text, std::string_view piece);
// Appends UTF-16 content that starts with a byte-order mark: `text` becomes
// UTF-16LE first when it is not yet, then the tags (widened) go around the
// content's characters, little-endian.
void AppendUnicodeContent(std::string& text, std::string_view startTag, std::string_view content,
                          std::string_view endTag);

// The file-name format expanded for the main window's preview, with a sample
// email: subject "Subject", a sample sender and recipient, sent now.  %NUMBER
// stays as written; %CC and %BCC give "Error".
std::string SampleFileName(std::string_view fileNameFormat);

inline constexpr const char* kSampleSender = "applicant@example.com";
inline constexpr const char* kSampleRecipient = "jobs@example.com";

} // namespace qf
