// The open windows in the user's language: each window is walked when it is
// first shown and again, at once, whenever the language changes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

class QCoreApplication;
class QWidget;

namespace qf::desktop {

// Walks `window` now and keeps it for the language changes until it is
// destroyed.  After each later walk the window gets a QEvent::LanguageChange
// so it can renew the texts it sets itself (captions, status lines).
void TranslateAndWatch(QWidget& window);

// The windows kept, in the order they were first walked.
std::vector<QWidget*> WatchedWindows();

// Makes `languageName` the current language (its file in the installation
// folder) and walks every kept window again.
void ChangeLanguage(std::string_view languageName, std::string_view installationFolder);

// Walks and keeps every window with a name when it is shown for the first
// time, so no window is missed, whoever creates it.
void InstallWindowWalker(QCoreApplication& app);

} // namespace qf::desktop
