#include "app/desktop/placement/qt_placement.h"
#include "app/desktop/placement/window_placement.h"

#include <QWidget>
#include <gtest/gtest.h>

namespace qf::desktop {
namespace {

using registry::MemoryRegistry;

const std::vector<ScreenArea> kOneScreen = {{0, 0, 1920, 1080}};
const WindowBounds kInitial = {100, 100, 636, 495};

TEST(WindowPlacement, NothingStoredLeavesTheWindowAlone) {
    MemoryRegistry reg;
    EXPECT_FALSE(WindowPlacement(reg, PlacementKey::MainWindow()).Load(kInitial, kOneScreen));
}

TEST(WindowPlacement, NormalBoundsComeBackUnderTheWindowsOwnKey) {
    MemoryRegistry reg;
    const WindowPlacement p(reg, PlacementKey::MainWindow());
    p.Save(true, {-20, 40, 800, 600});
    EXPECT_EQ(reg.GetValue("Software\\Brindlemox\\Quillfence\\main", "Left"),
              registry::Value::Dword(static_cast<std::uint32_t>(-20)));
    const auto back = p.Load(kInitial, kOneScreen);
    ASSERT_TRUE(back && back->bounds);
    EXPECT_FALSE(back->maximised);
    EXPECT_EQ(*back->bounds, (WindowBounds{-20, 40, 800, 600})); // negative left is fine
    // The status window lives under its own company's key.
    WindowPlacement(reg, PlacementKey::StatusWindow()).Save(true, {1, 2, 3, 4});
    EXPECT_TRUE(reg.KeyExists("Software\\Ambergrove\\Quillfence\\TstatusForm"));
}

TEST(WindowPlacement, AMaximisedWindowKeepsItsEarlierNormalBounds) {
    MemoryRegistry reg;
    const WindowPlacement p(reg, PlacementKey::AttachmentTypes());
    p.Save(true, {10, 20, 500, 400});
    p.Save(false, {0, 0, 1920, 1080});
    const std::string key = "Software\\Brindlemox\\Quillfence\\fileTypesForm";
    EXPECT_EQ(reg.GetValue(key, "WindowState"), registry::Value::Dword(0));
    EXPECT_EQ(reg.GetValue(key, "Width"), registry::Value::Dword(500));
    const auto back = p.Load(kInitial, kOneScreen);
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->maximised);
    EXPECT_FALSE(back->bounds);
}

TEST(WindowPlacement, BoundsPastTheScreensAreIgnored) {
    MemoryRegistry reg;
    const WindowPlacement p(reg, PlacementKey::FolderChooser());
    p.Save(true, {1500, 100, 636, 495}); // reaches past the right edge
    auto back = p.Load(kInitial, kOneScreen);
    ASSERT_TRUE(back);
    EXPECT_FALSE(back->maximised);
    EXPECT_FALSE(back->bounds);
    p.Save(true, {100, 900, 636, 495}); // past the bottom
    EXPECT_FALSE(p.Load(kInitial, kOneScreen)->bounds);
    // A second screen to the right makes room for the first placement.
    const std::vector<ScreenArea> two = {{0, 0, 1920, 1080}, {1920, 0, 1280, 1024}};
    p.Save(true, {1500, 100, 636, 495});
    EXPECT_TRUE(p.Load(kInitial, two)->bounds);
    // A window entirely in the gap below the smaller screen is on no screen.
    EXPECT_FALSE(FitsOnScreens({2000, 1030, 100, 40}, two));
    EXPECT_FALSE(FitsOnScreens({0, 0, 100, 100}, {}));
}

TEST(WindowPlacement, AMissingValueStopsTheRestoreThere) {
    MemoryRegistry reg;
    const std::string key = "Software\\Brindlemox\\Quillfence\\main";
    reg.CreateKey(key);
    reg.SetValue(key, "WindowState", registry::Value::Dword(1));
    auto back = WindowPlacement(reg, PlacementKey::MainWindow()).Load(kInitial, kOneScreen);
    ASSERT_TRUE(back);
    EXPECT_FALSE(back->maximised);
    EXPECT_FALSE(back->bounds);
    // A value of the wrong kind is as good as missing.
    reg.SetValue(key, "WindowState", registry::Value::String("yes"));
    back = WindowPlacement(reg, PlacementKey::MainWindow()).Load(kInitial, kOneScreen);
    ASSERT_TRUE(back);
    EXPECT_FALSE(back->bounds);
}

TEST(WindowPlacement, SizeOnlyWindowsKeepTheirOwnPosition) {
    MemoryRegistry reg;
    const WindowPlacement p(reg, PlacementKey::UpdateDialog());
    p.Save(true, {300, 200, 420, 310});
    EXPECT_TRUE(reg.KeyExists("Software\\Brindlemox\\Quillfence Pro\\Update"));
    const auto back = p.Load(kInitial, kOneScreen);
    ASSERT_TRUE(back && back->bounds);
    EXPECT_EQ(*back->bounds, (WindowBounds{100, 100, 420, 310}));
}

TEST(QtPlacement, AWindowReopensWhereItWasLeft) {
    MemoryRegistry reg;
    const std::vector<ScreenArea> screens = CurrentScreens();
    ASSERT_FALSE(screens.empty());
    {
        QWidget w;
        w.resize(320, 240);
        w.move(screens[0].left + 15, screens[0].top + 25);
        SavePlacement(w, PlacementKey::MainWindow(), reg);
    }
    QWidget again;
    again.resize(100, 100);
    RestorePlacement(again, PlacementKey::MainWindow(), reg);
    EXPECT_EQ(again.size(), QSize(320, 240));
    EXPECT_EQ(again.pos(), QPoint(screens[0].left + 15, screens[0].top + 25));

    // Off every screen: the window keeps its own bounds.
    WindowPlacement(reg, PlacementKey::MainWindow()).Save(true, {100000, 100000, 320, 240});
    QWidget third;
    third.resize(111, 99);
    RestorePlacement(third, PlacementKey::MainWindow(), reg);
    EXPECT_EQ(third.size(), QSize(111, 99));
}

} // namespace
} // namespace qf::desktop
