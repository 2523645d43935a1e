// Folders of the Maildir provider: the folder tree, folder properties, and the
// hierarchy and contents tables.
#include "platform/messaging/maildir/fsops.h"
#include "platform/messaging/maildir/objects.h"
#include "platform/messaging/maildir/recovery.h"
#include "platform/messaging/modified_utf7.h"

#include <algorithm>
#include <dirent.h>
#include <exception>
#include <thread>

namespace qf::mapi::maildir {

namespace {

using mime::Depth;

// The rows of a folder's contents table, each read from its file only as deep
// as the columns asked for need: the header block tells most; only a
// multipart's structure needs the whole file.
class ContentsSource : public TableSource {
public:
    ContentsSource(std::shared_ptr<MaildirStore> store, std::string folder,
                   std::vector<MessageFile> files)
        : store_(std::move(store)), folder_(std::move(folder)), files_(std::move(files)),
          rows_(files_.size()) {}

    std::size_t RowCount() override { return files_.size(); }

    // Every row is about to be read: when the header blocks tell all that is
    // asked for, they are read on two threads (each row by one of them; a
    // row's reading touches nothing but the row and its file).
    void Prepare(const PropTagArray& tags) override {
        constexpr std::size_t kWorthASecondThread = 64;
        if (mime::DepthOf(tags) != Depth::Headers || rows_.size() < kWorthASecondThread) {
            return;
        }
        const std::string folderPath = store_->FolderPath(folder_);
        auto readRows = [&](std::size_t from, std::size_t to) {
            for (std::size_t row = from; row < to; ++row) {
                if (!rows_[row].loaded) {
                    const MessageFile& file = files_[row];
                    ReadHeaderBlock(rows_[row],
                                    folderPath + "/" + file.subdir + "/" + file.fileName);
                }
            }
        };
        const std::size_t half = rows_.size() / 2;
        std::exception_ptr failure; // raised here, as a read on this thread would be
        std::thread second([&] {
            try {
                readRows(half, rows_.size());
            } catch (...) {
                failure = std::current_exception();
            }
        });
        try {
            readRows(0, half);
        } catch (...) {
            second.join();
            throw;
        }
        second.join();
        if (failure) {
            std::rethrow_exception(failure);
        }
    }
    PropTagArray DefaultColumns() override {
        return {PR_ENTRYID,      PR_SUBJECT,      PR_SENDER_EMAIL_ADDRESS, PR_MESSAGE_DELIVERY_TIME,
                PR_MESSAGE_SIZE, PR_MESSAGE_FLAGS};
    }
    std::string Component() const override { return kComponent; }

    HRESULT Values(std::size_t row, const PropTagArray& tags, Row& values) override {
        values.clear();
        if (row >= files_.size()) {
            return MAPI_E_INVALID_PARAMETER;
        }
        const MessageFile& file = files_[row];
        const std::string path =
            store_->FolderPath(folder_) + "/" + file.subdir + "/" + file.fileName;
        std::shared_ptr<mime::ParsedContent> full =
            ReadAsNeeded(rows_[row], path, mime::DepthOf(tags));
        values = mime::MessageProps(&tags, FactsOf(rows_[row], file, full.get()));
        return S_OK;
    }

private:
    // What is known of a row so far.
    struct RowState {
        bool loaded = false; // the header block was read
        bool known = false;  // the file could be read
        std::int64_t size = 0;
        std::optional<FileTime> fileTime;
        mime::Summary summary;
        std::optional<bool> hasAttach;
    };

    // Reads what `depth` needs and the row does not know yet; the whole message
    // when it was parsed.
    static std::shared_ptr<mime::ParsedContent> ReadAsNeeded(RowState& st, const std::string& path,
                                                             Depth depth) {
        std::shared_ptr<mime::ParsedContent> full;
        if (!st.loaded || (depth > Depth::Headers && !st.hasAttach)) {
            if (!st.loaded) {
                ReadHeaderBlock(st, path);
            } else if (struct stat sb{}; ::lstat(path.c_str(), &sb) == 0) {
                st.size = sb.st_size;
                st.fileTime = FileTimeOf(sb);
            }
            if (st.known && depth > Depth::Headers && !st.hasAttach) {
                full = ParseWhole(path);
                st.known = full != nullptr;
                st.hasAttach = full ? std::optional<bool>(full->HasAttachments()) : std::nullopt;
            }
        }
        if (depth == Depth::Full && !full && st.known) {
            full = ParseWhole(path);
        }
        return full;
    }

    // Size and time come from the file read.
    static void ReadHeaderBlock(RowState& st, const std::string& path) {
        std::string bytes;
        struct stat sb {};
        st.loaded = true;
        st.known = ReadHeaderBytes(path, bytes, &sb) == 0;
        if (st.known) {
            st.size = sb.st_size;
            st.fileTime = FileTimeOf(sb);
            st.summary = mime::Summarize(mime::SplitHeaders(bytes).headers);
            st.hasAttach = mime::HasAttachmentsFromHeaders(st.summary);
        }
    }

    static std::shared_ptr<mime::ParsedContent> ParseWhole(const std::string& path) {
        std::string bytes;
        if (ReadWholeFile(path, bytes) != 0) {
            return nullptr;
        }
        return mime::ParsedContent::Parse(std::move(bytes));
    }

