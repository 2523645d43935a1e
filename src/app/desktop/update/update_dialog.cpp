#include "app/desktop/update/update_dialog.h"

#include "app/desktop/i18n/window_registry.h"
#include "app/desktop/placement/qt_placement.h"
#include "app/desktop/update/qt_event_loop.h"
#include "common/error.h"
#include "common/installation.h"
#include "i18n/format.h"
#include "i18n/msgdlg.h"
#include "i18n/translate.h"
#include "platform/registry/registry.h"
#include "platform/shell/shell.h"
#include "web/url.h"
#include "web/version_list.h"

#include <QDateEdit>
#include <QEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLocale>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QVBoxLayout>

namespace qf::desktop {

namespace {

QPointer<UpdateDialog> g_current;

const QDate kDayZero(1899, 12, 30);

QString Q(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}
QString Q(const std::u16string& text) {
    return QString::fromStdU16String(text);
}
std::u16string U16(std::string_view utf8) {
    return Q(utf8).toStdU16String();
}

// A caption template filled with one text; a template that does not fit
// stays as it is.
QString Filled(const QString& tmpl, const std::string& arg) {
    try {
        return Q(FormatWide(tmpl.toStdU16String(), {FmtArg(arg)}));
    } catch (const std::exception&) {
        return tmpl;
    }
}

void ShowInfoIgnoringErrors(const std::u16string& text) {
    try {
        ShowInfo(text);
    } catch (...) {
        // Nothing more can be told.
    }
}

void OpenWithDesktop(const std::string& page) {
    try {
        ShellOpen(page);
    } catch (const std::exception& e) {
        ShowInfoIgnoringErrors(U16(e.what()));
    }
}

const std::string kTitle = kProductTitle;
const std::string kTitleAndVersion = kTitle + " v" + kProductVersion;

} // namespace

UpdateDialogOptions UpdateDialogOptions::FromRegistry() {
    UpdateDialogOptions options;
    options.site = web::UpdateSite::Load(registry::Current());
    return options;
}

UpdateDialog::UpdateDialog(QWidget* parent, web::UpdateSchedule& schedule,
                           UpdateDialogOptions options)
    : QDialog(parent), schedule_(schedule), options_(std::move(options)),
      loop_(QtEventLoop::Create(this)), httpGet_(std::make_unique<web::HttpGet>(loop_)) {
    if (!options_.openPage) {
        options_.openPage = &OpenWithDesktop;
    }
    g_current = this;
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlag(Qt::WindowStaysOnTopHint);
    setObjectName("updateForm");
    setProperty("helpTopic", 1350);
    BuildComponents();
    TranslateAndWatch(*this);
    FillProductNames();
    const int next = schedule_.NextCheckDate();
    nextDate_->setDate(kDayZero.addDays(next != 0 ? next : schedule_.Today()));

    httpGet_->SetOnDoneString([this](const std::string& text) { OnDoneString(text); });
    httpGet_->SetOnError([this] { OnError(); });

    // The size is kept; the dialog is always centred on the screen.
    RestorePlacement(*this, PlacementKey::UpdateDialog());
    if (QScreen* s = screen()) {
        move(s->availableGeometry().center() - rect().center());
    }
}

UpdateDialog::~UpdateDialog() {
    loop_->Detach();
    httpGet_.reset(); // cancels a fetch still running
    SavePlacement(*this, PlacementKey::UpdateDialog());
}

bool UpdateDialog::Fetching() const {
    return httpGet_->Fetching();
}

void UpdateDialog::BuildComponents() {
    pageControl_ = new QTabWidget(this);
    pageControl_->setObjectName("PageControl1");
    auto* sheet = new QWidget;
    sheet->setObjectName("TabSheet1");
    pageControl_->addTab(sheet, "Update");

    groupBox_ = new QGroupBox(" This copy of %s may be out of date ", sheet);
    groupBox_->setObjectName("GroupBox1");
    checkWeb_ = new QRadioButton("Check web for updates now", groupBox_);
    checkWeb_->setObjectName("checkWeb");
    checkWeb_->setToolTip("Access the internet to find out if %s needs updating");
    checkWeb_->setChecked(true);
    dontAsk_ = new QRadioButton("Don't ask me again until", groupBox_);
    dontAsk_->setObjectName("dontAsk");
    dontAsk_->setToolTip("Don't perform this check until the date specified");
    nextDate_ = new QDateEdit(groupBox_);
    nextDate_->setObjectName("nextDate");
    nextDate_->setToolTip("Remind me after this date");
    nextDate_->setDisplayFormat(QLocale().dateFormat(QLocale::ShortFormat));
    nextDate_->setCalendarPopup(true);
    nextDate_->setEnabled(false);

    auto* dateRow = new QHBoxLayout;
    dateRow->addWidget(dontAsk_);
    dateRow->addWidget(nextDate_);
    dateRow->addStretch();
    auto* groupLayout = new QVBoxLayout(groupBox_);
    groupLayout->addWidget(checkWeb_);
    groupLayout->addLayout(dateRow);
    groupLayout->addStretch();
    auto* sheetLayout = new QVBoxLayout(sheet);
    sheetLayout->setContentsMargins(8, 8, 8, 8);
    sheetLayout->addWidget(groupBox_);

    auto* panel = new QWidget(this);
    panel->setObjectName("Panel1");
    statusBar_ = new QStatusBar(panel);
    statusBar_->setObjectName("StatusBar");
    statusBar_->setSizeGripEnabled(false);
    okButton_ = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), "OK", panel);
    okButton_->setObjectName("okButton");
    okButton_->setDefault(true);
    cancelButton_ =
        new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), "Cancel", panel);
    cancelButton_->setObjectName("cancelButton");
    auto* panelLayout = new QHBoxLayout(panel);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    panelLayout->addWidget(statusBar_, 1);
    panelLayout->addWidget(okButton_);
    panelLayout->addWidget(cancelButton_);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(pageControl_, 1);
    layout->addWidget(panel);
    setWindowTitle("%s update");
    resize(420, 220);
    checkWeb_->setFocus();

    connect(checkWeb_, &QRadioButton::toggled, this, [this] { OnCheckWebClick(); });
    connect(dontAsk_, &QRadioButton::toggled, this, [this] { OnCheckWebClick(); });
    connect(okButton_, &QPushButton::clicked, this, [this] { OnOkClick(); });
    connect(cancelButton_, &QPushButton::clicked, this, &QDialog::close);
}

