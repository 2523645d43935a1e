// The main window's behaviour without its widgets: the settings the controls
// show, the window's own settings record, the modified flag and the caption,
// which controls are enabled, the sample file name, the recent files, the
// file commands with their questions, and Go.  The window binds its widgets
// to this class; tests drive it directly.
#pragma once

#include "app/desktop/wizard/attachment_table.h"
#include "app/desktop/wizard/dialogs.h"
#include "app/desktop/wizard/run_job.h"
#include "app/desktop/wizard/ui_thread.h"
#include "mail/session.h"
#include "platform/registry/registry.h"
#include "run/run_host.h"
#include "settings/settings.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qf::desktop {

inline constexpr int kPageCount = 7;
enum Page {
    kLoginPage,
    kFoldersPage,
    kOutputPage,
    kHeaderFooterPage,
    kAttachmentsPage,
    kFilterPage,
    kGoPage
};

// The recent-files list: at most ten paths, most recent first; a path added
// again (compared without regard to case) moves to the top.
class RecentFiles {
public:
    static constexpr std::size_t kMaxFiles = 10;
    void Add(const std::string& path);
    const std::vector<std::string>& Paths() const { return paths_; }

private:
    std::vector<std::string> paths_;
};

// Which controls are enabled now.
struct ControlStates {
    bool profileGroup = true; // Profile, and the name and password as below
    bool profileName = false;
    bool password = false;
    bool testLogin = true;
    bool messageSource = false;
    bool browseFromFolder = false;
    bool messageDestination = false;
    bool browseToFolder = false;
    bool tagText = false;
    bool attachmentControls = false; // startTag, endTag, wordMacro, their labels, BitBtn3
    bool prevButton = false;
    bool nextButton = true;
    bool goButton = true;
    bool openCommands = true; // Open and the recent files
    bool operator==(const ControlStates&) const = default;
};

// The sample file name line under the file name format.
struct SampleName {
    std::string text;
    bool error = false; // shown in red
};

class WizardModel {
public:
    // The window a run reports to; it must take the run's calls from the
    // worker thread.  The model keeps it until the next Go or its own end.
    using RunWindowFactory = std::function<std::unique_ptr<RunHost>()>;
    // The word processor a run gets (null: attachments that need one fail).
    using WordProcessorFactory =
        std::function<std::unique_ptr<wordproc::WordProcessor>(const Settings& run)>;

    WizardModel(Dialogs& dialogs, UiThread& ui, registry::Registry& reg,
                std::unique_ptr<MapiSession> session = nullptr);
    ~WizardModel();
    WizardModel(const WizardModel&) = delete;
    WizardModel& operator=(const WizardModel&) = delete;

    // --- Hooks the program and later windows plug in ---------------------
    RunWindowFactory runWindowFactory;
    WordProcessorFactory wordProcessorFactory;
    // The controls must show Form() again (it changed under them).
    std::function<void()> onFormShown;
    // Caption, enabling, sample name or recent files may have changed.
    std::function<void()> onStateChanged;
    // The run has returned and released everything it used; its window is
    // still the one LastRunWindow() gives.
    std::function<void(RunHost& window)> onRunReturned;
    // A close that was put off while a run worked may now go ahead.
    std::function<void()> onCloseAllowed;
    // Start-up steps that later parts of the program fill in: the command
    // line, the automatic update offer, the first-start help and the tip of
    // the day (given whether this is the first start).  The command line
    // returns false when the remaining steps are skipped: an error stopped
    // it, or the program is about to end.
    std::function<bool()> processCommandLine;
    std::function<void()> offerUpdateIfDue;
    std::function<void(bool firstStart)> showFirstStartHelpOrTip;

    // --- Start-up ---------------------------------------------------------
    // Loads the record and the window values from the registry.
    void Create();
    // After the window is shown: shows the record, writes the window values,
    // then the command line, update offer and first-start help or tip.
    void AfterCreate();

