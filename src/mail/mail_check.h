// Result checks of messaging calls: a failed call becomes the mail error with
// what the platform object reports about it.
#pragma once

#include "mail/mail_error.h"
#include "platform/messaging/mapi.h"

#include <memory>
#include <optional>
#include <string>

namespace qf {

// Asks an object (anything with GetLastError) what it knows about a failure.
template <class T> std::optional<ErrorDetails> AskErrorDetails(T* object, mapi::HRESULT code) {
    if (object == nullptr) {
        return std::nullopt;
    }
    std::optional<mapi::MapiErrorInfo> info;
    if (mapi::Failed(object->GetLastError(code, 0, info)) || !info) {
        return std::nullopt;
    }
    ErrorDetails details;
    if (!info->error.empty()) {
        details.text = info->error;
    }
    if (!info->component.empty()) {
        details.component = info->component;
    }
    return details;
}

// Raises the mail error for a failed code, with the details `object` gives.
template <class T> void CheckResult(T* object, const std::string& label, mapi::HRESULT code) {
    if (mapi::Failed(code)) {
        throw MailError(ComposeMailErrorMessage(label, code, AskErrorDetails(object, code)));
    }
}

template <class T>
void CheckResult(const std::shared_ptr<T>& object, const std::string& label, mapi::HRESULT code) {
    CheckResult(object.get(), label, code);
}

} // namespace qf
