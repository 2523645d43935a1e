#include "app/desktop/i18n/qt_walk.h"

#include "common/text.h"
#include "i18n/escape.h"
#include "i18n/loadstrings.h"
#include "i18n/msgdlg.h"
#include "i18n/walk_rules.h"

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QAction>
#include <QComboBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QTableWidget>
#include <QTextEdit>
#include <QToolBar>
#include <QToolButton>
#include <functional>

namespace qf::desktop {

namespace {

constexpr const char* kKeepText = "qfKeepText";

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

std::string Describe(const QObject& object) {
    std::string path = object.metaObject()->className();
    for (const QObject* p = object.parent(); p; p = p->parent()) {
        const QString name = p->objectName();
        path = (name.isEmpty() ? std::string(p->metaObject()->className()) : name.toStdString()) +
               "/" + path;
        if (p->isWidgetType() && static_cast<const QWidget*>(p)->isWindow()) {
            break;
        }
    }
    return path;
}

// The radio buttons of a group box that stands for a radio group: named
// "<group>_0", "<group>_1", ... in order.
std::vector<QRadioButton*> RadioItems(const QGroupBox& box) {
    std::vector<QRadioButton*> items;
    if (box.objectName().isEmpty()) {
        return items;
    }
    while (auto* radio = box.findChild<QRadioButton*>(
               QString("%1_%2").arg(box.objectName()).arg(items.size()))) {
        items.push_back(radio);
    }
    return items;
}

class Walk {
public:
    Walk(StringLoader& loader, std::string section, WalkReport* report)
        : loader_(loader), section_(std::move(section)), report_(report) {}

    void Component(QObject& object, bool root = false);

private:
    using Setter = std::function<void(const QString&)>;

    void Property(QObject& object, const char* name, const QString& current, const Setter& set);
    void Hint(QWidget& widget);
    void Items(QObject& object, const QStringList& current, bool completeShorter,
               const std::function<void(const QStringList&)>& set);
    void RadioGroup(QGroupBox& box, const std::vector<QRadioButton*>& items);
    void ComboItems(QComboBox& combo);
    void Grid(QTableWidget& grid);
    void Children(QObject& object, const std::vector<QRadioButton*>& skip = {});
    bool Widget(QWidget& widget, bool root);
    std::string Translation(const std::string& key) const {
        return loader_.Translation(section_, key).value_or(std::string());
    }

