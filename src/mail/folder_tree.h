// The store side of the folder chooser's tree: each store adds its root node
// and its folder hierarchy through a sink the chooser provides.
#pragma once

#include "platform/messaging/mapi.h"

#include <cstdint>
#include <memory>
#include <string>

namespace qf {

class TMapiSession;
class TMapiUserFolder;
class TStore;

// A node of the chooser's tree as the sink names it; 0 is "no node".
using TTreeNode = std::uintptr_t;

class TFolderTreeSink {
public:
    virtual ~TFolderTreeSink() = default;
    // A root-level node (a store; `folder` absent for a node that shows an error).
    virtual TTreeNode AddRootNode(const std::string& text,
                                  std::unique_ptr<TMapiUserFolder> folder) = 0;
    // A folder node below `parent`; may return 0 to leave the folder's children out.
    virtual TTreeNode AddFolderNode(const std::string& name, TTreeNode parent,
                                    std::unique_ptr<TMapiUserFolder> folder) = 0;
    virtual void SetNodeText(TTreeNode node, const std::string& text) = 0;
    virtual void ExpandNode(TTreeNode node) = 0;
};

// The identifier of the store's folder root: the public root for a public
// folder store, else the IPM subtree.  Raises the mail error
// "getFolderRoot.1"/"getFolderRoot.3" when it cannot be had.
mapi::EntryId FindFolderRoot(mapi::IMsgStore& store, bool* isPublic = nullptr);

// Adds `store` as a root node with its folder hierarchy below.  A failure
// becomes the text of the store's node (or of a new node without data).
void AddToFolderTree(TStore& store, TFolderTreeSink& sink);

// Lists the session's stores and lets each add its branch.
void BuildFolderTree(TMapiSession& session, TFolderTreeSink& sink);

} // namespace qf
