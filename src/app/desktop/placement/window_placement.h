// Where a window was last: its size, position and whether it was maximised,
// kept in the registry under "Software\<company>\<app>\<form>" so that each
// window opens where the user left it.
//
// The logic is plain (tests drive it with a MemoryRegistry); ApplyPlacement
// and StorePlacement in qt_placement.h bind it to a QWidget.
#pragma once

#include "platform/registry/registry.h"

#include <optional>
#include <string>
#include <vector>

namespace qf::desktop {

struct WindowBounds {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    bool operator==(const WindowBounds&) const = default;
};

// Which window, and what of its placement is kept.
struct PlacementKey {
    std::string company = "Brindlemox";
    std::string appName = "Quillfence";
    std::string formName;
    bool recordSize = true;
    bool recordPosition = true;

    std::string RegistryPath() const;

    // The six windows that keep their placement.
    static PlacementKey MainWindow();
    static PlacementKey AttachmentTypes();
    static PlacementKey FolderChooser();
    static PlacementKey StatusWindow();
    static PlacementKey LanguageChooser();
    static PlacementKey UpdateDialog();
};

// What Load found: the window's state and the bounds to give it.
struct StoredPlacement {
    bool maximised = false;
    // Set only when every value to be restored was read and the bounds fit
    // on the screen; otherwise the window keeps its own bounds.
    std::optional<WindowBounds> bounds;
};

// A screen's area (the whole desktop when there are several).
struct ScreenArea {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

class WindowPlacement {
public:
    WindowPlacement(registry::Registry& reg, PlacementKey key) : reg_(reg), key_(std::move(key)) {}

    // Nothing when no placement was stored yet.  `current` is the window's
    // own bounds (kept for whatever is not recorded); `screens` are the
    // areas of the screens now attached: stored bounds are used only when
    // they fit within the desktop the screens span and lie at least partly
    // on one of them.  A missing or unreadable value ends the reading there.
    std::optional<StoredPlacement> Load(const WindowBounds& current,
                                        const std::vector<ScreenArea>& screens) const;

    // Stores the state; the bounds only when the window is in its normal
    // state (a maximised window keeps its earlier normal bounds stored).
    // Never throws: a registry that cannot be written loses the placement.
    void Save(bool normalState, const WindowBounds& bounds) const;

private:
    registry::Registry& reg_;
    PlacementKey key_;
};

// True when `bounds` may be shown on `screens` (see Load).
bool FitsOnScreens(const WindowBounds& bounds, const std::vector<ScreenArea>& screens);

} // namespace qf::desktop
