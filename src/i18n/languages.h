// The languages installed: one file <name>.ini each in the folder Languages.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qf {

// The names of the language files in `languagesFolder`: each entry ending in
// ".ini" (any kind of entry) without that ending, its first character upper
// case; empty names left out; sorted without regard to letter case.
std::vector<std::string> ListLanguages(const std::string& languagesFolder);

// The entry to select for `name`: the first equal to it ignoring case, else
// "English", else the first; -1 when the list is empty.
int SelectLanguageIndex(const std::vector<std::string>& languages, std::string_view name);

} // namespace qf
