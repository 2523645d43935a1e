#include "platform/messaging/maildir/recovery.h"

#include "platform/messaging/maildir/fsops.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <dirent.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace qf::mapi::maildir {

namespace {

constexpr const char* kMoveNoteSuffix = ".qfmove";
constexpr int kMaxEarlierNames = 32;
// A note of a move to a store of another provider starts with this and the
// destination folder's identifier in hex (a folder path never does).
constexpr const char* kFolderPrefix = "folder ";

std::string HexOf(const EntryId& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string hex;
    for (std::uint8_t b : bytes) {
        hex += digits[b >> 4];
        hex += digits[b & 15];
    }
    return hex;
}

std::optional<EntryId> BytesOfHex(const std::string& hex) {
    auto value = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    };
    if (hex.empty() || hex.size() % 2 != 0) {
        return std::nullopt;
    }
    EntryId bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int hi = value(hex[i]);
        const int lo = value(hex[i + 1]);
        if (hi < 0 || lo < 0) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    }
    return bytes;
}

std::string PathOf(const std::string& folderPath, const MessageFile& f) {
    return folderPath + "/" + f.subdir + "/" + f.fileName;
}

// The names a replacement message lists (none when its header cannot be read).
std::vector<std::string> NamesReplacedBy(const std::string& folderPath, const MessageFile& f) {
    std::string head;
    if (ReadHeaderBytes(PathOf(folderPath, f), head) != 0) {
        return {};
    }
    return ReplacedNames(mime::SplitHeaders(head).headers);
}

// Removes a message file that a finished change left behind; true when it is gone.
bool RemoveLeftover(const std::string& folderPath, const MessageFile& f) {
    const int err = RemoveFile(PathOf(folderPath, f));
    if (err != 0 && err != ENOENT) {
        return false;
    }
    SyncFolder(folderPath + "/" + f.subdir);
    return true;
}

// The notes of moves out of a folder: file names in its tmp/.
std::vector<std::string> MoveNoteNames(const std::string& tmpPath) {
    std::vector<std::string> notes;
    DIR* dir = ::opendir(tmpPath.c_str());
    if (dir == nullptr) {
        return notes;
    }
    const std::size_t suffix = std::strlen(kMoveNoteSuffix);
    while (dirent* e = ::readdir(dir)) {
        const std::string n = e->d_name;
        if (n.size() > suffix && n.compare(n.size() - suffix, suffix, kMoveNoteSuffix) == 0) {
            notes.push_back(n);
        }
    }
    ::closedir(dir);
    return notes;
}

bool CopyIsComplete(const MoveNote& note) {
    if (note.copyUnique.empty()) {
        return false;
    }
    for (const auto& f : ListMessageFiles(note.destinationPath)) {
        if (f.unique == note.copyUnique) {
            return true;
        }
    }
    return false;
}

// Removes the original of a finished move from the folder and from `files`.
void RemoveOriginal(const std::string& folderPath, const std::string& unique,
                    std::vector<MessageFile>& files, std::vector<std::string>& movedAway) {
    for (auto it = files.begin(); it != files.end();) {
        if (it->unique == unique && RemoveLeftover(folderPath, *it)) {
            movedAway.push_back(unique);
            it = files.erase(it);
        } else {
            ++it;
        }
    }
}

// Whether the copy a note names is in its destination; Unknown keeps the note.
CopyState CopyStateOf(const MoveNote& note, MovedCopyFinder* finder) {
    if (note.destinationFolder) {
        return finder != nullptr ? finder->Find(*note.destinationFolder, note.token)
                                 : CopyState::Unknown;
    }
    return CopyIsComplete(note) ? CopyState::Found : CopyState::Absent;
}

// Finishes the moves out of a folder that a stopped process left half done: when
// the copy a note names is complete in its folder, the original goes.
void FinishMoves(const std::string& folderPath, std::vector<MessageFile>& files,
                 MovedCopyFinder* finder, std::vector<std::string>& movedAway) {
    const std::string tmp = folderPath + "/tmp";
    const std::size_t suffix = std::strlen(kMoveNoteSuffix);
    for (const std::string& n : MoveNoteNames(tmp)) {
        const std::string unique = n.substr(0, n.size() - suffix);
        const std::optional<MoveNote> note = ReadMoveNote(tmp + "/" + n);
        if (!note) {
            continue;
        }
        const bool originalHere = std::any_of(
            files.begin(), files.end(), [&](const MessageFile& f) { return f.unique == unique; });
        // A note naming the same place and name as the original would remove the copy.
        const bool samePlace = note->destinationPath == folderPath && note->copyUnique == unique;
        const CopyState state =
            originalHere && !samePlace ? CopyStateOf(*note, finder) : CopyState::Absent;
        if (state == CopyState::Unknown) {
            continue;
        }
        if (state == CopyState::Found) {
            RemoveOriginal(folderPath, unique, files, movedAway);
        }
        RemoveFile(tmp + "/" + n);
    }
}

