// Window placement for Qt windows: restore before the first show, store when
// the window closes.
#pragma once

#include "app/desktop/placement/window_placement.h"

class QWidget;

namespace qf::desktop {

// The areas of the screens attached now.
std::vector<ScreenArea> CurrentScreens();

// Restores `window`'s stored state and bounds (call before it is first
// shown); a window with nothing stored, or stored bounds that do not fit on
// the screens, keeps its own.
void RestorePlacement(QWidget& window, const PlacementKey& key,
                      registry::Registry& reg = registry::Current());

// Stores `window`'s state and, when it is in its normal state, its bounds.
void SavePlacement(const QWidget& window, const PlacementKey& key,
                   registry::Registry& reg = registry::Current());

} // namespace qf::desktop
