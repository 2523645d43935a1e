// The profile chooser of a "Prompt" logon: the profiles of the profiles file,
// with a password field when the chosen profile needs one.  Cancel makes the
// logon fail as cancelled by the user.
#pragma once

#include "app/desktop/wizard/ui_thread.h"
#include "platform/messaging/profiles.h"

#include <QDialog>

class QComboBox;
class QLineEdit;
class QLabel;

namespace qf::desktop {

class ProfileChooserDialog : public QDialog {
    Q_OBJECT
public:
    // `needsPassword` lists the names of the profiles that have a password.
    ProfileChooserDialog(const std::vector<std::string>& names, const std::string& defaultName,
                         const std::vector<std::string>& needsPassword, QWidget* parent = nullptr);

    mapi::ProfileChoice Choice() const;
    QComboBox* Profiles() const { return profiles_; }
    QLineEdit* PasswordEdit() const { return password_; }

private:
    void UpdatePassword();

    QComboBox* profiles_;
    QLabel* passwordLabel_;
    QLineEdit* password_;
    std::vector<std::string> needsPassword_;
};

// Asks the person in front of the program: a function answering with a
// dialog result, so tests can answer without showing one.
using ProfileQuestion = std::function<std::optional<mapi::ProfileChoice>(
    const std::vector<std::string>& names, const std::string& defaultName)>;

// The dialog, shown modally.
std::optional<mapi::ProfileChoice> AskForProfile(const std::vector<std::string>& names,
                                                 const std::string& defaultName);

// The chooser a logon calls: `ask` always runs on the UI thread, also when
// the logon happens on a run's worker thread (which then waits for it).
mapi::ProfileChooser MakeProfileChooser(UiThread& ui, ProfileQuestion ask = AskForProfile);

} // namespace qf::desktop
