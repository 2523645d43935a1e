#include "i18n/langfile.h"

#include "common/error.h"
#include "common/text.h"

#include <algorithm>

namespace qf {
namespace {

bool IsSectionHeading(std::string_view line) {
    return line.size() >= 2 && line.front() == '[' && line.back() == ']';
}

bool IsUnread(std::string_view line) {
    return line.empty() || line.front() == ';';
}

// The key of an entry line, or nothing for a line that is not an entry.
std::optional<std::string_view> KeyOf(std::string_view line) {
    if (IsUnread(line)) {
        return std::nullopt;
    }
    const auto eq = line.find('=');
    if (eq == std::string_view::npos) {
        return std::nullopt;
    }
    return line.substr(0, eq);
}

bool HasLineBreak(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
}

void AppendLines(std::string& out, const std::vector<std::string>& lines) {
    // Trailing empty lines are dropped: the writer adds one after each block.
    auto end = lines.end();
    while (end != lines.begin() && (end - 1)->empty()) {
        --end;
    }
    for (auto it = lines.begin(); it != end; ++it) {
        out += *it;
        out += "\r\n";
    }
}

} // namespace

LangDocument LangDocument::Parse(std::string_view bytes) {
    LangDocument doc;
    while (bytes.starts_with("\xEF\xBB\xBF")) {
        bytes.remove_prefix(3);
    }
    std::vector<std::string>* target = &doc.preamble_;
    size_t pos = 0;
    while (pos < bytes.size()) {
        size_t end = bytes.find_first_of("\r\n", pos);
        std::string_view line = bytes.substr(pos, end == std::string_view::npos ? end : end - pos);
        if (end == std::string_view::npos) {
            pos = bytes.size();
        } else {
            pos = end + 1;
            if (bytes[end] == '\r' && pos < bytes.size() && bytes[pos] == '\n') {
                ++pos;
            }
        }
        if (IsSectionHeading(line)) {
            doc.sections_.push_back({std::string(line.substr(1, line.size() - 2)), {}});
            target = &doc.sections_.back().lines;
        } else {
            target->emplace_back(line);
        }
    }
    return doc;
}

const LangSection* LangDocument::FindSection(std::string_view name) const {
    for (const auto& s : sections_) {
        if (EqualsNoCase(s.name, name)) {
            return &s;
        }
    }
    return nullptr;
}

std::optional<std::string_view> LangDocument::FindValue(std::string_view section,
                                                        std::string_view key) const {
    const LangSection* s = FindSection(section);
    if (!s) {
        return std::nullopt;
    }
    for (const auto& line : s->lines) {
        auto k = KeyOf(line);
        if (k && EqualsNoCase(*k, key)) {
            return std::string_view(line).substr(k->size() + 1);
        }
    }
    return std::nullopt;
}

void LangDocument::SetValue(std::string_view section, std::string_view key,
                            std::string_view value) {
    std::string line = std::string(key) + "=" + std::string(value);
    if (HasLineBreak(section) || HasLineBreak(line) || key.find('=') != std::string_view::npos ||
        key.starts_with(';') || IsSectionHeading(line)) {
        throw Error("Cannot record a language entry: [" + std::string(section) + "] " +
                    std::string(key));
    }
    auto s = std::find_if(sections_.begin(), sections_.end(),
                          [&](const LangSection& x) { return EqualsNoCase(x.name, section); });
    if (s == sections_.end()) {
        sections_.push_back({std::string(section), {std::move(line)}});
        return;
    }
    for (auto& l : s->lines) {
        auto k = KeyOf(l);
        if (k && EqualsNoCase(*k, key)) {
            l = std::move(line);
            return;
        }
    }
    // A new key goes after the section's last line that is read, so that the
    // comments and blank lines closing the section keep their place.
    auto& lines = s->lines;
    auto last = std::find_if(lines.rbegin(), lines.rend(),
                             [](const std::string& l) { return !IsUnread(l); });
    lines.insert(last.base(), std::move(line));
}

std::string LangDocument::Serialize() const {
    std::string out;
    AppendLines(out, preamble_);
    if (!out.empty()) {
        out += "\r\n";
    }
    for (const auto& s : sections_) {
        out += "[" + s.name + "]\r\n";
        AppendLines(out, s.lines);
        out += "\r\n";
    }
    return out;
}

} // namespace qf
