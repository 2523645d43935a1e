// Copying and moving messages between Maildir folders.
//
// Within one store a move is a rename, which keeps the message exactly once at
// every instant.  To another store or file system (and for a copy) the copy is
// written completely before the original goes; a move first leaves a note in
// the source folder (recovery.h; to a store of another provider, store_moves.h),
// so that a listing finishes a move a stopped process left between the copy and
// the removal.
#include "platform/messaging/change_batch.h"
#include "platform/messaging/maildir/fsops.h"
#include "platform/messaging/maildir/objects.h"
#include "platform/messaging/maildir/recovery.h"
#include "platform/messaging/store_moves.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace qf::mapi::maildir {

namespace {

void EnsureFolder(const std::string& path) {
    if (!IsDirectory(path)) {
        ::mkdir(path.c_str(), 0700);
    }
}

} // namespace

HRESULT MaildirFolder::CopyMessages(const EntryList& messages, Iid,
                                    const std::shared_ptr<IMAPIFolder>& destination, std::uintptr_t,
                                    void*, std::uint32_t flags) {
    if (!destination) {
        return error_.Set(MAPI_E_INVALID_PARAMETER, "No destination folder");
    }
    auto* dest = dynamic_cast<MaildirFolder*>(destination.get());
    if (dest == nullptr) {
        for (const EntryId& id : messages) {
            if (HRESULT hr = CopyToOtherProvider(id, *destination, (flags & MESSAGE_MOVE) != 0);
                Failed(hr)) {
                return hr;
            }
        }
        return S_OK;
    }
    if (!dest->store_->FolderExists(dest->folder_)) {
        return error_.Set(MAPI_E_NOT_FOUND, "Folder " + dest->Path() + " does not exist");
    }
    for (const EntryId& id : messages) {
        HRESULT hr = CopyOne(id, *dest, (flags & MESSAGE_MOVE) != 0);
        if (Failed(hr)) {
            return hr;
        }
    }
    return S_OK;
}

HRESULT MaildirFolder::CopyOne(const EntryId& id, MaildirFolder& dest, bool move) {
    MessageFile file;
    if (HRESULT hr = FindSource(id, file); Failed(hr)) {
        return hr;
    }
    if (move && &dest == this) {
        return S_OK;
    }
    if (move && dest.store_->root() == store_->root()) {
        std::string to;
        const int err = RenameInto(file, dest, to);
        if (err == 0) {
            return S_OK;
        }
        if (err != EXDEV) {
            const std::string from = Path() + "/" + file.subdir + "/" + file.fileName;
            return error_.Set(MAPI_E_DISK_ERROR, "Cannot move " + from + " to " + to, err);
        }
    }
    return CopyAcross(file, dest, move);
}

// The message file an identifier names in this folder (or its replacement).
HRESULT MaildirFolder::FindSource(const EntryId& id, MessageFile& file) {
    auto parts = ParseEntryId(id);
    if (!parts || parts->kind != EntryKind::Message || parts->store != store_->uid() ||
        !IsValidFolderName(parts->folder) || !IsValidUniqueName(parts->message)) {
        return error_.Set(MAPI_E_INVALID_ENTRYID, "The identifier does not name a message here");
    }
    if (parts->folder != folder_) {
        return error_.Set(MAPI_E_NOT_FOUND, "The message is not in folder " + Path());
    }
    if (!store_->LocateOrReplacement(folder_, parts->message, file)) {
        return error_.Set(MAPI_E_NOT_FOUND,
                          "Message " + parts->message + " is no longer in " + Path());
    }
    return S_OK;
}

// Renames the message into a folder of the same store (under a new unique name
// when its own is taken there).  Returns 0 or errno; `to` receives the target.
int MaildirFolder::RenameInto(const MessageFile& file, MaildirFolder& dest, std::string& to) {
    const std::string from = Path() + "/" + file.subdir + "/" + file.fileName;
    MessageFile moved = file;
    to = dest.Path() + "/" + moved.subdir + "/" + moved.fileName;
    int err = RenameNoReplace(from, to);
    if (err == EEXIST) {
        moved = SplitFileName("cur", WithFlags(NewUniqueName(false), file.flags));
        to = dest.Path() + "/cur/" + moved.fileName;
        err = RenameNoReplace(from, to);
    }
    if (err == 0) {
        SyncFolder(dest.Path() + "/" + moved.subdir);
        SyncFolder(Path() + "/" + file.subdir);
        store_->Forget(folder_, file.unique);
        dest.store_->Remember(dest.folder_, moved);
    }
    return err;
}

