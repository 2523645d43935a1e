#include "run/extraction_run.h"

#include "common/error.h"
#include "i18n/translate.h"
#include "mail/email.h"
#include "mail/session.h"
#include "mail/store.h"
#include "run/email_text.h"
#include "run/mail_adapters.h"

#include <algorithm>
#include <cwchar>
#include <cwctype>
#include <unistd.h>

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
    : settings_(std::move(settings)), run_(settings_, host), services_(std::move(services)),
      word_(run_, services_.wordProcessor,
            [this](EmailMessage& email, Attachment& attachment, const std::string& reason) {
                attachments_.RecordManualIntervention(email, attachment, reason);
            }),
      attachments_(run_, word_, services_.print),
      source_(MakeEmptyFolderReference(&services_.session)),
      destination_(MakeEmptyFolderReference(&services_.session)) {
    settings_.directory = Settings::NormalizeFolder(settings_.directory);
    settings_.manualFolder = Settings::NormalizeFolder(settings_.manualFolder);
}

RunOutcome ExtractionRun::Execute() {
    try {
        Run();
    } catch (const std::exception& e) {
        outcome_ = RunOutcome::Failed;
        run_.Host().ShowError(e.what());
        // The next run must not reuse the numbers of files already written.
        HandBackFileNumber();
    }
    emails_.clear();
    return outcome_;
}

void ExtractionRun::Run() {
    RunHost& host = run_.Host();
    host.Show();
    host.PumpMessages();
    run_.fileNumber = settings_.firstNumber;

    run_.SetStatus(TranslateMsg(8250, "Connecting to MAPI client..."));
    run_.SetStatus(TranslateMsg(8260, "Locating source mail folder..."));
    LocateFolders();

    if (settings_.includeAttachments) {
        word_.ConnectWord();
    }

    run_.SetStatus(TranslateMsg(8290, "Counting emails..."));
    source_.folder->ListEmails(emails_);
    count_ = static_cast<int>(emails_.size());

    run_.SetStatus(TranslateMsg(8310, "Sorting emails..."));
    SortEmails();

    run_.SetStatus(TranslateMsg(8320, "Processing emails..."));
    int index = 1;
    for (; index <= count_; ++index) {
        if (run_.Cancelled()) {
            break;
        }
        run_.Pump();
        run_.manualIntervention = false;
        run_.attachmentsCut = false;
        ProcessEmail(*emails_[static_cast<size_t>(index - 1)], index);
        emails_[static_cast<size_t>(index - 1)].reset();
    }

    if (settings_.includeAttachments) {
        word_.QuitWord();
    }

    if (run_.Cancelled()) {
        outcome_ = RunOutcome::Interrupted;
        HandBackFileNumber();
        run_.SetProgress(100, "");
        run_.SetStatus(TranslateFmt(8350, "Interrupted by user. %d emails processed",
                                    {static_cast<std::int64_t>(index - 1)}));
    } else {
        outcome_ = RunOutcome::Complete;
        host.SetNextFileNumber(run_.fileNumber);
        host.PumpMessages();
        SaveAfterRun();
        for (const std::string& temp : run_.tempFiles) {
            ::unlink(temp.c_str());
        }
        run_.SetProgress(100, "");
        if (services_.registry) {
            RunFilter(settings_.filterFilename, settings_.directory, run_.filesWritten, host,
                      *services_.registry);
        }
        run_.SetStatus(TranslateFmt(8340, "Complete. %d emails processed",
                                    {static_cast<std::int64_t>(count_)}));
    }
    host.Finish();
}

