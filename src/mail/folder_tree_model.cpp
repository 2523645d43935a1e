#include "mail/folder_tree_model.h"

#include "common/error.h"
#include "mail/session.h"
#include "mail/store.h"

#include <algorithm>

namespace qf {

using Node = FolderTreeModel::Node;

namespace {

Node* AsNode(FolderTreeNode handle) {
    return reinterpret_cast<Node*>(handle);
}

FolderTreeNode AsHandle(Node* node) {
    return reinterpret_cast<FolderTreeNode>(node);
}

} // namespace

FolderTreeModel::FolderTreeModel(MapiSession& session, Compare compare)
    : session_(session), compare_(std::move(compare)) {
    if (!compare_) {
        compare_ = [](const std::string& a, const std::string& b) { return a.compare(b); };
    }
}

FolderTreeModel::~FolderTreeModel() {
    roots_.clear(); // folders before the stores they point at
}

void FolderTreeModel::Rebuild() {
    roots_.clear();
    stores_.clear();
    built_ = true;
    session_.ListStores();
    generation_ = session_.StoresGeneration();
    for (const auto& [name, store] : session_.Stores()) {
        stores_.push_back(
            std::make_unique<MailStore>(store->DisplayName(), &session_, store->EntryIdBytes()));
        AddToFolderTree(*stores_.back(), *this);
    }
    Sort(roots_);
}

void FolderTreeModel::LoadChildren(Node& node) {
    if (!node.childrenPending || OutOfDate() || !node.folder) {
        return;
    }
    node.childrenPending = false;
    try {
        AddSubfolders(*node.folder, AsHandle(&node), *this);
    } catch (const std::exception& e) {
        auto error = std::make_unique<Node>();
        error->text = e.what();
        error->parent = &node;
        node.children.push_back(std::move(error));
    }
    Sort(node.children);
}

bool FolderTreeModel::OutOfDate() const {
    return built_ && session_.StoresGeneration() != generation_;
}

std::string FolderTreeModel::PathOf(const Node& node) {
    std::string path = node.text;
    for (const Node* up = node.parent; up != nullptr; up = up->parent) {
        path = up->text + "\\" + path;
    }
    return path;
}

bool FolderTreeModel::ChoiceOf(const Node& node, ChosenFolder& choice) {
    if (!node.folder || node.folder->Store() == nullptr) {
        return false;
    }
    choice.folderEntryId = node.folder->EntryIdBytes();
    choice.storeEntryId = node.folder->Store()->EntryIdBytes();
    choice.storeDisplayName = node.folder->Store()->DisplayName();
    choice.path = PathOf(node);
    return true;
}

Node* FolderTreeModel::FindPath(const std::string& path) const {
    const std::vector<std::unique_ptr<Node>>* level = &roots_;
    Node* found = nullptr;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('\\', start);
        if (end == std::string::npos) {
            end = path.size();
        }
        const std::string part = path.substr(start, end - start);
        auto it = std::find_if(level->begin(), level->end(),
                               [&](const auto& n) { return n->text == part; });
        if (it == level->end()) {
            return nullptr;
        }
        found = it->get();
        level = &found->children;
        start = end + 1;
    }
    return found;
}

FolderTreeNode FolderTreeModel::AddRootNode(const std::string& text,
                                            std::unique_ptr<MailFolder> folder) {
    auto node = std::make_unique<Node>();
    node->text = text;
    node->isStore = true;
    node->folder = std::move(folder);
    roots_.push_back(std::move(node));
    return AsHandle(roots_.back().get());
}

FolderTreeNode FolderTreeModel::AddFolderNode(const std::string& name, FolderTreeNode parent,
                                              std::unique_ptr<MailFolder> folder) {
    Node* up = AsNode(parent);
    auto node = std::make_unique<Node>();
    node->text = name;
    node->parent = up;
    node->folder = std::move(folder);
    up->children.push_back(std::move(node));
    return AsHandle(up->children.back().get());
}

void FolderTreeModel::SetNodeText(FolderTreeNode node, const std::string& text) {
    AsNode(node)->text = text;
}

void FolderTreeModel::ExpandNode(FolderTreeNode node) {
    AsNode(node)->expandRequested = true;
}

bool FolderTreeModel::WalkSubfoldersNow(FolderTreeNode node) {
    AsNode(node)->childrenPending = true;
    return false;
}

void FolderTreeModel::Sort(std::vector<std::unique_ptr<Node>>& nodes) {
    std::stable_sort(nodes.begin(), nodes.end(), [this](const auto& a, const auto& b) {
        return compare_(a->text, b->text) < 0;
    });
    for (auto& node : nodes) {
        Sort(node->children);
    }
}

} // namespace qf