HRESULT MaildirFolder::CopyAcross(const MessageFile& file, MaildirFolder& dest, bool move) {
    // The original goes as soon as the copy is durable: no step waits for a batch.
    ImmediateChanges immediate;
    const std::string from = Path() + "/" + file.subdir + "/" + file.fileName;
    std::string bytes;
    if (const int err = ReadWholeFile(from, bytes); err != 0) {
        return error_.Set(MAPI_E_DISK_ERROR, "Cannot read " + from, err);
    }
    std::string unique = move ? file.unique : NewUniqueName(false);
    MessageFile existing;
    if (dest.store_->Locate(dest.folder_, unique, existing)) {
        unique = NewUniqueName(false);
    }
    EnsureFolder(dest.Path() + "/tmp");
    EnsureFolder(Path() + "/tmp");
    const std::string note = MoveNotePath(Path(), file.unique);
    if (move) {
        if (const int err = WriteMoveNote(note, MoveNote{dest.Path(), unique, std::nullopt, ""});
            err != 0) {
            return error_.Set(WriteFailure(err), "Cannot write " + note, err);
        }
    }
    if (HRESULT hr = WriteCopy(bytes, dest, unique, file.flags); Failed(hr)) {
        if (move) {
            ::unlink(note.c_str());
        }
        return hr;
    }
    if (!move) {
        return S_OK;
    }
    if (const int rm = RemoveFile(from); rm != 0 && rm != ENOENT) {
        return error_.Set(MAPI_E_DISK_ERROR, "Copied, but cannot remove " + from, rm);
    }
    SyncFolder(Path() + "/" + file.subdir);
    RemoveFile(note);
    store_->Forget(folder_, file.unique);
    return S_OK;
}

// A folder of another provider receives the message's bytes; the original goes
// only once the destination has stored them.
HRESULT MaildirFolder::CopyToOtherProvider(const EntryId& id, IMAPIFolder& dest, bool move) {
    MessageFile file;
    if (HRESULT hr = FindSource(id, file); Failed(hr)) {
        return hr;
    }
    const std::string from = Path() + "/" + file.subdir + "/" + file.fileName;
    std::string bytes;
    if (const int err = ReadWholeFile(from, bytes); err != 0) {
        return error_.Set(MAPI_E_DISK_ERROR, "Cannot read " + from, err);
    }
    if (move) {
        return MoveToOtherProvider(file, bytes, dest);
    }
    if (HRESULT hr = dest.SaveRawMessage(bytes, file.flags.find('S') != std::string::npos);
        Failed(hr)) {
        std::optional<MapiErrorInfo> why;
        dest.GetLastError(hr, 0, why);
        return error_.Set(hr, why ? why->error : "The destination did not store " + from);
    }
    return S_OK;
}

// A move notes the destination and the copy's token beside the original first
// (store_moves.h), so that a listing finishes a move the process stopped in
// between the copy and the removal.  A note an earlier, interrupted move of
// the message left is settled first: when its copy arrived, the move is done.
HRESULT MaildirFolder::MoveToOtherProvider(const MessageFile& file, const std::string& bytes,
                                           IMAPIFolder& dest) {
    ImmediateChanges immediate;
    std::optional<PropValue> destId;
    if (Failed(HrGetOneProp(dest, PR_ENTRYID, destId)) || destId->Bin() == nullptr) {
        return error_.Set(MAPI_E_INVALID_PARAMETER, "The destination folder has no identifier");
    }
    const std::string note = MoveNotePath(Path(), file.unique);
    const auto earlier = ReadMoveNote(note);
    if (earlier && earlier->destinationFolder) {
        MovedCopyFinder finder(store_->profile());
        if (finder.Find(*earlier->destinationFolder, earlier->token) == CopyState::Found) {
            if (HRESULT hr = RemoveMovedOriginal(file, note); Failed(hr)) {
                return hr;
            }
            return *earlier->destinationFolder == *destId->Bin()
                       ? S_OK
                       : error_.Set(MAPI_E_NOT_FOUND, "Message " + file.unique +
                                                          " had already moved to another folder");
        }
    }
    // Another try for the same folder keeps the token: whichever copy arrives
    // settles the move.
    const bool again = earlier && earlier->destinationFolder == *destId->Bin();
    const std::string token = again ? earlier->token : NewMoveToken();
    EnsureFolder(Path() + "/tmp");
    if (const int err = WriteMoveNote(note, MoveNote{"", "", *destId->Bin(), token}); err != 0) {
        return error_.Set(WriteFailure(err), "Cannot write " + note, err);
    }
    ReachedMoveStep(MoveStep::NoteWritten);
    // On failure the note stays: the copy may have been stored all the same,
    // and the next listing asks the destination.
    if (HRESULT hr = dest.SaveRawMessage(MarkAsMovedCopy(bytes, token),
                                         file.flags.find('S') != std::string::npos);
        Failed(hr)) {
        std::optional<MapiErrorInfo> why;
        dest.GetLastError(hr, 0, why);
        return error_.Set(hr, why ? why->error : "The destination did not store " + file.unique);
    }
    ReachedMoveStep(MoveStep::CopyStored);
    return RemoveMovedOriginal(file, note);
}

