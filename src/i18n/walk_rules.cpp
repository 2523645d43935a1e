#include "i18n/walk_rules.h"

#include "common/text.h"
#include "i18n/loadstrings.h"

#include <filesystem>

namespace qf {

std::string JoinItems(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items) {
        text += item;
        text += "\r\n";
    }
    return text;
}

std::vector<std::string> SplitItems(std::string_view text) {
    std::vector<std::string> items;
    std::string line;
    bool open = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            items.push_back(std::move(line));
            line.clear();
            open = false;
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
        } else {
            line += c;
            open = true;
        }
    }
    if (open) {
        items.push_back(std::move(line));
    }
    return items;
}

std::optional<std::vector<std::string>> TranslateItems(const std::vector<std::string>& current,
                                                       std::string_view translated,
                                                       bool completeShorter) {
    if (translated == JoinItems(current)) {
        return std::nullopt;
    }
    std::vector<std::string> items = SplitItems(translated);
    if (completeShorter) {
        for (std::size_t i = items.size(); i < current.size(); ++i) {
            items.push_back(current[i]);
        }
    }
    return items;
}

bool RecordsMissingTexts(const StringLoader& loader) {
    if (!loader.Recording() || loader.FileName().empty()) {
        return false;
    }
    return EqualsNoCase(std::filesystem::path(loader.FileName()).stem().string(), "English");
}

void RecordIfMissing(StringLoader& loader, std::string_view section, std::string_view key,
                     std::string_view text) {
    if (text.empty() || !RecordsMissingTexts(loader) || loader.Document().FindValue(section, key)) {
        return;
    }
    loader.WriteEntry(section, key, text);
}

} // namespace qf
