#include "web/version_list.h"

#include "web/url.h"

#include <charconv>
#include <system_error>

namespace qf::web {

std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            lines.emplace_back(text.substr(start, i - start));
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
            start = i + 1;
        }
    }
    if (start < text.size()) {
        lines.emplace_back(text.substr(start));
    }
    return lines;
}

std::optional<std::string> FindProductLine(std::string_view text, std::string_view productTitle) {
    const std::string wanted = LowerAscii(productTitle);
    for (std::string& line : SplitLines(text)) {
        const std::size_t comma = line.find(',');
        if (comma != std::string::npos && LowerAscii(line.substr(0, comma)) == wanted) {
            return std::move(line);
        }
    }
    return std::nullopt;
}

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Advances past the digits at `i`; returns how many there were.
std::size_t SkipDigits(std::string_view s, std::size_t& i) {
    const std::size_t from = i;
    while (i < s.size() && IsDigit(s[i])) {
        ++i;
    }
    return i - from;
}

} // namespace

std::optional<double> ParseStamp(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') {
        ++i;
    }
    const std::size_t numberStart = i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        ++i;
    }
    if (SkipDigits(text, i) == 0) {
        return std::nullopt;
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        SkipDigits(text, i);
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
            ++i;
        }
        if (SkipDigits(text, i) == 0) {
            return std::nullopt;
        }
    }
    if (i != text.size()) {
        return std::nullopt;
    }
    // from_chars ignores the locale (a desktop's may use "," for the point)
    // but takes no "+".
    std::string_view number = text.substr(numberStart);
    if (number.front() == '+') {
        number.remove_prefix(1);
    }
    double value = 0;
    const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (ec == std::errc::result_out_of_range) {
        return std::nullopt;
    }
    if (ec != std::errc() || end != number.data() + number.size()) {
        return std::nullopt;
    }
    return value;
}

VersionLine ParseVersionLine(std::string_view line, std::string_view downloadsPage) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = line.find(',', start);
        fields.push_back(line.substr(start, comma == std::string_view::npos ? std::string_view::npos
                                                                            : comma - start));
        if (comma == std::string_view::npos) {
            break;
        }
        start = comma + 1;
    }
    const auto field = [&](std::size_t n) {
        return n < fields.size() ? fields[n] : std::string_view();
    };
    VersionLine out;
    out.stampText = field(1).empty() ? "0" : std::string(field(1));
    out.stamp = ParseStamp(out.stampText);
    out.page = field(2).empty() ? std::string(downloadsPage) : std::string(field(2));
    out.label = field(3).empty() ? "Unknown" : std::string(field(3));
    return out;
}

bool IsNewerRelease(double stamp, double releaseStamp) {
    return stamp - releaseStamp > 1.0 / 86400.0;
}

std::string UpdateParameters(std::string_view productTitle, std::string_view version) {
    return "application=" + UrlEncode(productTitle) + "&ver=" + UrlEncode(version) +
           "&source=" + UrlEncode("updater");
}

std::string PageWithParameters(std::string_view page, std::string_view productTitle,
                               std::string_view version) {
    const char* joint = page.find('?') != std::string_view::npos ? "&" : "?";
    return std::string(page) + joint + UpdateParameters(productTitle, version);
}

std::string VersionListUrl(std::string_view siteAddress, std::string_view netUserName,
                           std::string_view productTitle, std::string_view version) {
    return std::string(siteAddress) + "/versions.txt?name=" + UrlEncode(netUserName) + "&" +
           UpdateParameters(productTitle, version);
}

UpdateFinding ReadVersionAnswer(std::string_view answer, std::string_view productTitle,
                                std::string_view version, std::string_view downloadsPage,
                                double releaseStamp) {
    UpdateFinding finding;
    const std::optional<std::string> line = FindProductLine(answer, productTitle);
    if (!line) {
        return finding;
    }
    const VersionLine v = ParseVersionLine(*line, downloadsPage);
    finding.stampText = v.stampText;
    finding.label = v.label;
    finding.page = PageWithParameters(v.page, productTitle, version);
    if (!v.stamp) {
        finding.kind = UpdateFinding::Kind::InvalidStamp;
    } else if (IsNewerRelease(*v.stamp, releaseStamp)) {
        finding.kind = UpdateFinding::Kind::NewerAvailable;
    } else {
        finding.kind = UpdateFinding::Kind::UpToDate;
    }
    return finding;
}

} // namespace qf::web
