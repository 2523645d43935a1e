#include "app/desktop/wizard/attachment_types_dialog.h"

#include "app/desktop/placement/qt_placement.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QVBoxLayout>
#include <set>

namespace qf::desktop {

namespace {

QStringList Captions() {
    QStringList list;
    for (const std::string& caption : ActionCaptions()) {
        list << QString::fromStdString(caption);
    }
    return list;
}

// Column 1: free text, with the default extensions offered in a drop-down.
// Column 2: one of the six actions, nothing else.
class RowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&,
                          const QModelIndex& index) const override {
        auto* box = new QComboBox(parent);
        if (index.column() == 0) {
            box->setEditable(true);
            for (const AttachmentRow& row : DefaultRows()) {
                box->addItem(QString::fromStdString(row.type));
            }
        } else {
            box->addItems(Captions());
        }
        return box;
    }
    void setEditorData(QWidget* editor, const QModelIndex& index) const override {
        auto* box = static_cast<QComboBox*>(editor);
        const QString text = index.data().toString();
        if (index.column() == 0) {
            box->setCurrentText(text);
        } else {
            box->setCurrentIndex(std::max(0, box->findText(text)));
        }
    }
    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override {
        model->setData(index, static_cast<QComboBox*>(editor)->currentText());
    }
};

} // namespace

AttachmentTypesDialog::AttachmentTypesDialog(QWidget* parent)
    : QDialog(parent), grid_(new QTableWidget(0, 2, this)), hint_(new QLabel(this)) {
    setObjectName("fileTypesForm");
    setWindowTitle("Attachment handling");
    resize(464, 243);
    grid_->setObjectName("Grid");
    grid_->setHorizontalHeaderLabels({"Type", "Action"});
    grid_->setColumnWidth(0, 131);
    grid_->setColumnWidth(1, 207);
    grid_->horizontalHeader()->setStretchLastSection(true);
    grid_->verticalHeader()->setVisible(false);
    grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid_->setItemDelegate(new RowDelegate(grid_));
    hint_->setObjectName("hintLabel");
    hint_->setWordWrap(true);
    connect(grid_, &QTableWidget::currentCellChanged, this, [this] { ShowHint(); });
    connect(grid_, &QTableWidget::itemChanged, this, [this] { ShowHint(); });

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(QDialogButtonBox::Ok);
    ok->setObjectName("BitBtn1");
    ok->setToolTip("Save settings and close this dialog box");
    QPushButton* insert = buttons->addButton("&Insert", QDialogButtonBox::ActionRole);
    insert->setObjectName("insertRow");
    insert->setToolTip("Insert a row");
    QPushButton* del = buttons->addButton("Delete", QDialogButtonBox::ActionRole);
    del->setObjectName("BitBtn3");
    del->setToolTip("Delete the selected rows");
    QPushButton* defaults = buttons->addButton("&Defaults", QDialogButtonBox::ResetRole);
    defaults->setObjectName("restoreDefaults");
    defaults->setToolTip("Restore default settings");
    QPushButton* cancel = buttons->addButton(QDialogButtonBox::Cancel);
    cancel->setObjectName("BitBtn2");
    cancel->setToolTip("Close this dialog box without saving");
    for (QPushButton* b : {ok, insert, del, defaults, cancel}) {
        b->setAutoDefault(false);
    }
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(insert, &QPushButton::clicked, this, [this] { InsertRow(); });
    connect(del, &QPushButton::clicked, this, [this] { DeleteSelectedRows(); });
    connect(defaults, &QPushButton::clicked, this, [this] { RestoreDefaults(); });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addWidget(grid_);
    layout->addWidget(hint_);
    layout->addWidget(buttons);
    RestorePlacement(*this, PlacementKey::AttachmentTypes());
}

AttachmentTypesDialog::~AttachmentTypesDialog() {
    SavePlacement(*this, PlacementKey::AttachmentTypes());
}

void AttachmentTypesDialog::SetRows(const AttachmentRows& rows) {
    grid_->setRowCount(0);
    grid_->setRowCount(static_cast<int>(rows.size()));
    for (int r = 0; r < grid_->rowCount(); ++r) {
        const AttachmentRow& row = rows[static_cast<std::size_t>(r)];
        grid_->setItem(r, 0, new QTableWidgetItem(QString::fromStdString(row.type)));
        grid_->setItem(r, 1, new QTableWidgetItem(QString::fromStdString(row.action)));
    }
}

AttachmentRows AttachmentTypesDialog::Rows() const {
    AttachmentRows rows;
    for (int r = 0; r < grid_->rowCount(); ++r) {
        auto text = [&](int c) {
            const QTableWidgetItem* item = grid_->item(r, c);
            return item ? item->text().toStdString() : std::string();
        };
        rows.push_back({text(0), text(1)});
    }
    return rows;
}

void AttachmentTypesDialog::ShowHint() {
    const int r = grid_->currentRow();
    const AttachmentRows rows = Rows();
    const std::string hint = r >= 0 && r < static_cast<int>(rows.size())
                                 ? ActionHint(rows[static_cast<std::size_t>(r)])
                                 : std::string();
    hint_->setText(QString::fromStdString(hint));
}

void AttachmentTypesDialog::InsertRow() {
    const int at = grid_->currentRow() < 0 ? grid_->rowCount() : grid_->currentRow() + 1;
    grid_->insertRow(at);
    grid_->setItem(at, 0, new QTableWidgetItem());
    grid_->setItem(at, 1, new QTableWidgetItem());
    grid_->setCurrentCell(at, 0);
}

void AttachmentTypesDialog::DeleteSelectedRows() {
    std::set<int> rows;
    for (const QModelIndex& index : grid_->selectionModel()->selectedIndexes()) {
        rows.insert(index.row());
    }
    if (rows.empty() && grid_->currentRow() >= 0) {
        rows.insert(grid_->currentRow());
    }
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
        grid_->removeRow(*it);
    }
}

void AttachmentTypesDialog::RestoreDefaults() {
    SetRows(DefaultRows());
}

void AttachmentTypesDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Delete) {
        DeleteSelectedRows();
        return;
    }
    if (event->key() == Qt::Key_Insert) {
        InsertRow();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool AttachmentTypesDialog::Edit(QWidget* parent, AttachmentRows& rows) {
    AttachmentTypesDialog dialog(parent);
    dialog.SetRows(rows);
    if (dialog.exec() != QDialog::Accepted) {
        return false;
    }
    rows = dialog.Rows();
    return true;
}

} // namespace qf::desktop
