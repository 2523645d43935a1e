#include "run/extraction_run.h"

#include "common/error.h"
#include "i18n/translate.h"
#include "mail/email.h"
#include "mail/session.h"
#include "mail/store.h"
#include "platform/messaging/change_batch.h"
#include "run/email_text.h"
#include "run/mail_adapters.h"

#include <algorithm>
#include <cwchar>
#include <cwctype>
#include <utility>

namespace qf {
namespace {

std::wstring LowerWide(const std::string& utf8) {
    std::wstring out;
    out.reserve(utf8.size());
    std::mbstate_t state{};
    const char* p = utf8.data();
    const char* end = p + utf8.size();
    while (p < end) {
        wchar_t wc = 0;
        const size_t n = std::mbrtowc(&wc, p, static_cast<size_t>(end - p), &state);
        if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2)) {
            // Not valid in this locale: compare the byte itself.
            wc = static_cast<wchar_t>(static_cast<unsigned char>(*p));
            state = {};
            ++p;
        } else {
            p += (n == 0 ? 1 : n);
        }
        out += static_cast<wchar_t>(std::towlower(static_cast<wint_t>(wc)));
    }
    return out;
}

int Sign(int v) {
    return (v > 0) - (v < 0);
}

} // namespace

int CompareTextNoCase(const std::string& a, const std::string& b) {
    const std::wstring wa = LowerWide(a);
    const std::wstring wb = LowerWide(b);
    const int c = std::wcscoll(wa.c_str(), wb.c_str());
    return c != 0 ? Sign(c) : Sign(wa.compare(wb));
}

int CompareEmails(EmailMessage& a, EmailMessage& b, int sortOrder) {
    switch (sortOrder) {
    case Settings::kByDate:
        // An email without a delivery time (0) sorts before every dated one.
        return (a.deliveryTime > b.deliveryTime) - (a.deliveryTime < b.deliveryTime);
    case Settings::kBySubject:
        return CompareTextNoCase(a.subject, b.subject);
    case Settings::kBySubjectNoPrefix:
        return CompareTextNoCase(a.SubjectWithoutPrefix(), b.SubjectWithoutPrefix());
    case Settings::kByFrom:
        return CompareTextNoCase(a.senderAddress, b.senderAddress);
    default:
        return 0;
    }
}

ExtractionRun::ExtractionRun(Settings settings, RunHost& host, RunServices services)
    : settings_(std::move(settings)), context_(settings_, host), services_(std::move(services)),
      attachments_(context_, services_.wordProcessor, services_.print, services_.pdfReader),
      source_(MakeEmptyFolderReference(&services_.session)),
      destination_(MakeEmptyFolderReference(&services_.session)) {
    settings_.directory = Settings::NormalizeFolder(settings_.directory);
    settings_.manualFolder = Settings::NormalizeFolder(settings_.manualFolder);
}

ExtractionRun::~ExtractionRun() = default;

RunOutcome ExtractionRun::Execute() {
    // Each file written checks its name against its folder's limit.
    FileNameLimitMemo nameLimits;
    try {
        Run();
    } catch (const std::exception& e) {
        outcome_ = RunOutcome::Failed;
        // The emails written before the failure are complete: they are
        // disposed of when their files can be made durable.
        try {
            if (!syncFailed_) {
                CommitBatch();
            }
        } catch (const std::exception&) {
            // The failure below is the one to tell.
        }
        if (syncDone_.valid()) {
            syncDone_.wait();
        }
        ReportUnwrittenNotes(syncing_);
        ReportUnwrittenNotes(batch_);
        for (const RunContext::Note& note : context_.TakeNotes()) {
            context_.AddException(note.row, nullptr); // the email in hand
        }
        context_.Report().End(RunEnding::Failed, e.what(), LocalNow());
        context_.Host().ShowError(e.what());
        // The next run must not reuse the numbers of files already written.
        HandBackFileNumber();
    }
    // The attachment copies go however the run ended.
    context_.DeleteTempFiles();
    batch_.clear();
    syncing_.clear();
    emails_.clear();
    context_.Host().ReportReady(context_.Report());
    return outcome_;
}

