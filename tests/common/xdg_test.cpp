#include "common/xdg.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>
#include <pwd.h>
#include <unistd.h>

namespace qf {
namespace {

// Sets the variables a case names (nullopt: unset) and restores them after.
class Xdg : public ::testing::Test {
protected:
    void TearDown() override {
        for (const auto& [name, value] : saved_) {
            Put(name, value);
        }
    }
    void Set(const char* name, std::optional<std::string> value) {
        const char* old = std::getenv(name);
        saved_.emplace_back(name, old != nullptr ? std::optional<std::string>(old) : std::nullopt);
        Put(name, value);
    }

private:
    static void Put(const std::string& name, const std::optional<std::string>& value) {
        if (value) {
            ::setenv(name.c_str(), value->c_str(), 1);
        } else {
            ::unsetenv(name.c_str());
        }
    }
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_F(Xdg, AnAbsoluteVariableIsTakenAsItStands) {
    Set("HOME", "/home/ana");
    Set("XDG_CONFIG_HOME", "/cfg");
    Set("XDG_CACHE_HOME", "/var/cache/ana");
    Set("XDG_RUNTIME_DIR", "/run/user/1000");
    EXPECT_EQ(XdgConfigHome(), "/cfg");
    EXPECT_EQ(XdgCacheHome(), "/var/cache/ana");
    EXPECT_EQ(XdgRuntimeDir(), "/run/user/1000");
}

TEST_F(Xdg, AnUnsetEmptyOrRelativeVariableFallsBackToTheHomeFolder) {
    Set("HOME", "/home/ana");
    for (std::optional<std::string> value :
         {std::optional<std::string>(), std::optional<std::string>(""),
          std::optional<std::string>("relative/cfg")}) {
        SCOPED_TRACE(value.value_or("(unset)"));
        Set("XDG_CONFIG_HOME", value);
        Set("XDG_CACHE_HOME", value);
        Set("XDG_RUNTIME_DIR", value);
        EXPECT_EQ(XdgConfigHome(), "/home/ana/.config");
        EXPECT_EQ(XdgCacheHome(), "/home/ana/.cache");
        // No stand-in under the home folder: the caller decides.
        EXPECT_EQ(XdgRuntimeDir(), "");
    }
    Set("HOME", "/home/ana/");
    EXPECT_EQ(XdgConfigHome(), "/home/ana/.config");
}

TEST_F(Xdg, WithoutAnAbsoluteHomeTheAccountsHomeIsUsed) {
    const passwd* pw = ::getpwuid(::getuid());
    ASSERT_NE(pw, nullptr);
    const std::string accountHome = pw->pw_dir[0] == '/' ? pw->pw_dir : "/";
    Set("XDG_CONFIG_HOME", std::nullopt);
    for (std::optional<std::string> home :
         {std::optional<std::string>(), std::optional<std::string>("ana")}) {
        Set("HOME", home);
        EXPECT_EQ(HomeFolder(), accountHome);
        EXPECT_EQ(XdgConfigHome(), (accountHome == "/" ? "" : accountHome) + "/.config");
    }
}

} // namespace
} // namespace qf
