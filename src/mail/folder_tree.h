// The store side of the folder chooser's tree: each store adds its root node
// and its folder hierarchy through a sink the chooser provides.
#pragma once

#include "platform/messaging/mapi.h"

#include <cstdint>
#include <memory>
#include <string>

namespace qf {

class MapiSession;
class MailFolder;
class MailStore;

// A node of the chooser's tree as the sink names it; 0 is "no node".
using FolderTreeNode = std::uintptr_t;

class FolderTreeSink {
public:
    virtual ~FolderTreeSink() = default;
    // A root-level node (a store; `folder` absent for a node that shows an error).
    virtual FolderTreeNode AddRootNode(const std::string& text,
                                       std::unique_ptr<MailFolder> folder) = 0;
    // A folder node below `parent`; may return 0 to leave the folder's children out.
    virtual FolderTreeNode AddFolderNode(const std::string& name, FolderTreeNode parent,
                                         std::unique_ptr<MailFolder> folder) = 0;
    virtual void SetNodeText(FolderTreeNode node, const std::string& text) = 0;
    virtual void ExpandNode(FolderTreeNode node) = 0;
    // Asked for a folder node whose folder has subfolders: true to walk them
    // now, false to leave them for a later AddSubfolders (a lazily built tree).
    virtual bool WalkSubfoldersNow(FolderTreeNode /*node*/) { return true; }
};

// The identifier of the store's folder root: the public root for a public
// folder store, else the IPM subtree.  Raises the mail error
// "getFolderRoot.1"/"getFolderRoot.3" when it cannot be had.
mapi::EntryId FindFolderRoot(mapi::IMsgStore& store, bool* isPublic = nullptr);

// Adds `store` as a root node with its folder hierarchy below.  A failure
// becomes the text of the store's node (or of a new node without data).
void AddToFolderTree(MailStore& store, FolderTreeSink& sink);

// Adds the folders below `folder` (a folder of the tree, with its store)
// under `parent`, asking the sink as AddToFolderTree does whether to go
// deeper.  Raises the mail error when the level cannot be read.
void AddSubfolders(MailFolder& folder, FolderTreeNode parent, FolderTreeSink& sink);

// Lists the session's stores and lets each add its branch.
void BuildFolderTree(MapiSession& session, FolderTreeSink& sink);

} // namespace qf