void ExtractionRun::Run() {
    RunHost& host = context_.Host();
    host.Show();
    host.PumpMessages();
    context_.SetFileNumber(settings_.firstNumber);
    // A run after a crash continues after the files the crashed run wrote:
    // their emails may already be moved or tagged.
    if (const auto recorded = record_.Acquire(settings_.directory);
        recorded && *recorded > context_.FileNumber()) {
        context_.SetFileNumber(*recorded);
    }
    OpenOutputFileSystems();

    context_.SetStatus(TranslateMsg(8250, "Connecting to MAPI client..."));
    context_.SetStatus(TranslateMsg(8260, "Locating source mail folder..."));
    LocateFolders();

    if (settings_.includeAttachments) {
        attachments_.Documents().ConnectWordProcessor();
    }

    context_.SetStatus(TranslateMsg(8290, "Counting emails..."));
    source_.folder->ListEmails(emails_);
    count_ = static_cast<int>(emails_.size());

    context_.SetStatus(TranslateMsg(8310, "Sorting emails..."));
    SortEmails();

    context_.SetStatus(TranslateMsg(8320, "Processing emails..."));
    const int processed = ProcessEmails();

    if (settings_.includeAttachments) {
        attachments_.Documents().QuitWordProcessor();
    }
    if (context_.Cancelled()) {
        ReportInterrupted(processed);
    } else {
        ReportComplete();
    }
    host.Finish();
}

void ExtractionRun::LocateFolders() {
    SelectSourceFolder();
    OpenFolderOrExplain(source_, [this] {
        return TranslateFmt(
            8261,
            "The source folder %s could not be found.\r\nThis can happen if you move, copy or "
            "rename the folder, or connect to it from a different machine or with a different "
            "login name.\r\n\r\nPlease re-select the source folder in the folder browse window",
            {settings_.messageSource});
    });
    if (settings_.emailsTo != Settings::kMoveEmails) {
        return;
    }
    context_.SetStatus(TranslateMsg(8280, "Locating destination mail folder..."));
    destination_ = MakeFolderReference(&services_.session, settings_.messageDestination,
                                       settings_.destinationFolder.storeId.Bytes(),
                                       settings_.destinationFolder.folderId.Bytes());
    OpenFolderOrExplain(destination_, [this] {
        return TranslateFmt(
            8281,
            "The destination folder %s could not be found.\r\nThis can happen if you move, copy "
            "or rename the folder, or connect to it from a different machine or with a different "
            "login name.\r\n\r\nPlease re-select the destination folder in the folder browse "
            "window",
            {settings_.messageDestination});
    });
}

void ExtractionRun::SelectSourceFolder() {
    if (settings_.emailsFrom != Settings::kDefaultInbox) {
        source_ = MakeFolderReference(&services_.session, settings_.messageSource,
                                      settings_.sourceFolder.storeId.Bytes(),
                                      settings_.sourceFolder.folderId.Bytes());
        return;
    }
    // Failing to find the default store or its inbox keeps the mail layer's
    // own error text.
    MailStore* store = services_.session.OpenDefaultStore();
    if (!store) {
        throw Error(TranslateMsg(8718, "The mail profile has no default message store."));
    }
    source_.store->Assign(*store);
    source_.folder->UseDefaultInbox();
}

void ExtractionRun::OpenFolderOrExplain(OpenedFolderReference& folder,
                                        const std::function<std::string()>& notFound) {
    try {
        folder.folder->OpenFolder(folder.store->GetMsgStore());
    } catch (const Error&) {
        throw Error(notFound());
    }
}

void ExtractionRun::SortEmails() {
    const int order = settings_.sortOrder;
    if (order < Settings::kByDate || order > Settings::kByFrom) {
        return;
    }
    const bool descending = settings_.descending;
    std::sort(emails_.begin(), emails_.end(),
              [order, descending](const std::unique_ptr<EmailMessage>& a,
                                  const std::unique_ptr<EmailMessage>& b) {
                  const int c = CompareEmails(*a, *b, order);
                  return descending ? c > 0 : c < 0;
              });
}

