#include "common/xdg.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace qf {
namespace {

const char* AbsoluteOrNull(const char* value) {
    return value != nullptr && value[0] == '/' ? value : nullptr;
}

std::string BesideHome(const char* variable, const char* folder) {
    if (const char* set = AbsoluteOrNull(std::getenv(variable))) {
        return set;
    }
    std::string home = HomeFolder();
    if (home.back() != '/') {
        home += '/';
    }
    return home + folder;
}

} // namespace

std::string HomeFolder() {
    if (const char* home = AbsoluteOrNull(std::getenv("HOME"))) {
        return home;
    }
    if (const passwd* pw = ::getpwuid(::getuid())) {
        if (const char* home = AbsoluteOrNull(pw->pw_dir)) {
            return home;
        }
    }
    return "/";
}

std::string XdgConfigHome() {
    return BesideHome("XDG_CONFIG_HOME", ".config");
}

std::string XdgCacheHome() {
    return BesideHome("XDG_CACHE_HOME", ".cache");
}

std::string XdgRuntimeDir() {
    const char* dir = AbsoluteOrNull(std::getenv("XDG_RUNTIME_DIR"));
    return dir != nullptr ? dir : "";
}

} // namespace qf
