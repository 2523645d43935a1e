// The window walk: every text a window shows is looked up in the current
// language file by the window's section and the component's object name
// (docs/languages.md has the table of Qt properties).
//
// The walk keeps each text as the program built it (a dynamic property on
// the object), so walking again after a language change always starts from
// the built-in English: a key the new file lacks shows English again.
#pragma once

#include <string>
#include <vector>

class QObject;
class QWidget;

namespace qf::desktop {

// The object's own texts are its data or are set by its window (a caption
// built from the file name, a status line, the lines of a list of profile
// names): the walk leaves them alone but still walks its children.
void KeepText(QObject& object);

// The object and everything in it belong to a library that translates its
// own texts: the walk does not enter it.
void SkipWalk(QObject& object);

// What a walk found that no language file can reach: texts of objects that
// have no object name ("Window/parent/QLabel: text").
struct WalkReport {
    std::vector<std::string> unnamed;
};

// The language-file section of a window: its "languageSection" property
// when set, else "T" followed by its object name (Form1 -> TForm1).  Empty
// for a window without a name, which is then not walked.
std::string WindowSection(const QWidget& window);

// Gives `window` the desktop's dialog font and translates its texts from the
// current language file.  In English the texts the file lacks are recorded
// into it; grid headings are recorded into any file that lacks them.  A
// malformed entry ends the walk there and is shown as an error (the texts
// translated before it stay).  Windows without a section are left alone.
void TranslateWindow(QWidget& window, WalkReport* report = nullptr);

} // namespace qf::desktop