// After each walk: the translated templates are filled with the product's
// name, and a button that became Close stays Close.
void UpdateDialog::FillProductNames() {
    setWindowTitle(Filled(windowTitle(), kTitle));
    groupBox_->setTitle(Filled(groupBox_->title(), kTitleAndVersion));
    const QString hint = Filled(checkWeb_->toolTip(), kTitle);
    checkWeb_->setToolTip(hint);
    checkWeb_->setStatusTip(hint);
    if (closeButton_) {
        ShowCloseButton();
    }
}

void UpdateDialog::ShowCloseButton() {
    okButton_->setText(QString::fromStdString(TranslateMsg(8730, "&Close")));
    okButton_->setIcon(style()->standardIcon(QStyle::SP_DialogCloseButton));
}

void UpdateDialog::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange) {
        FillProductNames();
    }
    QDialog::changeEvent(event);
}

void UpdateDialog::OnCheckWebClick() {
    nextDate_->setEnabled(dontAsk_->isChecked());
}

void UpdateDialog::OnOkClick() {
    if (closeButton_) {
        close();
        return;
    }
    closeButton_ = true;
    ShowCloseButton();
    if (dontAsk_->isChecked()) {
        try {
            schedule_.DontAskUntil(static_cast<int>(kDayZero.daysTo(nextDate_->date())));
        } catch (const std::exception& e) {
            ShowInfoIgnoringErrors(U16(e.what()));
        }
        close();
        return;
    }
    statusBar_->showMessage(Q(TranslateMsgW(300, "Checking for update...please wait")));
    FetchPage();
}

void UpdateDialog::FetchPage() {
    web::HttpGetSettings& s = httpGet_->Settings();
    s.proxy = options_.site.proxy;
    s.proxyUser = options_.site.proxyUser;
    s.proxyPassword = options_.site.proxyPassword;
    s.caFile = options_.site.caFile;
    s.limits = options_.limits;
    s.url = web::VersionListUrl(options_.site.siteAddress, options_.netUserName(), kTitle,
                                kProductVersion);
    s.agent = kTitle;
    httpGet_->FetchText();
}

void UpdateDialog::OnDoneString(const std::string& text) {
    using Kind = web::UpdateFinding::Kind;
    const web::UpdateFinding finding =
        web::ReadVersionAnswer(text, kTitle, kProductVersion, options_.site.DownloadsPage());
    if (finding.kind == Kind::NotFound) {
        if (isVisible()) {
            ShowInfoIgnoringErrors(
                TranslateFmtW(350, u"%s update information not found", {kTitle}));
        }
        return;
    }
    statusBar_->clearMessage();
    switch (finding.kind) {
    case Kind::InvalidStamp:
        if (isVisible()) {
            ShowInfo(TranslateFmtW(320, u"%s date information found in invalid format %s",
                                   {kTitle, finding.stampText}));
        }
        break;
    case Kind::UpToDate:
        if (isVisible()) {
            ShowInfo(TranslateFmtW(
                340, u"You already have the latest version of %s - no download is necessary",
                {kTitle}));
        }
        break;
    default:
        // Asked whether or not the dialog is still shown.
        OfferNewerRelease(finding.label, finding.page);
        break;
    }
}

void UpdateDialog::OfferNewerRelease(const std::string& label, const std::string& page) {
    const DlgResult answer =
        AskDlg(TranslateFmtW(330, u"A %s update is available - would you like to see What's New?",
                             {kTitle + " v" + label}),
               DlgKind::Confirmation, kDlgYes | kDlgNo | kDlgCancel, 0);
    if (answer != DlgResult::Yes) {
        return;
    }
    // The address comes from the network: only a web page is handed to the
    // desktop, never a file, a script or a program.
    if (!web::IsWebPageAddress(page)) {
        ShowInfo(TranslateFmtW(
            360,
            u"The page address given for the %s update is not a web address and was not opened: %s",
            {kTitle, page}));
        return;
    }
    options_.openPage(page);
}

void UpdateDialog::OnError() {
    if (isVisible()) {
        statusBar_->showMessage(Q(TranslateMsgW(310, "Error connecting to web site")));
    } else {
        close();
    }
}

UpdateDialog* CurrentUpdateDialog() {
    return g_current.data();
}

UpdateDialog* CheckWebForUpdates(QWidget* parent, web::UpdateSchedule& schedule,
                                 UpdateDialogOptions options) {
    if (UpdateDialog* dialog = g_current.data()) {
        dialog->show();
        dialog->raise();
        dialog->activateWindow();
        return dialog;
    }
    auto* dialog = new UpdateDialog(parent, schedule, std::move(options));
    dialog->show();
    return dialog;
}

UpdateDialog* OfferUpdateIfDue(QWidget* parent, web::UpdateSchedule& schedule,
                               bool startedWithParameters, UpdateDialogOptions options) {
    if (!schedule.TakeOfferIfDue(startedWithParameters)) {
        return nullptr;
    }
    return CheckWebForUpdates(parent, schedule, std::move(options));
}

} // namespace qf::desktop
