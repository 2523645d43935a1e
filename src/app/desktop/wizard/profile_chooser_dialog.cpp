#include "app/desktop/wizard/profile_chooser_dialog.h"

#include "app/desktop/i18n/qt_walk.h"
#include "app/desktop/i18n/window_registry.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>

namespace qf::desktop {

ProfileChooserDialog::ProfileChooserDialog(const std::vector<std::string>& names,
                                           const std::string& defaultName,
                                           const std::vector<std::string>& needsPassword,
                                           QWidget* parent)
    : QDialog(parent), profiles_(new QComboBox(this)), passwordLabel_(new QLabel("&Password:")),
      password_(new QLineEdit(this)), needsPassword_(needsPassword) {
    setObjectName("chooseProfile");
    setWindowTitle("Choose Profile");
    profiles_->setObjectName("profiles");
    KeepText(*profiles_); // the names of the user's profiles
    for (const std::string& name : names) {
        profiles_->addItem(QString::fromStdString(name));
    }
    profiles_->setCurrentIndex(
        std::max(0, profiles_->findText(QString::fromStdString(defaultName))));
    password_->setObjectName("password");
    password_->setEchoMode(QLineEdit::Password);
    passwordLabel_->setObjectName("passwordLabel");
    passwordLabel_->setBuddy(password_);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName("okButton");
    buttons->button(QDialogButtonBox::Ok)->setText("OK");
    buttons->button(QDialogButtonBox::Cancel)->setObjectName("cancelButton");
    buttons->button(QDialogButtonBox::Cancel)->setText("Cancel");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QFormLayout(this);
    auto* profileLabel = new QLabel("Profile &Name:");
    profileLabel->setObjectName("profileLabel");
    profileLabel->setBuddy(profiles_);
    layout->addRow(profileLabel, profiles_);
    layout->addRow(passwordLabel_, password_);
    layout->addRow(buttons);
    connect(profiles_, &QComboBox::currentIndexChanged, this, [this] { UpdatePassword(); });
    UpdatePassword();
    setMinimumWidth(320);
    TranslateAndWatch(*this);
}

void ProfileChooserDialog::UpdatePassword() {
    const std::string name = profiles_->currentText().toStdString();
    const bool needed =
        std::find(needsPassword_.begin(), needsPassword_.end(), name) != needsPassword_.end();
    password_->setEnabled(needed);
    passwordLabel_->setEnabled(needed);
    if (!needed) {
        password_->clear();
    }
}

mapi::ProfileChoice ProfileChooserDialog::Choice() const {
    return {profiles_->currentText().toStdString(), password_->text().toStdString()};
}

std::optional<mapi::ProfileChoice> AskForProfile(const std::vector<std::string>& names,
                                                 const std::string& defaultName) {
    std::vector<std::string> needsPassword;
    try {
        for (const mapi::Profile& profile : mapi::LoadProfiles().profiles) {
            if (profile.password) {
                needsPassword.push_back(profile.name);
            }
        }
    } catch (const std::exception&) {
        // The logon reads the file again and reports what is wrong with it.
    }
    ProfileChooserDialog dialog(names, defaultName, needsPassword);
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return dialog.Choice();
}

mapi::ProfileChooser MakeProfileChooser(UiThread& ui, ProfileQuestion ask) {
    return [&ui, ask](const std::vector<std::string>& names, const std::string& defaultName) {
        std::optional<mapi::ProfileChoice> choice;
        ui.Call([&] { choice = ask(names, defaultName); });
        return choice;
    };
}

} // namespace qf::desktop
