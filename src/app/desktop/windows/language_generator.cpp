#include "app/desktop/windows/language_generator.h"

#include "app/desktop/i18n/qt_walk.h"
#include "app/desktop/windows/window_catalogue.h"
#include "common/fileio.h"
#include "i18n/lang_check.h"
#include "i18n/loadstrings.h"

#include <QWidget>
#include <algorithm>
#include <filesystem>
#include <unistd.h>

namespace qf::desktop {

namespace fs = std::filesystem;

std::vector<NumberedText> ScanSourceTree(const std::string& folder) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const std::string ext = entry.path().extension().string();
        if (entry.is_regular_file() && (ext == ".cpp" || ext == ".h")) {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end()); // the same result on every machine
    std::vector<NumberedText> texts;
    for (const fs::path& file : files) {
        MergeNumberedTexts(texts, ScanNumberedTexts(ReadFileBytes(file.string())));
    }
    return texts;
}

std::vector<std::string> GenerateEnglishFile(const std::string& path,
                                             const std::string& sourceFolder) {
    std::error_code ec;
    fs::remove(path, ec);
    SetStringLoader(std::make_unique<StringLoader>(path));
    WalkReport report;
    ForEachWindow([&report](QWidget& window) { TranslateWindow(window, &report); });
    StringLoader& loader = GetStringLoader();
    for (const NumberedText& text : ScanSourceTree(sourceFolder)) {
        loader.WriteEntry(kGlobalSection, std::to_string(text.number), text.english);
    }
    if (!loader.Recording()) {
        report.unnamed.push_back("cannot write " + path);
    }
    SetStringLoader(nullptr);
    return report.unnamed;
}

std::vector<std::string> CheckLanguageFiles(const std::string& languagesFolder,
                                            const std::string& sourceFolder) {
    const fs::path scratch =
        fs::temp_directory_path() / ("qf-langcheck-" + std::to_string(::getpid()));
    fs::create_directories(scratch);
    const std::string fresh = (scratch / "English.ini").string();
    std::vector<std::string> problems = GenerateEnglishFile(fresh, sourceFolder);
    const std::string generated = ReadFileBytes(fresh);
    fs::remove_all(scratch);

    const fs::path folder(languagesFolder);
    std::string installed;
    try {
        installed = ReadFileBytes((folder / "English.ini").string());
    } catch (const std::exception&) {
    }
    if (installed != generated) {
        problems.push_back("English.ini is not what the program records: regenerate it "
                           "(cmake --build build --target english_ini)");
    }
    const LangDocument english = LangDocument::Parse(generated);
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (entry.path().extension() != ".ini" || name == "English.ini") {
            continue;
        }
        const LangDocument other = LangDocument::Parse(ReadFileBytes(entry.path().string()));
        for (const std::string& p : CheckTranslation(english, other)) {
            problems.push_back(name + " " + p);
        }
    }
    return problems;
}

} // namespace qf::desktop
