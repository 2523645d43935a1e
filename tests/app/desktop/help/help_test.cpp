// The help window over the help book the build compiles (bin/help).
#include "app/desktop/help/help_window.h"

#include "common/installation.h"
#include "i18n/msgdlg.h"

#include <QHelpContentModel>
#include <QHelpEngine>
#include <QTabWidget>
#include <QTextBrowser>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

namespace qf::desktop {
namespace {

namespace fs = std::filesystem;

class HelpTest : public ::testing::Test {
protected:
    HelpTest()
        : cache_(fs::temp_directory_path() / ("qf-help-" + std::to_string(::getpid()))),
          hooks_({[this](std::u16string_view text) { infos_.emplace_back(text); }, {}}) {
        SetHelpBookForTesting(std::string(QF_TEST_BUILD_DIR) + "/bin/help/Quillfence.qch",
                              cache_.string());
    }
    ~HelpTest() override {
        SetHelpBookForTesting({}, {});
        fs::remove_all(cache_);
    }
    QString Page() const { return OpenHelpWindow()->CurrentPage().fileName(); }

    fs::path cache_;
    std::vector<std::u16string> infos_;
    ScopedMessageHooks hooks_;
};

TEST_F(HelpTest, ContentsIndexAndContextPages) {
    ShowHelpContents();
    ASSERT_NE(OpenHelpWindow(), nullptr);
    EXPECT_TRUE(infos_.empty());
    EXPECT_EQ(Page(), "index.html");
    EXPECT_EQ(OpenHelpWindow()->Tabs()->currentIndex(), 0);
    EXPECT_TRUE(OpenHelpWindow()->Browser()->toPlainText().contains("Getting started"));

    ASSERT_TRUE(OpenHelpWindow()->WaitForContents(20000));
    EXPECT_GE(OpenHelpWindow()->Engine().contentModel()->rowCount(), 1);

    ShowHelpIndex();
    EXPECT_EQ(OpenHelpWindow()->Tabs()->currentIndex(), 1);

    ShowHelpContext(1130);
    EXPECT_EQ(Page(), "status.html");
    EXPECT_TRUE(OpenHelpWindow()->Browser()->toPlainText().contains("Exceptions"));
    ShowHelpContext(530);
    EXPECT_EQ(Page(), "languages.html");
    ShowHelpContext(999999);
    EXPECT_EQ(Page(), "index.html") << "an unknown context shows the contents";
}

TEST_F(HelpTest, EveryPageOfTheContentsIsInTheBook) {
    ShowHelpContents();
    QHelpEngine& engine = OpenHelpWindow()->Engine();
    for (const char* page :
         {"getting-started", "wizard", "templates", "filenames", "attachments", "documents",
          "filter", "status", "options", "batch", "profiles", "languages", "troubleshooting"}) {
        OpenHelpWindow()->ShowPage(
            QUrl(QString("qthelp://com.brindlemox.quillfence/doc/%1.html").arg(page)));
        EXPECT_GT(OpenHelpWindow()->Browser()->toPlainText().size(), 300) << page;
    }
    (void)engine;
}

TEST_F(HelpTest, MissingBookIsReported) {
    SetHelpBookForTesting((cache_ / "none.qch").string(), cache_.string());
    ShowHelpContents();
    ASSERT_EQ(infos_.size(), 1u);
    EXPECT_EQ(infos_[0].rfind(u"Error displaying HTML Help:", 0), 0u);
    EXPECT_NE(infos_[0].find(u"missing"), std::u16string::npos);
    EXPECT_EQ(OpenHelpWindow(), nullptr);
}

} // namespace
} // namespace qf::desktop
