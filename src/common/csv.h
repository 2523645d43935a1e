// Comma-separated values as RFC 4180 writes them: fields joined by commas,
// records ended by CR LF, a field in double quotes (its quotes doubled) when
// it holds a comma, a double quote, a line break, or leading or trailing
// blanks that a reader might trim.  The text is UTF-8.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qf {

// One field as it goes into a record.  Bytes that are not well-formed UTF-8
// become U+FFFD, so the file is always valid UTF-8.
std::string CsvField(std::string_view value);

// One record: each field through CsvField, joined by commas, ended by CR LF.
std::string CsvRecord(const std::vector<std::string>& fields);

} // namespace qf
