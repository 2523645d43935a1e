#include "common/csv.h"

#include "common/text.h"

namespace qf {
namespace {

bool NeedsQuotes(std::string_view value) {
    if (value.empty()) {
        return false;
    }
    if (value.find_first_of(",\"\r\n") != std::string_view::npos) {
        return true;
    }
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    return blank(value.front()) || blank(value.back());
}

} // namespace

std::string CsvField(std::string_view value) {
    std::string clean;
    if (!IsValidUtf8(value)) {
        clean = Utf16ToUtf8(Utf8ToUtf16(value));
        value = clean;
    }
    if (!NeedsQuotes(value)) {
        return std::string(value);
    }
    std::string out;
    out.reserve(value.size() + 2);
    out += '"';
    for (char c : value) {
        if (c == '"') {
            out += '"';
        }
        out += c;
    }
    out += '"';
    return out;
}

std::string CsvRecord(const std::vector<std::string>& fields) {
    std::string out;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) {
            out += ',';
        }
        out += CsvField(fields[i]);
    }
    out += "\r\n";
    return out;
}

} // namespace qf
