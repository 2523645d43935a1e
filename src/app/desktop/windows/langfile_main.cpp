// quillfence-langfile: writes Languages/English.ini by walking every window
// and collecting every numbered text, or checks the language files.
//
//   quillfence-langfile --source <src folder> --out <English.ini>
//   quillfence-langfile --source <src folder> --check <Languages folder>
#include "app/desktop/windows/language_generator.h"
#include "platform/registry/registry.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication app(argc, argv);
    qf::registry::SetCurrent(std::make_shared<qf::registry::MemoryRegistry>());
    std::string source, out, check;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        (option == "--source" ? source : option == "--out" ? out : check) = argv[i + 1];
    }
    if (source.empty() || (out.empty() == check.empty())) {
        std::fprintf(stderr, "usage: quillfence-langfile --source <src> (--out <English.ini> | "
                             "--check <Languages>)\n");
        return 2;
    }
    const std::vector<std::string> problems = out.empty()
                                                  ? qf::desktop::CheckLanguageFiles(check, source)
                                                  : qf::desktop::GenerateEnglishFile(out, source);
    for (const std::string& p : problems) {
        std::fprintf(stderr, "quillfence-langfile: %s\n", p.c_str());
    }
    return problems.empty() ? 0 : 1;
}