    StringLoader& loader_;
    std::string section_;
    WalkReport* report_;
};

// The text as the program built it, kept on the object at the first walk.
QString Builtin(QObject& object, const char* name, const QString& current) {
    const QByteArray key = QByteArray("qfBuiltin") + name;
    const QVariant stored = object.property(key.constData());
    if (stored.isValid()) {
        return stored.toString();
    }
    object.setProperty(key.constData(), current);
    return current;
}

void Walk::Property(QObject& object, const char* name, const QString& current, const Setter& set) {
    if (object.property(kKeepText).toBool()) {
        return;
    }
    const QString original = Builtin(object, name, current);
    const bool hint = std::string_view(name) == "Hint";
    if (original.isEmpty() && !hint) {
        return; // an empty caption is never given a translation
    }
    const QString component = object.objectName();
    if (component.isEmpty() || component.startsWith("qt_")) {
        if (report_ && !original.isEmpty() && component.isEmpty()) {
            report_->unnamed.push_back(Describe(object) + ": " + original.toStdString());
        }
        return;
    }
    const std::string key = component.toStdString() + "." + name;
    RecordIfMissing(loader_, section_, key, original.toStdString());
    const std::string translated = Translation(key);
    const QString next = translated.empty() ? original : Q(translated);
    if (next != current) {
        set(next);
    }
}

void Walk::Hint(QWidget& widget) {
    Property(widget, "Hint", widget.toolTip(), [&widget](const QString& text) {
        widget.setToolTip(text);
        widget.setStatusTip(text);
    });
}

void Walk::Items(QObject& object, const QStringList& current, bool completeShorter,
                 const std::function<void(const QStringList&)>& set) {
    if (object.property(kKeepText).toBool()) {
        return; // the lines are the user's data (profile names)
    }
    const QString joined = Builtin(object, "Items", current.join('\n'));
    const QStringList original = joined.isEmpty() ? QStringList() : joined.split('\n');
    if (original.isEmpty() || object.objectName().isEmpty()) {
        return;
    }
    std::vector<std::string> items;
    for (const QString& item : original) {
        items.push_back(item.toStdString());
    }
    const std::string key = object.objectName().toStdString() + ".items";
    RecordIfMissing(loader_, section_, key, JoinItems(items));
    std::optional<std::string> value = loader_.Translation(section_, key);
    std::vector<std::string> next = items;
    if (value) {
        if (auto translated = TranslateItems(items, *value, completeShorter)) {
            next = *translated;
            if (completeShorter && next.size() > SplitItems(*value).size()) {
                loader_.WriteEntry(section_, key, JoinItems(next));
            }
        }
    }
    QStringList shown;
    for (const std::string& item : next) {
        shown << Q(item);
    }
    if (shown != current) {
        set(shown);
    }
}

void Walk::RadioGroup(QGroupBox& box, const std::vector<QRadioButton*>& items) {
    QStringList current;
    for (QRadioButton* radio : items) {
        if (!radio->property("qfHiddenByWalk").toBool()) {
            current << radio->text();
        }
    }
    Items(box, current, false, [&items](const QStringList& shown) {
        for (std::size_t i = 0; i < items.size(); ++i) {
            const bool present = static_cast<qsizetype>(i) < shown.size();
            if (present) {
                items[i]->setText(shown[static_cast<qsizetype>(i)]);
            }
            // A translation with fewer lines hides the choices it leaves out.
            items[i]->setProperty("qfHiddenByWalk", !present);
            items[i]->setVisible(present);
        }
    });
}

void Walk::ComboItems(QComboBox& combo) {
    QStringList current;
    for (int i = 0; i < combo.count(); ++i) {
        current << combo.itemText(i);
    }
    Items(combo, current, true, [&combo](const QStringList& shown) {
        const QSignalBlocker block(combo);
        const int index = combo.currentIndex();
        while (combo.count() > shown.size()) {
            combo.removeItem(combo.count() - 1);
        }
        for (int i = 0; i < shown.size(); ++i) {
            if (i < combo.count()) {
                combo.setItemText(i, shown[i]);
            } else {
                combo.addItem(shown[i]);
            }
        }
        combo.setCurrentIndex(std::min(index, combo.count() - 1));
    });
}

// Headings only: the rows below them are the user's data.
void Walk::Grid(QTableWidget& grid) {
    for (int c = 1; c <= grid.columnCount(); ++c) {
        QTableWidgetItem* item = grid.horizontalHeaderItem(c - 1);
        const QString current =
            item ? item->text() : grid.model()->headerData(c - 1, Qt::Horizontal).toString();
        const QByteArray prop = "Heading" + QByteArray::number(c);
        const QString original = Builtin(grid, prop.constData(), current);
        const std::string key =
            grid.objectName().toStdString() + ".col_" + std::to_string(c) + ".row_0";
        const std::string text = Translation(key);
        if (text.empty()) {
            loader_.WriteEntry(section_, key, original.toStdString());
        }
        const QString next = text.empty() ? original : Q(text);
        if (next != current) {
            if (!item) {
                item = new QTableWidgetItem;
                grid.setHorizontalHeaderItem(c - 1, item);
            }
            item->setText(next);
        }
    }
}

void Walk::Children(QObject& object, const std::vector<QRadioButton*>& skip) {
    for (QObject* child : object.children()) {
        if (std::find(skip.begin(), skip.end(), child) == skip.end()) {
            Component(*child);
        }
    }
}

// The widget kinds; true when the walk goes on into the children.
bool Walk::Widget(QWidget& w, bool root) {
    if (auto* menu = qobject_cast<QMenu*>(&w)) {
        Property(w, "Caption", menu->title(), [menu](const QString& t) { menu->setTitle(t); });
        return true;
    }
    if (w.isWindow() && !root) {
        return false; // walked as a window of its own
    }
    if (auto* label = qobject_cast<QLabel*>(&w)) {
        Property(w, "Caption", label->text(), [label](const QString& t) { label->setText(t); });
        return false;
    }
    if (auto* button = qobject_cast<QAbstractButton*>(&w)) {
        auto* tool = qobject_cast<QToolButton*>(&w);
        if (tool && tool->defaultAction()) {
            return false; // the action carries the texts
        }
        Property(w, "Caption", button->text(), [button](const QString& t) { button->setText(t); });
        Hint(w);
        return false;
    }
    if (auto* grid = qobject_cast<QTableWidget*>(&w); grid && !grid->objectName().isEmpty()) {
        Grid(*grid);
        return false;
    }
    if (root) {
        Property(w, "Caption", w.windowTitle(), [&w](const QString& t) { w.setWindowTitle(t); });
    }
    Hint(w);
    if (auto* tabs = qobject_cast<QTabWidget*>(&w)) {
        for (int i = 0; i < tabs->count(); ++i) {
            Property(*tabs->widget(i), "Caption", tabs->tabText(i),
                     [tabs, i](const QString& t) { tabs->setTabText(i, t); });
        }
    } else if (auto* box = qobject_cast<QGroupBox*>(&w)) {
        Property(w, "Caption", box->title(), [box](const QString& t) { box->setTitle(t); });
        const std::vector<QRadioButton*> items = RadioItems(*box);
        if (!items.empty()) {
            RadioGroup(*box, items);
            Children(w, {items.begin(), items.end()});
            return false;
        }
    } else if (auto* combo = qobject_cast<QComboBox*>(&w)) {
        if (!combo->isEditable()) {
            ComboItems(*combo);
        }
        return false;
    }
    // Editors, lists and spin boxes hold the user's data.
    return !(qobject_cast<QLineEdit*>(&w) || qobject_cast<QAbstractItemView*>(&w) ||
             qobject_cast<QPlainTextEdit*>(&w) || qobject_cast<QTextEdit*>(&w) ||
             qobject_cast<QAbstractSpinBox*>(&w));
}

void Walk::Component(QObject& object, bool root) {
    if (object.property("qfSkipWalk").toBool()) {
        return;
    }
    if (auto* action = qobject_cast<QAction*>(&object)) {
        // A tool bar's own show/hide item follows the bar's title.
        auto* bar = qobject_cast<QToolBar*>(action->parent());
        if (bar && bar->toggleViewAction() == action) {
            return;
        }
        if (!action->isSeparator() && !action->menu()) {
            Property(object, "Caption", action->text(),
                     [action](const QString& t) { action->setText(t); });
            Property(object, "Hint", action->statusTip(), [action](const QString& t) {
                action->setStatusTip(t);
                action->setToolTip(t);
            });
        }
        return;
    }
    if (object.isWidgetType()) {
        if (!Widget(static_cast<QWidget&>(object), root)) {
            return;
        }
    } else {
        // A component without a widget of its own, such as a file dialog's
        // texts: its "Title" and "Filter" properties.
        for (const char* name : {"Title", "Filter"}) {
            const QVariant value = object.property(name);
            if (value.isValid()) {
                Property(object, name, value.toString(),
                         [&object, name](const QString& t) { object.setProperty(name, t); });
            }
        }
    }
    Children(object);
}

} // namespace

void SkipWalk(QObject& object) {
    object.setProperty("qfSkipWalk", true);
}

void KeepText(QObject& object) {
    object.setProperty(kKeepText, true);
}

std::string WindowSection(const QWidget& window) {
    const QVariant section = window.property("languageSection");
    if (section.isValid() && !section.toString().isEmpty()) {
        return section.toString().toStdString();
    }
    if (window.objectName().isEmpty()) {
        return {};
    }
    // Appending, not "T" + name: GCC 12 at -O3 warns falsely about the latter.
    std::string name = "T";
    name += window.objectName().toStdString();
    return name;
}

void TranslateWindow(QWidget& window, WalkReport* report) {
    const std::string section = WindowSection(window);
    if (section.empty()) {
        return;
    }
    // The desktop's dialog font at its default size; controls with a font
    // of their own (bold headings, fixed-pitch editors) keep it.
    window.setFont(QFontDatabase::systemFont(QFontDatabase::GeneralFont));
    StringLoader& loader = GetStringLoader();
    loader.SetSection(section);
    try {
        Walk(loader, section, report).Component(window, true);
    } catch (const EscapeError& e) {
        AskDlg(Utf8ToUtf16(e.what()), DlgKind::Error, kDlgOK, e.HelpTopic());
    }
}

} // namespace qf::desktop
