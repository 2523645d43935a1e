// The Maildir++ store: a folder tree as Dovecot and Courier lay it out.
//
//   <root>/{cur,new,tmp}           the inbox, which is also the store's root
//                                  (its IPM subtree and its receive folder)
//   <root>/.Sub/{cur,new,tmp}      a folder "Sub" below the inbox
//   <root>/.Sub.folder/...         "Folder" below "Sub"
//
// Folder names are IMAP modified UTF-7 on disk and shown decoded.  A message is
// a file in cur/ or new/; its unique name is the file name before ":2,", and the
// letters after it are its flags (S: seen).  Messages are found again by their
// unique name, so a message another program renamed meanwhile (flags changed, or
// moved from new/ to cur/) is still found.
//
// Changes keep every message whole and present exactly once, whenever the
// process stops:
//  - read flag: a rename adding "S";
//  - subject or body: the complete new message is written to tmp/ and synced,
//    renamed into cur/ under a new unique name, and only then is the old file
//    removed.  The new message carries an X-Quillfence-Replaces header naming the
//    old unique name, and its own unique name is marked (see IsReplacementName), so
//    whoever lists the folder next finishes an interrupted replacement by removing
//    the old file.  An identifier of the old message leads to the new one;
//  - move: a rename into the other folder.  To another store or file system: a
//    note naming the copy goes to the source's tmp/, the copy is written to the
//    destination's tmp/, synced and renamed into cur/, then the original and the
//    note are removed; a listing of the source finishes a move stopped halfway.
//
// Identifiers are validated: a folder name is "" or one ".name" component, a
// message's unique name one file name; anything else, or the identity of another
// store, is refused with MAPI_E_INVALID_ENTRYID.  Message files are opened
// without following symbolic links.
#pragma once

#include "platform/messaging/mapi.h"
#include "platform/messaging/profiles.h"
#include "platform/messaging/props.h"

#include <string>

namespace qf::mapi::maildir {

HRESULT OpenMaildirStore(const StoreConfig& config, bool isDefault,
                         std::shared_ptr<IMsgStore>& store, LastError& error);

// Checks used on identifiers (exposed for tests).
bool IsValidFolderName(const std::string& name);
bool IsValidUniqueName(const std::string& name);
bool IsReplacementName(const std::string& unique);
// IMAP modified UTF-7 to UTF-8 (the text unchanged when it is not valid).
std::string DecodeModifiedUtf7(const std::string& text);

} // namespace qf::mapi::maildir
