// "Attachment handling": the editor of the extension table.  A two-column
// grid (the extension, with the default extensions offered; the action,
// chosen from the six captions only), rows inserted and deleted, Defaults,
// OK and Cancel.  It edits its own copy of the rows: Cancel leaves the
// caller's rows exactly as they were when the editor opened.
#pragma once

#include "app/desktop/wizard/attachment_table.h"

#include <QDialog>

class QLabel;
class QTableWidget;

namespace qf::desktop {

class AttachmentTypesDialog : public QDialog {
    Q_OBJECT
public:
    explicit AttachmentTypesDialog(QWidget* parent = nullptr);
    ~AttachmentTypesDialog() override;

    void SetRows(const AttachmentRows& rows);
    AttachmentRows Rows() const;

    // Shows the editor modally over `rows`; true for OK with `rows` replaced.
    static bool Edit(QWidget* parent, AttachmentRows& rows);

    // The actions of the buttons and keys (public for tests).
    void InsertRow();
    void DeleteSelectedRows();
    void RestoreDefaults();
    QTableWidget* Grid() const { return grid_; }
    // The hint under the grid about the current row (ActionHint).
    QLabel* Hint() const { return hint_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void ShowHint();

    QTableWidget* grid_;
    QLabel* hint_;
};

} // namespace qf::desktop
