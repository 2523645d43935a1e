#include "i18n/form_text.h"

#include "i18n/loadstrings.h"

namespace qf {

namespace {

std::string Lookup(std::string_view section, const std::string& key, std::string_view english,
                   bool record) {
    StringLoader& loader = GetStringLoader();
    try {
        if (auto text = loader.Translation(section, key)) {
            return text->empty() ? std::string(english) : *text;
        }
    } catch (...) {
        return std::string(english); // a malformed entry: keep the program's text
    }
    if (record) {
        loader.WriteEntry(section, key, english);
    }
    return std::string(english);
}

} // namespace

std::string FormText(std::string_view section, std::string_view component,
                     std::string_view property, std::string_view english) {
    if (english.empty()) {
        return {};
    }
    return Lookup(section, std::string(component) + "." + std::string(property), english, false);
}

std::string GridText(std::string_view section, std::string_view grid, int column, int row,
                     std::string_view english) {
    return Lookup(section,
                  std::string(grid) + ".col_" + std::to_string(column) + ".row_" +
                      std::to_string(row),
                  english, true);
}

} // namespace qf
