#include "app/desktop/wizard/wizard_model.h"

#include "common/error.h"
#include "common/installation.h"
#include "i18n/translate.h"
#include "mail/mail_time.h"
#include "run/macros.h"
#include "run/run_record.h"
#include "settings/number_format.h"

#include <algorithm>
#include <cctype>
#include <ctime>
#include <filesystem>

namespace qf::desktop {

namespace {

bool SameNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

// The email the sample file name is made for.
class SampleEmail : public EmailFields {
public:
    std::string FieldValue(std::string_view name) override {
        if (name == "SUBJECT") {
            return "Subject";
        }
        if (name == "FROM") {
            return "sender@example.com";
        }
        if (name == "TO") {
            return "recipient@example.com";
        }
        if (name == "NOW") {
            return TodayYyyymmdd();
        }
        if (name == "SENT") {
            return FormatShortDate(Now()) + " " + FormatLongTime(Now());
        }
        return "";
    }
    std::optional<DateTime> DeliveryTime() override { return Now(); }
    std::string ReadBody() override { return ""; }

private:
    static DateTime Now() {
        const std::time_t t = std::time(nullptr);
        std::tm local{};
        ::localtime_r(&t, &local);
        DateTimeParts parts;
        parts.year = local.tm_year + 1900;
        parts.month = local.tm_mon + 1;
        parts.day = local.tm_mday;
        parts.hour = local.tm_hour;
        parts.minute = local.tm_min;
        parts.second = local.tm_sec;
        return EncodeDateTime(parts);
    }
};

bool LogonFieldsDiffer(const Settings& a, const Settings& b) {
    return a.profile != b.profile || a.profileName != b.profileName || a.password != b.password;
}

} // namespace

std::string EditorTextToField(const std::string& editorText) {
    return JoinLines(SplitLines(editorText));
}

std::string FieldToEditorText(const std::string& field) {
    std::string text;
    const std::vector<std::string> lines = SplitLines(field);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        text += (i == 0 ? "" : "\n") + lines[i];
    }
    return text;
}

void RecentFiles::Add(const std::string& path) {
    std::erase_if(paths_, [&](const std::string& p) { return SameNoCase(p, path); });
    paths_.insert(paths_.begin(), path);
    if (paths_.size() > kMaxFiles) {
        paths_.resize(kMaxFiles);
    }
}

WizardModel::WizardModel(Dialogs& dialogs, UiThread& ui, registry::Registry& reg,
                         std::unique_ptr<MapiSession> session)
    : dialogs_(dialogs), ui_(ui), reg_(reg), session_(std::move(session)) {
    if (!session_) {
        session_ = std::make_unique<MapiSession>();
    }
}

WizardModel::~WizardModel() {
    // A run still working is stopped and waited for before the session, the
    // record and the run window it uses go.
    if (job_) {
        job_->Cancel();
    }
    job_.reset();
}

// ---------------------------------------------------------------- start-up

void WizardModel::Create() {
    session_->SetLogonParameters(form_.profile, form_.profileName, form_.password);
    registry::RegistryKey key(reg_);
    if (key.OpenKey(kSettingsKey, false)) {
        // The window values are read only once the settings key exists.
        language_ = key.ValueExists("language") ? key.ReadString("language") : "English";
        showTips_ = key.ValueExists("show tips") ? key.ReadBool("show tips") : true;
        currentTip_ = key.ValueExists("current tip") ? key.ReadInteger("current tip") : 0;
        firstDay_ = key.ValueExists("isFirstDay") ? key.ReadBool("isFirstDay") : true;
        key.CloseKey();
    }
    record_.LoadFromRegistry(reg_);
    page_ = kLoginPage;
}

void WizardModel::AfterCreate() {
    page_ = kLoginPage;
    Guarded([&] { ShowSettings(record_); });
    Guarded([&] { WriteWindowValues(); });
    const bool ok = Guarded([&] {
        if (processCommandLine && !processCommandLine()) {
            return;
        }
        if (offerUpdateIfDue) {
            offerUpdateIfDue();
        }
        if (showFirstStartHelpOrTip) {
            showFirstStartHelpOrTip(firstDay_);
        }
    });
    (void)ok; // an error ends the start-up steps there; the window stays open
}

