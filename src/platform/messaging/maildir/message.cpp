// Stored messages of the Maildir provider: reading a message file, its read
// flag, and writing a changed subject or body as a replacement (store.h).
#include "platform/messaging/change_batch.h"
#include "platform/messaging/maildir/fsops.h"
#include "platform/messaging/maildir/objects.h"
#include "platform/messaging/maildir/recovery.h"

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace qf::mapi::maildir {

StoredMessage::StoredMessage(std::shared_ptr<MaildirStore> store, std::string folder,
                             MessageFile file)
    : MimeMessage(store->Origin()), store_(std::move(store)), folder_(std::move(folder)),
      file_(std::move(file)) {
    error_.MirrorTo(&store_->error());
}

HRESULT StoredMessage::Load() {
    if (content_) {
        return S_OK;
    }
    int err = ReadFile();
    if (err == ENOENT) {
        MessageFile now;
        if (store_->Locate(folder_, file_.unique, now)) {
            file_ = now;
            err = ReadFile();
        }
    }
    if (err != 0) {
        return error_.Set(err == ENOENT ? MAPI_E_OBJECT_DELETED : MAPI_E_DISK_ERROR,
                          "Cannot read " + PathOf(file_), err);
    }
    return S_OK;
}

void StoredMessage::ReadAhead() {
    // Only this object and the store's root are used here: the store's index
    // and its last error belong to the thread that uses the store.
    if (!content_ && ReadFile() == 0) {
        content_->PlainBody();
    }
}

int StoredMessage::ReadFile() {
    std::string bytes;
    // The status of the file read (not of whatever the name leads to a moment
    // later): a later save compares the inode to see whether it changed.
    struct stat st {};
    if (const int err = ReadWholeFile(PathOf(file_), bytes, &st); err != 0) {
        return err;
    }
    if (st.st_ino != 0) {
        inode_ = st.st_ino;
        fileTime_ = FileTimeOf(st);
    }
    size_ = static_cast<std::int64_t>(bytes.size());
    content_ = mime::ParsedContent::Parse(std::move(bytes));
    return 0;
}

mime::MessageFacts StoredMessage::Facts() {
    mime::MessageFacts f = OriginFacts();
    f.folder = folder_;
    f.unique = file_.unique;
    f.flags = file_.flags;
    f.size = size_;
    f.fileTime = fileTime_;
    f.summary = &content_->summary();
    f.hasAttach = content_->HasAttachments();
    f.content = content_.get();
    f.pendingSubject = &pendingSubject_;
    f.pendingBody = &pendingBody_;
    return f;
}

HRESULT StoredMessage::SetReadFlag(std::uint32_t flags) {
    MessageFile now;
    if (!store_->Locate(folder_, file_.unique, now)) {
        return error_.Set(MAPI_E_OBJECT_DELETED,
                          "Message " + file_.unique + " is no longer in " + FolderPath());
    }
    file_ = now;
    std::string newFlags = now.flags;
    if ((flags & CLEAR_READ_FLAG) != 0) {
        newFlags.erase(std::remove(newFlags.begin(), newFlags.end(), 'S'), newFlags.end());
    } else {
        newFlags += 'S';
    }
    const std::string newName = WithFlags(now.unique, newFlags);
    if (now.subdir == "cur" && newName == now.fileName) {
        return S_OK;
    }
    const std::string from = PathOf(now);
    const std::string to = FolderPath() + "/cur/" + newName;
    if (const int err = RenameNoReplace(from, to); err != 0) {
        return error_.Set(MAPI_E_DISK_ERROR, "Cannot rename " + from + " to " + to, err);
    }
    SyncFolder(FolderPath() + "/cur");
    if (now.subdir != "cur") {
        SyncFolder(FolderPath() + "/" + now.subdir);
    }
    file_ = SplitFileName("cur", newName);
    store_->Remember(folder_, file_);
    return S_OK;
}

HRESULT StoredMessage::SaveChanges(std::uint32_t flags) {
    if (!pendingSubject_ && !pendingBody_) {
        return S_OK;
    }
    HRESULT hr = Load();
    MessageFile now;
    std::string bytes;
    MessageFile next;
    if (Failed(hr) || Failed(hr = FindCurrentFile(flags, now)) ||
        Failed(hr = ChangedBytes(now, bytes)) || Failed(hr = WriteReplacement(now, bytes, next))) {
        return hr;
    }
    store_->Forget(folder_, now.unique);
    store_->Remember(folder_, next);
    file_ = next;
    pendingSubject_.reset();
    pendingBody_.reset();
    // Read again only when asked for: a tagging run never reads it again.
    content_.reset();
    return S_OK;
}

// Where the message is now, and whether it is still the one read (a forced save
// writes over a change another program made).
HRESULT StoredMessage::FindCurrentFile(std::uint32_t flags, MessageFile& now) {
    bool changed = false;
    if (store_->Locate(folder_, file_.unique, now)) {
        struct stat st {};
        changed = ::lstat(PathOf(now).c_str(), &st) != 0 || st.st_ino != inode_;
    } else if (auto replacement = FindReplacement(FolderPath(), file_.unique)) {
        now = std::move(*replacement);
        changed = true;
    } else {
        return error_.Set(MAPI_E_OBJECT_DELETED,
                          "Message " + file_.unique + " is no longer in " + FolderPath());
    }
    if (changed && (flags & FORCE_SAVE) == 0) {
        return error_.Set(MAPI_E_OBJECT_CHANGED,
                          "Message " + file_.unique + " was changed by another program");
    }
    return S_OK;
}

// The message file `now` with the pending body and subject, marked as its
// replacement.
HRESULT StoredMessage::ChangedBytes(const MessageFile& now, std::string& bytes) {
    if (const int err = ReadWholeFile(PathOf(now), bytes); err != 0) {
        return error_.Set(MAPI_E_DISK_ERROR, "Cannot read " + PathOf(now), err);
    }
    if (pendingBody_) {
        // Parsed whole from the file, the message is never partial.
        bytes = mime::ParsedContent::Parse(std::move(bytes))->WithNewBody(*pendingBody_).value();
    }
    bytes = MarkAsReplacement(bytes, pendingSubject_, now.unique);
    return S_OK;
}

// Writes the new message to tmp/, renames it into cur/ under a new unique name,
// then removes the old file.  Should the removal not happen, the next listing of
// the folder finishes it.
HRESULT StoredMessage::WriteReplacement(const MessageFile& now, const std::string& bytes,
                                        MessageFile& next) {
    const std::string unique = NewUniqueName(true);
    const std::string tmp = FolderPath() + "/tmp/" + unique;
    if (!IsDirectory(FolderPath() + "/tmp")) {
        ::mkdir((FolderPath() + "/tmp").c_str(), 0700);
    }
    // The new message keeps the old one's mode: a mailbox shared with a group
    // stays readable by it.
    struct stat old {};
    const mode_t mode = ::lstat(PathOf(now).c_str(), &old) == 0 ? old.st_mode & 07777 : 0600;
    if (const int err = WriteNewFile(tmp, bytes, mode); err != 0) {
        return error_.Set(WriteFailure(err), "Cannot write " + tmp, err);
    }
    next = SplitFileName("cur", WithFlags(unique, now.flags));
    if (ChangeBatch* batch = ChangeBatch::Current()) {
        DeferReplacement(*batch, tmp, PathOf(next), PathOf(now));
        return S_OK;
    }
    if (const int err = RenameNoReplace(tmp, PathOf(next)); err != 0) {
        ::unlink(tmp.c_str());
        return error_.Set(MAPI_E_DISK_ERROR, "Cannot rename " + tmp + " to " + PathOf(next), err);
    }
    SyncFolder(FolderPath() + "/cur");
    if (RemoveFile(PathOf(now)) == 0) {
        SyncFolder(FolderPath() + "/" + now.subdir);
    }
    return S_OK;
}

// The replacement as a batch does it: the new file waits in tmp/ until the
// batch's sync, is then renamed into cur/, and the old file is removed once
// that rename is durable.  Stopped in between, the old message stays (the new
// one still in tmp/) or the listing finishes the removal.
void StoredMessage::DeferReplacement(ChangeBatch& batch, const std::string& tmp,
                                     const std::string& to, const std::string& old) {
    auto renamed = std::make_shared<bool>(false);
    batch.AfterSync(
        [tmp, to, renamed] {
            const int err = RenameNoReplace(tmp, to);
            if (err != 0) {
                ::unlink(tmp.c_str());
            }
            *renamed = err == 0;
            return err;
        },
        FolderPath() + "/cur");
    batch.AfterRenames([old, renamed] {
        if (*renamed) {
            RemoveFile(old);
        }
        return 0;
    });
}

} // namespace qf::mapi::maildir