// Finishes the replacements a stopped process left half done: a marked message
// whose replaced message is still there removes that one.
void FinishReplacements(const std::string& folderPath, std::vector<MessageFile>& files) {
    std::map<std::string, std::size_t> byUnique;
    for (std::size_t i = 0; i < files.size(); ++i) {
        byUnique[files[i].unique] = i;
    }
    std::vector<bool> drop(files.size(), false);
    for (const auto& f : files) {
        if (!IsReplacementName(f.unique)) {
            continue;
        }
        for (const std::string& old : NamesReplacedBy(folderPath, f)) {
            auto it = byUnique.find(old);
            if (it != byUnique.end() && !drop[it->second] && old != f.unique &&
                RemoveLeftover(folderPath, files[it->second])) {
                drop[it->second] = true;
            }
        }
    }
    std::vector<MessageFile> kept;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (!drop[i]) {
            kept.push_back(std::move(files[i]));
        }
    }
    files = std::move(kept);
}

// Files left in tmp/ by a process that stopped before renaming them: Maildir
// readers remove those older than 36 hours.  A move note still there waits for
// a destination out of reach (FinishMoves removes every other): it stays.
void RemoveStaleTemporaryFiles(const std::string& tmpPath) {
    DIR* dir = ::opendir(tmpPath.c_str());
    if (dir == nullptr) {
        return;
    }
    const auto cutoff = std::chrono::duration_cast<std::chrono::seconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count() -
                        36 * 3600;
    while (dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        const std::size_t suffix = std::strlen(kMoveNoteSuffix);
        if (name[0] == '.' || (name.size() > suffix &&
                               name.compare(name.size() - suffix, suffix, kMoveNoteSuffix) == 0)) {
            continue;
        }
        const std::string path = tmpPath + "/" + name;
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_mtime < cutoff) {
            ::unlink(path.c_str());
        }
    }
    ::closedir(dir);
}

} // namespace

std::vector<std::string> ReplacedNames(const std::vector<mime::RawHeader>& headers) {
    return mime::HeaderWords(headers, kReplacesHeader);
}

std::string MarkAsReplacement(std::string_view bytes, const std::optional<std::string>& newSubject,
                              const std::string& replaced) {
    // The names replaced before stay listed, so an identifier of any earlier
    // version of the message still leads to this one.  Only a replacement
    // this provider wrote has earlier versions: the header of a message that
    // arrived with one is someone else's claim and is dropped, never carried
    // forward (it would make the listing remove the messages it names).
    std::string names = replaced;
    int kept = 0;
    const std::vector<std::string> earlier = IsReplacementName(replaced)
                                                 ? ReplacedNames(mime::SplitHeaders(bytes).headers)
                                                 : std::vector<std::string>{};
    for (const std::string& old : earlier) {
        if (old != replaced && ++kept <= kMaxEarlierNames) {
            names += " " + old;
        }
    }
    return mime::RewriteHeaders(bytes, newSubject, {kReplacesHeader, names});
}

std::optional<MessageFile> FindReplacement(const std::string& folderPath,
                                           const std::string& unique) {
    std::optional<MessageFile> found;
    std::size_t best = 0;
    for (const auto& f : ListMessageFiles(folderPath)) {
        if (!IsReplacementName(f.unique)) {
            continue;
        }
        const auto names = NamesReplacedBy(folderPath, f);
        if (names.size() > best && std::find(names.begin(), names.end(), unique) != names.end()) {
            best = names.size();
            found = f;
        }
    }
    return found;
}

std::string MoveNotePath(const std::string& folderPath, const std::string& unique) {
    return folderPath + "/tmp/" + unique + kMoveNoteSuffix;
}

int WriteMoveNote(const std::string& notePath, const MoveNote& note) {
    ::unlink(notePath.c_str());
    std::string text = note.destinationPath + "\n" + note.copyUnique + "\n";
    if (note.destinationFolder) {
        text = kFolderPrefix + HexOf(*note.destinationFolder) + "\n" + note.token + "\n";
    }
    const int err = WriteNewFile(notePath, text);
    if (err == 0) {
        SyncFolder(notePath.substr(0, notePath.rfind('/')));
    }
    return err;
}

std::optional<MoveNote> ReadMoveNote(const std::string& notePath) {
    std::string text;
    if (ReadWholeFile(notePath, text) != 0) {
        return std::nullopt;
    }
    MoveNote note;
    const std::size_t nl = text.find('\n');
    note.destinationPath = text.substr(0, nl);
    if (nl != std::string::npos) {
        note.copyUnique = text.substr(nl + 1, text.find('\n', nl + 1) - nl - 1);
    }
    const std::size_t prefix = std::strlen(kFolderPrefix);
    if (note.destinationPath.compare(0, prefix, kFolderPrefix) == 0) {
        note.destinationFolder = BytesOfHex(note.destinationPath.substr(prefix));
        if (!note.destinationFolder || note.copyUnique.empty()) {
            return std::nullopt;
        }
        note.token = std::exchange(note.copyUnique, "");
        note.destinationPath.clear();
    }
    return note;
}

std::vector<std::string> FinishInterruptedChanges(const std::string& folderPath,
                                                  std::vector<MessageFile>& files,
                                                  MovedCopyFinder* finder) {
    std::vector<std::string> movedAway;
    FinishMoves(folderPath, files, finder, movedAway);
    FinishReplacements(folderPath, files);
    RemoveStaleTemporaryFiles(folderPath + "/tmp");
    return movedAway;
}

} // namespace qf::mapi::maildir