void ExtractionRun::LocateFolders() {
    if (settings_.emailsFrom == Settings::kDefaultInbox) {
        MailStore* store = services_.session.OpenDefaultStore();
        if (!store) {
            throw Error("The mail profile has no default message store.");
        }
        source_.store->Assign(*store);
        source_.folder->UseDefaultInbox();
    } else {
        source_ = MakeFolderReference(&services_.session, settings_.messageSource,
                                      settings_.sourceFolder.storeId.Bytes(),
                                      settings_.sourceFolder.folderId.Bytes());
    }
    try {
        source_.folder->OpenFolder(source_.store->GetMsgStore());
    } catch (const Error&) {
        throw Error(TranslateFmt(
            8261,
            "The source folder %s could not be found.\r\nThis can happen if you move, copy or "
            "rename the folder, or connect to it from a different machine or with a different "
            "login name.\r\n\r\nPlease re-select the source folder in the folder browse window",
            {settings_.messageSource}));
    }

    if (settings_.emailsTo == Settings::kMoveEmails) {
        run_.SetStatus(TranslateMsg(8280, "Locating destination mail folder..."));
        destination_ = MakeFolderReference(&services_.session, settings_.messageDestination,
                                           settings_.destinationFolder.storeId.Bytes(),
                                           settings_.destinationFolder.folderId.Bytes());
        try {
            destination_.folder->OpenFolder(destination_.store->GetMsgStore());
        } catch (const Error&) {
            throw Error(TranslateFmt(
                8281,
                "The destination folder %s could not be found.\r\nThis can happen if you move, "
                "copy or rename the folder, or connect to it from a different machine or with a "
                "different login name.\r\n\r\nPlease re-select the destination folder in the "
                "folder browse window",
                {settings_.messageDestination}));
        }
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

void ExtractionRun::ProcessEmail(EmailMessage& email, int index) {
    run_.SetStatus(
        TranslateFmt(8330, "Processing email %d of %d",
                     {static_cast<std::int64_t>(index), static_cast<std::int64_t>(count_)}));
    run_.SetProgress(static_cast<int>(static_cast<std::int64_t>(index) * 100 / count_),
                     email.subject);

    if (settings_.emailsTo == Settings::kTagSubject &&
        email.subject.compare(0, settings_.tagText.size(), settings_.tagText) == 0) {
        return; // tagged by an earlier run
    }

    EmailAdapter fields(email);
    // The name is fixed before anything is written: the attachment notes, the
    // output file and its times all use it.
    const std::string outputFile =
        OutputFileName(settings_.directory, settings_.fileNameFormat, fields, run_.fileNumber);
    if (namesWritten_.count(outputFile) != 0) {
        // Writing it would replace the text of an email already moved or
        // tagged: that text would be lost for good.
        throw Error(TranslateFmt(8390,
                                 "The output file %s was already written for another email of "
                                 "this run. The filename format \"%s\" must give each email a "
                                 "name of its own, for example with a number such as %%d.",
                                 {outputFile, settings_.fileNameFormat}));
    }
    std::string text =
        ComposeEmailText(fields, settings_.emailHeader, settings_.emailFooter, run_.fileNumber);
    if (settings_.includeAttachments && email.hasAttachments) {
        attachments_.ProcessAttachments(email, text);
    }
    WriteWholeFile(outputFile, text);
    currentWritten_ = true;
    if (settings_.readStatus) {
        email.MarkRead();
    }
    SetFileTimes(outputFile, fields.DeliveryTime());

    if (run_.attachmentsCut && settings_.emailsTo != Settings::kLeaveEmails) {
        // Moving or tagging it would hide the attachments that never reached
        // the output from the next run.
        run_.AddException(TranslateFmt(8380,
                                       "Email with subject \"%s\" was left where it was: the run "
                                       "was cancelled before all its attachments were processed "
                                       "(output file is \"%s\")",
                                       {email.subject, outputFile}),
                          &email);
    } else if (!run_.manualIntervention) {
        if (settings_.emailsTo == Settings::kMoveEmails) {
            source_.folder->MoveEmail(email, *destination_.folder);
        } else if (settings_.emailsTo == Settings::kTagSubject) {
            email.SetSubject(settings_.tagText + email.subject);
            email.SaveChanges("changesubj:");
        }
    }
    run_.filesWritten.push_back(outputFile);
    namesWritten_.insert(outputFile);
    ++run_.fileNumber;
    currentWritten_ = false;
}

void ExtractionRun::HandBackFileNumber() {
    // A failure can strike after an email's file was written but before its
    // number was counted: that number is taken too.
    if (!run_.filesWritten.empty() || currentWritten_) {
        run_.Host().SetNextFileNumber(run_.fileNumber + (currentWritten_ ? 1 : 0));
        SaveAfterRun();
    }
}

void ExtractionRun::SaveAfterRun() {
    // The emails are done with whatever happens here: a failure to keep the
    // number is told, not turned into a failed run.
    try {
        run_.Host().SaveAfterRun();
    } catch (const std::exception& e) {
        run_.ShowWarning(e.what());
    }
}

} // namespace qf
