#include "i18n/languages.h"

#include "common/text.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace qf {

std::vector<std::string> ListLanguages(const std::string& languagesFolder) {
    namespace fs = std::filesystem;
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(languagesFolder, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (name.size() <= 4 || !EqualsNoCase(name.substr(name.size() - 4), ".ini")) {
            continue;
        }
        name.resize(name.size() - 4);
        name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
        names.push_back(name);
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return ToLowerAscii(a) < ToLowerAscii(b);
    });
    return names;
}

int SelectLanguageIndex(const std::vector<std::string>& languages, std::string_view name) {
    for (std::size_t i = 0; i < languages.size(); ++i) {
        if (EqualsNoCase(languages[i], name)) {
            return static_cast<int>(i);
        }
    }
    for (std::size_t i = 0; i < languages.size(); ++i) {
        if (EqualsNoCase(languages[i], "English")) {
            return static_cast<int>(i);
        }
    }
    return languages.empty() ? -1 : 0;
}

} // namespace qf
