#include "i18n/loadstrings.h"

#include "common/fileio.h"
#include "common/installation.h"
#include "i18n/escape.h"

#include <filesystem>
#include <system_error>

namespace qf {
namespace {

std::unique_ptr<StringLoader>& Installed() {
    static std::unique_ptr<StringLoader> loader;
    return loader;
}

} // namespace

StringLoader::StringLoader(std::string fileName) : fileName_(std::move(fileName)) {
    if (fileName_.empty()) {
        return;
    }
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path path(fileName_);
    if (path.has_parent_path()) {
        fs::create_directories(path.parent_path(), ec);
    }
    const auto status = fs::status(path, ec);
    if (status.type() == fs::file_type::not_found) {
        passThrough_ = false;
        return;
    }
    try {
        document_ = LangDocument::Parse(ReadFileBytes(fileName_));
        passThrough_ = false;
    } catch (const std::exception& e) {
        // Unreadable: every text stays as built in.
        readError_ = e.what();
    }
}

std::optional<std::string> StringLoader::Translation(std::string_view section,
                                                     std::string_view key) const {
    if (passThrough_) {
        return std::nullopt;
    }
    auto value = document_.FindValue(section, key);
    if (!value) {
        return std::nullopt;
    }
    return UnescapeText(*value);
}

void StringLoader::WriteEntry(std::string_view section, std::string_view key,
                              std::string_view text) {
    if (!Recording()) {
        return;
    }
    try {
        LangDocument updated = document_;
        updated.SetValue(section, key, EscapeText(text));
        if (!fileName_.empty()) {
            WriteFileAtomic(fileName_, updated.Serialize(), 0666, FollowLinks::Yes);
        }
        document_ = std::move(updated);
    } catch (const std::exception&) {
        recordingFailed_ = true;
    }
}

StringLoader& GetStringLoader() {
    auto& loader = Installed();
    if (!loader) {
        loader = std::make_unique<StringLoader>();
    }
    return *loader;
}

void SetStringLoader(std::unique_ptr<StringLoader> loader) {
    Installed() = std::move(loader);
}

std::string LanguageFilePath(std::string_view languageName, std::string_view installationFolder) {
    if (languageName.empty() ||
        languageName.find_first_of(std::string_view("/\0", 2)) != std::string_view::npos) {
        return {};
    }
    std::string path(installationFolder);
    if (!path.empty() && path.back() != '/') {
        path += '/';
    }
    return path + "Languages/" + std::string(languageName) + ".ini";
}

void InstallLanguage(std::string_view languageName, std::string_view installationFolder) {
    SetStringLoader(
        std::make_unique<StringLoader>(LanguageFilePath(languageName, installationFolder)));
}

void InstallLanguage(std::string_view languageName) {
    InstallLanguage(languageName, InstallationFolder());
}

} // namespace qf