    mime::MessageFacts FactsOf(const RowState& st, const MessageFile& file,
                               mime::ParsedContent* content) const {
        mime::MessageFacts f;
        f.store = store_->uid();
        f.supportMask = kSupportMask;
        f.folder = folder_;
        f.unique = file.unique;
        f.flags = file.flags;
        f.known = st.known;
        f.size = st.size;
        f.fileTime = st.fileTime;
        f.summary = &st.summary;
        f.hasAttach = st.hasAttach;
        f.content = content;
        return f;
    }

    std::shared_ptr<MaildirStore> store_;
    std::string folder_;
    std::vector<MessageFile> files_;
    std::vector<RowState> rows_;
};

} // namespace

// ---------------------------------------------------------------------------
// The folder tree

std::vector<std::string> MaildirStore::FolderNames() const {
    std::vector<std::string> names;
    DIR* dir = ::opendir(root_.c_str());
    if (dir == nullptr) {
        return names;
    }
    while (dirent* e = ::readdir(dir)) {
        const std::string n = e->d_name;
        if (IsValidFolderName(n) && n != "" && FolderExists(n)) {
            names.push_back(n);
        }
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

std::string MaildirStore::ParentOf(const std::string& folder,
                                   const std::vector<std::string>& all) const {
    std::string p = folder;
    for (;;) {
        const std::size_t dot = p.rfind('.');
        if (dot == 0 || dot == std::string::npos) {
            return "";
        }
        p.resize(dot);
        if (std::find(all.begin(), all.end(), p) != all.end()) {
            return p;
        }
    }
}

std::string MaildirStore::DisplayNameOf(const std::string& folder) {
    if (folder.empty()) {
        return "Inbox";
    }
    const std::size_t dot = folder.rfind('.');
    return DecodeModifiedUtf7(folder.substr(dot + 1));
}

std::vector<PropValue> MaildirStore::FolderProps(const std::string& folder) {
    const auto all = FolderNames();
    const bool hasChildren = std::any_of(all.begin(), all.end(), [&](const std::string& n) {
        return n != folder && ParentOf(n, all) == folder;
    });
    const auto files = ListMessageFiles(FolderPath(folder));
    const auto unread = std::count_if(files.begin(), files.end(), [](const MessageFile& f) {
        return f.flags.find('S') == std::string::npos;
    });
    std::vector<PropValue> props = {
        MakeText(PR_DISPLAY_NAME, DisplayNameOf(folder)),
        MakeBinary(PR_ENTRYID, MakeFolderEntryId(uid_, folder)),
        MakeBinary(PR_RECORD_KEY, MakeFolderEntryId(uid_, folder)),
        MakeBinary(PR_STORE_ENTRYID, MakeStoreEntryId(uid_)),
        MakeLong(PR_OBJECT_TYPE, MAPI_FOLDER),
        MakeLong(PR_FOLDER_TYPE, 1),
        MakeBool(PR_SUBFOLDERS, hasChildren),
        MakeLong(PR_CONTENT_COUNT, static_cast<std::int32_t>(files.size())),
        MakeLong(PR_CONTENT_UNREAD, static_cast<std::int32_t>(unread)),
    };
    if (!folder.empty()) {
        props.push_back(
            MakeBinary(PR_PARENT_ENTRYID, MakeFolderEntryId(uid_, ParentOf(folder, all))));
    }
    return props;
}

// ---------------------------------------------------------------------------
// Folders

MaildirFolder::MaildirFolder(std::shared_ptr<MaildirStore> store, std::string folder)
    : TreeObject("Folder"), store_(std::move(store)), folder_(std::move(folder)) {
    error_.MirrorTo(&store_->error());
}

HRESULT MaildirFolder::GetContentsTable(std::uint32_t, std::shared_ptr<IMAPITable>& table) {
    table.reset();
    if (!store_->FolderExists(folder_)) {
        return error_.Set(MAPI_E_OBJECT_DELETED, "Folder " + Path() + " no longer exists");
    }
    auto files = ListMessageFiles(Path());
    MovedCopyFinder finder(store_->profile());
    for (const std::string& unique : FinishInterruptedChanges(Path(), files, &finder)) {
        store_->Forget(folder_, unique);
    }
    table = MakeTable(std::make_shared<ContentsSource>(store_, folder_, std::move(files)));
    return S_OK;
}

HRESULT MaildirFolder::GetHierarchyTable(std::uint32_t, std::shared_ptr<IMAPITable>& table) {
    table.reset();
    const auto all = store_->FolderNames();
    std::vector<std::vector<PropValue>> rows;
    for (const auto& n : all) {
        if (store_->ParentOf(n, all) == folder_) {
            rows.push_back(store_->FolderProps(n));
        }
    }
    table = MakeTable(std::make_shared<StaticSource>(
        std::move(rows), PropTagArray{PR_DISPLAY_NAME, PR_ENTRYID, PR_SUBFOLDERS}));
    return S_OK;
}

HRESULT MaildirFolder::OpenEntry(const EntryId& id, Iid iid, std::uint32_t flags,
                                 std::uint32_t* objectType, std::shared_ptr<IUnknown>& object) {
    if (id.empty()) {
        object = std::make_shared<MaildirFolder>(store_, folder_);
        if (objectType != nullptr) {
            *objectType = MAPI_FOLDER;
        }
        return S_OK;
    }
    HRESULT hr = store_->OpenEntry(id, iid, flags, objectType, object);
    if (Failed(hr)) {
        std::optional<MapiErrorInfo> info;
        store_->GetLastError(hr, 0, info);
        error_.Set(hr, info ? info->error : "Cannot open the entry");
    }
    return hr;
}

} // namespace qf::mapi::maildir
