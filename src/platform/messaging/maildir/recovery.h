// Crash recovery of the Maildir provider: how a change that a stopped process
// left half done is recognised and finished by whoever lists the folder next.
//
//  - Replacements.  A changed message is written anew under a marked unique name
//    (IsReplacementName) and carries an X-Quillfence-Replaces header naming the
//    unique names it replaces (the latest first, up to 33).  Should the process
//    stop before the old file is removed, the listing removes it; an identifier
//    of any earlier version leads to the newest one.  The header counts only in
//    a file under a marked name: one that arrives in a delivered message is
//    ignored and dropped when that message is changed.
//  - Moves to another store or file system.  A note in the source folder's tmp/
//    names the destination folder and the copy's unique name; once the copy is
//    complete in its folder, the listing removes the original and the note.
//    For a store of another provider the note names the destination folder's
//    identifier and the token its copy carries (store_moves.h).
//  - Files left in tmp/ for over 36 hours are removed, as Maildir readers do
//    (not move notes: those still there wait for a destination out of reach).
#pragma once

#include "platform/messaging/maildir/names.h"
#include "platform/messaging/mime/headers.h"
#include "platform/messaging/store_moves.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qf::mapi::maildir {

// The header that names the messages a rewritten message replaces.
inline constexpr const char* kReplacesHeader = "X-Quillfence-Replaces";

// The unique names a message's headers say it replaces.
std::vector<std::string> ReplacedNames(const std::vector<mime::RawHeader>& headers);
// The message with its subject replaced (when given) and marked as the
// replacement of `replaced` and, when `replaced` is itself a replacement
// (IsReplacementName), of every name its own header listed before.  Any other
// message's replaces-header is dropped.
std::string MarkAsReplacement(std::string_view bytes, const std::optional<std::string>& newSubject,
                              const std::string& replaced);
// The newest message of the folder that replaced `unique`.
std::optional<MessageFile> FindReplacement(const std::string& folderPath,
                                           const std::string& unique);

// A move to another store or file system under way.
struct MoveNote {
    std::string destinationPath; // the destination folder
    std::string copyUnique;      // the copy's unique name there
    // To a store of another provider, instead: the folder and the copy's token.
    std::optional<EntryId> destinationFolder;
    std::string token;
};
// Where the note of a move of message `unique` out of a folder lies.
std::string MoveNotePath(const std::string& folderPath, const std::string& unique);
// Writes the note durably (the folder is synced too).  Returns 0 or errno.
int WriteMoveNote(const std::string& notePath, const MoveNote& note);
std::optional<MoveNote> ReadMoveNote(const std::string& notePath);

// Finishes, for a folder whose message files are `files`, the moves and
// replacements a stopped process left half done, and removes stale temporary
// files; `finder` asks the stores of other providers for the copies of moves
// there (null: those moves wait).  `files` loses the files removed; the unique
// names of the messages that moved away are returned.
std::vector<std::string> FinishInterruptedChanges(const std::string& folderPath,
                                                  std::vector<MessageFile>& files,
                                                  MovedCopyFinder* finder);

} // namespace qf::mapi::maildir
