// The wizard's questions and choices as real message boxes and dialogs.
#pragma once

#include "app/desktop/wizard/dialogs.h"

#include <QPointer>
#include <QWidget>
#include <functional>

namespace qf::desktop {

// The file dialogs' texts.  The main window holds a plain object for each
// dialog (named by the k...Dialog constants) whose "Title" and "Filter"
// properties the language walk translates; QtDialogs reads them from there.
inline constexpr const char* kOpenDialog = "OpenDialog1";
inline constexpr const char* kSaveDialog = "SaveDialog1";
inline constexpr const char* kFolderDialog = "FolderDialog1";
inline constexpr const char* kFilterDialog = "FilterDialog1";
inline constexpr const char* kOpenTitle = "Load Quillfence settings";
inline constexpr const char* kSaveTitle = "Save Quillfence settings";
inline constexpr const char* kFolderTitle = "Choose a folder";
inline constexpr const char* kFilterTitle = "Browse for a Siftloom filter file (.fll)";
inline constexpr const char* kOptionsFilter = "Quillfence Files (*.qfo);;All files (*)";
inline constexpr const char* kFilterFilter = "Siftloom Filter (*.fll);;All files (*)";

class QtDialogs : public Dialogs {
public:
    // The folder chooser window: fills the path and identifiers, true for OK.
    using FolderChooser = std::function<bool(QWidget* parent, MapiSession& session, FolderRole role,
                                             std::string& path, FolderReference& folder)>;

    explicit QtDialogs(QWidget* parent = nullptr) : parent_(parent) {}
    void SetParent(QWidget* parent) { parent_ = parent; }
    // Plugged in by the program; without one the browse buttons say so.
    FolderChooser folderChooser;

    void ShowError(const std::string& text) override;
    void ShowMessage(const std::string& text) override;
    bool AskYesNo(const std::string& question) override;
    Answer AskYesNoCancel(const std::string& question) override;
    std::optional<std::string> ChooseFileToOpen() override;
    std::optional<std::string> ChooseFileToSave() override;
    std::optional<std::string> ChooseFolder(const std::string& start) override;
    std::optional<std::string> ChooseFilterFile(const std::string& start) override;
    bool EditAttachmentTypes(AttachmentRows& rows) override;
    bool ChooseMailFolder(MapiSession& session, FolderRole role, std::string& path,
                          FolderReference& folder) override;
    void ShellOpen(const std::string& target) override;

private:
    QPointer<QWidget> parent_;
};

} // namespace qf::desktop
