#include "run/run_context.h"

#include "mail/email.h"
#include "mail/store.h"

#include <unistd.h>

namespace qf {
namespace {

std::string AsText(const std::vector<std::uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

} // namespace

void RunContext::CountFileWritten(const std::string& path) {
    filesWritten_.push_back(path);
    namesWritten_.Add(path);
    ++fileNumber_;
}

RunContext::~RunContext() {
    DeleteTempFiles();
}

void RunContext::DeleteTempFiles() {
    for (const std::string& temp : tempFiles_) {
        ::unlink(temp.c_str());
    }
    tempFiles_.clear();
}

void RunContext::BeginEmail() {
    manualIntervention_ = false;
    attachmentsCut_ = false;
    notes_.clear();
}

void RunContext::SetStatus(const std::string& text) {
    host_.SetStatusText(text);
    host_.PumpMessages();
}

void RunContext::SetProgress(int percent, const std::string& subject) {
    host_.SetProgressValue(percent);
    host_.SetSubject(subject);
    host_.PumpMessages();
}

void RunContext::AddException(const std::string& text, const EmailMessage* email) {
    std::string emailId;
    std::string storeId;
    // An embedded email has no identifier of its own: its row names the
    // stored email that holds it.
    if (email) {
        email = &email->Outermost();
    }
    if (email && !email->IsEmbedded() && email->messageEntryId) {
        emailId = AsText(email->messageEntryId->EntryIdBytes());
        if (MailStore* store = email->messageEntryId->Store()) {
            storeId = AsText(store->EntryIdBytes());
        }
    }
    report_.AddException(text);
    host_.AddExceptionRow(text, emailId, storeId);
    host_.PumpMessages();
}

void RunContext::ShowWarning(const std::string& text) {
    host_.ShowWarning(text);
    host_.PumpMessages();
}

} // namespace qf
