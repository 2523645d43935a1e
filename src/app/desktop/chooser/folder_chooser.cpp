#include "app/desktop/chooser/folder_chooser.h"

#include "app/desktop/i18n/window_registry.h"
#include "app/desktop/placement/qt_placement.h"
#include "i18n/translate.h"
#include "mail/session.h"
#include "mail/store.h"
#include "platform/registry/registry.h"
#include "settings/settings.h"

#include <QApplication>
#include <QCollator>
#include <QDialogButtonBox>
#include <QEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStandardItemModel>
#include <QStyle>
#include <QTreeView>
#include <QVBoxLayout>

namespace qf::desktop {

namespace {

constexpr int kNodeRole = Qt::UserRole + 1;
constexpr int kPendingRole = Qt::UserRole + 2;

QString FromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

FolderTreeModel::Compare LocaleOrder() {
    auto collator = std::make_shared<QCollator>();
    return [collator](const std::string& a, const std::string& b) {
        return collator->compare(FromUtf8(a), FromUtf8(b));
    };
}

} // namespace

FolderChooser::FolderChooser(MapiSession& session, QWidget* parent)
    : FolderChooser(session, registry::Current(), parent) {}

FolderChooser::FolderChooser(MapiSession& session, registry::Registry& reg, QWidget* parent)
    : QDialog(parent), session_(session), reg_(reg),
      folders_(std::make_unique<FolderTreeModel>(session, LocaleOrder())),
      items_(std::make_unique<QStandardItemModel>()) {
    setObjectName("chooseFolder");
    setProperty("helpContext", kHelpContext);
    BuildLayout();
    TranslateAndWatch(*this);
    resize(426, 286);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
    RestorePlacement(*this, PlacementKey::FolderChooser(), reg_);
}

FolderChooser::~FolderChooser() {
    SavePlacement(*this, PlacementKey::FolderChooser(), reg_);
    tree_->setModel(nullptr);
}

void FolderChooser::BuildLayout() {
    setWindowTitle("Please wait...loading folder information");
    label_ = new QLabel("&New folder:");
    label_->setObjectName("Label9");
    tree_ = new QTreeView;
    tree_->setObjectName("TreeView");
    tree_->setModel(items_.get());
    tree_->setHeaderHidden(true);
    tree_->setRootIsDecorated(true);
    tree_->setIndentation(19);
    tree_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tree_->setSelectionMode(QAbstractItemView::SingleSelection);
    label_->setBuddy(tree_);
    connect(tree_, &QTreeView::expanded, this, &FolderChooser::Expanded);
    connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& index) { SelectionChanged(index); });

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    ok->setObjectName("BitBtn1");
    ok->setText("OK");
    QPushButton* cancel = buttons->button(QDialogButtonBox::Cancel);
    cancel->setObjectName("BitBtn2");
    cancel->setText("Cancel");
    refresh_ = buttons->addButton("&Refresh", QDialogButtonBox::ResetRole);
    refresh_->setObjectName("refreshButton");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(refresh_, &QPushButton::clicked, this, &FolderChooser::Refresh);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addWidget(label_);
    layout->addWidget(tree_, 1);
    layout->addWidget(buttons);
}

void FolderChooser::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!loaded_ || folders_->OutOfDate()) {
        loaded_ = true;
        Refresh();
    }
}

void FolderChooser::done(int result) {
    SavePlacement(*this, PlacementKey::FolderChooser(), reg_);
    QDialog::done(result);
}

void FolderChooser::Refresh() {
    const std::string previous = hasSelection_ ? selected_.path : wanted_;
    refresh_->setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    tree_->setUpdatesEnabled(false);
    items_->clear();
    try {
        folders_->Rebuild();
        FillItems();
    } catch (const std::exception& e) {
        if (errorHook_) {
            errorHook_(this, QString::fromUtf8(e.what()));
        } else {
            QMessageBox::critical(this, "Application Error", QString::fromUtf8(e.what()));
        }
    }
    // The folder chosen before stays chosen when it is still there;
    // otherwise the first store is.
    if (previous.empty() || !SelectPath(previous)) {
        if (QStandardItem* first = items_->item(0)) {
            tree_->setCurrentIndex(first->index());
        }
    }
    tree_->setFocus();
    tree_->setUpdatesEnabled(true);
    refresh_->setEnabled(true);
    QApplication::restoreOverrideCursor();
    ShowLoadedCaption();
}

void FolderChooser::ShowLoadedCaption() {
    setWindowTitle(QString::fromStdString(TranslateMsg(3020, "Choose an email folder")));
}

