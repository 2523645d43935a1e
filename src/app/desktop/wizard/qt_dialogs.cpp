#include "app/desktop/wizard/qt_dialogs.h"

#include "app/desktop/wizard/attachment_types_dialog.h"
#include "common/installation.h"
#include "platform/shell/shell.h"

#include <QFileDialog>
#include <QMessageBox>

namespace qf::desktop {

namespace {

const char* const kOptionsFilter = "Quillfence Files (*.qfo);;All files (*)";

QString Q(const std::string& text) {
    return QString::fromStdString(text);
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
    return Chosen(QFileDialog::getOpenFileName(parent_, "Load Quillfence settings",
                                               Q(InstallationFolder()), kOptionsFilter));
}

std::optional<std::string> QtDialogs::ChooseFileToSave() {
    QFileDialog dialog(parent_, "Save Quillfence settings", Q(InstallationFolder()),
                       kOptionsFilter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix("qfo");
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().front().toStdString();
}

std::optional<std::string> QtDialogs::ChooseFolder(const std::string& start) {
    return Chosen(QFileDialog::getExistingDirectory(parent_, "Choose a folder", Q(start)));
}

std::optional<std::string> QtDialogs::ChooseFilterFile(const std::string& start) {
    return Chosen(QFileDialog::getOpenFileName(parent_, "Browse for a Siftloom filter file (.fll)",
                                               Q(start), "Siftloom Filter (*.fll);;All files (*)"));
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
