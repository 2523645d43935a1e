#include "mail/mail_error.h"

#include <gtest/gtest.h>

#include <vector>

namespace qf {
namespace {

TEST(MailErrorText, KnownCodesUseTheirFixedTexts) {
    struct Case {
        std::uint32_t code;
        const char* text;
    };
    const Case cases[] = {
        {0x80004005, "MAPI_E_CALL_FAILED"},
        {0x80040502, "MAPI_E_NOT_ME"},
        {0x80040106, "Invalid flag!"},
        {0x80040102, "MAPI_E_NO_SUPPORT - The container has no child containers and cannot "
                     "provide a hierarchy table. "},
        {0x80040111, "The logon did not succeed, either because one or more of the parameters "
                     "to Profile were invalid or because there were too many sessions open "
                     "already."},
        {0x80040112, "MAPI sets up context specific to the current process.\rFailures may occur "
                     "on Win16 if the number of processes exceeds a certain number,\ror on any "
                     "system if available memory is exhausted."},
        {0x80070157, "Invalid parameter or flag!"},
        {0x80070057, "Invalid parameter!"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ErrorText(c.code), c.text) << std::hex << c.code;
    }
}

TEST(MailErrorText, UnknownCodeGivesEightHexDigits) {
    EXPECT_EQ(ErrorText(0x80040600), "Unexpected MAPI Error $80040600");
    EXPECT_EQ(ErrorText(0x8000000A), "Unexpected MAPI Error $8000000A");
}

TEST(MailErrorText, TableHasNoBlankRows) {
    // Every code of the two published ranges either has a text or the
    // "unexpected" form; no row may be left empty by a short initializer.
    int known = 0;
    for (std::uint32_t code : std::vector<std::uint32_t>{0x80004005, 0x8007000E, 0x80004002}) {
        known += ErrorText(code).rfind("Unexpected", 0) == 0 ? 0 : 1;
    }
    for (std::uint32_t code = 0x80040100; code < 0x80040700; ++code) {
        const std::string text = ErrorText(code);
        EXPECT_FALSE(text.empty());
        known += text.rfind("Unexpected", 0) == 0 ? 0 : 1;
    }
    for (std::uint32_t code : std::vector<std::uint32_t>{0x80070005, 0x80070057, 0x80070157}) {
        known += ErrorText(code).rfind("Unexpected", 0) == 0 ? 0 : 1;
    }
    EXPECT_EQ(known, 58);
    EXPECT_EQ(ErrorText(0), "Unexpected MAPI Error $00000000");
}

TEST(MailErrorMessage, ComposesPositionTextAndDetails) {
    EXPECT_EQ(ComposeMailErrorMessage("40", 0x80040111, std::nullopt),
              "Position:40 " + ErrorText(0x80040111));
    EXPECT_EQ(ComposeMailErrorMessage("130", 0x8004010F, ErrorDetails{"gone", std::nullopt}),
              "Position:130 " + ErrorText(0x8004010F) + "\r\nDetails:\r\nError: gone\r\n");
    EXPECT_EQ(ComposeMailErrorMessage("x", 0x80004005, ErrorDetails{"e", "Maildir"}),
              "Position:x MAPI_E_CALL_FAILED\r\nDetails:\r\nError: e\r\nComponent: Maildir\r\n");
    EXPECT_EQ(ComposeMailErrorMessage("x", 0x80004005, ErrorDetails{}),
              "Position:x MAPI_E_CALL_FAILED\r\nDetails:\r\n");
}

TEST(MailErrorMessage, CheckResultRaisesOnlyFailures) {
    EXPECT_NO_THROW(CheckResultNoDetails("30", 0));
    EXPECT_NO_THROW(CheckResultNoDetails("30", 0x00040380)); // a warning
    try {
        CheckResultNoDetails("30", 0x80040113);
        FAIL();
    } catch (const MailError& e) {
        EXPECT_STREQ(e.what(), "Position:30 The user canceled the operation, typically by "
                               "choosing the Cancel button in a dialog box.");
    }
}

TEST(StreamNotice, ShowsTableCodesOnly) {
    std::vector<std::string> shown;
    auto old = SetStreamNoticeHook(
        [&](const std::string&, const std::string& text) { shown.push_back(text); });
    EXPECT_FALSE(CheckStreamResult("PlainText190", 0));
    EXPECT_TRUE(CheckStreamResult("PlainText190", 0x80004005)); // E_FAIL: not in the table
    EXPECT_TRUE(CheckStreamResult("PlainText200", 0x80030070));
    SetStreamNoticeHook(old);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "Error: Position:PlainText200 The write operation was not completed "
                        "because there is no space left on the storage device.");
}

} // namespace
} // namespace qf