int ExtractionRun::ProcessEmails() {
    readAhead_ = std::make_unique<EmailReadAhead>(
        emails_, services_.readAhead,
        [this](const EmailMessage& email) { return !TaggedByEarlierRun(email); },
        [this](EmailMessage& email) {
            // Its documents start converting while the emails before it are
            // written.
            if (settings_.includeAttachments && email.hasAttachments) {
                attachments_.ConvertUpcoming(email);
            }
            if (services_.onEmailReadAhead) {
                services_.onEmailReadAhead(email);
            }
        });
    // Stopped (and its thread gone) before this returns, whatever happens.
    struct StopReadAhead {
        std::unique_ptr<EmailReadAhead>& readAhead;
        ~StopReadAhead() { readAhead.reset(); }
    } stop{readAhead_};
    EmailReadAhead& readAhead = *readAhead_;
    int index = 1;
    for (; index <= count_; ++index) {
        if (context_.Cancelled()) {
            break;
        }
        context_.Pump();
        context_.BeginEmail();
        readAhead.Take(static_cast<std::size_t>(index - 1));
        std::unique_ptr<EmailMessage>& email = emails_[static_cast<size_t>(index - 1)];
        ProcessEmail(email, index);
        email.reset();
        if (BatchDue()) {
            StartBatchSync();
        } else if (SyncDone()) {
            FinishBatchSync();
        }
    }
    CommitBatch();
    return index - 1;
}

void ExtractionRun::ProcessEmail(std::unique_ptr<EmailMessage>& email, int index) {
    ShowProgress(*email, index);
    if (TaggedByEarlierRun(*email)) {
        return;
    }
    EmailAdapter fields(*email);
    context_.Report().BeginEmail(email->senderAddress, email->subject, fields.DeliveryTime());
    // The name is fixed before anything is written: the attachment notes, the
    // output file and its times all use it.
    const std::string outputFile = NameOutputFile(fields);
    if (!NameIsNew(*email, outputFile)) {
        return;
    }
    const std::string text = ComposeText(*email, fields);
    WriteOutputFile(outputFile, text);
    SetFileTimes(outputFile, fields.DeliveryTime());
    context_.CountFileWritten(outputFile);
    const std::optional<std::size_t> reportRow = context_.Report().CurrentRow();
    context_.Report().EndEmail();
    currentWritten_ = false;
    if (batch_.empty()) {
        batchStart_ = std::chrono::steady_clock::now();
        batchBytes_ = 0;
    }
    batchBytes_ +=
        static_cast<std::size_t>(std::max<std::int32_t>(email->messageSize, 0)) + text.size();
    batch_.push_back(Written{std::move(email), outputFile, context_.ManualIntervention(),
                             context_.AttachmentsCut(), reportRow, context_.TakeNotes()});
}

void ExtractionRun::ShowProgress(const EmailMessage& email, int index) {
    context_.SetStatus(
        TranslateFmt(8330, "Processing email %d of %d",
                     {static_cast<std::int64_t>(index), static_cast<std::int64_t>(count_)}));
    context_.SetProgress(static_cast<int>(static_cast<std::int64_t>(index) * 100 / count_),
                         email.subject);
}

bool ExtractionRun::TaggedByEarlierRun(const EmailMessage& email) const {
    return settings_.emailsTo == Settings::kTagSubject &&
           email.subject.compare(0, settings_.tagText.size(), settings_.tagText) == 0;
}

std::string ExtractionRun::NameOutputFile(EmailFields& fields) const {
    return OutputFileName(settings_.directory, settings_.fileNameFormat, fields,
                          context_.FileNumber());
}

bool ExtractionRun::NameIsNew(const EmailMessage& email, const std::string& outputFile) {
    if (!context_.WasWritten(outputFile)) {
        return true;
    }
    // Writing it would replace the text of an email already moved or tagged:
    // that text would be lost for good.  This email stays where it is for the
    // next run (with a better format); the others go on.
    context_.AddException(
        TranslateFmt(8390,
                     "Email with subject \"%s\" was left where it was: its output file %s was "
                     "already written for another email of this run. The filename format \"%s\" "
                     "must give each email a name of its own, for example with a number such as "
                     "%%d.",
                     {email.subject, outputFile, settings_.fileNameFormat}),
        &email);
    return false;
}

std::string ExtractionRun::ComposeText(EmailMessage& email, EmailFields& fields) {
    std::string text = ComposeEmailText(fields, settings_.emailHeader, settings_.emailFooter,
                                        context_.FileNumber());
    if (settings_.includeAttachments && email.hasAttachments) {
        attachments_.ProcessAttachments(email, text);
    }
    return text;
}

