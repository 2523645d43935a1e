#include "app/desktop/wizard/main_window.h"

#include "app/desktop/i18n/qt_walk.h"
#include "app/desktop/placement/qt_placement.h"
#include "app/desktop/wizard/about_box.h"
#include "app/desktop/wizard/code_editor.h"
#include "app/desktop/wizard/main_window_widgets.h"
#include "app/desktop/wizard/qt_dialogs.h"
#include "common/installation.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QStyle>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace qf::desktop {

using namespace wizard_ui;

MainWindow::MainWindow(WizardModel& model, Dialogs& dialogs, QWidget* parent)
    : QMainWindow(parent), model_(model), dialogs_(dialogs) {
    setObjectName("Form1");
    KeepText(*this); // the caption names the options file
    setMinimumSize(kMinWidth, kMinHeight);
    resize(kInitialWidth, kInitialHeight);

    pages_ = new QTabWidget(this);
    pages_->setObjectName("PageControl");
    pages_->addTab(BuildLoginPage(), "&1 Login");
    pages_->addTab(BuildFoldersPage(), "&2 Email Folders");
    pages_->addTab(BuildOutputPage(), "&3 Output Files");
    pages_->addTab(BuildHeaderFooterPage(), "&4 Email Header/Footer");
    pages_->addTab(BuildAttachmentsPage(), "&5 Attachments");
    pages_->addTab(BuildFilterPage(), "&6 Filter");
    pages_->addTab(BuildGoPage(), "&7 Go!");

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(4, 4, 4, 0);
    layout->addWidget(pages_, 1);
    layout->addWidget(BuildBottomPanel());
    setCentralWidget(central);
    statusBar()->setObjectName("StatusBar1");
    // Stand-ins for the file dialogs, so their titles and filters are
    // translated with the window (QtDialogs reads them).
    const std::pair<const char*, std::pair<const char*, const char*>> fileDialogs[] = {
        {kOpenDialog, {kOpenTitle, kOptionsFilter}},
        {kSaveDialog, {kSaveTitle, kOptionsFilter}},
        {kFolderDialog, {kFolderTitle, nullptr}},
        {kFilterDialog, {kFilterTitle, kFilterFilter}}};
    for (const auto& [name, texts] : fileDialogs) {
        auto* dialog = new QObject(this);
        dialog->setObjectName(name);
        dialog->setProperty("Title", QString(texts.first));
        if (texts.second != nullptr) {
            dialog->setProperty("Filter", QString(texts.second));
        }
    }
    BuildToolBar();
    BuildMenus();
    Bind();
    LoadControls();
    RefreshState();
}

MainWindow::~MainWindow() {
    model_.onFormShown = nullptr;
    model_.onStateChanged = nullptr;
    model_.onCloseAllowed = nullptr;
}

// ---------------------------------------------------------------- menus

void MainWindow::BuildToolBar() {
    QToolBar* bar = addToolBar("Tools");
    bar->setObjectName("ToolBar1");
    bar->setMovable(false);
    QStyle* s = style();
    QAction* open = bar->addAction(s->standardIcon(QStyle::SP_DialogOpenButton), "Open");
    open->setObjectName("ToolButton1");
    Hint(bar->widgetForAction(open), "Open a settings file");
    open->setStatusTip("Open a settings file");
    connect(open, &QAction::triggered, this, [this] { model_.OpenCommand(); });
    openActions_.push_back(open);
    QAction* save = bar->addAction(s->standardIcon(QStyle::SP_DialogSaveButton), "Save");
    save->setObjectName("ToolButton2");
    save->setStatusTip("Save the current settings");
    connect(save, &QAction::triggered, this, [this] { model_.SaveCommand(); });
    bar->addSeparator();
    QAction* help = bar->addAction(s->standardIcon(QStyle::SP_DialogHelpButton), "Help");
    help->setObjectName("ToolButton3");
    help->setStatusTip("Help");
    connect(help, &QAction::triggered, this, [this] {
        if (showHelpContents) {
            showHelpContents();
        }
    });
    hookedActions_.push_back({help, &showHelpContents});
}

