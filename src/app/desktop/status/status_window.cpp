#include "app/desktop/status/status_window.h"

#include "app/desktop/i18n/qt_walk.h"
#include "app/desktop/i18n/window_registry.h"
#include "app/desktop/message/message_window.h"
#include "app/desktop/placement/qt_placement.h"
#include "app/desktop/status/run_thread.h"
#include "mail/session.h"
#include "platform/registry/registry.h"

#include "i18n/translate.h"
#include <QCloseEvent>
#include <QCoreApplication>
#include <QEvent>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QThread>
#include <QVBoxLayout>

namespace qf::desktop {

namespace {

constexpr int kExceptionsPage = 1;
constexpr int kColumnWidth = 421;

QString FromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

StatusWindow::StatusWindow(QWidget* parent) : StatusWindow(registry::Current(), parent) {}

StatusWindow::StatusWindow(registry::Registry& reg, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint), reg_(reg) {
    setObjectName("TstatusForm");
    setAttribute(Qt::WA_DeleteOnClose);
    setProperty("helpContext", kHelpContext);
    setWindowTitle("Processing emails...");
    BuildLayout();
    SetKind(ButtonKind::Cancel);
    TranslateAndWatch(*this);
    resize(487, 223);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
    RestorePlacement(*this, PlacementKey::StatusWindow(), reg_);
}

StatusWindow::~StatusWindow() {
    {
        // A worker waiting for an answer gets its fallback at once.
        std::lock_guard<std::mutex> lock(waitMutex_);
        abandoned_ = true;
    }
    waitDone_.notify_all();
    cancelled_ = true;
    // The run still talks to this object until it has returned.
    for (RunThread* run : findChildren<RunThread*>()) {
        run->Wait();
    }
}

void StatusWindow::BuildLayout() {
    pages_ = new QTabWidget(this);
    pages_->setObjectName("PageControl1");
    auto* progressPage = new QWidget;
    progressPage->setObjectName("TabSheet1");
    statusText_ = new QLabel("Processing Email 0 of 0:");
    statusText_->setObjectName("statusText");
    progress_ = new QProgressBar;
    progress_->setObjectName("taskProgress");
    progress_->setRange(0, 100);
    progress_->setValue(0);
    progress_->setTextVisible(false);
    emailLabel_ = new QLabel("Email:");
    emailLabel_->setObjectName("Label1");
    subject_ = new QLabel;
    subject_->setObjectName("emailSubject");
    KeepText(*subject_); // the email's own subject
    subject_->setTextFormat(Qt::PlainText);
    subject_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    statusText_->setTextFormat(Qt::PlainText);

    auto* subjectRow = new QHBoxLayout;
    subjectRow->addWidget(emailLabel_);
    subjectRow->addWidget(subject_, 1);
    auto* progressLayout = new QVBoxLayout(progressPage);
    progressLayout->addWidget(statusText_);
    progressLayout->addWidget(progress_);
    progressLayout->addLayout(subjectRow);
    progressLayout->addStretch(1);

    grid_ = new QTableWidget(0, 1);
    grid_->setObjectName("Exceptions");
    grid_->setWordWrap(true);
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid_->setSelectionMode(QAbstractItemView::SingleSelection);
    grid_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    grid_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    grid_->verticalHeader()->setVisible(false);
    grid_->horizontalHeader()->setStretchLastSection(true);
    grid_->setHorizontalHeaderLabels({"Emails requiring manual intervention"});
    grid_->setColumnWidth(0, kColumnWidth);
    auto* exceptionsPage = new QWidget;
    exceptionsPage->setObjectName("exceptionsSheet");
    auto* exceptionsLayout = new QVBoxLayout(exceptionsPage);
    exceptionsLayout->setContentsMargins(0, 0, 0, 0);
    exceptionsLayout->addWidget(grid_);
    // Wrapped rows take the height their text needs at the column's width.
    connect(grid_->horizontalHeader(), &QHeaderView::sectionResized, grid_,
            [this] { grid_->resizeRowsToContents(); });
    connect(grid_, &QTableWidget::cellDoubleClicked, this,
            [this](int row, int) { OpenException(row); });

    pages_->addTab(progressPage, "&1 Progress");
    pages_->addTab(exceptionsPage, "&2 Exceptions");
    pages_->setTabVisible(kExceptionsPage, false);
    pages_->setCurrentIndex(0);
    connect(pages_, &QTabWidget::currentChanged, grid_, [this] { grid_->resizeRowsToContents(); });

    button_ = new QPushButton;
    button_->setObjectName("cancelButton");
    button_->setDefault(true);
    connect(button_, &QPushButton::clicked, this, &StatusWindow::ButtonClicked);
    saveReportButton_ = new QPushButton("&Save report…");
    saveReportButton_->setObjectName("saveReportButton");
    saveReportButton_->setVisible(false); // until the run has ended
    connect(saveReportButton_, &QPushButton::clicked, this, [this] { SaveReport(); });
    auto* reportDialog = new QObject(this);
    reportDialog->setObjectName(kReportDialog);
    reportDialog->setProperty("Title", QString(kReportTitle));
    reportDialog->setProperty("Filter", QString(kReportFilter));
    auto* panel = new QHBoxLayout;
    panel->addStretch(1);
    panel->addWidget(button_);
    panel->addWidget(saveReportButton_);
    panel->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addWidget(pages_, 1);
    layout->addLayout(panel);
}

// ---------------------------------------------------------------------------
// RunHost

void StatusWindow::OnWindowThread(std::function<void()> call) {
    if (QThread::currentThread() == thread()) {
        call();
    } else {
        QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
    }
}

bool StatusWindow::WaitOnWindowThread(std::function<bool()> call, bool fallback) {
    if (QThread::currentThread() == thread()) {
        return call();
    }
    struct Answer {
        bool ready = false;
        bool value = false;
    };
    auto answer = std::make_shared<Answer>();
    QMetaObject::invokeMethod(
        this,
        [this, answer, call = std::move(call)] {
            const bool value = call();
            {
                std::lock_guard<std::mutex> lock(waitMutex_);
                answer->value = value;
                answer->ready = true;
            }
            waitDone_.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock<std::mutex> lock(waitMutex_);
    waitDone_.wait(lock, [&] { return answer->ready || abandoned_; });
    return answer->ready ? answer->value : fallback;
}

void StatusWindow::Show() {
    OnWindowThread([this] {
        if (!closeWhenRunEnds_) {
            show();
            raise();
            activateWindow();
        }
    });
}

void StatusWindow::SetStatusText(const std::string& text) {
    OnWindowThread([this, text = FromUtf8(text)] {
        KeepText(*statusText_); // the run's status from now on, in any language
        statusText_->setText(text);
        statusText_->repaint();
    });
}

void StatusWindow::SetProgressValue(int percent) {
    OnWindowThread([this, percent] {
        progress_->setValue(std::clamp(percent, 0, 100));
        progress_->repaint();
    });
}

void StatusWindow::SetSubject(const std::string& subject) {
    OnWindowThread([this, text = FromUtf8(subject)] { subject_->setText(text); });
}

void StatusWindow::AddExceptionRow(const std::string& text, const std::string& emailEntryId,
                                   const std::string& storeEntryId) {
    OnWindowThread(
        [this, entry = ExceptionEntry{text, emailEntryId, storeEntryId}] { AddRow(entry); });
}

void StatusWindow::AddRow(const ExceptionEntry& entry) {
    exceptions_.push_back(entry);
    const int row = grid_->rowCount();
    grid_->insertRow(row);
    auto* item = new QTableWidgetItem(FromUtf8(entry.text));
    item->setToolTip(item->text());
    grid_->setItem(row, 0, item);
    grid_->resizeRowToContents(row);
    pages_->setTabVisible(kExceptionsPage, true);
    QTabBar* tabs = pages_->tabBar();
    tabs->setTabTextColor(kExceptionsPage, palette().color(QPalette::Highlight));
    tabs->setTabIcon(kExceptionsPage, style()->standardIcon(QStyle::SP_MessageBoxWarning));
}

void StatusWindow::Finish() {
    OnWindowThread([this] { SetKind(ButtonKind::Ok); });
}

void StatusWindow::ReportReady(const RunReport& report) {
    OnWindowThread([this, report] { SetReport(report); });
}

void StatusWindow::ShowWarning(const std::string& text) {
    WaitOnWindowThread(
        [this, text = FromUtf8(text)] {
            if (hooks_.warning) {
                hooks_.warning(this, text);
            } else {
                QMessageBox::warning(this, QCoreApplication::applicationName(), text);
            }
            return true;
        },
        true);
}

bool StatusWindow::AskYesNo(const std::string& text) {
    return WaitOnWindowThread(
        [this, text = FromUtf8(text)] {
            if (hooks_.askYesNo) {
                return hooks_.askYesNo(this, text);
            }
            return QMessageBox::question(this, QCoreApplication::applicationName(), text,
                                         QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
        },
        false);
}

void StatusWindow::ShowError(const std::string& text) {
    WaitOnWindowThread(
        [this, text = FromUtf8(text)] {
            if (hooks_.error) {
                hooks_.error(this, text);
            } else {
                QMessageBox::critical(this, "Application Error", text);
            }
            return true;
        },
        true);
}

void StatusWindow::PumpMessages() {
    // A run on the window's own thread lets the window work; a run on a
    // worker has nothing to pump.
    if (QThread::currentThread() == thread()) {
        QCoreApplication::processEvents();
    }
}

void StatusWindow::SetNextFileNumber(std::int32_t nextNumber) {
    OnWindowThread([this, nextNumber] {
        nextNumber_ = nextNumber;
        emit NextFileNumberReady(nextNumber);
    });
}

void StatusWindow::SaveAfterRun() {
    OnWindowThread([this] { emit SaveAfterRunRequested(); });
}

// ---------------------------------------------------------------------------
// The button and closing

void StatusWindow::SetKind(ButtonKind kind) {
    kind_ = kind;
    switch (kind) {
    case ButtonKind::Cancel:
        button_->setText("&Cancel");
        button_->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));
        break;
    case ButtonKind::Close:
        button_->setText(QString::fromStdString(TranslateMsg(8730, "&Close")));
        button_->setIcon(style()->standardIcon(QStyle::SP_DialogCloseButton));
        break;
    case ButtonKind::Ok:
        button_->setText(QString::fromStdString(TranslateMsg(8731, "&OK")));
        button_->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));
        break;
    }
}

void StatusWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange && kind_ != ButtonKind::Cancel) {
        SetKind(kind_); // the walk gave the button its first caption back
    }
    QWidget::changeEvent(event);
}

