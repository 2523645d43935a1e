#include "settings/settings.h"

#include "common/error.h"
#include "common/installation.h"
#include "common/text.h"
#include "i18n/translate.h"
#include "settings/maker_site.h"
#include "settings/number_format.h"

#include <algorithm>
#include <filesystem>
#include <limits>

namespace qf {

const char* const Settings::kDefaultExtensionsText =
    ".doc\r\n.html\r\n.htm\r\n.dot\r\n.rtf\r\n.txt\r\n.asc\r\n.ans\r\n.wri\r\n.mcw\r\n"
    ".wpd\r\n.wps\r\n.zip\r\n.pdf\r\n.exe\r\n.tif\r\n.gif\r\n.bmp\r\n.vcf\r\n";
const char* const Settings::kDefaultActionsText =
    "1\r\n1\r\n1\r\n1\r\n1\r\n6\r\n6\r\n6\r\n1\r\n1\r\n1\r\n1\r\n2\r\n4\r\n3\r\n3\r\n3\r\n3\r\n3\r"
    "\n";

std::string JoinLines(const std::vector<std::string>& lines) {
    std::string out;
    for (const auto& l : lines) {
        out += l;
        out += "\r\n";
    }
    return out;
}

std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> out;
    size_t start = 0;
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] == '\r' || text[i] == '\n') {
            out.emplace_back(text.substr(start, i - start));
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
            start = ++i;
        } else {
            ++i;
        }
    }
    if (start < text.size()) {
        out.emplace_back(text.substr(start));
    }
    return out;
}

Settings Settings::FirstStartDefaults() {
    registry::MemoryRegistry empty;
    Settings s;
    s.LoadFromRegistry(empty);
    return s;
}

void Settings::RestoreDefaultExtensions() {
    extensions = SplitLines(kDefaultExtensionsText);
    extensionActions = SplitLines(kDefaultActionsText);
}

namespace {

// A decimal integer with an optional sign, as the conversion of the
// framework reads it; anything else is the conversion error.
int ParseActionCode(const std::string& text) {
    auto fail = [&]() -> int { throw Error("'" + text + "' is not a valid integer value"); };
    std::string_view s = text;
    while (!s.empty() && s.front() == ' ') {
        s.remove_prefix(1);
    }
    bool negative = false;
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    if (s.empty()) {
        return fail();
    }
    long long v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') {
            return fail();
        }
        v = v * 10 + (c - '0');
        if (v > static_cast<long long>(std::numeric_limits<int>::max()) + 1) {
            return fail();
        }
    }
    v = negative ? -v : v;
    if (v > std::numeric_limits<int>::max()) {
        return fail();
    }
    return static_cast<int>(v);
}

bool FileExists(const std::string& path) {
    std::error_code ec;
    auto st = std::filesystem::status(path, ec);
    return !ec && std::filesystem::exists(st) && !std::filesystem::is_directory(st);
}

bool FolderExists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_directory(path, ec);
}

} // namespace

int Settings::ActionForExtension(std::string_view extension) const {
    for (size_t i = 0; i < extensions.size(); ++i) {
        if (EqualsNoCase(extensions[i], extension)) {
            // A list that arrived shorter than the other has no action here:
            // treat it like an action that is not a number.
            return ParseActionCode(i < extensionActions.size() ? extensionActions[i]
                                                               : std::string());
        }
    }
    return 3;
}

bool Settings::Validate(const ValidationHooks& hooks) const {
    if (directory.empty()) {
        throw Error(TranslateMsg(8000, "The folder to save resumes to is blank"));
    }
    if (!FolderExists(directory)) {
        throw Error(TranslateMsg(8004, "The folder to save resumes to does not exist"));
    }
    if (fileNameFormat.empty()) {
        throw Error(TranslateMsg(8002, "The filename format is blank"));
    }
    if (manualFolder.empty()) {
        throw Error(TranslateMsg(8001, "The manual folder is blank"));
    }
    if (!FolderExists(manualFolder)) {
        throw Error(TranslateMsg(8005, "The manual folder does not exist"));
    }
    if (manualFormat.empty()) {
        throw Error(TranslateMsg(8003, "The manual filename format is blank"));
    }
    if (emailsFrom == kFromFolder && messageSource.empty()) {
        throw Error(TranslateMsg(8010, "The folder to get emails from is blank"));
    }
    if (emailsTo == kMoveEmails && messageDestination.empty()) {
        throw Error(TranslateMsg(8020, "The folder to move processed emails to is blank"));
    }
    if (emailsTo == kTagSubject && tagText.empty()) {
        throw Error(TranslateMsg(8030, "The tag text is blank"));
    }
    if (!filterFilename.empty() && !FileExists(filterFilename)) {
        throw Error(
            TranslateFmt(8031, "The Siftloom Pro filter file %s does not exist", {filterFilename}));
    }

    auto ask = [&](const std::string& question) {
        if (!hooks.askYesNo) {
            throw Error("No one to answer: " + question);
        }
        return hooks.askYesNo(question);
    };

    bool result = true;
    if (!filterFilename.empty() && FilterToolFolder().empty()) {
        if (ask(TranslateMsg(8032, "A Siftloom Pro filter file was specified, but Siftloom Pro is "
                                   "not installed\r\nDownload it now?"))) {
            if (hooks.shellOpen) {
                hooks.shellOpen(hooks.filterToolDownloadPage.empty()
                                    ? FilterToolDownloadPage(registry::Current())
                                    : hooks.filterToolDownloadPage);
            }
        } else {
            result = false;
        }
    }
    // A run continues after the number an earlier run recorded in the folder.
    std::int32_t start = firstNumber;
    if (hooks.recordedNextNumber) {
        if (const auto recorded = hooks.recordedNextNumber(NormalizeFolder(directory));
            recorded && *recorded > start) {
            start = *recorded;
        }
    }
    const std::string firstFile =
        NormalizeFolder(directory) + FormatFileNumber(fileNameFormat, start);
    if (FileExists(firstFile)) {
        if (!ask(TranslateFmt(8040, "The output file %s already exists. Continue?", {firstFile}))) {
            result = false;
        }
    }
    return result;
}

std::string Settings::FilterToolFolder() {
    return FilterToolFolder(registry::Current());
}

std::string Settings::FilterToolFolder(registry::Registry& reg) {
    registry::RegistryKey key(reg);
    if (!key.OpenKey(kFilterToolKey, false)) {
        return {};
    }
    std::string root;
    try {
        root = key.ReadString("rootDir");
    } catch (const Error&) {
        return {};
    }
    if (!root.empty() && root.back() != '/') {
        root += '/';
    }
    return root;
}

std::string Settings::StripQuotes(std::string_view path) {
    if (path.starts_with('"')) {
        path.remove_prefix(1);
    }
    if (path.ends_with('"')) {
        path.remove_suffix(1);
    }
    return std::string(path);
}

std::string Settings::NormalizeFolder(std::string_view path) {
    std::string s = StripQuotes(path);
    if (s.empty() || s.back() != '/') {
        s += '/';
    }
    return s;
}

} // namespace qf
