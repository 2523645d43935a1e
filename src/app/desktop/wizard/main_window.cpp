#include "app/desktop/wizard/main_window.h"

#include "app/desktop/i18n/qt_walk.h"
#include "app/desktop/placement/qt_placement.h"
#include "app/desktop/wizard/about_box.h"
#include "app/desktop/wizard/code_editor.h"
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

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// The long hint shows in the status bar, the short one as a tool tip.
void Hint(QWidget* w, const QString& hint) {
    w->setToolTip(hint);
    w->setStatusTip(hint);
}

QButtonGroup* RadioGroup(QGroupBox* box, const QStringList& captions, const char* name) {
    auto* group = new QButtonGroup(box);
    auto* layout = new QVBoxLayout(box);
    for (int i = 0; i < captions.size(); ++i) {
        auto* radio = new QRadioButton(captions[i], box);
        radio->setObjectName(QString("%1_%2").arg(name).arg(i));
        group->addButton(radio, i);
        layout->addWidget(radio);
    }
    return group;
}

QLabel* Label(const QString& text, QWidget* buddy) {
    auto* label = new QLabel(text);
    label->setBuddy(buddy);
    label->setObjectName(buddy->objectName() + "Label");
    return label;
}

// Menu items without a name get one from their caption's letters and digits
// followed by "1" ("&Open..." becomes Open1), the names language files use.
void NameMenuItems(QWidget* menu) {
    for (QAction* action : menu->actions()) {
        if (action->isSeparator()) {
            continue;
        }
        QObject* item = action->menu() ? static_cast<QObject*>(action->menu()) : action;
        if (item->objectName().isEmpty()) {
            QString name;
            for (QChar c : action->text()) {
                if (c.isLetterOrNumber() && c.unicode() < 128) {
                    name += c;
                }
            }
            item->setObjectName(name + "1");
        }
        if (action->menu()) {
            NameMenuItems(action->menu());
        }
    }
}

void SetChecked(QButtonGroup* group, int id) {
    if (QAbstractButton* b = group->button(id)) {
        b->setChecked(true);
    }
}

} // namespace

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

// ---------------------------------------------------------------- pages

QWidget* MainWindow::BuildLoginPage() {
    auto* page = new QWidget;
    page->setObjectName("loginSheet");
    profileGroup_ = new QGroupBox(" Login Profile ");
    profileGroup_->setObjectName("Profile");
    profile_ = RadioGroup(profileGroup_, {"Default", "Prompt", "Username:"}, "Profile");
    profileName_ = new QLineEdit;
    profileName_->setObjectName("profileName");
    Hint(profileName_, "The name of the profile to login with");
    password_ = new QLineEdit;
    password_->setObjectName("password");
    password_->setEchoMode(QLineEdit::Password);
    Hint(password_, "The profile's password");
    auto* fields = new QFormLayout;
    fields->addRow(Label("Profile &name:", profileName_), profileName_);
    fields->addRow(Label("Pass&word:", password_), password_);
    static_cast<QVBoxLayout*>(profileGroup_->layout())->addLayout(fields);
    testLogin_ = new QPushButton("Test Login");
    testLogin_->setObjectName("testLogin");
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(profileGroup_);
    auto* row = new QHBoxLayout;
    row->addWidget(testLogin_);
    row->addStretch();
    layout->addLayout(row);
    layout->addStretch();
    return page;
}

