#include "platform/wordproc/user_macros.h"

#include "common/fileio.h"
#include "common/text.h"
#include "common/xdg.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>

namespace qf::wordproc {
namespace fs = std::filesystem;
namespace {

// One XML entity reference (the text between "&" and ";") as UTF-8.
std::optional<std::string> EntityText(const std::string& entity) {
    if (entity == "lt") {
        return "<";
    }
    if (entity == "gt") {
        return ">";
    }
    if (entity == "amp") {
        return "&";
    }
    if (entity == "quot") {
        return "\"";
    }
    if (entity == "apos") {
        return "'";
    }
    if (entity.size() < 2 || entity[0] != '#') {
        return std::nullopt;
    }
    const bool hex = entity[1] == 'x' || entity[1] == 'X';
    const char* digits = entity.c_str() + (hex ? 2 : 1);
    // strtoul would also take leading blanks and a sign.
    if (!(hex ? std::isxdigit(static_cast<unsigned char>(*digits))
              : std::isdigit(static_cast<unsigned char>(*digits)))) {
        return std::nullopt;
    }
    char* end = nullptr;
    unsigned long value = std::strtoul(digits, &end, hex ? 16 : 10);
    if (end == digits || *end != '\0') {
        return std::nullopt;
    }
    std::u16string utf16;
    AppendCodePoint(utf16, value > 0x10FFFF ? 0xFFFD : static_cast<char32_t>(value));
    return Utf16ToUtf8(utf16);
}

} // namespace

std::string DefaultUserMacros() {
    return XdgConfigHome() + "/libreoffice/4/user/basic";
}

std::optional<std::string> BasicModuleSource(const std::string& xml) {
    std::size_t open = xml.find("<script:module");
    if (open == std::string::npos) {
        return std::nullopt;
    }
    std::size_t start = xml.find('>', open);
    std::size_t end = xml.rfind("</script:module>");
    if (start == std::string::npos || end == std::string::npos || end < start) {
        return std::nullopt;
    }
    std::string source;
    for (std::size_t i = start + 1; i < end; ++i) {
        if (xml[i] != '&') {
            source += xml[i];
            continue;
        }
        std::size_t semi = xml.find(';', i);
        if (semi == std::string::npos || semi > end) {
            return std::nullopt;
        }
        auto text = EntityText(xml.substr(i + 1, semi - i - 1));
        if (!text) {
            return std::nullopt;
        }
        source += *text;
        i = semi;
    }
    return source;
}

std::vector<BasicModule> ReadUserMacros(const std::string& folder) {
    std::vector<BasicModule> modules;
    std::error_code ec;
    if (folder.empty() || !fs::is_directory(folder, ec)) {
        return modules;
    }
    for (const auto& library : fs::directory_iterator(folder, ec)) {
        if (!library.is_directory(ec) || !fs::exists(library.path() / "script.xlb", ec)) {
            continue;
        }
        for (const auto& file : fs::directory_iterator(library.path(), ec)) {
            if (file.path().extension() != ".xba") {
                continue;
            }
            try {
                if (auto source = BasicModuleSource(ReadFileBytes(file.path().string()))) {
                    modules.push_back({library.path().filename().string(),
                                       file.path().stem().string(), std::move(*source)});
                }
            } catch (const std::exception&) {
                // Unreadable: left out.
            }
        }
    }
    return modules;
}

} // namespace qf::wordproc