// ---------------------------------------------------------------- the form

bool WizardModel::Edit(const std::function<void(Settings&)>& change) {
    Settings edited = form_;
    change(edited);
    if (Running() && LogonFieldsDiffer(edited, form_)) {
        // The run uses the session: its logon must not change under it.
        FormShown();
        return false;
    }
    form_ = std::move(edited);
    ApplyLogonParameters();
    modified_ = true;
    StateChanged();
    return true;
}

void WizardModel::ApplyLogonParameters() {
    if (!Running()) {
        session_->SetLogonParameters(form_.profile, form_.profileName, form_.password);
    }
}

void WizardModel::ShowSettings(const Settings& record) {
    Settings shown = record;
    // The attachment types grid must be able to show the table.
    (void)ListToGrid(shown);
    for (std::string* text :
         {&shown.startTag, &shown.endTag, &shown.emailHeader, &shown.emailFooter}) {
        *text = EditorTextToField(*text);
    }
    const bool logonChanges = LogonFieldsDiffer(shown, form_);
    if (Running() && logonChanges) {
        throw Error("The settings cannot change the logon profile while a run works.");
    }
    form_ = std::move(shown);
    ApplyLogonParameters();
    modified_ = false;
    FormShown();
}

void WizardModel::GatherSettings(Settings& record) const {
    const Settings kept = record;
    record = form_;
    record.formatVersion = kept.formatVersion;
    record.optionsFilePath = kept.optionsFilePath;
    record.reprocessEmails = kept.reprocessEmails;
    record.reservedInteger = kept.reservedInteger;
}

void WizardModel::SetModified(bool modified) {
    if (modified_ != modified) {
        modified_ = modified;
        StateChanged();
    }
}

std::string WizardModel::Caption() const {
    std::string name = std::filesystem::path(record_.optionsFilePath).filename().string();
    if (record_.optionsFilePath.empty()) {
        name = "Untitled";
    }
    return name + (modified_ ? " (modified)" : "") + " - " + kProductTitle;
}

ControlStates WizardModel::Controls() const {
    ControlStates c;
    const bool idle = !Running();
    c.profileGroup = idle;
    c.profileName = idle && form_.profile == Settings::kNamedProfile;
    c.password = c.profileName;
    c.testLogin = idle;
    c.messageSource = form_.emailsFrom == Settings::kFromFolder;
    c.browseFromFolder = c.messageSource && idle;
    c.messageDestination = form_.emailsTo == Settings::kMoveEmails;
    c.browseToFolder = c.messageDestination && idle;
    c.tagText = form_.emailsTo == Settings::kTagSubject;
    c.attachmentControls = form_.includeAttachments;
    c.prevButton = page_ > 0;
    c.nextButton = page_ < kPageCount - 1;
    c.goButton = idle;
    c.openCommands = idle;
    return c;
}

SampleName WizardModel::Sample() const {
    try {
        SampleEmail email;
        EmailMacros macros(email, std::nullopt);
        const std::string expanded =
            ExpandMacros(form_.fileNameFormat, macros, MacroUse::NameFormat);
        const std::string name = FormatFileNumber(expanded, form_.firstNumber);
        return {TranslateFmt(8461, "Sample filename: %s", {name}), false};
    } catch (const std::exception& e) {
        return {TranslateFmt(8460, "Error - see help or fix format: %s", {std::string(e.what())}),
                true};
    }
}

void WizardModel::SetPage(int page) {
    page_ = std::clamp(page, 0, kPageCount - 1);
    StateChanged();
}

void WizardModel::NextPage() {
    SetPage(page_ < kPageCount - 1 ? page_ + 1 : page_);
}

void WizardModel::PrevPage() {
    SetPage(page_ > 0 ? page_ - 1 : page_);
}

bool WizardModel::FilterToolInstalled() const {
    return !Settings::FilterToolFolder(reg_).empty();
}

std::string WizardModel::FilterToolText() const {
    return FilterToolInstalled() ? TranslateMsg(8410, "Siftloom Pro is installed")
                                 : TranslateMsg(8400, "** Siftloom Pro is NOT installed **");
}