QWidget* MainWindow::BuildFoldersPage() {
    auto* page = new QWidget;
    page->setObjectName("processedSheet");
    auto* from = new QGroupBox(" &Process emails from ");
    from->setObjectName("emailsFrom");
    emailsFrom_ = RadioGroup(from, {"Default Inbox", "Folder:"}, "emailsFrom");
    messageSource_ = new QLineEdit;
    messageSource_->setObjectName("messageSource");
    messageSource_->setReadOnly(true);
    messageSource_->installEventFilter(this);
    browseFromFolder_ = new QPushButton("...");
    browseFromFolder_->setObjectName("browseFromFolder");
    Hint(browseFromFolder_, "Browse for a mail folder");
    auto* fromRow = new QHBoxLayout;
    fromRow->addWidget(messageSource_);
    fromRow->addWidget(browseFromFolder_);
    static_cast<QVBoxLayout*>(from->layout())->addLayout(fromRow);

    auto* sorting = new QGroupBox(" Sorting ");
    sorting->setObjectName("sortGroup");
    sortOrder_ = new QComboBox;
    sortOrder_->setObjectName("sortOrder");
    sortOrder_->addItems({"Do not sort", "Date received", "Subject line",
                          "Subject (ignoring Re: and Fw:)", "From address"});
    descending_ = new QCheckBox("&Descending order");
    descending_->setObjectName("descending");
    auto* sortLayout = new QVBoxLayout(sorting);
    sortLayout->addWidget(sortOrder_);
    sortLayout->addWidget(descending_);
    sortLayout->addStretch();

    auto* to = new QGroupBox(" Processed &emails ");
    to->setObjectName("emailsTo");
    emailsTo_ = RadioGroup(to,
                           {"Do nothing - leave emails where they are",
                            "Move emails to folder:", "Tag subject line with:"},
                           "emailsTo");
    messageDestination_ = new QLineEdit;
    messageDestination_->setObjectName("messageDestination");
    messageDestination_->setReadOnly(true);
    messageDestination_->installEventFilter(this);
    browseToFolder_ = new QPushButton("...");
    browseToFolder_->setObjectName("browseToFolder");
    Hint(browseToFolder_, "Browse for a mail folder");
    tagText_ = new QLineEdit;
    tagText_->setObjectName("tagText");
    auto* toLayout = static_cast<QVBoxLayout*>(to->layout());
    auto* toRow = new QHBoxLayout;
    toRow->addWidget(messageDestination_);
    toRow->addWidget(browseToFolder_);
    toLayout->insertLayout(2, toRow);
    toLayout->addWidget(tagText_);
    readStatus_ = new QCheckBox("Set processed emails to 'Read' status");
    readStatus_->setObjectName("readStatus");

    auto* layout = new QGridLayout(page);
    layout->addWidget(from, 0, 0);
    layout->addWidget(sorting, 0, 1);
    layout->addWidget(to, 1, 0, 1, 2);
    layout->addWidget(readStatus_, 2, 0, 1, 2);
    layout->setColumnStretch(0, 3);
    layout->setColumnStretch(1, 2);
    layout->setRowStretch(3, 1);
    return page;
}

QWidget* MainWindow::FolderEdit(QLineEdit*& edit, const char* name) {
    auto* box = new QWidget;
    edit = new QLineEdit;
    edit->setObjectName(name);
    edit->installEventFilter(this);
    auto* browse = new QToolButton;
    browse->setObjectName(QString(name) + "Browse");
    browse->setText("...");
    Hint(browse, "Choose a folder");
    QLineEdit* target = edit;
    connect(browse, &QToolButton::clicked, this, [this, target] {
        if (auto folder = dialogs_.ChooseFolder(target->text().toStdString())) {
            target->setText(Q(*folder));
        }
    });
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(edit);
    row->addWidget(browse);
    return box;
}

