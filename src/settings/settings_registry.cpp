// The settings record in the registry, value by value.
#include "common/error.h"
#include "common/installation.h"
#include "settings/settings.h"

namespace qf {
namespace {

const std::string kAsterisks(52, '*');

// Reads that never fail: a missing value, or one of another kind, gives the
// default.
class SettingsKeyReader {
public:
    explicit SettingsKeyReader(registry::RegistryKey& key) : key_(key) {}

    std::string ReadString(std::string_view name, std::string_view def) const {
        if (key_.DataType(name) != registry::ValueKind::String) {
            return std::string(def);
        }
        return key_.ReadString(name);
    }
    std::int32_t ReadInteger(std::string_view name, std::int32_t def) const {
        if (key_.DataType(name) != registry::ValueKind::Dword) {
            return def;
        }
        return key_.ReadInteger(name);
    }
    bool ReadBool(std::string_view name, bool def) const {
        if (key_.DataType(name) != registry::ValueKind::Dword) {
            return def;
        }
        return key_.ReadBool(name);
    }

    // One identifier block: "<x>.cb"/"<x>.pentry" and the store's pair.  Any
    // failure ends the block and empties the folder's name.
    void ReadFolderBlock(FolderReference& ref, std::string& folderName, const char* folderCb,
                         const char* folderEntry, const char* storeCb,
                         const char* storeEntry) const {
        try {
            ReadIdentifier(ref.folderId, folderCb, folderEntry);
            ReadIdentifier(ref.storeId, storeCb, storeEntry);
        } catch (const Error&) {
            folderName.clear();
        }
    }

private:
    void ReadIdentifier(EntryId& id, const char* cbName, const char* entryName) const {
        const std::int32_t cb = ReadInteger(cbName, 0);
        // A length that no identifier can have is the block's error, never an
        // allocation of that size.
        if (cb < 0 || static_cast<std::size_t>(cb) > EntryId::kMaxLength) {
            throw Error("Invalid identifier length in '" + std::string(cbName) + "'");
        }
        id.Reset(static_cast<std::size_t>(cb));
        if (key_.ValueExists(entryName)) {
            key_.ReadBinaryData(entryName, id.Bytes()); // throws: not binary, too long
        }
    }

    registry::RegistryKey& key_;
};

} // namespace

void Settings::LoadFromRegistry(registry::Registry& reg) {
    registry::RegistryKey key(reg);
    if (!key.OpenKey(kSettingsKey, true)) {
        return;
    }
    const std::string inst = InstallationFolder();
    SettingsKeyReader r(key);

    filterFilename = r.ReadString("Siftloom filter", inst + "Filters/preptext2.fll");
    directory = r.ReadString("Save folder", inst + "TextFiles/");
    firstNumber = r.ReadInteger("First number", 0);
    fileNameFormat = r.ReadString("Number format", "%5.5d.txt");
    const bool includeSubject = r.ReadBool("Include subject", false);
    startTag = r.ReadString("Start tag", "\r\n" + kAsterisks + "\r\nAttached file: %FILENAME\r\n");
    endTag = r.ReadString("End tag", "\r\n" + kAsterisks + "\r\n");
    includeAttachments = r.ReadBool("Include attachments", true);
    messageDestination = r.ReadString("msgDestination", "");
    emailHeader = std::string(includeSubject ? "%SUBJECT\r\n\r\n" : "") +
                  r.ReadString("email header",
                               "From: %FROM\r\nSent: %SENT\r\nTo: %TO\r\nSubject: %SUBJECT\r\n");
    emailFooter = r.ReadString("email footer", "");
    emailsTo = r.ReadInteger("move messages", 0);
    emailsFrom = r.ReadBool("get from default folder", true) ? kDefaultInbox : kFromFolder;
    messageSource = r.ReadString("from folder name", "");
    reprocessEmails = r.ReadBool("reprocess emails", false);
    sortOrder = r.ReadInteger("sort order", 0);
    descending = r.ReadBool("sort descending", false);
    tagText = r.ReadString("tag text", "*QF* ");
    extensions = SplitLines(r.ReadString("extensions", kDefaultExtensionsText));
    extensionActions = SplitLines(r.ReadString("extension actions", kDefaultActionsText));
    r.ReadFolderBlock(sourceFolder, messageSource, "from.cb", "from.pentry", "from_store_cb",
                      "from_store_entry");
    r.ReadFolderBlock(destinationFolder, messageDestination, "to.cb", "to.pentry", "to_store_cb",
                      "to_store_entry");
    manualFolder = r.ReadString("manual folder", inst + "Manual/");
    manualFormat = r.ReadString("manual format", "%FROM_%NUMBER");
    readStatus = r.ReadBool("readStatus", false);
    wordMacro = r.ReadString("wordmacro", "");

    try {
        key.CloseKey(); // may persist the newly created key
    } catch (const Error&) {
        // Reading never fails; the key is created again on the next save.
    }
}

void Settings::SaveToRegistry(registry::Registry& reg) const {
    registry::RegistryKey key(reg);
    if (!key.OpenKey(kSettingsKey, true)) {
        return;
    }
    auto writeId = [&](const char* cbName, const char* entryName, const EntryId& id) {
        key.WriteInteger(cbName, static_cast<std::int32_t>(id.Length()));
        key.WriteBinaryData(entryName, id.Bytes());
    };
    key.WriteString("Siftloom filter", filterFilename);
    key.WriteString("Save folder", directory);
    key.WriteInteger("First number", firstNumber);
    key.WriteString("Number format", fileNameFormat);
    key.WriteBool("Include subject", false);
    key.WriteString("Start tag", startTag);
    key.WriteString("End tag", endTag);
    key.WriteBool("Include attachments", includeAttachments);
    key.WriteString("msgDestination", messageDestination);
    key.WriteString("email header", emailHeader);
    key.WriteString("email footer", emailFooter);
    key.WriteInteger("move messages", emailsTo);
    key.WriteBool("get from default folder", emailsFrom == kDefaultInbox);
    key.WriteString("from folder name", messageSource);
    key.WriteBool("reprocess emails", reprocessEmails);
    key.WriteInteger("sort order", sortOrder);
    key.WriteBool("sort descending", descending);
    key.WriteString("tag text", tagText);
    key.WriteString("extensions", JoinLines(extensions));
    key.WriteString("extension actions", JoinLines(extensionActions));
    writeId("from.cb", "from.pentry", sourceFolder.folderId);
    writeId("to.cb", "to.pentry", destinationFolder.folderId);
    key.WriteString("manual folder", manualFolder);
    key.WriteString("manual format", manualFormat);
    writeId("from_store_cb", "from_store_entry", sourceFolder.storeId);
    writeId("to_store_cb", "to_store_entry", destinationFolder.storeId);
    key.WriteBool("readStatus", readStatus);
    key.WriteString("wordmacro", wordMacro);
    key.CloseKey(); // throws qf::FileError when the registry cannot be written
}

} // namespace qf