void StatusWindow::ButtonClicked() {
    if (kind_ == ButtonKind::Cancel) {
        cancelled_ = true;
        SetKind(ButtonKind::Close);
        return;
    }
    close();
}

void StatusWindow::SetRunActive(bool active) {
    runActive_ = active;
    if (!active && closeWhenRunEnds_) {
        close();
    }
}

void StatusWindow::closeEvent(QCloseEvent* event) {
    if (runActive_) {
        // Never freed under the run: hide, stop the run, close when it returns.
        cancelled_ = true;
        closeWhenRunEnds_ = true;
        if (kind_ == ButtonKind::Cancel) {
            SetKind(ButtonKind::Close);
        }
        event->ignore();
        hide();
        return;
    }
    if (!placementSaved_) {
        SavePlacement(*this, PlacementKey::StatusWindow(), reg_);
        placementSaved_ = true;
    }
    event->accept();
}

// ---------------------------------------------------------------------------
// Exception rows

void StatusWindow::SetLogonParameters(std::int32_t profileMode, const std::string& profileName,
                                      const std::string& password) {
    profileMode_ = profileMode;
    profileName_ = profileName;
    password_ = password;
    if (ownSession_) {
        ownSession_->SetLogonParameters(profileMode, profileName, password);
    }
}

MapiSession& StatusWindow::Session() {
    if (session_ != nullptr) {
        return *session_;
    }
    if (!ownSession_) {
        ownSession_ = std::make_unique<MapiSession>();
        ownSession_->SetLogonParameters(profileMode_, profileName_, password_);
    }
    return *ownSession_;
}