QWidget* MainWindow::BuildOutputPage() {
    auto* page = new QWidget;
    page->setObjectName("outputSheet");
    auto* group = new QGroupBox(" Folders ");
    group->setObjectName("foldersGroup");
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    QWidget* directory = FolderEdit(directory_, "Directory");
    fileNameFormat_ = new QComboBox;
    fileNameFormat_->setObjectName("FileNameFormat");
    fileNameFormat_->setEditable(true);
    fileNameFormat_->addItems({"%5.5d.txt", "%d.txt"});
    fileNameFormat_->setFont(fixed);
    firstNumber_ = new QSpinBox;
    firstNumber_->setObjectName("firstNumber");
    firstNumber_->setRange(0, 2147483647);
    sampleName_ = new QLabel;
    sampleName_->setObjectName("sampleName");
    KeepText(*sampleName_);
    sampleName_->setFont(fixed);
    sampleName_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QWidget* manual = FolderEdit(manualFolder_, "manualFolder");
    manualFormat_ = new QComboBox;
    manualFormat_->setObjectName("manualFormat");
    manualFormat_->setEditable(true);
    manualFormat_->addItems({"%FROM_%NUMBER", "%FROM", "%SUBJECT", "%TO"});
    manualFormat_->setFont(fixed);
    Hint(manualFormat_, "The filename to use when saving manual attachments (do not provide an "
                        "extension).\n\nMacros %TO, %FROM, %SUBJECT can be embedded in the "
                        "filename. The macro %d can also be used which corresponds to the file "
                        "number used for the email.");
    auto* form = new QFormLayout(group);
    form->setRowWrapPolicy(QFormLayout::WrapLongRows);
    form->addRow(Label("Folder to sa&ve resumes to", directory_), directory);
    form->addRow(Label("&Filename format and extension", fileNameFormat_), fileNameFormat_);
    form->addRow(Label("First filename n&umber", firstNumber_), firstNumber_);
    form->addRow(QString(), sampleName_);
    form->addRow(Label("Save Manual attachments to", manualFolder_), manual);
    form->addRow(Label("&Filename format (no extension)", manualFormat_), manualFormat_);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(group);
    layout->addStretch();
    return page;
}

QWidget* MainWindow::BuildHeaderFooterPage() {
    auto* page = new QWidget;
    page->setObjectName("headerFooterSheet");
    emailHeader_ = new CodeEditor;
    emailHeader_->setObjectName("emailHeader");
    emailFooter_ = new CodeEditor;
    emailFooter_->setObjectName("emailFooter");
    auto* splitter = new QSplitter(Qt::Vertical);
    splitter->setObjectName("headerFooterSplitter");
    for (auto [editor, caption] :
         {std::pair{emailHeader_, "Email &header"}, std::pair{emailFooter_, "Email f&ooter"}}) {
        auto* pane = new QWidget;
        auto* v = new QVBoxLayout(pane);
        v->setContentsMargins(0, 0, 0, 0);
        v->addWidget(Label(caption, editor));
        v->addWidget(editor);
        splitter->addWidget(pane);
    }
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(splitter);
    return page;
}

QWidget* MainWindow::BuildAttachmentsPage() {
    auto* page = new QWidget;
    page->setObjectName("attachmentSheet");
    includeAttachments_ = new QCheckBox("&Include attachments after email body");
    includeAttachments_->setObjectName("includeAttachments");
    wordMacro_ = new QLineEdit;
    wordMacro_->setObjectName("wordMacro");
    auto* macroLabel = Label("Run custom Word macro before text extraction", wordMacro_);
    attachmentTypes_ = new QPushButton("&Attachment types...");
    attachmentTypes_->setObjectName("BitBtn3");
    startTag_ = new CodeEditor;
    startTag_->setObjectName("startTag");
    Hint(startTag_, "The lines to put at the start of the attachment. %s can be used for the "
                    "attachment filename");
    endTag_ = new CodeEditor;
    endTag_->setObjectName("endTag");
    Hint(endTag_, "The lines to put at the end of the attachment. %s can be used for the "
                  "attachment filename");
    auto* startLabel = Label("Attachment &header", startTag_);
    auto* endLabel = Label("Attachment f&ooter", endTag_);
    auto* splitter = new QSplitter(Qt::Vertical);
    splitter->setObjectName("attachmentSplitter");
    for (auto [label, editor] : {std::pair{startLabel, startTag_}, std::pair{endLabel, endTag_}}) {
        auto* pane = new QWidget;
        auto* v = new QVBoxLayout(pane);
        v->setContentsMargins(0, 0, 0, 0);
        v->addWidget(label);
        v->addWidget(editor);
        splitter->addWidget(pane);
    }
    attachmentControls_ = {startTag_,  endTag_,    startLabel,      endLabel,
                           wordMacro_, macroLabel, attachmentTypes_};
    auto* top = new QGridLayout;
    top->addWidget(includeAttachments_, 0, 0, 1, 2);
    top->addWidget(macroLabel, 1, 0);
    top->addWidget(wordMacro_, 1, 1);
    top->addWidget(attachmentTypes_, 0, 2);
    auto* layout = new QVBoxLayout(page);
    layout->addLayout(top);
    layout->addWidget(splitter, 1);
    return page;
}

