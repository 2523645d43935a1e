// The about box: the product's title, its version and its maker, in the
// user's language (caption "About %s", line "Version %s").
#pragma once

#include <QDialog>

class QLabel;

namespace qf::desktop {

class AboutBox : public QDialog {
    Q_OBJECT
public:
    explicit AboutBox(QWidget* parent = nullptr);

    QLabel* VersionLabel() const { return version_; }

protected:
    void changeEvent(QEvent* event) override;

private:
    // Fills the translated templates with the product's title and version.
    void FillProductNames();

    QLabel* version_ = nullptr;
};

// Shows the about box modally.
void ShowAboutBox(QWidget* parent);

} // namespace qf::desktop
