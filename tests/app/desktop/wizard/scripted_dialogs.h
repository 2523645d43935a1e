// Dialogs answered from a script: every question is recorded, and one the
// script did not foresee gets No / Cancel, so no test ever waits on a box.
#pragma once

#include "app/desktop/wizard/dialogs.h"
#include "settings/settings.h"

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qf::desktop::testing {

class ScriptedDialogs : public Dialogs {
public:
    std::vector<std::string> errors;
    std::vector<std::string> messages;
    std::vector<std::string> questions;
    std::vector<std::string> opened; // ShellOpen targets
    std::deque<bool> yesNoAnswers;
    std::deque<Answer> yesNoCancelAnswers;
    std::optional<std::string> fileToOpen;
    std::optional<std::string> fileToSave;
    int saveDialogsShown = 0;
    std::optional<std::string> folderToChoose;
    std::optional<std::string> filterFileToChoose;
    // The attachment types editor: edits the rows, returns true for OK.
    std::function<bool(AttachmentRows&)> attachmentEditor;
    std::function<bool(FolderRole, std::string&, FolderReference&)> folderChooser;

    void ShowError(const std::string& text) override { errors.push_back(text); }
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    bool AskYesNo(const std::string& question) override {
        questions.push_back(question);
        if (yesNoAnswers.empty()) {
            return false;
        }
        const bool answer = yesNoAnswers.front();
        yesNoAnswers.pop_front();
        return answer;
    }
    Answer AskYesNoCancel(const std::string& question) override {
        questions.push_back(question);
        if (yesNoCancelAnswers.empty()) {
            return Answer::Cancel;
        }
        const Answer answer = yesNoCancelAnswers.front();
        yesNoCancelAnswers.pop_front();
        return answer;
    }
    std::optional<std::string> ChooseFileToOpen() override { return fileToOpen; }
    std::optional<std::string> ChooseFileToSave() override {
        ++saveDialogsShown;
        return fileToSave;
    }
    std::optional<std::string> ChooseFolder(const std::string&) override { return folderToChoose; }
    std::optional<std::string> ChooseFilterFile(const std::string&) override {
        return filterFileToChoose;
    }
    bool EditAttachmentTypes(AttachmentRows& rows) override {
        return attachmentEditor && attachmentEditor(rows);
    }
    bool ChooseMailFolder(MapiSession&, FolderRole role, std::string& path,
                          FolderReference& folder) override {
        return folderChooser && folderChooser(role, path, folder);
    }
    void ShellOpen(const std::string& target) override { opened.push_back(target); }
};

} // namespace qf::desktop::testing
