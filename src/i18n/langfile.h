// A language file held in memory.  The file is plain INI text:
//
//   ; a comment
//   [TForm1]
//   OKBtn.Caption=&Fertig
//   [global]
//   8430=Einstellungen speichern?
//
// Lines end in CR LF, LF or CR.  A line that begins with "[" and ends with
// "]" opens a section; every other line belongs to the section opened last.
// Empty lines and lines beginning with ";" are not read; a line holding "="
// is an entry whose key is the text before the first "=" and whose value is
// everything after it, blanks included.  Section names and keys are compared
// without regard to letter case; the first section of a name and the first
// line of a key win.  Values are stored escaped (escape.h).
//
// The document keeps every line it was given, so a rewrite changes only the
// entries set through it: line ends become CR LF and each section ends with
// exactly one empty line.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qf {

struct LangSection {
    std::string name;               // as written between the brackets
    std::vector<std::string> lines; // every line after the heading, in file order
};

class LangDocument {
public:
    // Reads the bytes of a language file.  Never fails: a line the rules do
    // not read is kept, unread.  Leading UTF-8 byte-order marks are skipped.
    static LangDocument Parse(std::string_view bytes);

    // The stored (escaped) value of `key` in the first section named
    // `section`; nothing when the key is not there.  An empty value is there.
    std::optional<std::string_view> FindValue(std::string_view section, std::string_view key) const;

    // Replaces the first line of `key` in the first section named `section`,
    // or adds the line to that section, or adds the section at the end.
    // `value` is stored as given (already escaped).  Throws Error when the
    // line could not be read back as written (a line break, "=" in the key, a
    // key that makes the line a comment or a section heading).
    void SetValue(std::string_view section, std::string_view key, std::string_view value);

    // The whole file: the lines before the first section, then each section
    // as "[name]", its lines, and one empty line; lines end in CR LF.
    std::string Serialize() const;

    const std::vector<std::string>& Preamble() const { return preamble_; }
    const std::vector<LangSection>& Sections() const { return sections_; }

private:
    const LangSection* FindSection(std::string_view name) const;

    std::vector<std::string> preamble_; // lines before the first section
    std::vector<LangSection> sections_;
};

} // namespace qf
