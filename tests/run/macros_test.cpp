#include "fake_email.h"
#include "run/macros.h"

#include <gtest/gtest.h>

namespace qf {
namespace {

using testing::FakeAttachment;
using testing::FakeEmail;

struct Case {
    const char* tmpl;
    const char* expected;
};

TEST(ExpandMacros, EmailContextFollowsTheThreeStates) {
    FakeEmail email;
    email.fields["SUBJECT"] = "Hi";
    email.fields["FROM"] = "ann@x.org";
    EmailMacros context(email, 7);
    const Case cases[] = {
        {"", ""},
        {"plain text\r\n", "plain text\r\n"},
        {"%%", "%"},
        {"100%", "100%"},                 // sign state at the end
        {"%1", "%1"},                     // not a letter after the sign
        {"%5.5d", "%5.5d"},               // formats pass through
        {"%subject|%Subject", "Hi|Hi"},   // names without regard to case
        {"%SUBJECTS", "%SUBJECTS"},       // unknown name stays as written
        {"%Foo and %d", "%Foo and %d"},   // in the case it was written
        {"%SUBJECT%x", "Hix"},            // a closing sign is consumed
        {"%FROM_%NUMBER", "ann@x.org_7"}, // any other character is kept
        {"%NUMBER%0", "70"},
        {"x%FROM", "xann@x.org"},           // name pending at the end
        {"%SUBJECT\xC3\xA9", "Hi\xC3\xA9"}, // a non-ASCII letter ends a name
        {"%CC", "Error"},                   // the value cannot be obtained
        {"%BCC.", "."},                     // empty value
        {"%FILENAME %S", "%FILENAME %S"},   // attachment macros unknown here
        {"%%SUBJECT", "%SUBJECT"},          // "%%" then plain text
        {"%%%SUBJECT%%", "%Hi%"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ExpandMacros(c.tmpl, context), c.expected) << "template: " << c.tmpl;
    }
}

TEST(ExpandMacros, NumberStaysWhenTheContextHasNone) {
    FakeEmail email;
    EmailMacros context(email, std::nullopt);
    EXPECT_EQ(ExpandMacros("%FROM_%NUMBER", context), "ann@example.org_%NUMBER");
}

TEST(ExpandMacros, AttachmentContextTakesEmailValuesFromItsEmail) {
    FakeEmail email;
    FakeAttachment attachment;
    attachment.owner = &email;
    AttachmentMacros context(attachment, 12);
    EXPECT_EQ(ExpandMacros("--- %FILENAME from %FROM #%NUMBER ---", context),
              "--- CV.Doc from ann@example.org #12 ---");
    EXPECT_EQ(ExpandMacros("%S|%s", context), "CV.Doc|CV.Doc");

    attachment.owner = nullptr;
    EXPECT_EQ(ExpandMacros("%FILENAME/%SUBJECT/%CC", context), "CV.Doc/%SUBJECT/%CC");
}

TEST(ExpandMacros, EmailValuesInFileNamesCannotLeaveTheFolder) {
    FakeEmail email;
    EmailMacros context(email, 3);
    const struct {
        std::string subject;
        const char* tmpl;
        MacroUse use;
        std::string expected;
    } cases[] = {
        {"../../etc/passwd", "%SUBJECT", MacroUse::FileName, ".._.._etc_passwd"},
        {"a\\b", "%SUBJECT", MacroUse::FileName, "a_b"},
        {"..", "%SUBJECT", MacroUse::FileName, "__"},
        {".", "sub/%SUBJECT/%NUMBER", MacroUse::FileName, "sub/_/3"},
        {".", "%SUBJECT%%SUBJECT", MacroUse::FileName, "__"},
        {"..", "%SUBJECT.txt", MacroUse::FileName, "...txt"}, // not a whole component
        {"x", "../%SUBJECT", MacroUse::FileName, "../x"},     // typed by the user
        {std::string("a\0b\r\n\x7f", 6), "%SUBJECT", MacroUse::FileName, "a_b___"},
        {"100% sure", "%SUBJECT_%d", MacroUse::NameFormat, "100%% sure_%d"},
        {"100% sure", "%SUBJECT", MacroUse::FileName, "100% sure"},
        {"../x%d", "%SUBJECT", MacroUse::Text, "../x%d"}, // texts stay untouched
    };
    for (const auto& c : cases) {
        email.fields["SUBJECT"] = c.subject;
        EXPECT_EQ(ExpandMacros(c.tmpl, context, c.use), c.expected) << "template: " << c.tmpl;
    }
    // The program's own number is never altered.
    EXPECT_EQ(ExpandMacros("%NUMBER", context, MacroUse::NameFormat), "3");
}

} // namespace
} // namespace qf
