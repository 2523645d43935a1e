#include "app/desktop/wizard/qt_dialogs.h"

#include "app/desktop/wizard/attachment_types_dialog.h"
#include "common/installation.h"
#include "platform/shell/shell.h"

#include <QFileDialog>
#include <QMessageBox>

namespace qf::desktop {

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// A file dialog's title or filter: the text the main window's stand-in
// for that dialog holds (translated with the window), else the English one.
QString DialogText(QWidget* parent, const char* dialog, const char* property, const char* english) {
    const QObject* texts = parent ? parent->findChild<QObject*>(dialog) : nullptr;
    const QVariant value = texts ? texts->property(property) : QVariant();
    return value.isValid() ? value.toString() : QString(english);
}

std::optional<std::string> Chosen(const QString& path) {
    if (path.isEmpty()) {
        return std::nullopt;
    }
    return path.toStdString();
}

} // namespace

void QtDialogs::ShowError(const std::string& text) {
    QMessageBox::critical(parent_, "Quillfence", Q(text));
}

void QtDialogs::ShowMessage(const std::string& text) {
    QMessageBox::information(parent_, "Quillfence", Q(text));
}

bool QtDialogs::AskYesNo(const std::string& question) {
    return QMessageBox::question(parent_, "Quillfence", Q(question),
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

Dialogs::Answer QtDialogs::AskYesNoCancel(const std::string& question) {
    switch (QMessageBox::question(parent_, "Quillfence", Q(question),
                                  QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel)) {
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    default:
        return Answer::Cancel;
    }
}

std::optional<std::string> QtDialogs::ChooseFileToOpen() {
    return Chosen(QFileDialog::getOpenFileName(
        parent_, DialogText(parent_, kOpenDialog, "Title", kOpenTitle), Q(InstallationFolder()),
        DialogText(parent_, kOpenDialog, "Filter", kOptionsFilter)));
}

std::optional<std::string> QtDialogs::ChooseFileToSave() {
    QFileDialog dialog(parent_, DialogText(parent_, kSaveDialog, "Title", kSaveTitle),
                       Q(InstallationFolder()),
                       DialogText(parent_, kSaveDialog, "Filter", kOptionsFilter));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix("qfo");
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().front().toStdString();
}

std::optional<std::string> QtDialogs::ChooseFolder(const std::string& start) {
    return Chosen(QFileDialog::getExistingDirectory(
        parent_, DialogText(parent_, kFolderDialog, "Title", kFolderTitle), Q(start)));
}

std::optional<std::string> QtDialogs::ChooseFilterFile(const std::string& start) {
    return Chosen(QFileDialog::getOpenFileName(
        parent_, DialogText(parent_, kFilterDialog, "Title", kFilterTitle), Q(start),
        DialogText(parent_, kFilterDialog, "Filter", kFilterFilter)));
}

bool QtDialogs::EditAttachmentTypes(AttachmentRows& rows) {
    return AttachmentTypesDialog::Edit(parent_, rows);
}

bool QtDialogs::ChooseMailFolder(MapiSession& session, FolderRole role, std::string& path,
                                 FolderReference& folder) {
    if (!folderChooser) {
        ShowMessage("The folder chooser is not available in this build.");
        return false;
    }
    return folderChooser(parent_, session, role, path, folder);
}

void QtDialogs::ShellOpen(const std::string& target) {
    qf::ShellOpen(target); // falls back to a text editor, throws when nothing opens it
}

} // namespace qf::desktop
