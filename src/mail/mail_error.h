// Errors of the mail layer.  Every messaging call is followed by a check of
// its result code; a failure becomes a MailError whose message names the step
// by a short position label, explains the code in words and adds what the
// messaging platform reports about the failure.
#pragma once

#include "common/error.h"
#include "platform/messaging/mapi.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace qf {

// A failed messaging call.  Its only content is the composed message.
class MailError : public Error {
public:
    using Error::Error;
};

// The fixed English explanation of a failure code, or "Unexpected MAPI Error $"
// with the code as eight upper-case hexadecimal digits.
std::string ErrorText(std::uint32_t code);

// The stream table's text for a stream failure code, or nothing when the code
// is not one of the stream codes.
std::optional<std::string> StreamErrorText(std::uint32_t code);

// What the platform reports about its last failure (either part may be absent).
struct ErrorDetails {
    std::optional<std::string> text;
    std::optional<std::string> component;
};

// "Position:" + label + " " + ErrorText(code) + details block.
std::string ComposeMailErrorMessage(const std::string& label, std::uint32_t code,
                                    const std::optional<ErrorDetails>& details);

// Raises the mail error for a failed code; does nothing for success or warning.
void CheckResultNoDetails(const std::string& label, std::uint32_t code);

// The stream error notice.  Shown (through the hook) when a stream read, write
// or commit fails with a code of the stream table; the hook returns when the
// user has confirmed it.  The desktop program installs a message box; without
// a hook the notice goes to standard error.
using StreamNoticeHook = std::function<void(const std::string& caption, const std::string& text)>;
// Installs a hook; returns the one it replaces.  An empty hook restores the
// default.
StreamNoticeHook SetStreamNoticeHook(StreamNoticeHook hook);

// Shows "Error: Position:<label> <text>" for a failure code of the stream
// table; shows nothing for success and for other codes.  Returns true when
// the code is a failure (shown or not).
bool CheckStreamResult(const std::string& label, std::uint32_t code);

} // namespace qf
