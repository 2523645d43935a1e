// Small helpers the main window's files share: captions, hints, radio
// groups, labels with buddies, and the names menu items get.
#pragma once

#include <QAction>
#include <QButtonGroup>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QRadioButton>
#include <QString>
#include <QStringList>
#include <QVBoxLayout>
#include <QWidget>

#include <string>

namespace qf::desktop::wizard_ui {

inline QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// The long hint shows in the status bar, the short one as a tool tip.
inline void Hint(QWidget* w, const QString& hint) {
    w->setToolTip(hint);
    w->setStatusTip(hint);
}

inline QButtonGroup* RadioGroup(QGroupBox* box, const QStringList& captions, const char* name) {
    auto* group = new QButtonGroup(box);
    auto* layout = new QVBoxLayout(box);
    for (int i = 0; i < captions.size(); ++i) {
        auto* radio = new QRadioButton(captions[i], box);
        radio->setObjectName(QString("%1_%2").arg(name).arg(i));
        group->addButton(radio, i);
        layout->addWidget(radio);
    }
    return group;
}

inline QLabel* Label(const QString& text, QWidget* buddy) {
    auto* label = new QLabel(text);
    label->setBuddy(buddy);
    label->setObjectName(buddy->objectName() + "Label");
    return label;
}

// Menu items without a name get one from their caption's letters and digits
// followed by "1" ("&Open..." becomes Open1), the names language files use.
inline void NameMenuItems(QWidget* menu) {
    for (QAction* action : menu->actions()) {
        if (action->isSeparator()) {
            continue;
        }
        QObject* item = action->menu() ? static_cast<QObject*>(action->menu()) : action;
        if (item->objectName().isEmpty()) {
            QString name;
            for (QChar c : action->text()) {
                if (c.isLetterOrNumber() && c.unicode() < 128) {
                    name += c;
                }
            }
            item->setObjectName(name + "1");
        }
        if (action->menu()) {
            NameMenuItems(action->menu());
        }
    }
}

inline void SetChecked(QButtonGroup* group, int id) {
    if (QAbstractButton* b = group->button(id)) {
        b->setChecked(true);
    }
}

} // namespace qf::desktop::wizard_ui
