#include "i18n/msgdlg.h"

#include <gtest/gtest.h>
#include <string>

namespace qf {
namespace {

TEST(MessageHelpers, WithoutHooksAQuestionIsDismissed) {
    ScopedMessageHooks none{MessageHooks{}};
    EXPECT_EQ(
        AskDlg(u"Save current settings?", DlgKind::Confirmation, kDlgYes | kDlgNo | kDlgCancel),
        DlgResult::Cancel);
    EXPECT_EQ(AskDlg(u"Download it now?", DlgKind::Confirmation, kDlgYes | kDlgNo), DlgResult::No);
    EXPECT_EQ(AskDlg(u"Done", DlgKind::Information, kDlgOK), DlgResult::OK);
    EXPECT_EQ(AskDlg(u"?", DlgKind::Custom, 0), DlgResult::None);
    ShowInfo(u"Information goes to standard error");
}

TEST(MessageHelpers, HooksReceiveTheMessageAndAHelpButtonForATopic) {
    std::u16string shown;
    DlgButtons asked = 0;
    int topic = -1;
    ScopedMessageHooks hooks{
        MessageHooks{[&](std::u16string_view text) { shown = text; },
                     [&](std::u16string_view, DlgKind kind, DlgButtons buttons, int helpTopic) {
                         EXPECT_EQ(kind, DlgKind::Warning);
                         asked = buttons;
                         topic = helpTopic;
                         return DlgResult::Yes;
                     }}};
    ShowInfo(u"Login succeeded");
    EXPECT_EQ(shown, u"Login succeeded");
    EXPECT_EQ(AskDlg(u"Continue?", DlgKind::Warning, kDlgYes | kDlgNo, 530), DlgResult::Yes);
    EXPECT_EQ(asked, kDlgYes | kDlgNo | kDlgHelp);
    EXPECT_EQ(topic, 530);
    AskDlg(u"Continue?", DlgKind::Warning, kDlgYes, 0);
    EXPECT_EQ(asked, kDlgYes);
}

} // namespace
} // namespace qf