void ExtractionRun::WriteOutputFile(const std::string& outputFile, const std::string& text) {
    WriteWholeFile(outputFile, text);
    currentWritten_ = true;
    context_.Report().SetOutputFile(outputFile);
}

void ExtractionRun::MarkReadWhenAsked(EmailMessage& email) {
    if (settings_.readStatus) {
        email.MarkRead();
        if (EmailRecord* record = context_.Report().Current()) {
            record->markedRead = true;
        }
    }
}

void ExtractionRun::OpenOutputFileSystems() {
    // Opened before the first file is written, so that a sync reports every
    // write-back failure of the run.
    outputSyncs_.push_back(std::make_unique<FileSystemSync>(settings_.directory));
    if (!settings_.includeAttachments || settings_.manualFolder == settings_.directory) {
        context_.SetManualCopyDurability(Durability::Deferred);
        return;
    }
    std::unique_ptr<FileSystemSync> sync;
    try {
        sync = std::make_unique<FileSystemSync>(settings_.manualFolder);
    } catch (const FileError&) {
        return; // no copy can be saved there: each attachment that needs one is an exception
    }
    // The batch's sync makes the copies there durable too.
    context_.SetManualCopyDurability(Durability::Deferred);
    if (sync->Device() != outputSyncs_.front()->Device()) {
        outputSyncs_.push_back(std::move(sync));
    }
}

bool ExtractionRun::BatchDue() const {
    return !batch_.empty() &&
           (static_cast<int>(batch_.size()) >= services_.batchEmails ||
            batchBytes_ >= services_.batchBytes ||
            std::chrono::steady_clock::now() - batchStart_ >= services_.batchTime);
}

void ExtractionRun::CommitBatch() {
    StartBatchSync();
    FinishBatchSync();
}

void ExtractionRun::StartBatchSync() {
    if (batch_.empty()) {
        return;
    }
    FinishBatchSync(); // one sync at a time: the earlier batch goes first
    syncing_ = std::move(batch_);
    batch_.clear();
    syncingNext_ = context_.FileNumber();
    record_.Commit(syncingNext_);
    // The sync works on a thread of its own while this one writes the next
    // batch; a failure comes back through the future.
    syncDone_ = std::async(std::launch::async, [this] {
        for (const auto& sync : outputSyncs_) {
            sync->Sync();
        }
    });
}

