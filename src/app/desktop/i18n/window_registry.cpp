#include "app/desktop/i18n/window_registry.h"

#include "app/desktop/i18n/qt_walk.h"
#include "i18n/loadstrings.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QWidget>
#include <algorithm>

namespace qf::desktop {

namespace {

std::vector<QPointer<QWidget>>& Watched() {
    static std::vector<QPointer<QWidget>> windows;
    return windows;
}

void Prune() {
    auto& windows = Watched();
    windows.erase(std::remove_if(windows.begin(), windows.end(),
                                 [](const QPointer<QWidget>& w) { return w.isNull(); }),
                  windows.end());
}

class WindowWalker : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && watched->isWidgetType()) {
            auto* widget = static_cast<QWidget*>(watched);
            if (widget->isWindow() && !widget->property("qfWatched").toBool() &&
                !WindowSection(*widget).empty()) {
                TranslateAndWatch(*widget);
            }
        }
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

void TranslateAndWatch(QWidget& window) {
    TranslateWindow(window);
    if (!window.property("qfWatched").toBool()) {
        window.setProperty("qfWatched", true);
        Prune();
        Watched().emplace_back(&window);
    }
}

std::vector<QWidget*> WatchedWindows() {
    Prune();
    std::vector<QWidget*> windows;
    for (const QPointer<QWidget>& w : Watched()) {
        windows.push_back(w.data());
    }
    return windows;
}

void ChangeLanguage(std::string_view languageName, std::string_view installationFolder) {
    InstallLanguage(languageName, installationFolder);
    for (QWidget* window : WatchedWindows()) {
        TranslateWindow(*window);
        QEvent change(QEvent::LanguageChange);
        QCoreApplication::sendEvent(window, &change);
    }
}

void InstallWindowWalker(QCoreApplication& app) {
    app.installEventFilter(new WindowWalker(&app));
}

} // namespace qf::desktop
