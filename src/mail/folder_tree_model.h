// The folder chooser's tree as plain data: every store of the session as a
// root node, its folders below, built lazily one level at a time.  The tree
// owns copies of the session's store objects, so its nodes stay valid after
// the session released its own (a logoff, another store listing); it notices
// that and says it is out of date instead of reading through them.
#pragma once

#include "mail/folder_tree.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qf {

class MapiSession;
class MailFolder;
class MailStore;

// The identity of a chosen folder, as the settings keep it.
struct ChosenFolder {
    std::vector<std::uint8_t> folderEntryId;
    std::vector<std::uint8_t> storeEntryId;
    std::string storeDisplayName;
    std::string path; // "Store\Folder\Sub"
};

class FolderTreeModel : private FolderTreeSink {
public:
    struct Node {
        std::string text;
        Node* parent = nullptr;
        std::vector<std::unique_ptr<Node>> children;
        std::unique_ptr<MailFolder> folder; // absent for a node that shows an error
        bool isStore = false;
        bool childrenPending = false; // has subfolders not read yet
        bool expandRequested = false; // the walk asked for it to be shown open
    };

    // Orders sibling texts: negative, zero or positive.  The default
    // compares bytes; the chooser gives the locale's collation.
    using Compare = std::function<int(const std::string&, const std::string&)>;

    explicit FolderTreeModel(MapiSession& session, Compare compare = {});
    ~FolderTreeModel() override;
    FolderTreeModel(const FolderTreeModel&) = delete;
    FolderTreeModel& operator=(const FolderTreeModel&) = delete;

    // Reads the stores anew and builds their first levels.  Errors of one
    // store become its node's text; errors of the session (logon, store
    // listing) are raised with the tree left empty.
    void Rebuild();
    // Reads a node's pending subfolders; a failure becomes a child node
    // holding the error's text.  Nothing when the tree is out of date.
    void LoadChildren(Node& node);

    // True once the session released the stores this tree was built from.
    bool OutOfDate() const;
    bool Built() const { return built_; }

    const std::vector<std::unique_ptr<Node>>& Roots() const { return roots_; }
    // "Store\Folder\Sub": the texts from the root to `node`.
    static std::string PathOf(const Node& node);
    // The identity of a node's folder; nothing for a node without a folder.
    static bool ChoiceOf(const Node& node, ChosenFolder& choice);
    // The node whose path is `path`, or nullptr.
    Node* FindPath(const std::string& path) const;

private:
    FolderTreeNode AddRootNode(const std::string& text,
                               std::unique_ptr<MailFolder> folder) override;
    FolderTreeNode AddFolderNode(const std::string& name, FolderTreeNode parent,
                                 std::unique_ptr<MailFolder> folder) override;
    void SetNodeText(FolderTreeNode node, const std::string& text) override;
    void ExpandNode(FolderTreeNode node) override;
    bool WalkSubfoldersNow(FolderTreeNode node) override;

    void Sort(std::vector<std::unique_ptr<Node>>& nodes);

    MapiSession& session_;
    Compare compare_;
    std::vector<std::unique_ptr<MailStore>> stores_; // our copies; nodes point at them
    std::vector<std::unique_ptr<Node>> roots_;
    std::uint64_t generation_ = 0;
    bool built_ = false;
};

} // namespace qf
