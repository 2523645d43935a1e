// The Maildir++ provider: a folder tree as Dovecot and Courier lay it out.
//
//   <root>/{cur,new,tmp}           the inbox, which is also the store's root
//                                  (its IPM subtree and its receive folder)
//   <root>/.Sub/{cur,new,tmp}      a folder "Sub" below the inbox
//   <root>/.Sub.folder/...         "Folder" below "Sub"
//
// Folder names are IMAP modified UTF-7 on disk and shown decoded.  Messages are
// found again by their unique name (names.h), so a message another program
// renamed meanwhile (flags changed, or moved from new/ to cur/) is still found.
//
// Changes keep every message whole and present exactly once, whenever the
// process stops (recovery.h says how an interrupted change is finished):
//  - read flag: a rename adding "S";
//  - subject or body: the complete new message is written to tmp/ and synced,
//    renamed into cur/ under a new unique name, and only then is the old file
//    removed.  An identifier of the old message leads to the new one;
//  - move: a rename into the other folder.  To another store or file system: a
//    note goes to the source's tmp/, the copy is written to the destination's
//    tmp/, synced and renamed into cur/, then the original and the note are
//    removed.  To a store of another provider: the note names the destination
//    folder and the token the copy carries (store_moves.h).
//
// Identifiers are validated: a folder name is "" or one ".name" component, a
// message's unique name one file name; anything else, or the identity of another
// store, is refused with MAPI_E_INVALID_ENTRYID.  Message files are opened
// without following symbolic links.
#pragma once

#include "platform/messaging/provider.h"

namespace qf::mapi::maildir {

// The provider's entry in the provider table: kind "maildir", shown as "Maildir".
ProviderInfo Provider();

HRESULT OpenMaildirStore(const StoreConfig& config, const StoreLogon& logon,
                         std::shared_ptr<IMsgStore>& store, LastError& error);

} // namespace qf::mapi::maildir
