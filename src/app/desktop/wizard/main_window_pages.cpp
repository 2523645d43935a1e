// The main window's seven pages and its bottom buttons.
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

namespace {
// The "..." buttons beside the mail-folder edits: as narrow as the file
// edits' browse buttons, the edit takes the rest of the row.
constexpr int kBrowseButtonWidth = 32;
} // namespace

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
    fromRow->addWidget(messageSource_, 1);
    browseFromFolder_->setMaximumWidth(kBrowseButtonWidth);
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
    toRow->addWidget(messageDestination_, 1);
    browseToFolder_->setMaximumWidth(kBrowseButtonWidth);
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

} // namespace qf::desktop