void MainWindow::BuildMenus() {
    QMenu* file = menuBar()->addMenu("&File");
    QAction* open =
        file->addAction("&Open...", QKeySequence("Ctrl+O"), this, [this] { model_.OpenCommand(); });
    openActions_.push_back(open);
    file->addAction("&Save", QKeySequence("Ctrl+S"), this, [this] { model_.SaveCommand(); });
    file->addAction("Save as...", this, [this] { model_.SaveAsCommand(); });
    recentMenu_ = file->addMenu("&Recent files");
    recentMenu_->setObjectName("recentFiles");
    file->addSeparator();
    file->addAction("E&xit", QKeySequence("Alt+F4"), this, &QWidget::close);

    QMenu* edit = menuBar()->addMenu("&Edit");
    edit->addAction("Cu&t", QKeySequence("Ctrl+X"), this, [this] { ForwardToFocus("cut"); });
    edit->addAction("&Copy", QKeySequence("Ctrl+C"), this, [this] { ForwardToFocus("copy"); });
    edit->addAction("&Paste", QKeySequence("Ctrl+V"), this, [this] { ForwardToFocus("paste"); });
    for (QAction* a : edit->actions()) {
        a->setShortcutContext(Qt::WidgetShortcut); // the focused control handles its own keys
    }

    QMenu* options = menuBar()->addMenu("&Options");
    options->addAction("Browse Text Files folder", this,
                       [this] { ShellOpen(model_.Form().directory); });
    options->addAction("Browse Manual folder", this,
                       [this] { ShellOpen(model_.Form().manualFolder); });
    QAction* language = options->addAction("&Change language...", this, [this] {
        if (changeLanguage) {
            changeLanguage();
        }
    });
    hookedActions_.push_back({language, &changeLanguage});

    QMenu* help = menuBar()->addMenu("&Help");
    auto hooked = [&](const char* text, std::function<void()>* hook, QKeySequence key = {}) {
        QAction* a = help->addAction(text, key, this, [hook] {
            if (*hook) {
                (*hook)();
            }
        });
        hookedActions_.push_back({a, hook});
    };
    hooked("&Contents", &showHelpContents, QKeySequence("F1"));
    hooked("&Index", &showHelpIndex);
    hooked("Show Tip of the Day", &showTipOfTheDay);
    help->addSeparator();
    help->addAction("Quillfence home page", this, [this] { ShellOpen(web.productPage); });
    help->addAction("Brindlemox home page", this, [this] { ShellOpen(web.makerPage); });
    hooked("Check web for Quillfence updates", &checkForUpdates);
    help->addAction("Subscribe to Quillfence update list", this,
                    [this] { ShellOpen(web.updateListPage); });
    help->addAction("Technical support", this, [this] { ShellOpen(web.supportPage); });
    help->addSeparator();
    help->addAction("&About...", this, [this] { ShowAboutBox(this); });
    NameMenuItems(menuBar());
    UpdateHookedItems();
}

void MainWindow::UpdateHookedItems() {
    for (auto [action, hook] : hookedActions_) {
        action->setEnabled(static_cast<bool>(*hook));
    }
}

void MainWindow::ForwardToFocus(const char* slot) {
    if (QWidget* focus = QApplication::focusWidget()) {
        if (auto* combo = qobject_cast<QComboBox*>(focus); combo && combo->lineEdit()) {
            focus = combo->lineEdit();
        }
        QMetaObject::invokeMethod(focus, slot);
    }
}

void MainWindow::ShellOpen(const std::string& target) {
    try {
        dialogs_.ShellOpen(target);
    } catch (const std::exception& e) {
        dialogs_.ShowError(e.what());
    }
}

// ---------------------------------------------------------------- binding

void MainWindow::Edit(const std::function<void(Settings&)>& change) {
    if (!loading_) {
        model_.Edit(change);
    }
}

