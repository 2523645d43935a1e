// The two message helpers: an information box and a question with buttons.
//
// How they reach the user is set process-wide through MessageHooks: the
// desktop program shows message boxes, the batch front end prints and
// answers by its flags, tests record.  Without hooks (a headless program
// that installed none):
//   - ShowInfo prints the text and a line break to standard error;
//   - AskDlg prints the question to standard error and returns the answer a
//     dismissed dialog gives (DismissedResult): Cancel when the buttons hold
//     Cancel, else No when they hold No, else OK when they hold OK, else
//     None.  Nobody is there to agree, so a question is never answered Yes.
#pragma once

#include <functional>
#include <string_view>

namespace qf {

enum class DlgKind { Warning, Error, Information, Confirmation, Custom };

// Buttons of a question, combined with "|".
enum DlgButton : unsigned {
    kDlgYes = 1u << 0,
    kDlgNo = 1u << 1,
    kDlgOK = 1u << 2,
    kDlgCancel = 1u << 3,
    kDlgAbort = 1u << 4,
    kDlgRetry = 1u << 5,
    kDlgIgnore = 1u << 6,
    kDlgAll = 1u << 7,
    kDlgNoToAll = 1u << 8,
    kDlgYesToAll = 1u << 9,
    kDlgHelp = 1u << 10,
};
using DlgButtons = unsigned;

// The button that closed the dialog; None when nothing answered.
enum class DlgResult { None, OK, Cancel, Abort, Retry, Ignore, Yes, No, All, NoToAll, YesToAll };

struct MessageHooks {
    // Shows an information text with an OK button.
    std::function<void(std::u16string_view text)> showInfo;
    // Asks a question.  `buttons` already holds kDlgHelp when a help topic
    // was given (helpTopic > 0).
    std::function<DlgResult(std::u16string_view text, DlgKind kind, DlgButtons buttons,
                            int helpTopic)>
        askDlg;
};

// Installs `hooks` for the whole process and returns those installed before.
// An empty function falls back to the headless behaviour above.
MessageHooks SetMessageHooks(MessageHooks hooks);

// Installs hooks for the lifetime of the object (tests, nested front ends).
class ScopedMessageHooks {
public:
    explicit ScopedMessageHooks(MessageHooks hooks)
        : previous_(SetMessageHooks(std::move(hooks))) {}
    ~ScopedMessageHooks() { SetMessageHooks(std::move(previous_)); }
    ScopedMessageHooks(const ScopedMessageHooks&) = delete;
    ScopedMessageHooks& operator=(const ScopedMessageHooks&) = delete;

private:
    MessageHooks previous_;
};

// The answer of a dialog with `buttons` closed without choosing (Escape).
DlgResult DismissedResult(DlgButtons buttons);

// An information text with an OK button.
void ShowInfo(std::u16string_view text);

// A question of the given kind with the given buttons; a Help button is
// added when helpTopic > 0.  Returns the button chosen.
DlgResult AskDlg(std::u16string_view text, DlgKind kind, DlgButtons buttons, int helpTopic = 0);

} // namespace qf
