#include "run/attachments.h"

#include <gtest/gtest.h>

namespace qf {
namespace {

// The extension table stores the actions as digits: each digit keeps its
// meaning, and a digit no action has is ignored rather than guessed at.
TEST(AttachmentActionFromCode, TheStoredDigitsKeepTheirMeaning) {
    const struct {
        int code;
        AttachmentAction action;
    } cases[] = {
        {1, AttachmentAction::ConvertDocument}, {2, AttachmentAction::FlagForManual},
        {3, AttachmentAction::Ignore},          {4, AttachmentAction::Print},
        {5, AttachmentAction::SaveAsFile},      {6, AttachmentAction::AppendAsText},
        {0, AttachmentAction::Ignore},          {7, AttachmentAction::Ignore},
        {-1, AttachmentAction::Ignore},         {1000, AttachmentAction::Ignore},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AttachmentActionFromCode(c.code), c.action) << c.code;
    }
}

// The extension chooses the action and ends the names of the copies, so it
// is matched without regard to case and can never reach another folder.
TEST(AttachmentExtension, UpperCasedFromTheLastDotAndSafeToEndAFileName) {
    const struct {
        const char* fileName;
        const char* ext;
    } cases[] = {
        {"CV.doc", ".DOC"},
        {"cv.final.Docx", ".DOCX"},
        {"README", ""},
        {"archive.", "."},
        {".profile", ".PROFILE"},
        {"a.b/../../etc", "._ETC"},
        {"x.t\\x\x01\x7f", ".T_X__"},
        {"Lebenslauf.pdf\xC3\xA9", ".PDF\xC3\xA9"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AttachmentExtension(c.fileName), c.ext) << c.fileName;
    }
}

} // namespace
} // namespace qf