void MainWindow::Bind() {
    model_.onFormShown = [this] { LoadControls(); };
    model_.onStateChanged = [this] { RefreshState(); };
    model_.onCloseAllowed = [this] { close(); };
    connect(pages_, &QTabWidget::currentChanged, this, [this](int page) {
        if (!loading_ && page != model_.CurrentPage()) {
            model_.SetPage(page);
        }
    });
    connect(profile_, &QButtonGroup::idClicked, this,
            [this](int id) { Edit([id](Settings& s) { s.profile = id; }); });
    connect(testLogin_, &QPushButton::clicked, this, [this] { model_.TestLogin(); });
    connect(emailsFrom_, &QButtonGroup::idClicked, this,
            [this](int id) { Edit([id](Settings& s) { s.emailsFrom = id; }); });
    connect(emailsTo_, &QButtonGroup::idClicked, this,
            [this](int id) { Edit([id](Settings& s) { s.emailsTo = id; }); });
    connect(browseFromFolder_, &QPushButton::clicked, this,
            [this] { model_.BrowseFolder(FolderRole::Source); });
    connect(browseToFolder_, &QPushButton::clicked, this,
            [this] { model_.BrowseFolder(FolderRole::Destination); });
    connect(sortOrder_, &QComboBox::currentIndexChanged, this,
            [this](int i) { Edit([i](Settings& s) { s.sortOrder = i; }); });
    connect(firstNumber_, &QSpinBox::valueChanged, this,
            [this](int n) { Edit([n](Settings& s) { s.firstNumber = n; }); });
    connect(attachmentTypes_, &QPushButton::clicked, this,
            [this] { model_.EditAttachmentTypes(); });
    auto checkBox = [this](QCheckBox* box, bool Settings::*field) {
        connect(box, &QCheckBox::toggled, this,
                [this, field](bool on) { Edit([&](Settings& s) { s.*field = on; }); });
    };
    checkBox(descending_, &Settings::descending);
    checkBox(readStatus_, &Settings::readStatus);
    checkBox(includeAttachments_, &Settings::includeAttachments);
    BindTexts();
}

void MainWindow::BindTexts() {
    auto line = [this](QLineEdit* edit, std::string Settings::*field) {
        connect(edit, &QLineEdit::textChanged, this, [this, field](const QString& text) {
            Edit([&](Settings& s) { s.*field = text.toStdString(); });
        });
    };
    line(profileName_, &Settings::profileName);
    line(password_, &Settings::password);
    line(tagText_, &Settings::tagText);
    line(directory_, &Settings::directory);
    line(manualFolder_, &Settings::manualFolder);
    line(wordMacro_, &Settings::wordMacro);
    connect(filterFilename_, &QLineEdit::textChanged, this, [this](const QString& text) {
        Edit([&](Settings& s) { s.filterFilename = Settings::StripQuotes(text.toStdString()); });
    });
    auto combo = [this](QComboBox* box, std::string Settings::*field) {
        connect(box, &QComboBox::currentTextChanged, this, [this, field](const QString& text) {
            Edit([&](Settings& s) { s.*field = text.toStdString(); });
        });
    };
    combo(fileNameFormat_, &Settings::fileNameFormat);
    combo(manualFormat_, &Settings::manualFormat);
    auto editor = [this](CodeEditor* e, std::string Settings::*field) {
        connect(e, &QPlainTextEdit::textChanged, this, [this, e, field] {
            const std::string text = EditorTextToField(e->toPlainText().toStdString());
            Edit([&](Settings& s) { s.*field = text; });
        });
    };
    editor(emailHeader_, &Settings::emailHeader);
    editor(emailFooter_, &Settings::emailFooter);
    editor(startTag_, &Settings::startTag);
    editor(endTag_, &Settings::endTag);
}

void MainWindow::LoadControls() {
    const Settings& f = model_.Form();
    loading_ = true;
    auto setText = [](QLineEdit* e, const std::string& text) {
        if (e->text() != Q(text)) {
            e->setText(Q(text));
        }
    };
    auto setEditor = [](CodeEditor* e, const std::string& field) {
        const QString text = Q(FieldToEditorText(field));
        if (EditorTextToField(e->toPlainText().toStdString()) != field) {
            e->setPlainText(text);
        }
    };
    setText(filterFilename_, f.filterFilename);
    setText(directory_, f.directory);
    firstNumber_->setValue(f.firstNumber);
    fileNameFormat_->setCurrentText(Q(f.fileNameFormat));
    setEditor(startTag_, f.startTag);
    setEditor(endTag_, f.endTag);
    includeAttachments_->setChecked(f.includeAttachments);
    SetChecked(emailsFrom_, f.emailsFrom);
    setText(messageSource_, f.messageSource);
    SetChecked(emailsTo_, f.emailsTo);
    setText(messageDestination_, f.messageDestination);
    setEditor(emailHeader_, f.emailHeader);
    setEditor(emailFooter_, f.emailFooter);
    sortOrder_->setCurrentIndex(f.sortOrder);
    descending_->setChecked(f.descending);
    readStatus_->setChecked(f.readStatus);
    setText(wordMacro_, f.wordMacro);
    setText(tagText_, f.tagText);
    SetChecked(profile_, f.profile);
    setText(profileName_, f.profileName);
    setText(password_, f.password);
    setText(manualFolder_, f.manualFolder);
    manualFormat_->setCurrentText(Q(f.manualFormat));
    loading_ = false;
}