void WizardModel::StateChanged() {
    if (onStateChanged) {
        onStateChanged();
    }
}

void WizardModel::FormShown() {
    if (onFormShown) {
        onFormShown();
    }
    StateChanged();
}

template <typename Fn> bool WizardModel::Guarded(Fn&& fn) {
    try {
        fn();
        return true;
    } catch (const std::exception& e) {
        dialogs_.ShowError(e.what());
        return false;
    }
}

// ---------------------------------------------------------------- files

bool WizardModel::OpenFile(const std::string& path) {
    return Guarded([&] {
        // Read into a copy: a file that fails leaves everything as it was.
        Settings loaded = record_;
        loaded.LoadFromFile(path);
        ShowSettings(loaded);
        record_ = std::move(loaded);
        recent_.Add(path);
        StateChanged();
    });
}

bool WizardModel::SaveFile(const std::string& path) {
    return Guarded([&] {
        Settings saved = record_;
        GatherSettings(saved);
        saved.SaveToFile(path);
        record_ = std::move(saved);
        recent_.Add(path);
        modified_ = false;
        StateChanged();
    });
}

void WizardModel::OpenCommand() {
    if (Running()) {
        return;
    }
    if (auto path = dialogs_.ChooseFileToOpen()) {
        OpenFile(*path);
    }
}

void WizardModel::SaveCommand() {
    if (!record_.optionsFilePath.empty()) {
        SaveFile(record_.optionsFilePath);
    } else {
        SaveAsCommand();
    }
}

void WizardModel::SaveAsCommand() {
    if (auto path = dialogs_.ChooseFileToSave()) {
        SaveFile(*path);
    }
}

void WizardModel::OpenRecent(const std::string& path) {
    if (Running()) {
        return;
    }
    if (modified_) {
        switch (dialogs_.AskYesNoCancel(TranslateMsg(8430, "Save current settings?"))) {
        case Dialogs::Answer::Cancel:
            return;
        case Dialogs::Answer::Yes:
            SaveCommand();
            break;
        case Dialogs::Answer::No:
            break;
        }
    }
    OpenFile(path);
}

void WizardModel::RequestOpen(const std::string& path) {
    if (Running()) {
        pendingOpens_.push_back(path);
        return;
    }
    OpenFile(path);
}

// ---------------------------------------------------------------- commands

void WizardModel::TestLogin() {
    if (Running()) {
        return;
    }
    Guarded([&] {
        session_->SetLogonParameters(form_.profile, form_.profileName, form_.password);
        session_->Logon();
        dialogs_.ShowMessage(TranslateMsg(4441, "Login succeeded"));
    });
}

void WizardModel::EditAttachmentTypes() {
    Guarded([&] {
        AttachmentRows rows = ListToGrid(form_);
        if (!dialogs_.EditAttachmentTypes(rows)) {
            return; // Cancel: the table stays as it was when the editor opened
        }
        GridToList(rows, form_);
        GridToList(rows, record_);
        modified_ = true;
        StateChanged();
    });
}

void WizardModel::BrowseFolder(FolderRole role) {
    if (Running()) {
        return;
    }
    Guarded([&] {
        std::string path;
        FolderReference folder;
        if (!dialogs_.ChooseMailFolder(*session_, role, path, folder)) {
            return;
        }
        if (role == FolderRole::Source) {
            form_.messageSource = path;
            form_.sourceFolder = folder;
        } else {
            form_.messageDestination = path;
            form_.destinationFolder = folder;
        }
        modified_ = true;
        FormShown();
    });
}

// ---------------------------------------------------------------- Go

bool WizardModel::Go() {
    return StartGo() == GoStart::Started;
}

