// Reads hostile language files: the file reader, the value escapes and the
// formatting of templates taken from the file must never crash, and what
// they produce must read back the same.
#include "common/error.h"
#include "i18n/escape.h"
#include "i18n/format.h"
#include "i18n/langfile.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

void Check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto doc = qf::LangDocument::Parse(bytes);

    // The whole input as one value.
    try {
        const std::string text = qf::UnescapeText(bytes);
        Check(qf::UnescapeText(qf::EscapeText(text)) == text);
    } catch (const qf::EscapeError& e) {
        Check(e.HelpTopic() == qf::kEscapeHelpTopic);
    }

    // Every entry the reader finds: unescape, format, and record it again.
    // Lookups are linear, so only the first entries are taken.
    auto rewritten = qf::LangDocument::Parse("");
    int budget = 256;
    for (const auto& section : doc.Sections()) {
        for (const auto& line : section.lines) {
            const auto eq = line.find('=');
            if (line.empty() || line[0] == ';' || eq == std::string::npos) {
                continue;
            }
            if (--budget < 0) {
                break;
            }
            const std::string_view key = std::string_view(line).substr(0, eq);
            // Nothing when the line stands in a later section of the name.
            const auto value = doc.FindValue(section.name, key);
            if (!value) {
                continue;
            }
            try {
                const std::string text = qf::UnescapeText(*value);
                Check(qf::UnescapeText(qf::EscapeText(text)) == text);
                try {
                    qf::FormatWide(std::u16string(text.begin(), text.end()),
                                   {std::string("x"), std::int64_t{-12345}});
                } catch (const qf::Error&) {
                }
            } catch (const qf::EscapeError&) {
            }
            // Every entry that was read can be recorded again.
            if (!rewritten.FindValue(section.name, key)) {
                rewritten.SetValue(section.name, key, *value);
                Check(rewritten.FindValue(section.name, key) == value);
            }
        }
    }

    // Writing the document and reading it back keeps every section, line
    // and lookup.
    const std::string written = doc.Serialize();
    const auto again = qf::LangDocument::Parse(written);
    Check(again.Serialize() == written);
    Check(again.Sections().size() == doc.Sections().size());
    for (const auto& section : rewritten.Sections()) {
        for (const auto& line : section.lines) {
            const std::string_view key = std::string_view(line).substr(0, line.find('='));
            Check(again.FindValue(section.name, key) == doc.FindValue(section.name, key));
        }
    }
    return 0;
}
