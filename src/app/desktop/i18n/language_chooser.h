// The language chooser: a list of the installed language files.
#pragma once

#include <QDialog>
#include <functional>
#include <optional>
#include <string>

class QLabel;
class QListWidget;

namespace qf::desktop {

class LanguageChooser : public QDialog {
    Q_OBJECT
public:
    static constexpr int kWidth = 343;
    static constexpr int kHeight = 267;

    // Lists the languages of <installationFolder>Languages/.
    explicit LanguageChooser(const std::string& installationFolder, QWidget* parent = nullptr);
    ~LanguageChooser() override;

    // Fills the list from <folder>Languages/*.ini.
    void ListLanguages(const std::string& folder);
    // Selects `name` ignoring case, else English, else the first entry.
    void SelectLanguage(const std::string& name);
    // The entry selected; empty when the list is empty.
    std::string SelectedLanguage() const;

    // Called with the label when "More languages online..." is clicked.
    std::function<void(QObject* sender)> onMoreLanguages;

    QListWidget* Languages() const { return languages_; }
    QLabel* Online() const { return online_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QListWidget* languages_;
    QLabel* online_;
};

// Runs a modal dialog; tests answer it without a user.
using ModalRunner = std::function<int(QDialog&)>;

// The "Change language" command: shows the chooser with `current`
// preselected.  On OK with another language, switches every open window to
// it at once and returns its name; otherwise nothing.
std::optional<std::string> ChooseLanguage(QWidget* parent, const std::string& current,
                                          const std::string& installationFolder,
                                          const ModalRunner& runModal = {});

} // namespace qf::desktop
