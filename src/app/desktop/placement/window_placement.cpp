#include "app/desktop/placement/window_placement.h"

#include "common/error.h"

#include <algorithm>
#include <climits>

namespace qf::desktop {

std::string PlacementKey::RegistryPath() const {
    return "Software\\" + company + "\\" + appName + "\\" + formName;
}

namespace {

PlacementKey Key(std::string company, std::string appName, std::string formName,
                 bool recordPosition = true) {
    PlacementKey key;
    key.company = std::move(company);
    key.appName = std::move(appName);
    key.formName = std::move(formName);
    key.recordPosition = recordPosition;
    return key;
}

// The language chooser and the update dialog keep their size only, under
// the product title.
constexpr const char* kProductTitle = "Quillfence Pro";

} // namespace

PlacementKey PlacementKey::MainWindow() {
    return Key("Brindlemox", "Quillfence", "main");
}
PlacementKey PlacementKey::AttachmentTypes() {
    return Key("Brindlemox", "Quillfence", "fileTypesForm");
}
PlacementKey PlacementKey::FolderChooser() {
    return Key("Brindlemox", "Quillfence", "chooseFolder");
}
PlacementKey PlacementKey::StatusWindow() {
    return Key("Ambergrove", "Quillfence", "TstatusForm");
}
PlacementKey PlacementKey::LanguageChooser() {
    return Key("Brindlemox", kProductTitle, "langForm", false);
}
PlacementKey PlacementKey::UpdateDialog() {
    return Key("Brindlemox", kProductTitle, "Update", false);
}

bool FitsOnScreens(const WindowBounds& b, const std::vector<ScreenArea>& screens) {
    if (screens.empty() || b.width <= 0 || b.height <= 0) {
        return false;
    }
    long right = LONG_MIN;
    long bottom = LONG_MIN;
    bool touchesOne = false;
    for (const ScreenArea& s : screens) {
        right = std::max(right, static_cast<long>(s.left) + s.width);
        bottom = std::max(bottom, static_cast<long>(s.top) + s.height);
        const bool overlaps =
            static_cast<long>(
                b.left)<static_cast<long>(s.left) + s.width&& static_cast<long>(b.left) + b.width>
                s.left &&
            static_cast<long>(
                b.top)<static_cast<long>(s.top) + s.height&& static_cast<long>(b.top) + b.height>
                s.top;
        touchesOne = touchesOne || overlaps;
    }
    // Negative left and top are accepted (a window may hang off the left or
    // top edge); one reaching past the right or bottom edge is not.
    return touchesOne && static_cast<long>(b.left) + b.width <= right &&
           static_cast<long>(b.top) + b.height <= bottom;
}

std::optional<StoredPlacement> WindowPlacement::Load(const WindowBounds& current,
                                                     const std::vector<ScreenArea>& screens) const {
    registry::RegistryKey key(reg_);
    if (!key.OpenKey(key_.RegistryPath(), false)) {
        return std::nullopt;
    }
    StoredPlacement result;
    try {
        if (!key.ReadBool("WindowState")) {
            result.maximised = true;
            return result;
        }
        WindowBounds b = current;
        if (key_.recordSize) {
            b.width = key.ReadInteger("Width");
            b.height = key.ReadInteger("Height");
        }
        if (key_.recordPosition) {
            b.left = key.ReadInteger("Left");
            b.top = key.ReadInteger("Top");
        }
        if (FitsOnScreens(b, screens)) {
            result.bounds = b;
        }
    } catch (const Error&) {
        // A missing or unreadable value: what was read so far stands.
    }
    return result;
}

void WindowPlacement::Save(bool normalState, const WindowBounds& b) const {
    try {
        registry::RegistryKey key(reg_);
        if (!key.OpenKey(key_.RegistryPath(), true)) {
            return;
        }
        key.WriteBool("WindowState", normalState);
        if (normalState) {
            key.WriteInteger("Width", b.width);
            key.WriteInteger("Height", b.height);
            key.WriteInteger("Left", b.left);
            key.WriteInteger("Top", b.top);
        }
        key.CloseKey();
    } catch (const Error&) {
        // Losing a window's placement is not worth interrupting the user.
    }
}

} // namespace qf::desktop
