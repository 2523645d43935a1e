#include "i18n/lang_check.h"

#include "common/text.h"
#include "i18n/escape.h"

#include <cctype>
#include <cstring>

namespace qf {
namespace {

struct Entry {
    std::string key;
    std::string value;
};

std::vector<Entry> Entries(const LangSection& section) {
    std::vector<Entry> entries;
    for (const std::string& line : section.lines) {
        const auto eq = line.find('=');
        if (eq != std::string::npos && !line.empty() && line[0] != ';') {
            entries.push_back({line.substr(0, eq), line.substr(eq + 1)});
        }
    }
    return entries;
}

// The conversion letters of a printf template, in order ("%%" is none).
std::string Conversions(const std::string& text) {
    std::string found;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            continue;
        }
        std::size_t j = i + 1;
        while (j < text.size() && (std::strchr("-+ 0#.", text[j]) ||
                                   std::isdigit(static_cast<unsigned char>(text[j])))) {
            ++j;
        }
        if (j < text.size() && text[j] != '%') {
            found += text[j];
        }
        i = j;
    }
    return found;
}

} // namespace

std::vector<std::string> CheckTranslation(const LangDocument& english,
                                          const LangDocument& translation) {
    std::vector<std::string> problems;
    for (const LangSection& section : english.Sections()) {
        const bool global = EqualsNoCase(section.name, "global");
        for (const Entry& e : Entries(section)) {
            const std::string where = "[" + section.name + "] " + e.key;
            const auto value = translation.FindValue(section.name, e.key);
            if (!value) {
                problems.push_back(where + ": missing");
            } else if (value->empty()) {
                problems.push_back(where + ": empty");
            } else if (global && Conversions(std::string(*value)) != Conversions(e.value)) {
                problems.push_back(where + ": placeholders differ from the English text");
            }
        }
    }
    for (const LangSection& section : translation.Sections()) {
        for (const Entry& e : Entries(section)) {
            if (!english.FindValue(section.name, e.key)) {
                problems.push_back("[" + section.name + "] " + e.key + ": not in English.ini");
            }
        }
    }
    return problems;
}

} // namespace qf