MessageWindow* StatusWindow::OpenException(int row) {
    if (row < 0 || row >= static_cast<int>(exceptions_.size())) {
        return nullptr;
    }
    const ExceptionEntry& entry = exceptions_[static_cast<std::size_t>(row)];
    try {
        MessageWindow* window =
            MessageWindow::Open(Session(), entry.storeEntryId, entry.emailEntryId);
        window->show();
        window->raise();
        emit MessageWindowOpened(window);
        return window;
    } catch (const std::exception& e) {
        if (hooks_.error) {
            hooks_.error(this, QString::fromUtf8(e.what()));
        } else {
            QMessageBox::warning(this, QCoreApplication::applicationName(),
                                 QString::fromUtf8(e.what()));
        }
    }
    return nullptr;
}

// ---------------------------------------------------------------------------
// The run's report

void StatusWindow::SetReport(RunReport report) {
    report_ = std::move(report);
    saveReportButton_->setVisible(true);
}

bool StatusWindow::SaveReport() {
    if (!report_) {
        return false;
    }
    const QObject* texts = findChild<QObject*>(kReportDialog);
    const QString title = texts->property("Title").toString();
    const QString filter = texts->property("Filter").toString();
    QString path;
    if (hooks_.saveFileName) {
        path = hooks_.saveFileName(this, title, filter);
    } else {
        QFileDialog dialog(this, title, "report.csv", filter);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix("csv");
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
            path = dialog.selectedFiles().front();
        }
    }
    if (path.isEmpty()) {
        return false;
    }
    try {
        report_->Save(path.toStdString());
        return true;
    } catch (const std::exception& e) {
        ShowWarningBox(QString::fromUtf8(e.what()));
    }
    return false;
}

void StatusWindow::ShowWarningBox(const QString& text) {
    if (hooks_.warning) {
        hooks_.warning(this, text);
    } else {
        QMessageBox::warning(this, QCoreApplication::applicationName(), text);
    }
}

} // namespace qf::desktop