bool ExtractionRun::SyncDone() const {
    return syncDone_.valid() &&
           syncDone_.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

void ExtractionRun::FinishBatchSync() {
    if (!syncDone_.valid()) {
        return;
    }
    // Taken out first: a batch whose sync failed is never tried again (the
    // failure is reported once, and a second sync could succeed although the
    // files never reached the disk).
    std::vector<Written> batch = std::move(syncing_);
    syncing_.clear();
    try {
        syncDone_.get();
    } catch (...) {
        // The failure is reported once: a later sync could succeed although
        // files of later batches were lost with this one.
        syncFailed_ = true;
        ReportUnwrittenNotes(batch);
        throw;
    }
    context_.Host().KeepNextFileNumber(syncingNext_);
    // The mail store's changes are batched too: one sync for all of them.
    mapi::ChangeBatch changes;
    // Each email's row in the report takes what becomes of it.
    RunReport& report = context_.Report();
    const std::optional<std::size_t> inHand = report.CurrentRow();
    for (Written& written : batch) {
        report.SetCurrentRow(written.reportRow);
        MarkReadWhenAsked(*written.email);
        WriteNotes(written);
        DisposeOfEmail(written);
        if (readAhead_) {
            readAhead_->Release(std::move(written.email->mapiMessage));
        }
        written.email.reset();
    }
    report.SetCurrentRow(inHand);
    if (const int err = changes.Commit(); err != 0) {
        ThrowSystemError("Cannot write file", settings_.messageSource, err);
    }
}

void ExtractionRun::WriteNotes(Written& written) {
    if (written.notes.empty()) {
        return;
    }
    // One change for all of them (the last one on top, as each goes before
    // the body as it stands).
    std::string text;
    for (auto note = written.notes.rbegin(); note != written.notes.rend(); ++note) {
        text += note->text;
    }
    std::string noteError;
    try {
        written.email->PrependToBody(text);
    } catch (const std::exception& e) {
        noteError = e.what();
    }
    for (const RunContext::Note& note : written.notes) {
        context_.AddException(noteError.empty() ? note.row : note.row + " - " + noteError,
                              written.email.get());
    }
}

void ExtractionRun::ReportUnwrittenNotes(std::vector<Written>& batch) {
    RunReport& report = context_.Report();
    const std::optional<std::size_t> inHand = report.CurrentRow();
    for (Written& written : batch) {
        report.SetCurrentRow(written.reportRow);
        for (const RunContext::Note& note : std::exchange(written.notes, {})) {
            context_.AddException(note.row, written.email.get());
        }
    }
    report.SetCurrentRow(inHand);
}

void ExtractionRun::DisposeOfEmail(Written& written) {
    EmailMessage& email = *written.email;
    const std::string& outputFile = written.outputFile;
    if (written.attachmentsCut && settings_.emailsTo != Settings::kLeaveEmails) {
        // Moving or tagging it would hide the attachments that never reached
        // the output from the next run.
        context_.AddException(TranslateFmt(8380,
                                           "Email with subject \"%s\" was left where it was: the "
                                           "run was cancelled before all its attachments were "
                                           "processed (output file is \"%s\")",
                                           {email.subject, outputFile}),
                              &email);
        return;
    }
    if (written.manualIntervention) {
        return; // a person sees to it first
    }
    if (settings_.emailsTo == Settings::kMoveEmails) {
        source_.folder->MoveEmail(email, *destination_.folder);
        RecordDisposition(Disposition::Moved);
    } else if (settings_.emailsTo == Settings::kTagSubject) {
        // Put before the subject the email has when it is saved: another
        // program's change to it meanwhile is kept.
        email.TagSubject(settings_.tagText);
        email.SaveChanges("changesubj:");
        RecordDisposition(Disposition::Tagged);
    } else if (!written.attachmentsCut) {
        // An email whose output lacks attachments is not done with, even
        // where it stays.
        RecordDisposition(Disposition::Left);
    }
}

void ExtractionRun::RecordDisposition(Disposition disposition) {
    if (EmailRecord* record = context_.Report().Current()) {
        record->disposition = disposition;
    }
}

void ExtractionRun::ReportComplete() {
    outcome_ = RunOutcome::Complete;
    RunHost& host = context_.Host();
    host.SetNextFileNumber(context_.FileNumber());
    host.PumpMessages();
    SaveAfterRun();
    ReleaseOutputFolder(context_.FileNumber());
    context_.DeleteTempFiles();
    context_.SetProgress(100, "");
    if (services_.registry) {
        RunFilter(settings_.filterFilename, settings_.directory, context_.FilesWritten(), host,
                  *services_.registry);
    }
    const std::string status =
        TranslateFmt(8340, "Complete. %d emails processed", {static_cast<std::int64_t>(count_)});
    context_.Report().End(RunEnding::Complete, status, LocalNow());
    context_.SetStatus(status);
}

void ExtractionRun::ReportInterrupted(int processed) {
    outcome_ = RunOutcome::Interrupted;
    HandBackFileNumber();
    context_.SetProgress(100, "");
    const std::string status = TranslateFmt(8350, "Interrupted by user. %d emails processed",
                                            {static_cast<std::int64_t>(processed)});
    context_.Report().End(RunEnding::Cancelled, status, LocalNow());
    context_.SetStatus(status);
}

void ExtractionRun::HandBackFileNumber() {
    // A failure can strike after an email's file was written but before its
    // number was counted: that number is taken too.
    const std::int32_t next = context_.FileNumber() + (currentWritten_ ? 1 : 0);
    if (!context_.FilesWritten().empty() || currentWritten_) {
        context_.Host().SetNextFileNumber(next);
        SaveAfterRun();
    }
    ReleaseOutputFolder(next);
}

void ExtractionRun::ReleaseOutputFolder(std::int32_t next) {
    try {
        record_.Release(next);
    } catch (const std::exception& e) {
        context_.ShowWarning(e.what());
    }
}

void ExtractionRun::SaveAfterRun() {
    // The emails are done with whatever happens here: a failure to keep the
    // number is told, not turned into a failed run.
    try {
        context_.Host().SaveAfterRun();
    } catch (const std::exception& e) {
        context_.ShowWarning(e.what());
    }
}

} // namespace qf
