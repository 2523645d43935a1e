// The help book: a Qt Help file (Quillfence.qch in the folder "help" of the
// installation) shown in a window with its contents, index and search.
#pragma once

#include <QMainWindow>
#include <QUrl>
#include <memory>
#include <string>

class QHelpEngine;
class QTabWidget;
class QTextBrowser;

namespace qf::desktop {

// The help book of the installation.
std::string HelpBookPath();

class HelpWindow : public QMainWindow {
    Q_OBJECT
public:
    enum class Tab { Contents = 0, Index = 1, Search = 2 };

    // Opens `book`; Error when it is missing or not a help book.
    // `collectionFolder` holds the engine's own files (empty: the user's
    // cache folder).
    explicit HelpWindow(const std::string& book, const std::string& collectionFolder = {},
                        QWidget* parent = nullptr);
    ~HelpWindow() override;

    void ShowTab(Tab tab);
    // Shows the page of a help context number; false when none has it.
    bool ShowContext(int context);
    void ShowPage(const QUrl& url);
    QUrl CurrentPage() const;
    // Handles events until the contents tree is read; false on timeout.
    bool WaitForContents(int milliseconds);
    QTabWidget* Tabs() const { return tabs_; }
    QTextBrowser* Browser() const { return browser_; }
    QHelpEngine& Engine() const { return *engine_; }

private:
    std::unique_ptr<QHelpEngine> engine_;
    QTabWidget* tabs_ = nullptr;
    QTextBrowser* browser_ = nullptr;
};

// The Help menu's commands and F1, over one help window for the program.
// A missing help book is reported through ShowInfo as "Error displaying
// HTML Help:" and the reason.
void ShowHelpContents();
void ShowHelpIndex();
void ShowHelpContext(int context);
// The help window, once one of the above has opened it (tests).
HelpWindow* OpenHelpWindow();
void CloseHelpWindow();
// Another help book for the commands above (tests); empty: the installation's.
void SetHelpBookForTesting(const std::string& book, const std::string& collectionFolder);

// Makes F1 open the page of the help context of the focused control or its
// window (the "helpContext" property); windows without one show the contents.
void InstallHelpKey(QObject& app);

} // namespace qf::desktop
