// Everything the wizard asks of the person in front of it: error boxes,
// questions, file names, the attachment types editor and the folder chooser.
// The windows answer through message boxes and dialogs (QtDialogs); tests
// answer with scripted replies, so no test ever waits on a modal box.
#pragma once

#include "app/desktop/chooser/folder_role.h"

#include "app/desktop/wizard/attachment_table.h"

#include <optional>
#include <string>

namespace qf {
class MapiSession;
}

namespace qf::desktop {

class Dialogs {
public:
    enum class Answer { Yes, No, Cancel };

    virtual ~Dialogs() = default;

    // The application's error box: an error raised by a command.
    virtual void ShowError(const std::string& text) = 0;
    // A plain message box with OK.
    virtual void ShowMessage(const std::string& text) = 0;
    virtual bool AskYesNo(const std::string& question) = 0;
    virtual Answer AskYesNoCancel(const std::string& question) = 0;
    // "Load Quillfence settings": an existing options file, or nothing.
    virtual std::optional<std::string> ChooseFileToOpen() = 0;
    // "Save Quillfence settings": the file to write (overwriting was agreed).
    virtual std::optional<std::string> ChooseFileToSave() = 0;
    // "Choose a folder" for a file-system folder, starting at `start`.
    virtual std::optional<std::string> ChooseFolder(const std::string& start) = 0;
    // The filter file: an existing "*.fll" file, starting at `start`.
    virtual std::optional<std::string> ChooseFilterFile(const std::string& start) = 0;
    // The attachment types editor over `rows`; true for OK, with `rows`
    // holding the edited table.  On Cancel `rows` are left as they were.
    virtual bool EditAttachmentTypes(AttachmentRows& rows) = 0;
    // The folder chooser over the session's stores: true for OK, with the
    // chosen folder's path and identifiers.
    virtual bool ChooseMailFolder(MapiSession& session, FolderRole role, std::string& path,
                                  FolderReference& folder) = 0;
    // Opens a document, folder or web address with the desktop's handler.
    // Throws qf::Error when nothing can open it.
    virtual void ShellOpen(const std::string& target) = 0;
};

} // namespace qf::desktop
