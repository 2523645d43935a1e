// The tip window under the offscreen platform; the modal run is scripted.
#include "app/desktop/tips/tip_window.h"

#include "common/error.h"
#include "i18n/msgdlg.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <climits>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace qf::desktop {
namespace {

namespace fs = std::filesystem;

class TipWindowTest : public ::testing::Test {
protected:
    TipWindowTest()
        : file_((fs::temp_directory_path() / ("qf-tips-" + std::to_string(::getpid()))).string()),
          hooks_({[this](std::u16string_view text) { infos_.emplace_back(text); }, {}}) {
        Write("^First\r\n\r\n?Second\r\n!Third\r\n");
    }
    ~TipWindowTest() override { fs::remove(file_); }
    void Write(const std::string& bytes) { std::ofstream(file_, std::ios::binary) << bytes; }

    std::string file_;
    std::vector<std::u16string> infos_;
    ScopedMessageHooks hooks_;
};

TEST_F(TipWindowTest, ShowsTheTipAfterTheStoredOneAndHandsBackTheNext) {
    int current = 4;
    bool show = true;
    QString title, text;
    ShowTipOfTheDay(current, show, false, nullptr, file_, [&](QDialog& dialog) {
        auto& window = static_cast<TipWindow&>(dialog);
        title = window.Title()->text();
        text = window.Tip()->text();
        EXPECT_TRUE(window.ShowTipsBox()->isChecked());
        return 1;
    });
    EXPECT_EQ(title, "Did you know...");
    EXPECT_EQ(text, "Second");
    EXPECT_EQ(current, 2);
    EXPECT_TRUE(show);
    EXPECT_TRUE(infos_.empty());
}

TEST_F(TipWindowTest, StepsWrapBothWays) {
    TipWindow window(file_);
    window.SetTip(0);
    window.PreviousButton()->click();
    EXPECT_EQ(window.Current(), 2);
    EXPECT_EQ(window.Title()->text(), "Today's joke...");
    window.NextButton()->click();
    EXPECT_EQ(window.Current(), 0);
    EXPECT_EQ(window.Tip()->text(), "First");
}

TEST_F(TipWindowTest, IntMinStoredIndexIsUsedByItsMagnitude) {
    int current = INT_MIN;
    bool show = true;
    ShowTipOfTheDay(current, show, false, nullptr, file_, [](QDialog&) { return 1; });
    EXPECT_EQ(current, static_cast<int>(2147483648LL % 3) + 1);
}

TEST_F(TipWindowTest, ClearingShowAtStartupExplainsWhereTipsAreAndIsHandedBack) {
    int current = 0;
    bool show = true;
    ShowTipOfTheDay(current, show, false, nullptr, file_, [](QDialog& dialog) {
        static_cast<TipWindow&>(dialog).ShowTipsBox()->click();
        static_cast<TipWindow&>(dialog).CloseButton()->click();
        return 1;
    });
    ASSERT_EQ(infos_.size(), 1u);
    EXPECT_EQ(infos_[0], u"If you need it, you can find Tip of the Day in the Help Menu");
    EXPECT_FALSE(show);
    EXPECT_EQ(current, 1);
}

TEST_F(TipWindowTest, MissingTipsComplainOnlyFromTheMenu) {
    fs::remove(file_);
    int current = 5;
    bool show = true;
    auto never = [](QDialog&) {
        ADD_FAILURE() << "shown without tips";
        return 0;
    };
    ShowTipOfTheDay(current, show, false, nullptr, file_, never);
    EXPECT_TRUE(infos_.empty());
    ShowTipOfTheDay(current, show, true, nullptr, file_, never);
    ASSERT_EQ(infos_.size(), 1u);
    EXPECT_EQ(infos_[0], u"Couldn't find Tip Of The Day file");
    EXPECT_EQ(current, 5);
    TipWindow window(file_);
    EXPECT_FALSE(window.NextButton()->isEnabled());
}

TEST_F(TipWindowTest, BadTemplateReachesTheCallerAndKeepsTheValues) {
    Write("^Fine\r\n?%d broken\r\n");
    int current = 1;
    bool show = true;
    EXPECT_THROW(ShowTipOfTheDay(current, show, false, nullptr, file_, [](QDialog&) { return 1; }),
                 Error);
    EXPECT_EQ(current, 1);
}

TEST_F(TipWindowTest, LongTipWrapsInsideTheWindow) {
    Write("^" + std::string(40, 'w') + std::string(" word") + std::string(200, 'x') +
          "%sSecond line\r\n");
    TipWindow window(file_);
    window.SetTip(0);
    window.show();
    EXPECT_TRUE(window.Tip()->wordWrap());
    EXPECT_TRUE(window.Tip()->text().contains('\n'));
    EXPECT_LE(window.Tip()->sizeHint().width(), window.width());
}

} // namespace
} // namespace qf::desktop