QWidget* MainWindow::BuildFilterPage() {
    auto* page = new QWidget;
    page->setObjectName("siftloomSheet");
    filterFilename_ = new QLineEdit;
    filterFilename_->setObjectName("filterFilename");
    Hint(filterFilename_, "The name of the Siftloom Pro filter to run");
    filterFilename_->installEventFilter(this);
    auto* browse = new QToolButton;
    browse->setObjectName("filterFilenameBrowse");
    browse->setText("...");
    Hint(browse, "Browse for a Siftloom filter file (.fll)");
    connect(browse, &QToolButton::clicked, this, [this] {
        if (auto file = dialogs_.ChooseFilterFile(InstallationFolder() + "Filters/")) {
            filterFilename_->setText(Q(*file));
        }
    });
    auto* edit = new QPushButton("&Edit");
    edit->setObjectName("Button1");
    Hint(edit, "Edit this filter with Siftloom Pro");
    connect(edit, &QPushButton::clicked, this, [this] { ShellOpen(model_.Form().filterFilename); });
    auto* description = new QLabel(
        "Siftloom Pro is an award-winning data mining and data cleansing tool from Ambergrove. "
        "It can be used to cleanup common problems in resumes such as the removal of binary "
        "characters, word wrapping etc. Siftloom Pro can be obtained from the Ambergrove web "
        "site.");
    description->setObjectName("siftloomDescription");
    description->setWordWrap(true);
    siftloomInstalled_ = new QLabel;
    siftloomInstalled_->setObjectName("SiftloomInstalled");
    KeepText(*siftloomInstalled_);
    siftloomInstalled_->setStyleSheet("color: red");
    auto* webButton = new QPushButton("Go to &web site");
    webButton->setObjectName("BitBtn2");
    connect(webButton, &QPushButton::clicked, this, [this] { ShellOpen(web.makerPage); });

    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(filterFilename_);
    fileRow->addWidget(browse);
    fileRow->addWidget(edit);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(Label("&Siftloom Pro filter file to apply", filterFilename_));
    layout->addLayout(fileRow);
    layout->addWidget(description);
    layout->addWidget(siftloomInstalled_);
    auto* webRow = new QHBoxLayout;
    webRow->addWidget(webButton);
    webRow->addStretch();
    layout->addLayout(webRow);
    layout->addStretch();
    return page;
}

QWidget* MainWindow::BuildGoPage() {
    auto* page = new QWidget;
    page->setObjectName("goSheet");
    auto* label = new QLabel("Quillfence has all the information it needs!\n\nPlease click the "
                             "[GO] button below\nto begin processing.");
    label->setObjectName("goLabel");
    label->setAlignment(Qt::AlignCenter);
    QFont bold = label->font();
    bold.setBold(true);
    label->setFont(bold);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(label);
    return page;
}

QWidget* MainWindow::BuildBottomPanel() {
    auto* panel = new QWidget;
    panel->setObjectName("bottomPanel");
    prevButton_ = new QPushButton("< &Back");
    prevButton_->setObjectName("prevButton");
    nextButton_ = new QPushButton("&Next >");
    nextButton_->setObjectName("nextButton");
    finishButton_ = new QPushButton("&Go");
    finishButton_->setObjectName("finishButton");
    auto* exit = new QPushButton("Exit");
    exit->setObjectName("BitBtn1");
    connect(prevButton_, &QPushButton::clicked, this, [this] { model_.PrevPage(); });
    connect(nextButton_, &QPushButton::clicked, this, [this] { model_.NextPage(); });
    connect(finishButton_, &QPushButton::clicked, this, [this] { model_.Go(); });
    connect(exit, &QPushButton::clicked, this, &QWidget::close);
    auto* layout = new QHBoxLayout(panel);
    layout->setContentsMargins(0, 4, 0, 4);
    layout->addStretch();
    for (QPushButton* b : {prevButton_, nextButton_, finishButton_, exit}) {
        layout->addWidget(b);
    }
    return panel;
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
