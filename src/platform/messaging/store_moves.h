// Moves between stores of one profile that go through a message's bytes (a
// Maildir folder to an IMAP account or back, one account to another): the copy
// is stored in the destination before the original goes.  Should the process
// stop between the two, the message would be in both places and the next run
// would take it again.  So a move first leaves a note with the original, naming
// the destination folder and a token, and the copy carries the token in an
// X-Quillfence-Move header.  The next listing of the source (or the next move of
// the message) that finds a note asks the destination for the copy:
//
//  - found: the original goes; the move is finished and the listing does not
//    show the message;
//  - not there (the process stopped before the copy was stored, or the folder
//    or its store is gone): the note goes and the original stays, to be taken
//    again: nothing is lost;
//  - the destination out of reach: note and original stay until a listing can
//    tell.  The message is listed meanwhile (better taken twice than hidden).
//
// Where a note lies is the source provider's business: a file beside the
// original (Maildir), a keyword on it (IMAP).
#pragma once

#include "platform/messaging/entryid.h"
#include "platform/messaging/mime/headers.h"
#include "platform/messaging/provider.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qf::mapi {

// The header that carries a move's token in the copy.
inline constexpr const char* kMoveHeader = "X-Quillfence-Move";

// A fresh token: 32 random hex digits.
std::string NewMoveToken();
// The bytes the copy of a move stores: the message with `token` in the move
// header (one the message brought along is replaced).
std::string MarkAsMovedCopy(std::string_view bytes, const std::string& token);
// Whether `headers` carry exactly `token` in the move header.
bool CarriesMoveToken(const std::vector<mime::RawHeader>& headers, const std::string& token);

// A short name of a folder identifier: 16 hex digits of its store, 16 of a
// hash of its name.  IMAP notes name their destination by it.
std::string FolderCode(const EntryId& folder);

enum class CopyState {
    Found,   // the destination holds the copy
    Absent,  // it does not (or the folder or its store is gone)
    Unknown, // the destination could not be asked
};

// Asks folders of the profile's stores for the copies of moves, opening each
// store at most once.
class MovedCopyFinder {
public:
    explicit MovedCopyFinder(std::shared_ptr<const ProfileStores> profile)
        : profile_(std::move(profile)) {}

    // Whether folder `destination` holds the copy marked with `token`.
    CopyState Find(const EntryId& destination, const std::string& token);
    // The folder of the profile's stores whose FolderCode is `code`; nothing
    // when none is, Unknown in `state` when a store that may hold it could not
    // be opened.
    std::optional<EntryId> FolderOfCode(const std::string& code, CopyState& state);

private:
    // The store opened, or null with the reason it is not in `state`.
    std::shared_ptr<IMsgStore> Open(const StoreUid& uid, CopyState& state);
    void CollectFolders(IMAPIFolder& folder, int depth, std::vector<EntryId>& out);

    std::shared_ptr<const ProfileStores> profile_;
    std::map<StoreUid, std::pair<std::shared_ptr<IMsgStore>, CopyState>> opened_;
};

// The steps of a move between stores, at which a test can stop the process.
enum class MoveStep {
    NoteWritten, // the note is durable, the copy not yet stored
    CopyStored,  // the copy is stored, the original not yet removed
};
void ReachedMoveStep(MoveStep step);

namespace testing {
// Called at each step of every move between stores (an empty function: none).
void SetMoveStepHook(std::function<void(MoveStep)> hook);
} // namespace testing

} // namespace qf::mapi
