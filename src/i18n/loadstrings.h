// The string loader: the current language file and the lookups in it.
//
// One loader serves the whole process (GetStringLoader).  It reads its file
// once, when it is created, and answers from memory.  In the pass-through
// state every lookup gives its default and nothing is read or written.
//
// The loader also records entries (WriteEntry): each recording rewrites the
// whole file at once, through a temporary file renamed over it.  A recording
// that fails (a read-only installation folder, a full disk) is not shown to
// anybody; it only stops later recordings, while lookups keep answering from
// the file as it was read.
//
// The loader is used from one thread; it has no locking.
#pragma once

#include "i18n/langfile.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace qf {

// The section of the language texts.
inline constexpr const char* kGlobalSection = "global";

class StringLoader {
public:
    // A loader without a file: pass-through.
    StringLoader() = default;
    // A loader for `fileName` (empty: pass-through).  Creates the file's
    // folder and its parents when missing (a failure there goes unnoticed),
    // then reads the file.  A missing file gives an empty document that
    // keeps the name, so the first recording creates the file; a file that
    // cannot be read makes the loader pass-through.  Never throws for a
    // file-system reason.
    explicit StringLoader(std::string fileName);
    virtual ~StringLoader() = default;

    StringLoader(const StringLoader&) = delete;
    StringLoader& operator=(const StringLoader&) = delete;

    bool PassThrough() const { return passThrough_; }
    // False once a recording has failed: later recordings are skipped.
    bool Recording() const { return !passThrough_ && !recordingFailed_; }
    const std::string& FileName() const { return fileName_; }
    // Why the file could not be read (which file, the system's reason), or
    // empty when it was read or is missing.
    const std::string& ReadError() const { return readError_; }
    const LangDocument& Document() const { return document_; }

    // The section consulted by the walk over a window's components.
    const std::string& Section() const { return section_; }
    void SetSection(std::string section) { section_ = std::move(section); }

    // The unescaped value of `key` in `section`: nothing when the loader is
    // pass-through or the key is missing; empty for an empty value.
    // Throws EscapeError for a malformed value.
    std::optional<std::string> Translation(std::string_view section, std::string_view key) const;

    // Records key=EscapeText(text) in `section` and rewrites the file.  Does
    // nothing when pass-through or after a failed recording; never throws.
    void WriteEntry(std::string_view section, std::string_view key, std::string_view text);

private:
    std::string fileName_;
    std::string section_;
    bool passThrough_ = true;
    bool recordingFailed_ = false;
    std::string readError_;
    LangDocument document_;
};

// The process-wide loader; creates a pass-through one on first use when
// none was installed.  Never fails.
StringLoader& GetStringLoader();
// Installs `loader` (nothing: a fresh pass-through loader) and frees the one
// installed before.
void SetStringLoader(std::unique_ptr<StringLoader> loader);

// The language file of `languageName`: <installationFolder>Languages/<name>.ini.
// Empty when the name is empty or holds "/" or a NUL, so that a value taken
// from the settings never reaches a file outside that folder.
std::string LanguageFilePath(std::string_view languageName, std::string_view installationFolder);

// What a program does at start: creates the loader for the language file of
// `languageName` in `installationFolder` (which ends in "/") and installs
// it.  A missing file or a name that names none leaves every text English,
// silently.
void InstallLanguage(std::string_view languageName, std::string_view installationFolder);
// The same in the installation folder of the running program.
void InstallLanguage(std::string_view languageName);

} // namespace qf
