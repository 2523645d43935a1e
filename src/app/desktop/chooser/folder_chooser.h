// The dialog in which the user picks a mail folder: every store of the
// session's profile as a root node, its folders below (read one level at a
// time as nodes are opened), Refresh, and the chosen folder handed back as
// "Store\Folder\Sub" text and as the folder reference of the settings.
//
// The main window creates it once and keeps it: the tree is read at the
// first showing and kept, with its selection, until Refresh, or until the
// session released the stores it was built from (another profile), when
// the next showing reads it anew.
#pragma once

#include "app/desktop/chooser/folder_role.h"

#include "mail/folder_tree_model.h"

#include <QDialog>

#include <functional>
#include <memory>
#include <string>

class QLabel;
class QPushButton;
class QStandardItem;
class QStandardItemModel;
class QTreeView;

namespace qf {
class MapiSession;
class Settings;
namespace registry {
class Registry;
}
} // namespace qf

namespace qf::desktop {

class FolderChooser : public QDialog {
    Q_OBJECT
public:
    static constexpr int kHelpContext = 210;

    FolderChooser(MapiSession& session, registry::Registry& reg, QWidget* parent = nullptr);
    explicit FolderChooser(MapiSession& session, QWidget* parent = nullptr);
    ~FolderChooser() override;

    // Shows the dialog modally, starting at the folder the settings name for
    // `role` when the tree holds it.  On OK: the settings' folder reference
    // and browse text for `role` take the chosen folder, `pathText` its
    // path, and the result is true.  Nothing changes on Cancel.
    bool Choose(Settings& settings, FolderRole role, std::string& pathText);

    // How the dialog is run modally; tests replace it (default: exec()).
    void SetModalRunner(std::function<int(FolderChooser&)> runner) { runner_ = std::move(runner); }
    // How an error of the session (logon, store listing) is shown.
    void SetErrorHook(std::function<void(QWidget*, const QString&)> hook) {
        errorHook_ = std::move(hook);
    }

    // Reads the stores anew (the Refresh button).
    void Refresh();
    // Selects the node at `path` ("Store\Folder"), opening the nodes above
    // it; false when there is none.
    bool SelectPath(const std::string& path);

    // The last folder selected (kept across showings).
    const ChosenFolder& Selected() const { return selected_; }
    bool HasSelection() const { return hasSelection_; }
    QTreeView* Tree() const { return tree_; }
    QStandardItemModel* Model() const { return items_.get(); }
    const FolderTreeModel& Folders() const { return *folders_; }

protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;
    void changeEvent(QEvent* event) override;

private:
    void BuildLayout();
    void ShowLoadedCaption();
    void FillItems();
    void AddItems(QStandardItem* parent, const FolderTreeModel::Node& node);
    void Expanded(const QModelIndex& index);
    void SelectionChanged(const QModelIndex& index);
    FolderTreeModel::Node* NodeOf(const QModelIndex& index) const;
    QStandardItem* ItemFor(const FolderTreeModel::Node* node) const;

    MapiSession& session_;
    registry::Registry& reg_;
    std::unique_ptr<FolderTreeModel> folders_;
    std::unique_ptr<QStandardItemModel> items_;
    QTreeView* tree_ = nullptr;
    QLabel* label_ = nullptr;
    QPushButton* refresh_ = nullptr;
    ChosenFolder selected_;
    bool hasSelection_ = false;
    std::string wanted_; // the settings' folder, selected once the tree is read
    bool loaded_ = false;
    std::function<int(FolderChooser&)> runner_;
    std::function<void(QWidget*, const QString&)> errorHook_;
};

} // namespace qf::desktop
