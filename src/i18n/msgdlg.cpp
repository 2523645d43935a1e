#include "i18n/msgdlg.h"

#include "common/text.h"

#include <cstdio>

namespace qf {
namespace {

MessageHooks& Hooks() {
    static MessageHooks hooks;
    return hooks;
}

void PrintLine(std::u16string_view text) {
    const std::string line = Utf16ToUtf8(text) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

} // namespace

MessageHooks SetMessageHooks(MessageHooks hooks) {
    MessageHooks previous = std::move(Hooks());
    Hooks() = std::move(hooks);
    return previous;
}

DlgResult DismissedResult(DlgButtons buttons) {
    if (buttons & kDlgCancel) {
        return DlgResult::Cancel;
    }
    if (buttons & kDlgNo) {
        return DlgResult::No;
    }
    if (buttons & kDlgOK) {
        return DlgResult::OK;
    }
    return DlgResult::None;
}

void ShowInfo(std::u16string_view text) {
    if (const auto& hook = Hooks().showInfo) {
        hook(text);
        return;
    }
    PrintLine(text);
}

DlgResult AskDlg(std::u16string_view text, DlgKind kind, DlgButtons buttons, int helpTopic) {
    if (helpTopic > 0) {
        buttons |= kDlgHelp;
    }
    if (const auto& hook = Hooks().askDlg) {
        return hook(text, kind, buttons, helpTopic);
    }
    PrintLine(text);
    return DismissedResult(buttons);
}

} // namespace qf
