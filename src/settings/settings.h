// The settings record: everything one extraction run needs, with its
// defaults, the extension table, the checks before a run, and its storage in
// the registry and in options files.
#pragma once

#include "common/entry_id.h"
#include "platform/registry/registry.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qf {

// A mail folder as the settings keep it: the folder's entry identifier and
// that of its message store.  The mail layer opens the folder from these.
struct FolderReference {
    EntryId folderId;
    EntryId storeId;
    bool operator==(const FolderReference&) const = default;
};

// What Validate needs from the person in front of the program.
struct ValidationHooks {
    // Asks a Yes/No question; true for Yes.
    std::function<bool(const std::string& question)> askYesNo;
    // Opens a web address in the default browser.
    std::function<void(const std::string& address)> shellOpen;
    // The filter tool's download page; empty: the one the settings name
    // (settings/maker_site.h).
    std::string filterToolDownloadPage;
    // The number a run in output folder `folder` continues after, when an
    // earlier run recorded one there (run/run_record.h); the question about
    // an output file that exists is asked about the file the run will really
    // write first.
    std::function<std::optional<std::int32_t>(const std::string& folder)> recordedNextNumber;
};

class Settings {
public:
    // Values of `emailsFrom`, `emailsTo`, `sortOrder` and `profile`.
    enum EmailsFrom { kDefaultInbox = 0, kFromFolder = 1 };
    enum EmailsTo { kLeaveEmails = 0, kMoveEmails = 1, kTagSubject = 2 };
    enum SortOrder {
        kNoSort = 0,
        kByDate = 1,
        kBySubject = 2,
        kBySubjectNoPrefix = 3,
        kByFrom = 4
    };
    enum ProfileMode { kDefaultProfile = 0, kPromptProfile = 1, kNamedProfile = 2 };

    // The options file format this program writes.
    static constexpr std::int32_t kFormatVersion = 17;

    static const char* const kDefaultExtensionsText;
    static const char* const kDefaultActionsText;

    // Fields, in the order of the record.  A constructed record is blank:
    // empty texts, zeros, false, empty lists and blank folder references.
    std::int32_t formatVersion = 0; // of the last options file read
    std::string optionsFilePath;    // empty: "Untitled"
    std::string filterFilename;
    std::string directory;
    std::int32_t firstNumber = 0;
    std::string fileNameFormat;
    std::string startTag;
    std::string endTag;
    std::string emailHeader;
    std::string emailFooter;
    bool includeAttachments = false;
    std::int32_t emailsTo = 0;
    std::string messageDestination;
    std::int32_t emailsFrom = 0;
    std::string messageSource;
    bool reprocessEmails = false; // carried and stored only
    std::int32_t sortOrder = 0;
    bool descending = false;
    bool readStatus = false;
    std::string tagText;
    std::vector<std::string> extensions;
    std::vector<std::string> extensionActions;
    FolderReference sourceFolder;
    FolderReference destinationFolder;
    std::int32_t profile = 0;
    std::int32_t reservedInteger = 0; // kept in options files only
    std::string profileName;
    std::string password;
    std::string wordMacro;
    std::string manualFolder;
    std::string manualFormat;

    bool operator==(const Settings&) const = default;

    // The first-start values: what LoadFromRegistry gives on an empty registry.
    static Settings FirstStartDefaults();

    // Replaces both lists with the 19 default rows.
    void RestoreDefaultExtensions();

    // The action code for an extension given with its dot ("" for none):
    // the first entry equal to it regardless of case, else 3 (ignore).
    // Throws qf::Error when the matching action is not a decimal integer or
    // is missing (the lists differ in length).
    int ActionForExtension(std::string_view extension) const;

    // The checks before a run.  True to go ahead; false when the user said No
    // to a question.  Throws qf::Error with the message of a failed check.
    bool Validate(const ValidationHooks& hooks) const;

    // --- Registry (settings key "SOFTWARE\Brindlemox\Quillfence") ---------
    void LoadFromRegistry(registry::Registry& reg);
    void LoadFromRegistry() { LoadFromRegistry(registry::Current()); }
    // Throws qf::FileError when the registry cannot be written.
    void SaveToRegistry(registry::Registry& reg) const;
    void SaveToRegistry() const { SaveToRegistry(registry::Current()); }

    // --- Options files ----------------------------------------------------
    // Reads the file into this record, value by value; `optionsFilePath`
    // becomes `path` only after the whole stream was read.  Throws qf::Error.
    void LoadFromFile(const std::string& path);
    // Replaces the file (atomically, owner-only), then sets `optionsFilePath`.
    void SaveToFile(const std::string& path);
    // The stream bytes alone.
    void LoadFromBytes(std::string_view bytes);
    std::string SaveToBytes() const;

    // --- Helpers that need no record --------------------------------------
    // The filter tool's root folder with a trailing "/", or "" when the tool
    // is not installed (registry "SOFTWARE\Brindlemox\Siftloom", "rootDir").
    static std::string FilterToolFolder();
    static std::string FilterToolFolder(registry::Registry& reg);
    // Removes one leading, then one trailing double quote.
    static std::string StripQuotes(std::string_view path);
    // StripQuotes, then a trailing "/" unless there is one.
    static std::string NormalizeFolder(std::string_view path);
};

inline constexpr const char* kSettingsKey = "SOFTWARE\\Brindlemox\\Quillfence";
inline constexpr const char* kFilterToolKey = "SOFTWARE\\Brindlemox\\Siftloom";

// A list as one string: each entry followed by CR LF.
std::string JoinLines(const std::vector<std::string>& lines);
// The reverse: splits at CR LF, a lone CR or a lone LF; a final line end adds
// no empty entry.
std::vector<std::string> SplitLines(std::string_view text);

} // namespace qf
