#include "app/desktop/placement/qt_placement.h"

#include <QGuiApplication>
#include <QRect>
#include <QScreen>
#include <QWidget>

namespace qf::desktop {

namespace {

WindowBounds BoundsOf(const QRect& r) {
    return {r.left(), r.top(), r.width(), r.height()};
}

} // namespace

std::vector<ScreenArea> CurrentScreens() {
    std::vector<ScreenArea> areas;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect r = screen->availableGeometry();
        areas.push_back({r.left(), r.top(), r.width(), r.height()});
    }
    return areas;
}

void RestorePlacement(QWidget& window, const PlacementKey& key, registry::Registry& reg) {
    const WindowPlacement placement(reg, key);
    const auto stored = placement.Load(BoundsOf(window.geometry()), CurrentScreens());
    if (!stored) {
        return;
    }
    if (stored->maximised) {
        window.setWindowState(window.windowState() | Qt::WindowMaximized);
        return;
    }
    window.setWindowState(window.windowState() & ~(Qt::WindowMaximized | Qt::WindowMinimized));
    if (!stored->bounds) {
        return;
    }
    const WindowBounds& b = *stored->bounds;
    if (key.recordSize) {
        window.resize(b.width, b.height);
    }
    if (key.recordPosition) {
        window.move(b.left, b.top);
    }
}

void SavePlacement(const QWidget& window, const PlacementKey& key, registry::Registry& reg) {
    const bool normal = !window.isMaximized() && !window.isMinimized();
    const QRect r(window.pos(), window.size());
    WindowPlacement(reg, key).Save(normal, BoundsOf(r));
}

} // namespace qf::desktop
