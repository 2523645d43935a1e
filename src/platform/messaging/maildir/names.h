// Names in a Maildir++ tree: folder names, message file names and the unique
// names inside them.
//
// A message is a file in cur/ or new/; its unique name is the file name before
// ":2,", and the letters after it are its flags (S: seen).  A folder is "" (the
// root, which is the inbox) or one ".name" component, sub-folders joined by ".".
#pragma once

#include <string>
#include <vector>

namespace qf::mapi::maildir {

struct MessageFile {
    std::string subdir;   // "cur" or "new"
    std::string fileName; // unique + ":2,flags"
    std::string unique;
    std::string flags; // the letters after ":2,"
};

MessageFile SplitFileName(const std::string& subdir, const std::string& fileName);
// "unique:2," and the flags sorted, each once.
std::string WithFlags(const std::string& unique, std::string flags);
// A new unique name: time, process, a counter and the host.  A replacement (a
// changed message written anew) carries a mark that IsReplacementName finds;
// only names of exactly that shape count, so a replacement is always a file
// this provider wrote, never one another program delivered.
std::string NewUniqueName(bool replacement);

// The message files of a folder (cur/ and new/), sorted by file name.
std::vector<MessageFile> ListMessageFiles(const std::string& folderPath);
// Whether `path` is a directory (not following a symbolic link).
bool IsDirectory(const std::string& path);

// Checks used on identifiers read back from files.
bool IsValidFolderName(const std::string& name);
bool IsValidUniqueName(const std::string& name);
bool IsReplacementName(const std::string& unique);

} // namespace qf::mapi::maildir
