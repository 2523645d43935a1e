// The per-cent macro language of every template and file-name format:
// %FROM, %SUBJECT, %NUMBER and the rest, matched without regard to case.
#pragma once

#include "run/email_source.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qf {

// Supplies the values of macros.  Value() gets the upper-cased name and
// returns nullopt for a macro the context does not know (it then stays as
// written); a value that cannot be obtained throws and is shown as "Error".
class MacroContext {
public:
    virtual ~MacroContext() = default;
    virtual std::optional<std::string> Value(std::string_view upperName) = 0;
    // False for values the program makes itself (%NUMBER): only values taken
    // from an email are cleaned when they become part of a file name.
    virtual bool ComesFromEmail(std::string_view upperName) const { return upperName != "NUMBER"; }
};

// An email: SUBJECT, FROM, TO, CC, BCC, SENT, NOW, and NUMBER when given.
class EmailMacros : public MacroContext {
public:
    EmailMacros(EmailFields& email, std::optional<std::int32_t> fileNumber)
        : email_(email), fileNumber_(fileNumber) {}
    std::optional<std::string> Value(std::string_view upperName) override;

private:
    EmailFields& email_;
    std::optional<std::int32_t> fileNumber_;
};

// An attachment with its email: FILENAME and S from the attachment, NUMBER,
// and the email's macros from the attachment's email (left as written when
// the attachment has none).
class AttachmentMacros : public MacroContext {
public:
    AttachmentMacros(AttachmentFields& attachment, std::optional<std::int32_t> fileNumber)
        : attachment_(attachment), fileNumber_(fileNumber) {}
    std::optional<std::string> Value(std::string_view upperName) override;

private:
    AttachmentFields& attachment_;
    std::optional<std::int32_t> fileNumber_;
};

// True for the names an email supplies (SUBJECT, FROM, TO, CC, BCC, SENT, NOW).
bool IsEmailMacro(std::string_view upperName);

enum class MacroUse {
    Text,       // header, footer and tags: values as they are
    FileName,   // a file name used as it stands (manual copies)
    NameFormat, // a file name that is then formatted printf-style
};

// Expands the macros of `tmpl`.  For the two file-name uses, values taken from
// the email are made safe for a file name: path separators, NUL and control
// characters become "_", a path component made only of such a value can never
// be "." or "..", and for NameFormat every "%" of a value is doubled so the
// later formatting keeps it.  The template's own text is used as typed.
// Never fails.
std::string ExpandMacros(std::string_view tmpl, MacroContext& context,
                         MacroUse use = MacroUse::Text);

} // namespace qf