void MainWindow::RefreshState() {
    const ControlStates c = model_.Controls();
    setWindowTitle(Q(model_.Caption()));
    profileGroup_->setEnabled(c.profileGroup);
    profileName_->setEnabled(c.profileName);
    password_->setEnabled(c.password);
    testLogin_->setEnabled(c.testLogin);
    messageSource_->setEnabled(c.messageSource);
    browseFromFolder_->setEnabled(c.browseFromFolder);
    messageDestination_->setEnabled(c.messageDestination);
    browseToFolder_->setEnabled(c.browseToFolder);
    tagText_->setEnabled(c.tagText);
    for (QWidget* w : attachmentControls_) {
        w->setEnabled(c.attachmentControls);
    }
    prevButton_->setEnabled(c.prevButton);
    nextButton_->setEnabled(c.nextButton);
    finishButton_->setEnabled(c.goButton);
    for (QAction* a : openActions_) {
        a->setEnabled(c.openCommands);
    }
    const SampleName sample = model_.Sample();
    sampleName_->setText(Q(sample.text));
    sampleName_->setStyleSheet(sample.error ? "color: red" : "");
    siftloomInstalled_->setText(Q(model_.FilterToolText()));
    QFont font = siftloomInstalled_->font();
    font.setBold(!model_.FilterToolInstalled());
    siftloomInstalled_->setFont(font);
    if (pages_->currentIndex() != model_.CurrentPage()) {
        loading_ = true;
        pages_->setCurrentIndex(model_.CurrentPage());
        loading_ = false;
    }
    RefreshRecentMenu();
}

void MainWindow::RefreshRecentMenu() {
    recentMenu_->clear();
    for (const std::string& path : model_.Recent().Paths()) {
        QAction* item =
            recentMenu_->addAction(Q(path), this, [this, path] { model_.OpenRecent(path); });
        KeepText(*item);
    }
    recentMenu_->setEnabled(!model_.Recent().Paths().empty() && model_.Controls().openCommands);
}

// ---------------------------------------------------------------- window

void MainWindow::ShowPlaced() {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    RestorePlacement(*this, PlacementKey::MainWindow());
    show();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!model_.QueryClose()) {
        event->ignore(); // kept open, or closed once the run has returned
        return;
    }
    model_.Close();
    SavePlacement(*this, PlacementKey::MainWindow());
    model_.WriteWindowValues();
    event->accept();
}

void MainWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange) {
        RefreshState(); // the sample file name and the filter tool line
    }
    QMainWindow::changeEvent(event);
}

bool MainWindow::event(QEvent* event) {
    // An empty hint leaves the status bar as it is.
    if (event->type() == QEvent::StatusTip &&
        static_cast<QStatusTipEvent*>(event)->tip().isEmpty()) {
        return true;
    }
    return QMainWindow::event(event);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress) {
        if (watched == messageSource_ && messageSource_->isEnabled()) {
            model_.BrowseFolder(FolderRole::Source);
        } else if (watched == messageDestination_ && messageDestination_->isEnabled()) {
            model_.BrowseFolder(FolderRole::Destination);
        }
    } else if (event->type() == QEvent::MouseButtonDblClick) {
        if (watched == directory_ || watched == manualFolder_ || watched == filterFilename_) {
            ShellOpen(static_cast<QLineEdit*>(watched)->text().toStdString());
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

} // namespace qf::desktop