    // --- What the controls show -------------------------------------------
    const Settings& Form() const { return form_; }
    const Settings& Record() const { return record_; }
    // A control changed: `change` edits the form, which marks it modified.
    // Refused (false, nothing changes) when it would change the logon
    // parameters while a run works.
    bool Edit(const std::function<void(Settings&)>& change);
    void ShowSettings(const Settings& record);
    void GatherSettings(Settings& record) const;

    bool Modified() const { return modified_; }
    void SetModified(bool modified);
    std::string Caption() const;
    ControlStates Controls() const;
    SampleName Sample() const;
    int CurrentPage() const { return page_; }
    void SetPage(int page);
    void NextPage();
    void PrevPage();
    const RecentFiles& Recent() const { return recent_; }
    // The filter tool line of page 6, and whether it says "not installed".
    std::string FilterToolText() const;
    bool FilterToolInstalled() const;
    const std::string& Language() const { return language_; }
    // A language chosen in the language chooser; kept in the registry at once.
    void SetLanguage(const std::string& name);
    // The tip of the day: the next tip's number and whether tips show at start.
    int CurrentTip() const { return currentTip_; }
    bool ShowTips() const { return showTips_; }
    void SetTipState(int currentTip, bool showTips);

    // --- Commands (errors are shown in the error box) ---------------------
    bool OpenFile(const std::string& path);
    bool SaveFile(const std::string& path);
    void OpenCommand();
    void SaveCommand();
    void SaveAsCommand();
    void OpenRecent(const std::string& path);
    // An options file to open from outside the window (command line, a
    // second instance): opened at once, or after the run that works now.
    void RequestOpen(const std::string& path);
    void TestLogin();
    void EditAttachmentTypes();
    void BrowseFolder(FolderRole role);
    // Validates, opens a run window and starts the run on a worker thread.
    // False when nothing was started.
    bool Go();
    // Go, telling why nothing was started: Declined when a validation
    // question was answered No, Failed when an error was shown.
    enum class GoStart { Started, Declined, Failed };
    GoStart StartGo();
    bool Running() const { return job_ != nullptr; }
    // Waits (handling events) until the run in progress has returned.
    void WaitForRun();
    // The run window of the last Go, while the model keeps it.
    RunHost* LastRunWindow() const { return runWindow_.get(); }
    std::optional<RunOutcome> LastOutcome() const { return lastOutcome_; }
    // Makes the end of a normal run save the open options file.
    void SetUpdateCount(bool on) { updateCount_ = on; }

    // --- Closing ----------------------------------------------------------
    // The close question: true when the window may close.  While a run works
    // the close is put off (false) and onCloseAllowed fires after the run.
    bool QueryClose();
    // The window closes: the settings go to the registry.
    void Close();
    // The window values: recent files, language, tips, installation folder,
    // and "isFirstDay" false.
    void WriteWindowValues();

    MapiSession& Session() { return *session_; }

private:
    void StateChanged();
    void FormShown();
    void ApplyLogonParameters();
    void RunFinished(RunOutcome outcome);
    void SaveAfterRun();
    template <typename Fn> bool Guarded(Fn&& fn);

    Dialogs& dialogs_;
    UiThread& ui_;
    registry::Registry& reg_;
    std::unique_ptr<MapiSession> session_;
    Settings record_;
    Settings form_;
    bool modified_ = false;
    int page_ = kLoginPage;
    RecentFiles recent_;
    std::string language_ = "English";
    bool showTips_ = false;
    int currentTip_ = 0;
    bool firstDay_ = true;
    bool updateCount_ = false;
    std::unique_ptr<RunHost> runWindow_;
    std::unique_ptr<RunJob> job_;
    std::optional<RunOutcome> lastOutcome_;
    bool closePending_ = false;
    std::vector<std::string> pendingOpens_;
};

// Multi-line texts: an editor's text as the record keeps it (each line
// followed by CR LF) and back (lines joined by LF).
std::string EditorTextToField(const std::string& editorText);
std::string FieldToEditorText(const std::string& field);

} // namespace qf::desktop
