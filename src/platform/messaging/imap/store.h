// The IMAP provider: an account on a mail server (libetpan), shown as a
// store.
//
//  - Folders are the account's mailboxes (LIST), named with the server's
//    separator and shown with their modified UTF-7 names decoded.  The store's
//    root (its IPM subtree) is the profile's root folder, else INBOX, below
//    which the account's other top-level mailboxes hang, as in a Maildir++ tree.
//  - A message is named by its mailbox, the mailbox's UIDVALIDITY and its UID.
//    When the server has renumbered a mailbox (a new UIDVALIDITY), an old
//    identifier gives a clear error, never another message.  Identifiers of
//    another account, or of a mailbox outside the root folder, are refused
//    with MAPI_E_INVALID_ENTRYID.
//  - Listing fetches the messages' summaries in batches, one command per
//    batch; bodies are read on demand with BODY.PEEK, so reading never marks
//    a message read.
//  - Changes: the read flag by UID STORE; a move by UID MOVE, else UID COPY
//    and, only when that succeeded, \Deleted and UID EXPUNGE of that one UID;
//    a changed subject or body by APPENDing the new message, which carries
//    the same replaces-header as in Maildir stores, then removing the old one
//    the same way.  A move to another store of the profile marks the original
//    with a keyword, stores the copy there, then removes the original.  A
//    listing finishes a replacement or such a move a stopped process left half
//    done (store_moves.h).
#pragma once

#include "platform/messaging/provider.h"

namespace qf::mapi::imap {

// The provider's entry in the provider table: kind "imap", shown as "IMAP".
ProviderInfo Provider();

HRESULT OpenImapStore(const StoreConfig& config, const StoreLogon& logon,
                      std::shared_ptr<IMsgStore>& store, LastError& error);

} // namespace qf::mapi::imap
