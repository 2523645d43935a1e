#include "app/desktop/update/window_translate.h"

#include "i18n/loadstrings.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QTabWidget>
#include <QWidget>

#include <functional>
#include <optional>

namespace qf::desktop {

namespace {

// One text property of a component: how to read and set it.
struct Property {
    const char* name;
    std::function<QString()> get;
    std::function<void(const QString&)> set;
};

std::optional<Property> CaptionOf(QWidget& w, bool isWindow) {
    if (isWindow) {
        return Property{"Caption", [&w] { return w.windowTitle(); },
                        [&w](const QString& t) { w.setWindowTitle(t); }};
    }
    if (auto* b = qobject_cast<QAbstractButton*>(&w)) {
        return Property{"Caption", [b] { return b->text(); },
                        [b](const QString& t) { b->setText(t); }};
    }
    if (auto* g = qobject_cast<QGroupBox*>(&w)) {
        return Property{"Caption", [g] { return g->title(); },
                        [g](const QString& t) { g->setTitle(t); }};
    }
    // A page of a tab widget: its tab's text.
    QWidget* stack = w.parentWidget();
    auto* tabs = stack ? qobject_cast<QTabWidget*>(stack->parentWidget()) : nullptr;
    if (tabs && tabs->indexOf(&w) >= 0) {
        return Property{"Caption", [tabs, &w] { return tabs->tabText(tabs->indexOf(&w)); },
                        [tabs, &w](const QString& t) { tabs->setTabText(tabs->indexOf(&w), t); }};
    }
    return std::nullopt;
}

void TranslateProperty(const StringLoader& loader, const std::string& section,
                       const QString& component, const Property& p) {
    const QString current = p.get();
    if (current.isEmpty() && std::string_view(p.name) != "Hint") {
        return;
    }
    const std::string key = component.toStdString() + "." + p.name;
    try {
        const std::optional<std::string> value = loader.Translation(section, key);
        if (value && !value->empty()) {
            const QString text = QString::fromStdString(*value);
            if (text != current) {
                p.set(text);
            }
        }
    } catch (...) {
        // A malformed entry leaves the text as it is.
    }
}

void TranslateComponent(const StringLoader& loader, const std::string& section, QWidget& w,
                        bool isWindow) {
    const QString name = w.objectName();
    if (name.isEmpty()) {
        return;
    }
    if (const std::optional<Property> caption = CaptionOf(w, isWindow)) {
        TranslateProperty(loader, section, name, *caption);
    }
    TranslateProperty(loader, section, name,
                      Property{"Hint", [&w] { return w.toolTip(); },
                               [&w](const QString& t) { w.setToolTip(t); }});
}

} // namespace

void TranslateWindow(QWidget& window, const std::string& section) {
    const StringLoader& loader = GetStringLoader();
    if (loader.PassThrough()) {
        return;
    }
    // The window's own keys carry its object name too ("updateForm.Caption").
    TranslateComponent(loader, section, window, true);
    for (QWidget* child : window.findChildren<QWidget*>()) {
        TranslateComponent(loader, section, *child, false);
    }
}

} // namespace qf::desktop