HRESULT MaildirFolder::RemoveMovedOriginal(const MessageFile& file, const std::string& notePath) {
    const std::string from = Path() + "/" + file.subdir + "/" + file.fileName;
    if (const int rm = RemoveFile(from); rm != 0 && rm != ENOENT) {
        return error_.Set(MAPI_E_DISK_ERROR, "Copied, but cannot remove " + from, rm);
    }
    SyncFolder(Path() + "/" + file.subdir);
    RemoveFile(notePath);
    store_->Forget(folder_, file.unique);
    return S_OK;
}

HRESULT MaildirFolder::FindMovedCopy(const std::string& token, bool& found) {
    found = false;
    if (!store_->FolderExists(folder_)) {
        return error_.Set(MAPI_E_NOT_FOUND, "Folder " + Path() + " no longer exists");
    }
    for (const MessageFile& f : ListMessageFiles(Path())) {
        std::string head;
        if (ReadHeaderBytes(Path() + "/" + f.subdir + "/" + f.fileName, head) == 0 &&
            CarriesMoveToken(mime::SplitHeaders(head).headers, token)) {
            found = true;
            return S_OK;
        }
    }
    return S_OK;
}

HRESULT MaildirFolder::SaveRawMessage(const std::string& bytes, bool read) {
    // The caller removes the original as soon as this returns: the copy must be
    // durable by then, not at the commit of a batch.
    ImmediateChanges immediate;
    EnsureFolder(Path() + "/tmp");
    return WriteCopy(bytes, *this, NewUniqueName(false), read ? "S" : "");
}

// The message is written as it is read, a piece at a time.
HRESULT MaildirFolder::SaveRawStream(IStream& source, bool read) {
    ImmediateChanges immediate; // durable on return, as SaveRawMessage
    EnsureFolder(Path() + "/tmp");
    constexpr std::uint32_t kPiece = 256u << 10;
    HRESULT readFailure = S_OK;
    std::string buffer(kPiece, '\0');
    auto next = [&](std::string_view& piece) {
        std::uint32_t n = 0;
        readFailure = source.Read(buffer.data(), kPiece, &n);
        piece = std::string_view(buffer.data(), Succeeded(readFailure) ? n : 0);
        return Succeeded(readFailure);
    };
    const HRESULT hr = WriteCopyFrom(next, *this, NewUniqueName(false), read ? "S" : "");
    if (Failed(readFailure)) {
        return error_.Set(readFailure, "Cannot read the message to store in " + Path());
    }
    return hr;
}

HRESULT MaildirFolder::WriteCopy(const std::string& bytes, MaildirFolder& dest,
                                 const std::string& unique, const std::string& flags) {
    bool given = false;
    return WriteCopyFrom(
        [&](std::string_view& piece) {
            piece = given ? std::string_view() : std::string_view(bytes);
            given = true;
            return true;
        },
        dest, unique, flags);
}

// Writes the copy completely to the destination's tmp/, then renames it into cur/.
HRESULT MaildirFolder::WriteCopyFrom(const std::function<bool(std::string_view&)>& next,
                                     MaildirFolder& dest, const std::string& unique,
                                     const std::string& flags) {
    const std::string tmp = dest.Path() + "/tmp/" + unique;
    ::unlink(tmp.c_str()); // a copy a stopped process left unfinished
    if (const int err = WriteNewFileFrom(tmp, next); err == kSourceFailed) {
        return MAPI_E_CALL_FAILED;
    } else if (err != 0) {
        return error_.Set(WriteFailure(err), "Cannot write " + tmp, err);
    }
    const MessageFile copy = SplitFileName("cur", WithFlags(unique, flags));
    const std::string to = dest.Path() + "/cur/" + copy.fileName;
    if (const int err = RenameNoReplace(tmp, to); err != 0) {
        ::unlink(tmp.c_str());
        return error_.Set(MAPI_E_DISK_ERROR, "Cannot rename " + tmp + " to " + to, err);
    }
    SyncFolder(dest.Path() + "/cur");
    dest.store_->Remember(dest.folder_, copy);
    return S_OK;
}

} // namespace qf::mapi::maildir
