// The main window: a seven-page wizard bound to a WizardModel.  It only
// shows what the model holds and hands every user action to it; the
// controls carry the component names the language files key their texts by.
#pragma once

#include "app/desktop/wizard/wizard_model.h"

#include <QMainWindow>
#include <functional>

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSpinBox;
class QTabWidget;

namespace qf::desktop {

class CodeEditor;

// Web pages and documents the menus open; the program may change them.
struct WebAddresses {
    std::string productPage = "https://quillfence.example/";
    std::string makerPage = "https://brindlemox.example/";
    std::string supportPage = "https://quillfence.example/support/";
    std::string updateListPage = "https://quillfence.example/updates/subscribe/";
};

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int kMinWidth = 600;
    static constexpr int kMinHeight = 497;
    static constexpr int kInitialWidth = 636;
    static constexpr int kInitialHeight = 495;

    MainWindow(WizardModel& model, Dialogs& dialogs, QWidget* parent = nullptr);
    ~MainWindow() override;

    WebAddresses web;
    // Menu actions that later parts of the program provide; their items are
    // disabled while these are empty.
    std::function<void()> showHelpContents;
    std::function<void()> showHelpIndex;
    std::function<void()> showTipOfTheDay;
    std::function<void()> changeLanguage;
    std::function<void()> checkForUpdates;

    // Places the window (stored placement, else centred) and shows it.
    void ShowPlaced();
    // Enables the menu items whose hooks were set.
    void UpdateHookedItems();
    QTabWidget* Pages() const { return pages_; }
    QMenu* RecentMenu() const { return recentMenu_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* BuildLoginPage();
    QWidget* BuildFoldersPage();
    QWidget* BuildOutputPage();
    QWidget* BuildHeaderFooterPage();
    QWidget* BuildAttachmentsPage();
    QWidget* BuildFilterPage();
    QWidget* BuildGoPage();
    QWidget* BuildBottomPanel();
    QWidget* FolderEdit(QLineEdit*& edit, const char* name);
    void BuildMenus();
    void BuildToolBar();
    void Bind();
    void BindTexts();
    void LoadControls();
    void RefreshState();
    void RefreshRecentMenu();
    void Edit(const std::function<void(Settings&)>& change);
    void ShellOpen(const std::string& target);
    void ForwardToFocus(const char* slot);

    WizardModel& model_;
    Dialogs& dialogs_;
    bool loading_ = false;
    bool closing_ = false;

    QTabWidget* pages_ = nullptr;
    QGroupBox* profileGroup_ = nullptr;
    QButtonGroup* profile_ = nullptr;
    QLineEdit* profileName_ = nullptr;
    QLineEdit* password_ = nullptr;
    QPushButton* testLogin_ = nullptr;
    QButtonGroup* emailsFrom_ = nullptr;
    QLineEdit* messageSource_ = nullptr;
    QPushButton* browseFromFolder_ = nullptr;
    QComboBox* sortOrder_ = nullptr;
    QCheckBox* descending_ = nullptr;
    QButtonGroup* emailsTo_ = nullptr;
    QLineEdit* messageDestination_ = nullptr;
    QPushButton* browseToFolder_ = nullptr;
    QLineEdit* tagText_ = nullptr;
    QCheckBox* readStatus_ = nullptr;
    QLineEdit* directory_ = nullptr;
    QComboBox* fileNameFormat_ = nullptr;
    QSpinBox* firstNumber_ = nullptr;
    QLabel* sampleName_ = nullptr;
    QLineEdit* manualFolder_ = nullptr;
    QComboBox* manualFormat_ = nullptr;
    CodeEditor* emailHeader_ = nullptr;
    CodeEditor* emailFooter_ = nullptr;
    QCheckBox* includeAttachments_ = nullptr;
    QLineEdit* wordMacro_ = nullptr;
    QPushButton* attachmentTypes_ = nullptr;
    CodeEditor* startTag_ = nullptr;
    CodeEditor* endTag_ = nullptr;
    std::vector<QWidget*> attachmentControls_;
    QLineEdit* filterFilename_ = nullptr;
    QLabel* siftloomInstalled_ = nullptr;
    QPushButton* prevButton_ = nullptr;
    QPushButton* nextButton_ = nullptr;
    QPushButton* finishButton_ = nullptr;
    QMenu* recentMenu_ = nullptr;
    std::vector<QAction*> openActions_;
    std::vector<std::pair<QAction*, std::function<void()>*>> hookedActions_;
};

} // namespace qf::desktop