void FolderChooser::changeEvent(QEvent* event) {
    // The walk gave back the caption of a tree not read yet.
    if (event->type() == QEvent::LanguageChange && loaded_) {
        ShowLoadedCaption();
    }
    QDialog::changeEvent(event);
}

void FolderChooser::FillItems() {
    for (const auto& root : folders_->Roots()) {
        AddItems(items_->invisibleRootItem(), *root);
    }
    for (const auto& root : folders_->Roots()) {
        if (root->expandRequested) {
            tree_->expand(ItemFor(root.get())->index());
        }
    }
}

void FolderChooser::AddItems(QStandardItem* parent, const FolderTreeModel::Node& node) {
    const QStyle::StandardPixmap icon = !node.folder   ? QStyle::SP_MessageBoxWarning
                                        : node.isStore ? QStyle::SP_DriveHDIcon
                                                       : QStyle::SP_DirIcon;
    auto* item = new QStandardItem(style()->standardIcon(icon), FromUtf8(node.text));
    item->setData(QVariant::fromValue(reinterpret_cast<quintptr>(&node)), kNodeRole);
    item->setToolTip(FromUtf8(node.text));
    parent->appendRow(item);
    for (const auto& child : node.children) {
        AddItems(item, *child);
    }
    if (node.childrenPending) {
        // A stand-in child, so the node can be opened; its folders are read then.
        auto* pending = new QStandardItem("...");
        pending->setData(true, kPendingRole);
        item->appendRow(pending);
    }
}

FolderTreeModel::Node* FolderChooser::NodeOf(const QModelIndex& index) const {
    const QVariant value = index.data(kNodeRole);
    return value.isValid() ? reinterpret_cast<FolderTreeModel::Node*>(value.value<quintptr>())
                           : nullptr;
}

QStandardItem* FolderChooser::ItemFor(const FolderTreeModel::Node* node) const {
    const QModelIndexList found = items_->match(
        items_->index(0, 0), kNodeRole, QVariant::fromValue(reinterpret_cast<quintptr>(node)), 1,
        Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? nullptr : items_->itemFromIndex(found.first());
}

void FolderChooser::Expanded(const QModelIndex& index) {
    FolderTreeModel::Node* node = NodeOf(index);
    QStandardItem* item = items_->itemFromIndex(index);
    if (node == nullptr || item == nullptr || !node->childrenPending) {
        return;
    }
    if (folders_->OutOfDate()) {
        return; // the stores behind this tree are gone: Refresh reads them anew
    }
    folders_->LoadChildren(*node);
    item->removeRows(0, item->rowCount());
    for (const auto& child : node->children) {
        AddItems(item, *child);
    }
}

bool FolderChooser::SelectPath(const std::string& path) {
    // Open the nodes on the way, so that their folders are read.
    std::size_t end = 0;
    while ((end = path.find('\\', end)) != std::string::npos) {
        if (FolderTreeModel::Node* above = folders_->FindPath(path.substr(0, end))) {
            if (QStandardItem* item = ItemFor(above)) {
                tree_->expand(item->index());
            }
        }
        ++end;
    }
    FolderTreeModel::Node* node = folders_->FindPath(path);
    QStandardItem* item = node != nullptr ? ItemFor(node) : nullptr;
    if (item == nullptr) {
        return false;
    }
    tree_->setCurrentIndex(item->index());
    tree_->scrollTo(item->index());
    return true;
}

void FolderChooser::SelectionChanged(const QModelIndex& index) {
    const FolderTreeModel::Node* node = NodeOf(index);
    ChosenFolder choice;
    if (node != nullptr && FolderTreeModel::ChoiceOf(*node, choice)) {
        selected_ = std::move(choice);
        hasSelection_ = true;
    }
}

bool FolderChooser::Choose(Settings& settings, FolderRole role, std::string& pathText) {
    const bool source = role == FolderRole::Source;
    const std::string& current = source ? settings.messageSource : settings.messageDestination;
    wanted_ = current;
    if (loaded_ && !folders_->OutOfDate() && !current.empty()) {
        SelectPath(current);
    }
    const int result = runner_ ? runner_(*this) : exec();
    if (result != QDialog::Accepted || !hasSelection_) {
        return false;
    }
    FolderReference& reference = source ? settings.sourceFolder : settings.destinationFolder;
    reference.folderId.Assign(selected_.folderEntryId);
    reference.storeId.Assign(selected_.storeEntryId);
    (source ? settings.messageSource : settings.messageDestination) = selected_.path;
    pathText = selected_.path;
    return true;
}

} // namespace qf::desktop