WizardModel::GoStart WizardModel::StartGo() {
    if (Running()) {
        return GoStart::Failed;
    }
    Settings run = record_;
    GatherSettings(run);
    ValidationHooks hooks;
    hooks.askYesNo = [this](const std::string& q) { return dialogs_.AskYesNo(q); };
    hooks.shellOpen = [this](const std::string& address) {
        Guarded([&] { dialogs_.ShellOpen(address); });
    };
    hooks.recordedNextNumber = RecordedNextNumber;
    bool valid = false;
    if (!Guarded([&] { valid = run.Validate(hooks); })) {
        return GoStart::Failed;
    }
    if (!valid) {
        return GoStart::Declined;
    }
    if (!runWindowFactory) {
        dialogs_.ShowError("No run window is available.");
        return GoStart::Failed;
    }
    std::unique_ptr<RunHost> window;
    std::unique_ptr<wordproc::WordProcessor> wordProcessor;
    if (!Guarded([&] {
            window = runWindowFactory();
            if (wordProcessorFactory) {
                wordProcessor = wordProcessorFactory(run);
            }
        })) {
        return GoStart::Failed;
    }
    // The previous run window goes only now: a run never outlives its window.
    runWindow_ = std::move(window);
    RunHandBack handBack;
    handBack.setNextFileNumber = [this](std::int32_t next) {
        Edit([next](Settings& s) { s.firstNumber = next; });
        FormShown();
    };
    handBack.saveAfterRun = [this] { SaveAfterRun(); };
    job_ = std::make_unique<RunJob>(std::move(run), *runWindow_, *session_,
                                    std::move(wordProcessor), reg_, ui_, std::move(handBack));
    lastOutcome_.reset();
    StateChanged();
    job_->Start([this](RunOutcome outcome) { RunFinished(outcome); });
    return GoStart::Started;
}

void WizardModel::SaveAfterRun() {
    if (updateCount_ && !record_.optionsFilePath.empty()) {
        Settings saved = record_;
        GatherSettings(saved);
        saved.SaveToFile(record_.optionsFilePath);
        record_ = std::move(saved);
        recent_.Add(record_.optionsFilePath);
        modified_ = false;
        StateChanged();
    }
}

void WizardModel::RunFinished(RunOutcome outcome) {
    job_.reset();
    if (onRunReturned && runWindow_) {
        onRunReturned(*runWindow_);
    }
    lastOutcome_ = outcome;
    ApplyLogonParameters();
    StateChanged();
    // What arrived during the run is handled now, in order.
    std::vector<std::string> opens;
    opens.swap(pendingOpens_);
    for (const std::string& path : opens) {
        OpenFile(path);
    }
    if (closePending_) {
        closePending_ = false;
        if (onCloseAllowed) {
            onCloseAllowed();
        }
    }
}

void WizardModel::WaitForRun() {
    while (Running()) {
        ui_.ProcessEvents(10);
    }
}

// ---------------------------------------------------------------- closing

bool WizardModel::QueryClose() {
    if (Running()) {
        closePending_ = true;
        return false;
    }
    if (!modified_) {
        return true;
    }
    switch (dialogs_.AskYesNoCancel(TranslateMsg(8430, "Save current settings?"))) {
    case Dialogs::Answer::Cancel:
        return false;
    case Dialogs::Answer::Yes:
        SaveCommand(); // the window closes even when the save dialog is cancelled
        return true;
    case Dialogs::Answer::No:
        return true;
    }
    return true;
}

void WizardModel::Close() {
    Guarded([&] {
        GatherSettings(record_);
        record_.SaveToRegistry(reg_);
    });
}

void WizardModel::SetLanguage(const std::string& name) {
    language_ = name;
    registry::RegistryKey key(reg_);
    if (key.OpenKey(kSettingsKey, true)) {
        key.WriteString("language", language_);
        key.CloseKey();
    }
}

void WizardModel::SetTipState(int currentTip, bool showTips) {
    currentTip_ = currentTip;
    showTips_ = showTips;
}

void WizardModel::WriteWindowValues() {
    registry::RegistryKey key(reg_);
    if (!key.OpenKey(kSettingsKey, true)) {
        return;
    }
    key.WriteString(std::string(kSettingsKey) + "\\Recent files", JoinLines(recent_.Paths()));
    key.WriteString("language", language_);
    key.WriteBool("show tips", showTips_);
    key.WriteInteger("current tip", currentTip_);
    key.WriteString("rootDir", InstallationFolder());
    key.WriteBool("isFirstDay", false);
    key.CloseKey();
}

} // namespace qf::desktop
