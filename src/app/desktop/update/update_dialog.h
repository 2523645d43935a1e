// The update dialog: offers to ask the maker's site whether a newer release
// exists ("Check web for updates now") or to stay quiet until a date
// ("Don't ask me again until"), then reports what the site said and offers
// to open the page of a newer release.
//
// It is not modal, stays on top, and exists at most once; it is freed when
// closed, cancelling a fetch still running (nothing of it reports after
// that).  The page address from the site is opened only when it is an
// http or https address.
#pragma once

#include "web/http_get.h"
#include "web/update_schedule.h"
#include "web/update_site.h"

#include <QDialog>

#include <functional>
#include <memory>
#include <string>

class QDateEdit;
class QGroupBox;
class QPushButton;
class QRadioButton;
class QStatusBar;
class QTabWidget;

namespace qf::desktop {

class QtEventLoop;

struct UpdateDialogOptions {
    web::UpdateSite site;
    web::HttpLimits limits;
    // Opens a checked web page; by default the desktop's handler (ShellOpen),
    // its failure shown in an information box.
    std::function<void(const std::string& page)> openPage;
    std::function<std::string()> netUserName = &web::NetUserName;

    // The site and proxy settings of the program's registry.
    static UpdateDialogOptions FromRegistry();
};

class UpdateDialog : public QDialog {
    Q_OBJECT

public:
    UpdateDialog(QWidget* parent, web::UpdateSchedule& schedule, UpdateDialogOptions options);
    ~UpdateDialog() override;

    // The components, for the program's wiring and for tests.
    QRadioButton* CheckWeb() const { return checkWeb_; }
    QRadioButton* DontAsk() const { return dontAsk_; }
    QDateEdit* NextDate() const { return nextDate_; }
    QPushButton* OkButton() const { return okButton_; }
    QPushButton* CancelButton() const { return cancelButton_; }
    QStatusBar* StatusBar() const { return statusBar_; }
    QGroupBox* GroupBox() const { return groupBox_; }
    bool Fetching() const;

protected:
    void changeEvent(QEvent* event) override;

private:
    void BuildComponents();
    void FillProductNames();
    void ShowCloseButton();
    void OnCheckWebClick();
    void OnOkClick();
    void FetchPage();
    void OnDoneString(const std::string& text);
    void OnError();
    void OfferNewerRelease(const std::string& label, const std::string& page);

    web::UpdateSchedule& schedule_;
    UpdateDialogOptions options_;
    std::shared_ptr<QtEventLoop> loop_;
    std::unique_ptr<web::HttpGet> httpGet_;
    bool closeButton_ = false;

    QTabWidget* pageControl_ = nullptr;
    QGroupBox* groupBox_ = nullptr;
    QRadioButton* checkWeb_ = nullptr;
    QRadioButton* dontAsk_ = nullptr;
    QDateEdit* nextDate_ = nullptr;
    QStatusBar* statusBar_ = nullptr;
    QPushButton* okButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
};

// The update dialog while it exists, else nothing.
UpdateDialog* CurrentUpdateDialog();

// The Help menu's "Check web for Quillfence updates": brings the dialog to
// the front, or creates and shows it.
UpdateDialog* CheckWebForUpdates(QWidget* parent, web::UpdateSchedule& schedule,
                                 UpdateDialogOptions options = UpdateDialogOptions::FromRegistry());

// Called once at the end of start-up: when the weekly check is due (see
// UpdateSchedule::TakeOfferIfDue), shows the dialog.  Returns it, or nothing.
UpdateDialog* OfferUpdateIfDue(QWidget* parent, web::UpdateSchedule& schedule,
                               bool startedWithParameters,
                               UpdateDialogOptions options = UpdateDialogOptions::FromRegistry());

} // namespace qf::desktop
